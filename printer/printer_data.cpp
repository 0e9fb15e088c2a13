// Every access to the printer's data values. Each operation opens the printer
// by name, does its reads or writes, and closes it again.
#include "printer/printer_data.h"
#include "printer/spooler.h"
#include "common/text.h"

#include <string.h>

enum { VALUE_LIST_SIZE = 2048 };

int ReadStoredSettings(char *community, char *timeoutText)
{
    HANDLE printer;
    int stored = 0;
    if (!OpenPrinterForReading(&printer))
        return 0;

    // One byte more than is asked for, so that the terminator of a value that
    // fills the request still lands inside the buffer.
    char text[SHORT_TEXT_SIZE + 1];
    DWORD type = 0, count = 0;
    memset(text, 0, sizeof(text));
    if (GetPrinterDataValue(printer, "QV_AutoComName", &type, text, SHORT_TEXT_SIZE, &count)
            == ERROR_SUCCESS && count <= SHORT_TEXT_SIZE) {
        text[count] = '\0';
        CopyText(community, SHORT_TEXT_SIZE, text);
        stored |= STORED_COMMUNITY;
    } else if (community[0] == '\0') {
        CopyText(community, SHORT_TEXT_SIZE, DEFAULT_COMMUNITY_TEXT);
    }

    memset(text, 0, sizeof(text));
    count = 0;
    if (GetPrinterDataValue(printer, "QV_AutoTimeOut", &type, text, TIMEOUT_STORED_MAX, &count)
            == ERROR_SUCCESS && count <= TIMEOUT_STORED_MAX) {
        text[count] = '\0';
        CopyText(timeoutText, TIMEOUT_TEXT_SIZE, text);
        stored |= STORED_TIMEOUT;
    } else {
        CopyText(timeoutText, TIMEOUT_TEXT_SIZE, DEFAULT_TIMEOUT_TEXT);
    }

    ClosePrinterHandle(printer);
    return stored;
}

// A setting is stored as REG_SZ with a byte count of its length (at most
// 63): no NUL.
static DWORD StoreSettingText(HANDLE printer, const char *valueName, const char *text)
{
    return SetPrinterDataValue(printer, valueName, REG_SZ, text,
                               (DWORD)strnlen(text, SHORT_TEXT_SIZE - 1));
}

int SaveStoredSettings(const char *community, const char *timeoutText)
{
    HANDLE printer;
    if (!OpenPrinterForWriting(&printer))
        return 0;
    if (community != NULL)
        StoreSettingText(printer, "QV_AutoComName", community);
    DWORD status = StoreSettingText(printer, "QV_AutoTimeOut", timeoutText);
    ClosePrinterHandle(printer);
    return status == ERROR_SUCCESS ? 1 : 0;
}

DWORD BuildValueList(char *list, size_t listSize)
{
    memset(list, 0, listSize);
    size_t used = 0;
    for (int slot = 0; slot < SNMP_VALUE_SLOTS && g_snmpValues[slot][0] != '\0'; slot++) {
        size_t length = strnlen(g_snmpValues[slot], SNMP_VALUE_SIZE - 1);
        if (used + length + 2 > listSize)   // text, its NUL and the list's NUL
            break;
        memcpy(list + used, g_snmpValues[slot], length);
        used += length + 1;                 // the NUL is already there
    }
    return (DWORD)(used + 1);
}

DWORD StoreAutoCfgValue(const char *valueName, int flag)
{
    HANDLE printer;
    if (!OpenPrinterForWriting(&printer)) {
        // A failed open that names no error is still a failure.
        DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
    }
    DWORD status;
    if (strcmp(valueName, SUCCESS_VALUE_NAME) == 0) {
        BYTE stored = (BYTE)(flag & 0xFF);
        status = SetPrinterDataValue(printer, valueName, REG_BINARY, &stored, 1);
    } else {
        char list[VALUE_LIST_SIZE];
        DWORD count = BuildValueList(list, sizeof(list));
        status = SetPrinterDataValue(printer, valueName, REG_MULTI_SZ, list, count);
    }
    ClosePrinterHandle(printer);
    return status;
}

int WriteAutoCfgValue(const char *valueName, int flag)
{
    return StoreAutoCfgValue(valueName, flag) == ERROR_SUCCESS ? 1 : 0;
}
