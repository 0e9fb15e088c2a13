// The printer's address and community from its port: through the port
// monitor's "GetConfigInfo" command, or from a cluster's registry keys.
#pragma once

#include <windows.h>

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
