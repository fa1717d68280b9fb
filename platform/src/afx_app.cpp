// The application object, its message loop and command line, the profile, message boxes and
// the file dialogs.
#include "platform/afxwin.h"
#include "platform/resdata.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

#include <cstdlib>
#include <optional>

namespace {
CWinApp* g_app = nullptr;
int (*g_messageBoxHook)(const CString&) = nullptr;
CString g_lastMessageBoxText;
std::optional<CString> g_nextFileName;
CString g_profilePath;

QWidget* DialogParent()
{
    CWnd* main = AfxGetMainWnd();
    return main != nullptr ? main->GetWidget() : nullptr;
}

std::unique_ptr<QSettings> OpenProfile()
{
    if (!g_profilePath.empty())
        return std::make_unique<QSettings>(QString::fromUtf8(g_profilePath.c_str()), QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Sumpwell"), QStringLiteral("Sumpwell"));
}

QString ProfileKey(LPCSTR section, LPCSTR entry)
{
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}
} // namespace

// ---- Test hooks ----------------------------------------------------------------------------------

void afxtest::SetMessageBoxHook(int (*hook)(const CString&)) { g_messageBoxHook = hook; }
const CString& afxtest::LastMessageBoxText() { return g_lastMessageBoxText; }
void afxtest::SetNextFileName(const CString& name) { g_nextFileName = name; }
void afxtest::ClearNextFileName() { g_nextFileName.reset(); }
void afxtest::SetProfilePath(const CString& iniPath) { g_profilePath = iniPath; }

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

void CWinApp::LoadStdProfileSettings(UINT)
{
    // No recent-file list is kept: nothing shows it.
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

void CWinApp::ParseCommandLine(CCommandLineInfo& rCmdInfo)
{
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i].startsWith(QLatin1Char('-')))
            continue;
        rCmdInfo.m_nShellCommand = CCommandLineInfo::FileOpen;
        rCmdInfo.m_strFileName = args[i].toStdString();
        break;
    }
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& rCmdInfo)
{
    CDocTemplate* tmpl = GetDocTemplate();
    switch (rCmdInfo.m_nShellCommand) {
    case CCommandLineInfo::FileNew:
        OnFileNew();
        return m_pMainWnd != nullptr;
    case CCommandLineInfo::FileOpen:
        return tmpl != nullptr && tmpl->OpenDocumentFile(rCmdInfo.m_strFileName.c_str()) != nullptr;
    case CCommandLineInfo::FileNothing:
        return TRUE;
    }
    return FALSE;
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

CString CWinApp::GetProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultValue)
{
    const auto settings = OpenProfile();
    const QVariant v = settings->value(ProfileKey(section, entry));
    if (!v.isValid())
        return CString(defaultValue);
    // A value that the INI reader took for a list (it had commas) is joined back as it stood.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(',')).toStdString();
    return v.toString().toStdString();
}

int CWinApp::GetProfileInt(LPCSTR section, LPCSTR entry, int defaultValue)
{
    const auto settings = OpenProfile();
    const QVariant v = settings->value(ProfileKey(section, entry));
    if (!v.isValid())
        return defaultValue;
    // Read as the decimal number the value starts with, as the INI reader of old did.
    return std::atoi(v.toString().toUtf8().constData());
}

BOOL CWinApp::WriteProfileString(LPCSTR section, LPCSTR entry, LPCSTR value)
{
    const auto settings = OpenProfile();
    settings->setValue(ProfileKey(section, entry), QString::fromUtf8(value ? value : ""));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

BOOL CWinApp::WriteProfileInt(LPCSTR section, LPCSTR entry, int value)
{
    const auto settings = OpenProfile();
    settings->setValue(ProfileKey(section, entry), QString::number(value));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

// ---- Entry -----------------------------------------------------------------------------------------

int AfxWinMain(int argc, char** argv)
{
    static int s_argc = argc;   // QApplication keeps a reference to it
    QApplication qapp(s_argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setOrganizationName(QStringLiteral("Sumpwell"));
    QCoreApplication::setApplicationName(QStringLiteral("Sumpwell"));
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    if (app->m_pszAppName.empty())
        if (const char* title = AfxLoadString(AFX_IDS_APP_TITLE))
            app->m_pszAppName = title;
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(app->m_pszAppName.c_str()));

    int code = 0;
    if (!app->InitInstance()) {
        app->CloseAllDocuments(TRUE);
        app->ExitInstance();
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
    g_lastMessageBoxText = text != nullptr ? text : "";
    if (g_messageBoxHook != nullptr)
        return g_messageBoxHook(g_lastMessageBoxText);
    CWinApp* app = AfxGetApp();
    QMessageBox box(DialogParent());
    box.setWindowTitle(QString::fromUtf8(app != nullptr ? app->m_pszAppName.c_str() : ""));
    box.setText(QString::fromUtf8(g_lastMessageBoxText.c_str()));
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
