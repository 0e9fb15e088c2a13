// Program start and end: take the printer name, run the dialog, drain the
// message queue until the quit request.
#include "shell/shell.h"

#include <commctrl.h>

int RunProgram(HINSTANCE instance)
{
    g_hInstance = instance;

    const char *commandLine = GetCommandLineA();
    if (commandLine != NULL && !ParseCommandLine(commandLine))
        PostQuitMessage(0);

    InitCommonControls();

    // A dialog that cannot be created (template missing, no resources) would
    // leave no window to post the quit request: end here instead of waiting
    // in the loop below for ever.
    INT_PTR result = DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CONFIG), NULL,
                                     ConfigDialogProc, 0);
    if (result == -1)
        return EXIT_DIALOG_FAILED;

    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, NULL, 0, 0)) != 0) {
        if (got == -1)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return got == -1 ? 0 : (int)msg.wParam;
}
