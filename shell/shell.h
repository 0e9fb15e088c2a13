// The application shell: program entry, command line and the process-wide
// values set before the dialog exists.
#pragma once

#include <windows.h>

// Buffer sizes shared by every part of the program.
enum {
    PRINTER_NAME_SIZE = 255,    // printer name: 254 characters and the NUL
    SHORT_TEXT_SIZE = 64,       // address, community, OID text, value slot
    LOADED_STRING_SIZE = 256,   // a string loaded from the string table
    PATH_TEXT_SIZE = 260,       // a file path
    LONG_TEXT_SIZE = 1024       // a registry path or a formatted message
};

// Numbers of the dialog, its controls, the strings, the logo and the icon.
#include "resources/resource_ids.h"

// command_line.cpp
extern char g_printerName[PRINTER_NAME_SIZE];
extern HINSTANCE g_hInstance;
int ParseCommandLine(const char *commandLine);

// Exit code when the configuration dialog cannot be opened at all.
enum { EXIT_DIALOG_FAILED = 1 };

// entry.cpp
int RunProgram(HINSTANCE instance);

// dialog.cpp
extern HWND g_hDialog;
void InitConfigDialog(HWND window);
INT_PTR CALLBACK ConfigDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
