// The seven printer data values as raw bytes, for a program that compares
// what is stored with what it would store and writes only what differs,
// checking every step (the console program; the dialog keeps its writers).
#pragma once

#include <windows.h>

// The values in the order the dialog's OK writes them.
enum StoredValueIndex {
    VALUE_DISK,
    VALUE_FINISHER,
    VALUE_PUNCH_UNIT,
    VALUE_CASSETTES,
    VALUE_SUCCESS,
    VALUE_COMMUNITY,
    VALUE_TIMEOUT,
    STORED_VALUE_COUNT
};

enum {
    // Larger than any list or setting the program stores (1025 bytes).
    STORED_VALUE_BYTES = 2048
};

struct RawValue {
    int present;
    DWORD type;
    DWORD byteCount;
    BYTE bytes[STORED_VALUE_BYTES];
};

extern const char *const g_storedValueNames[STORED_VALUE_COUNT];

// Reads the seven values of g_printerName through an open for reading. A
// value that is absent (or larger than STORED_VALUE_BYTES) is not present.
// Returns 1, or 0 with the system's error when the printer does not open.
int ReadStoredValues(RawValue values[STORED_VALUE_COUNT], DWORD *error);

// 1 when the two hold the same content for the driver: the same type, and
// the same text for REG_SZ (the spooler may hand back a NUL it was not
// given), the same list for REG_MULTI_SZ, the same bytes otherwise.
int SameStoredContent(const RawValue *a, const RawValue *b);

// The steps of a checked write, for the words of a failure.
enum WriteStep { WRITE_STEP_OPEN, WRITE_STEP_SET };
struct ValueWrite {
    int value;                  // StoredValueIndex
    const RawValue *content;
};
// Writes the values in the order given through one open for writing, each
// result checked. Returns 1 when every write succeeded; otherwise 0 with
// the step, the value (-1 for the open) and the system's error, and the
// writes after it not made.
int WriteStoredValues(const ValueWrite *writes, int count, int *failedStep, int *failedValue,
                      DWORD *error);
