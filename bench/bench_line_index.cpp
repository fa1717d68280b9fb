// SPDX-License-Identifier: GPL-3.0-or-later
// The line index alone, over a log of any length made of one line repeated: lines of N characters
// and CR LF, as the view writes them. The text is one small block mapped again and again over a
// reserved range, so a log of many gigabytes costs a few MiB of memory and no disk; the index
// reads it as it would read the store's mapping.
//
// Prints the time to index it (in 1 MiB appends, as a flood arrives), the index's own bytes and
// the anonymous memory it added, and how long lookups take (line to offset and
// offset to line, at random and at both ends, each checked against the arithmetic).
//
// Usage: bench_line_index [characters a line, default 78] [GB of log, default 1]
#include "loglineindex.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

long rssKiB()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "RssAnon:", 8) == 0)
            kib = std::atol(line + 8);
    std::fclose(f);
    return kib;
}

} // namespace

int main(int argc, char** argv)
{
    const qint64 chars = argc > 1 ? std::atoll(argv[1]) : 78;
    const double gb = argc > 2 ? std::atof(argv[2]) : 1.0;
    const qint64 period = chars + 2;
    const qint64 page = ::sysconf(_SC_PAGESIZE);
    // A block of whole lines and whole pages, about 4 MiB.
    const qint64 block = period * page * std::max<qint64>(1, (qint64(4) << 20) / (period * page));
    const qint64 blocks = std::max<qint64>(1, qint64(gb * 1e9) / block);
    const qint64 size = blocks * block;

    const int fd = ::memfd_create("text", 0);
    if (fd < 0 || ::ftruncate(fd, block) != 0)
        return 1;
    char* one = static_cast<char*>(::mmap(nullptr, std::size_t(block), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    for (qint64 i = 0; i < block; ++i)
        one[i] = i % period == chars ? '\r' : i % period == chars + 1 ? '\n' : 'a';
    char* text = static_cast<char*>(
        ::mmap(nullptr, std::size_t(size), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    for (qint64 b = 0; b < blocks; ++b)
        if (::mmap(text + b * block, std::size_t(block), PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED)
            return 1;

    const long before = rssKiB();
    LogLineIndex index;
    index.clear(text);
    QElapsedTimer timer;
    timer.start();
    const qint64 piece = qint64(1) << 20;
    for (qint64 at = 0; at < size; at += piece)
        index.appended(at, text + at, std::min(piece, size - at));
    const double indexSeconds = double(timer.nsecsElapsed()) / 1e9;
    const long after = rssKiB();

    // Lookups: both ends, then at random, each timed alone.
    const qint64 lines = size / period + 1;
    std::mt19937_64 rng(1);
    std::vector<qint64> took;
    bool exact = index.lineCount() == lines;
    for (int i = 0; i < 20000; ++i) {
        const qint64 line = i < 4 ? (i % 2 ? lines - 1 - i / 2 : i / 2) : qint64(rng() % std::uint64_t(lines));
        const qint64 offset = i < 4 ? (i % 2 ? size - i / 2 : i / 2) : qint64(rng() % std::uint64_t(size + 1));
        timer.restart();
        const qint64 start = index.lineStart(line);
        const qint64 of = index.lineOf(offset);
        took.push_back(timer.nsecsElapsed());
        exact = exact && start == line * period && of == std::min(offset / period, lines - 1);
    }
    std::sort(took.begin(), took.end());
    std::printf("log:              %.2f GB, %lld lines of %lld characters and CR LF\n", double(size) / 1e9,
                static_cast<long long>(lines - 1), static_cast<long long>(chars));
    std::printf("indexed:          %.3f s (%.2f GB/s)\n", indexSeconds, double(size) / 1e9 / indexSeconds);
    std::printf("index bytes:      %lld (%.5f a byte of log)\n", static_cast<long long>(index.bytesUsed()),
                double(index.bytesUsed()) / double(size));
    std::printf("anon RSS added:   %ld KiB\n", after - before);
    // The slowest may be a moment the machine gave to something else: the 99th percentile beside it.
    std::printf("lookup p99 / max: %.3f / %.3f ms (line to offset and offset to line, 20000 of each)\n",
                double(took[took.size() * 99 / 100]) / 1e6, double(took.back()) / 1e6);
    std::printf("exact:            %s\n", exact ? "yes" : "no");
    return exact ? 0 : 1;
}
