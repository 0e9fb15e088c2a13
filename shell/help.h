// The help launcher: the driver's help of the user's language at its fixed
// page, the English file as the fallback.
#pragma once

#include <windows.h>

// help.cpp
void ShowHelp(HWND window);
