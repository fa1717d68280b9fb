// SPDX-License-Identifier: GPL-3.0-or-later
#include "logstore.h"
#include "logio.h"
#include "logwriter.h"

#include "platform/namelessfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace logio;

namespace {

// Addresses reserved for the log: the most it can hold. Reserved addresses cost no memory.
constexpr qint64 kReserveBytes = qint64(4) << 40;
constexpr qint64 kSmallestReserve = qint64(64) << 20;
// Each time the log has grown by this much, the file's pages looked at are released.
constexpr qint64 kReleaseBytes = qint64(64) << 20;
// The written pages kept as room for the tail, and the most mapped in at once.
constexpr qint64 kSpareTail = qint64(8) << 20;
constexpr qint64 kMostMappedAtOnce = qint64(16) << 20;
// Pages change place in whole page tables (kTableReach): a move of whole tables hands each table
// over as it is, where one of loose pages rewrites an entry a page; and on virtual machines whose
// host keeps page tables of its own beside the guest's, a page whose entry was rewritten costs a
// trip to the host the next time it is touched. Writing lines into the tail ran twenty times
// slower so.
qint64 tableRoundDown(qint64 v) { return roundDown(v, LogStore::kTableReach); }
qint64 tableRoundUp(qint64 v) { return roundUp(v, LogStore::kTableReach); }

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

} // namespace

LogStore::LogStore(const QString& folder) : m_folder(QString::fromStdString(cacheFolder(folder.toStdString())))
{
    reserve();
}

// The largest range of addresses the system gives, from kReserveBytes down; without one the log
// holds nothing, and says why.
void LogStore::reserve()
{
    for (qint64 size = kReserveBytes; size >= kSmallestReserve; size /= 2) {
        // One table's reach more than asked, so that the range can start where a table does.
        void* p = ::mmap(nullptr, std::size_t(size + kTableReach), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                         -1, 0);
        if (p != MAP_FAILED) {
            char* const start = static_cast<char*>(p);
            const qint64 skip = tableRoundUp(qint64(reinterpret_cast<quintptr>(start))) - qint64(reinterpret_cast<quintptr>(start));
            if (skip > 0)
                ::munmap(start, std::size_t(skip));
            if (kTableReach - skip > 0)
                ::munmap(start + skip + size, std::size_t(kTableReach - skip));
            m_base = start + skip;
            m_capacity = size;
            return;
        }
    }
    m_base = nullptr;
    m_capacity = 0;
    refuse(QStringLiteral("no range of addresses for the log: %1").arg(errnoText(errno)));
}

LogStore::~LogStore()
{
    m_writer.reset();
    if (m_base != nullptr)
        ::munmap(m_base, std::size_t(m_capacity));
    closeInBackground(m_fd);
}

void LogStore::append(const char* bytes, qint64 length)
{
    if (length <= 0)
        return;
    if (char* to = room(length)) {
        std::memcpy(to, bytes, std::size_t(length));
        grow(length);
    }
}

char* LogStore::room(qint64 most)
{
    if (m_size + std::max<qint64>(most, 0) > m_capacity) {
        refuse(QStringLiteral("the log has reached the most it can hold"));
        return nullptr;
    }
    if (!reserveTail(m_size + most)) {
        refuse(QStringLiteral("no memory for the log's newest bytes: %1").arg(errnoText(errno)));
        return nullptr;
    }
    return m_base + m_size;
}

void LogStore::grow(qint64 length)
{
    if (length <= 0)
        return;
    Q_ASSERT(m_size + length <= m_tailEnd);
    m_size += length;
    if (m_size - m_flushed >= kFlushBytes && !m_failed)
        flush();
    if (m_writer && (mappable() - m_onDisk >= kMapStep || m_writer->error() != 0))
        commit();
}

bool LogStore::reserveTail(qint64 needed, bool ahead)
{
    if (needed <= m_tailEnd)
        return true;
    const qint64 start = std::max(m_tailEnd, m_onDisk);
    const qint64 end = std::min(m_capacity, ahead ? tableRoundUp(std::max(needed, start + 2 * kFlushBytes)) : roundUp(needed));
    if (::mprotect(m_base + start, std::size_t(end - start), PROT_READ | PROT_WRITE) != 0)
        return false;
#ifdef MADV_POPULATE_WRITE
    // The pages are made in one call rather than in a fault each as the bytes reach them.
    ::madvise(m_base + start, std::size_t(end - start), MADV_POPULATE_WRITE);
#endif
    m_tailEnd = end;
    return true;
}

void LogStore::flush()
{
    const qint64 end = roundDown(m_size);
    if (end <= m_flushed)
        return;
    if (m_fd < 0) {
        m_fd = openNamelessFile(m_folder.toStdString());
        if (m_fd < 0) {
            fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(errno)));
            return;
        }
    }
    if (!m_writer)
        m_writer = std::make_unique<LogWriter>(m_fd, m_base, m_onDisk);
    m_flushed = end;
    m_writer->writeUpTo(end);
    // A disk far behind holds the appends up, rather than memory growing without end.
    if (m_flushed - m_writer->written() > kMostInFlight)
        m_writer->waitFor(m_flushed - kMostInFlight);
}

void LogStore::commit()
{
    if (!m_writer || m_failed)
        return;
    // At most kMostMappedAtOnce at once: the pages taken over are freed or moved, which takes time, and
    // a backlog (written during a save, which left the store alone) goes in over several calls.
    const qint64 upTo = std::min(mappable(), tableRoundDown(m_onDisk + kMostMappedAtOnce));
    if (upTo > m_onDisk)
        mapWritten(upTo);
    if (const int err = m_writer->error(); err != 0 && !m_failed)
        fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(err)));
}

qint64 LogStore::mappable() const
{
    return tableRoundDown(std::min(m_writer->written(), std::max<qint64>(0, m_size - kKeptTail)));
}

bool LogStore::writing() const
{
    return m_writer && !m_failed && (m_writer->written() < m_flushed || mappable() > m_onDisk);
}

bool LogStore::behind() const
{
    return m_writer && !m_failed && m_writer->error() == 0 && m_flushed - m_writer->written() > kBehind;
}

void LogStore::settle()
{
    if (m_writer && !m_failed)
        m_writer->waitFor(m_flushed);
    commit();
}

void LogStore::mapWritten(qint64 written)
{
    // The file's pages take the place of the written ones; the page table entry swap is atomic.
    const qint64 at = m_onDisk;
    const qint64 length = written - at;
    void* fresh = ::mmap(nullptr, std::size_t(length), PROT_READ, MAP_SHARED, m_fd, at);
    if (fresh == MAP_FAILED) {
        fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(errno)));
        return;
    }
    // The written pages move on to the tail's end, as room for the next bytes: memory at hand,
    // where fresh pages would cost a fault each. Their old place stays mapped meanwhile.
    const bool reused = m_tailEnd - m_size < kSpareTail && m_tailEnd + length <= m_capacity
                        && ::mremap(m_base + at, std::size_t(length), std::size_t(length),
                                    MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP, m_base + m_tailEnd)
                               != MAP_FAILED;
    if (::mremap(fresh, std::size_t(length), std::size_t(length), MREMAP_MAYMOVE | MREMAP_FIXED, m_base + at)
        == MAP_FAILED) {
        const int err = errno;
        ::munmap(fresh, std::size_t(length));
        if (reused)
            std::memcpy(m_base + at, m_base + m_tailEnd, std::size_t(length));
        fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(err)));
        return;
    }
    if (reused)
        m_tailEnd += length;
    m_onDisk = written;
    releasePages();
}

void LogStore::releasePages()
{
    // Pages of the file that were looked at as the log grew (the lines drawn at its end, the
    // blocks the index scanned) stay with the program until let go: each time the log has grown
    // by kReleaseBytes, those of the last two such stretches are (the end drawn just after the last
    // time among them), and come back from the file when looked at again. Those further back stay
    // mapped: the lines in view where the user stopped, which the page cache then keeps too.
    if (m_onDisk - m_releasedAt >= kReleaseBytes) {
        const qint64 from = std::max<qint64>(0, m_releasedAt - kReleaseBytes);
        ::madvise(m_base + from, std::size_t(m_onDisk - from), MADV_DONTNEED);
        m_releasedAt = m_onDisk;
    }
}

void LogStore::fail(const QString& why)
{
    // From now on the bytes stay in memory; the file keeps what was mapped from it.
    m_failed = true;
    if (m_error.isEmpty() && !m_errorTaken)
        m_error = why;
}

void LogStore::refuse(const QString& why)
{
    // Told even after a failed write was: what is lost from now on matters more.
    if (m_refusing)
        return;
    m_refusing = true;
    m_error = why;
}

QString LogStore::takeError()
{
    if (!m_error.isEmpty())
        m_errorTaken = true;
    return std::exchange(m_error, QString());
}

void LogStore::clear()
{
    m_writer.reset();
    const qint64 used = std::max(m_tailEnd, m_onDisk);
    if (used > 0
        && ::mmap(m_base, std::size_t(used), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0)
               == MAP_FAILED) {
        // The pages cannot be given back in place: the whole range goes, and a new one is taken.
        ::munmap(m_base, std::size_t(m_capacity));
        reserve();
    }
    // A new file is made when there is something to write.
    closeInBackground(std::exchange(m_fd, -1));
    m_size = m_onDisk = m_flushed = m_tailEnd = m_releasedAt = 0;
    // An empty log may go to disk again: a full disk may have room by now.
    m_failed = false;
    m_errorTaken = false;
    m_refusing = m_capacity == 0;
}

int LogStore::newFile(QString* why)
{
    clear();
    if (m_fd < 0)
        m_fd = openNamelessFile(m_folder.toStdString());
    if (m_fd < 0 && why != nullptr)
        *why = QStringLiteral("%1: %2").arg(m_folder, errnoText(errno));
    return m_fd;
}

bool LogStore::growFromFile(qint64 size)
{
    if (size > m_capacity) {
        errno = EFBIG;
        return false;
    }
    const qint64 whole = roundDown(size);
    if (whole > m_onDisk) {
        if (::mmap(m_base + m_onDisk, std::size_t(whole - m_onDisk), PROT_READ, MAP_SHARED | MAP_FIXED, m_fd,
                   m_onDisk) == MAP_FAILED)
            return false;
        m_onDisk = whole;
        releasePages();
    }
    m_tailEnd = std::max(m_tailEnd, m_onDisk);
    m_flushed = m_onDisk;
    // Only the last page's room: while a file comes in, the next call maps the file over whatever
    // room lay past it, and fresh pages made there each frame cost a fault each for nothing.
    if (!reserveTail(size, false))
        return false;
    // The part of the last page stays in memory, where the next bytes are appended after it.
    if (size > whole && ::pread(m_fd, m_base + whole, std::size_t(size - whole), whole) != size - whole)
        return false;
    m_size = size;
    return true;
}

