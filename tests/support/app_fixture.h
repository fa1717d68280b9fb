// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A running application for tests: the program's resources, a CCisternApp whose InitInstance has
// opened a new log in its main window, a profile in a temporary folder, message boxes caught, and
// a local host "testhost" that resolves to 127.0.0.1 alone.
#include "app/CisternApp.h"
#include "app/CisternDoc.h"
#include "app/MainFrm.h"
#include "listener/CisternView.h"
#include "platform/afxdlg.h"
#include "resources/resource.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Every message box text shown since the fixture started; each is answered OK.
inline std::vector<std::string>& Messages()
{
    static std::vector<std::string> messages;
    return messages;
}

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override
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
            out.addresses = {htonl(INADDR_LOOPBACK)};
            return name == "testhost";
        });
        ws::SetInterfacesForTesting([] { return std::vector<ws::InterfaceAddress>{}; });
        m_app = std::make_unique<CCisternApp>();
        ASSERT_TRUE(m_app->InitInstance());
    }
    void TearDown() override
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

    CMainFrame* Frame() const { return dynamic_cast<CMainFrame*>(m_app->m_pMainWnd); }
    CCisternView* View() const { return dynamic_cast<CCisternView*>(Frame()->GetActiveView()); }
    CCisternDoc* Doc() const { return dynamic_cast<CCisternDoc*>(View()->GetDocument()); }
    std::string Log() const { return std::string(View()->GetTextData(), View()->GetTextSize()); }
    std::string ConnectionPane() const { return Frame()->GetStatusBar().GetPaneText(1); }
    QString ProfilePath() const { return m_dir.filePath(QStringLiteral("Sumpwell.ini")); }
    // Runs command id; act works the dialog it opens. Returns how many dialogs opened.
    int WithDialog(UINT id, const std::function<void(CDialog&)>& act)
    {
        int runs = 0;
        afxtest::SetModalHook([&](CDialog& dlg) { ++runs; act(dlg); });
        Frame()->OnCommand(id);
        afxtest::SetModalHook(nullptr);
        return runs;
    }

    std::unique_ptr<CCisternApp> m_app;
    QTemporaryDir m_dir;
};

} // namespace testsupport
