// The SNMP query engine's process-wide state.
#include "snmp/snmp_engine.h"

char g_snmpValues[SNMP_VALUE_SLOTS][SNMP_VALUE_SIZE];
int g_snmpFailed;
