// The printer's address and community from a cluster's registry: the
// Standard TCP/IP Port monitor's port keys below a cluster resource.
#include "printer/port_address.h"
#include "printer/spooler.h"
#include "common/base.h"
#include "common/text.h"

#include <string.h>

enum { VALUE_TEXT_SIZE = 260 };

RegistryCalls g_registryCalls = {RegOpenKeyExA, RegEnumKeyExA, RegQueryValueExA, RegCloseKey};

static const char CLUSTER_MARK[] = "Cluster";
static const char RESOURCES_KEY[] = "Resources";
static const char PORTS_PATH[] = "\\Parameters\\Monitors\\Standard TCP/IP Port\\Ports\\";

// A value's text: its bytes up to the first NUL. The buffer is cleared
// first, so the text never takes bytes the registry did not return for this
// value. Missing, unreadable, or without a NUL in the buffer: empty text.
static void ReadValueText(HKEY key, const char *valueName, char *text, size_t textSize)
{
    DWORD size = (DWORD)textSize;
    memset(text, 0, textSize);
    if (g_registryCalls.queryValue(key, valueName, NULL, NULL, (BYTE *)text, &size) !=
            ERROR_SUCCESS ||
        memchr(text, '\0', textSize) == NULL)
        text[0] = '\0';
}

int FindClusterPortsKey(char *keyPath)
{
    HKEY resources = NULL;
    HKEY ports = NULL;
    char path[LONG_TEXT_SIZE];
    DWORD size = 0;
    int found = 0;

    CopyText(path, COUNTOF(path), keyPath);
    AppendText(path, COUNTOF(path), "\\");
    AppendText(path, COUNTOF(path), RESOURCES_KEY);
    if (g_registryCalls.openKey(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &resources) !=
        ERROR_SUCCESS) {
        resources = NULL;
        goto done;
    }
    // The first resource that carries the monitor's Ports key is the one.
    for (DWORD index = 0; !found; index++) {
        size = COUNTOF(path);
        if (g_registryCalls.enumKey(resources, index, path, &size, NULL, NULL, NULL, NULL) !=
            ERROR_SUCCESS)
            break;
        AppendText(path, COUNTOF(path), PORTS_PATH);
        if (g_registryCalls.openKey(resources, path, 0, KEY_READ, &ports) == ERROR_SUCCESS)
            found = 1;
        else
            ports = NULL;
    }

done:
    if (found)
        CopyText(keyPath, LONG_TEXT_SIZE, path);
    else
        keyPath[0] = '\0';
    if (ports != NULL)
        g_registryCalls.closeKey(ports);
    if (resources != NULL)
        g_registryCalls.closeKey(resources);
    return keyPath[0] != '\0';
}

int GetPortAddressFromCluster(char *address, char *community, HANDLE printer)
{
    PRINTER_INFO_2A *info = NULL;
    HKEY root = NULL;
    HKEY port = NULL;
    char name[LONG_TEXT_SIZE];
    char clusterKey[LONG_TEXT_SIZE];
    char portsPath[LONG_TEXT_SIZE];
    char path[LONG_TEXT_SIZE];
    char value[VALUE_TEXT_SIZE];
    DWORD size = 0;
    int found = 0;
    int result = 0;

    info = GetPrinterPortInfo(printer);
    if (info == NULL)
        goto done;

    if (g_registryCalls.openKey(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &root) != ERROR_SUCCESS) {
        root = NULL;
        goto done;
    }
    // The name test is case-sensitive: "cluster" is no candidate.
    for (DWORD index = 0; !found; index++) {
        size = COUNTOF(name);
        if (g_registryCalls.enumKey(root, index, name, &size, NULL, NULL, NULL, NULL) !=
            ERROR_SUCCESS)
            break;
        if (strstr(name, CLUSTER_MARK) == NULL)
            continue;
        CopyText(portsPath, COUNTOF(portsPath), name);
        if (FindClusterPortsKey(portsPath)) {
            CopyText(clusterKey, COUNTOF(clusterKey), name);
            found = 1;
        }
    }
    g_registryCalls.closeKey(root);
    root = NULL;
    if (!found)
        goto done;

    // Only the first qualifying resource is tried: a port that lives under
    // a later one is not found.
    CopyText(path, COUNTOF(path), clusterKey);
    AppendText(path, COUNTOF(path), "\\");
    AppendText(path, COUNTOF(path), RESOURCES_KEY);
    AppendText(path, COUNTOF(path), "\\");
    AppendText(path, COUNTOF(path), portsPath);
    AppendText(path, COUNTOF(path), info->pPortName);
    if (g_registryCalls.openKey(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &port) != ERROR_SUCCESS) {
        port = NULL;
        goto done;
    }

    ReadValueText(port, "IPAddress", value, sizeof(value));
    if (value[0] == '\0')
        ReadValueText(port, "HostName", value, sizeof(value));
    if (value[0] == '\0')
        goto done;
    CopyText(address, SHORT_TEXT_SIZE, value);

    // Without a community the address stays written and the result is false.
    ReadValueText(port, "SNMP Community", value, sizeof(value));
    if (value[0] == '\0')
        goto done;
    CopyText(community, SHORT_TEXT_SIZE, value);
    result = 1;

done:
    if (port != NULL)
        g_registryCalls.closeKey(port);
    if (root != NULL)
        g_registryCalls.closeKey(root);
    FreePrinterInfo(info);
    return result;
}
