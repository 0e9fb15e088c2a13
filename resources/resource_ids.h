// Numbers of the program's resources, shared by the resource script and the
// code. Plain #defines: the resource compiler reads this file too.
#pragma once

// Strings: the dialog's texts, the connection error box, the box for values
// the printer did not take, the help file.
#define IDS_DIALOG_TITLE        103
#define IDS_ADDRESS_LABEL       110
#define IDS_COMMUNITY_LABEL     111
#define IDS_TIMEOUT_LABEL       112
#define IDS_TIMEOUT_UNIT        113
#define IDS_OK_BUTTON           120
#define IDS_CANCEL_BUTTON       121
#define IDS_HELP_BUTTON         122
#define IDS_CONNECTION_CAPTION  130
#define IDS_CONNECTION_TEXT     140
// Three lines: what was not stored, why (an account that may not manage the
// printer; for another error the system's words stand in its place), and
// whom to ask.
#define IDS_NOT_STORED_TEXT     141
#define IDS_HELP_FILE           150

// The configuration dialog and its controls.
#define IDD_CONFIG              103
#define IDC_LOGO                1006
#define IDC_ADDRESS             1008
#define IDC_COMMUNITY           1009
#define IDC_ADDRESS_LABEL       1010
#define IDC_COMMUNITY_LABEL     1011
#define IDC_TIMEOUT             1013
#define IDC_TIMEOUT_UNIT        1014
#define IDC_HELP_BUTTON         1015

#define IDB_LOGO                130
#define IDI_PROGRAM             129
