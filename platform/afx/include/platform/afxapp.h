// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object and its message loop, its profile, message boxes and the file dialogs.
#include "platform/afxcmdline.h"
#include "platform/afxcore.h"

#include <memory>
#include <vector>

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();

    void AddDocTemplate(CDocTemplate* pTemplate);
    CDocTemplate* GetDocTemplate() const { return m_templates.empty() ? nullptr : m_templates.front().get(); }
    // Fills rCmdInfo from the process's arguments (Qt's own options already removed).
    void ParseCommandLine(CCommandLineInfo& rCmdInfo);
    BOOL ProcessShellCommand(CCommandLineInfo& rCmdInfo);

    void OnFileNew();
    void OnFileOpen();
    void OnAppExit();
    // Destroys every document with its frame and view (at the end of the application).
    void CloseAllDocuments(BOOL bEndSession);

    // The profile: <title>/<title>.ini in the user's configuration folder.
    CString GetProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultValue = nullptr);
    int GetProfileInt(LPCSTR section, LPCSTR entry, int defaultValue);
    BOOL WriteProfileString(LPCSTR section, LPCSTR entry, LPCSTR value);
    BOOL WriteProfileInt(LPCSTR section, LPCSTR entry, int value);

    CWnd* m_pMainWnd = nullptr;
    CString m_pszAppName;   // the application title

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

private:
    std::vector<std::unique_ptr<CDocTemplate>> m_templates;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// The framework's entry: sets up Qt, runs InitInstance, the message loop and ExitInstance.
int AfxWinMain(int argc, char** argv);

// ---- Message boxes and file dialogs -----------------------------------------------------------------
inline constexpr UINT MB_OK = 0;
inline constexpr UINT MB_YESNOCANCEL = 3;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
int AfxMessageBox(LPCSTR text, UINT nType = MB_OK, UINT nIDHelp = 0);
// Asks for a file name with the framework's dialog ("All Files (*)" only, no added extension).
BOOL AfxDoPromptFileName(CString& fileName, BOOL bOpenFileDialog);

// ---- Test hooks --------------------------------------------------------------------------------------
namespace afxtest {
// Instead of showing message boxes: the hook gets the text and returns the answer.
void SetMessageBoxHook(int (*hook)(const CString& text));
// Instead of showing the file dialog: the next name it returns (empty = cancelled).
void SetNextFileName(const CString& name);
void ClearNextFileName();
// Where the profile lives (empty restores the default place).
void SetProfilePath(const CString& iniPath);
} // namespace afxtest
