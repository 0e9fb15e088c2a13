// The SNMP query engine's message boxes: technical warnings and the
// localized connection error.
#pragma once

#include "snmp/engine_messages.h"

// error_report.cpp
// printf-style; the text is cut to 1023 chars. The box is owned by the
// configuration dialog, has the caption "Warning" and only an OK button.
void ShowWarning(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The box for an exchange that brought no readable answer: string 140 with
// the caption string 130 of the user's language, no owner, error icon, OK.
void ShowConnectionError(void);
