// SNMPv3 cryptography on CNG against the published vectors: HMAC (RFC 2202,
// RFC 4231), password to key and localisation (RFC 3414 A.3), AES-128 in
// 128-bit cipher feedback (NIST SP 800-38A F.3.13 and F.3.14).
#include "winsnmp/usm_crypto.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Hex(const std::string &text)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back((uint8_t)std::stoi(text.substr(i, 2), nullptr, 16));
    return bytes;
}

std::vector<uint8_t> Bytes(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

const std::string NIST_PLAIN = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                               "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const std::string NIST_CIPHER = "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
                                "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6";

TEST(UsmCrypto, PublishedVectors)
{
    struct Case {
        const char *label;
        char kind;                  // H hmac, K password to key, E/D cipher
        int auth;
        std::vector<uint8_t> key;   // H: key; K: password; E/D: key
        std::vector<uint8_t> input; // H: data; K: engine id; E/D: text in
        std::string expected;       // H: mac; K: Ku then Kul; E/D: text out
    } cases[] = {
        {"RFC 2202 MD5 1", 'H', USM_AUTH_MD5, std::vector<uint8_t>(16, 0x0b), Bytes("Hi There"),
         "9294727a3638bb1c13f48ef8158bfc9d"},
        {"RFC 2202 MD5 2", 'H', USM_AUTH_MD5, Bytes("Jefe"), Bytes("what do ya want for nothing?"),
         "750c783e6ab0b503eaa86e310a5db738"},
        {"RFC 2202 SHA 1", 'H', USM_AUTH_SHA, std::vector<uint8_t>(20, 0x0b), Bytes("Hi There"),
         "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"RFC 2202 SHA 2", 'H', USM_AUTH_SHA, Bytes("Jefe"), Bytes("what do ya want for nothing?"),
         "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {"RFC 4231 SHA-256 1", 'H', USM_AUTH_SHA256, std::vector<uint8_t>(20, 0x0b),
         Bytes("Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"RFC 3414 A.3 MD5", 'K', USM_AUTH_MD5, Bytes("maplesyrup"), Hex("000000000000000000000002"),
         "9faf3283884e92834ebc9847d8edd963526f5eed9fcce26f8964c2930787d82b"},
        {"RFC 3414 A.3 SHA", 'K', USM_AUTH_SHA, Bytes("maplesyrup"), Hex("000000000000000000000002"),
         "9fb5cc0381497b3793528939ff788d5d791452116695febc9288e36282235fc7151f128497b38f3f"},
        {"F.3.13 encrypt", 'E', 0, Hex("2b7e151628aed2a6abf7158809cf4f3c"), Hex(NIST_PLAIN),
         NIST_CIPHER},
        {"F.3.14 decrypt", 'D', 0, Hex("2b7e151628aed2a6abf7158809cf4f3c"), Hex(NIST_CIPHER),
         NIST_PLAIN},
        // A message rarely fills its last block: the stream is cut there.
        {"F.3.13 cut at 21 bytes", 'E', 0, Hex("2b7e151628aed2a6abf7158809cf4f3c"),
         Hex(NIST_PLAIN.substr(0, 42)), NIST_CIPHER.substr(0, 42)},
        {"F.3.14 cut at 21 bytes", 'D', 0, Hex("2b7e151628aed2a6abf7158809cf4f3c"),
         Hex(NIST_CIPHER.substr(0, 42)), NIST_PLAIN.substr(0, 42)},
    };
    const std::vector<uint8_t> iv = Hex("000102030405060708090a0b0c0d0e0f");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> out(64, 0xEE);
        std::vector<uint8_t> expected = Hex(c.expected);
        if (c.kind == 'H') {
            ASSERT_EQ(UsmHmac(c.auth, c.key.data(), c.key.size(), c.input.data(), c.input.size(),
                              out.data()), 1);
            out.resize(UsmKeySize(c.auth));
        } else if (c.kind == 'K') {
            size_t size = UsmKeySize(c.auth);
            ASSERT_EQ(UsmPasswordToKey(c.auth, (const char *)c.key.data(), c.key.size(), out.data()),
                      1);
            ASSERT_EQ(UsmLocalizeKey(c.auth, out.data(), c.input.data(), c.input.size(),
                                     out.data() + size), 1);
            out.resize(2 * size);
        } else {
            // In place, as messages are deciphered.
            out = c.input;
            ASSERT_EQ(UsmAesCfb(c.key.data(), iv.data(), out.data(), out.data(), out.size(),
                                c.kind == 'D'), 1);
        }
        EXPECT_EQ(out, expected);
    }
}

TEST(UsmCrypto, SaltsDoNotRepeatAndBadArgumentsFail)
{
    uint64_t first = 0, second = 0;
    ASSERT_EQ(UsmNextSalt(&first), 1);
    ASSERT_EQ(UsmNextSalt(&second), 1);
    EXPECT_EQ(second, first + 1);
    // From a random start, not from 0 or 1 as a failed draw would leave it.
    EXPECT_GT(first, 1u);
    uint8_t key[USM_MAX_KEY];
    EXPECT_EQ(UsmPasswordToKey(USM_AUTH_SHA, "", 0, key), 0);
    EXPECT_EQ(UsmPasswordToKey(USM_AUTH_NONE, "maplesyrup", 10, key), 0);
    EXPECT_EQ(UsmHmac(99, key, 16, key, 16, key), 0);
    EXPECT_EQ(UsmMacSize(USM_AUTH_SHA256), 24u);
    EXPECT_EQ(UsmMacSize(USM_AUTH_MD5), 12u);
}

} // namespace
