// The few Windows types and calls that the query map's code names, for its
// native fuzzing build only; fuzz_query_map.cpp stands in for the calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef INT_PTR LPARAM;
typedef INT_PTR LRESULT;
typedef char CHAR;
typedef const char *LPCSTR;
typedef void *HANDLE;
typedef struct ShimWindow *HWND;
typedef struct ShimInstance *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct ShimKey *HKEY;
typedef void *LPOVERLAPPED;
typedef void *LPSECURITY_ATTRIBUTES;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define NO_ERROR 0
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 1
#define OPEN_EXISTING 3
#define MB_OK 0

DWORD GetModuleFileNameA(HMODULE module, char *path, DWORD size);
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
DWORD GetFileSize(HANDLE file, DWORD *high);
BOOL ReadFile(HANDLE file, void *buffer, DWORD count, DWORD *read, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError(void);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
