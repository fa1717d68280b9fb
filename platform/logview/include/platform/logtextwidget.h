// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The widget that shows the edit view's text: a read-only log drawn straight from its bytes.
//
// The text is kept as bytes, exactly as loaded or appended, in a store on disk (logstore.h); the
// screen shows a UTF-8 rendering of them. Positions are byte offsets. It cannot be typed into: it
// has a selection and a caret (the selection's moving end, not drawn) for selecting, copying and
// moving with the keys. Appending at the end is cheap whatever the size of the log: the bytes go to
// the store, a compact index of line starts grows with them, and only the lines in view are laid
// out and painted, at most once per frame.
#include <QAbstractScrollArea>
#include <QByteArray>
#include <memory>

class CLogTextWidget : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CLogTextWidget(QWidget* parent = nullptr);
    ~CLogTextWidget() override;

    // ---- the text -------------------------------------------------------------------------------
    // All the bytes, in one place: data()[0, size()). The pointer stays valid while the widget lives.
    const char* data() const;
    qsizetype size() const;
    QByteArray bytes(qsizetype start, qsizetype length) const;
    // Empties the text; the selection becomes the empty range at 0 and the view shows the top.
    void clear();
    // Replaces the text with the whole file fd holds; false, the text unchanged, when it could not
    // be read (why says why). The view then shows the top. The file is copied and indexed on a
    // thread of its own while the event loop goes on: the part read so far can be viewed, and
    // what is appended meanwhile follows the file.
    bool load(int fd, QString* why);
    // Writes the whole text to the empty file fd, the event loop going on meanwhile; false with
    // errno set when that failed.
    bool save(int fd);
    // While a load or save runs no command may start.
    bool fileOperationRunning() const;
    // Adds data at the end; the selection becomes the empty range at the new end.
    void append(const char* data, qsizetype length);
    // Appending in place: room for up to `most` bytes at the end, good until the next change of
    // the text; appended(length) then adds the first length bytes written there, as append does.
    char* appendRoom(qsizetype most);
    void appended(qsizetype length);
    // Whether the log cannot keep up for now: its disk has fallen so far behind that appends would
    // soon wait for it, or kMostPending bytes arrived during a load or save (they wait in memory
    // until it is over). A reader stops reading while it cannot, and caughtUp() comes from the
    // event loop once it can again.
    static constexpr qsizetype kMostPending = qsizetype(32) << 20;
    bool behind();

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
    // How a long load or save is getting on, for the status bar; empty when it is over.
    void fileProgress(const QString& text);
    // Something the user must be told, in a message box: the log could no longer go to disk (it
    // stays in memory from then on), or a selection too large to copy.
    void notice(const QString& text);
    void caughtUp();

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
    void textReplaced(bool fresh = true);
    static constexpr qsizetype kPendingPiece = qsizetype(4) << 20;
    void addPending(qsizetype most);

    struct Impl;
    std::unique_ptr<Impl> d;
};
