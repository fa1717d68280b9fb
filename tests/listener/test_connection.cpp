// SPDX-License-Identifier: GPL-3.0-or-later
// The Make Connection dialog: what it offers, how the keyboard works it, what it refuses and says,
// and what it remembers.
#include "app_fixture.h"
#include "peers.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

using testsupport::Messages;

namespace {

QLineEdit* Edit(CDialog& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
QAbstractButton* Button(CDialog& dlg, int id) { return qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id)); }

struct Shown {   // what the dialog showed when it opened
    QString host, port;
    bool hostEnabled = true, udp = false, tcp = false, clear = true, portFocusedAndSelected = false;
};

class Connection : public testsupport::AppFixture {
protected:
    // Runs the command; fill works the dialog and returns the button to press (0: none).
    Shown Run(const std::function<int(CDialog&)>& fill)
    {
        Shown s;
        EXPECT_EQ(WithDialog(ID_CONNECTION_MAKE, [&](CDialog& dlg) {
            QLineEdit* port = Edit(dlg, IDC_PORT);
            s = {Edit(dlg, IDC_HOST)->text(), port->text(), Edit(dlg, IDC_HOST)->isEnabled(), Button(dlg, IDC_UDP)->isChecked(),
                 Button(dlg, IDC_TCP)->isChecked(), Button(dlg, IDC_CLEARWINDOW)->isChecked(),
                 dlg.GetWidget()->focusWidget() == port && port->selectedText() == port->text()};
            if (const int button = fill(dlg))
                dlg.ClickButton(button);
        }), 1);
        return s;
    }
    QVariant Profile(const char* key) { return QSettings(ProfilePath(), QSettings::IniFormat).value(QStringLiteral("Connect/") + key); }
    void SetProfile(const char* key, const QVariant& v) { QSettings(ProfilePath(), QSettings::IniFormat).setValue(QStringLiteral("Connect/") + key, v); }
};

void SetPort(CDialog& dlg, const char* text) { Edit(dlg, IDC_PORT)->setText(QString::fromUtf8(text)); }

} // namespace

TEST_F(Connection, FirstRunOffersTheLocalAddressPort80AndUdpAndCancelDoesNothing)
{
    const Shown s = Run([](CDialog&) { return IDCANCEL; });
    EXPECT_EQ(s.host, QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(s.hostEnabled);
    EXPECT_EQ(s.port, QStringLiteral("80"));
    EXPECT_TRUE(s.udp && !s.tcp && !s.clear && s.portFocusedAndSelected);
    EXPECT_FALSE(Profile("Port").isValid());
    EXPECT_EQ(View()->m_listenSocket, 0u);
}

TEST_F(Connection, ABindShowsTheBoundPortRemembersWhatWasTypedAndDisablesTheCommand)
{
    Run([](CDialog& dlg) { SetPort(dlg, "0"); Button(dlg, IDC_TCP)->click(); return IDOK; });
    const unsigned bound = ws::GetBoundPort(View()->m_listenSocket);
    ASSERT_NE(bound, 0u);
    EXPECT_EQ(ConnectionPane(), "Connected to 127.0.0.1 on port " + std::to_string(bound));
    EXPECT_EQ(Profile("Port").toString(), QStringLiteral("0"));
    EXPECT_EQ(Profile("Protocol").toInt(), 1);
    EXPECT_FALSE(Doc()->IsModified());
    EXPECT_EQ(WithDialog(ID_CONNECTION_MAKE, [](CDialog&) {}), 0);   // disabled while bound
    Frame()->OnCommand(ID_CONNECTION_CLOSE);
    EXPECT_EQ(ConnectionPane(), "No connection");
    const Shown again = Run([](CDialog& dlg) { Button(dlg, IDC_UDP)->click(); return IDOK; });
    EXPECT_EQ(again.port, QStringLiteral("0"));
    EXPECT_TRUE(again.tcp);
    EXPECT_EQ(Profile("Protocol").toInt(), 0);
}

TEST_F(Connection, TabSkipsTheHostAndVisitsBothProtocolsArrowsChooseReturnIsOkEscapeCancel)
{
    // Real key presses in the active dialog: Qt's exclusive buttons drop the unchecked ones from
    // the Tab chain once one of them has had the focus, which the walk must not show.
    std::vector<int> tabbed;
    std::vector<bool> chosen;
    Run([&](CDialog& dlg) {
        QWidget* window = dlg.GetWidget();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        const auto press = [&](Qt::Key key) {
            QTest::keyClick(window->focusWidget(), key);
            tabbed.push_back(window->focusWidget()->property("cisternControlId").toInt());
        };
        SetPort(dlg, "0");
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab,
                                  Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Space})
            press(key);
        chosen.push_back(Button(dlg, IDC_TCP)->isChecked());
        press(Qt::Key_Up);
        chosen.push_back(Button(dlg, IDC_UDP)->isChecked());
        press(Qt::Key_Down);
        press(Qt::Key_Backtab);
        press(Qt::Key_Tab);
        QTest::keyClick(window->focusWidget(), Qt::Key_Return);
        return 0;
    });
    EXPECT_EQ(tabbed, (std::vector<int>{IDC_UDP, IDC_TCP, IDC_CLEARWINDOW, IDOK, IDCANCEL, IDC_PORT, IDCANCEL, IDOK,
                                        IDC_CLEARWINDOW, IDC_TCP, IDC_TCP, IDC_UDP, IDC_TCP, IDC_UDP, IDC_TCP}));
    EXPECT_EQ(chosen, (std::vector<bool>{true, true}));
    EXPECT_TRUE(testsupport::TcpState(ws::GetBoundPort(View()->m_listenSocket), "0A"));
    View()->OnCloseConnection();
    Run([](CDialog& dlg) { QTest::keyClick(dlg.GetDlgItem(IDC_PORT), Qt::Key_Escape); return 0; });
    EXPECT_EQ(View()->m_listenSocket, 0u);
}

TEST_F(Connection, StoredValuesAreOfferedAsTheyStand)
{
    SetProfile("Port", "");
    SetProfile("Protocol", 7);
    const Shown s = Run([](CDialog& dlg) { SetPort(dlg, "0"); return IDOK; });
    EXPECT_EQ(s.port, QStringLiteral("80"));
    EXPECT_FALSE(s.udp || s.tcp);
    // Neither button chosen: -1 goes to the view and, after a bind, to the profile.
    EXPECT_EQ(View()->m_nProtocol, -1);
    EXPECT_NE(View()->m_listenSocket, 0u);
    EXPECT_EQ(Profile("Protocol").toInt(), -1);
}

TEST_F(Connection, APortThatIsTooLongEmptyOrTooLargeIsRefusedWithItsMessage)
{
    View()->AppendToLog("old text");
    SetProfile("Port", "1234567");   // shown whole, though the field takes no more than five
    const struct { const char* typed; const char* message; } cases[] = {
        {nullptr, "Enter no more than 5 characters."},
        {"", "You must enter a port number.\n\nTry again."},
        {"65536", "The port must be a number from 0 to 65535.\n\nTry again."},
    };
    for (const auto& c : cases) {
        Messages().clear();
        const Shown s = Run([&](CDialog& dlg) {
            if (c.typed != nullptr)
                SetPort(dlg, c.typed);
            Button(dlg, IDC_CLEARWINDOW)->setChecked(true);
            dlg.ClickButton(IDOK);
            return dlg.GetWidget()->isVisible() ? IDCANCEL : 0;
        });
        EXPECT_TRUE(c.typed != nullptr || s.port == QStringLiteral("1234567"));
        EXPECT_EQ(Messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(View()->m_listenSocket, 0u);
        EXPECT_FALSE(Profile("Protocol").isValid());
    }
    EXPECT_EQ(Log(), "");   // the window was cleared before the port was found wrong
}

TEST_F(Connection, AnUnresolvableHostGivesAnEmptyOfferAndAPlainReason)
{
    ws::SetResolverForTesting([](const std::string&, ws::ResolvedHost&) { return false; });
    testing::internal::CaptureStdout();
    const Shown s = Run([](CDialog& dlg) { SetPort(dlg, "0"); return IDOK; });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\nUnable to get local IP address.");
    EXPECT_EQ(s.host, QString());
    EXPECT_EQ(Messages(), std::vector<std::string>{"Windows Socket Error 11001: Error on Listen.\n\nThe host name could not be resolved."});
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);   // the busy cursor is gone
}

TEST_F(Connection, DialogUnitsArePixelsOfTheDialogsFont)
{
    // A horizontal unit is a quarter of the font's average character width, a vertical one an
    // eighth of its height.
    WithDialog(ID_CONNECTION_MAKE, [](CDialog& dlg) {
        const QFontMetrics fm(dlg.GetWidget()->font());
        const int baseX = (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) + 26) / 52;
        const DialogTemplateData& t = *dlg.GetTemplate();
        EXPECT_EQ(dlg.GetWidget()->size(), QSize(t.cx * baseX / 4, t.cy * fm.height() / 8));
        const DialogControlData& c = *std::find_if(t.controls.begin(), t.controls.end(), [](auto& c) { return c.id == IDC_PORT; });
        EXPECT_EQ(dlg.GetDlgItem(c.id)->geometry(), QRect(c.x * baseX / 4, c.y * fm.height() / 8, c.cx * baseX / 4, c.cy * fm.height() / 8));
        dlg.ClickButton(IDCANCEL);
    });
}
