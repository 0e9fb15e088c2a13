// --event-log: the run reported to the Application log under the source
// VRAutoDetect, where monitoring tools and event forwarding already look:
// one event per printer failed, kept, skipped or changed, and one for the
// run whose ID is 1000 + its exit code. The texts are the program's message
// table (resources/events.mc); the details travel as insert strings, in the
// --log line's words, never with the community's value.
#include "console/console.h"
#include "console/report.h"
#include "common/text.h"

#include "events.h"

#include <string.h>

enum {
    INSERT_COUNT = 5,
    // The longest insert: what changed, as the --log line tells it.
    INSERT_SIZE = 4096,
    ASKED_SIZE = CONSOLE_NAME_SIZE + 64
};

const DWORD g_eventMessageIds[] = {
    MSG_RUN_DETECTED, MSG_RUN_NOT_DETECTED, MSG_RUN_NOTHING_ASKED, MSG_PRINTER_NOT_DETECTED,
    MSG_PRINTER_NOT_STORED, MSG_PRINTER_SKIPPED, MSG_PRINTER_CHANGED
};
const int g_eventMessageIdCount = (int)COUNTOF(g_eventMessageIds);

static HANDLE s_source;         // NULL: not asked for, or not to be had
static int s_failureSaid;       // the log's trouble is said once per run
static int s_counts[3];         // PrinterStatus
static char s_asked[ASKED_SIZE];
static WCHAR s_inserts[INSERT_COUNT][INSERT_SIZE];

static void SayFailureOnce(const char *what)
{
    char text[LONG_TEXT_SIZE];
    if (s_failureSaid)
        return;
    s_failureSaid = 1;
    FormatText(text, COUNTOF(text), "VRAutoDetect: --event-log: %s (error %lu); the run goes "
               "on and its outcome is unchanged\n", what, GetLastError());
    WriteErrorText(text);
}

// One event with these texts (UTF-8) as its inserts.
static void ReportEvent(WORD type, DWORD id, const char *const texts[INSERT_COUNT])
{
    const WCHAR *inserts[INSERT_COUNT];
    for (int i = 0; i < INSERT_COUNT; i++) {
        // Each text fits its insert (INSERT_SIZE bytes at most); empty if not.
        if (!Utf8ToWide(texts[i], s_inserts[i], INSERT_SIZE))
            s_inserts[i][0] = L'\0';
        inserts[i] = s_inserts[i];
    }
    if (!ReportEventW(s_source, type, 0, id, NULL, INSERT_COUNT, 0, inserts, NULL))
        SayFailureOnce("an event could not be written to the Application log");
}

void OpenRunEventLog(const ConsoleOptions *options)
{
    if (!options->eventLog || options->child)
        return;
    // What the run asked, as the events name it.
    if (options->mode == MODE_ALL && options->hasDriver)
        FormatText(s_asked, COUNTOF(s_asked), "--all --driver \"%s\"", options->driver);
    else if (options->mode == MODE_ALL)
        CopyText(s_asked, COUNTOF(s_asked), "--all");
    else if (options->mode == MODE_PRINTER)
        FormatText(s_asked, COUNTOF(s_asked), "--printer \"%s\"", options->printer);
    else
        FormatText(s_asked, COUNTOF(s_asked), "--address %s", options->address);
    if (options->write)
        AppendText(s_asked, COUNTOF(s_asked), " --write");
    // Works for a source that is not registered too (a copied program):
    // the events are written, Event Viewer then lacks their texts.
    s_source = RegisterEventSourceW(NULL, L"VRAutoDetect");
    if (s_source == NULL)
        SayFailureOnce("the event source VRAutoDetect cannot be registered");
}

void ReportPrinterEvent(const PrinterReport *report)
{
    char outcome[64], changes[INSERT_SIZE];
    WORD type = EVENTLOG_WARNING_TYPE;
    DWORD id;
    if (report->status >= 0 && report->status < (int)COUNTOF(s_counts))
        s_counts[report->status]++;
    if (s_source == NULL)
        return;
    if (report->status == PRINTER_SKIPPED) {
        id = MSG_PRINTER_SKIPPED;
    } else if (report->status == PRINTER_FAILED && report->storeOutcome == STORE_FAILED) {
        id = MSG_PRINTER_NOT_STORED;
    } else if (report->status == PRINTER_FAILED) {
        id = MSG_PRINTER_NOT_DETECTED;
    } else if (report->storeOutcome == STORE_WRITTEN) {
        id = MSG_PRINTER_CHANGED;
        type = EVENTLOG_INFORMATION_TYPE;
    } else {
        return;     // detected, and nothing changed: nothing to watch
    }
    // The outcome and what changed in the --log line's words.
    FormatText(outcome, COUNTOF(outcome), "%s%s%s", STATUS_NAMES[report->status],
               report->storeOutcome != STORE_NOT_ASKED ? ", " : "",
               report->storeOutcome != STORE_NOT_ASKED ? STORE_NAMES[report->storeOutcome] : "");
    DescribeChanges(report, changes, COUNTOF(changes));
    const char *texts[INSERT_COUNT] = {
        report->hasPrinter ? report->printer : report->fields.address, outcome, report->reason,
        changes, s_asked};
    ReportEvent(type, id, texts);
}

void ReportRunEvent(int exitCode, const char *reason)
{
    static const char PREFIX[] = "VRAutoDetect: ";
    char counts[3][16], why[LONG_TEXT_SIZE];
    WORD type;
    DWORD id;
    // Once: the source is closed after the run's event.
    if (s_source == NULL)
        return;
    // The line said on standard error serves as it is: the event names its
    // source already, and ends its own lines.
    if (reason != NULL && strncmp(reason, PREFIX, COUNTOF(PREFIX) - 1) == 0)
        reason += COUNTOF(PREFIX) - 1;
    CopyText(why, COUNTOF(why), reason != NULL ? reason : "");
    size_t length = strlen(why);
    while (length > 0 && (why[length - 1] == '\n' || why[length - 1] == '\r'))
        why[--length] = '\0';
    reason = why;
    switch (exitCode) {
    case EXIT_ALL_DETECTED:
        type = EVENTLOG_INFORMATION_TYPE;
        id = MSG_RUN_DETECTED;
        break;
    case EXIT_NOT_DETECTED:
        type = EVENTLOG_WARNING_TYPE;
        id = MSG_RUN_NOT_DETECTED;
        if (reason[0] == '\0')
            reason = "Each printer not detected, not stored or skipped has an event of its own.";
        break;
    case EXIT_NOTHING_ASKED:
        type = EVENTLOG_ERROR_TYPE;
        id = MSG_RUN_NOTHING_ASKED;
        break;
    default:
        id = 0;     // a usage error: no run
        type = 0;
        break;
    }
    for (int i = 0; i < 3; i++)
        FormatText(counts[i], COUNTOF(counts[i]), "%d", s_counts[i]);
    const char *texts[INSERT_COUNT] = {s_asked, counts[PRINTER_DETECTED], counts[PRINTER_FAILED],
                                       counts[PRINTER_SKIPPED], reason};
    if (id != 0)
        ReportEvent(type, id, texts);
    if (!DeregisterEventSource(s_source))
        SayFailureOnce("the event source could not be closed");
    s_source = NULL;
}
