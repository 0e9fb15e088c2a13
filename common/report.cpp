// The reporter of the program's messages: a modal message box unless a
// program has installed a reporter of its own.
#include "common/report.h"

#include <string.h>

static void ShowMessageBox(int kind, HWND owner, const char *text, const char *caption,
                           UINT style)
{
    MessageBoxA(owner, text, caption, style);
}

static MessageReporter s_reporter = ShowMessageBox;

void ReportMessage(int kind, HWND owner, const char *text, const char *caption, UINT style)
{
    s_reporter(kind, owner, text, caption, style);
}

MessageReporter SetMessageReporter(MessageReporter reporter)
{
    MessageReporter previous = s_reporter;
    s_reporter = reporter != NULL ? reporter : ShowMessageBox;
    return previous;
}

size_t DescribeSystemError(DWORD error, char *text, size_t textSize)
{
    text[0] = '\0';
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, (DWORD)textSize, NULL);
    if (length == 0) {
        text[0] = '\0';
        return 0;
    }
    text[textSize - 1] = '\0';
    size_t end = strlen(text);
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' '))
        text[--end] = '\0';
    return end;
}
