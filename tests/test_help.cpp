// The help launcher with help files of our own (tests/help, compiled by
// chmcmd) in the display prefix's driver directory: the file of the user's
// language, the English one when it is missing, nothing and no message when
// both are; the dialog open and usable after each press. The viewer's title
// (the help project's Title) tells the files apart. The viewer stays in the
// process and keeps its file, so each test runs in a process of its own
// (tests/CMakeLists.txt).
#include "shell/help.h"
#include "shell/shell.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char ENGLISH_FILE[] = "VRPHlp.chm";
const char GERMAN_FILE[] = "VRPHDe.chm";
const char ENGLISH_TITLE[] = "Test help English";
const char GERMAN_TITLE[] = "Test help German";

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

class Help : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        for (const char *file : {ENGLISH_FILE, GERMAN_FILE})
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
    static void RemoveHelpFiles()
    {
        for (const char *file : {ENGLISH_FILE, GERMAN_FILE})
            DeleteFileA((DriverDirectory() + file).c_str());
    }
    static std::string Built(const char *file)
    {
        return WindowsPath(HELP_FILES_DIR) + "\\" + file;
    }
    void Place(const char *file)
    {
        ASSERT_TRUE(CopyFileA(Built(file).c_str(), (DriverDirectory() + file).c_str(), FALSE))
            << file << ": error " << GetLastError();
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

    // Presses Help; what opened must be the file of this title.
    void ExpectViewersOf(const char *title)
    {
        std::vector<std::string> titles = PressHelp();
        ASSERT_FALSE(titles.empty()) << "no help viewer opened";
        for (const std::string &t : titles)
            EXPECT_EQ(title, t);
    }

    HWND dialog = NULL;
    BoxRecorder boxes;
};

typedef Help HelpEnglish;
typedef Help HelpGerman;
typedef Help HelpSwedish;
typedef Help HelpWithoutViewer;

}  // namespace

TEST_F(HelpEnglish, ViewerLibraryIsLoadedOnlyWhenHelpIsPressed)
{
    EXPECT_FALSE(g_helpLibraryAtStart);
    ShowHelp(dialog);
    EXPECT_NE(nullptr, GetModuleHandleA("hhctrl.ocx"));
}

TEST_F(HelpEnglish, OpensTheEnglishFile)
{
    Place(ENGLISH_FILE);
    ExpectViewersOf(ENGLISH_TITLE);
}

TEST_F(HelpEnglish, BothFilesMissingShowNothing)
{
    EXPECT_EQ(std::vector<std::string>{}, PressHelp());
}

TEST_F(HelpGerman, OpensTheGermanFileWhenPresent)
{
    Place(ENGLISH_FILE);
    Place(GERMAN_FILE);
    ExpectViewersOf(GERMAN_TITLE);
}

TEST_F(HelpGerman, OpensTheEnglishFileWhenTheGermanIsMissing)
{
    Place(ENGLISH_FILE);
    ExpectViewersOf(ENGLISH_TITLE);
}

// The Swedish file is "VRQHSe.chm", not "VRPH...": never placed here.
TEST_F(HelpSwedish, OpensTheEnglishFileSinceTheSwedishIsMissing)
{
    Place(ENGLISH_FILE);
    Place(GERMAN_FILE);
    ExpectViewersOf(ENGLISH_TITLE);
}

// Run with the viewer's library disabled (tests/CMakeLists.txt).
TEST_F(HelpWithoutViewer, ShowsNothingAndTheProgramGoesOn)
{
    Place(ENGLISH_FILE);
    EXPECT_EQ(std::vector<std::string>{}, PressHelp());
    EXPECT_EQ(nullptr, GetModuleHandleA("hhctrl.ocx"));
}
