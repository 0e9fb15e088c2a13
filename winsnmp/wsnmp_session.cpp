// Our WinSNMP's sessions: the sockets, the receive thread that queues what
// arrives and retransmits what is not answered, sending and receiving.
#include "winsnmp/wsnmp_internal.h"
#include "common/step_timing.h"

#include <stdlib.h>
#include <string.h>

enum {
    WS_SKIPS_PER_WAKE = 256,        // failed reads in a row, then the stop event is looked at
    WS_FULL_QUEUE_RETRY_MS = 50,    // a time-out that finds the queue full is tried again after
    WS_WATCH_MICROSECONDS = 1000,   // after a quick answer: the watch for the next send
    WS_QUICK_MICROSECONDS = 400,    // a quick answer comes back within this of its send
    WS_QUICK_READS = 2              // direct reads after a send, each a server round trip
};

static void PostNotification(const WsSession *s, WPARAM code, int32_t requestId)
{
    // WinSNMP's convention: 0 or the error, and the request id.
    if (s->window != NULL)
        PostMessageA(s->window, s->message, code, (LPARAM)requestId);
}

// Under the lock. The queue owns the item's list from here on; returns 1.
// Returns 0 when fewer than room items fit: the item and its list stay the
// caller's.
static int QueueItem(WsSession *s, WsItem *item, int room)
{
    if (s->queueCount >= room)
        return 0;
    int slot = (s->queueFirst + s->queueCount) % WS_QUEUE_LENGTH;
    s->queue[slot] = *item;
    s->queueCount++;
    item->list.count = 0;
    item->list.items = NULL;
    PostNotification(s, item->kind == WS_ITEM_TIMEOUT ? SNMPAPI_TL_TIMEOUT : 0, item->requestId);
    return 1;
}

// Under the lock: requests still waiting for their answer or time-out.
static int WaitingRequests(const WsSession *s)
{
    int waiting = 0;
    for (int i = 0; i < WS_MAX_REQUESTS; i++)
        waiting += s->requests[i].state == WS_REQUEST_WAITING;
    return waiting;
}

static void ForgetRequest(WsRequest *r, int state)
{
    free(r->datagram);
    r->datagram = NULL;
    r->size = 0;
    r->state = state;
}

// Under the lock: finds which of our requests a message from this address
// answers, and takes its source as the message's destination. A message no
// request of ours matches (another id) goes to the source of the last request
// sent to that address. Returns the waiting request that the message answers,
// or NULL; it is marked answered only once the message is queued.
static WsRequest *MatchRequest(WsSession *s, WsItem *item)
{
    WsRequest *match = NULL;
    WsRequest *recent = NULL;
    for (int i = 0; i < WS_MAX_REQUESTS; i++) {
        WsRequest *r = &s->requests[i];
        if (r->state == WS_REQUEST_FREE || !WsSameAddress(&r->destination, &item->source))
            continue;
        if (recent == NULL || r->sentAt > recent->sentAt)
            recent = r;
        if (r->requestId == item->requestId && r->version == item->version &&
            (match == NULL || (match->state != WS_REQUEST_WAITING &&
                               (r->state == WS_REQUEST_WAITING || r->sentAt > match->sentAt))))
            match = r;
    }
    const WsRequest *from = match != NULL ? match : recent;
    item->hasDestination = from != NULL && from->hasSource;
    if (item->hasDestination)
        item->destination = from->source;
    if (match != NULL && match->state == WS_REQUEST_WAITING &&
        item->pduType == BER_PDU_RESPONSE)
        return match;
    return NULL;
}

// Under the lock: whether a message's version may reach the caller. An
// answer in another version than its request's is no answer to it (an
// SNMPv1-only agent's reply to an SNMPv2c request is dropped, which the walk
// then reports as silence); an SNMPv2c message that no request of ours in
// SNMPv2c explains is dropped, as it always was; SNMPv1 messages go on as
// before.
static int VersionFits(const WsSession *s, const WsItem *item)
{
    int other = 0;
    for (int i = 0; i < WS_MAX_REQUESTS; i++) {
        const WsRequest *r = &s->requests[i];
        if (r->state == WS_REQUEST_FREE || r->requestId != item->requestId ||
            !WsSameAddress(&r->destination, &item->source))
            continue;
        if (r->version == item->version)
            return 1;
        other = 1;
    }
    return !other && (item->version == BER_VERSION_1 || item->version == WS_VERSION_V3);
}

// Under the lock: queues a received message. Every waiting request keeps a
// place in the queue for its answer or its time-out, so that a flood of
// other messages cannot push either out: a request whose outcome is lost
// would leave its caller waiting for ever. Returns 1 when the message was
// queued and answered a waiting request, which is then marked answered.
static int QueueMessage(WsSession *s, WsItem *item)
{
    if (!VersionFits(s, item)) {
        WsFreeList(&item->list);
        return 0;
    }
    WsRequest *answers = MatchRequest(s, item);
    int room = answers != NULL ? WS_QUEUE_LENGTH : WS_QUEUE_LENGTH - WaitingRequests(s);
    if (!QueueItem(s, item, room)) {
        WsFreeList(&item->list);           // nobody is reading: drop
        return 0;
    }
    if (answers == NULL)
        return 0;
    ForgetRequest(answers, WS_REQUEST_ANSWERED);
    s->idleWaitMs = answers->timeoutMs;
    s->sendsAnswered = s->sends;
    return 1;
}

// The performance counter, which Wine reads without a server round trip.
static LONGLONG Microseconds(void)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency.QuadPart * 1000000 +
           now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

// Reads one datagram, and goes on only past errors that consumed nothing
// useful. Under Wine every recvfrom is a round trip to the server, and the one
// that finds the socket empty was a third of the walk's cost per request; a
// read re-arms FD_READ, so a datagram still waiting sets the event again.
// Returns WS_READ_NOTHING, WS_READ_OTHER or WS_READ_QUICK_ANSWER: a response
// to a waiting request, queued within WS_QUICK_MICROSECONDS of the last send.
enum { WS_READ_NOTHING = 0, WS_READ_OTHER, WS_READ_QUICK_ANSWER };

static int ReadDatagram(WsSession *s, int family)
{
    SOCKET sock = s->sockets[family];
    for (int n = 0; n < WS_SKIPS_PER_WAKE; n++) {
        WsItem item;
        int fromLength = sizeof(item.source.addr);
        memset(&item.source, 0, sizeof(item.source));
        STEP_START(readStart);
        int size = recvfrom(sock, (char *)s->receiveBuffer, WS_RECEIVE_BUFFER, 0,
                            (sockaddr *)&item.source.addr, &fromLength);
        if (size == SOCKET_ERROR) {
            int error = WSAGetLastError();
            // Too large for any SNMP message, or an ICMP error for an earlier
            // send: the datagram is gone, the socket still good.
            if (error == WSAEMSGSIZE || error == WSAECONNRESET)
                continue;
            return WS_READ_NOTHING;
        }
        STEP_ADD(RX_RECVFROM, readStart);
        STEP_SINCE(RX_READ, SENT);
        STEP_START(decodeStart);
        item.source.length = fromLength;
        BerMessage *m = s->receiveMessage;
        int index = (int)(s - g_wsSessions);
        if (!(WsV3Secured(index) ? WsV3ReadMessage(index, s->receiveBuffer, (size_t)size,
                                                   &item.source, m)
                                 : BerDecodeMessage(s->receiveBuffer, (size_t)size, m)) ||
            m->communityLength > WS_MAX_COMMUNITY) {
            if (WsV3Secured(index))
                SecureZeroMemory(s->receiveBuffer, (size_t)size);
            return WS_READ_OTHER;          // not an SNMPv1/v2c message: dropped silently
        }
        item.kind = WS_ITEM_MESSAGE;
        item.version = WsV3Secured(index) ? (int)WS_VERSION_V3 : m->version;
        item.communityLength = m->communityLength;
        if (m->communityLength > 0)
            memcpy(item.community, m->community, m->communityLength);
        item.pduType = m->pduType;
        item.requestId = m->requestId;
        item.errorStatus = m->errorStatus;
        item.errorIndex = m->errorIndex;
        int copied = WsCopyBinds(&item.list, m->varBinds, m->varBindCount);
        // An SNMPv3 datagram was deciphered in place: no plain copy stays.
        if (WsV3Secured(index))
            SecureZeroMemory(s->receiveBuffer, (size_t)size);
        if (!copied)
            return WS_READ_OTHER;
        STEP_ADD(RX_DECODE, decodeStart);
        STEP_START(queueStart);
        WsLock();
        int result = WS_READ_OTHER;
        if (QueueMessage(s, &item) &&
            Microseconds() - s->lastSendMicroseconds <= WS_QUICK_MICROSECONDS)
            result = WS_READ_QUICK_ANSWER;
        STEP_MARK(POSTED);
        WsUnlock();
        STEP_ADD(RX_QUEUE_POST, queueStart);
        return result;
    }
    return WS_READ_NOTHING;
}

// Right after a quick answer. A caller that walks sends its next request
// within microseconds, and a quick agent's answer is back before a wait on
// the socket event could return: under Wine every wait is a round trip to
// the server that puts the thread to sleep and wakes it again, about as
// costly as the rest of the exchange. So the thread watches the send count
// in memory for a bounded time, yielding, and after a send reads the socket
// directly, a few times at most and for as long as a quick answer takes
// (against snmpd on loopback the first read finds it). Returns 1 when it
// queued a quick answer. Only a quick answer leads here: an idle session
// costs one watch, and a slower agent none after its first slow answer.
static int SpinForAnswer(WsSession *s)
{
    LONGLONG start = Microseconds();
    int reads = 0;
    for (;;) {
        // SnmpClose waits for the thread: no watch keeps it.
        if (InterlockedCompareExchange(&s->stopping, 0, 0) != 0)
            return 0;
        if (reads == 0 && InterlockedCompareExchange(&s->sends, 0, 0) == s->sendsAnswered) {
            if (Microseconds() - start > WS_WATCH_MICROSECONDS)
                return 0;
            SwitchToThread();
            continue;
        }
        if (reads == 0)
            start = Microseconds();            // the reads are timed from here
        if (reads++ == WS_QUICK_READS || Microseconds() - start > WS_QUICK_MICROSECONDS)
            return 0;
        int read = ReadDatagram(s, s->lastSendFamily);
        if (read == WS_READ_QUICK_ANSWER)
            return 1;
        if (read == WS_READ_NOTHING)
            SwitchToThread();
    }
}

static SOCKET SocketFor(const WsSession *s, const WsAddress *address)
{
    return s->sockets[address->addr.ss_family == AF_INET6 ? 1 : 0];
}

// Under the lock: resends what is due and turns spent requests into
// time-outs. Returns how long the thread may sleep, and records until when.
static DWORD Retransmit(WsSession *s)
{
    ULONGLONG now = GetTickCount64();
    ULONGLONG next = 0;
    for (int i = 0; i < WS_MAX_REQUESTS; i++) {
        WsRequest *r = &s->requests[i];
        if (r->state != WS_REQUEST_WAITING)
            continue;
        if (now >= r->deadline) {
            if (r->resendsLeft > 0) {
                r->resendsLeft--;
                r->deadline = now + r->timeoutMs;
                // SNMPv3 wraps each resend afresh; failing that, the request
                // ends here (its deadline now) with the reason kept.
                if (WsV3Secured((int)(s - g_wsSessions)) &&
                    !WsV3WrapAgain((int)(s - g_wsSessions), r)) {
                    r->resendsLeft = 0;
                    r->deadline = now;
                    i--;
                    continue;
                }
                sendto(SocketFor(s, &r->destination), (const char *)r->datagram, r->size, 0,
                       (const sockaddr *)&r->destination.addr, r->destination.length);
            } else {
                WsItem item;
                memset(&item, 0, sizeof(item));
                item.kind = WS_ITEM_TIMEOUT;
                item.source = r->destination;
                item.destination = r->source;
                item.hasDestination = r->hasSource;
                item.requestId = r->requestId;
                if (QueueItem(s, &item, WS_QUEUE_LENGTH)) {
                    ForgetRequest(r, WS_REQUEST_TIMED_OUT);
                    continue;
                }
                // Only a caller that sends without reading fills the queue
                // past the places kept: the time-out waits for room.
                r->deadline = now + WS_FULL_QUEUE_RETRY_MS;
            }
        }
        if (next == 0 || r->deadline < next)
            next = r->deadline;
    }
    if (next == 0 && s->idleWaitMs > 0) {
        // Just answered: a caller that walks sends the next request at once.
        // Staying awake as long as that request may wait lets SnmpSendMsg
        // skip waking us, which is a round trip through the kernel saved
        // per request; without a new request we sleep for good next time.
        next = now + s->idleWaitMs;
        s->idleWaitMs = 0;
    }
    if (next == 0) {
        s->threadWakeAt = ~0ull;
        return INFINITE;
    }
    s->threadWakeAt = next;
    return next <= now ? 0 : (DWORD)(next - now);
}

static DWORD WINAPI ReceiveThread(LPVOID parameter)
{
    // The record stays ours until SnmpClose has joined this thread.
    WsSession *s = &g_wsSessions[(INT_PTR)parameter];
    HANDLE waits[4];
    int families[4];
    waits[0] = s->stop;
    waits[1] = s->wake;
    DWORD wait = INFINITE;
    int answered = 0;
    for (;;) {
        if (answered && SpinForAnswer(s)) {
            // The socket's event was set by that answer too: the next wait
            // returns at once and its read finds nothing, which is harmless.
            WsLock();
            wait = Retransmit(s);
            WsUnlock();
            continue;
        }
        answered = 0;
        // A socket is made on its family's first send, which wakes us.
        DWORD count = 2;
        WsLock();
        for (int family = 0; family < 2; family++) {
            if (s->sockets[family] != INVALID_SOCKET) {
                families[count] = family;
                waits[count++] = s->events[family];
            }
        }
        WsUnlock();
        DWORD r = WaitForMultipleObjects(count, waits, FALSE, wait);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED)
            break;
        // The socket events reset themselves as the wait returns; the read
        // below re-arms them, so each further datagram sets its event again.
        if (r >= WAIT_OBJECT_0 + 2 && r < WAIT_OBJECT_0 + count)
            answered = ReadDatagram(s, families[r - WAIT_OBJECT_0]) == WS_READ_QUICK_ANSWER;
        WsLock();
        wait = Retransmit(s);
        WsUnlock();
    }
    return 0;
}

static SOCKET OpenSocket(int family, HANDLE *event)
{
    SOCKET sock = socket(family, SOCK_DGRAM, IPPROTO_UDP);
    *event = NULL;
    if (sock == INVALID_SOCKET)
        return INVALID_SOCKET;
    sockaddr_storage local;
    int length = 0;
    memset(&local, 0, sizeof(local));
    if (family == AF_INET6) {
        DWORD only = 1;
        setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, (const char *)&only, sizeof(only));
        ((sockaddr_in6 *)&local)->sin6_family = AF_INET6;
        length = sizeof(sockaddr_in6);
    } else {
        ((sockaddr_in *)&local)->sin_family = AF_INET;
        length = sizeof(sockaddr_in);
    }
    *event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (*event == NULL ||
        bind(sock, (const sockaddr *)&local, length) != 0 ||
        WSAEventSelect(sock, *event, FD_READ) != 0) {
        if (*event != NULL)
            CloseHandle(*event);
        *event = NULL;
        closesocket(sock);
        return INVALID_SOCKET;
    }
    return sock;
}

// Under the lock: everything but the thread, which is gone or never was.
static void ReleaseSessionRecord(int index)
{
    WsSession *s = &g_wsSessions[index];
    for (int family = 0; family < 2; family++) {
        if (s->sockets[family] != INVALID_SOCKET)
            closesocket(s->sockets[family]);
        if (s->events[family] != NULL)
            CloseHandle(s->events[family]);
        s->sockets[family] = INVALID_SOCKET;
        s->events[family] = NULL;
    }
    if (s->stop != NULL)
        CloseHandle(s->stop);
    if (s->wake != NULL)
        CloseHandle(s->wake);
    s->stop = NULL;
    s->wake = NULL;
    for (int i = 0; i < s->queueCount; i++)
        WsFreeList(&s->queue[(s->queueFirst + i) % WS_QUEUE_LENGTH].list);
    s->queueCount = 0;
    for (int i = 0; i < WS_MAX_REQUESTS; i++)
        ForgetRequest(&s->requests[i], WS_REQUEST_FREE);
    free(s->sendMessage);
    free(s->sendBuffer);
    free(s->receiveMessage);
    if (s->receiveBuffer != NULL && WsV3Secured(index))
        SecureZeroMemory(s->receiveBuffer, WS_RECEIVE_BUFFER);
    free(s->receiveBuffer);
    s->sendMessage = NULL;
    s->sendBuffer = NULL;
    s->receiveMessage = NULL;
    s->receiveBuffer = NULL;
    WsReleaseSessionObjects(index);
    WsV3ReleaseSession(index);
    s->closing = 0;
    WsReleaseSlot(&s->slot);
}

void WsCloseSession(int index)
{
    WsSession *s = &g_wsSessions[index];
    if (s->thread != NULL) {
        InterlockedExchange(&s->stopping, 1);
        SetEvent(s->stop);
        WaitForSingleObject(s->thread, INFINITE);
        CloseHandle(s->thread);
        s->thread = NULL;
        STEP_LAP(C_THREAD_JOIN);
    }
    WsLock();
    ReleaseSessionRecord(index);
    WsUnlock();
}

HSNMP_SESSION WINAPI SnmpOpen(HWND hWnd, UINT wMsg)
{
    HSNMP_SESSION result = NULL;
    int index = -1;
    WsSession *s = NULL;
    WsLock();
    if (g_wsStartups == 0) {
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
        goto done;
    }
    if (hWnd == NULL || !IsWindow(hWnd)) {
        WsFail(-1, SNMPAPI_HWND_INVALID);
        goto done;
    }
    index = WsClaimSession();
    if (index < 0) {
        WsFail(-1, SNMPAPI_ALLOC_ERROR);
        goto done;
    }
    s = &g_wsSessions[index];
    s->closing = 0;
    s->window = hWnd;
    s->message = wMsg;
    s->queueFirst = 0;
    s->queueCount = 0;
    s->error = SNMPAPI_SUCCESS;
    s->errorSequence = 0;
    s->thread = NULL;
    s->threadWakeAt = ~0ull;
    s->idleWaitMs = 0;
    s->sends = 0;
    s->sendsAnswered = 0;
    s->lastSendFamily = 0;
    s->lastSendMicroseconds = 0;
    s->stopping = 0;
    memset(s->requests, 0, sizeof(s->requests));
    // Each family's socket is made on its first send: a walk uses one.
    for (int family = 0; family < 2; family++) {
        s->sockets[family] = INVALID_SOCKET;
        s->events[family] = NULL;
    }
    STEP_LAP(OPEN_RECORD);
    s->stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    s->wake = CreateEventA(NULL, FALSE, FALSE, NULL);
    s->sendMessage = (BerMessage *)malloc(sizeof(BerMessage));
    s->sendBuffer = (uint8_t *)malloc(BER_MAX_MESSAGE);
    s->receiveMessage = (BerMessage *)malloc(sizeof(BerMessage));
    s->receiveBuffer = (uint8_t *)malloc(WS_RECEIVE_BUFFER);
    if (s->stop == NULL || s->wake == NULL || s->sendMessage == NULL || s->sendBuffer == NULL ||
        s->receiveMessage == NULL || s->receiveBuffer == NULL) {
        WsFail(-1, SNMPAPI_ALLOC_ERROR);
        goto done;
    }
    STEP_LAP(OPEN_EVENTS);
    s->thread = CreateThread(NULL, 0, ReceiveThread, (LPVOID)(INT_PTR)index, 0, NULL);
    if (s->thread == NULL) {
        WsFail(-1, SNMPAPI_TL_RESOURCE_ERROR);
        goto done;
    }
    STEP_LAP(OPEN_THREAD);
    result = WsMakeHandle(WS_KIND_SESSION, index, s->slot.generation);
done:
    if (result == NULL && index >= 0)
        ReleaseSessionRecord(index);
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpClose(HSNMP_SESSION session)
{
    WsLock();
    int index = WsSessionIndex(session);
    if (index >= 0)
        g_wsSessions[index].closing = 1;     // from here on the handle fails
    WsUnlock();
    if (index < 0)
        return SNMPAPI_FAILURE;
    WsCloseSession(index);
    return SNMPAPI_SUCCESS;
}

// Under the lock: the session's socket for the address's family, made on
// the first send to that family (the send then wakes the receive thread,
// which watches it from then on);
// INVALID_SOCKET when the family is unavailable.
static SOCKET SocketOnFirstNeed(WsSession *s, const WsAddress *address)
{
    int family = address->addr.ss_family == AF_INET6 ? 1 : 0;
    if (s->sockets[family] == INVALID_SOCKET) {
        s->sockets[family] = OpenSocket(family == 1 ? AF_INET6 : AF_INET, &s->events[family]);
        if (s->sockets[family] != INVALID_SOCKET)
            s->threadWakeAt = ~0ull;
        STEP_LAP(OPEN_SOCKETS);
    }
    return s->sockets[family];
}

// Under the lock: a request record to fill, free or the oldest finished one.
static WsRequest *RequestRecord(WsSession *s)
{
    WsRequest *oldest = NULL;
    for (int i = 0; i < WS_MAX_REQUESTS; i++) {
        WsRequest *r = &s->requests[i];
        if (r->state == WS_REQUEST_FREE)
            return r;
        if (r->state != WS_REQUEST_WAITING && (oldest == NULL || r->sentAt < oldest->sentAt))
            oldest = r;
    }
    return oldest;
}

SNMPAPI_STATUS WINAPI SnmpSendMsg(HSNMP_SESSION session, HSNMP_ENTITY srcEntity,
                                  HSNMP_ENTITY dstEntity, HSNMP_CONTEXT context, HSNMP_PDU PDU)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    uint8_t *datagram = NULL;
    WsLock();
    int s = WsSessionIndex(session);
    if (s < 0)
        goto done;
    {
        WsSession *record = &g_wsSessions[s];
        int src = -1;
        if (srcEntity != NULL) {
            src = WsEntityIndex(srcEntity);
            if (src < 0)
                goto done;
        }
        int dst = WsEntityIndex(dstEntity);
        if (dst < 0)
            goto done;
        int ctx = WsContextIndex(context);
        if (ctx < 0)
            goto done;
        int p = WsPduIndex(PDU);
        if (p < 0)
            goto done;
        // The objects of other sessions are not this session's to use.
        if ((src >= 0 && g_wsEntities[src].slot.session != s) ||
            g_wsEntities[dst].slot.session != s) {
            WsFail(s, SNMPAPI_ENTITY_INVALID);
            goto done;
        }
        if (g_wsContexts[ctx].slot.session != s) {
            WsFail(s, SNMPAPI_CONTEXT_INVALID);
            goto done;
        }
        if (g_wsPdus[p].slot.session != s) {
            WsFail(s, SNMPAPI_PDU_INVALID);
            goto done;
        }
        const WsEntity *destination = &g_wsEntities[dst];
        const WsPdu *pdu = &g_wsPdus[p];
        if (pdu->list.count > BER_MAX_VARBINDS) {
            WsFail(s, SNMPAPI_TL_PDU_TOO_BIG);
            goto done;
        }
        // SNMPv1 has no GetBulk: only an SNMPv2c entity (or SNMPv3) takes one.
        if (pdu->type == BER_PDU_GETBULK && destination->version != BER_VERSION_2C &&
            !WsV3Secured(s)) {
            WsFail(s, SNMPAPI_PDU_INVALID);
            goto done;
        }
        SOCKET sock = SocketOnFirstNeed(record, &destination->address);
        if (sock == INVALID_SOCKET) {
            WsFail(s, SNMPAPI_TL_NOT_SUPPORTED);
            goto done;
        }
        WsRequest *request = RequestRecord(record);
        if (request == NULL) {
            WsFail(s, SNMPAPI_TL_RESOURCE_ERROR);
            goto done;
        }
        STEP_LAP(X_SOCKET);

        // Encoded now, so that the caller may release the PDU and its list.
        BerMessage *m = record->sendMessage;
        m->version = destination->version;
        m->community = g_wsContexts[ctx].bytes;
        m->communityLength = g_wsContexts[ctx].length;
        m->pduType = pdu->type;
        m->requestId = pdu->requestId;
        m->errorStatus = pdu->errorStatus;
        m->errorIndex = pdu->errorIndex;
        m->varBindCount = pdu->list.count;
        if (pdu->list.count > 0)
            memcpy(m->varBinds, pdu->list.items, pdu->list.count * sizeof(BerVarBind));
        SNMPAPI_STATUS encodeError = SNMPAPI_TL_PDU_TOO_BIG;
        size_t size = WsV3Secured(s) ? WsV3EncodeRequest(s, &destination->address,
                                                         &g_wsContexts[ctx], m,
                                                         record->sendBuffer, BER_MAX_MESSAGE,
                                                         &encodeError)
                                     : BerEncodeMessage(m, record->sendBuffer, BER_MAX_MESSAGE);
        if (size == 0) {
            WsFail(s, encodeError);
            goto done;
        }
        datagram = (uint8_t *)malloc(size);
        if (datagram == NULL) {
            WsFail(s, SNMPAPI_ALLOC_ERROR);
            goto done;
        }
        memcpy(datagram, record->sendBuffer, size);
        STEP_LAP(X_ENCODE);
        int sent = sendto(sock, (const char *)datagram, (int)size, 0,
                          (const sockaddr *)&destination->address.addr,
                          destination->address.length);
        // A full send buffer is a lost datagram, which resending covers.
        if (sent == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            WsFail(s, SNMPAPI_TL_UNDELIVERABLE);
            goto done;
        }
        STEP_LAP(X_SENDTO);
        STEP_MARK(SENT);

        ForgetRequest(request, WS_REQUEST_WAITING);
        request->requestId = pdu->requestId;
        request->destination = destination->address;
        request->hasSource = src >= 0;
        if (src >= 0)
            request->source = g_wsEntities[src].address;
        // At least 10 ms, so that a zero time-out does not resend in a burst.
        request->timeoutMs = destination->timeout == 0 ? 10 : destination->timeout * 10;
        request->resendsLeft = destination->retry;
        request->sentAt = GetTickCount64();
        request->deadline = request->sentAt + request->timeoutMs;
        request->datagram = datagram;
        request->size = (int)size;
        request->version = WsV3Secured(s) ? (int)WS_VERSION_V3 : destination->version;
        datagram = NULL;
        record->lastSendFamily = sock == record->sockets[1] ? 1 : 0;
        record->lastSendMicroseconds = Microseconds();
        InterlockedIncrement(&record->sends);     // after the family: the thread reads both
        if (request->deadline < record->threadWakeAt)
            SetEvent(record->wake);
        result = SNMPAPI_SUCCESS;
    }
done:
    free(datagram);
    WsUnlock();
    STEP_LAP(X_SEND_REST);
    return result;
}

// The local address of the socket, for a message that no request of ours
// explains.
static void LocalAddress(const WsSession *s, const WsAddress *peer, WsAddress *local)
{
    memset(local, 0, sizeof(*local));
    local->length = sizeof(local->addr);
    if (getsockname(SocketFor(s, peer), (sockaddr *)&local->addr, &local->length) != 0) {
        local->addr.ss_family = peer->addr.ss_family;
        local->length = peer->length;
    }
}

SNMPAPI_STATUS WINAPI SnmpRecvMsg(HSNMP_SESSION session, LPHSNMP_ENTITY srcEntity,
                                  LPHSNMP_ENTITY dstEntity, LPHSNMP_CONTEXT context,
                                  LPHSNMP_PDU PDU)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsItem item;
    int src = -1;
    int dst = -1;
    int ctx = -1;
    int p = -1;
    item.list.count = 0;
    item.list.items = NULL;
    WsLock();
    int s = WsSessionIndex(session);
    if (s < 0)
        goto done;
    {
        WsSession *record = &g_wsSessions[s];
        if (record->queueCount == 0) {
            WsFail(s, SNMPAPI_NOOP);
            goto done;
        }
        item = record->queue[record->queueFirst];
        record->queueFirst = (record->queueFirst + 1) % WS_QUEUE_LENGTH;
        record->queueCount--;
        if (item.kind == WS_ITEM_TIMEOUT) {
            WsFail(s, SNMPAPI_TL_TIMEOUT);
            goto done;
        }
        // Entities of the message's version, so that an SNMPv2c answer's
        // source is the entity its request went to.
        int version = item.version == BER_VERSION_2C ? BER_VERSION_2C : BER_VERSION_1;
        if (srcEntity != NULL && (src = WsEntityFor(s, &item.source, version)) < 0)
            goto full;
        if (dstEntity != NULL) {
            WsAddress local;
            if (!item.hasDestination)
                LocalAddress(record, &item.source, &local);
            if ((dst = WsEntityFor(s, item.hasDestination ? &item.destination : &local,
                                   version)) < 0)
                goto full;
        }
        if (context != NULL &&
            (ctx = WsContextFor(s, item.community, item.communityLength)) < 0)
            goto full;
        if (PDU != NULL) {
            if ((p = WsClaimPdu(s)) < 0)
                goto full;
            WsPdu *pdu = &g_wsPdus[p];
            pdu->type = item.pduType;
            pdu->requestId = item.requestId;
            pdu->errorStatus = item.errorStatus;
            pdu->errorIndex = item.errorIndex;
            pdu->list = item.list;
            item.list.count = 0;
            item.list.items = NULL;
        }
    }
    if (srcEntity != NULL)
        *srcEntity = WsMakeHandle(WS_KIND_ENTITY, src, g_wsEntities[src].slot.generation);
    if (dstEntity != NULL)
        *dstEntity = WsMakeHandle(WS_KIND_ENTITY, dst, g_wsEntities[dst].slot.generation);
    if (context != NULL)
        *context = WsMakeHandle(WS_KIND_CONTEXT, ctx, g_wsContexts[ctx].slot.generation);
    if (PDU != NULL)
        *PDU = WsMakeHandle(WS_KIND_PDU, p, g_wsPdus[p].slot.generation);
    result = SNMPAPI_SUCCESS;
    goto done;
full:
    // Undo the references taken; the message is lost with the tables full.
    if (src >= 0 && --g_wsEntities[src].references <= 0)
        WsReleaseSlot(&g_wsEntities[src].slot);
    if (dst >= 0 && --g_wsEntities[dst].references <= 0)
        WsReleaseSlot(&g_wsEntities[dst].slot);
    if (ctx >= 0 && --g_wsContexts[ctx].references <= 0)
        WsReleaseSlot(&g_wsContexts[ctx].slot);
    WsFail(s, SNMPAPI_ALLOC_ERROR);
done:
    WsFreeList(&item.list);
    WsUnlock();
    return result;
}
