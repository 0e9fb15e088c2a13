// The two forms of the report: a table for a person (one line per walk with
// its outcome in words, the messages that came with it indented beneath),
// and one JSON document for scripts (ASCII, every other character escaped).
#include "console/console.h"
#include "common/text.h"
#include "snmp/snmp_engine.h"

#include <stdarg.h>

#include <string.h>

enum {
    WORDS_SIZE = 1024,
    WIDE_TEXT_SIZE = LONG_TEXT_SIZE,    // the longest text: a reason or a diagnostic
    JSON_PIECE_SIZE = 256
};

static const char *const SOURCE_NAMES[] = {"default", "cluster keys", "port monitor",
                                           "stored settings", "command line"};
static const char *const STATUS_NAMES[] = {"detected", "failed", "skipped"};

void WriteText(const char *text)
{
    WriteOutputText(text);
}

static void WriteFormatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
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
    char shown[SNMP_VALUE_SIZE];
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
        WriteFormatted("  [%d exchange%s, %s]", walk->exchanges, walk->exchanges == 1 ? "" : "s",
                       duration);
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
    }
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
    if (report->written)
        WriteFormatted("; stored as OK in the dialog does (QV_AutoCfgSuccess = %d)%s\n",
                       report->chainOutcome, report->security.version == 3
                                                 ? ", the stored community kept" : "");
    else if (report->asked && !report->writeAsked)
        WriteText("; nothing written (--write stores)\n");
    else
        WriteText("; nothing written\n");
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
    WriteFormatted("      \"asked\": %s,\n      \"written\": %s,\n",
                   report->asked ? "true" : "false", report->written ? "true" : "false");
    if (report->written)
        WriteFormatted("      \"successFlag\": %d,\n", report->chainOutcome);
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
    WriteText("{\n  \"printers\": [\n");
    for (int i = 0; i < count; i++) {
        WriteJsonPrinter(&reports[i]);
        WriteText(i + 1 < count ? ",\n" : "\n");
    }
    WriteFormatted("  ],\n  \"summary\": {\"detected\": %d, \"failed\": %d, \"skipped\": %d, "
                   "\"milliseconds\": %lu},\n  \"exitCode\": %d\n}\n",
                   detected, failed, skipped, (unsigned long)milliseconds, exitCode);
    FlushOutput();
}
