// --all: every local printer, detected by at most --jobs worker processes of
// this program (the engine keeps process-wide state and one thread). Each
// worker is handed one printer's name at a time over its standard input,
// sets the engine's state afresh, detects it and hands the report back over
// its standard output. A worker that dies, hangs or hands back what the
// parent cannot use (CheckWorkerReport) costs the printer it had: that
// printer is failed with the reason and a fresh worker takes the rest.
// The table shows each printer as it completes, the JSON document lists them
// in the order of their names.
#include "console/console.h"
#include "common/text.h"
#include "features/query_map.h"
#include "printer/spooler.h"
#include "snmp/snmp_engine.h"

#include <stdlib.h>
#include <string.h>
#include <winspool.h>

enum {
    COMMAND_LINE_SIZE = 4096,
    PROGRESS_WIDTH = 60,
    // One printer's name on a worker's input: UTF-8, NUL-padded.
    NAME_RECORD_SIZE = 1024,
    PIPE_BUFFER_SIZE = 2 * NAME_RECORD_SIZE,
    // How long a printer may take in its worker: reading its settings (and,
    // for a fresh worker, its start) before it tells its time-out ...
    SETTINGS_BOUND_MS = 60000,
    // ... then every walk (sysDescr.0 and the four options) silent: a
    // request and the engine's 3 retries, each waiting the time-out, and the
    // engine's own grace beyond the last, plus a margin for a busy machine.
    WALKS_PER_PRINTER = 1 + FEATURE_OPTION_COUNT,
    SENDS_PER_REQUEST = 4,
    WALK_GRACE_MS = 3000,
    PRINTER_MARGIN_MS = 15000,
    // A worker whose input has ended and which does not end in this time is
    // stopped (it has no printer left to cost).
    WORKER_EXIT_MS = 10000,
    // The time-outs a worker may tell: the number in the first two
    // characters of the field ("-9" to "99").
    LEAST_TIMEOUT_SECONDS = -9,
    MOST_TIMEOUT_SECONDS = 99
};

// What a worker hands back: a header, then its body.
enum WorkerMessageKind {
    MESSAGE_ASKING = 1,         // WorkerAsking: the agent is about to be asked
    MESSAGE_REPORT = 2,         // PrinterReport
    MESSAGE_ENGINE = 3          // WorkerEngine: answered with an EngineVerdict on its input
};
struct WorkerMessage {
    DWORD kind;
    DWORD size;                 // of the body that follows
};
struct WorkerAsking {
    int timeoutSeconds;
};
// The SNMPv3 engine that authentic answers confirmed for the worker's
// printer: the parent, which knows every printer's, judges it.
struct WorkerEngine {
    char address[ENGINE_ADDRESS_SIZE];
    char engine[ENGINE_HEX_SIZE];
};
// What the parent judged for a printer.
struct PrinterEngine {
    int judged;
    WorkerEngine engine;
    EngineVerdict verdict;
};

struct FleetPrinter {
    char name[CONSOLE_NAME_SIZE];     // UTF-8
};

// One worker: its process, the pipes, and the thread that reads its
// messages one at a time (set ready when one is there, or the output ended;
// it reads the next once the parent has set taken).
struct Worker {
    HANDLE process;             // NULL: the slot is free
    HANDLE input;               // write end of its standard input; NULL once closed
    HANDLE output;              // read end of its standard output
    HANDLE reader;
    HANDLE ready;
    HANDLE taken;
    int printer;                // the index it detects, -1 between printers
    int timeoutSeconds;         // the printer's, once told; -1 before
    ULONGLONG handedAt;
    ULONGLONG deadline;
    int stopped;                // stopped by the parent past its deadline
    // The message in hand: the reader's until ready is set, then the parent's.
    int ended;                  // the output ended or broke: nothing more comes
    int unknown;                // ended on a header that is not this program's
    WorkerMessage header;
    DWORD received;             // body bytes read
    WorkerAsking asking;
    WorkerEngine engine;
    PrinterReport report;
};

static int s_showProgress;
// How the workers ask (no password: each worker is handed the run's keys).
static ReportSecurity s_security;
// The worker's standard output, for its asking observer.
static HANDLE s_workerOutput;
static HANDLE s_workerInput;
static PrinterReport s_workerReport;

DWORD(WINAPI *g_waitForWorkers)(DWORD, const HANDLE *, BOOL, DWORD) = WaitForMultipleObjects;

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

static void BuildWorkerCommandLine(const ConsoleOptions *options, const char *programPath,
                                   char *line, size_t lineSize)
{
    line[0] = '\0';
    AppendArgument(line, lineSize, programPath);
    // The program's name leads the line, without the separating blank.
    memmove(line, line + 1, strlen(line));
    AppendText(line, lineSize, " --worker");
    // The community, as the keys, reaches the workers through their standard
    // input only: a command line is recorded by process auditing.
    if (options->hasTimeout) {
        AppendText(line, lineSize, " --timeout");
        AppendArgument(line, lineSize, options->timeoutText);
    }
    if (options->write)
        AppendText(line, lineSize, " --write");
    if (options->v2c)
        AppendText(line, lineSize, " --v2c");
    // The keys reach the workers through their standard input only.
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

// ---------------------------------------------------------------- the pipes

// 1 when all size bytes came; got says how many did.
static int ReadFully(HANDLE pipe, void *into, DWORD size, DWORD *got)
{
    *got = 0;
    while (*got < size) {
        DWORD n = 0;
        if (!ReadFile(pipe, (char *)into + *got, size - *got, &n, NULL) || n == 0)
            return 0;
        *got += n;
    }
    return 1;
}

static int WriteFully(HANDLE pipe, const void *data, DWORD size)
{
    DWORD done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!WriteFile(pipe, (const char *)data + done, size - done, &n, NULL) || n == 0)
            return 0;
        done += n;
    }
    return 1;
}

// The name (UTF-8) as the record a worker reads, NUL-padded.
static int NameToRecord(const char *name, char record[NAME_RECORD_SIZE])
{
    memset(record, 0, NAME_RECORD_SIZE);
    return name[0] != '\0' && CopyText(record, NAME_RECORD_SIZE, name) == strlen(name);
}

// A record back into the name; 0 when it is not one (unterminated, empty,
// or not UTF-8).
static int RecordToName(char record[NAME_RECORD_SIZE], char *name, size_t nameSize)
{
    WCHAR wide[PRINTER_NAME_SIZE];
    if (memchr(record, '\0', NAME_RECORD_SIZE) == NULL || record[0] == '\0')
        return 0;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, record, -1, wide,
                            (int)COUNTOF(wide)) <= 0)
        return 0;
    return CopyText(name, nameSize, record) == strlen(record);
}

static int SendWorkerMessage(HANDLE pipe, DWORD kind, const void *body, DWORD size)
{
    WorkerMessage header = {kind, size};
    return WriteFully(pipe, &header, sizeof(header)) && WriteFully(pipe, body, size);
}

// ---------------------------------------------------------------- the worker

// A worker detects printer after printer: everything the engine, the query
// map, the reporter and our WinSNMP keep for the process is set as a fresh
// process has it, so that nothing of one printer reaches the next. The
// security setting is the run's and stays.
static int ResetPrinterState(void)
{
    MSG message;
    memset(g_printerName, 0, sizeof(g_printerName));
    memset(g_printerNameWide, 0, sizeof(g_printerNameWide));
    g_hDialog = NULL;
    ReleaseQueryMap();
    ResetDetection();
    // Nothing an earlier walk left queued for this thread.
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        continue;
    SetLastError(0);
    return ResetQueryEngine();
}

static void TellAsking(const PrinterReport *report)
{
    WorkerAsking asking;
    asking.timeoutSeconds = report->fields.timeoutSeconds;
    SendWorkerMessage(s_workerOutput, MESSAGE_ASKING, &asking, sizeof(asking));
}

// The worker's engine judge: the parent answers on the worker's input
// before anything more is walked. 0 when no answer came.
static int AskParentForVerdict(const char *address, const char *engine, EngineVerdict *verdict)
{
    WorkerEngine asked;
    DWORD got = 0;
    memset(&asked, 0, sizeof(asked));
    CopyText(asked.address, COUNTOF(asked.address), address);
    CopyText(asked.engine, COUNTOF(asked.engine), engine);
    if (!SendWorkerMessage(s_workerOutput, MESSAGE_ENGINE, &asked, sizeof(asked)) ||
        !ReadFully(s_workerInput, verdict, sizeof(*verdict), &got))
        return 0;
    verdict->reason[COUNTOF(verdict->reason) - 1] = '\0';
    verdict->since[COUNTOF(verdict->since) - 1] = '\0';
    return 1;
}

// A printer the worker could not detect at all.
static void ReportWorkerTrouble(PrinterReport *report, const char *printer, const char *why)
{
    memset(report, 0, sizeof(*report));
    report->size = sizeof(*report);
    report->status = PRINTER_FAILED;
    report->hasPrinter = 1;
    report->security.version = g_snmpSecurity.version;
    CopyText(report->printer, COUNTOF(report->printer), printer);
    CopyText(report->reason, COUNTOF(report->reason), why);
}

int RunWorker(const ConsoleOptions *options)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    ConsoleOptions each = *options;
    char record[NAME_RECORD_SIZE];
    DWORD got = 0;
    int result = 1;

    // The --community its parent was given, handed over with the keys.
    TakeHandedCommunity(&each);

    s_workerOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    s_workerInput = input;
    SetAskingObserver(TellAsking);
    SetEngineJudge(AskParentForVerdict);
    // The run's keys, which the parent hands every worker ahead of the
    // printers, were read before this (ReadV3Handover).
    while (ReadFully(input, record, sizeof(record), &got)) {
        each.mode = MODE_PRINTER;
        if (!RecordToName(record, each.printer, COUNTOF(each.printer)))
            ReportWorkerTrouble(&s_workerReport, "", "its name did not reach the worker whole");
        else if (!ResetPrinterState())
            ReportWorkerTrouble(&s_workerReport, each.printer,
                                "the worker's SNMP state could not be set afresh");
        else
            DetectOne(&each, &s_workerReport);
        if (!SendWorkerMessage(s_workerOutput, MESSAGE_REPORT, &s_workerReport,
                               sizeof(s_workerReport)))
            goto done;
    }
    // The parent closes the input when no printer is left: at a record's
    // boundary, that is the end of the work.
    result = got == 0 ? 0 : 1;
done:
    SetAskingObserver(NULL);
    SetEngineJudge(NULL);
    WipeV3Security();
    return result;
}

// ---------------------------------------------------------------- the parent

// Hands the parent the worker's messages one at a time.
static DWORD WINAPI ReadWorkerMessages(void *parameter)
{
    Worker *worker = (Worker *)parameter;
    for (;;) {
        DWORD got = 0;
        void *body = NULL;
        worker->received = 0;
        memset(&worker->header, 0, sizeof(worker->header));
        if (!ReadFully(worker->output, &worker->header, sizeof(worker->header), &got)) {
            worker->ended = 1;
        } else {
            if (worker->header.kind == MESSAGE_ASKING &&
                worker->header.size == sizeof(WorkerAsking))
                body = &worker->asking;
            else if (worker->header.kind == MESSAGE_REPORT &&
                     worker->header.size == sizeof(PrinterReport))
                body = &worker->report;
            else if (worker->header.kind == MESSAGE_ENGINE &&
                     worker->header.size == sizeof(WorkerEngine))
                body = &worker->engine;
            // Anything else is not this program's: nothing more is read.
            worker->unknown = body == NULL;
            if (body == NULL || !ReadFully(worker->output, body, worker->header.size,
                                           &worker->received))
                worker->ended = 1;
        }
        SetEvent(worker->ready);
        if (worker->ended)
            return 0;
        WaitForSingleObject(worker->taken, INFINITE);
    }
}

static void CloseWorkerHandles(Worker *worker)
{
    HANDLE *handles[] = {&worker->input, &worker->output, &worker->reader, &worker->ready,
                         &worker->taken, &worker->process};
    for (size_t i = 0; i < COUNTOF(handles); i++) {
        if (*handles[i] != NULL)
            CloseHandle(*handles[i]);
        *handles[i] = NULL;
    }
}

// The worker process with its own pipe ends and standard error as the only
// handles it inherits (a handle list), and a wide environment.
static int CreateWorkerProcess(WCHAR *line, WCHAR *environment, HANDLE input, HANDLE output,
                               PROCESS_INFORMATION *process)
{
    STARTUPINFOEXW startup;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = NULL;
    SIZE_T attributesSize = 0;
    HANDLE error = NULL;
    HANDLE inherited[3];
    DWORD inheritedCount = 0;
    DWORD lastError = 0;
    int started = 0;

    // A copy of standard error that may be inherited (the parent's own may
    // not be): the worker's messages go where the parent's do.
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(),
                         &error, 0, TRUE, DUPLICATE_SAME_ACCESS))
        error = NULL;
    inherited[inheritedCount++] = input;
    inherited[inheritedCount++] = output;
    if (error != NULL)
        inherited[inheritedCount++] = error;
    InitializeProcThreadAttributeList(NULL, 1, 0, &attributesSize);
    attributes = (LPPROC_THREAD_ATTRIBUTE_LIST)malloc(attributesSize);
    if (attributes == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        goto done;
    }
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &attributesSize)) {
        free(attributes);
        attributes = NULL;
        goto done;
    }
    if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   inheritedCount * sizeof(HANDLE), NULL, NULL))
        goto done;
    memset(&startup, 0, sizeof(startup));
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = error;
    startup.lpAttributeList = attributes;
    started = CreateProcessW(NULL, line, NULL, NULL, TRUE,
                             CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                             environment, NULL, &startup.StartupInfo, process) != 0;
done:
    lastError = GetLastError();
    if (attributes != NULL) {
        DeleteProcThreadAttributeList(attributes);
        free(attributes);
    }
    if (error != NULL)
        CloseHandle(error);
    SetLastError(lastError);
    return started;
}

// Starts a worker in a free slot; 0 (last error set) when it cannot.
static int StartWorker(const ConsoleOptions *options, const char *programPath, Worker *worker)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    HANDLE inputRead = NULL, outputWrite = NULL;
    WCHAR *environment = NULL;
    PROCESS_INFORMATION process;
    char line[COMMAND_LINE_SIZE];
    WCHAR wideLine[COMMAND_LINE_SIZE];
    DWORD error = 0;
    int started = 0;

    memset(worker, 0, sizeof(*worker));
    worker->printer = -1;
    // Built in UTF-8, started wide: the program's path as it is.
    BuildWorkerCommandLine(options, programPath, line, COUNTOF(line));
    if (!Utf8ToWide(line, wideLine, COUNTOF(wideLine))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        goto done;
    }
    // The worker's environment keeps no password variable: its keys come on
    // its standard input.
    environment = MakeChildEnvironment();
    if (environment == NULL)
        goto done;
    // Only the worker's ends are inherited, and only by it: the handle list
    // names them, and one thread starts every worker and closes these ends
    // before it starts the next.
    if (!CreatePipe(&inputRead, &worker->input, &inherit, PIPE_BUFFER_SIZE)) {
        inputRead = worker->input = NULL;
        goto done;
    }
    if (!CreatePipe(&worker->output, &outputWrite, &inherit, 0)) {
        worker->output = outputWrite = NULL;
        goto done;
    }
    SetHandleInformation(worker->input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(worker->output, HANDLE_FLAG_INHERIT, 0);
    worker->ready = CreateEventA(NULL, FALSE, FALSE, NULL);
    worker->taken = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (worker->ready == NULL || worker->taken == NULL)
        goto done;
    if (!CreateWorkerProcess(wideLine, environment, inputRead, outputWrite, &process))
        goto done;
    CloseHandle(process.hThread);
    worker->process = process.hProcess;
    // The run's keys (or an empty block for SNMPv1), ahead of the first name.
    if (!WriteV3Handover(worker->input)) {
        TerminateProcess(worker->process, 1);
        goto done;
    }
    worker->reader = CreateThread(NULL, 0, ReadWorkerMessages, worker, 0, NULL);
    if (worker->reader == NULL) {
        TerminateProcess(worker->process, 1);
        goto done;
    }
    started = 1;
done:
    error = GetLastError();
    free(environment);
    if (outputWrite != NULL)
        CloseHandle(outputWrite);
    if (inputRead != NULL)
        CloseHandle(inputRead);
    if (!started)
        CloseWorkerHandles(worker);
    SetLastError(error);
    return started;
}

// A printer whose worker gave no complete report.
static void ReportWorkerFailure(PrinterReport *report, const char *printer, const char *why)
{
    memset(report, 0, sizeof(*report));
    report->size = sizeof(*report);
    report->status = PRINTER_FAILED;
    report->security = s_security;
    report->hasPrinter = 1;
    CopyText(report->printer, COUNTOF(report->printer), printer);
    CopyText(report->reason, COUNTOF(report->reason), why);
}

// How long a printer of this time-out may take from the moment its worker
// says it asks.
static ULONGLONG PrinterBound(int timeoutSeconds)
{
    ULONGLONG seconds = timeoutSeconds > 0 ? (ULONGLONG)timeoutSeconds : 0;
    return WALKS_PER_PRINTER * (SENDS_PER_REQUEST * seconds * 1000 + WALK_GRACE_MS) +
           PRINTER_MARGIN_MS;
}

// Why the worker's printer has no report: the worker stopped past its
// bound, or ended on its own.
static void DescribeLoss(const Worker *worker, char *why, size_t whySize)
{
    DWORD code = 0;
    if (worker->stopped && worker->timeoutSeconds < 0) {
        FormatText(why, whySize, "its worker process had not begun to ask its agent %lu s "
                   "after it was handed the printer, and was stopped",
                   (unsigned long)(SETTINGS_BOUND_MS / 1000));
        return;
    }
    if (worker->stopped) {
        FormatText(why, whySize, "its worker process gave no report within %lu s of asking "
                   "(the bound for a time-out of %d s), and was stopped",
                   (unsigned long)(PrinterBound(worker->timeoutSeconds) / 1000),
                   worker->timeoutSeconds);
        return;
    }
    // The output ends a moment before the process does.
    WaitForSingleObject(worker->process, WORKER_EXIT_MS);
    GetExitCodeProcess(worker->process, &code);
    if (worker->header.kind == MESSAGE_REPORT && worker->received > 0)
        FormatText(why, whySize, "its worker process ended (exit code %lu) after %lu of the "
                   "report's %lu bytes", (unsigned long)code, (unsigned long)worker->received,
                   (unsigned long)sizeof(PrinterReport));
    else
        FormatText(why, whySize, "its worker process ended (exit code %lu) while detecting it, "
                   "without a report", (unsigned long)code);
}

// The worker's output has ended: it is gone, or going.
static void EndWorker(Worker *worker)
{
    if (WaitForSingleObject(worker->process, WORKER_EXIT_MS) != WAIT_OBJECT_0)
        TerminateProcess(worker->process, 1);
    WaitForSingleObject(worker->reader, INFINITE);
    CloseWorkerHandles(worker);
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

// The run: the printers, their reports, and the workers that detect them.
struct Fleet {
    const ConsoleOptions *options;
    const char *programPath;
    FleetPrinter *printers;
    PrinterReport *reports;
    int total, next, done;
    int counts[3];
    Worker *workers;            // options->jobs slots
    PrinterEngine *engines;     // per printer: the engine judged for it
};

static void CompletePrinter(Fleet *fleet, int index)
{
    const PrinterReport *report = &fleet->reports[index];
    fleet->counts[report->status]++;
    fleet->done++;
    ReportPrinterEvent(report);
    if (!fleet->options->json) {
        ClearProgress();
        WritePrinterTable(report);
    }
    ShowProgress(fleet->done, fleet->total, fleet->counts[PRINTER_FAILED]);
}

static void FailPrinter(Fleet *fleet, int index, const char *why)
{
    ReportWorkerFailure(&fleet->reports[index], fleet->printers[index].name, why);
    CompletePrinter(fleet, index);
}

// The worker's next printer, or the end of its input when none is left.
static void HandNextPrinter(Fleet *fleet, Worker *worker)
{
    char record[NAME_RECORD_SIZE];
    while (fleet->next < fleet->total) {
        int index = fleet->next++;
        if (!NameToRecord(fleet->printers[index].name, record)) {
            FailPrinter(fleet, index, "its name could not be handed to a worker");
            continue;
        }
        worker->printer = index;
        worker->timeoutSeconds = -1;
        worker->handedAt = GetTickCount64();
        worker->deadline = worker->handedAt + SETTINGS_BOUND_MS;
        // A worker gone already: its output's end tells, and costs this one.
        WriteFully(worker->input, record, sizeof(record));
        return;
    }
    CloseHandle(worker->input);
    worker->input = NULL;
    worker->deadline = GetTickCount64() + WORKER_EXIT_MS;
}

// Fills the free slots while printers wait; a worker that cannot start
// costs the printer it would have had.
static void StartWorkers(Fleet *fleet)
{
    for (int slot = 0; slot < fleet->options->jobs && fleet->next < fleet->total; slot++) {
        Worker *worker = &fleet->workers[slot];
        if (worker->process != NULL)
            continue;
        while (fleet->next < fleet->total) {
            if (StartWorker(fleet->options, fleet->programPath, worker)) {
                HandNextPrinter(fleet, worker);
                break;
            }
            char why[REASON_SIZE];
            FormatText(why, COUNTOF(why), "its worker process could not be started "
                       "(error %lu)", GetLastError());
            FailPrinter(fleet, fleet->next++, why);
        }
    }
}

// ---------------------------------------------------------------- the checks

static int Ended(const char *text, size_t size)
{
    return memchr(text, '\0', size) != NULL;
}

static int InRange(int value, int least, int most)
{
    return value >= least && value <= most;
}

static int CheckWalk(const WalkReport *walk, const char *label, char *why, size_t whySize)
{
    if (!InRange(walk->outcome, OUTCOME_NOT_WALKED_SILENT, OUTCOME_COUNT - 1)) {
        FormatText(why, whySize, "%s: outcome %d out of range", label, walk->outcome);
        return 0;
    }
    if (!InRange(walk->valueCount, 0, SNMP_VALUE_SLOTS)) {
        FormatText(why, whySize, "%s: %d values for %d slots", label, walk->valueCount,
                   (int)SNMP_VALUE_SLOTS);
        return 0;
    }
    // Counts the output shows or counts down from.
    if (walk->diagnosticCount < 0 || walk->exchanges < 0) {
        FormatText(why, whySize, "%s: %d messages, %d exchanges", label,
                   walk->diagnosticCount, walk->exchanges);
        return 0;
    }
    int ended = Ended(walk->oidText, sizeof(walk->oidText));
    for (int i = 0; i < SNMP_VALUE_SLOTS; i++)
        ended = ended && Ended(walk->values[i], sizeof(walk->values[i]));
    for (int i = 0; i < DIAGNOSTIC_SLOTS; i++)
        ended = ended && Ended(walk->diagnostics[i], sizeof(walk->diagnostics[i]));
    if (!ended) {
        FormatText(why, whySize, "%s: a text without its end", label);
        return 0;
    }
    return 1;
}

static int CheckValues(const RawValue *values, const char *which, char *why, size_t whySize)
{
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        if (!InRange(values[i].present, 0, 1) || values[i].byteCount > STORED_VALUE_BYTES) {
            FormatText(why, whySize, "%s %s: %lu bytes for %d", which, g_storedValueNames[i],
                       (unsigned long)values[i].byteCount, (int)STORED_VALUE_BYTES);
            return 0;
        }
    }
    return 1;
}

int CheckWorkerReport(const PrinterReport *report, char *why, size_t whySize)
{
    const struct {
        const char *name;
        const char *text;
        size_t size;
    } texts[] = {
        {"reason", report->reason, sizeof(report->reason)},
        {"printer", report->printer, sizeof(report->printer)},
        {"driver", report->driver, sizeof(report->driver)},
        {"port", report->port, sizeof(report->port)},
        {"address", report->fields.address, sizeof(report->fields.address)},
        {"community", report->fields.community, sizeof(report->fields.community)},
        {"time-out", report->fields.timeoutText, sizeof(report->fields.timeoutText)},
        {"user", report->security.user, sizeof(report->security.user)},
        {"resolved address", report->resolved, sizeof(report->resolved)},
    };
    if (report->size != sizeof(PrinterReport)) {
        FormatText(why, whySize, "a size of %lu bytes", (unsigned long)report->size);
        return 0;
    }
    if (!InRange(report->status, PRINTER_DETECTED, PRINTER_SKIPPED) ||
        !InRange(report->storeOutcome, STORE_NOT_ASKED, STORE_FAILED)) {
        FormatText(why, whySize, "status %d, store outcome %d out of range", report->status,
                   report->storeOutcome);
        return 0;
    }
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        if (!InRange(report->changes[i], CHANGE_KEPT, CHANGE_NOT_STORED)) {
            FormatText(why, whySize, "%s: change %d out of range", g_storedValueNames[i],
                       report->changes[i]);
            return 0;
        }
    }
    for (size_t i = 0; i < COUNTOF(texts); i++) {
        if (!Ended(texts[i].text, texts[i].size)) {
            FormatText(why, whySize, "its %s without its end", texts[i].name);
            return 0;
        }
    }
    if (!CheckValues(report->stored, "stored", why, whySize) ||
        !CheckValues(report->detected, "detected", why, whySize) ||
        !CheckWalk(&report->sysDescr, "sysDescr.0", why, whySize))
        return 0;
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        if (!CheckWalk(&report->options[option], g_featureOptions[option].optionName, why,
                       whySize))
            return 0;
    }
    return 1;
}

static int IsEngineText(const WorkerEngine *engine)
{
    size_t hexLength = strnlen(engine->engine, COUNTOF(engine->engine));
    size_t addressLength = strnlen(engine->address, COUNTOF(engine->address));
    if (hexLength == 0 || hexLength >= COUNTOF(engine->engine) || hexLength % 2 != 0 ||
        addressLength == 0 || addressLength >= COUNTOF(engine->address))
        return 0;
    for (size_t i = 0; i < hexLength; i++) {
        char c = engine->engine[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return 0;
    }
    for (size_t i = 0; i < addressLength; i++) {
        if ((unsigned char)engine->address[i] <= ' ')
            return 0;
    }
    return 1;
}

// What a worker sent instead of a sound message for its printer; empty when
// the message is sound. An "asking" message is sound once per printer.
static void JudgeMessage(const Fleet *fleet, const Worker *worker, char *what, size_t whatSize)
{
    char why[REASON_SIZE];
    what[0] = '\0';
    if (worker->unknown) {
        FormatText(why, COUNTOF(why), "a message of kind %lu and %lu bytes",
                   (unsigned long)worker->header.kind, (unsigned long)worker->header.size);
    } else if (worker->header.kind == MESSAGE_ASKING) {
        if (worker->timeoutSeconds >= 0)
            CopyText(why, COUNTOF(why), "a second \"asking\" message");
        else if (!InRange(worker->asking.timeoutSeconds, LEAST_TIMEOUT_SECONDS,
                          MOST_TIMEOUT_SECONDS))
            FormatText(why, COUNTOF(why), "asking with a time-out of %d s",
                       worker->asking.timeoutSeconds);
        else
            return;
    } else if (worker->header.kind == MESSAGE_ENGINE) {
        // Judged once per printer, and only an engine's text.
        if (fleet->engines[worker->printer].judged)
            CopyText(why, COUNTOF(why), "a second engine to judge");
        else if (!IsEngineText(&worker->engine))
            CopyText(why, COUNTOF(why), "an engine that is not one");
        else
            return;
    } else if (!CheckWorkerReport(&worker->report, why, COUNTOF(why))) {
        // A report whose fields cannot be used.
    } else if (strcmp(worker->report.printer, fleet->printers[worker->printer].name) != 0) {
        CopyText(what, whatSize, "its worker process handed back something else than this "
                 "printer's report, and was stopped");
        return;
    } else {
        return;
    }
    FormatText(what, whatSize, "its worker process handed back a malformed report (%s), and "
               "was stopped", why);
}

// A worker's engine, judged against the file and every printer's of the
// run, once per printer; the verdict goes back on its input. 0 when the
// message is not to be trusted.
static int JudgeWorkerEngine(Fleet *fleet, Worker *worker, int index)
{
    PrinterEngine *judged = &fleet->engines[index];
    if (judged->judged || !IsEngineText(&worker->engine))
        return 0;
    judged->judged = 1;
    judged->engine = worker->engine;
    JudgeEngine(judged->engine.address, judged->engine.engine, &judged->verdict);
    // A worker gone already: its output's end tells.
    WriteFully(worker->input, &judged->verdict, sizeof(judged->verdict));
    return 1;
}

// The engine of a worker's report is the one the parent judged, whatever
// the worker says; a refused one fails the printer.
static void TakeEngineVerdict(Fleet *fleet, int index, PrinterReport *report)
{
    const PrinterEngine *judged = &fleet->engines[index];
    if (!judged->judged) {
        // With authentication, an answer used means an engine confirmed,
        // which the worker must have had judged.
        int answered = WalkSucceeded(report->sysDescr.outcome);
        for (int option = 0; option < FEATURE_OPTION_COUNT; option++)
            answered |= WalkSucceeded(report->options[option].outcome);
        if (report->engineState == ENGINE_NONE &&
            (s_security.version != 3 || s_security.authProtocol == VR_SNMP_AUTH_NONE ||
             !answered))
            return;
        report->engineState = ENGINE_NONE;
        report->status = PRINTER_FAILED;
        CopyText(report->reason, COUNTOF(report->reason), "its worker process walked the "
                 "printer without having its SNMPv3 engine judged by the run");
        return;
    }
    int state = judged->verdict.state;
    report->engineState = state;
    CopyText(report->engineAddress, COUNTOF(report->engineAddress), judged->engine.address);
    CopyText(report->engineId, COUNTOF(report->engineId), judged->engine.engine);
    CopyText(report->engineSince, COUNTOF(report->engineSince), judged->verdict.since);
    if (state == ENGINE_REFUSED) {
        report->status = PRINTER_FAILED;
        CopyText(report->reason, COUNTOF(report->reason), judged->verdict.reason);
    }
}

// One message (or the end) from a worker.
static void TakeMessage(Fleet *fleet, Worker *worker)
{
    char why[REASON_SIZE];
    int index = worker->printer;
    if (worker->ended && !worker->unknown) {
        if (index >= 0) {
            DescribeLoss(worker, why, COUNTOF(why));
            ReportWorkerFailure(&fleet->reports[index], fleet->printers[index].name, why);
            fleet->reports[index].milliseconds = (DWORD)(GetTickCount64() - worker->handedAt);
            CompletePrinter(fleet, index);
        }
        EndWorker(worker);
        return;
    }
    if (index < 0) {
        // Out of turn: the worker is not to be trusted with more.
        TerminateProcess(worker->process, 1);
    } else {
        JudgeMessage(fleet, worker, why, COUNTOF(why));
        if (why[0] != '\0') {
            // Its printer costs it; the worker is not to be trusted with more.
            FailPrinter(fleet, index, why);
            fleet->reports[index].milliseconds = (DWORD)(GetTickCount64() - worker->handedAt);
            worker->printer = -1;
            TerminateProcess(worker->process, 1);
        } else if (worker->header.kind == MESSAGE_ASKING) {
            worker->timeoutSeconds = worker->asking.timeoutSeconds;
            worker->deadline = GetTickCount64() + PrinterBound(worker->timeoutSeconds);
        } else if (worker->header.kind == MESSAGE_ENGINE) {
            // Judged: the worker goes on or stops with the verdict.
            JudgeWorkerEngine(fleet, worker, index);
        } else {
            fleet->reports[index] = worker->report;
            TakeEngineVerdict(fleet, index, &fleet->reports[index]);
            worker->printer = -1;
            CompletePrinter(fleet, index);
            HandNextPrinter(fleet, worker);
        }
    }
    // A reader that ended on an unknown header reads no more.
    if (worker->ended)
        EndWorker(worker);
    else
        SetEvent(worker->taken);
}

// Stops the workers past their deadline; their output's end follows. A
// stopped worker is stopped again while its end does not come, so that the
// wait always has a deadline.
static void StopLateWorkers(Fleet *fleet)
{
    ULONGLONG now = GetTickCount64();
    for (int slot = 0; slot < fleet->options->jobs; slot++) {
        Worker *worker = &fleet->workers[slot];
        if (worker->process == NULL || now < worker->deadline)
            continue;
        worker->stopped = 1;
        worker->deadline = now + WORKER_EXIT_MS;
        TerminateProcess(worker->process, 1);
    }
}

// Until every printer is done and every worker has ended. When the workers
// can no longer be waited for, they are stopped and why is said in lost,
// for the printers left without a report.
static void RunFleet(Fleet *fleet, char *lost, size_t lostSize)
{
    HANDLE waits[MAX_JOBS];
    int slots[MAX_JOBS];
    for (;;) {
        StartWorkers(fleet);
        int count = 0;
        ULONGLONG now = GetTickCount64(), soonest = 0;
        // Every running worker has a deadline, a stopped one too.
        for (int slot = 0; slot < fleet->options->jobs; slot++) {
            const Worker *worker = &fleet->workers[slot];
            if (worker->process == NULL)
                continue;
            if (count == 0 || worker->deadline < soonest)
                soonest = worker->deadline;
            slots[count] = slot;
            waits[count++] = worker->ready;
        }
        if (count == 0)
            return;     // every printer done, every worker ended
        DWORD wait = soonest > now ? (DWORD)(soonest - now) : 0;
        DWORD which = g_waitForWorkers((DWORD)count, waits, FALSE, wait);
        if (which == WAIT_TIMEOUT)
            StopLateWorkers(fleet);
        else if (which < WAIT_OBJECT_0 + (DWORD)count)
            TakeMessage(fleet, &fleet->workers[slots[which - WAIT_OBJECT_0]]);
        else
            break;
    }
    // Nothing can be waited for: the workers are stopped.
    FormatText(lost, lostSize, "the run could not wait for its worker processes (error %lu)",
               GetLastError());
    for (int slot = 0; slot < fleet->options->jobs; slot++) {
        Worker *worker = &fleet->workers[slot];
        if (worker->process == NULL)
            continue;
        TerminateProcess(worker->process, 1);
        SetEvent(worker->taken);
        EndWorker(worker);
    }
}

int RunAllPrinters(const ConsoleOptions *options, const char *programPath)
{
    ULONGLONG started = GetTickCount64();
    Fleet fleet;
    DWORD mode = 0;

    memset(&fleet, 0, sizeof(fleet));
    fleet.options = options;
    fleet.programPath = programPath;
    s_showProgress = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    memset(&s_security, 0, sizeof(s_security));
    s_security.version = options->hasV3User ? 3 : options->v2c ? 2 : 1;
    CopyText(s_security.user, COUNTOF(s_security.user), options->v3User);
    s_security.authProtocol = options->hasV3Auth ? options->v3Auth : VR_SNMP_AUTH_NONE;
    s_security.privProtocol = options->v3Priv;
    fleet.total = ListPrinters(options, &fleet.printers);
    if (fleet.total < 0) {
        char text[LONG_TEXT_SIZE];
        DWORD error = GetLastError();
        FormatText(text, COUNTOF(text), "VRAutoDetect: the spooler could not list the local "
                   "printers (error %lu): nothing was asked\n", error);
        WriteErrorText(text);
        FormatText(text, COUNTOF(text), "the spooler could not list the local printers (error "
                   "%lu)", error);
        ReportNothingAsked(options, text);
        ReportRunEvent(EXIT_NOTHING_ASKED, text);
        free(fleet.printers);
        return EXIT_NOTHING_ASKED;
    }
    if (fleet.total == 0) {
        char reason[LONG_TEXT_SIZE], said[LONG_TEXT_SIZE + 64];
        // Most often a driver name with a typo: nothing to ask is not a success.
        if (options->hasDriver)
            FormatText(reason, COUNTOF(reason), "no local printer of driver \"%s\"",
                       options->driver);
        else
            CopyText(reason, COUNTOF(reason), "no local printer");
        FormatText(said, COUNTOF(said), "VRAutoDetect: %s: nothing was asked\n", reason);
        WriteErrorText(said);
        ReportNothingAsked(options, reason);
        ReportRunEvent(EXIT_NOTHING_ASKED, reason);
        free(fleet.printers);
        return EXIT_NOTHING_ASKED;
    }
    fleet.reports = (PrinterReport *)calloc(fleet.total > 0 ? (size_t)fleet.total : 1,
                                            sizeof(PrinterReport));
    fleet.workers = (Worker *)calloc((size_t)options->jobs, sizeof(Worker));
    fleet.engines = (PrinterEngine *)calloc((size_t)fleet.total, sizeof(PrinterEngine));
    if (fleet.reports == NULL || fleet.workers == NULL || fleet.engines == NULL) {
        WriteErrorText("VRAutoDetect: out of memory\n");
        free(fleet.engines);
        free(fleet.workers);
        free(fleet.reports);
        free(fleet.printers);
        return EXIT_NOT_DETECTED;
    }

    // A printer left without a report would read as detected: it fails.
    char lost[REASON_SIZE];
    CopyText(lost, COUNTOF(lost), "no report of it reached the run");
    RunFleet(&fleet, lost, COUNTOF(lost));
    for (int index = 0; index < fleet.total; index++) {
        if (fleet.reports[index].size == 0)
            FailPrinter(&fleet, index, lost);
    }
    ClearProgress();

    DWORD milliseconds = (DWORD)(GetTickCount64() - started);
    int *counts = fleet.counts;
    int exitCode = ChooseExitCode(counts[PRINTER_DETECTED], counts[PRINTER_FAILED]);
    if (options->json)
        WriteJsonDocument(fleet.reports, fleet.total, counts[PRINTER_DETECTED],
                          counts[PRINTER_FAILED], counts[PRINTER_SKIPPED], milliseconds, exitCode);
    else
        WriteSummaryLine(counts[PRINTER_DETECTED], counts[PRINTER_FAILED],
                         counts[PRINTER_SKIPPED], milliseconds);
    // A history that refuses a line is said once: the printers after it are
    // not appended either, so that it holds no night in part out of order.
    for (int i = 0; options->hasLog && i < fleet.total; i++) {
        char error[LONG_TEXT_SIZE];
        if (!AppendLogLine(options->log, &fleet.reports[i], error, COUNTOF(error))) {
            WriteErrorText("VRAutoDetect: ");
            WriteErrorText(error);
            WriteErrorText("; no further line appended\n");
            if (exitCode == EXIT_ALL_DETECTED)
                exitCode = EXIT_NOT_DETECTED;
            break;
        }
    }
    free(fleet.engines);
    free(fleet.workers);
    free(fleet.reports);
    free(fleet.printers);
    return exitCode;
}

// ---------------------------------------------------------------- one printer

// --printer and --address have the bound of a printer in --all, from the
// moment the agent is first asked. The engine's wait takes a quit request
// as the end of its loop (handed on, so every later walk ends at once too);
// a hook on this thread's messages, which the wait retrieves at least every
// time its timer ticks and at every answer, posts it once the bound passes.
static ULONGLONG s_boundDeadline;       // 0: the agent not asked yet
static int s_boundPassed;

static LRESULT CALLBACK WatchBound(int code, WPARAM removed, LPARAM message)
{
    if (code == HC_ACTION && s_boundDeadline != 0 && !s_boundPassed &&
        GetTickCount64() >= s_boundDeadline) {
        s_boundPassed = 1;
        PostQuitMessage(0);
    }
    return CallNextHookEx(NULL, code, removed, message);
}

static void StartBound(const PrinterReport *report)
{
    s_boundDeadline = GetTickCount64() + PrinterBound(report->fields.timeoutSeconds);
}

// The walk the quit request cut ends as one whose request failed, without a
// message, and so do those after it: the first is the walk with no end, the
// others were not walked.
static void TellBoundPassed(PrinterReport *report)
{
    WalkReport *walks[1 + FEATURE_OPTION_COUNT];
    const char *labels[1 + FEATURE_OPTION_COUNT];
    const char *cut = NULL;
    walks[0] = &report->sysDescr;
    labels[0] = "sysDescr.0";
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        walks[1 + option] = &report->options[option];
        labels[1 + option] = g_featureOptions[option].optionName;
    }
    for (size_t i = 0; i < COUNTOF(walks); i++) {
        if (walks[i]->outcome != OUTCOME_REQUEST_FAILED || walks[i]->diagnosticCount != 0)
            continue;
        if (cut == NULL) {
            cut = labels[i];
            walks[i]->outcome = OUTCOME_TOO_LONG;
        } else {
            walks[i]->outcome = OUTCOME_NOT_WALKED_CHAIN;
            walks[i]->exchanges = 0;
        }
    }
    if (cut == NULL)
        return;     // the bound passed after the last walk had ended
    report->status = PRINTER_FAILED;
    FormatText(report->reason, COUNTOF(report->reason), "%s: no end within %lu s (the bound "
               "for a time-out of %d s): the agent kept the walk going", cut,
               (unsigned long)(PrinterBound(report->fields.timeoutSeconds) / 1000),
               report->fields.timeoutSeconds);
}

void DetectWithinBound(const ConsoleOptions *options, PrinterReport *report)
{
    MSG quit;
    s_boundDeadline = 0;
    s_boundPassed = 0;
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, WatchBound, NULL, GetCurrentThreadId());
    SetAskingObserver(StartBound);
    DetectOne(options, report);
    SetAskingObserver(NULL);
    if (hook != NULL)
        UnhookWindowsHookEx(hook);
    if (s_boundPassed) {
        PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
        TellBoundPassed(report);
    }
}
