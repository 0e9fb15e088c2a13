// --all: every local printer, each detected by a child process of this
// program (the engine keeps process-wide state and one thread), up to
// --jobs at a time. Each child hands its report back through a pipe; the
// table shows each printer as it completes, the JSON document lists them in
// the order of their names.
#include "console/console.h"
#include "common/text.h"

#include <stdlib.h>
#include <string.h>
#include <winspool.h>

enum {
    COMMAND_LINE_SIZE = 4096,
    PROGRESS_WIDTH = 60
};

struct FleetPrinter {
    char name[CONSOLE_NAME_SIZE];     // UTF-8
};

// One running child: its process, the read end of its standard output, and
// the thread that reads the report from it.
struct Job {
    int index;
    HANDLE process;
    HANDLE pipe;
    HANDLE reader;
    PrinterReport *report;
    DWORD received;
};

static int s_showProgress;
// How the children ask (no password: each child is handed the run's keys).
static ReportSecurity s_security;

// As the spooler orders names, on their UTF-16 form.
static int ComparePrinterNames(const void *a, const void *b)
{
    WCHAR first[PRINTER_NAME_SIZE], second[PRINTER_NAME_SIZE];
    Utf8ToWide(((const FleetPrinter *)a)->name, first, COUNTOF(first));
    Utf8ToWide(((const FleetPrinter *)b)->name, second, COUNTOF(second));
    return lstrcmpiW(first, second);
}

// The local printers (of the driver, when given), sorted by name. Returns
// the count, -1 when the spooler cannot list them.
static int ListPrinters(const ConsoleOptions *options, FleetPrinter **list)
{
    DWORD needed = 0, returned = 0;
    BYTE *block = NULL;
    int count = -1;
    WCHAR driver[PRINTER_NAME_SIZE];
    *list = NULL;

    // Wide: a name in a script outside the ANSI code page would come as "?".
    Utf8ToWide(options->driver, driver, COUNTOF(driver));
    EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &returned);
    if (needed > 0) {
        block = (BYTE *)malloc(needed);
        if (block == NULL ||
            !EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, block, needed, &needed, &returned))
            goto done;
    }
    *list = (FleetPrinter *)calloc(returned > 0 ? returned : 1, sizeof(FleetPrinter));
    if (*list == NULL)
        goto done;
    count = 0;
    for (DWORD i = 0; i < returned; i++) {
        const PRINTER_INFO_2W *info = (const PRINTER_INFO_2W *)block + i;
        if (info->pPrinterName == NULL)
            continue;
        if (options->hasDriver &&
            (info->pDriverName == NULL || lstrcmpiW(info->pDriverName, driver) != 0))
            continue;
        if (!WideToUtf8(info->pPrinterName, (*list)[count].name, CONSOLE_NAME_SIZE))
            continue;
        count++;
    }
    qsort(*list, (size_t)count, sizeof(FleetPrinter), ComparePrinterNames);
done:
    free(block);
    return count;
}

// One argument, quoted as the C runtime splits a command line.
static void AppendArgument(char *line, size_t lineSize, const char *argument)
{
    size_t backslashes = 0;
    AppendText(line, lineSize, " \"");
    for (const char *c = argument; *c != '\0'; c++) {
        if (*c == '\\') {
            backslashes++;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        size_t repeat = *c == '"' ? backslashes * 2 + 1 : backslashes;
        for (size_t i = 0; i < repeat; i++)
            AppendText(line, lineSize, "\\");
        char one[2] = {*c, '\0'};
        AppendText(line, lineSize, one);
        backslashes = 0;
    }
    for (size_t i = 0; i < backslashes * 2; i++)
        AppendText(line, lineSize, "\\");
    AppendText(line, lineSize, "\"");
}

static void BuildChildCommandLine(const ConsoleOptions *options, const char *programPath,
                                  const char *printer, char *line, size_t lineSize)
{
    line[0] = '\0';
    AppendArgument(line, lineSize, programPath);
    // The program's name leads the line, without the separating blank.
    memmove(line, line + 1, strlen(line));
    AppendText(line, lineSize, " --child --printer");
    AppendArgument(line, lineSize, printer);
    if (options->hasCommunity) {
        AppendText(line, lineSize, " --community");
        AppendArgument(line, lineSize, options->community);
    }
    if (options->hasTimeout) {
        AppendText(line, lineSize, " --timeout");
        AppendArgument(line, lineSize, options->timeoutText);
    }
    if (options->write)
        AppendText(line, lineSize, " --write");
    // The keys reach the children through their standard input only.
    if (options->hasV3User) {
        AppendText(line, lineSize, " --v3-user");
        AppendArgument(line, lineSize, options->v3User);
    }
    if (options->hasV3Auth) {
        AppendText(line, lineSize, " --v3-auth ");
        AppendText(line, lineSize, AuthProtocolName(options->v3Auth));
    }
    if (options->hasV3Priv) {
        AppendText(line, lineSize, " --v3-priv ");
        AppendText(line, lineSize, PrivProtocolName(options->v3Priv));
    }
}

// Reads the child's report until its output ends (any excess is read and
// dropped, so that the child never blocks on a full pipe), then waits for
// the child.
static DWORD WINAPI ReadChildReport(void *parameter)
{
    Job *job = (Job *)parameter;
    char excess[512];
    DWORD got = 0;
    for (;;) {
        char *into = excess;
        DWORD room = sizeof(excess);
        if (job->received < sizeof(PrinterReport)) {
            into = (char *)job->report + job->received;
            room = (DWORD)sizeof(PrinterReport) - job->received;
        }
        if (!ReadFile(job->pipe, into, room, &got, NULL) || got == 0)
            break;
        if (into != excess)
            job->received += got;
    }
    WaitForSingleObject(job->process, INFINITE);
    return 0;
}

static int StartJob(const ConsoleOptions *options, const char *programPath, const char *printer,
                    Job *job)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    HANDLE readEnd = NULL, writeEnd = NULL;
    HANDLE inputRead = NULL, inputWrite = NULL;
    char *environment = NULL;
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    char line[COMMAND_LINE_SIZE];
    WCHAR wideLine[COMMAND_LINE_SIZE];
    int started = 0;

    // Built in UTF-8, started wide: the child gets the name as enumerated.
    BuildChildCommandLine(options, programPath, printer, line, COUNTOF(line));
    if (!Utf8ToWide(line, wideLine, COUNTOF(wideLine)))
        goto done;
    // Only the write end is inherited; the children started before this one
    // inherit nothing of it (one thread starts them all), so each pipe ends
    // with its own child.
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        readEnd = writeEnd = NULL;
        goto done;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // The child's standard input brings it the run's keys; its environment
    // keeps no password variable.
    if (!CreatePipe(&inputRead, &inputWrite, &inherit, 0)) {
        inputRead = inputWrite = NULL;
        goto done;
    }
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    environment = MakeChildEnvironment();
    if (environment == NULL)
        goto done;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!CreateProcessW(NULL, wideLine, NULL, NULL, TRUE, 0, environment, NULL, &startup, &process))
        goto done;
    CloseHandle(process.hThread);
    CloseHandle(inputRead);
    inputRead = NULL;
    // The block is far smaller than a pipe's buffer: the write does not wait.
    if (!WriteV3Handover(inputWrite))
        TerminateProcess(process.hProcess, 1);
    CloseHandle(inputWrite);
    inputWrite = NULL;
    job->process = process.hProcess;
    job->pipe = readEnd;
    readEnd = NULL;
    job->received = 0;
    job->reader = CreateThread(NULL, 0, ReadChildReport, job, 0, NULL);
    if (job->reader == NULL) {
        TerminateProcess(job->process, 1);
        CloseHandle(job->process);
        CloseHandle(job->pipe);
        goto done;
    }
    started = 1;
done:
    free(environment);
    if (inputRead != NULL)
        CloseHandle(inputRead);
    if (inputWrite != NULL)
        CloseHandle(inputWrite);
    if (writeEnd != NULL)
        CloseHandle(writeEnd);
    if (readEnd != NULL)
        CloseHandle(readEnd);
    return started;
}

// A printer whose child gave no complete report.
static void ReportChildFailure(PrinterReport *report, const char *printer, const char *why)
{
    memset(report, 0, sizeof(*report));
    report->size = sizeof(*report);
    report->status = PRINTER_FAILED;
    report->security = s_security;
    report->hasPrinter = 1;
    CopyText(report->printer, COUNTOF(report->printer), printer);
    CopyText(report->reason, COUNTOF(report->reason), why);
}

static void FinishJob(Job *job, const char *printer)
{
    DWORD code = 0;
    char why[REASON_SIZE];
    GetExitCodeProcess(job->process, &code);
    CloseHandle(job->reader);
    CloseHandle(job->pipe);
    CloseHandle(job->process);
    if (job->received != sizeof(PrinterReport) || job->report->size != sizeof(PrinterReport)) {
        FormatText(why, COUNTOF(why),
                   "its detection process ended (exit code %lu) without a complete report",
                   (unsigned long)code);
        ReportChildFailure(job->report, printer, why);
    }
}

static void ClearProgress(void)
{
    char blank[PROGRESS_WIDTH + 3];
    if (!s_showProgress)
        return;
    memset(blank, ' ', sizeof(blank));
    blank[0] = '\r';
    blank[sizeof(blank) - 2] = '\r';
    blank[sizeof(blank) - 1] = '\0';
    fputs(blank, stderr);
}

static void ShowProgress(int done, int total, int failed)
{
    char line[PROGRESS_WIDTH + 1];
    if (!s_showProgress)
        return;
    FormatText(line, COUNTOF(line), "\r%d / %d printers done, %d failed ", done, total, failed);
    fputs(line, stderr);
    fflush(stderr);
}

int ChooseExitCode(int detected, int failed)
{
    return failed > 0 || detected == 0 ? EXIT_NOT_DETECTED : EXIT_ALL_DETECTED;
}

int RunAllPrinters(const ConsoleOptions *options, const char *programPath)
{
    ULONGLONG started = GetTickCount64();
    FleetPrinter *printers = NULL;
    PrinterReport *reports = NULL;
    // One record per printer, so that a reader thread's record never moves;
    // the running ones are listed by index beside their threads.
    Job *jobs = NULL;
    int runningIndex[MAX_JOBS];
    HANDLE waits[MAX_JOBS];
    int counts[3] = {0, 0, 0};
    int running = 0, next = 0, done = 0;
    DWORD mode = 0;

    s_showProgress = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    memset(&s_security, 0, sizeof(s_security));
    s_security.version = options->hasV3User ? 3 : 1;
    CopyText(s_security.user, COUNTOF(s_security.user), options->v3User);
    s_security.authProtocol = options->hasV3Auth ? options->v3Auth : VR_SNMP_AUTH_NONE;
    s_security.privProtocol = options->v3Priv;
    int total = ListPrinters(options, &printers);
    if (total < 0) {
        char text[LONG_TEXT_SIZE];
        FormatText(text, COUNTOF(text), "VRAutoDetect: the spooler could not list the local "
                   "printers (error %lu): nothing was asked\n", GetLastError());
        WriteErrorText(text);
        free(printers);
        return EXIT_NOTHING_ASKED;
    }
    if (total == 0) {
        char said[LONG_TEXT_SIZE];
        // Most often a driver name with a typo: nothing to ask is not a success.
        if (options->hasDriver)
            FormatText(said, COUNTOF(said), "VRAutoDetect: no local printer of driver "
                       "\"%s\": nothing was asked\n", options->driver);
        else
            CopyText(said, COUNTOF(said), "VRAutoDetect: no local printer: nothing was asked\n");
        WriteErrorText(said);
        free(printers);
        return EXIT_NOTHING_ASKED;
    }
    reports = (PrinterReport *)calloc(total > 0 ? (size_t)total : 1, sizeof(PrinterReport));
    jobs = (Job *)calloc(total > 0 ? (size_t)total : 1, sizeof(Job));
    if (reports == NULL || jobs == NULL) {
        WriteErrorText("VRAutoDetect: out of memory\n");
        free(jobs);
        free(reports);
        free(printers);
        return EXIT_NOT_DETECTED;
    }

    while (done < total) {
        while (running < options->jobs && next < total) {
            Job *job = &jobs[next];
            job->index = next;
            job->report = &reports[next];
            if (StartJob(options, programPath, printers[next].name, job)) {
                runningIndex[running] = next;
                waits[running++] = job->reader;
            } else {
                char why[REASON_SIZE];
                FormatText(why, COUNTOF(why), "its detection process could not be started "
                           "(error %lu)", GetLastError());
                ReportChildFailure(&reports[next], printers[next].name, why);
                counts[PRINTER_FAILED]++;
                done++;
                if (!options->json) {
                    ClearProgress();
                    WritePrinterTable(&reports[next]);
                }
            }
            next++;
        }
        if (running == 0)
            continue;
        DWORD which = WaitForMultipleObjects((DWORD)running, waits, FALSE, INFINITE);
        if (which >= WAIT_OBJECT_0 + (DWORD)running)
            break;
        int slot = (int)(which - WAIT_OBJECT_0);
        Job *job = &jobs[runningIndex[slot]];
        FinishJob(job, printers[job->index].name);
        const PrinterReport *report = job->report;
        counts[report->status]++;
        done++;
        if (!options->json) {
            ClearProgress();
            WritePrinterTable(report);
        }
        ShowProgress(done, total, counts[PRINTER_FAILED]);
        // The last running one takes the finished one's place in the wait.
        running--;
        runningIndex[slot] = runningIndex[running];
        waits[slot] = waits[running];
    }
    ClearProgress();

    DWORD milliseconds = (DWORD)(GetTickCount64() - started);
    int exitCode = ChooseExitCode(counts[PRINTER_DETECTED], counts[PRINTER_FAILED]);
    if (options->json)
        WriteJsonDocument(reports, total, counts[PRINTER_DETECTED], counts[PRINTER_FAILED],
                          counts[PRINTER_SKIPPED], milliseconds, exitCode);
    else
        WriteSummaryLine(counts[PRINTER_DETECTED], counts[PRINTER_FAILED],
                         counts[PRINTER_SKIPPED], milliseconds);
    for (int i = 0; options->hasLog && i < total; i++) {
        char error[LONG_TEXT_SIZE];
        if (!AppendLogLine(options->log, &reports[i], error, COUNTOF(error))) {
            WriteErrorText("VRAutoDetect: ");
            WriteErrorText(error);
            WriteErrorText("\n");
            if (exitCode == EXIT_ALL_DETECTED)
                exitCode = EXIT_NOT_DETECTED;
        }
    }
    free(jobs);
    free(reports);
    free(printers);
    return exitCode;
}
