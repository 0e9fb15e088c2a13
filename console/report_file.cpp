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
int g_runWrite;
char g_runDriver[CONSOLE_NAME_SIZE];
int g_runJobs;
char g_runNothingAsked[REASON_SIZE];
char g_runTarget[CONSOLE_NAME_SIZE + 32];
// --log named a folder that is not there: no line can be appended.
static int s_logUnusable;

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

static void TakeRunFacts(const ConsoleOptions *options)
{
    g_runWrite = options->write;
    CopyText(g_runDriver, COUNTOF(g_runDriver), options->hasDriver ? options->driver : "");
    g_runJobs = options->mode == MODE_ALL ? options->jobs : 1;
    g_runNothingAsked[0] = '\0';
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

// The folder of a file named on the command line ("." for none), and 1
// when it is there to write into; otherwise error names it, the option and
// the system's words.
static int CheckFolder(const char *option, const char *path, char *error, size_t errorSize)
{
    char folder[CONSOLE_PATH_SIZE], words[LONG_TEXT_SIZE];
    WCHAR wide[PATH_TEXT_SIZE];
    CopyText(folder, COUNTOF(folder), path);
    char *end = NULL;
    for (char *c = folder; *c != '\0'; c++) {
        if (*c == '\\' || *c == '/')
            end = c;
    }
    if (end == NULL)
        return 1;                       // the current folder
    // "C:\report.json": the folder is the drive's root, with its backslash.
    end[end == folder || end[-1] == ':' ? 1 : 0] = '\0';
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (Utf8ToWide(folder, wide, COUNTOF(wide)))
        attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return 1;
    DescribeSystemWords(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError()
                                                              : (DWORD)ERROR_DIRECTORY,
                        words, COUNTOF(words));
    FormatText(error, errorSize, "%s: the folder \"%s\" cannot be used: %s", option, folder,
               words);
    return 0;
}

int BeginReport(const ConsoleOptions *options, char *error, size_t errorSize)
{
    char words[LONG_TEXT_SIZE];
    TakeRunFacts(options);
    s_outFile = INVALID_HANDLE_VALUE;
    // A history that cannot take tonight's lines is known before anything
    // is asked or written.
    char logError[LONG_TEXT_SIZE];
    s_logUnusable = options->hasLog && !CheckFolder("--log", options->log, logError,
                                                    COUNTOF(logError));
    if (options->hasOutput && !CheckFolder("--output", options->output, error, errorSize))
        return 0;
    if (options->hasOutput) {
        CopyText(s_outputPath, COUNTOF(s_outputPath), options->output);
        // Beside the file, so that the move is a rename on the same volume;
        // a name nobody can guess or make first, with the administrators'
        // own access list, which the report keeps when it is moved.
        s_outFile = CreateUniqueFile(s_outputPath, ".partial", s_partialPath,
                                     COUNTOF(s_partialPath));
        if (s_outFile == INVALID_HANDLE_VALUE) {
            DescribeSystemWords(GetLastError(), words, COUNTOF(words));
            FormatText(error, errorSize, "--output: no file could be made beside \"%s\": %s",
                       s_outputPath, words);
            s_partialPath[0] = '\0';
            return 0;
        }
        // A file takes the report as UTF-8, whatever standard output is.
        RedirectOutput(s_outFile);
    }
    if (!options->json)
        WriteFormatted("VRAutoDetect %s on %s at %s; query map %s\n\n", VR_VERSION_TEXT,
                       g_runComputer, g_runTime, g_runQueryMap);
    // The report is begun, and will say why nothing was asked.
    if (s_logUnusable) {
        CopyText(error, errorSize, logError);
        return 0;
    }
    return 1;
}

int FinishReport(char *error, size_t errorSize)
{
    WCHAR partial[PATH_TEXT_SIZE + 32], output[PATH_TEXT_SIZE];
    if (s_outFile == INVALID_HANDLE_VALUE) {
        // Standard output too must take the whole report (a closed or full
        // pipe, a full disk): a report lost is a run that failed.
        FlushOutput();
        if (!OutputFailed())
            return 1;
        CopyText(error, errorSize, "the report could not be written whole to standard output "
                 "(a closed or full pipe, or a full disk)");
        return 0;
    }
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

void ReportNothingAsked(const ConsoleOptions *options, const char *reason)
{
    char error[LONG_TEXT_SIZE];
    // What was asked for, in the words the log's printer field holds.
    if (options->mode == MODE_PRINTER)
        FormatText(g_runTarget, COUNTOF(g_runTarget), "printer \"%s\"", options->printer);
    else if (options->mode == MODE_ADDRESS)
        FormatText(g_runTarget, COUNTOF(g_runTarget), "address %s", options->address);
    else if (options->hasDriver)
        FormatText(g_runTarget, COUNTOF(g_runTarget), "every printer of driver \"%s\"",
                   options->driver);
    else
        CopyText(g_runTarget, COUNTOF(g_runTarget), "every local printer");
    CopyText(g_runNothingAsked, COUNTOF(g_runNothingAsked), reason);
    // The report: only when it was begun (its file could be made).
    if (g_runTime[0] != '\0' && (!options->hasOutput || s_outFile != INVALID_HANDLE_VALUE)) {
        if (options->json) {
            WriteJsonDocument(NULL, 0, 0, 0, 0, 0, EXIT_NOTHING_ASKED);
        } else {
            WriteFormatted("Nothing asked for %s: %s; nothing written\n\n", g_runTarget, reason);
            WriteSummaryLine(0, 0, 0, 0);
        }
    }
    if (options->hasLog && !s_logUnusable &&
        !AppendNothingAskedLine(options->log, g_runTarget, reason, error, COUNTOF(error))) {
        WriteErrorText("VRAutoDetect: ");
        WriteErrorText(error);
        WriteErrorText("\n");
    }
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
