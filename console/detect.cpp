// One printer's (or one address's) detection, told walk by walk: sysDescr.0
// first, so that "answers, but has none of these options" differs from
// "nothing answers", then the four options, each with the messages the
// engine, the query map and the configurators gave while it ran.
#include "console/console.h"
#include "common/report.h"
#include "common/text.h"
#include "printer/spooler.h"
#include "snmp/snmp_engine.h"

#include <string.h>

static const char SYSTEM_DESCRIPTION_OID[] = "1.3.6.1.2.1.1.1";

// The walk whose messages are being collected; NULL between walks.
static WalkReport *s_collecting;
// When the chain's current configurator started.
static ULONGLONG s_optionStarted;

// Keeps a message as a diagnostic of the walk that runs, instead of a box.
static void CollectDiagnostic(int kind, HWND owner, const char *text, const char *caption,
                              UINT style)
{
    WalkReport *walk = s_collecting;
    if (walk == NULL)
        return;
    if (walk->diagnosticCount < DIAGNOSTIC_SLOTS)
        FormatText(walk->diagnostics[walk->diagnosticCount], DIAGNOSTIC_SIZE, "%s: %s", caption,
                   text);
    walk->diagnosticCount++;
}

void InstallDiagnosticReporter(void)
{
    SetMessageReporter(CollectDiagnostic);
}

int WalkSucceeded(int outcome)
{
    return outcome == OUTCOME_DETECTED || outcome == OUTCOME_EMPTY;
}

// An SNMPv3 request ends as a time-out when the agent refuses it; the
// transport knows why.
static int V3Outcome(int failure)
{
    switch (failure) {
    case VR_SNMP_V3_UNKNOWN_USER: return OUTCOME_V3_UNKNOWN_USER;
    case VR_SNMP_V3_AUTHENTICATION_FAILED: return OUTCOME_V3_AUTHENTICATION_FAILED;
    case VR_SNMP_V3_PRIVACY_REQUIRED: return OUTCOME_V3_PRIVACY_REQUIRED;
    case VR_SNMP_V3_LEVEL_UNSUPPORTED: return OUTCOME_V3_LEVEL_UNSUPPORTED;
    case VR_SNMP_V3_DECRYPTION_FAILED: return OUTCOME_V3_DECRYPTION_FAILED;
    case VR_SNMP_V3_NOT_IN_TIME_WINDOW: return OUTCOME_V3_NOT_IN_TIME_WINDOW;
    case VR_SNMP_V3_UNKNOWN_ENGINE: return OUTCOME_V3_UNKNOWN_ENGINE;
    case VR_SNMP_V3_OTHER_REPORT: return OUTCOME_V3_OTHER_REPORT;
    default: return OUTCOME_NO_ANSWER;
    }
}

// The outcome of the walk that just ended (0: it came to its end), from the
// engine's summary and the value table.
static void RecordWalk(WalkReport *walk, int ended)
{
    walk->exchanges = g_lastWalk.exchanges;
    walk->errorStatus = g_lastWalk.errorStatus;
    walk->valueCount = 0;
    for (int slot = 0; slot < SNMP_VALUE_SLOTS && g_snmpValues[slot][0] != '\0'; slot++) {
        CopyText(walk->values[slot], SNMP_VALUE_SIZE, g_snmpValues[slot]);
        walk->valueCount++;
    }
    if (ended) {
        // The first answer already outside the sub-tree (or noSuchName):
        // nothing there.
        walk->outcome = g_lastWalk.exchanges <= 1 ? OUTCOME_EMPTY : OUTCOME_DETECTED;
        return;
    }
    switch (g_lastWalk.ending) {
    case WALK_NO_ANSWER:
        walk->outcome = g_snmpSecurity.version == 3 ? V3Outcome(VrSnmpGetV3Failure(NULL))
                                                    : OUTCOME_NO_ANSWER;
        break;
    case WALK_REFUSED: walk->outcome = OUTCOME_REFUSED; break;
    case WALK_NOT_ADVANCING: walk->outcome = OUTCOME_NOT_ADVANCING; break;
    case WALK_TOO_LONG: walk->outcome = OUTCOME_TOO_LONG; break;
    case WALK_OID_INVALID: walk->outcome = OUTCOME_OID_INVALID; break;
    case WALK_NOT_STARTED: walk->outcome = OUTCOME_NOT_STARTED; break;
    case WALK_REQUEST_FAILED: walk->outcome = OUTCOME_REQUEST_FAILED; break;
    default: walk->outcome = OUTCOME_NO_ANSWER; break;
    }
}

static void RecordConfigurator(WalkReport *walk, int succeeded, const ConfiguratorResult *result)
{
    CopyText(walk->oidText, COUNTOF(walk->oidText), result->oidText);
    if (result->stage == STAGE_NO_MAP)
        walk->outcome = OUTCOME_NO_MAP;
    else if (result->stage == STAGE_NO_ENTRY)
        walk->outcome = OUTCOME_NO_ENTRY;
    else
        RecordWalk(walk, succeeded || result->stage == STAGE_NOT_STORED);
}

static void ObserveChain(int option, int succeeded, const ConfiguratorResult *result,
                         void *context)
{
    PrinterReport *report = (PrinterReport *)context;
    WalkReport *walk = &report->options[option];
    RecordConfigurator(walk, succeeded, result);
    // The walk found the values but the printer did not take them: the
    // options after it are not walked, and this is why.
    if (result->stage == STAGE_NOT_STORED)
        FormatText(report->reason, COUNTOF(report->reason), "%s: not stored (error %lu)",
                   g_featureOptions[option].optionName, (unsigned long)result->writeError);
    ULONGLONG now = GetTickCount64();
    walk->milliseconds = (DWORD)(now - s_optionStarted);
    s_optionStarted = now;
    s_collecting = option + 1 < FEATURE_OPTION_COUNT ? &report->options[option + 1] : NULL;
}

// sysDescr.0 through the same engine, as a walk of its sub-tree.
static void AskSystemDescription(PrinterReport *report)
{
    WalkReport *walk = &report->sysDescr;
    const QueryFields *fields = &report->fields;
    ULONGLONG started = GetTickCount64();
    CopyText(walk->oidText, COUNTOF(walk->oidText), SYSTEM_DESCRIPTION_OID);
    s_collecting = walk;
    int ended = QueryOidSubtree(fields->address, strlen(fields->address), fields->community,
                                strlen(fields->community), SYSTEM_DESCRIPTION_OID,
                                strlen(SYSTEM_DESCRIPTION_OID), fields->timeoutSeconds) == 0;
    s_collecting = NULL;
    RecordWalk(walk, ended);
    walk->milliseconds = (DWORD)(GetTickCount64() - started);
}

// Without --write: each option on its own, nothing stored. After a walk
// that got no answer the rest would only wait as long again: they are not
// walked.
static void DetectOptions(PrinterReport *report)
{
    int silent = 0;
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        WalkReport *walk = &report->options[option];
        ConfiguratorResult result;
        if (silent) {
            walk->outcome = OUTCOME_NOT_WALKED_SILENT;
            continue;
        }
        ULONGLONG started = GetTickCount64();
        s_collecting = walk;
        int succeeded = RunConfigurator(option, NULL, &report->fields, 0, &result);
        s_collecting = NULL;
        RecordConfigurator(walk, succeeded, &result);
        walk->milliseconds = (DWORD)(GetTickCount64() - started);
        silent = walk->outcome == OUTCOME_NO_ANSWER;
    }
}

// With --write: the dialog's own chain, so that what is stored is what OK
// stores. The options after the first failure are not walked.
static void StoreOptions(PrinterReport *report)
{
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++)
        report->options[option].outcome = OUTCOME_NOT_WALKED_CHAIN;
    s_optionStarted = GetTickCount64();
    s_collecting = &report->options[0];
    report->chainOutcome = RunConfigurationChain(NULL, &report->fields, ObserveChain, report);
    s_collecting = NULL;
    report->written = 1;
}

static const char *PortOf(const char *portName)
{
    return portName != NULL ? portName : "";
}

// The printer's driver and port, and the settings the dialog would start
// with. 0 when the printer does not open (reason given).
static int ReadPrinterSettings(PrinterReport *report)
{
    HANDLE printer = NULL;
    if (!OpenPrinterForReading(&printer)) {
        FormatText(report->reason, COUNTOF(report->reason),
                   "the printer could not be opened (error %lu)", GetLastError());
        return 0;
    }
    PRINTER_INFO_2A *info = GetPrinterInfo2(printer);
    ClosePrinterHandle(printer);
    if (info != NULL) {
        CopyText(report->driver, COUNTOF(report->driver), PortOf(info->pDriverName));
        CopyText(report->port, COUNTOF(report->port), PortOf(info->pPortName));
        FreePrinterInfo(info);
    }
    char timeoutText[TIMEOUT_TEXT_SIZE];
    FillPortSettings(report->fields.address, report->fields.community, timeoutText,
                     &report->sources);
    CopyText(report->fields.timeoutText, COUNTOF(report->fields.timeoutText), timeoutText);
    return 1;
}

static void ApplyOverrides(const ConsoleOptions *options, PrinterReport *report)
{
    QueryFields *fields = &report->fields;
    if (options->hasAddress) {
        CopyText(fields->address, COUNTOF(fields->address), options->address);
        report->sources.address = SOURCE_COMMAND_LINE;
    }
    if (options->hasCommunity) {
        CopyText(fields->community, COUNTOF(fields->community), options->community);
        report->sources.community = SOURCE_COMMAND_LINE;
    }
    if (options->hasTimeout) {
        CopyText(fields->timeoutText, COUNTOF(fields->timeoutText), options->timeoutText);
        report->sources.timeout = SOURCE_COMMAND_LINE;
    }
    // As the dialog reads its field: the number in the first two characters.
    char typed[TIMEOUT_FIELD_SIZE];
    CopyText(typed, COUNTOF(typed), fields->timeoutText);
    fields->timeoutSeconds = ConvertTimeoutText(typed);
}

static void DecideStatus(PrinterReport *report)
{
    report->status = PRINTER_DETECTED;
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        const WalkReport *walk = &report->options[option];
        if (WalkSucceeded(walk->outcome))
            continue;
        report->status = PRINTER_FAILED;
        if (walk->outcome != OUTCOME_NOT_WALKED_CHAIN &&
            walk->outcome != OUTCOME_NOT_WALKED_SILENT) {
            FormatText(report->reason, COUNTOF(report->reason), "%s: %s",
                       g_featureOptions[option].optionName, OutcomeToken(walk->outcome));
            return;
        }
    }
    // Every walk came to its end, yet the chain failed: a value was not
    // stored (the reason was set as it happened).
    if (report->written && !report->chainOutcome)
        report->status = PRINTER_FAILED;
}

void DetectOne(const ConsoleOptions *options, PrinterReport *report)
{
    ULONGLONG started = GetTickCount64();
    memset(report, 0, sizeof(*report));
    report->size = sizeof(*report);
    report->writeAsked = options->write;
    report->status = PRINTER_FAILED;
    report->security.version = g_snmpSecurity.version;
    if (g_snmpSecurity.version == 3) {
        CopyText(report->security.user, COUNTOF(report->security.user),
                 g_snmpSecurity.v3.userName);
        report->security.authProtocol = g_snmpSecurity.v3.authProtocol;
        report->security.privProtocol = g_snmpSecurity.v3.privProtocol;
    }

    if (options->mode == MODE_ADDRESS) {
        CopyText(report->fields.community, COUNTOF(report->fields.community),
                 DEFAULT_COMMUNITY_TEXT);
        CopyText(report->fields.timeoutText, COUNTOF(report->fields.timeoutText),
                 DEFAULT_TIMEOUT_TEXT);
    } else {
        report->hasPrinter = 1;
        CopyText(report->printer, COUNTOF(report->printer), options->printer);
        CopyText(g_printerName, COUNTOF(g_printerName), options->printer);
        if (!ReadPrinterSettings(report))
            goto done;
    }
    ApplyOverrides(options, report);

    // No source named an address: the dialog would show its placeholder,
    // which nothing answers.
    if (report->fields.address[0] == '\0' || report->sources.address == SOURCE_DEFAULT) {
        report->status = PRINTER_SKIPPED;
        if (report->sources.address == SOURCE_DEFAULT)
            FormatText(report->reason, COUNTOF(report->reason),
                       "no address: neither a cluster's keys nor a port monitor know port \"%s\"",
                       report->port);
        else
            FormatText(report->reason, COUNTOF(report->reason),
                       "no address: the %s gives an empty one for port \"%s\"",
                       report->sources.address == SOURCE_CLUSTER ? "cluster's keys"
                                                                 : "port monitor",
                       report->port);
        goto done;
    }

    report->asked = 1;
    AskSystemDescription(report);
    if (options->write)
        StoreOptions(report);
    else
        DetectOptions(report);
    DecideStatus(report);
done:
    report->milliseconds = (DWORD)(GetTickCount64() - started);
}
