// SPDX-License-Identifier: GPL-3.0-or-later
// How line ends look in the log: a sender's CR LF arrives as CR CR LF and must look like any
// other line end, drawn the same pixel for pixel, while a CR anywhere else stays visible.
#include "log_widget.h"

#include "wait.h"

#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The log's viewport as drawn for `bytes`, with the selection [selStart, selEnd).
QImage Picture(const QByteArray& bytes, qsizetype selStart = 0, qsizetype selEnd = 0)
{
    LogWidget w;
    w.resize(300, 120);
    w.show();
    testsupport::waitFor([&] { return w.isVisible(); });
    w.append(bytes.constData(), bytes.size());
    w.setSelection(selStart, selEnd);
    return w.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(LineEnds, ACrBeforeTheCrLfIsDrawnAsAPlainLineEndAndAnyOtherCrIsShown)
{
    // Whole lines, the text's last line, and a selection across the line ends.
    EXPECT_EQ(Picture("abc\r\r\ndef\r\r\n"), Picture("abc\r\ndef\r\n"));
    EXPECT_EQ(Picture("abc\r\r\nde\r\r"), Picture("abc\r\nde"));
    EXPECT_EQ(Picture("abc\r\r\ndef\r\r\n", 1, 9), Picture("abc\r\ndef\r\n", 1, 8));
    // A lone CR, or a third one before the line end, is shown.
    EXPECT_NE(Picture("ab\rc\r\n"), Picture("abc\r\n"));
    EXPECT_NE(Picture("abc\r\r\r\n"), Picture("abc\r\n"));
}

TEST(LineEnds, ACrCrLfIsOneStepForTheKeysAndCopiesAsItsBytes)
{
    LogWidget w;
    w.append("abc\r\r\ndef\r\r\n", 12);
    w.setSelection(3, 3);
    QTest::keyClick(&w, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\r\r\n");
    QTest::keyClick(&w, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(w.selectionStart(), 3);
    EXPECT_EQ(w.selectionEnd(), 3);
    w.setSelection(12, 12);
    QTest::keyClick(&w, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(w.selectedBytes(), "\r\r\n");
}

} // namespace
