// The administrator's command VRAutoDetect.exe: detects a printer's options
// without the dialog, explains every outcome, optionally stores the results
// as OK in the dialog does, and does it for all local printers at once.
#pragma once

#include <windows.h>
#include <stdio.h>

#include "common/base.h"
#include "features/configurators.h"
#include "printer/port_settings.h"
#include "winsnmp/wsnmp_v3.h"

// Exit codes.
enum {
    EXIT_ALL_DETECTED = 0,
    EXIT_NOT_DETECTED = 1,
    EXIT_USAGE = 2
};

enum {
    MAX_JOBS = 64,              // one wait covers every running child
    DEFAULT_JOBS = 4,
    DIAGNOSTIC_SLOTS = 4,
    DIAGNOSTIC_SIZE = 512,
    REASON_SIZE = 512
};

// What the command line asked for.
enum RunMode {
    MODE_NONE,
    MODE_PRINTER,               // --printer NAME
    MODE_ADDRESS,               // --address HOST alone: a diagnosis
    MODE_ALL                    // --all
};
struct ConsoleOptions {
    int mode;
    char printer[PRINTER_NAME_SIZE];
    char driver[PRINTER_NAME_SIZE];
    int hasAddress, hasCommunity, hasTimeout, hasDriver, hasJobs;
    char address[SHORT_TEXT_SIZE];
    char community[SHORT_TEXT_SIZE];
    char timeoutText[TIMEOUT_TEXT_SIZE];
    int jobs;
    int write;
    int json;
    int help;
    int child;                  // internal: a worker of --all (printers on stdin)
    // SNMPv3: a user makes the run speak v3; the passwords never come from
    // the command line (see security.cpp).
    int hasV3User, hasV3Auth, hasV3Priv, hasV3Secrets;
    char v3User[VR_SNMP_MAX_USER + 1];
    int v3Auth;                 // VrSnmpAuthProtocol
    int v3Priv;                 // VrSnmpPrivProtocol
    char v3Secrets[PATH_TEXT_SIZE];
};

// How one walk ended, in the words the report uses.
enum WalkOutcome {
    OUTCOME_NOT_WALKED_SILENT,  // an earlier walk got no answer
    OUTCOME_NOT_WALKED_CHAIN,   // the chain stopped at an earlier failure
    OUTCOME_DETECTED,
    OUTCOME_EMPTY,              // nothing under the sub-tree
    OUTCOME_NO_ANSWER,
    OUTCOME_REFUSED,
    OUTCOME_NOT_ADVANCING,
    OUTCOME_TOO_LONG,
    OUTCOME_OID_INVALID,
    OUTCOME_NOT_STARTED,
    OUTCOME_REQUEST_FAILED,
    OUTCOME_NO_ENTRY,
    OUTCOME_NO_MAP,
    // An SNMPv3 request the agent refused, and why.
    OUTCOME_V3_UNKNOWN_USER,
    OUTCOME_V3_AUTHENTICATION_FAILED,
    OUTCOME_V3_PRIVACY_REQUIRED,
    OUTCOME_V3_LEVEL_UNSUPPORTED,
    OUTCOME_V3_DECRYPTION_FAILED,
    OUTCOME_V3_NOT_IN_TIME_WINDOW,
    OUTCOME_V3_UNKNOWN_ENGINE,
    OUTCOME_V3_OTHER_REPORT
};
struct WalkReport {
    int outcome;                // WalkOutcome
    int errorStatus;
    int exchanges;
    DWORD milliseconds;
    char oidText[SHORT_TEXT_SIZE];
    int valueCount;
    char values[SNMP_VALUE_SLOTS][SNMP_VALUE_SIZE];
    int diagnosticCount;        // all that came; the first DIAGNOSTIC_SLOTS kept
    char diagnostics[DIAGNOSTIC_SLOTS][DIAGNOSTIC_SIZE];
};

// How the agent was asked: what the report may tell of it (no password).
struct ReportSecurity {
    int version;                // 1 (community) or 3
    char user[VR_SNMP_MAX_USER + 1];
    int authProtocol;
    int privProtocol;
};

enum PrinterStatus {
    PRINTER_DETECTED,
    PRINTER_FAILED,
    PRINTER_SKIPPED
};
// One printer's (or one address's) result. A worker of --all hands it to its
// parent as these very bytes (the same program on both sides).
struct PrinterReport {
    DWORD size;                 // sizeof(PrinterReport): a check of the handover
    int status;                 // PrinterStatus
    char reason[REASON_SIZE];   // why skipped or failed
    int hasPrinter;
    char printer[PRINTER_NAME_SIZE];
    char driver[PRINTER_NAME_SIZE];
    char port[PATH_TEXT_SIZE];
    QueryFields fields;
    PortSources sources;
    ReportSecurity security;
    int asked;                  // the agent was asked (not skipped, printer opened)
    int writeAsked;
    int written;                // the chain ran and stored its values
    int chainOutcome;           // the success flag written
    WalkReport sysDescr;
    WalkReport options[FEATURE_OPTION_COUNT];
    DWORD milliseconds;
};

// options.cpp: 1 when the arguments are valid; otherwise error holds the
// one-line message naming the option.
int ParseConsoleOptions(int argc, char **argv, ConsoleOptions *options, char *error,
                        size_t errorSize);
void WriteUsage(FILE *stream);

// security.cpp: the SNMPv3 options' values, the passwords from the
// environment or the secrets file into g_snmpSecurity (1; otherwise error
// holds one line that names no password), and their wiping.
int ParseAuthProtocol(const char *text, int *protocol);
int ParsePrivProtocol(const char *text, int *protocol);
int LoadV3Security(const ConsoleOptions *options, char *error, size_t errorSize);
void WipeV3Security(void);
const char *SecurityLevelName(const ReportSecurity *security);
const char *AuthProtocolName(int protocol);
const char *PrivProtocolName(int protocol);

// detect.cpp
void InstallDiagnosticReporter(void);
// Called with the printer's settings once they are known, before the first
// request.
typedef void (*AskingObserver)(const PrinterReport *report);
void SetAskingObserver(AskingObserver observer);
// Forgets the walk whose messages were being collected (between printers).
void ResetDetection(void);
// Detects one printer (options->printer) or one address; fills report.
void DetectOne(const ConsoleOptions *options, PrinterReport *report);
int WalkSucceeded(int outcome);

// output.cpp
void WriteText(const char *text);
void WritePrinterTable(const PrinterReport *report);
void WriteJsonDocument(const PrinterReport *reports, int count, int detected, int failed,
                       int skipped, DWORD milliseconds, int exitCode);
void WriteSummaryLine(int detected, int failed, int skipped, DWORD milliseconds);
const char *OutcomeToken(int outcome);

// fleet.cpp: --all; returns the exit code.
int RunAllPrinters(const ConsoleOptions *options, const char *programPath);
// --worker: printers from standard input, their reports to standard output,
// until the input ends. 0 at the end of the input, 1 when a pipe broke.
int RunWorker(const ConsoleOptions *options);
// The exit code for these counts.
int ChooseExitCode(int detected, int failed);
