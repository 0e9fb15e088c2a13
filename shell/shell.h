// The application shell, the top of the program: its entry, the command line
// and the configuration dialog. The values it sets for every part
// (g_printerName, g_hInstance, g_hDialog) live in common/base.h.
#pragma once

#include <windows.h>

#include "common/base.h"

// command_line.cpp: takes the printer name into g_printerName.
int ParseCommandLine(const char *commandLine);

// Exit code when the configuration dialog cannot be opened at all.
enum { EXIT_DIALOG_FAILED = 1 };

// entry.cpp
int RunProgram(HINSTANCE instance);

// dialog.cpp
void InitConfigDialog(HWND window);
INT_PTR CALLBACK ConfigDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
