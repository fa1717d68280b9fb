// SPDX-License-Identifier: GPL-3.0-or-later
// Log bytes as the screen shows them and as the keys step through them, against the bytes
// themselves. The input's first byte sets the cap on shown bytes, the rest is the line.
//   - The shown text maps each character to the byte it starts at, never backwards, ending at the
//     bytes shown: all of them, or the most that fit under the cap.
//   - A well-formed UTF-8 sequence is one character, the same one QString decodes; any other byte
//     is one stand-in character of its own.
//   - Stepping right and left moves at least one byte, stays in the bytes, lands on a character's
//     start, and each step right is undone by one step left.
#include "logtextdecode.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size == 0)
        return 0;
    const qint64 cap = input[0] == 0 ? 64 * 1024 : input[0];
    const char* data = reinterpret_cast<const char*>(input + 1);
    const qint64 length = qint64(size) - 1;

    const logtext::ShownText shown = logtext::decodeForDisplay(data, length, cap);
    check(shown.byteOf.size() == std::size_t(shown.text.size()) + 1);
    check(shown.byteOf.front() == 0 && shown.byteOf.back() == shown.shownBytes);
    check(shown.shownBytes <= length && (shown.shownBytes == length || shown.shownBytes > cap - 4));
    check(shown.shownBytes <= cap);
    for (std::size_t k = 0; k + 1 < shown.byteOf.size(); ++k)
        check(shown.byteOf[k] <= shown.byteOf[k + 1]);
    for (qsizetype i = 0, j = 0; i < shown.text.size(); i = j) {
        const qint64 at = shown.byteOf[std::size_t(i)];
        for (j = i + 1; j < shown.text.size() && shown.byteOf[std::size_t(j)] == at;)
            ++j;   // the two halves of a surrogate pair
        const qint64 next = shown.byteOf[std::size_t(j)];
        const int n = logtext::utf8SequenceLength(data + at, length - at);
        check(next - at == (n == 0 ? 1 : n));
        check(logtext::charIndexOfByte(shown, at) == i);
        const QString got = shown.text.mid(i, j - i);
        if (n > 1) {   // decoded as QString decodes it, but for the stand-in of U+2028 and U+2029
            const QString expected = QString::fromUtf8(data + at, n);
            check(got == expected || ((expected == u"\u2028" || expected == u"\u2029") && got == u"\u2424"));
        } else if (n == 1 && data[at] >= 0x20 && data[at] != 0x7f) {
            check(got == QString(QLatin1Char(data[at])));
        } else {
            check(got.size() == 1);   // a stand-in of its own
        }
    }

    for (qint64 pos = 0; pos <= length; pos = logtext::nextCharBoundary(data, length, pos)) {
        check(logtext::charStartAt(data, length, pos) == pos);
        if (pos == length)
            break;
        const qint64 next = logtext::nextCharBoundary(data, length, pos);
        check(next > pos && next <= length);
        check(logtext::prevCharBoundary(data, length, next) == pos);
    }
    for (qint64 pos = 0; pos <= length; ++pos) {
        const qint64 start = logtext::charStartAt(data, length, pos);
        check(start <= pos && logtext::charStartAt(data, length, start) == start);
    }
    return 0;
}
