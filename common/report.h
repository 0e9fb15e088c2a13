// The one way by which the engine, the query map and the configurators tell
// the user of a problem. The dialog program shows each message as a box;
// a program without a user at the screen installs a reporter of its own.
#pragma once

#include <windows.h>

// What a message is about, for a reporter that sorts them.
enum MessageKind {
    MESSAGE_ENGINE_WARNING,     // the engine's technical texts ("Warning")
    MESSAGE_CONNECTION_ERROR,   // the localized box: the printer did not answer
    MESSAGE_MAP_ERROR,          // the query map's lookup ("Error")
    MESSAGE_OPTION_WARNING,     // a configurator's own warning
    MESSAGE_NOT_STORED          // the localized box: the printer did not take the values
};

// Shows or keeps one message; the arguments are those of MessageBoxA.
typedef void (*MessageReporter)(int kind, HWND owner, const char *text, const char *caption,
                                UINT style);

// report.cpp
void ReportMessage(int kind, HWND owner, const char *text, const char *caption, UINT style);
// Installs reporter (NULL: the message boxes again); returns the one before.
MessageReporter SetMessageReporter(MessageReporter reporter);
// The system's own words for an error, in the user's language where the
// system has them, without the trailing line break and blanks;
// returns their length (0, and text empty, when the system has none).
size_t DescribeSystemError(DWORD error, char *text, size_t textSize);
