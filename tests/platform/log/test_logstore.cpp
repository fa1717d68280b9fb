// SPDX-License-Identifier: GPL-3.0-or-later
// The log store and its line index: the bytes read back exactly as appended, whatever the cut of
// the appends and across the boundary between memory and disk; the index against a plain scan;
// opening, failing to open and copying the log as the log widget does it.
#include "logstore.h"
#include "loglineindex.h"
#include "platform/logdocument.h"
#include "wait.h"

#include <QTimer>

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include <csignal>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens the file fd holds as the store's log, as the log widget does it, on one thread; each
// block copied goes to index when one is given.
bool Assign(LogStore& store, int fd, LogLineIndex* index = nullptr)
{
    const int dst = store.newFile(nullptr);
    const qint64 length = LogStore::copyFile(fd, dst, [&](qint64 at, const char* bytes, qint64 n) {
        // What is handed on is in the copy already: the log's mapping may show it at once.
        struct stat st{};
        EXPECT_TRUE(::fstat(dst, &st) == 0 && st.st_size >= at + n) << "block at " << at;
        if (index != nullptr)
            index->appended(at, bytes, n);
        return true;
    });
    return length >= 0 && store.growFromFile(length);
}

std::vector<qint64> PlainStarts(const std::string& text)
{
    std::vector<qint64> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n')
            starts.push_back(qint64(i) + 1);
    return starts;
}

void ExpectIndexMatches(const LogLineIndex& index, const std::string& text)
{
    const std::vector<qint64> starts = PlainStarts(text);
    ASSERT_EQ(index.lineCount(), qint64(starts.size()));
    for (std::size_t i = 0; i < starts.size(); ++i) {
        ASSERT_EQ(index.lineStart(qint64(i)), starts[i]) << "line " << i;
        const qint64 end = i + 1 < starts.size() ? starts[i + 1] - 1 : qint64(text.size());
        ASSERT_EQ(index.lineEnd(qint64(i)), end) << "line " << i;
        ASSERT_EQ(index.lineOf(starts[i]), qint64(i));
        ASSERT_EQ(index.lineOf(end), qint64(i));
    }
}

TEST(LogStore, BytesReadBackAsAppendedAcrossMemoryAndDiskAndTheIndexAgreesWithAPlainScan)
{
    QTemporaryDir dir;
    LogStore store(dir.path());
    LogLineIndex index;
    index.clear(store.data());
    std::mt19937 rng(7);
    // Lines of every length: empty, one byte, around the index's block size, longer than a block.
    const qint64 lengths[] = {0, 1, 2, 79, 4095, 4096, 4097, LogLineIndex::kBlockBytes - 1,
                              LogLineIndex::kBlockBytes, LogLineIndex::kBlockBytes + 1,
                              3 * LogLineIndex::kBlockBytes};
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        const qint64 length = i % 7 == 0 ? lengths[rng() % std::size(lengths)] : qint64(rng() % 100);
        std::string line(std::size_t(length), char('a' + i % 26));
        line += '\n';
        // Appended in pieces of any size, a line's end in one piece and its start in the next.
        std::size_t at = 0;
        while (at < line.size()) {
            const std::size_t piece = std::min(line.size() - at, std::size_t(rng() % 5000) + 1);
            const qint64 before = store.size();
            store.append(line.data() + at, qint64(piece));
            index.appended(before, store.data() + before, qint64(piece));
            at += piece;
        }
        text += line;
        ASSERT_LT(store.bytesInMemory(), LogStore::kMostInMemory + 5000);
    }
    store.settle();
    EXPECT_LT(store.bytesInMemory(), LogStore::kKeptTail + LogStore::kTableReach);
    text += "no line end yet";
    const qint64 before = store.size();
    store.append("no line end yet", 15);
    index.appended(before, store.data() + before, 15);
    EXPECT_TRUE(store.takeError().isEmpty());
    // On disk, in a file with no name: nothing is left in the folder for anyone to clean up.
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    ASSERT_EQ(store.size(), qint64(text.size()));
    EXPECT_TRUE(std::equal(text.begin(), text.end(), store.data()));
    ExpectIndexMatches(index, text);
    EXPECT_LT(index.bytesUsed(), qint64(text.size()) / 100);

    // Written out and read back whole; then emptied and filled again.
    const QString saved = dir.filePath("saved");
    int fd = ::open(QFile::encodeName(saved).constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(store.writeTo(fd));
    LogStore again(dir.path());
    ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
    ASSERT_TRUE(Assign(again, fd));
    ::close(fd);
    ASSERT_EQ(again.size(), store.size());
    EXPECT_EQ(std::memcmp(again.data(), store.data(), std::size_t(store.size())), 0);
    again.append("!\n", 2);
    EXPECT_EQ(std::string(again.data() + again.size() - 17, 17), "no line end yet!\n");
    store.clear();
    index.clear(store.data());
    EXPECT_EQ(store.size(), 0);
    store.append("x\n", 2);
    index.appended(0, store.data(), 2);
    EXPECT_EQ(std::string(store.data(), 2), "x\n");
    EXPECT_EQ(index.lineCount(), 2);
}

} // namespace

namespace {

TEST(LogStore, LinesInViewAreFoundAgainWithoutReadingTheTextAsTheLogGrows)
{
    // A screenful spans a few of the index's blocks. Drawn again as the log grows, its lines must
    // be found without reading the text there, which by then may have to come from the disk: here
    // it cannot be read at all.
    const std::size_t size = std::size_t(1) << 20;
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    char* text = static_cast<char*>(mapped);
    for (std::size_t i = 0; i < size; ++i)
        text[i] = i % 50 == 49 ? '\n' : 'x';
    LogLineIndex index;
    index.clear(text);
    index.appended(0, text, qint64(size) / 2);
    std::vector<qint64> starts;
    for (qint64 line = 100; line < 300; ++line)
        starts.push_back(index.lineStart(line));
    const std::string more(text + size / 2, size / 2);
    ASSERT_EQ(::mprotect(text, size, PROT_NONE), 0);
    index.appended(qint64(size) / 2, more.data(), qint64(more.size()));
    for (qint64 line = 100; line < 300; ++line)
        EXPECT_EQ(index.lineStart(line), starts[std::size_t(line - 100)]);
    ::munmap(mapped, size);
}

TEST(LogStore, TheIndexOfShortLinesCostsMemoryByTheBytesAndItsLookupsStayExact)
{
    // 4 MiB of mostly one-character and empty lines, with stretches of lines of about 4 KiB (where
    // checkpoints fall) and of 80 bytes, appended in pieces of any size.
    std::mt19937 rng(11);
    std::string text;
    while (text.size() < (std::size_t(4) << 20)) {
        const unsigned kind = rng() % 8;
        for (int i = 1 + int(rng() % 20000); i > 0; --i)
            text.append(kind == 6 && i < 3 ? 4094 + rng() % 4 : kind == 7 ? 78 : kind % 2, 'a').append(kind % 3 ? "\n" : "\r\n");
    }
    text += "open";
    LogLineIndex index;
    index.clear(text.data());
    for (std::size_t at = 0, piece; at < text.size(); at += piece)
        index.appended(qint64(at), text.data() + at, qint64(piece = std::min(text.size() - at, std::size_t(rng() % 65536) + 1)));
    // A 16-byte checkpoint every 64 lines would be about a tenth of the text: the bytes bound it.
    EXPECT_LT(index.bytesUsed(), qint64(text.size()) / 200);
    ExpectIndexMatches(index, text);
}

TEST(LogStore, OffsetsPastFourGiBHoldForTheBytesAndTheLines)
{
    // A saved log of just under 4 GiB, mostly a hole, opened, then appended to across 4 GiB.
    QTemporaryDir dir;
    const qint64 fourGiB = qint64(1) << 32;
    const QByteArray path = QFile::encodeName(dir.filePath("big"));
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(::pwrite(fd, "first\n", 6, 0), 6);
    ASSERT_EQ(::pwrite(fd, "near\n", 5, fourGiB - 8), 5);
    ASSERT_EQ(::ftruncate(fd, fourGiB - 3), 0);
    LogStore store(dir.path());
    LogLineIndex index;
    index.clear(store.data());
    ASSERT_TRUE(Assign(store, fd, &index));
    ::close(fd);
    ASSERT_EQ(store.size(), fourGiB - 3);
    store.append("abcdef\ngh\n", 10);
    index.appended(fourGiB - 3, store.data() + fourGiB - 3, 10);

    EXPECT_EQ(index.lineCount(), 5);
    EXPECT_EQ(index.lineStart(2), fourGiB - 3);
    EXPECT_EQ(index.lineEnd(2), fourGiB + 3);
    EXPECT_EQ(index.lineStart(3), fourGiB + 4);
    EXPECT_EQ(index.lineOf(fourGiB + 5), 3);
    EXPECT_EQ(index.lineOf(fourGiB - 100), 1);
    EXPECT_EQ(std::string(store.data() + fourGiB - 8, 12), "near\nabcdef\n");

    const QByteArray saved = QFile::encodeName(dir.filePath("saved"));
    fd = ::open(saved.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(store.writeTo(fd));
    char tail[16] = {};
    EXPECT_EQ(::pread(fd, tail, sizeof tail, fourGiB - 8), 15);
    EXPECT_EQ(std::string(tail, 15), "near\nabcdef\ngh\n");
    EXPECT_EQ(::lseek(fd, 0, SEEK_END), fourGiB + 7);
    ::close(fd);
}

} // namespace

namespace {

TEST(LogStore, WhenTheDiskFailsTheBytesStayInMemoryAndTheReasonIsToldOnce)
{
    QTemporaryDir dir;
    LogStore store(dir.path());
    // Files of this process may not grow past 3 MiB: the store's writes fail as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 3 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string text;
    for (int i = 0; text.size() < (10u << 20); ++i)
        text += std::to_string(i) + " a line of the log\r\n";
    // In one piece, so that the writer's first write is the one that fails.
    store.append(text.data(), qint64(text.size()));
    store.settle();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(store.takeError().isEmpty());
    EXPECT_TRUE(store.takeError().isEmpty()) << "the reason is told once";
    store.append("more\r\n", 6);
    text += "more\r\n";
    EXPECT_TRUE(store.takeError().isEmpty());
    ASSERT_EQ(store.size(), qint64(text.size()));
    // Nothing the file did not get is read from it: a failed write counts for nothing.
    ASSERT_GT(store.bytesInMemory(), store.size() - (3 << 20));
    EXPECT_TRUE(std::equal(text.begin(), text.end(), store.data()));
    // An emptied log goes to disk again.
    store.clear();
    store.append(text.data(), qint64(text.size()));
    store.settle();
    EXPECT_TRUE(store.takeError().isEmpty());
    EXPECT_LT(store.bytesInMemory(), LogStore::kKeptTail + LogStore::kFlushBytes);
}

} // namespace

namespace {

// A file of these bytes, open for reading from its start.
int FileOf(const QTemporaryDir& dir, const char* name, const QByteArray& bytes)
{
    const QByteArray path = QFile::encodeName(dir.filePath(name));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(::write(fd, bytes.constData(), std::size_t(bytes.size())), bytes.size());
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

TEST(LogFiles, ALoadTakesTheFileWithWhatArrivesMeanwhileAfterItAndAFailedOneChangesNothing)
{
    QTemporaryDir dir;
    LogDocument doc(dir.path());
    doc.append("old\r\n", 5);
    // Its progress told at once, and gone from the status bar after it.
    doc.setProgressAfter(0);
    QStringList progress;
    QObject::connect(&doc, &LogDocument::progress, [&](const QString& text) { progress << text; });
    const QByteArray file = QByteArray("from the file\r\n").repeated(100000);
    // Appended while the file is read: it waits and follows the file. Once as much waits as the
    // document holds meanwhile, readers are told to wait too, until the load is over.
    const QByteArray many(LogDocument::kMostPending, 'm');
    bool readersWaited = false, caughtUp = false;
    QObject::connect(&doc, &LogDocument::caughtUp, [&] { caughtUp = true; });
    QTimer::singleShot(0, &doc, [&] {
        EXPECT_TRUE(doc.fileOperationRunning());
        doc.append("arrived\r\n", 9);
        EXPECT_FALSE(doc.behind());
        doc.append(many.constData(), many.size());
        readersWaited = doc.behind();
        doc.notifyWhenCaughtUp();
    });
    const int fd = FileOf(dir, "saved.log", file);
    QString why;
    ASSERT_TRUE(doc.load(fd, &why)) << why.toStdString();
    ::close(fd);
    EXPECT_FALSE(doc.fileOperationRunning());
    ASSERT_GE(progress.size(), 2);
    EXPECT_TRUE(progress.front().startsWith(QStringLiteral("Opening the file: ")));
    EXPECT_EQ(progress.back(), QString()) << "the progress stays in the status bar";
    doc.append("after\r\n", 7);   // while what waited goes in, a piece a turn: it follows that
    EXPECT_TRUE(readersWaited);

    // A descriptor that cannot be read, begun while those pieces still go in: the log is as it
    // was with all of them, and says why.
    const int writeOnly = ::open(QFile::encodeName(dir.filePath("saved.log")).constData(), O_WRONLY);
    EXPECT_FALSE(doc.load(writeOnly, &why));
    ::close(writeOnly);
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(testsupport::waitFor([&] { return caughtUp && !doc.behind(); }));
    EXPECT_TRUE(testsupport::waitFor([&] { return doc.size() == file.size() + 16 + many.size(); }));
    EXPECT_TRUE(doc.bytes(0, doc.size()) == file + "arrived\r\n" + many + "after\r\n");
    EXPECT_EQ(doc.lineCount(), 100003);
}

TEST(LogFiles, AFileCutShortWhileItIsCopiedGivesWhatWasReadAndNoFault)
{
    // Two pieces of data with a hole between; the file is cut short once the first was copied.
    QTemporaryDir dir;
    const int fd = FileOf(dir, "shrinking", QByteArray(4096, 'x'));
    ASSERT_EQ(::pwrite(fd, "tail\n", 5, qint64(100) << 20), 5);
    LogStore store(dir.path());
    const int dst = store.newFile(nullptr);
    const qint64 length = LogStore::copyFile(fd, dst, [&](qint64, const char*, qint64) { return ::ftruncate(fd, 1000) == 0; });
    ::close(fd);
    ASSERT_EQ(length, 4096);
    ASSERT_TRUE(store.growFromFile(length));
    EXPECT_EQ(std::string(store.data(), 4096), std::string(4096, 'x'));
    // A device answers every question about its data and holes with 0: the copy still ends.
    const int null = ::open("/dev/null", O_RDONLY);
    EXPECT_EQ(LogStore::copyFile(null, store.newFile(nullptr), [](qint64, const char*, qint64) { return true; }), 0);
    ::close(null);
}

} // namespace
