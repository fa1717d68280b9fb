#pragma once
// The widget that shows the edit view's text: a read-only log drawn straight from its bytes.
//
// The text is kept as bytes, exactly as set or appended; the screen shows a UTF-8 rendering of
// them. Positions are byte offsets. It cannot be typed into: it has a selection and a caret (the
// selection's moving end, not drawn) for selecting, copying and moving with the keys. Appending at the end is cheap whatever the size of the log:
// the bytes grow in place, an index of line starts grows with them, and only the lines in view are
// laid out and painted, at most once per frame.
#include <QAbstractScrollArea>
#include <QByteArray>
#include <memory>

class CLogTextWidget : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CLogTextWidget(QWidget* parent = nullptr);
    ~CLogTextWidget() override;

    // ---- the text -------------------------------------------------------------------------------
    const QByteArray& bytes() const;
    qsizetype size() const;
    // Replaces the whole text; the selection becomes the empty range at 0 and the view shows the top.
    void setBytes(QByteArray text);
    // Adds data at the end; the selection becomes the empty range at the new end.
    void append(const char* data, qsizetype length);

    // ---- selection and caret (byte offsets, clamped to [0, size()]) ----------------------------
    void setSelection(qsizetype start, qsizetype end);
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QByteArray selectedBytes() const;
    // Scrolls so that the caret (the selection's end) is in view.
    void scrollCaretIntoView();

    // ---- edit commands --------------------------------------------------------------------------
    void copy() const;        // the selection, as text, to the clipboard; nothing when empty
    void selectAllText();

    // ---- style ----------------------------------------------------------------------------------
    void setWordWrap(bool wrap);      // wrap at the right edge; without wrap a horizontal scroll bar
    bool wordWrap() const;

    // ---- what is known about the layout (for tests) ---------------------------------------------
    qsizetype lineCount() const;      // lines in the text: line feeds + 1
    qsizetype firstVisibleLine() const;
    bool isEndVisible() const;        // the last line is in view

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
