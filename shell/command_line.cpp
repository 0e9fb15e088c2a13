// The printer name taken from the command line.
#include "shell/shell.h"
#include "common/text.h"

#include <string.h>

// The command line is expected as: program path, space, "printer name".
// The name runs from after the first space-and-quote pair to the end of the
// line, less its last character (normally the closing quote).
int ParseCommandLine(const char *commandLine)
{
    if (commandLine == NULL)
        return 0;
    const char *pair = strstr(commandLine, " \"");
    if (pair == NULL)
        return 0;
    const char *name = pair + 2;
    size_t length = strlen(name);
    if (length > 0)
        length--;
    CopyTextN(g_printerName, COUNTOF(g_printerName), name, length);
    return 1;
}
