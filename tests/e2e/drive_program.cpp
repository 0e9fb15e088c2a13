// The real program from end to end, driven from this process under Xvfb:
// its dialog's fields, its buttons and keys, every message box it opens, and
// the exact bytes of the seven printer data values it leaves behind.
#include "resources/resource_ids.h"
#include "tests/bench/bench.h"
#include "tests/bench/languages.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

const char PRINTER[] = "VRTest E2E";
const char PORT_PRINTER[] = "VRTest E2E Port";  // its port names snmpd and "vrtest"
const char MISSING_PRINTER[] = "VRTest E2E Not Installed";
const char SNMPD[] = "127.0.0.55";
const char HALF_AGENT[] = "127.0.0.56";
const char UNRESOLVABLE[] = "no such printer";  // refused by the resolver without a query
const char COMMUNITY[] = "vrtest";
const DWORD DIALOG_MS = 30000;
const DWORD END_MS = 90000;
const char HELP_DIRECTORY[] = "C:\\windows\\system32\\spool\\drivers\\x64\\3\\";

std::string MapText(const char *ramDiskOid)
{
    return std::string("<?xml version='1.0'?>\r\n<Options>\r\n") +
           "  <Property name='HardDisk'><Value oid='1.3.6.1.4.1.55555.20.1'/></Property>\r\n" +
           "  <Property name='RAMDisk'><Value oid='" + ramDiskOid + "'/></Property>\r\n" +
           "  <Property name='3000Finisher'><Value oid='1.3.6.1.4.1.55555.20.2'/></Property>\r\n" +
           "  <Property name='PunchingUnit'><Value oid='1.3.6.1.4.1.55555.20.3'/></Property>\r\n" +
           "  <Property name='CassetteTwo'><Value oid='1.3.6.1.4.1.55555.20.4'/></Property>\r\n" +
           "</Options>\r\n";
}
const std::string MAP = MapText("1.3.6.1.4.1.55555.20.1");

typedef std::vector<BYTE> ByteList;
ByteList B(const char *text, size_t count) { return Bytes(text, count); }

// What snmpd (tests/agents/snmpd-e2e.conf) gives for the four options.
const ByteList DISK = B("HDD 320 GB\0RAM 2 GB\0\0", 21);
const ByteList FINISHER = B("SR3000\0\0", 8);
const ByteList PUNCH_UNIT = B("\0", 1);
const ByteList CASSETTES = B("Tray 2\0LCT\0\0", 12);
// Left by an "earlier run" in the cases that must keep them.
const ByteList OLD_LIST = B("old\0\0", 5);
const ByteList OLD_COMMUNITY = B("oldcomm", 7);

// One printer data value as the test expects it: absent when type is 0.
struct Expected {
    const char *name;
    DWORD type;
    ByteList bytes;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteAllValues(PRINTER);
        DeleteAllValues(PORT_PRINTER);
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string scratch = std::string("e2e-") + info->name();
        program.reset(new ProgramDriver(scratch.c_str(), PROGRAM_PATH));
    }
    void TearDown() override
    {
        program.reset();
        DeleteAllValues(PRINTER);
        DeleteAllValues(PORT_PRINTER);
    }
    bool AgentsAvailable(std::string *reason)
    {
        HANDLE f = CreateFileA(WindowsPath(AGENT_DIR "/unavailable").c_str(), GENERIC_READ, 0,
                               NULL, OPEN_EXISTING, 0, NULL);
        if (f == INVALID_HANDLE_VALUE)
            return true;
        char text[256] = {0};
        DWORD got = 0;
        ReadFile(f, text, sizeof(text) - 1, &got, NULL);
        CloseHandle(f);
        *reason = text;
        return false;
    }
    // Starts the program for the printer, with the map unless told not to,
    // and waits for its dialog.
    void Open(const char *printer = PRINTER, bool withMap = true)
    {
        if (withMap) {
            ASSERT_TRUE(program->WriteMap(MAP));
        }
        ASSERT_TRUE(program->Start(printer));
        ASSERT_NE(nullptr, program->WaitForDialog(DIALOG_MS)) << "the dialog did not appear";
    }
    void Fill(const char *address, const char *community, const char *timeout)
    {
        ASSERT_TRUE(program->SetField(IDC_ADDRESS, address));
        ASSERT_TRUE(program->SetField(IDC_COMMUNITY, community));
        ASSERT_TRUE(program->SetField(IDC_TIMEOUT, timeout));
    }
    void Press(int id) { program->Post(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    void ExpectEndWithZero()
    {
        DWORD code = 12345;
        ASSERT_TRUE(program->WaitForEnd(END_MS, &code)) << "the program did not end";
        EXPECT_EQ(0u, code);
    }
    void StoreEarlierRun()
    {
        const char *lists[] = {"QV_AutoCfgDisk", "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit",
                               "QV_AutoCfgCassettes"};
        for (const char *name : lists)
            WriteValueThroughSpooler(PRINTER, name, REG_MULTI_SZ, OLD_LIST.data(),
                                     (DWORD)OLD_LIST.size());
        WriteValueThroughSpooler(PRINTER, "QV_AutoComName", REG_SZ, OLD_COMMUNITY.data(),
                                 (DWORD)OLD_COMMUNITY.size());
        WriteValueThroughSpooler(PRINTER, "QV_AutoTimeOut", REG_SZ, "9", 1);
        const BYTE one = 1;
        WriteValueThroughSpooler(PRINTER, "QV_AutoCfgSuccess", REG_BINARY, &one, 1);
    }
    void ExpectValues(const std::vector<Expected> &rows, const char *printer = PRINTER)
    {
        for (const Expected &e : rows) {
            StoredValue v = ReadValueAsWritten(printer, e.name);
            EXPECT_EQ(e.type != 0, v.present) << e.name;
            if (e.type == 0 || !v.present)
                continue;
            EXPECT_EQ(e.type, v.type) << e.name;
            EXPECT_EQ(HexBytes(e.bytes), HexBytes(v.bytes)) << e.name;
        }
    }
    // All seven values after a full detection from snmpd with the test
    // community and a time-out of 6.
    void ExpectAllFourDetected(const char *printer)
    {
        ExpectValues({{"QV_AutoCfgDisk", REG_MULTI_SZ, DISK},
                      {"QV_AutoCfgFinisher", REG_MULTI_SZ, FINISHER},
                      {"QV_AutoCfgPunchUnit", REG_MULTI_SZ, PUNCH_UNIT},
                      {"QV_AutoCfgCassettes", REG_MULTI_SZ, CASSETTES},
                      {"QV_AutoCfgSuccess", REG_BINARY, {1}},
                      {"QV_AutoComName", REG_SZ, B(COMMUNITY, 6)},
                      {"QV_AutoTimeOut", REG_SZ, B("6", 1)}},
                     printer);
    }
    void ExpectBoxes(const std::vector<RecordedBox> &expected)
    {
        const std::vector<RecordedBox> &seen = program->Boxes();
        ASSERT_EQ(expected.size(), seen.size());
        for (size_t i = 0; i < seen.size(); i++) {
            EXPECT_EQ(expected[i].caption, seen[i].caption) << Describe(seen[i]);
            EXPECT_EQ(expected[i].text, seen[i].text) << Describe(seen[i]);
            EXPECT_EQ(expected[i].owner, seen[i].owner) << Describe(seen[i]);
            EXPECT_EQ(std::vector<int>{IDOK}, seen[i].buttons) << Describe(seen[i]);
        }
    }
    RecordedBox Box(const std::string &caption, const std::string &text, HWND owner)
    {
        RecordedBox b;
        b.caption = caption;
        b.text = text;
        b.owner = owner;
        return b;
    }
    // The query map is not beside the program's copy.
    RecordedBox MapMissingBox()
    {
        return Box("Error", "Query map missing or unreadable:\n" + program->Directory() + "VRUnPQ.xml",
                   NULL);
    }
    RecordedBox ConnectionBox(const LanguageTexts &language)
    {
        return Box(Cp1252(language.texts[8]), Cp1252(language.texts[9]), NULL);
    }

    std::unique_ptr<ProgramDriver> program;
};

#define REQUIRE_AGENTS()                                                 \
    do {                                                                 \
        std::string reason;                                              \
        if (!AgentsAvailable(&reason))                                   \
            GTEST_SKIP() << "no test agents: " << reason;                \
    } while (0)

// A help file of the help launcher's tests (tests/help, compiled by chmcmd
// at build time) in the
// spooler's driver directory while it lives.
class HelpFile {
public:
    explicit HelpFile(const char *name) : target_(std::string(HELP_DIRECTORY) + name)
    {
        std::string path = HELP_DIRECTORY;
        for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
            CreateDirectoryA(path.substr(0, at).c_str(), NULL);
        std::string source = WindowsPath(HELP_FILES_DIR "/") + name;
        copied_ = CopyFileA(source.c_str(), target_.c_str(), FALSE) != FALSE;
    }
    ~HelpFile() { DeleteFileA(target_.c_str()); }
    bool Copied() const { return copied_; }

private:
    std::string target_;
    bool copied_;
};

std::string ViewerTitle(ProgramDriver &program, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        std::vector<HWND> viewers = program.Windows("HH Parent");
        if (!viewers.empty()) {
            char title[256] = {0};
            GetWindowTextA(viewers[0], title, sizeof(title));
            return title;
        }
        Sleep(100);
    }
    return "";
}

const LanguageTexts &English() { return kLanguages[0]; }
const LanguageTexts &German() { return kLanguages[1]; }

TEST_F(Program, DetectsAllFourOptionsFromSnmpd)
{
    REQUIRE_AGENTS();
    Open();
    Fill(SNMPD, COMMUNITY, "6");
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({});
    ExpectAllFourDetected(PRINTER);
    EXPECT_EQ(7u, ValueNames(PRINTER).size());
}

TEST_F(Program, EnterInAFieldActsAsOk)
{
    REQUIRE_AGENTS();
    Open();
    Fill(SNMPD, COMMUNITY, "5");
    program->PostToControl(IDC_TIMEOUT, WM_KEYDOWN, VK_RETURN, 0);
    ExpectEndWithZero();
    ExpectBoxes({});
    ExpectValues({{"QV_AutoCfgCassettes", REG_MULTI_SZ, CASSETTES},
                  {"QV_AutoCfgSuccess", REG_BINARY, {1}},
                  {"QV_AutoTimeOut", REG_SZ, B("5", 1)}});
}

TEST_F(Program, MismatchedRamDiskEntryWarnsOnceOwnedByTheDialogAndStillDetects)
{
    REQUIRE_AGENTS();
    ASSERT_TRUE(program->WriteMap(MapText("1.3.6.1.4.1.55555.20.9")));
    Open(PRINTER, false);
    Fill(SNMPD, COMMUNITY, "6");
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({Box("Warning", "HardDisk / RAMDisk entries are not equal.\nNot supported yet.",
                     program->Dialog())});
    if (!program->Boxes().empty()) {
        EXPECT_FALSE(program->Boxes()[0].ownerEnabled);
    }
    ExpectValues({{"QV_AutoCfgDisk", REG_MULTI_SZ, DISK},
                  {"QV_AutoCfgSuccess", REG_BINARY, {1}}});
}

TEST_F(Program, SecondWalkTimingOutKeepsTheRestAndShowsOneConnectionBox)
{
    REQUIRE_AGENTS();
    StoreEarlierRun();
    Open();
    Fill(HALF_AGENT, COMMUNITY, "1");
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({ConnectionBox(English())});
    ExpectValues({{"QV_AutoCfgDisk", REG_MULTI_SZ, B("HDD only\0\0", 10)},
                  {"QV_AutoCfgFinisher", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgPunchUnit", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgCassettes", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgSuccess", REG_BINARY, {0}},
                  {"QV_AutoComName", REG_SZ, B(COMMUNITY, 6)},
                  {"QV_AutoTimeOut", REG_SZ, B("1", 1)}});
}

// Killed while the second walk waits on the silent printer: the first
// option holds this run's answer, the rest the earlier run's, and the
// earlier run's flag no longer claims a success.
TEST_F(Program, KilledDuringTheSecondWalkLeavesTheFlagAtZero)
{
    REQUIRE_AGENTS();
    StoreEarlierRun();
    Open();
    Fill(HALF_AGENT, COMMUNITY, "8");
    Press(IDOK);
    const ByteList firstOption = B("HDD only\0\0", 10);
    for (int i = 0; i < 300 && ReadValueAsWritten(PRINTER, "QV_AutoCfgDisk").bytes != firstOption;
         i++)
        Sleep(100);
    Sleep(500);
    ASSERT_TRUE(program->Running()) << "the chain ended before the kill";
    program.reset();  // TerminateProcess
    ExpectValues({{"QV_AutoCfgDisk", REG_MULTI_SZ, firstOption},
                  {"QV_AutoCfgFinisher", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgPunchUnit", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgCassettes", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgSuccess", REG_BINARY, {0}},
                  {"QV_AutoComName", REG_SZ, OLD_COMMUNITY},
                  {"QV_AutoTimeOut", REG_SZ, B("9", 1)}});
}

TEST_F(Program, UnresolvableAddressShowsInvalidAgentAndKeepsTheStoredValues)
{
    StoreEarlierRun();
    Open();
    Fill(UNRESOLVABLE, COMMUNITY, "1");
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({Box("Warning", "Invalid SNMP agent ...", program->Dialog())});
    ExpectValues({{"QV_AutoCfgDisk", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgFinisher", REG_MULTI_SZ, OLD_LIST},
                  {"QV_AutoCfgSuccess", REG_BINARY, {0}},
                  {"QV_AutoComName", REG_SZ, B(COMMUNITY, 6)},
                  {"QV_AutoTimeOut", REG_SZ, B("1", 1)}});
}

TEST_F(Program, WithoutMapFileOkSaysWhichFileWritesFlagZeroAndSavesTheSettings)
{
    Open(PRINTER, false);
    Fill(SNMPD, "typed", "");
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({MapMissingBox()});
    ExpectValues({{"QV_AutoCfgDisk", 0, {}},
                  {"QV_AutoCfgSuccess", REG_BINARY, {0}},
                  {"QV_AutoComName", REG_SZ, B("typed", 5)},
                  {"QV_AutoTimeOut", REG_SZ, {}}});
}

TEST_F(Program, CancelEscAndTheCloseBoxWriteOnlyFlagZero)
{
    struct Way {
        const char *label;
        int control;        // 0: to the dialog itself
        UINT message;
        WPARAM wParam;
    };
    const Way ways[] = {
        {"Cancel button", 0, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)},
        {"Esc in the address field", IDC_ADDRESS, WM_KEYDOWN, VK_ESCAPE},
        {"close box", 0, WM_SYSCOMMAND, SC_CLOSE},
    };
    for (const Way &way : ways) {
        SCOPED_TRACE(way.label);
        DeleteAllValues(PRINTER);
        StoreEarlierRun();
        program.reset();
        program.reset(new ProgramDriver("e2e-cancel", PROGRAM_PATH));
        Open();
        Fill(SNMPD, "edited", "42");
        if (way.control != 0)
            program->PostToControl(way.control, way.message, way.wParam, 0);
        else
            program->Post(way.message, way.wParam, 0);
        ExpectEndWithZero();
        ExpectBoxes({});
        ExpectValues({{"QV_AutoCfgDisk", REG_MULTI_SZ, OLD_LIST},
                      {"QV_AutoCfgSuccess", REG_BINARY, {0}},
                      {"QV_AutoComName", REG_SZ, OLD_COMMUNITY},
                      {"QV_AutoTimeOut", REG_SZ, B("9", 1)}});
    }
}

TEST_F(Program, FieldsStartFromThePortMonitorAndOkDetectsWithThemAsTheyAre)
{
    REQUIRE_AGENTS();
    Open(PORT_PRINTER);
    EXPECT_EQ(SNMPD, program->Field(IDC_ADDRESS));
    EXPECT_EQ(COMMUNITY, program->Field(IDC_COMMUNITY));
    EXPECT_EQ("6", program->Field(IDC_TIMEOUT));
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({});
    ExpectAllFourDetected(PORT_PRINTER);
}

TEST_F(Program, StoredCommunityWinsOverThePortsAndTheAddressStaysThePorts)
{
    WriteValueThroughSpooler(PORT_PRINTER, "QV_AutoComName", REG_SZ, "", 0);
    WriteValueThroughSpooler(PORT_PRINTER, "QV_AutoTimeOut", REG_SZ, "3", 1);
    Open(PORT_PRINTER, false);
    EXPECT_EQ(SNMPD, program->Field(IDC_ADDRESS));
    EXPECT_EQ("", program->Field(IDC_COMMUNITY));
    EXPECT_EQ("3", program->Field(IDC_TIMEOUT));
    Press(IDCANCEL);
    ExpectEndWithZero();
}

TEST_F(Program, FieldsStartFromTheStoredSettings)
{
    WriteValueThroughSpooler(PRINTER, "QV_AutoComName", REG_SZ, "stored-c", 8);
    WriteValueThroughSpooler(PRINTER, "QV_AutoTimeOut", REG_SZ, "17", 2);
    Open();
    EXPECT_EQ("1.0.0.0", program->Field(IDC_ADDRESS));
    EXPECT_EQ("stored-c", program->Field(IDC_COMMUNITY));
    EXPECT_EQ("17", program->Field(IDC_TIMEOUT));
    Press(IDCANCEL);
    ExpectEndWithZero();
}

TEST_F(Program, PrinterNotInstalledShowsTheDefaultsAndWritesNothing)
{
    Open(MISSING_PRINTER, false);
    EXPECT_EQ("1.0.0.0", program->Field(IDC_ADDRESS));
    EXPECT_EQ("", program->Field(IDC_COMMUNITY));
    EXPECT_EQ("6", program->Field(IDC_TIMEOUT));
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({MapMissingBox()});
    EXPECT_TRUE(ValueNames(MISSING_PRINTER).empty());
}

TEST_F(Program, HelpOpensTheViewerAndTheDialogStaysUsable)
{
    HelpFile help("VRPHlp.chm");
    if (!help.Copied())
        GTEST_SKIP() << "no help file of the tests (chmcmd missing?) in " HELP_FILES_DIR;
    Open();
    Press(IDC_HELP_BUTTON);
    EXPECT_EQ("Test help English", ViewerTitle(*program, 20000));
    EXPECT_TRUE(IsWindow(program->Dialog()));
    EXPECT_EQ("1.0.0.0", program->Field(IDC_ADDRESS));
    for (HWND viewer : program->Windows("HH Parent"))
        PostMessageA(viewer, WM_CLOSE, 0, 0);
    Press(IDCANCEL);
    ExpectEndWithZero();
    ExpectBoxes({});
    ExpectValues({{"QV_AutoCfgSuccess", REG_BINARY, {0}}, {"QV_AutoComName", 0, {}}});
}

// Behind the unowned connection box the dialog stays enabled and its
// commands reach it through the box's loop: none may act until the chain
// has ended.
TEST_F(Program, CommandsBehindTheConnectionBoxAreHeldBack)
{
    REQUIRE_AGENTS();
    HelpFile help("VRPHlp.chm");
    ASSERT_TRUE(help.Copied()) << "Help must have something to open for this check";
    Open();
    Fill(HALF_AGENT, COMMUNITY, "1");
    bool checked = false;
    program->WhileOpen([&](const RecordedBox &box) {
        EXPECT_EQ(NULL, box.owner);
        EXPECT_TRUE(IsWindowEnabled(program->Dialog()));
        Press(IDOK);
        Press(IDCANCEL);
        Press(IDC_HELP_BUTTON);
        program->Post(WM_SYSCOMMAND, SC_CLOSE, 0);
        Sleep(2000);
        EXPECT_EQ(2u, program->Windows("#32770").size()) << "the dialog and the one box";
        EXPECT_TRUE(program->Windows("HH Parent").empty());
        EXPECT_TRUE(IsWindow(program->Dialog()));
        EXPECT_EQ(ByteList{0}, ReadValueAsWritten(PRINTER, "QV_AutoCfgSuccess").bytes);
        EXPECT_FALSE(ReadValueAsWritten(PRINTER, "QV_AutoComName").present);
        checked = true;
    });
    Press(IDOK);
    ExpectEndWithZero();
    EXPECT_TRUE(checked);
    ExpectBoxes({ConnectionBox(English())});
    ExpectValues({{"QV_AutoCfgDisk", REG_MULTI_SZ, B("HDD only\0\0", 10)},
                  {"QV_AutoCfgFinisher", 0, {}},
                  {"QV_AutoCfgSuccess", REG_BINARY, {0}},
                  {"QV_AutoComName", REG_SZ, B(COMMUNITY, 6)}});
}

// Run with LANG=de_DE.UTF-8 (tests/CMakeLists.txt): the dialog's texts, the
// connection box and the help file in German.
TEST_F(Program, GermanUserInterface)
{
    REQUIRE_AGENTS();
    std::string lang;
    const LocaleCase *locale = LocaleOfEnvironment(&lang);
    if (locale == NULL || locale->table != 0x0407)
        GTEST_SKIP() << "LANG=\"" << lang << "\" is not German";
    HelpFile help("VRPHDe.chm");
    ASSERT_TRUE(help.Copied());
    Open();
    EXPECT_EQ(Cp1252(German().texts[0]), program->Title());
    const int ids[] = {IDC_ADDRESS_LABEL, IDC_COMMUNITY_LABEL, IDC_TIMEOUT_UNIT, IDOK, IDCANCEL,
                       IDC_HELP_BUTTON};
    const int strings[] = {1, 2, 4, 5, 6, 7};
    for (size_t i = 0; i < 6; i++)
        EXPECT_EQ(Cp1252(German().texts[strings[i]]), program->Field(ids[i])) << ids[i];
    Press(IDC_HELP_BUTTON);
    EXPECT_EQ("Test help German", ViewerTitle(*program, 20000));
    for (HWND viewer : program->Windows("HH Parent"))
        PostMessageA(viewer, WM_CLOSE, 0, 0);
    Fill(HALF_AGENT, COMMUNITY, "1");
    Press(IDOK);
    ExpectEndWithZero();
    ExpectBoxes({ConnectionBox(German())});
}

}  // namespace
