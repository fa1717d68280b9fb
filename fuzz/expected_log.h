#pragma once
// The fuzzers' reference for what the log must hold: the text cut at every line feed, empty lines
// dropped, each line followed by CR LF. Written the plain way, apart from the code it checks.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

inline std::string Expected(std::string_view text)
{
    std::string log;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start) {
            log.append(text.substr(start, end - start));
            log.append("\r\n");
        }
        start = end + 1;
    }
    return log;
}

// Stops the fuzzer (the input is kept) when the log is not the one expected, saying where the two
// first differ.
inline void CheckLog(const char* what, const std::string& expected, const std::string& got)
{
    if (expected == got)
        return;
    std::size_t at = 0;
    while (at < expected.size() && at < got.size() && expected[at] == got[at])
        ++at;
    std::fprintf(stderr, "%s: expected %zu log bytes, got %zu; first difference at %zu\n", what,
                 expected.size(), got.size(), at);
    std::abort();
}
