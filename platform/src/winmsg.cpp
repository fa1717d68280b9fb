// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/winmsg.h"

#include <QCoreApplication>

QEvent::Type CWinMsgEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (hWnd == nullptr)
        return FALSE;
    QCoreApplication::postEvent(hWnd, new CWinMsgEvent(message, wParam, lParam));
    return TRUE;
}
