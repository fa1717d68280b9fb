// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The frame window: a QMainWindow with the menu bar, accelerators and icon of its resource id, the
// view as its client and the status bar at its bottom.
#include "platform/afxwnd.h"

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
    CREATESTRUCT m_cs;   // the rectangle and style the frame was created with (after PreCreateWindow)

private:
    CView* m_pActiveView = nullptr;
    CCreateContext* m_pContext = nullptr;
    struct Impl;
    std::unique_ptr<Impl> d;
    friend class CFrameBridge;
};

// Whether the main frame's active view is loading or saving a file. Meanwhile the window draws and
// scrolls, and the commands and the close box that come wait, in order (AfxDeferInput): once the
// view says its operation has ended, they run as they would have, from the event loop. A command
// disabled by then is dropped, as any disabled command is.
bool AfxFileOperationRunning();
void AfxFileOperationEnded();
// A command for the main frame (or, with 0, its close box) to run once the operation is over.
void AfxDeferInput(UINT nID);
