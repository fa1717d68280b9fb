#include "listener/LineAssembler.h"

#include "platform/linefeeds.h"

#include <cstring>

namespace {

const char kLineEnd[] = "\r\n";

// Appends the lines that end in text; returns where the rest, a line not ended yet, begins.
std::size_t AppendEndedLines(std::string_view text, std::string& log)
{
    std::size_t start = 0;
    ForEachLineFeed(text.data(), text.size(), [&](std::size_t lf) {
        if (lf > start)
            log.append(text.data() + start, lf - start).append(kLineEnd, 2);
        start = lf + 1;
    });
    return start;
}

} // namespace

void SplitLines(std::string_view text, std::string& log)
{
    const std::size_t rest = AppendEndedLines(text, log);
    if (rest < text.size())
        log.append(text.substr(rest)).append(kLineEnd, 2);
}

void LineAssembler::Feed(std::string_view data, std::string& log)
{
    const void* first = std::memchr(data.data(), '\n', data.size());
    if (first == nullptr) {
        m_pending.append(data);
        return;
    }
    // The open line ends at the first line feed of this read.
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(first) - data.data());
    if (!m_pending.empty() || end > 0) {
        log.append(m_pending).append(data.data(), end).append(kLineEnd, 2);
        m_pending.clear();
    }
    const std::string_view rest = data.substr(end + 1);
    m_pending.assign(rest.substr(AppendEndedLines(rest, log)));
}

std::string LineAssembler::TakePending()
{
    std::string line;
    line.swap(m_pending);
    return line;
}
