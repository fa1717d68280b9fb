// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/cstring.h"

#include <cstdio>

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        clear();
    } else {
        std::string out(static_cast<std::size_t>(needed) + 1, '\0');
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<std::size_t>(needed));
        assign(std::move(out));
    }
    va_end(args);
}
