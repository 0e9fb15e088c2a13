// libFuzzer target for the query map: any file bytes, loaded by the
// program's own loader (the bytes and two NULs in a block of exactly that
// size), then every option looked up. A lookup gives a whole value found in
// the file and no box, or an empty text and exactly one box.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "features/query_map.h"

enum { OID_BUFFER_SIZE = 64 };

static const char MAP_NAME[] = "\\VRUnPQ.xml";
static const char *const OPTIONS[] = {"HardDisk", "RAMDisk", "3000Finisher", "PunchingUnit",
                                      "CassetteTwo"};

HINSTANCE g_hInstance;

// The file the stand-ins serve: this run's input.
static const uint8_t *s_file;
static size_t s_fileSize;
static size_t s_fileRead;
static int s_fileHandle;
static int s_boxes;

DWORD GetModuleFileNameA(HMODULE, char *path, DWORD size)
{
    static const char program[] = "C:\\fuzz\\VRAutoConfig.exe";
    if (size < sizeof(program))
        return 0;
    memcpy(path, program, sizeof(program));
    return (DWORD)(sizeof(program) - 1);
}

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    size_t length = strlen(name);
    if (length < strlen(MAP_NAME) || strcmp(name + length - strlen(MAP_NAME), MAP_NAME) != 0)
        return INVALID_HANDLE_VALUE;
    s_fileRead = 0;
    return &s_fileHandle;
}

DWORD GetFileSize(HANDLE, DWORD *high)
{
    *high = 0;
    return (DWORD)s_fileSize;
}

BOOL ReadFile(HANDLE, void *buffer, DWORD count, DWORD *read, LPOVERLAPPED)
{
    size_t n = s_fileSize - s_fileRead < count ? s_fileSize - s_fileRead : count;
    if (n > 0)
        memcpy(buffer, s_file + s_fileRead, n);
    s_fileRead += n;
    *read = (DWORD)n;
    return 1;
}

BOOL CloseHandle(HANDLE) { return 1; }
DWORD GetLastError(void) { return 0; }

int MessageBoxA(HWND, LPCSTR, LPCSTR, UINT)
{
    s_boxes++;
    return 1;
}

static void Fail(const char *what, const char *option)
{
    fprintf(stderr, "query map: %s (%s)\n", what, option);
    abort();
}

// A result of 1 left a whole value of the file without its quotes; 0 left
// nothing.
static void CheckValue(int result, const char *oid, const char *option)
{
    size_t length = strnlen(oid, OID_BUFFER_SIZE);
    if (length == OID_BUFFER_SIZE)
        Fail("the value is not terminated in its buffer", option);
    if (result == 0 && length != 0)
        Fail("a failed lookup left text behind", option);
    if (result == 1 && (strchr(oid, '\'') != NULL ||
                        (length > 0 && memmem(s_file, s_fileSize, oid, length) == NULL)))
        Fail("the value is not one of the file's", option);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    s_file = data;
    s_fileSize = size;
    if (!LoadQueryMap())
        Fail("the loader refused the file", "");
    for (const char *option : OPTIONS) {
        char oid[OID_BUFFER_SIZE];
        memset(oid, 0, sizeof(oid));
        s_boxes = 0;
        int result = LookupOptionOid(option, oid);
        CheckValue(result, oid, option);
        if (s_boxes != (result == 1 ? 0 : 1))
            Fail(result == 1 ? "a box after a found value" : "not exactly one box", option);
    }
    // The value's reader straight on the file's first bytes.
    char oid[OID_BUFFER_SIZE];
    memset(oid, 0, sizeof(oid));
    CheckValue(ExtractQuotedValue(oid, g_queryMap), oid, "at the start");
    ReleaseQueryMap();
    return 0;
}
