// The Make Connection command with its dialog and remembered settings, and local address lookup.
#include "app_fixture.h"
#include "peers.h"
#include "wait.h"

#include "platform/winsock.h"
#include "resources/resource.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

#include <arpa/inet.h>

using testsupport::AppFixture;
using testsupport::Messages;

namespace {

// What the dialog showed when it opened.
struct Shown {
    QString host;
    bool hostEnabled = true;
    QString port;
    bool udp = false;
    bool tcp = false;
    bool clear = true;
    bool portFocusedAndSelected = false;
};

QLineEdit* Edit(CDialog& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
QAbstractButton* Button(CDialog& dlg, int id) { return qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id)); }

class Connection : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        // The local host resolves to loopback only, and no other interface is up: the offer is
        // 127.0.0.1, and nothing here ever leaves this machine.
        ws::SetHostNameForTesting([] { return std::string("testhost"); });
        ws::SetResolverForTesting([](const std::string& name, ws::ResolvedHost& out) {
            if (name != "testhost")
                return false;
            out.name = name;
            out.addresses = {htonl(INADDR_LOOPBACK)};
            return true;
        });
        ws::SetInterfacesForTesting([] { return std::vector<ws::InterfaceAddress>{}; });
    }

    // Runs the command; the dialog is answered by fill, which returns the button to press.
    Shown Run(const std::function<int(CDialog&)>& fill)
    {
        Shown shown;
        int runs = 0;
        afxtest::SetModalHook([&](CDialog& dlg) {
            ++runs;
            shown.host = Edit(dlg, IDC_HOST)->text();
            shown.hostEnabled = Edit(dlg, IDC_HOST)->isEnabled();
            shown.port = Edit(dlg, IDC_PORT)->text();
            shown.udp = Button(dlg, IDC_UDP)->isChecked();
            shown.tcp = Button(dlg, IDC_TCP)->isChecked();
            shown.clear = Button(dlg, IDC_CLEARWINDOW)->isChecked();
            QLineEdit* port = Edit(dlg, IDC_PORT);
            shown.portFocusedAndSelected = dlg.GetWidget()->focusWidget() == port && port->selectedText() == port->text();
            dlg.ClickButton(fill(dlg));
        });
        Frame()->OnCommand(ID_CONNECTION_MAKE);
        afxtest::SetModalHook(nullptr);
        EXPECT_EQ(runs, 1);
        return shown;
    }

    QVariant Profile(const char* key)
    {
        QSettings s(m_dir.path() + QStringLiteral("/Sumpwell.ini"), QSettings::IniFormat);
        return s.value(QStringLiteral("Connect/") + QLatin1String(key));
    }
    void SetProfile(const char* key, const QVariant& value)
    {
        QSettings s(m_dir.path() + QStringLiteral("/Sumpwell.ini"), QSettings::IniFormat);
        s.setValue(QStringLiteral("Connect/") + QLatin1String(key), value);
    }
};

void SetPort(CDialog& dlg, const char* text)
{
    Edit(dlg, IDC_PORT)->setText(QString::fromUtf8(text));
}

} // namespace

TEST_F(Connection, FirstRunOffersTheLocalAddressPort80AndUdp)
{
    const Shown shown = Run([](CDialog&) { return IDCANCEL; });
    EXPECT_EQ(shown.host, QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(shown.hostEnabled);
    EXPECT_EQ(shown.port, QStringLiteral("80"));
    EXPECT_TRUE(shown.udp);
    EXPECT_FALSE(shown.tcp);
    EXPECT_FALSE(shown.clear);
    EXPECT_TRUE(shown.portFocusedAndSelected);
    // Cancel writes nothing and binds nothing.
    EXPECT_FALSE(Profile("Port").isValid());
    EXPECT_EQ(View()->m_listenSocket, 0u);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Connection, ASuccessfulBindShowsTheBoundPortAndRemembersWhatWasTyped)
{
    Run([](CDialog& dlg) {
        SetPort(dlg, "0");
        Button(dlg, IDC_TCP)->click();
        return IDOK;
    });
    ASSERT_NE(View()->m_listenSocket, 0u);
    const unsigned bound = ws::GetBoundPort(View()->m_listenSocket);
    ASSERT_NE(bound, 0u);
    EXPECT_EQ(ConnectionPane(), "Connected to 127.0.0.1 on port " + std::to_string(bound));
    EXPECT_TRUE(testsupport::TcpPortListening(static_cast<std::uint16_t>(bound)));
    EXPECT_EQ(Profile("Port").toString(), QStringLiteral("0"));
    EXPECT_EQ(Profile("Protocol").toInt(), 1);
    EXPECT_FALSE(Doc()->IsModified());

    // While bound, Make Connection is disabled: the key's command is dropped, no dialog opens.
    int opened = 0;
    afxtest::SetModalHook([&](CDialog&) { ++opened; });
    Frame()->OnCommand(ID_CONNECTION_MAKE);
    EXPECT_EQ(opened, 0);
    // Close Connection returns to "No connection"; the next run offers the remembered values.
    Frame()->OnCommand(ID_CONNECTION_CLOSE);
    EXPECT_EQ(ConnectionPane(), "No connection");
    const Shown again = Run([](CDialog&) { return IDCANCEL; });
    EXPECT_EQ(again.port, QStringLiteral("0"));
    EXPECT_TRUE(again.tcp);
}

TEST_F(Connection, TabVisitsBothProtocolsAndSpaceOrArrowsChooseOne)
{
    // Real key presses in the active dialog: Qt's exclusive buttons drop the unchecked ones from
    // the Tab chain once one of them has had the focus, which the walk must not show.
    std::vector<int> tabbed;
    bool active = false;
    bool spaceChoseTcp = false;
    bool upChoseUdp = false;
    bool downChoseTcp = false;
    Run([&](CDialog& dlg) {
        QWidget* window = dlg.GetWidget();
        window->activateWindow();
        active = QTest::qWaitForWindowActive(window);
        const auto focusedId = [&] { return window->focusWidget()->property("cisternControlId").toInt(); };
        SetPort(dlg, "0");
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
            tabbed.push_back(focusedId());
        }
        // Back to TCP: Space chooses it; the arrows move the choice and the focus with it.
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(window->focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(window->focusWidget(), Qt::Key_Space);
        spaceChoseTcp = focusedId() == IDC_TCP && Button(dlg, IDC_TCP)->isChecked();
        QTest::keyClick(window->focusWidget(), Qt::Key_Up);
        upChoseUdp = focusedId() == IDC_UDP && Button(dlg, IDC_UDP)->isChecked() && !Button(dlg, IDC_TCP)->isChecked();
        QTest::keyClick(window->focusWidget(), Qt::Key_Down);
        downChoseTcp = focusedId() == IDC_TCP && Button(dlg, IDC_TCP)->isChecked();
        // And after the arrows, Tab still visits both.
        QTest::keyClick(window->focusWidget(), Qt::Key_Backtab);
        tabbed.push_back(focusedId());
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        tabbed.push_back(focusedId());
        QTest::keyClick(window->focusWidget(), Qt::Key_Return);
        return 0;   // Return has already pressed OK
    });
    ASSERT_TRUE(active);
    EXPECT_EQ(tabbed, (std::vector<int>{IDC_UDP, IDC_TCP, IDC_CLEARWINDOW, IDOK, IDCANCEL, IDC_UDP, IDC_TCP}));
    EXPECT_TRUE(spaceChoseTcp);
    EXPECT_TRUE(upChoseUdp);
    EXPECT_TRUE(downChoseTcp);
    ASSERT_NE(View()->m_listenSocket, 0u);
    EXPECT_TRUE(testsupport::TcpPortListening(static_cast<std::uint16_t>(ws::GetBoundPort(View()->m_listenSocket))));
    EXPECT_EQ(Profile("Protocol").toInt(), 1);
}

TEST_F(Connection, StoredValuesAreOfferedAsTheyStand)
{
    SetProfile("Port", "");
    SetProfile("Protocol", 7);
    Shown shown = Run([](CDialog&) { return IDCANCEL; });
    EXPECT_EQ(shown.port, QStringLiteral("80"));
    EXPECT_FALSE(shown.udp);
    EXPECT_FALSE(shown.tcp);

    // Neither button chosen: -1 goes to the view and, after a bind, to the profile.
    Run([](CDialog& dlg) {
        SetPort(dlg, "0");
        return IDOK;
    });
    EXPECT_EQ(View()->m_nProtocol, -1);
    EXPECT_NE(View()->m_listenSocket, 0u);
    EXPECT_EQ(Profile("Protocol").toInt(), -1);
}

TEST_F(Connection, ALongStoredPortIsShownWholeAndRefusedUntilShortened)
{
    SetProfile("Port", "1234567");
    const Shown shown = Run([](CDialog& dlg) {
        dlg.ClickButton(IDOK);   // refused: the dialog stays open
        EXPECT_TRUE(dlg.GetWidget()->isVisible());
        SetPort(dlg, "0");
        return IDOK;
    });
    EXPECT_EQ(shown.port, QStringLiteral("1234567"));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "Enter no more than 5 characters.");
    EXPECT_NE(View()->m_listenSocket, 0u);
}

TEST_F(Connection, AnEmptyPortIsRefusedAfterTheLogWasCleared)
{
    View()->AppendToLog("old text");
    Doc()->SetModifiedFlag(TRUE);
    Run([](CDialog& dlg) {
        SetPort(dlg, "");
        Button(dlg, IDC_CLEARWINDOW)->click();
        return IDOK;
    });
    EXPECT_EQ(Log(), "");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "You must enter a port number.\n\nTry again.");
    EXPECT_EQ(View()->m_listenSocket, 0u);
    EXPECT_FALSE(Profile("Port").isValid());
    // The flag is left as it was on this path.
    EXPECT_TRUE(Doc()->IsModified());
}

TEST_F(Connection, APortAboveTheLargestIsRefusedNotWrapped)
{
    Run([](CDialog& dlg) {
        SetPort(dlg, "65536");
        return IDOK;
    });
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "The port must be a number from 0 to 65535.\n\nTry again.");
    EXPECT_EQ(View()->m_listenSocket, 0u);
    EXPECT_FALSE(Profile("Port").isValid());
    EXPECT_EQ(ConnectionPane(), "No connection");
}

TEST_F(Connection, AFailedBindSaysWhyAndRemembersNothing)
{
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = testsupport::Loopback(0);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin_port));
    Run([&](CDialog& dlg) {
        SetPort(dlg, port.c_str());
        return IDOK;
    });
    ::close(holder);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0],
              "Windows Socket Error 10048: Error on Listen.\n\nAnother program already uses this port.");
    EXPECT_EQ(ConnectionPane(), "No connection");
    EXPECT_EQ(View()->m_listenSocket, 0u);
    EXPECT_FALSE(Profile("Port").isValid());
}

TEST_F(Connection, AnUnresolvableHostGivesAnEmptyOfferAndAPlainReason)
{
    ws::SetResolverForTesting([](const std::string&, ws::ResolvedHost&) { return false; });
    testing::internal::CaptureStdout();
    const Shown shown = Run([](CDialog& dlg) {
        SetPort(dlg, "0");
        return IDOK;
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\nUnable to get local IP address.");
    EXPECT_EQ(shown.host, QString());
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0],
              "Windows Socket Error 11001: Error on Listen.\n\nThe host name could not be resolved.");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(Connection, LocalAddressLookupShowsTheBusyCursorOnlyWhileItRuns)
{
    Qt::CursorShape during = Qt::ArrowCursor;
    ws::SetResolverForTesting([&](const std::string& name, ws::ResolvedHost& out) {
        if (const QCursor* c = QGuiApplication::overrideCursor())
            during = c->shape();
        out.name = name;
        out.addresses = {htonl(INADDR_LOOPBACK)};
        return true;
    });
    EXPECT_EQ(View()->GetLocalAddress(), "127.0.0.1");
    EXPECT_EQ(during, Qt::WaitCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(View()->GetLocalAddress(), "127.0.0.1");
}
