// The option's OID text turned into the walk's first name and root: strict
// dotted decimal first, then the management API's more lenient form.
#include "snmp/engine_internal.h"
#include "snmp/error_report.h"

#include <mgmtapi.h>

int ConvertOidText(const char *oidText)
{
    ReleaseCurrentName();
    // An empty text names nothing, though the lenient form would take it as
    // the whole of MIB-II: neither form converts it.
    if (oidText[0] != '\0' && SnmpStrToOid(oidText, &g_currentName) != SNMPAPI_FAILURE) {
        TakeCurrentName(0);
    } else {
        AsnObjectIdentifier converted = {0, NULL};
        if (oidText[0] == '\0' || !SnmpMgrStrToOid(const_cast<char *>(oidText), &converted)) {
            g_currentName.len = 0;
            g_currentName.ptr = NULL;
            ShowWarning(WARN_OID_CONVERSION_FAILED);
            return 0;
        }
        g_currentName.len = converted.idLength;
        g_currentName.ptr = reinterpret_cast<smiLPUINT32>(converted.ids);
        TakeCurrentName(1);
    }
    SetWalkRoot();
    return 1;
}
