// A stand-in for the Standard TCP/IP Port monitor, for tests and demos under
// Wine (which has none): it answers "GetConfigInfo" with the whole published
// PORT_DATA_1 record for each port configured below its registry key, in
// the real monitor's layout:
//   HKLM\System\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port\Ports\<port>
//     "HostName", "IPAddress", "SNMP Community", "Queue" (text);
//     "Protocol", "Version", "PortNumber", "SNMP Enabled", "SNMP Index",
//     "Double Spool" (DWORD).
// Three more DWORD values make it misbehave on request:
//   "Decline"    = 1: the command is declined in the status word alone
//                     (ERROR_INVALID_PARAMETER), the reply left untouched;
//   "Fail"       = 1: the command fails (ERROR_GEN_FAILURE, also as the
//                     last error); a monitor's command returns only a
//                     status, so Wine's XcvDataW still returns TRUE;
//   "RefuseOpen" = 1: the port's transceive interface cannot be opened
//                     (ERROR_ACCESS_DENIED).
// The port keys are read afresh on every call, so a test may change them
// while the monitor is loaded.
#include "printer/port_records.h"

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <string.h>
#include <wchar.h>

namespace {

const wchar_t PORTS_KEY[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
const wchar_t CONFIG_INFO_COMMAND[] = L"GetConfigInfo";

enum { PATH_UNITS = 1024, PORT_NAME_MAX_UNITS = 256 };

// One open transceive interface: the port it is for.
struct XcvPort {
    wchar_t portName[PORT_NAME_MAX_UNITS];
};

// Copies at most units - 1 code units of src and terminates; false when cut.
bool CopyWide(WCHAR *dst, size_t units, const wchar_t *src)
{
    size_t length = wcsnlen(src, units);
    bool whole = length < units;
    if (!whole)
        length = units - 1;
    memcpy(dst, src, length * sizeof(WCHAR));
    dst[length] = L'\0';
    return whole;
}

HKEY OpenPortKey(const wchar_t *portName)
{
    wchar_t path[PATH_UNITS];
    HKEY key = NULL;
    size_t prefix = wcslen(PORTS_KEY);
    CopyWide(path, PATH_UNITS, PORTS_KEY);
    if (!CopyWide(path + prefix, PATH_UNITS - prefix, portName))
        return NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return NULL;
    return key;
}

// A text value into a field of the record, cut to the field and terminated;
// missing: empty.
void ReadText(HKEY key, const wchar_t *name, WCHAR *field, size_t fieldUnits)
{
    wchar_t value[PATH_UNITS];
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    memset(value, 0, sizeof(value));
    if (RegQueryValueExW(key, name, NULL, &type, (BYTE *)value, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        value[0] = L'\0';
    CopyWide(field, fieldUnits, value);
}

DWORD ReadNumber(HKEY key, const wchar_t *name, DWORD missing)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, NULL, &type, (BYTE *)&value, &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return missing;
    return value;
}

BOOL WINAPI MonitorEnumPorts(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE ports, DWORD size,
                      LPDWORD needed, LPDWORD returned)
{
    // Port listings are not needed by anything that uses this monitor.
    if (needed)
        *needed = 0;
    if (returned)
        *returned = 0;
    return TRUE;
}

BOOL WINAPI MonitorXcvOpenPort(HANDLE monitor, LPCWSTR object, ACCESS_MASK access, PHANDLE xcv)
{
    HKEY key = object ? OpenPortKey(object) : NULL;
    if (key == NULL || wcsnlen(object, PORT_NAME_MAX_UNITS) == PORT_NAME_MAX_UNITS) {
        if (key)
            RegCloseKey(key);
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    DWORD refuse = ReadNumber(key, L"RefuseOpen", 0);
    RegCloseKey(key);
    if (refuse) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    XcvPort *port = (XcvPort *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(XcvPort));
    if (port == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    CopyWide(port->portName, PORT_NAME_MAX_UNITS, object);
    *xcv = port;
    return TRUE;
}

// The request must be the published one: 132 bytes, reserved bytes zero,
// version 1; the reply buffer must hold the whole record.
DWORD CheckRecords(const BYTE *input, DWORD inputSize, const BYTE *output, DWORD outputSize,
                   DWORD *needed)
{
    CONFIG_INFO_DATA_1 request;
    if (input == NULL || inputSize != sizeof(request))
        return ERROR_INVALID_PARAMETER;
    memcpy(&request, input, sizeof(request));
    for (BYTE b : request.Reserved)
        if (b != 0)
            return ERROR_INVALID_PARAMETER;
    if (request.dwVersion != 1)
        return ERROR_INVALID_PARAMETER;
    *needed = sizeof(PORT_DATA_1);
    if (output == NULL || outputSize < sizeof(PORT_DATA_1))
        return ERROR_INSUFFICIENT_BUFFER;
    return NO_ERROR;
}

DWORD WINAPI MonitorXcvDataPort(HANDLE xcv, LPCWSTR dataName, PBYTE input, DWORD inputSize,
                         PBYTE output, DWORD outputSize, PDWORD needed)
{
    XcvPort *port = (XcvPort *)xcv;
    DWORD ignored = 0;
    if (needed == NULL)
        needed = &ignored;
    if (port == NULL || dataName == NULL || wcscmp(dataName, CONFIG_INFO_COMMAND) != 0)
        return ERROR_INVALID_PARAMETER;
    HKEY key = OpenPortKey(port->portName);
    if (key == NULL)
        return ERROR_UNKNOWN_PORT;

    DWORD status = NO_ERROR;
    if (ReadNumber(key, L"Fail", 0)) {
        status = ERROR_GEN_FAILURE;
        SetLastError(status);
    } else if (ReadNumber(key, L"Decline", 0)) {
        status = ERROR_INVALID_PARAMETER;
    } else {
        status = CheckRecords(input, inputSize, output, outputSize, needed);
    }
    if (status == NO_ERROR) {
        PORT_DATA_1 reply;
        memset(&reply, 0, sizeof(reply));
        CopyWide(reply.sztPortName, PORT_NAME_UNITS, port->portName);
        reply.dwVersion = ReadNumber(key, L"Version", 1);
        reply.dwProtocol = ReadNumber(key, L"Protocol", PROTOCOL_RAWTCP_TYPE);
        reply.cbSize = sizeof(reply);
        // The real monitor's host address is the host name the port was set
        // up with, or else its IP address.
        ReadText(key, L"HostName", reply.sztHostAddress, PORT_HOST_ADDRESS_UNITS);
        if (reply.sztHostAddress[0] == L'\0')
            ReadText(key, L"IPAddress", reply.sztHostAddress, PORT_HOST_ADDRESS_UNITS);
        ReadText(key, L"SNMP Community", reply.sztSNMPCommunity, PORT_COMMUNITY_UNITS);
        reply.dwDoubleSpool = ReadNumber(key, L"Double Spool", 0);
        ReadText(key, L"Queue", reply.sztQueue, PORT_QUEUE_UNITS);
        ReadText(key, L"IPAddress", reply.sztIPAddress, PORT_IP_ADDRESS_UNITS);
        reply.dwPortNumber = ReadNumber(key, L"PortNumber", 9100);
        reply.dwSNMPEnabled = ReadNumber(key, L"SNMP Enabled", 1);
        reply.dwSNMPDevIndex = ReadNumber(key, L"SNMP Index", 1);
        memcpy(output, &reply, sizeof(reply));
    }
    RegCloseKey(key);
    return status;
}

BOOL WINAPI MonitorXcvClosePort(HANDLE xcv)
{
    if (xcv == NULL)
        return FALSE;
    HeapFree(GetProcessHeap(), 0, xcv);
    return TRUE;
}

VOID WINAPI MonitorShutdown(HANDLE monitor)
{
}

MONITOR2 g_monitor2;
int g_monitorInstance;

}  // namespace

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI
InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor)
{
    memset(&g_monitor2, 0, sizeof(g_monitor2));
    g_monitor2.cbSize = sizeof(g_monitor2);
    g_monitor2.pfnEnumPorts = MonitorEnumPorts;
    g_monitor2.pfnXcvOpenPort = MonitorXcvOpenPort;
    g_monitor2.pfnXcvDataPort = MonitorXcvDataPort;
    g_monitor2.pfnXcvClosePort = MonitorXcvClosePort;
    g_monitor2.pfnShutdown = MonitorShutdown;
    if (monitor)
        *monitor = &g_monitorInstance;
    return &g_monitor2;
}
