// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the fuzzers check the log against, written the plain way, apart from the code it checks.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Stops the fuzzer (libFuzzer keeps the input) with the reason.
[[noreturn]] inline void Fail(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

// The text cut at every line feed, empty lines dropped, each line followed by CR LF.
inline std::string Expected(std::string_view text)
{
    std::string log;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (end > start)
            log.append(text.substr(start, end - start)).append("\r\n");
        start = end + 1;
    }
    return log;
}

// Fails when the log is not the one expected, saying where the two first differ.
inline void CheckLog(const char* what, const std::string& expected, const std::string& got)
{
    std::size_t at = 0;
    while (at < expected.size() && at < got.size() && expected[at] == got[at])
        ++at;
    if (expected != got)
        Fail(std::string(what) + ": expected " + std::to_string(expected.size()) + " log bytes, got "
             + std::to_string(got.size()) + "; first difference at " + std::to_string(at));
}
