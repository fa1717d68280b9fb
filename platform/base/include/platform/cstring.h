// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The framework's text type: a byte string (UTF-8 on this system) with printf-style formatting.
#include <cstdarg>
#include <string>

class CString : public std::string {
public:
    using std::string::string;
    CString() = default;
    CString(const std::string& s) : std::string(s) {}
    CString(std::string&& s) : std::string(std::move(s)) {}
    CString(const char* s) : std::string(s ? s : "") {}

    int GetLength() const { return static_cast<int>(size()); }
    operator const char*() const { return c_str(); }

    // Replaces the text with the formatted one.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
};
