// The help launcher: the help file of the user's language, in the spooler's
// driver directory, at its fixed page; the English file when that fails.
#include "shell/help.h"
#include "shell/shell.h"
#include "shell/system_library.h"
#include "common/text.h"

#include <htmlhelp.h>
#include <string.h>

static const char HELP_LIBRARY[] = "hhctrl.ocx";
static const char HELP_ENTRY[] = "HtmlHelpA";
static const char FALLBACK_FILE[] = "VRPHlp.chm";
static const char HELP_TOPIC[] = "::/Properties-ExtendedConfiguration.htm";

// The driver subdirectory below the system directory, by processor
// architecture; any other architecture appends nothing.
static const struct {
    WORD architecture;
    const char *subdirectory;
} DRIVER_SUBDIRECTORIES[] = {
    {PROCESSOR_ARCHITECTURE_INTEL, "\\spool\\drivers\\w32x86\\3\\"},
    {PROCESSOR_ARCHITECTURE_IA64, "\\spool\\drivers\\IA64\\3\\"},
    {PROCESSOR_ARCHITECTURE_AMD64, "\\spool\\drivers\\x64\\3\\"},
};

typedef HWND(WINAPI *HtmlHelpProc)(HWND, LPCSTR, UINT, DWORD_PTR);

// Loaded when Help is first pressed, not imported: a machine without the
// viewer still runs the program, and Help then shows nothing. The library
// stays loaded for the process, since the viewer it opens lives here.
static HMODULE g_helpLibrary;
static HtmlHelpProc g_htmlHelp;

static HtmlHelpProc FindHtmlHelp(void)
{
    if (g_htmlHelp != NULL)
        return g_htmlHelp;
    if (g_helpLibrary == NULL)
        g_helpLibrary = LoadSystemLibrary(HELP_LIBRARY);
    if (g_helpLibrary != NULL)
        g_htmlHelp = (HtmlHelpProc)GetProcAddress(g_helpLibrary, HELP_ENTRY);
    return g_htmlHelp;
}

static void BuildHelpPath(char *path, size_t pathSize, const char *directory, const char *file)
{
    CopyText(path, pathSize, directory);
    AppendText(path, pathSize, file);
    AppendText(path, pathSize, HELP_TOPIC);
}

void ShowHelp(HWND window)
{
    char directory[PATH_TEXT_SIZE];
    char file[PATH_TEXT_SIZE];
    char path[PATH_TEXT_SIZE];
    SYSTEM_INFO system;

    HtmlHelpProc htmlHelp = FindHtmlHelp();
    if (htmlHelp == NULL)
        return;

    memset(&system, 0, sizeof(system));
    GetSystemInfo(&system);
    UINT length = GetSystemDirectoryA(directory, (UINT)COUNTOF(directory));
    // Too long for the buffer: its content is then undefined.
    if (length == 0 || length >= COUNTOF(directory))
        directory[0] = '\0';
    for (size_t i = 0; i < COUNTOF(DRIVER_SUBDIRECTORIES); i++)
        if (DRIVER_SUBDIRECTORIES[i].architecture == system.wProcessorArchitecture)
            AppendText(directory, COUNTOF(directory), DRIVER_SUBDIRECTORIES[i].subdirectory);

    if (LoadStringA(g_hInstance, IDS_HELP_FILE, file, (int)COUNTOF(file)) <= 0)
        file[0] = '\0';

    BuildHelpPath(path, COUNTOF(path), directory, file);
    if (htmlHelp(window, path, HH_DISPLAY_TOPIC, 0) != NULL)
        return;
    BuildHelpPath(path, COUNTOF(path), directory, FALLBACK_FILE);
    htmlHelp(window, path, HH_DISPLAY_TOPIC, 0);
}
