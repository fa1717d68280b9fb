// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainFrm.h"

#include "resources/resource.h"

#include <cstring>
#include <iterator>

const CRuntimeClass CMainFrame::classCMainFrame{"CMainFrame", &AfxCreateObject<CMainFrame>,
                                                &CFrameWnd::classCFrameWnd};

namespace {
const UINT kIndicators[] = {
    ID_SEPARATOR,
    ID_INDICATOR_CONNECTION,
};
constexpr DWORD kStatusBarStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM;
} // namespace

CMainFrame::CMainFrame() = default;
CMainFrame::~CMainFrame() = default;

const AFX_MSGMAP* CMainFrame::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_WM_CREATE(&CMainFrame::OnCreate),
        ON_COMMAND(ID_HELP_FINDER, &CWnd::OnHelpFinder),
        ON_COMMAND(ID_HELP, &CFrameWnd::OnHelp),
        ON_COMMAND(ID_CONTEXT_HELP, &CFrameWnd::OnContextHelp),
        ON_COMMAND(ID_DEFAULT_HELP, &CWnd::OnHelpFinder),
    };
    static const AFX_MSGMAP map{&CFrameWnd::GetThisMessageMap, entries};
    return &map;
}

int CMainFrame::OnCreate(CREATESTRUCT* cs)
{
    if (CFrameWnd::OnCreate(cs) == -1)
        return -1;
    if (!m_wndStatusBar.Create(this, kStatusBarStyle, AFX_IDW_STATUS_BAR))
        return -1;
    if (!m_wndStatusBar.SetIndicators(kIndicators, static_cast<int>(std::size(kIndicators))))
        return -1;
    AfxSetWhatsThis(m_wndStatusBar.GetWidget(),
                    "The status bar: on the left, what the highlighted menu item does; on the right, "
                    "the connection: the address and port being listened on, or \"No connection\".");
    return 0;
}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs)
{
    cs.style &= ~FWS_ADDTOTITLE;
    // Three quarters of the screen, formed exactly in single precision and rounded down, centred
    // with the fraction dropped.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    cs.cx = static_cast<int>(static_cast<float>(width) * 0.75f);
    cs.cy = static_cast<int>(static_cast<float>(height) * 0.75f);
    cs.x = (width - cs.cx) / 2;
    cs.y = (height - cs.cy) / 2;
    return CFrameWnd::PreCreateWindow(cs);
}

BOOL CMainFrame::SetStatusPaneText(int index, LPCSTR text)
{
    CFont* barFont = m_wndStatusBar.GetFont();
    UINT nID = 0;
    UINT nStyle = 0;
    int width = 0;
    m_wndStatusBar.GetPaneInfo(index, nID, nStyle, width);
    CWindowDC dc(this);
    CFont* oldFont = barFont != nullptr ? dc.SelectObject(barFont) : nullptr;
    const CSize size = dc.GetTextExtent(text, static_cast<int>(std::strlen(text)));
    m_wndStatusBar.SetPaneInfo(index, nID, nStyle, size.cx + 2);
    if (barFont != nullptr)
        dc.SelectObject(oldFont);
    return m_wndStatusBar.SetPaneText(index, text, TRUE);
}
