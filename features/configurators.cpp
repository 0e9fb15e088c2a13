// The feature configurators: each looks up its option's OID in the query
// map, walks the printer's sub-tree under it and stores the text values found
// as the option's printer data value. The chain runs the four on OK.
#include "features/configurators.h"
#include "features/query_map.h"
#include "printer/printer_data.h"
#include "snmp/snmp_engine.h"
#include "common/report.h"
#include "common/text.h"

#include <limits.h>
#include <string.h>

static const char MISMATCH_TEXT[] = "HardDisk / RAMDisk entries are not equal.\nNot supported yet.";
static const char MISMATCH_CAPTION[] = "Warning";
// As the query map's lookup tells its problems: English, no owner, no icon.
static const char MAP_MISSING_FORMAT[] = "Query map missing or unreadable:\n%s";
static const char MAP_ERROR_CAPTION[] = "Error";

const FeatureOption g_featureOptions[FEATURE_OPTION_COUNT] = {
    {"HardDisk", "RAMDisk", "QV_AutoCfgDisk"},
    {"3000Finisher", NULL, "QV_AutoCfgFinisher"},
    {"PunchingUnit", NULL, "QV_AutoCfgPunchUnit"},
    {"CassetteTwo", NULL, "QV_AutoCfgCassettes"},
};

int ConvertTimeoutText(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    int negative = 0;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        text++;
    }
    // The field holds two digits at most; longer text is held at the int's
    // range instead of overflowing.
    long long value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value <= INT_MAX)
            value = value * 10 + (*text - '0');
        text++;
    }
    if (value > INT_MAX)
        value = INT_MAX;
    return (int)(negative ? -value : value);
}

void ReadQueryFields(HWND dialog, QueryFields *fields)
{
    char typed[TIMEOUT_FIELD_SIZE];
    memset(fields, 0, sizeof(*fields));
    GetDlgItemTextA(dialog, IDC_ADDRESS, fields->address, (int)COUNTOF(fields->address));
    GetDlgItemTextA(dialog, IDC_COMMUNITY, fields->community, (int)COUNTOF(fields->community));
    GetDlgItemTextA(dialog, IDC_TIMEOUT, fields->timeoutText, (int)COUNTOF(fields->timeoutText));
    fields->address[COUNTOF(fields->address) - 1] = '\0';
    fields->community[COUNTOF(fields->community) - 1] = '\0';
    fields->timeoutText[COUNTOF(fields->timeoutText) - 1] = '\0';
    // The walk reads two characters of the field, as typing allows.
    CopyText(typed, COUNTOF(typed), fields->timeoutText);
    fields->timeoutSeconds = ConvertTimeoutText(typed);
}

// Without its map no configurator can do anything: say which file was
// looked for, so that whoever reads the box knows where to put it.
static void ReportMissingMap(void)
{
    char path[PATH_TEXT_SIZE];
    char text[LONG_TEXT_SIZE];
    GetQueryMapPath(path, COUNTOF(path));
    FormatText(text, COUNTOF(text), MAP_MISSING_FORMAT, path);
    ReportMessage(MESSAGE_MAP_ERROR, NULL, text, MAP_ERROR_CAPTION, MB_OK);
}

// The printer did not take an option's values: the detection stays
// incomplete, and the user must not take the closing dialog for success.
// The string's first line says what was lost, its last whom to
// ask; its middle line names the usual cause, an account that may not
// manage the printer, and gives way to the system's words for any other
// error. The caption is the connection error's.
static void ReportNotStored(HWND owner, DWORD error)
{
    char caption[LOADED_STRING_SIZE];
    char loaded[LOADED_STRING_SIZE];
    char reason[LONG_TEXT_SIZE];
    char text[LONG_TEXT_SIZE];
    caption[0] = '\0';
    loaded[0] = '\0';
    LoadStringA(g_hInstance, IDS_CONNECTION_CAPTION, caption, COUNTOF(caption));
    LoadStringA(g_hInstance, IDS_NOT_STORED_TEXT, loaded, COUNTOF(loaded));
    CopyText(text, COUNTOF(text), loaded);
    if (error != ERROR_ACCESS_DENIED) {
        if (DescribeSystemError(error, reason, COUNTOF(reason)) == 0)
            FormatText(reason, COUNTOF(reason), "Error %lu", (unsigned long)error);
        const char *firstBreak = strchr(loaded, '\n');
        const char *lastBreak = strrchr(loaded, '\n');
        if (firstBreak != NULL && firstBreak != lastBreak) {
            CopyTextN(text, COUNTOF(text), loaded, (size_t)(firstBreak + 1 - loaded));
            AppendText(text, COUNTOF(text), reason);
            AppendText(text, COUNTOF(text), lastBreak);
        } else {
            AppendText(text, COUNTOF(text), "\n");
            AppendText(text, COUNTOF(text), reason);
        }
    }
    ReportMessage(MESSAGE_NOT_STORED, owner, text, caption, MB_ICONERROR | MB_OK);
}

// The steps every configurator shares. A failed lookup has shown its "Error"
// box and left no usable OID, so nothing is walked and nothing written. A walk
// that did not come to its end (-1) wrote nothing usable either: the stored
// value of an earlier run is kept.
int RunConfigurator(int option, HWND owner, const QueryFields *fields, int write,
                    ConfiguratorResult *result)
{
    const FeatureOption *names = &g_featureOptions[option];
    ConfiguratorResult local;
    char comparedOid[SHORT_TEXT_SIZE];
    int ok = 0;

    if (result == NULL)
        result = &local;
    memset(result, 0, sizeof(*result));
    result->stage = STAGE_NO_MAP;
    if (!LoadQueryMap()) {
        ReportMissingMap();
        return 0;
    }

    result->stage = STAGE_NO_ENTRY;
    if (!LookupOptionOid(names->optionName, result->oidText))
        goto done;

    // The compared OID only decides the warning; a failed lookup leaves it
    // empty, and an empty text differs from the one walked.
    if (names->comparedOptionName != NULL) {
        memset(comparedOid, 0, sizeof(comparedOid));
        LookupOptionOid(names->comparedOptionName, comparedOid);
        if (memcmp(result->oidText, comparedOid, sizeof(comparedOid)) != 0)
            ReportMessage(MESSAGE_OPTION_WARNING, owner, MISMATCH_TEXT, MISMATCH_CAPTION, MB_OK);
    }

    // An OID that the engine cannot convert (an empty one too) ends the walk
    // unfinished, with the engine's own message.
    result->stage = STAGE_WALK_FAILED;
    if (QueryOidSubtree(fields->address, strlen(fields->address), fields->community,
                        strlen(fields->community), result->oidText, strlen(result->oidText),
                        fields->timeoutSeconds) != 0)
        goto done;
    if (g_snmpFailed != 0)
        goto done;

    // A value the printer did not take fails the configurator as a walk
    // that failed would: the chain stops and the success flag stays 0.
    result->stage = STAGE_DETECTED;
    if (write) {
        result->writeError = StoreAutoCfgValue(names->valueName, 1);
        if (result->writeError != ERROR_SUCCESS) {
            result->stage = STAGE_NOT_STORED;
            ReportNotStored(owner, result->writeError);
            goto done;
        }
    }
    ok = 1;
done:
    ReleaseQueryMap();
    return ok;
}

int ConfigureDisk(HWND owner, const QueryFields *fields)
{
    return RunConfigurator(OPTION_DISK, owner, fields, 1, NULL);
}

int ConfigureFinisher(HWND owner, const QueryFields *fields)
{
    return RunConfigurator(OPTION_FINISHER, owner, fields, 1, NULL);
}

int ConfigurePunchUnit(HWND owner, const QueryFields *fields)
{
    return RunConfigurator(OPTION_PUNCH_UNIT, owner, fields, 1, NULL);
}

int ConfigureCassettes(HWND owner, const QueryFields *fields)
{
    return RunConfigurator(OPTION_CASSETTES, owner, fields, 1, NULL);
}

int RunConfigurationChain(HWND owner, const QueryFields *fields, ConfiguratorObserver observer,
                          void *context)
{
    ConfiguratorResult result;
    // Cleared first: a run ended during the chain (killed, logged off) must
    // not leave an earlier run's success standing over half-written values.
    WriteAutoCfgValue(SUCCESS_VALUE_NAME, 0);
    int outcome = 1;
    for (int option = 0; option < FEATURE_OPTION_COUNT && outcome; option++) {
        outcome = RunConfigurator(option, owner, fields, 1, &result) != 0;
        if (observer != NULL)
            observer(option, outcome, &result, context);
    }
    WriteAutoCfgValue(SUCCESS_VALUE_NAME, outcome);
    // SNMPv3 sent no community: the stored one stays as it was.
    SaveStoredSettings(g_snmpSecurity.version == 3 ? NULL : fields->community,
                       fields->timeoutText);
    return outcome;
}
