// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting on a condition with a deadline, while the event loop runs. No fixed sleeps in tests.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <functional>

namespace testsupport {

// Spins the event loop until pred() is true or timeoutMs has passed; returns pred()'s last value.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    for (QDeadlineTimer deadline(timeoutMs); !pred(); QCoreApplication::processEvents(QEventLoop::AllEvents, 10))
        if (deadline.hasExpired())
            return pred();
    return true;
}

// Runs the event loop for events already queued (posted events and ready notifiers), without waiting.
inline void drainEvents(int rounds = 5)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace testsupport
