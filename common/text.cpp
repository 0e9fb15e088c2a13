// Bounded narrow-text helpers shared by every part of the program and by our WinSNMP.
#include "common/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

size_t CopyTextN(char *dst, size_t dstSize, const char *src, size_t srcLength)
{
    if (dst == NULL || dstSize == 0)
        return 0;
    size_t n = 0;
    if (src != NULL) {
        while (n < srcLength && n + 1 < dstSize && src[n] != '\0') {
            dst[n] = src[n];
            n++;
        }
    }
    dst[n] = '\0';
    return n;
}

size_t CopyText(char *dst, size_t dstSize, const char *src)
{
    return CopyTextN(dst, dstSize, src, (size_t)-1);
}

size_t AppendText(char *dst, size_t dstSize, const char *src)
{
    if (dst == NULL || dstSize == 0)
        return 0;
    size_t used = strnlen(dst, dstSize);
    if (used >= dstSize) {          // not terminated: terminate at the end
        dst[dstSize - 1] = '\0';
        return dstSize - 1;
    }
    return used + CopyText(dst + used, dstSize - used, src);
}

size_t FormatTextV(char *dst, size_t dstSize, const char *format, va_list args)
{
    if (dst == NULL || dstSize == 0)
        return 0;
    int n = vsnprintf(dst, dstSize, format, args);
    dst[dstSize - 1] = '\0';
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return strnlen(dst, dstSize);
}

size_t FormatText(char *dst, size_t dstSize, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    size_t n = FormatTextV(dst, dstSize, format, args);
    va_end(args);
    return n;
}
