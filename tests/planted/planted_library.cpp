// A library planted beside a test program under the name of one that the
// program loads at run time (hhctrl.ocx, uxtheme.dll), with the entry the
// program calls there: a call leaves "<its file>.called" beside it. The
// call is what counts, not the load: Wine itself may load a library of that
// name for its own use.
#include <windows.h>
#include <string.h>

static HINSTANCE s_instance;

static void RecordCall(void)
{
    char marker[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(s_instance, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    memcpy(marker + length, ".called", 8);
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        s_instance = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HWND WINAPI HtmlHelpA(HWND, LPCSTR, UINT, DWORD_PTR)
{
    RecordCall();
    return NULL;
}

extern "C" __declspec(dllexport) HRESULT WINAPI EnableThemeDialogTexture(HWND, DWORD)
{
    RecordCall();
    return S_OK;
}

extern "C" __declspec(dllexport) HANDLE WINAPI OpenThemeData(HWND, LPCWSTR) { return NULL; }
extern "C" __declspec(dllexport) HANDLE WINAPI OpenThemeDataEx(HWND, LPCWSTR, DWORD) { return NULL; }
extern "C" __declspec(dllexport) HANDLE WINAPI GetWindowTheme(HWND) { return NULL; }
extern "C" __declspec(dllexport) HRESULT WINAPI CloseThemeData(HANDLE) { return S_OK; }
extern "C" __declspec(dllexport) HRESULT WINAPI SetWindowTheme(HWND, LPCWSTR, LPCWSTR) { return S_OK; }
extern "C" __declspec(dllexport) BOOL WINAPI IsThemeActive(void) { return FALSE; }
extern "C" __declspec(dllexport) BOOL WINAPI IsAppThemed(void) { return FALSE; }
