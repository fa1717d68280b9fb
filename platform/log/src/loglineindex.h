// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where each line of the log starts, in a fraction of a byte a line.
//
// Only some line starts are kept, as checkpoints of (line, offset): the first one at least 64 lines
// and 4 KiB of text after the last checkpoint, or else the first one a MiB after it. So the index
// costs at most 16 bytes a 4 KiB of text however short the lines, and lines of 80 bytes get one
// every 64 lines, as they always did. The lines between two checkpoints are found again by
// scanning their bytes, a few KiB where lines are short and at most about a MiB where they are
// long, and the last few blocks found are remembered, so that drawing the lines in view scans each
// block once, and a view that stays where it is reads no bytes as the log grows. Appending scans
// only the new bytes.
#include <QtGlobal>

#include <array>
#include <deque>
#include <vector>

class LogLineIndex {
public:
    // The next line start is a checkpoint once both kBlockLines lines and kMinBlockBytes bytes lie
    // between it and the last, or once kBlockBytes bytes do.
    static constexpr qint64 kBlockLines = 64;
    static constexpr qint64 kMinBlockBytes = 4096;
    static constexpr qint64 kBlockBytes = qint64(1) << 20;

    // The index reads the text at data, which must stay where it is; data[0, size) is the text.
    void clear(const char* data);
    // The text now runs to at + length; `bytes` holds its bytes from `at` (a copy of data + at).
    // What lies between the former end and `at` holds no line feed.
    void appended(qint64 at, const char* bytes, qint64 length);

    qint64 lineCount() const { return m_lines; }
    qint64 lineStart(qint64 line) const;
    // Where the line ends: its line feed, or the end of the text for the last line.
    qint64 lineEnd(qint64 line) const;
    // The line that holds byte `offset` (an offset at or past the end gives the last line).
    qint64 lineOf(qint64 offset) const;
    // Memory the index holds, for figures.
    qint64 bytesUsed() const;

    // An index built on another thread is handed over in pieces: the checkpoints from the n-th
    // on, and, on this side, those checkpoints with the line count and size they came with.
    struct Checkpoint {
        qint64 line;
        qint64 offset;
    };
    std::size_t checkpointCount() const { return m_checkpoints.size(); }
    std::vector<Checkpoint> checkpointsFrom(std::size_t n) const;
    void extend(const std::vector<Checkpoint>& more, qint64 lines, qint64 size);

private:
    // The line starts of block b (from its checkpoint up to the next), from the cache.
    const std::vector<qint64>& block(std::size_t b) const;

    const char* m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_lines = 1;
    std::deque<Checkpoint> m_checkpoints{{0, 0}};
    // The last block may gain lines: forgotten when it is cached.
    void forgetLastBlock();

    struct CachedBlock {
        std::size_t block = SIZE_MAX;
        std::vector<qint64> starts;
    };
    mutable std::array<CachedBlock, 8> m_cache;
    mutable std::size_t m_nextSlot = 0;
};
