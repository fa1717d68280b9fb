// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log's bytes, kept in a file of the program's own and read through one mapping.
//
// All the bytes sit at one place in memory, in order: data()[0, size()). A large range of
// addresses is reserved once; its front is the store file mapped read-only, its end the bytes not
// yet written out and the newest ones (a bounded amount: kMostInMemory). A thread of the store's
// own writes them out, past the page cache where the file system allows it, while appends go on;
// once written, the file is mapped over their pages, and those pages go on as room for the next
// bytes. So memory
// holds only the recent tail and the pages being looked at, however long the log grows, and the
// appending thread never waits for the disk unless the disk falls far behind. The file lives in
// the user's cache folder and has no name, so that nothing is left behind however the program ends.
//
// When the file cannot be made or written (no cache folder, a full disk), the bytes stay in
// memory from then on: nothing received is lost, and error() says why once.
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>

class LogWriter;

class LogStore {
public:
    // Bytes kept in memory before they are written out.
    static constexpr qint64 kFlushBytes = qint64(1) << 20;
    // Bytes being written out before an append waits for the disk, and before behind() says so
    // (a reader stops reading then, and the sender is held back instead).
    static constexpr qint64 kMostInFlight = qint64(192) << 20;
    static constexpr qint64 kBehind = kMostInFlight - (qint64(32) << 20);
    // The newest bytes stay in memory once written too, so that the window that follows the end
    // draws them without reading the disk; written bytes are mapped from the file kMapStep at a time.
    static constexpr qint64 kKeptTail = qint64(4) << 20;
    static constexpr qint64 kMapStep = qint64(4) << 20;
    // Written pages are taken over in whole page tables: the stretch one table maps (2 MiB on
    // x86-64, and on arm64 with 4 KiB pages), from where one starts.
    static constexpr qint64 kTableReach = qint64(2) << 20;
    // The most bytes ever held in memory, however fast they come.
    static constexpr qint64 kMostInMemory = kFlushBytes + kMostInFlight + kKeptTail + kMapStep + kTableReach;

    // folder: where the store file goes; empty for the program's cache folder (namelessfile.h).
    explicit LogStore(const QString& folder = QString());
    ~LogStore();
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    const char* data() const { return m_base; }
    qint64 size() const { return m_size; }
    char at(qint64 i) const { return m_base[i]; }

    void append(const char* bytes, qint64 length);
    // Appending in place: room for up to `most` bytes at the log's end, good until the next change
    // of the store (nullptr when the log has reached the most it can hold: error() says so);
    // grow(length) then keeps the first length bytes written there.
    char* room(qint64 most);
    void grow(qint64 length);
    void clear();
    // Takes in what has been written out since. Appends do it as they go; call it now and then
    // while none come and writing() holds, so that the last bytes leave memory too.
    void commit();
    bool writing() const;
    bool behind() const;
    // Waits until every byte handed to the writer is written out and mapped from the file.
    void settle();
    // Opening a file as the log, in three steps: newFile empties the store and gives the file the
    // log will be copied into; copyFile (on any thread) copies src into it and hands on each block
    // it copied, with its offset (returning false stops it); growFromFile, on the store's thread,
    // takes the first `size` bytes copied so far as the log. newFile gives -1 and why, copyFile
    // -1 and errno.
    int newFile(QString* why);
    static qint64 copyFile(int src, int dst, const std::function<bool(qint64 at, const char* bytes, qint64 length)>& copied);
    bool growFromFile(qint64 size);
    // Writes every byte to the empty file fd at its start, on any thread, telling in done how far
    // it got; false with errno set when that failed. The store must not be appended to or emptied
    // meanwhile.
    bool writeTo(int fd, std::atomic<qint64>* done = nullptr) const;

    // The bytes in memory, not yet written out (for tests and figures).
    qint64 bytesInMemory() const { return m_size - m_onDisk; }
    // Whether room() refuses appends (no memory, no range of addresses left): what arrives then
    // is lost, where after a failed write it is only kept in memory. Emptying the store ends it.
    bool refusing() const { return m_refusing; }
    // Why the bytes stopped going to disk, or room() refused, once; empty while all is well. Reading it clears it.
    QString takeError();

private:
    void reserve();
    // Room for the bytes up to `size`; ahead, room for the next appends too (at least two flushes,
    // to a page table's end).
    bool reserveTail(qint64 size, bool ahead = true);
    void refuse(const QString& why);

    void flush();
    qint64 mappable() const;
    void mapWritten(qint64 written);
    void releasePages();
    void fail(const QString& why);

    QString m_folder;
    char* m_base = nullptr;  // the reserved range
    qint64 m_capacity = 0;   // its length
    qint64 m_size = 0;       // bytes in the log
    qint64 m_onDisk = 0;     // bytes written out and mapped from the file (whole pages)
    qint64 m_flushed = 0;   // bytes handed to the writer (whole pages)
    qint64 m_tailEnd = 0;    // end of the writable tail's pages
    qint64 m_releasedAt = 0;  // m_onDisk when the file's pages were last let go
    int m_fd = -1;           // the store file, once there is one
    std::unique_ptr<LogWriter> m_writer;  // once there is something to write
    bool m_failed = false;   // the bytes stay in memory
    QString m_error;
    bool m_errorTaken = false;
    bool m_refusing = false;
};
