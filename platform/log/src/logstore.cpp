// SPDX-License-Identifier: GPL-3.0-or-later
#include "logstore.h"
#include "platform/namelessfile.h"


#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Addresses reserved for the log: the most it can hold. Reserved addresses cost no memory.
constexpr qint64 kReserveBytes = qint64(4) << 40;
constexpr qint64 kSmallestReserve = qint64(1) << 30;
constexpr qint64 kCopyChunk = qint64(64) << 20;
constexpr qint64 kCopyBlock = qint64(4) << 20;
constexpr qint64 kPieceBytes = qint64(8) << 20;  // a piece of a save
// The bytes a paced writer leaves for the disk to catch up with, and the front it keeps cached.
constexpr qint64 kDirtyWindow = qint64(32) << 20;
constexpr qint64 kKeptFront = qint64(1) << 20;
constexpr qint64 kTrimBytes = qint64(64) << 20;
// The most the writer writes in one call, and the written pages kept as room for the tail.
constexpr qint64 kWriteChunk = qint64(4) << 20;
constexpr qint64 kSpareTail = qint64(8) << 20;
constexpr qint64 kMostTakenIn = qint64(16) << 20;

qint64 pageSize()
{
    static const qint64 size = ::sysconf(_SC_PAGESIZE);
    return size;
}

qint64 roundDown(qint64 v) { return v / pageSize() * pageSize(); }
qint64 roundUp(qint64 v) { return (v + pageSize() - 1) / pageSize() * pageSize(); }

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// The file fd holds, opened again to write past the page cache; -1 where that cannot be.
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

// Writes a file in order through the page cache, keeping its dirty pages few: the disk is started
// on each write at once, and the writes more than a window back are waited for and their pages let
// go (but for the file's first ones, and those mapped, which the kernel keeps). So the newest bytes,
// the first and those in view stay at hand for the window, the writer is never held up by memory
// full of dirty pages, pages are reused while they are warm, and the kernel is not left with
// gigabytes to write back afterwards. A failure to write back is a failed write.
class PacedWriter {
public:
    PacedWriter(int fd, qint64 at) : m_fd(fd), m_settled(at) {}

    bool write(const char* bytes, qint64 length, qint64 at)
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

private:
    const int m_fd;
    qint64 m_settled;  // written back and let go up to here
};

// Copies length bytes from in (at inOffset) to out (at its file offset, or outOffset when given),
// in the kernel where it can; returns the bytes copied, which is fewer at the end of in, or -1.
qint64 copyBytes(int in, qint64 inOffset, int out, qint64* outOffset, qint64 length)
{
    qint64 copied = 0;
    loff_t from = inOffset;
    bool kernel = true;
    std::vector<char> buffer;
    while (copied < length) {
        const qint64 chunk = std::min(length - copied, kCopyChunk);
        ssize_t n = -1;
        if (kernel) {
            loff_t to = outOffset ? *outOffset : 0;
            n = ::copy_file_range(in, &from, out, outOffset ? &to : nullptr, std::size_t(chunk), 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP
                          || errno == EBADF)) {
                kernel = false;
                continue;
            }
            if (n > 0 && outOffset)
                *outOffset = to;
        } else {
            buffer.resize(std::size_t(std::min(chunk, qint64(8) << 20)));
            n = ::pread(in, buffer.data(), buffer.size(), from);
            if (n > 0) {
                if (!writeAll(out, buffer.data(), n, outOffset ? *outOffset : -1))
                    return -1;
                from += n;
                if (outOffset)
                    *outOffset += n;
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        copied += n;
    }
    return copied;
}

struct Piece {
    qint64 at;
    qint64 length;
};

// Copies each piece of in to the same place in out, on two threads so that one reads while the
// other writes. Where both files allow it the bytes go past the page cache: a large log is then
// read at the disk's speed, and what is written is on the disk when this returns rather than left
// for a sync to write. Elsewhere the kernel copies them, and the disk is started on each piece at
// once. False with errno set when that failed.
bool copyPieces(int in, int out, const std::vector<Piece>& pieces, std::atomic<qint64>* done)
{
    const int directIn = reopenDirect(in, O_RDONLY);
    const int directOut = reopenDirect(out, O_WRONLY);
    const bool direct = directIn >= 0 && directOut >= 0;
    std::atomic<std::size_t> next{0};
    std::atomic<int> error{0};
    const auto work = [&] {
        const std::unique_ptr<char, decltype(&std::free)> buffer(
            direct ? static_cast<char*>(std::aligned_alloc(std::size_t(pageSize()), std::size_t(kPieceBytes)))
                   : nullptr,
            &std::free);
        if (direct && buffer == nullptr)
            error = ENOMEM;
        for (std::size_t i; error == 0 && (i = next++) < pieces.size();) {
            const Piece piece = pieces[i];
            bool ok = direct && ::pread(directIn, buffer.get(), std::size_t(piece.length), piece.at) == piece.length
                      && writeAll(directOut, buffer.get(), piece.length, piece.at);
            // A file system may refuse a direct transfer after all: the kernel copies it then.
            if (!direct || (!ok && errno == EINVAL)) {
                qint64 to = piece.at;
                ok = copyBytes(in, piece.at, out, &to, piece.length) == piece.length;
                ::sync_file_range(out, piece.at, piece.length, SYNC_FILE_RANGE_WRITE);
            }
            if (!ok)
                error = errno != 0 ? errno : EIO;
            else if (done != nullptr)
                done->fetch_add(piece.length);
        }
    };
    std::thread other(work);
    work();
    other.join();
    for (const int f : {directIn, directOut})
        if (f >= 0)
            ::close(f);
    errno = error;
    return error == 0;
}

} // namespace

// Writes the store's bytes out on a thread of its own, in order, from the store's pages: the bytes
// up to a point are handed on, and written() tells how far it got. The pages written from are
// left alone by the store until then.
class LogStore::Writer {
public:
    // Writes fd from `at` on, from base's bytes.
    Writer(int fd, const char* base, qint64 at)
        : m_base(base), m_direct(reopenDirect(fd, O_WRONLY)), m_out(fd, at), m_want(at), m_done(at)
    {
        m_thread = std::thread([this] { run(); });
    }

    ~Writer()
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

    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    qint64 written() const { return m_done.load(std::memory_order_acquire); }
    int error() const { return m_error.load(std::memory_order_acquire); }

    void writeUpTo(qint64 end)
    {
        {
            const std::lock_guard guard(m_lock);
            m_want = std::max(m_want, end);
        }
        m_wake.notify_one();
    }

    // Until at least `end` is written, or writing failed.
    void waitFor(qint64 end)
    {
        std::unique_lock lock(m_lock);
        m_progress.wait(lock, [&] { return written() >= end || error() != 0; });
    }

private:
    void run()
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

    // Past the page cache where the file system allows it: the newest bytes, which the window
    // shows, are still in memory, and the rest is seldom read again. Elsewhere paced.
    int write(qint64 at, qint64 length)
    {
        if (m_direct >= 0) {
            if (writeAll(m_direct, m_base + at, length, at))
                return 0;
            if (errno != EINVAL)
                return errno;
            ::close(std::exchange(m_direct, -1));
        }
        return m_out.write(m_base + at, length, at) ? 0 : errno;
    }

    const char* const m_base;
    int m_direct;
    PacedWriter m_out;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    qint64 m_want = 0;
    bool m_stop = false;
    std::atomic<qint64> m_done{0};
    std::atomic<int> m_error{0};
    std::thread m_thread;
};

LogStore::LogStore(const QString& folder) : m_folder(QString::fromStdString(cacheFolder(folder.toStdString())))
{
    for (qint64 size = kReserveBytes; size >= kSmallestReserve; size /= 2) {
        void* p = ::mmap(nullptr, std::size_t(size), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) {
            m_base = static_cast<char*>(p);
            m_capacity = size;
            break;
        }
    }
    if (m_base == nullptr)
        qFatal("LogStore: no address range for the log");
}

LogStore::~LogStore()
{
    m_writer.reset();
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
        fail(QStringLiteral("the log has reached the most it can hold"));
        return nullptr;
    }
    reserveTail(m_size + most);
    return m_base + m_size;
}

void LogStore::grow(qint64 length)
{
    if (length <= 0)
        return;
    Q_ASSERT(m_size + length <= m_tailEnd);
    m_size += length;
    if (m_size - m_handedOn >= kFlushBytes && !m_failed)
        handOn();
    if (m_writer && (takeable() - m_onDisk >= kTakeIn || m_writer->error() != 0))
        catchUp();
}

void LogStore::reserveTail(qint64 needed)
{
    if (needed <= m_tailEnd)
        return;
    const qint64 start = std::max(m_tailEnd, m_onDisk);
    const qint64 end = std::min(m_capacity, roundUp(std::max(needed, start + 2 * kFlushBytes)));
    if (::mprotect(m_base + start, std::size_t(end - start), PROT_READ | PROT_WRITE) != 0)
        qFatal("LogStore: no memory for the log's tail");
#ifdef MADV_POPULATE_WRITE
    // The pages are made in one call rather than in a fault each as the bytes reach them.
    ::madvise(m_base + start, std::size_t(end - start), MADV_POPULATE_WRITE);
#endif
    m_tailEnd = end;
}

void LogStore::handOn()
{
    const qint64 end = roundDown(m_size);
    if (end <= m_handedOn)
        return;
    if (m_fd < 0) {
        m_fd = openNamelessFile(m_folder.toStdString());
        if (m_fd < 0) {
            fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(errno)));
            return;
        }
    }
    if (!m_writer)
        m_writer = std::make_unique<Writer>(m_fd, m_base, m_onDisk);
    m_handedOn = end;
    m_writer->writeUpTo(end);
    // A disk far behind holds the appends up, rather than memory growing without end.
    if (m_handedOn - m_writer->written() > kMostInFlight)
        m_writer->waitFor(m_handedOn - kMostInFlight);
}

void LogStore::catchUp()
{
    if (!m_writer || m_failed)
        return;
    // At most kMostTakenIn at once: the pages taken over are freed or moved, which takes time, and
    // a backlog (written during a save, which left the store alone) goes in over several calls.
    const qint64 upTo = std::min(takeable(), m_onDisk + kMostTakenIn);
    if (upTo > m_onDisk)
        takeIn(upTo);
    if (const int err = m_writer->error(); err != 0 && !m_failed)
        fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(err)));
}

qint64 LogStore::takeable() const
{
    return std::min(m_writer->written(), roundDown(std::max<qint64>(0, m_size - kKeptTail)));
}

bool LogStore::writing() const
{
    return m_writer && !m_failed && (m_writer->written() < m_handedOn || takeable() > m_onDisk);
}

bool LogStore::behind() const
{
    return m_writer && !m_failed && m_writer->error() == 0 && m_handedOn - m_writer->written() > kBehind;
}

void LogStore::settle()
{
    if (m_writer && !m_failed)
        m_writer->waitFor(m_handedOn);
    catchUp();
}

void LogStore::takeIn(qint64 written)
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
    letGoOfPages();
}

void LogStore::letGoOfPages()
{
    // Pages of the file that were looked at as the log grew (the lines drawn at its end, the
    // blocks the index scanned) stay with the program until let go: each time the log has grown
    // by kTrimBytes, those of the last two such stretches are (the end drawn just after the last
    // time among them), and come back from the file when looked at again. Those further back stay
    // mapped: the lines in view where the user stopped, which the page cache then keeps too.
    if (m_onDisk - m_trimmedAt >= kTrimBytes) {
        const qint64 from = std::max<qint64>(0, m_trimmedAt - kTrimBytes);
        ::madvise(m_base + from, std::size_t(m_onDisk - from), MADV_DONTNEED);
        m_trimmedAt = m_onDisk;
    }
}

void LogStore::fail(const QString& why)
{
    // From now on the bytes stay in memory; the file keeps what was mapped from it.
    m_failed = true;
    if (m_error.isEmpty() && !m_errorTaken)
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
               == MAP_FAILED)
        qFatal("LogStore: cannot release the log's pages");
    // A new file is made when there is something to write.
    closeInBackground(std::exchange(m_fd, -1));
    m_size = m_onDisk = m_handedOn = m_tailEnd = m_trimmedAt = 0;
    // An empty log may go to disk again: a full disk may have room by now.
    m_failed = false;
    m_errorTaken = false;
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

qint64 LogStore::copyFile(int src, int dst, const std::function<bool(qint64, const char*, qint64)>& copied)
{
    // Where the file system can share the file's blocks the copy costs nothing, and the bytes are
    // read from the copy. Elsewhere each block is read from the file, written to the copy and
    // handed on. Only the parts that hold data are copied: a hole stays a hole.
    const bool cloned = ::ioctl(dst, FICLONE, src) == 0;
    const int from = cloned ? dst : src;  // where the bytes and the holes are read
    PacedWriter out(dst, 0);
    std::vector<char> buffer(static_cast<std::size_t>(kCopyBlock));
    qint64 length = 0;
    bool ok = true;
    for (qint64 pos = 0; ok;) {
        qint64 data = ::lseek(from, pos, SEEK_DATA);
        qint64 hole = data >= 0 ? ::lseek(from, data, SEEK_HOLE) : -1;
        if (data < 0 && errno == ENXIO)
            break;  // nothing but a hole to the end
        if (data < pos || hole <= data) {
            // No such questions here (a pipe, an older file system), or answers that would not
            // move on (a device answers 0 to both): read it all.
            data = pos;
            hole = std::numeric_limits<qint64>::max();
        }
        bool atEnd = false;
        for (pos = data; ok && pos < hole;) {
            const qint64 want = std::min(hole - pos, kCopyBlock);
            const ssize_t got = ::pread(from, buffer.data(), std::size_t(want), pos);
            ok = got >= 0 && (cloned || out.write(buffer.data(), got, pos));
            // Handed on once in the copy: from then on the log's mapping may show them.
            if (ok && got > 0 && !copied(pos, buffer.data(), got)) {
                errno = ECANCELED;
                ok = false;
            }
            if (!ok)
                break;
            pos += got;
            length = std::max(length, pos);
            atEnd = got < want;  // the file's end, wherever it is now
            if (atEnd)
                break;
        }
        if (atEnd)
            break;
    }
    if (!ok)
        return -1;
    // A hole at the end is part of the file; what was copied stays, even if the file shrank since.
    struct stat st{};
    if (::fstat(src, &st) == 0 && S_ISREG(st.st_mode))
        length = std::max<qint64>(length, st.st_size);
    return ::ftruncate(dst, length) == 0 ? length : -1;
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
        letGoOfPages();
    }
    m_tailEnd = std::max(m_tailEnd, m_onDisk);
    m_handedOn = m_onDisk;
    reserveTail(size);
    // The part of the last page stays in memory, where the next bytes are appended after it.
    if (size > whole && ::pread(m_fd, m_base + whole, std::size_t(size - whole), whole) != size - whole)
        return false;
    m_size = size;
    return true;
}

bool LogStore::writeTo(int fd, std::atomic<qint64>* done) const
{
    // The written part file to file, holes kept as holes; then the tail.
    const qint64 size = m_size;
    const qint64 onDisk = m_onDisk;
    if (m_fd < 0)
        return writeAll(fd, m_base, size, 0) && ::ftruncate(fd, size) == 0;
    std::vector<Piece> pieces;
    for (qint64 pos = 0; pos < onDisk;) {
        qint64 data = ::lseek(m_fd, pos, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break;
        data = data < 0 ? pos : std::min(roundDown(data), onDisk);
        qint64 hole = ::lseek(m_fd, data, SEEK_HOLE);
        hole = hole < 0 ? onDisk : std::min(roundUp(hole), onDisk);
        for (pos = data; pos < hole; pos += pieces.back().length)
            pieces.push_back({pos, std::min(hole - pos, kPieceBytes)});
        pos = std::max(hole, data + pageSize());
    }
    return copyPieces(m_fd, fd, pieces, done) && writeAll(fd, m_base + onDisk, size - onDisk, onDisk)
           && ::ftruncate(fd, size) == 0;
}
