// The records of the Standard TCP/IP Port monitor's "GetConfigInfo"
// transceive command, by their published byte layout (MinGW's headers lack
// them). The test monitor fills the same records.
#pragma once

#include <windows.h>

#include <stddef.h>

// Field lengths in UTF-16 code units, terminator included.
enum {
    PORT_NAME_UNITS = 64,
    PORT_HOST_ADDRESS_UNITS = 49,
    PORT_COMMUNITY_UNITS = 33,
    PORT_QUEUE_UNITS = 33,
    PORT_IP_ADDRESS_UNITS = 16,
    PORT_RESERVED_BYTES = 540,
    CONFIG_INFO_RESERVED_BYTES = 128
};

// The request: reserved bytes, then the version (always 1).
struct CONFIG_INFO_DATA_1 {
    BYTE Reserved[CONFIG_INFO_RESERVED_BYTES];
    DWORD dwVersion;
};

// The reply: a port's configuration.
struct PORT_DATA_1 {
    WCHAR sztPortName[PORT_NAME_UNITS];
    DWORD dwVersion;
    DWORD dwProtocol;
    DWORD cbSize;
    DWORD dwReserved;
    WCHAR sztHostAddress[PORT_HOST_ADDRESS_UNITS];
    WCHAR sztSNMPCommunity[PORT_COMMUNITY_UNITS];
    DWORD dwDoubleSpool;
    WCHAR sztQueue[PORT_QUEUE_UNITS];
    WCHAR sztIPAddress[PORT_IP_ADDRESS_UNITS];
    BYTE Reserved[PORT_RESERVED_BYTES];
    DWORD dwPortNumber;
    DWORD dwSNMPEnabled;
    DWORD dwSNMPDevIndex;
};

static_assert(sizeof(CONFIG_INFO_DATA_1) == 132, "request record is 132 bytes");
static_assert(offsetof(CONFIG_INFO_DATA_1, dwVersion) == 128, "version at byte 128");

static_assert(sizeof(PORT_DATA_1) == 964, "reply record is 964 bytes");
static_assert(offsetof(PORT_DATA_1, dwVersion) == 128, "version at byte 128");
static_assert(offsetof(PORT_DATA_1, sztHostAddress) == 144, "host address at byte 144");
static_assert(offsetof(PORT_DATA_1, sztSNMPCommunity) == 242, "community at byte 242");
static_assert(offsetof(PORT_DATA_1, dwDoubleSpool) == 308, "double spool at byte 308");
static_assert(offsetof(PORT_DATA_1, sztQueue) == 312, "queue at byte 312");
static_assert(offsetof(PORT_DATA_1, sztIPAddress) == 378, "IP address at byte 378");
static_assert(offsetof(PORT_DATA_1, Reserved) == 410, "reserved bytes at 410");
static_assert(offsetof(PORT_DATA_1, dwPortNumber) == 952, "port number at byte 952");
static_assert(offsetof(PORT_DATA_1, dwSNMPDevIndex) == 960, "SNMP device index at byte 960");

// The protocols a port can speak (dwProtocol).
enum { PROTOCOL_RAWTCP_TYPE = 1, PROTOCOL_LPR_TYPE = 2 };
