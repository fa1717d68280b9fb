// The application object, its message loop and command line, message boxes and the file
// dialogs. The profile is in afx_profile.cpp.
#include "platform/afxwin.h"
#include "platform/resdata.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {
CWinApp* g_app = nullptr;
int (*g_messageBoxHook)(const CString&) = nullptr;
CString g_lastMessageBoxText;
std::optional<CString> g_nextFileName;

QWidget* DialogParent()
{
    CWnd* main = AfxGetMainWnd();
    return main != nullptr ? main->GetWidget() : nullptr;
}
} // namespace

// ---- Test hooks ----------------------------------------------------------------------------------

void afxtest::SetMessageBoxHook(int (*hook)(const CString&)) { g_messageBoxHook = hook; }
const CString& afxtest::LastMessageBoxText() { return g_lastMessageBoxText; }
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

CString AfxGetProductVersion()
{
    const ResourceTable* table = AfxGetResourceTable();
    if (table == nullptr || table->version == nullptr)
        return {};
    const VersionData& v = *table->version;
    CString name;
    for (const VersionString& s : v.strings)
        if (std::strcmp(s.key, "ProductName") == 0)
            name = s.value;
    CString text;
    text.Format("%s %u.%u.%u.%u", name.c_str(), v.productVersionMS >> 16, v.productVersionMS & 0xFFFF,
                v.productVersionLS >> 16, v.productVersionLS & 0xFFFF);
    return text;
}

namespace {

// Qt's standard options, which QApplication takes out of the arguments itself; those in the first
// list take a value.
bool IsQtOption(const std::string& a, bool& takesValue)
{
    static const char* const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                            "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                                            "stylesheet", "session", "display", "geometry", "title", "name",
                                            "visual", "ncols", "cmap", "im", "inputstyle", "fn", "font",
                                            "bg", "background", "fg", "foreground", "btn", "button"};
    static const char* const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    std::string name = a.substr(a.rfind('-', 1) == 1 ? 2 : 1);   // "-x" or "--x"
    const std::size_t eq = name.find('=');
    const bool inlineValue = eq != std::string::npos;
    if (inlineValue)
        name.resize(eq);
    for (const char* o : withValue)
        if (name == o) {
            takesValue = !inlineValue;
            return true;
        }
    for (const char* o : flags)
        if (name == o) {
            takesValue = false;
            return true;
        }
    return name.rfind("qmljsdebugger", 0) == 0;
}

} // namespace

int AfxPreParseCommandLine(int argc, char** argv)
{
    const std::string program = argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString() : "sumpwell";
    const auto refuse = [&](const std::string& why) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program.c_str(), why.c_str(),
                     program.c_str());
        return 2;
    };
    int files = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            if (++files > 1)
                return refuse("only one file can be opened, not also '" + a + "'");
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            std::printf("Usage: %s [FILE]\n"
                        "Listens on one UDP or TCP port and shows every line of text that arrives.\n"
                        "With FILE, opens that file as the log.\n\n"
                        "  -h, --help     show this help and exit\n"
                        "  -v, --version  show the version and exit\n\n"
                        "Qt's standard options (-platform, -style, -reverse, ...) are accepted too.\n",
                        program.c_str());
            return 0;
        } else if (a == "--version" || a == "-v") {
            std::printf("%s\n", AfxGetProductVersion().c_str());
            return 0;
        } else if (bool takesValue = false; IsQtOption(a, takesValue)) {
            if (takesValue && ++i >= argc)
                return refuse("option '" + a + "' needs a value");
        } else {
            return refuse("unknown option '" + a + "'");
        }
    }
    return -1;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& rCmdInfo)
{
    // Qt's own options are already taken out; the rest was checked before the application began.
    const QStringList args = QCoreApplication::arguments();
    bool optionsEnded = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (!optionsEnded && args[i] == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && args[i].startsWith(QLatin1Char('-')) && args[i].size() > 1)
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

// ---- Entry -----------------------------------------------------------------------------------------

int AfxWinMain(int argc, char** argv)
{
    // Help, version and a wrong command line are answered before any window system is needed.
    if (const int code = AfxPreParseCommandLine(argc, argv); code >= 0)
        return code;
    static int s_argc = argc;   // QApplication keeps a reference to it
    QApplication qapp(s_argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setOrganizationName(QStringLiteral("Sumpwell"));
    QCoreApplication::setApplicationName(QStringLiteral("Sumpwell"));
    // The installed desktop entry's name: Wayland compositors and task bars match the window to the
    // entry (and its icon) by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.cistern.Sumpwell"));
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    if (app->m_pszAppName.empty())
        if (const char* title = AfxLoadString(AFX_IDS_APP_TITLE))
            app->m_pszAppName = title;
    // No application display name: Qt would append it to every window's caption, and each caption
    // is exactly the one the window sets.

    int code = 0;
    if (!app->InitInstance()) {
        app->CloseAllDocuments(TRUE);
        app->ExitInstance();
        std::fflush(stdout);
        return app->m_nExitCode;
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
