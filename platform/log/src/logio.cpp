// SPDX-License-Identifier: GPL-3.0-or-later
#include "logio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace logio {

namespace {
// The bytes a paced writer leaves for the disk to catch up with, and the front it keeps cached.
constexpr qint64 kDirtyWindow = qint64(32) << 20;
constexpr qint64 kKeptFront = qint64(1) << 20;
} // namespace

int reopenDirect(int fd, int access)
{
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return ::open(self, access | O_DIRECT | O_CLOEXEC);
}

bool writeAll(int fd, const char* data, qint64 length, qint64 offset)
{
    while (length > 0) {
        const ssize_t n = offset >= 0 ? ::pwrite(fd, data, std::size_t(std::min(length, kCopyChunk)), offset)
                                      : ::write(fd, data, std::size_t(std::min(length, kCopyChunk)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        length -= n;
        if (offset >= 0)
            offset += n;
    }
    return true;
}

bool PacedWriter::write(const char* bytes, qint64 length, qint64 at)
{
    if (length <= 0)
        return true;
    if (!writeAll(m_fd, bytes, length, at))
        return false;
    ::sync_file_range(m_fd, at, length, SYNC_FILE_RANGE_WRITE);
    const qint64 end = at + length;
    if (end - m_settled < 2 * kDirtyWindow)
        return true;
    const qint64 upTo = roundDown(end - kDirtyWindow);
    if (::sync_file_range(m_fd, m_settled, upTo - m_settled,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER)
        != 0)
        return false;
    const qint64 from = std::max(m_settled, kKeptFront);
    if (upTo > from)
        ::posix_fadvise(m_fd, from, upTo - from, POSIX_FADV_DONTNEED);
    m_settled = upTo;
    return true;
}

} // namespace logio
