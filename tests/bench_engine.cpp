// The engine benchmark of scripts/bench-walk.sh: QueryOidSubtree itself,
// built with VR_STEP_TIMING so that the engine and the transport stamp each
// step with the performance counter. Walks a small sub-tree many times and a
// large one a few times, then prints where one walk's time went: each step of
// the set-up and the clean-up in ms per walk, each step of an exchange in ms
// per exchange, and from the wall times the fixed cost per walk and the cost
// per exchange (as scripts/bench-chain.sh splits them).
//   bench_engine ADDRESS COMMUNITY SMALL-OID LARGE-OID SMALL-WALKS LARGE-WALKS
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/step_timing.h"
#include "snmp/snmp_engine.h"

static long long s_ticks[STEP_COUNT];
static long s_counts[STEP_COUNT];
static long long s_lastLap;
static volatile long long s_marks[MARK_COUNT];

long long StepNow(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void StepAdd(int step, long long start)
{
    s_ticks[step] += StepNow() - start;
    s_counts[step]++;
}

void StepLap(int step)
{
    long long now = StepNow();
    s_ticks[step] += now - s_lastLap;
    s_counts[step]++;
    s_lastLap = now;
}

void StepMarkNow(int mark)
{
    s_marks[mark] = StepNow();
}

void StepSince(int step, int mark)
{
    StepAdd(step, s_marks[mark]);
}

struct StepRow {
    int step;
    const char *name;
};

static const StepRow SETUP_ROWS[] = {
    {STEP_CLEAR, "value table cleared"},
    {STEP_WSA_STARTUP, "WSAStartup"},
    {STEP_PLATFORM, "platform version"},
    {STEP_RESOLVE, "texts copied, address resolved"},
    {STEP_SNMP_STARTUP, "SnmpStartup, translate mode"},
    {STEP_WINDOW_CLASS, "record, RegisterClassA"},
    {STEP_WINDOW, "notification window"},
    {STEP_OPEN_RECORD, "SnmpOpen: session record"},
    {STEP_OPEN_SOCKETS, "sockets (IPv4, IPv6)"},
    {STEP_OPEN_EVENTS, "events, buffers"},
    {STEP_OPEN_THREAD, "receive thread made"},
    {STEP_ENTITIES, "entities, time-outs, context"},
    {STEP_X_CONVERT, "OID text converted (1st)"},
};
static const StepRow CLEANUP_ROWS[] = {
    {STEP_C_TEXTS, "names, values, texts freed"},
    {STEP_C_WINDOW, "window drained, destroyed"},
    {STEP_C_HANDLES, "context, entities freed"},
    {STEP_C_THREAD_JOIN, "SnmpClose: thread joined"},
    {STEP_C_SESSION_CLOSE, "SnmpClose: the rest"},
    {STEP_C_SNMP_CLEANUP, "record freed, SnmpCleanup"},
    {STEP_C_WSA_CLEANUP, "WSACleanup"},
};
static const StepRow EXCHANGE_ROWS[] = {
    {STEP_X_LOOP, "walk loop's tests"},
    {STEP_X_CREATE, "list and PDU created"},
    {STEP_X_SOCKET, "SnmpSendMsg: handles checked"},
    {STEP_X_ENCODE, "encoded, datagram copied"},
    {STEP_X_SENDTO, "sendto"},
    {STEP_X_SEND_REST, "request recorded, thread woken"},
    {STEP_X_RELEASE_REQUEST, "request's list, PDU freed"},
    {STEP_X_TIMER_SET, "SetTimer"},
    {STEP_X_DONE_FETCH, "WM_SNMP_DONE fetched"},
    {STEP_X_WAIT, "waiting until WM_SNMP_NOTIFY"},
    {STEP_X_RECV_MSG, "SnmpRecvMsg"},
    {STEP_X_PDU_DATA, "SnmpGetPduData"},
    {STEP_X_DECODE_STORE, "names, values read, stored"},
    {STEP_X_RELEASE_ANSWER, "answer's handles freed"},
    {STEP_X_DONE_POST, "WM_SNMP_DONE posted"},
    {STEP_X_TIMER_KILL, "KillTimer"},
};
static const StepRow RECEIVER_ROWS[] = {
    {STEP_RX_READ, "send to answer read"},
    {STEP_RX_RECVFROM, "of which recvfrom"},
    {STEP_RX_DECODE, "answer decoded, copied"},
    {STEP_RX_QUEUE_POST, "queued, WM_SNMP_NOTIFY posted"},
    {STEP_RX_DELIVERY, "posted to dispatched"},
};

static double s_frequency;

static double Milliseconds(long long ticks)
{
    return (double)ticks * 1000.0 / s_frequency;
}

// Prints the rows in ms per unit; returns their sum.
static double PrintRows(const char *title, const StepRow *rows, size_t count, double units)
{
    double sum = 0;
    printf("%s\n", title);
    for (size_t i = 0; i < count; i++) {
        double ms = Milliseconds(s_ticks[rows[i].step]) / units;
        sum += ms;
        printf("  %-36s %9.4f\n", rows[i].name, ms);
    }
    return sum;
}

static double Walks(const char *address, const char *community, const char *oid, int walks)
{
    long long start = StepNow();
    for (int i = 0; i < walks; i++) {
        int result = QueryOidSubtree(address, strlen(address), community, strlen(community),
                                     oid, strlen(oid), 2);
        if (result != 0 || g_snmpFailed) {
            fprintf(stderr, "walk of %s failed: %d, failure flag %d\n", oid, result,
                    g_snmpFailed);
            exit(1);
        }
    }
    return Milliseconds(StepNow() - start) / walks;
}

int main(int argc, char **argv)
{
    if (argc != 7) {
        fprintf(stderr, "usage: bench_engine ADDRESS COMMUNITY SMALL-OID LARGE-OID SMALL-WALKS"
                        " LARGE-WALKS\n");
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    s_frequency = (double)frequency.QuadPart;
    g_hInstance = GetModuleHandleA(NULL);
    int smallWalks = atoi(argv[5]);
    int largeWalks = atoi(argv[6]);
    if (smallWalks < 1 || largeWalks < 1)
        return 2;

    // One walk first: the process's first-use costs are no walk's.
    Walks(argv[1], argv[2], argv[3], 1);
    memset(s_ticks, 0, sizeof(s_ticks));
    memset(s_counts, 0, sizeof(s_counts));

    double smallMs = Walks(argv[1], argv[2], argv[3], smallWalks);
    long smallExchanges = s_counts[STEP_X_CREATE];
    double largeMs = Walks(argv[1], argv[2], argv[4], largeWalks);
    long exchanges = s_counts[STEP_X_CREATE];
    double smallPer = (double)smallExchanges / smallWalks;
    double largePer = (double)(exchanges - smallExchanges) / largeWalks;
    double walks = smallWalks + largeWalks;

    printf("walks %d x %.0f exchanges and %d x %.0f exchanges\n", smallWalks, smallPer,
           largeWalks, largePer);
    printf("%-38s %9s\n", "step", "ms");
    double setup = PrintRows("set-up, per walk", SETUP_ROWS, sizeof(SETUP_ROWS) / sizeof(SETUP_ROWS[0]), walks);
    double cleanup =
        PrintRows("clean-up, per walk", CLEANUP_ROWS, sizeof(CLEANUP_ROWS) / sizeof(CLEANUP_ROWS[0]), walks);
    double exchange = PrintRows("exchange, per exchange", EXCHANGE_ROWS,
                                sizeof(EXCHANGE_ROWS) / sizeof(EXCHANGE_ROWS[0]), (double)exchanges);
    PrintRows("receive thread, per exchange (within the wait)", RECEIVER_ROWS,
              sizeof(RECEIVER_ROWS) / sizeof(RECEIVER_ROWS[0]), (double)exchanges);
    printf("%-38s %9.4f\n", "set-up and clean-up, per walk", setup + cleanup);
    printf("%-38s %9.4f\n", "exchange, per exchange", exchange);
    // The split of the wall times, as the chain benchmark makes it.
    double perExchange = (largeMs - smallMs) / (largePer - smallPer);
    printf("wall: small walk %.3f ms, large walk %.3f ms\n", smallMs, largeMs);
    printf("fixed-per-walk-ms=%.3f per-exchange-ms=%.4f\n", smallMs - smallPer * perExchange,
           perExchange);
    return 0;
}
