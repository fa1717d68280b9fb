// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The widget that shows a LogDocument: a read-only log drawn straight from its bytes.
//
// The screen shows a UTF-8 rendering of the document's bytes; positions are byte offsets. It cannot
// be typed into: it has a selection and a caret (the selection's moving end, not drawn) for
// selecting, copying and moving with the keys. Only the lines in view are laid out and painted, at
// most once per frame, however long the log grows; the widget follows the document by its signals.
#include <QAbstractScrollArea>
#include <QByteArray>
#include <memory>

class LogDocument;

class CLogTextWidget : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CLogTextWidget(const LogDocument& doc, QWidget* parent = nullptr);
    ~CLogTextWidget() override;

    // ---- selection and caret (byte offsets, clamped to [0, size()]) ----------------------------
    void setSelection(qsizetype start, qsizetype end);
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QByteArray selectedBytes() const;
    // Scrolls so that the caret (the selection's end) is in view.
    void scrollCaretIntoView();

    // ---- edit commands --------------------------------------------------------------------------
    // The selection, as text, to the clipboard; nothing when empty, a notice when too large.
    void copy();
    void selectAllText();

    // ---- style ----------------------------------------------------------------------------------
    void setWordWrap(bool wrap);      // wrap at the right edge; without wrap a horizontal scroll bar
    bool wordWrap() const;

    // ---- what is known about the layout (for tests) ---------------------------------------------
    qsizetype lineCount() const;      // lines in the text: line feeds + 1
    qsizetype firstVisibleLine() const;
    bool isEndVisible() const;        // the last line is in view

signals:
    // Something the user must be told, in a message box: a selection too large to copy.
    void notice(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool event(QEvent* event) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
