// SPDX-License-Identifier: GPL-3.0-or-later
#include "logtextdecode.h"

#include <algorithm>

namespace logtext {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

char16_t standInFor(unsigned char c)
{
    if (c == '\r')
        return 0x240D;
    if (c < 0x20)
        return char16_t(0x2400 + c);
    return 0x2421;  // DEL
}

} // namespace

int utf8SequenceLength(const char* p, qint64 available)
{
    if (available <= 0)
        return 0;
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const unsigned char c = u[0];
    if (c < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;  // no overlong forms
        else if (c == 0xED)
            high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (available < length || u[1] < low || u[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (!isContinuation(u[i]))
            return 0;
    }
    return length;
}

ShownText decodeForDisplay(const char* data, qint64 length, qint64 maxBytes)
{
    ShownText out;
    const qint64 limit = std::min(length, maxBytes);
    out.text.reserve(qsizetype(limit));
    out.byteOf.reserve(std::size_t(limit) + 1);
    const auto* u = reinterpret_cast<const unsigned char*>(data);
    qint64 i = 0;
    while (i < limit) {
        const unsigned char c = u[i];
        const auto at = qint32(i);
        if (c >= 0x20 && c < 0x7F) {
            out.text.append(QChar(c));
            out.byteOf.push_back(at);
            ++i;
            continue;
        }
        if (c < 0x80) {
            out.text.append(c == '\t' ? QChar(u'\t') : QChar(standInFor(c)));
            out.byteOf.push_back(at);
            ++i;
            continue;
        }
        const int n = utf8SequenceLength(data + i, length - i);
        if (n == 0) {
            out.text.append(QChar(QChar::ReplacementCharacter));
            out.byteOf.push_back(at);
            ++i;
            continue;
        }
        if (i + n > limit)
            break;
        char32_t cp = c & (0xFF >> (n + 1));
        for (int k = 1; k < n; ++k)
            cp = (cp << 6) | (u[i + k] & 0x3F);
        if (cp == 0x2028 || cp == 0x2029)
            cp = 0x2424;
        if (QChar::requiresSurrogates(cp)) {
            out.text.append(QChar(QChar::highSurrogate(cp)));
            out.text.append(QChar(QChar::lowSurrogate(cp)));
            out.byteOf.push_back(at);
            out.byteOf.push_back(at);
        } else {
            out.text.append(QChar(char16_t(cp)));
            out.byteOf.push_back(at);
        }
        i += n;
    }
    out.shownBytes = i;
    out.byteOf.push_back(qint32(i));
    return out;
}

qsizetype charIndexOfByte(const ShownText& shown, qint64 offset)
{
    if (offset >= shown.shownBytes)
        return shown.text.size();
    const auto it = std::lower_bound(shown.byteOf.begin(), shown.byteOf.end(), offset);
    return qsizetype(it - shown.byteOf.begin());
}

qint64 nextCharBoundary(const char* data, qint64 size, qint64 pos)
{
    if (pos >= size)
        return size;
    if (data[pos] == '\r' && pos + 2 < size && data[pos + 1] == '\r' && data[pos + 2] == '\n')
        return pos + 3;
    if (data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n')
        return pos + 2;
    return pos + std::max(1, utf8SequenceLength(data + pos, size - pos));
}

qint64 prevCharBoundary(const char* data, qint64 size, qint64 pos)
{
    if (pos <= 0)
        return 0;
    pos = std::min(pos, size);
    if (pos >= 2 && data[pos - 2] == '\r' && data[pos - 1] == '\n')
        return pos >= 3 && data[pos - 3] == '\r' ? pos - 3 : pos - 2;
    const qint64 start = charStartAt(data, size, pos - 1);
    return start;
}

qint64 charStartAt(const char* data, qint64 size, qint64 pos)
{
    if (pos <= 0 || pos >= size)
        return std::clamp<qint64>(pos, 0, size);
    const auto* u = reinterpret_cast<const unsigned char*>(data);
    for (qint64 back = 1; back <= 3 && pos - back >= 0; ++back) {
        if (!isContinuation(u[pos - back + 1]))
            break;  // only continuation bytes may sit between a lead byte and pos
        const qint64 lead = pos - back;
        if (isContinuation(u[lead]))
            continue;
        return utf8SequenceLength(data + lead, size - lead) > back ? lead : pos;
    }
    return pos;
}

} // namespace logtext
