// The SNMP query engine's messages. A problem is reported where it happens
// and then passed up as a result; the dialog program shows it as a box.
#include "snmp/error_report.h"
#include "common/base.h"
#include "common/report.h"
#include "common/text.h"

#include <windows.h>
#include <stdarg.h>

void ShowWarning(const char *format, ...)
{
    char text[LONG_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    FormatTextV(text, COUNTOF(text), format, args);
    va_end(args);
    ReportMessage(MESSAGE_ENGINE_WARNING, g_hDialog, text, WARNING_CAPTION, MB_OK);
}

void ShowConnectionError(void)
{
    char caption[LOADED_STRING_SIZE];
    char text[LOADED_STRING_SIZE];
    caption[0] = '\0';
    text[0] = '\0';
    LoadStringA(g_hInstance, IDS_CONNECTION_CAPTION, caption, COUNTOF(caption));
    LoadStringA(g_hInstance, IDS_CONNECTION_TEXT, text, COUNTOF(text));
    // No owner: the box is for the user, and the dialog stays usable behind it.
    ReportMessage(MESSAGE_CONNECTION_ERROR, NULL, text, caption, MB_ICONERROR | MB_OK);
}
