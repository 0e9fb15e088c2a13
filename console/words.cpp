// The words the table, the JSON and the log line share: a walk's outcome,
// a stored value, where a setting came from.
#include "console/console.h"
#include "console/report.h"
#include "common/report.h"
#include "common/text.h"
#include "snmp/snmp_engine.h"

#include <string.h>

static const char *const SOURCE_NAMES[] = {"default", "cluster keys", "port monitor",
                                           "stored settings", "command line"};
const char *const STATUS_NAMES[3] = {"detected", "failed", "skipped"};
const char *const STORE_NAMES[5] = {"not asked", "kept", "unchanged", "written", "failed"};
const char *const CHANGE_NAMES[6] = {"kept", "not given", "unchanged", "changed",
                                     "would change", "not stored"};

const char *SourceName(int source)
{
    return source >= 0 && (size_t)source < COUNTOF(SOURCE_NAMES) ? SOURCE_NAMES[source] : "?";
}

const char *OutcomeToken(int outcome)
{
    switch (outcome) {
    case OUTCOME_NOT_WALKED_SILENT:
    case OUTCOME_NOT_WALKED_CHAIN: return "not walked";
    case OUTCOME_DETECTED: return "detected";
    case OUTCOME_EMPTY: return "nothing under this sub-tree";
    case OUTCOME_NO_ANSWER: return "no answer";
    case OUTCOME_REFUSED: return "refused";
    case OUTCOME_NOT_ADVANCING: return "answers did not advance";
    case OUTCOME_TOO_LONG: return "no end";
    case OUTCOME_OID_INVALID: return "invalid OID";
    case OUTCOME_NOT_STARTED: return "not started";
    case OUTCOME_REQUEST_FAILED: return "request failed";
    case OUTCOME_NO_ENTRY: return "no map entry";
    case OUTCOME_NO_MAP: return "map missing";
    case OUTCOME_V3_UNKNOWN_USER: return "unknown user";
    case OUTCOME_V3_AUTHENTICATION_FAILED: return "authentication failure";
    case OUTCOME_V3_PRIVACY_REQUIRED: return "privacy required";
    case OUTCOME_V3_LEVEL_UNSUPPORTED: return "security level not supported";
    case OUTCOME_V3_DECRYPTION_FAILED: return "decryption failed";
    case OUTCOME_V3_NOT_IN_TIME_WINDOW: return "not in time window";
    case OUTCOME_V3_UNKNOWN_ENGINE: return "engine not discovered";
    case OUTCOME_V3_OTHER_REPORT: return "refused with a report";
    case OUTCOME_V3_NO_RANDOM: return "no random numbers";
    case OUTCOME_V3_CRYPTO_FAILED: return "cryptography failed";
    case OUTCOME_NOT_WALKED_ENGINE: return "engine refused";
    default: return "?";
    }
}

void AppendQuoted(char *words, size_t wordsSize, const char *value)
{
    char shown[VALUE_WORDS_SIZE];
    size_t length = CopyText(shown, COUNTOF(shown), value);
    for (size_t i = 0; i < length; i++) {
        if ((unsigned char)shown[i] < 0x20)
            shown[i] = '.';
    }
    AppendText(words, wordsSize, "\"");
    AppendText(words, wordsSize, shown);
    AppendText(words, wordsSize, "\"");
}

// Why an SNMPv3 agent refused, in plain words; NULL for other outcomes.
static const char *DescribeV3Refusal(int outcome)
{
    switch (outcome) {
    case OUTCOME_V3_UNKNOWN_USER:
        return "unknown user: the agent has no SNMPv3 user of this name";
    case OUTCOME_V3_AUTHENTICATION_FAILED:
        return "authentication failure: wrong authentication password, or a protocol other "
               "than the user's";
    case OUTCOME_V3_PRIVACY_REQUIRED:
        return "privacy required by the agent: this user may read only encrypted (--v3-priv AES)";
    case OUTCOME_V3_LEVEL_UNSUPPORTED:
        return "security level not supported: the agent's user has no privacy (leave out "
               "--v3-priv) or another level";
    case OUTCOME_V3_DECRYPTION_FAILED:
        return "decryption failed: wrong privacy password, or a protocol other than the user's";
    case OUTCOME_V3_NOT_IN_TIME_WINDOW:
        return "not in time window: the agent rejected the request's time even after one "
               "resynchronisation";
    case OUTCOME_V3_UNKNOWN_ENGINE:
        return "the agent's SNMPv3 engine could not be discovered";
    case OUTCOME_V3_OTHER_REPORT:
        return "the agent refused the request with an SNMPv3 report";
    case OUTCOME_V3_NO_RANDOM:
        return "no random numbers from the system for SNMPv3 message ids or privacy salts: "
               "nothing sent that could repeat another run's";
    case OUTCOME_V3_CRYPTO_FAILED:
        return "the system's cryptography failed on an SNMPv3 key, digest or cipher";
    default:
        return NULL;
    }
}

// The outcome of a walk in plain words.
void DescribeOutcome(const WalkReport *walk, int isSystem, int version, char *words,
                            size_t wordsSize)
{
    words[0] = '\0';
    const char *refusal = DescribeV3Refusal(walk->outcome);
    if (refusal != NULL) {
        CopyText(words, wordsSize, refusal);
        return;
    }
    switch (walk->outcome) {
    case OUTCOME_NOT_WALKED_SILENT:
        CopyText(words, wordsSize,
                 "not walked: an earlier walk got no answer, and this one would wait as long");
        return;
    case OUTCOME_NOT_WALKED_ENGINE:
        CopyText(words, wordsSize, isSystem ? "answer not used: the printer's SNMPv3 engine "
                                              "was refused"
                                            : "not walked: the printer's SNMPv3 engine was "
                                              "refused");
        return;
    case OUTCOME_NOT_WALKED_CHAIN:
        CopyText(words, wordsSize, "not walked: detection stops at the first option that "
                                   "fails (as OK in the dialog); its stored value is kept");
        return;
    case OUTCOME_DETECTED:
        if (walk->valueCount == 0) {
            CopyText(words, wordsSize,
                     isSystem ? "answers, but gives no text for sysDescr.0"
                              : "detected: the sub-tree holds no text values (an empty list)");
            return;
        }
        CopyText(words, wordsSize, isSystem ? "answers: " : "detected: ");
        for (int i = 0; i < walk->valueCount; i++) {
            if (i > 0)
                AppendText(words, wordsSize, ", ");
            AppendQuoted(words, wordsSize, walk->values[i]);
        }
        return;
    case OUTCOME_EMPTY:
        CopyText(words, wordsSize,
                 isSystem ? "answers, but has nothing under sysDescr"
                          : "nothing under this sub-tree: the printer answers, but has no such "
                            "option (an empty list)");
        return;
    case OUTCOME_NO_ANSWER:
        // An agent drops what it cannot decipher without a word.
        CopyText(words, wordsSize,
                 version == 3 ? "no answer: printer off, wrong address, SNMPv3 not enabled, or "
                                "a wrong privacy password"
                              : "no answer: printer off, wrong address, or a community the "
                                "agent does not accept");
        return;
    case OUTCOME_REFUSED:
        FormatText(words, wordsSize, "the agent refused the request: error status %d (%s)",
                   walk->errorStatus, GetErrorStatusName(walk->errorStatus));
        return;
    case OUTCOME_NOT_ADVANCING:
        CopyText(words, wordsSize, "the agent's answers did not advance (a broken agent)");
        return;
    case OUTCOME_TOO_LONG:
        FormatText(words, wordsSize, "no end of the sub-tree after %d requests",
                   walk->exchanges);
        return;
    case OUTCOME_OID_INVALID:
        CopyText(words, wordsSize, "the query map's OID for this option is not valid");
        return;
    case OUTCOME_NOT_STARTED:
        CopyText(words, wordsSize, "the walk could not start: the address does not resolve, "
                                   "or no SNMP session opened");
        return;
    case OUTCOME_REQUEST_FAILED:
        CopyText(words, wordsSize, "a request could not be made or sent");
        return;
    case OUTCOME_NO_ENTRY:
        CopyText(words, wordsSize, "no map entry for this option in VRUnPQ.xml");
        return;
    case OUTCOME_NO_MAP:
        CopyText(words, wordsSize, "map missing: VRUnPQ.xml beside the program cannot be read");
        return;
    default:
        return;
    }
}

int WalkAttempts(const WalkReport *walk)
{
    if (walk->outcome != OUTCOME_NO_ANSWER)
        return walk->exchanges;
    // The engine counts the request that got no reply as one exchange.
    return (walk->exchanges > 1 ? walk->exchanges - 1 : 0) + REQUEST_ATTEMPTS;
}

void DescribeSystemWords(DWORD error, char *text, size_t textSize)
{
    char message[LONG_TEXT_SIZE], shown[LONG_TEXT_SIZE * UTF8_PER_UNIT];
    size_t length = DescribeSystemError(error, message, COUNTOF(message));
    // Within a sentence of the report: without its own full stop.
    while (length > 0 && (message[length - 1] == '.' || message[length - 1] == ' '))
        message[--length] = '\0';
    // The system speaks the ANSI code page; the report UTF-8.
    AnsiToUtf8(message, shown, COUNTOF(shown));
    FormatText(text, textSize, "%s (error %lu)", length > 0 ? shown : "system error",
               (unsigned long)error);
}

void FormatDuration(char *text, size_t textSize, DWORD milliseconds)
{
    FormatText(text, textSize, "%lu.%02lu s", (unsigned long)(milliseconds / 1000),
               (unsigned long)(milliseconds % 1000 / 10));
}
const char *TypeName(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "other";
    }
}

int TakeStoredText(const RawValue *value, DWORD *at, char *shown, size_t shownSize)
{
    char text[STORED_VALUE_BYTES + 1];
    const char *bytes = (const char *)value->bytes;
    DWORD count = value->byteCount < (DWORD)STORED_VALUE_BYTES ? value->byteCount
                                                            : (DWORD)STORED_VALUE_BYTES;
    DWORD length = 0;
    if (*at >= count || (value->type == REG_MULTI_SZ && bytes[*at] == '\0'))
        return 0;
    while (*at + length < count && bytes[*at + length] != '\0')
        length++;
    memcpy(text, bytes + *at, length);
    text[length] = '\0';
    AnsiToUtf8(text, shown, shownSize);
    *at += length + 1;
    return 1;
}

// A value as the demonstration's value table shows it: a text quoted, a
// list as its quoted texts, binary bytes in hex.
void DescribeValue(const RawValue *value, char *words, size_t wordsSize)
{
    DWORD count = value->byteCount < (DWORD)STORED_VALUE_BYTES ? value->byteCount
                                                            : (DWORD)STORED_VALUE_BYTES;
    words[0] = '\0';
    if (!value->present) {
        CopyText(words, wordsSize, "(none stored)");
        return;
    }
    switch (value->type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        char shown[SHOWN_TEXT_SIZE] = "";
        DWORD at = 0;
        TakeStoredText(value, &at, shown, COUNTOF(shown));
        AppendQuoted(words, wordsSize, shown);
        return;
    }
    case REG_MULTI_SZ: {
        char shown[SHOWN_TEXT_SIZE];
        DWORD at = 0;
        while (TakeStoredText(value, &at, shown, COUNTOF(shown))) {
            if (words[0] != '\0')
                AppendText(words, wordsSize, ", ");
            AppendQuoted(words, wordsSize, shown);
        }
        if (at == 0)
            CopyText(words, wordsSize, "(empty list)");
        return;
    }
    default:
        for (DWORD i = 0; i < count; i++) {
            char hex[4];
            FormatText(hex, COUNTOF(hex), i > 0 ? " %02x" : "%02x", value->bytes[i]);
            AppendText(words, wordsSize, hex);
        }
        if (count == 0)
            CopyText(words, wordsSize, "(no bytes)");
        return;
    }
}
