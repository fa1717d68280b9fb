#include "app_fixture.h"

#include "platform/winsock.h"
#include "resources/resource.h"

#include <QCoreApplication>

#include <arpa/inet.h>

namespace testsupport {

std::vector<std::string>& Messages()
{
    static std::vector<std::string> messages;
    return messages;
}

void AppFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    CisternInitResources();
    Messages().clear();
    afxtest::SetMessageBoxHook([](const CString& text) {
        Messages().push_back(text);
        return IDOK;
    });
    afxtest::SetProfilePath(ProfilePath().toStdString());
    afxtest::SetScreenSize(1024, 768);
    ws::SetHostNameForTesting([] { return std::string("testhost"); });
    ws::SetResolverForTesting([](const std::string& name, ws::ResolvedHost& out) {
        out.name = name;
        out.addresses = {htonl(INADDR_LOOPBACK)};
        return name == "testhost";
    });
    ws::SetInterfacesForTesting([] { return std::vector<ws::InterfaceAddress>{}; });
    m_app = std::make_unique<CCisternApp>();
    ASSERT_TRUE(m_app->InitInstance());
    ASSERT_NE(View(), nullptr);
}

void AppFixture::TearDown()
{
    afxtest::SetModalHook(nullptr);
    afxtest::ClearNextFileName();
    m_app.reset();
    afxtest::SetMessageBoxHook(nullptr);
    afxtest::SetScreenSize(0, 0);
    afxtest::SetProfilePath("");
    ws::SetResolverForTesting(nullptr);
    ws::SetHostNameForTesting(nullptr);
    ws::SetInterfacesForTesting(nullptr);
    QCoreApplication::processEvents();   // events queued for the closed window go
}

int AppFixture::WithDialog(UINT id, const std::function<void(CDialog&)>& act)
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

} // namespace testsupport
