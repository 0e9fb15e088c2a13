// The user-interface texts as each of the nine languages must show them, the
// Linux locales that the language tests start Wine in, and conversions to
// the two forms the platform hands out (UTF-16 resources, code page 1252).
#pragma once

#include <windows.h>

#include <string>

// The string numbers, in the order of LanguageTexts::texts.
extern const UINT kStringIds[12];
enum { STRING_COUNT = 12 };

struct LanguageTexts {
    LANGID id;                          // the table's language identifier
    const char *name;
    const char *texts[STRING_COUNT];    // UTF-8, by kStringIds
};

// The nine tables, in the order English, German, French, Italian, Spanish,
// Dutch, Swedish, Catalan, Portuguese.
extern const LanguageTexts kLanguages[9];
const LanguageTexts *FindLanguage(LANGID id);

// What a user-interface locale gets: the user-interface language Wine
// reports for it and the table the resource loader must pick.
struct LocaleCase {
    const char *locale;                 // as in LANG, without ".UTF-8"
    LANGID uiLanguage;
    LANGID table;
};
extern const LocaleCase kLocales[13];
// The row for LANG (e.g. "de_DE.UTF-8"), or NULL when LANG is not one of them.
const LocaleCase *LocaleOfEnvironment(std::string *langOut);

// UTF-8 to UTF-16, decoded here so that the check does not rely on the
// platform's own conversion.
std::wstring Utf16(const char *utf8);
// UTF-8 to code page 1252; fails the current test on a character outside it.
std::string Cp1252(const char *utf8);
// Bytes as hex, for failure messages.
std::string HexOf(const std::string &bytes);
