// SNMPv1 and SNMPv2c message encoding and decoding (BER), platform-neutral: no Windows
// headers, so that it also builds natively for fuzzing.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    BER_MAX_OID_LENGTH = 128,      // sub-identifiers in one OID
    BER_MAX_VARBINDS = 64,         // variable bindings in one message
    BER_MAX_MESSAGE = 65507        // largest UDP payload we send or accept
};

// Tags of the value syntaxes, as they appear on the wire.
enum BerTag {
    BER_INTEGER = 0x02,
    BER_OCTET_STRING = 0x04,
    BER_NULL = 0x05,
    BER_OBJECT_IDENTIFIER = 0x06,
    BER_SEQUENCE = 0x30,
    BER_IPADDRESS = 0x40,
    BER_COUNTER32 = 0x41,
    BER_GAUGE32 = 0x42,
    BER_TIMETICKS = 0x43,
    BER_OPAQUE = 0x44,
    BER_COUNTER64 = 0x46,
    BER_NO_SUCH_OBJECT = 0x80,
    BER_NO_SUCH_INSTANCE = 0x81,
    BER_END_OF_MIB_VIEW = 0x82,
    BER_PDU_GET = 0xA0,
    BER_PDU_GETNEXT = 0xA1,
    BER_PDU_RESPONSE = 0xA2,
    BER_PDU_SET = 0xA3,
    BER_PDU_TRAP_V1 = 0xA4,
    BER_PDU_GETBULK = 0xA5,         // SNMPv2c and SNMPv3 only
    BER_PDU_REPORT = 0xA8           // SNMPv3 only
};

// The message's version field.
enum BerVersion {
    BER_VERSION_1 = 0,
    BER_VERSION_2C = 1
};

struct BerOid {
    uint32_t length;
    uint32_t ids[BER_MAX_OID_LENGTH];
};

// A decoded value. Octets point into the decoded datagram (not copied), so
// they live as long as the datagram's buffer.
struct BerValue {
    int syntax;                 // one of the BerTag value tags
    int32_t integer;            // INTEGER
    uint32_t unsigned32;        // IpAddress (network order packed: first octet in bits 31-24), Counter32, Gauge32, TimeTicks
    uint64_t unsigned64;        // Counter64
    const uint8_t *octets;      // OCTET STRING, Opaque, IpAddress
    uint32_t octetCount;
    BerOid oid;                 // OBJECT IDENTIFIER
};

struct BerVarBind {
    BerOid name;
    BerValue value;
};

struct BerMessage {
    int32_t version;            // BER_VERSION_1 or BER_VERSION_2C
    const uint8_t *community;   // points into the datagram when decoded
    uint32_t communityLength;
    int pduType;                // BER_PDU_*
    int32_t requestId;
    int32_t errorStatus;        // GetBulk: non-repeaters
    int32_t errorIndex;         // GetBulk: max-repetitions
    uint32_t varBindCount;
    BerVarBind varBinds[BER_MAX_VARBINDS];
};

// Decodes one SNMPv1 message (version 0, a Get/GetNext/Response/Set PDU) or
// SNMPv2c message (version 1, those or a GetBulk PDU).
// Every length is checked against what remains; indefinite lengths, integers
// longer than their type, sub-identifiers above 2^32-1, more than
// BER_MAX_OID_LENGTH sub-identifiers or BER_MAX_VARBINDS bindings, unexpected
// tags or nesting, and trailing bytes all make it fail. Returns 1 or 0; after
// a failure the message holds whatever was read so far. Decoded IpAddress values
// carry both their four octets and unsigned32.
int BerDecodeMessage(const uint8_t *data, size_t size, BerMessage *message);

// Whether BER can carry the OID: 2 to BER_MAX_OID_LENGTH sub-identifiers,
// the first at most 2, the second at most 39 below 2, and the first two
// together within 2^32-1.
int BerOidEncodable(const uint32_t *ids, uint32_t length);

// Encodes a message into out (capacity bytes). Returns the encoded size, or 0
// when it does not fit or a value cannot be encoded (a GetBulk PDU in an
// SNMPv1 message too). An IpAddress is taken from
// its octets when they are set (exactly four), else from unsigned32.
size_t BerEncodeMessage(const BerMessage *message, uint8_t *out, size_t capacity);

// The PDU alone, as an SNMPv3 scoped PDU carries it: exactly one
// Get/GetNext/GetBulk/Response/Set/Report PDU, with the checks of BerDecodeMessage.
// version and community stay empty.
int BerDecodePdu(const uint8_t *data, size_t size, BerMessage *message);
size_t BerEncodePdu(const BerMessage *message, uint8_t *out, size_t capacity);
