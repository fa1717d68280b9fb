// SPDX-License-Identifier: GPL-3.0-or-later
#include "loglineindex.h"

#include "platform/linefeeds.h"

#include <algorithm>
#include <cstring>

void LogLineIndex::clear(const char* data)
{
    m_data = data;
    m_size = 0;
    m_lines = 1;
    m_checkpoints = {{0, 0}};
    for (CachedBlock& cached : m_cache)
        cached.block = SIZE_MAX;
}

void LogLineIndex::forgetLastBlock()
{
    for (CachedBlock& cached : m_cache)
        if (cached.block + 1 == m_checkpoints.size())
            cached.block = SIZE_MAX;
}

void LogLineIndex::appended(qint64 at, const char* bytes, qint64 length)
{
    Q_ASSERT(at >= m_size);
    forgetLastBlock();
    Checkpoint last = m_checkpoints.back();
    ForEachLineFeed(bytes, std::size_t(length), [&](std::size_t lf) {
        const qint64 start = at + qint64(lf) + 1;
        const qint64 line = m_lines++;
        const qint64 bytes = start - last.offset;
        if ((line - last.line >= kBlockLines && bytes >= kMinBlockBytes) || bytes >= kBlockBytes) {
            last = {line, start};
            m_checkpoints.push_back(last);
        }
    });
    m_size = at + length;
}

const std::vector<qint64>& LogLineIndex::block(std::size_t b) const
{
    for (const CachedBlock& cached : m_cache)
        if (cached.block == b)
            return cached.starts;
    CachedBlock& cached = m_cache[m_nextSlot];
    m_nextSlot = (m_nextSlot + 1) % m_cache.size();
    const Checkpoint first = m_checkpoints[b];
    const bool isLast = b + 1 == m_checkpoints.size();
    const qint64 lines = (isLast ? m_lines : m_checkpoints[b + 1].line) - first.line;
    std::vector<qint64>& starts = cached.starts;
    starts.clear();
    starts.push_back(first.offset);
    if (lines > kBlockLines) {
        // Short lines: past its 64th line, no line start of the block was kMinBlockBytes after its
        // checkpoint, or it would have been the next one. Their line feeds are found many at a time.
        const qint64 end = std::min(m_size, first.offset + kMinBlockBytes);
        ForEachLineFeed(m_data + first.offset, std::size_t(end - first.offset), [&](std::size_t lf) {
            if (qint64(starts.size()) < lines)
                starts.push_back(first.offset + qint64(lf) + 1);
        });
    } else {
        // Every line start of the block but the first lies less than kBlockBytes after it.
        const char* p = m_data + first.offset;
        const char* const end = m_data + std::min(m_size, first.offset + kBlockBytes);
        while (qint64(starts.size()) < lines && p < end) {
            const void* hit = std::memchr(p, '\n', std::size_t(end - p));
            if (hit == nullptr)
                break;
            p = static_cast<const char*>(hit) + 1;
            starts.push_back(p - m_data);
        }
    }
    cached.block = b;
    return starts;
}

qint64 LogLineIndex::lineStart(qint64 line) const
{
    line = std::clamp<qint64>(line, 0, m_lines - 1);
    const auto it = std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), line,
                                     [](qint64 l, const Checkpoint& c) { return l < c.line; });
    const std::size_t b = std::size_t(it - m_checkpoints.begin()) - 1;
    if (m_checkpoints[b].line == line)
        return m_checkpoints[b].offset;
    return block(b)[std::size_t(line - m_checkpoints[b].line)];
}

qint64 LogLineIndex::lineEnd(qint64 line) const
{
    return line + 1 < m_lines ? lineStart(line + 1) - 1 : m_size;
}

qint64 LogLineIndex::lineOf(qint64 offset) const
{
    const auto it = std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), offset,
                                     [](qint64 o, const Checkpoint& c) { return o < c.offset; });
    const std::size_t b = std::size_t(it - m_checkpoints.begin()) - 1;
    const std::vector<qint64>& starts = block(b);
    return m_checkpoints[b].line + qint64(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1;
}

qint64 LogLineIndex::bytesUsed() const
{
    qint64 cached = 0;
    for (const CachedBlock& block : m_cache)
        cached += qint64(block.starts.capacity() * sizeof(qint64));
    return qint64(m_checkpoints.size() * sizeof(Checkpoint)) + cached;
}

std::vector<LogLineIndex::Checkpoint> LogLineIndex::checkpointsFrom(std::size_t n) const
{
    return {m_checkpoints.begin() + std::ptrdiff_t(std::min(n, m_checkpoints.size())), m_checkpoints.end()};
}

void LogLineIndex::extend(const std::vector<Checkpoint>& more, qint64 lines, qint64 size)
{
    forgetLastBlock();
    m_checkpoints.insert(m_checkpoints.end(), more.begin(), more.end());
    m_lines = lines;
    m_size = size;
}
