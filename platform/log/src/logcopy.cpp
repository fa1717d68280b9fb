// SPDX-License-Identifier: GPL-3.0-or-later
// Copying a file into the store (opening a log) and the store out to a file (saving it).
#include "logio.h"
#include "logstore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace logio;

namespace {

constexpr qint64 kCopyBlock = qint64(4) << 20;
constexpr qint64 kPieceBytes = qint64(8) << 20;  // a piece of a save

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

qint64 LogStore::copyFile(int src, int dst, const std::function<bool(qint64, const char*, qint64)>& copied)
{
    // Where the file system can share the file's blocks the copy costs nothing, and the bytes are
    // read from the copy. Elsewhere each block is read from the file, written to the copy and
    // handed to the writer. Only the parts that hold data are copied: a hole stays a hole.
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
