// A notification for the session: the message fetched, matched against the
// request in flight, and the OCTET STRING values of an accepted response
// kept in the value table.
#include "snmp/engine_internal.h"
#include "snmp/error_report.h"
#include "common/text.h"
#include "common/step_timing.h"

#include <string.h>

void StoreValueText(const smiVALUE *value)
{
    if (value->syntax != SNMP_SYNTAX_OCTETS)
        return;
    const char *bytes = (const char *)value->value.string.ptr;
    size_t count = bytes == NULL ? 0 : value->value.string.len;
    for (int slot = 0; slot < SNMP_VALUE_SLOTS; slot++) {
        if (g_snmpValues[slot][0] == '\0') {
            // Up to the first NUL, cut to 63 bytes; an empty text leaves the
            // slot empty for the next value.
            CopyTextN(g_snmpValues[slot], SNMP_VALUE_SIZE, bytes, count);
            return;
        }
    }
}

int ProcessWalkResponse(SnmpSessionRecord *record)
{
    // The name that was asked for: every name received must come after it,
    // or the walk would never end on an agent that does not advance.
    smiUINT32 askedIds[MAXOBJIDSIZE];
    smiOID asked;
    KeepOidCopy(&asked, askedIds, &g_currentName);
    // A GetBulk answer with an error status carries no objects to keep:
    // the bulk walk decides (tooBig: fewer repetitions).
    if (record->bulk && record->errorStatus != 0)
        return 1;

    int count = SnmpCountVbl(record->varBindList);
    for (int i = 1; i <= count; i++) {
        ReleaseCurrentName();
        ReleaseCurrentValue();
        if (SnmpGetVb(record->varBindList, (smiUINT32)i, &g_currentName, &g_currentValue) ==
            SNMPAPI_FAILURE) {
            g_currentName.len = 0;
            g_currentName.ptr = NULL;
            memset(&g_currentValue, 0, sizeof(g_currentValue));
            return 0;
        }
        TakeCurrentName(0);

        smiINT inside = 1;
        if (SnmpOidCompare(&g_walkRoot, &g_currentName, g_walkRoot.len, &inside) ==
                SNMPAPI_FAILURE ||
            inside != 0)
            return 0;
        // The end of the agent's view, named after the object asked for.
        if (record->bulk && g_currentValue.syntax == SNMP_SYNTAX_ENDOFMIBVIEW)
            return 0;
        // An answer that carries an error status echoes the name asked for;
        // only a real answer has to advance.
        if (record->errorStatus == 0) {
            smiINT order = 0;
            if (SnmpOidCompare(&asked, &g_currentName, MAXOBJIDSIZE, &order) ==
                    SNMPAPI_FAILURE ||
                order >= 0) {
                record->notAdvancing = 1;
                return 0;
            }
        }
        StoreValueText(&g_currentValue);
        if (record->errorStatus == 0)
            g_lastWalk.objects++;

        KeepOidCopy(&asked, askedIds, &g_currentName);
    }
    return 1;
}

int HandleSnmpNotification(SnmpSessionRecord *record)
{
    if (record == NULL)
        return 0;
    HSNMP_ENTITY source = NULL;
    HSNMP_ENTITY destination = NULL;
    HSNMP_CONTEXT context = NULL;
    int result;

    if (SnmpRecvMsg(record->session, &source, &destination, &context, &record->pdu) ==
        SNMPAPI_FAILURE) {
        // How a request whose time-out and retries ran out is announced.
        ReleaseExchange(record);
        return 1;
    }
    STEP_LAP(X_RECV_MSG);

    smiINT type = 0;
    smiINT32 requestId = 0;
    smiINT errorStatus = 0;
    smiINT errorIndex = 0;
    if (SnmpGetPduData(record->pdu, &type, &requestId, &errorStatus, &errorIndex,
                       &record->varBindList) == SNMPAPI_FAILURE) {
        ShowWarning(WARN_GET_PDU_DATA_FAILED, (int)SnmpGetLastError(record->session));
        SnmpFreeEntity(source);
        SnmpFreeEntity(destination);
        SnmpFreeContext(context);
        // The release fails on the request's list, which marks the exchange
        // as failed; the PDU that could not be read still goes back.
        HSNMP_PDU unreadable = record->pdu;
        ReleaseExchange(record);
        SnmpFreePdu(unreadable);
        return 1;
    } else if (type == PDU_RESPONSE) {
        STEP_LAP(X_PDU_DATA);
        if (requestId != record->requestId || context != record->context ||
            source != record->agentEntity || destination != record->managerEntity) {
            result = 0;
        } else {
            record->errorStatus = errorStatus;
            record->errorIndex = errorIndex;
            // Out of the sub-tree is its end; an answer that does not
            // advance is no end, and the walk loop says so.
            if (!ProcessWalkResponse(record) && !record->notAdvancing)
                g_walkEnded = 1;
            STEP_LAP(X_DECODE_STORE);
            result = 1;
        }
    } else {
        ShowWarning(WARN_INVALID_PDU_TYPE, (int)type);
        result = 0;
    }

    SnmpFreeEntity(source);
    SnmpFreeEntity(destination);
    SnmpFreeContext(context);
    ReleaseExchange(record);
    STEP_LAP(X_RELEASE_ANSWER);
    return result;
}
