// The printer data values against Wine's real spooler and registry: names,
// types and exact bytes written, defaults for absent and over-long values,
// and a printer that cannot be opened.
#include "printer/printer_data.h"
#include "printer/spooler.h"
#include "features/configurators.h"
#include "shell/shell.h"
#include "common/text.h"
#include "snmp/snmp_engine.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

const char PRINTER[] = "VRTest Data";

void ClearValueTable()
{
    memset(g_snmpValues, 0, sizeof(g_snmpValues));
}

class PrinterData : public ::testing::Test {
protected:
    void SetUp() override
    {
        CopyText(g_printerName, COUNTOF(g_printerName), PRINTER);
        DeleteAllValues(PRINTER);
        ClearValueTable();
        saved = g_spoolerCalls;
    }
    void TearDown() override
    {
        g_spoolerCalls = saved;
        DeleteAllValues(PRINTER);
        ClearValueTable();
    }
    void ExpectStored(const char *name, DWORD type, const std::vector<BYTE> &bytes)
    {
        ::ExpectStored(writes, PRINTER, name, type, bytes);
    }

    SpoolerWriteRecorder writes;
    SpoolerCalls saved;
};

// A dialog with the two setting fields, made from an in-memory template.
HWND MakeSettingsDialog(const char *community, const char *timeout)
{
    HWND dialog = CreateWindowExA(0, "#32770", "settings", WS_POPUP, 0, 0, 100, 100, NULL, NULL,
                                  NULL, NULL);
    HWND c = CreateWindowExA(0, "EDIT", community, WS_CHILD, 0, 0, 50, 10, dialog, (HMENU)1009,
                             NULL, NULL);
    HWND t = CreateWindowExA(0, "EDIT", timeout, WS_CHILD, 0, 0, 50, 10, dialog, (HMENU)1013,
                             NULL, NULL);
    return (dialog && c && t) ? dialog : NULL;
}

// The settings as the dialog's OK stores them: its fields read, then saved.
int SaveSettingsFrom(HWND dialog)
{
    QueryFields fields;
    ReadQueryFields(dialog, &fields);
    return SaveStoredSettings(fields.community, fields.timeoutText);
}

// A replacement for SetPrinterDataA that refuses, as a spooler does for a
// value it cannot store.
DWORD WINAPI RefusingSetPrinterData(HANDLE, LPSTR, DWORD, LPBYTE, DWORD)
{
    return ERROR_ACCESS_DENIED;
}

// The error a refused open leaves; a spooler may leave none at all.
DWORD g_refusalError = ERROR_ACCESS_DENIED;

BOOL WINAPI RefusingOpenPrinter(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults)
{
    if (defaults != NULL && (defaults->DesiredAccess & PRINTER_ACCESS_ADMINISTER)) {
        SetLastError(g_refusalError);
        return FALSE;
    }
    return OpenPrinterA(name, printer, defaults);
}

}  // namespace

TEST_F(PrinterData, ValueListHoldsTheTextsUpToTheFirstEmptySlot)
{
    CopyText(g_snmpValues[0], SNMP_VALUE_SIZE, "A");
    CopyText(g_snmpValues[1], SNMP_VALUE_SIZE, "BC");
    CopyText(g_snmpValues[2], SNMP_VALUE_SIZE, "D");
    CopyText(g_snmpValues[4], SNMP_VALUE_SIZE, "after the gap");
    EXPECT_EQ(1, WriteAutoCfgValue("QV_AutoCfgDisk", 1));
    ExpectStored("QV_AutoCfgDisk", REG_MULTI_SZ, Bytes("A\0BC\0D\0\0", 8));
}

TEST_F(PrinterData, EmptyValueTableIsOneNulByte)
{
    const char *names[] = {"QV_AutoCfgDisk", "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit",
                           "QV_AutoCfgCassettes"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(1, WriteAutoCfgValue(name, 0));
        ExpectStored(name, REG_MULTI_SZ, Bytes("\0", 1));
    }
}

TEST_F(PrinterData, SixteenLongestTextsTake1025Bytes)
{
    std::string expected;
    for (int slot = 0; slot < SNMP_VALUE_SLOTS; slot++) {
        std::string text(63, (char)('a' + slot));
        CopyText(g_snmpValues[slot], SNMP_VALUE_SIZE, text.c_str());
        expected += text;
        expected += '\0';
    }
    expected += '\0';
    ASSERT_EQ(1025u, expected.size());
    char list[2048];
    EXPECT_EQ(1025u, BuildValueList(list, sizeof(list)));
    EXPECT_EQ(1, WriteAutoCfgValue("QV_AutoCfgCassettes", 1));
    ExpectStored("QV_AutoCfgCassettes", REG_MULTI_SZ, Bytes(expected.data(), expected.size()));
}

TEST_F(PrinterData, SuccessFlagIsExactlyOneBinaryByte)
{
    struct { int flag; BYTE stored; } cases[] = {{1, 1}, {0, 0}, {0x101, 1}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.flag);
        CopyText(g_snmpValues[0], SNMP_VALUE_SIZE, "ignored");
        EXPECT_EQ(1, WriteAutoCfgValue("QV_AutoCfgSuccess", c.flag));
        ExpectStored("QV_AutoCfgSuccess", REG_BINARY, std::vector<BYTE>{c.stored});
    }
}

TEST_F(PrinterData, SettingsAreStoredAsTextWithoutTheirNul)
{
    HWND dialog = MakeSettingsDialog("public", "12");
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(1, SaveSettingsFrom(dialog));
    ExpectStored("QV_AutoComName", REG_SZ, Bytes("public", 6));
    ExpectStored("QV_AutoTimeOut", REG_SZ, Bytes("12", 2));

    // Read back at the next start: the stored texts win over the defaults.
    char community[64] = "from the port";
    char timeout[TIMEOUT_TEXT_SIZE] = "6";
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("public", community);
    EXPECT_STREQ("12", timeout);
    DestroyWindow(dialog);
}

TEST_F(PrinterData, EmptyFieldsAreStoredEmptyAndReadBackEmpty)
{
    HWND dialog = MakeSettingsDialog("", "");
    ASSERT_NE(nullptr, dialog);
    SaveSettingsFrom(dialog);
    ASSERT_EQ(2u, writes.Writes().size());
    EXPECT_EQ("QV_AutoComName", writes.Writes()[0].name);
    EXPECT_EQ((DWORD)REG_SZ, writes.Writes()[0].type);
    EXPECT_EQ(0u, writes.Writes()[0].bytes.size());
    EXPECT_EQ("QV_AutoTimeOut", writes.Writes()[1].name);
    EXPECT_EQ(0u, writes.Writes()[1].bytes.size());
    EXPECT_TRUE(ReadValueFromRegistry(PRINTER, "QV_AutoComName").present);
    EXPECT_TRUE(ReadValueFromRegistry(PRINTER, "QV_AutoTimeOut").present);

    // An empty stored community wins over the port's one and over "qomtan";
    // an empty stored time-out wins over "6".
    char communityText[64] = "from the port";
    char timeoutText[TIMEOUT_TEXT_SIZE] = "6";
    ReadStoredSettings(communityText, timeoutText);
    EXPECT_STREQ("", communityText);
    EXPECT_STREQ("", timeoutText);
    DestroyWindow(dialog);
}

TEST_F(PrinterData, AbsentSettingsGiveTheDefaults)
{
    char community[64] = "";
    char timeout[TIMEOUT_TEXT_SIZE] = "6";
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("qomtan", community);
    EXPECT_STREQ("6", timeout);

    char portCommunity[64] = "port";
    ReadStoredSettings(portCommunity, timeout);
    EXPECT_STREQ("port", portCommunity);
}

TEST_F(PrinterData, OverLongOrForeignStoredValues)
{
    // Three bytes are a time-out of two digits and its NUL; four are too long.
    ASSERT_TRUE(WriteValueToRegistry(PRINTER, "QV_AutoTimeOut", REG_BINARY, "42\0", 3));
    char community[64] = "";
    char timeout[TIMEOUT_TEXT_SIZE] = "6";
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("42", timeout);
    ASSERT_TRUE(WriteValueToRegistry(PRINTER, "QV_AutoTimeOut", REG_BINARY, "123\0", 4));
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("6", timeout);
    ASSERT_TRUE(WriteValueToRegistry(PRINTER, "QV_AutoTimeOut", REG_BINARY, "987", 3));
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("987", timeout);

    // A community of another type is taken byte for byte as text.
    DWORD number = 0x00636261;  // "abc" and a NUL
    ASSERT_TRUE(WriteValueToRegistry(PRINTER, "QV_AutoComName", REG_DWORD, &number, 4));
    CopyText(community, sizeof(community), "port");
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("abc", community);

    // 64 bytes without a NUL: the first 63 are taken, the terminator stays
    // inside the buffer; 65 bytes count as absent.
    std::string text64(64, 'x');
    ASSERT_TRUE(WriteValueToRegistry(PRINTER, "QV_AutoComName", REG_BINARY, text64.data(), 64));
    struct {
        char community[64];
        char guard[8];
    } guarded;
    memset(&guarded, 'G', sizeof(guarded));
    guarded.community[0] = '\0';
    ReadStoredSettings(guarded.community, timeout);
    EXPECT_EQ(std::string(63, 'x'), std::string(guarded.community));
    EXPECT_EQ(std::string(8, 'G'), std::string(guarded.guard, 8));

    std::string text65(65, 'y');
    ASSERT_TRUE(WriteValueToRegistry(PRINTER, "QV_AutoComName", REG_BINARY, text65.data(), 65));
    CopyText(community, sizeof(community), "");
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("qomtan", community);
}

TEST_F(PrinterData, PrinterThatCannotBeOpenedWritesAndChangesNothing)
{
    CopyText(g_printerName, COUNTOF(g_printerName), "VRTest No Such Printer");
    EXPECT_EQ(0, WriteAutoCfgValue("QV_AutoCfgSuccess", 1));
    EXPECT_EQ(0, WriteAutoCfgValue("QV_AutoCfgDisk", 1));
    HWND dialog = MakeSettingsDialog("public", "9");
    EXPECT_EQ(0, SaveSettingsFrom(dialog));
    DestroyWindow(dialog);

    char community[64] = "";
    char timeout[TIMEOUT_TEXT_SIZE] = "6";
    ReadStoredSettings(community, timeout);
    EXPECT_STREQ("", community);  // "qomtan" comes only from an opened printer
    EXPECT_STREQ("6", timeout);
}

TEST_F(PrinterData, RefusedAccessOrRefusedWriteIsReportedAsFailure)
{
    g_spoolerCalls.openPrinter = RefusingOpenPrinter;
    for (DWORD error : {(DWORD)ERROR_ACCESS_DENIED, (DWORD)ERROR_SUCCESS}) {
        SCOPED_TRACE(error);
        g_refusalError = error;
        EXPECT_EQ(0, WriteAutoCfgValue("QV_AutoCfgSuccess", 1));
        EXPECT_NE((DWORD)ERROR_SUCCESS, StoreAutoCfgValue("QV_AutoCfgDisk", 1));
        EXPECT_FALSE(ReadValueFromRegistry(PRINTER, "QV_AutoCfgSuccess").present);
    }
    g_refusalError = ERROR_ACCESS_DENIED;

    g_spoolerCalls.openPrinter = saved.openPrinter;
    g_spoolerCalls.setPrinterData = RefusingSetPrinterData;
    EXPECT_EQ(0, WriteAutoCfgValue("QV_AutoCfgDisk", 1));
    HWND dialog = MakeSettingsDialog("public", "9");
    EXPECT_EQ(0, SaveSettingsFrom(dialog));
    DestroyWindow(dialog);
    EXPECT_FALSE(ReadValueFromRegistry(PRINTER, "QV_AutoCfgDisk").present);
    EXPECT_FALSE(ReadValueFromRegistry(PRINTER, "QV_AutoComName").present);
}
