// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Window messages as posted Qt events. Posting never calls the receiver: the message is handled
// later by the receiving window's message map, from the event loop.
#include "platform/types.h"

class QEvent;

// Queues the message for hWnd. Returns FALSE when hWnd is null.
BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The message a posted event carries; FALSE for any other event.
BOOL GetPostedMessage(const QEvent* event, UINT* message, WPARAM* wParam, LPARAM* lParam);
