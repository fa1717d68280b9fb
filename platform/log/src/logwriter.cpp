// SPDX-License-Identifier: GPL-3.0-or-later
#include "logwriter.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {
// The most the writer writes in one call.
constexpr qint64 kWriteChunk = qint64(4) << 20;
} // namespace

LogWriter::LogWriter(int fd, const char* base, qint64 at)
    : m_base(base), m_direct(logio::reopenDirect(fd, O_WRONLY)), m_out(fd, at), m_want(at), m_done(at)
{
    m_thread = std::thread([this] { run(); });
}

LogWriter::~LogWriter()
{
    {
        const std::lock_guard guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    if (m_direct >= 0)
        ::close(m_direct);
}

void LogWriter::writeUpTo(qint64 end)
{
    {
        const std::lock_guard guard(m_lock);
        m_want = std::max(m_want, end);
    }
    m_wake.notify_one();
}

void LogWriter::waitFor(qint64 end)
{
    std::unique_lock lock(m_lock);
    m_progress.wait(lock, [&] { return written() >= end || error() != 0; });
}

void LogWriter::run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || (error() == 0 && written() < m_want); });
        if (m_stop)
            return;
        const qint64 at = written();
        const qint64 length = std::min(m_want - at, kWriteChunk);
        lock.unlock();
        const int err = write(at, length);
        lock.lock();
        if (err != 0)
            m_error.store(err, std::memory_order_release);
        else
            m_done.store(at + length, std::memory_order_release);
        m_progress.notify_all();
    }
}

// Past the page cache where the file system allows it: the newest bytes, which the window shows,
// are still in memory, and the rest is seldom read again. Elsewhere paced.
int LogWriter::write(qint64 at, qint64 length)
{
    if (m_direct >= 0) {
        if (logio::writeAll(m_direct, m_base + at, length, at))
            return 0;
        if (errno != EINVAL)
            return errno;
        ::close(std::exchange(m_direct, -1));
    }
    return m_out.write(m_base + at, length, at) ? 0 : errno;
}
