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
    if (!LoadQueryMap())
        return 0;

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

    result->stage = STAGE_DETECTED;
    if (write)
        WriteAutoCfgValue(names->valueName, 1);
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
