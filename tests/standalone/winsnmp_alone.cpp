// A program that uses our WinSNMP and links nothing else of the tool: both
// OID conversions, between start-up and clean-up. Prints "winsnmp alone: ok"
// and returns 0 when they agree.
#include <winsock2.h>
#include <windows.h>
#include <winsnmp.h>
#include <mgmtapi.h>
#include <snmp.h>

#include <stdio.h>
#include <string.h>

int main()
{
    if (SnmpStartup(NULL, NULL, NULL, NULL, NULL) != SNMPAPI_SUCCESS) {
        printf("winsnmp alone: SnmpStartup failed\n");
        return 1;
    }
    smiOID strict = {0, NULL};
    AsnObjectIdentifier lenient = {0, NULL};
    int ok = SnmpStrToOid("1.3.6.1.2.1.1.1.0", &strict) == 9 &&
             SnmpMgrStrToOid((LPSTR) "system.sysDescr.0", &lenient) &&
             lenient.idLength == strict.len &&
             memcmp(lenient.ids, strict.ptr, strict.len * sizeof(smiUINT32)) == 0;
    SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&strict);
    SnmpUtilOidFree(&lenient);
    SnmpCleanup();
    printf("winsnmp alone: %s\n", ok ? "ok" : "the conversions disagree");
    return ok ? 0 : 1;
}
