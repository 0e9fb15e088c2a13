// The administrator's command VRAutoDetect.exe: detects a printer's options
// without the dialog, explains every outcome, optionally stores the results
// as OK in the dialog does, and does it for all local printers at once.
#pragma once

#include <windows.h>
#include <stdio.h>

#include "common/base.h"
#include "features/configurators.h"
#include "printer/port_settings.h"
#include "printer/stored_values.h"
#include "winsnmp/wsnmp_v3.h"

// Exit codes.
enum {
    EXIT_ALL_DETECTED = 0,
    EXIT_NOT_DETECTED = 1,
    EXIT_USAGE = 2,
    EXIT_NOTHING_ASKED = 3      // no printer matched, no query map, no spooler
};

// Texts are held as UTF-8 (encoding.cpp): a name of 254 UTF-16 units takes
// at most 3 bytes per unit (a surrogate pair, two units, takes 4).
enum {
    UTF8_PER_UNIT = 3,
    CONSOLE_NAME_SIZE = (PRINTER_NAME_SIZE - 1) * UTF8_PER_UNIT + 1,
    CONSOLE_PATH_SIZE = (PATH_TEXT_SIZE - 1) * UTF8_PER_UNIT + 1,
    WALK_VALUE_SIZE = (SNMP_VALUE_SIZE - 1) * UTF8_PER_UNIT + 1
};

enum {
    MAX_JOBS = 64,              // one wait covers every running child
    DEFAULT_JOBS = 4,
    DIAGNOSTIC_SLOTS = 4,
    DIAGNOSTIC_SIZE = 1024,
    REASON_SIZE = 1024,
    // A request unanswered is sent once and repeated 3 times (the engine's
    // retries) before the walk gives up.
    REQUEST_ATTEMPTS = 4
};

// What the command line asked for. Every text in UTF-8.
enum RunMode {
    MODE_NONE,
    MODE_PRINTER,               // --printer NAME
    MODE_ADDRESS,               // --address HOST alone: a diagnosis
    MODE_ALL                    // --all
};
struct ConsoleOptions {
    int mode;
    char printer[CONSOLE_NAME_SIZE];
    char driver[CONSOLE_NAME_SIZE];
    int hasAddress, hasCommunity, hasTimeout, hasDriver, hasJobs;
    // The ANSI code page's texts of the fields, as UTF-8.
    char address[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
    char community[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
    char timeoutText[TIMEOUT_TEXT_SIZE];
    int jobs;
    int write;
    int json;
    int help;
    int version;                // --version: the program's name and version
    int hasOutput, hasLog;
    char output[CONSOLE_PATH_SIZE]; // --output FILE: the report, whole or not at all
    char log[CONSOLE_PATH_SIZE];    // --log FILE: one line per printer appended
    int child;                  // internal: a worker of --all (printers on stdin)
    int v2c;                    // --v2c: SNMPv2c with the community, GetBulk walks
    // SNMPv3: a user makes the run speak v3; the passwords never come from
    // the command line (see security.cpp).
    int hasV3User, hasV3Auth, hasV3Priv, hasV3Secrets;
    char v3User[VR_SNMP_MAX_USER + 1];
    int v3Auth;                 // VrSnmpAuthProtocol
    int v3Priv;                 // VrSnmpPrivProtocol
    char v3Secrets[CONSOLE_PATH_SIZE];
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
    OUTCOME_V3_OTHER_REPORT,
    OUTCOME_V3_NO_RANDOM,       // our side: no random numbers for ids or salts
    OUTCOME_V3_CRYPTO_FAILED    // our side: a key, digest or cipher failed
};
struct WalkReport {
    int outcome;                // WalkOutcome
    int errorStatus;
    int exchanges;
    DWORD milliseconds;
    char oidText[SHORT_TEXT_SIZE];
    int valueCount;
    char values[SNMP_VALUE_SLOTS][WALK_VALUE_SIZE];
    int diagnosticCount;        // all that came; the first DIAGNOSTIC_SLOTS kept
    char diagnostics[DIAGNOSTIC_SLOTS][DIAGNOSTIC_SIZE];
};

// How the agent was asked: what the report may tell of it (no password).
struct ReportSecurity {
    int version;                // 1 or 2 (SNMPv2c, community), or 3
    char user[VR_SNMP_MAX_USER + 1];
    int authProtocol;
    int privProtocol;
};

// What --write did with a printer's values.
enum StoreOutcome {
    STORE_NOT_ASKED,            // no --write
    STORE_KEPT,                 // not detected: nothing written
    STORE_UNCHANGED,            // all detected, nothing differed
    STORE_WRITTEN,              // the values that differed written and read back
    STORE_FAILED                // a write or its read-back failed (reason given)
};
// One value's fate.
enum ValueChange {
    CHANGE_KEPT,                // not detected: stays as it is
    CHANGE_NOT_GIVEN,           // a setting the command line did not give
    CHANGE_UNCHANGED,
    CHANGE_CHANGED,
    CHANGE_WOULD_CHANGE,        // without --write
    CHANGE_NOT_STORED           // its write or read-back failed
};

enum PrinterStatus {
    PRINTER_DETECTED,
    PRINTER_FAILED,
    PRINTER_SKIPPED
};
// One printer's (or one address's) result. A worker of --all hands it to its
// parent as these very bytes (the same program on both sides). Its texts are
// UTF-8, but for fields: the engine's, in the ANSI code page.
struct PrinterReport {
    DWORD size;                 // sizeof(PrinterReport): a check of the handover
    int status;                 // PrinterStatus
    char reason[REASON_SIZE];   // why skipped or failed
    int hasPrinter;
    char printer[CONSOLE_NAME_SIZE];
    char driver[CONSOLE_NAME_SIZE];
    char port[CONSOLE_NAME_SIZE];
    QueryFields fields;
    PortSources sources;
    ReportSecurity security;
    char resolved[SHORT_TEXT_SIZE]; // the address a host name resolved to ("" for none)
    int asked;                  // the agent was asked (not skipped, printer opened)
    int writeAsked;
    int written;                // values were written and read back as meant
    int storeOutcome;           // StoreOutcome
    int noOptionAnywhere;       // answers, but nothing under any option's sub-tree
    // The seven values before the run, what this run would store (present
    // only where it has something to store), and per value a ValueChange.
    int haveStored;
    RawValue stored[STORED_VALUE_COUNT];
    RawValue detected[STORED_VALUE_COUNT];
    int changes[STORED_VALUE_COUNT];
    WalkReport sysDescr;
    WalkReport options[FEATURE_OPTION_COUNT];
    DWORD milliseconds;
};

// encoding.cpp: conversions (1; 0 when the text does not fit or convert)
// and the standard streams (a console gets UTF-16, a file or pipe UTF-8).
int WideToUtf8(const WCHAR *wide, char *utf8, size_t utf8Size);
int Utf8ToWide(const char *utf8, WCHAR *wide, size_t wideCount);
// The UTF-16 units of a UTF-8 text: what the spooler counts in a name.
int Utf16Length(const char *utf8);
// Cut at a whole character when the buffer is too small.
void AnsiToUtf8(const char *ansi, char *utf8, size_t utf8Size);
// 0 also when a character has no place in the ANSI code page.
int Utf8ToAnsi(const char *utf8, char *ansi, size_t ansiSize);
// The wide command line as UTF-8 arguments.
int ReadWideArguments(int *argc, char ***argv);
void WriteOutputText(const char *utf8);
void FlushOutput(void);
void WriteErrorText(const char *utf8);
// From here on the report goes to this file (UTF-8), not standard output.
void RedirectOutput(HANDLE file);
// 1 when a write of the report did not take every byte.
int OutputFailed(void);

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
// The passwords become keys at once (VrSnmpMakeKeys) and are wiped; a child
// of --all takes the keys it was handed instead.
int LoadV3Security(const ConsoleOptions *options, char *error, size_t errorSize);
void WipeV3Security(void);
// The secrets file is refused when Everyone, Users or Authenticated Users
// may read it, or when that cannot be checked (1 when it may be used;
// otherwise error says why). CheckSecretsDacl judges one access list.
int CheckSecretsFileAccess(const char *path, char *error, size_t errorSize);
int CheckSecretsDacl(const ACL *dacl, int present, const char *path, char *error,
                     size_t errorSize);
// The children of --all: their environment without any VR_SNMP_*_PASSWORD
// (malloc'd, NULL when it cannot be made), and the run's keys (or an empty
// block for SNMPv1) written to a child's standard input and read there
// before anything else. 1 or 0.
char *MakeChildEnvironment(void);
int WriteV3Handover(HANDLE pipe);
int ReadV3Handover(HANDLE input, char *error, size_t errorSize);
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
// The report goes to standard output, or with --output to a file beside
// FILE that FinishReport moves over it.
int BeginReport(const ConsoleOptions *options, char *error, size_t errorSize);
int FinishReport(char *error, size_t errorSize);
void WriteText(const char *text);
void WritePrinterTable(const PrinterReport *report);
void WriteJsonDocument(const PrinterReport *reports, int count, int detected, int failed,
                       int skipped, DWORD milliseconds, int exitCode);
void WriteSummaryLine(int detected, int failed, int skipped, DWORD milliseconds);
const char *OutcomeToken(int outcome);
// --log: one line per printer appended; 0 with error when it cannot be.
int AppendLogLine(const char *path, const PrinterReport *report, char *error, size_t errorSize);
// The query map beside the program: its path as the report shows it (UTF-8).
void GetQueryMapPathUtf8(char *path, size_t pathSize);

// fleet.cpp: --all; returns the exit code.
int RunAllPrinters(const ConsoleOptions *options, const char *programPath);
// --worker: printers from standard input, their reports to standard output,
// until the input ends. 0 at the end of the input, 1 when a pipe broke.
int RunWorker(const ConsoleOptions *options);
// The exit code for these counts: 1 also when none was detected at all
// (every printer skipped).
int ChooseExitCode(int detected, int failed);
