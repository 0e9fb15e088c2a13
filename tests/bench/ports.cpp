// Registry keys of ports: the port monitor's and a cluster resource's.
#include "tests/bench/bench.h"

#include <string>
#include <vector>

namespace {

const char PORTS_PATH[] = "\\Parameters\\Monitors\\Standard TCP/IP Port\\Ports\\";

}  // namespace

RegValue TextValue(const char *name, const std::string &text)
{
    return {name, REG_SZ, std::string(text.c_str(), text.size() + 1)};
}

RegValue RawValue(const char *name, DWORD type, const std::string &bytes)
{
    return {name, type, bytes};
}

RegValue NumberValue(const char *name, DWORD number)
{
    return {name, REG_DWORD, std::string((const char *)&number, sizeof(number))};
}

bool CreateMachineKey(const std::string &path, const std::vector<RegValue> &values)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const RegValue &v : values)
        ok = ok && RegSetValueExA(key, v.name.c_str(), 0, v.type, (const BYTE *)v.bytes.data(),
                                  (DWORD)v.bytes.size()) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void DeleteMachineKey(const std::string &path)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

std::string MonitorPortKey(const std::string &port)
{
    return "System\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\" +
           port;
}

std::string ClusterPortKey(const std::string &cluster, const std::string &resource,
                           const std::string &port)
{
    std::string path = cluster + "\\Resources\\" + resource + PORTS_PATH + port;
    if (port.empty())
        path.pop_back();  // the Ports key itself
    return path;
}
