// The engine's walks over SNMPv3 (our WinSNMP's extension) against snmpd with
// SNMPv3 users and our time-window agent (tests/agents/v3-agents.sh): values
// equal to snmpwalk -v3's, and each refusal ending the walk with its reason.
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

TEST(SnmpV3, WalksAndRefusalsAgainstTheAgents)
{
    std::string reason;
    std::string unavailable = ReadTextFile(AgentFile("unavailable"));
    if (!unavailable.empty() || ReadTextFile(AgentFile("walk-shaaes-system.txt")).empty())
        GTEST_SKIP() << "SNMPv3 agents unavailable: " << unavailable;
    g_hInstance = GetModuleHandleA(NULL);

    char once[64], always[64];
    int key = (int)(GetTickCount() % 100000);
    FormatText(once, COUNTOF(once), "1.3.6.1.4.1.55555.72.1.%d", key);
    FormatText(always, COUNTOF(always), "1.3.6.1.4.1.55555.72.2.%d", key);
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
    } cases[] = {
        {"shaaes", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_OK},
        {"shaaes", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", SYSTEM, VR_SNMP_V3_OK},
        {"md5aes", VR_SNMP_AUTH_MD5, "md5aes-auth", VR_SNMP_PRIV_AES, "md5aes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_OK},
        {"sha256aes", VR_SNMP_AUTH_SHA256, "sha256aes-auth", VR_SNMP_PRIV_AES, "sha256aes-priv",
         "127.0.0.71", SYSTEM, VR_SNMP_V3_OK},
        {"shaonly", VR_SNMP_AUTH_SHA, "shaonly-auth", VR_SNMP_PRIV_NONE, "",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_OK},
        {"shaaes", VR_SNMP_AUTH_SHA, "wrong-password", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_AUTHENTICATION_FAILED},
        {"nobody", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_UNKNOWN_USER},
        {"privonly", VR_SNMP_AUTH_SHA, "privonly-auth", VR_SNMP_PRIV_NONE, "",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_PRIVACY_REQUIRED},
        {"shaonly", VR_SNMP_AUTH_SHA, "shaonly-auth", VR_SNMP_PRIV_AES, "shaonly-priv",
         "127.0.0.71", ENTERPRISE, VR_SNMP_V3_LEVEL_UNSUPPORTED},
        {"timeuser", VR_SNMP_AUTH_SHA, "timepass1", VR_SNMP_PRIV_NONE, "",
         "127.0.0.72", once, VR_SNMP_V3_OK},
        {"timeuser", VR_SNMP_AUTH_SHA, "timepass1", VR_SNMP_PRIV_NONE, "",
         "127.0.0.72", always, VR_SNMP_V3_NOT_IN_TIME_WINDOW},
        // Nobody at all listens there.
        {"shaaes", VR_SNMP_AUTH_SHA, "shaaes-auth", VR_SNMP_PRIV_AES, "shaaes-priv",
         "127.0.0.73", ENTERPRISE, VR_SNMP_V3_NO_ANSWER},
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
        int result = QueryOidSubtree(c.agent, strlen(c.agent), "unused", 6, c.oid,
                                     strlen(c.oid), 1);
        EXPECT_EQ(VrSnmpGetV3Failure(NULL), c.failure);
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
