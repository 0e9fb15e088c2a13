// Texts at the console program's edges: printer names and every other
// argument come in as UTF-16 and are held as UTF-8 in its char buffers; the
// engine's texts are of the ANSI code page; what it writes goes to a console
// as UTF-16 and to a file or pipe as UTF-8.
#include "console/console.h"
#include "common/text.h"

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

enum {
    OUTPUT_BUFFER_SIZE = 8192,
    // The longest UTF-8 sequence of one UTF-16 unit or pair.
    UTF8_SEQUENCE_MAX = 4
};

// One standard stream: its handle, whether it is a console (wide output),
// and the bytes not yet written (a table line is built in pieces, and a
// console needs whole characters).
struct OutputStream {
    DWORD which;                // STD_OUTPUT_HANDLE, STD_ERROR_HANDLE
    int known;
    HANDLE handle;
    int console;
    int failed;                 // a write did not take every byte
    size_t used;
    char buffer[OUTPUT_BUFFER_SIZE];
};
static OutputStream s_output = {STD_OUTPUT_HANDLE, 0, NULL, 0, 0, 0, {0}};
static OutputStream s_error = {STD_ERROR_HANDLE, 0, NULL, 0, 0, 0, {0}};

int WideToUtf8(const WCHAR *wide, char *utf8, size_t utf8Size)
{
    if (utf8Size == 0)
        return 0;
    utf8[0] = '\0';
    if (wide[0] == 0)
        return 1;
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, (int)utf8Size, NULL, NULL);
    if (length <= 0) {
        utf8[0] = '\0';
        return 0;
    }
    return 1;
}

int Utf8ToWide(const char *utf8, WCHAR *wide, size_t wideCount)
{
    if (wideCount == 0)
        return 0;
    wide[0] = 0;
    if (utf8[0] == '\0')
        return 1;
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, (int)wideCount);
    if (length <= 0) {
        wide[0] = 0;
        return 0;
    }
    return 1;
}

int Utf16Length(const char *utf8)
{
    if (utf8[0] == '\0')
        return 0;
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, NULL, 0);
    return units > 0 ? units - 1 : 0;
}

void AnsiToUtf8(const char *ansi, char *utf8, size_t utf8Size)
{
    WCHAR wide[LONG_TEXT_SIZE];
    utf8[0] = '\0';
    if (ansi[0] == '\0' || utf8Size == 0)
        return;
    int units = MultiByteToWideChar(CP_ACP, 0, ansi, (int)strnlen(ansi, COUNTOF(wide) - 1),
                                    wide, (int)COUNTOF(wide) - 1);
    wide[units > 0 ? units : 0] = 0;
    // Cut at the buffer, never inside a character.
    size_t used = 0;
    for (int i = 0; i < units; i++) {
        char one[UTF8_SEQUENCE_MAX + 1];
        int pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < units && IS_LOW_SURROGATE(wide[i + 1]);
        int length = WideCharToMultiByte(CP_UTF8, 0, wide + i, pair ? 2 : 1, one, UTF8_SEQUENCE_MAX,
                                         NULL, NULL);
        if (length <= 0 || used + (size_t)length + 1 > utf8Size)
            break;
        memcpy(utf8 + used, one, (size_t)length);
        used += (size_t)length;
        i += pair;
    }
    utf8[used] = '\0';
}

int Utf8ToAnsi(const char *utf8, char *ansi, size_t ansiSize)
{
    WCHAR wide[LONG_TEXT_SIZE];
    BOOL lost = FALSE;
    ansi[0] = '\0';
    if (utf8[0] == '\0')
        return 1;
    if (!Utf8ToWide(utf8, wide, COUNTOF(wide)))
        return 0;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi,
                                     (int)ansiSize, NULL, &lost);
    if (length <= 0 || lost) {
        ansi[0] = '\0';
        return 0;
    }
    return 1;
}

int ReadWideArguments(int *argc, char ***argv)
{
    int count = 0;
    WCHAR **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == NULL)
        return 0;
    // Lives for the process, as the runtime's own argv does.
    char **utf8 = (char **)calloc((size_t)count + 1, sizeof(char *));
    int ok = utf8 != NULL;
    for (int i = 0; ok && i < count; i++) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, NULL, 0, NULL, NULL);
        utf8[i] = size > 0 ? (char *)malloc((size_t)size) : NULL;
        ok = utf8[i] != NULL &&
             WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8[i], size, NULL, NULL) > 0;
    }
    LocalFree(wide);
    if (!ok)
        return 0;
    *argc = count;
    *argv = utf8;
    return 1;
}

// ---- The standard streams ---------------------------------------------------

static void FindStream(OutputStream *stream)
{
    DWORD mode = 0;
    if (stream->known)
        return;
    stream->known = 1;
    stream->handle = GetStdHandle(stream->which);
    stream->console = stream->handle != NULL && stream->handle != INVALID_HANDLE_VALUE &&
                      GetConsoleMode(stream->handle, &mode);
}

// The first count bytes of the buffer: UTF-16 to a console, else UTF-8 with
// CR LF line ends, as the runtime's text mode wrote them before.
static void WriteBytes(OutputStream *stream, const char *bytes, size_t count)
{
    DWORD written = 0;
    if (stream->handle == NULL || stream->handle == INVALID_HANDLE_VALUE || count == 0)
        return;
    if (stream->console) {
        WCHAR wide[OUTPUT_BUFFER_SIZE];
        int units = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)count, wide, (int)COUNTOF(wide));
        if (units > 0)
            WriteConsoleW(stream->handle, wide, (DWORD)units, &written, NULL);
        return;
    }
    char lines[OUTPUT_BUFFER_SIZE * 2];
    size_t used = 0;
    for (size_t i = 0; i < count; i++) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            lines[used++] = '\r';
        lines[used++] = bytes[i];
    }
    if (!WriteFile(stream->handle, lines, (DWORD)used, &written, NULL) || written != used)
        stream->failed = 1;
}

// Writes what the buffer holds up to its last whole character.
static void FlushStream(OutputStream *stream, int all)
{
    size_t whole = stream->used;
    if (!all) {
        // Back over an unfinished sequence: continuation bytes and its lead.
        size_t back = 0;
        while (back < UTF8_SEQUENCE_MAX && back < whole &&
               ((unsigned char)stream->buffer[whole - 1 - back] & 0xC0) == 0x80)
            back++;
        if (back < whole && (unsigned char)stream->buffer[whole - 1 - back] >= 0xC0)
            whole -= back + 1;
    }
    WriteBytes(stream, stream->buffer, whole);
    memmove(stream->buffer, stream->buffer + whole, stream->used - whole);
    stream->used -= whole;
}

static void AppendStream(OutputStream *stream, const char *text)
{
    FindStream(stream);
    for (size_t length = strlen(text); length > 0;) {
        size_t room = sizeof(stream->buffer) - stream->used;
        size_t take = length < room ? length : room;
        memcpy(stream->buffer + stream->used, text, take);
        stream->used += take;
        text += take;
        length -= take;
        if (stream->used == sizeof(stream->buffer))
            FlushStream(stream, 0);
    }
}

void WriteOutputText(const char *utf8)
{
    AppendStream(&s_output, utf8);
}

void FlushOutput(void)
{
    FindStream(&s_output);
    FlushStream(&s_output, 1);
}

void WriteErrorText(const char *utf8)
{
    AppendStream(&s_error, utf8);
    FlushStream(&s_error, 1);
}

void RedirectOutput(HANDLE file)
{
    FlushOutput();
    s_output.known = 1;
    s_output.handle = file;
    s_output.console = 0;
    s_output.failed = 0;
}

int OutputFailed(void)
{
    return s_output.failed;
}

// Names (printer, driver, port) and reasons come from whoever made the
// printer: a control character or an escape sequence in them would act on
// the administrator's console or split a log line. Each is shown as a
// visible escape; the JSON escapes them itself.
void EscapeControls(const char *text, char *shown, size_t shownSize)
{
    size_t used = 0;
    if (shownSize == 0)
        return;
    for (const unsigned char *c = (const unsigned char *)text; *c != '\0'; c++) {
        char piece[8];
        size_t length = 1;
        piece[0] = (char)*c;
        piece[1] = '\0';
        if (*c < 0x20 || *c == 0x7f) {
            length = FormatText(piece, COUNTOF(piece), "\\x%02x", *c);
        } else if (*c == 0xc2 && c[1] >= 0x80 && c[1] <= 0x9f) {
            // U+0080 to U+009F: the C1 controls, CSI among them.
            length = FormatText(piece, COUNTOF(piece), "\\u%04x", c[1]);
            c++;
        }
        if (used + length >= shownSize)
            break;
        memcpy(shown + used, piece, length);
        used += length;
    }
    shown[used] = '\0';
}
