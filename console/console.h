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
    int acceptNoOptions;        // --accept-no-options: store empty lists over stored ones
    int json;
    int help;
    int version;                // --version: the program's name and version
    int hasOutput, hasLog;
    char output[CONSOLE_PATH_SIZE]; // --output FILE: the report, whole or not at all
    char log[CONSOLE_PATH_SIZE];    // --log FILE: one line per printer appended
    int eventLog;               // --event-log: the Application log, source VRAutoDetect
    int child;                  // internal: a worker of --all (printers on stdin)
    int v2c;                    // --v2c: SNMPv2c with the community, GetBulk walks
    // SNMPv3: a user makes the run speak v3; the passwords never come from
    // the command line (see security.cpp).
    int hasV3User, hasV3Auth, hasV3Priv, hasV3Secrets;
    char v3User[VR_SNMP_MAX_USER + 1];
    int v3Auth;                 // VrSnmpAuthProtocol
    int v3Priv;                 // VrSnmpPrivProtocol
    char v3Secrets[CONSOLE_PATH_SIZE];
    int hasV3Engines;
    char v3Engines[CONSOLE_PATH_SIZE]; // --v3-engines FILE: the printers' known engines
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
    OUTCOME_V3_CRYPTO_FAILED,   // our side: a key, digest or cipher failed
    OUTCOME_NOT_WALKED_ENGINE,  // the printer's SNMPv3 engine was refused
    OUTCOME_COUNT               // not an outcome: how many there are
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

// A v3 printer's engine: its id as authentic answers confirmed it, and
// whether it was known (the engines file's), new (confirmed first in this
// run; added to the file when one is given) or refused.
enum {
    ENGINE_ADDRESS_SIZE = 64,
    ENGINE_HEX_SIZE = 2 * 32 + 1,
    ENGINE_DATE_SIZE = 21
};
enum EngineState {
    ENGINE_NONE,                // SNMPv1, or no authentic answer
    ENGINE_KNOWN,
    ENGINE_NEW,
    ENGINE_REFUSED
};
struct EngineVerdict {
    int state;                  // EngineState
    char since[ENGINE_DATE_SIZE];   // first confirmed (UTC)
    char reason[REASON_SIZE];   // why refused
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
    int noSuchPrinter;          // --printer named no queue of this computer
    int localPort;              // a parallel, serial, USB or file port: no network address
    // The seven values before the run, what this run would store (present
    // only where it has something to store), and per value a ValueChange.
    int haveStored;
    RawValue stored[STORED_VALUE_COUNT];
    RawValue detected[STORED_VALUE_COUNT];
    int changes[STORED_VALUE_COUNT];
    WalkReport sysDescr;
    WalkReport options[FEATURE_OPTION_COUNT];
    DWORD milliseconds;
    int engineState;            // EngineState
    char engineAddress[ENGINE_ADDRESS_SIZE];
    char engineId[ENGINE_HEX_SIZE];
    char engineSince[ENGINE_DATE_SIZE];
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
// Control characters (C0, DEL, C1) as visible escapes (\x1b, \u009b), for
// the table and the log; cut at a whole escape.
enum { ESCAPED_FACTOR = 4 };
void EscapeControls(const char *text, char *shown, size_t shownSize);

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
// The secrets file, checked on its open handle, is used only when its owner
// and every account an entry lets read it, or change its list or owner, is
// SYSTEM, the Administrators or the running account (1; otherwise error
// names the owner or the entry, never the content). This judges one list.
int CheckSecretsSecurity(PSID owner, const ACL *dacl, int present, const char *path,
                         char *error, size_t errorSize);
// The children of --all: their wide environment without any
// VR_SNMP_*_PASSWORD (malloc'd, NULL when it cannot be made), and the run's
// --community and keys (or no keys for SNMPv1) written to a child's
// standard input and read there before anything else. 1 or 0.
// TakeHandedCommunity puts the community a child was handed into its
// options (1 when there was one).
WCHAR *MakeChildEnvironment(void);
int WriteV3Handover(HANDLE pipe);
int ReadV3Handover(HANDLE input, char *error, size_t errorSize);
int TakeHandedCommunity(ConsoleOptions *options);
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
// Exit 3: the report (table or JSON) and the log's one line say what was
// asked for and why nothing was asked; its own trouble goes to standard error.
void ReportNothingAsked(const ConsoleOptions *options, const char *reason);
// The query map beside the program: its path as the report shows it (UTF-8).
void GetQueryMapPathUtf8(char *path, size_t pathSize);

// admin_files.cpp: the files made for the administrators. SYSTEM, the
// Administrators and the running account are trusted (1); DescribeAccount
// names any other (or gives its SID).
int IsTrustedAccount(PSID sid);
void DescribeAccount(PSID sid, char *text, size_t textSize);
// Security attributes holding a protected list: full control for SYSTEM,
// the Administrators and the running account, nothing inherited (1 or 0);
// FreeAdminSecurity releases it.
int MakeAdminSecurity(SECURITY_ATTRIBUTES *attributes);
void FreeAdminSecurity(SECURITY_ATTRIBUTES *attributes);
// A new file "BASE.<random>SUFFIX" (UTF-8 path into path), with that list,
// made only when no file of the name exists (another random name on a
// collision); INVALID_HANDLE_VALUE with the last error set when none can be.
// The random bytes come from g_fillNameRandom (BCryptGenRandom).
HANDLE CreateUniqueFile(const char *base, const char *suffix, char *path, size_t pathSize);
extern int (*g_fillNameRandom)(BYTE *bytes, ULONG size);
// --log: made new with that list, or an existing file appended to only when
// JudgeExistingLog accepts what its open handle tells (1; 0 with error).
HANDLE OpenAdminLog(const char *path, char *error, size_t errorSize);
int JudgeExistingLog(PSID owner, DWORD attributes, DWORD links, const char *path, char *error,
                     size_t errorSize);
// event_log.cpp: --event-log. The run's parent reports, never a worker of
// --all. Nothing here changes the run's outcome: a log that cannot be
// opened or written is said once on standard error.
void OpenRunEventLog(const ConsoleOptions *options);
// Each printer once its report is final: a warning when it failed, was
// kept or skipped, information when its values were written; counted for
// the run's event either way.
void ReportPrinterEvent(const PrinterReport *report);
// The run's end (once; later calls do nothing), with the counts of the
// printers reported and, when there is more to say, why (exit code 3).
void ReportRunEvent(int exitCode, const char *reason);
// The IDs the program reports, for the test of its message table.
extern const DWORD g_eventMessageIds[];
extern const int g_eventMessageIdCount;
// engines.cpp: --v3-engines. LoadEngineFile: 1, or 0 with the error naming
// the line; a file not there yet is empty. JudgeEngine remembers an engine
// it accepts for the rest of the run; SaveEngineFile writes the file anew
// when this run trusted new engines (1, or 0 with the error).
int LoadEngineFile(const char *path, char *error, size_t errorSize);
int EngineFileGiven(void);
const char *EngineFilePath(void);
void JudgeEngine(const char *address, const char *engine, EngineVerdict *verdict);
int SaveEngineFile(char *error, size_t errorSize);
void FormatEngineId(const BYTE *id, UINT length, char *hex, size_t hexSize);

// detect.cpp: who judges the engine that authentic answers confirmed (the
// engines file, or the parent of a worker): 1 when the verdict came.
typedef int (*EngineJudge)(const char *address, const char *engine, EngineVerdict *verdict);
void SetEngineJudge(EngineJudge judge);

// fleet.cpp: --all; returns the exit code.
int RunAllPrinters(const ConsoleOptions *options, const char *programPath);
// --printer and --address: DetectOne within the bound a printer has in
// --all; a walk that the agent keeps going past it is cut, and the printer
// fails with "no end within N s".
void DetectWithinBound(const ConsoleOptions *options, PrinterReport *report);
// 1 when every field of a report that is used as an index, a count or a
// text lies within its range or buffer; otherwise 0, and why says which.
int CheckWorkerReport(const PrinterReport *report, char *why, size_t whySize);
// How the parent waits for its workers' messages: WaitForMultipleObjects,
// unless a test build puts a failing wait in its place.
extern DWORD(WINAPI *g_waitForWorkers)(DWORD count, const HANDLE *handles, BOOL all,
                                        DWORD milliseconds);
// --worker: printers from standard input, their reports to standard output,
// until the input ends. 0 at the end of the input, 1 when a pipe broke.
int RunWorker(const ConsoleOptions *options);
// The exit code for these counts: 1 also when none was detected at all
// (every printer skipped).
int ChooseExitCode(int detected, int failed);
