// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log as a document: its bytes, exactly as loaded or appended, and where its lines start.
//
// The bytes go to a store on disk but for the newest ones, and a compact index of line starts grows
// with them, so appending at the end is cheap whatever the size of the log. A load or a save runs on
// a worker thread while the event loop goes on; what is appended meanwhile waits in memory and
// follows once it is over. The document says what changed by signals and keeps its own timer for
// the store's writes: a view reads it and listens, and nobody polls it.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>

class LogStore;
class LogLineIndex;
class QTimer;

class LogDocument : public QObject {
    Q_OBJECT
public:
    // What may arrive during a load or save before the reader is asked to stop (behind()).
    static constexpr qsizetype kMostPending = qsizetype(32) << 20;

    // cacheFolder: where the store's file goes; empty for the program's cache folder.
    explicit LogDocument(const QString& cacheFolder = QString(), QObject* parent = nullptr);
    ~LogDocument() override;

    // ---- the text: data()[0, size()), valid until the text is replaced ----------------------------
    const char* data() const;
    qint64 size() const;
    QByteArray bytes(qint64 start, qint64 length) const;
    // Lines: line feeds + 1. A line ends at its line feed, or at the end for the last one.
    qint64 lineCount() const;
    qint64 lineStart(qint64 line) const;
    qint64 lineEnd(qint64 line) const;
    qint64 lineOf(qint64 offset) const;
    // Appends so far that added to the text; a view that sees it change moves its caret to the end.
    quint64 appendCount() const { return m_appends; }

    // ---- changing it ------------------------------------------------------------------------------
    void clear();
    void append(const char* bytes, qsizetype length);
    // Appending in place: room for up to `most` bytes at the end, good until the next change;
    // appended(length) then adds the first length bytes written there, as append does.
    char* appendRoom(qsizetype most);
    void appended(qsizetype length);
    // Replaces the text with the whole file fd holds, copied and indexed on a worker while the event
    // loop goes on: the part read so far can be viewed. False, the text as it was, when it could not
    // be read (why says why).
    bool load(int fd, QString* why);
    // Writes the whole text to the empty file fd, the event loop going on meanwhile; false with
    // errno set when that failed.
    bool save(int fd);
    bool fileOperationRunning() const { return m_fileOperation; }
    // How long a load or save runs before it tells its progress (half a second).
    void setProgressAfter(int ms) { m_progressAfterMs = ms; }

    // ---- keeping up -------------------------------------------------------------------------------
    // Whether the log cannot keep up for now: its disk has fallen far behind, or kMostPending bytes
    // arrived during a load or save. A reader that stops reading for it calls notifyWhenCaughtUp(),
    // and caughtUp() comes from the event loop once it can go on.
    bool behind() const;
    void notifyWhenCaughtUp();
    // Bytes held in memory, not yet on disk (for tests and figures).
    qint64 bytesInMemory() const;

signals:
    // Bytes were added at the end: by appends (byAppend; once a turn of the event loop however many
    // came, since a flood appends millions of times a second: appendCount() counts each one), or
    // by a load as it copies.
    void grown(bool byAppend);
    // The whole text was replaced: emptied or a load begun (fresh), or a failed load rolled back.
    void replaced(bool fresh);
    // How a long load or save is getting on, for a status bar; empty once it is over.
    void progress(const QString& text);
    // Something to tell the user: the log can no longer be kept on disk.
    void notice(const QString& text);
    void caughtUp();

private:
    bool appendsWait() const { return (m_fileOperation || m_pendingBytes > 0) && !m_addingPending; }
    void beginFileOperation();
    void endFileOperation();
    void addPending(qsizetype most);
    void storeChanged();
    void commitTick();

    QString m_folder;
    std::unique_ptr<LogStore> m_store;
    std::unique_ptr<LogLineIndex> m_index;
    bool m_fileOperation = false;  // a load or save runs: appends wait in m_pending
    // What waits, in order, in pieces of at most kPendingPiece: new bytes go into the last, the
    // log takes them from the first. More pieces never move the bytes already waiting.
    std::deque<QByteArray> m_pending;
    qsizetype m_pendingBytes = 0;
    bool m_addingPending = false;  // a piece of m_pending goes into the log now
    char* m_room = nullptr;        // the last appendRoom
    bool m_roomInStore = false;    // else in m_scratch, for m_pending or to be dropped
    QByteArray m_scratch;
    QTimer* m_commitTimer = nullptr;  // while the store writes with no appends coming, or a reader waits
    bool m_readerWaits = false;
    int m_progressAfterMs = 500;
    quint64 m_appends = 0;
    bool m_growthPosted = false;  // grown(true) is on its way
};
