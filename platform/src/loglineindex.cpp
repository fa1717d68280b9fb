#include "loglineindex.h"

#include "loggrowth.h"

#include <algorithm>
#include <cstring>

namespace {

// Calls f(i) for every line feed data[i].
template <typename F>
void forEachLineFeed(const char* data, qint64 length, F f)
{
    const char* p = data;
    const char* end = data + length;
    while (p < end) {
        const void* hit = std::memchr(p, '\n', std::size_t(end - p));
        if (!hit)
            break;
        const char* lf = static_cast<const char*>(hit);
        f(qint64(lf - data));
        p = lf + 1;
    }
}

} // namespace

void LogLineIndex::clear()
{
    m_starts = QList<qint64>();
}

void LogLineIndex::rebuild(const char* data, qint64 size)
{
    clear();
    qint64 count = 0;
    forEachLineFeed(data, size, [&](qint64) { ++count; });
    m_starts.reserve(count);
    forEachLineFeed(data, size, [&](qint64 i) { m_starts.push_back(i + 1); });
}

void LogLineIndex::appended(qint64 at, const char* data, qint64 length)
{
    forEachLineFeed(data, length, [&](qint64 i) {
        loggrowth::reserveFor(m_starts, m_starts.size() + 1);
        m_starts.push_back(at + i + 1);
    });
}

qint64 LogLineIndex::lineEnd(qint64 line, qint64 bufferSize) const
{
    return line + 1 < lineCount() ? m_starts[line] - 1 : bufferSize;
}

qint64 LogLineIndex::lineOf(qint64 offset) const
{
    return qint64(std::upper_bound(m_starts.cbegin(), m_starts.cend(), offset) - m_starts.cbegin());
}
