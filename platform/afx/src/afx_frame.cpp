// SPDX-License-Identifier: GPL-3.0-or-later
// The frame window: a QMainWindow with the menu bar, accelerators and icon of its resource id,
// the view as its client and the status bar at its bottom. Commands from menus and keys are
// carried out through OnCommand, so a disabled command is dropped.
#include "platform/afxframe.h"
#include "platform/afxapp.h"
#include "platform/afxdoc.h"
#include "platform/afxhelp.h"
#include "platform/afxview.h"
#include "platform/resdata.h"

#include "afx_icon.h"

#include <QCloseEvent>
#include <QTimer>
#include <QCoreApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QWhatsThis>
#include <QWindow>

#include <climits>
#include <deque>

const CRuntimeClass CFrameWnd::classCFrameWnd{"CFrameWnd", &AfxCreateObject<CFrameWnd>,
                                              &CObject::classCObject};

namespace {
constexpr int kUseDefault = INT_MIN;

// The prompt of a command: its string up to the first line feed.
QString PromptOf(UINT id)
{
    const char* s = AfxLoadString(id);
    if (s == nullptr)
        return {};
    const QString text = QString::fromUtf8(s);
    const qsizetype nl = text.indexOf(QLatin1Char('\n'));
    return nl < 0 ? text : text.left(nl);
}

QKeySequence KeyOf(const AccelData& a)
{
    int key = 0;
    switch (a.key) {
    case VK_BACK: key = Qt::Key_Backspace; break;
    case VK_INSERT: key = Qt::Key_Insert; break;
    case VK_DELETE: key = Qt::Key_Delete; break;
    default:
        if (a.key >= VK_F1 && a.key < VK_F1 + 24)
            key = Qt::Key_F1 + (a.key - VK_F1);
        else if ((a.key >= 'A' && a.key <= 'Z') || (a.key >= '0' && a.key <= '9'))
            key = a.key;   // Qt's letter and digit keys are their upper-case ASCII codes
        break;
    }
    if (key == 0)
        return {};
    int mods = 0;
    if (a.fVirt & FCONTROL)
        mods |= Qt::ControlModifier;
    if (a.fVirt & FSHIFT)
        mods |= Qt::ShiftModifier;
    if (a.fVirt & FALT)
        mods |= Qt::AltModifier;
    return QKeySequence(key | mods);
}
} // namespace

// The frame's widget: hands the close box to the document's save question, and gives the window's
// outer rectangle, decorations included, the one the frame asked for.
class CFrameBridge final : public QMainWindow {
public:
    explicit CFrameBridge(CFrameWnd* owner) : m_owner(owner) {}

    // Qt places and sizes the inside of a window; the decorations a window manager adds are known
    // only once it has framed the window. Until then the inside takes the whole rectangle.
    void setOuterGeometry(const QRect& outer)
    {
        m_outer = outer;
        setGeometry(outer);
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (AfxFileOperationRunning()) {
            event->ignore();   // the load or save ends first, then the close comes again
            AfxDeferInput(0);
            return;
        }
        CDocument* doc = m_owner->GetActiveDocument();
        if (doc != nullptr && !doc->SaveModified()) {
            event->ignore();
            return;
        }
        event->accept();
        // Closing the main window ends the message loop.
        if (AfxGetMainWnd() == m_owner)
            QCoreApplication::exit(0);
    }

    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::LeaveWhatsThisMode)
            m_owner->SetMessageText(nullptr);
        const bool result = QMainWindow::event(event);
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowActivate:
            fitToFrame();
            break;
        default:
            break;
        }
        return result;
    }

private:
    // Once the frame's margins are known, shrinks the inside so that the frame fills the rectangle.
    void fitToFrame()
    {
        if (m_outer.isNull() || windowHandle() == nullptr)
            return;
        const QMargins margins = windowHandle()->frameMargins();
        if (margins.isNull())
            return;
        const QRect outer = m_outer;
        m_outer = QRect();
        setGeometry(outer.marginsRemoved(margins));
    }

    CFrameWnd* m_owner;
    QRect m_outer;  // the outer rectangle still to be fitted, or null
};

struct CFrameWnd::Impl {
    std::vector<std::pair<QAction*, UINT>> menuItems;
};

CFrameWnd::CFrameWnd() : d(std::make_unique<Impl>()) {}

CFrameWnd::~CFrameWnd()
{
    // The frame's view goes with it.
    CView* view = m_pActiveView;
    m_pActiveView = nullptr;
    delete view;
    if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

const AFX_MSGMAP* CFrameWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_WM_CREATE(&CFrameWnd::OnCreate),
    };
    static const AFX_MSGMAP map{&CWnd::GetThisMessageMap, entries};
    return &map;
}

BOOL CFrameWnd::LoadFrame(UINT nIDResource, CCreateContext* context)
{
    m_nIDResource = nIDResource;
    m_pContext = context;
    CREATESTRUCT cs;
    cs.style = FWS_ADDTOTITLE;
    cs.x = cs.y = cs.cx = cs.cy = kUseDefault;
    if (!PreCreateWindow(cs))
        return FALSE;
    m_cs = cs;

    auto* window = new CFrameBridge(this);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    Attach(window);
    if (cs.cx != kUseDefault && cs.cy != kUseDefault && cs.x != kUseDefault && cs.y != kUseDefault)
        window->setOuterGeometry(QRect(cs.x, cs.y, cs.cx, cs.cy));

    if (const IconData* icon = AfxFindIcon(nIDResource))
        window->setWindowIcon(AfxLoadIconGroup(*icon));

    // Menu bar.
    const ResourceTable* table = AfxGetResourceTable();
    if (table != nullptr && table->menuId == nIDResource) {
        QMenuBar* bar = window->menuBar();
        std::vector<QMenu*> stack;
        for (const MenuItemData& row : table->menu) {
            switch (row.kind) {
            case MenuRow::Popup: {
                QMenu* menu = stack.empty() ? bar->addMenu(QString::fromUtf8(row.text))
                                            : stack.back()->addMenu(QString::fromUtf8(row.text));
                QObject::connect(menu, &QMenu::aboutToShow, window, [this] { UpdateMenuItems(); });
                stack.push_back(menu);
                break;
            }
            case MenuRow::EndPopup:
                if (!stack.empty())
                    stack.pop_back();
                break;
            case MenuRow::Separator:
                if (!stack.empty())
                    stack.back()->addSeparator();
                break;
            case MenuRow::Item: {
                if (stack.empty())
                    break;
                QAction* action = stack.back()->addAction(QString::fromUtf8(row.text));
                const UINT id = row.id;
                action->setStatusTip(PromptOf(id));
                action->setEnabled((row.flags & MF_GRAYED) == 0);
                QObject::connect(action, &QAction::triggered, window, [this, id] { OnCommand(id); });
                d->menuItems.emplace_back(action, id);
                break;
            }
            }
        }
        // Accelerators: each key carries out its command through the same enabling check.
        for (const AccelData& a : table->accelerators) {
            const QKeySequence seq = KeyOf(a);
            if (seq.isEmpty())
                continue;
            auto* shortcut = new QShortcut(seq, window);
            shortcut->setContext(Qt::WindowShortcut);
            shortcut->setAutoRepeat(false);
            const UINT id = a.cmd;
            QObject::connect(shortcut, &QShortcut::activated, window, [this, id] { OnCommand(id); });
        }
    }

    if (SendCreate(&cs) == -1) {
        window->deleteLater();
        return FALSE;
    }
    OnUpdateFrameTitle();
    return TRUE;
}

int CFrameWnd::OnCreate(CREATESTRUCT*)
{
    if (m_pContext == nullptr || m_pContext->m_pNewViewClass == nullptr)
        return 0;
    auto* view = dynamic_cast<CView*>(m_pContext->m_pNewViewClass->CreateObject());
    if (view == nullptr)
        return -1;
    if (!view->Create(this, m_pContext)) {
        delete view;
        return -1;
    }
    static_cast<QMainWindow*>(GetWidget())->setCentralWidget(view->GetWidget());
    view->GetWidget()->setFocus();
    SetActiveView(view);
    return 0;
}

void CFrameWnd::UpdateMenuItems()
{
    for (auto& [action, id] : d->menuItems) {
        CCmdUI state;
        state.m_nID = id;
        state.DoUpdate(this);
        action->setEnabled(state.m_bEnabled);
    }
}

CDocument* CFrameWnd::GetActiveDocument() const
{
    return m_pActiveView != nullptr ? m_pActiveView->GetDocument() : nullptr;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra)
{
    if (m_pActiveView != nullptr && m_pActiveView->OnCmdMsg(nID, nCode, pExtra))
        return TRUE;
    if (CCmdTarget::OnCmdMsg(nID, nCode, pExtra))
        return TRUE;
    CWinApp* app = AfxGetApp();
    return app != nullptr && app->OnCmdMsg(nID, nCode, pExtra);
}

void CFrameWnd::ActivateFrame()
{
    if (QWidget* w = GetWidget()) {
        w->show();
        w->raise();
        w->activateWindow();
    }
}

void CFrameWnd::SetMessageText(LPCSTR text)
{
    auto* window = static_cast<QMainWindow*>(GetWidget());
    if (window == nullptr)
        return;
    if (auto* bar = window->findChild<QStatusBar*>()) {
        if (text == nullptr || *text == '\0')
            bar->clearMessage();
        else
            bar->showMessage(QString::fromUtf8(text));
    }
}

void CFrameWnd::DestroyWindow()
{
    if (QWidget* w = GetWidget())
        w->close();
}

void CFrameWnd::OnUpdateFrameTitle()
{
    CString title;
    if (CDocument* doc = GetActiveDocument())
        if (CDocTemplate* tmpl = doc->GetDocTemplate())
            tmpl->GetDocString(title, DocStringIndex::windowTitle);
    if (title.empty()) {
        const char* app = AfxLoadString(AFX_IDS_APP_TITLE);
        title = app ? app : "";
    }
    if ((m_cs.style & FWS_ADDTOTITLE) != 0)
        if (CDocument* doc = GetActiveDocument())
            title = doc->GetTitle() + " - " + title;
    CWnd::SetWindowText(title.c_str());
}

void CFrameWnd::OnHelp()
{
    // No window here claims a help context of its own: the request goes on as the default help
    // command, to whichever map takes it.
    OnCmdMsg(ID_DEFAULT_HELP, CN_COMMAND, nullptr);
}

void CFrameWnd::OnContextHelp()
{
    if (QWhatsThis::inWhatsThisMode())
        return;
    SetMessageText(AfxLoadString(AFX_IDS_HELPMODEMESSAGE));
    QWhatsThis::enterWhatsThisMode();
}

namespace {
constexpr UINT kDeferredClose = 0;
std::deque<UINT> g_deferred;
bool g_deferredPosted = false;

void RunDeferredInput()
{
    g_deferredPosted = false;
    while (!g_deferred.empty() && !AfxFileOperationRunning()) {
        const UINT id = g_deferred.front();
        g_deferred.pop_front();
        CWnd* main = AfxGetMainWnd();
        if (main == nullptr || main->GetWidget() == nullptr) {
            g_deferred.clear();
        } else if (id != kDeferredClose) {
            main->OnCommand(id);
        } else if (main->GetWidget()->close()) {
            g_deferred.clear();   // what came after the close goes with the window
        }
    }
}
} // namespace

void AfxDeferInput(UINT nID) { g_deferred.push_back(nID); }

void AfxFileOperationEnded()
{
    if (g_deferred.empty() || g_deferredPosted)
        return;
    g_deferredPosted = true;
    QTimer::singleShot(0, QCoreApplication::instance(), RunDeferredInput);
}

bool AfxFileOperationRunning()
{
    const auto* frame = dynamic_cast<const CFrameWnd*>(AfxGetMainWnd());
    return frame != nullptr && frame->GetActiveView() != nullptr && frame->GetActiveView()->IsFileOperationRunning();
}
