// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/logdocument.h"

#include "loglineindex.h"
#include "logstore.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {

// What waited during a load or save goes into the log this much at a time, one piece a turn of the
// event loop, so that the window goes on.
constexpr qsizetype kPendingPiece = qsizetype(4) << 20;

QString megabytes(qint64 bytes) { return QString::number(double(bytes) / 1e6, 'f', 0); }

// Runs work on a worker thread while this thread's event loop goes on; every frame, and once at
// the end, tick(finished) runs here.
void runOnWorker(const std::function<void()>& work, const std::function<void(bool finished)>& tick)
{
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        // Copying and indexing run only on a core nothing else wants: the window's thread, the
        // threads the toolkit paints with and the X server come first.
        sched_param idle{};
        ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &idle);
        work();
        finished = true;
    });
    QEventLoop loop;
    QTimer frame;
    QObject::connect(&frame, &QTimer::timeout, &loop, [&] {
        if (finished)
            loop.quit();
        else
            tick(false);
    });
    frame.start(16);
    loop.exec();
    worker.join();
    tick(true);
}

} // namespace

LogDocument::LogDocument(const QString& cacheFolder, QObject* parent)
    : QObject(parent)
    , m_folder(cacheFolder)
    , m_store(std::make_unique<LogStore>(cacheFolder))
    , m_index(std::make_unique<LogLineIndex>())
    , m_commitTimer(new QTimer(this))
{
    m_index->clear(m_store->data());
    m_commitTimer->setInterval(100);
    connect(m_commitTimer, &QTimer::timeout, this, &LogDocument::commitTick);
}

LogDocument::~LogDocument() = default;

const char* LogDocument::data() const { return m_store->data(); }
qint64 LogDocument::size() const { return m_store->size(); }
qint64 LogDocument::lineCount() const { return m_index->lineCount(); }
qint64 LogDocument::lineStart(qint64 line) const { return m_index->lineStart(line); }
qint64 LogDocument::lineEnd(qint64 line) const { return m_index->lineEnd(line); }
qint64 LogDocument::lineOf(qint64 offset) const { return m_index->lineOf(offset); }
qint64 LogDocument::bytesInMemory() const { return m_store->bytesInMemory(); }

QByteArray LogDocument::bytes(qint64 start, qint64 length) const
{
    start = std::clamp<qint64>(start, 0, size());
    return QByteArray(data() + start, std::clamp<qint64>(length, 0, size() - start));
}

// ---- changing the text ----------------------------------------------------------------------------

void LogDocument::clear()
{
    m_pending.clear();  // what waited to be added goes too
    m_pendingBytes = 0;
    m_store->clear();
    m_index->clear(m_store->data());
    emit replaced(true);
}

void LogDocument::append(const char* bytes, qsizetype length)
{
    length = bytes ? std::max<qsizetype>(0, length) : 0;
    if (length > 0)
        std::memcpy(appendRoom(length), bytes, std::size_t(length));
    appended(length);
}

char* LogDocument::appendRoom(qsizetype most)
{
    most = std::max<qsizetype>(0, most);
    m_room = appendsWait() ? nullptr : m_store->room(most);
    m_roomInStore = m_room != nullptr;
    if (!m_roomInStore) {
        m_scratch.resize(most);
        m_room = m_scratch.data();
    }
    return m_room;
}

void LogDocument::appended(qsizetype length)
{
    length = std::max<qsizetype>(0, length);
    if (appendsWait()) {
        for (qsizetype at = 0; at < length;) {
            if (m_pending.empty() || m_pending.back().size() >= kPendingPiece) {
                m_pending.emplace_back();
                m_pending.back().reserve(kPendingPiece);
            }
            const qsizetype n = std::min(length - at, kPendingPiece - m_pending.back().size());
            m_pending.back().append(m_room + at, n);
            at += n;
        }
        m_pendingBytes += length;
        return;
    }
    if (m_roomInStore && length > 0) {
        // Indexed while the bytes are at hand: once kept, the store may write them out.
        m_index->appended(size(), m_room, length);
        m_store->grow(length);
    }
    ++m_appends;
    storeChanged();
    if (!m_growthPosted) {
        m_growthPosted = true;
        QMetaObject::invokeMethod(this, [this] {
            m_growthPosted = false;
            emit grown(true);
        }, Qt::QueuedConnection);
    }
}

// ---- keeping up -----------------------------------------------------------------------------------

bool LogDocument::behind() const
{
    return appendsWait() ? m_pendingBytes >= kMostPending : m_store->behind();
}

void LogDocument::notifyWhenCaughtUp()
{
    m_readerWaits = true;
    storeChanged();
}

// After the store changed: says once why the log is no longer kept on disk, and runs the commit
// timer while the store writes out or a reader waits.
void LogDocument::storeChanged()
{
    if (const QString why = m_store->takeError(); why.isEmpty()) {
    } else if (m_store->refusing()) {
        emit notice(tr("The log cannot hold more.\n\n%1\n\nWhat arrives from now on is not kept.").arg(why));
    } else {
        emit notice(tr("The log can no longer be kept on disk.\n\n%1\n\n"
                       "What arrives from now on is kept in memory; nothing received is lost.").arg(why));
    }
    // A waiting reader hears soon after the log caught up.
    if (const int interval = m_readerWaits ? 5 : 100; m_commitTimer->interval() != interval)
        m_commitTimer->setInterval(interval);
    if ((m_store->writing() || m_readerWaits) != m_commitTimer->isActive())
        m_commitTimer->isActive() ? m_commitTimer->stop() : m_commitTimer->start();
}

void LogDocument::commitTick()
{
    // A save reads the store from the worker: it stays as it is until the save is over.
    if (!m_fileOperation)
        m_store->commit();
    if (m_readerWaits && !behind()) {
        m_readerWaits = false;
        emit caughtUp();
    }
    storeChanged();
}

// ---- load and save --------------------------------------------------------------------------------

// What arrives during the operation waits in m_pending. What still waits from the last one goes
// into the log first, so that a save has it.
void LogDocument::beginFileOperation()
{
    addPending(m_pendingBytes);
    m_fileOperation = true;
}

void LogDocument::endFileOperation()
{
    m_fileOperation = false;
    emit progress(QString());
    addPending(kPendingPiece);
}

// What waited goes into the log `most` bytes at a time, one piece each turn of the event loop;
// what arrives meanwhile waits behind it.
void LogDocument::addPending(qsizetype most)
{
    if (m_fileOperation)
        return;  // added once that is over
    m_addingPending = true;
    while (most > 0 && !m_pending.empty()) {
        QByteArray& first = m_pending.front();
        const qsizetype n = std::min(first.size(), most);
        append(first.constData(), n);
        m_pendingBytes -= n;
        most -= n;
        if (n == first.size())
            m_pending.pop_front();
        else
            first.remove(0, n);
    }
    m_addingPending = false;
    if (m_pendingBytes > 0)
        QTimer::singleShot(0, this, [this] { addPending(kPendingPiece); });
}

bool LogDocument::load(int fd, QString* why)
{
    auto fresh = std::make_unique<LogStore>(m_folder);
    const int dst = fresh->newFile(why);
    if (dst < 0)
        return false;
    struct {
        std::mutex lock;
        qint64 copied = 0;
        qint64 lines = 1;
        std::vector<LogLineIndex::Checkpoint> checkpoints;
    } shared;
    std::atomic<bool> stop{false};
    // Each thread keeps its own reason: the worker's is read only once it has finished, and the
    // one of this thread (the store refusing the copy) wins, since the worker's ECANCELED follows
    // from it.
    qint64 length = -1;
    int copyError = 0;
    int mapError = 0;
    // The copy is indexed as it grows, each block while it is at hand.
    const auto work = [&] {
        LogLineIndex scan;
        scan.clear(nullptr);
        std::size_t sent = 1;
        length = LogStore::copyFile(fd, dst, [&](qint64 at, const char* bytes, qint64 n) {
            scan.appended(at, bytes, n);
            std::vector<LogLineIndex::Checkpoint> more = scan.checkpointsFrom(sent);
            sent = scan.checkpointCount();
            const std::lock_guard guard(shared.lock);
            shared.checkpoints.insert(shared.checkpoints.end(), more.begin(), more.end());
            shared.copied = at + n;
            shared.lines = scan.lineCount();
            return !stop.load();
        });
        copyError = length < 0 ? errno : 0;
    };

    // The new log shows as it comes in; the old one, with all that arrived before, is kept until
    // the whole file is in.
    beginFileOperation();
    std::unique_ptr<LogStore> previous = std::exchange(m_store, std::move(fresh));
    std::unique_ptr<LogLineIndex> previousIndex = std::exchange(m_index, std::make_unique<LogLineIndex>());
    m_index->clear(m_store->data());
    emit replaced(true);
    QElapsedTimer clock;
    clock.start();
    const auto take = [&](qint64 upTo) {
        if (mapError != 0)
            return;
        std::vector<LogLineIndex::Checkpoint> more;
        qint64 lines = 1;
        {
            const std::lock_guard guard(shared.lock);
            more.swap(shared.checkpoints);
            upTo = std::max(upTo, shared.copied);
            lines = shared.lines;
        }
        if (upTo <= size() && more.empty())
            return;
        if (!m_store->growFromFile(upTo)) {
            mapError = errno != 0 ? errno : EIO;
            stop = true;
            return;
        }
        m_index->extend(more, lines, upTo);
        emit grown(false);
    };
    // Told from the start of each frame once the load has run long enough.
    const auto report = [&] {
        if (clock.elapsed() >= m_progressAfterMs)
            emit progress(tr("Opening the file: %1 MB").arg(megabytes(size())));
    };
    report();
    runOnWorker(work, [&](bool finished) {
        take(finished && copyError == 0 ? length : 0);
        if (!finished)
            report();
    });
    const int error = mapError != 0 ? mapError : copyError;
    if (error != 0) {
        m_store = std::move(previous);
        m_index = std::move(previousIndex);
        emit replaced(false);
        if (why != nullptr)
            *why = QString::fromLocal8Bit(std::strerror(error));
    }
    endFileOperation();
    return error == 0;
}

bool LogDocument::save(int fd)
{
    std::atomic<qint64> done{0};
    bool saved = false;
    int error = 0;
    QElapsedTimer clock;
    clock.start();
    beginFileOperation();
    runOnWorker(
        [&] {
            // On disk before the file takes the old one's place, here rather than in the commit,
            // so that the window goes on meanwhile.
            saved = m_store->writeTo(fd, &done) && ::fdatasync(fd) == 0;
            error = errno;
        },
        [&](bool finished) {
            if (!finished && clock.elapsed() >= m_progressAfterMs)
                emit progress(tr("Saving the log: %1 of %2 MB").arg(megabytes(done), megabytes(size())));
        });
    endFileOperation();
    errno = error;
    return saved;
}
