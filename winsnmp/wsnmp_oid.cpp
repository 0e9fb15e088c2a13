// Our WinSNMP's OID conversions and comparison, and the management API's
// lenient SnmpMgrStrToOid.
#include "winsnmp/wsnmp_internal.h"

#include <mgmtapi.h>
#include <snmp.h>
#include <string.h>

#include "common/text.h"

// MIB-II, the Internet management sub-tree that SnmpMgrStrToOid takes text
// without a leading dot to be relative to.
static const uint32_t kMib2[] = {1, 3, 6, 1, 2, 1};

// The names SnmpMgrStrToOid knows, each at its own place in the tree: the
// registration tree down to MIB-II and the enterprises, the MIB-II groups of
// RFC 1213 plus host resources (RFC 2790) and the Printer MIB (RFC 3805),
// which sit under MIB-II too and are what a printer tool asks for, and the
// objects of the system group. A name is taken only below its parent
// ("system" under 1.3.6.1.2.1, "sysDescr" under 1.3.6.1.2.1.1). Names are
// case-sensitive, as MIB names are.
struct TreeName {
    const char *name;
    uint32_t parentLength;
    uint32_t parent[7];
    uint32_t id;
};
static const TreeName kNames[] = {
    {"iso", 0, {0}, 1},
    {"org", 1, {1}, 3},
    {"dod", 2, {1, 3}, 6},
    {"internet", 3, {1, 3, 6}, 1},
    {"directory", 4, {1, 3, 6, 1}, 1},
    {"mgmt", 4, {1, 3, 6, 1}, 2},
    {"experimental", 4, {1, 3, 6, 1}, 3},
    {"private", 4, {1, 3, 6, 1}, 4},
    {"mib-2", 5, {1, 3, 6, 1, 2}, 1},
    {"enterprises", 5, {1, 3, 6, 1, 4}, 1},
    {"system", 6, {1, 3, 6, 1, 2, 1}, 1},
    {"interfaces", 6, {1, 3, 6, 1, 2, 1}, 2},
    {"at", 6, {1, 3, 6, 1, 2, 1}, 3},
    {"ip", 6, {1, 3, 6, 1, 2, 1}, 4},
    {"icmp", 6, {1, 3, 6, 1, 2, 1}, 5},
    {"tcp", 6, {1, 3, 6, 1, 2, 1}, 6},
    {"udp", 6, {1, 3, 6, 1, 2, 1}, 7},
    {"egp", 6, {1, 3, 6, 1, 2, 1}, 8},
    {"transmission", 6, {1, 3, 6, 1, 2, 1}, 10},
    {"snmp", 6, {1, 3, 6, 1, 2, 1}, 11},
    {"host", 6, {1, 3, 6, 1, 2, 1}, 25},
    {"printmib", 6, {1, 3, 6, 1, 2, 1}, 43},
    {"sysDescr", 7, {1, 3, 6, 1, 2, 1, 1}, 1},
    {"sysObjectID", 7, {1, 3, 6, 1, 2, 1, 1}, 2},
    {"sysUpTime", 7, {1, 3, 6, 1, 2, 1, 1}, 3},
    {"sysContact", 7, {1, 3, 6, 1, 2, 1, 1}, 4},
    {"sysName", 7, {1, 3, 6, 1, 2, 1, 1}, 5},
    {"sysLocation", 7, {1, 3, 6, 1, 2, 1, 1}, 6},
    {"sysServices", 7, {1, 3, 6, 1, 2, 1, 1}, 7},
    {"sysORLastChange", 7, {1, 3, 6, 1, 2, 1, 1}, 8},
    {"sysORTable", 7, {1, 3, 6, 1, 2, 1, 1}, 9},
};

// One number of dotted decimal at p: digits only, no sign, no leading zero,
// at most 2^32-1. Returns the first character after it, NULL when there is
// no such number.
static const char *ParseNumber(const char *p, uint32_t *value)
{
    if (*p < '0' || *p > '9' || (*p == '0' && p[1] >= '0' && p[1] <= '9'))
        return NULL;
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (uint64_t)(*p - '0');
        if (v > 0xFFFFFFFFu)
            return NULL;
        p++;
    }
    *value = (uint32_t)v;
    return p;
}

// Strict dotted decimal: numbers and single dots only, no dot at either end,
// no blank. Returns the component count, 0 when the text is not of that form
// or has more than capacity components.
static uint32_t ParseDotted(const char *text, uint32_t *ids, uint32_t capacity)
{
    uint32_t count = 0;
    const char *p = text;
    for (;;) {
        uint32_t value = 0;
        p = ParseNumber(p, &value);
        if (p == NULL || count >= capacity)
            return 0;
        ids[count++] = value;
        if (*p == '\0')
            return count;
        if (*p != '.')
            return 0;
        p++;
    }
}

// The id of the name that the tree has right below ids[0..count), or 0 when
// it has none of that spelling there (no name in the tree has the id 0).
static uint32_t NameBelow(const uint32_t *ids, uint32_t count, const char *name, size_t length)
{
    for (size_t i = 0; i < COUNTOF(kNames); i++) {
        const TreeName *n = &kNames[i];
        if (n->parentLength == count &&
            memcmp(n->parent, ids, count * sizeof(uint32_t)) == 0 &&
            strlen(n->name) == length && strncmp(n->name, name, length) == 0)
            return n->id;
    }
    return 0;
}

// Numbers and names of the tree, separated by single dots, appended to the
// count ids already in ids. Returns the new count, 0 when a component is
// neither a number nor a name the tree has at that place, or when more than
// capacity would be needed.
static uint32_t ParseNamed(const char *text, uint32_t *ids, uint32_t count, uint32_t capacity)
{
    const char *p = text;
    for (;;) {
        if (count >= capacity)
            return 0;
        if (*p >= '0' && *p <= '9') {
            p = ParseNumber(p, &ids[count]);
            if (p == NULL)
                return 0;
        } else {
            const char *start = p;
            while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ||
                   (*p >= '0' && *p <= '9') || *p == '-')
                p++;
            if (p == start || (ids[count] = NameBelow(ids, count, start, (size_t)(p - start))) == 0)
                return 0;
        }
        count++;
        if (*p == '\0')
            return count;
        if (*p != '.')
            return 0;
        p++;
    }
}

static uint32_t *CopyIds(const uint32_t *ids, uint32_t count)
{
    uint32_t *copy = (uint32_t *)SnmpUtilMemAlloc((UINT)(count * sizeof(uint32_t)));
    if (copy != NULL)
        memcpy(copy, ids, count * sizeof(uint32_t));
    return copy;
}

static SNMPAPI_STATUS Fail(SNMPAPI_STATUS code)
{
    WsLock();
    WsFail(-1, code);
    WsUnlock();
    return SNMPAPI_FAILURE;
}

SNMPAPI_STATUS WINAPI SnmpStrToOid(LPCSTR string, smiLPOID dstOID)
{
    uint32_t ids[BER_MAX_OID_LENGTH];
    if (dstOID == NULL)
        return Fail(SNMPAPI_NOOP);
    if (string == NULL)
        return Fail(SNMPAPI_OID_INVALID);
    uint32_t count = ParseDotted(string, ids, BER_MAX_OID_LENGTH);
    if (count == 0 || !BerOidEncodable(ids, count))
        return Fail(SNMPAPI_OID_INVALID);
    uint32_t *copy = CopyIds(ids, count);
    if (copy == NULL)
        return Fail(SNMPAPI_ALLOC_ERROR);
    dstOID->len = count;
    dstOID->ptr = (smiLPUINT32)copy;
    return count;
}

// Returns the length written, with the terminator.
SNMPAPI_STATUS WINAPI SnmpOidToStr(smiLPCOID srcOID, smiUINT32 size, LPSTR string)
{
    char text[MAXOBJIDSTRSIZE];
    size_t length = 0;
    if (string == NULL || size == 0)
        return Fail(SNMPAPI_SIZE_INVALID);
    if (srcOID == NULL || srcOID->len == 0 || srcOID->len > MAXOBJIDSIZE || srcOID->ptr == NULL)
        return Fail(SNMPAPI_OID_INVALID);
    text[0] = '\0';
    for (smiUINT32 i = 0; i < srcOID->len; i++)
        length += FormatText(text + length, COUNTOF(text) - length, i == 0 ? "%lu" : ".%lu",
                             (unsigned long)srcOID->ptr[i]);
    if (length + 1 > size) {
        string[0] = '\0';              // nothing cut silently: the caller learns it
        return Fail(SNMPAPI_OUTPUT_TRUNCATED);
    }
    CopyText(string, size, text);
    return (SNMPAPI_STATUS)(length + 1);
}

// Compares the first maxlen sub-identifiers (all when maxlen is 0); when
// those agree the shorter OID, cut to maxlen, comes first.
SNMPAPI_STATUS WINAPI SnmpOidCompare(smiLPCOID xOID, smiLPCOID yOID, smiUINT32 maxlen,
                                     smiLPINT result)
{
    if (maxlen > MAXOBJIDSIZE)
        return Fail(SNMPAPI_SIZE_INVALID);
    if (xOID == NULL || yOID == NULL || xOID->len > MAXOBJIDSIZE || yOID->len > MAXOBJIDSIZE ||
        (xOID->len > 0 && xOID->ptr == NULL) || (yOID->len > 0 && yOID->ptr == NULL))
        return Fail(SNMPAPI_OID_INVALID);
    if (result == NULL)
        return Fail(SNMPAPI_NOOP);
    smiUINT32 limit = maxlen == 0 ? MAXOBJIDSIZE : maxlen;
    smiUINT32 xLength = xOID->len < limit ? xOID->len : limit;
    smiUINT32 yLength = yOID->len < limit ? yOID->len : limit;
    smiUINT32 common = xLength < yLength ? xLength : yLength;
    for (smiUINT32 i = 0; i < common; i++) {
        if (xOID->ptr[i] != yOID->ptr[i]) {
            *result = xOID->ptr[i] < yOID->ptr[i] ? -1 : 1;
            return SNMPAPI_SUCCESS;
        }
    }
    *result = xLength == yLength ? 0 : xLength < yLength ? -1 : 1;
    return SNMPAPI_SUCCESS;
}

// A leading dot makes the text absolute; otherwise it is relative to MIB-II.
// Either way its components are numbers or names of the tree above, each at
// its place ("system.sysDescr.0", ".iso.org.dod.internet.private.2"). The ids
// come from SnmpUtilMemAlloc (SnmpUtilOidFree releases them).
WINBOOL SNMP_FUNC_TYPE SnmpMgrStrToOid(LPSTR string, AsnObjectIdentifier *oid)
{
    uint32_t ids[BER_MAX_OID_LENGTH];
    uint32_t count = 0;

    if (string == NULL || oid == NULL)
        return FALSE;
    if (string[0] == '.') {
        count = ParseNamed(string + 1, ids, 0, BER_MAX_OID_LENGTH);
    } else {
        memcpy(ids, kMib2, sizeof(kMib2));
        count = ParseNamed(string, ids, COUNTOF(kMib2), BER_MAX_OID_LENGTH);
    }
    if (count == 0 || !BerOidEncodable(ids, count))
        return FALSE;
    uint32_t *copy = CopyIds(ids, count);
    if (copy == NULL)
        return FALSE;
    oid->idLength = count;
    oid->ids = (UINT *)copy;
    return TRUE;
}
