// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main frame: three quarters of the screen, centred, captioned with the program's name
// alone, with a status bar whose second pane tells the connection state.
#include "listener/StatusPane.h"
#include "platform/afxwin.h"

class CMainFrame : public CFrameWnd, public CStatusPaneHost {
public:
    CMainFrame();
    ~CMainFrame() override;

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    // Sets pane index's text and fits the pane to it; the result of setting the text.
    BOOL SetStatusPaneText(int index, LPCSTR text) override;
    CStatusBar& GetStatusBar() { return m_wndStatusBar; }

    static const CRuntimeClass classCMainFrame;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    int OnCreate(CREATESTRUCT* cs);

    CStatusBar m_wndStatusBar;
};
