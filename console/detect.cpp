// One printer's (or one address's) detection, told walk by walk: sysDescr.0
// first, so that "answers, but has none of these options" differs from
// "nothing answers", then the four options, each with the messages the
// engine, the query map and the configurators gave while it ran.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "console/console.h"
#include "common/report.h"
#include "common/text.h"
#include "features/query_map.h"
#include "printer/printer_data.h"
#include "printer/spooler.h"
#include "snmp/snmp_engine.h"

#include <string.h>

static const char SYSTEM_DESCRIPTION_OID[] = "1.3.6.1.2.1.1.1";

// The walk whose messages are being collected; NULL between walks.
static WalkReport *s_collecting;
// Told when the agent is about to be asked (a worker of --all tells its
// parent the time-out); NULL: nobody.
static AskingObserver s_askingObserver;
// Judges the SNMPv3 engine confirmed for the printer; NULL: nobody (the
// engine is shown, not bound).
static EngineJudge s_engineJudge;

// Keeps a message as a diagnostic of the walk that runs, instead of a box.
static void CollectDiagnostic(int kind, HWND owner, const char *text, const char *caption,
                              UINT style)
{
    WalkReport *walk = s_collecting;
    char ansi[DIAGNOSTIC_SIZE];
    if (walk == NULL)
        return;
    // The engine speaks the ANSI code page; the report UTF-8.
    if (walk->diagnosticCount < DIAGNOSTIC_SLOTS) {
        FormatText(ansi, COUNTOF(ansi), "%s: %s", caption, text);
        AnsiToUtf8(ansi, walk->diagnostics[walk->diagnosticCount], DIAGNOSTIC_SIZE);
    }
    walk->diagnosticCount++;
}

void InstallDiagnosticReporter(void)
{
    SetMessageReporter(CollectDiagnostic);
}

void SetAskingObserver(AskingObserver observer)
{
    s_askingObserver = observer;
}

void SetEngineJudge(EngineJudge judge)
{
    s_engineJudge = judge;
}

void ResetDetection(void)
{
    s_collecting = NULL;
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
    case VR_SNMP_V3_NO_RANDOM: return OUTCOME_V3_NO_RANDOM;
    case VR_SNMP_V3_CRYPTO_FAILED: return OUTCOME_V3_CRYPTO_FAILED;
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
        AnsiToUtf8(g_snmpValues[slot], walk->values[slot], WALK_VALUE_SIZE);
        walk->valueCount++;
    }
    if (ended) {
        // Not one object inside the sub-tree: nothing there. (A GetBulk
        // exchange may bring the whole sub-tree and what follows it.)
        walk->outcome = g_lastWalk.objects == 0 ? OUTCOME_EMPTY : OUTCOME_DETECTED;
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
    case WALK_REQUEST_FAILED:
        // SNMPv3 says when its keys, cipher or random numbers were the cause.
        walk->outcome = OUTCOME_REQUEST_FAILED;
        if (g_snmpSecurity.version == 3 && (VrSnmpGetV3Failure(NULL) == VR_SNMP_V3_NO_RANDOM ||
                                            VrSnmpGetV3Failure(NULL) == VR_SNMP_V3_CRYPTO_FAILED))
            walk->outcome = V3Outcome(VrSnmpGetV3Failure(NULL));
        break;
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

// The map's OID of an option that is not walked, so that the report still
// says what it would have asked.
static void TakeMapOid(int option, WalkReport *walk)
{
    char oid[SHORT_TEXT_SIZE];
    memset(oid, 0, sizeof(oid));
    if (LoadQueryMap()) {
        if (LookupOptionOid(g_featureOptions[option].optionName, oid))
            CopyText(walk->oidText, COUNTOF(walk->oidText), oid);
        ReleaseQueryMap();
    }
}

// Each option on its own, nothing stored (with --write too: nothing is
// written before all four are known). After a walk that got no answer the
// rest would only wait as long again: they are not walked; any other
// failure leaves the later options to be walked.
static void DetectOptions(PrinterReport *report)
{
    int silent = 0;
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        WalkReport *walk = &report->options[option];
        ConfiguratorResult result;
        if (silent) {
            walk->outcome = OUTCOME_NOT_WALKED_SILENT;
            TakeMapOid(option, walk);
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

static const WCHAR *PortOf(const WCHAR *portName)
{
    return portName != NULL ? portName : L"";
}

// The printer's driver and port, and the settings the dialog would start
// with. 0 when the printer does not open (reason given).
static int ReadPrinterSettings(PrinterReport *report)
{
    HANDLE printer = NULL;
    if (!OpenPrinterForReading(&printer)) {
        DWORD error = GetLastError();
        report->noSuchPrinter = error == ERROR_INVALID_PRINTER_NAME;
        if (report->noSuchPrinter)
            FormatText(report->reason, COUNTOF(report->reason),
                       "no printer named \"%s\" on this computer", report->printer);
        else
            FormatText(report->reason, COUNTOF(report->reason),
                       "the printer could not be opened (error %lu)", error);
        return 0;
    }
    PRINTER_INFO_2W *info = GetPrinterInfo2W(printer);
    ClosePrinterHandle(printer);
    if (info != NULL) {
        WideToUtf8(PortOf(info->pDriverName), report->driver, COUNTOF(report->driver));
        WideToUtf8(PortOf(info->pPortName), report->port, COUNTOF(report->port));
        FreePrinterInfoW(info);
    }
    char timeoutText[TIMEOUT_TEXT_SIZE];
    FillPortSettings(report->fields.address, report->fields.community, timeoutText,
                     &report->sources);
    CopyText(report->fields.timeoutText, COUNTOF(report->fields.timeoutText), timeoutText);
    return 1;
}

// 1 for a port that leads to no network address: a parallel, serial, USB
// or file port, however a monitor answers for it.
static int IsLocalPort(const char *port)
{
    static const char *const WHOLE[] = {"FILE:", "PORTPROMPT:", "XPSPORT:", "NUL:", "NUL"};
    // LPT1:, COM3, USB001, DOT4_001, TS001: a prefix and a number.
    static const char *const NUMBERED[] = {"LPT", "COM", "USB", "DOT4_", "TS"};
    for (size_t i = 0; i < COUNTOF(WHOLE); i++) {
        if (_stricmp(port, WHOLE[i]) == 0)
            return 1;
    }
    for (size_t i = 0; i < COUNTOF(NUMBERED); i++) {
        size_t length = strlen(NUMBERED[i]);
        const char *rest = port + length;
        if (_strnicmp(port, NUMBERED[i], length) != 0 || *rest < '0' || *rest > '9')
            continue;
        while (*rest >= '0' && *rest <= '9')
            rest++;
        return *rest == '\0' || (*rest == ':' && rest[1] == '\0');
    }
    return 0;
}

static void ApplyOverrides(const ConsoleOptions *options, PrinterReport *report)
{
    QueryFields *fields = &report->fields;
    // The options checked that these fit the ANSI code page.
    if (options->hasAddress) {
        Utf8ToAnsi(options->address, fields->address, COUNTOF(fields->address));
        report->sources.address = SOURCE_COMMAND_LINE;
    }
    if (options->hasCommunity) {
        Utf8ToAnsi(options->community, fields->community, COUNTOF(fields->community));
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

// Nothing answered at all: the printer, not one of its options, is the
// matter.
static int NothingAnswered(const PrinterReport *report)
{
    if (report->sysDescr.outcome != OUTCOME_NO_ANSWER)
        return 0;
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        int outcome = report->options[option].outcome;
        if (outcome != OUTCOME_NO_ANSWER && outcome != OUTCOME_NOT_WALKED_SILENT)
            return 0;
    }
    return 1;
}

static void DecideStatus(PrinterReport *report)
{
    report->status = PRINTER_DETECTED;
    if (NothingAnswered(report)) {
        report->status = PRINTER_FAILED;
        CopyText(report->reason, COUNTOF(report->reason),
                 report->security.version == 3
                     ? "the printer did not answer: off, wrong address, SNMP switched off or UDP "
                       "port 161 filtered, SNMPv3 not enabled, or a wrong privacy password"
                 : report->security.version == 2
                     ? "the printer did not answer over SNMPv2c: it may speak SNMPv1 only or "
                       "have SNMPv2c switched off (run again without --v2c), or it is off, at "
                       "a wrong address, UDP port 161 filtered, or the community not accepted"
                     : "the printer did not answer: off, wrong address, SNMP switched off or UDP "
                       "port 161 filtered, or a community it does not accept");
        return;
    }
    int empty = 0;
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        const WalkReport *walk = &report->options[option];
        empty += walk->outcome == OUTCOME_EMPTY;
        if (WalkSucceeded(walk->outcome) || report->status == PRINTER_FAILED)
            continue;
        report->status = PRINTER_FAILED;
        if (walk->outcome != OUTCOME_NOT_WALKED_CHAIN &&
            walk->outcome != OUTCOME_NOT_WALKED_SILENT)
            FormatText(report->reason, COUNTOF(report->reason), "%s: %s",
                       g_featureOptions[option].optionName, OutcomeToken(walk->outcome));
    }
    report->noOptionAnywhere = empty == FEATURE_OPTION_COUNT;
}

// The system's words for an error, and its number.
static void DescribeWriteError(DWORD error, char *text, size_t textSize);

// The address a host name stands for, so that a name that now resolves
// elsewhere is seen; left empty for a numeric address. 0 when the name does
// not resolve: that is the printer's one reason, and no walk could start.
static int ResolveAddress(PrinterReport *report)
{
    WSADATA wsa;
    ADDRINFOA hints, *found = NULL;
    char numeric[NI_MAXHOST], system[LONG_TEXT_SIZE], shown[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
    const char *address = report->fields.address;
    int resolved = 1;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;                       // the walk says why it cannot start
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    if (getaddrinfo(address, NULL, &hints, &found) == 0) {
        freeaddrinfo(found);            // already an address
    } else {
        hints.ai_flags = 0;
        hints.ai_socktype = SOCK_DGRAM;
        found = NULL;
        int error = getaddrinfo(address, NULL, &hints, &found);
        if (error == 0 && found != NULL &&
            getnameinfo(found->ai_addr, (int)found->ai_addrlen, numeric, sizeof(numeric), NULL,
                        0, NI_NUMERICHOST) == 0)
            CopyText(report->resolved, COUNTOF(report->resolved), numeric);
        if (error != 0) {
            resolved = 0;
            DescribeWriteError((DWORD)error, system, COUNTOF(system));
            AnsiToUtf8(address, shown, COUNTOF(shown));
            FormatText(report->reason, COUNTOF(report->reason),
                       "the host name \"%s\" does not resolve: %s; nothing was asked", shown,
                       system);
        }
        if (found != NULL)
            freeaddrinfo(found);
    }
    WSACleanup();
    return resolved;
}

// ---- the seven values: what is stored, what this run would store ----------

static void SetText(RawValue *value, const char *text)
{
    memset(value, 0, sizeof(*value));
    value->present = 1;
    value->type = REG_SZ;
    // As the dialog stores a setting: its bytes, no NUL.
    value->byteCount = (DWORD)CopyText((char *)value->bytes, sizeof(value->bytes), text);
}

static void SetFlag(RawValue *value, BYTE flag)
{
    memset(value, 0, sizeof(*value));
    value->present = 1;
    value->type = REG_BINARY;
    value->bytes[0] = flag;
    value->byteCount = 1;
}

// The bytes OK would store for each value that this run has found or been
// given; 1 when all four options were detected.
static int BuildDetectedValues(const ConsoleOptions *options, PrinterReport *report)
{
    int all = 1;
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        const WalkReport *walk = &report->options[option];
        RawValue *value = &report->detected[option];
        if (!WalkSucceeded(walk->outcome)) {
            all = 0;
            continue;
        }
        // The dialog's own list builder, from the walk's values.
        memset(g_snmpValues, 0, sizeof(g_snmpValues));
        for (int slot = 0; slot < walk->valueCount; slot++)
            CopyText(g_snmpValues[slot], SNMP_VALUE_SIZE, walk->values[slot]);
        value->present = 1;
        value->type = REG_MULTI_SZ;
        value->byteCount = BuildValueList((char *)value->bytes, sizeof(value->bytes));
    }
    memset(g_snmpValues, 0, sizeof(g_snmpValues));
    if (all)
        SetFlag(&report->detected[VALUE_SUCCESS], 1);
    // Stored settings are taken over only when asked for: a port's
    // community copied into every queue would hide the port's later changes.
    if (options->hasCommunity && report->security.version != 3)
        SetText(&report->detected[VALUE_COMMUNITY], report->fields.community);
    if (options->hasTimeout)
        SetText(&report->detected[VALUE_TIMEOUT], report->fields.timeoutText);
    return all;
}

static void CompareValues(PrinterReport *report, int all)
{
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        if (!report->detected[i].present)
            report->changes[i] = i >= VALUE_COMMUNITY ? CHANGE_NOT_GIVEN : CHANGE_KEPT;
        else if (!all)
            report->changes[i] = CHANGE_KEPT;
        else if (SameStoredContent(&report->stored[i], &report->detected[i]))
            report->changes[i] = CHANGE_UNCHANGED;
        else
            report->changes[i] = report->writeAsked ? CHANGE_CHANGED : CHANGE_WOULD_CHANGE;
    }
}

// The system's words for an error, and its number.
static void DescribeWriteError(DWORD error, char *text, size_t textSize)
{
    char message[LONG_TEXT_SIZE];
    size_t length = DescribeSystemError(error, message, COUNTOF(message));
    // Within a sentence of the report: without its own full stop.
    while (length > 0 && message[length - 1] == '.')
        message[--length] = '\0';
    FormatText(text, textSize, "%s (error %lu)", length > 0 ? message : "system error",
               (unsigned long)error);
}

static const char *WhatToDo(DWORD error)
{
    return error == ERROR_ACCESS_DENIED
               ? "run it from an elevated prompt, or as an account that may manage this printer"
               : "check that the print spooler runs and the printer still exists, then run "
                 "again";
}

// Writes what differs, in OK's order and bytes: the success flag's 0 first,
// the lists that changed, the flag's 1, then the settings given; then reads
// every value back. Any failure makes the printer failed, in words.
static void StoreChanges(PrinterReport *report)
{
    // The flag's 0 outlives this function in the write list.
    static RawValue cleared;
    ValueWrite writes[STORED_VALUE_COUNT + 1];
    RawValue after[STORED_VALUE_COUNT];
    char system[LONG_TEXT_SIZE];
    int count = 0, step = 0, failedValue = -1, differs = -1;
    DWORD error = 0, readError = 0;

    SetFlag(&cleared, 0);
    writes[count++] = {VALUE_SUCCESS, &cleared};
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        if (i == VALUE_SUCCESS || report->changes[i] == CHANGE_CHANGED)
            writes[count++] = {i, &report->detected[i]};
    }
    int wrote = WriteStoredValues(writes, count, &step, &failedValue, &error);
    // Whatever happened, what the printer now holds is what counts.
    int readBack = ReadStoredValues(after, &readError);
    for (int i = 0; i < STORED_VALUE_COUNT; i++) {
        if (i != VALUE_SUCCESS && report->changes[i] != CHANGE_CHANGED)
            continue;
        if (!readBack || !SameStoredContent(&after[i], &report->detected[i])) {
            report->changes[i] = CHANGE_NOT_STORED;
            if (differs < 0)
                differs = i;
        }
    }
    if (!wrote) {
        DescribeWriteError(error, system, COUNTOF(system));
        if (step == WRITE_STEP_OPEN)
            FormatText(report->reason, COUNTOF(report->reason),
                       "\"%s\" could not be opened for writing: %s; every value kept; %s",
                       report->printer, system, WhatToDo(error));
        else
            FormatText(report->reason, COUNTOF(report->reason),
                       "\"%s\": %s could not be written: %s; %s", report->printer,
                       g_storedValueNames[failedValue], system, WhatToDo(error));
    } else if (!readBack) {
        DescribeWriteError(readError, system, COUNTOF(system));
        FormatText(report->reason, COUNTOF(report->reason),
                   "\"%s\": the values written could not be read back: %s; %s",
                   report->printer, system, WhatToDo(readError));
    } else if (differs >= 0) {
        FormatText(report->reason, COUNTOF(report->reason),
                   "\"%s\": %s reads back other bytes than were written: another program "
                   "may have written it at the same time; run again and check the value",
                   report->printer, g_storedValueNames[differs]);
    } else {
        report->written = 1;
        report->storeOutcome = STORE_WRITTEN;
        return;
    }
    report->status = PRINTER_FAILED;
    report->storeOutcome = STORE_FAILED;
}

// 1 when a stored option list names at least one part.
static int HoldsStoredOption(const PrinterReport *report)
{
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        const RawValue *value = &report->stored[option];
        if (value->present && value->byteCount > 0 && value->bytes[0] != '\0')
            return 1;
    }
    return 0;
}

// A printer that answers but has nothing under any option's OID, while its
// stored lists name parts, was most likely asked with another model's map:
// emptying its lists would be the wrong answer stored, so it is kept unless
// the administrator said for this one printer that it really lost them.
static void KeepAgainstOtherMap(const ConsoleOptions *options, PrinterReport *report)
{
    char map[CONSOLE_PATH_SIZE];
    if (!report->noOptionAnywhere || report->status != PRINTER_DETECTED ||
        !HoldsStoredOption(report) || options->acceptNoOptions)
        return;
    GetQueryMapPathUtf8(map, COUNTOF(map));
    report->status = PRINTER_FAILED;
    FormatText(report->reason, COUNTOF(report->reason),
               "the printer answers, but has nothing under any option's OID of the query map "
               "%s, while its stored options name parts: the map may be another model's; the "
               "stored values are kept (if this printer really lost every option: --printer "
               "NAME --write --accept-no-options)", map);
}

// The stored values against what was detected; with --write, the
// differences stored when all four options were detected, else nothing.
static void SettleValues(const ConsoleOptions *options, PrinterReport *report)
{
    KeepAgainstOtherMap(options, report);
    int all = BuildDetectedValues(options, report);
    // A printer failed already keeps everything: what it would store is shown.
    CompareValues(report, all && report->status == PRINTER_DETECTED);
    if (!options->write)
        return;
    if (report->status != PRINTER_DETECTED) {
        report->storeOutcome = STORE_KEPT;
        return;
    }
    int any = 0;
    for (int i = 0; i < STORED_VALUE_COUNT; i++)
        any |= report->changes[i] == CHANGE_CHANGED;
    if (!any) {
        report->storeOutcome = STORE_UNCHANGED;
        return;
    }
    StoreChanges(report);
}

// ---- the SNMPv3 engine bound to the printer --------------------------------

static int RefuseEngine(PrinterReport *report, const char *why)
{
    report->engineState = ENGINE_REFUSED;
    CopyText(report->reason, COUNTOF(report->reason), why);
    return 0;
}

// The engine that authentic answers confirmed, judged once: 1 when the
// printer may be walked on (or nothing authentic came, so nothing binds),
// 0 when refused (reason given). Asked after sysDescr.0, before any option
// is walked, and again after the options, for an engine that only they
// confirmed or that changed meanwhile.
static int CheckEngine(PrinterReport *report)
{
    char address[ENGINE_ADDRESS_SIZE], other[ENGINE_ADDRESS_SIZE], engine[ENGINE_HEX_SIZE];
    BYTE id[ENGINE_HEX_SIZE / 2], otherId[ENGINE_HEX_SIZE / 2];
    UINT length = 0, otherLength = 0;
    EngineVerdict verdict;
    if (report->security.version != 3)
        return 1;
    if (VrSnmpGetConfirmedEngine(0, address, COUNTOF(address), id, sizeof(id), &length) ==
        SNMPAPI_FAILURE)
        return report->engineState != ENGINE_REFUSED;
    FormatEngineId(id, length, engine, COUNTOF(engine));
    // One printer, one agent: the process asked no other.
    if (VrSnmpGetConfirmedEngine(1, other, COUNTOF(other), otherId, sizeof(otherId),
                                 &otherLength) == SNMPAPI_SUCCESS)
        return RefuseEngine(report, "authentic SNMPv3 answers came from more than one agent "
                                    "for this printer");
    if (report->engineState != ENGINE_NONE) {
        if (strcmp(report->engineId, engine) == 0 && strcmp(report->engineAddress, address) == 0)
            return report->engineState != ENGINE_REFUSED;
        return RefuseEngine(report, "the printer's SNMPv3 engine changed while it was asked");
    }
    CopyText(report->engineAddress, COUNTOF(report->engineAddress), address);
    CopyText(report->engineId, COUNTOF(report->engineId), engine);
    if (s_engineJudge == NULL) {
        report->engineState = ENGINE_NEW;
        return 1;
    }
    if (!s_engineJudge(address, engine, &verdict))
        return RefuseEngine(report, "the SNMPv3 engine could not be judged: the run that "
                                    "started this worker did not answer");
    CopyText(report->engineSince, COUNTOF(report->engineSince), verdict.since);
    if (verdict.state != ENGINE_REFUSED) {
        report->engineState = verdict.state == ENGINE_KNOWN ? ENGINE_KNOWN : ENGINE_NEW;
        return 1;
    }
    return RefuseEngine(report, verdict.reason);
}

// Nothing of a refused engine's answers is kept, shown or stored.
static void DropRefusedWalks(PrinterReport *report)
{
    report->status = PRINTER_FAILED;
    report->noOptionAnywhere = 0;
    report->sysDescr.valueCount = 0;
    report->sysDescr.outcome = OUTCOME_NOT_WALKED_ENGINE;
    memset(report->sysDescr.values, 0, sizeof(report->sysDescr.values));
    for (int option = 0; option < FEATURE_OPTION_COUNT; option++) {
        WalkReport *walk = &report->options[option];
        memset(walk, 0, sizeof(*walk));
        walk->outcome = OUTCOME_NOT_WALKED_ENGINE;
    }
}

void DetectOne(const ConsoleOptions *options, PrinterReport *report)
{
    ULONGLONG started = GetTickCount64();
    memset(report, 0, sizeof(*report));
    report->size = sizeof(*report);
    report->writeAsked = options->write;
    report->status = PRINTER_FAILED;
    // SNMPv2c and SNMPv3 walk with GetBulk: many objects per exchange, where
    // the dialog's GetNext asks one (a printer far away waits a round trip
    // for each).
    if (options->v2c)
        g_snmpSecurity.version = 2;
    g_subtreeWalk = g_snmpSecurity.version == 1 ? NULL : QueryOidSubtreeBulk;
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
        // Opened by its UTF-16 name; the ANSI one (empty when the code page
        // cannot hold it) for whatever still reads g_printerName.
        Utf8ToWide(options->printer, g_printerNameWide, COUNTOF(g_printerNameWide));
        Utf8ToAnsi(options->printer, g_printerName, COUNTOF(g_printerName));
        if (!ReadPrinterSettings(report))
            goto done;
        DWORD error = 0;
        report->haveStored = ReadStoredValues(report->stored, &error);
    }
    ApplyOverrides(options, report);

    // A local port has no address to ask, whatever a monitor makes of it;
    // --address still asks the agent it names.
    if (report->hasPrinter && !options->hasAddress && IsLocalPort(report->port)) {
        report->status = PRINTER_SKIPPED;
        report->localPort = 1;
        report->fields.address[0] = '\0';
        FormatText(report->reason, COUNTOF(report->reason),
                   "this printer's port has no network address (port \"%s\"): nothing was "
                   "asked", report->port);
        goto done;
    }
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
    if (!ResolveAddress(report))
        goto done;

    report->asked = 1;
    if (s_askingObserver != NULL)
        s_askingObserver(report);
    AskSystemDescription(report);
    if (CheckEngine(report)) {
        DetectOptions(report);
        DecideStatus(report);
    }
    if (!CheckEngine(report))
        DropRefusedWalks(report);
    if (report->hasPrinter)
        SettleValues(options, report);
done:
    report->milliseconds = (DWORD)(GetTickCount64() - started);
}
