// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the log view needs of the main window: setting the text of a status-bar pane. The main
// frame provides it; the view reaches it as the application's main window.
#include "platform/types.h"

class CStatusPaneHost {
public:
    virtual BOOL SetStatusPaneText(int index, LPCSTR text) = 0;

protected:
    ~CStatusPaneHost() = default;
};

// Sets pane index of the application's main window; FALSE when there is none.
BOOL SetMainWindowPaneText(int index, LPCSTR text);
