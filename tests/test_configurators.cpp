// The feature configurators and their chain against real agents: snmpd with
// the four option sub-trees on 127.0.0.51, and a printer that answers its
// disk and then nothing on 127.0.0.52 (tests/agents/printer-agents.sh). What
// is written (exact bytes, in order), what is kept, and every box shown.
#include "features/configurators.h"
#include "features/query_map.h"
#include "printer/spooler.h"
#include "snmp/engine_internal.h"
#include "shell/shell.h"
#include "common/text.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char PRINTER[] = "VRTest Features";
const char SNMPD[] = "127.0.0.51";
const char DISK_ONLY[] = "127.0.0.52";
// The engine tests' agent (tests/agents/engine_agent.py): its sub-tree .30.5
// answers once, then refuses with genErr.
const char REFUSING[] = "127.0.0.44";
// A numeric IPv6 address with a scope that does not exist: the resolver
// refuses it without asking a name server.
const char UNRESOLVABLE[] = "::1%nosuchif";
const char MAP_FILE[] = "VRUnPQ.xml";
// g_timeoutMs before a test: a walk, which sets it first thing, changes it.
const int NOT_WALKED = -7;

// The dialog's fields as OK passes them to the configurators.
const QueryFields *Fields(HWND dialog)
{
    static QueryFields fields;
    ReadQueryFields(dialog, &fields);
    return &fields;
}

const char *const OPTION_VALUES[] = {"QV_AutoCfgDisk", "QV_AutoCfgFinisher",
                                     "QV_AutoCfgPunchUnit", "QV_AutoCfgCassettes"};

struct MapEntry {
    std::string name;
    std::string oid;
};
typedef std::vector<MapEntry> Map;

std::string Sub(const char *tail)
{
    return std::string("1.3.6.1.4.1.55555.10.") + tail;
}

// The four options on their sub-trees of snmpd, the RAM disk on the hard
// disk's.
Map FullMap()
{
    return {{"HardDisk", Sub("1")}, {"RAMDisk", Sub("1")}, {"3000Finisher", Sub("3")},
            {"PunchingUnit", Sub("4")}, {"CassetteTwo", Sub("5")}};
}

// name's OID replaced (or the entry dropped when oid is NULL).
Map Changed(const char *name, const char *oid)
{
    Map map;
    for (const MapEntry &e : FullMap())
        if (e.name != name)
            map.push_back(e);
        else if (oid != NULL)
            map.push_back({e.name, oid});
    return map;
}

// The hard disk and the RAM disk on one OID.
Map DiskAt(const char *oid)
{
    Map map = Changed("HardDisk", oid);
    for (MapEntry &e : map)
        if (e.name == "RAMDisk")
            e.oid = oid;
    return map;
}

std::string MapText(const Map &map)
{
    std::string text = "<?xml version='1.0'?>\r\n<Options>\r\n";
    for (const MapEntry &e : map)
        text += "  <Property name='" + e.name + "'>\r\n    <Value oid='" + e.oid +
                "'/>\r\n  </Property>\r\n";
    return text + "</Options>\r\n";
}

// The value lists of snmpd's sub-trees as the spooler gets them.
const std::vector<BYTE> DISK_LIST = Bytes("HDD\0" "80GB\0", 10);
const std::vector<BYTE> FINISHER_LIST = Bytes("3000\0", 6);
const std::vector<BYTE> PUNCH_LIST = Bytes("", 1);
const std::vector<BYTE> CASSETTE_LIST = Bytes("A4\0Letter\0", 11);
// A list an earlier run stored, as the registry holds it (UTF-16).
const std::vector<BYTE> OLD_RAW = {'o', 0, 'l', 0, 'd', 0, 0, 0, 0, 0};

const char MISMATCH_TEXT[] = "HardDisk / RAMDisk entries are not equal.\nNot supported yet.";
const char CONNECTION_TEXT[] =
    "A connection to the printer could not be established.\n"
    "Please check if the printer is switched on and connected.";

struct ExpectedBox {
    const char *caption;
    std::string text;
    bool ownedByDialog;
    const char *icon;
};
const ExpectedBox MISMATCH = {"Warning", MISMATCH_TEXT, true, "none"};
const ExpectedBox INVALID_AGENT = {"Warning", "Invalid SNMP agent ...", true, "none"};
const ExpectedBox OID_INVALID = {
    "Warning", "Failed in SnmpStrToOid( ) or SnmpMgrStrToOid( ) function ...", true, "none"};
const ExpectedBox REFUSED = {
    "Warning", "Walk incomplete: the agent answered with error status 5 (genErr) ...", true,
    "none"};
const ExpectedBox CONNECTION = {"Warning", CONNECTION_TEXT, false, "error"};
ExpectedBox LookupError(const char *text)
{
    return {"Error", text, false, "none"};
}
// The map beside the test program could not be read.
ExpectedBox MapMissing()
{
    return {"Error", "Query map missing or unreadable:\n" + ProgramDirectory() + MAP_FILE, false,
            "none"};
}
// The printer did not take an option's values: an account that may not
// manage it, or the system's words for another error.
const char NOT_STORED_HEAD[] = "The detected options could not be stored for this printer.\n";
const char NOT_STORED_TAIL[] = "\nPlease ask your administrator to run the auto configuration for you.";
const ExpectedBox NOT_STORED_DENIED = {
    "Warning",
    std::string(NOT_STORED_HEAD) + "This user account may not manage the printer." + NOT_STORED_TAIL,
    true, "error"};
// The system's words for an error, as a box shows them: one line.
std::string SystemText(DWORD error)
{
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error,
                             0, text, sizeof(text), NULL);
    std::string words(text, n);
    return words.substr(0, words.find_last_not_of("\r\n ") + 1);
}
ExpectedBox NotStoredDiskFull()
{
    return {"Warning", NOT_STORED_HEAD + SystemText(ERROR_DISK_FULL) + NOT_STORED_TAIL, true,
            "error"};
}

// How the spooler refuses the program's writes in a row of the chain's table.
enum Refusal { REFUSE_NOTHING, REFUSE_ADMINISTER_OPEN, REFUSE_PUNCH_UNIT_WRITE };
Refusal g_refusal;
BOOL (WINAPI *g_nextOpenPrinter)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
DWORD (WINAPI *g_nextSetPrinterData)(HANDLE, LPSTR, DWORD, LPBYTE, DWORD);

// An account that may print but not manage the printer.
BOOL WINAPI RefusingOpenPrinter(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults)
{
    if (g_refusal == REFUSE_ADMINISTER_OPEN && defaults != NULL &&
        (defaults->DesiredAccess & PRINTER_ACCESS_ADMINISTER)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_nextOpenPrinter(name, printer, defaults);
}

// A spooler that takes the disk's and the finisher's values, then not the
// punch unit's (the third option value).
DWORD WINAPI RefusingSetPrinterData(HANDLE printer, LPSTR name, DWORD type, LPBYTE data,
                                    DWORD size)
{
    if (g_refusal == REFUSE_PUNCH_UNIT_WRITE && strcmp(name, "QV_AutoCfgPunchUnit") == 0)
        return ERROR_DISK_FULL;
    return g_nextSetPrinterData(printer, name, type, data, size);
}

// The configurators the chain ran, in order.
void RecordRun(int option, int, const ConfiguratorResult *, void *context)
{
    ((std::vector<int> *)context)->push_back(option);
}

class Configurators : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_hInstance = GetModuleHandleA(NULL);
        if (!OptionsAgentAvailable(&unavailable) && unavailable.empty())
            unavailable = "(no reason given)";
    }
    void SetUp() override
    {
        if (!unavailable.empty())
            GTEST_SKIP() << "options agents unavailable: " << unavailable;
        CopyText(g_printerName, COUNTOF(g_printerName), PRINTER);
        DeleteAllValues(PRINTER);
        dialog = CreateConfigTemplateDialog();
        ASSERT_NE(nullptr, dialog);
        g_hDialog = dialog;
        SetQueryFields(dialog, SNMPD, "public", "2");
        g_snmpFailed = 0;
        g_timeoutMs = NOT_WALKED;
        ReleaseQueryMap();
        DeleteProgramFile(MAP_FILE);
        // Over the write recorder: a refused write is not recorded.
        saved = g_spoolerCalls;
        g_refusal = REFUSE_NOTHING;
        g_nextOpenPrinter = g_spoolerCalls.openPrinter;
        g_nextSetPrinterData = g_spoolerCalls.setPrinterData;
        g_spoolerCalls.openPrinter = RefusingOpenPrinter;
        g_spoolerCalls.setPrinterData = RefusingSetPrinterData;
    }
    void TearDown() override
    {
        g_spoolerCalls = saved;
        g_refusal = REFUSE_NOTHING;
        if (dialog != NULL)
            DestroyWindow(dialog);
        g_hDialog = NULL;
        DeleteProgramFile(MAP_FILE);
        DeleteAllValues(PRINTER);
    }
    void WriteMap(const Map &map)
    {
        ASSERT_TRUE(WriteProgramFile(MAP_FILE, MapText(map)));
    }
    void StoreOldValues()
    {
        for (const char *name : OPTION_VALUES)
            ASSERT_TRUE(WriteValueToRegistry(PRINTER, name, REG_MULTI_SZ, OLD_RAW.data(),
                                             (DWORD)OLD_RAW.size()));
    }
    void ExpectKept(const char *name)
    {
        StoredValue v = ReadValueFromRegistry(PRINTER, name);
        EXPECT_TRUE(v.present && v.type == REG_MULTI_SZ && v.bytes == OLD_RAW)
            << name << " was overwritten: " << HexBytes(v.bytes);
    }
    void ExpectStoredList(const char *name, const std::vector<BYTE> &list)
    {
        ExpectStored(writes, PRINTER, name, REG_MULTI_SZ, list);
    }
    void ExpectBoxes(const std::vector<ExpectedBox> &expected)
    {
        ASSERT_EQ(expected.size(), boxes.Count());
        for (size_t i = 0; i < expected.size(); i++) {
            const RecordedBox &b = boxes.Boxes()[i];
            EXPECT_EQ(expected[i].caption, b.caption) << Describe(b);
            EXPECT_EQ(expected[i].text, b.text) << Describe(b);
            EXPECT_EQ(expected[i].ownedByDialog ? dialog : NULL, b.owner) << Describe(b);
            EXPECT_EQ(expected[i].icon, b.icon) << Describe(b);
            EXPECT_EQ(std::vector<int>{IDOK}, b.buttons) << Describe(b);
        }
    }
    // After the chain: the flag and the two settings, as the dialog held them.
    void ExpectChainEnd(BYTE flag, const char *timeout)
    {
        ExpectStored(writes, PRINTER, "QV_AutoCfgSuccess", REG_BINARY, {flag});
        ExpectStored(writes, PRINTER, "QV_AutoComName", REG_SZ, Bytes("public", 6));
        ExpectStored(writes, PRINTER, "QV_AutoTimeOut", REG_SZ, Bytes(timeout, strlen(timeout)));
        EXPECT_EQ(nullptr, g_queryMap);
    }

    static std::string unavailable;
    HWND dialog = NULL;
    BoxRecorder boxes;
    SpoolerWriteRecorder writes;
    SpoolerCalls saved;
};

std::string Configurators::unavailable;

}  // namespace

TEST_F(Configurators, AllFourAnswerListsInOrderThenFlagOneThenSettings)
{
    WriteMap(FullMap());
    EXPECT_EQ(1, RunConfigurationChain(dialog, Fields(dialog), NULL, NULL));
    EXPECT_EQ((std::vector<std::string>{"QV_AutoCfgSuccess", "QV_AutoCfgDisk",
                                        "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit",
                                        "QV_AutoCfgCassettes", "QV_AutoCfgSuccess",
                                        "QV_AutoComName", "QV_AutoTimeOut"}),
              writes.Names());
    ExpectStoredList("QV_AutoCfgDisk", DISK_LIST);
    ExpectStoredList("QV_AutoCfgFinisher", FINISHER_LIST);
    ExpectStoredList("QV_AutoCfgPunchUnit", PUNCH_LIST);  // integers only: the empty list
    ExpectStoredList("QV_AutoCfgCassettes", CASSETTE_LIST);
    ExpectChainEnd(1, "2");
    ExpectBoxes({});
}

TEST_F(Configurators, DiskWarnsOnceWhenTheRamDiskDiffersAndWalksTheHardDisk)
{
    struct Case {
        const char *label;
        Map map;
        std::vector<ExpectedBox> boxes;
    } cases[] = {
        {"RAM disk elsewhere", Changed("RAMDisk", Sub("2").c_str()), {MISMATCH}},
        {"RAM disk missing", Changed("RAMDisk", NULL),
         {LookupError("pEntryStart - Nullpointer"), MISMATCH}},
        {"RAM disk too long", Changed("RAMDisk", std::string(64, '1').c_str()),
         {LookupError("wrong szOID"), MISMATCH}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        boxes.Clear();
        writes.Clear();
        WriteMap(c.map);
        EXPECT_EQ(1, ConfigureDisk(dialog, Fields(dialog)));
        ExpectBoxes(c.boxes);
        EXPECT_EQ(std::vector<std::string>{"QV_AutoCfgDisk"}, writes.Names());
        ExpectStoredList("QV_AutoCfgDisk", DISK_LIST);
        EXPECT_EQ(nullptr, g_queryMap);
    }
}

TEST_F(Configurators, FailedLookupOrUnfinishedWalkWritesNothingAndKeepsTheStoredValue)
{
    struct Case {
        const char *label;
        bool mapPresent;
        Map map;
        const char *address;
        std::vector<ExpectedBox> boxes;
        bool walked;
    } cases[] = {
        {"no map file", false, {}, SNMPD, {MapMissing()}, false},
        {"hard disk missing", true, Changed("HardDisk", NULL), SNMPD,
         {LookupError("pEntryStart - Nullpointer")}, false},
        {"hard disk too long", true, Changed("HardDisk", std::string(64, '1').c_str()), SNMPD,
         {LookupError("wrong szOID")}, false},
        {"hard disk OID empty", true, DiskAt(""), SNMPD, {OID_INVALID}, true},
        {"agent refuses: genErr", true, DiskAt("1.3.6.1.4.1.55555.30.5"), REFUSING, {REFUSED},
         true},
        {"address not resolved", true, FullMap(), UNRESOLVABLE, {INVALID_AGENT}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        boxes.Clear();
        writes.Clear();
        g_timeoutMs = NOT_WALKED;
        StoreOldValues();
        DeleteProgramFile(MAP_FILE);
        if (c.mapPresent)
            WriteMap(c.map);
        SetQueryFields(dialog, c.address, "public", "2");
        EXPECT_EQ(0, ConfigureDisk(dialog, Fields(dialog)));
        ExpectBoxes(c.boxes);
        EXPECT_EQ(c.walked, g_timeoutMs != NOT_WALKED);
        EXPECT_EQ(0, g_snmpFailed);  // the unfinished walk failed without an exchange
        EXPECT_TRUE(writes.Writes().empty()) << writes.Names().size() << " values written";
        ExpectKept("QV_AutoCfgDisk");
        EXPECT_EQ(nullptr, g_queryMap);
    }
}

TEST_F(Configurators, ChainStopsAtTheFirstFailureWritesFlagZeroAndSavesTheSettings)
{
    struct Case {
        const char *label;
        bool mapPresent;
        const char *address;
        const char *timeout;
        Refusal refusal;
        std::vector<ExpectedBox> boxes;
        std::vector<std::string> stored;    // option values stored, in order
        std::vector<int> ran;               // configurators run
    } cases[] = {
        {"no map file: said", false, SNMPD, "2", REFUSE_NOTHING, {MapMissing()}, {}, {0}},
        {"address not resolved", true, UNRESOLVABLE, "2", REFUSE_NOTHING, {INVALID_AGENT}, {},
         {0}},
        // The disk answers, the finisher's walk times out after 1 s and 3 retries.
        {"second walk unanswered", true, DISK_ONLY, "1", REFUSE_NOTHING, {CONNECTION},
         {"QV_AutoCfgDisk"}, {0, 1}},
        // Nothing at all can be written: not even the flag or the settings.
        {"open for writing denied", true, SNMPD, "2", REFUSE_ADMINISTER_OPEN,
         {NOT_STORED_DENIED}, {}, {0}},
        {"punch unit's value refused", true, SNMPD, "2", REFUSE_PUNCH_UNIT_WRITE,
         {NotStoredDiskFull()}, {"QV_AutoCfgDisk", "QV_AutoCfgFinisher"}, {0, 1, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        boxes.Clear();
        writes.Clear();
        g_snmpFailed = 0;
        DeleteAllValues(PRINTER);
        StoreOldValues();
        DeleteProgramFile(MAP_FILE);
        if (c.mapPresent)
            WriteMap(FullMap());
        SetQueryFields(dialog, c.address, "public", c.timeout);
        g_refusal = c.refusal;
        std::vector<int> ran;
        EXPECT_EQ(0, RunConfigurationChain(dialog, Fields(dialog), RecordRun, &ran));
        g_refusal = REFUSE_NOTHING;
        ExpectBoxes(c.boxes);
        EXPECT_EQ(c.ran, ran);
        std::vector<std::string> names = {"QV_AutoCfgSuccess"};
        names.insert(names.end(), c.stored.begin(), c.stored.end());
        names.insert(names.end(), {"QV_AutoCfgSuccess", "QV_AutoComName", "QV_AutoTimeOut"});
        if (c.refusal == REFUSE_ADMINISTER_OPEN) {
            EXPECT_TRUE(writes.Writes().empty()) << writes.Names().size() << " values written";
            EXPECT_FALSE(ReadValueFromRegistry(PRINTER, "QV_AutoCfgSuccess").present);
        } else {
            EXPECT_EQ(names, writes.Names());
            ExpectChainEnd(0, c.timeout);
        }
        const std::vector<BYTE> lists[] = {c.address == DISK_ONLY ? Bytes("HDD-52\0", 8) : DISK_LIST,
                                           FINISHER_LIST};
        for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
            if ((size_t)option < c.stored.size())
                ExpectStoredList(OPTION_VALUES[option], lists[option]);
            else
                ExpectKept(OPTION_VALUES[option]);
        }
        EXPECT_EQ(nullptr, g_queryMap);
    }
}

TEST_F(Configurators, TimeOutFieldReachesTheWalkAsSecondsFromItsFirstTwoCharacters)
{
    struct Case {
        const char *field;
        int timeoutMs;
    } cases[] = {{"12", 12000}, {"", 0}, {"123", 12000}, {"7x", 7000}};
    WriteMap(FullMap());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        boxes.Clear();
        g_timeoutMs = NOT_WALKED;
        SetQueryFields(dialog, UNRESOLVABLE, "public", c.field);
        EXPECT_EQ(0, ConfigureFinisher(dialog, Fields(dialog)));
        EXPECT_EQ(c.timeoutMs, g_timeoutMs);
        ExpectBoxes({INVALID_AGENT});
    }
}

TEST_F(Configurators, AddressFieldIsCutTo63CharactersForTheWalk)
{
    // Read while the walk's "Invalid SNMP agent ..." box is open: the
    // engine's copy of the address is released only after it.
    std::string address = std::string(UNRESOLVABLE) + std::string(70 - strlen(UNRESOLVABLE), 'x');
    std::string walked;
    boxes.WhileOpen([&](const RecordedBox &) { walked = g_agentText ? g_agentText : "(none)"; });
    WriteMap(FullMap());
    SetQueryFields(dialog, address.c_str(), "public", "2");
    EXPECT_EQ(0, ConfigureCassettes(dialog, Fields(dialog)));
    ExpectBoxes({INVALID_AGENT});
    EXPECT_EQ(address.substr(0, 63), walked);
}

TEST(QueryFields, FieldsAreReadIntoTheirSizesAndTheTimeOutConverted)
{
    HWND dialog = CreateConfigTemplateDialog();
    ASSERT_NE(nullptr, dialog);
    std::string seventy(70, 'a');
    SetQueryFields(dialog, seventy.c_str(), (seventy + "c").c_str(), " 9");
    QueryFields fields;
    memset(&fields, 'G', sizeof(fields));
    ReadQueryFields(dialog, &fields);
    EXPECT_EQ(std::string(63, 'a'), fields.address);
    EXPECT_EQ(std::string(63, 'a'), fields.community);
    EXPECT_STREQ(" 9", fields.timeoutText);
    EXPECT_EQ(9, fields.timeoutSeconds);
    DestroyWindow(dialog);
}

TEST(QueryFields, TimeOutTextConvertsAsAtoiDoes)
{
    struct Case {
        const char *text;
        int seconds;
    } cases[] = {
        {"12", 12}, {"", 0},   {"0", 0},     {" \t7", 7},  {"-3", -3}, {"+5", 5},
        {"4x", 4},  {"x4", 0}, {"-", 0},     {"- 3", 0},   {"08", 8},  {"99999999999", INT_MAX},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.seconds, ConvertTimeoutText(c.text)) << "\"" << c.text << "\"";
}
