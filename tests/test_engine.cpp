// The SNMP query engine against our engine agent (tests/agents/
// engine_agent.py): what a walk stores, when it ends, the boxes it shows, and
// what it leaves behind.
#include "snmp/engine_internal.h"
#include "snmp/error_report.h"
#include "shell/shell.h"
#include "common/text.h"
#include "tests/bench/bench.h"
#include "tests/winsnmp_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char AGENT[] = "127.0.0.44";
const char SUBTREE[] = "1.3.6.1.4.1.55555";
// A host name that the resolver refuses by its form alone: an unknown name
// of the usual form would be asked of the machine's name server.
const char UNRESOLVABLE_HOST[] = "no such host";
const char CONNECTION_TEXT[] =
    "A connection to the printer could not be established.\n"
    "Please check if the printer is switched on and connected.";

// A key of its own for every misbehaving sub-tree a test walks, so that the
// agent's request log of one test never mixes with another's.
int NewKey()
{
    static int key = (int)(GetTickCount() % 100000) * 10;
    return ++key;
}

std::string SubtreeOid(const std::string &tail)
{
    return std::string(SUBTREE) + "." + tail;
}

int Walk(const std::string &oid, int timeoutSeconds = 2, const char *address = AGENT,
         const char *community = "public")
{
    return QueryOidSubtree(address, strlen(address), community, strlen(community), oid.c_str(),
                           oid.size(), timeoutSeconds);
}

// Walks with GetBulk over SNMPv2c (on) as --v2c makes the console program
// walk, or with GetNext over SNMPv1 as the dialog does.
void SetBulkWalks(bool on)
{
    g_snmpSecurity.version = on ? 2 : 1;
    g_subtreeWalk = on ? QueryOidSubtreeBulk : NULL;
}

// Walks with GetBulk over SNMPv2c while it lives.
struct BulkWalks {
    BulkWalks() { SetBulkWalks(true); }
    ~BulkWalks() { SetBulkWalks(false); }
};

std::vector<std::string> Values()
{
    std::vector<std::string> v;
    for (int slot = 0; slot < SNMP_VALUE_SLOTS; slot++)
        v.push_back(g_snmpValues[slot]);
    return v;
}

std::vector<std::string> Expected(std::initializer_list<const char *> texts)
{
    std::vector<std::string> v(texts.begin(), texts.end());
    v.resize(SNMP_VALUE_SLOTS);
    return v;
}

// A callback for BoxRecorder::WhileOpen: keeps the box open this long while
// its own loop dispatches every message of the thread.
std::function<void(const RecordedBox &)> KeepBoxOpen(DWORD milliseconds)
{
    return [milliseconds](const RecordedBox &) {
        DWORD until = GetTickCount() + milliseconds;
        MSG msg;
        while (GetTickCount() < until) {
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(10);
        }
    };
}

// Watches the engine's waits from inside GetMessage (a WH_GETMESSAGE hook on
// this thread). From the first message for the engine's notification window
// on, it gives the walk a time limit: a wait that has not ended by then is
// ended with a quit request, which the engine hands on, so that a test of a
// wait that would never end fails instead of hanging. It can also lose every
// notification of that window, as a transport that never announces would.
class WaitWatch {
public:
    WaitWatch(DWORD limitMs, bool loseNotifications)
    {
        limitMs_ = limitMs;
        lose_ = loseNotifications;
        armed_ = expired_ = false;
        lost_ = 0;
        hook_ = SetWindowsHookExA(WH_GETMESSAGE, Hook, NULL, GetCurrentThreadId());
    }
    ~WaitWatch() { UnhookWindowsHookEx(hook_); }
    bool Installed() const { return hook_ != NULL; }
    // Whether the watch had to end a wait; its quit request is taken back.
    bool Expired()
    {
        MSG msg;
        PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
        return expired_;
    }
    int Lost() const { return lost_; }

private:
    enum { WATCH_TIMER = 0x7E57 };
    static LRESULT CALLBACK Hook(int code, WPARAM removed, LPARAM lParam)
    {
        MSG *msg = (MSG *)lParam;
        char name[64];
        if (code == HC_ACTION && removed == PM_REMOVE && msg->hwnd != NULL &&
            GetClassNameA(msg->hwnd, name, sizeof(name)) > 0 &&
            strcmp(name, "SNMPUTIL NOTIFICATION CLASS") == 0) {
            if (!armed_) {
                armed_ = true;
                SetTimer(msg->hwnd, WATCH_TIMER, limitMs_, NULL);
            }
            if (msg->message == WM_TIMER && msg->wParam == WATCH_TIMER) {
                KillTimer(msg->hwnd, WATCH_TIMER);
                expired_ = true;
                PostQuitMessage(0);
                msg->message = WM_NULL;
            } else if (lose_ && msg->message == WM_SNMP_NOTIFY) {
                lost_++;
                msg->message = WM_NULL;
            }
        }
        return CallNextHookEx(NULL, code, removed, lParam);
    }
    static HHOOK hook_;
    static DWORD limitMs_;
    static bool lose_, armed_, expired_;
    static int lost_;
};
HHOOK WaitWatch::hook_;
DWORD WaitWatch::limitMs_;
bool WaitWatch::lose_, WaitWatch::armed_, WaitWatch::expired_;
int WaitWatch::lost_;

// One datagram as the agent logged it.
struct Arrival {
    int ms;
    int requestId;
};

// The agent's log of the datagrams that came for sub-tree a.b, read with a
// walk of its own (the log is cleared by the reading): their number, and
// the arrival and request id of the first fifteen.
bool AgentLog(int a, int b, std::vector<Arrival> *arrivals, int *count = NULL)
{
    char oid[64];
    FormatText(oid, COUNTOF(oid), "%s.0.%d.%d", SUBTREE, a, b);
    if (Walk(oid) != 0 || g_snmpValues[0][0] == '\0')
        return false;
    int total = atoi(g_snmpValues[0]);
    if (count != NULL)
        *count = total;
    arrivals->clear();
    for (int slot = 1; slot < SNMP_VALUE_SLOTS && g_snmpValues[slot][0] != '\0'; slot++) {
        Arrival arrival;
        if (sscanf(g_snmpValues[slot], "%d/%d", &arrival.ms, &arrival.requestId) != 2)
            return false;
        arrivals->push_back(arrival);
    }
    return (int)arrivals->size() == (total < 15 ? total : 15);
}

class Engine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_hInstance = GetModuleHandleA(NULL);
        if (!AgentsAvailable(&unavailable) && unavailable.empty())
            unavailable = "(no reason given)";
    }
    void SetUp() override
    {
        if (!unavailable.empty())
            GTEST_SKIP() << "agents unavailable: " << unavailable;
        dialog = CreateWindowExA(0, "STATIC", "dialog", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL,
                                 NULL);
        g_hDialog = dialog;
        g_snmpFailed = 0;
    }
    void TearDown() override
    {
        g_hDialog = NULL;
        if (dialog != NULL)
            DestroyWindow(dialog);
    }
    void ExpectWarning(size_t index, const std::string &text)
    {
        ASSERT_GT(boxes.Count(), index) << "expected the warning \"" << text << "\"";
        const RecordedBox &b = boxes.Boxes()[index];
        EXPECT_EQ("Warning", b.caption) << Describe(b);
        EXPECT_EQ(text, b.text) << Describe(b);
        EXPECT_EQ(dialog, b.owner) << Describe(b);
        EXPECT_EQ("none", b.icon) << Describe(b);
        EXPECT_EQ(std::vector<int>{IDOK}, b.buttons) << Describe(b);
    }
    void ExpectConnectionError(size_t index)
    {
        ASSERT_GT(boxes.Count(), index) << "expected the connection error box";
        const RecordedBox &b = boxes.Boxes()[index];
        EXPECT_EQ("Warning", b.caption) << Describe(b);
        EXPECT_EQ(CONNECTION_TEXT, b.text) << Describe(b);
        EXPECT_EQ(nullptr, b.owner) << Describe(b);
        EXPECT_EQ("error", b.icon) << Describe(b);
        EXPECT_EQ(std::vector<int>{IDOK}, b.buttons) << Describe(b);
    }

    static std::string unavailable;
    HWND dialog = NULL;
    BoxRecorder boxes;
};

std::string Engine::unavailable;

}  // namespace

TEST_F(Engine, MixedSubtreeStoresTheStringsInOrderAndEndsOutsideIt)
{
    EXPECT_EQ(0, Walk(SubtreeOid("20.1")));
    EXPECT_EQ(Expected({"s1", "s2", "s3"}), Values());
    EXPECT_EQ(0, g_snmpFailed);
    EXPECT_EQ(1, g_walkEnded);
    EXPECT_EQ(0u, boxes.Count());

    // Five answers inside the sub-tree and a sixth outside it: six requests,
    // with the ids 1 to 6.
    std::vector<Arrival> log;
    ASSERT_TRUE(AgentLog(20, 1, &log));
    ASSERT_EQ(6u, log.size());
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(i + 1, log[i].requestId);
}

TEST_F(Engine, StringsAreCutAtTheirFirstNulAnd63BytesAndEmptyOnesTakeNoSlot)
{
    EXPECT_EQ(0, Walk(SubtreeOid("20.2")));
    std::string hundred;
    for (int i = 0; i < 63; i++)
        hundred += (char)(0x21 + i);
    EXPECT_EQ(Expected({hundred.c_str(), "abcd", "\x01\x7f\x92\xff raw"}), Values());
}

TEST_F(Engine, MoreThanSixteenStringsKeepTheFirstSixteenAndTheWalkGoesOn)
{
    EXPECT_EQ(0, Walk(SubtreeOid("20.3")));
    std::vector<std::string> expected;
    char text[8];
    for (int i = 1; i <= 16; i++) {
        FormatText(text, COUNTOF(text), "v%02d", i);
        expected.push_back(text);
    }
    EXPECT_EQ(expected, Values());
    std::vector<Arrival> log;
    int count = 0;
    ASSERT_TRUE(AgentLog(20, 3, &log, &count));
    EXPECT_EQ(21, count);
}

TEST_F(Engine, OnlyOctetStringsProduceText)
{
    EXPECT_EQ(0, Walk(SubtreeOid("20.4")));
    EXPECT_EQ(Expected({"only text"}), Values());
}

TEST_F(Engine, FirstAnswerOutsideTheSubtreeStoresNothing)
{
    // An instance name: the next object lies outside it.
    EXPECT_EQ(0, Walk(SubtreeOid("20.1.5")));
    EXPECT_EQ(Expected({}), Values());
    EXPECT_EQ(1, g_walkEnded);
    EXPECT_EQ(0, g_snmpFailed);
}

TEST_F(Engine, NoSuchNameEndsTheWalkAndAnyOtherErrorStatusLeavesItUnfinished)
{
    struct Case {
        const char *subtree;
        int result;
        std::vector<std::string> values;
        const char *warning;    // NULL: no box
    } cases[] = {
        // The end of an SNMPv1 agent's view: what was gathered is kept.
        {"20.99", 0, Expected({"last1", "last2"}), NULL},
        {"30.1", -1, Expected({"before"}),
         "Walk incomplete: the agent answered with error status 1 (tooBig) ..."},
        {"30.5", -1, Expected({"before"}),
         "Walk incomplete: the agent answered with error status 5 (genErr) ..."},
        {"30.42", -1, Expected({"before"}),
         "Walk incomplete: the agent answered with error status 42 (unknown) ..."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.subtree);
        boxes.Clear();
        EXPECT_EQ(c.result, Walk(SubtreeOid(c.subtree)));
        EXPECT_EQ(c.values, Values());
        EXPECT_EQ(0, g_walkEnded);
        EXPECT_EQ(0, g_snmpFailed);
        EXPECT_EQ(c.warning ? 1u : 0u, boxes.Count());
        if (c.warning != NULL)
            ExpectWarning(0, c.warning);
    }
    std::vector<Arrival> log;
    ASSERT_TRUE(AgentLog(20, 99, &log));
    EXPECT_EQ(3u, log.size());
}

TEST_F(Engine, AnswersWithAnotherIdContextOrSourceAreDroppedAndTheWaitGoesOn)
{
    int key = NewKey();
    EXPECT_EQ(0, Walk(SubtreeOid("23." + std::to_string(key))));
    EXPECT_EQ(Expected({"right"}), Values());
    EXPECT_EQ(0, g_snmpFailed);
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(Engine, DuplicateAnswerIsStoredOnce)
{
    int key = NewKey();
    EXPECT_EQ(0, Walk(SubtreeOid("27." + std::to_string(key))));
    EXPECT_EQ(Expected({"dup"}), Values());
    EXPECT_EQ(0, g_snmpFailed);
}

TEST_F(Engine, AgentThatNeverAnswersGivesOneConnectionBoxAfterThreeResends)
{
    int key = NewKey();
    CopyText(g_snmpValues[0], SNMP_VALUE_SIZE, "stale");
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, Walk(SubtreeOid("26." + std::to_string(key)), 1));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(1, g_snmpFailed);
    EXPECT_EQ(Expected({}), Values());
    ASSERT_EQ(1u, boxes.Count());
    ExpectConnectionError(0);
    EXPECT_GE(elapsed, 3800u);
    EXPECT_LE(elapsed, 7000u);

    // One send and three resends of request 1, a time-out apart.
    std::vector<Arrival> log;
    ASSERT_TRUE(AgentLog(26, key, &log));
    ASSERT_EQ(4u, log.size());
    for (size_t i = 0; i < log.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(1, log[i].requestId);
        if (i > 0) {
            EXPECT_GE(log[i].ms - log[i - 1].ms, 900);
            EXPECT_LE(log[i].ms - log[i - 1].ms, 1700);
        }
    }
}

TEST_F(Engine, NegativeTimeOutIsTakenAsZero)
{
    int key = NewKey();
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, Walk(SubtreeOid("26." + std::to_string(key)), -5));
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(1, g_snmpFailed);
    ASSERT_EQ(1u, boxes.Count());
    ExpectConnectionError(0);
    EXPECT_EQ(0, g_timeoutMs);
}

TEST_F(Engine, TwoWalksInARowStartAfreshAndCarryTheFlagUntilTheFirstRelease)
{
    EXPECT_EQ(0, Walk(SubtreeOid("20.1")));
    EXPECT_EQ(0, Walk(SubtreeOid("20.99")));
    EXPECT_EQ(Expected({"last1", "last2"}), Values());
    std::vector<Arrival> log;
    ASSERT_TRUE(AgentLog(20, 99, &log));
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(1, log[0].requestId);

    // A failed exchange sets the flag; a walk that fails before sending
    // leaves it; the first release of the next walk clears it.
    EXPECT_EQ(-1, Walk(SubtreeOid("26." + std::to_string(NewKey())), 0));
    EXPECT_EQ(1, g_snmpFailed);
    EXPECT_EQ(-1, Walk(SubtreeOid("20.1"), 2, UNRESOLVABLE_HOST));
    EXPECT_EQ(1, g_snmpFailed);
    EXPECT_EQ(0, Walk(SubtreeOid("20.1")));
    EXPECT_EQ(0, g_snmpFailed);
}

// The GetNext walk (sub-tree 21) and the GetBulk walk (34) of an agent that
// answers the same object whatever is asked.
TEST_F(Engine, AnswerThatDoesNotAdvanceLeavesTheWalkUnfinishedWithAWarning)
{
    for (int scenario : {21, 34}) {
        SCOPED_TRACE(scenario);
        boxes.Clear();
        int key = NewKey();
        SetBulkWalks(scenario == 34);
        EXPECT_EQ(-1, Walk(SubtreeOid(std::to_string(scenario) + "." + std::to_string(key))));
        SetBulkWalks(false);
        EXPECT_EQ(Expected({"n1"}), Values());
        EXPECT_EQ(0, g_snmpFailed) << "the exchanges themselves succeeded";
        EXPECT_EQ(0, g_walkEnded) << "the walk did not reach the sub-tree's end";
        EXPECT_EQ(WALK_NOT_ADVANCING, g_lastWalk.ending);
        ASSERT_EQ(1u, boxes.Count());
        ExpectWarning(0, "Walk incomplete: the agent answered with a name that does not follow "
                         "the one asked for ...");
        std::vector<Arrival> log;
        ASSERT_TRUE(AgentLog(scenario, key, &log));
        EXPECT_EQ(2u, log.size());
    }
}

TEST_F(Engine, AgentThatNeverLeavesTheSubtreeIsStoppedAfterTheBoundWithAWarning)
{
    int key = NewKey();
    EXPECT_EQ(-1, Walk(SubtreeOid("22." + std::to_string(key))));
    EXPECT_EQ(0, g_snmpFailed);
    EXPECT_EQ(0, g_walkEnded);
    ASSERT_EQ(1u, boxes.Count());
    ExpectWarning(0, "Walk incomplete: no end of the sub-tree after 4096 requests ...");
    std::vector<Arrival> log;
    int count = 0;
    ASSERT_TRUE(AgentLog(22, key, &log, &count));
    EXPECT_EQ(MAX_WALK_EXCHANGES, count);
}

TEST_F(Engine, UnresolvableAgentShowsInvalidAgentAndSendsNothing)
{
    for (int slot = 0; slot < SNMP_VALUE_SLOTS; slot++)
        CopyText(g_snmpValues[slot], SNMP_VALUE_SIZE, "stale");
    g_snmpFailed = 1;
    EXPECT_EQ(-1, Walk(SubtreeOid("20.1"), 2, UNRESOLVABLE_HOST));
    ASSERT_EQ(1u, boxes.Count());
    ExpectWarning(0, "Invalid SNMP agent ...");
    EXPECT_EQ(Expected({}), Values());
    EXPECT_EQ(1, g_snmpFailed);
}

TEST_F(Engine, WalksAnIpv6Agent)
{
    std::string noIpv6 = ReadTextFile(AgentFile("engine-ipv6-unavailable"));
    if (!noIpv6.empty())
        GTEST_SKIP() << noIpv6;
    EXPECT_EQ(0, Walk(SubtreeOid("20.1"), 2, "::1"));
    EXPECT_EQ(Expected({"s1", "s2", "s3"}), Values());
    EXPECT_STREQ("::1", g_agentNumericHost);
}

TEST_F(Engine, WalksALinkLocalAgentThroughItsZone)
{
    std::string reason;
    std::string linkLocal = LinkLocalAddress(&reason);
    if (linkLocal.empty())
        GTEST_SKIP() << reason;
    // Typed with the zone as an index; resolved to the platform's own text.
    EXPECT_EQ(0, Walk(SubtreeOid("20.1"), 2, linkLocal.c_str()));
    EXPECT_EQ(Expected({"s1", "s2", "s3"}), Values());
    EXPECT_EQ(0, g_snmpFailed);
    EXPECT_EQ(0u, boxes.Count());
    EXPECT_EQ(NumericHostText(linkLocal.c_str()), g_agentNumericHost);
    EXPECT_NE(nullptr, strchr(g_agentNumericHost, '%')) << g_agentNumericHost;
}

TEST_F(Engine, OidTextConvertsInTheFirstOrSecondStage)
{
    smiUINT32 major, minor, level, translate, retransmit;
    ASSERT_NE(SNMPAPI_FAILURE, SnmpStartup(&major, &minor, &level, &translate, &retransmit));
    ASSERT_EQ(1, ConvertOidText("1.3.6.1.2.1.1.3"));
    ASSERT_EQ(8u, g_currentName.len);
    ASSERT_EQ(8u, g_walkRoot.len);
    const smiUINT32 expected[] = {1, 3, 6, 1, 2, 1, 1, 3};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(expected[i], g_currentName.ptr[i]);
        EXPECT_EQ(expected[i], g_walkRoot.ptr[i]);
    }
    EXPECT_EQ(0, boxes.Count());

    // A name that only the management API's conversion takes.
    smiOID strict = {0, NULL};
    ASSERT_EQ(SNMPAPI_FAILURE, SnmpStrToOid("system.3", &strict));
    ASSERT_EQ(1, ConvertOidText("system.3"));
    ASSERT_EQ(8u, g_currentName.len);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(expected[i], g_walkRoot.ptr[i]);
    ReleaseCurrentName();
    SnmpCleanup();

    // Walked, the second stage's text gives what the first stage's does.
    EXPECT_EQ(0, Walk("." + SubtreeOid("20.1")));
    EXPECT_EQ(Expected({"s1", "s2", "s3"}), Values());
}

TEST_F(Engine, OidTextThatConvertsInNeitherStageFailsBeforeSending)
{
    g_snmpFailed = 1;
    EXPECT_EQ(-1, Walk("not an oid"));
    ASSERT_EQ(1u, boxes.Count());
    ExpectWarning(0, "Failed in SnmpStrToOid( ) or SnmpMgrStrToOid( ) function ...");
    EXPECT_EQ(1, g_snmpFailed);
    EXPECT_EQ(Expected({}), Values());
}

TEST_F(Engine, NotificationsWhileABoxIsOpenAreHandledAfterItCloses)
{
    // The agent first sends a PDU that is not a Response, and the answer
    // 300 ms later, while the "Invalid PDU type" box is still open and its
    // loop dispatches every message of the thread.
    boxes.WhileOpen(KeepBoxOpen(700));
    int key = NewKey();
    EXPECT_EQ(0, Walk(SubtreeOid("25." + std::to_string(key))));
    ASSERT_EQ(1u, boxes.Count());
    ExpectWarning(0, "Invalid PDU type 160 ");
    EXPECT_EQ(Expected({"late"}), Values());
    EXPECT_EQ(0, g_snmpFailed);
}

TEST_F(Engine, TimeABoxStaysOpenDoesNotCountAgainstTheWait)
{
    // The agent answers at once with another community (which stops the
    // transport's resends and time-out) and with a PDU that is not a
    // Response, whose box stays open beyond the wait's bound of 4 x 1 s and
    // its margin; the right answer comes 700 ms after the box closed.
    const DWORD bound = 4 * 1000 + ANSWER_WAIT_MARGIN_MS;
    boxes.WhileOpen(KeepBoxOpen(bound + 300));
    EXPECT_EQ(0, Walk(SubtreeOid("29." + std::to_string(NewKey())), 1));
    EXPECT_EQ(Expected({"late"}), Values());
    EXPECT_EQ(0, g_snmpFailed);
    ASSERT_EQ(1u, boxes.Count());
    ExpectWarning(0, "Invalid PDU type 160 ");
}

TEST_F(Engine, FloodOfStrayAnswersWhileABoxIsOpenLosesNotTheAnswer)
{
    // While the "Invalid PDU type" box is open, 300 answers with other ids
    // come, more than the transport queues, and then the right one.
    boxes.WhileOpen(KeepBoxOpen(1000));
    WaitWatch watch(15000, false);
    ASSERT_TRUE(watch.Installed());
    DWORD start = GetTickCount();
    EXPECT_EQ(0, Walk(SubtreeOid("28." + std::to_string(NewKey())), 2));
    EXPECT_FALSE(watch.Expired()) << "the answer was lost and the wait never ended";
    EXPECT_LT(GetTickCount() - start, 6000u) << "the answer itself was taken, not a resend's";
    EXPECT_EQ(Expected({"right"}), Values());
    EXPECT_EQ(0, g_snmpFailed);
    ASSERT_EQ(1u, boxes.Count());
    ExpectWarning(0, "Invalid PDU type 160 ");
}

TEST_F(Engine, LostAnnouncementEndsTheWaitAsAFailedExchangeAfterItsBound)
{
    // A silent agent and a time-out of 0: the transport announces the end of
    // the request at once, and that notification is lost. The wait ends by
    // itself after the time-out, the retries and its margin.
    WaitWatch watch(15000, true);
    ASSERT_TRUE(watch.Installed());
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, Walk(SubtreeOid("26." + std::to_string(NewKey())), 0));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(watch.Expired()) << "the wait did not end by itself";
    EXPECT_GE(watch.Lost(), 1) << "the transport's announcement never came to be lost";
    EXPECT_GE(elapsed, (DWORD)ANSWER_WAIT_MARGIN_MS - 50);
    EXPECT_LE(elapsed, (DWORD)ANSWER_WAIT_MARGIN_MS + 2000);
    EXPECT_EQ(1, g_snmpFailed);
    ASSERT_EQ(1u, boxes.Count());
    ExpectConnectionError(0);
}

TEST_F(Engine, EndOfTheMessageLoopLeavesTheWalkUnfinishedAndHandsTheQuitOn)
{
    PostQuitMessage(7);
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, Walk(SubtreeOid("26." + std::to_string(NewKey())), 5));
    EXPECT_LT(GetTickCount() - start, 3000u);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
}

// The same walks against net-snmp's snmpd, a real agent (its config:
// tests/agents/snmpd-interop.conf).
const char SNMPD[] = "127.0.0.41";

TEST_F(Engine, RealAgentMixedSubtreeEndsOutsideIt)
{
    EXPECT_EQ(0, Walk(SubtreeOid("3"), 2, SNMPD));
    EXPECT_EQ(Expected({"s1", "s2", "s3"}), Values());
    EXPECT_EQ(1, g_walkEnded);
    EXPECT_EQ(0, g_snmpFailed);
}

TEST_F(Engine, RealAgentEndOfMibKeepsTheCutLongStringAndTheLast)
{
    EXPECT_EQ(0, Walk(SubtreeOid("4"), 2, SNMPD));
    EXPECT_EQ(Expected({"012345678901234567890123456789012345678901234567890123456789012",
                        "last"}),
              Values());
    EXPECT_EQ(0, g_walkEnded);  // ended by noSuchName, not by leaving the sub-tree
    EXPECT_EQ(0, g_snmpFailed);
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(Engine, RealAgentAnswersAWrongCommunityWithSilence)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, Walk(SubtreeOid("3"), 1, SNMPD, "not-the-community"));
    EXPECT_GE(GetTickCount() - start, 3800u);
    EXPECT_EQ(1, g_snmpFailed);
    ASSERT_EQ(1u, boxes.Count());
    ExpectConnectionError(0);
}

// ---- the console program's bulk walk: GetBulk over SNMPv2c ----------------

namespace {


// The demonstration printer's snmpd (demo/snmpd.conf) and the texts of
// snmpbulkwalk's STRING lines of a sub-tree, as the engine keeps them.
const char DEMO[] = "127.0.0.45";
std::vector<std::string> BulkReferenceTexts(int subtree)
{
    char file[64];
    FormatText(file, COUNTOF(file), "walk-demo-bulk-%d.txt", subtree);
    std::vector<std::string> texts;
    std::istringstream lines(ReadTextFile(AgentFile(file)));
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

}  // namespace

// Each sub-tree walked with GetNext over SNMPv1, then with GetBulk over
// SNMPv2c: the same result and values, in far fewer exchanges, each of
// them a request the agent saw.
TEST_F(Engine, BulkWalkKeepsWhatTheGetNextWalkKeeps)
{
    const std::string demo = "1.3.6.1.4.1.55555.100.";
    struct Case {
        const char *label;
        const char *address;
        const char *community;
        std::string oid;
        int exchanges;          // -1: not counted
        int logged;             // the engine agent's log of .20.N (0: another agent)
        int reference;          // snmpbulkwalk's walk-demo-bulk-N.txt (0: none)
    } cases[] = {
        {"sub-tree larger than one reply", AGENT, "public", SubtreeOid("20.3"), 2, 3, 0},
        {"a reply that runs past the sub-tree", AGENT, "public", SubtreeOid("20.1"), 1, 1, 0},
        {"endOfMibView in mid-reply", AGENT, "public", SubtreeOid("20.99"), 1, 99, 0},
        {"strings cut, empty ones skipped", AGENT, "public", SubtreeOid("20.2"), 1, 2, 0},
        {"only octet strings give text", AGENT, "public", SubtreeOid("20.4"), 1, 4, 0},
        {"the first object already outside", AGENT, "public", SubtreeOid("20.1.5"), 1, 1, 0},
        {"snmpd: mixed sub-tree", SNMPD, "public", SubtreeOid("3"), 1, 0, 0},
        {"snmpd: the end of its view", SNMPD, "public", SubtreeOid("4"), 1, 0, 0},
        {"snmpd: every syntax", SNMPD, "public", SUBTREE, -1, 0, 0},
        {"demo: sysDescr", DEMO, "demo", "1.3.6.1.2.1.1.1", 1, 0, 1},
        {"demo: hard disk", DEMO, "demo", demo + "1", 1, 0, 2},
        {"demo: finisher", DEMO, "demo", demo + "2", 1, 0, 3},
        {"demo: punching unit", DEMO, "demo", demo + "3", 1, 0, 4},
        {"demo: second cassette", DEMO, "demo", demo + "4", 1, 0, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<Arrival> log;
        int getNext = Walk(c.oid, 2, c.address, c.community);
        std::vector<std::string> getNextValues = Values();
        int getNextExchanges = g_lastWalk.exchanges;
        if (c.logged)
            AgentLog(20, c.logged, &log);       // forgets the GetNext walk's requests
        int bulk = 0;
        {
            BulkWalks walks;
            bulk = Walk(c.oid, 2, c.address, c.community);
        }
        WalkSummary summary = g_lastWalk;
        std::vector<std::string> bulkValues = Values();
        EXPECT_EQ(0, getNext);
        EXPECT_EQ(getNext, bulk);
        EXPECT_EQ(getNextValues, bulkValues);
        EXPECT_EQ(WALK_ENDED, summary.ending);
        EXPECT_EQ(0, g_snmpFailed);
        EXPECT_EQ(0u, boxes.Count());
        if (c.exchanges >= 0) {
            EXPECT_EQ(c.exchanges, summary.exchanges);
        }
        EXPECT_LE(summary.exchanges, getNextExchanges);
        if (c.reference > 0) {
            EXPECT_EQ(BulkReferenceTexts(c.reference), bulkValues);
        }
        int count = 0;
        if (c.logged) {
            ASSERT_TRUE(AgentLog(20, c.logged, &log, &count));
            EXPECT_EQ(summary.exchanges, count);
        }
    }
}

namespace {

// snmpsim (agents.sh) serves the walks of real devices that it ships, one
// community each; snmpbulkwalk's walk of each is walk-sim-NAME.txt.
const char SIM[] = "127.0.0.46";

struct RecordedSubtree {
    std::string root;                   // dotted, without the leading dot
    int objects = 0;
    std::vector<std::string> texts;     // as the engine keeps them
};

std::string HexOctets(const std::string &hex)
{
    std::string bytes;
    std::istringstream in(hex);
    std::string pair;
    while (in >> pair)
        bytes += (char)strtoul(pair.c_str(), NULL, 16);
    return bytes;
}

// The sub-trees a walk of the device would be asked for: the objects'
// names cut to their first eight arcs (a shorter name to its parent), each
// with every object of the recording under it.
std::vector<RecordedSubtree> RecordedSubtrees(const std::vector<SnmpwalkEntry> &entries)
{
    std::vector<RecordedSubtree> subtrees;
    for (const SnmpwalkEntry &e : entries) {
        std::vector<smiUINT32> arcs = Oid(e.name.c_str() + 1);
        arcs.resize(std::min<size_t>(8, arcs.size() - 1));
        std::string root = OidText(arcs).substr(1);
        bool known = false;
        for (const RecordedSubtree &s : subtrees)
            known = known || s.root == root;
        if (!known) {
            RecordedSubtree s;
            s.root = root;
            subtrees.push_back(s);
        }
    }
    for (RecordedSubtree &s : subtrees) {
        const std::string prefix = "." + s.root + ".";
        for (const SnmpwalkEntry &e : entries) {
            if (e.name.compare(0, prefix.size(), prefix) != 0)
                continue;
            s.objects++;
            if (e.syntax != SNMP_SYNTAX_OCTETS)
                continue;
            std::string text = HexOctets(e.value);
            text = text.substr(0, text.find('\0')).substr(0, SNMP_VALUE_SIZE - 1);
            if (!text.empty() && s.texts.size() < SNMP_VALUE_SLOTS)
                s.texts.push_back(text);
        }
        s.texts.resize(SNMP_VALUE_SLOTS);
    }
    return subtrees;
}

}  // namespace

// Every sub-tree of each recording walked with GetBulk: the texts, the
// objects and the end that snmpbulkwalk found, in as many exchanges as
// replies of 16 objects take (one more sees the sub-tree's end).
TEST_F(Engine, BulkWalkOfRecordedDevicesFindsWhatSnmpbulkwalkFinds)
{
    std::string unavailable = ReadTextFile(AgentFile("snmpsim-unavailable"));
    if (!unavailable.empty())
        GTEST_SKIP() << "snmpsim unavailable: " << unavailable;
    struct Case {
        const char *community;
        size_t subtrees;        // in snmpbulkwalk's walk, so that a cut walk
        int objects;            // fails the row
    } cases[] = {
        {"linux-full-walk", 142, 3882},
        {"winxp-full-walk", 116, 2101},
        {"linksys-system", 7, 7},
        {"solaris-system", 7, 7},
        {"udp-endpoint-table-walk", 2, 21},
        {"hp_perf", 12, 743},
        {"hp_perf2", 12, 1059},
        {"cisco_16_switch", 139, 51008},
        {"linux", 146, 3710},
        {"winxp1", 117, 2042},
        {"winxp2", 115, 2027},
    };
    BulkWalks walks;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.community);
        std::vector<SnmpwalkEntry> entries;
        bool end = false;
        std::string problem;
        std::string file = "walk-sim-" + std::string(c.community) + ".txt";
        std::string reference = ReadTextFile(AgentFile(file.c_str()));
        ASSERT_TRUE(ParseSnmpwalk(reference, &entries, &end, &problem)) << problem;
        EXPECT_TRUE(end);
        EXPECT_EQ(c.objects, (int)entries.size());
        std::vector<RecordedSubtree> subtrees = RecordedSubtrees(entries);
        EXPECT_EQ(c.subtrees, subtrees.size());
        for (const RecordedSubtree &s : subtrees) {
            SCOPED_TRACE(s.root);
            EXPECT_EQ(0, Walk(s.root, 2, SIM, c.community));
            EXPECT_EQ(s.texts, Values());
            EXPECT_EQ(s.objects, g_lastWalk.objects);
            EXPECT_EQ(WALK_ENDED, g_lastWalk.ending);
            EXPECT_EQ(s.objects / 16 + 1, g_lastWalk.exchanges);
        }
    }
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(Engine, BulkWalkAsksForFewerOnTooBigAndCountsTheExchangesTheAgentSaw)
{
    char oid[64];
    int key = NewKey();
    FormatText(oid, COUNTOF(oid), "%s.31.%d", SUBTREE, key);
    {
        BulkWalks bulk;
        EXPECT_EQ(0, Walk(oid));
    }
    EXPECT_EQ(Expected({"t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8", "t9", "t10"}), Values());
    // 16 and 8 objects too big, then 4, 4 and the last 4 past the end.
    EXPECT_EQ(5, g_lastWalk.exchanges);
    EXPECT_EQ(WALK_ENDED, g_lastWalk.ending);
    EXPECT_EQ(0u, boxes.Count());
    std::vector<Arrival> log;
    int count = 0;
    ASSERT_TRUE(AgentLog(31, key, &log, &count));
    EXPECT_EQ(5, count);
}

// An agent that answers a GetBulk with noSuchName, as SNMPv1 ends a walk:
// the walk has ended, as the GetNext walk's does.
TEST_F(Engine, BulkWalkAnsweredWithNoSuchNameHasEnded)
{
    int key = NewKey();
    {
        BulkWalks bulk;
        EXPECT_EQ(0, Walk(SubtreeOid("35." + std::to_string(key))));
    }
    EXPECT_EQ(WALK_ENDED, g_lastWalk.ending);
    EXPECT_EQ(1, g_lastWalk.exchanges);
    EXPECT_EQ(Expected({}), Values());
    EXPECT_EQ(0u, boxes.Count());
}

// An SNMPv1-only agent: one that answers a GetBulk in SNMPv1, one that drops
// every SNMPv2c message. Either is silence to an SNMPv2c walk.
TEST_F(Engine, BulkWalkOfAnAgentThatRefusesV2cEndsAsNoAnswer)
{
    for (int scenario : {32, 33}) {
        SCOPED_TRACE(scenario);
        char oid[64];
        int key = NewKey();
        FormatText(oid, COUNTOF(oid), "%s.%d.%d", SUBTREE, scenario, key);
        boxes.Clear();
        {
            BulkWalks bulk;
            EXPECT_EQ(-1, Walk(oid, 1));
        }
        EXPECT_EQ(WALK_NO_ANSWER, g_lastWalk.ending);
        EXPECT_EQ(1, g_snmpFailed);
        EXPECT_EQ(Expected({}), Values());
        ASSERT_EQ(1u, boxes.Count());
        ExpectConnectionError(0);
        std::vector<Arrival> log;
        int count = 0;
        ASSERT_TRUE(AgentLog(scenario, key, &log, &count));
        EXPECT_EQ(4, count);            // the request and its three resends
    }
}

// A request that cannot go out (a broadcast address, no SO_BROADCAST) ends
// the walk there, as the GetNext walk's does: the warning, no waiting.
TEST_F(Engine, BulkWalkWhoseRequestCannotBeSentEndsAtOnce)
{
    {
        BulkWalks bulk;
        EXPECT_EQ(-1, Walk(SubtreeOid("20.1"), 1, "255.255.255.255"));
    }
    EXPECT_EQ(WALK_REQUEST_FAILED, g_lastWalk.ending);
    EXPECT_EQ(1, g_lastWalk.exchanges);
    ASSERT_EQ(1u, boxes.Count());
    EXPECT_EQ(0u, boxes.Boxes()[0].text.find("Failed in send message, Last Error "))
        << boxes.Boxes()[0].text;
}

namespace {

struct Footprint {
    size_t heapBytes;   // bytes in use in all of the process's heaps
    int unixFiles;      // the process's open files and sockets, as the host sees them
    int threads;        // the process's threads
    int windows;        // the thread's top-level windows, hidden ones too
};

BOOL CALLBACK CountWindow(HWND, LPARAM count)
{
    (*(int *)count)++;
    return TRUE;
}

int CountEntries(const char *pattern)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    int n = 0;
    do {
        if (found.cFileName[0] != '.')
            n++;
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return n;
}

Footprint Measure()
{
    Footprint f;
    f.heapBytes = BusyHeapBytes();
    f.unixFiles = CountEntries("Z:\\proc\\self\\fd\\*");
    f.windows = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, (LPARAM)&f.windows);
    f.threads = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    if (snapshot != INVALID_HANDLE_VALUE && Thread32First(snapshot, &entry)) {
        do {
            if (entry.th32OwnerProcessID == GetCurrentProcessId())
                f.threads++;
        } while (Thread32Next(snapshot, &entry));
    }
    if (snapshot != INVALID_HANDLE_VALUE)
        CloseHandle(snapshot);
    return f;
}

}  // namespace

namespace {

// A thousand walks of round(0) ... round(999) after twenty to warm up: the
// heap, the files and the threads stay as they were. *shown: the boxes shown.
void ThousandWalksFootprint(const std::function<void(int)> &round, BoxRecorder &boxes,
                            size_t *shown)
{
    // The recorder keeps what it recorded: count the boxes, keep none.
    *shown = 0;
    for (int i = 0; i < 20; i++) {  // warm up: first-use allocations of the platform
        round(i);
        boxes.Clear();
    }
    Footprint before = Measure();
    for (int i = 0; i < 1000; i++) {
        round(i);
        *shown += boxes.Count();
        boxes.Clear();
    }
    Footprint after = Measure();
    // On a busy machine (ctest -j) Wine may still be closing the last walks'
    // files: a leak stays, a late close goes.
    for (int i = 0; i < 10 && after.unixFiles > before.unixFiles + 2; i++) {
        Sleep(500);
        after = Measure();
    }
    ASSERT_GT(before.unixFiles, 0) << "cannot see the process's files";
    ASSERT_GT(before.threads, 0) << "cannot see the process's threads";
    ASSERT_GT(before.heapBytes, 0u) << "cannot walk the heaps";
    EXPECT_LE(after.unixFiles, before.unixFiles + 2);
    EXPECT_LE(after.threads, before.threads + 1);
    EXPECT_LE(after.windows, before.windows);
    // Every walk's SnmpStartup had its SnmpCleanup: none is left to undo.
    EXPECT_EQ(SNMPAPI_FAILURE, SnmpCleanup());
    // The platform's own message box keeps a few bytes per box (seen under
    // Wine): measure that with as many plain boxes, and allow it.
    size_t boxesBefore = BusyHeapBytes();
    for (size_t i = 0; i < *shown; i++)
        MessageBoxA(NULL, "measure", "measure", MB_OK);
    boxes.Clear();
    size_t boxCost = BusyHeapBytes() - boxesBefore;
    // Leaking one OID or text per walk would add tens of kilobytes.
    EXPECT_LE(after.heapBytes, before.heapBytes + boxCost + 2 * 1024)
        << "the boxes alone kept " << boxCost << " bytes";
    printf("footprint: heap %zu -> %zu bytes, files %d -> %d, threads %d -> %d, "
           "windows %d -> %d\n",
           before.heapBytes, after.heapBytes, before.unixFiles, after.unixFiles,
           before.threads, after.threads, before.windows, after.windows);
}

}  // namespace

TEST_F(Engine, AThousandWalksOnEveryPathLeaveNothingBehind)
{
    auto round = [](int i) {
        switch (i % 10) {
        case 0: Walk(SubtreeOid("20.1.5")); break;                              // outside at once
        case 1: Walk(SubtreeOid("20.99")); break;                               // noSuchName
        case 2: Walk(SubtreeOid("20.1"), 2, UNRESOLVABLE_HOST); break;     // unresolvable
        case 3: Walk("not an oid"); break;                               // no conversion
        case 4: Walk(SubtreeOid("26." + std::to_string(NewKey())), 0); break;   // no answer
        case 5: Walk(SubtreeOid("23." + std::to_string(NewKey()))); break;      // wrong answers
        case 6: Walk(SubtreeOid("21." + std::to_string(NewKey()))); break;      // does not advance
        case 7: Walk("." + SubtreeOid("20.4")); break;                          // second stage
        default: Walk(SubtreeOid("20.1")); break;
        }
    };
    size_t shown = 0;
    ThousandWalksFootprint(round, boxes, &shown);
    EXPECT_EQ(400u, shown);  // the failing paths did show their boxes
}

TEST_F(Engine, AThousandBulkWalksOnEveryPathLeaveNothingBehind)
{
    auto round = [](int i) {
        switch (i % 8) {
        case 0: Walk(SubtreeOid("20.1.5")); break;                          // outside at once
        case 1: Walk(SubtreeOid("20.99")); break;                           // endOfMibView
        case 2: Walk(SubtreeOid("20.1"), 2, UNRESOLVABLE_HOST); break; // unresolvable
        case 3: Walk("not an oid"); break;                           // no conversion
        case 4: Walk(SubtreeOid("33." + std::to_string(NewKey())), 0); break;  // v2c dropped
        case 5: Walk(SubtreeOid("31." + std::to_string(NewKey()))); break;     // tooBig
        case 6: Walk(SubtreeOid("20.3")); break;                            // two replies
        default: Walk(SubtreeOid("20.1"), 1, "255.255.255.255"); break;     // cannot send
        }
    };
    BulkWalks bulk;
    size_t shown = 0;
    ThousandWalksFootprint(round, boxes, &shown);
    EXPECT_EQ(500u, shown);
}
