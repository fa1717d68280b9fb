// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar: pane 0 is the message pane (prompts, idle text) and takes the width that the
// other panes leave; every other pane is a label as wide as its text area plus a small border.
#include "platform/afxstatusbar.h"
#include "platform/resdata.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

namespace {
constexpr int kPaneBorder = 3;   // pixels drawn on each side of a pane's text area
} // namespace

struct CStatusBar::Impl {
    struct Pane {
        UINT id = 0;
        UINT style = 0;
        int width = 0;
        QLabel* label = nullptr;   // null for the message pane
    };
    QStatusBar* bar = nullptr;
    QLabel* message = nullptr;
    std::vector<Pane> panes;
    CFont font;
};

CStatusBar::CStatusBar() : d(std::make_unique<Impl>()) {}
CStatusBar::~CStatusBar() = default;

BOOL CStatusBar::Create(CWnd* parent, DWORD style, UINT nID)
{
    QWidget* parentWidget = parent != nullptr ? parent->GetWidget() : nullptr;
    auto* bar = new QStatusBar(parentWidget);
    bar->setObjectName(QStringLiteral("statusBar%1").arg(nID));
    bar->setSizeGripEnabled(true);
    bar->setAccessibleName(QStringLiteral("Status bar"));
    if (auto* main = qobject_cast<QMainWindow*>(parentWidget))
        main->setStatusBar(bar);
    d->bar = bar;
    d->message = new QLabel(bar);
    d->message->setAccessibleName(QStringLiteral("Message"));
    d->message->setContentsMargins(kPaneBorder, 0, kPaneBorder, 0);
    bar->addWidget(d->message, 1);
    bar->setVisible((style & WS_VISIBLE) != 0);
    d->font.SetQFont(bar->font());
    Attach(bar);
    return TRUE;
}

BOOL CStatusBar::SetIndicators(const UINT* ids, int count)
{
    if (d->bar == nullptr)
        return FALSE;
    for (auto& pane : d->panes)
        delete pane.label;
    d->panes.clear();
    const QFontMetrics fm(d->bar->font());
    for (int i = 0; i < count; ++i) {
        Impl::Pane pane;
        pane.id = ids[i];
        if (ids[i] == ID_SEPARATOR) {
            const char* idle = AfxLoadString(AFX_IDS_IDLEMESSAGE);
            if (i == 0)
                d->message->setText(QString::fromUtf8(idle ? idle : ""));
        } else {
            const char* text = AfxLoadString(ids[i]);
            if (text == nullptr)
                return FALSE;
            pane.label = new QLabel(QString::fromUtf8(text), d->bar);
            pane.label->setContentsMargins(kPaneBorder, 0, kPaneBorder, 0);
            pane.label->setAccessibleName(QString::fromUtf8(text));
            pane.width = fm.horizontalAdvance(pane.label->text());
            pane.label->setFixedWidth(pane.width + 2 * kPaneBorder);
            d->bar->addPermanentWidget(pane.label);
        }
        d->panes.push_back(pane);
    }
    return TRUE;
}

int CStatusBar::GetCount() const
{
    return static_cast<int>(d->panes.size());
}

void CStatusBar::GetPaneInfo(int index, UINT& nID, UINT& nStyle, int& cxWidth) const
{
    const Impl::Pane& pane = d->panes.at(static_cast<std::size_t>(index));
    nID = pane.id;
    nStyle = pane.style;
    cxWidth = pane.width;
}

void CStatusBar::SetPaneInfo(int index, UINT nID, UINT nStyle, int cxWidth)
{
    Impl::Pane& pane = d->panes.at(static_cast<std::size_t>(index));
    pane.id = nID;
    pane.style = nStyle;
    pane.width = cxWidth;
    if (pane.label != nullptr)
        pane.label->setFixedWidth(cxWidth + 2 * kPaneBorder);
}

BOOL CStatusBar::SetPaneText(int index, LPCSTR text, BOOL bUpdate)
{
    if (index < 0 || index >= GetCount())
        return FALSE;
    QLabel* label = index == 0 ? d->message : d->panes[static_cast<std::size_t>(index)].label;
    if (label == nullptr)
        return FALSE;
    const QString s = QString::fromUtf8(text ? text : "");
    label->setText(s);
    if (index != 0)
        label->setAccessibleName(s);
    if (bUpdate && label->isVisible())
        label->repaint();
    return TRUE;
}

CString CStatusBar::GetPaneText(int index) const
{
    if (index < 0 || index >= GetCount())
        return {};
    const QLabel* label = index == 0 ? d->message : d->panes[static_cast<std::size_t>(index)].label;
    return label != nullptr ? CString(label->text().toStdString()) : CString();
}

CFont* CStatusBar::GetFont()
{
    if (d->bar != nullptr)
        d->font.SetQFont(d->bar->font());
    return &d->font;
}

int CStatusBar::GetPaneWidgetWidth(int index) const
{
    if (index < 0 || index >= GetCount())
        return 0;
    const QLabel* label = index == 0 ? d->message : d->panes[static_cast<std::size_t>(index)].label;
    return label != nullptr ? label->width() : 0;
}

CString CStatusBar::GetMessageText() const
{
    if (d->bar == nullptr)
        return {};
    const QString temp = d->bar->currentMessage();
    return (temp.isEmpty() ? d->message->text() : temp).toStdString();
}
