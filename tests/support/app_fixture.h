#pragma once
// A running application for tests: the program's resources, a CCisternApp whose InitInstance has
// opened a new log in its main window, a profile in a temporary folder, message boxes caught, and
// a local host that resolves to 127.0.0.1 alone.
#include "app/CisternApp.h"
#include "app/CisternDoc.h"
#include "app/MainFrm.h"
#include "listener/CisternView.h"
#include "platform/afxdlg.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Every message box text shown since the fixture started; each is answered OK.
std::vector<std::string>& Messages();

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    CMainFrame* Frame() const { return dynamic_cast<CMainFrame*>(m_app->m_pMainWnd); }
    CCisternView* View() const { return dynamic_cast<CCisternView*>(Frame()->GetActiveView()); }
    CCisternDoc* Doc() const { return dynamic_cast<CCisternDoc*>(View()->GetDocument()); }
    std::string Log() const { return std::string(View()->GetTextData(), View()->GetTextSize()); }
    std::string ConnectionPane() const { return Frame()->GetStatusBar().GetPaneText(1); }
    // Runs command id; act works the dialog it opens. Returns how many dialogs opened.
    int WithDialog(UINT id, const std::function<void(CDialog&)>& act);
    QString ProfilePath() const { return m_dir.filePath(QStringLiteral("Sumpwell.ini")); }

    std::unique_ptr<CCisternApp> m_app;
    QTemporaryDir m_dir;
};

} // namespace testsupport
