// SPDX-License-Identifier: GPL-3.0-or-later
// Appending a flood of lines through the program's own view: CCisternView::AppendToLog, called the
// way the receive path calls it, once with a line's text and once with its CR LF. The whole program
// runs (resources, application object, main frame, document and view, under the offscreen
// platform), and events are processed every thousand lines so that the log paints as it grows.
//
// Prints the time taken (wall clock and CPU), lines per second, peak resident memory (VmHWM) before
// and after, and the growth as a multiple of the size of the text.
//
// Usage: bench_append_to_log [lines]   (default 1,000,000; at most 20,000,000)
#include "app/CisternApp.h"
#include "app/MainFrm.h"
#include "listener/CisternView.h"
#include "platform/afxdlg.h"
#include "resources/resource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

namespace {

// A field of /proc/self/status in KiB (VmHWM, VmRSS), or -1.
long statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int AnswerOk(const CString& text)
{
    std::fprintf(stderr, "message box: %s\n", text.c_str());
    return IDOK;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (lines < 1 || lines > 20000000) {
        std::fprintf(stderr, "usage: bench_append_to_log [lines from 1 to 20000000]\n");
        return 2;
    }
    // The application sees no arguments: the program would take the line count for a file to open.
    int qtArgc = 1;
    QApplication qapp(qtArgc, argv);

    // The program as the tests build it: a profile in a temporary folder, message boxes answered.
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    CisternInitResources();
    afxtest::SetMessageBoxHook(&AnswerOk);
    afxtest::SetProfilePath((dir.path() + QStringLiteral("/Sumpwell.ini")).toStdString());
    afxtest::SetScreenSize(1024, 768);
    auto app = std::make_unique<CCisternApp>();
    if (!app->InitInstance()) {
        std::fprintf(stderr, "InitInstance failed\n");
        return 1;
    }
    auto* frame = dynamic_cast<CMainFrame*>(app->m_pMainWnd);
    auto* view = frame != nullptr ? dynamic_cast<CCisternView*>(frame->GetActiveView()) : nullptr;
    if (view == nullptr) {
        std::fprintf(stderr, "no view\n");
        return 1;
    }
    QApplication::processEvents();

    // 78 visible characters, the line number first to keep lines distinct, then CR LF: 80 bytes.
    std::string text(78, 'x');
    const long hwmBefore = statusKiB("VmHWM");
    const long rssBefore = statusKiB("VmRSS");

    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuSeconds();
    for (long i = 0; i < lines; ++i) {
        const std::string number = std::to_string(i);
        std::memcpy(text.data(), number.data(), number.size());
        view->AppendToLog(text.data(), text.size());
        view->AppendToLog("\r\n", 2);
        if (i % 1000 == 999)
            QApplication::processEvents();
    }
    QApplication::processEvents();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    const long hwmAfter = statusKiB("VmHWM");
    const long rssAfter = statusKiB("VmRSS");

    const double textBytes = double(view->GetTextSize());
    const bool sizeRight = view->GetTextSize() == std::size_t(lines) * 80;
    std::printf("lines:            %ld (%zu bytes of text, expected %ld)\n", lines, view->GetTextSize(), lines * 80);
    std::printf("total:            %.3f s (CPU %.3f s)\n", seconds, cpu);
    std::printf("rate:             %.0f lines/s\n", double(lines) / seconds);
    std::printf("peak RSS before:  %ld KiB (RSS %ld KiB)\n", hwmBefore, rssBefore);
    std::printf("peak RSS after:   %ld KiB (RSS %ld KiB)\n", hwmAfter, rssAfter);
    std::printf("growth / text:    %.3f (peak), %.3f (RSS)\n", double(hwmAfter - hwmBefore) * 1024.0 / textBytes,
                double(rssAfter - rssBefore) * 1024.0 / textBytes);

    app.reset();
    afxtest::SetMessageBoxHook(nullptr);
    afxtest::SetProfilePath("");
    afxtest::SetScreenSize(0, 0);
    QApplication::processEvents();
    return sizeRight ? 0 : 1;
}
