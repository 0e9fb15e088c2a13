// libFuzzer target for the SNMPv1 and SNMPv2c decoder (the corpus holds
// replies of both). Whatever decodes must encode again, decode to the same
// message, and re-encode to the same bytes.
#include <stdio.h>
#include <stdlib.h>

#include "ber_compare.h"

static BerMessage g_first;
static BerMessage g_second;
static uint8_t g_encoded[BER_MAX_MESSAGE];
static uint8_t g_reencoded[BER_MAX_MESSAGE];

static void Fail(const char *what)
{
    fprintf(stderr, "round trip failed: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!BerDecodeMessage(data, size, &g_first))
        return 0;
    size_t encodedSize = BerEncodeMessage(&g_first, g_encoded, sizeof(g_encoded));
    if (encodedSize == 0)
        Fail("a decoded message does not encode");
    // Lengths are written in their shortest form and integers are only
    // accepted in theirs, so the encoding is never longer than the input.
    if (encodedSize > size)
        Fail("the encoding grew");
    if (!BerDecodeMessage(g_encoded, encodedSize, &g_second))
        Fail("our own encoding does not decode");
    if (!BerMessagesEqual(g_first, g_second))
        Fail("the decoded message changed");
    size_t reencodedSize = BerEncodeMessage(&g_second, g_reencoded, sizeof(g_reencoded));
    if (reencodedSize != encodedSize || memcmp(g_encoded, g_reencoded, encodedSize) != 0)
        Fail("encoding is not stable");
    // Shortest form in, same bytes out.
    if (encodedSize == size && memcmp(g_encoded, data, size) != 0)
        Fail("same size, different bytes");
    return 0;
}
