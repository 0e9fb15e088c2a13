// One SNMP sub-tree walk per call: Winsock and WinSNMP started, a hidden
// window for WinSNMP's notifications, a session, GetNext requests one after
// the other until the walk leaves the sub-tree, and everything torn down on
// every way out.
#include "snmp/engine_internal.h"
#include "snmp/error_report.h"
#include "common/text.h"
#include "common/step_timing.h"

#include <limits.h>
#include <snmp.h>
#include <string.h>

static const char NOTIFICATION_CLASS[] = "SNMPUTIL NOTIFICATION CLASS";
static const char NOTIFICATION_TITLE[] = "SNMP Util Class";
static const char MANAGER_ADDRESS[] = "127.0.0.1";

enum {
    ERROR_CLASS_EXISTS = 1410,
    PLATFORM_NT = 2,
    ANSWER_WAIT_TIMER = 1
};

WalkSummary g_lastWalk;
SubtreeWalk g_subtreeWalk;

const char *GetErrorStatusName(int status)
{
    static const char *const NAMES[] = {
        "noError", "tooBig", "noSuchName", "badValue", "readOnly", "genErr", "noAccess",
        "wrongType", "wrongLength", "wrongEncoding", "wrongValue", "noCreation",
        "inconsistentValue", "resourceUnavailable", "commitFailed", "undoFailed",
        "authorizationError", "notWritable", "inconsistentName"};
    if (status < 0 || (size_t)status >= COUNTOF(NAMES))
        return "unknown";
    return NAMES[status];
}

// Posts again the notifications that came while the engine was busy.
void RepostDeferredNotifications(SnmpSessionRecord *record)
{
    while (record->deferredNotifications > 0) {
        record->deferredNotifications--;
        PostMessageA(record->window, WM_SNMP_NOTIFY, 0, 0);
    }
}

LRESULT CALLBACK NotificationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SNMP_NOTIFY: {
        SnmpSessionRecord *record = (SnmpSessionRecord *)GetWindowLongPtrA(window, 0);
        if (record == NULL)
            return 0;
        // A message box of the engine is open and its loop dispatched this:
        // handling it now would release the record's list and PDU twice.
        if (record->busy) {
            record->deferredNotifications++;
            return 0;
        }
        STEP_LAP(X_WAIT);
        STEP_SINCE(RX_DELIVERY, POSTED);
        record->busy = 1;
        int done = HandleSnmpNotification(record);
        record->busy = 0;
        if (done) {
            record->answered = 1;
            PostMessageA(record->window, WM_SNMP_DONE, 0, 0);
        }
        RepostDeferredNotifications(record);
        STEP_LAP(X_DONE_POST);
        return 0;
    }
    case WM_SNMP_DONE:
        // Taken from the queue by a message box's loop; the record's
        // answered flag already tells the wait.
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int CreateNotificationWindow(SnmpSessionRecord *record)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = NotificationWindowProc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.lpszClassName = NOTIFICATION_CLASS;
    SetLastError(0);
    if (!RegisterClassA(&windowClass)) {
        // Every call after the first registers again and finds the class.
        DWORD error = GetLastError();
        if (error != 0 && error != ERROR_FILE_NOT_FOUND && error != ERROR_CLASS_EXISTS) {
            ShowWarning(WARN_REGISTER_CLASS_FAILED, (int)error);
            return 0;
        }
    }
    STEP_LAP(WINDOW_CLASS);
    HWND window = CreateWindowExA(0, NOTIFICATION_CLASS, NOTIFICATION_TITLE, WS_OVERLAPPEDWINDOW,
                                  0, 0, 0, 0, NULL, NULL, NULL, NULL);
    if (window == NULL)
        return 0;
    SetWindowLongPtrA(window, 0, (LONG_PTR)record);
    record->window = window;
    STEP_LAP(WINDOW);
    return 1;
}

int OpenSnmpSession(SnmpSessionRecord *record)
{
    record->session = SnmpOpen(record->window, WM_SNMP_NOTIFY);
    if (record->session == NULL)
        return 0;
    if (g_snmpSecurity.version == 3 &&
        VrSnmpSetSessionSecurity(record->session, &g_snmpSecurity.v3) == SNMPAPI_FAILURE)
        return 0;
    if (g_agentText != NULL) {
        record->agentEntity = SnmpStrToEntity(record->session, g_agentNumericHost);
        if (record->agentEntity == NULL)
            return 0;
        SnmpSetTimeout(record->agentEntity, (smiTIMETICKS)(g_timeoutMs / 10));
        SnmpSetRetry(record->agentEntity, g_retryCount);
        record->managerEntity = SnmpStrToEntity(record->session, MANAGER_ADDRESS);
        if (record->managerEntity == NULL)
            return 0;
        SnmpSetTimeout(record->managerEntity, (smiTIMETICKS)(g_timeoutMs / 10));
        SnmpSetRetry(record->managerEntity, g_retryCount);
    }
    if (g_communityText != NULL) {
        smiOCTETS community;
        community.len = (smiUINT32)strlen(g_communityText);
        community.ptr = (smiLPBYTE)g_communityText;
        record->context = SnmpStrToContext(record->session, &community);
        if (record->context == NULL)
            return 0;
    }
    return 1;
}

// How long one answer may take: the transport announces a request's end
// after its time-out and its retries, so a wait beyond that and the margin
// means that the announcement was lost.
static ULONGLONG AnswerWaitLimit(void)
{
    return (ULONGLONG)(unsigned int)g_timeoutMs * (g_retryCount + 1) + ANSWER_WAIT_MARGIN_MS;
}

// Ends an exchange that nothing answered or announced in time, as one whose
// request brought no answer: the request's list is released already, so the
// release fails, sets the failure flag and shows the connection error box.
static void EndUnansweredExchange(SnmpSessionRecord *record)
{
    record->busy = 1;
    ReleaseExchange(record);
    record->busy = 0;
    RepostDeferredNotifications(record);
}

int WaitForAnswer(SnmpSessionRecord *record)
{
    MSG msg;
    int result = 1;
    ULONGLONG deadline = GetTickCount64() + AnswerWaitLimit();
    // Wakes the wait now and then to look at the time, whatever the
    // transport does. Set once for the walk: it ticks on between the
    // exchanges, where its messages find the deadline not yet reached, and
    // goes with the window.
    if (!record->waitTimerSet)
        record->waitTimerSet = SetTimer(record->window, ANSWER_WAIT_TIMER, ANSWER_WAIT_TICK_MS,
                                        NULL) != 0;
    STEP_LAP(X_TIMER_SET);
    while (!record->answered) {
        BOOL got = GetMessageA(&msg, record->window, 0, 0);
        if (got == 0) {
            // The quit request belongs to the program's own loop: hand it on.
            PostQuitMessage((int)msg.wParam);
            result = 0;
            break;
        }
        if (got == -1) {
            result = 0;
            break;
        }
        if (msg.message == WM_SNMP_DONE) {
            STEP_LAP(X_DONE_FETCH);
            continue;
        }
        if (msg.message == WM_TIMER && msg.wParam == ANSWER_WAIT_TIMER) {
            if (GetTickCount64() >= deadline) {
                EndUnansweredExchange(record);
                break;
            }
            continue;
        }
        ULONGLONG before = GetTickCount64();
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        // The time a message box of the engine stayed open is not waiting.
        deadline += GetTickCount64() - before;
    }
    STEP_LAP(X_TIMER_KILL);
    return result;
}

// Builds, sends and releases one GetNext request, then waits for its answer.
// While it runs, notifications are held back (see NotificationWindowProc).
static int SendRequest(SnmpSessionRecord *record)
{
    record->pduType = PDU_GETNEXT;
    if (g_nextRequestId == 1 && !ConvertOidText(g_oidText)) {
        g_lastWalk.ending = WALK_OID_INVALID;
        return 0;
    }
    STEP_LAP(X_CONVERT);

    record->varBindList = SnmpCreateVbl(record->session, &g_currentName, NULL);
    if (record->varBindList == NULL)
        return 0;
    record->requestId = g_nextRequestId++;
    record->pdu = SnmpCreatePdu(record->session, PDU_GETNEXT, record->requestId, 0, 0,
                                record->varBindList);
    if (record->pdu == NULL) {
        SnmpFreeVbl(record->varBindList);
        ShowWarning(WARN_CREATE_PDU_FAILED);
        return 0;
    }
    record->answered = 0;
    STEP_LAP(X_CREATE);
    record->lastStatus = SnmpSendMsg(record->session, record->managerEntity, record->agentEntity,
                                     record->context, record->pdu);
    if (record->lastStatus == SNMPAPI_FAILURE) {
        record->lastStatus = SnmpGetLastError(record->session);
        ShowWarning(WARN_SEND_FAILED, (int)record->lastStatus);
        ReleaseExchange(record);
        return 0;
    }
    ReleaseExchange(record);
    STEP_LAP(X_RELEASE_REQUEST);
    return 1;
}

int SendNextRequest(SnmpSessionRecord *record)
{
    STEP_LAP(X_LOOP);
    record->busy = 1;
    int sent = SendRequest(record);
    record->busy = 0;
    RepostDeferredNotifications(record);
    return sent ? WaitForAnswer(record) : 0;
}

// 32-bit milliseconds of a time-out in seconds; a negative one (only another
// program's stored value can give it) is taken as 0.
int TimeoutMilliseconds(int timeoutSeconds)
{
    if (timeoutSeconds < 0)
        return 0;
    if (timeoutSeconds > INT_MAX / 1000)
        return INT_MAX / 1000 * 1000;
    return timeoutSeconds * 1000;
}

int PlatformSupported(void)
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return 0;
    return version.dwPlatformId == PLATFORM_NT && version.dwMajorVersion > 4;
}

// Drops what is still queued for the window: a notification of this call
// must not reach a later one.
void DestroyNotificationWindow(HWND window)
{
    MSG msg;
    KillTimer(window, ANSWER_WAIT_TIMER);
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);
            break;
        }
    }
    DestroyWindow(window);
}

int QueryOidSubtree(const char *address, size_t addressLength, const char *community,
                    size_t communityLength, const char *oidText, size_t oidTextLength,
                    int timeoutSeconds)
{
    if (g_subtreeWalk != NULL)
        return g_subtreeWalk(address, addressLength, community, communityLength, oidText,
                             oidTextLength, timeoutSeconds);
    for (int slot = 0; slot < SNMP_VALUE_SLOTS; slot++)
        CopyText(g_snmpValues[slot], SNMP_VALUE_SIZE, "");
    g_walkEnded = 0;
    g_nextRequestId = 1;
    g_timeoutMs = TimeoutMilliseconds(timeoutSeconds);
    memset(&g_lastWalk, 0, sizeof(g_lastWalk));
    g_lastWalk.ending = WALK_NOT_STARTED;
    STEP_LAP(CLEAR);

    int result = -1;
    int winsockStarted = 0;
    int snmpStarted = 0;
    SnmpSessionRecord *record = NULL;
    STEP_LAP(IDLE);
    smiUINT32 major, minor, level, translateMode, retransmitMode;
    int exchanges = 0;
    WSADATA wsaData;

    if (WSAStartup(0x0202, &wsaData) != 0)
        goto cleanup;
    winsockStarted = 1;
    STEP_LAP(WSA_STARTUP);

    if (!PlatformSupported()) {
        ShowWarning(WARN_PLATFORM_TOO_OLD);
        goto cleanup;
    }
    STEP_LAP(PLATFORM);
    if (!PrepareQueryTexts(address, addressLength, community, communityLength, oidText,
                           oidTextLength))
        goto cleanup;
    STEP_LAP(RESOLVE);
    if (SnmpStartup(&major, &minor, &level, &translateMode, &retransmitMode) ==
        SNMPAPI_FAILURE)
        goto cleanup;
    snmpStarted = 1;
    SnmpSetTranslateMode(SNMPAPI_UNTRANSLATED_V1);
    STEP_LAP(SNMP_STARTUP);

    record = (SnmpSessionRecord *)SnmpUtilMemAlloc(sizeof(SnmpSessionRecord));
    if (record == NULL) {
        ShowWarning(WARN_MEMORY_ALLOCATION_FAILED);
        goto cleanup;
    }
    memset(record, 0, sizeof(*record));
    if (record->window == NULL && !CreateNotificationWindow(record)) {
        ShowWarning(WARN_NOTIFY_WINDOW_FAILED);
        goto cleanup;
    }
    if (!OpenSnmpSession(record)) {
        ShowWarning(WARN_OPEN_SESSION_FAILED);
        goto cleanup;
    }
    STEP_LAP(ENTITIES);

    // The walk: it came to its end (0) on an answer outside the sub-tree, or
    // on noSuchName, which ends an SNMPv1 agent's view; any other way out
    // leaves it unfinished (-1). An agent that refuses a request with another
    // error status, or a broken agent, says so: the values may be incomplete.
    // While its box is open, notifications wait: the exchange is over.
    g_lastWalk.ending = WALK_REQUEST_FAILED;
    for (;;) {
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
        int sent = SendNextRequest(record);
        g_lastWalk.errorStatus = record->errorStatus;
        if (!sent)
            break;
        if (g_walkEnded == 1) {
            g_lastWalk.ending = WALK_ENDED;
            result = 0;
            break;
        }
        if (record->notAdvancing) {
            g_lastWalk.ending = WALK_NOT_ADVANCING;
            record->busy = 1;
            ShowWarning(WARN_WALK_NOT_ADVANCING);
            break;
        }
        if (g_snmpFailed == 1) {
            g_lastWalk.ending = WALK_NO_ANSWER;
            break;
        }
    }

cleanup:
    ReleaseCurrentName();
    ReleaseCurrentValue();
    ReleaseQueryTexts();
    STEP_LAP(C_TEXTS);
    if (record != NULL) {
        if (record->window != NULL)
            DestroyNotificationWindow(record->window);
        STEP_LAP(C_WINDOW);
        if (record->context != NULL)
            SnmpFreeContext(record->context);
        if (record->agentEntity != NULL)
            SnmpFreeEntity(record->agentEntity);
        if (record->managerEntity != NULL)
            SnmpFreeEntity(record->managerEntity);
        STEP_LAP(C_HANDLES);
        if (record->session != NULL)
            SnmpClose(record->session);
        STEP_LAP(C_SESSION_CLOSE);
        SnmpUtilMemFree(record);
    }
    if (snmpStarted)
        SnmpCleanup();
    STEP_LAP(C_SNMP_CLEANUP);
    if (winsockStarted)
        WSACleanup();
    STEP_LAP(C_WSA_CLEANUP);
    return result;
}
