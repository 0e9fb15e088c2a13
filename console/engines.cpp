// --v3-engines FILE: the SNMPv3 engines known for the printers' addresses,
// one line each ("ADDRESS ENGINE-ID-HEX FIRST-CONFIRMED-UTC"), and the
// engines confirmed in this run. An address not in the file is trusted on
// its first authentic answer and its line added; an address whose engine
// differs from its line, or an engine that another address presented in
// this run, is refused. The file holds no secret; it is rewritten whole,
// beside itself and then moved over itself, with an access list for SYSTEM,
// the administrators and its owner alone.
#include "console/console.h"
#include "common/text.h"

#include <stdlib.h>
#include <string.h>

enum {
    ENGINE_FILE_MAX_BYTES = 1024 * 1024,
    ENGINE_MAX_LINES = 4096,
    ENGINE_MIN_BYTES = 5,               // RFC 3411: 5 to 32 octets
    ENGINE_MAX_BYTES = 32,
    ENGINE_DATE_LENGTH = 20,            // 2026-12-09T02:30:00Z
    ENGINE_LINE_SIZE = 256
};

// Engines per address: the file's lines, and those this run added.
struct KnownEngine {
    char address[ENGINE_ADDRESS_SIZE];
    char engine[ENGINE_HEX_SIZE];
    char since[ENGINE_DATE_SIZE];
    int line;                           // in the file; 0 for one this run added
};
// An engine confirmed at an address in this run.
struct RunEngine {
    char address[ENGINE_ADDRESS_SIZE];
    char engine[ENGINE_HEX_SIZE];
};

// Large: static, and one process judges at a time (the parent of --all, or
// the process of one printer).
static KnownEngine s_known[ENGINE_MAX_LINES];
static int s_knownCount;
static RunEngine s_run[ENGINE_MAX_LINES];
static int s_runCount;
static int s_added;
static int s_fileGiven;
static char s_path[CONSOLE_PATH_SIZE];
// The file's bytes as read, written back ahead of the lines added.
static char *s_fileText;
static DWORD s_fileSize;

static int IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

static int IsDigits(const char *text, int count)
{
    for (int i = 0; i < count; i++) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
    }
    return 1;
}

// YYYY-MM-DDTHH:MM:SSZ
static int IsUtcDate(const char *text)
{
    return strlen(text) == ENGINE_DATE_LENGTH && IsDigits(text, 4) && text[4] == '-' &&
           IsDigits(text + 5, 2) && text[7] == '-' && IsDigits(text + 8, 2) &&
           text[10] == 'T' && IsDigits(text + 11, 2) && text[13] == ':' &&
           IsDigits(text + 14, 2) && text[16] == ':' && IsDigits(text + 17, 2) &&
           text[19] == 'Z';
}

static KnownEngine *FindKnown(const char *address)
{
    for (int i = 0; i < s_knownCount; i++) {
        if (strcmp(s_known[i].address, address) == 0)
            return &s_known[i];
    }
    return NULL;
}

// The next blank-separated field of a line; NULL at its end.
static char *NextField(char **cursor)
{
    char *at = *cursor;
    while (*at == ' ' || *at == '\t')
        at++;
    if (*at == '\0')
        return NULL;
    char *start = at;
    while (*at != '\0' && *at != ' ' && *at != '\t')
        at++;
    if (*at != '\0')
        *at++ = '\0';
    *cursor = at;
    return start;
}

// One line of the file (comments and blank lines taken by the caller).
static int ParseEngineLine(char *text, int number, char *error, size_t errorSize)
{
    char *cursor = text;
    char *address = NextField(&cursor);
    char *engine = NextField(&cursor);
    char *since = NextField(&cursor);
    size_t hexLength = engine != NULL ? strlen(engine) : 0;
    const char *what = NULL;
    if (address == NULL || engine == NULL || since == NULL || NextField(&cursor) != NULL)
        what = "not ADDRESS ENGINE-ID DATE";
    else if (strlen(address) >= ENGINE_ADDRESS_SIZE)
        what = "the address is too long";
    else if (hexLength % 2 != 0 || hexLength < 2 * ENGINE_MIN_BYTES ||
             hexLength > 2 * ENGINE_MAX_BYTES)
        what = "the engine ID is not 5 to 32 bytes in hex";
    else if (!IsUtcDate(since))
        what = "the date is not YYYY-MM-DDTHH:MM:SSZ";
    for (size_t i = 0; what == NULL && i < hexLength; i++) {
        if (!IsHex(engine[i]))
            what = "the engine ID is not 5 to 32 bytes in hex";
    }
    if (what == NULL && FindKnown(address) != NULL) {
        FormatText(error, errorSize, "--v3-engines: line %d of \"%s\": a second line for %s "
                   "(line %d)", number, s_path, address, FindKnown(address)->line);
        return 0;
    }
    if (what == NULL && s_knownCount >= ENGINE_MAX_LINES)
        what = "more lines than the program keeps";
    if (what != NULL) {
        FormatText(error, errorSize, "--v3-engines: line %d of \"%s\": %s", number, s_path,
                   what);
        return 0;
    }
    KnownEngine *known = &s_known[s_knownCount++];
    CopyText(known->address, COUNTOF(known->address), address);
    for (size_t i = 0; i <= hexLength; i++)
        known->engine[i] = (char)(engine[i] >= 'A' && engine[i] <= 'F' ? engine[i] + 32
                                                                       : engine[i]);
    CopyText(known->since, COUNTOF(known->since), since);
    known->line = number;
    return 1;
}

int LoadEngineFile(const char *path, char *error, size_t errorSize)
{
    WCHAR widePath[PATH_TEXT_SIZE];
    HANDLE file = INVALID_HANDLE_VALUE;
    char line[ENGINE_LINE_SIZE];
    LARGE_INTEGER size;
    DWORD got = 0;
    int ok = 0;

    s_fileGiven = 1;
    s_knownCount = s_runCount = s_added = 0;
    CopyText(s_path, COUNTOF(s_path), path);
    free(s_fileText);
    s_fileText = NULL;
    s_fileSize = 0;
    if (!Utf8ToWide(path, widePath, COUNTOF(widePath))) {
        FormatText(error, errorSize, "--v3-engines: the file name \"%s\" cannot be used", path);
        return 0;
    }
    file = CreateFileW(widePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        // No file yet: the first run makes it.
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return 1;
        FormatText(error, errorSize, "--v3-engines: the file \"%s\" cannot be read (error %lu)",
                   path, GetLastError());
        return 0;
    }
    if (!GetFileSizeEx(file, &size) || size.QuadPart > ENGINE_FILE_MAX_BYTES ||
        (s_fileText = (char *)malloc((size_t)size.QuadPart + 1)) == NULL ||
        !ReadFile(file, s_fileText, (DWORD)size.QuadPart, &got, NULL) ||
        got != (DWORD)size.QuadPart) {
        FormatText(error, errorSize, "--v3-engines: the file \"%s\" cannot be read (larger "
                   "than 1 MB, or error %lu)", path, GetLastError());
        goto done;
    }
    s_fileSize = got;
    s_fileText[got] = '\0';
    {
        int number = 0;
        size_t at = 0;
        // A UTF-8 mark as Notepad writes it.
        if (got >= 3 && memcmp(s_fileText, "\xEF\xBB\xBF", 3) == 0)
            at = 3;
        while (at < got) {
            size_t end = at;
            number++;
            while (end < got && s_fileText[end] != '\n')
                end++;
            size_t length = end - at;
            if (length > 0 && s_fileText[at + length - 1] == '\r')
                length--;
            if (memchr(s_fileText + at, '\0', length) != NULL || length >= COUNTOF(line)) {
                FormatText(error, errorSize, "--v3-engines: line %d of \"%s\": %s", number,
                           path, length >= COUNTOF(line) ? "too long" : "holds a NUL byte");
                goto done;
            }
            CopyTextN(line, COUNTOF(line), s_fileText + at, length);
            at = end + 1;
            char *first = line;
            while (*first == ' ' || *first == '\t')
                first++;
            if (*first == '\0' || *first == '#')
                continue;
            if (!ParseEngineLine(first, number, error, errorSize))
                goto done;
        }
    }
    ok = 1;
done:
    CloseHandle(file);
    if (!ok)
        s_knownCount = 0;
    return ok;
}

int EngineFileGiven(void)
{
    return s_fileGiven;
}

const char *EngineFilePath(void)
{
    return s_path;
}

static void FormatUtcNow(char *text, size_t textSize)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    FormatText(text, textSize, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
}

void JudgeEngine(const char *address, const char *engine, EngineVerdict *verdict)
{
    const KnownEngine *known = FindKnown(address);
    memset(verdict, 0, sizeof(*verdict));
    if (known != NULL && strcmp(known->engine, engine) != 0) {
        verdict->state = ENGINE_REFUSED;
        CopyText(verdict->since, COUNTOF(verdict->since), known->since);
        FormatText(verdict->reason, COUNTOF(verdict->reason),
                   "the printer at %s now presents SNMPv3 engine %s; it was %s since %s. If the "
                   "printer was replaced or reset, remove its line from %s.", address, engine,
                   known->engine, known->since, s_path);
        return;
    }
    // One engine, one printer: another address with this engine in this
    // run is refused, unless the file lists the engine for both.
    for (int i = 0; i < s_runCount; i++) {
        const RunEngine *seen = &s_run[i];
        if (strcmp(seen->engine, engine) != 0 || strcmp(seen->address, address) == 0)
            continue;
        const KnownEngine *other = FindKnown(seen->address);
        if (known != NULL && known->line > 0 && other != NULL && other->line > 0 &&
            strcmp(other->engine, engine) == 0)
            continue;
        verdict->state = ENGINE_REFUSED;
        FormatText(verdict->reason, COUNTOF(verdict->reason),
                   "the printer at %s presents SNMPv3 engine %s, which the printer at %s "
                   "presented earlier in this run: two printers present the same engine ID "
                   "(RFC 3411 asks each engine ID to be unique); give each printer its own "
                   "engine ID, or, when both addresses reach one printer, list its engine for "
                   "both %s", address, engine, seen->address,
                   s_fileGiven ? "in the engines file" : "in a --v3-engines file");
        return;
    }
    // ... and so is a new address with an engine the file lists for another.
    for (int i = 0; known == NULL && i < s_knownCount; i++) {
        if (strcmp(s_known[i].engine, engine) != 0)
            continue;
        verdict->state = ENGINE_REFUSED;
        FormatText(verdict->reason, COUNTOF(verdict->reason),
                   "the printer at %s presents SNMPv3 engine %s, which %s lists for the "
                   "printer at %s: two printers present the same engine ID (RFC 3411 asks "
                   "each engine ID to be unique); give each printer its own engine ID, or, "
                   "when both addresses reach one printer, add a line for %s", address, engine,
                   s_path, s_known[i].address, address);
        return;
    }
    if (s_runCount < ENGINE_MAX_LINES) {
        CopyText(s_run[s_runCount].address, COUNTOF(s_run[s_runCount].address), address);
        CopyText(s_run[s_runCount].engine, COUNTOF(s_run[s_runCount].engine), engine);
        s_runCount++;
    }
    if (known != NULL) {
        verdict->state = ENGINE_KNOWN;
        CopyText(verdict->since, COUNTOF(verdict->since), known->since);
        return;
    }
    verdict->state = ENGINE_NEW;
    FormatUtcNow(verdict->since, COUNTOF(verdict->since));
    // Trusted on its first authentic answer: remembered from now on.
    if (s_fileGiven && s_knownCount < ENGINE_MAX_LINES) {
        KnownEngine *added = &s_known[s_knownCount++];
        CopyText(added->address, COUNTOF(added->address), address);
        CopyText(added->engine, COUNTOF(added->engine), engine);
        CopyText(added->since, COUNTOF(added->since), verdict->since);
        added->line = 0;
        s_added++;
    }
}

static int WriteBytes(HANDLE file, const void *bytes, DWORD size)
{
    DWORD written = 0;
    return size == 0 || (WriteFile(file, bytes, size, &written, NULL) && written == size);
}

int SaveEngineFile(char *error, size_t errorSize)
{
    WCHAR widePath[PATH_TEXT_SIZE], wideBeside[PATH_TEXT_SIZE + 32];
    char beside[CONSOLE_PATH_SIZE + 32];
    char line[ENGINE_LINE_SIZE];
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD failure = 0;
    int ok = 0;
    if (!s_fileGiven || s_added == 0)
        return 1;
    wideBeside[0] = 0;
    if (!Utf8ToWide(s_path, widePath, COUNTOF(widePath))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        goto done;
    }
    // Beside it, under a name nobody can make first, with the
    // administrators' own list, which the file keeps when it is moved.
    file = CreateUniqueFile(s_path, ".new", beside, COUNTOF(beside));
    if (file == INVALID_HANDLE_VALUE)
        goto done;
    if (!Utf8ToWide(beside, wideBeside, COUNTOF(wideBeside))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        goto done;
    }
    // The lines as they were, then one per engine this run trusted.
    if (!WriteBytes(file, s_fileText, s_fileSize) ||
        (s_fileSize > 0 && s_fileText[s_fileSize - 1] != '\n' && !WriteBytes(file, "\r\n", 2)))
        goto done;
    for (int i = 0; i < s_knownCount; i++) {
        if (s_known[i].line > 0)
            continue;
        FormatText(line, COUNTOF(line), "%s %s %s\r\n", s_known[i].address, s_known[i].engine,
                   s_known[i].since);
        if (!WriteBytes(file, line, (DWORD)strlen(line)))
            goto done;
    }
    if (!FlushFileBuffers(file))
        goto done;
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    if (!MoveFileExW(wideBeside, widePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        goto done;
    ok = 1;
done:
    failure = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok) {
        if (wideBeside[0] != 0)
            DeleteFileW(wideBeside);
        FormatText(error, errorSize, "--v3-engines: the engines this run trusted could not be "
                   "written to \"%s\" (error %lu); it is as it was, and they will be trusted "
                   "anew on the next run", s_path, failure);
    }
    return ok;
}

void FormatEngineId(const BYTE *id, UINT length, char *hex, size_t hexSize)
{
    hex[0] = '\0';
    for (UINT i = 0; i < length && (size_t)(2 * i + 2) < hexSize; i++) {
        char two[3];
        FormatText(two, COUNTOF(two), "%02x", id[i]);
        AppendText(hex, hexSize, two);
    }
}
