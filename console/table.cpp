// The report for a person: per printer, one line per walk with its outcome
// in words, the messages that came with it indented beneath, the stored and
// detected values, and the outcome; a summary line at the end.
#include "console/console.h"
#include "console/report.h"
#include "common/text.h"

#include <string.h>

// A diagnostic under its walk; its own line breaks keep the indentation.
static void WriteDiagnostic(const char *text)
{
    WriteText("      ! ");
    for (const char *c = text; *c != '\0'; c++) {
        if (*c == '\r')
            continue;
        char one[2] = {*c, '\0'}, shown[8];
        if (*c == '\n')
            CopyText(shown, COUNTOF(shown), one);
        else
            EscapeControls(one, shown, COUNTOF(shown));
        WriteText(shown);
        if (*c == '\n')
            WriteText("        ");
    }
    WriteText("\n");
}

// A message already shown under an earlier walk of the same printer (a
// silent printer's connection message) is not repeated.
static int ShownBefore(const WalkReport *const *earlier, int count, const char *text)
{
    for (int w = 0; w < count; w++) {
        for (int i = 0; i < earlier[w]->diagnosticCount && i < DIAGNOSTIC_SLOTS; i++) {
            if (strcmp(earlier[w]->diagnostics[i], text) == 0)
                return 1;
        }
    }
    return 0;
}

static void WriteWalkLine(const char *label, const WalkReport *walk, int isSystem, int version,
                          const WalkReport *const *earlier, int earlierCount)
{
    char words[WORDS_SIZE];
    char duration[32];
    DescribeOutcome(walk, isSystem, version, words, COUNTOF(words));
    WriteFormatted("  %-13s %-24s ", label, walk->oidText);
    WriteText(words);
    if (walk->outcome != OUTCOME_NOT_WALKED_CHAIN && walk->outcome != OUTCOME_NOT_WALKED_SILENT &&
        walk->outcome != OUTCOME_NO_MAP && walk->outcome != OUTCOME_NO_ENTRY &&
        walk->outcome != OUTCOME_NOT_WALKED_ENGINE) {
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
    for (int i = 0; i < walk->diagnosticCount && i < DIAGNOSTIC_SLOTS; i++) {
        if (!ShownBefore(earlier, earlierCount, walk->diagnostics[i]))
            WriteDiagnostic(walk->diagnostics[i]);
    }
    if (walk->diagnosticCount > DIAGNOSTIC_SLOTS)
        WriteFormatted("      ! (%d more messages)\n", walk->diagnosticCount - DIAGNOSTIC_SLOTS);
}

// The engine's fields, in the ANSI code page, as the report shows them.
struct ShownFields {
    char address[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
    char timeoutText[TIMEOUT_TEXT_SIZE * UTF8_PER_UNIT];
};
static void ShowFields(const QueryFields *fields, ShownFields *shown)
{
    AnsiToUtf8(fields->address, shown->address, COUNTOF(shown->address));
    AnsiToUtf8(fields->timeoutText, shown->timeoutText, COUNTOF(shown->timeoutText));
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
        DescribeStoredValue(i, &report->stored[i], stored, COUNTOF(stored));
        if (report->detected[i].present)
            DescribeStoredValue(i, &report->detected[i], detected, COUNTOF(detected));
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

// Never the community itself: where it came from, and whether it changed.
static void WriteCommunityLine(const PrinterReport *report)
{
    char words[WORDS_SIZE];
    DescribeCommunity(report, words, COUNTOF(words));
    WriteFormatted("  %-13s %s%s\n", "community", words,
                   report->security.version == 2 ? ", SNMPv2c" : "");
}

// A name or a reason, its control characters shown as escapes.
static void WriteEscaped(const char *text)
{
    char shown[REASON_SIZE * ESCAPED_FACTOR];
    EscapeControls(text, shown, COUNTOF(shown));
    WriteText(shown);
}

// A v3 printer's engine, once authentic answers confirmed one.
static void WriteEngineLine(const PrinterReport *report)
{
    switch (report->engineState) {
    case ENGINE_KNOWN:
        WriteFormatted("  %-13s %s  known since %s\n", "engine", report->engineId,
                       report->engineSince);
        break;
    case ENGINE_NEW:
        if (EngineFileGiven())
            WriteFormatted("  %-13s %s  new: added to %s\n", "engine", report->engineId,
                           EngineFilePath());
        else
            WriteFormatted("  %-13s %s  new (not remembered without --v3-engines)\n", "engine",
                           report->engineId);
        break;
    case ENGINE_REFUSED:
        WriteFormatted("  %-13s %s  refused\n", "engine", report->engineId);
        break;
    default:
        break;
    }
}

void WritePrinterTable(const PrinterReport *report)
{
    ShownFields shown;
    const ShownFields *fields = &shown;
    ShowFields(&report->fields, &shown);
    char duration[32];
    if (report->hasPrinter) {
        WriteText("Printer \"");
        WriteEscaped(report->printer);
        WriteText("\"  (driver \"");
        WriteEscaped(report->driver);
        WriteText("\", port \"");
        WriteEscaped(report->port);
        WriteText("\")\n");
    } else
        WriteFormatted("Address %s  (no printer)\n", fields->address);
    // The settings once they are known: a name that does not resolve is
    // shown with them although nothing was asked.
    if (!report->localPort && (report->asked || report->status == PRINTER_SKIPPED ||
                               report->fields.address[0] != '\0')) {
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
            WriteCommunityLine(report);
        WriteFormatted("  %-13s %-24s from %s\n", "time-out", fields->timeoutText,
                       SourceName(report->sources.timeout));
        WriteEngineLine(report);
    }
    if (report->asked) {
        const WalkReport *walks[1 + FEATURE_OPTION_COUNT];
        walks[0] = &report->sysDescr;
        WriteWalkLine("sysDescr.0", walks[0], 1, report->security.version, walks, 0);
        for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
            walks[option + 1] = &report->options[option];
            WriteWalkLine(g_featureOptions[option].optionName, walks[option + 1], 0,
                          report->security.version, walks, option + 1);
        }
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
        WriteText("  => FAILED (");
        WriteEscaped(report->reason);
        WriteFormatted(") in %s", duration);
        break;
    default:
        WriteText("  => SKIPPED: ");
        WriteEscaped(report->reason);
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
