// The address, community and time-out that detection starts with for
// g_printerName, and where each came from: the dialog's fields and the
// console program's settings are filled by the same steps.
#pragma once

#include "common/base.h"

// Where a setting came from.
enum SettingSource {
    SOURCE_DEFAULT,
    SOURCE_CLUSTER,         // the port's keys below a cluster resource
    SOURCE_MONITOR,         // the port monitor's configuration
    SOURCE_STORED,          // the settings stored by an earlier run
    SOURCE_COMMAND_LINE
};
struct PortSources {
    int address;            // SettingSource
    int community;
    int timeout;
};

// The address that no source replaced.
#define DEFAULT_ADDRESS_TEXT "1.0.0.0"

// port_settings.cpp: address and community hold SHORT_TEXT_SIZE bytes,
// timeoutText TIMEOUT_TEXT_SIZE. sources may be NULL.
void FillPortSettings(char *address, char *community, char *timeoutText, PortSources *sources);
