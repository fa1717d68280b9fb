// SPDX-License-Identifier: GPL-3.0-or-later
// The application object and its message loop, message boxes and the file dialogs. The command
// line is in afx_cmdline.cpp, the profile in afx_profile.cpp.
#include "platform/afxapp.h"
#include "platform/afxdoc.h"
#include "platform/afxwnd.h"
#include "platform/resdata.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {
CWinApp* g_app = nullptr;
int (*g_messageBoxHook)(const CString&) = nullptr;
std::optional<CString> g_nextFileName;

QWidget* DialogParent()
{
    CWnd* main = AfxGetMainWnd();
    return main != nullptr ? main->GetWidget() : nullptr;
}
} // namespace

// ---- Test hooks ----------------------------------------------------------------------------------

void afxtest::SetMessageBoxHook(int (*hook)(const CString&)) { g_messageBoxHook = hook; }
void afxtest::SetNextFileName(const CString& name) { g_nextFileName = name; }
void afxtest::ClearNextFileName() { g_nextFileName.reset(); }

// ---- CWinApp -------------------------------------------------------------------------------------

CWinApp::CWinApp(LPCSTR appName)
{
    if (appName != nullptr)
        m_pszAppName = appName;
    g_app = this;
}

CWinApp::~CWinApp()
{
    CloseAllDocuments(TRUE);
    if (g_app == this)
        g_app = nullptr;
}

const AFX_MSGMAP* CWinApp::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_COMMAND(ID_APP_EXIT, &CWinApp::OnAppExit),
    };
    static const AFX_MSGMAP map{&CCmdTarget::GetThisMessageMap, entries};
    return &map;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

CWnd* AfxGetMainWnd()
{
    return g_app != nullptr ? g_app->m_pMainWnd : nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    return QApplication::exec();
}

int CWinApp::ExitInstance()
{
    return 0;
}

void CWinApp::AddDocTemplate(CDocTemplate* pTemplate)
{
    m_templates.emplace_back(pTemplate);
}

void CWinApp::CloseAllDocuments(BOOL)
{
    m_templates.clear();
    m_pMainWnd = nullptr;
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& rCmdInfo)
{
    if (rCmdInfo.m_nShellCommand == CCommandLineInfo::FileNew) {
        OnFileNew();
        return m_pMainWnd != nullptr;
    }
    CDocTemplate* tmpl = GetDocTemplate();
    return tmpl != nullptr && tmpl->OpenDocumentFile(rCmdInfo.m_strFileName.c_str()) != nullptr;
}

void CWinApp::OnFileNew()
{
    if (CDocTemplate* tmpl = GetDocTemplate())
        tmpl->OpenDocumentFile(nullptr);
}

void CWinApp::OnFileOpen()
{
    CString name;
    if (!AfxDoPromptFileName(name, TRUE))
        return;
    if (CDocTemplate* tmpl = GetDocTemplate())
        tmpl->OpenDocumentFile(name.c_str());
}

void CWinApp::OnAppExit()
{
    if (m_pMainWnd != nullptr)
        m_pMainWnd->DestroyWindow();
}

// ---- Entry -----------------------------------------------------------------------------------------

int AfxWinMain(int argc, char** argv)
{
    // Help, version and a wrong command line are answered before any window system is needed.
    if (const int code = AfxPreParseCommandLine(argc, argv); code >= 0)
        return code;
    static int s_argc = argc;   // QApplication keeps a reference to it
    QApplication qapp(s_argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    if (app->m_pszAppName.empty())
        if (const char* title = AfxLoadString(AFX_IDS_APP_TITLE))
            app->m_pszAppName = title;
    QCoreApplication::setOrganizationName(QString::fromUtf8(app->m_pszAppName.c_str()));
    QCoreApplication::setApplicationName(QString::fromUtf8(app->m_pszAppName.c_str()));
    // The installed desktop entry's name: Wayland compositors and task bars match the window to the
    // entry (and its icon) by it.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(AfxGetIdentity().desktopId));
    // No application display name: Qt would append it to every window's caption, and each caption
    // is exactly the one the window sets.

    int code = 0;
    if (!app->InitInstance()) {
        app->CloseAllDocuments(TRUE);
        app->ExitInstance();
        std::fflush(stdout);
        return 1;
    }
    code = app->Run();
    app->CloseAllDocuments(TRUE);
    const int exitCode = app->ExitInstance();
    return code != 0 ? code : exitCode;
}

// ---- Message boxes and file dialogs ------------------------------------------------------------------

int AfxMessageBox(LPCSTR text, UINT nType, UINT)
{
    const CString message = text != nullptr ? text : "";
    if (g_messageBoxHook != nullptr)
        return g_messageBoxHook(message);
    CWinApp* app = AfxGetApp();
    QMessageBox box(DialogParent());
    box.setWindowTitle(QString::fromUtf8(app != nullptr ? app->m_pszAppName.c_str() : ""));
    box.setText(QString::fromUtf8(message.c_str()));
    if ((nType & 0xF0) == MB_ICONEXCLAMATION)
        box.setIcon(QMessageBox::Warning);
    if ((nType & 0x0F) == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    default: return IDOK;
    }
}

BOOL AfxDoPromptFileName(CString& fileName, BOOL bOpenFileDialog)
{
    if (g_nextFileName) {
        fileName = *g_nextFileName;
        g_nextFileName.reset();
        return fileName.empty() ? FALSE : TRUE;
    }
    QFileDialog dialog(DialogParent());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("All Files (*)"));
    dialog.setAcceptMode(bOpenFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(bOpenFileDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setWindowTitle(bOpenFileDialog ? QStringLiteral("Open") : QStringLiteral("Save As"));
    if (!bOpenFileDialog && !fileName.empty())
        dialog.selectFile(QString::fromUtf8(fileName.c_str()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return FALSE;
    fileName = dialog.selectedFiles().constFirst().toStdString();
    return TRUE;
}
