// The SNMP query engine as its callers see it: one sub-tree walk per call,
// and the value table and failure flag it leaves behind.
#pragma once

#include <stddef.h>

// The value table g_snmpValues and the failure flag g_snmpFailed that a walk
// leaves behind are the program's shared values.
#include "common/base.h"
#include "winsnmp/wsnmp_v3.h"

// How the last walk went, for a caller that explains it (the dialog program
// does not look: its messages have told the user).
enum WalkEnding {
    WALK_NOT_STARTED,       // set-up failed: address, platform, session
    WALK_ENDED,             // the end of the sub-tree (or noSuchName)
    WALK_OID_INVALID,       // the OID text converts in neither form
    WALK_NO_ANSWER,         // an exchange brought no readable answer
    WALK_REFUSED,           // an answer with an error status other than noSuchName
    WALK_NOT_ADVANCING,     // an answer that does not follow the name asked for
    WALK_TOO_LONG,          // no end after the most requests a walk sends
    WALK_REQUEST_FAILED     // a request could not be made or sent
};
struct WalkSummary {
    int ending;             // a WalkEnding
    int exchanges;          // requests sent
    int errorStatus;        // of the last answer, 0 when none came
    int objects;            // bindings found inside the sub-tree
};

// engine_state.cpp
// How the walks of the process talk to agents: SNMPv1 with each call's
// community (version 1, the default), SNMPv2c with it (version 2, only
// through QueryOidSubtreeBulk), or SNMPv3 with these credentials
// (version 3), taken by every walk's session through our WinSNMP's extension;
// the community is then not sent. After a failed SNMPv3 walk,
// VrSnmpGetV3Failure(NULL) says why.
struct SnmpSecuritySetting {
    int version;
    VrSnmpSecurity v3;
};
extern SnmpSecuritySetting g_snmpSecurity;
// Sets everything the engine and our WinSNMP keep for the process as a new
// process has it: the value table, the failure flag, the last walk's
// summary, the engine's copies of the texts and names, and the task state
// of our WinSNMP (VrSnmpForgetTaskState). The security setting stays: it is
// the run's, not an agent's. Only between walks: 0 while one runs.
int ResetQueryEngine(void);

// walk.cpp
extern WalkSummary g_lastWalk;
// The name of an SNMPv1 or SNMPv2 error status (RFC 3416), "unknown" for
// any other number.
const char *GetErrorStatusName(int status);
// Walks the agent's sub-tree under oidText with GetNext requests and fills
// g_snmpValues. Returns 0 when the walk came to its end (an answer outside
// the sub-tree, or an error status), -1 when it did not.
int QueryOidSubtree(const char *address, size_t addressLength, const char *community,
                    size_t communityLength, const char *oidText, size_t oidTextLength,
                    int timeoutSeconds);
// The walk every QueryOidSubtree call is handed to when set (NULL: the
// GetNext walk above). The console program sets QueryOidSubtreeBulk for its
// SNMPv2c and SNMPv3 runs; the dialog program never sets it, and walks with
// GetNext over SNMPv1.
typedef int (*SubtreeWalk)(const char *address, size_t addressLength, const char *community,
                           size_t communityLength, const char *oidText, size_t oidTextLength,
                           int timeoutSeconds);
extern SubtreeWalk g_subtreeWalk;

// bulk_walk.cpp
// The same walk with GetBulk requests, many objects per exchange, over
// SNMPv2c (g_snmpSecurity.version 2) or SNMPv3: the same values in the same
// order and slots as the GetNext walk of the agent, and the same summary,
// its exchanges the requests that went out. Ends at the first object outside
// the sub-tree or at endOfMibView; on tooBig asks again for fewer objects.
int QueryOidSubtreeBulk(const char *address, size_t addressLength, const char *community,
                        size_t communityLength, const char *oidText, size_t oidTextLength,
                        int timeoutSeconds);
