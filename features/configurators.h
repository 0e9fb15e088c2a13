// The four feature configurators and the chain that runs them on OK: each
// detects one optional part of the printer by walking its sub-tree and
// stores what the printer answered.
#pragma once

#include <windows.h>

#include "common/base.h"

// What one detection asks with: the dialog's fields as the user confirmed
// them with OK, or the console program's settings.
struct QueryFields {
    char address[SHORT_TEXT_SIZE];
    char community[SHORT_TEXT_SIZE];
    // The time-out text as given; it is stored as it is for the next run.
    char timeoutText[SHORT_TEXT_SIZE];
    // The walk's time-out: the number in the text's first two characters.
    int timeoutSeconds;
};

// The options, in the order of the chain.
enum FeatureOptionIndex {
    OPTION_DISK,
    OPTION_FINISHER,
    OPTION_PUNCH_UNIT,
    OPTION_CASSETTES,
    FEATURE_OPTION_COUNT
};

// The names of one option: looked up and walked, compared (the disk only),
// and the printer data value written.
struct FeatureOption {
    const char *optionName;
    const char *comparedOptionName;
    const char *valueName;
};
extern const FeatureOption g_featureOptions[FEATURE_OPTION_COUNT];

// How far one configurator came, for a caller that explains it.
enum ConfiguratorStage {
    STAGE_NO_MAP,           // the query map could not be loaded
    STAGE_NO_ENTRY,         // the lookup failed (its "Error" message told why)
    STAGE_WALK_FAILED,      // the walk did not come to its end
    STAGE_DETECTED,         // the values were found (and stored when asked to)
    STAGE_NOT_STORED        // the values were found, but the printer did not take them
};
struct ConfiguratorResult {
    int stage;              // a ConfiguratorStage
    char oidText[SHORT_TEXT_SIZE];
    DWORD writeError;       // why the values were not stored (STAGE_NOT_STORED)
};

// configurators.cpp: 1 when the option's value list was stored, 0 when the
// configurator failed: also when the printer did not take the value (an
// account that may not manage it), which is told in a box of the user's
// language. owner: the window that owns the configurators' own boxes (NULL
// without a dialog).
int ConfigureDisk(HWND owner, const QueryFields *fields);
int ConfigureFinisher(HWND owner, const QueryFields *fields);
int ConfigurePunchUnit(HWND owner, const QueryFields *fields);
int ConfigureCassettes(HWND owner, const QueryFields *fields);

// One configurator by its index. With write 0 it detects only: the value
// table holds what was found and nothing is written. result may be NULL.
// A query map that cannot be read is told in an "Error" box naming its path.
int RunConfigurator(int option, HWND owner, const QueryFields *fields, int write,
                    ConfiguratorResult *result);

// Called after each configurator of the chain, with g_snmpValues still
// holding what its walk found.
typedef void (*ConfiguratorObserver)(int option, int succeeded, const ConfiguratorResult *result,
                                     void *context);

// Runs the four in order, stopping at the first that fails, then writes the
// success flag and saves the settings. Returns the outcome (1 or 0).
// observer may be NULL.
int RunConfigurationChain(HWND owner, const QueryFields *fields, ConfiguratorObserver observer,
                          void *context);

// The dialog's address, community and time-out fields.
void ReadQueryFields(HWND dialog, QueryFields *fields);
// As atoi: leading white space, an optional sign, decimal digits up to the
// first other character; no digits give 0.
int ConvertTimeoutText(const char *text);
