// What the report's writers share: where the report goes, the run's facts,
// and the words a walk's outcome, a value and a source are told in. The
// table (table.cpp), the JSON (json.cpp) and the log line (log.cpp) say the
// same things in the same words.
#pragma once

#include "console/console.h"

enum {
    WORDS_SIZE = 1024,
    VALUE_WORDS_SIZE = 2048,
    SHOWN_TEXT_SIZE = STORED_VALUE_BYTES * UTF8_PER_UNIT + 1
};

extern const char *const STATUS_NAMES[3];
extern const char *const STORE_NAMES[5];
extern const char *const CHANGE_NAMES[6];

// report_file.cpp: the run: when it started (UTC), on which computer, with
// which map (UTF-8), taken by BeginReport.
extern char g_runTime[32];
extern char g_runComputer[(MAX_COMPUTERNAME_LENGTH + 1) * UTF8_PER_UNIT];
extern char g_runQueryMap[CONSOLE_PATH_SIZE];
// What the command line asked for, as the JSON's head tells it: --write,
// the driver ("" without --driver), the workers of --all (1 otherwise).
extern int g_runWrite;
extern char g_runDriver[CONSOLE_NAME_SIZE];
extern int g_runJobs;
// Why nothing was asked ("" when something was): the JSON says it.
extern char g_runNothingAsked[REASON_SIZE];
void WriteFormatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
// What was asked for ("" when something was): the JSON's nothingAsked.
extern char g_runTarget[CONSOLE_NAME_SIZE + 32];

// log.cpp: the one line of a run that asked nothing.
int AppendNothingAskedLine(const char *path, const char *target, const char *reason,
                           char *error, size_t errorSize);

// log.cpp: what changed (or, without --write, would change), as the --log
// line says it: "NAME old -> new; ...", or "no change".
void DescribeChanges(const PrinterReport *report, char *words, size_t wordsSize);

// words.cpp
const char *SourceName(int source);
// A value for the table: quoted, control characters shown as dots.
void AppendQuoted(char *words, size_t wordsSize, const char *value);
// The outcome of a walk in plain words.
void DescribeOutcome(const WalkReport *walk, int isSystem, int version, char *words,
                     size_t wordsSize);
void FormatDuration(char *text, size_t textSize, DWORD milliseconds);
// The requests a walk sent, as the table counts them: every answered
// exchange, and each of the attempts of a request that got no reply.
int WalkAttempts(const WalkReport *walk);
// The system's words for an error, without a full stop, and its number.
void DescribeSystemWords(DWORD error, char *text, size_t textSize);
const char *TypeName(DWORD type);
// The text of a stored value that starts at *at (the engine's ANSI code
// page) in UTF-8, and *at moved past its NUL; 0 at the list's end.
int TakeStoredText(const RawValue *value, DWORD *at, char *shown, size_t shownSize);
// A value as the demonstration's value table shows it: a text quoted, a
// list as its quoted texts, binary bytes in hex.
void DescribeValue(const RawValue *value, char *words, size_t wordsSize);

// community.cpp: a community is never shown, only whether it is set, where
// it came from and whether it differs from the printer's stored one
// (changed: 1 or 0; -1 when nothing stored is known, as for an address).
struct CommunityFacts {
    int set;
    int source;
    int changed;
};
void TakeCommunityFacts(const PrinterReport *report, CommunityFacts *facts);
// "set (from port monitor), changed"
void DescribeCommunity(const PrinterReport *report, char *words, size_t wordsSize);
// DescribeValue, but for QV_AutoComName only whether it holds a community.
void DescribeStoredValue(int index, const RawValue *value, char *words, size_t wordsSize);
