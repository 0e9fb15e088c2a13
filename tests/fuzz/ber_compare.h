// Compares two decoded messages field by field, octets by content, for the
// codec's unit tests and the fuzzer's round trip.
#pragma once

#include <string.h>

#include "winsnmp/ber.h"

inline bool BerOidsEqual(const BerOid &a, const BerOid &b)
{
    return a.length == b.length && a.length <= BER_MAX_OID_LENGTH &&
           memcmp(a.ids, b.ids, a.length * sizeof(a.ids[0])) == 0;
}

inline bool BerOctetsEqual(const uint8_t *a, uint32_t aCount, const uint8_t *b, uint32_t bCount)
{
    return aCount == bCount && (aCount == 0 || memcmp(a, b, aCount) == 0);
}

inline bool BerValuesEqual(const BerValue &a, const BerValue &b)
{
    if (a.syntax != b.syntax)
        return false;
    switch (a.syntax) {
    case BER_INTEGER:
        return a.integer == b.integer;
    case BER_OCTET_STRING:
    case BER_OPAQUE:
        return BerOctetsEqual(a.octets, a.octetCount, b.octets, b.octetCount);
    case BER_IPADDRESS:
        return a.unsigned32 == b.unsigned32 && BerOctetsEqual(a.octets, a.octetCount, b.octets, b.octetCount);
    case BER_OBJECT_IDENTIFIER:
        return BerOidsEqual(a.oid, b.oid);
    case BER_COUNTER32:
    case BER_GAUGE32:
    case BER_TIMETICKS:
        return a.unsigned32 == b.unsigned32;
    case BER_COUNTER64:
        return a.unsigned64 == b.unsigned64;
    default:
        return true;        // NULL and the exception values carry nothing
    }
}

inline bool BerMessagesEqual(const BerMessage &a, const BerMessage &b)
{
    if (a.version != b.version || a.pduType != b.pduType || a.requestId != b.requestId ||
        a.errorStatus != b.errorStatus || a.errorIndex != b.errorIndex ||
        a.varBindCount != b.varBindCount || a.varBindCount > BER_MAX_VARBINDS ||
        !BerOctetsEqual(a.community, a.communityLength, b.community, b.communityLength))
        return false;
    for (uint32_t i = 0; i < a.varBindCount; i++) {
        if (!BerOidsEqual(a.varBinds[i].name, b.varBinds[i].name) ||
            !BerValuesEqual(a.varBinds[i].value, b.varBinds[i].value))
            return false;
    }
    return true;
}
