// Helpers of the WinSNMP tests: a notification window, waiting for its
// notifications, sending one request and reading one message through the
// WinSNMP calls, and the agents' state directory.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <winsnmp.h>

#include <string>
#include <vector>

enum { TEST_SNMP_NOTIFY = WM_USER + 1 };

// A message-only window that counts the notifications posted to it.
HWND MakeNotifyWindow();
void DestroyNotifyWindow(HWND window);
// Notifications that arrived so far and have not been taken.
int PendingNotifications(HWND window);
// Pumps messages until a notification is there (then takes it) or the time
// is up. Returns whether one came.
bool WaitNotification(HWND window, DWORD milliseconds);
// Pumps messages for this long, counting the notifications taken.
int DrainNotifications(HWND window, DWORD milliseconds);

std::vector<smiUINT32> Oid(const char *dotted);
std::string OidText(const smiOID &oid);
std::string OidText(const std::vector<smiUINT32> &ids);

// One variable as read through SnmpGetVb, with its value in text.
struct Binding {
    std::string name;       // dotted, with a leading dot
    int syntax = 0;
    std::string value;      // numbers in decimal, OIDs dotted, octets in hex ("00 FF")
    std::string octets;     // the raw octets of OCTET STRING, Opaque and IpAddress
};

// One item taken with SnmpRecvMsg; every handle released again, except the
// entities and context (for comparison) when keepHandles is set.
struct Received {
    bool ok = false;
    SNMPAPI_STATUS error = 0;        // SnmpGetLastError(session) when not ok
    HSNMP_ENTITY source = NULL;
    HSNMP_ENTITY destination = NULL;
    HSNMP_CONTEXT context = NULL;
    int type = 0;
    smiINT32 requestId = 0;
    int errorStatus = 0;
    int errorIndex = 0;
    std::vector<Binding> bindings;
};
Received ReceiveOne(HSNMP_SESSION session, bool keepHandles = false);
void ReleaseReceived(Received &received);

// Builds a one-variable request (NULL value), sends it and releases the PDU
// and list at once. Returns SnmpSendMsg's result.
SNMPAPI_STATUS SendRequest(HSNMP_SESSION session, HSNMP_ENTITY source, HSNMP_ENTITY destination,
                           HSNMP_CONTEXT context, int type, smiINT32 requestId,
                           const std::vector<smiUINT32> &name);

// The numeric host text that getaddrinfo and getnameinfo (NI_NUMERICHOST)
// make of a text, as the engine resolves an agent; "" when they fail.
std::string NumericHostText(const char *text);

// The link-local address that agents.sh gave the loopback interface, zone
// as an index ("fe80::44:1%1"); "" with the reason when it could not.
std::string LinkLocalAddress(std::string *reason);

// Whether agents.sh started the agents; the reason when it could not.
bool AgentsAvailable(std::string *reason);
// A file of agents.sh's state directory, as a Windows path.
std::string AgentFile(const char *name);
std::string ReadTextFile(const std::string &path);

// One object of snmpwalk's or snmpbulkwalk's -On -Ox output: the name with
// its leading dot, the syntax as SnmpGetVb gives it, and the value in the
// form Binding has it (octets in hex "41 42").
struct SnmpwalkEntry {
    std::string name;
    int syntax = 0;
    std::string value;
};
// Parses ".OID = TYPE: VALUE" lines, hex strings continued on the lines
// after them; "End of MIB" (snmpwalk) and "No more variables..."
// (snmpbulkwalk's endOfMibView) set endOfMib. A type it does not know fails
// with the line in problem.
bool ParseSnmpwalk(const std::string &text, std::vector<SnmpwalkEntry> *entries, bool *endOfMib,
                   std::string *problem);
