// SPDX-License-Identifier: GPL-3.0-or-later
#include "loglinelayout.h"

#include <QTextLine>
#include <algorithm>

namespace {

// Whether text holds a run of more characters without a blank than any row is wide. Such a run
// is broken anywhere in either wrap mode, but looking for a word boundary in it takes Qt time
// that grows with the square of its length (a 64 KiB line of one word took 100 ms).
bool hasLongWord(const QString& text)
{
    constexpr qsizetype kLongWord = 1024;
    if (text.size() <= kLongWord)
        return false;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > kLongWord)
            return true;
    }
    return false;
}

} // namespace

LogLineLayout::LogLineLayout(const Key& key, const char* lineBytes, const QFont& font, int wrapWidth,
                             int rowHeight, const QColor& noteColor)
    : m_key(key)
    , m_shown(logtext::decodeForDisplay(lineBytes, key.end - key.start, kMaxShownBytes))
    , m_rowHeight(std::max(1, rowHeight))
{
    QString& text = m_text;
    text = m_shown.text;
    const qint64 hidden = (key.end - key.start) - m_shown.shownBytes;
    QList<QTextLayout::FormatRange> formats;
    if (hidden > 0) {
        QTextLayout::FormatRange note;
        note.start = int(text.size());
        text += QStringLiteral(u" \u2026 [the rest of this long line is not shown]");
        note.length = int(text.size()) - note.start;
        note.format.setForeground(noteColor);
        note.format.setFontItalic(true);
        formats.append(note);
    }

    m_layout.setText(text);
    m_layout.setFont(font);
    m_layout.setFormats(formats);
    m_layout.setCacheEnabled(true);
    QTextOption option;
    option.setWrapMode(wrapWidth <= 0           ? QTextOption::NoWrap
                       : hasLongWord(m_shown.text) ? QTextOption::WrapAnywhere
                                                   : QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_layout.setTextOption(option);

    // Rows sit at fixed steps so that heights add up without measuring every line.
    const qreal width = wrapWidth > 0 ? qreal(wrapWidth) : 1.0e6;
    m_rows = 0;
    m_layout.beginLayout();
    for (QTextLine row = m_layout.createLine(); row.isValid(); row = m_layout.createLine()) {
        row.setLineWidth(width);
        row.setPosition(QPointF(0, qreal(m_rows) * m_rowHeight));
        m_naturalWidth = std::max(m_naturalWidth, row.naturalTextWidth());
        ++m_rows;
    }
    m_layout.endLayout();
    m_rows = std::max(1, m_rows);
}

bool LogLineLayout::adoptIfSame(const Key& key)
{
    if (key == m_key)
        return true;
    // Past the cap (and the few bytes a character there may look ahead at), growth changes nothing shown.
    const bool grownPastCap = key.line == m_key.line && key.start == m_key.start
        && key.generation == m_key.generation && key.end >= m_key.end
        && m_key.end - m_key.start >= kMaxShownBytes + 3;
    if (grownPastCap)
        m_key.end = key.end;
    return grownPastCap;
}

int LogLineLayout::charOfByte(qint64 offset) const
{
    if (offset >= m_key.end)
        return int(text().size());
    return int(logtext::charIndexOfByte(m_shown, std::max<qint64>(0, offset - m_key.start)));
}

qint64 LogLineLayout::byteOfChar(int index) const
{
    if (index < 0)
        return m_key.start;
    if (std::size_t(index) < m_shown.byteOf.size())
        return m_key.start + m_shown.byteOf[std::size_t(index)];
    return m_key.end;
}

int LogLineLayout::hitChar(QPointF local) const
{
    const int row = std::clamp(int(local.y()) / m_rowHeight, 0, std::max(0, m_layout.lineCount() - 1));
    const QTextLine line = m_layout.lineAt(row);
    if (!line.isValid())
        return 0;
    return line.xToCursor(local.x());
}

qreal LogLineLayout::endX() const
{
    const QTextLine line = m_layout.lineAt(m_layout.lineCount() - 1);
    return line.isValid() ? line.naturalTextWidth() : 0;
}
