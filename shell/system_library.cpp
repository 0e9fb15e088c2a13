// Libraries loaded at run time by their full path in the system directory:
// a file of the same name beside the program (an install folder that users
// can write to) is never loaded in their place.
#include "shell/system_library.h"
#include "shell/shell.h"
#include "common/text.h"

#include <string.h>

// NULL, with nothing loaded, when the path does not fit; the library's own
// imports are then looked for in the system directory too.
HMODULE LoadSystemLibrary(const char *fileName)
{
    char path[PATH_TEXT_SIZE];
    UINT length = GetSystemDirectoryA(path, (UINT)COUNTOF(path));
    if (length == 0 || length >= COUNTOF(path))
        return NULL;
    size_t wanted = length + 1 + strlen(fileName);
    AppendText(path, COUNTOF(path), "\\");
    if (AppendText(path, COUNTOF(path), fileName) != wanted)
        return NULL;
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
