// The SNMP query engine's state shared with its callers.
#pragma once

enum {
    SNMP_VALUE_SLOTS = 16,
    SNMP_VALUE_SIZE = 64
};

// engine_state.cpp
// The value table: texts of the OCTET STRING values of the last walk, slot 0
// upwards; a slot whose first char is NUL is empty.
extern char g_snmpValues[SNMP_VALUE_SLOTS][SNMP_VALUE_SIZE];
// 1 when the last exchange with the agent failed; set only by the exchange
// release.
extern int g_snmpFailed;
