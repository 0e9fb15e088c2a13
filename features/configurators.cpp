// The feature configurators: each looks up its option's OID in the query
// map, walks the printer's sub-tree under it and stores the text values found
// as the option's printer data value. The chain runs the four on OK.
#include "features/configurators.h"
#include "features/query_map.h"
#include "printer/printer_data.h"
#include "snmp/snmp_engine.h"
#include "common/text.h"

#include <limits.h>
#include <string.h>

static const char MISMATCH_TEXT[] = "HardDisk / RAMDisk entries are not equal.\nNot supported yet.";
static const char MISMATCH_CAPTION[] = "Warning";

// One option: the name looked up and walked, the name whose OID must equal
// it (the disk only), and the printer data value written.
struct FeatureOption {
    const char *optionName;
    const char *comparedOptionName;
    const char *valueName;
};

enum { OPTION_DISK, OPTION_FINISHER, OPTION_PUNCH_UNIT, OPTION_CASSETTES };

static const FeatureOption FEATURE_OPTIONS[] = {
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
    memset(fields, 0, sizeof(*fields));
    GetDlgItemTextA(dialog, IDC_ADDRESS, fields->address, (int)COUNTOF(fields->address));
    GetDlgItemTextA(dialog, IDC_COMMUNITY, fields->community, (int)COUNTOF(fields->community));
    GetDlgItemTextA(dialog, IDC_TIMEOUT, fields->timeoutText, (int)COUNTOF(fields->timeoutText));
    fields->address[COUNTOF(fields->address) - 1] = '\0';
    fields->community[COUNTOF(fields->community) - 1] = '\0';
    fields->timeoutText[COUNTOF(fields->timeoutText) - 1] = '\0';
    fields->timeoutSeconds = ConvertTimeoutText(fields->timeoutText);
}

// The steps every configurator shares. A failed lookup has shown its "Error"
// box and left no usable OID, so nothing is walked and nothing written. A walk
// that did not come to its end (-1) wrote nothing usable either: the stored
// value of an earlier run is kept.
static int RunConfigurator(HWND dialog, const FeatureOption *option)
{
    char oidText[SHORT_TEXT_SIZE];
    char comparedOid[SHORT_TEXT_SIZE];
    QueryFields fields;
    int ok = 0;

    if (!LoadQueryMap())
        return 0;

    // An entry with an empty OID is found, but there is nothing to walk:
    // the engine could not convert it and would leave an empty table, which
    // must not be stored as the printer's answer.
    memset(oidText, 0, sizeof(oidText));
    if (!LookupOptionOid(option->optionName, oidText) || oidText[0] == '\0')
        goto done;

    // The compared OID only decides the warning; a failed lookup leaves it
    // empty, and an empty text differs from the one walked.
    if (option->comparedOptionName != NULL) {
        memset(comparedOid, 0, sizeof(comparedOid));
        LookupOptionOid(option->comparedOptionName, comparedOid);
        if (memcmp(oidText, comparedOid, sizeof(oidText)) != 0)
            MessageBoxA(dialog, MISMATCH_TEXT, MISMATCH_CAPTION, MB_OK);
    }

    ReadQueryFields(dialog, &fields);
    if (QueryOidSubtree(fields.address, strlen(fields.address), fields.community,
                        strlen(fields.community), oidText, strlen(oidText),
                        fields.timeoutSeconds) != 0)
        goto done;
    if (g_snmpFailed != 0)
        goto done;

    WriteAutoCfgValue(option->valueName, 1);
    ok = 1;
done:
    ReleaseQueryMap();
    return ok;
}

int ConfigureDisk(HWND dialog)
{
    return RunConfigurator(dialog, &FEATURE_OPTIONS[OPTION_DISK]);
}

int ConfigureFinisher(HWND dialog)
{
    return RunConfigurator(dialog, &FEATURE_OPTIONS[OPTION_FINISHER]);
}

int ConfigurePunchUnit(HWND dialog)
{
    return RunConfigurator(dialog, &FEATURE_OPTIONS[OPTION_PUNCH_UNIT]);
}

int ConfigureCassettes(HWND dialog)
{
    return RunConfigurator(dialog, &FEATURE_OPTIONS[OPTION_CASSETTES]);
}

int RunConfigurationChain(HWND dialog)
{
    static int (*const CHAIN[])(HWND) = {
        ConfigureDisk, ConfigureFinisher, ConfigurePunchUnit, ConfigureCassettes};

    WriteAutoCfgValue("QV_AutoCfgSuccess", 0);
    int outcome = 1;
    for (size_t i = 0; i < COUNTOF(CHAIN) && outcome; i++)
        outcome = CHAIN[i](dialog) != 0;
    WriteAutoCfgValue("QV_AutoCfgSuccess", outcome);
    SaveStoredSettings(dialog);
    return outcome;
}
