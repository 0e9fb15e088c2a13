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

// The names SnmpMgrStrToOid knows, as the first component of a relative
// text only ("system.1.0" is 1.3.6.1.2.1.1.1.0): the MIB-II groups of
// RFC 1213, plus host resources (RFC 2790) and the Printer MIB (RFC 3805),
// which sit under MIB-II too and are what a printer tool asks for. Names are
// case-sensitive, as MIB names are.
struct GroupName {
    const char *name;
    uint32_t id;
};
static const GroupName kGroups[] = {
    {"system", 1}, {"interfaces", 2}, {"at", 3}, {"ip", 4}, {"icmp", 5},
    {"tcp", 6}, {"udp", 7}, {"egp", 8}, {"transmission", 10}, {"snmp", 11},
    {"host", 25}, {"printmib", 43},
};

int WsOidEncodable(const uint32_t *ids, uint32_t length)
{
    if (length < 2 || length > BER_MAX_OID_LENGTH || ids == NULL)
        return 0;
    if (ids[0] > 2 || (ids[0] < 2 && ids[1] > 39))
        return 0;
    return ids[1] <= 0xFFFFFFFFu - 40u * ids[0];
}

// Strict dotted decimal: digits and single dots only, no dot at either end,
// no sign, no blank, no leading zero, each component at most 2^32-1. Returns
// the component count, 0 when the text is not of that form or has more than
// capacity components.
static uint32_t ParseDotted(const char *text, uint32_t *ids, uint32_t capacity)
{
    uint32_t count = 0;
    const char *p = text;
    if (*p == '\0')
        return 0;
    for (;;) {
        if (*p < '0' || *p > '9')
            return 0;
        if (*p == '0' && p[1] >= '0' && p[1] <= '9')
            return 0;
        uint64_t value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (uint64_t)(*p - '0');
            if (value > 0xFFFFFFFFu)
                return 0;
            p++;
        }
        if (count >= capacity)
            return 0;
        ids[count++] = (uint32_t)value;
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
    if (count == 0 || !WsOidEncodable(ids, count))
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

// A leading dot makes the text absolute dotted decimal; otherwise it is
// relative to MIB-II, and its first component may be one of the group names
// above. The ids come from SnmpUtilMemAlloc (SnmpUtilOidFree releases them).
WINBOOL SNMP_FUNC_TYPE SnmpMgrStrToOid(LPSTR string, AsnObjectIdentifier *oid)
{
    uint32_t ids[BER_MAX_OID_LENGTH];
    uint32_t count = 0;
    const uint32_t prefix = COUNTOF(kMib2);

    if (string == NULL || oid == NULL)
        return FALSE;
    if (string[0] == '.') {
        count = ParseDotted(string + 1, ids, BER_MAX_OID_LENGTH);
    } else {
        memcpy(ids, kMib2, sizeof(kMib2));
        if (string[0] >= '0' && string[0] <= '9') {
            uint32_t n = ParseDotted(string, ids + prefix, BER_MAX_OID_LENGTH - prefix);
            count = n == 0 ? 0 : prefix + n;
        } else {
            const char *dot = strchr(string, '.');
            size_t nameLength = dot == NULL ? strlen(string) : (size_t)(dot - string);
            const GroupName *group = NULL;
            for (size_t i = 0; i < COUNTOF(kGroups); i++) {
                if (strlen(kGroups[i].name) == nameLength &&
                    strncmp(kGroups[i].name, string, nameLength) == 0)
                    group = &kGroups[i];
            }
            if (group != NULL) {
                ids[prefix] = group->id;
                count = prefix + 1;
                if (dot != NULL) {
                    uint32_t n = ParseDotted(dot + 1, ids + count, BER_MAX_OID_LENGTH - count);
                    count = n == 0 ? 0 : count + n;
                }
            }
        }
    }
    if (count == 0 || !WsOidEncodable(ids, count))
        return FALSE;
    uint32_t *copy = CopyIds(ids, count);
    if (copy == NULL)
        return FALSE;
    oid->idLength = count;
    oid->ids = (UINT *)copy;
    return TRUE;
}
