// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object: registers the one document template and carries out the command line.
#include "platform/afxdlg.h"
#include "platform/afxwin.h"

class CCisternApp : public CWinApp {
public:
    CCisternApp();
    BOOL InitInstance() override;
    void OnAppAbout();

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }
};

// The About box.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
