// The help launcher with help files of our own (tests/help, compiled by
// chmcmd) in the display prefix's driver directory: the file of the user's
// language, the English one when it is missing, nothing and no message when
// both are; the dialog open and usable after each press. The viewer's title
// (the help project's Title) tells the files apart, and the paths handed to
// the viewer show the page asked for. The viewer stays in the process and
// keeps its file, so each test runs in a process of its own, one per row of
// the languages' table in tests/CMakeLists.txt (VR_HELP_FILE, the language's
// file; VR_HELP_LANGUAGE, the word in its test file's title).
#include "shell/help.h"
#include "shell/shell.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char ENGLISH_FILE[] = "VRPHlp.chm";
const char ENGLISH_TITLE[] = "Test help English";
const char TOPIC[] = "::/Properties-ExtendedConfiguration.htm";

// Taken before any test runs: the viewer's library must not be loaded with
// the program, only when Help is pressed.
const bool g_helpLibraryAtStart = GetModuleHandleA("hhctrl.ocx") != NULL;

std::string SystemDirectory()
{
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    return system;
}

std::string DriverDirectory()
{
    return SystemDirectory() + "\\spool\\drivers\\x64\\3\\";
}

BOOL CALLBACK CollectViewer(HWND window, LPARAM param)
{
    DWORD process = 0;
    char cls[64];
    GetWindowThreadProcessId(window, &process);
    GetClassNameA(window, cls, sizeof(cls));
    if (process == GetCurrentProcessId() && lstrcmpA(cls, "HH Parent") == 0)
        ((std::vector<HWND> *)param)->push_back(window);
    return TRUE;
}

// The help viewers this process has open.
std::vector<HWND> Viewers()
{
    std::vector<HWND> viewers;
    EnumWindows(CollectViewer, (LPARAM)&viewers);
    return viewers;
}

void PumpMessages(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

std::string Environment(const char *name)
{
    const char *value = getenv(name);
    return value ? value : "";
}

// Every path Help hands the viewer: the start of the viewer library's
// HtmlHelpA is overwritten with a jump to RecordHtmlHelp, which records the
// path and calls the original with its first bytes put back.
typedef HWND(WINAPI *HtmlHelpProc)(HWND, LPCSTR, UINT, DWORD_PTR);
std::vector<std::string> g_viewerPaths;
BYTE *g_htmlHelpEntry;
BYTE g_htmlHelpStart[12];

void WriteEntry(const BYTE *bytes)
{
    DWORD old = 0;
    VirtualProtect(g_htmlHelpEntry, sizeof(g_htmlHelpStart), PAGE_EXECUTE_READWRITE, &old);
    memcpy(g_htmlHelpEntry, bytes, sizeof(g_htmlHelpStart));
    VirtualProtect(g_htmlHelpEntry, sizeof(g_htmlHelpStart), old, &old);
    FlushInstructionCache(GetCurrentProcess(), g_htmlHelpEntry, sizeof(g_htmlHelpStart));
}

HWND WINAPI RecordHtmlHelp(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

void JumpToRecorder()
{
    // mov rax, RecordHtmlHelp; jmp rax
    BYTE jump[sizeof(g_htmlHelpStart)] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};
    void *target = (void *)RecordHtmlHelp;
    memcpy(jump + 2, &target, sizeof(target));
    WriteEntry(jump);
}

HWND WINAPI RecordHtmlHelp(HWND caller, LPCSTR file, UINT command, DWORD_PTR data)
{
    g_viewerPaths.push_back(file != NULL ? file : "(null)");
    WriteEntry(g_htmlHelpStart);
    HWND viewer = ((HtmlHelpProc)(void *)g_htmlHelpEntry)(caller, file, command, data);
    JumpToRecorder();
    return viewer;
}

// The viewer library of the system directory, the one Help loads.
void RecordViewerPaths()
{
    HMODULE library = LoadLibraryA((SystemDirectory() + "\\hhctrl.ocx").c_str());
    ASSERT_NE(nullptr, library) << "no viewer library";
    g_htmlHelpEntry = (BYTE *)(void *)GetProcAddress(library, "HtmlHelpA");
    ASSERT_NE(nullptr, g_htmlHelpEntry);
    memcpy(g_htmlHelpStart, g_htmlHelpEntry, sizeof(g_htmlHelpStart));
    JumpToRecorder();
}

class Help : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        for (const std::string &file : {std::string(ENGLISH_FILE), Environment("VR_HELP_FILE")})
            if (GetFileAttributesA(Built(file).c_str()) == INVALID_FILE_ATTRIBUTES)
                GTEST_SKIP() << Built(file) << " was not compiled (chmcmd, package fp-utils)";
        // A viewer keeps its file open until its process ends: a file of
        // an earlier test is removed only now.
        RemoveHelpFiles();
        std::string dir = SystemDirectory();
        for (const char *part : {"\\spool", "\\drivers", "\\x64", "\\3"})
            CreateDirectoryA((dir += part).c_str(), NULL);
        dialog = CreateConfigTemplateDialog();
        ASSERT_NE(nullptr, dialog);
        ShowWindow(dialog, SW_SHOW);
    }
    void TearDown() override
    {
        RemoveHelpFiles();
        if (dialog != NULL)
            DestroyWindow(dialog);
    }
    // The .chm files in a directory.
    static std::vector<std::string> HelpFilesIn(const std::string &directory)
    {
        std::vector<std::string> files;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((directory + "*.chm").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return files;
        do
            files.push_back(found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
        return files;
    }
    static void RemoveHelpFiles()
    {
        for (const std::string &file : HelpFilesIn(DriverDirectory()))
            DeleteFileA((DriverDirectory() + file).c_str());
    }
    static std::string Built(const std::string &file)
    {
        return WindowsPath(HELP_FILES_DIR) + "\\" + file;
    }
    void Place(const std::string &file)
    {
        ASSERT_TRUE(CopyFileA(Built(file).c_str(), (DriverDirectory() + file).c_str(), FALSE))
            << file << ": error " << GetLastError();
    }
    // Every test help file of the table but this one.
    void PlaceAllBut(const std::string &left)
    {
        for (const std::string &file : HelpFilesIn(WindowsPath(HELP_FILES_DIR) + "\\"))
            if (lstrcmpiA(file.c_str(), left.c_str()) != 0)
                Place(file);
    }
    // Presses Help twice; each press must leave the dialog open and usable
    // and show no message. Returns the titles of the viewers then open.
    std::vector<std::string> PressHelp()
    {
        for (int press = 0; press < 2; press++) {
            ShowHelp(dialog);
            PumpMessages(300);
            EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog) && IsWindowEnabled(dialog));
            SetDlgItemTextA(dialog, IDC_ADDRESS, "after help");
            char text[64] = "";
            GetDlgItemTextA(dialog, IDC_ADDRESS, text, sizeof(text));
            EXPECT_STREQ("after help", text) << "press " << press + 1;
        }
        EXPECT_EQ(0u, boxes.Count());
        std::vector<std::string> titles;
        for (HWND viewer : Viewers()) {
            char title[256] = "";
            GetWindowTextA(viewer, title, sizeof(title));
            titles.push_back(title);
        }
        return titles;
    }

    // Presses Help; the language's file must be asked for first, and what
    // opened must be the file of this title, at the page, by this path.
    void ExpectViewersOf(const std::string &title, const std::string &file)
    {
        RecordViewerPaths();
        std::vector<std::string> titles = PressHelp();
        ASSERT_FALSE(titles.empty()) << "no help viewer opened";
        for (const std::string &t : titles)
            EXPECT_EQ(title, t);
        ASSERT_FALSE(g_viewerPaths.empty());
        EXPECT_EQ(DriverDirectory() + Environment("VR_HELP_FILE") + TOPIC, g_viewerPaths.front());
        EXPECT_EQ(DriverDirectory() + file + TOPIC, g_viewerPaths.back());
    }

    HWND dialog = NULL;
    BoxRecorder boxes;
};

typedef Help HelpEnglish;
typedef Help HelpByLanguage;
typedef Help HelpWithoutViewer;

}  // namespace

TEST_F(HelpEnglish, ViewerLibraryIsLoadedOnlyWhenHelpIsPressed)
{
    EXPECT_FALSE(g_helpLibraryAtStart);
    ShowHelp(dialog);
    EXPECT_NE(nullptr, GetModuleHandleA("hhctrl.ocx"));
}

TEST_F(HelpEnglish, BothFilesMissingShowNothing)
{
    EXPECT_EQ(std::vector<std::string>{}, PressHelp());
}

TEST_F(HelpByLanguage, OpensTheFileOfTheUserLanguage)
{
    PlaceAllBut("");
    ExpectViewersOf("Test help " + Environment("VR_HELP_LANGUAGE"), Environment("VR_HELP_FILE"));
}

TEST_F(HelpByLanguage, OpensTheEnglishFileWhenItsOwnIsMissing)
{
    PlaceAllBut(Environment("VR_HELP_FILE"));
    ExpectViewersOf(ENGLISH_TITLE, ENGLISH_FILE);
}

// Run with the viewer's library disabled (tests/CMakeLists.txt).
TEST_F(HelpWithoutViewer, ShowsNothingAndTheProgramGoesOn)
{
    Place(ENGLISH_FILE);
    EXPECT_EQ(std::vector<std::string>{}, PressHelp());
    EXPECT_EQ(nullptr, GetModuleHandleA("hhctrl.ocx"));
}
