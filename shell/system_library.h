// Libraries the program loads at run time, from the system directory only.
#pragma once

#include <windows.h>

// system_library.cpp
HMODULE LoadSystemLibrary(const char *fileName);
