// Our WinSNMP against net-snmp's snmpd: a GetNext walk through our calls,
// over IPv4 and IPv6, gets exactly what snmpwalk -v1 got from the same agent
// (agents.sh recorded it): names, syntaxes, values, order, and the end.
#include <algorithm>
#include <set>
#include <sstream>

#include "tests/winsnmp_support.h"

#include <gtest/gtest.h>

namespace {

std::string Describe(const SnmpwalkEntry &e)
{
    return e.name + " [" + std::to_string(e.syntax) + "] " + e.value;
}

struct Walk {
    std::vector<SnmpwalkEntry> entries;
    bool ended = false;          // noSuchName after the last object
    bool leftRoot = false;       // an answer named something outside the root
    int duplicates = 0;          // answers to earlier requests, dropped
    std::string failure;
};

// Waits for the answer to request id, as the engine does: an answer to an
// earlier request (a copy that a resend brought) is dropped, and the wait
// goes on. Returns false with the failure set when no answer came.
bool AwaitAnswer(HWND window, HSNMP_SESSION session, HSNMP_ENTITY agent, HSNMP_ENTITY manager,
                 HSNMP_CONTEXT context, smiINT32 id, Received *r, bool *sameHandles, Walk *walk)
{
    for (;;) {
        if (!WaitNotification(window, 10000)) {
            walk->failure = "no notification for request " + std::to_string(id);
            return false;
        }
        *r = ReceiveOne(session, true);
        *sameHandles = r->source == agent && r->destination == manager && r->context == context;
        ReleaseReceived(*r);
        if (!r->ok) {
            walk->failure = "no answer to request " + std::to_string(id) + ", error " +
                            std::to_string(r->error);
            return false;
        }
        if (!*sameHandles || r->type != SNMP_PDU_RESPONSE || r->requestId >= id || r->requestId < 1)
            return true;
        walk->duplicates++;
    }
}

// Walks with GetNext from root, one variable per request, to the end of the
// agent's view or the first name outside root, and checks on every answer
// what the engine relies on: the request id, and the handles of source,
// destination and context equal to those the session holds.
Walk WalkAgent(const char *address, UINT port, const char *root = "1.3.6.1")
{
    Walk walk;
    HWND window = MakeNotifyWindow();
    SnmpStartup(NULL, NULL, NULL, NULL, NULL);
    SnmpSetTranslateMode(SNMPAPI_UNTRANSLATED_V1);
    HSNMP_SESSION session = SnmpOpen(window, TEST_SNMP_NOTIFY);
    HSNMP_ENTITY agent = SnmpStrToEntity(session, address);
    HSNMP_ENTITY manager = SnmpStrToEntity(session, "127.0.0.1");
    BYTE community[] = {'p', 'u', 'b', 'l', 'i', 'c'};
    smiOCTETS text = {sizeof(community), community};
    HSNMP_CONTEXT context = SnmpStrToContext(session, &text);
    if (!session || !agent || !manager || !context) {
        walk.failure = "set-up failed";
        return walk;
    }
    SnmpSetPort(agent, port);
    SnmpSetTimeout(agent, 200);
    SnmpSetRetry(agent, 2);

    const std::vector<smiUINT32> rootIds = Oid(root);
    std::vector<smiUINT32> name = rootIds;
    for (smiINT32 id = 1; id < 10000; id++) {
        if (SendRequest(session, manager, agent, context, SNMP_PDU_GETNEXT, id, name) !=
            SNMPAPI_SUCCESS) {
            walk.failure = "send failed: " + std::to_string(SnmpGetLastError(session));
            break;
        }
        Received r;
        bool sameHandles = false;
        if (!AwaitAnswer(window, session, agent, manager, context, id, &r, &sameHandles, &walk))
            break;
        if (!sameHandles || r.requestId != id || r.type != SNMP_PDU_RESPONSE ||
            r.bindings.size() != 1) {
            walk.failure = "answer to request " + std::to_string(id) +
                           " does not match: handles " + (sameHandles ? "equal" : "differ") +
                           ", id " + std::to_string(r.requestId) + ", type " +
                           std::to_string(r.type) + ", " + std::to_string(r.bindings.size()) +
                           " variables";
            break;
        }
        const Binding &b = r.bindings[0];
        if (r.errorStatus != 0) {
            // SNMPv1's end: noSuchName on the one variable, echoed as asked.
            walk.ended = r.errorStatus == SNMP_ERROR_NOSUCHNAME && r.errorIndex == 1 &&
                         b.name == OidText(name);
            if (!walk.ended)
                walk.failure = "ended with error status " + std::to_string(r.errorStatus) +
                               " index " + std::to_string(r.errorIndex) + " on " + b.name;
            break;
        }
        name = Oid(b.name.c_str());
        if (name.size() < rootIds.size() ||
            !std::equal(rootIds.begin(), rootIds.end(), name.begin())) {
            walk.leftRoot = true;
            break;
        }
        walk.entries.push_back({b.name, b.syntax, b.value});
    }
    // The session's own handles are intact after the releases of the
    // received copies: reference counting balanced.
    if (SnmpSetPort(agent, port) != SNMPAPI_SUCCESS || SnmpFreeContext(context) != SNMPAPI_SUCCESS)
        walk.failure += " (the session's handles were released by the answers)";
    SnmpFreeEntity(agent);
    SnmpFreeEntity(manager);
    SnmpClose(session);
    SnmpCleanup();
    DestroyNotifyWindow(window);
    return walk;
}

void CompareWithSnmpwalk(const char *file, const char *address, UINT port)
{
    std::string reason;
    if (!AgentsAvailable(&reason))
        GTEST_SKIP() << reason;
    std::string reference = ReadTextFile(AgentFile(file));
    std::vector<SnmpwalkEntry> expected;
    bool endOfMib = false;
    std::string problem;
    ASSERT_TRUE(ParseSnmpwalk(reference, &expected, &endOfMib, &problem)) << problem;
    ASSERT_TRUE(endOfMib) << "snmpwalk's walk did not reach the end:\n" << reference;
    ASSERT_GE(expected.size(), 40u) << "the view holds the system group and our sub-trees";

    Walk walk = WalkAgent(address, port);
    ASSERT_EQ(walk.failure, "");
    EXPECT_TRUE(walk.ended);
    for (size_t i = 0; i < expected.size() && i < walk.entries.size(); i++) {
        ASSERT_EQ(Describe(walk.entries[i]), Describe(expected[i])) << "object " << i;
    }
    EXPECT_EQ(walk.entries.size(), expected.size());

    // The syntaxes the config offers all came through.
    std::set<int> seen;
    for (const SnmpwalkEntry &e : walk.entries)
        seen.insert(e.syntax);
    for (int syntax : {SNMP_SYNTAX_INT, SNMP_SYNTAX_OCTETS, SNMP_SYNTAX_OID, SNMP_SYNTAX_IPADDR,
                       SNMP_SYNTAX_CNTR32, SNMP_SYNTAX_GAUGE32, SNMP_SYNTAX_TIMETICKS})
        EXPECT_TRUE(seen.count(syntax)) << "syntax " << syntax << " missing from the walk";
}

TEST(WinSnmpInterop, GetNextWalkOverIpv4MatchesSnmpwalk)
{
    CompareWithSnmpwalk("walk-ipv4.txt", "127.0.0.41", 161);
}

TEST(WinSnmpInterop, GetNextWalkOverIpv6MatchesSnmpwalk)
{
    CompareWithSnmpwalk("walk-ipv6.txt", "::1", 16141);
}

TEST(WinSnmpInterop, WalkDropsACopyOfAnEarlierAnswerAndGoesOn)
{
    std::string reason;
    if (!AgentsAvailable(&reason))
        GTEST_SKIP() << reason;
    // Our engine agent answers its first GetNext twice, 30 ms apart, and
    // the next one 100 ms late: the copy comes while request 2 waits, as a
    // resent request's second answer does from a slow agent.
    std::string root = "1.3.6.1.4.1.55555.27." + std::to_string(GetTickCount() % 1000000 + 7000000);
    Walk walk = WalkAgent("127.0.0.44", 161, root.c_str());
    ASSERT_EQ(walk.failure, "");
    EXPECT_TRUE(walk.leftRoot);
    EXPECT_EQ(walk.duplicates, 1);
    ASSERT_EQ(walk.entries.size(), 1u);
    EXPECT_EQ(Describe(walk.entries[0]), "." + root + ".1 [4] 64 75 70");
}

TEST(WinSnmpInterop, OneSessionAsksOverIpv4AndThenOverIpv6)
{
    std::string reason;
    if (!AgentsAvailable(&reason))
        GTEST_SKIP() << reason;
    std::string noIpv6 = ReadTextFile(AgentFile("engine-ipv6-unavailable"));
    if (!noIpv6.empty())
        GTEST_SKIP() << noIpv6;
    // The IPv6 socket is made on its first send, after the receive thread
    // has gone to sleep on the IPv4 one: its answer must come at once, not
    // after the thread's next time-out or a resend.
    HWND window = MakeNotifyWindow();
    SnmpStartup(NULL, NULL, NULL, NULL, NULL);
    HSNMP_SESSION session = SnmpOpen(window, TEST_SNMP_NOTIFY);
    HSNMP_ENTITY manager = SnmpStrToEntity(session, "127.0.0.1");
    BYTE community[] = {'p', 'u', 'b', 'l', 'i', 'c'};
    smiOCTETS text = {sizeof(community), community};
    HSNMP_CONTEXT context = SnmpStrToContext(session, &text);
    smiINT32 id = 1;
    // The engine agent's sub-tree .20.4, whose request log no engine test
    // counts (the agents serve a whole run).
    for (const char *address : {"127.0.0.44", "::1"}) {
        SCOPED_TRACE(address);
        HSNMP_ENTITY agent = SnmpStrToEntity(session, address);
        SnmpSetTimeout(agent, 300);
        SnmpSetRetry(agent, 0);
        DWORD start = GetTickCount();
        ASSERT_EQ(SendRequest(session, manager, agent, context, SNMP_PDU_GETNEXT, id,
                              Oid("1.3.6.1.4.1.55555.20.4")),
                  SNMPAPI_SUCCESS);
        Received r;
        bool sameHandles = false;
        Walk walk;
        EXPECT_TRUE(AwaitAnswer(window, session, agent, manager, context, id, &r, &sameHandles,
                                &walk)) << walk.failure;
        EXPECT_LT(GetTickCount() - start, 1000u);
        EXPECT_TRUE(sameHandles);
        EXPECT_EQ(id, r.requestId);
        SnmpFreeEntity(agent);
        id++;
        Sleep(1500);        // the thread sleeps until its next deadline
    }
    SnmpFreeEntity(manager);
    SnmpFreeContext(context);
    SnmpClose(session);
    SnmpCleanup();
    DestroyNotifyWindow(window);
}

TEST(WinSnmpInterop, ParserOfTheReferenceRejectsWhatItDoesNotKnow)
{
    std::vector<SnmpwalkEntry> entries;
    bool end = false;
    std::string problem;
    EXPECT_FALSE(ParseSnmpwalk(".1.3.6.1.2.1.1.1.0 = Wrong-TYPE: 1\n", &entries, &end, &problem));
    entries.clear();
    ASSERT_TRUE(ParseSnmpwalk(".1.3 = Hex-STRING: 41 42 \n43 \n.1.4 = \"\"\n"
                              ".1.5 = Timeticks: (7) 0:00:00.07\nEnd of MIB\n",
                              &entries, &end, &problem))
        << problem;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(Describe(entries[0]), ".1.3 [4] 41 42 43");
    EXPECT_EQ(Describe(entries[1]), ".1.4 [4] ");
    EXPECT_EQ(Describe(entries[2]), ".1.5 [67] 7");
    EXPECT_TRUE(end);
    // snmpbulkwalk's: a Counter64, and endOfMibView after the last object.
    entries.clear();
    ASSERT_TRUE(ParseSnmpwalk(".1.6 = Counter64: 18446744073709551615\n"
                              ".1.6 = No more variables left in this MIB View (It is past the end of the MIB tree)\n",
                              &entries, &end, &problem))
        << problem;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Describe(entries[0]), ".1.6 [70] 18446744073709551615");
    EXPECT_TRUE(end);
}

}  // namespace
