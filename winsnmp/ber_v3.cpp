// SNMPv3 message encoding and decoding on the cursor and writer of ber.cpp.
// Platform-neutral: standard headers only, for the native fuzzing build.
// The same strictness as the SNMPv1 decoder: every length checked against
// what is left, every constructed value used up exactly by its contents,
// each octet string bounded before its pointer is kept.
#include "winsnmp/ber_v3.h"
#include "winsnmp/ber_cursor.h"

#include <string.h>

// An OCTET STRING of at most maxSize bytes: its contents and length.
static int ReadOctets(BerCursor *cursor, size_t maxSize, const uint8_t **bytes, uint32_t *length)
{
    BerCursor contents;
    if (!ReadExpected(cursor, BER_OCTET_STRING, &contents) || contents.left > maxSize)
        return 0;
    *bytes = contents.p;
    *length = (uint32_t)contents.left;
    return 1;
}

// A non-negative INTEGER (message ids, sizes, boots and time).
static int ReadNonNegative(BerCursor *cursor, int32_t *value)
{
    return ReadInteger32(cursor, value) && *value >= 0;
}

// The user-based security parameters: an OCTET STRING wrapping a SEQUENCE.
static int ReadSecurityParameters(BerCursor *cursor, const uint8_t *start, V3Message *message)
{
    BerCursor wrapper;
    BerCursor sequence;
    if (!ReadExpected(cursor, BER_OCTET_STRING, &wrapper) ||
        !ReadExpected(&wrapper, BER_SEQUENCE, &sequence) || wrapper.left != 0)
        return 0;
    if (!ReadOctets(&sequence, V3_MAX_ENGINE_ID, &message->engineId, &message->engineIdLength) ||
        !ReadNonNegative(&sequence, &message->engineBoots) ||
        !ReadNonNegative(&sequence, &message->engineTime) ||
        !ReadOctets(&sequence, V3_MAX_USER_NAME, &message->userName, &message->userNameLength) ||
        !ReadOctets(&sequence, V3_MAX_AUTH_PARAMETERS, &message->authParameters,
                    &message->authParametersLength) ||
        !ReadOctets(&sequence, V3_PRIV_PARAMETERS, &message->privParameters,
                    &message->privParametersLength))
        return 0;
    message->authOffset = (size_t)(message->authParameters - start);
    return sequence.left == 0 &&
           (message->privParametersLength == 0 ||
            message->privParametersLength == V3_PRIV_PARAMETERS);
}

int V3DecodeMessage(const uint8_t *data, size_t size, V3Message *message)
{
    BerCursor datagram;
    BerCursor body;
    BerCursor header;
    BerCursor flags;
    BerCursor scoped;
    int32_t version = 0;
    int32_t model = 0;
    uint8_t tag = 0;

    if (data == NULL || message == NULL || size > BER_MAX_MESSAGE)
        return 0;
    memset(message, 0, sizeof(*message));
    datagram.p = data;
    datagram.left = size;
    if (!ReadExpected(&datagram, BER_SEQUENCE, &body) || datagram.left != 0)
        return 0;
    if (!ReadInteger32(&body, &version) || version != V3_VERSION)
        return 0;
    if (!ReadExpected(&body, BER_SEQUENCE, &header) ||
        !ReadNonNegative(&header, &message->msgId) ||
        !ReadNonNegative(&header, &message->maxSize) || message->maxSize < V3_MIN_MAX_SIZE ||
        !ReadExpected(&header, BER_OCTET_STRING, &flags) || flags.left != 1 ||
        !ReadInteger32(&header, &model) || model != V3_SECURITY_MODEL_USM || header.left != 0)
        return 0;
    message->flags = flags.p[0];
    if ((message->flags & V3_FLAG_PRIV) && !(message->flags & V3_FLAG_AUTH))
        return 0;
    if (!ReadSecurityParameters(&body, data, message))
        return 0;
    const uint8_t *start = body.p;
    if (!ReadHeader(&body, &tag, &scoped) || body.left != 0)
        return 0;
    if (message->flags & V3_FLAG_PRIV) {
        if (tag != BER_OCTET_STRING)
            return 0;
        message->data = scoped.p;
        message->dataSize = scoped.left;
    } else {
        if (tag != BER_SEQUENCE)
            return 0;
        message->data = start;
        message->dataSize = (size_t)(scoped.p + scoped.left - start);
    }
    return 1;
}

int V3DecodeScopedPdu(const uint8_t *data, size_t size, V3Scope *scope, BerMessage *pdu)
{
    BerCursor plain;
    BerCursor sequence;
    if (data == NULL || scope == NULL || pdu == NULL || size > BER_MAX_MESSAGE)
        return 0;
    memset(scope, 0, sizeof(*scope));
    plain.p = data;
    plain.left = size;
    if (!ReadExpected(&plain, BER_SEQUENCE, &sequence) ||
        !ReadOctets(&sequence, V3_MAX_ENGINE_ID, &scope->contextEngineId,
                    &scope->contextEngineIdLength) ||
        !ReadOctets(&sequence, V3_MAX_CONTEXT_NAME, &scope->contextName,
                    &scope->contextNameLength))
        return 0;
    // What is left of the sequence is exactly the PDU.
    return BerDecodePdu(sequence.p, sequence.left, pdu);
}

size_t V3EncodeScopedPdu(const V3Scope *scope, const uint8_t *pdu, size_t pduSize, uint8_t *out,
                         size_t capacity)
{
    BerWriter writer;
    if (scope == NULL || pdu == NULL || out == NULL ||
        scope->contextEngineIdLength > V3_MAX_ENGINE_ID ||
        scope->contextNameLength > V3_MAX_CONTEXT_NAME || pduSize > BER_MAX_MESSAGE)
        return 0;
    size_t bodySize = TlvSize(scope->contextEngineIdLength) + TlvSize(scope->contextNameLength) +
                      pduSize;
    if (TlvSize(bodySize) > capacity)
        return 0;
    writer.p = out;
    writer.left = capacity;
    if (!PutHeader(&writer, BER_SEQUENCE, bodySize) ||
        !PutHeader(&writer, BER_OCTET_STRING, scope->contextEngineIdLength) ||
        !PutBytes(&writer, scope->contextEngineId, scope->contextEngineIdLength) ||
        !PutHeader(&writer, BER_OCTET_STRING, scope->contextNameLength) ||
        !PutBytes(&writer, scope->contextName, scope->contextNameLength) ||
        !PutBytes(&writer, pdu, pduSize))
        return 0;
    return (size_t)(writer.p - out);
}

size_t V3EncodeMessage(const V3Message *message, uint8_t *out, size_t capacity,
                       size_t *authOffset)
{
    BerWriter writer;
    if (message == NULL || out == NULL || authOffset == NULL || message->msgId < 0 ||
        message->maxSize < V3_MIN_MAX_SIZE || message->engineBoots < 0 ||
        message->engineTime < 0 || message->engineIdLength > V3_MAX_ENGINE_ID ||
        message->userNameLength > V3_MAX_USER_NAME ||
        message->authParametersLength > V3_MAX_AUTH_PARAMETERS ||
        (message->privParametersLength != 0 &&
         message->privParametersLength != V3_PRIV_PARAMETERS) ||
        message->dataSize > BER_MAX_MESSAGE || message->data == NULL)
        return 0;
    size_t headerSize = TlvSize(Integer32Size(message->msgId)) +
                        TlvSize(Integer32Size(message->maxSize)) + TlvSize(1) +
                        TlvSize(Integer32Size(V3_SECURITY_MODEL_USM));
    size_t usmSize = TlvSize(message->engineIdLength) +
                     TlvSize(Integer32Size(message->engineBoots)) +
                     TlvSize(Integer32Size(message->engineTime)) +
                     TlvSize(message->userNameLength) + TlvSize(message->authParametersLength) +
                     TlvSize(message->privParametersLength);
    // Encrypted data travels as an OCTET STRING; a plain scoped PDU is
    // already encoded.
    int encrypted = (message->flags & V3_FLAG_PRIV) != 0;
    size_t dataSize = encrypted ? TlvSize(message->dataSize) : message->dataSize;
    size_t bodySize = TlvSize(Integer32Size(V3_VERSION)) + TlvSize(headerSize) +
                      TlvSize(TlvSize(usmSize)) + dataSize;
    size_t total = TlvSize(bodySize);
    if (total > BER_MAX_MESSAGE || total > capacity)
        return 0;
    uint8_t flags = message->flags;
    writer.p = out;
    writer.left = capacity;
    if (!PutHeader(&writer, BER_SEQUENCE, bodySize) ||
        !PutInteger32(&writer, V3_VERSION) ||
        !PutHeader(&writer, BER_SEQUENCE, headerSize) ||
        !PutInteger32(&writer, message->msgId) ||
        !PutInteger32(&writer, message->maxSize) ||
        !PutHeader(&writer, BER_OCTET_STRING, 1) || !PutBytes(&writer, &flags, 1) ||
        !PutInteger32(&writer, V3_SECURITY_MODEL_USM) ||
        !PutHeader(&writer, BER_OCTET_STRING, TlvSize(usmSize)) ||
        !PutHeader(&writer, BER_SEQUENCE, usmSize) ||
        !PutHeader(&writer, BER_OCTET_STRING, message->engineIdLength) ||
        !PutBytes(&writer, message->engineId, message->engineIdLength) ||
        !PutInteger32(&writer, message->engineBoots) ||
        !PutInteger32(&writer, message->engineTime) ||
        !PutHeader(&writer, BER_OCTET_STRING, message->userNameLength) ||
        !PutBytes(&writer, message->userName, message->userNameLength) ||
        !PutHeader(&writer, BER_OCTET_STRING, message->authParametersLength))
        return 0;
    *authOffset = (size_t)(writer.p - out);
    if (!PutBytes(&writer, message->authParameters, message->authParametersLength) ||
        !PutHeader(&writer, BER_OCTET_STRING, message->privParametersLength) ||
        !PutBytes(&writer, message->privParameters, message->privParametersLength))
        return 0;
    if (encrypted && !PutHeader(&writer, BER_OCTET_STRING, message->dataSize))
        return 0;
    if (!PutBytes(&writer, message->data, message->dataSize))
        return 0;
    return (size_t)(writer.p - out);
}
