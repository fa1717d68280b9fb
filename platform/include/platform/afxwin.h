#pragma once
// The window framework as the program calls it: application object and message loop, message
// maps with command routing, frame window with status bar, edit view, document and template,
// profile, wait cursor, measurement and help. Built on Qt Widgets; Qt stays behind this header
// except where a widget must be handed out (CWnd::GetWidget).
#include "platform/cstring.h"
#include "platform/types.h"

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

class QWidget;
class QMainWindow;
class QFont;

class CObject;
class CCmdTarget;
class CCmdUI;
class CWnd;
class CFrameWnd;
class CView;
class CDocument;
class CDocTemplate;
class CWinApp;
class CArchive;
class CDC;
struct CCreateContext;

// ---- Standard command and string ids --------------------------------------------------------------
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT ID_FILE_NEW = 57600;
inline constexpr UINT ID_FILE_OPEN = 57601;
inline constexpr UINT ID_FILE_CLOSE = 57602;
inline constexpr UINT ID_FILE_SAVE = 57603;
inline constexpr UINT ID_FILE_SAVE_AS = 57604;
inline constexpr UINT ID_EDIT_COPY = 57634;
inline constexpr UINT ID_EDIT_CUT = 57635;
inline constexpr UINT ID_EDIT_PASTE = 57637;
inline constexpr UINT ID_EDIT_SELECT_ALL = 57642;
inline constexpr UINT ID_EDIT_UNDO = 57643;
inline constexpr UINT ID_APP_ABOUT = 57664;
inline constexpr UINT ID_APP_EXIT = 57665;
inline constexpr UINT ID_HELP_INDEX = 57666;
inline constexpr UINT ID_HELP_FINDER = 57667;
inline constexpr UINT ID_HELP_USING = 57668;
inline constexpr UINT ID_CONTEXT_HELP = 57669;
inline constexpr UINT ID_HELP = 57670;
inline constexpr UINT ID_DEFAULT_HELP = 57671;
inline constexpr UINT ID_NEXT_PANE = 57680;
inline constexpr UINT ID_PREV_PANE = 57681;

inline constexpr UINT AFX_IDS_APP_TITLE = 57344;
inline constexpr UINT AFX_IDS_IDLEMESSAGE = 57345;
inline constexpr UINT AFX_IDS_HELPMODEMESSAGE = 57346;
inline constexpr UINT AFX_IDW_STATUS_BAR = 59393;
inline constexpr UINT AFX_IDW_PANE_FIRST = 59648;

// Window messages the maps can name.
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_USER = 0x0400;

// Screen metrics.
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
int GetSystemMetrics(int index);

// ---- Run-time classes -------------------------------------------------------------------------------
struct CRuntimeClass {
    const char* m_lpszClassName;
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
    BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

template <class T>
CObject* AfxCreateObject() { return new T; }

// A class made by the framework from its run-time class declares `static const CRuntimeClass classX;`
// and defines it as { "X", &AfxCreateObject<X>, &Base::classBase }.
#define RUNTIME_CLASS(name) (&name::class##name)

class CObject {
public:
    virtual ~CObject() = default;
    static const CRuntimeClass classCObject;
    virtual const CRuntimeClass* GetRuntimeClass() const { return &classCObject; }
};

// ---- Message maps ----------------------------------------------------------------------------------
// One static table per class, chained to its base class's table. Each entry names a member of the
// class, converted to a member of CCmdTarget (the classes form one single-inheritance chain).
enum class AfxSig : BYTE { Command, UpdateCommandUI, Message, Create };

struct CREATESTRUCT {
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

using AFX_PCMD = void (CCmdTarget::*)();
using AFX_PUPDATE = void (CCmdTarget::*)(CCmdUI*);
using AFX_PMSG = LRESULT (CCmdTarget::*)(WPARAM, LPARAM);
using AFX_PCREATE = int (CCmdTarget::*)(CREATESTRUCT*);

struct AFX_MSGMAP_ENTRY {
    AfxSig sig;
    UINT id;              // command id, or window message number
    AFX_PCMD pfnCmd = nullptr;
    AFX_PUPDATE pfnUpdate = nullptr;
    AFX_PMSG pfnMsg = nullptr;
    AFX_PCREATE pfnCreate = nullptr;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    std::span<const AFX_MSGMAP_ENTRY> entries;
};

template <class T>
constexpr AFX_MSGMAP_ENTRY ON_COMMAND(UINT id, void (T::*handler)())
{
    return {AfxSig::Command, id, static_cast<AFX_PCMD>(handler)};
}
template <class T>
constexpr AFX_MSGMAP_ENTRY ON_UPDATE_COMMAND_UI(UINT id, void (T::*handler)(CCmdUI*))
{
    return {AfxSig::UpdateCommandUI, id, nullptr, static_cast<AFX_PUPDATE>(handler)};
}
template <class T>
constexpr AFX_MSGMAP_ENTRY ON_MESSAGE(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM))
{
    return {AfxSig::Message, message, nullptr, nullptr, static_cast<AFX_PMSG>(handler)};
}
template <class T>
constexpr AFX_MSGMAP_ENTRY ON_WM_CREATE(int (T::*handler)(CREATESTRUCT*))
{
    return {AfxSig::Create, WM_CREATE, nullptr, nullptr, nullptr, static_cast<AFX_PCREATE>(handler)};
}

// Notification codes of OnCmdMsg.
inline constexpr int CN_COMMAND = 0;
inline constexpr int CN_UPDATE_COMMAND_UI = -1;

// ---- Command targets -------------------------------------------------------------------------------
class CCmdTarget : public CObject {
public:
    // Looks for a handler of id in this object's map chain; for CN_COMMAND runs it, for
    // CN_UPDATE_COMMAND_UI runs the enabling handler with pExtra as its CCmdUI. TRUE when found.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra);

    void BeginWaitCursor();
    void EndWaitCursor();

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }

protected:
    // Finds the entry of the given kind and id in this object's map chain.
    const AFX_MSGMAP_ENTRY* FindEntry(AfxSig sig, UINT id) const;
};

// The enabling object handed to enabling handlers: for a menu item or a key's command.
class CCmdUI {
public:
    UINT m_nID = 0;
    BOOL m_bEnabled = TRUE;
    BOOL m_bEnableChanged = FALSE;   // an enabling handler answered

    virtual ~CCmdUI() = default;
    virtual void Enable(BOOL bOn = TRUE);
    // Asks target (normally the frame) for the state; when no enabling handler answers, the
    // command is enabled exactly when some handler exists for it.
    void DoUpdate(CCmdTarget* target);
};

// ---- Windows ---------------------------------------------------------------------------------------
class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    // The Qt widget that shows this window; null before creation.
    QWidget* GetWidget() const { return m_widget; }
    // The object that receives this window's posted messages.
    HWND GetSafeHwnd() const;

    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Dispatches a window message through the map; unhandled messages give 0.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Carries out a command from a menu or key: enabling handler first, dropped when disabled.
    virtual BOOL OnCommand(UINT nID);

    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    virtual void DestroyWindow();

    void SetWindowText(LPCSTR text);
    CString GetWindowText() const;
    void SetFocus();

    // Help commands.
    void OnHelpFinder();

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    // Takes ownership of widget as this window's on-screen form and routes its messages here.
    void Attach(QWidget* widget);
    // Runs the map's WM_CREATE handler; 0 when there is none.
    int SendCreate(CREATESTRUCT* cs);

private:
    QWidget* m_widget = nullptr;
    std::unique_ptr<QObject> m_bridge;
    friend class CWndBridge;
};

// ---- Device contexts and fonts (text measurement) ---------------------------------------------------
class CFont {
public:
    CFont();
    explicit CFont(const QFont& font);
    ~CFont();
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    const QFont& GetQFont() const;
    void SetQFont(const QFont& font);

private:
    std::unique_ptr<QFont> m_font;
};

struct CSize {
    int cx = 0;
    int cy = 0;
};

class CDC {
public:
    CDC();
    virtual ~CDC();
    CFont* SelectObject(CFont* font);      // returns the font it replaces
    CSize GetTextExtent(LPCSTR text, int length) const;

protected:
    CFont m_defaultFont;
    CFont* m_current = nullptr;
};

// A device context for a whole window: its default font is the window's font.
class CWindowDC : public CDC {
public:
    explicit CWindowDC(CWnd* wnd);
};

// ---- Status bar ------------------------------------------------------------------------------------
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
    // WM_GETFONT: the bar's font (never null once created).
    CFont* GetFont();
    // The on-screen width of pane index in pixels (text area plus the bar's border around it).
    int GetPaneWidgetWidth(int index) const;
    // The text shown in the message pane right now (prompt or idle text).
    CString GetMessageText() const;

    static const CRuntimeClass classCStatusBar;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// ---- Frame window ----------------------------------------------------------------------------------
struct CCreateContext {
    const CRuntimeClass* m_pNewViewClass = nullptr;
    CDocument* m_pCurrentDoc = nullptr;
    CDocTemplate* m_pNewDocTemplate = nullptr;
};

class CFrameWnd : public CWnd {
public:
    CFrameWnd();
    ~CFrameWnd() override;

    // Creates the window from resource nIDResource: caption from its document string, menu,
    // accelerators and icon; runs PreCreateWindow, then WM_CREATE (which makes the view).
    virtual BOOL LoadFrame(UINT nIDResource, CCreateContext* context);
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    virtual void ActivateFrame();
    CView* GetActiveView() const { return m_pActiveView; }
    void SetActiveView(CView* view) { m_pActiveView = view; }
    CDocument* GetActiveDocument() const;
    // Routes a command: the active view (and its document), this frame, the application.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra) override;
    // Sets the message pane's text (prompt, idle text).
    void SetMessageText(LPCSTR text);
    void DestroyWindow() override;

    // The caption shown: the document string's title, plus the document's when FWS_ADDTOTITLE.
    void OnUpdateFrameTitle();

    // The rectangle the frame was created with (after PreCreateWindow).
    const CREATESTRUCT& GetCreateStruct() const { return m_cs; }

    // The framework's help commands.
    void OnHelp();
    void OnContextHelp();

    static const CRuntimeClass classCFrameWnd;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    int OnCreate(CREATESTRUCT* cs);
    // Runs enabling handlers for every item of the menu about to show.
    void UpdateMenuItems();
    UINT m_nIDResource = 0;
    CREATESTRUCT m_cs;

private:
    CView* m_pActiveView = nullptr;
    CCreateContext* m_pContext = nullptr;
    struct Impl;
    std::unique_ptr<Impl> d;
    friend class CFrameBridge;
};

// ---- Views -----------------------------------------------------------------------------------------
class CView : public CWnd {
public:
    CView();
    ~CView() override;
    CDocument* GetDocument() const { return m_pDocument; }
    // Routes a command: this view, then its document.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra) override;
    virtual void OnDraw(CDC* pDC);
    virtual void OnInitialUpdate() {}
    // Creates the view's widget as the frame's client.
    virtual BOOL Create(CFrameWnd* parent, CCreateContext* context);

    void OnNextPane() {}
    void OnUpdateNextPane(CCmdUI* pCmdUI);

    static const CRuntimeClass classCView;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    // Makes the widget that shows the view, from the prepared style.
    virtual QWidget* CreateViewWidget(const CREATESTRUCT& cs) = 0;

private:
    CDocument* m_pDocument = nullptr;
    friend class CDocument;
};

class CLogTextWidget;

// The edit view: its text is bytes, held exactly as set or appended. Positions are byte offsets.
class CEditView : public CView {
public:
    CEditView();
    ~CEditView() override;

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;

    int GetWindowTextLength() const;
    // Sets the whole text at once; the document is not told of a change.
    void SetWindowText(LPCSTR text);
    void SetWindowBytes(const char* data, std::size_t length);
    // The text as bytes.
    const char* GetTextData() const;
    std::size_t GetTextSize() const;

    // EM_SETSEL, EM_SCROLLCARET, EM_REPLACESEL: replacing the selection marks the document modified.
    void SetSel(int nStartChar, int nEndChar);
    void GetSel(int& nStartChar, int& nEndChar) const;
    void ScrollCaret();
    void ReplaceSel(LPCSTR text, BOOL bCanUndo = FALSE);
    void ReplaceSelBytes(const char* data, std::size_t length);

    // Writes the whole text to, or reads the whole file as the text from, the archive.
    void SerializeRaw(CArchive& ar);

    CLogTextWidget* GetEditCtrl() const { return m_edit; }
    DWORD GetStyle() const { return m_style; }

    void OnEditCopy();
    void OnEditCut();
    void OnEditPaste();
    void OnEditUndo();
    void OnEditSelectAll();
    void OnUpdateNeedSel(CCmdUI* pCmdUI);
    void OnUpdateEditChange(CCmdUI* pCmdUI);

    static const CRuntimeClass classCEditView;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    QWidget* CreateViewWidget(const CREATESTRUCT& cs) override;
    // The edit control reported a change of its text (EN_CHANGE): the document is modified.
    void OnEditChange();

private:
    CLogTextWidget* m_edit = nullptr;
    DWORD m_style = 0;
};

// ---- Archive ---------------------------------------------------------------------------------------
class CArchive {
public:
    enum Mode { load = 1, store = 0 };
    // A storing archive collects the bytes; a loading one holds the whole file.
    explicit CArchive(Mode mode);
    BOOL IsStoring() const { return m_mode == store; }
    BOOL IsLoading() const { return m_mode == load; }
    void Write(const void* data, std::size_t length);
    // The bytes of a loading archive (all of the file), or those written to a storing one.
    std::vector<char>& Buffer() { return m_buffer; }

private:
    Mode m_mode;
    std::vector<char> m_buffer;
};

// ---- Documents -------------------------------------------------------------------------------------
class CDocument : public CCmdTarget {
public:
    CDocument();
    ~CDocument() override;

    virtual BOOL OnNewDocument();
    virtual BOOL OnOpenDocument(LPCSTR pathName);
    virtual BOOL OnSaveDocument(LPCSTR pathName);
    virtual void Serialize(CArchive& ar);
    virtual void DeleteContents() {}
    // Asks to save when modified; TRUE to go on.
    virtual BOOL SaveModified();

    BOOL IsModified() const { return m_bModified; }
    void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }
    const CString& GetPathName() const { return m_strPathName; }
    void SetPathName(LPCSTR path);
    const CString& GetTitle() const { return m_strTitle; }
    void SetTitle(LPCSTR title);

    void AddView(CView* view);
    CView* GetFirstView() const { return m_views.empty() ? nullptr : m_views.front(); }
    CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

    // Save to the known path, or ask for one first; TRUE when saved.
    BOOL DoSave(LPCSTR pathName, BOOL bReplace = TRUE);
    BOOL DoFileSave();
    void OnFileSave();

    static const CRuntimeClass classCDocument;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

private:
    BOOL m_bModified = FALSE;
    CString m_strPathName;
    CString m_strTitle;
    std::vector<CView*> m_views;
    CDocTemplate* m_pDocTemplate = nullptr;
    friend class CSingleDocTemplate;
};

// ---- Document templates ----------------------------------------------------------------------------
// The seven fields of the document string.
enum class DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };

class CDocTemplate : public CCmdTarget {
public:
    CDocTemplate(UINT nIDResource, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                 const CRuntimeClass* viewClass);
    ~CDocTemplate() override;
    BOOL GetDocString(CString& rString, DocStringIndex index) const;
    UINT GetResourceId() const { return m_nIDResource; }
    // New with a null path; Open otherwise. Returns the document, or null on failure.
    virtual CDocument* OpenDocumentFile(LPCSTR pathName) = 0;

protected:
    UINT m_nIDResource;
    const CRuntimeClass* m_pDocClass;
    const CRuntimeClass* m_pFrameClass;
    const CRuntimeClass* m_pViewClass;
    CString m_strDocStrings;
};

class CSingleDocTemplate : public CDocTemplate {
public:
    using CDocTemplate::CDocTemplate;
    ~CSingleDocTemplate() override;
    CDocument* OpenDocumentFile(LPCSTR pathName) override;
    CDocument* GetDocument() const { return m_pOnlyDoc; }

private:
    CFrameWnd* CreateNewFrame(CDocument* doc);
    CDocument* m_pOnlyDoc = nullptr;
    CFrameWnd* m_pFrame = nullptr;
};

// ---- Command line ----------------------------------------------------------------------------------
class CCommandLineInfo {
public:
    enum { FileNew, FileOpen, FileNothing } m_nShellCommand = FileNew;
    CString m_strFileName;
};

// ---- Application -----------------------------------------------------------------------------------
class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();

    BOOL Enable3dControls() { return TRUE; }
    void LoadStdProfileSettings(UINT nMaxMRU = 4);
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

    CString GetProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultValue = nullptr);
    int GetProfileInt(LPCSTR section, LPCSTR entry, int defaultValue);
    BOOL WriteProfileString(LPCSTR section, LPCSTR entry, LPCSTR value);
    BOOL WriteProfileInt(LPCSTR section, LPCSTR entry, int value);

    CWnd* m_pMainWnd = nullptr;
    CString m_pszAppName;   // the application title
    int m_nExitCode = 1;    // what the process returns when InitInstance fails

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

private:
    std::vector<std::unique_ptr<CDocTemplate>> m_templates;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// The framework's entry: sets up Qt, runs InitInstance, the message loop and ExitInstance.
int AfxWinMain(int argc, char** argv);
// Answers --help and --version and refuses unknown options and a second file, on standard output
// or standard error: the exit code, or -1 to go on.
int AfxPreParseCommandLine(int argc, char** argv);

// ---- Message boxes and file dialogs -----------------------------------------------------------------
inline constexpr UINT MB_OK = 0;
inline constexpr UINT MB_YESNOCANCEL = 3;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
int AfxMessageBox(LPCSTR text, UINT nType = MB_OK, UINT nIDHelp = 0);
// Asks for a file name with the framework's dialog ("All Files (*)" only, no added extension).
BOOL AfxDoPromptFileName(CString& fileName, BOOL bOpenFileDialog);

// ---- Help --------------------------------------------------------------------------------------------
// Shows the program's own short manual.
void AfxShowHelp(QWidget* parent);
// The text that explains a window in What's This mode, by widget; set by whoever builds it.
void AfxSetWhatsThis(QWidget* widget, LPCSTR text);

// ---- Test hooks --------------------------------------------------------------------------------------
namespace afxtest {
// Instead of showing message boxes: the hook gets the text and returns the answer.
void SetMessageBoxHook(int (*hook)(const CString& text));
// The text of the last message box shown (or given to the hook).
const CString& LastMessageBoxText();
// Instead of showing the file dialog: the next name it returns (empty = cancelled).
void SetNextFileName(const CString& name);
void ClearNextFileName();
// The screen size that GetSystemMetrics reports (0, 0 restores the real one).
void SetScreenSize(int width, int height);
// Where the profile lives (empty restores the default place).
void SetProfilePath(const CString& iniPath);
} // namespace afxtest
