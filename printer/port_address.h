// The printer's address and community from its port: through the port
// monitor's "GetConfigInfo" command, or from a cluster's registry keys.
#pragma once

#include <windows.h>

#include "common/base.h"

// The registry calls of the cluster source. Tests may point an entry at a
// replacement, to watch the calls or to provoke a failure the registry will
// not give on request.
struct RegistryCalls {
    LONG (WINAPI *openKey)(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
    LONG (WINAPI *enumKey)(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                           LPSTR className, LPDWORD classSize, PFILETIME lastWrite);
    LONG (WINAPI *queryValue)(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                              LPBYTE data, LPDWORD dataSize);
    LONG (WINAPI *closeKey)(HKEY key);
};
extern RegistryCalls g_registryCalls;

// port_monitor.cpp: asks the monitor of the port of g_printerName. True when
// the monitor's reply was received and both texts were written from it;
// false with both buffers untouched otherwise. Shows nothing.
int GetPortAddressFromMonitor(char *address, size_t addressSize, char *community,
                              size_t communitySize);

// port_cluster.cpp: reads the port's keys below a cluster resource.
// printer was opened on g_printerName with default access; it is closed
// here. address and community are 64-byte buffers. True when both were
// found; on false the address may already be written, the community never.
int GetPortAddressFromCluster(char *address, char *community, HANDLE printer);

// keyPath (1024 characters) holds a candidate cluster key's name on entry and
// the first resource's relative Ports path on return ("" when none): true
// exactly when it is not empty.
int FindClusterPortsKey(char *keyPath);
