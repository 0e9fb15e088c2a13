// What the report tells of a community: whether one is set, where it came
// from, and whether it differs from the one the printer has stored; never
// the community itself. A community is as good as a password to any agent
// that accepts it, and the reports and the log are kept in a folder that
// others may come to read.
#include "console/console.h"
#include "console/report.h"
#include "common/text.h"

#include <string.h>

// The stored value's text (up to its NUL) against the community asked
// with, byte for byte in the engine's code page.
static int SameCommunity(const RawValue *stored, const char *community)
{
    DWORD count = stored->byteCount < (DWORD)STORED_VALUE_BYTES ? stored->byteCount
                                                             : (DWORD)STORED_VALUE_BYTES;
    const BYTE *end = (const BYTE *)memchr(stored->bytes, 0, count);
    size_t length = end != NULL ? (size_t)(end - stored->bytes) : count;
    return length == strlen(community) && memcmp(stored->bytes, community, length) == 0;
}

void TakeCommunityFacts(const PrinterReport *report, CommunityFacts *facts)
{
    const RawValue *stored = &report->stored[VALUE_COMMUNITY];
    facts->set = report->fields.community[0] != '\0';
    facts->source = report->sources.community;
    facts->changed = -1;
    // Against the printer's own value only: an address has none.
    if (report->hasPrinter && report->haveStored)
        facts->changed = !stored->present || (stored->type != REG_SZ &&
                                              stored->type != REG_EXPAND_SZ) ||
                         !SameCommunity(stored, report->fields.community);
}

void DescribeCommunity(const PrinterReport *report, char *words, size_t wordsSize)
{
    CommunityFacts facts;
    TakeCommunityFacts(report, &facts);
    FormatText(words, wordsSize, "%s (from %s)%s", facts.set ? "set" : "empty",
               SourceName(facts.source),
               facts.changed < 0 ? "" : facts.changed ? ", changed" : ", unchanged");
}

void DescribeStoredValue(int index, const RawValue *value, char *words, size_t wordsSize)
{
    if (index != VALUE_COMMUNITY || !value->present) {
        DescribeValue(value, words, wordsSize);
        return;
    }
    CopyText(words, wordsSize, value->byteCount > 0 && value->bytes[0] != 0
                                   ? "a community (not shown)" : "an empty community");
}
