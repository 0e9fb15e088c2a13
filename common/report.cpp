// The reporter of the program's messages: a modal message box unless a
// program has installed a reporter of its own.
#include "common/report.h"

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
