// The SNMP query engine as its callers see it: one sub-tree walk per call,
// and the value table and failure flag it leaves behind.
#pragma once

#include <stddef.h>

#include "winsnmp/wsnmp_v3.h"

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

// How the walks of the process talk to agents: SNMPv1 with each call's
// community (version 1, the default), or SNMPv3 with these credentials
// (version 3), taken by every walk's session through our WinSNMP's extension;
// the community is then not sent. After a failed SNMPv3 walk,
// VrSnmpGetV3Failure(NULL) says why.
struct SnmpSecuritySetting {
    int version;
    VrSnmpSecurity v3;
};
extern SnmpSecuritySetting g_snmpSecurity;

// walk.cpp
// Walks the agent's sub-tree under oidText with GetNext requests and fills
// g_snmpValues. Returns 0 when the walk came to its end (an answer outside
// the sub-tree, or an error status), -1 when it did not.
int QueryOidSubtree(const char *address, size_t addressLength, const char *community,
                    size_t communityLength, const char *oidText, size_t oidTextLength,
                    int timeoutSeconds);
