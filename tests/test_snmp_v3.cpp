// The engine's walks over SNMPv3 (our WinSNMP's extension) against snmpd with
// SNMPv3 users and our time-window agent (tests/agents/v3-agents.sh): values
// equal to snmpwalk -v3's, each refusal ending the walk with its reason, and
// each forged, stale or replayed answer of the time-window agent (one per
// sub-tree, see v3_time_agent.py) ending as it must: answer, no answer, or
// the failure reason.
#include "snmp/snmp_engine.h"
#include "shell/shell.h"
#include "common/text.h"
#include "tests/bench/bench.h"
#include "tests/winsnmp_support.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char ENTERPRISE[] = "1.3.6.1.4.1.55555.71";
const char SYSTEM[] = "1.3.6.1.2.1.1";
// The agents' engine ids (snmpd-v3.conf, v3_time_agent.py).
const char SNMPD_ENGINE[] = "80001f88047672763374657374";
const char TIME_ENGINE[] = "80001f8804767274696d65";

// The texts of snmpwalk's STRING lines, as the engine keeps them: at most
// the table's slots, each cut to the slot's size.
std::vector<std::string> ReferenceTexts(const std::string &file)
{
    std::vector<std::string> texts;
    std::istringstream lines(ReadTextFile(AgentFile(file.c_str())));
    std::string line;
    const std::string marker = " = STRING: \"";
    while (std::getline(lines, line)) {
        size_t at = line.find(marker);
        if (at != std::string::npos && texts.size() < SNMP_VALUE_SLOTS)
            texts.push_back(line.substr(at + marker.size(), line.size() - at - marker.size() - 1)
                                .substr(0, SNMP_VALUE_SIZE - 1));
    }
    texts.resize(SNMP_VALUE_SLOTS);
    return texts;
}

std::vector<std::string> Values()
{
    return std::vector<std::string>(g_snmpValues, g_snmpValues + SNMP_VALUE_SLOTS);
}

// The engine id (hex) that authentic messages confirmed for the agent; ""
// for none.
std::string ConfirmedEngine(const char *agent)
{
    char address[64];
    BYTE id[64];
    UINT length = 0;
    for (UINT i = 0; VrSnmpGetConfirmedEngine(i, address, sizeof(address), id, sizeof(id),
                                              &length) == SNMPAPI_SUCCESS; i++) {
        if (strcmp(address, agent) != 0)
            continue;
        std::string hex;
        for (UINT b = 0; b < length; b++) {
            char two[3];
            FormatText(two, COUNTOF(two), "%02x", id[b]);
            hex += two;
        }
        return hex;
    }
    return "";
}

TEST(SnmpV3, WalksAndRefusalsAgainstTheAgents)
{
    std::string reason;
    std::string unavailable = ReadTextFile(AgentFile("unavailable"));
    if (!unavailable.empty() || ReadTextFile(AgentFile("walk-shaaes-system.txt")).empty())
        GTEST_SKIP() << "SNMPv3 agents unavailable: " << unavailable;
    g_hInstance = GetModuleHandleA(NULL);

    // The time-window agent's sub-tree of a scenario (its key: this run's).
    static char trees[32][64];
    int key = (int)(GetTickCount() % 100000);
    for (int n = 0; n < 32; n++)
        FormatText(trees[n], COUNTOF(trees[n]), "1.3.6.1.4.1.55555.72.%d.%d", n, key);
    const char *once = trees[1], *always = trees[2];
    std::vector<std::string> firstSecond = {"first", "second"};
    firstSecond.resize(SNMP_VALUE_SLOTS);

    struct Case {
        const char *user;
        int auth;
        const char *authPassword;
        int priv;
        const char *privPassword;
        const char *agent;
        const char *oid;
        int failure;                // VrSnmpV3Failure; OK: the walk's values are checked
        int outsideWindow;          // answers dropped as outside the time window
        int fresh = 0;              // asked with no engine known (the task state forgotten)
        const char *engine = NULL;  // the engine confirmed for the agent after it; NULL: not looked at
    } cases[] = {
        {"shaaes", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_OK, 0, 1, SNMPD_ENGINE},
        // A refused request confirms no engine.
        {"shaaes", VR_SNMP_AUTH_SHA, "wrong-password", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_AUTHENTICATION_FAILED, 0, 1, ""},
        {"shaaes", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", SYSTEM, VR_SNMP_V3_OK, 0},
        {"md5aes", VR_SNMP_AUTH_MD5, "md5aes-auth", VR_SNMP_PRIV_AES, "md5aes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_OK, 0},
        {"sha256aes", VR_SNMP_AUTH_SHA256, "sha256aes-auth", VR_SNMP_PRIV_AES, "sha256aes-priv",
         "127.0.0.71", SYSTEM, VR_SNMP_V3_OK, 0},
        {"shaonly", VR_SNMP_AUTH_SHA, "shaonly-auth", VR_SNMP_PRIV_NONE, "",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_OK, 0},
        {"shaaes", VR_SNMP_AUTH_SHA, "wrong-password", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_AUTHENTICATION_FAILED, 0},
        {"nobody", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_UNKNOWN_USER, 0},
        {"privonly", VR_SNMP_AUTH_SHA, "privonly-auth", VR_SNMP_PRIV_NONE, "",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_PRIVACY_REQUIRED, 0},
        {"shaonly", VR_SNMP_AUTH_SHA, "shaonly-auth", VR_SNMP_PRIV_AES, "shaonly-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_LEVEL_UNSUPPORTED, 0},
        {"timeuser", VR_SNMP_AUTH_SHA, "timepass1", VR_SNMP_PRIV_NONE, "",
         "127.0.0.72", once, VR_SNMP_V3_OK, 0},
        {"timeuser", VR_SNMP_AUTH_SHA, "timepass1", VR_SNMP_PRIV_NONE, "",
         "127.0.0.72", always, VR_SNMP_V3_NOT_IN_TIME_WINDOW, 0},
#define TIMEUSER "timeuser", VR_SNMP_AUTH_SHA, "timepass1", VR_SNMP_PRIV_NONE, "", "127.0.0.72"
#define TIME256 "time256", VR_SNMP_AUTH_SHA256, "timepass256", VR_SNMP_PRIV_NONE, "", "127.0.0.72"
#define TIMEPRIV "timepriv", VR_SNMP_AUTH_SHA, "timepriv-auth", VR_SNMP_PRIV_AES, \
                 "timepriv-priv", "127.0.0.72"
#define TIMEPLAIN "timeplain", VR_SNMP_AUTH_NONE, "", VR_SNMP_PRIV_NONE, "", "127.0.0.72"
        // What the answers that ought to pass look like from this agent.
        {TIME256, trees[30], VR_SNMP_V3_OK, 0},
        {TIMEPRIV, trees[30], VR_SNMP_V3_OK, 0},
        {TIMEPLAIN, trees[30], VR_SNMP_V3_OK, 0},
        // Forged or broken answers are dropped: the retries run out.
        {TIMEUSER, trees[3], VR_SNMP_V3_NO_ANSWER, 0},       // one digest bit flipped
        {TIMEUSER, trees[4], VR_SNMP_V3_NO_ANSWER, 0},       // a digest of 11 bytes
        {TIMEUSER, trees[5], VR_SNMP_V3_NO_ANSWER, 0},       // ... and of 13
        {TIME256, trees[16], VR_SNMP_V3_NO_ANSWER, 0},       // the digest's last byte
        {TIMEUSER, trees[6], VR_SNMP_V3_NO_ANSWER, 0},       // noAuth answer, authNoPriv asked
        {TIMEPRIV, trees[7], VR_SNMP_V3_NO_ANSWER, 0},       // authNoPriv answer, authPriv asked
        {TIMEUSER, trees[8], VR_SNMP_V3_NO_ANSWER, 0},       // a foreign engine id
        {TIMEUSER, trees[8], VR_SNMP_V3_NO_ANSWER, 0, 1, TIME_ENGINE},   // ... never confirmed
        {TIMEPRIV, trees[17], VR_SNMP_V3_NO_ANSWER, 0},      // a salt of 7 bytes
        {TIMEPRIV, trees[18], VR_SNMP_V3_NO_ANSWER, 0},      // ... and of 9
        {TIMEUSER, trees[19], VR_SNMP_V3_NO_ANSWER, 0},      // another context name
        {TIMEUSER, trees[20], VR_SNMP_V3_NO_ANSWER, 0},      // another context engine
        {TIMEPLAIN, trees[22], VR_SNMP_V3_NO_ANSWER, 0},     // noAuthNoPriv: another user
        {TIMEPLAIN, trees[8], VR_SNMP_V3_NO_ANSWER, 0},      // ... another engine
        // Authentic but outside the time window: dropped and counted.
        {TIMEUSER, trees[11], VR_SNMP_V3_NO_ANSWER, 1},   // 200 s old
        {TIMEUSER, trees[12], VR_SNMP_V3_NO_ANSWER, 1},   // replayed from the boots before
        {TIMEPRIV, trees[12], VR_SNMP_V3_NO_ANSWER, 1},   // ... and encrypted
        // Boots at their end, on an engine learnt from nothing else: every
        // request answered so.
        {TIMEUSER, trees[13], VR_SNMP_V3_NO_ANSWER, 1, 1, ""},
        // Unauthenticated reports that must not end the request: a retry
        // gets the answer.
        {TIMEUSER, trees[9], VR_SNMP_V3_OK, 0},              // notInTimeWindow
        {TIMEUSER, trees[10], VR_SNMP_V3_OK, 0},             // unknownEngineID in mid-walk
        {TIMEUSER, trees[15], VR_SNMP_V3_OK, 0},             // a report of another message id
        // A forged notInTimeWindow spends nothing: the authentic one that the
        // retry meets still gets the resynchronisation.
        {TIMEUSER, trees[23], VR_SNMP_V3_OK, 0},
        // The agent's clock jumps ahead: our notion follows it.
        {TIMEUSER, trees[14], VR_SNMP_V3_OK, 0},
        // A resend with a new message id and salt is answered.
        {TIMEUSER, trees[21], VR_SNMP_V3_OK, 0},
        {TIMEPRIV, trees[21], VR_SNMP_V3_OK, 0},
#undef TIMEUSER
#undef TIME256
#undef TIMEPRIV
#undef TIMEPLAIN
        // Nobody at all listens there.
        {"shaaes", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.73", ENTERPRISE, VR_SNMP_V3_NO_ANSWER, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.user) + " at " + c.agent + " " + c.oid);
        BoxRecorder boxes;
        g_snmpSecurity.version = 3;
        memset(&g_snmpSecurity.v3, 0, sizeof(g_snmpSecurity.v3));
        CopyText(g_snmpSecurity.v3.userName, COUNTOF(g_snmpSecurity.v3.userName), c.user);
        g_snmpSecurity.v3.authProtocol = c.auth;
        CopyText(g_snmpSecurity.v3.authPassword, COUNTOF(g_snmpSecurity.v3.authPassword),
                 c.authPassword);
        g_snmpSecurity.v3.privProtocol = c.priv;
        CopyText(g_snmpSecurity.v3.privPassword, COUNTOF(g_snmpSecurity.v3.privPassword),
                 c.privPassword);
        if (c.fresh) {
            ASSERT_EQ(VrSnmpForgetTaskState(), SNMPAPI_SUCCESS);
        }
        LONG outsideBefore = VrSnmpGetV3OutsideWindow();
        int result = QueryOidSubtree(c.agent, strlen(c.agent), "unused", 6, c.oid,
                                     strlen(c.oid), 1);
        EXPECT_EQ(VrSnmpGetV3Failure(NULL), c.failure);
        if (c.outsideWindow)
            EXPECT_GT(VrSnmpGetV3OutsideWindow(), outsideBefore);
        else
            EXPECT_EQ(VrSnmpGetV3OutsideWindow(), outsideBefore);
        if (c.engine != NULL) {
            EXPECT_EQ(ConfirmedEngine(c.agent), c.engine);
        }
        if (c.failure != VR_SNMP_V3_OK) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(g_snmpFailed, 1);
            EXPECT_EQ(boxes.Count(), 1u);       // the connection error, as for SNMPv1
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(boxes.Count(), 0u);
        if (strcmp(c.agent, "127.0.0.72") == 0)
            EXPECT_EQ(Values(), firstSecond);
        else
            EXPECT_EQ(Values(), ReferenceTexts(std::string("walk-") + c.user +
                                               (c.oid == SYSTEM ? "-system.txt"
                                                                : "-enterprise.txt")));
    }
    g_snmpSecurity.version = 1;
}

} // namespace
