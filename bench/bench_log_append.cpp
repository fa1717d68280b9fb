// SPDX-License-Identifier: GPL-3.0-or-later
// Appending a flood of lines to the log widget the way the view does it: each line arrives as its
// text, then its CR LF, each put in at the end and scrolled into view. Events are processed every
// thousand lines so that the widget paints while the log grows.
//
// Prints the time taken (wall clock and CPU), lines per second, how many times the widget painted,
// and peak resident memory before and after, so that the growth can be set against the size of the
// text. Then times loading a large file as the log.
//
// Usage: bench_log_append [lines] [megabytes to load]
#include "platform/logdocument.h"
#include "platform/logtextwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Peak resident set size in KiB (VmHWM), or -1 when it cannot be read.
long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long loadMiB = argc > 2 ? std::atol(argv[2]) : 128;

    LogDocument doc;
    CLogTextWidget log(doc);
    log.resize(1000, 700);
    log.show();
    QApplication::processEvents();
    PaintCounter counter;
    log.viewport()->installEventFilter(&counter);

    // 78 visible characters; the line number keeps lines distinct.
    QByteArray text(78, 'x');
    const long before = peakRssKiB();

    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuSeconds();
    for (long i = 0; i < lines; ++i) {
        const QByteArray number = QByteArray::number(qlonglong(i));
        std::memcpy(text.data(), number.constData(), std::size_t(number.size()));
        log.setSelection(doc.size(), doc.size());
        doc.append(text.constData(), text.size());
        log.scrollCaretIntoView();
        log.setSelection(doc.size(), doc.size());
        doc.append("\r\n", 2);
        log.scrollCaretIntoView();
        if (i % 1000 == 999)
            QApplication::processEvents();
    }
    QApplication::processEvents();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    const long after = peakRssKiB();
    const bool endVisible = log.isEndVisible();

    const double textBytes = double(doc.size());
    const double grownBytes = double(after - before) * 1024.0;
    std::printf("lines:            %ld (%lld bytes of text, %lld lines in the widget)\n", lines,
                static_cast<long long>(doc.size()), static_cast<long long>(log.lineCount()));
    std::printf("total:            %.3f s (CPU %.3f s)\n", seconds, cpu);
    std::printf("rate:             %.0f lines/s\n", double(lines) / seconds);
    std::printf("peak RSS before:  %ld KiB\n", before);
    std::printf("peak RSS after:   %ld KiB\n", after);
    std::printf("growth / text:    %.3f\n", grownBytes / textBytes);
    std::printf("paints:           %d\n", counter.paints);
    std::printf("end visible:      %s\n", endVisible ? "yes" : "no");

    // Loading: a buffer of loadMiB MiB in 80-byte lines, indexed in one pass.
    QByteArray big(loadMiB << 20, 'y');
    for (qsizetype i = 78; i + 1 < big.size(); i += 80) {
        big[i] = '\r';
        big[i + 1] = '\n';
    }
    QTemporaryFile file;
    if (!file.open() || file.write(big) != big.size() || !file.flush())
        return 1;
    file.seek(0);
    timer.restart();
    QString why;
    const bool loaded = doc.load(file.handle(), &why);
    const double loadSeconds = double(timer.nsecsElapsed()) / 1e9;
    QApplication::processEvents();
    const bool exact = loaded && doc.bytes(0, doc.size()) == big;
    std::printf("load:             %ld MiB, %lld lines in %.3f s (exact: %s)\n", loadMiB,
                static_cast<long long>(log.lineCount()), loadSeconds, exact ? "yes" : "no");
    return endVisible && exact ? 0 : 1;
}
