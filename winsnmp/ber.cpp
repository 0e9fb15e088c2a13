// SNMPv1 and SNMPv2c message encoding and decoding (BER). Platform-neutral: standard C
// and C++ headers only, so that the fuzzing build compiles it natively.
//
// The decoder is strict where the wire format leaves room for abuse and
// lenient only where real agents differ harmlessly:
// - lengths: the long form is accepted even when not minimal (encoders that
//   write a fixed number of length bytes exist); the indefinite form and
//   more than four length bytes are refused;
// - integers: the minimal two's-complement form only (a leading 0x00/0xFF
//   byte only where the sign needs it), at most 4 bytes for INTEGER, 5 for the
//   unsigned 32-bit types and 9 for Counter64; negative values of unsigned
//   types are refused;
// - object identifiers: at least one sub-identifier byte, each
//   sub-identifier in the fewest bytes (no leading 0x80), none above
//   2^32-1, at most BER_MAX_OID_LENGTH sub-identifiers after the first byte
//   is split in two;
// - every constructed value must be used up exactly by its contents, and
//   the message by the datagram.
#include "winsnmp/ber.h"
#include "winsnmp/ber_cursor.h"

#include <string.h>

enum {
    BER_MAX_LENGTH_BYTES = 4,      // long-form length bytes we accept
    BER_MAX_SUBID_BYTES = 5,       // 2^32-1 takes five base-128 digits
    BER_MAX_INTEGER_BYTES = 4,
    BER_MAX_UNSIGNED32_BYTES = 5,  // sign pad plus four bytes
    BER_MAX_UNSIGNED64_BYTES = 9,  // sign pad plus eight bytes
    BER_IPADDRESS_BYTES = 4
};

// ---------------------------------------------------------------- decoding

static int ReadByte(BerCursor *cursor, uint8_t *byte)
{
    if (cursor->left == 0)
        return 0;
    *byte = *cursor->p;
    cursor->p++;
    cursor->left--;
    return 1;
}

static int ReadLength(BerCursor *cursor, size_t *length)
{
    uint8_t first = 0;
    if (!ReadByte(cursor, &first))
        return 0;
    if (first < 0x80) {
        *length = first;
    } else {
        size_t count = first & 0x7F;
        if (count == 0)                       // indefinite form
            return 0;
        if (count > BER_MAX_LENGTH_BYTES || count > cursor->left)
            return 0;
        size_t value = 0;
        for (size_t i = 0; i < count; i++) {
            uint8_t byte = 0;
            if (!ReadByte(cursor, &byte))
                return 0;
            value = (value << 8) | byte;
        }
        *length = value;
    }
    return *length <= cursor->left;
}

// Reads a tag and length; contents gets the value's bytes, which the outer
// cursor steps over.
int ReadHeader(BerCursor *cursor, uint8_t *tag, BerCursor *contents)
{
    size_t length = 0;
    if (!ReadByte(cursor, tag) || !ReadLength(cursor, &length))
        return 0;
    contents->p = cursor->p;
    contents->left = length;
    cursor->p += length;
    cursor->left -= length;
    return 1;
}

int ReadExpected(BerCursor *cursor, uint8_t expected, BerCursor *contents)
{
    uint8_t tag = 0;
    if (!ReadHeader(cursor, &tag, contents))
        return 0;
    return tag == expected;
}

// Integer contents: 1 to maxBytes bytes in the minimal two's-complement
// form, a leading 0x00 or 0xFF only where the next byte's top bit needs it.
static int CheckIntegerForm(const BerCursor *contents, size_t maxBytes)
{
    const uint8_t *bytes = contents->p;
    if (contents->left == 0 || contents->left > maxBytes)
        return 0;
    if (contents->left > 1) {
        if (bytes[0] == 0x00 && bytes[1] < 0x80)
            return 0;
        if (bytes[0] == 0xFF && bytes[1] >= 0x80)
            return 0;
    }
    return 1;
}

static int DecodeInteger32(const BerCursor *contents, int32_t *value)
{
    if (!CheckIntegerForm(contents, BER_MAX_INTEGER_BYTES))
        return 0;
    // Four bytes at most, so plain signed arithmetic cannot overflow.
    int64_t result = contents->p[0] >= 0x80 ? -1 : 0;
    for (size_t i = 0; i < contents->left; i++)
        result = result * 256 + contents->p[i];
    *value = (int32_t)result;
    return 1;
}

// Counter32, Gauge32, TimeTicks (5 bytes at most) and Counter64 (9): the
// longest form is only the sign pad 0x00 in front of a full-width value;
// a negative value is refused.
static int DecodeUnsigned(const BerCursor *contents, size_t maxBytes, uint64_t *value)
{
    if (!CheckIntegerForm(contents, maxBytes) || contents->p[0] >= 0x80)
        return 0;
    if (contents->left == maxBytes && contents->p[0] != 0x00)
        return 0;
    uint64_t result = 0;
    for (size_t i = 0; i < contents->left; i++)
        result = (result << 8) | contents->p[i];
    *value = result;
    return 1;
}

int ReadInteger32(BerCursor *cursor, int32_t *value)
{
    BerCursor contents;
    if (!ReadExpected(cursor, BER_INTEGER, &contents))
        return 0;
    return DecodeInteger32(&contents, value);
}

// Splits the first sub-identifier into the two first arcs, as X*40+Y with
// X at most 2.
static int DecodeOid(const BerCursor *contents, BerOid *oid)
{
    BerCursor cursor = *contents;
    uint32_t count = 0;
    if (cursor.left == 0)
        return 0;
    while (cursor.left > 0) {
        uint64_t subid = 0;
        size_t digits = 0;
        uint8_t byte = 0;
        do {
            if (!ReadByte(&cursor, &byte))
                return 0;                    // last digit still had bit 8 set
            if (digits == 0 && byte == 0x80)
                return 0;                    // not in the fewest bytes
            if (++digits > BER_MAX_SUBID_BYTES)
                return 0;
            subid = (subid << 7) | (byte & 0x7F);
        } while (byte & 0x80);
        if (subid > 0xFFFFFFFFu)
            return 0;
        if (count == 0) {
            uint32_t first = subid < 40 ? 0 : subid < 80 ? 1 : 2;
            oid->ids[0] = first;
            oid->ids[1] = (uint32_t)(subid - 40u * first);
            count = 2;
        } else {
            if (count >= BER_MAX_OID_LENGTH)
                return 0;
            oid->ids[count++] = (uint32_t)subid;
        }
    }
    oid->length = count;
    return 1;
}

static int ReadOid(BerCursor *cursor, BerOid *oid)
{
    BerCursor contents;
    if (!ReadExpected(cursor, BER_OBJECT_IDENTIFIER, &contents))
        return 0;
    return DecodeOid(&contents, oid);
}

static int ReadValue(BerCursor *cursor, BerValue *value)
{
    BerCursor contents;
    uint8_t tag = 0;
    uint64_t wide = 0;
    if (!ReadHeader(cursor, &tag, &contents))
        return 0;
    value->syntax = tag;
    switch (tag) {
    case BER_INTEGER:
        return DecodeInteger32(&contents, &value->integer);
    case BER_OCTET_STRING:
    case BER_OPAQUE:
        value->octets = contents.p;
        value->octetCount = (uint32_t)contents.left;
        return 1;
    case BER_NULL:
    case BER_NO_SUCH_OBJECT:
    case BER_NO_SUCH_INSTANCE:
    case BER_END_OF_MIB_VIEW:
        return contents.left == 0;
    case BER_OBJECT_IDENTIFIER:
        return DecodeOid(&contents, &value->oid);
    case BER_IPADDRESS:
        if (contents.left != BER_IPADDRESS_BYTES)
            return 0;
        value->octets = contents.p;
        value->octetCount = BER_IPADDRESS_BYTES;
        value->unsigned32 = (uint32_t)contents.p[0] << 24 | (uint32_t)contents.p[1] << 16 |
                            (uint32_t)contents.p[2] << 8 | contents.p[3];
        return 1;
    case BER_COUNTER32:
    case BER_GAUGE32:
    case BER_TIMETICKS:
        if (!DecodeUnsigned(&contents, BER_MAX_UNSIGNED32_BYTES, &wide))
            return 0;
        value->unsigned32 = (uint32_t)wide;
        return 1;
    case BER_COUNTER64:
        return DecodeUnsigned(&contents, BER_MAX_UNSIGNED64_BYTES, &value->unsigned64);
    default:
        return 0;                            // constructed or unknown syntax
    }
}

static int ReadVarBinds(BerCursor *cursor, BerMessage *message)
{
    BerCursor list;
    if (!ReadExpected(cursor, BER_SEQUENCE, &list))
        return 0;
    while (list.left > 0) {
        BerCursor pair;
        if (message->varBindCount >= BER_MAX_VARBINDS)
            return 0;
        BerVarBind *varBind = &message->varBinds[message->varBindCount];
        memset(varBind, 0, sizeof(*varBind));
        if (!ReadExpected(&list, BER_SEQUENCE, &pair))
            return 0;
        if (!ReadOid(&pair, &varBind->name) || !ReadValue(&pair, &varBind->value))
            return 0;
        if (pair.left != 0)
            return 0;
        message->varBindCount++;
    }
    return 1;
}

static void ClearMessage(BerMessage *message)
{
    message->version = 0;
    message->community = NULL;
    message->communityLength = 0;
    message->pduType = 0;
    message->requestId = 0;
    message->errorStatus = 0;
    message->errorIndex = 0;
    message->varBindCount = 0;
}

// The PDU's contents after its tag: ids, error status and index, bindings.
static int DecodePdu(uint8_t pduTag, BerCursor *pdu, BerMessage *message)
{
    message->pduType = pduTag;
    if (!ReadInteger32(pdu, &message->requestId) ||
        !ReadInteger32(pdu, &message->errorStatus) ||
        !ReadInteger32(pdu, &message->errorIndex))
        return 0;
    return ReadVarBinds(pdu, message) && pdu->left == 0;
}

int BerDecodeMessage(const uint8_t *data, size_t size, BerMessage *message)
{
    BerCursor datagram;
    BerCursor body;
    BerCursor pdu;
    BerCursor community;
    uint8_t pduTag = 0;

    if (data == NULL || message == NULL || size > BER_MAX_MESSAGE)
        return 0;
    ClearMessage(message);

    datagram.p = data;
    datagram.left = size;
    if (!ReadExpected(&datagram, BER_SEQUENCE, &body) || datagram.left != 0)
        return 0;
    if (!ReadInteger32(&body, &message->version) ||
        (message->version != BER_VERSION_1 && message->version != BER_VERSION_2C))
        return 0;
    if (!ReadExpected(&body, BER_OCTET_STRING, &community))
        return 0;
    message->community = community.p;
    message->communityLength = (uint32_t)community.left;
    if (!ReadHeader(&body, &pduTag, &pdu) || body.left != 0)
        return 0;
    if (pduTag != BER_PDU_GET && pduTag != BER_PDU_GETNEXT &&
        pduTag != BER_PDU_RESPONSE && pduTag != BER_PDU_SET &&
        (pduTag != BER_PDU_GETBULK || message->version != BER_VERSION_2C))
        return 0;
    return DecodePdu(pduTag, &pdu, message);
}

int BerDecodePdu(const uint8_t *data, size_t size, BerMessage *message)
{
    BerCursor datagram;
    BerCursor pdu;
    uint8_t pduTag = 0;
    if (data == NULL || message == NULL || size > BER_MAX_MESSAGE)
        return 0;
    ClearMessage(message);
    datagram.p = data;
    datagram.left = size;
    if (!ReadHeader(&datagram, &pduTag, &pdu) || datagram.left != 0)
        return 0;
    if (pduTag != BER_PDU_GET && pduTag != BER_PDU_GETNEXT && pduTag != BER_PDU_RESPONSE &&
        pduTag != BER_PDU_SET && pduTag != BER_PDU_REPORT && pduTag != BER_PDU_GETBULK)
        return 0;
    return DecodePdu(pduTag, &pdu, message);
}

// ---------------------------------------------------------------- encoding
// Sizes are computed first (the lengths precede the contents); every write
// still checks the room left.

static size_t LengthSize(size_t length)
{
    if (length < 0x80)
        return 1;
    if (length <= 0xFF)
        return 2;
    if (length <= 0xFFFF)
        return 3;
    return 4;                  // BER_MAX_MESSAGE keeps lengths below 2^24
}

size_t TlvSize(size_t contentSize)
{
    return 1 + LengthSize(contentSize) + contentSize;
}

size_t Integer32Size(int32_t value)
{
    if (value >= -0x80 && value <= 0x7F)
        return 1;
    if (value >= -0x8000 && value <= 0x7FFF)
        return 2;
    if (value >= -0x800000 && value <= 0x7FFFFF)
        return 3;
    return 4;
}

// Bytes of a non-negative value, with a 0x00 pad when its top bit is set.
static size_t UnsignedSize(uint64_t value)
{
    for (size_t size = 1; size < BER_MAX_UNSIGNED64_BYTES; size++) {
        if ((value >> (8 * size - 1)) == 0)
            return size;
    }
    return BER_MAX_UNSIGNED64_BYTES;
}

static size_t SubidSize(uint32_t subid)
{
    size_t size = 1;
    while (subid >= 0x80) {
        subid >>= 7;
        size++;
    }
    return size;
}

int BerOidEncodable(const uint32_t *ids, uint32_t length)
{
    if (ids == NULL || length < 2 || length > BER_MAX_OID_LENGTH)
        return 0;
    if (ids[0] > 2 || (ids[0] < 2 && ids[1] > 39))
        return 0;
    return ids[1] <= 0xFFFFFFFFu - 40u * ids[0];
}

// Contents size of an OID, 0 when it cannot be encoded.
static size_t OidSize(const BerOid *oid)
{
    if (!BerOidEncodable(oid->ids, oid->length))
        return 0;
    size_t size = SubidSize(oid->ids[0] * 40u + oid->ids[1]);
    for (uint32_t i = 2; i < oid->length; i++)
        size += SubidSize(oid->ids[i]);
    return size;
}

// Contents size of a value, 0 for the empty kinds; *ok says whether it can be
// encoded at all.
static size_t ValueSize(const BerValue *value, int *ok)
{
    *ok = 1;
    switch (value->syntax) {
    case BER_INTEGER:
        return Integer32Size(value->integer);
    case BER_OCTET_STRING:
    case BER_OPAQUE:
        if ((value->octets == NULL && value->octetCount != 0) || value->octetCount > BER_MAX_MESSAGE)
            *ok = 0;
        return value->octetCount;
    case BER_NULL:
    case BER_NO_SUCH_OBJECT:
    case BER_NO_SUCH_INSTANCE:
    case BER_END_OF_MIB_VIEW:
        return 0;
    case BER_OBJECT_IDENTIFIER: {
        size_t size = OidSize(&value->oid);
        if (size == 0)
            *ok = 0;
        return size;
    }
    case BER_IPADDRESS:
        if (value->octets != NULL && value->octetCount != BER_IPADDRESS_BYTES)
            *ok = 0;
        return BER_IPADDRESS_BYTES;
    case BER_COUNTER32:
    case BER_GAUGE32:
    case BER_TIMETICKS:
        return UnsignedSize(value->unsigned32);
    case BER_COUNTER64:
        return UnsignedSize(value->unsigned64);
    default:
        *ok = 0;
        return 0;
    }
}

static int PutByte(BerWriter *writer, uint8_t byte)
{
    if (writer->left == 0)
        return 0;
    *writer->p = byte;
    writer->p++;
    writer->left--;
    return 1;
}

int PutBytes(BerWriter *writer, const uint8_t *bytes, size_t count)
{
    if (count > writer->left)
        return 0;
    if (count > 0)
        memcpy(writer->p, bytes, count);
    writer->p += count;
    writer->left -= count;
    return 1;
}

int PutHeader(BerWriter *writer, uint8_t tag, size_t length)
{
    size_t size = LengthSize(length);
    if (!PutByte(writer, tag))
        return 0;
    if (size == 1)
        return PutByte(writer, (uint8_t)length);
    if (!PutByte(writer, (uint8_t)(0x80 | (size - 1))))
        return 0;
    for (size_t i = size - 1; i > 0; i--) {
        if (!PutByte(writer, (uint8_t)(length >> (8 * (i - 1)))))
            return 0;
    }
    return 1;
}

// The low `size` bytes of value, most significant first.
static int PutBigEndian(BerWriter *writer, uint64_t value, size_t size)
{
    for (size_t i = size; i > 0; i--) {
        uint8_t byte = (i - 1) < 8 ? (uint8_t)(value >> (8 * (i - 1))) : 0;
        if (!PutByte(writer, byte))
            return 0;
    }
    return 1;
}

int PutInteger32(BerWriter *writer, int32_t value)
{
    size_t size = Integer32Size(value);
    return PutHeader(writer, BER_INTEGER, size) &&
           PutBigEndian(writer, (uint64_t)(int64_t)value, size);
}

static int PutSubid(BerWriter *writer, uint32_t subid)
{
    size_t size = SubidSize(subid);
    for (size_t i = size; i > 0; i--) {
        uint8_t digit = (uint8_t)((subid >> (7 * (i - 1))) & 0x7F);
        if (!PutByte(writer, i > 1 ? (uint8_t)(digit | 0x80) : digit))
            return 0;
    }
    return 1;
}

static int PutOid(BerWriter *writer, const BerOid *oid)
{
    size_t size = OidSize(oid);
    if (size == 0 || !PutHeader(writer, BER_OBJECT_IDENTIFIER, size))
        return 0;
    if (!PutSubid(writer, oid->ids[0] * 40u + oid->ids[1]))
        return 0;
    for (uint32_t i = 2; i < oid->length; i++) {
        if (!PutSubid(writer, oid->ids[i]))
            return 0;
    }
    return 1;
}

static int PutValue(BerWriter *writer, const BerValue *value)
{
    int ok = 0;
    size_t size = ValueSize(value, &ok);
    if (!ok)
        return 0;
    if (value->syntax == BER_OBJECT_IDENTIFIER)
        return PutOid(writer, &value->oid);
    if (!PutHeader(writer, (uint8_t)value->syntax, size))
        return 0;
    switch (value->syntax) {
    case BER_INTEGER:
        return PutBigEndian(writer, (uint64_t)(int64_t)value->integer, size);
    case BER_OCTET_STRING:
    case BER_OPAQUE:
        return PutBytes(writer, value->octets, size);
    case BER_IPADDRESS:
        if (value->octets != NULL)
            return PutBytes(writer, value->octets, size);
        return PutBigEndian(writer, value->unsigned32, size);
    case BER_COUNTER32:
    case BER_GAUGE32:
    case BER_TIMETICKS:
        return PutBigEndian(writer, value->unsigned32, size);
    case BER_COUNTER64:
        return PutBigEndian(writer, value->unsigned64, size);
    default:
        return 1;              // the empty kinds: header only
    }
}

// Sizes of the PDU: each binding's pair, the list and the PDU's contents.
// 0 when the PDU cannot be encoded.
static size_t PduSize(const BerMessage *message, size_t pairSizes[BER_MAX_VARBINDS],
                      size_t *listSize)
{
    *listSize = 0;
    if (message->pduType != BER_PDU_GET && message->pduType != BER_PDU_GETNEXT &&
        message->pduType != BER_PDU_RESPONSE && message->pduType != BER_PDU_SET &&
        message->pduType != BER_PDU_REPORT && message->pduType != BER_PDU_GETBULK)
        return 0;
    if (message->varBindCount > BER_MAX_VARBINDS)
        return 0;
    for (uint32_t i = 0; i < message->varBindCount; i++) {
        const BerVarBind *varBind = &message->varBinds[i];
        int ok = 0;
        size_t nameSize = OidSize(&varBind->name);
        size_t valueSize = ValueSize(&varBind->value, &ok);
        if (nameSize == 0 || !ok)
            return 0;
        pairSizes[i] = TlvSize(nameSize) + TlvSize(valueSize);
        *listSize += TlvSize(pairSizes[i]);
    }
    return TlvSize(Integer32Size(message->requestId)) +
           TlvSize(Integer32Size(message->errorStatus)) +
           TlvSize(Integer32Size(message->errorIndex)) + TlvSize(*listSize);
}

static int PutPdu(BerWriter *writer, const BerMessage *message,
                  const size_t pairSizes[BER_MAX_VARBINDS], size_t listSize, size_t pduSize)
{
    if (!PutHeader(writer, (uint8_t)message->pduType, pduSize) ||
        !PutInteger32(writer, message->requestId) ||
        !PutInteger32(writer, message->errorStatus) ||
        !PutInteger32(writer, message->errorIndex) ||
        !PutHeader(writer, BER_SEQUENCE, listSize))
        return 0;
    for (uint32_t i = 0; i < message->varBindCount; i++) {
        const BerVarBind *varBind = &message->varBinds[i];
        if (!PutHeader(writer, BER_SEQUENCE, pairSizes[i]) ||
            !PutOid(writer, &varBind->name) ||
            !PutValue(writer, &varBind->value))
            return 0;
    }
    return 1;
}

size_t BerEncodeMessage(const BerMessage *message, uint8_t *out, size_t capacity)
{
    size_t pairSizes[BER_MAX_VARBINDS];
    size_t listSize = 0;
    size_t pduSize = 0;
    size_t bodySize = 0;
    size_t total = 0;
    BerWriter writer;

    if (message == NULL || out == NULL || message->pduType == BER_PDU_REPORT)
        return 0;
    if (message->pduType == BER_PDU_GETBULK && message->version != BER_VERSION_2C)
        return 0;                  // SNMPv1 has no GetBulk
    if ((message->community == NULL && message->communityLength != 0) ||
        message->communityLength > BER_MAX_MESSAGE)
        return 0;
    pduSize = PduSize(message, pairSizes, &listSize);
    if (pduSize == 0)
        return 0;
    bodySize = TlvSize(Integer32Size(message->version)) + TlvSize(message->communityLength) +
               TlvSize(pduSize);
    total = TlvSize(bodySize);
    if (total > BER_MAX_MESSAGE || total > capacity)
        return 0;

    writer.p = out;
    writer.left = capacity;
    if (!PutHeader(&writer, BER_SEQUENCE, bodySize) ||
        !PutInteger32(&writer, message->version) ||
        !PutHeader(&writer, BER_OCTET_STRING, message->communityLength) ||
        !PutBytes(&writer, message->community, message->communityLength) ||
        !PutPdu(&writer, message, pairSizes, listSize, pduSize))
        return 0;
    return (size_t)(writer.p - out);
}

size_t BerEncodePdu(const BerMessage *message, uint8_t *out, size_t capacity)
{
    size_t pairSizes[BER_MAX_VARBINDS];
    size_t listSize = 0;
    BerWriter writer;
    if (message == NULL || out == NULL)
        return 0;
    size_t pduSize = PduSize(message, pairSizes, &listSize);
    if (pduSize == 0 || TlvSize(pduSize) > BER_MAX_MESSAGE || TlvSize(pduSize) > capacity)
        return 0;
    writer.p = out;
    writer.left = capacity;
    if (!PutPdu(&writer, message, pairSizes, listSize, pduSize))
        return 0;
    return (size_t)(writer.p - out);
}
