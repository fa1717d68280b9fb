// What the user meets: the two dialogs as the keyboard works them, the About box, help, What's
// This, and the edit keys on a read-only log.
#include "app_fixture.h"
#include "wait.h"

#include "platform/logtextwidget.h"
#include "resources/resource.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>
#include <QWhatsThis>

#include <arpa/inet.h>

using testsupport::AppFixture;
using testsupport::Messages;

namespace {

class UserInterface : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        ws::SetHostNameForTesting([] { return std::string("testhost"); });
        ws::SetResolverForTesting([](const std::string& name, ws::ResolvedHost& out) {
            out.name = name;
            out.addresses = {htonl(INADDR_LOOPBACK)};
            return true;
        });
        ws::SetInterfacesForTesting([] { return std::vector<ws::InterfaceAddress>{}; });
    }

    // Runs command id; act gets the dialog it opens. Returns how many dialogs opened.
    int WithDialog(UINT id, const std::function<void(CDialog&)>& act)
    {
        int runs = 0;
        afxtest::SetModalHook([&](CDialog& dlg) {
            ++runs;
            act(dlg);
        });
        Frame()->OnCommand(id);
        afxtest::SetModalHook(nullptr);
        return runs;
    }
};

QPoint Centre(const QWidget* w)
{
    return w->geometry().center();
}

} // namespace

TEST_F(UserInterface, ConnectionDialogTabsInTemplateOrderAndSkipsTheHost)
{
    std::vector<int> order;
    WithDialog(ID_CONNECTION_MAKE, [&](CDialog& dlg) {
        QWidget* w = dlg.GetWidget()->focusWidget();
        for (int i = 0; i < 8 && w != nullptr; ++i) {
            order.push_back(w->property("cisternControlId").toInt());
            w = w->nextInFocusChain();
            while (w != nullptr && (w->focusPolicy() & Qt::TabFocus) == 0)
                w = w->nextInFocusChain();
        }
        dlg.ClickButton(IDCANCEL);
    });
    ASSERT_GE(order.size(), 6u);
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 6),
              (std::vector<int>{IDC_PORT, IDC_UDP, IDC_TCP, IDC_CLEARWINDOW, IDOK, IDCANCEL}));
    EXPECT_EQ(std::count(order.begin(), order.end(), IDC_HOST), 0);
}

TEST_F(UserInterface, EnterIsOkAndEscapeIsCancel)
{
    // Return in the port field binds.
    WithDialog(ID_CONNECTION_MAKE, [](CDialog& dlg) {
        auto* port = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_PORT));
        port->setText(QStringLiteral("0"));
        QTest::keyClick(port, Qt::Key_Return);
    });
    EXPECT_NE(View()->m_listenSocket, 0u);
    View()->OnCloseConnection();

    // Escape cancels: nothing bound.
    WithDialog(ID_CONNECTION_MAKE, [](CDialog& dlg) {
        QTest::keyClick(dlg.GetDlgItem(IDC_PORT), Qt::Key_Escape);
        EXPECT_FALSE(dlg.GetWidget()->isVisible());
    });
    EXPECT_EQ(View()->m_listenSocket, 0u);
}

TEST_F(UserInterface, DialogsAreCentredOverTheMainWindow)
{
    const QPoint main = Centre(Frame()->GetWidget());
    for (const UINT id : {ID_CONNECTION_MAKE, ID_APP_ABOUT}) {
        const int runs = WithDialog(id, [&](CDialog& dlg) {
            const QPoint c = Centre(dlg.GetWidget());
            EXPECT_LE((c - main).manhattanLength(), 4) << id;
            dlg.ClickButton(id == ID_APP_ABOUT ? IDOK : IDCANCEL);
        });
        EXPECT_EQ(runs, 1) << id;
    }
}

TEST_F(UserInterface, AboutBoxShowsTheIconNameAndCopyrightAndChangesNothing)
{
    View()->AppendToLog("kept\r\n");
    QStringList texts;
    bool hasIcon = false;
    QString caption;
    WithDialog(ID_APP_ABOUT, [&](CDialog& dlg) {
        caption = dlg.GetWidget()->windowTitle();
        for (const QLabel* label : dlg.GetWidget()->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull())
                hasIcon = true;
            else
                texts << label->text();
        }
        QTest::keyClick(dlg.GetWidget(), Qt::Key_Return);
        EXPECT_FALSE(dlg.GetWidget()->isVisible());
    });
    EXPECT_EQ(caption, QStringLiteral("About Cistern"));
    EXPECT_TRUE(hasIcon);
    EXPECT_TRUE(texts.contains(QStringLiteral("Cistern Version %1.%2").arg(CISTERN_VERSION_MAJOR).arg(CISTERN_VERSION_MINOR)));
    EXPECT_TRUE(texts.filter(QStringLiteral("Copyright")).size() == 1);
    EXPECT_EQ(Log(), "kept\r\n");
    EXPECT_FALSE(Doc()->IsModified());
}

TEST_F(UserInterface, TheWindowCarriesTheProgramsIconInBothSizes)
{
    const QIcon icon = Frame()->GetWidget()->windowIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

TEST_F(UserInterface, HelpOpensTheProgramsOwnManual)
{
    for (const UINT id : {ID_HELP, ID_HELP_FINDER}) {
        Frame()->OnCommand(id);
        QTextBrowser* browser = nullptr;
        ASSERT_TRUE(testsupport::waitFor([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible())
                    if (auto* b = w->findChild<QTextBrowser*>(QStringLiteral("helpBrowser")))
                        browser = b;
            return browser != nullptr;
        }));
        EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Make Connection")));
        browser->window()->close();
    }
}

TEST_F(UserInterface, ContextHelpExplainsWhatIsClickedNext)
{
    Frame()->OnCommand(ID_CONTEXT_HELP);
    EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "Select an object on which to get Help");
    QWhatsThis::leaveWhatsThisMode();
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "For Help, press F1");
    EXPECT_FALSE(View()->GetWidget()->whatsThis().isEmpty());
    EXPECT_FALSE(Frame()->GetStatusBar().GetWidget()->whatsThis().isEmpty());
}

TEST_F(UserInterface, CopyTakesTheSelectionWhileCutPasteAndUndoLeaveTheLogAlone)
{
    View()->AppendToLog("alpha beta\r\n");
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    View()->SetSel(0, 5);
    for (const UINT id : {ID_EDIT_CUT, ID_EDIT_PASTE, ID_EDIT_UNDO})
        Frame()->OnCommand(id);
    EXPECT_EQ(Log(), "alpha beta\r\n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("pasted"));
    Frame()->OnCommand(ID_EDIT_COPY);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("alpha"));
    // F6 and Shift+F6 have no other pane to go to.
    EXPECT_FALSE(Frame()->OnCommand(ID_NEXT_PANE));
    EXPECT_FALSE(Frame()->OnCommand(ID_PREV_PANE));
    EXPECT_EQ(Log(), "alpha beta\r\n");
}
