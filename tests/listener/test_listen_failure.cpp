// A TCP port can be bound beside another socket that holds it with address reuse, and then fail
// in listen when that socket starts listening first. The program must treat that as a failed bind.
#include "app_fixture.h"
#include "peers.h"

#include "platform/afxdlg.h"
#include "resources/resource.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QSettings>

#include <arpa/inet.h>
#include <dlfcn.h>

namespace {
// A socket bound to the port with address reuse; it starts listening right after the program's
// bind succeeds, which is the moment another program can take the port from under it.
int g_rival = -1;
} // namespace

// Every bind of this test program comes through here first.
extern "C" int bind(int fd, const sockaddr* address, socklen_t length)
{
    using Bind = int (*)(int, const sockaddr*, socklen_t);
    static const auto real = reinterpret_cast<Bind>(::dlsym(RTLD_NEXT, "bind"));
    const int result = real(fd, address, length);
    if (result == 0 && fd != g_rival && g_rival >= 0) {
        ::listen(g_rival, 5);
        g_rival = -1;
    }
    return result;
}

namespace {

class ListenFailure : public testsupport::AppFixture {};

TEST_F(ListenFailure, AFailedListenIsAFailedBind)
{
    ws::SetInterfacesForTesting([] { return std::vector<ws::InterfaceAddress>{}; });
    ws::SetHostNameForTesting([] { return std::string("testhost"); });
    ws::SetResolverForTesting([](const std::string&, ws::ResolvedHost& out) {
        out.addresses = {htonl(INADDR_LOOPBACK)};
        return true;
    });
    const int rival = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(rival, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = testsupport::Loopback(0);
    ASSERT_EQ(::bind(rival, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(rival, reinterpret_cast<sockaddr*>(&a), &len);
    const QString port = QString::number(ntohs(a.sin_port));

    g_rival = rival;
    afxtest::SetModalHook([&](CDialog& dlg) {
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_PORT))->setText(port);
        qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_TCP))->click();
        dlg.ClickButton(IDOK);
    });
    Frame()->OnCommand(ID_CONNECTION_MAKE);
    afxtest::SetModalHook(nullptr);
    ::close(rival);

    EXPECT_EQ(g_rival, -1) << "the program never bound";
    ASSERT_EQ(testsupport::Messages().size(), 1u);
    EXPECT_EQ(testsupport::Messages()[0],
              "Windows Socket Error 10048: Error on Listen.\n\nAnother program already uses this port.");
    EXPECT_EQ(ConnectionPane(), "No connection");
    EXPECT_EQ(View()->m_listenSocket, 0u);
    EXPECT_EQ(ws::OpenHandleCount(), 0);
    QSettings profile(m_dir.path() + QStringLiteral("/Sumpwell.ini"), QSettings::IniFormat);
    EXPECT_FALSE(profile.contains(QStringLiteral("Connect/Port")));
}

} // namespace
