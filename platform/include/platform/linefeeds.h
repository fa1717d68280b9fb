#pragma once
// Finding the line feeds in a run of bytes, many bytes at a time: log lines are short, and a call
// of memchr for each would cost more than the search itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Calls run(at, feeds) for each run of 64 bytes from `at` that holds line feeds, bit k of feeds set
// for a line feed at at + k; the bytes past the last whole run are a run of their own.
template <typename Run>
inline void ForEachLineFeedRun(const char* bytes, std::size_t length, Run&& run)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const auto feeds16 = [&](std::size_t at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        return std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf))));
    };
    for (; i + 64 <= length; i += 64) {
        if (const std::uint64_t feeds = feeds16(i) | feeds16(i + 16) << 16 | feeds16(i + 32) << 32 | feeds16(i + 48) << 48)
            run(i, feeds);
    }
#endif
    for (; i < length; i += 64) {
        std::uint64_t feeds = 0;
        for (std::size_t k = 0; k < 64 && i + k < length; ++k)
            feeds |= std::uint64_t(bytes[i + k] == '\n') << k;
        if (feeds != 0)
            run(i, feeds);
    }
}

// Calls found(offset) for each line feed in bytes[0, length), in order.
template <typename Found>
inline void ForEachLineFeed(const char* bytes, std::size_t length, Found&& found)
{
    ForEachLineFeedRun(bytes, length, [&](std::size_t at, std::uint64_t feeds) {
        for (; feeds != 0; feeds &= feeds - 1)
            found(at + std::size_t(__builtin_ctzll(feeds)));
    });
}
