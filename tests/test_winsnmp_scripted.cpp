// Our WinSNMP against tests/agents/scripted_agent.py (127.0.0.42:161), which
// misbehaves on purpose: wrong request ids, silence, late answers, malformed
// datagrams, and silence for a wrong community. The agent tells us when it
// received what; we measure when the notifications came.
#include "tests/winsnmp_support.h"
#include "winsnmp/ber.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

namespace {

const char *kAgent = "127.0.0.42";
const char *kRoot = "1.3.6.1.4.1.55555";

// Timer slack a loaded two-core machine keeps: a wait may end up to this
// much late, never more than a scheduler tick early.
const int kEarlyMs = 20;
const int kLateMs = 400;

class WinSnmpScripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!AgentsAvailable(&reason))
            GTEST_SKIP() << reason;
        ASSERT_EQ(SnmpStartup(NULL, NULL, NULL, NULL, NULL), SNMPAPI_SUCCESS);
        SnmpSetTranslateMode(SNMPAPI_UNTRANSLATED_V1);
        window = MakeNotifyWindow();
        session = SnmpOpen(window, TEST_SNMP_NOTIFY);
        ASSERT_NE(session, nullptr);
        agent = SnmpStrToEntity(session, kAgent);
        manager = SnmpStrToEntity(session, "127.0.0.1");
        pub = Context("public");
        ASSERT_TRUE(agent && manager && pub);
        // Keys unique per run, as the agent lives across runs of this program.
        static unsigned counter = 0;
        key = (GetCurrentProcessId() % 100000) * 100 + (++counter);
    }
    void TearDown() override
    {
        if (session != NULL) {
            SnmpClose(session);
            SnmpCleanup();
        }
        if (window != NULL)
            DestroyNotifyWindow(window);
    }
    HSNMP_CONTEXT Context(const char *community)
    {
        smiOCTETS text = {(smiUINT32)strlen(community), (smiLPBYTE)community};
        return SnmpStrToContext(session, &text);
    }
    std::vector<smiUINT32> Name(int scenario, const std::string &more = "")
    {
        return Oid((std::string(kRoot) + "." + std::to_string(scenario) + "." +
                    std::to_string(key) + more)
                       .c_str());
    }
    // The agent's record of the datagrams that came for a name: their
    // arrival times in ms after the first.
    std::vector<int> Arrivals(const std::vector<smiUINT32> &name)
    {
        std::vector<smiUINT32> ask = Oid(kRoot);
        ask.push_back(0);
        ask.insert(ask.end(), name.begin() + ask.size() - 1, name.end());
        SnmpSetTimeout(agent, 100);
        SnmpSetRetry(agent, 2);
        std::vector<int> times;
        if (SendRequest(session, manager, agent, pub, SNMP_PDU_GET, 999999, ask) !=
                SNMPAPI_SUCCESS ||
            !WaitNotification(window, 5000)) {
            ADD_FAILURE() << "the agent's record could not be read";
            return times;
        }
        Received r = ReceiveOne(session);
        if (!r.ok || r.requestId != 999999 || r.bindings.size() != 1) {
            ADD_FAILURE() << "the agent's record could not be read";
            return times;
        }
        std::string text = r.bindings[0].octets;     // "count:t0,t1,..."
        size_t colon = text.find(':');
        int count = atoi(text.c_str());
        for (size_t p = colon + 1; p < text.size() && count > 0;) {
            times.push_back(atoi(text.c_str() + p));
            size_t comma = text.find(',', p);
            if (comma == std::string::npos)
                break;
            p = comma + 1;
        }
        EXPECT_EQ((int)times.size(), count) << text;
        return times;
    }

    HWND window = NULL;
    HSNMP_SESSION session = NULL;
    HSNMP_ENTITY agent = NULL;
    HSNMP_ENTITY manager = NULL;
    HSNMP_CONTEXT pub = NULL;
    unsigned key = 0;
};

TEST_F(WinSnmpScripted, AnswersWithTheWrongRequestIdAreDeliveredAndLeftToTheCaller)
{
    SnmpSetTimeout(agent, 30);
    SnmpSetRetry(agent, 1);
    std::vector<smiUINT32> name = Name(2);
    ASSERT_EQ(SendRequest(session, manager, agent, pub, SNMP_PDU_GET, 77, name), SNMPAPI_SUCCESS);

    ASSERT_TRUE(WaitNotification(window, 3000));
    Received wrong = ReceiveOne(session, true);
    ASSERT_TRUE(wrong.ok) << wrong.error;
    EXPECT_EQ(wrong.requestId, 78);
    ASSERT_EQ(wrong.bindings.size(), 1u);
    EXPECT_EQ(wrong.bindings[0].octets, "wrong");
    // Same agent, manager and community: only the id tells it apart.
    EXPECT_EQ(wrong.source, agent);
    EXPECT_EQ(wrong.destination, manager);
    EXPECT_EQ(wrong.context, pub);
    ReleaseReceived(wrong);

    ASSERT_TRUE(WaitNotification(window, 3000));
    Received right = ReceiveOne(session, true);
    ASSERT_TRUE(right.ok) << right.error;
    EXPECT_EQ(right.requestId, 77);
    ASSERT_EQ(right.bindings.size(), 1u);
    EXPECT_EQ(right.bindings[0].octets, "right");
    EXPECT_EQ(right.bindings[0].name, OidText(name));
    EXPECT_EQ(right.type, SNMP_PDU_RESPONSE);
    EXPECT_EQ(right.source, agent);
    EXPECT_EQ(right.destination, manager);
    EXPECT_EQ(right.context, pub);
    ReleaseReceived(right);
    // The releases were balanced: our own handles still work.
    EXPECT_EQ(SnmpSetPort(agent, 161), SNMPAPI_SUCCESS);
    EXPECT_EQ(SnmpSetTimeout(manager, 30), SNMPAPI_SUCCESS);

    // Answered: no resend and no time-out follow.
    EXPECT_EQ(DrainNotifications(window, 900), 0);
    EXPECT_EQ(Arrivals(name).size(), 1u);
}

TEST_F(WinSnmpScripted, SilenceTimesOutAfterOneSendAndTheResends)
{
    struct Case {
        smiTIMETICKS timeout;    // hundredths
        smiUINT32 retry;
    } cases[] = {{40, 3}, {30, 0}, {25, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE("timeout " + std::to_string(c.timeout) + " retry " + std::to_string(c.retry));
        key += 1000000;
        SnmpSetTimeout(agent, c.timeout);
        SnmpSetRetry(agent, c.retry);
        std::vector<smiUINT32> name = Name(3);
        ULONGLONG start = GetTickCount64();
        ASSERT_EQ(SendRequest(session, manager, agent, pub, SNMP_PDU_GETNEXT, 5, name),
                  SNMPAPI_SUCCESS);
        int expectedMs = (int)(c.timeout * 10 * (c.retry + 1));
        ASSERT_TRUE(WaitNotification(window, expectedMs + 5000));
        int elapsed = (int)(GetTickCount64() - start);
        EXPECT_GE(elapsed, expectedMs - kEarlyMs);
        EXPECT_LE(elapsed, expectedMs + kLateMs);

        HSNMP_ENTITY src = (HSNMP_ENTITY)(UINT_PTR)0xBAD;
        HSNMP_PDU pdu = NULL;
        EXPECT_EQ(SnmpRecvMsg(session, &src, NULL, NULL, &pdu), SNMPAPI_FAILURE);
        EXPECT_EQ(SnmpGetLastError(session), (SNMPAPI_STATUS)SNMPAPI_TL_TIMEOUT);
        EXPECT_EQ(pdu, nullptr);

        // One send and the resends, each after one time-out.
        std::vector<int> times = Arrivals(name);
        ASSERT_EQ(times.size(), c.retry + 1);
        for (size_t i = 1; i < times.size(); i++) {
            int gap = times[i] - times[i - 1];
            EXPECT_GE(gap, (int)c.timeout * 10 - kEarlyMs) << "resend " << i;
            EXPECT_LE(gap, (int)c.timeout * 10 + kLateMs) << "resend " << i;
        }
        // Nothing more is sent, and no second time-out comes.
        EXPECT_EQ(DrainNotifications(window, c.timeout * 10 + 300), 0);
        EXPECT_EQ(Arrivals(name).size(), c.retry + 1);
    }
}

TEST_F(WinSnmpScripted, LateAnswerAfterAResendIsStillDelivered)
{
    SnmpSetTimeout(agent, 30);
    SnmpSetRetry(agent, 3);
    // The agent answers the first datagram 450 ms after it came: after our
    // resend at 300 ms, before the one at 600 ms.
    std::vector<smiUINT32> name = Name(4, ".450");
    ULONGLONG start = GetTickCount64();
    ASSERT_EQ(SendRequest(session, manager, agent, pub, SNMP_PDU_GET, 41, name), SNMPAPI_SUCCESS);
    ASSERT_TRUE(WaitNotification(window, 5000));
    int elapsed = (int)(GetTickCount64() - start);
    EXPECT_GE(elapsed, 450 - kEarlyMs);
    EXPECT_LE(elapsed, 450 + kLateMs);
    Received r = ReceiveOne(session);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.requestId, 41);
    ASSERT_EQ(r.bindings.size(), 1u);
    EXPECT_EQ(r.bindings[0].octets, "late");

    std::vector<int> times = Arrivals(name);
    ASSERT_GE(times.size(), 2u) << "the answer came after a resend";
    EXPECT_GE(times[1], 300 - kEarlyMs);
    // The answer ended the request: no more resends and no time-out later.
    size_t seen = times.size();
    EXPECT_EQ(DrainNotifications(window, 1500), 0);
    EXPECT_EQ(Arrivals(name).size(), seen);
    EXPECT_LE(seen, 3u);
}

TEST_F(WinSnmpScripted, MalformedDatagramsAreDroppedAndTheSessionGoesOn)
{
    SnmpSetTimeout(agent, 200);
    SnmpSetRetry(agent, 0);
    // Garbage, a truncated answer, a 65507-byte datagram, an indefinite
    // length, 65 variables, an SNMPv2c answer; then the real one.
    std::vector<smiUINT32> name = Name(5);
    ASSERT_EQ(SendRequest(session, manager, agent, pub, SNMP_PDU_GET, 9, name), SNMPAPI_SUCCESS);
    ASSERT_TRUE(WaitNotification(window, 3000));
    Received r = ReceiveOne(session);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.requestId, 9);
    ASSERT_EQ(r.bindings.size(), 1u);
    EXPECT_EQ(r.bindings[0].octets, "after garbage");
    EXPECT_EQ(DrainNotifications(window, 500), 0) << "nothing malformed was announced";
    HSNMP_PDU pdu = NULL;
    EXPECT_EQ(SnmpRecvMsg(session, NULL, NULL, NULL, &pdu), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(session), (SNMPAPI_STATUS)SNMPAPI_NOOP);

    // The same session still works.
    ASSERT_EQ(SendRequest(session, manager, agent, pub, SNMP_PDU_GET, 10, Name(1)),
              SNMPAPI_SUCCESS);
    ASSERT_TRUE(WaitNotification(window, 3000));
    Received ok = ReceiveOne(session);
    ASSERT_TRUE(ok.ok);
    EXPECT_EQ(ok.requestId, 10);
    ASSERT_EQ(ok.bindings.size(), 1u);
    EXPECT_EQ(ok.bindings[0].octets, "ok");
}

TEST_F(WinSnmpScripted, WrongCommunityIsAnsweredBySilence)
{
    HSNMP_CONTEXT wrong = Context("private");
    ASSERT_NE(wrong, nullptr);
    ASSERT_NE(wrong, pub);
    SnmpSetTimeout(agent, 20);
    SnmpSetRetry(agent, 1);
    std::vector<smiUINT32> name = Name(1);
    ULONGLONG start = GetTickCount64();
    ASSERT_EQ(SendRequest(session, manager, agent, wrong, SNMP_PDU_GET, 3, name), SNMPAPI_SUCCESS);
    ASSERT_TRUE(WaitNotification(window, 5000));
    int elapsed = (int)(GetTickCount64() - start);
    EXPECT_GE(elapsed, 400 - kEarlyMs);
    EXPECT_EQ(SnmpRecvMsg(session, NULL, NULL, NULL, NULL), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(session), (SNMPAPI_STATUS)SNMPAPI_TL_TIMEOUT);
    EXPECT_EQ(Arrivals(name).size(), 2u) << "both datagrams reached the agent";

    // The right community on the same name is answered.
    SnmpSetTimeout(agent, 100);
    ASSERT_EQ(SendRequest(session, manager, agent, pub, SNMP_PDU_GET, 4, name), SNMPAPI_SUCCESS);
    ASSERT_TRUE(WaitNotification(window, 3000));
    Received r = ReceiveOne(session);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.requestId, 4);
    SnmpFreeContext(wrong);
}

TEST_F(WinSnmpScripted, EveryMessageOfABurstIsQueuedAndAnnouncedOnce)
{
    SnmpSetTimeout(agent, 100);
    SnmpSetRetry(agent, 0);
    ASSERT_EQ(SendRequest(session, manager, agent, pub, SNMP_PDU_GET, 500, Name(6)),
              SNMPAPI_SUCCESS);
    // Three datagrams back to back: three notifications, three messages in
    // the order they came, and not one more of either.
    EXPECT_EQ(DrainNotifications(window, 700), 3);
    for (int i = 0; i < 3; i++) {
        Received r = ReceiveOne(session);
        ASSERT_TRUE(r.ok) << "message " << i << ": error " << r.error;
        EXPECT_EQ(r.requestId, 500 + i);
        ASSERT_EQ(r.bindings.size(), 1u);
        EXPECT_EQ(r.bindings[0].octets, "burst " + std::to_string(i));
    }
    EXPECT_EQ(SnmpRecvMsg(session, NULL, NULL, NULL, NULL), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(session), (SNMPAPI_STATUS)SNMPAPI_NOOP);
    EXPECT_EQ(DrainNotifications(window, 1300), 0) << "answered: no time-out";
}

TEST_F(WinSnmpScripted, SeveralRequestsInFlightEachGetTheirOwnOutcome)
{
    // Two silent requests with different time-outs and one answered one.
    HSNMP_ENTITY slow = agent;
    SnmpSetTimeout(slow, 60);
    SnmpSetRetry(slow, 0);
    ASSERT_EQ(SendRequest(session, manager, slow, pub, SNMP_PDU_GET, 100, Name(3, ".1")),
              SNMPAPI_SUCCESS);
    SnmpSetTimeout(slow, 20);
    ASSERT_EQ(SendRequest(session, manager, slow, pub, SNMP_PDU_GET, 101, Name(3, ".2")),
              SNMPAPI_SUCCESS);
    ASSERT_EQ(SendRequest(session, manager, slow, pub, SNMP_PDU_GET, 102, Name(1)),
              SNMPAPI_SUCCESS);

    std::vector<std::string> order;
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(WaitNotification(window, 3000)) << "item " << i;
        Received r = ReceiveOne(session);
        order.push_back(r.ok ? "answer " + std::to_string(r.requestId)
                             : "error " + std::to_string(r.error));
    }
    std::vector<std::string> expected = {"answer 102", "error 108", "error 108"};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(DrainNotifications(window, 300), 0);
}

TEST_F(WinSnmpScripted, ZonedLinkLocalEntityReachesThatAddressAndMatchesItsAnswer)
{
    // agents.sh gave the loopback interface a link-local address, where the
    // sandbox let it: "fe80::44:1%<index of lo>".
    std::string reason;
    std::string linkLocal = LinkLocalAddress(&reason);
    if (linkLocal.empty())
        GTEST_SKIP() << reason;

    // A receiver of our own on that address, at a port the system picks.
    addrinfo hints = {};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *list = NULL;
    ASSERT_EQ(getaddrinfo(linkLocal.c_str(), NULL, &hints, &list), 0) << linkLocal;
    sockaddr_in6 where = *(const sockaddr_in6 *)list->ai_addr;
    freeaddrinfo(list);
    ASSERT_NE(where.sin6_scope_id, 0u);
    SOCKET receiver = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(receiver, INVALID_SOCKET);
    int length = sizeof(where);
    ASSERT_EQ(bind(receiver, (const sockaddr *)&where, sizeof(where)), 0) << WSAGetLastError();
    ASSERT_EQ(getsockname(receiver, (sockaddr *)&where, &length), 0);

    // The entity from the text the engine would make of the address.
    std::string text = NumericHostText(linkLocal.c_str());
    HSNMP_ENTITY zoned = SnmpStrToEntity(session, text.c_str());
    ASSERT_NE(zoned, nullptr) << text;
    SnmpSetPort(zoned, ntohs(where.sin6_port));
    SnmpSetTimeout(zoned, 300);
    SnmpSetRetry(zoned, 0);
    ASSERT_EQ(SendRequest(session, manager, zoned, pub, SNMP_PDU_GET, 321, Name(1)),
              SNMPAPI_SUCCESS);

    // The datagram came to that address, and the answer from there is the
    // entity's: same address, port and scope.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(receiver, &readable);
    timeval wait = {3, 0};
    ASSERT_EQ(select(0, &readable, NULL, NULL, &wait), 1) << "nothing came to " << text;
    static uint8_t datagram[BER_MAX_MESSAGE];
    static BerMessage message;
    sockaddr_in6 from = {};
    int fromLength = sizeof(from);
    int size = recvfrom(receiver, (char *)datagram, sizeof(datagram), 0, (sockaddr *)&from,
                        &fromLength);
    ASSERT_GT(size, 0);
    ASSERT_TRUE(BerDecodeMessage(datagram, (size_t)size, &message));
    EXPECT_EQ(message.requestId, 321);
    message.pduType = BER_PDU_RESPONSE;
    size_t answerSize = BerEncodeMessage(&message, datagram, sizeof(datagram));
    ASSERT_GT(answerSize, 0u);
    ASSERT_EQ(sendto(receiver, (const char *)datagram, (int)answerSize, 0, (const sockaddr *)&from,
                     fromLength),
              (int)answerSize);
    closesocket(receiver);

    ASSERT_TRUE(WaitNotification(window, 3000));
    Received r = ReceiveOne(session, true);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.requestId, 321);
    EXPECT_EQ(r.source, zoned) << "the answer's source is the zoned entity";
    EXPECT_EQ(r.destination, manager);
    ReleaseReceived(r);
    SnmpFreeEntity(zoned);
}

}  // namespace
