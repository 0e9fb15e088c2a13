// --log: one line per printer appended to the history, fields separated by
// tabs, each line in one append.
#include "console/console.h"
#include "console/report.h"
#include "common/text.h"

#include <string.h>

enum { LOG_LINE_SIZE = 8192 };

// What changed (or, without --write, would change), as "NAME old -> new".
void DescribeChanges(const PrinterReport *report, char *words, size_t wordsSize)
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
        // The community's change is told, never the community.
        if (i != VALUE_COMMUNITY) {
            AppendText(words, wordsSize, " ");
            AppendText(words, wordsSize, before);
            AppendText(words, wordsSize, " -> ");
            AppendText(words, wordsSize, after);
        }
        if (change != CHANGE_CHANGED) {
            AppendText(words, wordsSize, " (");
            AppendText(words, wordsSize, CHANGE_NAMES[change]);
            AppendText(words, wordsSize, ")");
        }
    }
    if (words[0] == '\0')
        CopyText(words, wordsSize, "no change");
}

// One line appended whole; 0 with error naming what it was for.
static int AppendLine(const char *path, const char *line, const char *what, char *error,
                      size_t errorSize)
{
    char words[LONG_TEXT_SIZE];
    DWORD written = 0;
    // Appends land whole at the end even when another run appends too: one
    // write per line, through a handle that may only append (made with the
    // administrators' list, or an existing file that passed the checks).
    HANDLE file = OpenAdminLog(path, error, errorSize);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD length = (DWORD)strlen(line);
    int ok = WriteFile(file, line, length, &written, NULL) && written == length;
    if (!ok) {
        DescribeSystemWords(GetLastError(), words, COUNTOF(words));
        FormatText(error, errorSize, "--log: the line for \"%s\" could not be appended to "
                   "\"%s\": %s", what, path, words);
    }
    CloseHandle(file);
    return ok;
}

int AppendNothingAskedLine(const char *path, const char *target, const char *reason,
                           char *error, size_t errorSize)
{
    char line[LOG_LINE_SIZE];
    char name[CONSOLE_NAME_SIZE * ESCAPED_FACTOR], why[REASON_SIZE * ESCAPED_FACTOR];
    EscapeControls(target, name, COUNTOF(name));
    EscapeControls(reason, why, COUNTOF(why));
    FormatText(line, COUNTOF(line), "%s\t%s\t%s\tnothing asked: %s\tno change\r\n", g_runTime,
               g_runComputer, name, why);
    return AppendLine(path, line, name, error, errorSize);
}

int AppendLogLine(const char *path, const PrinterReport *report, char *error, size_t errorSize)
{
    char line[LOG_LINE_SIZE], changes[LOG_LINE_SIZE / 2];
    char name[CONSOLE_NAME_SIZE * ESCAPED_FACTOR], reason[REASON_SIZE * ESCAPED_FACTOR];
    DescribeChanges(report, changes, COUNTOF(changes));
    // Tabs between the fields: a tab or line break in a name or a reason is
    // shown as an escape, as every control character.
    EscapeControls(report->hasPrinter ? report->printer : report->fields.address, name,
                   COUNTOF(name));
    EscapeControls(report->reason, reason, COUNTOF(reason));
    FormatText(line, COUNTOF(line), "%s\t%s\t%s\t%s%s%s%s%s\t%s\r\n", g_runTime, g_runComputer,
               name, STATUS_NAMES[report->status],
               report->storeOutcome != STORE_NOT_ASKED ? ", " : "",
               report->storeOutcome != STORE_NOT_ASKED ? STORE_NAMES[report->storeOutcome] : "",
               report->reason[0] != '\0' ? ": " : "", reason, changes);
    return AppendLine(path, line, name, error, errorSize);
}
