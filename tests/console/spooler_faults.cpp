// VRAutoDetect.exe built with the spooler's call table wrapped: the faults
// that the real spooler will not give on request, for test_detect.py. The
// program's own main (console/main.cpp, renamed for this build) runs
// unchanged. VR_TEST_SPOOLER_FAULT names the fault:
//   deny-write-open   an open for writing fails with access denied; reading works
//   fail-third-write  the process's third SetPrinterData fails (disk full)
//   misread           a value this process wrote reads back with its first byte changed
//   misread-cassettes the same for QV_AutoCfgCassettes alone
//   fail-wait         the parent of --all cannot wait for its workers (an invalid handle)
//   short-report      a worker of --all hands its report over one byte short, then ends
// and for the report of "VRPool 1" in a worker of --all:
//   hang-report       kept, and the worker waits for ever, as a worker that hangs
//   other-report      handed over as one of "VRPool 9"
//   outcome-report    its HardDisk walk with an outcome out of range
//   count-report      its HardDisk walk with one value more than it has slots
//   text-report       its reason without its end
//   size-report       under a header one byte short, the worker going on
//   asking-report     the "asking" message for it told twice
// Every run prints "spooler writes: N" on standard error at its end.
// VR_TEST_RECORD_WORKER=FILE: the parent of --all gives itself a TEMP
// outside the ANSI code page and an inheritable event (signalled, its value
// in VR_TEST_PLANTED_HANDLE) that no worker should get; each worker appends
// to FILE, in UTF-8, its command line, its TEMP and whether it holds that
// event.
#undef main

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/text.h"
#include "console/console.h"
#include "printer/spooler.h"

int RunConsoleProgram(int argc, char **argv);

static const char *s_fault = "";
static int s_writes;
static char s_written[8][64];

// An open for writing refused as for an account that may not manage the
// printer; reading still opens.
static int DeniesOpen(int forWriting, LPHANDLE printer)
{
    if (strcmp(s_fault, "deny-write-open") != 0 || !forWriting)
        return 0;
    *printer = NULL;
    SetLastError(ERROR_ACCESS_DENIED);
    return 1;
}

static BOOL WINAPI FaultyOpen(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults)
{
    if (DeniesOpen(defaults != NULL && defaults->DesiredAccess == PRINTER_ACCESS_ADMINISTER,
                   printer))
        return FALSE;
    return OpenPrinterA(name, printer, defaults);
}

static BOOL WINAPI FaultyOpenW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults)
{
    if (DeniesOpen(defaults != NULL && defaults->DesiredAccess == PRINTER_ACCESS_ADMINISTER,
                   printer))
        return FALSE;
    return OpenPrinterW(name, printer, defaults);
}

static DWORD WINAPI FaultySet(HANDLE printer, LPSTR name, DWORD type, LPBYTE data, DWORD size)
{
    s_writes++;
    if (strcmp(s_fault, "fail-third-write") == 0 && s_writes == 3)
        return ERROR_DISK_FULL;
    for (int i = 0; i < 8; i++) {
        if (s_written[i][0] == '\0' || strcmp(s_written[i], name) == 0) {
            CopyText(s_written[i], COUNTOF(s_written[i]), name);
            break;
        }
    }
    return SetPrinterDataA(printer, name, type, data, size);
}

static DWORD WINAPI FaultyGet(HANDLE printer, LPSTR name, LPDWORD type, LPBYTE data, DWORD size,
                              LPDWORD needed)
{
    DWORD status = GetPrinterDataA(printer, name, type, data, size, needed);
    if (status != ERROR_SUCCESS || strncmp(s_fault, "misread", 7) != 0 || *needed == 0)
        return status;
    if (strcmp(s_fault, "misread-cassettes") == 0 && strcmp(name, "QV_AutoCfgCassettes") != 0)
        return status;
    // The success flag is left alone: the list read back is what differs.
    for (int i = 0; i < 8; i++) {
        if (strcmp(s_written[i], name) == 0 && strcmp(name, "QV_AutoCfgSuccess") != 0)
            data[0] ^= 0x20;
    }
    return status;
}

static DWORD WINAPI FailingWait(DWORD, const HANDLE *, BOOL, DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

// A worker's messages pass through this relay to the parent. short-report:
// the first report goes on without its last byte, and the worker then ends,
// as one that died in the middle of handing it over. hang-report: the report
// of "VRPool 1" stays here, and so does the worker. other-report: that report
// goes on with another printer's name.
static HANDLE s_relayFrom, s_relayTo;

static int ReadWhole(void *bytes, DWORD size)
{
    DWORD got = 0;
    for (DWORD done = 0; done < size; done += got) {
        if (!ReadFile(s_relayFrom, (char *)bytes + done, size - done, &got, NULL) || got == 0)
            return 0;
    }
    return 1;
}

static int Forward(const void *bytes, DWORD size)
{
    DWORD put = 0;
    return size == 0 || (WriteFile(s_relayTo, bytes, size, &put, NULL) && put == size);
}

static DWORD WINAPI RelayWorkerMessages(void *)
{
    static char body[1 << 20];
    DWORD header[2];
    int shorten = strcmp(s_fault, "short-report") == 0;
    while (ReadWhole(header, sizeof(header)) && header[1] <= sizeof(body) &&
           ReadWhole(body, header[1])) {
        int report = header[0] == 2;
        PrinterReport *printer = (PrinterReport *)body;
        // The worker tells that it asks while it detects that printer.
        if (header[0] == 1 && strcmp(g_printerName, "VRPool 1") == 0 &&
            strcmp(s_fault, "asking-report") == 0 &&
            (!Forward(header, sizeof(header)) || !Forward(body, header[1])))
            break;
        if (report && header[1] == sizeof(PrinterReport) &&
            strcmp(printer->printer, "VRPool 1") == 0) {
            if (strcmp(s_fault, "hang-report") == 0)
                Sleep(INFINITE);
            if (strcmp(s_fault, "other-report") == 0)
                CopyText(printer->printer, COUNTOF(printer->printer), "VRPool 9");
            if (strcmp(s_fault, "outcome-report") == 0)
                printer->options[0].outcome = 1000;
            if (strcmp(s_fault, "count-report") == 0)
                printer->options[0].valueCount = SNMP_VALUE_SLOTS + 1;
            if (strcmp(s_fault, "text-report") == 0)
                memset(printer->reason, 'x', sizeof(printer->reason));
            if (strcmp(s_fault, "size-report") == 0)
                header[1]--;
        }
        if (!Forward(header, sizeof(header)) ||
            !Forward(body, report && shorten ? header[1] - 1 : header[1]) || (report && shorten))
            break;
    }
    ExitProcess(1);
}

static int RunRelayed(int argc, char **argv)
{
    HANDLE write = NULL;
    s_relayTo = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!CreatePipe(&s_relayFrom, &write, NULL, 0))
        return 1;
    SetStdHandle(STD_OUTPUT_HANDLE, write);
    CreateThread(NULL, 0, RelayWorkerMessages, NULL, 0, NULL);
    return RunConsoleProgram(argc, argv);
}

static const WCHAR WORKER_TEMP[] = L"C:\\temp-\u0142\u00f3d\u017a-\u5370";

static void PlantForWorkers(void)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE planted = CreateEventA(&inherit, TRUE, TRUE, NULL);
    char value[32];
    SetEnvironmentVariableW(L"TEMP", WORKER_TEMP);
    FormatText(value, COUNTOF(value), "%llu", (unsigned long long)(ULONG_PTR)planted);
    SetEnvironmentVariableA("VR_TEST_PLANTED_HANDLE", value);
}

static void RecordWorker(const char *path)
{
    WCHAR temp[512], widePath[512];
    char line[8192], commandLine[4096], tempText[1024], planted[32];
    HANDLE handle = NULL;
    DWORD flags = 0, written = 0;
    if (GetEnvironmentVariableA("VR_TEST_PLANTED_HANDLE", planted, sizeof(planted)) > 0)
        handle = (HANDLE)(ULONG_PTR)_strtoui64(planted, NULL, 10);
    // Held when the value is a handle here and it is the signalled event.
    int held = handle != NULL && GetHandleInformation(handle, &flags) &&
               WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    if (GetEnvironmentVariableW(L"TEMP", temp, 512) == 0)
        temp[0] = 0;
    WideToUtf8(GetCommandLineW(), commandLine, sizeof(commandLine));
    WideToUtf8(temp, tempText, sizeof(tempText));
    FormatText(line, sizeof(line), "command line: %s\ntemp: %s\nplanted handle: %s\n",
               commandLine, tempText, held ? "inherited" : "not inherited");
    Utf8ToWide(path, widePath, 512);
    HANDLE file = CreateFileW(widePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
        CloseHandle(file);
    }
}

int main(int argc, char **argv)
{
    const char *fault = getenv("VR_TEST_SPOOLER_FAULT");
    int child = 0;
    s_fault = fault != NULL ? fault : "";
    g_spoolerCalls.openPrinter = FaultyOpen;
    g_spoolerCalls.openPrinterW = FaultyOpenW;
    g_spoolerCalls.setPrinterData = FaultySet;
    g_spoolerCalls.getPrinterData = FaultyGet;
    for (int i = 1; i < argc; i++)
        child |= strcmp(argv[i], "--worker") == 0;
    if (!child && strcmp(s_fault, "fail-wait") == 0)
        g_waitForWorkers = FailingWait;
    const char *record = getenv("VR_TEST_RECORD_WORKER");
    if (record != NULL && child)
        RecordWorker(record);
    else if (record != NULL)
        PlantForWorkers();
    int relayed = strstr(s_fault, "-report") != NULL;
    int code = child && relayed ? RunRelayed(argc, argv) : RunConsoleProgram(argc, argv);
    fprintf(stderr, "spooler writes: %d\n", s_writes);
    return code;
}
