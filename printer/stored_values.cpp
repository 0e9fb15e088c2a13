// The seven printer data values read and written as raw bytes over the
// spooler operations, every result checked.
#include "printer/stored_values.h"
#include "printer/spooler.h"
#include "common/base.h"
#include "common/text.h"

#include <string.h>

const char *const g_storedValueNames[STORED_VALUE_COUNT] = {
    "QV_AutoCfgDisk", "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit", "QV_AutoCfgCassettes",
    SUCCESS_VALUE_NAME, "QV_AutoComName", "QV_AutoTimeOut",
};

int ReadStoredValues(RawValue values[STORED_VALUE_COUNT], DWORD *error)
{
    HANDLE printer = NULL;
    *error = ERROR_SUCCESS;
    memset(values, 0, sizeof(RawValue) * STORED_VALUE_COUNT);
    if (!OpenPrinterForReading(&printer)) {
        *error = GetLastError();
        return 0;
    }
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        RawValue *value = &values[i];
        DWORD type = 0, count = 0;
        if (GetPrinterDataValue(printer, g_storedValueNames[i], &type, value->bytes,
                                sizeof(value->bytes), &count) == ERROR_SUCCESS &&
            count <= sizeof(value->bytes)) {
            value->present = 1;
            value->type = type;
            value->byteCount = count;
        } else {
            memset(value->bytes, 0, sizeof(value->bytes));
        }
    }
    ClosePrinterHandle(printer);
    return 1;
}

// The bytes that carry the content: a text ends at its first NUL, a list
// after its empty text (the spooler's copy may hold more NULs after it).
static DWORD ContentLength(const RawValue *value)
{
    DWORD count = value->byteCount;
    if (value->type == REG_SZ) {
        DWORD length = 0;
        while (length < count && value->bytes[length] != 0)
            length++;
        return length;
    }
    if (value->type == REG_MULTI_SZ) {
        DWORD at = 0;
        while (at < count && value->bytes[at] != 0) {
            while (at < count && value->bytes[at] != 0)
                at++;
            at++;                           // the text's NUL
        }
        return at;                          // without the list's NUL
    }
    return count;
}

int SameStoredContent(const RawValue *a, const RawValue *b)
{
    if (a->present != b->present)
        return 0;
    if (!a->present)
        return 1;
    if (a->type != b->type)
        return 0;
    DWORD length = ContentLength(a);
    return length == ContentLength(b) && memcmp(a->bytes, b->bytes, length) == 0;
}

int WriteStoredValues(const ValueWrite *writes, int count, int *failedStep, int *failedValue,
                      DWORD *error)
{
    HANDLE printer = NULL;
    int ok = 0;
    *failedStep = WRITE_STEP_OPEN;
    *failedValue = -1;
    *error = ERROR_SUCCESS;
    if (!OpenPrinterForWriting(&printer)) {
        *error = GetLastError();
        goto done;
    }
    *failedStep = WRITE_STEP_SET;
    for (int i = 0; i < count; i++) {
        const RawValue *content = writes[i].content;
        DWORD status = SetPrinterDataValue(printer, g_storedValueNames[writes[i].value],
                                           content->type, content->bytes, content->byteCount);
        if (status != ERROR_SUCCESS) {
            *failedValue = writes[i].value;
            *error = status;
            goto done;
        }
    }
    ok = 1;
done:
    ClosePrinterHandle(printer);
    return ok;
}
