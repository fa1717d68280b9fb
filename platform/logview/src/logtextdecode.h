// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turning a log line's bytes into the text shown on screen, and stepping through bytes by
// character. The bytes are never changed; only their rendering is.
#include <QString>
#include <QtGlobal>
#include <vector>

namespace logtext {

// Length of the well-formed UTF-8 sequence at p (1 to 4), or 0 when the bytes there do not start
// one (a stray continuation byte, an overlong form, a surrogate, a truncated sequence...).
int utf8SequenceLength(const char* p, qint64 available);

// A line's bytes as shown: what cannot be shown as it is gets a stand-in character.
//   invalid UTF-8      U+FFFD, one per byte
//   NUL and other C0   the matching control picture (U+2400 + byte), TAB kept; DEL is U+2421
//   CR (a lone one)    U+240D
//   U+2028, U+2029     U+2424, so that a line stays one line
struct ShownText {
    QString text;
    // byteOf[i] is the offset, in the line's bytes, of the character holding text[i];
    // byteOf[text.size()] is shownBytes. Never decreasing.
    std::vector<qint32> byteOf;
    qint64 shownBytes = 0;  // bytes rendered: all of them, or fewer when the line is longer than the cap
};

// Decodes data[0, length), stopping before the first character that would reach past maxBytes.
ShownText decodeForDisplay(const char* data, qint64 length, qint64 maxBytes);

// The character index in `shown` where byte `offset` (relative to the line) falls: the first
// character starting at or after it.
qsizetype charIndexOfByte(const ShownText& shown, qint64 offset);

// Moving through a buffer one character at a time: a well-formed UTF-8 sequence, a CR LF pair or a
// CR CR LF line end is one step, any other byte is one step on its own.
qint64 nextCharBoundary(const char* data, qint64 size, qint64 pos);
qint64 prevCharBoundary(const char* data, qint64 size, qint64 pos);
// pos, or the start of the UTF-8 sequence that pos falls inside.
qint64 charStartAt(const char* data, qint64 size, qint64 pos);

} // namespace logtext
