// The printer data values: the two stored settings, the four option value
// lists and the success flag.
#pragma once

#include <windows.h>

#include "common/base.h"

// community: SHORT_TEXT_SIZE bytes holding the port's community (possibly
// empty); timeoutText: TIMEOUT_TEXT_SIZE bytes. Both take the stored
// settings, or the defaults where there are none. Returns the STORED_ bits
// of the settings that were stored (0 also when the printer does not open:
// then both buffers are left as they are).
enum { STORED_COMMUNITY = 1, STORED_TIMEOUT = 2 };
int ReadStoredSettings(char *community, char *timeoutText);
// Stores the community and the time-out text as the user confirmed them;
// a NULL community leaves the stored one as it is.
int SaveStoredSettings(const char *community, const char *timeoutText);
int WriteAutoCfgValue(const char *valueName, int flag);
// As WriteAutoCfgValue, for a caller that must tell why a value was not
// stored: ERROR_SUCCESS, the open's error (ERROR_ACCESS_DENIED for an
// account that may not manage the printer) or SetPrinterDataA's.
DWORD StoreAutoCfgValue(const char *valueName, int flag);

// Builds the REG_MULTI_SZ list from g_snmpValues into list (listSize bytes,
// zero-filled here) and returns the byte count to store.
DWORD BuildValueList(char *list, size_t listSize);
