// The query-map file: loaded whole, searched with plain substring searches
// for fixed markers. There is no XML parser on purpose: the file only has to
// hold the markers.
#include "features/query_map.h"
#include "common/base.h"
#include "common/report.h"
#include "common/text.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

static const char QUERY_MAP_FILE[] = "VRUnPQ.xml";
static const char ENTRY_END[] = "</Property>";
static const char OID_MARKER[] = "oid=";
enum { OID_TEXT_MAX = SHORT_TEXT_SIZE - 1 };

char *g_queryMap;

void ReleaseQueryMap(void)
{
    free(g_queryMap);
    g_queryMap = NULL;
}

void GetQueryMapPath(char *path, size_t pathSize)
{
    memset(path, 0, pathSize);
    DWORD got = GetModuleFileNameA(g_hInstance, path, (DWORD)pathSize);
    path[pathSize - 1] = '\0';
    if (got == 0)
        path[0] = '\0';
    char *lastSlash = strrchr(path, '\\');
    if (lastSlash != NULL)
        lastSlash[1] = '\0';
    AppendText(path, pathSize, QUERY_MAP_FILE);
}

int LoadQueryMap(void)
{
    char path[PATH_TEXT_SIZE];
    GetQueryMapPath(path, COUNTOF(path));

    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;

    int ok = 0;
    char *block = NULL;
    DWORD high = 0, read = 0;
    DWORD size = GetFileSize(file, &high);
    // A file of 4 GiB or more does not fit the loader's 32-bit size.
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0)
        goto done;
    block = (char *)calloc((size_t)size + 2, 1);
    if (block == NULL)
        goto done;
    if (!ReadFile(file, block, size, &read, NULL) || read != size)
        goto done;
    block[size] = '\0';
    block[size + 1] = '\0';
    free(g_queryMap);
    g_queryMap = block;
    block = NULL;
    ok = 1;
done:
    CloseHandle(file);
    free(block);
    return ok;
}

static void ShowLookupError(const char *text)
{
    ReportMessage(MESSAGE_MAP_ERROR, NULL, text, "Error", MB_OK);
}

int ExtractQuotedValue(char *oidText, const char *text)
{
    while (*text == ' ' || *text == '\r' || *text == '\n')
        text++;
    if (*text != '\'')
        return 0;
    text++;
    for (int i = 0; i <= OID_TEXT_MAX; i++) {
        if (text[i] == '\'') {
            CopyTextN(oidText, SHORT_TEXT_SIZE, text, (size_t)i);
            return 1;
        }
        if (text[i] == '\0')
            break;
    }
    // Too long or not closed: nothing half-copied is left behind.
    oidText[0] = '\0';
    return 0;
}

int LookupOptionOid(const char *optionName, char *oidText)
{
    if (g_queryMap == NULL)
        return 0;
    char pattern[SHORT_TEXT_SIZE];
    FormatText(pattern, COUNTOF(pattern), "<Property name='%s'>", optionName);

    const char *entry = strstr(g_queryMap, pattern);
    if (entry == NULL) {
        ShowLookupError("pEntryStart - Nullpointer");
        return 0;
    }
    const char *entryEnd = strstr(entry, ENTRY_END);
    if (entryEnd == NULL) {
        ShowLookupError("pEntryEnd - Nullpointer");
        return 0;
    }
    const char *oid = strstr(entry, OID_MARKER);
    if (oid == NULL) {
        ShowLookupError("pOID - Nullpointer");
        return 0;
    }
    if (oid > entryEnd) {
        ShowLookupError("wrong pOID");
        return 0;
    }
    if (!ExtractQuotedValue(oidText, oid + strlen(OID_MARKER))) {
        ShowLookupError("wrong szOID");
        return 0;
    }
    return 1;
}
