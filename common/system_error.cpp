// The system's words for an error, for the messages that name one. Apart
// from the reporter, which the platform-neutral builds take without it.
#include "common/report.h"

#include <string.h>

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
