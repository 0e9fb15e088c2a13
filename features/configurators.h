// The four feature configurators and the chain that runs them on OK: each
// detects one optional part of the printer by walking its sub-tree and
// stores what the printer answered.
#pragma once

#include <windows.h>

#include "shell/shell.h"

// configurators.cpp: 1 when the option's value list was handed to the
// writer, 0 when the configurator failed.
int ConfigureDisk(HWND dialog);
int ConfigureFinisher(HWND dialog);
int ConfigurePunchUnit(HWND dialog);
int ConfigureCassettes(HWND dialog);

// Runs the four in order, stopping at the first that fails, then writes the
// success flag and saves the settings. Returns the outcome (1 or 0).
int RunConfigurationChain(HWND dialog);

// Size of the time-out text read from the dialog: two digits at most.
enum { TIMEOUT_FIELD_SIZE = 3 };

// The dialog's fields as one walk takes them.
struct QueryFields {
    char address[SHORT_TEXT_SIZE];
    char community[SHORT_TEXT_SIZE];
    char timeoutText[TIMEOUT_FIELD_SIZE];
    int timeoutSeconds;
};

void ReadQueryFields(HWND dialog, QueryFields *fields);
// As atoi: leading white space, an optional sign, decimal digits up to the
// first other character; no digits give 0.
int ConvertTimeoutText(const char *text);
