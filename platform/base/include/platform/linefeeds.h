// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding the line feeds in a run of bytes, many bytes at a time: log lines are short, and a call
// of memchr for each would cost more than the search itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Calls found(offset) for each line feed in bytes[0, length), in order.
template <typename Found>
inline void ForEachLineFeed(const char* bytes, std::size_t length, Found&& found)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const auto feeds16 = [&](std::size_t at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        return std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf))));
    };
    for (; i + 64 <= length; i += 64) {
        std::uint64_t feeds = feeds16(i) | feeds16(i + 16) << 16 | feeds16(i + 32) << 32 | feeds16(i + 48) << 48;
        for (; feeds != 0; feeds &= feeds - 1)
            found(i + std::size_t(__builtin_ctzll(feeds)));
    }
#endif
    while (i < length) {
        const void* lf = std::memchr(bytes + i, '\n', length - i);
        if (lf == nullptr)
            break;
        const std::size_t at = std::size_t(static_cast<const char*>(lf) - bytes);
        found(at);
        i = at + 1;
    }
}
