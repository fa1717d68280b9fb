// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Views: a window in the frame's client area that shows a document.
#include "platform/afxwnd.h"

class CView : public CWnd {
public:
    CView();
    ~CView() override;
    CDocument* GetDocument() const { return m_pDocument; }
    // Routes a command: this view, then its document.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra) override;
    virtual void OnInitialUpdate() {}
    // Whether the view is loading or saving a file, which the window goes on drawing meanwhile.
    virtual bool IsFileOperationRunning() const { return false; }
    // Creates the view's widget as the frame's client.
    virtual BOOL Create(CFrameWnd* parent, CCreateContext* context);

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
