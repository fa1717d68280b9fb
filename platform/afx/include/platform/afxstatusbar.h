// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The status bar: pane 0 shows prompts and the idle text; the other panes are labels whose width
// is set through SetPaneInfo.
#include "platform/afxwnd.h"

class CStatusBar : public CWnd {
public:
    CStatusBar();
    ~CStatusBar() override;

    BOOL Create(CWnd* parent, DWORD style, UINT nID);
    // Pane 0 (ID_SEPARATOR) is the message pane that stretches; the others are sized to their
    // strings. FALSE when a pane's string is missing.
    BOOL SetIndicators(const UINT* ids, int count);
    void GetPaneInfo(int index, UINT& nID, UINT& nStyle, int& cxWidth) const;
    void SetPaneInfo(int index, UINT nID, UINT nStyle, int cxWidth);
    BOOL SetPaneText(int index, LPCSTR text, BOOL bUpdate = TRUE);
    CString GetPaneText(int index) const;
    int GetCount() const;
    // The font the bar draws its panes in (never null once created).
    CFont* GetFont();
    // The on-screen width of pane index in pixels (text area plus the bar's border around it).
    int GetPaneWidgetWidth(int index) const;
    // The text shown in the message pane right now (prompt or idle text).
    CString GetMessageText() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
