// The printer data values: the two stored settings, the four option value
// lists and the success flag.
#pragma once

#include <windows.h>

// Size of the dialog's time-out text: up to 3 stored bytes and a terminator.
enum { TIMEOUT_TEXT_SIZE = 4 };

void ReadStoredSettings(char *community, char *timeoutText);
int SaveStoredSettings(HWND dialog);
int WriteAutoCfgValue(const char *valueName, int flag);

// Builds the REG_MULTI_SZ list from g_snmpValues into list (listSize bytes,
// zero-filled here) and returns the byte count to store.
DWORD BuildValueList(char *list, size_t listSize);
