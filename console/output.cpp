// The two forms of the report: a table for a person (one line per walk with
// its outcome in words, the messages that came with it indented beneath),
// and one JSON document for scripts (ASCII, every other character escaped).
#include "console/console.h"
#include "common/text.h"
#include "snmp/snmp_engine.h"
#include "version.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum {
    WORDS_SIZE = 1024,
    WIDE_TEXT_SIZE = LONG_TEXT_SIZE,    // the longest text: a reason or a diagnostic
    JSON_PIECE_SIZE = 256,
    LOG_LINE_SIZE = 8192,
    VALUE_WORDS_SIZE = 2048
};

static const char *const SOURCE_NAMES[] = {"default", "cluster keys", "port monitor",
                                           "stored settings", "command line"};
static const char *const STATUS_NAMES[] = {"detected", "failed", "skipped"};
static const char *const STORE_NAMES[] = {"not asked", "kept", "unchanged", "written", "failed"};
static const char *const CHANGE_NAMES[] = {"kept", "not given", "unchanged", "changed",
                                           "would change", "not stored"};

// Where the report goes: standard output, or with --output a file beside
// the named one, moved over it when the report is whole.
static void WriteFormatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
static HANDLE s_outFile = INVALID_HANDLE_VALUE;
static char s_outputPath[CONSOLE_PATH_SIZE];
static char s_partialPath[CONSOLE_PATH_SIZE + 32];
// The run: when it started (UTC), on which computer, with which map (UTF-8).
static char s_runTime[32];
static char s_computer[(MAX_COMPUTERNAME_LENGTH + 1) * UTF8_PER_UNIT];
static char s_queryMapPath[CONSOLE_PATH_SIZE];

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
    FormatText(s_runTime, COUNTOF(s_runTime), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear,
               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (!GetComputerNameW(computer, &size) || !WideToUtf8(computer, s_computer,
                                                          COUNTOF(s_computer)))
        CopyText(s_computer, COUNTOF(s_computer), "?");
    GetQueryMapPathUtf8(s_queryMapPath, COUNTOF(s_queryMapPath));
}

static void RemovePartial(void)
{
    WCHAR partial[PATH_TEXT_SIZE + 32];
    if (Utf8ToWide(s_partialPath, partial, COUNTOF(partial)))
        DeleteFileW(partial);
}

int BeginReport(const ConsoleOptions *options, char *error, size_t errorSize)
{
    WCHAR partial[PATH_TEXT_SIZE + 32];
    TakeRunFacts();
    s_outFile = INVALID_HANDLE_VALUE;
    if (options->hasOutput) {
        CopyText(s_outputPath, COUNTOF(s_outputPath), options->output);
        // Beside the file, so that the move is a rename on the same volume.
        FormatText(s_partialPath, COUNTOF(s_partialPath), "%s.%lu.partial", s_outputPath,
                   (unsigned long)GetCurrentProcessId());
        if (Utf8ToWide(s_partialPath, partial, COUNTOF(partial)))
            s_outFile = CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
        if (s_outFile == INVALID_HANDLE_VALUE) {
            FormatText(error, errorSize, "--output: \"%s\" cannot be written (error %lu)",
                       s_partialPath, GetLastError());
            return 0;
        }
        // A file takes the report as UTF-8, whatever standard output is.
        RedirectOutput(s_outFile);
    }
    if (!options->json)
        WriteFormatted("VRAutoDetect %s on %s at %s; query map %s\n\n", VR_VERSION_TEXT,
                       s_computer, s_runTime, s_queryMapPath);
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

static void WriteFormatted(const char *format, ...)
{
    char text[LONG_TEXT_SIZE + 256];
    va_list args;
    va_start(args, format);
    FormatTextV(text, COUNTOF(text), format, args);
    va_end(args);
    WriteText(text);
}

static const char *SourceName(int source)
{
    return source >= 0 && (size_t)source < COUNTOF(SOURCE_NAMES) ? SOURCE_NAMES[source] : "?";
}

const char *OutcomeToken(int outcome)
{
    switch (outcome) {
    case OUTCOME_NOT_WALKED_SILENT:
    case OUTCOME_NOT_WALKED_CHAIN: return "not walked";
    case OUTCOME_DETECTED: return "detected";
    case OUTCOME_EMPTY: return "nothing under this sub-tree";
    case OUTCOME_NO_ANSWER: return "no answer";
    case OUTCOME_REFUSED: return "refused";
    case OUTCOME_NOT_ADVANCING: return "answers did not advance";
    case OUTCOME_TOO_LONG: return "no end";
    case OUTCOME_OID_INVALID: return "invalid OID";
    case OUTCOME_NOT_STARTED: return "not started";
    case OUTCOME_REQUEST_FAILED: return "request failed";
    case OUTCOME_NO_ENTRY: return "no map entry";
    case OUTCOME_NO_MAP: return "map missing";
    case OUTCOME_V3_UNKNOWN_USER: return "unknown user";
    case OUTCOME_V3_AUTHENTICATION_FAILED: return "authentication failure";
    case OUTCOME_V3_PRIVACY_REQUIRED: return "privacy required";
    case OUTCOME_V3_LEVEL_UNSUPPORTED: return "security level not supported";
    case OUTCOME_V3_DECRYPTION_FAILED: return "decryption failed";
    case OUTCOME_V3_NOT_IN_TIME_WINDOW: return "not in time window";
    case OUTCOME_V3_UNKNOWN_ENGINE: return "engine not discovered";
    case OUTCOME_V3_OTHER_REPORT: return "refused with a report";
    case OUTCOME_V3_NO_RANDOM: return "no random numbers";
    case OUTCOME_V3_CRYPTO_FAILED: return "cryptography failed";
    default: return "?";
    }
}

// A value for the table: quoted, control characters shown as dots.
static void AppendQuoted(char *words, size_t wordsSize, const char *value)
{
    char shown[VALUE_WORDS_SIZE];
    size_t length = CopyText(shown, COUNTOF(shown), value);
    for (size_t i = 0; i < length; i++) {
        if ((unsigned char)shown[i] < 0x20)
            shown[i] = '.';
    }
    AppendText(words, wordsSize, "\"");
    AppendText(words, wordsSize, shown);
    AppendText(words, wordsSize, "\"");
}

// Why an SNMPv3 agent refused, in plain words; NULL for other outcomes.
static const char *DescribeV3Refusal(int outcome)
{
    switch (outcome) {
    case OUTCOME_V3_UNKNOWN_USER:
        return "unknown user: the agent has no SNMPv3 user of this name";
    case OUTCOME_V3_AUTHENTICATION_FAILED:
        return "authentication failure: wrong authentication password, or a protocol other "
               "than the user's";
    case OUTCOME_V3_PRIVACY_REQUIRED:
        return "privacy required by the agent: this user may read only encrypted (--v3-priv AES)";
    case OUTCOME_V3_LEVEL_UNSUPPORTED:
        return "security level not supported: the agent's user has no privacy (leave out "
               "--v3-priv) or another level";
    case OUTCOME_V3_DECRYPTION_FAILED:
        return "decryption failed: wrong privacy password, or a protocol other than the user's";
    case OUTCOME_V3_NOT_IN_TIME_WINDOW:
        return "not in time window: the agent rejected the request's time even after one "
               "resynchronisation";
    case OUTCOME_V3_UNKNOWN_ENGINE:
        return "the agent's SNMPv3 engine could not be discovered";
    case OUTCOME_V3_OTHER_REPORT:
        return "the agent refused the request with an SNMPv3 report";
    case OUTCOME_V3_NO_RANDOM:
        return "no random numbers from the system for SNMPv3 message ids or privacy salts: "
               "nothing sent that could repeat another run's";
    case OUTCOME_V3_CRYPTO_FAILED:
        return "the system's cryptography failed on an SNMPv3 key, digest or cipher";
    default:
        return NULL;
    }
}

// The outcome of a walk in plain words.
static void DescribeOutcome(const WalkReport *walk, int isSystem, int version, char *words,
                            size_t wordsSize)
{
    words[0] = '\0';
    const char *refusal = DescribeV3Refusal(walk->outcome);
    if (refusal != NULL) {
        CopyText(words, wordsSize, refusal);
        return;
    }
    switch (walk->outcome) {
    case OUTCOME_NOT_WALKED_SILENT:
        CopyText(words, wordsSize,
                 "not walked: an earlier walk got no answer, and this one would wait as long");
        return;
    case OUTCOME_NOT_WALKED_CHAIN:
        CopyText(words, wordsSize, "not walked: detection stops at the first option that "
                                   "fails (as OK in the dialog); its stored value is kept");
        return;
    case OUTCOME_DETECTED:
        if (walk->valueCount == 0) {
            CopyText(words, wordsSize,
                     isSystem ? "answers, but gives no text for sysDescr.0"
                              : "detected: the sub-tree holds no text values (an empty list)");
            return;
        }
        CopyText(words, wordsSize, isSystem ? "answers: " : "detected: ");
        for (int i = 0; i < walk->valueCount; i++) {
            if (i > 0)
                AppendText(words, wordsSize, ", ");
            AppendQuoted(words, wordsSize, walk->values[i]);
        }
        return;
    case OUTCOME_EMPTY:
        CopyText(words, wordsSize,
                 isSystem ? "answers, but has nothing under sysDescr"
                          : "nothing under this sub-tree: the printer answers, but has no such "
                            "option (an empty list)");
        return;
    case OUTCOME_NO_ANSWER:
        // An agent drops what it cannot decipher without a word.
        CopyText(words, wordsSize,
                 version == 3 ? "no answer: printer off, wrong address, SNMPv3 not enabled, or "
                                "a wrong privacy password"
                              : "no answer: printer off, wrong address, or a community the "
                                "agent does not accept");
        return;
    case OUTCOME_REFUSED:
        FormatText(words, wordsSize, "the agent refused the request: error status %d (%s)",
                   walk->errorStatus, GetErrorStatusName(walk->errorStatus));
        return;
    case OUTCOME_NOT_ADVANCING:
        CopyText(words, wordsSize, "the agent's answers did not advance (a broken agent)");
        return;
    case OUTCOME_TOO_LONG:
        FormatText(words, wordsSize, "no end of the sub-tree after %d requests",
                   walk->exchanges);
        return;
    case OUTCOME_OID_INVALID:
        CopyText(words, wordsSize, "the query map's OID for this option is not valid");
        return;
    case OUTCOME_NOT_STARTED:
        CopyText(words, wordsSize, "the walk could not start: the address does not resolve, "
                                   "or no SNMP session opened");
        return;
    case OUTCOME_REQUEST_FAILED:
        CopyText(words, wordsSize, "a request could not be made or sent");
        return;
    case OUTCOME_NO_ENTRY:
        CopyText(words, wordsSize, "no map entry for this option in VRUnPQ.xml");
        return;
    case OUTCOME_NO_MAP:
        CopyText(words, wordsSize, "map missing: VRUnPQ.xml beside the program cannot be read");
        return;
    default:
        return;
    }
}

static void FormatDuration(char *text, size_t textSize, DWORD milliseconds)
{
    FormatText(text, textSize, "%lu.%02lu s", (unsigned long)(milliseconds / 1000),
               (unsigned long)(milliseconds % 1000 / 10));
}

// A diagnostic under its walk; its own line breaks keep the indentation.
static void WriteDiagnostic(const char *text)
{
    WriteText("      ! ");
    for (const char *c = text; *c != '\0'; c++) {
        if (*c == '\r')
            continue;
        char one[2] = {*c, '\0'};
        WriteText(one);
        if (*c == '\n')
            WriteText("        ");
    }
    WriteText("\n");
}

static void WriteWalkLine(const char *label, const WalkReport *walk, int isSystem, int version)
{
    char words[WORDS_SIZE];
    char duration[32];
    DescribeOutcome(walk, isSystem, version, words, COUNTOF(words));
    WriteFormatted("  %-13s %-24s ", label, walk->oidText);
    WriteText(words);
    if (walk->outcome != OUTCOME_NOT_WALKED_CHAIN && walk->outcome != OUTCOME_NOT_WALKED_SILENT &&
        walk->outcome != OUTCOME_NO_MAP && walk->outcome != OUTCOME_NO_ENTRY) {
        FormatDuration(duration, COUNTOF(duration), walk->milliseconds);
        if (walk->outcome == OUTCOME_NO_ANSWER && walk->exchanges <= 1)
            WriteFormatted("  [%d attempts, no reply in %lu.%lu s]", REQUEST_ATTEMPTS,
                           (unsigned long)(walk->milliseconds / 1000),
                           (unsigned long)(walk->milliseconds % 1000 / 100));
        else if (walk->outcome == OUTCOME_NO_ANSWER)
            WriteFormatted("  [%d exchanges answered, then %d attempts with no reply; %s]",
                           walk->exchanges - 1, REQUEST_ATTEMPTS, duration);
        else
            WriteFormatted("  [%d exchange%s, %s]", walk->exchanges,
                           walk->exchanges == 1 ? "" : "s", duration);
    }
    WriteText("\n");
    for (int i = 0; i < walk->diagnosticCount && i < DIAGNOSTIC_SLOTS; i++)
        WriteDiagnostic(walk->diagnostics[i]);
    if (walk->diagnosticCount > DIAGNOSTIC_SLOTS)
        WriteFormatted("      ! (%d more messages)\n", walk->diagnosticCount - DIAGNOSTIC_SLOTS);
}

// The engine's fields, in the ANSI code page, as the report shows them.
struct ShownFields {
    char address[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
    char community[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
    char timeoutText[TIMEOUT_TEXT_SIZE * UTF8_PER_UNIT];
};
static void ShowFields(const QueryFields *fields, ShownFields *shown)
{
    AnsiToUtf8(fields->address, shown->address, COUNTOF(shown->address));
    AnsiToUtf8(fields->community, shown->community, COUNTOF(shown->community));
    AnsiToUtf8(fields->timeoutText, shown->timeoutText, COUNTOF(shown->timeoutText));
}

static const char *TypeName(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "other";
    }
}

enum { SHOWN_TEXT_SIZE = STORED_VALUE_BYTES * UTF8_PER_UNIT + 1 };

// The text of a stored value that starts at *at (the engine's ANSI code
// page) in UTF-8, and *at moved past its NUL; 0 at the list's end.
static int TakeStoredText(const RawValue *value, DWORD *at, char *shown, size_t shownSize)
{
    char text[STORED_VALUE_BYTES + 1];
    const char *bytes = (const char *)value->bytes;
    DWORD count = value->byteCount < (DWORD)STORED_VALUE_BYTES ? value->byteCount
                                                            : (DWORD)STORED_VALUE_BYTES;
    DWORD length = 0;
    if (*at >= count || (value->type == REG_MULTI_SZ && bytes[*at] == '\0'))
        return 0;
    while (*at + length < count && bytes[*at + length] != '\0')
        length++;
    memcpy(text, bytes + *at, length);
    text[length] = '\0';
    AnsiToUtf8(text, shown, shownSize);
    *at += length + 1;
    return 1;
}

// A value as the demonstration's value table shows it: a text quoted, a
// list as its quoted texts, binary bytes in hex.
static void DescribeValue(const RawValue *value, char *words, size_t wordsSize)
{
    DWORD count = value->byteCount < (DWORD)STORED_VALUE_BYTES ? value->byteCount
                                                            : (DWORD)STORED_VALUE_BYTES;
    words[0] = '\0';
    if (!value->present) {
        CopyText(words, wordsSize, "(not written)");
        return;
    }
    switch (value->type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        char shown[SHOWN_TEXT_SIZE] = "";
        DWORD at = 0;
        TakeStoredText(value, &at, shown, COUNTOF(shown));
        AppendQuoted(words, wordsSize, shown);
        return;
    }
    case REG_MULTI_SZ: {
        char shown[SHOWN_TEXT_SIZE];
        DWORD at = 0;
        while (TakeStoredText(value, &at, shown, COUNTOF(shown))) {
            if (words[0] != '\0')
                AppendText(words, wordsSize, ", ");
            AppendQuoted(words, wordsSize, shown);
        }
        if (at == 0)
            CopyText(words, wordsSize, "(empty list)");
        return;
    }
    default:
        for (DWORD i = 0; i < count; i++) {
            char hex[4];
            FormatText(hex, COUNTOF(hex), i > 0 ? " %02x" : "%02x", value->bytes[i]);
            AppendText(words, wordsSize, hex);
        }
        if (count == 0)
            CopyText(words, wordsSize, "(no bytes)");
        return;
    }
}

static void DescribeChange(const PrinterReport *report, int value, char *words,
                           size_t wordsSize)
{
    int change = report->changes[value];
    CopyText(words, wordsSize, change == CHANGE_NOT_GIVEN ? "kept" : CHANGE_NAMES[change]);
}

// Per value: what was stored, what this run detected, and what became of it.
static void WriteValueLines(const PrinterReport *report)
{
    char stored[VALUE_WORDS_SIZE], detected[VALUE_WORDS_SIZE], change[64];
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        DescribeValue(&report->stored[i], stored, COUNTOF(stored));
        if (report->detected[i].present)
            DescribeValue(&report->detected[i], detected, COUNTOF(detected));
        else if (report->changes[i] == CHANGE_NOT_GIVEN)
            CopyText(detected, COUNTOF(detected), i == VALUE_COMMUNITY
                         ? "- (stored only when --community is given)"
                         : "- (stored only when --timeout is given)");
        else
            CopyText(detected, COUNTOF(detected), "-");
        DescribeChange(report, i, change, COUNTOF(change));
        WriteFormatted("  %-20s %-12s stored ", g_storedValueNames[i], change);
        WriteText(stored);
        WriteText("; detected ");
        WriteText(detected);
        WriteText("\n");
    }
}

void WritePrinterTable(const PrinterReport *report)
{
    ShownFields shown;
    const ShownFields *fields = &shown;
    ShowFields(&report->fields, &shown);
    char duration[32];
    if (report->hasPrinter)
        WriteFormatted("Printer \"%s\"  (driver \"%s\", port \"%s\")\n", report->printer,
                       report->driver, report->port);
    else
        WriteFormatted("Address %s  (no printer)\n", fields->address);
    if (report->asked || report->status == PRINTER_SKIPPED) {
        if (report->resolved[0] != '\0')
            WriteFormatted("  %-13s %-24s from %s, resolves to %s\n", "address",
                           fields->address, SourceName(report->sources.address),
                           report->resolved);
        else
            WriteFormatted("  %-13s %-24s from %s\n", "address", fields->address,
                           SourceName(report->sources.address));
        if (report->security.version == 3)
            WriteFormatted("  %-13s SNMPv3 %s, user \"%s\", authentication %s, privacy %s\n",
                           "security", SecurityLevelName(&report->security),
                           report->security.user,
                           AuthProtocolName(report->security.authProtocol),
                           PrivProtocolName(report->security.privProtocol));
        else
            WriteFormatted("  %-13s %-24s from %s\n", "community", fields->community,
                           SourceName(report->sources.community));
        WriteFormatted("  %-13s %-24s from %s\n", "time-out", fields->timeoutText,
                       SourceName(report->sources.timeout));
    }
    if (report->asked) {
        WriteWalkLine("sysDescr.0", &report->sysDescr, 1, report->security.version);
        for (int option = 0; option < FEATURE_OPTION_COUNT; option++)
            WriteWalkLine(g_featureOptions[option].optionName, &report->options[option], 0,
                          report->security.version);
        if (report->noOptionAnywhere)
            WriteText("  ! Warning: the printer answers, but has nothing under any of the four "
                      "options' OIDs:\n    the query map may not be the one for this model\n");
    }
    if (report->hasPrinter && report->haveStored && report->asked)
        WriteValueLines(report);
    FormatDuration(duration, COUNTOF(duration), report->milliseconds);
    switch (report->status) {
    case PRINTER_DETECTED:
        WriteFormatted("  => DETECTED in %s", duration);
        break;
    case PRINTER_FAILED:
        WriteFormatted("  => FAILED (%s) in %s", report->reason, duration);
        break;
    default:
        WriteFormatted("  => SKIPPED: %s", report->reason);
        break;
    }
    switch (report->storeOutcome) {
    case STORE_WRITTEN:
        WriteFormatted("; changed values written and read back%s\n",
                       report->security.version == 3 ? ", the stored community kept" : "");
        break;
    case STORE_UNCHANGED:
        WriteText("; unchanged: nothing differed, nothing written\n");
        break;
    case STORE_KEPT:
        WriteText("; kept: nothing written, every stored value stays as it was\n");
        break;
    case STORE_FAILED:
        WriteText("; NOT STORED\n");
        break;
    default:
        WriteText(report->asked && !report->writeAsked && report->hasPrinter
                      ? "; nothing written (--write stores what would change)\n"
                      : "; nothing written\n");
        break;
    }
    WriteText("\n");
    FlushOutput();
}

void WriteSummaryLine(int detected, int failed, int skipped, DWORD milliseconds)
{
    char duration[32];
    FormatDuration(duration, COUNTOF(duration), milliseconds);
    WriteFormatted("Summary: %d detected, %d failed, %d skipped; total time %s\n", detected,
                   failed, skipped, duration);
    FlushOutput();
}

// ---- JSON ------------------------------------------------------------------

// A UTF-8 text as a JSON string of ASCII only: every other character as
// \uXXXX (UTF-16 units, so a character beyond the first plane becomes its
// surrogate pair), so that the document reads the same under any decoding.
// Bytes that are not UTF-8 come out as U+FFFD.
static void WriteJsonString(const char *text)
{
    WCHAR wide[WIDE_TEXT_SIZE];
    char piece[JSON_PIECE_SIZE];
    size_t used = 0;
    int units = 0;
    int textLength = (int)strnlen(text, WIDE_TEXT_SIZE - 1);
    if (textLength > 0)
        units = MultiByteToWideChar(CP_UTF8, 0, text, textLength, wide, WIDE_TEXT_SIZE);
    WriteText("\"");
    for (int i = 0; i < units; i++) {
        WCHAR c = wide[i];
        if (c == '"' || c == '\\') {
            piece[used++] = '\\';
            piece[used++] = (char)c;
        } else if (c < 0x20 || c >= 0x7f) {
            used += FormatText(piece + used, sizeof(piece) - used, "\\u%04x", (unsigned)c);
        } else {
            piece[used++] = (char)c;
        }
        // Room for the longest escape and the terminator.
        if (used + 8 > sizeof(piece) || i + 1 == units) {
            piece[used] = '\0';
            WriteText(piece);
            used = 0;
        }
    }
    WriteText("\"");
}

static void WriteJsonWalk(const WalkReport *walk, int isSystem, int version)
{
    char words[WORDS_SIZE];
    DescribeOutcome(walk, isSystem, version, words, COUNTOF(words));
    WriteText("{\"oid\": ");
    WriteJsonString(walk->oidText);
    WriteText(", \"outcome\": ");
    WriteJsonString(OutcomeToken(walk->outcome));
    WriteText(", \"succeeded\": ");
    WriteText(WalkSucceeded(walk->outcome) ? "true" : "false");
    WriteText(", \"reason\": ");
    WriteJsonString(words);
    WriteFormatted(", \"errorStatus\": %d, \"exchanges\": %d, \"milliseconds\": %lu, \"values\": [",
                   walk->errorStatus, walk->exchanges, (unsigned long)walk->milliseconds);
    for (int i = 0; i < walk->valueCount; i++) {
        if (i > 0)
            WriteText(", ");
        WriteJsonString(walk->values[i]);
    }
    WriteText("], \"diagnostics\": [");
    for (int i = 0; i < walk->diagnosticCount && i < DIAGNOSTIC_SLOTS; i++) {
        if (i > 0)
            WriteText(", ");
        WriteJsonString(walk->diagnostics[i]);
    }
    WriteText("]}");
}

// A value as JSON: its type and its content (a text, a list of texts, or
// binary bytes in hex); null when absent.
static void WriteJsonValue(const RawValue *value)
{
    DWORD count = value->byteCount < (DWORD)STORED_VALUE_BYTES ? value->byteCount
                                                            : (DWORD)STORED_VALUE_BYTES;
    char shown[SHOWN_TEXT_SIZE] = "";
    DWORD at = 0;
    if (!value->present) {
        WriteText("null");
        return;
    }
    WriteFormatted("{\"type\": \"%s\", \"value\": ", TypeName(value->type));
    if (value->type == REG_SZ || value->type == REG_EXPAND_SZ) {
        TakeStoredText(value, &at, shown, COUNTOF(shown));
        WriteJsonString(shown);
    } else if (value->type == REG_MULTI_SZ) {
        WriteText("[");
        for (int first = 1; TakeStoredText(value, &at, shown, COUNTOF(shown)); first = 0) {
            if (!first)
                WriteText(", ");
            WriteJsonString(shown);
        }
        WriteText("]");
    } else {
        WriteText("\"");
        for (DWORD i = 0; i < count; i++)
            WriteFormatted("%02x", value->bytes[i]);
        WriteText("\"");
    }
    WriteText("}");
}

static void WriteJsonValues(const char *name, const RawValue *values)
{
    WriteFormatted("      \"%s\": ", name);
    if (values == NULL) {
        WriteText("null,\n");
        return;
    }
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        WriteFormatted("%s\"%s\": ", i == 0 ? "{" : ",\n        ", g_storedValueNames[i]);
        WriteJsonValue(&values[i]);
    }
    WriteText("},\n");
}

// value: one of the engine's fields, in the ANSI code page.
static void WriteJsonSetting(const char *name, const char *value, int source)
{
    char shown[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
    AnsiToUtf8(value, shown, COUNTOF(shown));
    WriteFormatted("      \"%s\": {\"value\": ", name);
    WriteJsonString(shown);
    WriteFormatted(", \"source\": \"%s\"},\n", SourceName(source));
}

static void WriteJsonPrinter(const PrinterReport *report)
{
    WriteText("    {\n      \"printer\": ");
    if (report->hasPrinter)
        WriteJsonString(report->printer);
    else
        WriteText("null");
    WriteText(",\n      \"driver\": ");
    WriteJsonString(report->driver);
    WriteText(",\n      \"port\": ");
    WriteJsonString(report->port);
    WriteFormatted(",\n      \"status\": \"%s\",\n      \"reason\": ",
                   STATUS_NAMES[report->status]);
    WriteJsonString(report->reason);
    WriteText(",\n");
    WriteJsonSetting("address", report->fields.address, report->sources.address);
    // SNMPv3 sends no community: none is reported as used.
    if (report->security.version == 3) {
        WriteText("      \"community\": null,\n      \"security\": {\"version\": 3, \"level\": ");
        WriteJsonString(SecurityLevelName(&report->security));
        WriteText(", \"user\": ");
        WriteJsonString(report->security.user);
        WriteFormatted(", \"auth\": \"%s\", \"priv\": \"%s\"},\n",
                       AuthProtocolName(report->security.authProtocol),
                       PrivProtocolName(report->security.privProtocol));
    } else {
        WriteJsonSetting("community", report->fields.community, report->sources.community);
        WriteText("      \"security\": {\"version\": 1},\n");
    }
    WriteJsonSetting("timeout", report->fields.timeoutText, report->sources.timeout);
    WriteFormatted("      \"asked\": %s,\n      \"store\": \"%s\",\n      \"written\": %s,\n",
                   report->asked ? "true" : "false", STORE_NAMES[report->storeOutcome],
                   report->written ? "true" : "false");
    WriteText("      \"warnings\": [");
    if (report->noOptionAnywhere)
        WriteJsonString("the printer answers, but has nothing under any of the four options' "
                        "OIDs: the query map may not be the one for this model");
    WriteText("],\n      \"resolvedAddress\": ");
    if (report->resolved[0] != '\0')
        WriteJsonString(report->resolved);
    else
        WriteText("null");
    WriteText(",\n");
    WriteJsonValues("stored", report->haveStored ? report->stored : NULL);
    WriteJsonValues("detected", report->haveStored ? report->detected : NULL);
    WriteText("      \"changes\": ");
    if (report->haveStored && report->asked) {
        for (int i = 0; i < STORED_VALUE_COUNT; i++) {
            WriteFormatted("%s\"%s\": \"%s\"", i == 0 ? "{" : ", ", g_storedValueNames[i],
                           CHANGE_NAMES[report->changes[i]]);
        }
        WriteText("},\n");
    } else {
        WriteText("null,\n");
    }
    WriteText("      \"sysDescr\": ");
    if (report->asked)
        WriteJsonWalk(&report->sysDescr, 1, report->security.version);
    else
        WriteText("null");
    WriteText(",\n      \"options\": [");
    for (int option = 0; report->asked && option < FEATURE_OPTION_COUNT; option++) {
        WriteText(option > 0 ? ",\n        " : "\n        ");
        WriteFormatted("{\"option\": \"%s\", \"valueName\": \"%s\", \"walk\": ",
                       g_featureOptions[option].optionName, g_featureOptions[option].valueName);
        WriteJsonWalk(&report->options[option], 0, report->security.version);
        WriteText("}");
    }
    WriteFormatted("],\n      \"milliseconds\": %lu\n    }",
                   (unsigned long)report->milliseconds);
}

void WriteJsonDocument(const PrinterReport *reports, int count, int detected, int failed,
                       int skipped, DWORD milliseconds, int exitCode)
{
    WriteText("{\n  \"utc\": ");
    WriteJsonString(s_runTime);
    WriteText(",\n  \"computer\": ");
    WriteJsonString(s_computer);
    WriteText(",\n  \"version\": ");
    WriteJsonString(VR_VERSION_TEXT);
    WriteText(",\n  \"queryMap\": ");
    WriteJsonString(s_queryMapPath);
    WriteText(",\n  \"printers\": [\n");
    for (int i = 0; i < count; i++) {
        WriteJsonPrinter(&reports[i]);
        WriteText(i + 1 < count ? ",\n" : "\n");
    }
    WriteFormatted("  ],\n  \"summary\": {\"detected\": %d, \"failed\": %d, \"skipped\": %d, "
                   "\"milliseconds\": %lu},\n  \"exitCode\": %d\n}\n",
                   detected, failed, skipped, (unsigned long)milliseconds, exitCode);
    FlushOutput();
}

// ---- --log -----------------------------------------------------------------

// What changed (or, without --write, would change), as "NAME old -> new".
static void DescribeChanges(const PrinterReport *report, char *words, size_t wordsSize)
{
    char before[VALUE_WORDS_SIZE], after[VALUE_WORDS_SIZE];
    words[0] = '\0';
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        int change = report->changes[i];
        if (change != CHANGE_CHANGED && change != CHANGE_WOULD_CHANGE && change != CHANGE_NOT_STORED)
            continue;
        DescribeValue(&report->stored[i], before, COUNTOF(before));
        DescribeValue(&report->detected[i], after, COUNTOF(after));
        if (words[0] != '\0')
            AppendText(words, wordsSize, "; ");
        AppendText(words, wordsSize, g_storedValueNames[i]);
        AppendText(words, wordsSize, " ");
        AppendText(words, wordsSize, before);
        AppendText(words, wordsSize, " -> ");
        AppendText(words, wordsSize, after);
        if (change != CHANGE_CHANGED) {
            AppendText(words, wordsSize, " (");
            AppendText(words, wordsSize, CHANGE_NAMES[change]);
            AppendText(words, wordsSize, ")");
        }
    }
    if (words[0] == '\0')
        CopyText(words, wordsSize, "no change");
}

int AppendLogLine(const char *path, const PrinterReport *report, char *error, size_t errorSize)
{
    char line[LOG_LINE_SIZE], changes[LOG_LINE_SIZE / 2];
    DWORD written = 0;
    DescribeChanges(report, changes, COUNTOF(changes));
    // Tabs between the fields: a printer name holds none.
    FormatText(line, COUNTOF(line), "%s\t%s\t%s\t%s%s%s%s%s\t%s\r\n", s_runTime, s_computer,
               report->hasPrinter ? report->printer : report->fields.address,
               STATUS_NAMES[report->status],
               report->storeOutcome != STORE_NOT_ASKED ? ", " : "",
               report->storeOutcome != STORE_NOT_ASKED ? STORE_NAMES[report->storeOutcome] : "",
               report->reason[0] != '\0' ? ": " : "", report->reason, changes);
    // Appends land whole at the end even when another run appends too: one
    // write per line, through a handle that may only append.
    WCHAR widePath[PATH_TEXT_SIZE];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (Utf8ToWide(path, widePath, COUNTOF(widePath)))
        file = CreateFileW(widePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        FormatText(error, errorSize, "--log: \"%s\" cannot be opened to append (error %lu)",
                   path, GetLastError());
        return 0;
    }
    DWORD length = (DWORD)strlen(line);
    int ok = WriteFile(file, line, length, &written, NULL) && written == length;
    if (!ok)
        FormatText(error, errorSize, "--log: the line for \"%s\" could not be appended to "
                   "\"%s\" (error %lu)", report->printer, path, GetLastError());
    CloseHandle(file);
    return ok;
}
