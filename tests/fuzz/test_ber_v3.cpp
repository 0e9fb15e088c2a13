// Unit tests of the SNMPv3 codec (winsnmp/ber_v3.cpp): the messages captured
// from snmpd, and hand-made messages that break one rule each.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <vector>

#include "ber_compare.h"
#include "winsnmp/ber_v3.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Tlv(uint8_t tag, const Bytes &contents)
{
    Bytes out{tag};
    if (contents.size() >= 0x80)
        out.push_back(0x81);
    out.push_back(uint8_t(contents.size()));
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

Bytes Int(uint8_t value)
{
    return {0x02, 0x01, value};
}

// The fields of a hand-made message, each replaceable as raw bytes.
struct Parts {
    Bytes version = Int(3);
    Bytes msgId = Int(5);
    Bytes maxSize = {0x02, 0x02, 0x05, 0xDC};           // 1500
    Bytes flags = Tlv(0x04, {0x05});                    // auth, reportable
    Bytes model = Int(3);
    Bytes engine = Tlv(0x04, {0x80, 0, 0x1F, 0x88, 0x04});
    Bytes boots = Int(1);
    Bytes user = Tlv(0x04, {'u'});
    Bytes auth = Tlv(0x04, Bytes(12, 0xAA));
    Bytes priv = Tlv(0x04, {});
    Bytes usmTail = {};
    Bytes data = Tlv(0x30, Cat({Tlv(0x04, {}), Tlv(0x04, {}),
                                Tlv(0xA0, Cat({Int(1), Int(0), Int(0), Tlv(0x30, {})}))}));
    Bytes tail = {};
};

Bytes Build(const Parts &p)
{
    Bytes usm = Tlv(0x30, Cat({p.engine, p.boots, Int(2), p.user, p.auth, p.priv}));
    Bytes header = Tlv(0x30, Cat({p.msgId, p.maxSize, p.flags, p.model}));
    return Cat({Tlv(0x30, Cat({p.version, header, Tlv(0x04, Cat({usm, p.usmTail})), p.data})),
                p.tail});
}

int Decode(const Bytes &bytes, V3Message *m)
{
    // Exactly as large as the message, so that a read past it is caught.
    std::vector<uint8_t> copy(bytes);
    copy.shrink_to_fit();
    return V3DecodeMessage(copy.data(), copy.size(), m);
}

TEST(V3Codec, HandMadeMessagesBreakingOneRuleAreRefused)
{
    struct Case {
        const char *label;
        void (*change)(Parts &);
        int expected;
    } cases[] = {
        {"as made", [](Parts &) {}, 1},
        {"version 1", [](Parts &p) { p.version = Int(1); }, 0},
        {"security model 2", [](Parts &p) { p.model = Int(2); }, 0},
        {"max size 483", [](Parts &p) { p.maxSize = {0x02, 0x02, 0x01, 0xE3}; }, 0},
        {"max size 484", [](Parts &p) { p.maxSize = {0x02, 0x02, 0x01, 0xE4}; }, 1},
        {"negative msgID", [](Parts &p) { p.msgId = Int(0xFF); }, 0},
        {"two flag bytes", [](Parts &p) { p.flags = Tlv(0x04, {0x05, 0}); }, 0},
        {"privacy without authentication", [](Parts &p) { p.flags = Tlv(0x04, {0x02}); }, 0},
        {"privacy flag, plain data", [](Parts &p) { p.flags = Tlv(0x04, {0x03}); }, 0},
        {"privacy, enciphered data",
         [](Parts &p) {
             p.flags = Tlv(0x04, {0x03});
             p.priv = Tlv(0x04, Bytes(8, 1));
             p.data = Tlv(0x04, {1, 2, 3});
         }, 1},
        {"salt of 7 bytes", [](Parts &p) { p.priv = Tlv(0x04, Bytes(7, 1)); }, 0},
        {"salt of 9 bytes", [](Parts &p) { p.priv = Tlv(0x04, Bytes(9, 1)); }, 0},
        {"salt of 8 bytes", [](Parts &p) { p.priv = Tlv(0x04, Bytes(8, 1)); }, 1},
        {"boots at their end",
         [](Parts &p) { p.boots = {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}; }, 1},
        {"engine id of 33 bytes", [](Parts &p) { p.engine = Tlv(0x04, Bytes(33, 1)); }, 0},
        {"engine id of 32 bytes", [](Parts &p) { p.engine = Tlv(0x04, Bytes(32, 1)); }, 1},
        {"user name of 33 bytes", [](Parts &p) { p.user = Tlv(0x04, Bytes(33, 'u')); }, 0},
        {"digest of 65 bytes", [](Parts &p) { p.auth = Tlv(0x04, Bytes(65, 0)); }, 0},
        {"negative boots", [](Parts &p) { p.boots = Int(0x80); }, 0},
        {"a byte after the parameters", [](Parts &p) { p.usmTail = {0}; }, 0},
        {"a byte after the message", [](Parts &p) { p.tail = {0}; }, 0},
        {"data cut short", [](Parts &p) { p.data.pop_back(); }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Parts parts;
        c.change(parts);
        Bytes bytes = Build(parts);
        V3Message m;
        ASSERT_EQ(Decode(bytes, &m), c.expected);
    }

    // Where the digest lies, and the encoder putting every byte back.
    Parts parts;
    Bytes bytes = Build(parts);
    V3Message m;
    ASSERT_EQ(V3DecodeMessage(bytes.data(), bytes.size(), &m), 1);
    EXPECT_EQ(Bytes(bytes.begin() + m.authOffset, bytes.begin() + m.authOffset + 12),
              Bytes(12, 0xAA));
    Bytes out(BER_MAX_MESSAGE);
    size_t authOffset = 0;
    out.resize(V3EncodeMessage(&m, out.data(), out.size(), &authOffset));
    EXPECT_EQ(out, bytes);
    EXPECT_EQ(authOffset, m.authOffset);
}

TEST(V3Codec, CapturedMessagesDecodeAndEncodeToTheSameBytes)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(V3_CORPUS_DIR)) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    if (names.empty())
        GTEST_SKIP() << "no captured messages in " V3_CORPUS_DIR " (scripts/capture-v3-corpus.py)";
    int reports = 0;
    int plain = 0;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        Bytes bytes;
        FILE *f = fopen((std::string(V3_CORPUS_DIR) + "/" + name).c_str(), "rb");
        ASSERT_NE(f, nullptr);
        for (int c; (c = fgetc(f)) != EOF;)
            bytes.push_back(uint8_t(c));
        fclose(f);
        V3Message m;
        ASSERT_EQ(V3DecodeMessage(bytes.data(), bytes.size(), &m), 1);
        Bytes out(BER_MAX_MESSAGE);
        size_t authOffset = 0;
        out.resize(V3EncodeMessage(&m, out.data(), out.size(), &authOffset));
        EXPECT_EQ(out, bytes);
        if (m.flags & V3_FLAG_PRIV)
            continue;
        V3Scope scope;
        BerMessage pdu;
        ASSERT_EQ(V3DecodeScopedPdu(m.data, m.dataSize, &scope, &pdu), 1);
        reports += pdu.pduType == BER_PDU_REPORT;
        plain++;
    }
    EXPECT_GT(reports, 0);
    EXPECT_GT(plain, 0);
}

}  // namespace
