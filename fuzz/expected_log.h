#pragma once
// The fuzzers' reference for what the log must hold: the text cut at every line feed, empty lines
// dropped, each line followed by CR LF. Written the plain way, apart from the code it checks.
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
