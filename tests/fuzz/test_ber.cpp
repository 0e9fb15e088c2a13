// Native unit tests of the SNMPv1 BER codec, built under AddressSanitizer:
// every datagram is decoded from a heap copy of exactly its size, and every
// encoding goes to a heap buffer of exactly the capacity given, so a read or
// write one byte outside fails the test.
#include <dirent.h>
#include <stdio.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ber_compare.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A datagram on the heap, exactly as large as its contents; decoded octets
// point into it, so it outlives the message it is decoded into.
struct Datagram {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
    explicit Datagram(const Bytes &contents, size_t count)
        : bytes(new uint8_t[count ? count : 1]), size(count)
    {
        if (count)
            memcpy(bytes.get(), contents.data(), count);
    }
    explicit Datagram(const Bytes &contents) : Datagram(contents, contents.size()) {}
};

std::unique_ptr<BerMessage> NewMessage()
{
    return std::unique_ptr<BerMessage>(new BerMessage());
}

int Decode(const Datagram &datagram, BerMessage *message)
{
    return BerDecodeMessage(datagram.bytes.get(), datagram.size, message);
}

Bytes Encode(const BerMessage &message)
{
    Bytes out(BER_MAX_MESSAGE);
    size_t size = BerEncodeMessage(&message, out.data(), out.size());
    out.resize(size);
    return out;
}

std::string Hex(const Bytes &bytes)
{
    std::string text;
    char digits[4];
    for (uint8_t b : bytes) {
        snprintf(digits, sizeof(digits), "%02X ", b);
        text += digits;
    }
    return text;
}

// Hand-assembly helpers: tag, shortest length, contents.
Bytes Length(size_t n)
{
    if (n < 0x80)
        return {uint8_t(n)};
    Bytes body;
    for (size_t v = n; v; v >>= 8)
        body.insert(body.begin(), uint8_t(v));
    body.insert(body.begin(), uint8_t(0x80 | body.size()));
    return body;
}

Bytes Tlv(uint8_t tag, const Bytes &contents)
{
    Bytes out{tag};
    Bytes length = Length(contents.size());
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kVersion0 = {0x02, 0x01, 0x00};
const Bytes kPublic = Tlv(0x04, {'p', 'u', 'b', 'l', 'i', 'c'});
const Bytes kZero = {0x02, 0x01, 0x00};
const Bytes kName = Tlv(0x06, {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00});   // 1.3.6.1.2.1.1.5.0
const Bytes kNull = {0x05, 0x00};

// A Response around the given binding list contents.
Bytes ResponseWithList(const Bytes &listContents)
{
    Bytes pdu = Tlv(0xA2, Cat({{0x02, 0x01, 0x07}, kZero, kZero, Tlv(0x30, listContents)}));
    return Tlv(0x30, Cat({kVersion0, kPublic, pdu}));
}

// A Response with one binding: name and value given as raw TLVs.
Bytes ResponseWith(const Bytes &value, const Bytes &name = kName)
{
    return ResponseWithList(Tlv(0x30, Cat({name, value})));
}

BerOid Oid(std::initializer_list<uint32_t> ids)
{
    BerOid oid = {};
    for (uint32_t id : ids)
        oid.ids[oid.length++] = id;
    return oid;
}

BerVarBind Bind(const BerOid &name, int syntax)
{
    BerVarBind bind = {};
    bind.name = name;
    bind.value.syntax = syntax;
    return bind;
}

void Add(BerMessage *message, const BerVarBind &bind)
{
    ASSERT_LT(message->varBindCount, (uint32_t)BER_MAX_VARBINDS);
    message->varBinds[message->varBindCount++] = bind;
}

const uint8_t kCommunity[] = {'p', 'u', 'b', 'l', 'i', 'c'};

void StartMessage(BerMessage *message, int pduType)
{
    message->version = 0;
    message->community = kCommunity;
    message->communityLength = sizeof(kCommunity);
    message->pduType = pduType;
    message->requestId = 0x01020304;
    message->varBindCount = 0;
}

const uint8_t kBinary[] = {0x00, 0xFF, 0x80, 0x7F, 0x0A};
const uint8_t kAddress[] = {192, 168, 0, 1};
uint8_t g_longText[300];

// A Response with a binding of every syntax, each at its edges.
void FillEverySyntax(BerMessage *message)
{
    StartMessage(message, BER_PDU_RESPONSE);
    message->errorStatus = INT32_MAX;
    message->errorIndex = INT32_MIN;
    uint32_t row = 0;
    auto name = [&row]() { return Oid({1, 3, 6, 1, 4, 1, 55555, 1, ++row, 0}); };
    for (int32_t v : {INT32_MIN, -129, -128, -1, 0, 127, 128, 255, 256, INT32_MAX}) {
        BerVarBind b = Bind(name(), BER_INTEGER);
        b.value.integer = v;
        Add(message, b);
    }
    for (int count : {0, 5, 300}) {
        BerVarBind b = Bind(name(), BER_OCTET_STRING);
        memset(g_longText, 'x', sizeof(g_longText));
        b.value.octets = count == 5 ? kBinary : g_longText;
        b.value.octetCount = count;
        Add(message, b);
    }
    Add(message, Bind(name(), BER_NULL));
    for (BerOid oid : {Oid({0, 0}), Oid({1, 39}), Oid({1, 3, 6, 1, 2, 1, 1, 1, 0}), Oid({2, 999}),
                       Oid({2, 0xFFFFFFFFu - 80}), Oid({1, 3, 0xFFFFFFFFu, 0, 127, 128, 16383, 16384})}) {
        BerVarBind b = Bind(name(), BER_OBJECT_IDENTIFIER);
        b.value.oid = oid;
        Add(message, b);
    }
    BerVarBind longest = Bind(name(), BER_OBJECT_IDENTIFIER);
    for (uint32_t i = 0; i < BER_MAX_OID_LENGTH; i++)
        longest.value.oid.ids[i] = i < 2 ? 1 : 0xFFFFFFFFu - i;
    longest.value.oid.length = BER_MAX_OID_LENGTH;
    Add(message, longest);
    BerVarBind address = Bind(name(), BER_IPADDRESS);
    address.value.octets = kAddress;
    address.value.octetCount = 4;
    address.value.unsigned32 = 0xC0A80001u;
    Add(message, address);
    for (int syntax : {BER_COUNTER32, BER_GAUGE32, BER_TIMETICKS}) {
        for (uint32_t v : {0u, 0x7Fu, 0x80u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
            BerVarBind b = Bind(name(), syntax);
            b.value.unsigned32 = v;
            Add(message, b);
        }
    }
    BerVarBind opaque = Bind(name(), BER_OPAQUE);
    opaque.value.octets = kBinary;
    opaque.value.octetCount = sizeof(kBinary);
    Add(message, opaque);
    for (uint64_t v : {0ull, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, ~0ull}) {
        BerVarBind b = Bind(name(), BER_COUNTER64);
        b.value.unsigned64 = v;
        Add(message, b);
    }
    for (int syntax : {BER_NO_SUCH_OBJECT, BER_NO_SUCH_INSTANCE, BER_END_OF_MIB_VIEW})
        Add(message, Bind(name(), syntax));
}

TEST(BerRoundTrip, EveryValueSyntaxAtItsEdges)
{
    auto message = NewMessage();
    FillEverySyntax(message.get());
    Bytes encoded = Encode(*message);
    ASSERT_FALSE(encoded.empty());
    Datagram datagram(encoded);
    auto decoded = NewMessage();
    ASSERT_EQ(1, Decode(datagram, decoded.get()));
    ASSERT_EQ(message->varBindCount, decoded->varBindCount);
    for (uint32_t i = 0; i < message->varBindCount; i++) {
        SCOPED_TRACE("binding " + std::to_string(i) + ", syntax " +
                     std::to_string(message->varBinds[i].value.syntax));
        EXPECT_TRUE(BerOidsEqual(message->varBinds[i].name, decoded->varBinds[i].name));
        EXPECT_TRUE(BerValuesEqual(message->varBinds[i].value, decoded->varBinds[i].value));
    }
    EXPECT_TRUE(BerMessagesEqual(*message, *decoded));
    // Decoded octets point into the datagram, not at a copy.
    const BerValue &text = decoded->varBinds[11].value;
    EXPECT_GE(text.octets, datagram.bytes.get());
    EXPECT_LE(text.octets + text.octetCount, datagram.bytes.get() + datagram.size);
    // 30 82 LL LL, then version 02 01 00, then 04 06 and the community.
    EXPECT_EQ(datagram.bytes.get() + 4 + 3 + 2, decoded->community);
}

TEST(BerRoundTrip, IpAddressFromEitherField)
{
    // The address may be given as four octets or packed first octet
    // highest; both give the same bytes, and decoding fills both.
    auto fromOctets = NewMessage();
    StartMessage(fromOctets.get(), BER_PDU_SET);
    BerVarBind b = Bind(Oid({1, 3, 6, 1}), BER_IPADDRESS);
    b.value.octets = kAddress;
    b.value.octetCount = 4;
    Add(fromOctets.get(), b);
    auto fromNumber = NewMessage();
    StartMessage(fromNumber.get(), BER_PDU_SET);
    b.value.octets = nullptr;
    b.value.octetCount = 0;
    b.value.unsigned32 = 0xC0A80001u;
    Add(fromNumber.get(), b);
    Bytes first = Encode(*fromOctets);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(Hex(first), Hex(Encode(*fromNumber)));
    Bytes tail(first.end() - 6, first.end());
    EXPECT_EQ(Hex({0x40, 0x04, 192, 168, 0, 1}), Hex(tail));

    Datagram datagram(first);
    auto decoded = NewMessage();
    ASSERT_EQ(1, Decode(datagram, decoded.get()));
    EXPECT_EQ(0xC0A80001u, decoded->varBinds[0].value.unsigned32);
    ASSERT_EQ(4u, decoded->varBinds[0].value.octetCount);
    EXPECT_EQ(0, memcmp(kAddress, decoded->varBinds[0].value.octets, 4));
}

TEST(BerEncode, ValueLayouts)
{
    struct Row {
        const char *label;
        int syntax;
        int64_t integer;
        uint64_t number;
        Bytes expected;
    };
    const Row rows[] = {
        {"INTEGER 0", BER_INTEGER, 0, 0, {0x02, 0x01, 0x00}},
        {"INTEGER 127", BER_INTEGER, 127, 0, {0x02, 0x01, 0x7F}},
        {"INTEGER 128", BER_INTEGER, 128, 0, {0x02, 0x02, 0x00, 0x80}},
        {"INTEGER -128", BER_INTEGER, -128, 0, {0x02, 0x01, 0x80}},
        {"INTEGER -129", BER_INTEGER, -129, 0, {0x02, 0x02, 0xFF, 0x7F}},
        {"INTEGER 32768", BER_INTEGER, 32768, 0, {0x02, 0x03, 0x00, 0x80, 0x00}},
        {"INTEGER -8388609", BER_INTEGER, -8388609, 0, {0x02, 0x04, 0xFF, 0x7F, 0xFF, 0xFF}},
        {"INTEGER min", BER_INTEGER, INT32_MIN, 0, {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}},
        {"INTEGER max", BER_INTEGER, INT32_MAX, 0, {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}},
        {"Counter32 0", BER_COUNTER32, 0, 0, {0x41, 0x01, 0x00}},
        {"Counter32 128", BER_COUNTER32, 0, 128, {0x41, 0x02, 0x00, 0x80}},
        {"Gauge32 2^31", BER_GAUGE32, 0, 0x80000000u, {0x42, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}},
        {"TimeTicks max", BER_TIMETICKS, 0, 0xFFFFFFFFu, {0x43, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"Counter64 2^63-1", BER_COUNTER64, 0, 0x7FFFFFFFFFFFFFFFull,
         {0x46, 0x08, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"Counter64 max", BER_COUNTER64, 0, ~0ull,
         {0x46, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"NULL", BER_NULL, 0, 0, {0x05, 0x00}},
        {"noSuchObject", BER_NO_SUCH_OBJECT, 0, 0, {0x80, 0x00}},
        {"noSuchInstance", BER_NO_SUCH_INSTANCE, 0, 0, {0x81, 0x00}},
        {"endOfMibView", BER_END_OF_MIB_VIEW, 0, 0, {0x82, 0x00}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        auto message = NewMessage();
        StartMessage(message.get(), BER_PDU_RESPONSE);
        BerVarBind b = Bind(Oid({1, 3}), row.syntax);
        b.value.integer = (int32_t)row.integer;
        b.value.unsigned32 = (uint32_t)row.number;
        b.value.unsigned64 = row.number;
        Add(message.get(), b);
        Bytes encoded = Encode(*message);
        ASSERT_GT(encoded.size(), row.expected.size());
        Bytes tail(encoded.end() - row.expected.size(), encoded.end());
        EXPECT_EQ(Hex(row.expected), Hex(tail));
        // Decoding the hand-written form gives the value back.
        Datagram datagram(ResponseWith(row.expected));
        auto decoded = NewMessage();
        ASSERT_EQ(1, Decode(datagram, decoded.get()));
        EXPECT_TRUE(BerValuesEqual(b.value, decoded->varBinds[0].value));
    }
    // A 300-byte string takes the two-byte long length form; OID arcs of 2
    // fold into the first sub-identifier (2.999 is 1079).
    auto message = NewMessage();
    StartMessage(message.get(), BER_PDU_RESPONSE);
    BerVarBind text = Bind(Oid({2, 999}), BER_OCTET_STRING);
    text.value.octets = g_longText;
    text.value.octetCount = 300;
    Add(message.get(), text);
    Bytes encoded = Encode(*message);
    const Bytes head = {
        0x30, 0x82, 0x01, 0x57, 0x02, 0x01, 0x00, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',
        0xA2, 0x82, 0x01, 0x48, 0x02, 0x04, 0x01, 0x02, 0x03, 0x04, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00,
        0x30, 0x82, 0x01, 0x38,                  // bindings
        0x30, 0x82, 0x01, 0x34,                  // the one binding
        0x06, 0x02, 0x88, 0x37,                  // 2.999
        0x04, 0x82, 0x01, 0x2C,                  // 300 octets follow
    };
    ASSERT_EQ(head.size() + 300, encoded.size());
    EXPECT_EQ(Hex(head), Hex(Bytes(encoded.begin(), encoded.begin() + head.size())));
}

TEST(BerEncode, GetNextRequestBytes)
{
    auto message = NewMessage();
    StartMessage(message.get(), BER_PDU_GETNEXT);
    message->requestId = 1000;
    Add(message.get(), Bind(Oid({1, 3, 6, 1, 2, 1, 1, 1}), BER_NULL));
    Add(message.get(), Bind(Oid({1, 3, 6, 1, 4, 1, 55555, 1}), BER_NULL));
    const Bytes expected = {
        0x30, 0x35,                                            // message, 53 bytes
        0x02, 0x01, 0x00,                                      // version 0
        0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',              // community
        0xA1, 0x28,                                            // GetNext, 40 bytes
        0x02, 0x02, 0x03, 0xE8,                                // request id 1000
        0x02, 0x01, 0x00,                                      // error status
        0x02, 0x01, 0x00,                                      // error index
        0x30, 0x1C,                                            // bindings, 28 bytes
        0x30, 0x0B,
        0x06, 0x07, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01,  // 1.3.6.1.2.1.1.1
        0x05, 0x00,
        0x30, 0x0D,
        0x06, 0x09, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x83, 0xB2, 0x03, 0x01,  // ...4.1.55555.1
        0x05, 0x00,
    };
    Bytes encoded = Encode(*message);
    EXPECT_EQ(Hex(expected), Hex(encoded));

    Datagram datagram(expected);
    auto decoded = NewMessage();
    ASSERT_EQ(1, Decode(datagram, decoded.get()));
    EXPECT_TRUE(BerMessagesEqual(*message, *decoded));
    EXPECT_EQ(BER_PDU_GETNEXT, decoded->pduType);
    EXPECT_EQ(1000, decoded->requestId);
}

// SNMPv2c: a GetBulk request as snmpbulkwalk sends one (non-repeaters and
// max-repetitions where SNMPv1 has error status and index), and answers
// carrying each exception and a Counter64. SNMPv1 takes no GetBulk.
TEST(BerV2c, GetBulkAndAnswersAgainstHandEncodings)
{
    auto bulk = NewMessage();
    StartMessage(bulk.get(), BER_PDU_GETBULK);
    bulk->version = BER_VERSION_2C;
    bulk->requestId = 1000;
    bulk->errorStatus = 0;      // non-repeaters
    bulk->errorIndex = 16;      // max-repetitions
    Add(bulk.get(), Bind(Oid({1, 3, 6, 1, 4, 1, 55555, 1}), BER_NULL));
    const Bytes request = {
        0x30, 0x28,                                            // message, 40 bytes
        0x02, 0x01, 0x01,                                      // version 1: SNMPv2c
        0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',              // community
        0xA5, 0x1B,                                            // GetBulk, 27 bytes
        0x02, 0x02, 0x03, 0xE8,                                // request id 1000
        0x02, 0x01, 0x00,                                      // non-repeaters 0
        0x02, 0x01, 0x10,                                      // max-repetitions 16
        0x30, 0x0F, 0x30, 0x0D,                                // one binding
        0x06, 0x09, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x83, 0xB2, 0x03, 0x01,  // ...4.1.55555.1
        0x05, 0x00,
    };
    EXPECT_EQ(Hex(request), Hex(Encode(*bulk)));
    Datagram requestDatagram(request);
    auto decodedRequest = NewMessage();
    ASSERT_EQ(1, Decode(requestDatagram, decodedRequest.get()));
    EXPECT_TRUE(BerMessagesEqual(*bulk, *decodedRequest));
    bulk->version = BER_VERSION_1;
    EXPECT_EQ(0u, Encode(*bulk).size()) << "SNMPv1 has no GetBulk";
    Bytes asV1 = request;
    asV1[4] = 0x00;
    Datagram v1Datagram(asV1);
    EXPECT_EQ(0, Decode(v1Datagram, decodedRequest.get())) << "an SNMPv1 GetBulk";

    const Bytes version1 = {0x02, 0x01, 0x01};
    const Bytes name = Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x83, 0xB2, 0x03, 0x02});
    struct Case {
        const char *label;
        Bytes value;
        int syntax;
        uint64_t number;
    } cases[] = {
        {"noSuchObject", {0x80, 0x00}, BER_NO_SUCH_OBJECT, 0},
        {"noSuchInstance", {0x81, 0x00}, BER_NO_SUCH_INSTANCE, 0},
        {"endOfMibView", {0x82, 0x00}, BER_END_OF_MIB_VIEW, 0},
        {"Counter64 top bit", {0x46, 0x09, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0x01}, BER_COUNTER64,
         0x8000000000000001ull},
        {"Counter64 five bytes", {0x46, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, BER_COUNTER64,
         0x100000000ull},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Bytes pdu = Tlv(0xA2, Cat({{0x02, 0x01, 0x07}, kZero, kZero,
                                   Tlv(0x30, Tlv(0x30, Cat({name, c.value})))}));
        Bytes bytes = Tlv(0x30, Cat({version1, kPublic, pdu}));
        Datagram datagram(bytes);
        auto decoded = NewMessage();
        ASSERT_EQ(1, Decode(datagram, decoded.get()));
        EXPECT_EQ(BER_VERSION_2C, decoded->version);
        EXPECT_EQ(BER_PDU_RESPONSE, decoded->pduType);
        ASSERT_EQ(1u, decoded->varBindCount);
        EXPECT_EQ(c.syntax, decoded->varBinds[0].value.syntax);
        EXPECT_EQ(c.number, decoded->varBinds[0].value.unsigned64);
        EXPECT_EQ(Hex(bytes), Hex(Encode(*decoded)));
    }

    // An SNMPv3 scoped PDU may be a GetBulk; the PDUs we never handle
    // (SNMPv1's trap, Inform, SNMPv2's trap) stay refused.
    const Bytes body = Cat({{0x02, 0x01, 0x07}, kZero, {0x02, 0x01, 0x10},
                            Tlv(0x30, Tlv(0x30, Cat({name, {0x05, 0x00}})))});
    for (uint8_t tag : {0xA5, 0xA4, 0xA6, 0xA7}) {
        SCOPED_TRACE(tag);
        Bytes pdu = Tlv(tag, body);
        auto decoded = NewMessage();
        EXPECT_EQ(tag == 0xA5 ? 1 : 0, BerDecodePdu(pdu.data(), pdu.size(), decoded.get()));
    }
}

TEST(BerDecode, RefusesEveryTruncation)
{
    auto message = NewMessage();
    FillEverySyntax(message.get());
    Bytes full = Encode(*message);
    ASSERT_GT(full.size(), 256u);    // long-form lengths are cut too
    auto decoded = NewMessage();
    for (size_t size = 0; size < full.size(); size++) {
        Datagram datagram(full, size);
        ASSERT_EQ(0, Decode(datagram, decoded.get())) << "accepted the first " << size << " bytes";
    }
    Datagram whole(full);
    EXPECT_EQ(1, Decode(whole, decoded.get()));
}

struct DecodeRow {
    const char *label;
    Bytes datagram;
};

void ExpectRefused(const std::vector<DecodeRow> &rows)
{
    for (const DecodeRow &row : rows) {
        SCOPED_TRACE(row.label);
        Datagram datagram(row.datagram);
        auto decoded = NewMessage();
        EXPECT_EQ(0, Decode(datagram, decoded.get())) << Hex(row.datagram);
    }
}

TEST(BerDecode, LengthForms)
{
    Bytes body = Cat({kVersion0, kPublic, Tlv(0xA2, Cat({kZero, kZero, kZero, Tlv(0x30, {})}))});
    Bytes good = Tlv(0x30, body);
    {
        Datagram datagram(good);
        auto decoded = NewMessage();
        ASSERT_EQ(1, Decode(datagram, decoded.get()));
        EXPECT_EQ(0u, decoded->varBindCount);
    }
    // Long form lengths that are longer than needed are taken as they are.
    Bytes longForm = Cat({{0x30, 0x82, 0x00, uint8_t(body.size())}, body});
    {
        Datagram datagram(longForm);
        auto decoded = NewMessage();
        EXPECT_EQ(1, Decode(datagram, decoded.get()));
    }
    Bytes indefiniteBindings = Cat({kVersion0, kPublic,
                                    Tlv(0xA2, Cat({kZero, kZero, kZero, {0x30, 0x80, 0x00, 0x00}}))});
    ExpectRefused({
        {"indefinite message", Cat({{0x30, 0x80}, body, {0x00, 0x00}})},
        {"indefinite binding list", Tlv(0x30, indefiniteBindings)},
        // Read as a zero length, this one would pass as an empty string.
        {"indefinite string ending its binding", ResponseWithList(Tlv(0x30, Cat({kName, {0x04, 0x80}})))},
        {"length of length 4 with 2 bytes left", {0x30, 0x84, 0x00, 0x00}},
        {"length of length 2 with 1 byte left", {0x30, 0x82, 0x00}},
        {"length of length 5", Cat({{0x30, 0x85, 0x00, 0x00, 0x00, 0x00, uint8_t(body.size())}, body})},
        {"length of length 127", Cat({{0x30, 0xFF}, body})},
        {"length one past the end", Cat({{0x30, uint8_t(body.size() + 1)}, body})},
        {"inner length past its parent",
         Tlv(0x30, Cat({kVersion0, {0x04, 0x07, 'p', 'u', 'b', 'l', 'i', 'c'}}))},
        {"length 2^32-1", Cat({{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, body})},
        {"empty datagram", {}},
        {"tag only", {0x30}},
    });
    // Oversized datagrams are refused before anything is read.
    Bytes huge = Cat({{0x30, 0x83, 0x01, 0x00, 0x00}, body});
    huge.resize(5 + 0x10000, 0);
    ExpectRefused({{"larger than any UDP payload", huge}});
}

TEST(BerDecode, IntegerSizes)
{
    struct Row {
        const char *label;
        Bytes value;
        int accepted;
    };
    const Row rows[] = {
        {"INTEGER min in 4 bytes", {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, 1},
        {"INTEGER 2^31 needs 5 bytes", {0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, 0},
        {"INTEGER min-1 needs 5 bytes", {0x02, 0x05, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}, 0},
        {"INTEGER redundant 0x00", {0x02, 0x02, 0x00, 0x01}, 0},
        {"INTEGER redundant 0xFF", {0x02, 0x02, 0xFF, 0x80}, 0},
        {"INTEGER empty", {0x02, 0x00}, 0},
        {"Counter32 max with pad", {0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 1},
        {"Counter32 2^32", {0x41, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, 0},
        {"Counter32 6 bytes", {0x41, 0x06, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"Counter32 redundant pad", {0x41, 0x05, 0x00, 0x7F, 0xFF, 0xFF, 0xFF}, 0},
        {"Counter32 negative", {0x41, 0x01, 0x80}, 0},
        {"Gauge32 negative 4 bytes", {0x42, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"TimeTicks empty", {0x43, 0x00}, 0},
        {"Counter64 max with pad", {0x46, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1},
        {"Counter64 2^64", {0x46, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0},
        {"Counter64 10 bytes", {0x46, 0x0A, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"Counter64 negative", {0x46, 0x08, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0},
        {"IpAddress 3 bytes", {0x40, 0x03, 10, 0, 0}, 0},
        {"IpAddress 5 bytes", {0x40, 0x05, 10, 0, 0, 1, 2}, 0},
        {"NULL with contents", {0x05, 0x01, 0x00}, 0},
        {"noSuchObject with contents", {0x80, 0x01, 0x00}, 0},
        {"endOfMibView with contents", {0x82, 0x01, 0x00}, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        Datagram datagram(ResponseWith(row.value));
        auto decoded = NewMessage();
        EXPECT_EQ(row.accepted, Decode(datagram, decoded.get())) << Hex(row.value);
    }
    // The decoded values of the accepted edges.
    auto decoded = NewMessage();
    Datagram minimum(ResponseWith(rows[0].value));
    ASSERT_EQ(1, Decode(minimum, decoded.get()));
    EXPECT_EQ(INT32_MIN, decoded->varBinds[0].value.integer);
    Datagram counter(ResponseWith(rows[6].value));
    ASSERT_EQ(1, Decode(counter, decoded.get()));
    EXPECT_EQ(0xFFFFFFFFu, decoded->varBinds[0].value.unsigned32);
    Datagram counter64(ResponseWith(rows[13].value));
    ASSERT_EQ(1, Decode(counter64, decoded.get()));
    EXPECT_EQ(~0ull, decoded->varBinds[0].value.unsigned64);

    // The header's integers have the same bounds.
    Bytes list = Tlv(0x30, {});
    ExpectRefused({
        {"request id of 5 bytes",
         Tlv(0x30, Cat({kVersion0, kPublic, Tlv(0xA2, Cat({{0x02, 0x05, 0x00, 0x80, 0, 0, 0}, kZero, kZero, list}))}))},
        {"error status with a redundant pad",
         Tlv(0x30, Cat({kVersion0, kPublic, Tlv(0xA2, Cat({kZero, {0x02, 0x02, 0x00, 0x02}, kZero, list}))}))},
        // Version 1 (SNMPv2c) decodes since GetBulk came (BerV2c); 2 is no
        // community version, 3 is SNMPv3's own codec.
        {"version 2",
         Tlv(0x30, Cat({{0x02, 0x01, 0x02}, kPublic, Tlv(0xA2, Cat({kZero, kZero, kZero, list}))}))},
        {"version 3",
         Tlv(0x30, Cat({{0x02, 0x01, 0x03}, kPublic, Tlv(0xA2, Cat({kZero, kZero, kZero, list}))}))},
        {"version -1",
         Tlv(0x30, Cat({{0x02, 0x01, 0xFF}, kPublic, Tlv(0xA2, Cat({kZero, kZero, kZero, list}))}))},
    });
}

// An OID TLV from raw sub-identifier bytes.
Bytes OidTlv(const Bytes &contents)
{
    return Tlv(0x06, contents);
}

TEST(BerDecode, SubIdentifierLimits)
{
    const Bytes max32 = {0x8F, 0xFF, 0xFF, 0xFF, 0x7F};           // 2^32-1
    const Bytes over32 = {0x90, 0x80, 0x80, 0x80, 0x00};          // 2^32
    const Bytes prefix = {0x2B, 0x06, 0x01};                       // 1.3.6.1

    for (bool asValue : {false, true}) {
        SCOPED_TRACE(asValue ? "in a value" : "in a name");
        auto place = [asValue](const Bytes &oid) {
            return asValue ? ResponseWith(oid) : ResponseWith(kNull, oid);
        };
        auto decoded = NewMessage();
        Datagram accepted(place(OidTlv(Cat({prefix, max32}))));
        ASSERT_EQ(1, Decode(accepted, decoded.get()));
        const BerOid &oid = asValue ? decoded->varBinds[0].value.oid : decoded->varBinds[0].name;
        ASSERT_EQ(5u, oid.length);
        EXPECT_EQ(0xFFFFFFFFu, oid.ids[4]);

        ExpectRefused({
            {"2^32", place(OidTlv(Cat({prefix, over32})))},
            {"2^35 in five digits", place(OidTlv(Cat({prefix, {0xFF, 0xFF, 0xFF, 0xFF, 0x7F}})))},
            {"six digits of a small value", place(OidTlv(Cat({prefix, {0x80, 0x80, 0x80, 0x80, 0x80, 0x01}})))},
            {"leading 0x80 digit", place(OidTlv(Cat({prefix, {0x80, 0x01}})))},
            {"last digit continues", place(OidTlv(Cat({prefix, {0x81}})))},
            {"empty OID", place(OidTlv({}))},
            {"first sub-identifier 2^32", place(OidTlv(over32))},
        });
    }
    // The first sub-identifier splits as X*40+Y: 2^32-1 is 2.(2^32-81).
    auto decoded = NewMessage();
    Datagram first(ResponseWith(kNull, OidTlv(max32)));
    ASSERT_EQ(1, Decode(first, decoded.get()));
    EXPECT_EQ(2u, decoded->varBinds[0].name.length);
    EXPECT_EQ(2u, decoded->varBinds[0].name.ids[0]);
    EXPECT_EQ(0xFFFFFFFFu - 80, decoded->varBinds[0].name.ids[1]);
    Datagram split(ResponseWith(kNull, OidTlv({39, 40, 79})));     // 0.39 then arcs 40, 79
    ASSERT_EQ(1, Decode(split, decoded.get()));
    EXPECT_EQ(4u, decoded->varBinds[0].name.length);
    EXPECT_EQ(0u, decoded->varBinds[0].name.ids[0]);
    EXPECT_EQ(39u, decoded->varBinds[0].name.ids[1]);
    Datagram one(ResponseWith(kNull, OidTlv({79})));
    ASSERT_EQ(1, Decode(one, decoded.get()));
    EXPECT_EQ(1u, decoded->varBinds[0].name.ids[0]);
    EXPECT_EQ(39u, decoded->varBinds[0].name.ids[1]);
}

TEST(BerDecode, OidLengthLimit)
{
    // The first byte holds two arcs, so 127 more sub-identifiers make 128.
    Bytes longest = {0x2B};
    longest.insert(longest.end(), BER_MAX_OID_LENGTH - 2, 0x01);
    Bytes tooLong = longest;
    tooLong.push_back(0x01);
    for (bool asValue : {false, true}) {
        SCOPED_TRACE(asValue ? "in a value" : "in a name");
        auto place = [asValue](const Bytes &oid) {
            return asValue ? ResponseWith(OidTlv(oid)) : ResponseWith(kNull, OidTlv(oid));
        };
        auto decoded = NewMessage();
        Datagram accepted(place(longest));
        ASSERT_EQ(1, Decode(accepted, decoded.get()));
        const BerOid &oid = asValue ? decoded->varBinds[0].value.oid : decoded->varBinds[0].name;
        EXPECT_EQ((uint32_t)BER_MAX_OID_LENGTH, oid.length);
        ExpectRefused({{"129 sub-identifiers", place(tooLong)}});
    }

    // The encoder refuses what the decoder could not give back.
    struct Row {
        const char *label;
        BerOid oid;
        int inName;
    };
    BerOid overLength = Oid({1, 3});
    overLength.length = BER_MAX_OID_LENGTH + 1;
    const Row rows[] = {
        {"no arcs", Oid({}), 1},
        {"one arc", Oid({1}), 1},
        {"first arc 3", Oid({3, 1}), 1},
        {"1.40", Oid({1, 40}), 1},
        {"2.(2^32-80)", Oid({2, 0xFFFFFFFFu - 79}), 1},
        {"longer than the record", overLength, 1},
        {"one arc as a value", Oid({1}), 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        auto message = NewMessage();
        StartMessage(message.get(), BER_PDU_GET);
        BerVarBind b = Bind(row.inName ? row.oid : Oid({1, 3}), row.inName ? BER_NULL : BER_OBJECT_IDENTIFIER);
        if (!row.inName)
            b.value.oid = row.oid;
        Add(message.get(), b);
        uint8_t out[1024];
        EXPECT_EQ(0u, BerEncodeMessage(message.get(), out, sizeof(out)));
    }
}

TEST(BerDecode, UnexpectedNesting)
{
    Bytes list = Tlv(0x30, {});
    auto message = [](const Bytes &version, const Bytes &community, uint8_t pduTag, const Bytes &pduBody) {
        return Tlv(0x30, Cat({version, community, Tlv(pduTag, pduBody)}));
    };
    Bytes pduBody = Cat({kZero, kZero, kZero, list});
    ExpectRefused({
        {"value is a SEQUENCE", ResponseWith(Tlv(0x30, kZero))},
        {"value is a constructed OCTET STRING", ResponseWith(Tlv(0x24, Tlv(0x04, {'a'})))},
        {"value is a PDU", ResponseWith(Tlv(0xA2, {}))},
        {"value of unknown tag 0x45", ResponseWith({0x45, 0x01, 0x00})},
        {"value of unknown tag 0x47", ResponseWith({0x47, 0x01, 0x00})},
        {"value with a high tag number", ResponseWith({0x1F, 0x02, 0x01, 0x00})},
        {"name is a SEQUENCE", ResponseWith(kNull, Tlv(0x30, kName))},
        {"binding has no value", ResponseWithList(Tlv(0x30, kName))},
        {"binding is not a SEQUENCE", ResponseWithList(Tlv(0x31, Cat({kName, kNull})))},
        {"binding list holds a bare name", ResponseWithList(Cat({kName, kNull}))},
        {"binding list is a PDU", message(kVersion0, kPublic, 0xA2, Cat({kZero, kZero, kZero, Tlv(0xA2, {})}))},
        {"binding list is missing", message(kVersion0, kPublic, 0xA2, Cat({kZero, kZero, kZero}))},
        {"version is a SEQUENCE", message(Tlv(0x30, kVersion0), kPublic, 0xA2, pduBody)},
        {"community is constructed", message(kVersion0, Tlv(0x24, kPublic), 0xA2, pduBody)},
        {"PDU is a SEQUENCE", message(kVersion0, kPublic, 0x30, pduBody)},
        {"Trap PDU", message(kVersion0, kPublic, 0xA4, pduBody)},
        {"GetBulk PDU", message(kVersion0, kPublic, 0xA5, pduBody)},
        {"message is a SET", Tlv(0x31, Cat({kVersion0, kPublic, Tlv(0xA2, pduBody)}))},
        {"message is a primitive", Tlv(0x10, Cat({kVersion0, kPublic, Tlv(0xA2, pduBody)}))},
    });
    // The four PDUs we speak are all taken.
    for (uint8_t tag : {0xA0, 0xA1, 0xA2, 0xA3}) {
        Datagram datagram(message(kVersion0, kPublic, tag, pduBody));
        auto decoded = NewMessage();
        EXPECT_EQ(1, Decode(datagram, decoded.get())) << "PDU tag " << int(tag);
        EXPECT_EQ(tag, decoded->pduType);
    }
}

TEST(BerDecode, TrailingBytes)
{
    Bytes pair = Tlv(0x30, Cat({kName, kNull}));
    Bytes good = ResponseWithList(pair);
    auto pdu = [](const Bytes &body) { return Tlv(0xA2, body); };
    ExpectRefused({
        {"after the message", Cat({good, {0x00}})},
        {"a second message after the first", Cat({good, good})},
        {"in a binding after its value", ResponseWithList(Tlv(0x30, Cat({kName, kNull, {0x00}})))},
        {"a second value in a binding", ResponseWithList(Tlv(0x30, Cat({kName, kNull, kNull})))},
        {"a stray byte in the binding list", ResponseWithList(Cat({pair, {0x00}}))},
        {"in the PDU after the list",
         Tlv(0x30, Cat({kVersion0, kPublic, pdu(Cat({kZero, kZero, kZero, Tlv(0x30, pair), kNull}))}))},
        {"in the message after the PDU",
         Tlv(0x30, Cat({kVersion0, kPublic, pdu(Cat({kZero, kZero, kZero, Tlv(0x30, pair)})), kNull}))},
    });
    Datagram datagram(good);
    auto decoded = NewMessage();
    EXPECT_EQ(1, Decode(datagram, decoded.get()));
}

TEST(BerDecode, BindingCountLimit)
{
    Bytes pair = Tlv(0x30, Cat({kName, kNull}));
    Bytes most;
    for (int i = 0; i < BER_MAX_VARBINDS; i++)
        most.insert(most.end(), pair.begin(), pair.end());
    Bytes tooMany = Cat({most, pair});
    auto decoded = NewMessage();
    Datagram accepted(ResponseWithList(most));
    ASSERT_EQ(1, Decode(accepted, decoded.get()));
    EXPECT_EQ((uint32_t)BER_MAX_VARBINDS, decoded->varBindCount);
    ExpectRefused({{"65 bindings", ResponseWithList(tooMany)}});

    auto message = NewMessage();
    StartMessage(message.get(), BER_PDU_RESPONSE);
    message->requestId = 7;
    for (int i = 0; i < BER_MAX_VARBINDS; i++)
        Add(message.get(), Bind(Oid({1, 3, 6, 1, 2, 1, 1, 5, 0}), BER_NULL));
    EXPECT_EQ(Hex(ResponseWithList(most)), Hex(Encode(*message)));
    message->varBindCount = BER_MAX_VARBINDS + 1;
    uint8_t out[4096];
    EXPECT_EQ(0u, BerEncodeMessage(message.get(), out, sizeof(out)));
}

TEST(BerEncode, RefusesEveryTooSmallBuffer)
{
    auto message = NewMessage();
    FillEverySyntax(message.get());
    Bytes full = Encode(*message);
    ASSERT_FALSE(full.empty());
    const size_t guard = 16;
    for (size_t capacity = 0; capacity < full.size(); capacity++) {
        // Exactly `capacity` bytes on the heap: a write past it is a fault.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[capacity ? capacity : 1]);
        ASSERT_EQ(0u, BerEncodeMessage(message.get(), exact.get(), capacity)) << "capacity " << capacity;
        // And in a larger buffer, nothing past `capacity` changes.
        Bytes roomy(capacity + guard, 0xEE);
        ASSERT_EQ(0u, BerEncodeMessage(message.get(), roomy.data(), capacity));
        for (size_t i = capacity; i < roomy.size(); i++)
            ASSERT_EQ(0xEE, roomy[i]) << "capacity " << capacity << " wrote byte " << i;
    }
    std::unique_ptr<uint8_t[]> exact(new uint8_t[full.size()]);
    ASSERT_EQ(full.size(), BerEncodeMessage(message.get(), exact.get(), full.size()));
    EXPECT_EQ(0, memcmp(full.data(), exact.get(), full.size()));
}

TEST(BerEncode, RefusesWhatItCannotWrite)
{
    struct Row {
        const char *label;
        void (*spoil)(BerMessage *);
    };
    const Row rows[] = {
        {"Trap PDU type", [](BerMessage *m) { m->pduType = BER_PDU_TRAP_V1; }},
        {"PDU type 0", [](BerMessage *m) { m->pduType = 0; }},
        {"community missing", [](BerMessage *m) { m->community = nullptr; }},
        {"unknown syntax", [](BerMessage *m) { m->varBinds[0].value.syntax = 0x47; }},
        {"SEQUENCE as a value", [](BerMessage *m) { m->varBinds[0].value.syntax = BER_SEQUENCE; }},
        {"string without octets",
         [](BerMessage *m) {
             m->varBinds[0].value.syntax = BER_OCTET_STRING;
             m->varBinds[0].value.octets = nullptr;
             m->varBinds[0].value.octetCount = 3;
         }},
        {"string larger than a datagram",
         [](BerMessage *m) {
             m->varBinds[0].value.syntax = BER_OPAQUE;
             m->varBinds[0].value.octets = g_longText;
             m->varBinds[0].value.octetCount = BER_MAX_MESSAGE + 1;
         }},
        {"IpAddress of 3 octets",
         [](BerMessage *m) {
             m->varBinds[0].value.syntax = BER_IPADDRESS;
             m->varBinds[0].value.octets = kAddress;
             m->varBinds[0].value.octetCount = 3;
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        auto message = NewMessage();
        StartMessage(message.get(), BER_PDU_SET);
        Add(message.get(), Bind(Oid({1, 3, 6, 1}), BER_NULL));
        uint8_t out[512];
        ASSERT_NE(0u, BerEncodeMessage(message.get(), out, sizeof(out)));
        row.spoil(message.get());
        EXPECT_EQ(0u, BerEncodeMessage(message.get(), out, sizeof(out)));
    }
    // A message that would not fit one UDP datagram is refused even with room.
    static uint8_t big[40000];
    auto message = NewMessage();
    StartMessage(message.get(), BER_PDU_SET);
    for (int i = 0; i < 2; i++) {
        BerVarBind b = Bind(Oid({1, 3, 6, 1}), BER_OCTET_STRING);
        b.value.octets = big;
        b.value.octetCount = sizeof(big);
        Add(message.get(), b);
    }
    std::vector<uint8_t> out(2 * BER_MAX_MESSAGE);
    EXPECT_EQ(0u, BerEncodeMessage(message.get(), out.data(), out.size()));
    message->varBindCount = 1;
    EXPECT_NE(0u, BerEncodeMessage(message.get(), out.data(), out.size()));
}

Bytes ReadFile(const std::string &path)
{
    Bytes bytes;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    uint8_t chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(file);
    return bytes;
}

// The captured snmpd replies: SNMPv1 ones decode and encode back to the
// same bytes; SNMPv2c ones are refused for their version alone.
TEST(BerDecode, RealAgentReplies)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(CORPUS_DIR)) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    if (names.empty())
        GTEST_SKIP() << "no captured replies in " CORPUS_DIR " (run scripts/capture-snmp-corpus.py)";
    int v1 = 0;
    int v2c = 0;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        Bytes bytes = ReadFile(std::string(CORPUS_DIR) + "/" + name);
        ASSERT_FALSE(bytes.empty());
        Datagram datagram(bytes);
        auto decoded = NewMessage();
        // snmpd's SNMPv2c replies decode too, in their own version.
        ASSERT_EQ(1, Decode(datagram, decoded.get()));
        int isV2c = name.compare(0, 4, "v2c-") == 0 && name.compare(0, 10, "v2c-as-v1-") != 0;
        EXPECT_EQ(isV2c ? BER_VERSION_2C : BER_VERSION_1, decoded->version);
        v2c += isV2c;
        EXPECT_EQ(BER_PDU_RESPONSE, decoded->pduType);
        EXPECT_GE(decoded->varBindCount, 1u);
        EXPECT_EQ(Hex(bytes), Hex(Encode(*decoded)));
        v1 += !isV2c;
    }
    EXPECT_GT(v1, 0);
    EXPECT_GT(v2c, 0);
}

}  // namespace
