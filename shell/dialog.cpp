// The configuration dialog's procedure.
#include "shell/shell.h"
#include "printer/printer_data.h"

HWND g_hDialog;

INT_PTR CALLBACK ConfigDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        g_hDialog = window;
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            WriteAutoCfgValue("QV_AutoCfgSuccess", 0);
            EndDialog(window, IDCANCEL);
            return FALSE;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
        }
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}
