// SPDX-License-Identifier: GPL-3.0-or-later
// Views: a window in the frame's client area that shows a document.
#include "platform/afxview.h"
#include "platform/afxdoc.h"
#include "platform/afxframe.h"
#include "platform/resdata.h"

#include <QWidget>

const CRuntimeClass CView::classCView{"CView", nullptr, &CObject::classCObject};

// ---- CView ---------------------------------------------------------------------------------------

CView::CView() = default;
CView::~CView() = default;

const AFX_MSGMAP* CView::GetThisMessageMap()
{
    static const AFX_MSGMAP map{&CWnd::GetThisMessageMap, {}};
    return &map;
}

BOOL CView::OnCmdMsg(UINT nID, int nCode, void* pExtra)
{
    if (CWnd::OnCmdMsg(nID, nCode, pExtra))
        return TRUE;
    return m_pDocument != nullptr && m_pDocument->OnCmdMsg(nID, nCode, pExtra);
}

BOOL CView::Create(CFrameWnd* parent, CCreateContext* context)
{
    CREATESTRUCT cs;
    cs.style = WS_CHILD | WS_VISIBLE | WS_BORDER;
    if (!PreCreateWindow(cs))
        return FALSE;
    QWidget* widget = CreateViewWidget(cs);
    if (widget == nullptr)
        return FALSE;
    if (parent != nullptr && parent->GetWidget() != nullptr)
        widget->setParent(parent->GetWidget());
    Attach(widget);
    if (context != nullptr && context->m_pCurrentDoc != nullptr)
        context->m_pCurrentDoc->AddView(this);
    return TRUE;
}
