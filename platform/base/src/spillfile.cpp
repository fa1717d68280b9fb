// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/spillfile.h"

#include "platform/namelessfile.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

off_t blockOffset(std::uint32_t block) { return off_t(block) * off_t(SpillFile::kBlockBytes); }

// Moves length bytes at offset at through move (pread or pwrite) until all have gone.
template <typename Byte, typename Move>
bool moveAll(Move move, Byte* bytes, std::size_t length, off_t at)
{
    while (length > 0) {
        const ssize_t n = move(bytes, length, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        length -= std::size_t(n);
        at += n;
    }
    return true;
}

bool writeAt(int fd, const char* data, std::size_t length, off_t at)
{
    return moveAll([fd](const char* p, std::size_t n, off_t o) { return ::pwrite(fd, p, n, o); }, data, length, at);
}

bool readAt(int fd, char* out, std::size_t length, off_t at)
{
    return moveAll([fd](char* p, std::size_t n, off_t o) { return ::pread(fd, p, n, o); }, out, length, at);
}

} // namespace

SpillFile::~SpillFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SpillFile::Append(Run& run, const char* data, std::size_t length)
{
    if (m_fd < 0 && (m_fd = openNamelessFile(cacheFolder({}))) < 0)
        return false;
    const std::size_t blocksBefore = run.blocks.size();
    std::uint64_t size = run.size;
    while (length > 0) {
        const std::size_t used = std::size_t(size % kBlockBytes);
        if (used == 0 && size / kBlockBytes == run.blocks.size()) {
            if (m_free.empty()) {
                run.blocks.push_back(m_blocks++);
            } else {
                run.blocks.push_back(m_free.back());
                m_free.pop_back();
            }
        }
        const std::size_t n = std::min(length, kBlockBytes - used);
        if (!writeAt(m_fd, data, n, blockOffset(run.blocks.back()) + off_t(used))) {
            // The run stays as it was; the blocks taken for it are free again.
            m_free.insert(m_free.end(), run.blocks.begin() + std::ptrdiff_t(blocksBefore), run.blocks.end());
            run.blocks.resize(blocksBefore);
            return false;
        }
        data += n;
        length -= n;
        size += n;
    }
    run.size = size;
    return true;
}

bool SpillFile::Read(const Run& run, char* out) const
{
    std::uint64_t left = run.size;
    for (const std::uint32_t block : run.blocks) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(left, kBlockBytes));
        if (!readAt(m_fd, out, n, blockOffset(block)))
            return false;
        out += n;
        left -= n;
    }
    return true;
}

void SpillFile::Release(Run& run)
{
    for (const std::uint32_t block : run.blocks) {
        // The disk space goes back at once; the block's number is used again.
        ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, blockOffset(block), off_t(kBlockBytes));
        m_free.push_back(block);
    }
    run.blocks.clear();
    run.size = 0;
}
