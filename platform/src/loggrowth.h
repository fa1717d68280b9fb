#pragma once
// Growing the log's big buffers without leaving copies behind.
//
// A QByteArray or QList of plain values grows with realloc(). Once a block is larger than the
// biggest size glibc keeps on its heap (32 MiB at most), it gets pages of its own and realloc()
// moves those pages instead of copying them; smaller blocks are copied and the old copy stays
// resident on the heap. So past a small size the capacity jumps straight to a mapped size, and
// doubles from there. Pages that are reserved but not yet written take no memory.
#include <QtGlobal>
#include <algorithm>

namespace loggrowth {

inline constexpr qint64 kSmall = qint64(1) << 20;       // below this, the container grows as it likes
inline constexpr qint64 kMappedStep = qint64(64) << 20; // well above the heap's largest block

// Makes room for `needed` elements in c (a QByteArray or QList).
template <typename Container>
void reserveFor(Container& c, qint64 needed)
{
    using Element = std::remove_cvref_t<decltype(*c.constData())>;
    if (needed <= c.capacity() || needed * qint64(sizeof(Element)) < kSmall)
        return;
    const qint64 mapped = kMappedStep / qint64(sizeof(Element));
    c.reserve(std::max({needed, qint64(c.capacity()) * 2, mapped}));
}

} // namespace loggrowth
