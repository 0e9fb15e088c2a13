// Helpers of the WinSNMP tests.
#include "tests/winsnmp_support.h"

#include "tests/bench/bench.h"

#include <ws2tcpip.h>

#include <map>
#include <sstream>
#include <stdio.h>

static std::map<HWND, int> g_notifications;

static LRESULT CALLBACK NotifyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TEST_SNMP_NOTIFY) {
        g_notifications[window]++;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeNotifyWindow()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = NotifyProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "WinSnmpTestNotify";
        RegisterClassA(&wc);
        registered = true;
    }
    HWND window = CreateWindowExA(0, "WinSnmpTestNotify", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  GetModuleHandleA(NULL), NULL);
    g_notifications[window] = 0;
    return window;
}

void DestroyNotifyWindow(HWND window)
{
    DestroyWindow(window);
    g_notifications.erase(window);
}

int PendingNotifications(HWND window)
{
    return g_notifications[window];
}

static void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool WaitNotification(HWND window, DWORD milliseconds)
{
    ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        Pump();
        if (g_notifications[window] > 0) {
            g_notifications[window]--;
            return true;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)(end - now), QS_ALLINPUT);
    }
}

int DrainNotifications(HWND window, DWORD milliseconds)
{
    ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        Pump();
        ULONGLONG now = GetTickCount64();
        if (now >= end)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)(end - now), QS_ALLINPUT);
    }
    int n = g_notifications[window];
    g_notifications[window] = 0;
    return n;
}

std::vector<smiUINT32> Oid(const char *dotted)
{
    std::vector<smiUINT32> ids;
    const char *p = dotted;
    if (*p == '.')
        p++;
    while (*p) {
        ids.push_back((smiUINT32)strtoul(p, (char **)&p, 10));
        if (*p == '.')
            p++;
    }
    return ids;
}

std::string OidText(const std::vector<smiUINT32> &ids)
{
    std::string text;
    for (smiUINT32 id : ids)
        text += "." + std::to_string(id);
    return text;
}

std::string OidText(const smiOID &oid)
{
    return OidText(std::vector<smiUINT32>(oid.ptr, oid.ptr + oid.len));
}

static std::string Hex(const smiOCTETS &octets)
{
    std::string text;
    char piece[4];
    for (smiUINT32 i = 0; i < octets.len; i++) {
        snprintf(piece, sizeof(piece), "%02X", octets.ptr[i]);
        if (i > 0)
            text += " ";
        text += piece;
    }
    return text;
}

static Binding ReadBinding(HSNMP_VBL list, smiUINT32 index)
{
    Binding binding;
    smiOID name = {0, NULL};
    smiVALUE value = {};
    if (!SnmpGetVb(list, index, &name, &value)) {
        binding.name = "(SnmpGetVb failed)";
        return binding;
    }
    binding.name = OidText(name);
    binding.syntax = (int)value.syntax;
    switch (value.syntax) {
    case SNMP_SYNTAX_INT:
        binding.value = std::to_string(value.value.sNumber);
        break;
    case SNMP_SYNTAX_CNTR32:
    case SNMP_SYNTAX_GAUGE32:
    case SNMP_SYNTAX_TIMETICKS:
        binding.value = std::to_string(value.value.uNumber);
        break;
    case SNMP_SYNTAX_CNTR64:
        binding.value = std::to_string(((unsigned long long)value.value.hNumber.hipart << 32) |
                                       value.value.hNumber.lopart);
        break;
    case SNMP_SYNTAX_OID:
        binding.value = OidText(value.value.oid);
        SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&value.value.oid);
        break;
    case SNMP_SYNTAX_OCTETS:
    case SNMP_SYNTAX_OPAQUE:
    case SNMP_SYNTAX_IPADDR:
        binding.value = Hex(value.value.string);
        binding.octets.assign((const char *)value.value.string.ptr, value.value.string.len);
        SnmpFreeDescriptor(value.syntax, &value.value.string);
        break;
    default:
        break;
    }
    SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&name);
    return binding;
}

Received ReceiveOne(HSNMP_SESSION session, bool keepHandles)
{
    Received r;
    HSNMP_PDU pdu = NULL;
    if (!SnmpRecvMsg(session, &r.source, &r.destination, &r.context, &pdu)) {
        r.error = SnmpGetLastError(session);
        r.source = r.destination = NULL;
        r.context = NULL;
        return r;
    }
    HSNMP_VBL list = NULL;
    smiINT type = 0, status = 0, index = 0;
    if (SnmpGetPduData(pdu, &type, &r.requestId, &status, &index, &list)) {
        r.ok = true;
        r.type = type;
        r.errorStatus = status;
        r.errorIndex = index;
        SNMPAPI_STATUS count = SnmpCountVbl(list);
        for (SNMPAPI_STATUS i = 1; i <= count; i++)
            r.bindings.push_back(ReadBinding(list, i));
        SnmpFreeVbl(list);
    } else {
        r.error = SnmpGetLastError(session);
    }
    SnmpFreePdu(pdu);
    if (!keepHandles)
        ReleaseReceived(r);
    return r;
}

void ReleaseReceived(Received &r)
{
    if (r.source != NULL)
        SnmpFreeEntity(r.source);
    if (r.destination != NULL)
        SnmpFreeEntity(r.destination);
    if (r.context != NULL)
        SnmpFreeContext(r.context);
    r.source = r.destination = NULL;
    r.context = NULL;
}

SNMPAPI_STATUS SendRequest(HSNMP_SESSION session, HSNMP_ENTITY source, HSNMP_ENTITY destination,
                           HSNMP_CONTEXT context, int type, smiINT32 requestId,
                           const std::vector<smiUINT32> &name)
{
    std::vector<smiUINT32> ids = name;
    smiOID oid = {(smiUINT32)ids.size(), ids.data()};
    HSNMP_VBL list = SnmpCreateVbl(session, &oid, NULL);
    if (list == NULL)
        return SNMPAPI_FAILURE;
    HSNMP_PDU pdu = SnmpCreatePdu(session, type, requestId, 0, 0, list);
    if (pdu == NULL) {
        SnmpFreeVbl(list);
        return SNMPAPI_FAILURE;
    }
    SNMPAPI_STATUS result = SnmpSendMsg(session, source, destination, context, pdu);
    SnmpFreePdu(pdu);
    SnmpFreeVbl(list);
    return result;
}

std::string NumericHostText(const char *text)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return "";
    std::string result;
    addrinfo hints = {};
    addrinfo *list = NULL;
    char host[128];
    if (getaddrinfo(text, NULL, &hints, &list) == 0 &&
        getnameinfo(list->ai_addr, (int)list->ai_addrlen, host, sizeof(host), NULL, 0,
                    NI_NUMERICHOST) == 0)
        result = host;
    if (list != NULL)
        freeaddrinfo(list);
    WSACleanup();
    return result;
}

std::string LinkLocalAddress(std::string *reason)
{
    std::string address = ReadTextFile(AgentFile("linklocal"));
    while (!address.empty() && isspace((unsigned char)address.back()))
        address.pop_back();
    if (address.empty())
        *reason = "no link-local address on lo: " +
                  ReadTextFile(AgentFile("linklocal-unavailable"));
    return address;
}

bool AgentsAvailable(std::string *reason)
{
    std::string unavailable = ReadTextFile(AgentFile("unavailable"));
    if (!unavailable.empty()) {
        *reason = unavailable;
        return false;
    }
    if (ReadTextFile(AgentFile("walk-ipv4.txt")).empty()) {
        *reason = "the agents were not started (run through ctest: fixture snmp_agents)";
        return false;
    }
    return true;
}

std::string AgentFile(const char *name)
{
    return WindowsPath(AGENT_DIR) + "\\" + name;
}

std::string ReadTextFile(const std::string &path)
{
    std::string text;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == NULL)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        text.append(buffer, n);
    fclose(f);
    return text;
}

static std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t\r\n");
    size_t b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

static std::string CollapseSpaces(const std::string &s)
{
    std::string out;
    std::istringstream in(s);
    std::string word;
    while (in >> word)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

static std::string IpToHex(const std::string &dotted)
{
    std::vector<smiUINT32> parts = Oid(dotted.c_str());
    std::string out;
    char piece[4];
    for (smiUINT32 p : parts) {
        snprintf(piece, sizeof(piece), "%02X", (unsigned)p);
        out += (out.empty() ? "" : " ") + std::string(piece);
    }
    return out;
}

bool ParseSnmpwalk(const std::string &text, std::vector<SnmpwalkEntry> *entries, bool *endOfMib,
                   std::string *problem)
{
    std::vector<std::string> records;
    std::istringstream in(text);
    std::string line;
    *endOfMib = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "End of MIB") {
            *endOfMib = true;
        } else if (!line.empty() && line[0] == '.' && line.find(" = ") != std::string::npos) {
            records.push_back(line);
        } else if (!records.empty() && !*endOfMib) {
            records.back() += " " + line;
        } else if (!Trim(line).empty()) {
            *problem = "unexpected line: " + line;
            return false;
        }
    }
    for (const std::string &r : records) {
        SnmpwalkEntry e;
        size_t eq = r.find(" = ");
        e.name = r.substr(0, eq);
        std::string rest = r.substr(eq + 3);
        size_t colon = rest.find(": ");
        std::string type = colon == std::string::npos ? Trim(rest) : rest.substr(0, colon);
        std::string value = colon == std::string::npos ? "" : Trim(rest.substr(colon + 2));
        if (rest.compare(0, 17, "No more variables") == 0) {
            *endOfMib = true;           // snmpbulkwalk's endOfMibView
            continue;
        } else if (type == "\"\"") {
            e.syntax = SNMP_SYNTAX_OCTETS;
        } else if (type == "Hex-STRING") {
            e.syntax = SNMP_SYNTAX_OCTETS;
            e.value = CollapseSpaces(value);
        } else if (type == "INTEGER") {
            e.syntax = SNMP_SYNTAX_INT;
            e.value = value;
        } else if (type == "Gauge32") {
            e.syntax = SNMP_SYNTAX_GAUGE32;
            e.value = value;
        } else if (type == "Counter64") {
            e.syntax = SNMP_SYNTAX_CNTR64;
            e.value = value;
        } else if (type == "Opaque" || type == "OPAQUE") {
            e.syntax = SNMP_SYNTAX_OPAQUE;
            e.value = value;            // as snmpwalk decodes it ("Float: 0.46")
        } else if (type == "Counter32") {
            e.syntax = SNMP_SYNTAX_CNTR32;
            e.value = value;
        } else if (type == "Timeticks") {
            e.syntax = SNMP_SYNTAX_TIMETICKS;
            e.value = value.substr(1, value.find(')') - 1);   // "(123) 0:00:01.23"
        } else if (type == "OID") {
            e.syntax = SNMP_SYNTAX_OID;
            e.value = value;
        } else if (type == "IpAddress") {
            e.syntax = SNMP_SYNTAX_IPADDR;
            e.value = IpToHex(value);
        } else if (type == "NULL") {
            e.syntax = SNMP_SYNTAX_NULL;
        } else {
            *problem = "a type this test does not know: " + r;
            return false;
        }
        entries->push_back(e);
    }
    return true;
}
