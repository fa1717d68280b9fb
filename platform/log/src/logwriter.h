// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The store's writer: a thread of its own that writes the store's bytes out, in order, from the
// store's pages. The bytes up to a point are handed to it (writeUpTo), and written() tells how far
// it got; the store leaves those pages alone until then. A failed write stops it: error() says
// why, and written() stays where the file's bytes end.
#include "logio.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class LogWriter {
public:
    // Writes fd from `at` on, from base's bytes.
    LogWriter(int fd, const char* base, qint64 at);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    qint64 written() const { return m_done.load(std::memory_order_acquire); }
    int error() const { return m_error.load(std::memory_order_acquire); }
    void writeUpTo(qint64 end);
    // Until at least `end` is written, or writing failed.
    void waitFor(qint64 end);

private:
    void run();
    int write(qint64 at, qint64 length);

    const char* const m_base;
    int m_direct;
    logio::PacedWriter m_out;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    qint64 m_want = 0;
    bool m_stop = false;
    std::atomic<qint64> m_done{0};
    std::atomic<int> m_error{0};
    std::thread m_thread;
};
