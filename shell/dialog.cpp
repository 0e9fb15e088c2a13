// The configuration dialog: fields filled from the printer's port and the
// stored settings, OK runs the detection chain, Cancel records that it did
// not succeed, Help opens the driver's help, and the logo is painted.
#include "shell/shell.h"
#include "shell/help.h"
#include "shell/system_library.h"
#include "common/text.h"
#include "features/configurators.h"
#include "printer/port_settings.h"
#include "printer/printer_data.h"

// Typing limits: the configurators read 63 characters of the address and the
// community, and 2 of the time-out.
enum {
    ADDRESS_LIMIT = 62,
    COMMUNITY_LIMIT = 62,
    // The first control of this id in template order is the time-out label
    // (the group box, which shares it, keeps its template text).
    UNNAMED_CONTROL_ID = -1,
    THEME_ENABLE_TAB = 6        // ETDT_ENABLETAB
};

typedef HRESULT (WINAPI *EnableThemeDialogTextureProc)(HWND window, DWORD flags);

// Set while OK's chain runs. The chain's message boxes run their own modal
// loops, which dispatch the dialog's messages too; the chain and the SNMP
// engine cannot be entered a second time, so commands arriving meanwhile
// are held back.
static int s_chainRunning;

static void SetControlString(HWND window, int controlId, UINT stringId)
{
    char text[LOADED_STRING_SIZE];
    text[0] = '\0';
    LoadStringA(g_hInstance, stringId, text, (int)COUNTOF(text));
    SetDlgItemTextA(window, controlId, text);
}

// The tab-page texture behind the dialog when visual styles are on; the
// theme library is loaded at run time so that the program starts without it.
static void EnableThemeTexture(HWND window)
{
    HMODULE theme = LoadSystemLibrary("uxtheme.dll");
    if (theme == NULL)
        return;
    EnableThemeDialogTextureProc enable =
        (EnableThemeDialogTextureProc)GetProcAddress(theme, "EnableThemeDialogTexture");
    if (enable != NULL)
        enable(window, THEME_ENABLE_TAB);
    FreeLibrary(theme);
}

void InitConfigDialog(HWND window)
{
    char address[SHORT_TEXT_SIZE];
    char community[SHORT_TEXT_SIZE];
    char timeoutText[TIMEOUT_TEXT_SIZE];

    FillPortSettings(address, community, timeoutText, NULL);

    char title[LOADED_STRING_SIZE];
    title[0] = '\0';
    LoadStringA(g_hInstance, IDS_DIALOG_TITLE, title, (int)COUNTOF(title));
    SetWindowTextA(window, title);
    SetControlString(window, IDC_ADDRESS_LABEL, IDS_ADDRESS_LABEL);
    SetControlString(window, IDC_COMMUNITY_LABEL, IDS_COMMUNITY_LABEL);
    SetControlString(window, UNNAMED_CONTROL_ID, IDS_TIMEOUT_LABEL);
    SetControlString(window, IDC_TIMEOUT_UNIT, IDS_TIMEOUT_UNIT);
    SetControlString(window, IDOK, IDS_OK_BUTTON);
    SetControlString(window, IDCANCEL, IDS_CANCEL_BUTTON);
    SetControlString(window, IDC_HELP_BUTTON, IDS_HELP_BUTTON);

    SendDlgItemMessageA(window, IDC_ADDRESS, EM_LIMITTEXT, ADDRESS_LIMIT, 0);
    SendDlgItemMessageA(window, IDC_COMMUNITY, EM_LIMITTEXT, COMMUNITY_LIMIT, 0);
    SendDlgItemMessageA(window, IDC_TIMEOUT, EM_LIMITTEXT, TIMEOUT_TYPED_MAX, 0);

    SetDlgItemTextA(window, IDC_ADDRESS, address);
    SetDlgItemTextA(window, IDC_COMMUNITY, community);
    SetDlgItemTextA(window, IDC_TIMEOUT, timeoutText);

    EnableThemeTexture(window);
}

// Draws bitmap 130 over the logo control at the control's size; white
// pixels leave what is beneath. Everything obtained here is given back.
static void PaintLogo(HWND window)
{
    PAINTSTRUCT paint;
    HDC paintDc = NULL;
    HWND logo = NULL;
    HDC logoDc = NULL;
    HBITMAP bitmap = NULL;
    HDC memoryDc = NULL;
    HGDIOBJ previous = NULL;
    BITMAP info;
    RECT logoRect;

    paintDc = BeginPaint(window, &paint);
    logo = GetDlgItem(window, IDC_LOGO);
    if (logo != NULL)
        logoDc = GetDC(logo);
    bitmap = LoadBitmapA(g_hInstance, MAKEINTRESOURCEA(IDB_LOGO));
    if (paintDc == NULL || logoDc == NULL || bitmap == NULL)
        goto done;
    memoryDc = CreateCompatibleDC(paintDc);
    if (memoryDc == NULL)
        goto done;
    previous = SelectObject(memoryDc, bitmap);
    if (GetObjectA(bitmap, sizeof(info), &info) != 0 && GetWindowRect(logo, &logoRect))
        StretchBlt(logoDc, 0, 0, logoRect.right - logoRect.left, logoRect.bottom - logoRect.top,
                   memoryDc, 0, 0, info.bmWidth, info.bmHeight, SRCAND);

done:
    if (paintDc != NULL)
        EndPaint(window, &paint);
    if (memoryDc != NULL) {
        if (previous != NULL)
            SelectObject(memoryDc, previous);
        DeleteDC(memoryDc);
    }
    if (bitmap != NULL)
        DeleteObject(bitmap);
    if (logoDc != NULL)
        ReleaseDC(logo, logoDc);
}

// OK: the chain with the fields as they are now, under the wait cursor and
// with every other command held back, then the dialog ends.
static void RunChainAndEnd(HWND window)
{
    QueryFields fields;
    s_chainRunning = 1;
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    ReadQueryFields(window, &fields);
    RunConfigurationChain(window, &fields, NULL, NULL);
    SetCursor(previous);
    s_chainRunning = 0;
    EndDialog(window, IDOK);
}

static INT_PTR OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (s_chainRunning)
        return TRUE;
    switch (LOWORD(wParam)) {
    case IDOK:
        RunChainAndEnd(window);
        return FALSE;
    case IDCANCEL:
        WriteAutoCfgValue(SUCCESS_VALUE_NAME, 0);
        EndDialog(window, IDCANCEL);
        return FALSE;
    case IDC_HELP_BUTTON:
        ShowHelp(window);
        return TRUE;
    default:
        return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    }
}

INT_PTR CALLBACK ConfigDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        g_hDialog = window;
        InitConfigDialog(window);
        return TRUE;
    case WM_PAINT:
        PaintLogo(window);
        return FALSE;
    case WM_SETCURSOR:
        if (!s_chainRunning)
            return FALSE;
        SetCursor(LoadCursor(NULL, IDC_WAIT));
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}
