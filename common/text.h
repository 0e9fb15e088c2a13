// Bounded narrow-text helpers: every copy or append into a fixed buffer goes
// through these, so text is cut at the buffer's size less one and is always
// terminated.
#pragma once

#include <stdarg.h>
#include <stddef.h>

#define COUNTOF(a) (sizeof(a) / sizeof((a)[0]))

// Copies src into dst (dstSize bytes), cut silently; returns the length copied.
size_t CopyText(char *dst, size_t dstSize, const char *src);

// As CopyText, but takes at most srcLength bytes of src (less if a NUL comes
// first): for counted byte strings that need not be terminated.
size_t CopyTextN(char *dst, size_t dstSize, const char *src, size_t srcLength);

// Appends src to the text already in dst, cut silently; returns the new length.
size_t AppendText(char *dst, size_t dstSize, const char *src);

// printf into dst, cut silently and always terminated; returns the length.
size_t FormatText(char *dst, size_t dstSize, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// As FormatText, for a function that takes its own printf-style arguments.
size_t FormatTextV(char *dst, size_t dstSize, const char *format, va_list args)
    __attribute__((format(printf, 3, 0)));
