// Our WinSNMP's handle tables, start-up and clean-up, last errors, entities
// and contexts.
#include "winsnmp/wsnmp_internal.h"

#include <string.h>

#include "common/text.h"

// A handle is a number, never a pointer: bits 0-11 index the table, 12-27
// hold the record's generation, 28-30 the kind. Nothing is dereferenced
// before the number has been matched against a live record.
enum {
    WS_INDEX_BITS = 12,
    WS_GENERATION_BITS = 16,
    WS_KIND_SHIFT = 28
};

// Process-wide, as WinSNMP's state is per task: every table and every
// session's queue is guarded by this one lock.
static SRWLOCK g_wsLock = SRWLOCK_INIT;

int g_wsStartups;
WsSession g_wsSessions[WS_MAX_SESSIONS];
WsEntity g_wsEntities[WS_MAX_ENTITIES];
WsContext g_wsContexts[WS_MAX_CONTEXTS];
WsPdu g_wsPdus[WS_MAX_PDUS];
WsVbl g_wsVbls[WS_MAX_VBLS];
smiUINT32 g_wsTranslateMode = SNMPAPI_UNTRANSLATED_V1;

// Last errors: of the whole task (SnmpGetLastError(NULL)), and of calls that
// concern no session (a freed handle names none). The sequence orders them
// against the sessions' own errors.
static SNMPAPI_STATUS g_wsLastError;
static SNMPAPI_STATUS g_wsUnattributedError;
static uint64_t g_wsUnattributedSequence;
static uint64_t g_wsErrorSequence;

static int g_entityCursor;
static int g_contextCursor;
static int g_pduCursor;
static int g_vblCursor;
static int g_sessionCursor;

// One Winsock reference of our own, taken by the first SnmpStartup and held
// to the process's end: a caller that starts and cleans up both for every
// walk would otherwise pay Winsock's whole tear-down each time.
static int g_wsWinsockHeld;

void WsLock(void)
{
    AcquireSRWLockExclusive(&g_wsLock);
}

void WsUnlock(void)
{
    ReleaseSRWLockExclusive(&g_wsLock);
}

SNMPAPI_STATUS WsFail(int session, SNMPAPI_STATUS code)
{
    g_wsErrorSequence++;
    g_wsLastError = code;
    if (session >= 0 && session < WS_MAX_SESSIONS) {
        g_wsSessions[session].error = code;
        g_wsSessions[session].errorSequence = g_wsErrorSequence;
    } else {
        g_wsUnattributedError = code;
        g_wsUnattributedSequence = g_wsErrorSequence;
    }
    return SNMPAPI_FAILURE;
}

int WsForgetTaskState(void)
{
    if (g_wsStartups != 0)
        return 0;
    g_wsLastError = 0;
    g_wsUnattributedError = 0;
    g_wsUnattributedSequence = 0;
    g_wsErrorSequence = 0;
    for (int i = 0; i < WS_MAX_SESSIONS; i++) {
        g_wsSessions[i].error = 0;
        g_wsSessions[i].errorSequence = 0;
    }
    g_wsTranslateMode = SNMPAPI_UNTRANSLATED_V1;
    g_entityCursor = 0;
    g_contextCursor = 0;
    g_pduCursor = 0;
    g_vblCursor = 0;
    g_sessionCursor = 0;
    return 1;
}

HANDLE WsMakeHandle(int kind, int index, uint32_t generation)
{
    uintptr_t value = ((uintptr_t)kind << WS_KIND_SHIFT) |
                      ((uintptr_t)generation << WS_INDEX_BITS) | (uintptr_t)index;
    return (HANDLE)value;
}

static WsSlot *SlotAt(void *table, size_t stride, int index)
{
    return (WsSlot *)((char *)table + stride * (size_t)index);
}

static int FindSlot(HANDLE handle, int kind, void *table, size_t stride, int capacity)
{
    uintptr_t value = (uintptr_t)handle;
    if (value >> 31 != 0 || (int)(value >> WS_KIND_SHIFT) != kind)
        return -1;
    int index = (int)(value & ((1u << WS_INDEX_BITS) - 1));
    uint32_t generation = (uint32_t)((value >> WS_INDEX_BITS) & ((1u << WS_GENERATION_BITS) - 1));
    if (index >= capacity)
        return -1;
    WsSlot *slot = SlotAt(table, stride, index);
    if (!slot->inUse || slot->generation != generation)
        return -1;
    return index;
}

static int ClaimSlot(void *table, size_t stride, int capacity, int *cursor, int session)
{
    for (int n = 0; n < capacity; n++) {
        int index = (*cursor + n) % capacity;
        WsSlot *slot = SlotAt(table, stride, index);
        if (!slot->inUse) {
            *cursor = (index + 1) % capacity;
            if (slot->generation == 0)
                slot->generation = 1;
            slot->inUse = 1;
            slot->session = session;
            return index;
        }
    }
    return -1;
}

void WsReleaseSlot(WsSlot *slot)
{
    slot->inUse = 0;
    slot->generation = (slot->generation + 1) & ((1u << WS_GENERATION_BITS) - 1);
    if (slot->generation == 0)
        slot->generation = 1;
}

int WsClaimEntity(int session)
{
    return ClaimSlot(g_wsEntities, sizeof(WsEntity), WS_MAX_ENTITIES, &g_entityCursor, session);
}

int WsClaimContext(int session)
{
    return ClaimSlot(g_wsContexts, sizeof(WsContext), WS_MAX_CONTEXTS, &g_contextCursor, session);
}

int WsClaimPdu(int session)
{
    return ClaimSlot(g_wsPdus, sizeof(WsPdu), WS_MAX_PDUS, &g_pduCursor, session);
}

int WsClaimVbl(int session)
{
    return ClaimSlot(g_wsVbls, sizeof(WsVbl), WS_MAX_VBLS, &g_vblCursor, session);
}

int WsSessionIndex(HSNMP_SESSION session)
{
    if (g_wsStartups == 0) {
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
        return -1;
    }
    int index = FindSlot(session, WS_KIND_SESSION, g_wsSessions, sizeof(WsSession),
                         WS_MAX_SESSIONS);
    if (index < 0 || g_wsSessions[index].closing) {
        WsFail(-1, SNMPAPI_SESSION_INVALID);
        return -1;
    }
    return index;
}

// The objects of a session being closed are gone for the caller already.
static int CheckOwner(int index, const WsSlot *slot, SNMPAPI_STATUS code)
{
    if (index < 0 || g_wsSessions[slot->session].closing) {
        WsFail(-1, code);
        return -1;
    }
    return index;
}

int WsEntityIndex(HSNMP_ENTITY entity)
{
    if (g_wsStartups == 0) {
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
        return -1;
    }
    int index = FindSlot(entity, WS_KIND_ENTITY, g_wsEntities, sizeof(WsEntity), WS_MAX_ENTITIES);
    return CheckOwner(index, index < 0 ? NULL : &g_wsEntities[index].slot, SNMPAPI_ENTITY_INVALID);
}

int WsContextIndex(HSNMP_CONTEXT context)
{
    if (g_wsStartups == 0) {
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
        return -1;
    }
    int index = FindSlot(context, WS_KIND_CONTEXT, g_wsContexts, sizeof(WsContext),
                         WS_MAX_CONTEXTS);
    return CheckOwner(index, index < 0 ? NULL : &g_wsContexts[index].slot,
                      SNMPAPI_CONTEXT_INVALID);
}

int WsPduIndex(HSNMP_PDU pdu)
{
    if (g_wsStartups == 0) {
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
        return -1;
    }
    int index = FindSlot(pdu, WS_KIND_PDU, g_wsPdus, sizeof(WsPdu), WS_MAX_PDUS);
    return CheckOwner(index, index < 0 ? NULL : &g_wsPdus[index].slot, SNMPAPI_PDU_INVALID);
}

int WsVblIndex(HSNMP_VBL vbl)
{
    if (g_wsStartups == 0) {
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
        return -1;
    }
    int index = FindSlot(vbl, WS_KIND_VBL, g_wsVbls, sizeof(WsVbl), WS_MAX_VBLS);
    return CheckOwner(index, index < 0 ? NULL : &g_wsVbls[index].slot, SNMPAPI_VBL_INVALID);
}

int WsSameAddress(const WsAddress *a, const WsAddress *b)
{
    if (a->addr.ss_family != b->addr.ss_family)
        return 0;
    if (a->addr.ss_family == AF_INET) {
        const sockaddr_in *x = (const sockaddr_in *)&a->addr;
        const sockaddr_in *y = (const sockaddr_in *)&b->addr;
        return x->sin_port == y->sin_port && x->sin_addr.s_addr == y->sin_addr.s_addr;
    }
    if (a->addr.ss_family == AF_INET6) {
        const sockaddr_in6 *x = (const sockaddr_in6 *)&a->addr;
        const sockaddr_in6 *y = (const sockaddr_in6 *)&b->addr;
        return x->sin6_port == y->sin6_port && x->sin6_scope_id == y->sin6_scope_id &&
               memcmp(&x->sin6_addr, &y->sin6_addr, sizeof(x->sin6_addr)) == 0;
    }
    return 0;
}

// The first live entity of the session with this address and port.
static int FindEntity(int session, const WsAddress *address, int version)
{
    for (int i = 0; i < WS_MAX_ENTITIES; i++) {
        const WsEntity *e = &g_wsEntities[i];
        if (e->slot.inUse && e->slot.session == session && e->version == version &&
            WsSameAddress(&e->address, address))
            return i;
    }
    return -1;
}

int WsEntityFor(int session, const WsAddress *address, int version)
{
    int index = FindEntity(session, address, version);
    if (index >= 0) {
        g_wsEntities[index].references++;
        return index;
    }
    index = WsClaimEntity(session);
    if (index < 0)
        return -1;
    WsEntity *e = &g_wsEntities[index];
    e->references = 1;
    e->address = *address;
    e->timeout = WS_DEFAULT_TIMEOUT;
    e->retry = WS_DEFAULT_RETRY;
    e->version = version;
    return index;
}

int WsContextFor(int session, const uint8_t *bytes, uint32_t length)
{
    if (length > WS_MAX_COMMUNITY)
        return -1;
    for (int i = 0; i < WS_MAX_CONTEXTS; i++) {
        WsContext *c = &g_wsContexts[i];
        if (c->slot.inUse && c->slot.session == session && c->length == length &&
            (length == 0 || memcmp(c->bytes, bytes, length) == 0)) {
            c->references++;
            return i;
        }
    }
    int index = WsClaimContext(session);
    if (index < 0)
        return -1;
    WsContext *c = &g_wsContexts[index];
    c->references = 1;
    c->length = length;
    if (length > 0)
        memcpy(c->bytes, bytes, length);
    return index;
}

void WsReleaseSessionObjects(int session)
{
    for (int i = 0; i < WS_MAX_ENTITIES; i++) {
        if (g_wsEntities[i].slot.inUse && g_wsEntities[i].slot.session == session)
            WsReleaseSlot(&g_wsEntities[i].slot);
    }
    for (int i = 0; i < WS_MAX_CONTEXTS; i++) {
        if (g_wsContexts[i].slot.inUse && g_wsContexts[i].slot.session == session)
            WsReleaseSlot(&g_wsContexts[i].slot);
    }
    for (int i = 0; i < WS_MAX_PDUS; i++) {
        if (g_wsPdus[i].slot.inUse && g_wsPdus[i].slot.session == session) {
            WsFreeList(&g_wsPdus[i].list);
            WsReleaseSlot(&g_wsPdus[i].slot);
        }
    }
    for (int i = 0; i < WS_MAX_VBLS; i++) {
        if (g_wsVbls[i].slot.inUse && g_wsVbls[i].slot.session == session) {
            WsFreeList(&g_wsVbls[i].list);
            WsReleaseSlot(&g_wsVbls[i].slot);
        }
    }
}

int WsClaimSession(void)
{
    return ClaimSlot(g_wsSessions, sizeof(WsSession), WS_MAX_SESSIONS, &g_sessionCursor, -1);
}

// ---------------------------------------------------------------- the API

SNMPAPI_STATUS WINAPI SnmpStartup(smiLPUINT32 nMajorVersion, smiLPUINT32 nMinorVersion,
                                  smiLPUINT32 nLevel, smiLPUINT32 nTranslateMode,
                                  smiLPUINT32 nRetransmitMode)
{
    WSADATA data;
    // Our own reference on Winsock, so that callers need not start it first.
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        WsLock();
        WsFail(-1, SNMPAPI_TL_NOT_INITIALIZED);
        WsUnlock();
        return SNMPAPI_FAILURE;
    }
    WsLock();
    g_wsStartups++;
    if (!g_wsWinsockHeld)
        g_wsWinsockHeld = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    WsUnlock();
    if (nMajorVersion != NULL)
        *nMajorVersion = 2;
    if (nMinorVersion != NULL)
        *nMinorVersion = 0;
    if (nLevel != NULL)
        *nLevel = SNMPAPI_V2_SUPPORT;
    if (nTranslateMode != NULL)
        *nTranslateMode = SNMPAPI_UNTRANSLATED_V1;
    if (nRetransmitMode != NULL)
        *nRetransmitMode = SNMPAPI_ON;
    return SNMPAPI_SUCCESS;
}

SNMPAPI_STATUS WINAPI SnmpCleanup(void)
{
    int closing[WS_MAX_SESSIONS];
    int count = 0;

    WsLock();
    if (g_wsStartups == 0) {
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
        WsUnlock();
        return SNMPAPI_FAILURE;
    }
    g_wsStartups--;
    if (g_wsStartups == 0) {
        for (int i = 0; i < WS_MAX_SESSIONS; i++) {
            if (g_wsSessions[i].slot.inUse && !g_wsSessions[i].closing) {
                g_wsSessions[i].closing = 1;
                closing[count++] = i;
            }
        }
    }
    WsUnlock();
    // Threads are joined without the lock: they take it to queue what arrives.
    for (int i = 0; i < count; i++)
        WsCloseSession(closing[i]);
    WSACleanup();
    return SNMPAPI_SUCCESS;
}

SNMPAPI_STATUS WINAPI SnmpSetTranslateMode(smiUINT32 nTranslateMode)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    if (g_wsStartups == 0)
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
    else if (nTranslateMode != SNMPAPI_UNTRANSLATED_V1 &&
             nTranslateMode != SNMPAPI_UNTRANSLATED_V2)
        WsFail(-1, SNMPAPI_MODE_INVALID);      // entities are addresses only
    else {
        g_wsTranslateMode = nTranslateMode;
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpGetTranslateMode(smiLPUINT32 nTranslateMode)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    if (g_wsStartups == 0)
        WsFail(-1, SNMPAPI_NOT_INITIALIZED);
    else if (nTranslateMode == NULL)
        WsFail(-1, SNMPAPI_NOOP);
    else {
        *nTranslateMode = g_wsTranslateMode;
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpGetLastError(HSNMP_SESSION session)
{
    SNMPAPI_STATUS result = SNMPAPI_NOT_INITIALIZED;
    WsLock();
    if (g_wsStartups == 0) {
        result = SNMPAPI_NOT_INITIALIZED;
    } else if (session == NULL) {
        result = g_wsLastError;
    } else {
        int index = FindSlot(session, WS_KIND_SESSION, g_wsSessions, sizeof(WsSession),
                             WS_MAX_SESSIONS);
        if (index < 0 || g_wsSessions[index].closing) {
            result = SNMPAPI_SESSION_INVALID;
        } else {
            // A failure on a handle that names no session (a freed one) is
            // still the session's news when it came last.
            const WsSession *s = &g_wsSessions[index];
            result = s->errorSequence >= g_wsUnattributedSequence ? s->error
                                                                   : g_wsUnattributedError;
        }
    }
    WsUnlock();
    return result;
}

// The scope of an IPv6 text whose zone is an interface's name, as the
// platform's resolver reads it; 0 when it cannot, or when it reads another
// address than the one already parsed.
static ULONG ScopeOfZoneName(const char *text, const in6_addr *parsed)
{
    addrinfo hints;
    addrinfo *list = NULL;
    ULONG scope = 0;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    if (getaddrinfo(text, NULL, &hints, &list) != 0 || list == NULL)
        return 0;
    if (list->ai_family == AF_INET6 && list->ai_addrlen >= sizeof(sockaddr_in6)) {
        const sockaddr_in6 *found = (const sockaddr_in6 *)list->ai_addr;
        if (memcmp(&found->sin6_addr, parsed, sizeof(*parsed)) == 0)
            scope = found->sin6_scope_id;
    }
    freeaddrinfo(list);
    return scope;
}

// The zone after the '%' of an IPv6 text: an interface index in decimal, or
// an interface's name. Returns 1 with the scope set, 0 when it is neither.
static int ParseZone(const char *text, const char *zone, const in6_addr *parsed, ULONG *scope)
{
    if (*zone == '\0')
        return 0;
    uint64_t index = 0;
    const char *p = zone;
    while (*p >= '0' && *p <= '9') {
        index = index * 10 + (uint64_t)(*p - '0');
        if (index > 0xFFFFFFFFu)
            return 0;
        p++;
    }
    if (*p == '\0') {
        *scope = (ULONG)index;
        return 1;
    }
    *scope = ScopeOfZoneName(text, parsed);
    return *scope != 0;
}

// Numeric IPv4 or IPv6 text only: this is the untranslated mode. An IPv6
// address may carry a zone, in every form the platform's getnameinfo
// (NI_NUMERICHOST) writes one: the interface's index ("fe80::1%2", as
// Windows writes it) or its name ("fe80::1%lo", as Wine does). Datagrams to
// the entity then leave through that interface.
static int ParseEntityAddress(const char *text, WsAddress *address)
{
    memset(address, 0, sizeof(*address));
    sockaddr_in *v4 = (sockaddr_in *)&address->addr;
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(WS_DEFAULT_PORT);
        address->length = sizeof(sockaddr_in);
        return 1;
    }
    sockaddr_in6 *v6 = (sockaddr_in6 *)&address->addr;
    char host[INET6_ADDRSTRLEN];
    const char *zone = strchr(text, '%');
    size_t hostLength = zone == NULL ? strlen(text) : (size_t)(zone - text);
    if (hostLength == 0 || hostLength >= sizeof(host))
        return 0;
    CopyTextN(host, sizeof(host), text, hostLength);
    if (inet_pton(AF_INET6, host, &v6->sin6_addr) != 1)
        return 0;
    if (zone != NULL) {
        ULONG scope = 0;
        if (!ParseZone(text, zone + 1, &v6->sin6_addr, &scope))
            return 0;
        v6->sin6_scope_id = scope;
    }
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(WS_DEFAULT_PORT);
    address->length = sizeof(sockaddr_in6);
    return 1;
}

HSNMP_ENTITY WINAPI SnmpStrToEntity(HSNMP_SESSION session, LPCSTR string)
{
    HSNMP_ENTITY result = NULL;
    WsAddress address;
    // Before the lock: a zone's name asks the platform's resolver.
    int parsed = string != NULL && ParseEntityAddress(string, &address);
    WsLock();
    int s = WsSessionIndex(session);
    if (s < 0)
        goto done;
    if (!parsed) {
        WsFail(s, SNMPAPI_ENTITY_UNKNOWN);
        goto done;
    }
    {
        int index = WsEntityFor(s, &address,
                                g_wsTranslateMode == SNMPAPI_UNTRANSLATED_V2 ? BER_VERSION_2C
                                                                             : BER_VERSION_1);
        if (index < 0) {
            WsFail(s, SNMPAPI_ALLOC_ERROR);
            goto done;
        }
        result = WsMakeHandle(WS_KIND_ENTITY, index, g_wsEntities[index].slot.generation);
    }
done:
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpFreeEntity(HSNMP_ENTITY entity)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int index = WsEntityIndex(entity);
    if (index >= 0) {
        if (--g_wsEntities[index].references <= 0)
            WsReleaseSlot(&g_wsEntities[index].slot);
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpSetPort(HSNMP_ENTITY hEntity, UINT nPort)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int index = WsEntityIndex(hEntity);
    if (index >= 0) {
        WsEntity *e = &g_wsEntities[index];
        if (nPort == 0 || nPort > 65535) {
            WsFail(e->slot.session, SNMPAPI_OPERATION_INVALID);
        } else {
            u_short port = htons((u_short)nPort);
            if (e->address.addr.ss_family == AF_INET)
                ((sockaddr_in *)&e->address.addr)->sin_port = port;
            else
                ((sockaddr_in6 *)&e->address.addr)->sin6_port = port;
            result = SNMPAPI_SUCCESS;
        }
    }
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpSetTimeout(HSNMP_ENTITY hEntity, smiTIMETICKS nPolicyTimeout)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int index = WsEntityIndex(hEntity);
    if (index >= 0) {
        g_wsEntities[index].timeout = nPolicyTimeout;
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpSetRetry(HSNMP_ENTITY hEntity, smiUINT32 nPolicyRetry)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int index = WsEntityIndex(hEntity);
    if (index >= 0) {
        g_wsEntities[index].retry = nPolicyRetry;
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}

HSNMP_CONTEXT WINAPI SnmpStrToContext(HSNMP_SESSION session, smiLPCOCTETS string)
{
    HSNMP_CONTEXT result = NULL;
    WsLock();
    int s = WsSessionIndex(session);
    if (s < 0)
        goto done;
    if (string == NULL || (string->len > 0 && string->ptr == NULL)) {
        WsFail(s, SNMPAPI_CONTEXT_INVALID);
        goto done;
    }
    if (string->len > WS_MAX_COMMUNITY) {
        WsFail(s, SNMPAPI_SIZE_INVALID);
        goto done;
    }
    {
        int index = WsContextFor(s, string->ptr, string->len);
        if (index < 0) {
            WsFail(s, SNMPAPI_ALLOC_ERROR);
            goto done;
        }
        result = WsMakeHandle(WS_KIND_CONTEXT, index, g_wsContexts[index].slot.generation);
    }
done:
    WsUnlock();
    return result;
}

SNMPAPI_STATUS WINAPI SnmpFreeContext(HSNMP_CONTEXT context)
{
    SNMPAPI_STATUS result = SNMPAPI_FAILURE;
    WsLock();
    int index = WsContextIndex(context);
    if (index >= 0) {
        if (--g_wsContexts[index].references <= 0)
            WsReleaseSlot(&g_wsContexts[index].slot);
        result = SNMPAPI_SUCCESS;
    }
    WsUnlock();
    return result;
}
