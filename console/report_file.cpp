// Where the report goes: standard output, or with --output a file beside
// the named one, moved over it when the report is whole; and the run's
// facts that head it.
#include "console/console.h"
#include "console/report.h"
#include "common/text.h"
#include "version.h"

#include <stdarg.h>
#include <string.h>
#include <wchar.h>

static HANDLE s_outFile = INVALID_HANDLE_VALUE;
static char s_outputPath[CONSOLE_PATH_SIZE];
static char s_partialPath[CONSOLE_PATH_SIZE + 64];
char g_runTime[32];
char g_runComputer[(MAX_COMPUTERNAME_LENGTH + 1) * UTF8_PER_UNIT];
char g_runQueryMap[CONSOLE_PATH_SIZE];

void WriteText(const char *text)
{
    WriteOutputText(text);
}

void GetQueryMapPathUtf8(char *path, size_t pathSize)
{
    WCHAR module[PATH_TEXT_SIZE];
    memset(module, 0, sizeof(module));
    if (GetModuleFileNameW(g_hInstance, module, COUNTOF(module) - 1) == 0)
        module[0] = 0;
    WCHAR *lastSlash = wcsrchr(module, L'\\');
    if (lastSlash != NULL)
        lastSlash[1] = 0;
    if (!WideToUtf8(module, path, pathSize))
        path[0] = '\0';
    AppendText(path, pathSize, "VRUnPQ.xml");
}

static void TakeRunFacts(void)
{
    SYSTEMTIME now;
    WCHAR computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = COUNTOF(computer);
    GetSystemTime(&now);
    FormatText(g_runTime, COUNTOF(g_runTime), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear,
               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (!GetComputerNameW(computer, &size) || !WideToUtf8(computer, g_runComputer,
                                                          COUNTOF(g_runComputer)))
        CopyText(g_runComputer, COUNTOF(g_runComputer), "?");
    GetQueryMapPathUtf8(g_runQueryMap, COUNTOF(g_runQueryMap));
}

static void RemovePartial(void)
{
    WCHAR partial[PATH_TEXT_SIZE + 32];
    if (Utf8ToWide(s_partialPath, partial, COUNTOF(partial)))
        DeleteFileW(partial);
}

int BeginReport(const ConsoleOptions *options, char *error, size_t errorSize)
{
    TakeRunFacts();
    s_outFile = INVALID_HANDLE_VALUE;
    if (options->hasOutput) {
        CopyText(s_outputPath, COUNTOF(s_outputPath), options->output);
        // Beside the file, so that the move is a rename on the same volume;
        // a name nobody can guess or make first, with the administrators'
        // own access list, which the report keeps when it is moved.
        s_outFile = CreateUniqueFile(s_outputPath, ".partial", s_partialPath,
                                     COUNTOF(s_partialPath));
        if (s_outFile == INVALID_HANDLE_VALUE) {
            FormatText(error, errorSize, "--output: no file could be made beside \"%s\" "
                       "(error %lu)", s_outputPath, GetLastError());
            s_partialPath[0] = '\0';
            return 0;
        }
        // A file takes the report as UTF-8, whatever standard output is.
        RedirectOutput(s_outFile);
    }
    if (!options->json)
        WriteFormatted("VRAutoDetect %s on %s at %s; query map %s\n\n", VR_VERSION_TEXT,
                       g_runComputer, g_runTime, g_runQueryMap);
    return 1;
}

int FinishReport(char *error, size_t errorSize)
{
    WCHAR partial[PATH_TEXT_SIZE + 32], output[PATH_TEXT_SIZE];
    if (s_outFile == INVALID_HANDLE_VALUE)
        return 1;
    FlushOutput();
    int ok = !OutputFailed();
    ok = FlushFileBuffers(s_outFile) && ok;
    ok = CloseHandle(s_outFile) && ok;
    s_outFile = INVALID_HANDLE_VALUE;
    if (!ok) {
        FormatText(error, errorSize, "--output: the report could not be written whole to "
                   "\"%s\"; \"%s\" is as it was", s_partialPath, s_outputPath);
        RemovePartial();
        return 0;
    }
    if (!Utf8ToWide(s_partialPath, partial, COUNTOF(partial)) ||
        !Utf8ToWide(s_outputPath, output, COUNTOF(output)) ||
        !MoveFileExW(partial, output, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        FormatText(error, errorSize,
                   "--output: the report could not be moved over \"%s\" (error %lu); the "
                   "file is as it was", s_outputPath, GetLastError());
        RemovePartial();
        return 0;
    }
    return 1;
}

void WriteFormatted(const char *format, ...)
{
    char text[LONG_TEXT_SIZE + 256];
    va_list args;
    va_start(args, format);
    FormatTextV(text, COUNTOF(text), format, args);
    va_end(args);
    WriteText(text);
}
