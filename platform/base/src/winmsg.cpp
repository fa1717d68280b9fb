// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/winmsg.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

// The event that carries one posted window message and its two word-sized parameters.
class WinMsgEvent final : public QEvent {
public:
    WinMsgEvent(UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(eventType()), message(message), wParam(wParam), lParam(lParam) {}

    static QEvent::Type eventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;
};

} // namespace

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (hWnd == nullptr)
        return FALSE;
    QCoreApplication::postEvent(hWnd, new WinMsgEvent(message, wParam, lParam));
    return TRUE;
}

BOOL GetPostedMessage(const QEvent* event, UINT* message, WPARAM* wParam, LPARAM* lParam)
{
    if (event == nullptr || event->type() != WinMsgEvent::eventType())
        return FALSE;
    const auto* posted = static_cast<const WinMsgEvent*>(event);
    *message = posted->message;
    *wParam = posted->wParam;
    *lParam = posted->lParam;
    return TRUE;
}
