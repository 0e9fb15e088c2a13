// The engine's copies of the caller's texts, and the agent address resolved
// to the numeric host text from which the agent entity is made.
#include "snmp/engine_internal.h"
#include "snmp/error_report.h"
#include "common/text.h"

#include <ws2tcpip.h>
#include <snmp.h>

char g_agentNumericHost[AGENT_HOST_SIZE];
char *g_agentText;
char *g_communityText;
char *g_oidText;

// A heap copy of length bytes of text (less if a NUL comes first).
static char *CopyToHeap(const char *text, size_t length)
{
    if (length >= 0xFFFFFFFFu)
        return NULL;
    char *copy = (char *)SnmpUtilMemAlloc((UINT)(length + 1));
    if (copy != NULL)
        CopyTextN(copy, length + 1, text, length);
    return copy;
}

int ResolveAgentAddress(const char *text)
{
    if (text == NULL)
        return 0;
    struct addrinfo hints;
    struct addrinfo *list = NULL;
    memset(&hints, 0, sizeof(hints));
    if (getaddrinfo(text, NULL, &hints, &list) != 0)
        return 0;
    int ok = 0;
    if (list != NULL && (list->ai_family == AF_INET || list->ai_family == AF_INET6))
        ok = getnameinfo(list->ai_addr, (socklen_t)list->ai_addrlen, g_agentNumericHost,
                         COUNTOF(g_agentNumericHost), NULL, 0, NI_NUMERICHOST) == 0;
    g_agentNumericHost[COUNTOF(g_agentNumericHost) - 1] = '\0';
    if (list != NULL)
        freeaddrinfo(list);
    return ok;
}

int PrepareQueryTexts(const char *address, size_t addressLength, const char *community,
                      size_t communityLength, const char *oidText, size_t oidTextLength)
{
    g_agentText = CopyToHeap(address, addressLength);
    if (g_agentText == NULL) {
        ShowWarning(WARN_AGENT_COPY_FAILED);
        return 0;
    }
    if (!ResolveAgentAddress(address)) {
        ShowWarning(WARN_INVALID_AGENT);
        return 0;
    }
    g_communityText = CopyToHeap(community, communityLength);
    if (g_communityText == NULL) {
        ShowWarning(WARN_MEMORY_ALLOCATION_FAILED);
        return 0;
    }
    g_oidText = CopyToHeap(oidText, oidTextLength);
    if (g_oidText == NULL) {
        ShowWarning(WARN_MEMORY_ALLOCATION_FAILED);
        return 0;
    }
    return 1;
}

void ReleaseQueryTexts(void)
{
    SnmpUtilMemFree(g_oidText);
    SnmpUtilMemFree(g_agentText);
    SnmpUtilMemFree(g_communityText);
    g_oidText = NULL;
    g_agentText = NULL;
    g_communityText = NULL;
}
