// libFuzzer target for the SNMPv3 decoder: the message (header, security
// parameters), then its data as a scoped PDU, enciphered data included (as
// if it had been deciphered to these bytes). Whatever decodes must encode
// again and decode to the same fields.
#include <stdio.h>
#include <stdlib.h>

#include "ber_compare.h"
#include "winsnmp/ber_v3.h"

static BerMessage g_first;
static BerMessage g_second;
static uint8_t g_pdu[BER_MAX_MESSAGE];
static uint8_t g_scoped[BER_MAX_MESSAGE];
static uint8_t g_encoded[BER_MAX_MESSAGE];

static void Fail(const char *what)
{
    fprintf(stderr, "round trip failed: %s\n", what);
    abort();
}

static bool SameOctets(const uint8_t *a, uint32_t aCount, const uint8_t *b, uint32_t bCount)
{
    return BerOctetsEqual(a, aCount, b, bCount);
}

static void ScopedRoundTrip(const uint8_t *data, size_t size)
{
    V3Scope scope, again;
    if (!V3DecodeScopedPdu(data, size, &scope, &g_first))
        return;
    size_t pduSize = BerEncodePdu(&g_first, g_pdu, sizeof(g_pdu));
    if (pduSize == 0)
        Fail("a decoded PDU does not encode");
    size_t scopedSize = V3EncodeScopedPdu(&scope, g_pdu, pduSize, g_scoped, sizeof(g_scoped));
    if (scopedSize == 0 || !V3DecodeScopedPdu(g_scoped, scopedSize, &again, &g_second))
        Fail("our scoped PDU does not decode");
    if (!BerMessagesEqual(g_first, g_second) ||
        !SameOctets(scope.contextEngineId, scope.contextEngineIdLength, again.contextEngineId,
                    again.contextEngineIdLength) ||
        !SameOctets(scope.contextName, scope.contextNameLength, again.contextName,
                    again.contextNameLength))
        Fail("the scoped PDU changed");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    V3Message m, again;
    size_t authOffset = 0;
    // The scoped PDU's decoder on any bytes, as after a decipherment.
    ScopedRoundTrip(data, size);
    if (!V3DecodeMessage(data, size, &m))
        return 0;
    // The salt is all of an AES initialisation vector's last half or absent:
    // any other length would read past it or leave part of the vector open.
    if (m.privParametersLength != 0 && m.privParametersLength != V3_PRIV_PARAMETERS)
        Fail("a salt of another length than 8 bytes");
    if ((m.flags & V3_FLAG_PRIV) && !(m.flags & V3_FLAG_AUTH))
        Fail("privacy without authentication");
    if (m.authOffset + m.authParametersLength > size ||
        data + m.authOffset != m.authParameters || m.data + m.dataSize > data + size)
        Fail("a field lies outside the message");
    size_t encodedSize = V3EncodeMessage(&m, g_encoded, sizeof(g_encoded), &authOffset);
    if (encodedSize == 0 || !V3DecodeMessage(g_encoded, encodedSize, &again))
        Fail("our encoding does not decode");
    if (again.msgId != m.msgId || again.maxSize != m.maxSize || again.flags != m.flags ||
        again.engineBoots != m.engineBoots || again.engineTime != m.engineTime ||
        again.authOffset != authOffset ||
        !SameOctets(m.engineId, m.engineIdLength, again.engineId, again.engineIdLength) ||
        !SameOctets(m.userName, m.userNameLength, again.userName, again.userNameLength) ||
        !SameOctets(m.authParameters, m.authParametersLength, again.authParameters,
                    again.authParametersLength) ||
        !SameOctets(m.privParameters, m.privParametersLength, again.privParameters,
                    again.privParametersLength) ||
        again.dataSize != m.dataSize || memcmp(again.data, m.data, m.dataSize) != 0)
        Fail("the message changed");
    ScopedRoundTrip(m.data, m.dataSize);
    return 0;
}
