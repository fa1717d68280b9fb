// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One line of the log laid out for the screen: its rendering, its QTextLayout, and the mapping
// between character positions in the rendering and byte offsets in the log.
#include "logtextdecode.h"

#include <QColor>
#include <QPointF>
#include <QTextLayout>

class LogLineLayout {
public:
    // What the layout was made from; a layout is reused only while all of it is unchanged.
    struct Key {
        qint64 line = 0;
        qint64 start = 0;       // offset of the line's first byte
        qint64 end = 0;         // offset just past its shown bytes (before CR LF, LF)
        quint64 generation = 0; // bumped when fonts, widths or earlier bytes change
        bool operator==(const Key&) const = default;
    };

    // More bytes than this in one line are kept but not laid out; a note says the line goes on.
    static constexpr qint64 kMaxShownBytes = 64 * 1024;

    // lineBytes points at the line's first byte. wrapWidth <= 0 lays the line out on one row.
    LogLineLayout(const Key& key, const char* lineBytes, const QFont& font, int wrapWidth,
                  int rowHeight, const QColor& noteColor);

    const Key& key() const { return m_key; }
    // Whether this layout shows the line `key` describes; a line cut short that has only grown
    // since still shows the same bytes, and then takes the new end.
    bool adoptIfSame(const Key& key);
    int rows() const { return m_rows; }
    int height() const { return m_rows * m_rowHeight; }
    qreal naturalWidth() const { return m_naturalWidth; }
    const QString& text() const { return m_text; }
    const QTextLayout& layout() const { return m_layout; }

    // Character index (in text()) where absolute byte offset `offset` falls, clamped to the line.
    int charOfByte(qint64 offset) const;
    // Absolute byte offset of character index `index`; the note after a cut line maps to the end.
    qint64 byteOfChar(int index) const;
    // Character index nearest to `local` (relative to the line's top left corner).
    int hitChar(QPointF local) const;
    // x of the end of the last row, for marking a selected line break.
    qreal endX() const;

    int y = 0;  // where the line sits in the viewport

private:
    Key m_key;
    logtext::ShownText m_shown;
    QString m_text;  // the rendering, plus the note when the line is cut
    QTextLayout m_layout;
    int m_rows = 1;
    int m_rowHeight = 1;
    qreal m_naturalWidth = 0;
};
