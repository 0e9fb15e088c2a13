// The base of the program: the buffer sizes, the process-wide values and the
// names that every part shares. Every library includes this (and each
// other downwards only); nothing here includes a part above it.
#pragma once

#include <windows.h>

// Numbers of the dialog, its controls, the strings, the logo and the icon.
#include "resources/resource_ids.h"

// Buffer sizes shared by every part of the program.
enum {
    PRINTER_NAME_SIZE = 255,    // printer name: 254 characters and the NUL
    SHORT_TEXT_SIZE = 64,       // address, community, OID text, value slot
    LOADED_STRING_SIZE = 256,   // a string loaded from the string table
    PATH_TEXT_SIZE = 260,       // a file path
    LONG_TEXT_SIZE = 1024       // a registry path or a formatted message
};

// The time-out: the dialog holds up to 3 stored characters (TIMEOUT_TEXT_SIZE
// with the NUL), the user types at most 2, and a walk takes the number from
// the first 2 (TIMEOUT_FIELD_SIZE with the NUL).
enum {
    TIMEOUT_TEXT_SIZE = 4,
    TIMEOUT_STORED_MAX = TIMEOUT_TEXT_SIZE - 1,
    TIMEOUT_FIELD_SIZE = 3,
    TIMEOUT_TYPED_MAX = TIMEOUT_FIELD_SIZE - 1
};
#define DEFAULT_TIMEOUT_TEXT "6"
// The community when neither the port nor a stored setting gives one.
#define DEFAULT_COMMUNITY_TEXT "qomtan"

// The printer data value that tells whether the whole detection succeeded.
#define SUCCESS_VALUE_NAME "QV_AutoCfgSuccess"

// The value table of the last walk: texts of its OCTET STRING values, slot 0
// upwards; a slot whose first char is NUL is empty.
enum {
    SNMP_VALUE_SLOTS = 16,
    SNMP_VALUE_SIZE = SHORT_TEXT_SIZE
};

// base.cpp
// The printer name from the command line, written once before the dialog
// exists; every open of the printer uses it.
extern char g_printerName[PRINTER_NAME_SIZE];
// The program's module: string, bitmap and path lookups.
extern HINSTANCE g_hInstance;
// The configuration dialog, set when it starts: the owner of the engine's
// warnings. NULL in a program without the dialog.
extern HWND g_hDialog;
extern char g_snmpValues[SNMP_VALUE_SLOTS][SNMP_VALUE_SIZE];
// 1 when the last exchange with the agent failed; set only by the engine's
// exchange release, tested by the configurators.
extern int g_snmpFailed;
