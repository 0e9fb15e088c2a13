// Opens dialog 103 from the resources with a procedure that does nothing but
// close it: the dialog as the template alone draws it (placeholder texts,
// the group box, the logo). Used for screenshots.
#include "resources/resource_ids.h"

#include <windows.h>
#include <commctrl.h>

static INT_PTR CALLBACK CloseOnlyProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    InitCommonControls();
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG), NULL, CloseOnlyProc, 0);
    return 0;
}
