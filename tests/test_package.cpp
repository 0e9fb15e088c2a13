// The release package, unpacked by tests/package/unpack.sh: each program in
// it carries its own version resource at the package's version, the dialog
// program runs from the unpacked folder, and a Cancel in its dialog records
// that detection did not succeed.
#include "resources/resource_ids.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char PRINTER[] = "VRTest Package";
const DWORD DIALOG_MS = 30000;
const DWORD END_MS = 30000;

std::string PackagedProgram()
{
    return std::string(PACKAGE_DIR) + "/VRAutoConfig.exe";
}

// Runs the packaged program in place (its own folder as current directory)
// with this command-line tail; its exit code, or -1 when it did not end.
long RunInPlace(const std::string &tail, DWORD timeoutMs)
{
    std::string path = WindowsPath(PackagedProgram().c_str());
    std::string directory = WindowsPath(PACKAGE_DIR);
    std::string commandLine = "\"" + path + "\"" + tail;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, directory.c_str(),
                        &startup, &process))
        return -2;
    long result = -1;
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code))
        result = (long)code;
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

// A string of the program's version resource, or "(none)".
std::string VersionString(const std::vector<BYTE> &info, const char *name)
{
    char *text = NULL;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(info.data(), query.c_str(), (void **)&text, &length))
        return "(none)";
    return text;
}

// Each program names itself: Explorer's details and inventory tools read
// these.
TEST(Package, EachProgramCarriesItsOwnVersionResource)
{
    struct Row {
        const char *file, *description, *internalName;
    };
    const Row rows[] = {
        {"VRAutoConfig.exe", "VR Universal Driver Auto Configuration", "VRAutoConfig"},
        {"VRAutoDetect.exe", "VR Universal Driver Auto Detection (command line)", "VRAutoDetect"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file);
        std::string path = WindowsPath((std::string(PACKAGE_DIR) + "/" + row.file).c_str());
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << path;
        std::vector<BYTE> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
        EXPECT_EQ(PACKAGE_VERSION, VersionString(info, "FileVersion"));
        EXPECT_EQ(PACKAGE_VERSION, VersionString(info, "ProductVersion"));
        EXPECT_EQ(row.description, VersionString(info, "FileDescription"));
        EXPECT_EQ(row.internalName, VersionString(info, "InternalName"));
        EXPECT_EQ(row.file, VersionString(info, "OriginalFilename"));
        VS_FIXEDFILEINFO *fixed = NULL;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &length));
        char numbers[64];
        snprintf(numbers, sizeof(numbers), "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                 LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                 LOWORD(fixed->dwFileVersionLS));
        EXPECT_STREQ(PACKAGE_VERSION, numbers);
    }
}

TEST(Package, ProgramWithoutPrinterNameEndsAtOnceWithZero)
{
    DeleteAllValues(PRINTER);
    // Rows: the command-line tails that name no printer.
    const char *const tails[] = {"", " VRTest", " VRTest Package"};
    for (const char *tail : tails) {
        SCOPED_TRACE(std::string("tail: ") + tail);
        DWORD started = GetTickCount();
        EXPECT_EQ(0, RunInPlace(tail, END_MS));
        EXPECT_LT(GetTickCount() - started, 10000u);
    }
    // The unquoted name is no name: nothing is written for that printer.
    EXPECT_FALSE(ReadValueFromRegistry(PRINTER, "QV_AutoCfgSuccess").present);
}

TEST(Package, CancelInTheDialogRecordsFailureAndNothingElse)
{
    DeleteAllValues(PRINTER);
    ProgramDriver program("package-cancel", PackagedProgram().c_str());
    ASSERT_TRUE(program.Start(PRINTER));
    ASSERT_TRUE(program.WaitForDialog(DIALOG_MS) != NULL) << "the dialog did not appear";
    EXPECT_EQ("VR Universal Driver Auto Configuration", program.Title());
    EXPECT_EQ("1.0.0.0", program.Field(IDC_ADDRESS));
    EXPECT_EQ("qomtan", program.Field(IDC_COMMUNITY));
    EXPECT_EQ("6", program.Field(IDC_TIMEOUT));
    program.Post(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    DWORD code = 99;
    ASSERT_TRUE(program.WaitForEnd(END_MS, &code)) << "the program did not end";
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(program.Boxes().empty());

    StoredValue success = ReadValueFromRegistry(PRINTER, "QV_AutoCfgSuccess");
    ASSERT_TRUE(success.present);
    EXPECT_EQ((DWORD)REG_BINARY, success.type);
    EXPECT_EQ(std::vector<BYTE>{0}, success.bytes) << HexBytes(success.bytes);
    const char *const untouched[] = {"QV_AutoCfgDisk", "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit",
                                     "QV_AutoCfgCassettes", "QV_AutoComName", "QV_AutoTimeOut"};
    for (const char *name : untouched)
        EXPECT_FALSE(ReadValueFromRegistry(PRINTER, name).present) << name;
    DeleteAllValues(PRINTER);
}

}  // namespace
