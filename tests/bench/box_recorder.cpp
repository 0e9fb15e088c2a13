// Message-box recorder: a CBT hook on the test's thread reads each box when
// it is activated, then closes it.
#include "tests/bench/bench.h"

#include <stdio.h>

namespace {

BoxRecorder *g_recorder;
const UINT WM_BENCH_CLOSE_BOX = WM_APP + 77;
const int BOX_TEXT_ID = 0xFFFF;
const int BOX_ICON_ID = 0x0440;  // the icon control of the platform's message box

std::string WindowText(HWND window)
{
    char buffer[4096];
    buffer[0] = '\0';
    GetWindowTextA(window, buffer, sizeof(buffer));
    return buffer;
}

std::string IconOf(HWND box)
{
    HWND iconControl = GetDlgItem(box, BOX_ICON_ID);
    if (iconControl == NULL || !(GetWindowLongA(iconControl, GWL_STYLE) & WS_VISIBLE))
        return "none";
    HICON shown = (HICON)SendMessageA(iconControl, STM_GETICON, 0, 0);
    if (shown == NULL)
        return "none";
    if (shown == LoadIconA(NULL, IDI_ERROR))
        return "error";
    if (shown == LoadIconA(NULL, IDI_WARNING))
        return "warning";
    if (shown == LoadIconA(NULL, IDI_INFORMATION))
        return "information";
    if (shown == LoadIconA(NULL, IDI_QUESTION))
        return "question";
    return "other";
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param)
{
    char cls[64];
    GetClassNameA(child, cls, sizeof(cls));
    LONG style = GetWindowLongA(child, GWL_STYLE);
    int kind = style & 0x0F;
    if (lstrcmpiA(cls, "Button") == 0 && (style & WS_VISIBLE) &&
        (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON))
        ((std::vector<int> *)param)->push_back(GetDlgCtrlID(child));
    return TRUE;
}

// The subclass that runs the callback inside the box's modal loop, then
// presses the first button.
WNDPROC g_originalBoxProc;

LRESULT CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_BENCH_CLOSE_BOX && g_recorder != NULL) {
        g_recorder->RunCallbackAndClose(box);
        return 0;
    }
    return CallWindowProcA(g_originalBoxProc, box, message, wParam, lParam);
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && g_recorder != NULL) {
        HWND window = (HWND)wParam;
        char cls[64];
        GetClassNameA(window, cls, sizeof(cls));
        if (lstrcmpA(cls, "#32770") == 0 && GetDlgItem(window, BOX_TEXT_ID) != NULL &&
            GetPropA(window, "bench.recorded") == NULL) {
            SetPropA(window, "bench.recorded", (HANDLE)1);
            g_recorder->Record(window);
            g_originalBoxProc =
                (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)BoxProc);
            PostMessageA(window, WM_BENCH_CLOSE_BOX, 0, 0);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

}  // namespace

BoxRecorder::BoxRecorder()
{
    g_recorder = this;
    hook_ = SetWindowsHookExA(WH_CBT, CbtHook, NULL, GetCurrentThreadId());
}

BoxRecorder::~BoxRecorder()
{
    if (hook_ != NULL)
        UnhookWindowsHookEx(hook_);
    g_recorder = NULL;
}

void BoxRecorder::Record(HWND box)
{
    RecordedBox r;
    r.caption = WindowText(box);
    char text[4096];
    text[0] = '\0';
    GetDlgItemTextA(box, BOX_TEXT_ID, text, sizeof(text));
    r.text = text;
    r.owner = GetWindow(box, GW_OWNER);
    r.ownerEnabled = r.owner != NULL && IsWindowEnabled(r.owner);
    r.icon = IconOf(box);
    EnumChildWindows(box, CollectButton, (LPARAM)&r.buttons);
    boxes_.push_back(r);
}

void BoxRecorder::RunCallbackAndClose(HWND box)
{
    if (whileOpen_ && !boxes_.empty())
        whileOpen_(boxes_.back());
    int button = boxes_.empty() || boxes_.back().buttons.empty() ? IDOK
                                                                 : boxes_.back().buttons[0];
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 (LPARAM)GetDlgItem(box, button));
}

std::string Describe(const RecordedBox &box)
{
    char owner[32];
    snprintf(owner, sizeof(owner), "%p", (void *)box.owner);
    std::string buttons;
    for (int id : box.buttons)
        buttons += std::to_string(id) + " ";
    return "caption \"" + box.caption + "\" text \"" + box.text + "\" owner " + owner +
           " icon " + box.icon + " buttons " + buttons;
}
