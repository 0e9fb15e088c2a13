// The printer's address and community from its port, against Wine's real
// spooler and registry: the port monitor source (through our stand-in
// monitor, tests/monitor) and the cluster registry source. The two in the
// order the dialog uses them: the dialog's start in test_dialog.
#include "printer/port_address.h"
#include "printer/port_records.h"
#include "printer/spooler.h"
#include "shell/shell.h"
#include "common/text.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const char PORTS_PATH[] = "\\Parameters\\Monitors\\Standard TCP/IP Port\\Ports\\";
// The long printer's port name, and what a transceive name cut to 259
// characters keeps of it (ports.reg configures the cut name).
const size_t LONG_PORT_LENGTH = 255;
const size_t CUT_PORT_LENGTH = 259 - 9;

// Expected texts; UNTOUCHED: the buffer keeps what it held.
const char *const UNTOUCHED = "<untouched>";

// The caller's two 64-byte buffers, marked beforehand so that a test can
// tell whether they were written; a written text must end within them.
struct Outputs {
    char address[SHORT_TEXT_SIZE];
    char community[SHORT_TEXT_SIZE];
    char before[SHORT_TEXT_SIZE];

    Outputs()
    {
        memset(before, 0x5A, sizeof(before));
        CopyText(before, sizeof(before), "untouched");
        memcpy(address, before, sizeof(before));
        memcpy(community, before, sizeof(before));
    }
    bool AddressUntouched() const { return memcmp(address, before, sizeof(before)) == 0; }
    bool CommunityUntouched() const { return memcmp(community, before, sizeof(before)) == 0; }
    std::string Address() const { return AddressUntouched() ? UNTOUCHED : Text(address); }
    std::string Community() const { return CommunityUntouched() ? UNTOUCHED : Text(community); }
    static std::string Text(const char *buffer)
    {
        return memchr(buffer, '\0', SHORT_TEXT_SIZE) ? buffer : "<no terminator>";
    }
};

void UsePrinter(const char *printer)
{
    CopyText(g_printerName, COUNTOF(g_printerName), printer);
}

// ---- the spooler and registry calls, watched --------------------------------

std::vector<std::string> g_calls;       // what the sources called, in order
std::set<HANDLE> g_openPrinters;        // printer handles opened and not closed
std::set<HKEY> g_openKeys;              // registry keys opened and not closed
std::vector<BYTE> g_request;            // the transceive request as handed over
int g_closeOfUnknownHandles;

BOOL WINAPI WatchedOpenPrinter(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults)
{
    BOOL ok = OpenPrinterA(name, printer, defaults);
    std::string call = std::string("open ") + name;
    if (defaults)
        call += " access " + std::to_string(defaults->DesiredAccess) +
                (defaults->pDatatype || defaults->pDevMode ? " with data" : "");
    g_calls.push_back(call + (ok ? "" : " failed"));
    if (ok)
        g_openPrinters.insert(*printer);
    return ok;
}

BOOL WINAPI WatchedClosePrinter(HANDLE printer)
{
    g_calls.push_back("close");
    if (g_openPrinters.erase(printer) == 0)
        g_closeOfUnknownHandles++;
    return ClosePrinter(printer);
}

BOOL WINAPI WatchedGetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                              LPDWORD needed)
{
    g_calls.push_back("get level " + std::to_string(level) + " size " +
                      (buffer ? "N" : std::to_string(size)));
    return GetPrinterA(printer, level, buffer, size, needed);
}

BOOL WINAPI WatchedXcvData(HANDLE xcv, PCWSTR dataName, PBYTE input, DWORD inputSize,
                           PBYTE output, DWORD outputSize, PDWORD needed, PDWORD status)
{
    char name[64];
    WideCharToMultiByte(CP_ACP, 0, dataName, -1, name, sizeof(name), NULL, NULL);
    g_calls.push_back(std::string("xcv ") + name + " in " + std::to_string(inputSize) +
                      " out " + std::to_string(outputSize));
    g_request.assign(input, input + inputSize);
    return XcvDataW(xcv, dataName, input, inputSize, output, outputSize, needed, status);
}

LONG WINAPI WatchedOpenKey(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    LONG status = RegOpenKeyExA(key, subKey, options, access, result);
    g_calls.push_back(std::string("open key ") + (key == HKEY_LOCAL_MACHINE ? "HKLM\\" : "") +
                      subKey + (access == KEY_READ ? "" : " not KEY_READ") +
                      (status == ERROR_SUCCESS ? "" : " failed"));
    if (status == ERROR_SUCCESS)
        g_openKeys.insert(*result);
    return status;
}

LONG WINAPI WatchedEnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                           LPDWORD reserved, LPSTR className, LPDWORD classSize,
                           PFILETIME lastWrite)
{
    g_calls.push_back("enum " + std::to_string(index) + " size " + std::to_string(*nameSize));
    return RegEnumKeyExA(key, index, name, nameSize, reserved, className, classSize, lastWrite);
}

LONG WINAPI WatchedQueryValue(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                              LPBYTE data, LPDWORD dataSize)
{
    g_calls.push_back(std::string("read ") + valueName + " size " + std::to_string(*dataSize));
    return RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
}

LONG WINAPI WatchedCloseKey(HKEY key)
{
    g_calls.push_back("close key");
    if (g_openKeys.erase(key) == 0)
        g_closeOfUnknownHandles++;
    return RegCloseKey(key);
}

// Failures the real spooler and registry will not give on request.
BOOL WINAPI GetPrinterKnowsNoSize(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD needed)
{
    *needed = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI GetPrinterFailsToFill(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                                  LPDWORD needed)
{
    if (buffer == NULL)
        return GetPrinterA(printer, level, buffer, size, needed);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}

// The information of a printer whose port name is not there.
BOOL WINAPI GetPrinterWithoutPort(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                                  LPDWORD needed)
{
    BOOL ok = GetPrinterA(printer, level, buffer, size, needed);
    if (ok && buffer)
        ((PRINTER_INFO_2A *)buffer)->pPortName = NULL;
    return ok;
}

BOOL WINAPI XcvDataFails(HANDLE, PCWSTR, PBYTE, DWORD, PBYTE output, DWORD outputSize, PDWORD,
                         PDWORD)
{
    memset(output, 0x33, outputSize);  // a failed call's reply is not to be read
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return FALSE;
}

LONG WINAPI MachineRootWillNotOpen(HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                                   PHKEY result)
{
    if (key == HKEY_LOCAL_MACHINE && subKey[0] == '\0')
        return ERROR_ACCESS_DENIED;
    return WatchedOpenKey(key, subKey, options, access, result);
}

// Every test: the calls watched, nothing shown, every handle and key given
// back, and the real calls restored afterwards.
class PortSources : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedSpooler = g_spoolerCalls;
        savedRegistry = g_registryCalls;
        g_spoolerCalls.openPrinter = WatchedOpenPrinter;
        g_spoolerCalls.closePrinter = WatchedClosePrinter;
        g_spoolerCalls.getPrinter = WatchedGetPrinter;
        g_spoolerCalls.xcvData = WatchedXcvData;
        g_registryCalls = {WatchedOpenKey, WatchedEnumKey, WatchedQueryValue, WatchedCloseKey};
        g_calls.clear();
        g_openPrinters.clear();
        g_openKeys.clear();
        g_request.clear();
        g_closeOfUnknownHandles = 0;
    }
    void TearDown() override
    {
        g_spoolerCalls = savedSpooler;
        g_registryCalls = savedRegistry;
        EXPECT_EQ(0u, boxes.Count()) << "the port sources show nothing";
        EXPECT_TRUE(g_openPrinters.empty()) << "a printer handle was left open";
        EXPECT_TRUE(g_openKeys.empty()) << "a registry key was left open";
        EXPECT_EQ(0, g_closeOfUnknownHandles) << "a handle was closed twice or never opened";
        for (const std::string &key : createdKeys)
            DeleteMachineKey(key);
    }
    // The cluster source as the dialog calls it: the printer opened with
    // default access, its handle handed over.
    int AskCluster(const char *printer, Outputs &out)
    {
        UsePrinter(printer);
        HANDLE handle = NULL;
        if (!OpenPrinterForReading(&handle))
            ADD_FAILURE() << printer << " does not open";
        return GetPortAddressFromCluster(out.address, out.community, handle);
    }
    int AskMonitor(const char *printer, Outputs &out)
    {
        UsePrinter(printer);
        return GetPortAddressFromMonitor(out.address, sizeof(out.address), out.community,
                                         sizeof(out.community));
    }
    // Keys below HKEY_LOCAL_MACHINE that this test creates; removed again
    // with everything below them.
    void Create(const std::string &path, const std::vector<RegValue> &values = {})
    {
        std::string top = path.substr(0, path.find('\\'));
        if (std::find(createdKeys.begin(), createdKeys.end(), top) == createdKeys.end())
            createdKeys.push_back(top);
        ASSERT_TRUE(CreateMachineKey(path, values)) << path;
    }

    BoxRecorder boxes;
    SpoolerCalls savedSpooler;
    RegistryCalls savedRegistry;
    std::vector<std::string> createdKeys;
};

// ---- the port monitor source ------------------------------------------------

struct MonitorCase {
    const char *label;
    const char *printer;
    int result;
    const char *address;
    const char *community;
};

class MonitorSource : public PortSources {};

TEST_F(MonitorSource, AnswersOfTheMonitorByPort)
{
    const MonitorCase cases[] = {
        {"host name port", "VRPort Host", 1, "printer-7.example.test", "host-community"},
        {"IP address port", "VRPort IP", 1, "192.0.2.17", "ip-community"},
        // The reply's IP-address field says 198.51.100.7: never read.
        {"other text in the IP field", "VRPort Mixed", 1, "192.0.2.20", "mixed-community"},
        {"empty community", "VRPort Empty Community", 1, "192.0.2.30", ""},
        {"48 and 32 characters fit", "VRPort Wide", 1,
         "hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh.tst", "cccccccccccccccccccccccccccccccc"},
        {"Wine's FILE: port declines in its status", "VRPort File", 1, "", ""},
        {"our monitor declines in its status", "VRPort Declines", 1, "", ""},
        {"monitor fails the command", "VRPort Fails", 1, "", ""},
        {"monitor refuses the transceive open", "VRPort Refuses", 0, UNTOUCHED, UNTOUCHED},
        {"port no monitor knows", "VRPort Unknown", 0, UNTOUCHED, UNTOUCHED},
        {"printer not installed", "VRPort Not Installed", 0, UNTOUCHED, UNTOUCHED},
        {"transceive name cut to 259", "VRPort Long", 1, "cut-name.example.test", "cut-name"},
        {"pooled ports asked as one name", "VRPort Pooled", 1, "pooled.example.test", "pooled"},
    };
    for (const MonitorCase &c : cases) {
        SCOPED_TRACE(c.label);
        Outputs out;
        EXPECT_EQ(c.result, AskMonitor(c.printer, out));
        EXPECT_EQ(c.address, out.Address());
        EXPECT_EQ(c.community, out.Community());
    }
}

TEST_F(MonitorSource, CallsInOrderWithThePublishedRecords)
{
    Outputs out;
    ASSERT_EQ(1, AskMonitor("VRPort IP", out));
    const std::vector<std::string> expected = {
        "open VRPort IP",
        "get level 2 size 0",
        "get level 2 size N",
        "close",
        "open ,XcvPort VRPORT_IP access 1",
        "xcv GetConfigInfo in 132 out 964",
        "close",
    };
    EXPECT_EQ(expected, g_calls);
    std::vector<BYTE> request(132, 0);
    request[128] = 1;
    EXPECT_EQ(HexBytes(request), HexBytes(g_request));
}

// A long port name is cut with the transceive name; a pooled printer's list
// of ports goes whole.
TEST_F(MonitorSource, TransceiveNamesAsOpened)
{
    std::string longPort = "VRPORT_LONG_";  // as ports.reg has it
    for (int i = 0; longPort.size() < LONG_PORT_LENGTH - 5; i++)
        longPort += (i < 10 ? "00" : "0") + std::to_string(i) + "-";
    const struct {
        const char *printer;
        std::string opened;
    } cases[] = {
        {"VRPort Long", ",XcvPort " + longPort.substr(0, CUT_PORT_LENGTH)},
        {"VRPort Pooled", ",XcvPort VRPORT_POOL_A,VRPORT_POOL_B"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.printer);
        Outputs out;
        AskMonitor(c.printer, out);
        ASSERT_EQ(7u, g_calls.size());
        EXPECT_EQ("open " + c.opened + " access 1", g_calls[4]);
        g_calls.clear();
    }
}

// The stand-in monitor itself answers with the whole record.
TEST_F(MonitorSource, StandInMonitorFillsTheWholeRecord)
{
    HANDLE xcv = NULL;
    PRINTER_DEFAULTSA defaults = {NULL, NULL, SERVER_ACCESS_ADMINISTER};
    ASSERT_TRUE(OpenPrinterA(const_cast<char *>(",XcvPort VRPORT_MIXED"), &xcv, &defaults))
        << "is the monitor installed? error " << GetLastError();
    CONFIG_INFO_DATA_1 request = {};
    request.dwVersion = 1;
    PORT_DATA_1 reply;
    memset(&reply, 0xCC, sizeof(reply));
    DWORD needed = 0, status = 0xDEAD;
    ASSERT_TRUE(XcvDataW(xcv, L"GetConfigInfo", (BYTE *)&request, sizeof(request), (BYTE *)&reply,
                         sizeof(reply), &needed, &status));
    EXPECT_EQ((DWORD)NO_ERROR, status);
    EXPECT_EQ(sizeof(reply), needed);
    EXPECT_STREQ(L"VRPORT_MIXED", reply.sztPortName);
    EXPECT_EQ(1u, reply.dwVersion);
    EXPECT_EQ((DWORD)PROTOCOL_RAWTCP_TYPE, reply.dwProtocol);
    EXPECT_EQ(sizeof(reply), reply.cbSize);
    EXPECT_EQ(0u, reply.dwReserved);
    EXPECT_STREQ(L"192.0.2.20", reply.sztHostAddress);
    EXPECT_STREQ(L"mixed-community", reply.sztSNMPCommunity);
    EXPECT_EQ(0u, reply.dwDoubleSpool);
    EXPECT_STREQ(L"", reply.sztQueue);
    EXPECT_STREQ(L"198.51.100.7", reply.sztIPAddress);
    EXPECT_EQ(std::vector<BYTE>(sizeof(reply.Reserved), 0),
              std::vector<BYTE>(reply.Reserved, reply.Reserved + sizeof(reply.Reserved)));
    EXPECT_EQ(9100u, reply.dwPortNumber);
    EXPECT_EQ(1u, reply.dwSNMPEnabled);
    EXPECT_EQ(1u, reply.dwSNMPDevIndex);

    ClosePrinter(xcv);
}

// ---- the cluster registry source ---------------------------------------------

// Test keys below HKEY_LOCAL_MACHINE all begin with "VR8" (after "System"
// in the registry's order) and are removed after each test.
const char CLUSTER[] = "VR8Cluster";
const char CLUSTER_PRINTER[] = "VRPort Cluster";
const char CLUSTER_PORT[] = "VRPORT_CLUSTER";

class ClusterSource : public PortSources {};

struct ValueCase {
    const char *label;
    std::vector<RegValue> values;
    int result;
    std::string address;
    std::string community;
};

TEST_F(ClusterSource, ValuesOfThePortKey)
{
    const std::string seventy(70, '7');
    const std::string noNul(260, 'x');
    const ValueCase cases[] = {
        {"IPAddress before HostName",
         {TextValue("IPAddress", "192.0.2.101"), TextValue("HostName", "host.cluster.test"),
          TextValue("SNMP Community", "cluster-community")},
         1, "192.0.2.101", "cluster-community"},
        {"IPAddress empty: HostName",
         {TextValue("IPAddress", ""), TextValue("HostName", "host.cluster.test"),
          TextValue("SNMP Community", "c")},
         1, "host.cluster.test", "c"},
        {"IPAddress missing: HostName",
         {TextValue("HostName", "host.cluster.test"), TextValue("SNMP Community", "c")},
         1, "host.cluster.test", "c"},
        {"IPAddress without NUL in 260 bytes: HostName",
         {RawValue("IPAddress", REG_SZ, noNul), TextValue("HostName", "after.no.nul"),
          TextValue("SNMP Community", "c")},
         1, "after.no.nul", "c"},
        {"binary IPAddress without NUL in 260 bytes: HostName",
         {RawValue("IPAddress", REG_BINARY, noNul), TextValue("HostName", "after.binary"),
          TextValue("SNMP Community", "c")},
         1, "after.binary", "c"},
        {"type not examined",
         {RawValue("IPAddress", REG_BINARY, std::string("192.0.2.9\0junk", 14)),
          RawValue("SNMP Community", REG_MULTI_SZ, std::string("multi\0second\0\0", 14))},
         1, "192.0.2.9", "multi"},
        {"70 characters cut to 63",
         {TextValue("IPAddress", seventy), TextValue("SNMP Community", seventy)},
         1, seventy.substr(0, 63), seventy.substr(0, 63)},
        // A naive read would show "pub.0.2.123", the rest of the address.
        {"only the bytes returned for the value",
         {TextValue("IPAddress", "192.0.2.123"), RawValue("SNMP Community", REG_BINARY, "pub")},
         1, "192.0.2.123", "pub"},
        {"both addresses empty",
         {TextValue("IPAddress", ""), TextValue("HostName", ""), TextValue("SNMP Community", "c")},
         0, UNTOUCHED, UNTOUCHED},
        {"no values at all", {}, 0, UNTOUCHED, UNTOUCHED},
        {"no SNMP Community", {TextValue("IPAddress", "192.0.2.102")}, 0, "192.0.2.102", UNTOUCHED},
        {"empty SNMP Community",
         {TextValue("HostName", "h.test"), TextValue("SNMP Community", "")},
         0, "h.test", UNTOUCHED},
    };
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(c.label);
        DeleteMachineKey(CLUSTER);
        Create(ClusterPortKey(CLUSTER, "Printers", CLUSTER_PORT), c.values);
        Outputs out;
        EXPECT_EQ(c.result, AskCluster(CLUSTER_PRINTER, out));
        EXPECT_EQ(c.address, out.Address());
        EXPECT_EQ(c.community, out.Community());
    }
}

// A key set-up: keys below HKEY_LOCAL_MACHINE, the port's values in the last.
struct KeyCase {
    const char *label;
    std::vector<std::string> keys;
    const char *printer;
    int result;
    const char *address;
};

TEST_F(ClusterSource, WhichKeysAreFound)
{
    const std::string port = CLUSTER_PORT;
    const KeyCase cases[] = {
        {"no cluster key", {}, CLUSTER_PRINTER, 0, UNTOUCHED},
        {"Cluster inside a longer name", {ClusterPortKey("VR8InClusterName", "R", port)},
         CLUSTER_PRINTER, 1, "192.0.2.1"},
        {"name differs only in case", {ClusterPortKey("VR8CLUSTER", "R", port)},
         CLUSTER_PRINTER, 0, UNTOUCHED},
        {"candidate without Resources passed over",
         {"VR8Cluster1", ClusterPortKey("VR8Cluster2", "R", port)}, CLUSTER_PRINTER, 1,
         "192.0.2.1"},
        {"candidate whose resources have no Ports key passed over",
         {"VR8Cluster1\\Resources\\Disk\\Parameters", ClusterPortKey("VR8Cluster2", "R", port)},
         CLUSTER_PRINTER, 1, "192.0.2.1"},
        {"the port under the second resource",
         {ClusterPortKey(CLUSTER, "A Resource", "OTHER_PORT"),
          ClusterPortKey(CLUSTER, "B Resource", port)},
         CLUSTER_PRINTER, 0, UNTOUCHED},
        {"the port under the second cluster key",
         {ClusterPortKey("VR8Cluster1", "R", ""), ClusterPortKey("VR8Cluster2", "R", port)},
         CLUSTER_PRINTER, 0, UNTOUCHED},
        {"the port under a later resource without Ports before it",
         {"VR8Cluster\\Resources\\A Disk", ClusterPortKey(CLUSTER, "B Resource", port)},
         CLUSTER_PRINTER, 1, "192.0.2.1"},
        {"pooled port list appended whole",
         {ClusterPortKey(CLUSTER, "R", "VRPORT_POOL_A,VRPORT_POOL_B")}, "VRPort Pooled", 1,
         "192.0.2.1"},
        {"pooled port list not split", {ClusterPortKey(CLUSTER, "R", "VRPORT_POOL_A")},
         "VRPort Pooled", 0, UNTOUCHED},
    };
    for (const KeyCase &c : cases) {
        SCOPED_TRACE(c.label);
        for (size_t i = 0; i < c.keys.size(); i++)
            Create(c.keys[i], i + 1 == c.keys.size()
                                  ? std::vector<RegValue>{TextValue("IPAddress", "192.0.2.1"),
                                                          TextValue("SNMP Community", "k")}
                                  : std::vector<RegValue>{});
        Outputs out;
        EXPECT_EQ(c.result, AskCluster(c.printer, out));
        EXPECT_EQ(c.address, out.Address());
        EXPECT_EQ(c.result ? "k" : UNTOUCHED, out.Community());
        for (const std::string &key : createdKeys)
            DeleteMachineKey(key);
    }
}

TEST_F(ClusterSource, NoCandidateOpensNoFurtherKey)
{
    Outputs out;
    EXPECT_EQ(0, AskCluster(CLUSTER_PRINTER, out));
    size_t enums = 0;
    for (const std::string &call : g_calls) {
        if (call.rfind("open key", 0) == 0) {
            EXPECT_EQ("open key HKLM\\", call);
        }
        if (call.rfind("enum ", 0) == 0) {
            enums++;
            EXPECT_EQ(" size 1024", call.substr(call.find(' ', 5)));
        }
    }
    EXPECT_GE(enums, 3u) << "HKLM lists at least Hardware, Software, System";
}

TEST_F(ClusterSource, CallsInOrder)
{
    Create(ClusterPortKey(CLUSTER, "Printers", CLUSTER_PORT),
           {TextValue("IPAddress", "192.0.2.5"), TextValue("SNMP Community", "c")});
    UsePrinter(CLUSTER_PRINTER);
    HANDLE handle = NULL;
    ASSERT_TRUE(OpenPrinterForReading(&handle));
    g_calls.clear();
    Outputs out;
    ASSERT_EQ(1, GetPortAddressFromCluster(out.address, out.community, handle));
    // The handle is closed once the information is read; the
    // candidate's search is over at its first resource with a Ports key.
    ASSERT_GE(g_calls.size(), 14u);
    std::vector<std::string> head(g_calls.begin(), g_calls.begin() + 4);
    EXPECT_EQ((std::vector<std::string>{"get level 2 size 0", "get level 2 size N", "close",
                                        "open key HKLM\\"}),
              head);
    const std::string resources = std::string(CLUSTER) + "\\Resources";
    const std::string portKey = ClusterPortKey(CLUSTER, "Printers", CLUSTER_PORT);
    std::vector<std::string> tail(g_calls.end() - 10, g_calls.end());
    EXPECT_EQ((std::vector<std::string>{
                  "open key HKLM\\" + resources, "enum 0 size 1024",
                  std::string("open key Printers") + PORTS_PATH, "close key", "close key",
                  "close key", "open key HKLM\\" + portKey, "read IPAddress size 260",
                  "read SNMP Community size 260", "close key"}),
              tail);
}

struct FindCase {
    const char *label;
    std::vector<std::string> keys;
    const char *candidate;
    std::string found;
};

TEST_F(ClusterSource, FindClusterPortsKeyTakesTheFirstResourceWithPorts)
{
    const std::string ports = PORTS_PATH;
    const FindCase cases[] = {
        {"one resource", {ClusterPortKey(CLUSTER, "Res", "")}, CLUSTER, "Res" + ports},
        {"two resources", {ClusterPortKey(CLUSTER, "A", ""), ClusterPortKey(CLUSTER, "B", "")},
         CLUSTER, "A" + ports},
        {"first without Ports",
         {"VR8Cluster\\Resources\\A\\Parameters", ClusterPortKey(CLUSTER, "B", "")}, CLUSTER,
         "B" + ports},
        {"no Resources key", {CLUSTER}, CLUSTER, ""},
        {"Resources without resources", {"VR8Cluster\\Resources"}, CLUSTER, ""},
        {"no such key", {}, "VR8NoCluster", ""},
    };
    for (const FindCase &c : cases) {
        SCOPED_TRACE(c.label);
        for (const std::string &key : c.keys)
            Create(key);
        char keyPath[LONG_TEXT_SIZE];
        memset(keyPath, 0x5A, sizeof(keyPath));
        CopyText(keyPath, sizeof(keyPath), c.candidate);
        EXPECT_EQ(c.found.empty() ? 0 : 1, FindClusterPortsKey(keyPath));
        EXPECT_EQ(c.found, keyPath);
        for (const std::string &key : createdKeys)
            DeleteMachineKey(key);
    }
}

// Failures that the real spooler and registry will not give on request.
TEST_F(ClusterSource, FailuresOnlyTheSeamsGive)
{
    Create(ClusterPortKey(CLUSTER, "Printers", CLUSTER_PORT),
           {TextValue("IPAddress", "192.0.2.5"), TextValue("SNMP Community", "c")});
    const struct {
        const char *label;
        bool cluster;  // else the monitor source
        BOOL (WINAPI *getPrinter)(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
        BOOL (WINAPI *xcvData)(HANDLE, PCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD, PDWORD);
        LONG (WINAPI *openKey)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
    } cases[] = {
        {"monitor: size unknown", false, GetPrinterKnowsNoSize, WatchedXcvData, WatchedOpenKey},
        {"monitor: not filled", false, GetPrinterFailsToFill, WatchedXcvData, WatchedOpenKey},
        {"monitor: no port name", false, GetPrinterWithoutPort, WatchedXcvData, WatchedOpenKey},
        {"monitor: XcvDataW fails", false, WatchedGetPrinter, XcvDataFails, WatchedOpenKey},
        {"cluster: size unknown", true, GetPrinterKnowsNoSize, WatchedXcvData, WatchedOpenKey},
        {"cluster: not filled", true, GetPrinterFailsToFill, WatchedXcvData, WatchedOpenKey},
        {"cluster: no port name", true, GetPrinterWithoutPort, WatchedXcvData, WatchedOpenKey},
        {"cluster: HKLM will not open", true, WatchedGetPrinter, WatchedXcvData,
         MachineRootWillNotOpen},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        g_spoolerCalls.getPrinter = c.getPrinter;
        g_spoolerCalls.xcvData = c.xcvData;
        g_registryCalls.openKey = c.openKey;
        Outputs out;
        EXPECT_EQ(0, c.cluster ? AskCluster(CLUSTER_PRINTER, out) : AskMonitor("VRPort IP", out));
        EXPECT_TRUE(out.AddressUntouched());
        EXPECT_TRUE(out.CommunityUntouched());
    }
}

// ---- nothing left behind ----------------------------------------------------

TEST_F(ClusterSource, AThousandCallsOfEachSourceLeaveNothingBehind)
{
    Create(ClusterPortKey(CLUSTER, "Printers", CLUSTER_PORT),
           {TextValue("IPAddress", "192.0.2.5"), TextValue("SNMP Community", "c")});
    g_spoolerCalls = savedSpooler;  // the watching itself keeps records
    g_registryCalls = savedRegistry;
    int succeeded = 0;
    auto round = [&](int i) {
        Outputs out;
        switch (i % 4) {
        case 0: succeeded += AskMonitor("VRPort IP", out); break;
        case 1: succeeded += AskMonitor("VRPort Unknown", out); break;
        case 2: succeeded += AskCluster(CLUSTER_PRINTER, out); break;
        default: succeeded += AskCluster("VRPort Unknown", out); break;
        }
    };
    for (int i = 0; i < 40; i++)  // first-use allocations of the platform
        round(i);
    succeeded = 0;
    ProcessUsage before = MeasureProcessUsage();
    for (int i = 0; i < 4000; i++)
        round(i);
    ProcessUsage after = MeasureProcessUsage();
    EXPECT_EQ(2000, succeeded);
    ASSERT_TRUE(before.handles > 0 || before.nextHandle > 0) << "cannot see the handles";
    ASSERT_GT(before.heapBytes, 0u);
    ASSERT_GT(before.committedBytes, 0u);
    // One key, handle or block per call would add a thousand handles, or tens
    // of kilobytes of heap, or megabytes of committed memory.
    EXPECT_LE(after.handles, before.handles + 5);
    EXPECT_LE(after.nextHandle, before.nextHandle + 5 * sizeof(HANDLE));
    EXPECT_LE(after.heapBytes, before.heapBytes + 8 * 1024);
    EXPECT_LE(after.committedBytes, before.committedBytes + 256 * 1024);
    printf("footprint: handles %lu -> %lu, next handle %#llx -> %#llx, heap %zu -> %zu, "
           "committed %zu -> %zu\n",
           (unsigned long)before.handles, (unsigned long)after.handles,
           (unsigned long long)before.nextHandle, (unsigned long long)after.nextHandle,
           before.heapBytes, after.heapBytes, before.committedBytes, after.committedBytes);
}

// ---- a multi-byte code page -------------------------------------------------

struct WideCase {
    const char *label;
    std::wstring host;
    std::wstring community;
    std::string address;          // as code page 932 bytes
    std::string communityBytes;
};

std::string Repeat(const char *text, int times)
{
    std::string out;
    for (int i = 0; i < times; i++)
        out += text;
    return out;
}

// Run with LANG=ja_JP.UTF-8 (tests/CMakeLists.txt): the ANSI code page is
// then 932, where each of these characters takes two bytes.
TEST_F(MonitorSource, CodePage932TextsEndOnAWholeCharacter)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 932: run under LANG=ja_JP.UTF-8";
    const char *const A = "\x82\xa0";  // U+3042 in code page 932
    const WideCase cases[] = {
        {"48 double-byte characters", std::wstring(48, L'\x3042'), std::wstring(32, L'\x3042'),
         Repeat(A, 31), Repeat(A, 31)},
        {"one byte, then 47 double-byte", L"a" + std::wstring(47, L'\x3042'),
         L"a" + std::wstring(31, L'\x3042'), "a" + Repeat(A, 31), "a" + Repeat(A, 31)},
        {"two bytes, then 46 double-byte", L"ab" + std::wstring(46, L'\x3042'),
         L"ab" + std::wstring(30, L'\x3042'), "ab" + Repeat(A, 30), "ab" + Repeat(A, 30)},
        {"fits whole", std::wstring(31, L'\x3042') + L"x", std::wstring(3, L'\x3042'),
         Repeat(A, 31) + "x", Repeat(A, 3)},
        // Wine makes "??" of the pair and "?" of its first half alone.
        {"31 double-byte, then a surrogate pair", std::wstring(31, L'\x3042') + L"\xD842\xDF9F",
         std::wstring(3, L'\x3042'), Repeat(A, 31), Repeat(A, 3)},
    };
    const std::string key = MonitorPortKey("VRPORT_MULTIBYTE");
    for (const WideCase &c : cases) {
        SCOPED_TRACE(c.label);
        HKEY port;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &port));
        RegSetValueExW(port, L"HostName", 0, REG_SZ, (const BYTE *)c.host.c_str(),
                       (DWORD)((c.host.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(port, L"SNMP Community", 0, REG_SZ, (const BYTE *)c.community.c_str(),
                       (DWORD)((c.community.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(port);
        Outputs out;
        EXPECT_EQ(1, AskMonitor("VRPort Multibyte", out));
        EXPECT_EQ(HexBytes(Bytes(c.address.data(), c.address.size())),
                  HexBytes(Bytes(out.address, strnlen(out.address, sizeof(out.address)))));
        EXPECT_EQ(HexBytes(Bytes(c.communityBytes.data(), c.communityBytes.size())),
                  HexBytes(Bytes(out.community, strnlen(out.community, sizeof(out.community)))));
    }
    CreateMachineKey(key, {TextValue("HostName", "multibyte.example.test"),
                           TextValue("SNMP Community", "multibyte")});
}

}  // namespace
