// The client of scripts/bench-walk.sh: walks a sub-tree with GetNext through
// our WinSNMP, as the engine does (one variable per request, a notification
// window, the message loop), and prints the object count and the time the
// walk took, measured from before SnmpStartup to after SnmpCleanup.
// --raw walks with plain blocking Winsock calls and the codec instead, one
// thread and no WinSNMP: what Wine's sockets cost by themselves. --poll does
// the same on a non-blocking socket, reading until the answer is in: no
// thread ever sleeps, about four server round trips per request, the floor
// of any Winsock client under Wine.
// With VR_BENCH_V3_USER set, the WinSNMP walk is SNMPv3 authPriv (SHA, AES)
// as that user, the passwords from VR_SNMP_AUTH_PASSWORD and
// VR_SNMP_PRIV_PASSWORD (scripts/bench-walk-v3.sh).
//   bench_walk [--raw|--poll] ADDRESS PORT COMMUNITY ROOT-OID   or   bench_walk --noop
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winsnmp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "winsnmp/ber.h"
#include "winsnmp/wsnmp_v3.h"
#include "common/text.h"

enum { BENCH_NOTIFY = WM_USER + 1 };

static int g_notified;

static LRESULT CALLBACK NotifyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == BENCH_NOTIFY) {
        g_notified = 1;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int WaitNotified(void)
{
    MSG msg;
    while (!g_notified) {
        if (GetMessageA(&msg, NULL, 0, 0) <= 0)
            return 0;
        DispatchMessageA(&msg);
    }
    g_notified = 0;
    return 1;
}

static BerMessage g_request;
static BerMessage g_answer;
static uint8_t g_out[BER_MAX_MESSAGE];
static uint8_t g_in[65536];

// Receives one datagram within a second, on a non-blocking socket.
static int PollReceive(SOCKET sock)
{
    ULONGLONG deadline = GetTickCount64() + 1000;
    for (;;) {
        int n = recv(sock, (char *)g_in, sizeof(g_in), 0);
        if (n > 0 || WSAGetLastError() != WSAEWOULDBLOCK || GetTickCount64() > deadline)
            return n;
        SwitchToThread();
    }
}

// Plain Winsock, one thread: the floor under any WinSNMP on Wine. The socket
// blocks, or with poll it does not and is read until the answer is in.
static int RawWalk(const char *address, int port, const char *community, const char *rootText,
                   int poll, long *objects)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in agent;
    memset(&agent, 0, sizeof(agent));
    agent.sin_family = AF_INET;
    agent.sin_port = htons((u_short)port);
    inet_pton(AF_INET, address, &agent.sin_addr);
    DWORD timeout = 1000;
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof(timeout));
    u_long nonBlocking = 1;
    if (poll)
        ioctlsocket(sock, FIONBIO, &nonBlocking);
    smiOID root = {0, NULL};
    SnmpStartup(NULL, NULL, NULL, NULL, NULL);
    if (SnmpStrToOid(rootText, &root) == SNMPAPI_FAILURE)
        return 0;
    g_request.version = 0;
    g_request.community = (const uint8_t *)community;
    g_request.communityLength = (uint32_t)strlen(community);
    g_request.pduType = BER_PDU_GETNEXT;
    g_request.varBindCount = 1;
    g_request.varBinds[0].name.length = root.len;
    memcpy(g_request.varBinds[0].name.ids, root.ptr, root.len * sizeof(uint32_t));
    g_request.varBinds[0].value.syntax = BER_NULL;
    int ok = 1;
    for (int32_t id = 1;; id++) {
        g_request.requestId = id;
        size_t size = BerEncodeMessage(&g_request, g_out, sizeof(g_out));
        sendto(sock, (const char *)g_out, (int)size, 0, (const sockaddr *)&agent, sizeof(agent));
        int n = poll ? PollReceive(sock) : recv(sock, (char *)g_in, sizeof(g_in), 0);
        if (n <= 0 || !BerDecodeMessage(g_in, (size_t)n, &g_answer) || g_answer.requestId != id) {
            ok = 0;
            break;
        }
        const BerOid *next = &g_answer.varBinds[0].name;
        if (g_answer.errorStatus != 0 || next->length < root.len ||
            memcmp(next->ids, root.ptr, root.len * sizeof(uint32_t)) != 0)
            break;
        (*objects)++;
        g_request.varBinds[0].name = *next;
    }
    SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&root);
    SnmpCleanup();
    closesocket(sock);
    WSACleanup();
    return ok;
}

int main(int argc, char **argv)
{
    if (argc == 6 && (strcmp(argv[1], "--raw") == 0 || strcmp(argv[1], "--poll") == 0)) {
        LARGE_INTEGER frequency, begin, end;
        long objects = 0;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&begin);
        int ok = RawWalk(argv[2], atoi(argv[3]), argv[4], argv[5],
                         strcmp(argv[1], "--poll") == 0, &objects);
        QueryPerformanceCounter(&end);
        printf("objects=%ld seconds=%.4f%s\n", objects,
               (double)(end.QuadPart - begin.QuadPart) / (double)frequency.QuadPart,
               ok ? "" : " FAILED");
        return ok ? 0 : 1;
    }
    if (argc == 2 && strcmp(argv[1], "--noop") == 0) {
        printf("noop\n");       // Wine's process start-up alone, for the script
        return 0;
    }
    if (argc != 5) {
        fprintf(stderr, "usage: bench_walk [--raw|--poll] ADDRESS PORT COMMUNITY ROOT-OID"
                        " | --noop\n");
        return 2;
    }
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = NotifyProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "BenchWalkNotify";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "BenchWalkNotify", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  wc.hInstance, NULL);

    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);

    SnmpStartup(NULL, NULL, NULL, NULL, NULL);
    SnmpSetTranslateMode(SNMPAPI_UNTRANSLATED_V1);
    HSNMP_SESSION session = SnmpOpen(window, BENCH_NOTIFY);
    if (getenv("VR_BENCH_V3_USER") != NULL) {
        VrSnmpSecurity security;
        memset(&security, 0, sizeof(security));
        CopyText(security.userName, COUNTOF(security.userName), getenv("VR_BENCH_V3_USER"));
        security.authProtocol = VR_SNMP_AUTH_SHA;
        security.privProtocol = VR_SNMP_PRIV_AES;
        const char *auth = getenv("VR_SNMP_AUTH_PASSWORD");
        const char *priv = getenv("VR_SNMP_PRIV_PASSWORD");
        CopyText(security.authPassword, COUNTOF(security.authPassword), auth ? auth : "");
        CopyText(security.privPassword, COUNTOF(security.privPassword), priv ? priv : "");
        if (VrSnmpSetSessionSecurity(session, &security) == SNMPAPI_FAILURE) {
            fprintf(stderr, "SNMPv3 refused: %lu\n", (unsigned long)SnmpGetLastError(session));
            return 1;
        }
    }
    HSNMP_ENTITY agent = SnmpStrToEntity(session, argv[1]);
    HSNMP_ENTITY manager = SnmpStrToEntity(session, "127.0.0.1");
    smiOCTETS community = {(smiUINT32)strlen(argv[3]), (smiLPBYTE)argv[3]};
    HSNMP_CONTEXT context = SnmpStrToContext(session, &community);
    smiOID root = {0, NULL};
    if (session == NULL || agent == NULL || manager == NULL || context == NULL ||
        SnmpStrToOid(argv[4], &root) == SNMPAPI_FAILURE) {
        fprintf(stderr, "set-up failed: %lu\n", (unsigned long)SnmpGetLastError(session));
        return 1;
    }
    SnmpSetPort(agent, (UINT)atoi(argv[2]));
    SnmpSetTimeout(agent, 100);
    SnmpSetRetry(agent, 3);

    smiOID name = {0, NULL};
    SnmpStrToOid(argv[4], &name);
    long objects = 0;
    int failed = 0;
    for (smiINT32 id = 1;; id++) {
        HSNMP_VBL list = SnmpCreateVbl(session, &name, NULL);
        HSNMP_PDU pdu = SnmpCreatePdu(session, SNMP_PDU_GETNEXT, id, 0, 0, list);
        if (SnmpSendMsg(session, manager, agent, context, pdu) == SNMPAPI_FAILURE) {
            failed = 1;
            break;
        }
        SnmpFreePdu(pdu);
        SnmpFreeVbl(list);
        int done = 0;
        while (!done) {
            if (!WaitNotified()) {
                failed = 1;
                break;
            }
            HSNMP_ENTITY src = NULL, dst = NULL;
            HSNMP_CONTEXT ctx = NULL;
            if (SnmpRecvMsg(session, &src, &dst, &ctx, &pdu) == SNMPAPI_FAILURE) {
                failed = 1;             // timed out
                break;
            }
            smiINT type = 0, status = 0, index = 0;
            smiINT32 gotId = 0;
            HSNMP_VBL got = NULL;
            SnmpGetPduData(pdu, &type, &gotId, &status, &index, &got);
            if (gotId == id && src == agent && dst == manager && ctx == context) {
                done = 1;
                smiOID next = {0, NULL};
                smiVALUE value;
                smiINT compare = 1;
                if (status == 0 && SnmpCountVbl(got) == 1 &&
                    SnmpGetVb(got, 1, &next, &value) == SNMPAPI_SUCCESS) {
                    SnmpOidCompare(&root, &next, root.len, &compare);
                    if (value.syntax == SNMP_SYNTAX_OCTETS || value.syntax == SNMP_SYNTAX_OID ||
                        value.syntax == SNMP_SYNTAX_OPAQUE || value.syntax == SNMP_SYNTAX_IPADDR)
                        SnmpFreeDescriptor(value.syntax, (smiLPOPAQUE)&value.value.string);
                }
                SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&name);
                name = next;
                if (compare != 0)
                    id = -1;            // left the sub-tree or the end: stop
                else
                    objects++;
            }
            SnmpFreeVbl(got);
            SnmpFreePdu(pdu);
            SnmpFreeEntity(src);
            SnmpFreeEntity(dst);
            SnmpFreeContext(ctx);
        }
        if (failed || id < 0)
            break;
    }
    SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&name);
    SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&root);
    SnmpClose(session);
    SnmpCleanup();
    QueryPerformanceCounter(&end);
    double seconds = (double)(end.QuadPart - begin.QuadPart) / (double)frequency.QuadPart;
    printf("objects=%ld seconds=%.4f%s\n", objects, seconds, failed ? " FAILED" : "");
    DestroyWindow(window);
    return failed ? 1 : 0;
}
