// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing the log's files: whole writes, writes past the page cache, and writes paced so that the
// page cache never fills with the log's dirty pages.
#include <QtGlobal>

#include <unistd.h>

namespace logio {

inline qint64 pageSize()
{
    static const qint64 size = ::sysconf(_SC_PAGESIZE);
    return size;
}
// To a multiple of unit: a page, unless another is given.
inline qint64 roundDown(qint64 v, qint64 unit = pageSize()) { return v / unit * unit; }
inline qint64 roundUp(qint64 v, qint64 unit = pageSize()) { return (v + unit - 1) / unit * unit; }

// The most one read or write moves.
constexpr qint64 kCopyChunk = qint64(64) << 20;

// Writes all length bytes at offset (at the file offset when offset < 0); false with errno set.
bool writeAll(int fd, const char* data, qint64 length, qint64 offset);
// The file fd holds, opened again to write past the page cache; -1 where that cannot be.
int reopenDirect(int fd, int access);

// Writes a file in order through the page cache, keeping its dirty pages few: the disk is started
// on each write at once, and the writes more than a window back are waited for and their pages let
// go (but for the file's first ones, and those mapped, which the kernel keeps). So the newest bytes,
// the first and those in view stay at hand for the window, the writer is never held up by memory
// full of dirty pages, pages are reused while they are warm, and the kernel is not left with
// gigabytes to write back afterwards. A failure to write back is a failed write.
class PacedWriter {
public:
    PacedWriter(int fd, qint64 at) : m_fd(fd), m_settled(at) {}
    bool write(const char* bytes, qint64 length, qint64 at);

private:
    const int m_fd;
    qint64 m_settled;  // written back and released up to here
};

} // namespace logio
