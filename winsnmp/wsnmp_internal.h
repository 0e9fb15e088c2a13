// Records shared by the files of our WinSNMP: the handle tables, the session
// records and the one lock that guards all of them.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winsnmp.h>

#include <stdint.h>

#include "winsnmp/ber.h"

// Sub-identifiers are copied between the codec's records and the caller's.
static_assert(sizeof(smiUINT32) == sizeof(uint32_t), "32-bit sub-identifiers");

enum {
    WS_MAX_SESSIONS = 64,
    WS_MAX_ENTITIES = 1024,
    WS_MAX_CONTEXTS = 1024,
    WS_MAX_PDUS = 1024,
    WS_MAX_VBLS = 1024,
    WS_MAX_COMMUNITY = 255,
    WS_QUEUE_LENGTH = 128,          // received items waiting for SnmpRecvMsg, per session
    WS_MAX_REQUESTS = 64,           // requests remembered per session (waiting or recent)
    WS_RECEIVE_BUFFER = 65536,      // larger than any UDP payload, so nothing is cut
    WS_DEFAULT_PORT = 161,
    WS_DEFAULT_TIMEOUT = 300,       // hundredths of a second
    WS_DEFAULT_RETRY = 2
};

enum WsKind {
    WS_KIND_SESSION = 1,
    WS_KIND_ENTITY,
    WS_KIND_CONTEXT,
    WS_KIND_PDU,
    WS_KIND_VBL
};

// Every table record starts with this. A record is live while inUse; its
// generation changes whenever it is released, so a stale handle stops
// matching it even after the record is reused.
struct WsSlot {
    int inUse;
    uint32_t generation;
    int session;                    // owning session's index (-1 for sessions)
};

// A variable-binding list; items and their octets are owned (malloc).
struct WsList {
    uint32_t count;
    BerVarBind *items;
};

struct WsAddress {
    sockaddr_storage addr;          // address and port, network order
    int length;
};

struct WsEntity {
    WsSlot slot;
    int references;
    WsAddress address;
    uint32_t timeout;               // hundredths of a second
    uint32_t retry;
    int version;                    // BER_VERSION_1 or BER_VERSION_2C, from the translate mode
};

struct WsContext {
    WsSlot slot;
    int references;
    uint32_t length;
    uint8_t bytes[WS_MAX_COMMUNITY];
};

struct WsPdu {
    WsSlot slot;
    int type;
    int32_t requestId;
    int32_t errorStatus;
    int32_t errorIndex;
    WsList list;
};

struct WsVbl {
    WsSlot slot;
    WsList list;
};

enum WsRequestState {
    WS_REQUEST_FREE = 0,
    WS_REQUEST_WAITING,
    WS_REQUEST_ANSWERED,
    WS_REQUEST_TIMED_OUT
};

// A request sent by the session: kept while it waits for its answer (with
// the datagram, for resending) and afterwards as a record of who sent what
// to whom, so that later answers find their destination.
struct WsRequest {
    int state;
    int32_t requestId;
    WsAddress destination;
    WsAddress source;               // the source entity's address
    int hasSource;
    uint32_t timeoutMs;
    uint32_t resendsLeft;
    ULONGLONG deadline;
    ULONGLONG sentAt;               // first transmission, for "most recent"
    uint8_t *datagram;              // while waiting
    int size;
    int version;                    // the message's version field (WS_VERSION_V3 for SNMPv3)
};

// An SNMPv3 session's requests and answers, beside the community versions.
enum { WS_VERSION_V3 = 3 };

enum WsItemKind {
    WS_ITEM_MESSAGE = 1,
    WS_ITEM_TIMEOUT
};

// A received message (decoded, its bindings copied) or a time-out, waiting
// for SnmpRecvMsg.
struct WsItem {
    int kind;
    WsAddress source;
    WsAddress destination;
    int hasDestination;
    int version;                    // as for WsRequest
    uint32_t communityLength;
    uint8_t community[WS_MAX_COMMUNITY];
    int pduType;
    int32_t requestId;
    int32_t errorStatus;
    int32_t errorIndex;
    WsList list;
};

struct WsSession {
    WsSlot slot;
    int closing;                    // SnmpClose or SnmpCleanup under way: handle no longer valid
    HWND window;
    UINT message;
    SOCKET sockets[2];              // IPv4, IPv6 (INVALID_SOCKET until the first send there)
    HANDLE events[2];               // auto reset, set by WSAEventSelect on FD_READ
    HANDLE stop;                    // manual reset: the receive thread ends
    HANDLE wake;                    // auto reset: a deadline earlier than the thread's
    ULONGLONG threadWakeAt;         // when the receive thread wakes at the latest
    uint32_t idleWaitMs;            // after an answer: how long the thread stays awake
    volatile LONG sends;            // transmissions by SnmpSendMsg (Interlocked)
    volatile LONG stopping;         // SnmpClose waits for the thread (Interlocked)
    LONG sendsAnswered;             // the count at the last answer (receive thread only)
    int lastSendFamily;             // 0 IPv4, 1 IPv6: the socket of the last send
    LONGLONG lastSendMicroseconds;  // when it went out (performance counter)
    HANDLE thread;
    WsItem queue[WS_QUEUE_LENGTH];
    int queueFirst;
    int queueCount;
    WsRequest requests[WS_MAX_REQUESTS];
    int32_t nextRequestId;
    SNMPAPI_STATUS error;
    uint64_t errorSequence;
    BerMessage *sendMessage;        // scratch of SnmpSendMsg, under the lock
    uint8_t *sendBuffer;
    BerMessage *receiveMessage;     // scratch of the receive thread only
    uint8_t *receiveBuffer;
};

// ---- wsnmp_handles.cpp ---------------------------------------------------

extern int g_wsStartups;
extern WsSession g_wsSessions[WS_MAX_SESSIONS];
extern WsEntity g_wsEntities[WS_MAX_ENTITIES];
extern WsContext g_wsContexts[WS_MAX_CONTEXTS];
extern WsPdu g_wsPdus[WS_MAX_PDUS];
extern WsVbl g_wsVbls[WS_MAX_VBLS];
// SNMPAPI_UNTRANSLATED_V1 or _V2: the version of the entities made from now
// on (the task's, as WinSNMP has it).
extern smiUINT32 g_wsTranslateMode;

void WsLock(void);
void WsUnlock(void);

// Records a failure (under the lock) for a session index, or for no session
// (-1); returns SNMPAPI_FAILURE.
SNMPAPI_STATUS WsFail(int session, SNMPAPI_STATUS code);
// The last errors and the tables' cursors as at the process's start; 0
// while a start-up is held. Under the lock.
int WsForgetTaskState(void);

HANDLE WsMakeHandle(int kind, int index, uint32_t generation);
// Index of a live record for the handle, or -1 with the matching error
// recorded (SNMPAPI_NOT_INITIALIZED before startup). Under the lock.
int WsSessionIndex(HSNMP_SESSION session);
int WsEntityIndex(HSNMP_ENTITY entity);
int WsContextIndex(HSNMP_CONTEXT context);
int WsPduIndex(HSNMP_PDU pdu);
int WsVblIndex(HSNMP_VBL vbl);

// Claims a free record of a table (round robin, so that a released record
// is reused as late as possible); -1 when full.
int WsClaimSession(void);
int WsClaimEntity(int session);
int WsClaimContext(int session);
int WsClaimPdu(int session);
int WsClaimVbl(int session);
void WsReleaseSlot(WsSlot *slot);

int WsSameAddress(const WsAddress *a, const WsAddress *b);
// The session's entity for this address, port and version, one more
// reference taken, made anew when the session has none; -1 when the table is
// full.
int WsEntityFor(int session, const WsAddress *address, int version);
// Likewise for a community.
int WsContextFor(int session, const uint8_t *bytes, uint32_t length);

// Releases every entity, context, PDU and list of the session.
void WsReleaseSessionObjects(int session);

// ---- wsnmp_values.cpp ----------------------------------------------------

void WsFreeList(WsList *list);
// Deep copy of bindings (octets duplicated). Returns 1, or 0 when memory ran out.
int WsCopyBinds(WsList *dst, const BerVarBind *src, uint32_t count);

// ---- wsnmp_oid.cpp -------------------------------------------------------


// ---- wsnmp_session.cpp ---------------------------------------------------

// Ends the receive thread of a session marked closing and releases all it
// owns. Called without the lock.
void WsCloseSession(int session);

// ---- wsnmp_v3.cpp --------------------------------------------------------
// The hooks of SNMPv3 (our extension, wsnmp_v3.h) in the send and receive
// paths.

// Whether the session speaks SNMPv3; without the lock.
int WsV3Secured(int session);
// Under the lock: the datagram for a request of a secured session (its
// engine's discovery first, when the agent's engine is not known yet). The
// size, or 0 when it cannot be made, with *error the WinSNMP error to record
// (too big, or another error when a key, cipher or random number failed).
size_t WsV3EncodeRequest(int session, const WsAddress *destination, const WsContext *context,
                         const BerMessage *message, uint8_t *out, size_t capacity,
                         SNMPAPI_STATUS *error);
// Under the lock: before a resend, wraps the waiting request afresh into its
// datagram (new message id, engine time and salt). 0 when it cannot be
// made: the request then ends as a time-out with its reason.
int WsV3WrapAgain(int session, WsRequest *request);
// The receive thread, without the lock: checks, deciphers and decodes an
// SNMPv3 datagram (in place) and acts on it. 1 when message holds an answer
// to queue, its community the context that the request was sent with.
int WsV3ReadMessage(int session, uint8_t *datagram, size_t size, const WsAddress *source,
                    BerMessage *message);
// Under the lock: forgets the session's credentials and wipes its keys.
void WsV3ReleaseSession(int session);

