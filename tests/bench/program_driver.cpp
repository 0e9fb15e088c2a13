// Drives the real program from another process: a copy of it in a scratch
// directory, its dialog found among the top-level windows, fields read and
// set by message, and every message box it opens recorded and answered.
#include "tests/bench/bench.h"

#include <algorithm>
#include <stdio.h>

namespace {

const char PROGRAM_FILE[] = "VRAutoConfig.exe";
const char MAP_FILE[] = "VRUnPQ.xml";
const int BOX_TEXT_ID = 0xFFFF;
const DWORD POLL_MS = 50;
const UINT MESSAGE_TIMEOUT_MS = 5000;

struct WindowSearch {
    DWORD process;
    const char *className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    WindowSearch *search = (WindowSearch *)param;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char cls[64];
    if (process == search->process && GetClassNameA(window, cls, sizeof(cls)) &&
        lstrcmpA(cls, search->className) == 0 && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectPushButton(HWND child, LPARAM param)
{
    char cls[64];
    GetClassNameA(child, cls, sizeof(cls));
    int kind = GetWindowLongA(child, GWL_STYLE) & 0x0F;
    if (lstrcmpiA(cls, "Button") == 0 && (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON))
        ((std::vector<int> *)param)->push_back(GetDlgCtrlID(child));
    return TRUE;
}

}  // namespace

std::string WindowTextByMessage(HWND window)
{
    char text[4096];
    text[0] = '\0';
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), (LPARAM)text, SMTO_NORMAL,
                             MESSAGE_TIMEOUT_MS, &copied))
        return "<no answer to WM_GETTEXT>";
    text[sizeof(text) - 1] = '\0';
    return text;
}

ProgramDriver::ProgramDriver(const char *scratchName, const char *programPath)
{
    directory_ = ProgramDirectory() + scratchName + "\\";
    CreateDirectoryA(directory_.c_str(), NULL);
    copied_ = CopyFileA(WindowsPath(programPath).c_str(), (directory_ + PROGRAM_FILE).c_str(),
                        FALSE) != FALSE;
    memset(&process_, 0, sizeof(process_));
}

ProgramDriver::~ProgramDriver()
{
    if (process_.hProcess != NULL) {
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    DeleteFileA((directory_ + MAP_FILE).c_str());
    DeleteFileA((directory_ + PROGRAM_FILE).c_str());
    RemoveDirectoryA(directory_.c_str());
}

bool ProgramDriver::WriteMap(const std::string &text)
{
    HANDLE file = CreateFileA((directory_ + MAP_FILE).c_str(), GENERIC_WRITE, 0, NULL,
                              CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == text.size();
}

bool ProgramDriver::Start(const char *printer)
{
    if (!copied_)
        return false;
    // The desktop window exists once asked for: the first program started in
    // a fresh display prefix must not race Wine's start of the desktop.
    GetDesktopWindow();
    std::string path = directory_ + PROGRAM_FILE;
    std::string commandLine = "\"" + path + "\" \"" + printer + "\"";
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    return CreateProcessA(path.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL,
                          directory_.c_str(), &startup, &process_) != FALSE;
}

std::vector<HWND> ProgramDriver::Windows(const char *className) const
{
    WindowSearch search = {process_.dwProcessId, className, {}};
    if (process_.hProcess != NULL)
        EnumWindows(CollectWindow, (LPARAM)&search);
    return search.found;
}

HWND ProgramDriver::WaitForDialog(DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += POLL_MS) {
        for (HWND window : Windows("#32770"))
            if (GetDlgItem(window, 1008) != NULL) {
                dialog_ = window;
                // Let the dialog finish its start before it is asked anything.
                Sleep(200);
                return dialog_;
            }
        if (WaitForSingleObject(process_.hProcess, POLL_MS) == WAIT_OBJECT_0)
            break;
    }
    return NULL;
}

std::string ProgramDriver::Field(int id) const
{
    return WindowTextByMessage(GetDlgItem(dialog_, id));
}

bool ProgramDriver::SetField(int id, const std::string &text)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(GetDlgItem(dialog_, id), WM_SETTEXT, 0, (LPARAM)text.c_str(),
                               SMTO_NORMAL, MESSAGE_TIMEOUT_MS, &result) && result;
}

std::string ProgramDriver::Title() const
{
    return WindowTextByMessage(dialog_);
}

HWND ProgramDriver::OpenBox()
{
    for (HWND window : Windows("#32770"))
        if (window != dialog_ && GetDlgItem(window, BOX_TEXT_ID) != NULL)
            return window;
    return NULL;
}

void ProgramDriver::AnswerBox(HWND box)
{
    RecordedBox r;
    char caption[512];
    caption[0] = '\0';
    GetWindowTextA(box, caption, sizeof(caption));
    r.caption = caption;
    r.text = WindowTextByMessage(GetDlgItem(box, BOX_TEXT_ID));
    r.owner = GetWindow(box, GW_OWNER);
    r.ownerEnabled = r.owner != NULL && IsWindowEnabled(r.owner);
    EnumChildWindows(box, CollectPushButton, (LPARAM)&r.buttons);
    boxes_.push_back(r);
    if (whileOpen_)
        whileOpen_(boxes_.back());
    int button = r.buttons.empty() ? IDOK : r.buttons[0];
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 (LPARAM)GetDlgItem(box, button));
    for (int i = 0; i < 100 && IsWindow(box); i++)
        Sleep(POLL_MS);
}

bool ProgramDriver::WaitForEnd(DWORD timeoutMs, DWORD *exitCode)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += POLL_MS) {
        if (WaitForSingleObject(process_.hProcess, POLL_MS) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process_.hProcess, exitCode);
            return true;
        }
        HWND box = OpenBox();
        if (box != NULL)
            AnswerBox(box);
    }
    return false;
}

bool ProgramDriver::Running() const
{
    return process_.hProcess != NULL && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void ProgramDriver::Post(UINT message, WPARAM wParam, LPARAM lParam) const
{
    PostMessageA(dialog_, message, wParam, lParam);
}

void ProgramDriver::PostToControl(int id, UINT message, WPARAM wParam, LPARAM lParam) const
{
    PostMessageA(GetDlgItem(dialog_, id), message, wParam, lParam);
}
