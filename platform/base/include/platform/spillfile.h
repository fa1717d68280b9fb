// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bytes set aside on disk rather than in memory: runs of bytes kept in one nameless file of the
// cache folder (made when first needed), in blocks of a fixed size. A run grows at its end, is
// read back whole and let go; the blocks it held go back to the file system at once.
#include <cstddef>
#include <cstdint>
#include <vector>

class SpillFile {
public:
    static constexpr std::size_t kBlockBytes = 64 * 1024;

    struct Run {
        std::vector<std::uint32_t> blocks;
        std::uint64_t size = 0;
    };

    SpillFile() = default;
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Adds length bytes at the run's end; false, with the run as it was, when the file cannot be
    // made or written (a full disk).
    bool Append(Run& run, const char* data, std::size_t length);
    // Reads the whole run (run.size bytes) to out; false when the file could not be read.
    bool Read(const Run& run, char* out) const;
    // Lets go of the run's blocks; the run is empty afterwards.
    void Release(Run& run);

private:
    int m_fd = -1;
    std::uint32_t m_blocks = 0;            // blocks the file has had
    std::vector<std::uint32_t> m_free;     // of those, the ones no run holds
};
