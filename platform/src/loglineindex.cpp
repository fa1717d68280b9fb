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

void LogLineIndex::replaced(qint64 start, qint64 removed, const char* data, qint64 length)
{
    // A start s follows the line feed at s - 1: those in (start, start + removed] lose their line feed.
    auto first = std::upper_bound(m_starts.begin(), m_starts.end(), start);
    auto last = std::upper_bound(first, m_starts.end(), start + removed);
    const qint64 shift = length - removed;
    std::for_each(last, m_starts.end(), [shift](qint64& s) { s += shift; });
    const qsizetype at = m_starts.erase(first, last) - m_starts.begin();

    QList<qint64> added;
    forEachLineFeed(data, length, [&](qint64 i) { added.push_back(start + i + 1); });
    m_starts.insert(at, added.size(), 0);
    std::copy(added.cbegin(), added.cend(), m_starts.begin() + at);
}

qint64 LogLineIndex::lineEnd(qint64 line, qint64 bufferSize) const
{
    return line + 1 < lineCount() ? m_starts[line] - 1 : bufferSize;
}

qint64 LogLineIndex::lineOf(qint64 offset) const
{
    return qint64(std::upper_bound(m_starts.cbegin(), m_starts.cend(), offset) - m_starts.cbegin());
}
