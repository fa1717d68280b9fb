// SPDX-License-Identifier: GPL-3.0-or-later
// The log widget: bytes kept exactly, the line index, how a line's bytes are shown, selecting and
// copying, and following the end of a growing log.
#include "log_widget.h"

#include "logtextdecode.h"
#include "wait.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>


namespace {

using testsupport::waitFor;

// How the view appends: the bytes at the end, the end in view.
void append(LogWidget& w, const QByteArray& data)
{
    w.append(data.constData(), data.size());
    w.scrollCaretIntoView();
}

// A log of just these bytes, shown from the top.
void setText(LogWidget& w, const QByteArray& data)
{
    w.clear();
    w.append(data.constData(), data.size());
    w.setSelection(0, 0);
}

// A widget on screen, for what depends on layout.
struct ShownLog {
    LogWidget w;
    ShownLog()
    {
        w.resize(400, 300);
        w.show();
        waitFor([&] { return w.isVisible(); });
    }
    int rowHeight() const { return w.fontMetrics().lineSpacing(); }
    int rowsInView() const { return w.viewport()->height() / rowHeight(); }
    // The middle of row `row`, just right of `prefix`; the text starts 4 pixels from the left.
    QPoint at(int row, const QString& prefix) const
    {
        return QPoint(int(4 + QFontMetricsF(w.font()).horizontalAdvance(prefix) + 1), row * rowHeight() + rowHeight() / 2);
    }
    bool scrollBarCaughtUp() const { return w.verticalScrollBar()->value() == w.firstVisibleLine(); }
    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(w.viewport(), Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, to, w.viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.viewport(), &move);
        QTest::mouseRelease(w.viewport(), Qt::LeftButton, {}, to);
    }
};

} // namespace

TEST(LogTextDecode, ShowsEachByteAsItsCharacterOrAStandIn)
{
    const struct { QByteArray bytes; QString shown; } cases[] = {
        {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", u"a\u00E9\u20AC\U0001F600z"_qs},
        {QByteArray("a\0b", 3), u"a\u2400b"_qs},
        {"a\rb", u"a\u240Db"_qs},
        {"a\tb\x1b[0m\x7f", u"a\tb\u241B[0m\u2421"_qs},
        {"\xFF\xFE", u"\uFFFD\uFFFD"_qs},
        {"\xC0\x80", u"\uFFFD\uFFFD"_qs},                        // overlong NUL
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"_qs},              // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"_qs},    // past U+10FFFF
        {"ok\xE2\x82", u"ok\uFFFD\uFFFD"_qs},                    // cut short at the end
        {"\xE2\x80\xA8", u"\u2424"_qs},                          // a line separator would break the row
    };
    for (const auto& c : cases) {
        const logtext::ShownText shown = logtext::decodeForDisplay(c.bytes.constData(), c.bytes.size(), 100);
        EXPECT_EQ(shown.text, c.shown) << c.bytes.toHex().toStdString();
        EXPECT_EQ(shown.byteOf.size(), std::size_t(shown.text.size()) + 1);
        EXPECT_EQ(shown.byteOf.back(), c.bytes.size());
    }
    // Each character maps back to its first byte (the emoji is two UTF-16 units).
    const QByteArray line = cases[0].bytes;
    const logtext::ShownText shown = logtext::decodeForDisplay(line.constData(), line.size(), 100);
    EXPECT_EQ(shown.byteOf, (std::vector<qint32>{0, 1, 3, 6, 6, 10, 11}));
    EXPECT_EQ(logtext::charIndexOfByte(shown, 4), 3);   // inside the euro sign lands after it
    // A cap stops before a character that would cross it.
    EXPECT_EQ(logtext::decodeForDisplay(line.constData(), line.size(), 5).text, u"a\u00E9"_qs);
}


TEST(LogTextWidgetSelection, KeysSelectAndCopyButEditNothing)
{
    LogWidget w;
    setText(w, "\xE2\x82\xAC" "ab\r\nsecond line\r\n");
    w.setSelection(-5, 0);
    EXPECT_EQ(w.selectionStart(), 0);   // clamped
    QTest::keyClick(&w, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\xE2\x82\xAC");   // one character, three bytes
    QTest::keyClick(&w, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\xE2\x82\xAC" "ab");   // the line break is not part of the line
    QTest::keyClick(&w, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.selectionEnd(), 7);   // CR LF is one step
    QTest::keyClick(&w, Qt::Key_Home);
    QTest::keyClick(&w, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\xE2\x82\xAC" "ab\r\n");

    // Copy puts the selection on the clipboard as text; nothing selected leaves the clipboard alone.
    setText(w, "caf\xC3\xA9 \xFF\r\nnext");
    QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"caf\u00E9 \uFFFD\r\nnext"_qs);
    w.setSelection(3, 3);
    QTest::keyClick(&w, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"caf\u00E9 \uFFFD\r\nnext"_qs);
    append(w, "more");   // an append drops the selection
    EXPECT_EQ(w.selectionStart(), w.size());
}

TEST(LogTextWidgetSelection, TheMouseSelectsTheBytesUnderThePointerAndTheyArePaintedHighlighted)
{
    ShownLog log;
    LogWidget& w = log.w;
    setText(w, "alpha beta\r\n\xC3\xA9t\xC3\xA9 ga_mma\r\nlast");
    log.drag(log.at(0, u"al"_qs), log.at(1, u"\u00E9t\u00E9"_qs));
    EXPECT_EQ(w.selectedBytes(), "pha beta\r\n\xC3\xA9t\xC3\xA9");
    // Right of a line's text is its end, before its CR LF; below the last row is the end.
    log.drag(QPoint(1, log.at(0, {}).y()), QPoint(w.viewport()->width() - 2, log.at(0, {}).y()));
    EXPECT_EQ(w.selectedBytes(), "alpha beta");
    log.drag(log.at(1, u"\u00E9t\u00E9 "_qs), QPoint(20, w.viewport()->height() - 2));
    EXPECT_EQ(w.selectedBytes(), "ga_mma\r\nlast");
    QTest::mouseDClick(w.viewport(), Qt::LeftButton, {}, log.at(1, u"\u00E9t\u00E9 ga"_qs));
    EXPECT_EQ(w.selectedBytes(), "ga_mma");

    const auto highlighted = [&] {
        const QImage image = w.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += image.pixel(x, y) == w.palette().color(group, QPalette::Highlight).rgb();
        return n;
    };
    EXPECT_GT(highlighted(), 2 * log.rowHeight());
    w.setSelection(0, 0);
    EXPECT_EQ(highlighted(), 0);
}

TEST(LogTextWidgetView, TheEndStaysInViewAsTheLogGrows)
{
    ShownLog log;
    LogWidget& w = log.w;
    for (int i = 0; i < 2000; ++i)
        append(w, "line " + QByteArray::number(i) + "\r\n");
    EXPECT_EQ(w.firstVisibleLine(), w.lineCount() - log.rowsInView());   // the last line on the bottom row
    EXPECT_TRUE(waitFor([&] { return log.scrollBarCaughtUp(); }));
    // Scrolled back by the user, the end is out of view until the next append brings it back.
    w.verticalScrollBar()->setValue(0);
    EXPECT_FALSE(w.isEndVisible());
    append(w, "one more\r\n");
    EXPECT_EQ(w.firstVisibleLine(), w.lineCount() - log.rowsInView());

    // Wrapped, a long line takes several rows and the end still shows.
    w.setWordWrap(true);
    for (int i = 0; i < 300; ++i)
        append(w, QByteArray("word ").repeated(40) + "\r\n");
    EXPECT_TRUE(w.isEndVisible());
    EXPECT_LE(w.lineCount() - w.firstVisibleLine(), log.rowsInView() / 2);
    EXPECT_TRUE(waitFor([&] { return log.scrollBarCaughtUp(); }));
    EXPECT_FALSE(w.horizontalScrollBar()->isVisible());

    // Once the screen and the scroll bar have caught up, no timer is left running.
    EXPECT_TRUE(waitFor([&] {
        const auto timers = w.findChildren<QTimer*>();
        return std::none_of(timers.begin(), timers.end(), [](const QTimer* t) { return t->isActive(); });
    }));
}

TEST(LogTextWidgetView, AHugeLineWithoutBreakIsKeptWholeAndStillPaints)
{
    ShownLog log;
    LogWidget& w = log.w;
    const QByteArray huge = QByteArray("0123456789abcde\xC3\xA9").repeated(64 * 1024);   // 1.1 MB
    setText(w, huge);
    for (const bool wrap : {false, true}) {   // lays out and paints the start of the line only
        w.setWordWrap(wrap);
        EXPECT_FALSE(w.viewport()->grab().isNull());
    }
    QTest::keyClick(&w, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), huge);
}

TEST(LogTextWidgetSelection, ASelectionTooLargeToCopyIsRefusedWithANotice)
{
    LogWidget w;
    const QByteArray big(65 << 20, 'y');
    w.append(big.constData(), big.size());
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QString notice;
    QObject::connect(&w, &CLogTextWidget::notice, [&](const QString& text) { notice = text; });
    w.selectAllText();
    w.copy();
    EXPECT_TRUE(notice.contains(QStringLiteral("too large to copy")));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}
