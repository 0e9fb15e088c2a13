// The command line of VRAutoDetect.exe: one table of options, so that a new
// flag is one row and one case.
#include "console/console.h"
#include "common/text.h"

#include <string.h>

enum OptionId {
    OPT_PRINTER, OPT_ADDRESS, OPT_COMMUNITY, OPT_TIMEOUT, OPT_ALL, OPT_DRIVER, OPT_JOBS,
    OPT_WRITE, OPT_ACCEPT_NO_OPTIONS, OPT_JSON, OPT_HELP, OPT_CHILD, OPT_V3_USER, OPT_V3_AUTH,
    OPT_V3_PRIV, OPT_V3_SECRETS, OPT_VERSION, OPT_OUTPUT, OPT_LOG, OPT_EVENT_LOG, OPT_V3_ENGINES,
    OPT_V2C
};

// The dialog's typing limits hold here too: what --write stores is what
// could have been typed.
enum {
    ADDRESS_MAX = 62,
    COMMUNITY_MAX = 62,
    TIMEOUT_MAX_DIGITS = TIMEOUT_TYPED_MAX
};

struct OptionRow {
    const char *name;
    int id;
    int takesValue;
};
static const OptionRow OPTION_TABLE[] = {
    {"--printer", OPT_PRINTER, 1},
    {"--address", OPT_ADDRESS, 1},
    {"--community", OPT_COMMUNITY, 1},
    {"--timeout", OPT_TIMEOUT, 1},
    {"--all", OPT_ALL, 0},
    {"--driver", OPT_DRIVER, 1},
    {"--jobs", OPT_JOBS, 1},
    {"--write", OPT_WRITE, 0},
    {"--accept-no-options", OPT_ACCEPT_NO_OPTIONS, 0},
    {"--json", OPT_JSON, 0},
    {"--help", OPT_HELP, 0},
    {"/?", OPT_HELP, 0},
    {"--worker", OPT_CHILD, 0},  // internal: a worker of --all, printers on stdin
    {"--v3-user", OPT_V3_USER, 1},
    {"--v3-auth", OPT_V3_AUTH, 1},
    {"--v3-priv", OPT_V3_PRIV, 1},
    {"--v3-secrets", OPT_V3_SECRETS, 1},
    {"--v3-engines", OPT_V3_ENGINES, 1},
    {"--version", OPT_VERSION, 0},
    {"--output", OPT_OUTPUT, 1},
    {"--log", OPT_LOG, 1},
    {"--event-log", OPT_EVENT_LOG, 0},
    {"--v2c", OPT_V2C, 0},
};

static const char USAGE[] =
    "Usage:\n"
    "  VRAutoDetect.exe --printer NAME [--address HOST] [--community TEXT]\n"
    "                   [--timeout SECONDS] [--write [--accept-no-options]] [REPORT]\n"
    "  VRAutoDetect.exe --address HOST [--community TEXT] [--timeout SECONDS]\n"
    "                   [REPORT]\n"
    "  VRAutoDetect.exe --all [--driver NAME] [--jobs N] [--community TEXT]\n"
    "                   [--timeout SECONDS] [REPORT]\n"
    "  VRAutoDetect.exe --all --driver NAME --write [--jobs N] [--community TEXT]\n"
    "                   [--timeout SECONDS] [REPORT]\n"
    "  VRAutoDetect.exe --help | /? | --version\n"
    "REPORT: [--json] [--output FILE] [--log FILE] [--event-log]\n"
    "Each form but --help and --version also takes --v2c, or SNMPv3 instead of\n"
    "--community:\n"
    "                   --v3-user NAME [--v3-auth MD5|SHA|SHA256 [--v3-priv AES|none]]\n"
    "                   [--v3-secrets FILE] [--v3-engines FILE]\n"
    "\n"
    "Asks a VR Universal printer over SNMPv1, SNMPv2c or SNMPv3 which optional parts\n"
    "it has (hard disk, finisher, punching unit, second cassette) and says why\n"
    "whatever was not found was not. The OIDs come from VRUnPQ.xml beside the\n"
    "program.\n"
    "  --printer NAME     an installed printer: address and community from its port,\n"
    "                     community and time-out stored by an earlier run\n"
    "  --address HOST     the agent to ask (overrides the port's)\n"
    "  --community TEXT   the SNMP community (default: the port's, stored, qomtan)\n"
    "  --timeout SECONDS  1 to 99, per request; 3 retries follow (default: stored, 6)\n"
    "  --all              every local printer whose port gives an address\n"
    "  --driver NAME      with --all: only printers of this driver (required with\n"
    "                     --write: our values never go into other drivers' queues)\n"
    "  --jobs N           with --all: printers asked at the same time, 1 to 64\n"
    "                     (default 4)\n"
    "  --write            when all four options were detected, store the values that\n"
    "                     differ, as OK in the dialog would, and read them back; the\n"
    "                     community and time-out only when given. Otherwise nothing\n"
    "                     is written, and the report says what would change\n"
    "  --accept-no-options with --printer NAME --write: store empty lists although\n"
    "                     the printer has nothing under any OID of the map and its\n"
    "                     stored lists name parts (else kept: another model's map?)\n"
    "  --json             one JSON document instead of the table\n"
    "  --output FILE      the report into FILE, whole or not at all\n"
    "  --log FILE         append one line per printer to FILE (time, computer,\n"
    "                     printer, outcome, what changed)\n"
    "  --event-log        report to the Application log (source VRAutoDetect): the\n"
    "                     run's outcome, and each printer failed, kept or changed\n"
    "  --v2c              ask over SNMPv2c with the community, many objects per\n"
    "                     request (GetBulk): for printers far away, or with SNMPv1\n"
    "                     switched off. SNMPv3 always asks so. The dialog speaks SNMPv1\n"
    "  --v3-user NAME     ask over SNMPv3 as this user (USM); alone: noAuthNoPriv\n"
    "  --v3-auth PROTOCOL authentication MD5, SHA or SHA256: authNoPriv\n"
    "  --v3-priv AES|none privacy AES-128 (needs --v3-auth): authPriv\n"
    "  --v3-secrets FILE  the passwords from FILE: lines auth=PASSWORD, priv=PASSWORD\n"
    "  --v3-engines FILE  the printers' known SNMPv3 engines: a printer presenting\n"
    "                     another engine than its line's is refused; a new one is\n"
    "                     added on its first authentic answer\n"
    "SNMPv3 passwords (8 to 128 characters) come from the environment variables\n"
    "VR_SNMP_AUTH_PASSWORD and VR_SNMP_PRIV_PASSWORD, or from the --v3-secrets file,\n"
    "whose passwords win over the variables; never from the command line, and they\n"
    "are never shown or stored. --community is refused with --v3-user (SNMPv3 sends\n"
    "no community); --write then keeps the stored community as it is.\n"
    "Exit code: 0 every printer asked was detected (and, with --write, stored or\n"
    "unchanged); 1 at least one was not detected or not stored (or every printer was\n"
    "skipped); 2 usage error; 3 nothing was asked: no printer matched --driver or\n"
    "--printer, the query map is missing, the spooler cannot be reached, or the\n"
    "--output or --log folder does not exist.\n";

void WriteUsage(FILE *stream)
{
    fputs(USAGE, stream);
}

static int SetError(char *error, size_t errorSize, const char *format, const char *name)
{
    FormatText(error, errorSize, format, name);
    return 0;
}

// Digits only, first..last.
static int ParseNumber(const char *text, int maxDigits, int first, int last, int *number)
{
    int value = 0;
    int digits = 0;
    for (; text[digits] != '\0'; digits++) {
        if (text[digits] < '0' || text[digits] > '9' || digits >= maxDigits)
            return 0;
        value = value * 10 + (text[digits] - '0');
    }
    if (digits == 0 || value < first || value > last)
        return 0;
    *number = value;
    return 1;
}

// A printer's or driver's name as the spooler counts it: UTF-16 units.
static int IsName(const char *value)
{
    int units = Utf16Length(value);
    return units > 0 && units < PRINTER_NAME_SIZE && strlen(value) < CONSOLE_NAME_SIZE;
}

// The address and community reach the engine, and the printer's values, in
// the ANSI code page, as the dialog's fields give them.
static int FitsAnsi(const char *value, size_t most)
{
    char ansi[LONG_TEXT_SIZE];
    return Utf8ToAnsi(value, ansi, COUNTOF(ansi)) && strlen(ansi) <= most;
}

static int TakeValue(const OptionRow *row, const char *value, ConsoleOptions *options,
                     char *error, size_t errorSize)
{
    int number = 0;
    switch (row->id) {
    case OPT_PRINTER:
        if (!IsName(value))
            return SetError(error, errorSize, "%s: a printer name of 1 to 254 characters",
                            row->name);
        CopyText(options->printer, COUNTOF(options->printer), value);
        options->mode = options->mode == MODE_ALL ? -1 : MODE_PRINTER;
        return 1;
    case OPT_ADDRESS:
        if (value[0] == '\0' || !FitsAnsi(value, ADDRESS_MAX))
            return SetError(error, errorSize, "%s: an address of 1 to 62 characters of the "
                            "system's code page", row->name);
        CopyText(options->address, COUNTOF(options->address), value);
        options->hasAddress = 1;
        return 1;
    case OPT_COMMUNITY:
        if (!FitsAnsi(value, COMMUNITY_MAX))
            return SetError(error, errorSize, "%s: a community of at most 62 characters of the "
                            "system's code page", row->name);
        CopyText(options->community, COUNTOF(options->community), value);
        options->hasCommunity = 1;
        return 1;
    case OPT_TIMEOUT:
        if (!ParseNumber(value, TIMEOUT_MAX_DIGITS, 1, 99, &number))
            return SetError(error, errorSize, "%s: a number of seconds from 1 to 99", row->name);
        CopyText(options->timeoutText, COUNTOF(options->timeoutText), value);
        options->hasTimeout = 1;
        return 1;
    case OPT_DRIVER:
        if (!IsName(value))
            return SetError(error, errorSize, "%s: a driver name of 1 to 254 characters",
                            row->name);
        CopyText(options->driver, COUNTOF(options->driver), value);
        options->hasDriver = 1;
        return 1;
    case OPT_JOBS:
        if (!ParseNumber(value, 2, 1, MAX_JOBS, &options->jobs))
            return SetError(error, errorSize, "%s: a number from 1 to 64", row->name);
        options->hasJobs = 1;
        return 1;
    case OPT_OUTPUT:
    case OPT_LOG:
        if (value[0] == '\0' || strlen(value) >= sizeof(options->output))
            return SetError(error, errorSize, "%s: a file name of 1 to 259 characters",
                            row->name);
        if (row->id == OPT_OUTPUT) {
            CopyText(options->output, COUNTOF(options->output), value);
            options->hasOutput = 1;
        } else {
            CopyText(options->log, COUNTOF(options->log), value);
            options->hasLog = 1;
        }
        return 1;
    case OPT_V3_USER:
        if (value[0] == '\0' || strlen(value) > VR_SNMP_MAX_USER)
            return SetError(error, errorSize, "%s: a user name of 1 to 32 characters", row->name);
        CopyText(options->v3User, COUNTOF(options->v3User), value);
        options->hasV3User = 1;
        return 1;
    case OPT_V3_AUTH:
        if (!ParseAuthProtocol(value, &options->v3Auth))
            return SetError(error, errorSize, "%s: MD5, SHA or SHA256", row->name);
        options->hasV3Auth = 1;
        return 1;
    case OPT_V3_PRIV:
        if (!ParsePrivProtocol(value, &options->v3Priv))
            return SetError(error, errorSize, "%s: AES or none", row->name);
        options->hasV3Priv = 1;
        return 1;
    case OPT_V3_ENGINES:
        // Room for the name of the copy written beside it.
        if (value[0] == '\0' || Utf16Length(value) >= PATH_TEXT_SIZE - 16 ||
            strlen(value) >= sizeof(options->v3Engines))
            return SetError(error, errorSize, "%s: a file name of 1 to 243 characters",
                            row->name);
        CopyText(options->v3Engines, COUNTOF(options->v3Engines), value);
        options->hasV3Engines = 1;
        return 1;
    case OPT_V3_SECRETS:
        if (value[0] == '\0' || Utf16Length(value) >= PATH_TEXT_SIZE ||
            strlen(value) >= sizeof(options->v3Secrets))
            return SetError(error, errorSize, "%s: a file name of 1 to 259 characters",
                            row->name);
        CopyText(options->v3Secrets, COUNTOF(options->v3Secrets), value);
        options->hasV3Secrets = 1;
        return 1;
    default:
        return 0;
    }
}

static void TakeFlag(const OptionRow *row, ConsoleOptions *options)
{
    switch (row->id) {
    case OPT_ALL:
        options->mode = options->mode == MODE_PRINTER ? -1 : MODE_ALL;
        break;
    case OPT_WRITE:
        options->write = 1;
        break;
    case OPT_ACCEPT_NO_OPTIONS:
        options->acceptNoOptions = 1;
        break;
    case OPT_JSON:
        options->json = 1;
        break;
    case OPT_HELP:
        options->help = 1;
        break;
    case OPT_VERSION:
        options->version = 1;
        break;
    case OPT_CHILD:
        options->child = 1;
        break;
    case OPT_EVENT_LOG:
        options->eventLog = 1;
        break;
    case OPT_V2C:
        options->v2c = 1;
        break;
    default:
        break;
    }
}

// The security level follows from what is given: each step needs the one
// before it.
static int CheckV3Combination(const ConsoleOptions *options, char *error, size_t errorSize)
{
    if (!options->hasV3User && (options->hasV3Auth || options->hasV3Priv || options->hasV3Secrets ||
                                options->hasV3Engines))
        return SetError(error, errorSize, "%s: the SNMPv3 options need --v3-user", "--v3-user");
    if (options->v3Priv != VR_SNMP_PRIV_NONE && !options->hasV3Auth)
        return SetError(error, errorSize, "%s: privacy needs authentication (--v3-auth)",
                        "--v3-priv");
    if (options->hasV3User && options->v2c)
        return SetError(error, errorSize, "%s: not with --v3-user (give one version)", "--v2c");
    if (options->hasV3User && options->hasCommunity)
        return SetError(error, errorSize, "%s: not with --v3-user (SNMPv3 sends no community)",
                        "--community");
    return 1;
}

// The combinations that make sense, once every option is read.
static int CheckCombination(ConsoleOptions *options, char *error, size_t errorSize)
{
    if (options->mode == -1)
        return SetError(error, errorSize, "%s: not with --printer (give one of the two)", "--all");
    // A worker of --all is handed each printer's name on its standard input.
    if (options->mode == MODE_NONE && options->child && !options->hasAddress)
        options->mode = MODE_PRINTER;
    if (options->mode == MODE_NONE && options->hasAddress)
        options->mode = MODE_ADDRESS;
    if (options->mode == MODE_NONE)
        return SetError(error, errorSize, "%s",
                        "nothing to ask: give --printer, --address or --all");
    if (options->mode == MODE_ALL && options->hasAddress)
        return SetError(error, errorSize, "%s: not with --all (each printer has its own)",
                        "--address");
    if (options->mode != MODE_ALL && options->hasDriver)
        return SetError(error, errorSize, "%s: only with --all", "--driver");
    if (options->mode != MODE_ALL && options->hasJobs)
        return SetError(error, errorSize, "%s: only with --all", "--jobs");
    if (options->mode == MODE_ALL && options->write && !options->hasDriver)
        return SetError(error, errorSize, "%s: with --all only with --driver NAME (it would "
                        "write into other drivers' queues)", "--write");
    if (options->mode == MODE_ADDRESS && options->write)
        return SetError(error, errorSize, "%s: needs a printer to store into (--printer or --all)",
                        "--write");
    // Empty lists over stored ones are taken for one printer, named, at a time.
    if (options->acceptNoOptions && (options->mode != MODE_PRINTER || !options->write))
        return SetError(error, errorSize, "%s: only with --printer NAME --write",
                        "--accept-no-options");
    return CheckV3Combination(options, error, errorSize);
}

// What is no option is told without its text: it may be a password typed
// in the wrong place. An option-like name (--letters, digits, dashes) is
// shown; anything else by its place, after the option before it.
static int StrayArgument(char **argv, int i, char *error, size_t errorSize)
{
    const char *text = argv[i];
    size_t length = strlen(text);
    int named = length > 2 && length <= 32 && text[0] == '-' && text[1] == '-';
    for (size_t c = 2; named && c < length; c++) {
        char ch = text[c];
        named = (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-';
    }
    if (named)
        return SetError(error, errorSize, "unknown option %s", text);
    const char *before = NULL;
    for (int j = i - 1; j >= 1 && before == NULL; j--) {
        for (size_t r = 0; r < COUNTOF(OPTION_TABLE); r++) {
            if (strcmp(argv[j], OPTION_TABLE[r].name) == 0)
                before = OPTION_TABLE[r].name;
        }
    }
    if (before == NULL)
        FormatText(error, errorSize, "argument %d is no option (its text is not shown)", i);
    else
        FormatText(error, errorSize, "argument %d, after %s, is no option (its text is not shown; "
                   "a value with blanks needs quotes)", i, before);
    return 0;
}

int ParseConsoleOptions(int argc, char **argv, ConsoleOptions *options, char *error,
                        size_t errorSize)
{
    unsigned int seen = 0;
    memset(options, 0, sizeof(*options));
    options->jobs = DEFAULT_JOBS;
    error[0] = '\0';

    for (int i = 1; i < argc; i++) {
        const OptionRow *row = NULL;
        for (size_t r = 0; r < COUNTOF(OPTION_TABLE); r++) {
            if (strcmp(argv[i], OPTION_TABLE[r].name) == 0)
                row = &OPTION_TABLE[r];
        }
        if (row == NULL)
            return StrayArgument(argv, i, error, errorSize);
        if (seen & (1u << row->id))
            return SetError(error, errorSize, "%s given twice", row->name);
        seen |= 1u << row->id;
        if (!row->takesValue) {
            TakeFlag(row, options);
            continue;
        }
        if (i + 1 >= argc)
            return SetError(error, errorSize, "%s needs a value", row->name);
        if (!TakeValue(row, argv[++i], options, error, errorSize))
            return 0;
    }
    if (options->help || options->version)
        return 1;
    return CheckCombination(options, error, errorSize);
}
