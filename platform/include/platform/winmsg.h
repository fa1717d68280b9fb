// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Window messages as posted Qt events. Posting never calls the receiver: the message is handled
// later by the receiving window's message map, from the event loop.
#include "platform/types.h"

#include <QEvent>

// The event that carries one posted window message and its two word-sized parameters.
class CWinMsgEvent final : public QEvent {
public:
    CWinMsgEvent(UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(eventType()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

    static QEvent::Type eventType();

    UINT message() const { return m_message; }
    WPARAM wParam() const { return m_wParam; }
    LPARAM lParam() const { return m_lParam; }

private:
    UINT m_message;
    WPARAM m_wParam;
    LPARAM m_lParam;
};

// Queues the message for hWnd. Returns FALSE when hWnd is null.
BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
