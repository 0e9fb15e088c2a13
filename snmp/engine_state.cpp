// The SNMP query engine's process-wide state and the release of an exchange,
// which decides the failure flag.
#include "snmp/engine_internal.h"
#include "snmp/error_report.h"

#include <snmp.h>
#include <string.h>

SnmpSecuritySetting g_snmpSecurity = {1, {}};

int g_walkEnded;
int g_nextRequestId;
int g_timeoutMs;
const unsigned int g_retryCount = 3;
smiOID g_walkRoot;
smiOID g_currentName;
smiVALUE g_currentValue;

// The walk root is a copy of its own, so that it stays valid while the
// current name is released and replaced.
static smiUINT32 s_walkRootIds[MAXOBJIDSIZE];

// Who made g_currentName's sub-identifier array, and so who releases it.
enum { NAME_NONE, NAME_WINSNMP, NAME_MANAGEMENT_API };
static int s_currentNameSource = NAME_NONE;

int ResetQueryEngine(void)
{
    if (VrSnmpForgetTaskState() == SNMPAPI_FAILURE)
        return 0;
    ReleaseCurrentName();
    ReleaseCurrentValue();
    ReleaseQueryTexts();
    for (int slot = 0; slot < SNMP_VALUE_SLOTS; slot++)
        memset(g_snmpValues[slot], 0, SNMP_VALUE_SIZE);
    g_snmpFailed = 0;
    memset(&g_lastWalk, 0, sizeof(g_lastWalk));
    g_walkEnded = 0;
    g_nextRequestId = 0;
    g_timeoutMs = 0;
    memset(s_walkRootIds, 0, sizeof(s_walkRootIds));
    g_walkRoot.len = 0;
    g_walkRoot.ptr = NULL;
    memset(g_agentNumericHost, 0, sizeof(g_agentNumericHost));
    return 1;
}

void TakeCurrentName(int madeByManagementApi)
{
    s_currentNameSource = madeByManagementApi ? NAME_MANAGEMENT_API : NAME_WINSNMP;
}

void ReleaseCurrentName(void)
{
    if (s_currentNameSource == NAME_WINSNMP)
        SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&g_currentName);
    else if (s_currentNameSource == NAME_MANAGEMENT_API)
        SnmpUtilMemFree(g_currentName.ptr);
    s_currentNameSource = NAME_NONE;
    g_currentName.len = 0;
    g_currentName.ptr = NULL;
}

void ReleaseCurrentValue(void)
{
    switch (g_currentValue.syntax) {
    case SNMP_SYNTAX_OCTETS:
    case SNMP_SYNTAX_OPAQUE:
    case SNMP_SYNTAX_IPADDR:
    case SNMP_SYNTAX_NSAPADDR:
    case SNMP_SYNTAX_BITS:
        SnmpFreeDescriptor(g_currentValue.syntax, &g_currentValue.value.string);
        break;
    case SNMP_SYNTAX_OID:
        SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&g_currentValue.value.oid);
        break;
    default:
        break;
    }
    memset(&g_currentValue, 0, sizeof(g_currentValue));
}

void KeepOidCopy(smiOID *copy, smiUINT32 ids[MAXOBJIDSIZE], const smiOID *name)
{
    smiUINT32 length = name->len;
    if (length > MAXOBJIDSIZE)
        length = MAXOBJIDSIZE;
    if (length > 0 && name->ptr != NULL)
        memcpy(ids, name->ptr, length * sizeof(smiUINT32));
    else
        length = 0;
    copy->len = length;
    copy->ptr = ids;
}

void SetWalkRoot(void)
{
    KeepOidCopy(&g_walkRoot, s_walkRootIds, &g_currentName);
}

// Releases the list and PDU that the record names. After a request has been
// sent they are already released, and only a response that was read puts new
// ones there: a failing list release therefore means that no answer came.
void ReleaseExchange(SnmpSessionRecord *record)
{
    record->lastStatus = SnmpFreeVbl(record->varBindList);
    if (record->lastStatus == SNMPAPI_FAILURE) {
        record->lastStatus = SnmpGetLastError(record->session);
        g_snmpFailed = 1;
        ShowConnectionError();
        return;
    }
    record->lastStatus = SnmpFreePdu(record->pdu);
    if (record->lastStatus == SNMPAPI_FAILURE) {
        record->lastStatus = SnmpGetLastError(record->session);
        g_snmpFailed = 1;
        ShowWarning(WARN_FREE_PDU_FAILED, (int)record->lastStatus);
        return;
    }
    g_snmpFailed = 0;
}
