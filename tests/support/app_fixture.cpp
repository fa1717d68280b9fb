#include "app_fixture.h"

#include "platform/winsock.h"
#include "resources/resource.h"

#include <QCoreApplication>

namespace testsupport {

std::vector<std::string>& Messages()
{
    static std::vector<std::string> messages;
    return messages;
}

namespace {
int RecordMessage(const CString& text)
{
    Messages().push_back(text);
    return IDOK;
}
} // namespace

void AppFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    CisternInitResources();
    Messages().clear();
    afxtest::SetMessageBoxHook(&RecordMessage);
    afxtest::SetProfilePath((m_dir.path() + QStringLiteral("/Sumpwell.ini")).toStdString());
    afxtest::SetScreenSize(1024, 768);
    m_app = std::make_unique<CCisternApp>();
    ASSERT_TRUE(m_app->InitInstance());
    ASSERT_NE(Frame(), nullptr);
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
    // Let events queued for the closed window go.
    QCoreApplication::processEvents();
}

CMainFrame* AppFixture::Frame() const
{
    return dynamic_cast<CMainFrame*>(m_app->m_pMainWnd);
}

CCisternView* AppFixture::View() const
{
    return Frame() != nullptr ? dynamic_cast<CCisternView*>(Frame()->GetActiveView()) : nullptr;
}

CCisternDoc* AppFixture::Doc() const
{
    return View() != nullptr ? dynamic_cast<CCisternDoc*>(View()->GetDocument()) : nullptr;
}

std::string AppFixture::Log() const
{
    return std::string(View()->GetTextData(), View()->GetTextSize());
}

std::string AppFixture::ConnectionPane() const
{
    return Frame()->GetStatusBar().GetPaneText(1);
}

} // namespace testsupport
