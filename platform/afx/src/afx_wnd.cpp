// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: a CWnd is shown by one Qt widget, whose posted window messages come back to the
// CWnd's message map. Fonts and device contexts measure text.
#include "platform/afxwnd.h"
#include "platform/afxhelp.h"
#include "platform/afxframe.h"
#include "platform/afxview.h"
#include "platform/afxapp.h"
#include "platform/winmsg.h"

#include <QFont>
#include <QFontMetrics>
#include <QWidget>

// Delivers the widget's posted window messages to its CWnd, and forgets the widget when Qt
// destroys it.
class CWndBridge final : public QObject {
public:
    explicit CWndBridge(CWnd* owner) : m_owner(owner) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        if (watched == m_owner->m_widget && GetPostedMessage(event, &message, &wParam, &lParam)) {
            m_owner->WindowProc(message, wParam, lParam);
            return true;
        }
        return false;
    }

    void forget() { m_owner->m_widget = nullptr; }

private:
    CWnd* m_owner;
};

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_widget != nullptr) {
        QWidget* w = m_widget;
        m_widget = nullptr;
        w->removeEventFilter(m_bridge.get());
        QObject::disconnect(w, nullptr, m_bridge.get(), nullptr);
        delete w;
    }
}

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP map{&CCmdTarget::GetThisMessageMap, {}};
    return &map;
}

void CWnd::Attach(QWidget* widget)
{
    if (!m_bridge)
        m_bridge = std::make_unique<CWndBridge>(this);
    m_widget = widget;
    auto* bridge = static_cast<CWndBridge*>(m_bridge.get());
    widget->installEventFilter(bridge);
    QObject::connect(widget, &QObject::destroyed, bridge, [bridge] { bridge->forget(); });
}

HWND CWnd::GetSafeHwnd() const
{
    return m_widget;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessage(GetSafeHwnd(), message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (const AFX_MSGMAP_ENTRY* e = FindEntry(AfxSig::Message, message))
        return (this->*e->pfnMsg)(wParam, lParam);
    return 0;
}

BOOL CWnd::OnCommand(UINT nID)
{
    // While a file is loaded or saved, the window draws and scrolls; commands wait until it is over.
    if (AfxFileOperationRunning()) {
        AfxDeferInput(nID);
        return TRUE;
    }
    CCmdUI state;
    state.m_nID = nID;
    state.DoUpdate(this);
    if (!state.m_bEnabled)
        return FALSE;
    return OnCmdMsg(nID, CN_COMMAND, nullptr);
}

int CWnd::SendCreate(CREATESTRUCT* cs)
{
    if (const AFX_MSGMAP_ENTRY* e = FindEntry(AfxSig::Create, WM_CREATE))
        return (this->*e->pfnCreate)(cs);
    return 0;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT&)
{
    return TRUE;
}

void CWnd::DestroyWindow()
{
    if (m_widget != nullptr)
        m_widget->close();
}

void CWnd::SetWindowText(LPCSTR text)
{
    if (m_widget != nullptr)
        m_widget->setWindowTitle(QString::fromUtf8(text ? text : ""));
}

void CWnd::OnHelpFinder()
{
    AfxShowHelp(m_widget);
}

// ---- Fonts and device contexts -------------------------------------------------------------------

CFont::CFont() : m_font(std::make_unique<QFont>()) {}
CFont::CFont(const QFont& font) : m_font(std::make_unique<QFont>(font)) {}
CFont::~CFont() = default;

const QFont& CFont::GetQFont() const
{
    return *m_font;
}

void CFont::SetQFont(const QFont& font)
{
    *m_font = font;
}

CDC::CDC() : m_current(&m_defaultFont) {}
CDC::~CDC() = default;

CFont* CDC::SelectObject(CFont* font)
{
    CFont* old = m_current;
    m_current = font != nullptr ? font : &m_defaultFont;
    return old;
}

CSize CDC::GetTextExtent(LPCSTR text, int length) const
{
    const QFontMetrics fm(m_current->GetQFont());
    const QString s = QString::fromUtf8(text, length);
    return {fm.horizontalAdvance(s), fm.height()};
}

CWindowDC::CWindowDC(CWnd* wnd)
{
    if (wnd != nullptr && wnd->GetWidget() != nullptr)
        m_defaultFont.SetQFont(wnd->GetWidget()->font());
}
