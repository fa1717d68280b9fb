#include "listener/LineAssembler.h"

#include <cstring>

void SplitLines(std::string_view text, std::vector<std::string_view>& lines)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const void* lf = std::memchr(text.data() + start, '\n', text.size() - start);
        const std::size_t end = lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data())
                                              : text.size();
        if (end > start)
            lines.emplace_back(text.data() + start, end - start);
        start = end + 1;
    }
}

void LineAssembler::Feed(std::string_view data, std::vector<std::string_view>& lines)
{
    if (data.empty())
        return;
    const void* first = std::memchr(data.data(), '\n', data.size());
    if (first == nullptr) {
        m_pending.append(data);
        return;
    }
    std::size_t pos = static_cast<std::size_t>(static_cast<const char*>(first) - data.data());
    // The open line ends at the first line feed of this read.
    if (!m_pending.empty()) {
        m_joined.swap(m_pending);
        m_pending.clear();
        m_joined.append(data.data(), pos);
        lines.emplace_back(m_joined);
    } else if (pos > 0) {
        lines.emplace_back(data.data(), pos);
    }
    // Whole lines of this read.
    std::size_t start = pos + 1;
    for (;;) {
        const void* lf = std::memchr(data.data() + start, '\n', data.size() - start);
        if (lf == nullptr)
            break;
        const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - data.data());
        if (end > start)
            lines.emplace_back(data.data() + start, end - start);
        start = end + 1;
    }
    // The rest begins the next open line.
    m_pending.assign(data.data() + start, data.size() - start);
}

std::string LineAssembler::TakePending()
{
    std::string line;
    line.swap(m_pending);
    return line;
}
