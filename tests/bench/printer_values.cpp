// Printer data values read back through the spooler and straight from the
// registry, and stored there as another program would.
#include "tests/bench/bench.h"

#include <winspool.h>

#include <stdio.h>
#include <string>

namespace {

std::string DataKeyPath(const char *printer)
{
    return std::string("System\\CurrentControlSet\\Control\\Print\\Printers\\") + printer +
           "\\PrinterDriverData";
}

}  // namespace

StoredValue ReadValueThroughSpooler(const char *printer, const char *valueName)
{
    StoredValue v;
    HANDLE handle = NULL;
    if (!OpenPrinterA(const_cast<char *>(printer), &handle, NULL))
        return v;
    DWORD type = 0, needed = 0;
    DWORD status = GetPrinterDataA(handle, const_cast<char *>(valueName), &type, NULL, 0, &needed);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        v.bytes.resize(needed);
        status = GetPrinterDataA(handle, const_cast<char *>(valueName), &type,
                                 v.bytes.empty() ? NULL : v.bytes.data(), needed, &needed);
        if (status == ERROR_SUCCESS) {
            v.present = true;
            v.type = type;
            v.bytes.resize(needed);
        } else {
            v.bytes.clear();
        }
    }
    ClosePrinter(handle);
    return v;
}

StoredValue ReadValueFromRegistry(const char *printer, const char *valueName)
{
    StoredValue v;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DataKeyPath(printer).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return v;
    // The W function gives the stored bytes unconverted; a narrow name is
    // widened first.
    wchar_t wideName[256];
    MultiByteToWideChar(CP_ACP, 0, valueName, -1, wideName, 256);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, wideName, NULL, &type, NULL, &size) == ERROR_SUCCESS) {
        v.bytes.resize(size);
        if (RegQueryValueExW(key, wideName, NULL, &type, v.bytes.data(), &size) ==
            ERROR_SUCCESS) {
            v.present = true;
            v.type = type;
            v.bytes.resize(size);
        } else {
            v.bytes.clear();
        }
    }
    RegCloseKey(key);
    return v;
}

bool WriteValueToRegistry(const char *printer, const char *valueName, DWORD type,
                          const void *bytes, DWORD count)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, DataKeyPath(printer).c_str(), 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    wchar_t wideName[256];
    MultiByteToWideChar(CP_ACP, 0, valueName, -1, wideName, 256);
    LONG status = RegSetValueExW(key, wideName, 0, type, (const BYTE *)bytes, count);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool WriteValueThroughSpooler(const char *printer, const char *valueName, DWORD type,
                              const void *bytes, DWORD count)
{
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ACCESS_ADMINISTER};
    HANDLE handle = NULL;
    if (!OpenPrinterA(const_cast<char *>(printer), &handle, &defaults))
        return false;
    DWORD status = SetPrinterDataA(handle, const_cast<char *>(valueName), type,
                                   (BYTE *)const_cast<void *>(bytes), count);
    ClosePrinter(handle);
    return status == ERROR_SUCCESS;
}

StoredValue ReadValueAsWritten(const char *printer, const char *valueName)
{
    StoredValue v = ReadValueFromRegistry(printer, valueName);
    if (!v.present || (v.type != REG_SZ && v.type != REG_MULTI_SZ))
        return v;
    std::vector<BYTE> narrow;
    for (size_t i = 0; i + 1 < v.bytes.size(); i += 2) {
        wchar_t unit = (wchar_t)(v.bytes[i] | (v.bytes[i + 1] << 8));
        char out[8];
        int n = WideCharToMultiByte(CP_ACP, 0, &unit, 1, out, sizeof(out), NULL, NULL);
        narrow.insert(narrow.end(), out, out + n);
    }
    if (v.type == REG_SZ && !narrow.empty() && narrow.back() == 0)
        narrow.pop_back();
    v.bytes = narrow;
    return v;
}

std::vector<std::string> ValueNames(const char *printer)
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DataKeyPath(printer).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void DeleteAllValues(const char *printer)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DataKeyPath(printer).c_str(), 0, KEY_ALL_ACCESS,
                      &key) != ERROR_SUCCESS)
        return;
    for (;;) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key, 0, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        if (RegDeleteValueW(key, name) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
}

std::vector<BYTE> Bytes(const char *text, size_t count)
{
    return std::vector<BYTE>((const BYTE *)text, (const BYTE *)text + count);
}

std::string HexBytes(const std::vector<BYTE> &bytes)
{
    std::string out;
    char hex[4];
    for (BYTE b : bytes) {
        snprintf(hex, sizeof(hex), "%02X ", b);
        out += hex;
    }
    return out + "(" + std::to_string(bytes.size()) + " bytes)";
}
