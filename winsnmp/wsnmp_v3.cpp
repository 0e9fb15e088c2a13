// SNMPv3 for our WinSNMP sessions (wsnmp_v3.h): the credentials a session
// took, the agents' engines, the requests in flight by message id, and what
// the send and receive paths of wsnmp_session.cpp hand over: a request to
// wrap, a datagram to check, decipher and unwrap.
#include "winsnmp/wsnmp_internal.h"
#include "winsnmp/wsnmp_v3.h"
#include "winsnmp/ber_v3.h"
#include "winsnmp/usm_crypto.h"

#include <stdlib.h>
#include <string.h>

enum {
    V3_MAX_AGENTS = 64,             // agents whose engine the process remembers
    V3_MIN_ENGINE_ID = 5,
    V3_MAX_TIME = 0x7FFFFFFF,
    V3_WORK_BUFFER = BER_MAX_MESSAGE,
    V3_ERROR_AUTHORIZATION = 16,    // authorizationError
    V3_ERROR_NO_SUCH_NAME = 2
};

// The usmStats counters that reports name: 1.3.6.1.6.3.15.1.1.N.0.
enum {
    USM_STATS_UNSUPPORTED_LEVEL = 1,
    USM_STATS_NOT_IN_TIME_WINDOW = 2,
    USM_STATS_UNKNOWN_USER = 3,
    USM_STATS_UNKNOWN_ENGINE = 4,
    USM_STATS_WRONG_DIGEST = 5,
    USM_STATS_DECRYPTION_ERROR = 6
};
static const uint32_t USM_STATS[] = {1, 3, 6, 1, 6, 3, 15, 1, 1};

// An agent's engine as last learnt, for every session of the process, so
// that only the first walk of an agent pays for the discovery.
struct V3Engine {
    int inUse;
    WsAddress address;
    uint8_t id[V3_MAX_ENGINE_ID];
    uint32_t idLength;
    int32_t boots;
    int32_t time;
    ULONGLONG learntAt;             // GetTickCount64 when time was learnt
};

enum { V3_FREE = 0, V3_DISCOVERING, V3_SENT };

// A request in flight: its PDU kept encoded, so that it can be wrapped again
// once the engine is known or its time corrected.
struct V3Request {
    int state;
    int32_t msgId;
    int32_t requestId;
    WsAddress destination;
    int recovered;                  // the one rediscovery or resynchronisation was spent
    ULONGLONG sentAt;
    uint8_t *pdu;
    size_t pduSize;
    uint32_t contextLength;
    uint8_t context[WS_MAX_COMMUNITY];
};

struct V3Session {
    int auth;                       // UsmAuthProtocol
    int priv;
    uint8_t user[VR_SNMP_MAX_USER];
    uint32_t userLength;
    uint8_t authKu[USM_MAX_KEY];    // the passwords' keys, not yet localised
    uint8_t privKu[USM_MAX_KEY];
    // The keys localised to the engine last used.
    uint8_t keyEngine[V3_MAX_ENGINE_ID];
    uint32_t keyEngineLength;
    uint8_t authKey[USM_MAX_KEY];
    uint8_t privKey[USM_MAX_KEY];
    V3Request requests[WS_MAX_REQUESTS];
    int failure;                    // VrSnmpV3Failure
    uint8_t answerContext[WS_MAX_COMMUNITY];   // the receive thread's only
    uint8_t *work;                  // a scoped PDU being wrapped or unwrapped
};

// All under WsLock, but s_secured, which the receive thread reads for every
// datagram without it (set before the session's first request).
static V3Session *s_sessions[WS_MAX_SESSIONS];
static volatile LONG s_secured[WS_MAX_SESSIONS];
static V3Engine s_engines[V3_MAX_AGENTS];
static int32_t s_nextMsgId;
static volatile LONG s_lastFailure;

static void SetFailure(V3Session *v, int failure)
{
    v->failure = failure;
    InterlockedExchange(&s_lastFailure, failure);
}

static int32_t NextMsgId(void)
{
    // Starts somewhere of its own per process, so that a reply to an earlier
    // run's request does not match.
    if (s_nextMsgId <= 0 || s_nextMsgId == 0x7FFFFFFF)
        s_nextMsgId = (int32_t)(GetTickCount64() & 0xFFFFFF) + 1;
    return s_nextMsgId++;
}

static V3Engine *EngineFor(const WsAddress *address, int create)
{
    V3Engine *free = NULL;
    for (int i = 0; i < V3_MAX_AGENTS; i++) {
        if (s_engines[i].inUse && WsSameAddress(&s_engines[i].address, address))
            return &s_engines[i];
        if (!s_engines[i].inUse && free == NULL)
            free = &s_engines[i];
    }
    if (!create)
        return NULL;
    if (free == NULL)
        free = &s_engines[GetTickCount64() % V3_MAX_AGENTS];   // full: forget one
    memset(free, 0, sizeof(*free));
    free->inUse = 1;
    free->address = *address;
    return free;
}

static int32_t EngineTimeNow(const V3Engine *e)
{
    ULONGLONG time = (ULONGLONG)e->time + (GetTickCount64() - e->learntAt) / 1000;
    return time > V3_MAX_TIME ? V3_MAX_TIME : (int32_t)time;
}

static void LearnEngine(V3Engine *e, const V3Message *m)
{
    memcpy(e->id, m->engineId, m->engineIdLength);
    e->idLength = m->engineIdLength;
    e->boots = m->engineBoots;
    e->time = m->engineTime;
    e->learntAt = GetTickCount64();
}

// The session's keys for the engine, localised anew when it is another.
static int LocalizeKeys(V3Session *v, const V3Engine *e)
{
    if (v->keyEngineLength == e->idLength && v->keyEngineLength > 0 &&
        memcmp(v->keyEngine, e->id, e->idLength) == 0)
        return 1;
    v->keyEngineLength = 0;
    if (!UsmLocalizeKey(v->auth, v->authKu, e->id, e->idLength, v->authKey))
        return 0;
    if (v->priv != VR_SNMP_PRIV_NONE &&
        !UsmLocalizeKey(v->auth, v->privKu, e->id, e->idLength, v->privKey))
        return 0;
    memcpy(v->keyEngine, e->id, e->idLength);
    v->keyEngineLength = e->idLength;
    return 1;
}

static void PutBigEndian32(uint8_t *out, uint32_t value)
{
    out[0] = (uint8_t)(value >> 24);
    out[1] = (uint8_t)(value >> 16);
    out[2] = (uint8_t)(value >> 8);
    out[3] = (uint8_t)value;
}

// The AES initialisation vector: the engine's boots and time as the message
// carries them, then the salt.
static void MakeIv(uint8_t iv[USM_AES_BLOCK], int32_t boots, int32_t time, const uint8_t *salt)
{
    PutBigEndian32(iv, (uint32_t)boots);
    PutBigEndian32(iv + 4, (uint32_t)time);
    memcpy(iv + 8, salt, V3_PRIV_PARAMETERS);
}

// The engine discovery: no user, no security, an empty Get, reportable.
static size_t WrapDiscovery(V3Request *r, uint8_t *out, size_t capacity)
{
    static const uint8_t EMPTY_GET[] = {BER_PDU_GET, 11, BER_INTEGER, 1, 0, BER_INTEGER, 1, 0,
                                        BER_INTEGER, 1, 0, BER_SEQUENCE, 0};
    uint8_t scoped[64];
    V3Scope scope;
    V3Message m;
    size_t authOffset = 0;
    memset(&scope, 0, sizeof(scope));
    memset(&m, 0, sizeof(m));
    // The PDU's request id: 0 in EMPTY_GET, and its length byte says 11
    // contents bytes.
    m.dataSize = V3EncodeScopedPdu(&scope, EMPTY_GET, sizeof(EMPTY_GET), scoped, sizeof(scoped));
    if (m.dataSize == 0)
        return 0;
    r->msgId = NextMsgId();
    r->state = V3_DISCOVERING;
    m.msgId = r->msgId;
    m.maxSize = BER_MAX_MESSAGE;
    m.flags = V3_FLAG_REPORTABLE;
    m.data = scoped;
    return V3EncodeMessage(&m, out, capacity, &authOffset);
}

// The request under the session's credentials for the engine: scoped PDU,
// enciphered when asked, the digest over the whole message last.
static size_t WrapRequest(V3Session *v, V3Engine *e, V3Request *r, uint8_t *out, size_t capacity)
{
    uint8_t salt[V3_PRIV_PARAMETERS];
    uint8_t iv[USM_AES_BLOCK];
    uint8_t zeros[V3_MAX_AUTH_PARAMETERS];
    uint8_t mac[USM_MAX_KEY];
    V3Scope scope;
    V3Message m;
    size_t size = 0;
    size_t authOffset = 0;
    if (v->auth != USM_AUTH_NONE && !LocalizeKeys(v, e))
        return 0;
    memset(&scope, 0, sizeof(scope));
    memset(&m, 0, sizeof(m));
    memset(zeros, 0, sizeof(zeros));
    scope.contextEngineId = e->id;
    scope.contextEngineIdLength = e->idLength;
    size_t scopedSize = V3EncodeScopedPdu(&scope, r->pdu, r->pduSize, v->work, V3_WORK_BUFFER);
    if (scopedSize == 0)
        return 0;
    r->msgId = NextMsgId();
    r->state = V3_SENT;
    m.msgId = r->msgId;
    m.maxSize = BER_MAX_MESSAGE;
    m.flags = V3_FLAG_REPORTABLE;
    m.engineId = e->id;
    m.engineIdLength = e->idLength;
    m.userName = v->user;
    m.userNameLength = v->userLength;
    m.data = v->work;
    m.dataSize = scopedSize;
    if (v->auth != USM_AUTH_NONE) {
        m.flags |= V3_FLAG_AUTH;
        m.engineBoots = e->boots;
        m.engineTime = EngineTimeNow(e);
        m.authParameters = zeros;
        m.authParametersLength = (uint32_t)UsmMacSize(v->auth);
    }
    if (v->priv != VR_SNMP_PRIV_NONE) {
        uint64_t counter = UsmNextSalt();
        for (int i = 0; i < V3_PRIV_PARAMETERS; i++)
            salt[i] = (uint8_t)(counter >> (8 * (V3_PRIV_PARAMETERS - 1 - i)));
        MakeIv(iv, m.engineBoots, m.engineTime, salt);
        if (!UsmAesCfb(v->privKey, iv, v->work, v->work, scopedSize, 0))
            return 0;
        m.flags |= V3_FLAG_PRIV;
        m.privParameters = salt;
        m.privParametersLength = V3_PRIV_PARAMETERS;
    }
    size = V3EncodeMessage(&m, out, capacity, &authOffset);
    if (size == 0)
        return 0;
    if (v->auth != USM_AUTH_NONE) {
        if (!UsmHmac(v->auth, v->authKey, UsmKeySize(v->auth), out, size, mac))
            return 0;
        memcpy(out + authOffset, mac, m.authParametersLength);
        UsmWipe(mac, sizeof(mac));
    }
    return size;
}

static void ForgetV3Request(V3Request *r)
{
    free(r->pdu);
    r->pdu = NULL;
    r->pduSize = 0;
    r->state = V3_FREE;
}

// The transport's record of the request, while it waits.
static WsRequest *WaitingRequest(WsSession *s, const V3Request *r)
{
    for (int i = 0; i < WS_MAX_REQUESTS; i++) {
        WsRequest *w = &s->requests[i];
        if (w->state == WS_REQUEST_WAITING && w->requestId == r->requestId &&
            WsSameAddress(&w->destination, &r->destination))
            return w;
    }
    return NULL;
}

// Ends the request now as a time-out: the receive thread's next round
// announces it (woken at once), and the reason is kept.
static void FailRequest(WsSession *s, V3Session *v, V3Request *r, int failure)
{
    WsRequest *w = WaitingRequest(s, r);
    if (w != NULL) {
        w->resendsLeft = 0;
        w->deadline = GetTickCount64();
        SetEvent(s->wake);
    }
    SetFailure(v, failure);
    ForgetV3Request(r);
}

// Wraps the request again (engine now known, or its time corrected), sends
// it, and makes it what the transport resends.
static void SendAgain(WsSession *s, V3Session *v, V3Engine *e, V3Request *r, int failure)
{
    uint8_t *datagram = NULL;
    WsRequest *w = WaitingRequest(s, r);
    if (w == NULL) {
        ForgetV3Request(r);                  // the caller has given up on it
        return;
    }
    uint8_t *out = (uint8_t *)malloc(BER_MAX_MESSAGE);
    size_t size = out != NULL ? WrapRequest(v, e, r, out, BER_MAX_MESSAGE) : 0;
    if (size > 0)
        datagram = (uint8_t *)malloc(size);
    if (datagram == NULL) {
        free(out);
        FailRequest(s, v, r, failure);
        return;
    }
    memcpy(datagram, out, size);
    free(out);
    free(w->datagram);
    w->datagram = datagram;
    w->size = (int)size;
    w->deadline = GetTickCount64() + w->timeoutMs;
    sendto(s->sockets[r->destination.addr.ss_family == AF_INET6 ? 1 : 0], (const char *)datagram,
           (int)size, 0, (const sockaddr *)&r->destination.addr, r->destination.length);
}

// The counter a report names (USM_STATS_*), 0 for another.
static int ReportedCounter(const BerMessage *pdu)
{
    const uint32_t count = sizeof(USM_STATS) / sizeof(USM_STATS[0]);
    if (pdu->varBindCount == 0)
        return 0;
    const BerOid *name = &pdu->varBinds[0].name;
    if (name->length != count + 2 || name->ids[count + 1] != 0 ||
        memcmp(name->ids, USM_STATS, sizeof(USM_STATS)) != 0)
        return 0;
    return (int)name->ids[count];
}

static void HandleReport(WsSession *s, V3Session *v, V3Request *r, const V3Message *m,
                         const BerMessage *pdu, int authentic)
{
    V3Engine *e = EngineFor(&r->destination, 1);
    int counter = ReportedCounter(pdu);
    switch (counter) {
    case USM_STATS_UNKNOWN_ENGINE:
        // The discovery's answer; later, an agent that started afresh.
        if (m->engineIdLength < V3_MIN_ENGINE_ID ||
            (r->state == V3_SENT && r->recovered)) {
            FailRequest(s, v, r, VR_SNMP_V3_UNKNOWN_ENGINE);
            return;
        }
        if (r->state == V3_SENT)
            r->recovered = 1;
        LearnEngine(e, m);
        SendAgain(s, v, e, r, VR_SNMP_V3_UNKNOWN_ENGINE);
        return;
    case USM_STATS_NOT_IN_TIME_WINDOW:
        // Only an authentic report may set our clock for the agent.
        if (!authentic || r->recovered || r->state != V3_SENT) {
            FailRequest(s, v, r, VR_SNMP_V3_NOT_IN_TIME_WINDOW);
            return;
        }
        r->recovered = 1;
        LearnEngine(e, m);
        SendAgain(s, v, e, r, VR_SNMP_V3_NOT_IN_TIME_WINDOW);
        return;
    case USM_STATS_UNKNOWN_USER:
        FailRequest(s, v, r, VR_SNMP_V3_UNKNOWN_USER);
        return;
    case USM_STATS_WRONG_DIGEST:
        FailRequest(s, v, r, VR_SNMP_V3_AUTHENTICATION_FAILED);
        return;
    case USM_STATS_UNSUPPORTED_LEVEL:
        FailRequest(s, v, r, v->priv == VR_SNMP_PRIV_NONE ? VR_SNMP_V3_PRIVACY_REQUIRED
                                                          : VR_SNMP_V3_LEVEL_UNSUPPORTED);
        return;
    case USM_STATS_DECRYPTION_ERROR:
        FailRequest(s, v, r, VR_SNMP_V3_DECRYPTION_FAILED);
        return;
    default:
        FailRequest(s, v, r, VR_SNMP_V3_OTHER_REPORT);
        return;
    }
}

// Checks the digest in place: zeroed for the computation, then put back.
static int Authentic(V3Session *v, uint8_t *datagram, size_t size, const V3Message *m)
{
    uint8_t received[V3_MAX_AUTH_PARAMETERS];
    uint8_t mac[USM_MAX_KEY];
    size_t macSize = UsmMacSize(v->auth);
    if (m->authParametersLength != macSize)
        return 0;
    memcpy(received, datagram + m->authOffset, macSize);
    memset(datagram + m->authOffset, 0, macSize);
    int ok = UsmHmac(v->auth, v->authKey, UsmKeySize(v->auth), datagram, size, mac) &&
             UsmSameBytes(mac, received, macSize);
    memcpy(datagram + m->authOffset, received, macSize);
    UsmWipe(mac, sizeof(mac));
    return ok;
}

// v1 semantics for the caller: an exception value is the SNMPv1 agent's
// noSuchName at that binding.
static void MapExceptions(BerMessage *pdu)
{
    if (pdu->errorStatus != 0)
        return;
    for (uint32_t i = 0; i < pdu->varBindCount; i++) {
        int syntax = pdu->varBinds[i].value.syntax;
        if (syntax == BER_NO_SUCH_OBJECT || syntax == BER_NO_SUCH_INSTANCE ||
            syntax == BER_END_OF_MIB_VIEW) {
            pdu->errorStatus = V3_ERROR_NO_SUCH_NAME;
            pdu->errorIndex = (int32_t)(i + 1);
            return;
        }
    }
}

// Under the lock: what the message means for the request it names. 1 when
// pdu holds the answer to queue.
static int HandleMessage(WsSession *s, V3Session *v, uint8_t *datagram, size_t size,
                         const WsAddress *source, const V3Message *m, BerMessage *pdu)
{
    V3Request *r = NULL;
    V3Scope scope;
    for (int i = 0; i < WS_MAX_REQUESTS && r == NULL; i++) {
        if (v->requests[i].state != V3_FREE && v->requests[i].msgId == m->msgId &&
            WsSameAddress(&v->requests[i].destination, source))
            r = &v->requests[i];
    }
    if (r == NULL)
        return 0;                            // not ours, or already settled
    V3Engine *e = EngineFor(&r->destination, 1);
    int authentic = 0;
    if (m->flags & V3_FLAG_AUTH) {
        // Before anything of it is used: our user, the engine we know, and
        // the digest under our key for that engine.
        if (v->auth == USM_AUTH_NONE || r->state != V3_SENT ||
            m->userNameLength != v->userLength ||
            memcmp(m->userName, v->user, v->userLength) != 0 ||
            m->engineIdLength != e->idLength || memcmp(m->engineId, e->id, e->idLength) != 0 ||
            !LocalizeKeys(v, e) || !Authentic(v, datagram, size, m))
            return 0;
        authentic = 1;
    }
    const uint8_t *plain = m->data;
    size_t plainSize = m->dataSize;
    if (m->flags & V3_FLAG_PRIV) {
        uint8_t iv[USM_AES_BLOCK];
        if (v->priv == VR_SNMP_PRIV_NONE || m->privParametersLength != V3_PRIV_PARAMETERS)
            return 0;
        MakeIv(iv, m->engineBoots, m->engineTime, m->privParameters);
        // In place: the datagram is ours and its ciphertext used only here.
        uint8_t *cipher = datagram + (m->data - datagram);
        if (!UsmAesCfb(v->privKey, iv, cipher, cipher, plainSize, 1))
            return 0;
    }
    if (!V3DecodeScopedPdu(plain, plainSize, &scope, pdu)) {
        if (authentic && (m->flags & V3_FLAG_PRIV))
            FailRequest(s, v, r, VR_SNMP_V3_DECRYPTION_FAILED);
        return 0;
    }
    if (pdu->pduType == BER_PDU_REPORT) {
        HandleReport(s, v, r, m, pdu, authentic);
        return 0;
    }
    // An answer at the level asked for only, to the request of that id.
    int level = (v->auth != USM_AUTH_NONE ? V3_FLAG_AUTH : 0) |
                (v->priv != VR_SNMP_PRIV_NONE ? V3_FLAG_PRIV : 0);
    if (pdu->pduType != BER_PDU_RESPONSE || r->state != V3_SENT ||
        (m->flags & (V3_FLAG_AUTH | V3_FLAG_PRIV)) != level || pdu->requestId != r->requestId)
        return 0;
    if (authentic && (m->engineBoots > e->boots ||
                      (m->engineBoots == e->boots && m->engineTime > EngineTimeNow(e))))
        LearnEngine(e, m);
    if (pdu->errorStatus == V3_ERROR_AUTHORIZATION && v->priv == VR_SNMP_PRIV_NONE) {
        FailRequest(s, v, r, VR_SNMP_V3_PRIVACY_REQUIRED);
        return 0;
    }
    MapExceptions(pdu);
    memcpy(v->answerContext, r->context, r->contextLength);
    pdu->community = v->answerContext;
    pdu->communityLength = r->contextLength;
    SetFailure(v, VR_SNMP_V3_OK);
    ForgetV3Request(r);
    return 1;
}

// ---- the hooks of wsnmp_session.cpp ---------------------------------------

int WsV3Secured(int session)
{
    return InterlockedCompareExchange(&s_secured[session], 0, 0) != 0;
}

size_t WsV3EncodeRequest(int session, const WsAddress *destination, const WsContext *context,
                         const BerMessage *message, uint8_t *out, size_t capacity)
{
    V3Session *v = s_sessions[session];
    V3Request *r = NULL;
    if (v == NULL || context->length > WS_MAX_COMMUNITY)
        return 0;
    // A free record, else the oldest: its request is long settled, since
    // the transport keeps no more than this many waiting.
    for (int i = 0; i < WS_MAX_REQUESTS; i++) {
        V3Request *candidate = &v->requests[i];
        if (candidate->state == V3_FREE) {
            r = candidate;
            break;
        }
        if (r == NULL || candidate->sentAt < r->sentAt)
            r = candidate;
    }
    ForgetV3Request(r);
    size_t pduSize = BerEncodePdu(message, v->work, V3_WORK_BUFFER);
    if (pduSize == 0 || (r->pdu = (uint8_t *)malloc(pduSize)) == NULL)
        return 0;
    memcpy(r->pdu, v->work, pduSize);
    r->pduSize = pduSize;
    r->requestId = message->requestId;
    r->destination = *destination;
    r->recovered = 0;
    r->sentAt = GetTickCount64();
    r->contextLength = context->length;
    memcpy(r->context, context->bytes, context->length);
    V3Engine *e = EngineFor(destination, 0);
    size_t size = e != NULL && e->idLength > 0 ? WrapRequest(v, e, r, out, capacity)
                                               : WrapDiscovery(r, out, capacity);
    if (size == 0) {
        ForgetV3Request(r);
        return 0;
    }
    SetFailure(v, VR_SNMP_V3_NO_ANSWER);
    return size;
}

int WsV3ReadMessage(int session, uint8_t *datagram, size_t size, const WsAddress *source,
                    BerMessage *message)
{
    V3Message m;
    if (!V3DecodeMessage(datagram, size, &m))
        return 0;
    WsLock();
    V3Session *v = s_sessions[session];
    int answer = v != NULL &&
                 HandleMessage(&g_wsSessions[session], v, datagram, size, source, &m, message);
    WsUnlock();
    return answer;
}

void WsV3ReleaseSession(int session)
{
    V3Session *v = s_sessions[session];
    InterlockedExchange(&s_secured[session], 0);
    s_sessions[session] = NULL;
    if (v == NULL)
        return;
    for (int i = 0; i < WS_MAX_REQUESTS; i++)
        ForgetV3Request(&v->requests[i]);
    if (v->work != NULL) {
        UsmWipe(v->work, V3_WORK_BUFFER);
        free(v->work);
    }
    UsmWipe(v, sizeof(*v));
    free(v);
}

// ---- the extension's calls ------------------------------------------------

static int AuthProtocol(int protocol)
{
    switch (protocol) {
    case VR_SNMP_AUTH_NONE:
        return USM_AUTH_NONE;
    case VR_SNMP_AUTH_MD5:
        return USM_AUTH_MD5;
    case VR_SNMP_AUTH_SHA:
        return USM_AUTH_SHA;
    case VR_SNMP_AUTH_SHA256:
        return USM_AUTH_SHA256;
    default:
        return -1;
    }
}

// A password's length, or 0 when it is no usable password.
static size_t PasswordLength(const char *password)
{
    size_t length = strnlen(password, VR_SNMP_MAX_PASSWORD + 1);
    return length < VR_SNMP_MIN_PASSWORD || length > VR_SNMP_MAX_PASSWORD ? 0 : length;
}

SNMPAPI_STATUS WINAPI VrSnmpSetSessionSecurity(HSNMP_SESSION session,
                                               const VrSnmpSecurity *security)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    V3Session *v = NULL;
    int index = -1;
    int mode = 1;
    size_t userLength = 0;
    WsLock();
    index = WsSessionIndex(session);
    WsUnlock();
    if (index < 0)
        return SNMPAPI_FAILURE;
    // Checked and turned into keys without the lock: a key takes a megabyte
    // of hashing.
    v = (V3Session *)calloc(1, sizeof(V3Session));
    if (v == NULL || (v->work = (uint8_t *)malloc(V3_WORK_BUFFER)) == NULL) {
        WsLock();
        WsFail(index, SNMPAPI_ALLOC_ERROR);
        WsUnlock();
        goto done;
    }
    if (security != NULL) {
        userLength = strnlen(security->userName, VR_SNMP_MAX_USER + 1);
        v->auth = AuthProtocol(security->authProtocol);
        v->priv = security->privProtocol;
    }
    if (security == NULL || userLength == 0 || userLength > VR_SNMP_MAX_USER || v->auth < 0 ||
        (v->priv != VR_SNMP_PRIV_NONE && v->priv != VR_SNMP_PRIV_AES) ||
        (v->priv != VR_SNMP_PRIV_NONE && v->auth == USM_AUTH_NONE))
        mode = 0;
    if (mode && v->auth != USM_AUTH_NONE) {
        size_t length = PasswordLength(security->authPassword);
        mode = length > 0 &&
               UsmPasswordToKey(v->auth, security->authPassword, length, v->authKu);
    }
    if (mode && v->priv != VR_SNMP_PRIV_NONE) {
        size_t length = PasswordLength(security->privPassword);
        mode = length > 0 &&
               UsmPasswordToKey(v->auth, security->privPassword, length, v->privKu);
    }
    WsLock();
    if (WsSessionIndex(session) != index) {
        WsUnlock();
        goto done;                           // closed meanwhile
    }
    if (!mode) {
        WsFail(index, SNMPAPI_MODE_INVALID);
    } else if (g_wsSessions[index].sends > 0) {
        WsFail(index, SNMPAPI_OPERATION_INVALID);
    } else {
        memcpy(v->user, security->userName, userLength);
        v->userLength = (uint32_t)userLength;
        v->failure = VR_SNMP_V3_OK;
        WsV3ReleaseSession(index);           // credentials taken earlier
        s_sessions[index] = v;
        v = NULL;
        InterlockedExchange(&s_secured[index], 1);
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
done:
    if (v != NULL) {
        if (v->work != NULL)
            free(v->work);
        UsmWipe(v, sizeof(*v));
        free(v);
    }
    return result;
}

int WINAPI VrSnmpGetV3Failure(HSNMP_SESSION session)
{
    if (session == NULL)
        return (int)InterlockedCompareExchange(&s_lastFailure, 0, 0);
    int failure = VR_SNMP_V3_OK;
    WsLock();
    int index = WsSessionIndex(session);
    if (index >= 0 && s_sessions[index] != NULL)
        failure = s_sessions[index]->failure;
    WsUnlock();
    return failure;
}

SNMPAPI_STATUS WINAPI VrSnmpForgetTaskState(void)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    // The message ids run on: a late reply to an earlier request never matches.
    if (WsForgetTaskState()) {
        memset(s_engines, 0, sizeof(s_engines));
        InterlockedExchange(&s_lastFailure, VR_SNMP_V3_OK);
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}
