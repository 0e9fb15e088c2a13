// The BER cursor and writer of ber.cpp and the primitives that the SNMPv3
// codec (ber_v3.cpp) shares with it. Platform-neutral, like both.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Bytes still to be read, from p on.
struct BerCursor {
    const uint8_t *p;
    size_t left;
};

// Room still to be written, from p on.
struct BerWriter {
    uint8_t *p;
    size_t left;
};

// Decoding: a tag and length, contents getting the value's bytes, which the
// outer cursor steps over; the same with the tag required; an INTEGER of at
// most four bytes in the minimal form.
int ReadHeader(BerCursor *cursor, uint8_t *tag, BerCursor *contents);
int ReadExpected(BerCursor *cursor, uint8_t expected, BerCursor *contents);
int ReadInteger32(BerCursor *cursor, int32_t *value);

// Encoding: sizes first, then writes that each check the room left.
size_t TlvSize(size_t contentSize);
size_t Integer32Size(int32_t value);
int PutHeader(BerWriter *writer, uint8_t tag, size_t length);
int PutBytes(BerWriter *writer, const uint8_t *bytes, size_t count);
int PutInteger32(BerWriter *writer, int32_t value);
