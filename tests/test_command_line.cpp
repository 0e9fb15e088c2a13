// Program entry: the printer name from the command line, and a program that
// always ends.
#include "shell/shell.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

struct NameCase {
    const char *label;
    std::string commandLine;
    int result;
    std::string name;
};

// Runs the real program with this command line tail; returns its exit code,
// or -1 when it did not end within the time given.
DWORD RunProgramFile(const std::string &arguments, DWORD waitMs)
{
    std::string path = WindowsPath(PROGRAM_PATH);
    std::string commandLine = "\"" + path + "\" " + arguments;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    if (!CreateProcessA(path.c_str(), mutableLine.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si,
                        &pi))
        return (DWORD)-2;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, waitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

void DrainQuitRequest()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        ;
}

}  // namespace

TEST(CommandLine, TakesTheNameAfterTheFirstSpaceAndQuoteLessTheLastCharacter)
{
    const std::string name300(300, 'n');
    const NameCase cases[] = {
        {"quoted name", "C:\\VRAutoConfig.exe \"Office Printer\"", 1, "Office Printer"},
        {"quoted path with spaces",
         "\"C:\\Program Files\\VR\\VRAutoConfig.exe\" \"Office Printer\"", 1, "Office Printer"},
        {"no quotes", "C:\\VRAutoConfig.exe Office", 0, ""},
        {"text after the quote", "C:\\VRAutoConfig.exe \"Office\" /x", 1, "Office\" /"},
        {"space after the quote", "C:\\VRAutoConfig.exe \"Office\" ", 1, "Office\""},
        {"two quotes", "C:\\VRAutoConfig.exe \"\"", 1, ""},
        {"one quote", "C:\\VRAutoConfig.exe \"", 1, ""},
        {"several spaces", "C:\\VRAutoConfig.exe   \"Office\"", 1, "Office"},
        {"cut at 254", "C:\\VRAutoConfig.exe \"" + name300 + "\"", 1, name300.substr(0, 254)},
        {"exactly 254", "C:\\VRAutoConfig.exe \"" + name300.substr(0, 254) + "\"", 1,
         name300.substr(0, 254)},
        {"empty", "", 0, ""},
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.label);
        memset(g_printerName, 0, sizeof(g_printerName));
        EXPECT_EQ(c.result, ParseCommandLine(c.commandLine.c_str()));
        EXPECT_EQ(c.name, std::string(g_printerName));
        EXPECT_EQ('\0', g_printerName[PRINTER_NAME_SIZE - 1]);
    }
    EXPECT_EQ(0, ParseCommandLine(NULL));
}

TEST(CommandLine, NoNameLeavesTheEarlierNameUntouched)
{
    ParseCommandLine("x \"First\"");
    EXPECT_EQ(0, ParseCommandLine("x Second"));
    EXPECT_STREQ("First", g_printerName);
}

TEST(ProgramEntry, DialogThatCannotBeCreatedEndsTheProgramWithItsExitCode)
{
    // A module without dialog 103: the dialog cannot be created, and the
    // program must end instead of waiting in its message loop.
    HMODULE noDialog = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(nullptr, noDialog);
    DWORD start = GetTickCount();
    EXPECT_EQ(EXIT_DIALOG_FAILED, RunProgram(noDialog));
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(noDialog, g_hInstance);
    DrainQuitRequest();
}

TEST(ProgramEntry, ProgramWithoutPrinterNameEnds)
{
    HMODULE program = LoadLibraryExA(WindowsPath(PROGRAM_PATH).c_str(), NULL,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, program);
    bool hasDialog = FindResourceA(program, MAKEINTRESOURCEA(IDD_CONFIG), (LPCSTR)RT_DIALOG) != NULL;
    FreeLibrary(program);

    // With its dialog the program opens it, meets the pending quit request
    // and ends with 0; without it, it ends at once with its failure code.
    DWORD expected = hasDialog ? 0 : EXIT_DIALOG_FAILED;
    EXPECT_EQ(expected, RunProgramFile("Office", 20000));
    EXPECT_EQ(expected, RunProgramFile("", 20000));
}
