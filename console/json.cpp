// The report for scripts: one JSON document, ASCII only (every other
// character escaped), so that it reads the same under any decoding.
#include "console/console.h"
#include "console/report.h"
#include "common/text.h"
#include "version.h"

#include <string.h>

enum {
    WIDE_TEXT_SIZE = LONG_TEXT_SIZE,    // the longest text: a reason or a diagnostic
    JSON_PIECE_SIZE = 256
};

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
    WriteFormatted(", \"errorStatus\": %d, \"exchanges\": %d, \"attempts\": %d, "
                   "\"milliseconds\": %lu, \"values\": [",
                   walk->errorStatus, walk->exchanges, WalkAttempts(walk),
                   (unsigned long)walk->milliseconds);
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
static void WriteJsonValue(int index, const RawValue *value)
{
    DWORD count = value->byteCount < (DWORD)STORED_VALUE_BYTES ? value->byteCount
                                                            : (DWORD)STORED_VALUE_BYTES;
    char shown[SHOWN_TEXT_SIZE] = "";
    DWORD at = 0;
    if (!value->present) {
        WriteText("null");
        return;
    }
    // The stored community: whether it holds one, never its text.
    if (index == VALUE_COMMUNITY) {
        WriteFormatted("{\"type\": \"%s\", \"set\": %s}", TypeName(value->type),
                       value->byteCount > 0 && value->bytes[0] != 0 ? "true" : "false");
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
        WriteJsonValue(i, &values[i]);
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

// Never the community itself: whether one is set, where it came from, and
// whether it differs from the printer's stored one (null for an address).
static void WriteJsonCommunity(const PrinterReport *report)
{
    CommunityFacts facts;
    TakeCommunityFacts(report, &facts);
    WriteFormatted("      \"community\": {\"set\": %s, \"source\": \"%s\", \"changed\": %s},\n",
                   facts.set ? "true" : "false", SourceName(facts.source),
                   facts.changed < 0 ? "null" : facts.changed ? "true" : "false");
}

// A v3 printer's engine: its id and whether it was known, new or refused;
// null while no authentic answer confirmed one.
static void WriteJsonEngine(const PrinterReport *report)
{
    static const char *const STATES[] = {"", "known", "new", "refused"};
    if (report->engineState <= ENGINE_NONE || report->engineState > ENGINE_REFUSED) {
        WriteText("      \"engine\": null,\n");
        return;
    }
    WriteText("      \"engine\": {\"id\": ");
    WriteJsonString(report->engineId);
    WriteText(", \"address\": ");
    WriteJsonString(report->engineAddress);
    WriteFormatted(", \"state\": \"%s\", \"since\": ", STATES[report->engineState]);
    if (report->engineSince[0] != '\0')
        WriteJsonString(report->engineSince);
    else
        WriteText("null");
    WriteText("},\n");
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
        WriteJsonCommunity(report);
        WriteFormatted("      \"security\": {\"version\": %d},\n", report->security.version);
    }
    // The seconds each request waits, as the run used them (a number).
    // null before the printer's settings were read.
    if (report->fields.timeoutSeconds > 0)
        WriteFormatted("      \"timeout\": {\"value\": %d, \"source\": \"%s\"},\n",
                       report->fields.timeoutSeconds, SourceName(report->sources.timeout));
    else
        WriteFormatted("      \"timeout\": {\"value\": null, \"source\": \"%s\"},\n",
                       SourceName(report->sources.timeout));
    WriteJsonEngine(report);
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
    // Always an object: empty for a printer not asked or without values.
    WriteText("      \"changes\": {");
    for (int i = 0; report->haveStored && report->asked && i < STORED_VALUE_COUNT; i++) {
        WriteFormatted("%s\"%s\": \"%s\"", i == 0 ? "" : ", ", g_storedValueNames[i],
                       CHANGE_NAMES[report->changes[i]]);
    }
    WriteText("},\n");
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
    WriteJsonString(g_runTime);
    WriteText(",\n  \"computer\": ");
    WriteJsonString(g_runComputer);
    WriteText(",\n  \"version\": ");
    WriteJsonString(VR_VERSION_TEXT);
    WriteText(",\n  \"queryMap\": ");
    WriteJsonString(g_runQueryMap);
    WriteText(",\n  \"printers\": [\n");
    for (int i = 0; i < count; i++) {
        WriteJsonPrinter(&reports[i]);
        WriteText(i + 1 < count ? ",\n" : "\n");
    }
    // What the run was asked to do, and whether anything was asked.
    WriteFormatted("  ],\n  \"write\": %s,\n  \"driver\": ", g_runWrite ? "true" : "false");
    if (g_runDriver[0] != '\0')
        WriteJsonString(g_runDriver);
    else
        WriteText("null");
    WriteFormatted(",\n  \"jobs\": %d,\n  \"nothingAsked\": ", g_runJobs);
    if (g_runNothingAsked[0] != '\0') {
        WriteText("{\"for\": ");
        WriteJsonString(g_runTarget);
        WriteText(", \"reason\": ");
        WriteJsonString(g_runNothingAsked);
        WriteText("}");
    } else {
        WriteText("null");
    }
    WriteFormatted(",\n  \"summary\": {\"detected\": %d, \"failed\": %d, \"skipped\": %d, "
                   "\"milliseconds\": %lu},\n  \"exitCode\": %d\n}\n",
                   detected, failed, skipped, (unsigned long)milliseconds, exitCode);
    FlushOutput();
}
