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
    FormatText(line, COUNTOF(line), "%s\t%s\t%s\t%s%s%s%s%s\t%s\r\n", g_runTime, g_runComputer,
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
