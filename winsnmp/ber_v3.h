// SNMPv3 message encoding and decoding (the message header, the user-based
// security parameters, the scoped PDU), platform-neutral like ber.h, so that
// the fuzzing build compiles it natively. No cryptography here: the caller
// checks the digest and deciphers between V3DecodeMessage and
// V3DecodeScopedPdu.
#pragma once

#include "winsnmp/ber.h"

enum {
    V3_VERSION = 3,
    V3_SECURITY_MODEL_USM = 3,
    V3_MIN_MAX_SIZE = 484,          // the smallest message size an engine may announce
    V3_MAX_ENGINE_ID = 32,
    V3_MAX_USER_NAME = 32,
    V3_MAX_CONTEXT_NAME = 32,
    V3_MAX_AUTH_PARAMETERS = 64,
    V3_PRIV_PARAMETERS = 8,         // the salt of AES
    V3_FLAG_AUTH = 0x01,
    V3_FLAG_PRIV = 0x02,
    V3_FLAG_REPORTABLE = 0x04
};

// A decoded message. Pointers lead into the datagram (nothing is copied).
struct V3Message {
    int32_t msgId;                  // 0 to 2^31-1
    int32_t maxSize;                // V3_MIN_MAX_SIZE to 2^31-1
    uint8_t flags;                  // V3_FLAG_*; privacy never without authentication
    const uint8_t *engineId;        // the authoritative engine's, up to V3_MAX_ENGINE_ID
    uint32_t engineIdLength;
    int32_t engineBoots;            // 0 to 2^31-1
    int32_t engineTime;             // 0 to 2^31-1
    const uint8_t *userName;        // up to V3_MAX_USER_NAME
    uint32_t userNameLength;
    const uint8_t *authParameters;  // the digest, up to V3_MAX_AUTH_PARAMETERS
    uint32_t authParametersLength;
    size_t authOffset;              // where the digest lies in the datagram
    const uint8_t *privParameters;  // the salt, empty or V3_PRIV_PARAMETERS
    uint32_t privParametersLength;
    // With V3_FLAG_PRIV: the ciphertext. Otherwise the scoped PDU's
    // encoding, from its SEQUENCE tag on.
    const uint8_t *data;
    size_t dataSize;
};

struct V3Scope {
    const uint8_t *contextEngineId;
    uint32_t contextEngineIdLength;
    const uint8_t *contextName;
    uint32_t contextNameLength;
};

// Decodes an SNMPv3 message with the user-based security model. Every
// length is checked against what remains, as BerDecodeMessage does; another
// version or security model, sizes beyond the limits above, a privacy flag
// without authentication, and trailing bytes make it fail. 1 or 0.
int V3DecodeMessage(const uint8_t *data, size_t size, V3Message *message);

// Decodes a scoped PDU: the context and the PDU (see BerDecodePdu). Bytes
// after the scoped PDU's SEQUENCE (a cipher's padding) are ignored. 1 or 0.
int V3DecodeScopedPdu(const uint8_t *data, size_t size, V3Scope *scope, BerMessage *pdu);

// Encodes a scoped PDU around an encoded PDU. The size, or 0 when it does
// not fit.
size_t V3EncodeScopedPdu(const V3Scope *scope, const uint8_t *pdu, size_t pduSize, uint8_t *out,
                         size_t capacity);

// Encodes a message; its data as V3Message describes, its digest as given
// (zeros, to be filled in once the digest over the whole is known), and
// *authOffset set to where the digest lies. The size, or 0 when it does not
// fit or a field is out of range.
size_t V3EncodeMessage(const V3Message *message, uint8_t *out, size_t capacity,
                       size_t *authOffset);
