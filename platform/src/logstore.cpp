#include "logstore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
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
constexpr qint64 kTrimBytes = qint64(64) << 20;

qint64 pageSize()
{
    static const qint64 size = ::sysconf(_SC_PAGESIZE);
    return size;
}

qint64 roundDown(qint64 v) { return v / pageSize() * pageSize(); }
qint64 roundUp(qint64 v) { return (v + pageSize() - 1) / pageSize() * pageSize(); }

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString cacheFolder(const QString& folder)
{
    if (!folder.isEmpty())
        return folder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Sumpwell");
}

// A new, nameless file in folder, or -1 with errno set.
int openNamelessFile(const QString& folder)
{
    if (!QDir().mkpath(folder)) {
        errno = ENOENT;
        return -1;
    }
    const QByteArray path = QFile::encodeName(folder);
    int fd = ::open(path.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // A file system without nameless files: a named one, unlinked at once.
    QByteArray name = path + "/log-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
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

} // namespace

LogStore::LogStore(const QString& folder) : m_folder(cacheFolder(folder))
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
    ::munmap(m_base, std::size_t(m_capacity));
    if (m_fd >= 0)
        ::close(m_fd);
}

void LogStore::append(const char* bytes, qint64 length)
{
    if (length <= 0)
        return;
    if (m_size + length > m_capacity) {
        fail(QStringLiteral("the log has reached the most it can hold"));
        return;
    }
    reserveTail(m_size + length);
    std::memcpy(m_base + m_size, bytes, std::size_t(length));
    m_size += length;
    if (m_size - m_onDisk >= kFlushBytes && !m_failed)
        flush();
}

void LogStore::reserveTail(qint64 needed)
{
    if (needed <= m_tailEnd)
        return;
    const qint64 start = std::max(m_tailEnd, m_onDisk);
    const qint64 end = std::min(m_capacity, roundUp(std::max(needed, start + 2 * kFlushBytes)));
    if (::mprotect(m_base + start, std::size_t(end - start), PROT_READ | PROT_WRITE) != 0)
        qFatal("LogStore: no memory for the log's tail");
    m_tailEnd = end;
}

void LogStore::flush()
{
    const qint64 length = roundDown(m_size - m_onDisk);
    if (length <= 0)
        return;
    if (m_fd < 0) {
        m_fd = openNamelessFile(m_folder);
        if (m_fd < 0) {
            fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(errno)));
            return;
        }
    }
    if (!writeAll(m_fd, m_base + m_onDisk, length, m_onDisk)) {
        fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(errno)));
        return;
    }
    // The file's pages take the place of the written ones; the page table entry swap is atomic.
    void* fresh = ::mmap(nullptr, std::size_t(length), PROT_READ, MAP_SHARED, m_fd, m_onDisk);
    if (fresh == MAP_FAILED
        || ::mremap(fresh, std::size_t(length), std::size_t(length), MREMAP_MAYMOVE | MREMAP_FIXED,
                    m_base + m_onDisk) == MAP_FAILED) {
        const int err = errno;
        if (fresh != MAP_FAILED)
            ::munmap(fresh, std::size_t(length));
        fail(QStringLiteral("%1: %2").arg(m_folder, errnoText(err)));
        return;
    }
    m_onDisk += length;
    letGoOfPages();
}

void LogStore::letGoOfPages()
{
    // Pages of the file that were looked at as the log grew (the lines drawn at its end, the
    // blocks the index scanned) stay with the program until let go; every so often those written
    // since the last time are, and come back from the file when they are looked at again.
    if (m_onDisk - m_trimmedAt >= kTrimBytes) {
        ::madvise(m_base + m_trimmedAt, std::size_t(m_onDisk - m_trimmedAt), MADV_DONTNEED);
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
    const qint64 used = std::max(m_tailEnd, m_onDisk);
    if (used > 0
        && ::mmap(m_base, std::size_t(used), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0)
               == MAP_FAILED)
        qFatal("LogStore: cannot release the log's pages");
    if (m_fd >= 0 && ::ftruncate(m_fd, 0) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_size = m_onDisk = m_tailEnd = m_trimmedAt = 0;
    // An empty log may go to disk again: a full disk may have room by now.
    m_failed = false;
    m_errorTaken = false;
}

int LogStore::newFile(QString* why)
{
    clear();
    if (m_fd < 0)
        m_fd = openNamelessFile(m_folder);
    if (m_fd < 0 && why != nullptr)
        *why = QStringLiteral("%1: %2").arg(m_folder, errnoText(errno));
    return m_fd;
}

qint64 LogStore::copyFile(int src, int dst, const std::function<bool(qint64, const char*, qint64)>& copied)
{
    // Where the file system can share the file's blocks the copy costs nothing; elsewhere the
    // kernel copies each block. The bytes are then read from the copy, while they are fresh, and
    // handed on. Only the parts that hold data are copied: a hole stays a hole.
    const bool cloned = ::ioctl(dst, FICLONE, src) == 0;
    const int from = cloned ? dst : src;  // where the holes are asked for
    std::vector<char> buffer(static_cast<std::size_t>(kCopyBlock));
    qint64 length = 0;
    bool atEnd = false;
    for (qint64 pos = 0; !atEnd;) {
        qint64 data = ::lseek(from, pos, SEEK_DATA);
        qint64 hole = data >= 0 ? ::lseek(from, data, SEEK_HOLE) : -1;
        if (data < 0 && errno == ENXIO)
            break;  // nothing but a hole to the end
        if (data < 0 || hole < 0) {
            // No such questions here (a pipe, an older file system): read it all.
            data = pos;
            hole = std::numeric_limits<qint64>::max();
        }
        for (pos = data; pos < hole;) {
            const qint64 want = std::min(hole - pos, kCopyChunk);
            qint64 out = pos;
            const qint64 n = cloned ? std::min(want, std::max<qint64>(0, ::lseek(dst, 0, SEEK_END) - pos))
                                    : copyBytes(src, pos, dst, &out, want);
            if (n < 0)
                return -1;
            for (qint64 at = pos; at < pos + n;) {
                const ssize_t got = ::pread(dst, buffer.data(), std::size_t(std::min(pos + n - at, kCopyBlock)), at);
                if (got <= 0)
                    return -1;
                if (!copied(at, buffer.data(), got)) {
                    errno = ECANCELED;
                    return -1;
                }
                at += got;
            }
            pos += n;
            length = std::max(length, pos);
            if (n < want) {
                atEnd = true;  // the file's end, wherever it is now
                break;
            }
        }
    }
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
    reserveTail(size);
    // The part of the last page stays in memory, where the next bytes are appended after it.
    if (size > whole && ::pread(m_fd, m_base + whole, std::size_t(size - whole), whole) != size - whole)
        return false;
    m_size = size;
    return true;
}

bool LogStore::writeTo(int fd, std::atomic<qint64>* done) const
{
    // The written part file to file in the kernel, holes kept as holes; then the tail.
    const qint64 size = m_size;
    const qint64 onDisk = m_onDisk;
    qint64 pos = 0;
    while (pos < onDisk && m_fd >= 0) {
        qint64 data = ::lseek(m_fd, pos, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break;
        data = data < 0 ? pos : std::min(data, onDisk);
        qint64 hole = ::lseek(m_fd, data, SEEK_HOLE);
        hole = hole < 0 ? onDisk : std::min(hole, onDisk);
        for (pos = data; pos < hole;) {
            const qint64 n = std::min(hole - pos, kCopyChunk);
            qint64 out = pos;
            if (copyBytes(m_fd, pos, fd, &out, n) != n)
                return false;
            // The disk starts on each piece at once, so that making it durable at the end waits
            // for little more than the last piece.
            ::sync_file_range(fd, pos, n, SYNC_FILE_RANGE_WRITE);
            pos += n;
            if (done != nullptr)
                done->store(pos);
        }
    }
    if (m_fd < 0 && !writeAll(fd, m_base, onDisk, 0))
        return false;
    return writeAll(fd, m_base + onDisk, size - onDisk, onDisk) && ::ftruncate(fd, size) == 0;
}
