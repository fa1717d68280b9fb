// SPDX-License-Identifier: GPL-3.0-or-later
// Run-time classes, message maps and command routing, enabling objects, wait cursor, metrics.
#include "platform/afxcore.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

const CRuntimeClass CObject::classCObject{"CObject", nullptr, nullptr};

// ---- CCmdTarget ----------------------------------------------------------------------------------

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP map{nullptr, {}};
    return &map;
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(AfxSig sig, UINT id) const
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY& e : map->entries)
            if (e.sig == sig && e.id == id)
                return &e;
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra)
{
    if (nCode == CN_UPDATE_COMMAND_UI) {
        auto* ui = static_cast<CCmdUI*>(pExtra);
        if (const AFX_MSGMAP_ENTRY* e = FindEntry(AfxSig::UpdateCommandUI, nID)) {
            if (ui != nullptr)
                (this->*e->pfnUpdate)(ui);
            return TRUE;
        }
        return FALSE;
    }
    if (const AFX_MSGMAP_ENTRY* e = FindEntry(AfxSig::Command, nID)) {
        // pExtra non-null asks only whether a handler exists.
        if (pExtra == nullptr)
            (this->*e->pfnCmd)();
        return TRUE;
    }
    return FALSE;
}

void CCmdTarget::BeginWaitCursor()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void CCmdTarget::EndWaitCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

// ---- CCmdUI --------------------------------------------------------------------------------------

void CCmdUI::Enable(BOOL bOn)
{
    m_bEnabled = bOn;
    m_bEnableChanged = TRUE;
}

void CCmdUI::DoUpdate(CCmdTarget* target)
{
    m_bEnableChanged = FALSE;
    if (target->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this) && m_bEnableChanged)
        return;
    // No enabling handler answered: a command is available exactly when something handles it.
    static int probe = 0;
    m_bEnabled = target->OnCmdMsg(m_nID, CN_COMMAND, &probe);
}

// ---- Metrics -------------------------------------------------------------------------------------

namespace {
int g_screenWidth = 0;
int g_screenHeight = 0;
} // namespace

void afxtest::SetScreenSize(int width, int height)
{
    g_screenWidth = width;
    g_screenHeight = height;
}

int GetSystemMetrics(int index)
{
    if (g_screenWidth > 0 && g_screenHeight > 0)
        return index == SM_CXSCREEN ? g_screenWidth : index == SM_CYSCREEN ? g_screenHeight : 0;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return 0;
    const QRect r = screen->geometry();
    return index == SM_CXSCREEN ? r.width() : index == SM_CYSCREEN ? r.height() : 0;
}
