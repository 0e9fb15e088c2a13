// The SNMP query engine's own state, record and operations, shared by its
// source files only.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <winsnmp.h>

#include "snmp/snmp_engine.h"

// Messages of the hidden notification window.
#define WM_SNMP_NOTIFY (WM_USER + 1)
#define WM_SNMP_DONE (WM_USER + 2)

enum {
    PDU_GETNEXT = 161,
    PDU_RESPONSE = 162,
    AGENT_HOST_SIZE = 128,
    // A walk of a printer's option sub-tree takes a few dozen exchanges; an
    // agent that keeps answering inside the sub-tree beyond this is faulty.
    MAX_WALK_EXCHANGES = 4096,
    // WaitForAnswer's own bound beyond the transport's time-out and retries,
    // and how often it looks at the time while nothing comes.
    ANSWER_WAIT_MARGIN_MS = 3000,
    ANSWER_WAIT_TICK_MS = 250
};

// One call's session: everything it opened, and the exchange in flight.
struct SnmpSessionRecord {
    HSNMP_SESSION session;
    HSNMP_ENTITY agentEntity;
    HSNMP_ENTITY managerEntity;
    HSNMP_CONTEXT context;
    HSNMP_PDU pdu;
    HSNMP_VBL varBindList;
    HWND window;
    int pduType;
    int requestId;
    unsigned int lastStatus;
    int errorStatus;
    int errorIndex;
    // Re-entry guard: while the engine is inside a notification or a request
    // (and the message boxes these may show), a further notification is
    // counted here and posted again once the engine is free.
    int busy;
    int deferredNotifications;
    // Set when a notification completed the exchange in flight; cleared for
    // every request sent. The wait ends on it, even when a message box's
    // loop took the WM_SNMP_DONE message.
    int answered;
    // Set when an answer named something that does not come after the name
    // asked for: the agent is broken and the walk cannot reach its end.
    int notAdvancing;
    // The wait's timer runs: set by the first wait, killed with the window.
    int waitTimerSet;
    // A GetBulk walk's exchange (bulk_walk.cpp): an answer with an error
    // status is left to the walk, and endOfMibView ends the sub-tree.
    int bulk;
};

// engine_state.cpp
extern int g_walkEnded;
extern int g_nextRequestId;
extern int g_timeoutMs;
extern const unsigned int g_retryCount;
extern smiOID g_walkRoot;
extern smiOID g_currentName;
extern smiVALUE g_currentValue;
void ReleaseExchange(SnmpSessionRecord *record);
// Releases the descriptors of g_currentName and g_currentValue, whichever
// call made them.
void ReleaseCurrentName(void);
void ReleaseCurrentValue(void);
// g_currentName now comes from SnmpStrToOid/SnmpGetVb (1) or from the
// management API's SnmpMgrStrToOid (2).
void TakeCurrentName(int madeByManagementApi);
// Points copy at ids, filled with the first MAXOBJIDSIZE sub-identifiers of
// name, so that the copy outlives the release of name.
void KeepOidCopy(smiOID *copy, smiUINT32 ids[MAXOBJIDSIZE], const smiOID *name);
// Sets g_walkRoot to a copy of g_currentName.
void SetWalkRoot(void);

// agent_address.cpp
extern char g_agentNumericHost[AGENT_HOST_SIZE];
extern char *g_agentText;
extern char *g_communityText;
extern char *g_oidText;
int PrepareQueryTexts(const char *address, size_t addressLength, const char *community,
                      size_t communityLength, const char *oidText, size_t oidTextLength);
int ResolveAgentAddress(const char *text);
void ReleaseQueryTexts(void);

// oid_text.cpp
int ConvertOidText(const char *oidText);

// response.cpp
int HandleSnmpNotification(SnmpSessionRecord *record);
int ProcessWalkResponse(SnmpSessionRecord *record);
void StoreValueText(const smiVALUE *value);

// walk.cpp
void RepostDeferredNotifications(SnmpSessionRecord *record);
int TimeoutMilliseconds(int timeoutSeconds);
int PlatformSupported(void);
void DestroyNotificationWindow(HWND window);
int CreateNotificationWindow(SnmpSessionRecord *record);
int OpenSnmpSession(SnmpSessionRecord *record);
int SendNextRequest(SnmpSessionRecord *record);
int WaitForAnswer(SnmpSessionRecord *record);
LRESULT CALLBACK NotificationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
