// The configuration dialog in this process: what its start puts into the
// fields and texts, its commands, the chain's hold on other commands and its
// wait cursor, and a paint that gives back every GDI object.
#include "shell/shell.h"
#include "printer/spooler.h"
#include "common/text.h"
#include "tests/bench/bench.h"
#include "tests/bench/languages.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

const char PRINTER[] = "VRTest Dialog";
const char MISSING_PRINTER[] = "VRTest Not Installed";
// Printers of tests/prefix/ports.reg: the monitor answers "monitor.example.test"
// and "monitor-community" for the first one's port, nothing for the second's.
const char CLUSTER_PRINTER[] = "VRPort Cluster";
const char UNKNOWN_PORT_PRINTER[] = "VRPort Unknown";
const char CLUSTER[] = "VR8Cluster";
const char MAP_FILE[] = "VRUnPQ.xml";
const char *const ALL_VALUES[] = {"QV_AutoComName", "QV_AutoTimeOut", "QV_AutoCfgDisk",
                                  "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit",
                                  "QV_AutoCfgCassettes", "QV_AutoCfgSuccess"};

std::string ControlText(HWND dialog, int id)
{
    char text[512];
    text[0] = '\0';
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

std::string LoadedString(UINT id)
{
    char text[256];
    text[0] = '\0';
    LoadStringA(GetModuleHandleA(NULL), id, text, sizeof(text));
    return text;
}

void DrainQuitRequest()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        ;
}

// The dialog made from template 103 with the program's procedure, for one
// printer, after its stored values have been set; destroyed at the end.
class ConfigDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        DeleteAllValues(PRINTER);
        DeleteProgramFile(MAP_FILE);
    }
    void TearDown() override
    {
        if (dialog != NULL && IsWindow(dialog))
            DestroyWindow(dialog);
        DrainQuitRequest();
        DeleteAllValues(PRINTER);
        DeleteProgramFile(MAP_FILE);
        DeleteMachineKey(CLUSTER);
    }
    HWND Open(const char *printer)
    {
        CopyText(g_printerName, sizeof(g_printerName), printer);
        g_hDialog = NULL;
        dialog = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CONFIG), NULL,
                                    ConfigDialogProc, 0);
        EXPECT_NE(nullptr, dialog);
        ShowWindow(dialog, SW_SHOW);
        return dialog;
    }
    INT_PTR Command(int id, int code = BN_CLICKED)
    {
        return ConfigDialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                                (LPARAM)GetDlgItem(dialog, id));
    }
    void ExpectWritten(const char *const *names, size_t count)
    {
        for (const char *name : ALL_VALUES) {
            bool expected = false;
            for (size_t i = 0; i < count; i++)
                expected = expected || strcmp(names[i], name) == 0;
            EXPECT_EQ(expected, ReadValueFromRegistry(PRINTER, name).present) << name;
        }
    }

    HWND dialog = NULL;
    BoxRecorder boxes;
};

struct StartCase {
    const char *label;
    const char *printer;
    const char *storedCommunity;    // NULL: not stored
    const char *storedTimeout;
    const char *address, *community, *timeout;
    std::vector<RegValue> clusterPort;  // under both printers' ports; none: no cluster key
};

TEST_F(ConfigDialog, StartFillsTheFieldsFromThePortTheStoredSettingsOrTheDefaults)
{
    const StartCase cases[] = {
        {"not installed", MISSING_PRINTER, NULL, NULL, "1.0.0.0", "", "6", {}},
        {"nothing stored", PRINTER, NULL, NULL, "1.0.0.0", "qomtan", "6", {}},
        {"both stored", PRINTER, "secret", "12", "1.0.0.0", "secret", "12", {}},
        {"empty community stored", PRINTER, "", "", "1.0.0.0", "", "", {}},
        {"time-out of 4 bytes", PRINTER, NULL, "1234", "1.0.0.0", "qomtan", "6", {}},
        {"cluster keys complete: the monitor not asked", CLUSTER_PRINTER, NULL, NULL,
         "192.0.2.200", "registry-community", "6",
         {TextValue("IPAddress", "192.0.2.200"),
          TextValue("SNMP Community", "registry-community")}},
        {"cluster keys without community: the monitor's", CLUSTER_PRINTER, NULL, NULL,
         "monitor.example.test", "monitor-community", "6", {TextValue("IPAddress", "192.0.2.201")}},
        {"cluster keys without community, monitor without port", UNKNOWN_PORT_PRINTER, NULL, NULL,
         "192.0.2.201", "qomtan", "6", {TextValue("IPAddress", "192.0.2.201")}},
    };
    for (const StartCase &c : cases) {
        SCOPED_TRACE(c.label);
        DeleteAllValues(PRINTER);
        DeleteMachineKey(CLUSTER);
        for (const char *port : {"VRPORT_CLUSTER", "VRPORT_NOWHERE"})
            ASSERT_TRUE(c.clusterPort.empty() ||
                        CreateMachineKey(ClusterPortKey(CLUSTER, "Printers", port), c.clusterPort));
        if (c.storedCommunity != NULL)
            WriteValueThroughSpooler(PRINTER, "QV_AutoComName", REG_SZ, c.storedCommunity,
                                     (DWORD)strlen(c.storedCommunity));
        if (c.storedTimeout != NULL)
            WriteValueThroughSpooler(PRINTER, "QV_AutoTimeOut", REG_SZ, c.storedTimeout,
                                     (DWORD)strlen(c.storedTimeout));
        ASSERT_NE(nullptr, Open(c.printer));
        EXPECT_EQ(dialog, g_hDialog);
        EXPECT_EQ(c.address, ControlText(dialog, IDC_ADDRESS));
        EXPECT_EQ(c.community, ControlText(dialog, IDC_COMMUNITY));
        EXPECT_EQ(c.timeout, ControlText(dialog, IDC_TIMEOUT));
        DestroyWindow(dialog);
        DrainQuitRequest();
    }
}

TEST_F(ConfigDialog, StartReadsOnlyAndWritesNothing)
{
    ASSERT_NE(nullptr, Open(PRINTER));
    ExpectWritten(NULL, 0);
}

TEST_F(ConfigDialog, TypingLimitsAreTheConfiguratorsBuffersLessOne)
{
    ASSERT_NE(nullptr, Open(PRINTER));
    const struct { int id; LRESULT limit; } limits[] = {
        {IDC_ADDRESS, 62}, {IDC_COMMUNITY, 62}, {IDC_TIMEOUT, 2}};
    for (const auto &l : limits)
        EXPECT_EQ(l.limit, SendDlgItemMessageA(dialog, l.id, EM_GETLIMITTEXT, 0, 0)) << l.id;
    // A longer text put in by the program is shown whole.
    std::string longAddress(80, 'a');
    SetDlgItemTextA(dialog, IDC_ADDRESS, longAddress.c_str());
    EXPECT_EQ(longAddress, ControlText(dialog, IDC_ADDRESS));
}

// Every text of the dialog comes from the string table; the time-out label is
// the first control of id -1, the group box the second, and keeps its text.
void ExpectTextsOfTheStringTable(HWND dialog)
{
    char title[256];
    GetWindowTextA(dialog, title, sizeof(title));
    EXPECT_EQ(LoadedString(IDS_DIALOG_TITLE), title);
    const struct { int id; UINT string; } texts[] = {
        {IDC_ADDRESS_LABEL, IDS_ADDRESS_LABEL}, {IDC_COMMUNITY_LABEL, IDS_COMMUNITY_LABEL},
        {IDC_TIMEOUT_UNIT, IDS_TIMEOUT_UNIT},   {IDOK, IDS_OK_BUTTON},
        {IDCANCEL, IDS_CANCEL_BUTTON},          {IDC_HELP_BUTTON, IDS_HELP_BUTTON}};
    for (const auto &t : texts)
        EXPECT_EQ(LoadedString(t.string), ControlText(dialog, t.id)) << t.id;

    std::vector<HWND> unnamed;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT))
        if ((WORD)GetDlgCtrlID(child) == 0xFFFF)
            unnamed.push_back(child);
    ASSERT_EQ(2u, unnamed.size());
    char text[256];
    GetWindowTextA(unnamed[0], text, sizeof(text));
    EXPECT_EQ(LoadedString(IDS_TIMEOUT_LABEL), text);
    EXPECT_NE(BS_GROUPBOX, GetWindowLongA(unnamed[0], GWL_STYLE) & 0x0F);
    GetWindowTextA(unnamed[1], text, sizeof(text));
    EXPECT_STREQ("VR Classic Universal Driver", text);
}

TEST_F(ConfigDialog, TextsComeFromTheStringTable)
{
    ASSERT_NE(nullptr, Open(PRINTER));
    ExpectTextsOfTheStringTable(dialog);
    if (GetUserDefaultUILanguage() == 0x0409) {
        char title[256];
        GetWindowTextA(dialog, title, sizeof(title));
        EXPECT_STREQ("VR Universal Driver Auto Configuration", title);
        EXPECT_EQ("SNMP time-out:", ControlText(dialog, -1));
    }
}

TEST(ConfigDialogByLocale, TextsAreThoseOfTheUserInterfaceLanguage)
{
    std::string lang;
    const LocaleCase *locale = LocaleOfEnvironment(&lang);
    if (locale == NULL)
        GTEST_SKIP() << "LANG=\"" << lang << "\" is not one of the locales of this test";
    const LanguageTexts *texts = FindLanguage(locale->table);
    ASSERT_NE(nullptr, texts);
    g_hInstance = GetModuleHandleA(NULL);
    CopyText(g_printerName, sizeof(g_printerName), MISSING_PRINTER);
    HWND dialog = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CONFIG), NULL,
                                     ConfigDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    char title[256];
    GetWindowTextA(dialog, title, sizeof(title));
    EXPECT_EQ(Cp1252(texts->texts[0]), title);
    const int ids[] = {IDC_ADDRESS_LABEL, IDC_COMMUNITY_LABEL, -1, IDC_TIMEOUT_UNIT,
                       IDOK, IDCANCEL, IDC_HELP_BUTTON};
    for (size_t i = 0; i < COUNTOF(ids); i++)
        EXPECT_EQ(Cp1252(texts->texts[i + 1]), ControlText(dialog, ids[i])) << ids[i];
    ExpectTextsOfTheStringTable(dialog);
    DestroyWindow(dialog);
    DrainQuitRequest();
}

bool AgentsUnavailable()
{
    HANDLE unavailable = CreateFileA(WindowsPath(AGENT_DIR "/unavailable").c_str(), GENERIC_READ,
                                     0, NULL, OPEN_EXISTING, 0, NULL);
    if (unavailable == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(unavailable);
    return true;
}

const char FOUR_OPTIONS_MAP[] =
    "<Property name='HardDisk'><Value oid='1.3.6.1.4.1.55555.20.1'/></Property>"
    "<Property name='RAMDisk'><Value oid='1.3.6.1.4.1.55555.20.1'/></Property>"
    "<Property name='3000Finisher'><Value oid='1.3.6.1.4.1.55555.20.2'/></Property>"
    "<Property name='PunchingUnit'><Value oid='1.3.6.1.4.1.55555.20.3'/></Property>"
    "<Property name='CassetteTwo'><Value oid='1.3.6.1.4.1.55555.20.4'/></Property>";

BOOL (WINAPI *g_spoolerOpen)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);

// An account that may print but not manage the printer.
BOOL WINAPI OpenWithoutAdministering(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults)
{
    if (defaults != NULL && (defaults->DesiredAccess & PRINTER_ACCESS_ADMINISTER)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_spoolerOpen(name, printer, defaults);
}

// OK for a user who may not manage the printer, against snmpd on
// 127.0.0.55: the disk is detected, its value refused, and the dialog tells
// so once, in the user's language, before it ends.
TEST(ConfigDialogByLocale, ValuesNotStoredAreToldOnceOwnedByTheDialog)
{
    std::string lang;
    const LocaleCase *locale = LocaleOfEnvironment(&lang);
    if (locale == NULL)
        GTEST_SKIP() << "LANG=\"" << lang << "\" is not one of the locales of this test";
    if (AgentsUnavailable())
        GTEST_SKIP() << "no test agents (see " AGENT_DIR "/unavailable)";
    const LanguageTexts *texts = FindLanguage(locale->table);
    ASSERT_NE(nullptr, texts);
    g_hInstance = GetModuleHandleA(NULL);
    CopyText(g_printerName, sizeof(g_printerName), PRINTER);
    DeleteAllValues(PRINTER);
    ASSERT_TRUE(WriteProgramFile(MAP_FILE, FOUR_OPTIONS_MAP));
    BoxRecorder boxes;
    HWND dialog = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CONFIG), NULL,
                                     ConfigDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    ShowWindow(dialog, SW_SHOW);
    SetDlgItemTextA(dialog, IDC_ADDRESS, "127.0.0.55");
    SetDlgItemTextA(dialog, IDC_COMMUNITY, "vrtest");
    SpoolerCalls saved = g_spoolerCalls;
    g_spoolerOpen = saved.openPrinter;
    g_spoolerCalls.openPrinter = OpenWithoutAdministering;
    EXPECT_EQ(FALSE, ConfigDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
    g_spoolerCalls = saved;

    ASSERT_EQ(1u, boxes.Count());
    const RecordedBox &box = boxes.Boxes()[0];
    EXPECT_EQ(Cp1252(texts->texts[8]), box.caption) << Describe(box);     // string 130
    EXPECT_EQ(Cp1252(texts->texts[11]), box.text) << Describe(box);       // string 141
    EXPECT_EQ(dialog, box.owner) << Describe(box);
    EXPECT_FALSE(box.ownerEnabled) << "the dialog took input behind the box";
    EXPECT_EQ("error", box.icon);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(ValueNames(PRINTER).empty());
    DestroyWindow(dialog);
    DrainQuitRequest();
    DeleteProgramFile(MAP_FILE);
}

TEST_F(ConfigDialog, CancelWritesOnlyTheFailureFlagAndEndsTheDialog)
{
    const BYTE one = 1;
    WriteValueToRegistry(PRINTER, "QV_AutoCfgSuccess", REG_BINARY, &one, 1);
    ASSERT_NE(nullptr, Open(PRINTER));
    SetDlgItemTextA(dialog, IDC_COMMUNITY, "edited");
    EXPECT_EQ(FALSE, Command(IDCANCEL));
    StoredValue flag = ReadValueFromRegistry(PRINTER, "QV_AutoCfgSuccess");
    EXPECT_EQ((DWORD)REG_BINARY, flag.type);
    EXPECT_EQ(std::vector<BYTE>{0}, flag.bytes) << HexBytes(flag.bytes);
    const char *written[] = {"QV_AutoCfgSuccess"};
    ExpectWritten(written, 1);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(ConfigDialog, DestroyPostsTheQuitRequestWithCodeZero)
{
    ASSERT_NE(nullptr, Open(PRINTER));
    DrainQuitRequest();
    DestroyWindow(dialog);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);
}

TEST_F(ConfigDialog, HelpAndOtherCommandsLeaveTheDialogOpenAndWriteNothing)
{
    ASSERT_NE(nullptr, Open(PRINTER));
    const struct { const char *label; int id; int code; INT_PTR result; } cases[] = {
        {"Help", IDC_HELP_BUTTON, BN_CLICKED, TRUE},
        {"edit notification", IDC_ADDRESS, EN_CHANGE, FALSE},
        {"unknown id", 4711, BN_CLICKED, FALSE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.result, Command(c.id, c.code));
        EXPECT_TRUE(IsWindowVisible(dialog));
        ExpectWritten(NULL, 0);
    }
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(ConfigDialog, OkWithoutMapSaysWhichFileRunsTheChainSavesTheSettingsAndEnds)
{
    SpoolerWriteRecorder writes;
    ASSERT_NE(nullptr, Open(PRINTER));
    SetDlgItemTextA(dialog, IDC_COMMUNITY, "typed");
    SetDlgItemTextA(dialog, IDC_TIMEOUT, "9");
    EXPECT_EQ(FALSE, Command(IDOK));
    EXPECT_FALSE(IsWindowVisible(dialog));
    ASSERT_EQ(1u, boxes.Count());
    const RecordedBox &box = boxes.Boxes()[0];
    EXPECT_EQ("Error", box.caption) << Describe(box);
    EXPECT_EQ("Query map missing or unreadable:\n" + ProgramDirectory() + MAP_FILE, box.text);
    EXPECT_EQ(NULL, box.owner) << Describe(box);
    const char *written[] = {"QV_AutoCfgSuccess", "QV_AutoComName", "QV_AutoTimeOut"};
    ExpectWritten(written, 3);
    EXPECT_EQ((std::vector<std::string>{"QV_AutoCfgSuccess", "QV_AutoCfgSuccess",
                                        "QV_AutoComName", "QV_AutoTimeOut"}),
              writes.Names());
    EXPECT_EQ(std::vector<BYTE>{0}, ReadValueFromRegistry(PRINTER, "QV_AutoCfgSuccess").bytes);
    EXPECT_EQ(Bytes("typed", 5), ReadValueAsWritten(PRINTER, "QV_AutoComName").bytes);
    EXPECT_EQ(Bytes("9", 1), ReadValueAsWritten(PRINTER, "QV_AutoTimeOut").bytes);
}

// The four options from snmpd on 127.0.0.55 (tests/agents/printer-agents.sh):
// the flag at 0, the option values in order, then the flag, then the settings.
TEST_F(ConfigDialog, OkWritesTheFourOptionsThenTheFlagThenTheSettings)
{
    if (AgentsUnavailable())
        GTEST_SKIP() << "no test agents (see " AGENT_DIR "/unavailable)";
    ASSERT_TRUE(WriteProgramFile(MAP_FILE, FOUR_OPTIONS_MAP));
    SpoolerWriteRecorder writes;
    ASSERT_NE(nullptr, Open(PRINTER));
    SetDlgItemTextA(dialog, IDC_ADDRESS, "127.0.0.55");
    SetDlgItemTextA(dialog, IDC_COMMUNITY, "vrtest");
    EXPECT_EQ(FALSE, Command(IDOK));
    EXPECT_EQ(0u, boxes.Count());
    const std::vector<std::string> order = {
        "QV_AutoCfgSuccess",   "QV_AutoCfgDisk",    "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit",
        "QV_AutoCfgCassettes", "QV_AutoCfgSuccess", "QV_AutoComName",     "QV_AutoTimeOut"};
    EXPECT_EQ(order, writes.Names());
    ExpectStored(writes, PRINTER, "QV_AutoCfgSuccess", REG_BINARY, {1});
}

// A map without the hard disk's entry: the chain's first lookup shows an
// unowned "Error" box, whose modal loop dispatches the dialog's messages.
// Each command reaches the dialog as a user's does, through IsDialogMessage
// as the dialog's own loop calls it: Esc becomes IDCANCEL there, and the
// close box's IDCANCEL is posted, so it is dispatched before the checks.
TEST_F(ConfigDialog, WhileTheChainRunsCommandsAreHeldBackUnderTheWaitCursor)
{
    ASSERT_TRUE(WriteProgramFile(MAP_FILE, "<Options></Options>"));
    SpoolerWriteRecorder writes;
    ASSERT_NE(nullptr, Open(PRINTER));
    HCURSOR wait = LoadCursor(NULL, IDC_WAIT);
    SetCursor(LoadCursor(NULL, IDC_ARROW));
    bool sawBox = false;
    boxes.WhileOpen([&](const RecordedBox &box) {
        if (sawBox)
            return;
        sawBox = true;
        EXPECT_EQ(NULL, box.owner) << Describe(box);
        EXPECT_EQ(wait, GetCursor());
        EXPECT_EQ(TRUE, SendMessageA(dialog, WM_SETCURSOR, (WPARAM)dialog,
                                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
        const struct { const char *label; UINT message; WPARAM wParam; } held[] = {
            {"second OK", WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED)},
            {"Cancel", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)},
            {"Help", WM_COMMAND, MAKEWPARAM(IDC_HELP_BUTTON, BN_CLICKED)},
            {"close box", WM_SYSCOMMAND, SC_CLOSE},
            {"Esc", WM_KEYDOWN, VK_ESCAPE},
        };
        for (const auto &h : held) {
            SCOPED_TRACE(h.label);
            size_t before = boxes.Count();
            size_t written = writes.Writes().size();
            MSG msg = {h.message == WM_KEYDOWN ? GetDlgItem(dialog, IDC_ADDRESS) : dialog,
                       h.message, h.wParam, 0, 0, {0, 0}};
            IsDialogMessageA(dialog, &msg);
            while (PeekMessageA(&msg, dialog, 0, 0, PM_REMOVE))
                IsDialogMessageA(dialog, &msg);
            EXPECT_EQ(before, boxes.Count());
            EXPECT_TRUE(IsWindowVisible(dialog));
            EXPECT_EQ(written, writes.Writes().size());
        }
    });
    EXPECT_EQ(FALSE, Command(IDOK));
    EXPECT_TRUE(sawBox);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_NE(wait, GetCursor());
    EXPECT_EQ(FALSE, ConfigDialogProc(dialog, WM_SETCURSOR, (WPARAM)dialog,
                                      MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(std::vector<BYTE>{0}, ReadValueFromRegistry(PRINTER, "QV_AutoCfgSuccess").bytes);
    EXPECT_TRUE(ReadValueFromRegistry(PRINTER, "QV_AutoComName").present);
}

// Wine's GetGuiResources counts nothing; its GDI handle table is probed
// instead: the low 16 bits of a handle index the table, and a handle of
// that index alone names whatever object lives there.
DWORD GdiObjectCount()
{
    DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0)
        return reported;
    static bool said;
    if (!said)
        printf("GetGuiResources reports no GDI objects; probing the handle table\n");
    said = true;
    DWORD count = 0;
    for (ULONG_PTR index = 1; index < 0x10000; index++)
        if (GetObjectType((HGDIOBJ)index) != 0)
            count++;
    return count;
}

TEST_F(ConfigDialog, ObjectCountSeesALeakedBitmap)
{
    DWORD before = GdiObjectCount();
    ASSERT_GT(before, 0u);
    HBITMAP leaked[10];
    for (HBITMAP &b : leaked)
        b = LoadBitmapA(g_hInstance, MAKEINTRESOURCEA(IDB_LOGO));
    EXPECT_EQ(before + 10, GdiObjectCount());
    for (HBITMAP b : leaked)
        DeleteObject(b);
    EXPECT_EQ(before, GdiObjectCount());
}

TEST_F(ConfigDialog, AThousandPaintsLeaveTheGdiObjectCountFlat)
{
    ASSERT_NE(nullptr, Open(PRINTER));
    UpdateWindow(dialog);
    DWORD before = GdiObjectCount();
    for (int i = 0; i < 1000; i++) {
        InvalidateRect(dialog, NULL, FALSE);
        SendMessageA(dialog, WM_PAINT, 0, 0);
    }
    EXPECT_EQ(before, GdiObjectCount());
    RECT update;
    EXPECT_FALSE(GetUpdateRect(dialog, &update, FALSE));
}

}  // namespace
