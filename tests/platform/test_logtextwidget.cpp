// The log widget: bytes kept exactly, the line index, the rendering of a line's bytes, selection,
// copying, read-only input, and following the end of a growing log.
#include "platform/logtextwidget.h"

#include "loglineindex.h"
#include "logtextdecode.h"
#include "wait.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <random>

namespace {

using testsupport::waitFor;

// The widget draws its text this many pixels from the left edge of the viewport.
constexpr int kTextLeft = 4;

// How the view appends a piece of text: caret to the end, put the bytes in, keep the end in view.
void append(CLogTextWidget& w, const QByteArray& data)
{
    w.setSelection(w.size(), w.size());
    w.replaceSelection(data.constData(), data.size());
    w.scrollCaretIntoView();
}

std::vector<qint64> naiveLineStarts(const QByteArray& bytes)
{
    std::vector<qint64> starts{0};
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            starts.push_back(i + 1);
    }
    return starts;
}

void expectIndexMatches(const LogLineIndex& index, const QByteArray& bytes)
{
    const std::vector<qint64> starts = naiveLineStarts(bytes);
    ASSERT_EQ(index.lineCount(), qint64(starts.size()));
    for (std::size_t i = 0; i < starts.size(); ++i) {
        ASSERT_EQ(index.lineStart(qint64(i)), starts[i]) << "line " << i;
        const qint64 end = i + 1 < starts.size() ? starts[i + 1] - 1 : bytes.size();
        ASSERT_EQ(index.lineEnd(qint64(i), bytes.size()), end) << "line " << i;
    }
}

// Bytes of every kind: text, CR, LF, NUL, invalid and multi-byte UTF-8.
QByteArray mixedBytes(std::mt19937& rng, int length)
{
    static const QByteArray pieces[] = {"abc", "\r", "\n", "\r\n", QByteArray("\0", 1), "\xC3\xA9",
                                        "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "\xC3", " ", "x"};
    QByteArray out;
    std::uniform_int_distribution<int> pick(0, int(std::size(pieces)) - 1);
    while (out.size() < length)
        out.append(pieces[pick(rng)]);
    return out;
}

QString shownText(const QByteArray& line)
{
    return logtext::decodeForDisplay(line.constData(), line.size(), 1 << 20).text;
}

// A widget of a fixed size on screen, for what depends on layout.
struct ShownLog {
    CLogTextWidget w;
    ShownLog(QSize size = QSize(400, 300))
    {
        w.setReadOnly(true);
        w.resize(size);
        w.show();
        waitFor([&] { return w.isVisible(); });
    }
    int rowHeight() const { return w.fontMetrics().lineSpacing(); }
    int rowsInView() const { return w.viewport()->height() / rowHeight(); }
    // The viewport point in the middle of row `row`, just right of the first `prefix` characters.
    QPoint at(int row, const QString& prefix) const
    {
        const qreal x = kTextLeft + QFontMetricsF(w.font()).horizontalAdvance(prefix) + 1;
        return QPoint(int(x), row * rowHeight() + rowHeight() / 2);
    }
    bool scrollBarsCaughtUp() const
    {
        const QScrollBar* v = w.verticalScrollBar();
        return v->value() == w.firstVisibleLine() && v->maximum() >= v->value();
    }
    void mouse(QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
    {
        QMouseEvent e(type, pos, w.viewport()->mapToGlobal(pos),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(w.viewport(), &e);
    }
    void drag(QPoint from, QPoint to)
    {
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        mouse(QEvent::MouseMove, to, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }
};

} // namespace

// ---- the line index -------------------------------------------------------------------------------

TEST(LogLineIndex, AppendsInAnyPiecesGiveTheSameStartsAsOneScan)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        const QByteArray all = mixedBytes(rng, 3000);
        LogLineIndex pieces;
        std::uniform_int_distribution<int> chunk(0, 40);
        for (qsizetype at = 0; at < all.size();) {
            const qsizetype n = std::min<qsizetype>(chunk(rng), all.size() - at);
            pieces.appended(at, all.constData() + at, n);
            at += n;
        }
        expectIndexMatches(pieces, all);

        LogLineIndex once;
        once.rebuild(all.constData(), all.size());
        expectIndexMatches(once, all);
    }
}

TEST(LogLineIndex, ReplacingARangeReindexesAroundIt)
{
    struct Case { const char* before; qint64 start, removed; const char* with; };
    const Case cases[] = {
        {"a\nb\nc\nd", 2, 3, "X"},        // two line feeds removed
        {"a\nb\nc\nd", 1, 0, "\n\n"},     // line feeds inserted
        {"a\nb\nc\nd", 0, 7, ""},         // everything removed
        {"a\nb\nc\nd", 0, 0, "z\n"},      // at the very start
        {"a\nb\nc\nd", 7, 0, "\ne"},      // at the very end
        {"\n\n\n", 1, 1, "q\nr\ns"},      // one line feed for two
    };
    for (const Case& c : cases) {
        QByteArray bytes(c.before);
        LogLineIndex index;
        index.rebuild(bytes.constData(), bytes.size());
        bytes.replace(c.start, c.removed, c.with);
        index.replaced(c.start, c.removed, bytes.constData() + c.start, qint64(std::strlen(c.with)));
        SCOPED_TRACE(bytes.toStdString());
        expectIndexMatches(index, bytes);
    }
}

TEST(LogLineIndex, FindsTheLineOfAnOffset)
{
    const QByteArray bytes("ab\ncd\n\nef");
    LogLineIndex index;
    index.rebuild(bytes.constData(), bytes.size());
    const qint64 expected[] = {0, 0, 0, 1, 1, 1, 2, 3, 3, 3};  // offsets 0..size
    for (qint64 offset = 0; offset <= bytes.size(); ++offset)
        EXPECT_EQ(index.lineOf(offset), expected[offset]) << "offset " << offset;
}

// ---- the rendering of a line ----------------------------------------------------------------------

TEST(LogTextDecode, ShowsValidUtf8AsItsCharactersAndMapsEachBackToItsFirstByte)
{
    const QByteArray line("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");  // a é € 😀 z
    const logtext::ShownText shown = logtext::decodeForDisplay(line.constData(), line.size(), 1 << 20);
    EXPECT_EQ(shown.text, QString::fromUtf8(line));
    const std::vector<qint32> byteOf{0, 1, 3, 6, 6, 10, 11};  // 😀 is two UTF-16 units
    EXPECT_EQ(shown.byteOf, byteOf);
    EXPECT_EQ(shown.shownBytes, line.size());
    EXPECT_EQ(logtext::charIndexOfByte(shown, 3), 2);
    EXPECT_EQ(logtext::charIndexOfByte(shown, 4), 3);  // inside € lands after it
    EXPECT_EQ(logtext::charIndexOfByte(shown, 11), 6);
}

TEST(LogTextDecode, ShowsStandInsForWhatCannotBeShownAsItIs)
{
    const struct { QByteArray bytes; QString shown; } cases[] = {
        {QByteArray("a\0b", 3), u"a\u2400b"_qs},
        {"a\rb", u"a\u240Db"_qs},
        {"a\tb\x1b[0m\x7f", u"a\tb\u241B[0m\u2421"_qs},
        {"\xFF\xFE", u"\uFFFD\uFFFD"_qs},
        {"\xC0\x80", u"\uFFFD\uFFFD"_qs},             // overlong NUL
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"_qs},   // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"_qs},  // past U+10FFFF
        {"ok\xE2\x82", u"ok\uFFFD\uFFFD"_qs},         // cut short at the end
        {"\xE2\x80\xA8", u"\u2424"_qs},               // a line separator would break the row
    };
    for (const auto& c : cases) {
        const logtext::ShownText shown = logtext::decodeForDisplay(c.bytes.constData(), c.bytes.size(), 100);
        EXPECT_EQ(shown.text, c.shown) << c.bytes.toHex().toStdString();
        EXPECT_EQ(shown.byteOf.size(), std::size_t(shown.text.size()) + 1);
        EXPECT_EQ(shown.byteOf.back(), c.bytes.size());
    }
}

TEST(LogTextDecode, StopsAtTheCapBeforeACharacterThatWouldCrossIt)
{
    const QByteArray line("abc\xE2\x82\xAC" "def");
    const logtext::ShownText cut = logtext::decodeForDisplay(line.constData(), line.size(), 5);
    EXPECT_EQ(cut.text, u"abc"_qs);
    EXPECT_EQ(cut.shownBytes, 3);
    const logtext::ShownText whole = logtext::decodeForDisplay(line.constData(), line.size(), 6);
    EXPECT_EQ(whole.text, QString::fromUtf8("abc\xE2\x82\xAC"));
}

TEST(LogTextDecode, StepsThroughBytesOneCharacterAtATime)
{
    const QByteArray b("a\r\n\xE2\x82\xAC\xFF\n\r");
    const char* p = b.constData();
    const qint64 n = b.size();
    std::vector<qint64> forward{0};
    while (forward.back() < n)
        forward.push_back(logtext::nextCharBoundary(p, n, forward.back()));
    EXPECT_EQ(forward, (std::vector<qint64>{0, 1, 3, 6, 7, 8, 9}));
    std::vector<qint64> backward{n};
    while (backward.back() > 0)
        backward.push_back(logtext::prevCharBoundary(p, n, backward.back()));
    EXPECT_EQ(backward, (std::vector<qint64>{9, 8, 7, 6, 3, 1, 0}));
    EXPECT_EQ(logtext::charStartAt(p, n, 4), 3);
    EXPECT_EQ(logtext::charStartAt(p, n, 5), 3);
    EXPECT_EQ(logtext::charStartAt(p, n, 6), 6);
}

// ---- the bytes ------------------------------------------------------------------------------------

TEST(LogTextWidgetBytes, ManyAppendsKeepEveryByteAndCountLinesAsTheyGo)
{
    CLogTextWidget w;
    QSignalSpy edits(&w, &CLogTextWidget::textEdited);
    std::mt19937 rng(11);
    QByteArray expected;
    std::uniform_int_distribution<int> len(0, 9);
    for (int i = 0; i < 3000; ++i) {
        const QByteArray piece = mixedBytes(rng, len(rng)).left(len(rng));
        append(w, piece);
        expected += piece;
        ASSERT_EQ(w.lineCount(), expected.count('\n') + 1) << "after append " << i;
    }
    // The line breaks of every kind, each split across two appends.
    for (const QByteArray& piece : {QByteArray("x\r"), QByteArray("\ny"), QByteArray("\r"), QByteArray("z\n"),
                                    QByteArray("\0", 1), QByteArray("\n")}) {
        append(w, piece);
        expected += piece;
    }
    EXPECT_EQ(w.bytes(), expected);
    EXPECT_EQ(w.size(), expected.size());
    EXPECT_EQ(w.lineCount(), expected.count('\n') + 1);
    EXPECT_EQ(edits.count(), 3006);
}

TEST(LogTextWidgetBytes, SetBytesReplacesEverythingQuietlyAndAppendsFollowIt)
{
    CLogTextWidget w;
    append(w, "old text\n");
    QSignalSpy edits(&w, &CLogTextWidget::textEdited);
    w.setSelection(2, 5);

    std::mt19937 rng(3);
    QByteArray big(8 << 20, Qt::Uninitialized);
    for (char& c : big)
        c = char(rng());  // every byte value, NULs and stray CRs included
    w.setBytes(big);
    EXPECT_EQ(edits.count(), 0);
    EXPECT_EQ(w.bytes(), big);
    EXPECT_EQ(w.lineCount(), big.count('\n') + 1);
    EXPECT_EQ(w.selectionStart(), 0);
    EXPECT_EQ(w.selectionEnd(), 0);
    EXPECT_EQ(w.firstVisibleLine(), 0);

    append(w, "\xE2\x82");
    append(w, "\xAC\r\ntail");
    EXPECT_EQ(w.bytes(), big + "\xE2\x82\xAC\r\ntail");
    EXPECT_EQ(w.lineCount(), big.count('\n') + 2);
    EXPECT_EQ(edits.count(), 2);
    EXPECT_EQ(big.size(), 8 << 20);  // the caller's copy is left alone
}

TEST(LogTextWidgetBytes, ACharacterSplitAcrossAppendsIsShownWhole)
{
    CLogTextWidget w;
    append(w, "price: \xE2");
    append(w, "\x82");
    append(w, "\xAC" "5\r\n");
    const QByteArray line = w.bytes().left(w.bytes().indexOf('\r'));
    EXPECT_EQ(shownText(line), QString::fromUtf8("price: \xE2\x82\xAC" "5"));
    EXPECT_EQ(w.lineCount(), 2);
}

TEST(LogTextWidgetBytes, ReplacingAMiddleSelectionReplacesExactlyThatRange)
{
    CLogTextWidget w;
    QSignalSpy edits(&w, &CLogTextWidget::textEdited);
    w.setBytes("line one\nline two\nline three\n");
    w.setSelection(5, 14);  // "one\nline "
    EXPECT_EQ(w.selectedBytes(), "one\nline ");
    w.replaceSelection("1\n2\n3", 5);
    EXPECT_EQ(w.bytes(), "line 1\n2\n3two\nline three\n");
    EXPECT_EQ(w.lineCount(), 5);
    EXPECT_EQ(w.selectionStart(), 10);
    EXPECT_EQ(w.selectionEnd(), 10);
    EXPECT_EQ(edits.count(), 1);

    w.setSelection(w.size(), 0);  // a backwards selection is the same range
    EXPECT_EQ(w.selectionStart(), 0);
    w.replaceSelection("", 0);
    EXPECT_TRUE(w.bytes().isEmpty());
    EXPECT_EQ(w.lineCount(), 1);
}

TEST(LogTextWidgetBytes, ReplacingWithItsOwnBytesIsSafe)
{
    CLogTextWidget w;
    w.setBytes("abcdef");
    for (int i = 0; i < 20; ++i) {  // enough to make the buffer move
        w.setSelection(w.size(), w.size());
        w.replaceSelection(w.bytes().constData(), w.size());
    }
    EXPECT_EQ(w.bytes(), QByteArray("abcdef").repeated(1 << 20));
}

// ---- selection and copying ------------------------------------------------------------------------

TEST(LogTextWidgetSelection, SelectionIsClampedAndDroppedByAnAppend)
{
    CLogTextWidget w;
    w.setBytes("0123456789");
    w.setSelection(-5, 500);
    EXPECT_EQ(w.selectionStart(), 0);
    EXPECT_EQ(w.selectionEnd(), 10);
    w.setSelection(2, 5);
    EXPECT_EQ(w.selectedBytes(), "234");

    append(w, "more\r\n");
    EXPECT_EQ(w.selectionStart(), w.size());
    EXPECT_EQ(w.selectionEnd(), w.size());
    EXPECT_TRUE(w.selectedBytes().isEmpty());
    EXPECT_EQ(w.bytes(), "0123456789more\r\n");
}

TEST(LogTextWidgetSelection, CopyPutsTheSelectedBytesOnTheClipboardAsText)
{
    CLogTextWidget w;
    w.setBytes("skip|caf\xC3\xA9 \xFF\r\nnext|skip");
    w.setSelection(5, 18);
    EXPECT_EQ(w.selectedBytes(), "caf\xC3\xA9 \xFF\r\nnext");
    QGuiApplication::clipboard()->setText(u"before"_qs);
    w.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"caf\u00E9 \uFFFD\r\nnext"_qs);

    w.setSelection(3, 3);  // nothing selected: the clipboard is left as it was
    w.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"caf\u00E9 \uFFFD\r\nnext"_qs);

    w.selectAllText();
    EXPECT_EQ(w.selectedBytes(), w.bytes());
}

TEST(LogTextWidgetSelection, KeyboardExtendsSelectsAllAndCopies)
{
    CLogTextWidget w;
    w.setBytes("\xE2\x82\xAC" "ab\r\nsecond line\r\n");
    w.setSelection(0, 0);
    QTest::keyClick(&w, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\xE2\x82\xAC");  // one character, three bytes
    QTest::keyClick(&w, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\xE2\x82\xAC" "ab");  // the line break is not part of the line
    QTest::keyClick(&w, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.selectionEnd(), 7);  // CR LF is one step
    QTest::keyClick(&w, Qt::Key_End, Qt::ShiftModifier);
    QTest::keyClick(&w, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\xE2\x82\xAC" "ab\r\nsecond lin");

    QTest::keyClick(&w, Qt::Key_Home);
    EXPECT_EQ(w.selectionStart(), 7);
    EXPECT_EQ(w.selectionEnd(), 7);
    QTest::keyClick(&w, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(w.selectionStart(), 0);
    EXPECT_EQ(w.selectionEnd(), 7);

    QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(w.selectionStart(), 0);
    EXPECT_EQ(w.selectionEnd(), w.size());
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8(w.bytes()));

    w.setSelection(7, 13);
    QTest::keyClick(&w, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"second"_qs);
}

TEST(LogTextWidgetSelection, MouseDragSelectsTheBytesUnderThePointer)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    w.setBytes("alpha beta\r\n\xC3\xA9t\xC3\xA9 gamma\r\nlast");
    // From just after "al" on the first row to just after "été" on the second.
    log.drag(log.at(0, u"al"_qs), log.at(1, u"\u00E9t\u00E9"_qs));
    EXPECT_EQ(w.selectedBytes(), "pha beta\r\n\xC3\xA9t\xC3\xA9");
    // Backwards, from the middle of the last row to the start of the second.
    log.drag(log.at(2, u"la"_qs), QPoint(1, log.at(1, {}).y()));
    EXPECT_EQ(w.selectedBytes(), "\xC3\xA9t\xC3\xA9 gamma\r\nla");
    // Right of a line's text is its end, before the CR LF that ends it.
    log.drag(QPoint(1, log.at(0, {}).y()), QPoint(w.viewport()->width() - 2, log.at(0, {}).y()));
    EXPECT_EQ(w.selectedBytes(), "alpha beta");
    // Below the last row is the end of the text.
    log.drag(log.at(1, u"\u00E9t\u00E9 "_qs), QPoint(20, w.viewport()->height() - 2));
    EXPECT_EQ(w.selectedBytes(), "gamma\r\nlast");
}

TEST(LogTextWidgetSelection, DoubleClickSelectsAWord)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    w.setBytes("GET /index.html from host_01\r\n");
    QTest::mouseDClick(w.viewport(), Qt::LeftButton, {}, log.at(0, u"GET /index.html from ho"_qs));
    EXPECT_EQ(w.selectedBytes(), "host_01");
    QTest::mouseDClick(w.viewport(), Qt::LeftButton, {}, log.at(0, u"GET /in"_qs));
    EXPECT_EQ(w.selectedBytes(), "index");
}

TEST(LogTextWidgetSelection, SelectionIsPaintedHighlighted)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    w.setBytes("some text to select\r\nand more\r\n");
    const QRgb highlight = w.palette().color(QPalette::Active, QPalette::Highlight).rgb();
    const QRgb inactive = w.palette().color(QPalette::Inactive, QPalette::Highlight).rgb();
    auto highlighted = [&] {
        const QImage image = w.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                n += (image.pixel(x, y) == highlight || image.pixel(x, y) == inactive) ? 1 : 0;
        }
        return n;
    };
    EXPECT_EQ(highlighted(), 0);
    w.setSelection(5, 24);
    EXPECT_GT(highlighted(), 10 * log.rowHeight());
}

// ---- input ----------------------------------------------------------------------------------------

TEST(LogTextWidgetInput, ReadOnlyIgnoresTypingCutPasteAndUndo)
{
    CLogTextWidget w;
    w.setBytes("keep me\r\n");
    w.setReadOnly(true);
    QSignalSpy edits(&w, &CLogTextWidget::textEdited);
    QGuiApplication::clipboard()->setText(u"pasted"_qs);
    w.setSelection(0, 4);
    QTest::keyClicks(&w, "typed");
    for (int key : {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Tab})
        QTest::keyClick(&w, Qt::Key(key));
    QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(&w, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_Delete, Qt::ShiftModifier);
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.bytes(), "keep me\r\n");
    EXPECT_EQ(edits.count(), 0);

    // The same keys do reach the widget: without read-only they edit.
    w.setReadOnly(false);
    w.setSelection(0, 4);
    QTest::keyClicks(&w, "held");
    EXPECT_EQ(w.bytes(), "held me\r\n");
    QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w.bytes(), "heldpasted me\r\n");
}

// ---- following the end ----------------------------------------------------------------------------

TEST(LogTextWidgetView, TheEndStaysInViewAsALongLogGrows)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    for (int i = 0; i < 2000; ++i) {
        append(w, "line " + QByteArray::number(i));
        append(w, "\r\n");
    }
    EXPECT_TRUE(w.isEndVisible());
    // The last line sits on the bottom row.
    EXPECT_EQ(w.firstVisibleLine(), w.lineCount() - log.rowsInView());
    EXPECT_TRUE(waitFor([&] { return log.scrollBarsCaughtUp(); }));
    EXPECT_EQ(w.verticalScrollBar()->value(), w.verticalScrollBar()->maximum());

    // Scrolled back by the user, the end is out of view until the next append brings it back.
    w.verticalScrollBar()->setValue(0);
    EXPECT_EQ(w.firstVisibleLine(), 0);
    EXPECT_FALSE(w.isEndVisible());
    append(w, "one more\r\n");
    EXPECT_TRUE(w.isEndVisible());
    EXPECT_EQ(w.firstVisibleLine(), w.lineCount() - log.rowsInView());
}

TEST(LogTextWidgetView, WrappedLinesTakeSeveralRowsAndTheEndStaysInView)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    w.setWordWrap(true);
    const QByteArray longLine = QByteArray("word ").repeated(40);  // about three rows at this width
    for (int i = 0; i < 300; ++i)
        append(w, longLine + "\r\n");
    EXPECT_TRUE(w.isEndVisible());
    const qint64 linesInView = w.lineCount() - w.firstVisibleLine();
    EXPECT_GE(linesInView, 2);
    EXPECT_LE(linesInView, log.rowsInView() / 2);
    EXPECT_TRUE(waitFor([&] { return log.scrollBarsCaughtUp(); }));
    EXPECT_FALSE(w.horizontalScrollBar()->isVisible());

    w.setWordWrap(false);
    EXPECT_TRUE(waitFor([&] { return w.horizontalScrollBar()->isVisible(); }));
}

TEST(LogTextWidgetView, KeysAndWheelScroll)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    QByteArray text;
    for (int i = 0; i < 1000; ++i)
        text += "row " + QByteArray::number(i) + "\n";
    w.setBytes(text);
    EXPECT_EQ(w.firstVisibleLine(), 0);
    QTest::keyClick(&w, Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(w.isEndVisible());
    EXPECT_EQ(w.selectionEnd(), w.size());
    EXPECT_TRUE(waitFor([&] { return log.scrollBarsCaughtUp(); }));

    const qint64 bottom = w.firstVisibleLine();
    QTest::keyClick(&w, Qt::Key_PageUp);
    const qint64 pageUp = w.firstVisibleLine();
    EXPECT_LT(pageUp, bottom);
    EXPECT_GE(pageUp, bottom - log.rowsInView());
    EXPECT_FALSE(w.isEndVisible());

    const QPoint middle = w.viewport()->rect().center();
    QWheelEvent wheel(middle, w.viewport()->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.viewport(), &wheel);
    EXPECT_EQ(w.firstVisibleLine(), pageUp - QApplication::wheelScrollLines());

    QTest::keyClick(&w, Qt::Key_PageDown);
    QTest::keyClick(&w, Qt::Key_PageDown);
    EXPECT_TRUE(w.isEndVisible());
    QTest::keyClick(&w, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(w.firstVisibleLine(), 0);
    EXPECT_EQ(w.selectionEnd(), 0);
}

TEST(LogTextWidgetView, AHugeLineWithoutBreakIsKeptWholeAndStillPaints)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    const QByteArray huge = QByteArray("0123456789abcde\xC3\xA9").repeated(64 * 1024);  // 1.1 MB
    w.setBytes(huge);
    EXPECT_FALSE(w.viewport()->grab().isNull());  // lays out and paints the start of the line only
    w.setWordWrap(true);
    EXPECT_FALSE(w.viewport()->grab().isNull());
    QTest::keyClick(&w, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), huge);
    append(w, "\r\nafter");
    EXPECT_EQ(w.bytes(), huge + "\r\nafter");
    EXPECT_TRUE(w.isEndVisible());
}

TEST(LogTextWidgetView, NamedForAccessibilityAndIdleWhenNothingChanges)
{
    ShownLog log;
    CLogTextWidget& w = log.w;
    EXPECT_EQ(w.accessibleName(), u"Log"_qs);
    for (int i = 0; i < 500; ++i)
        append(w, "busy " + QByteArray::number(i) + "\r\n");
    auto timersRunning = [&] {
        const auto timers = w.findChildren<QTimer*>();
        return std::count_if(timers.begin(), timers.end(), [](const QTimer* t) { return t->isActive(); });
    };
    // Once the screen and the scroll bars have caught up, nothing is left running.
    EXPECT_TRUE(waitFor([&] { return log.scrollBarsCaughtUp() && timersRunning() == 0; }));
    EXPECT_EQ(w.verticalScrollBar()->value(), w.verticalScrollBar()->maximum());
}
