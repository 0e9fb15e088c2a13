// The console program's walk for slow links: GetBulk requests over SNMPv2c
// (with the community) or SNMPv3, many objects per exchange instead of one.
// What it keeps is what the GetNext walk keeps (walk.cpp): the same answers'
// processing (response.cpp) takes each binding in turn, so the values, their
// order and their slots are the same. The dialog program never walks so.
#include "snmp/engine_internal.h"
#include "snmp/error_report.h"
#include "common/text.h"

#include <snmp.h>
#include <string.h>

enum {
    // Objects asked for per exchange. An option's sub-tree holds a few
    // dozen at most; a reply of this many stays far below any MTU worth
    // the name, and tooBig halves it where an agent thinks otherwise.
    BULK_REPETITIONS = 16,
    BULK_NON_REPEATERS = 0
};

// Builds and sends one GetBulk request from the current name, then waits
// for its answer (notifications held back while it is built and sent, as
// the GetNext walk does).
static int SendBulkRequest(SnmpSessionRecord *record, int repetitions)
{
    int sent = 0;
    record->busy = 1;
    record->pduType = SNMP_PDU_GETBULK;
    record->varBindList = SnmpCreateVbl(record->session, &g_currentName, NULL);
    if (record->varBindList == NULL)
        goto done;
    record->requestId = g_nextRequestId++;
    record->pdu = SnmpCreatePdu(record->session, SNMP_PDU_GETBULK, record->requestId,
                                BULK_NON_REPEATERS, repetitions, record->varBindList);
    if (record->pdu == NULL) {
        SnmpFreeVbl(record->varBindList);
        ShowWarning(WARN_CREATE_PDU_FAILED);
        goto done;
    }
    record->answered = 0;
    record->lastStatus = SnmpSendMsg(record->session, record->managerEntity, record->agentEntity,
                                     record->context, record->pdu);
    if (record->lastStatus == SNMPAPI_FAILURE) {
        record->lastStatus = SnmpGetLastError(record->session);
        ShowWarning(WARN_SEND_FAILED, (int)record->lastStatus);
        ReleaseExchange(record);
        goto done;
    }
    ReleaseExchange(record);
    sent = 1;
done:
    record->busy = 0;
    RepostDeferredNotifications(record);
    return sent ? WaitForAnswer(record) : 0;
}

// Whether two names are the same (the walk's position did not move).
static int SameName(const smiOID *a, const smiOID *b)
{
    return a->len == b->len &&
           (a->len == 0 || memcmp(a->ptr, b->ptr, a->len * sizeof(smiUINT32)) == 0);
}

int QueryOidSubtreeBulk(const char *address, size_t addressLength, const char *community,
                        size_t communityLength, const char *oidText, size_t oidTextLength,
                        int timeoutSeconds)
{
    for (int slot = 0; slot < SNMP_VALUE_SLOTS; slot++)
        CopyText(g_snmpValues[slot], SNMP_VALUE_SIZE, "");
    g_walkEnded = 0;
    g_nextRequestId = 1;
    g_timeoutMs = TimeoutMilliseconds(timeoutSeconds);
    memset(&g_lastWalk, 0, sizeof(g_lastWalk));
    g_lastWalk.ending = WALK_NOT_STARTED;

    int result = -1;
    int winsockStarted = 0;
    int snmpStarted = 0;
    SnmpSessionRecord *record = NULL;
    smiUINT32 major, minor, level, translateMode, retransmitMode;
    smiUINT32 beforeIds[MAXOBJIDSIZE];
    smiOID before;
    int exchanges = 0;
    int repetitions = BULK_REPETITIONS;
    WSADATA wsaData;

    if (WSAStartup(0x0202, &wsaData) != 0)
        goto cleanup;
    winsockStarted = 1;
    if (!PlatformSupported()) {
        ShowWarning(WARN_PLATFORM_TOO_OLD);
        goto cleanup;
    }
    if (!PrepareQueryTexts(address, addressLength, community, communityLength, oidText,
                           oidTextLength))
        goto cleanup;
    if (SnmpStartup(&major, &minor, &level, &translateMode, &retransmitMode) ==
        SNMPAPI_FAILURE)
        goto cleanup;
    snmpStarted = 1;
    // The entities made next speak SNMPv2c; an SNMPv3 session ignores it.
    if (SnmpSetTranslateMode(g_snmpSecurity.version == 2 ? SNMPAPI_UNTRANSLATED_V2
                                                         : SNMPAPI_UNTRANSLATED_V1) ==
        SNMPAPI_FAILURE)
        goto cleanup;

    record = (SnmpSessionRecord *)SnmpUtilMemAlloc(sizeof(SnmpSessionRecord));
    if (record == NULL) {
        ShowWarning(WARN_MEMORY_ALLOCATION_FAILED);
        goto cleanup;
    }
    memset(record, 0, sizeof(*record));
    record->bulk = 1;
    if (!CreateNotificationWindow(record)) {
        ShowWarning(WARN_NOTIFY_WINDOW_FAILED);
        goto cleanup;
    }
    if (!OpenSnmpSession(record)) {
        ShowWarning(WARN_OPEN_SESSION_FAILED);
        goto cleanup;
    }
    if (!ConvertOidText(g_oidText)) {
        g_lastWalk.ending = WALK_OID_INVALID;
        goto cleanup;
    }

    // The GetNext walk's endings, and two of GetBulk's own: tooBig asks
    // again from the same name for half as many objects (refused only when
    // one object is too big), and an answer that brings nothing new cannot
    // end either.
    g_lastWalk.ending = WALK_REQUEST_FAILED;
    for (;;) {
        if (record->errorStatus == SNMP_ERROR_TOOBIG && repetitions > 1) {
            repetitions /= 2;
            record->errorStatus = 0;
        }
        if (record->errorStatus == SNMP_ERROR_NOSUCHNAME) {
            g_lastWalk.ending = WALK_ENDED;
            result = 0;
            break;
        }
        if (record->errorStatus != 0) {
            g_lastWalk.ending = WALK_REFUSED;
            record->busy = 1;
            ShowWarning(WARN_WALK_REFUSED, record->errorStatus,
                        GetErrorStatusName(record->errorStatus));
            break;
        }
        if (exchanges >= MAX_WALK_EXCHANGES) {
            g_lastWalk.ending = WALK_TOO_LONG;
            record->busy = 1;
            ShowWarning(WARN_WALK_TOO_LONG, MAX_WALK_EXCHANGES);
            break;
        }
        exchanges++;
        g_lastWalk.exchanges = exchanges;
        KeepOidCopy(&before, beforeIds, &g_currentName);
        int sent = SendBulkRequest(record, repetitions);
        g_lastWalk.errorStatus = record->errorStatus;
        if (!sent)
            break;
        if (g_walkEnded == 1) {
            g_lastWalk.ending = WALK_ENDED;
            result = 0;
            break;
        }
        if (g_snmpFailed == 1) {
            g_lastWalk.ending = WALK_NO_ANSWER;
            break;
        }
        if (record->notAdvancing ||
            (record->errorStatus == 0 && SameName(&before, &g_currentName))) {
            g_lastWalk.ending = WALK_NOT_ADVANCING;
            record->busy = 1;
            ShowWarning(WARN_WALK_NOT_ADVANCING);
            break;
        }
    }

cleanup:
    ReleaseCurrentName();
    ReleaseCurrentValue();
    ReleaseQueryTexts();
    if (record != NULL) {
        if (record->window != NULL)
            DestroyNotificationWindow(record->window);
        if (record->context != NULL)
            SnmpFreeContext(record->context);
        if (record->agentEntity != NULL)
            SnmpFreeEntity(record->agentEntity);
        if (record->managerEntity != NULL)
            SnmpFreeEntity(record->managerEntity);
        if (record->session != NULL)
            SnmpClose(record->session);
        SnmpUtilMemFree(record);
    }
    if (snmpStarted)
        SnmpCleanup();
    if (winsockStarted)
        WSACleanup();
    return result;
}
