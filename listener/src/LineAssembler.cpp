// SPDX-License-Identifier: GPL-3.0-or-later
#include "listener/LineAssembler.h"

#include "platform/linefeeds.h"

#include <cstring>

namespace {

char* Put(char* log, const char* bytes, std::size_t length)
{
    std::memcpy(log, bytes, length);
    return log + length;
}

char* PutLine(char* log, const char* bytes, std::size_t length)
{
    log = Put(log, bytes, length);
    *log++ = '\r';
    *log++ = '\n';
    return log;
}

// Writes the lines that end in text; *rest is set to where the rest, a line not ended yet, begins.
char* PutEndedLines(std::string_view text, char* log, std::size_t* rest)
{
    std::size_t start = 0;
    ForEachLineFeed(text.data(), text.size(), [&](std::size_t lf) {
        if (lf > start)
            log = PutLine(log, text.data() + start, lf - start);
        start = lf + 1;
    });
    *rest = start;
    return log;
}

} // namespace

char* SplitLines(std::string_view text, char* log)
{
    std::size_t rest = 0;
    log = PutEndedLines(text, log, &rest);
    return rest < text.size() ? PutLine(log, text.data() + rest, text.size() - rest) : log;
}

char* LineAssembler::Feed(std::string_view data, char* log)
{
    const void* first = std::memchr(data.data(), '\n', data.size());
    if (first == nullptr) {
        m_pending.append(data);
        return log;
    }
    // The open line ends at the first line feed of this read.
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(first) - data.data());
    if (!m_pending.empty() || end > 0) {
        log = Put(log, m_pending.data(), m_pending.size());
        log = PutLine(log, data.data(), end);
        m_pending.clear();
    }
    const std::string_view rest = data.substr(end + 1);
    std::size_t open = 0;
    log = PutEndedLines(rest, log, &open);
    m_pending.assign(rest.substr(open));
    return log;
}

std::string LineAssembler::TakePending()
{
    std::string line;
    line.swap(m_pending);
    return line;
}
