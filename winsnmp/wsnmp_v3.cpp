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
    V3_TIME_WINDOW = 150,           // seconds an authentic message may lag our notion
    V3_MSG_ID_RANGE = 0x3FFFFFFF,   // where the first message id is drawn
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
static_assert((int)VR_SNMP_MAX_KEY == (int)USM_MAX_KEY, "the keys of VrSnmpMakeKeys are the sessions' keys");

// An agent's engine as last learnt, for every session of the process, so
// that only the first walk of an agent pays for the discovery. The id comes
// from the discovery; boots and time only from authentic messages.
struct V3Engine {
    int inUse;
    WsAddress address;
    uint8_t id[V3_MAX_ENGINE_ID];
    uint32_t idLength;
    int confirmed;                  // an authentic message came from this id
    int timeKnown;                  // boots and time come from one
    int32_t boots;
    int32_t time;
    int32_t latestTime;             // the latest time received at these boots
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
    uint8_t contextEngine[V3_MAX_ENGINE_ID];   // the scope it was sent with
    uint32_t contextEngineLength;
    uint8_t *pdu;
    size_t pduSize;
    int bulk;                       // a GetBulk: its answer keeps the exception values
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
static int s_msgIdDrawn;
static volatile LONG s_lastFailure;
static volatile LONG s_outsideWindow;

static void SetFailure(V3Session *v, int failure)
{
    v->failure = failure;
    InterlockedExchange(&s_lastFailure, failure);
}

// Under the lock. The first id of the process is drawn at random, so that
// a reply recorded in an earlier run is unlikely to meet its id again.
// 0 when no random number could be drawn.
static int NextMsgId(int32_t *id)
{
    if (!s_msgIdDrawn) {
        uint32_t start = 0;
        if (!UsmRandom(&start, sizeof(start)))
            return 0;
        s_nextMsgId = (int32_t)(start & V3_MSG_ID_RANGE) + 1;
        s_msgIdDrawn = 1;
    }
    if (s_nextMsgId <= 0 || s_nextMsgId == 0x7FFFFFFF)
        s_nextMsgId = 1;
    *id = s_nextMsgId++;
    return 1;
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

// The discovery's answer: the id only. Nothing unauthenticated may set the
// boots and time, which an authentic message will bring.
static void LearnEngineId(V3Engine *e, const V3Message *m)
{
    if (e->idLength == m->engineIdLength && memcmp(e->id, m->engineId, e->idLength) == 0)
        return;
    memcpy(e->id, m->engineId, m->engineIdLength);
    e->idLength = m->engineIdLength;
    e->confirmed = 0;
    e->timeKnown = 0;
    e->boots = 0;
    e->time = 0;
    e->latestTime = 0;
    e->learntAt = GetTickCount64();
}

// The time window of the side that is not authoritative, for an authentic
// message: outside it when the boots are at their end, lower than known, or
// the same and the time more than the window behind our notion.
static int InTimeWindow(const V3Engine *e, const V3Message *m)
{
    if (m->engineBoots == V3_MAX_TIME)
        return 0;
    if (!e->timeKnown)
        return 1;
    if (m->engineBoots < e->boots)
        return 0;
    return m->engineBoots > e->boots || m->engineTime >= EngineTimeNow(e) - V3_TIME_WINDOW;
}

// An authentic message within the window moves our notion forward: later
// boots, or the same boots and a later time than any received.
static void LearnEngineTime(V3Engine *e, const V3Message *m)
{
    e->confirmed = 1;
    if (e->timeKnown && (m->engineBoots < e->boots ||
                         (m->engineBoots == e->boots && m->engineTime <= e->latestTime)))
        return;
    e->timeKnown = 1;
    e->boots = m->engineBoots;
    e->time = m->engineTime;
    e->latestTime = m->engineTime;
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
static size_t WrapDiscovery(V3Request *r, uint8_t *out, size_t capacity, int *failure)
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
    *failure = VR_SNMP_V3_NO_RANDOM;
    if (m.dataSize == 0 || !NextMsgId(&r->msgId))
        return 0;
    *failure = VR_SNMP_V3_OK;
    r->state = V3_DISCOVERING;
    m.msgId = r->msgId;
    m.maxSize = BER_MAX_MESSAGE;
    m.flags = V3_FLAG_REPORTABLE;
    m.data = scoped;
    return V3EncodeMessage(&m, out, capacity, &authOffset);
}

// The request under the session's credentials for the engine: scoped PDU,
// enciphered when asked, the digest over the whole message last. Each call
// takes a new message id, the engine's time of now and a new salt. 0 with
// *failure set (VrSnmpV3Failure) when it cannot be made.
static size_t WrapRequest(V3Session *v, V3Engine *e, V3Request *r, uint8_t *out, size_t capacity,
                          int *failure)
{
    uint8_t salt[V3_PRIV_PARAMETERS];
    uint8_t iv[USM_AES_BLOCK];
    uint8_t zeros[V3_MAX_AUTH_PARAMETERS];
    uint8_t mac[USM_MAX_KEY];
    V3Scope scope;
    V3Message m;
    size_t size = 0;
    size_t authOffset = 0;
    *failure = VR_SNMP_V3_CRYPTO_FAILED;
    if (v->auth != USM_AUTH_NONE && !LocalizeKeys(v, e))
        return 0;
    memset(&scope, 0, sizeof(scope));
    memset(&m, 0, sizeof(m));
    memset(zeros, 0, sizeof(zeros));
    scope.contextEngineId = e->id;
    scope.contextEngineIdLength = e->idLength;
    size_t scopedSize = V3EncodeScopedPdu(&scope, r->pdu, r->pduSize, v->work, V3_WORK_BUFFER);
    if (scopedSize == 0) {
        *failure = VR_SNMP_V3_OK;            // too big: the transport says so
        return 0;
    }
    memcpy(r->contextEngine, e->id, e->idLength);
    r->contextEngineLength = e->idLength;
    if (!NextMsgId(&r->msgId)) {
        *failure = VR_SNMP_V3_NO_RANDOM;
        return 0;
    }
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
        uint64_t counter = 0;
        if (!UsmNextSalt(&counter)) {
            *failure = VR_SNMP_V3_NO_RANDOM;
            return 0;
        }
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
    if (size == 0) {
        *failure = VR_SNMP_V3_OK;
        return 0;
    }
    if (v->auth != USM_AUTH_NONE) {
        if (!UsmHmac(v->auth, v->authKey, UsmKeySize(v->auth), out, size, mac))
            return 0;
        memcpy(out + authOffset, mac, m.authParametersLength);
        UsmWipe(mac, sizeof(mac));
    }
    *failure = VR_SNMP_V3_OK;
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

// Wraps the transport's waiting request afresh (a discovery while the
// engine is unknown), so that no two transmissions share a message id, an
// engine time or a salt, and makes it what the transport sends and resends.
// 0 when it cannot be made: the request then ends with the reason.
static int WrapAgain(WsSession *s, V3Session *v, V3Request *r, WsRequest *w)
{
    int why = VR_SNMP_V3_OK;
    uint8_t *datagram = NULL;
    uint8_t *out = (uint8_t *)malloc(BER_MAX_MESSAGE);
    V3Engine *e = EngineFor(&r->destination, 0);
    size_t size = 0;
    if (out != NULL)
        size = e != NULL && e->idLength > 0 ? WrapRequest(v, e, r, out, BER_MAX_MESSAGE, &why)
                                            : WrapDiscovery(r, out, BER_MAX_MESSAGE, &why);
    if (size > 0)
        datagram = (uint8_t *)malloc(size);
    if (datagram == NULL) {
        free(out);
        FailRequest(s, v, r, why != VR_SNMP_V3_OK ? why : VR_SNMP_V3_NO_ANSWER);
        return 0;
    }
    memcpy(datagram, out, size);
    free(out);
    free(w->datagram);
    w->datagram = datagram;
    w->size = (int)size;
    return 1;
}

// Wraps the request again (engine now known, or its time corrected) and
// sends it at once.
static void SendAgain(WsSession *s, V3Session *v, V3Request *r)
{
    WsRequest *w = WaitingRequest(s, r);
    if (w == NULL) {
        ForgetV3Request(r);                  // the caller has given up on it
        return;
    }
    if (!WrapAgain(s, v, r, w))
        return;
    w->deadline = GetTickCount64() + w->timeoutMs;
    sendto(s->sockets[r->destination.addr.ss_family == AF_INET6 ? 1 : 0],
           (const char *)w->datagram, w->size, 0, (const sockaddr *)&r->destination.addr,
           r->destination.length);
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

// A report for the request. Those that only an unauthenticated report can
// carry (unknown engine, unknown user, wrong digest, unsupported level) are
// taken as they come, but an unknown engine for an engine that authentic
// messages confirmed: anyone can send one. The others a correct agent sends
// authenticated; unauthenticated they are ignored and the request's
// retries go on. timeWasKnown: whether the engine's time was known before
// this report.
static void HandleReport(WsSession *s, V3Session *v, V3Request *r, const V3Message *m,
                         const BerMessage *pdu, int authentic, int timeWasKnown)
{
    V3Engine *e = EngineFor(&r->destination, 1);
    int counter = ReportedCounter(pdu);
    switch (counter) {
    case USM_STATS_UNKNOWN_ENGINE:
        if (r->state == V3_SENT && e->confirmed && !authentic)
            return;
        // The discovery's answer; later, an engine never confirmed.
        if (m->engineIdLength < V3_MIN_ENGINE_ID ||
            (r->state == V3_SENT && r->recovered)) {
            FailRequest(s, v, r, VR_SNMP_V3_UNKNOWN_ENGINE);
            return;
        }
        if (r->state == V3_SENT)
            r->recovered = 1;
        LearnEngineId(e, m);
        SendAgain(s, v, r);
        return;
    case USM_STATS_NOT_IN_TIME_WINDOW:
        if (!authentic || r->state != V3_SENT)
            return;
        // The first authentic word of the engine tells its time: not the one
        // resynchronisation, which is for a clock that moved.
        if (timeWasKnown) {
            if (r->recovered) {
                FailRequest(s, v, r, VR_SNMP_V3_NOT_IN_TIME_WINDOW);
                return;
            }
            r->recovered = 1;
        }
        SendAgain(s, v, r);
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
        if (authentic)
            FailRequest(s, v, r, VR_SNMP_V3_DECRYPTION_FAILED);
        return;
    default:
        if (authentic)
            FailRequest(s, v, r, VR_SNMP_V3_OTHER_REPORT);
        return;
    }
}

// Checks the digest in place: zeroed for the computation, then put back.
// 1 authentic, 0 not, -1 when the digest could not be computed.
static int Authentic(V3Session *v, uint8_t *datagram, size_t size, const V3Message *m)
{
    uint8_t received[V3_MAX_AUTH_PARAMETERS];
    uint8_t mac[USM_MAX_KEY];
    size_t macSize = UsmMacSize(v->auth);
    if (m->authParametersLength != macSize)
        return 0;
    memcpy(received, datagram + m->authOffset, macSize);
    memset(datagram + m->authOffset, 0, macSize);
    int ok = UsmHmac(v->auth, v->authKey, UsmKeySize(v->auth), datagram, size, mac) ? 1 : -1;
    if (ok == 1)
        ok = UsmSameBytes(mac, received, macSize);
    memcpy(datagram + m->authOffset, received, macSize);
    UsmWipe(mac, sizeof(mac));
    return ok;
}

static int SameBytes(const uint8_t *a, uint32_t aLength, const uint8_t *b, uint32_t bLength)
{
    return aLength == bLength && (aLength == 0 || memcmp(a, b, aLength) == 0);
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
    int timeWasKnown = e->timeKnown;
    if (m->flags & V3_FLAG_AUTH) {
        // Before anything of it is used: our user, the engine we know, and
        // the digest under our key for that engine.
        if (v->auth == USM_AUTH_NONE || r->state != V3_SENT ||
            !SameBytes(m->userName, m->userNameLength, v->user, v->userLength) ||
            !SameBytes(m->engineId, m->engineIdLength, e->id, e->idLength))
            return 0;
        if (!LocalizeKeys(v, e)) {
            FailRequest(s, v, r, VR_SNMP_V3_CRYPTO_FAILED);
            return 0;
        }
        int verdict = Authentic(v, datagram, size, m);
        if (verdict < 0)
            FailRequest(s, v, r, VR_SNMP_V3_CRYPTO_FAILED);
        if (verdict != 1)
            return 0;
        // Replayed or stale: dropped, as if it never came.
        if (!InTimeWindow(e, m)) {
            InterlockedIncrement(&s_outsideWindow);
            return 0;
        }
        LearnEngineTime(e, m);
        authentic = 1;
    }
    const uint8_t *plain = m->data;
    size_t plainSize = m->dataSize;
    if (m->flags & V3_FLAG_PRIV) {
        uint8_t iv[USM_AES_BLOCK];
        if (v->priv == VR_SNMP_PRIV_NONE || m->privParametersLength != V3_PRIV_PARAMETERS)
            return 0;
        MakeIv(iv, m->engineBoots, m->engineTime, m->privParameters);
        // In place: the datagram is ours and its ciphertext used only here;
        // the receive path wipes it once the answer is copied.
        uint8_t *cipher = datagram + (m->data - datagram);
        int deciphered = UsmAesCfb(v->privKey, iv, cipher, cipher, plainSize, 1);
        UsmWipe(iv, sizeof(iv));
        if (!deciphered) {
            FailRequest(s, v, r, VR_SNMP_V3_CRYPTO_FAILED);
            return 0;
        }
    }
    if (!V3DecodeScopedPdu(plain, plainSize, &scope, pdu)) {
        if (authentic && (m->flags & V3_FLAG_PRIV))
            FailRequest(s, v, r, VR_SNMP_V3_DECRYPTION_FAILED);
        return 0;
    }
    if (pdu->pduType == BER_PDU_REPORT) {
        HandleReport(s, v, r, m, pdu, authentic, timeWasKnown);
        return 0;
    }
    // An answer at the level asked for only, to the request of that id, from
    // the engine and user asked, in the context asked.
    int level = (v->auth != USM_AUTH_NONE ? V3_FLAG_AUTH : 0) |
                (v->priv != VR_SNMP_PRIV_NONE ? V3_FLAG_PRIV : 0);
    if (pdu->pduType != BER_PDU_RESPONSE || r->state != V3_SENT ||
        (m->flags & (V3_FLAG_AUTH | V3_FLAG_PRIV)) != level || pdu->requestId != r->requestId ||
        !SameBytes(m->userName, m->userNameLength, v->user, v->userLength) ||
        !SameBytes(m->engineId, m->engineIdLength, e->id, e->idLength) ||
        !SameBytes(scope.contextEngineId, scope.contextEngineIdLength, r->contextEngine,
                   r->contextEngineLength) ||
        scope.contextNameLength != 0)
        return 0;
    if (pdu->errorStatus == V3_ERROR_AUTHORIZATION && v->priv == VR_SNMP_PRIV_NONE) {
        FailRequest(s, v, r, VR_SNMP_V3_PRIVACY_REQUIRED);
        return 0;
    }
    // A GetBulk's walk reads endOfMibView itself, as over SNMPv2c.
    if (!r->bulk)
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
                         const BerMessage *message, uint8_t *out, size_t capacity,
                         SNMPAPI_STATUS *error)
{
    V3Session *v = s_sessions[session];
    V3Request *r = NULL;
    int failure = VR_SNMP_V3_OK;
    *error = SNMPAPI_TL_PDU_TOO_BIG;
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
    r->bulk = message->pduType == BER_PDU_GETBULK;
    r->requestId = message->requestId;
    r->destination = *destination;
    r->recovered = 0;
    r->sentAt = GetTickCount64();
    r->contextLength = context->length;
    memcpy(r->context, context->bytes, context->length);
    V3Engine *e = EngineFor(destination, 0);
    size_t size = 0;
    if (e != NULL && e->idLength > 0)
        size = WrapRequest(v, e, r, out, capacity, &failure);
    else
        size = WrapDiscovery(r, out, capacity, &failure);
    if (size == 0) {
        // Not too big but no key, cipher or random number: said as such.
        if (failure != VR_SNMP_V3_OK) {
            SetFailure(v, failure);
            *error = SNMPAPI_OTHER_ERROR;
        }
        ForgetV3Request(r);
        return 0;
    }
    SetFailure(v, VR_SNMP_V3_NO_ANSWER);
    return size;
}

int WsV3WrapAgain(int session, WsRequest *request)
{
    V3Session *v = s_sessions[session];
    if (v == NULL)
        return 1;
    for (int i = 0; i < WS_MAX_REQUESTS; i++) {
        V3Request *r = &v->requests[i];
        if (r->state != V3_FREE && r->requestId == request->requestId &&
            WsSameAddress(&r->destination, &request->destination))
            return WrapAgain(&g_wsSessions[session], v, r, request);
    }
    return 1;                                // settled meanwhile: the bytes as they are
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
    if (mode && security->keysMade) {
        // Made once for the run: only copied.
        memcpy(v->authKu, security->authKey, sizeof(v->authKu));
        memcpy(v->privKu, security->privKey, sizeof(v->privKu));
    } else {
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

SNMPAPI_STATUS WINAPI VrSnmpMakeKeys(VrSnmpSecurity *security)
{
    uint8_t authKey[USM_MAX_KEY];
    uint8_t privKey[USM_MAX_KEY];
    int ok = 1;
    if (security == NULL)
        return SNMPAPI_FAILURE;
    if (security->keysMade)
        return SNMPAPI_SUCCESS;
    int auth = AuthProtocol(security->authProtocol);
    memset(authKey, 0, sizeof(authKey));
    memset(privKey, 0, sizeof(privKey));
    if (auth < 0 || (security->privProtocol != VR_SNMP_PRIV_NONE && auth == USM_AUTH_NONE))
        ok = 0;
    if (ok && auth != USM_AUTH_NONE) {
        size_t length = PasswordLength(security->authPassword);
        ok = length > 0 && UsmPasswordToKey(auth, security->authPassword, length, authKey);
    }
    if (ok && security->privProtocol != VR_SNMP_PRIV_NONE) {
        size_t length = PasswordLength(security->privPassword);
        ok = length > 0 && UsmPasswordToKey(auth, security->privPassword, length, privKey);
    }
    if (ok) {
        memcpy(security->authKey, authKey, sizeof(security->authKey));
        memcpy(security->privKey, privKey, sizeof(security->privKey));
        UsmWipe(security->authPassword, sizeof(security->authPassword));
        UsmWipe(security->privPassword, sizeof(security->privPassword));
        security->keysMade = 1;
    }
    UsmWipe(authKey, sizeof(authKey));
    UsmWipe(privKey, sizeof(privKey));
    return ok ? SNMPAPI_SUCCESS : SNMPAPI_FAILURE;
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

LONG WINAPI VrSnmpGetV3OutsideWindow(void)
{
    return InterlockedCompareExchange(&s_outsideWindow, 0, 0);
}

SNMPAPI_STATUS WINAPI VrSnmpGetConfirmedEngine(UINT index, LPSTR address, UINT addressSize,
                                               smiLPBYTE engineId, UINT engineIdSize,
                                               UINT *engineIdLength)
{
    WsAddress agent;
    uint8_t id[V3_MAX_ENGINE_ID];
    uint32_t idLength = 0;
    UINT seen = 0;
    int found = 0;
    if (address == NULL || addressSize == 0 || engineId == NULL || engineIdLength == NULL)
        return SNMPAPI_FAILURE;
    WsLock();
    for (int i = 0; i < V3_MAX_AGENTS && !found; i++) {
        const V3Engine *e = &s_engines[i];
        if (!e->inUse || !e->confirmed || e->idLength == 0 || seen++ != index)
            continue;
        agent = e->address;
        idLength = e->idLength;
        memcpy(id, e->id, idLength);
        found = 1;
    }
    WsUnlock();
    // Named outside the lock: getnameinfo may ask the platform for a zone.
    if (!found || idLength > engineIdSize ||
        getnameinfo((const sockaddr *)&agent.addr, agent.length, address, addressSize, NULL, 0,
                    NI_NUMERICHOST) != 0)
        return SNMPAPI_FAILURE;
    memcpy(engineId, id, idLength);
    *engineIdLength = idLength;
    return SNMPAPI_SUCCESS;
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
