// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CisternApp.h"

#include "app/CisternDoc.h"
#include "app/MainFrm.h"
#include "listener/CisternView.h"
#include "resources/resource.h"

CCisternApp::CCisternApp() = default;

const AFX_MSGMAP* CCisternApp::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_COMMAND(ID_APP_ABOUT, &CCisternApp::OnAppAbout),
        ON_COMMAND(ID_FILE_NEW, &CWinApp::OnFileNew),
        ON_COMMAND(ID_FILE_OPEN, &CWinApp::OnFileOpen),
    };
    static const AFX_MSGMAP map{&CWinApp::GetThisMessageMap, entries};
    return &map;
}

BOOL CCisternApp::InitInstance()
{
    AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, RUNTIME_CLASS(CCisternDoc), RUNTIME_CLASS(CMainFrame),
                                          RUNTIME_CLASS(CCisternView)));

    CCommandLineInfo cmdInfo;
    ParseCommandLine(cmdInfo);
    if (!ProcessShellCommand(cmdInfo))
        return FALSE;
    return TRUE;
}

void CCisternApp::OnAppAbout()
{
    CAboutDlg aboutDlg;
    aboutDlg.DoModal();
}

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
