// SPDX-License-Identifier: GPL-3.0-or-later
// Fmt: the one formatting form the program uses, "%s<%s%i".
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/userint.h"

int Fmt(char* target, const char* format, ...) {
    if (!target || !format || std::strcmp(format, "%s<%s%i") != 0) return UIE_BAD_FORMAT;
    va_list arguments;
    va_start(arguments, format);
    const char* text = va_arg(arguments, const char*);
    const int number = va_arg(arguments, int);
    va_end(arguments);
    if (!text) return UIE_BAD_FORMAT;
    // The caller guarantees the target is large enough, as with the original
    // form; the text's length plus an int's 11 characters and the terminator.
    std::sprintf(target, "%s%d", text, number);
    return 2;
}
