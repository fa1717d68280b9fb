#pragma once
// A running application for tests: the program's resources, a CCisternApp whose InitInstance has
// opened a new log in its main window, a profile in a temporary folder, and message boxes caught.
#include "app/CisternApp.h"
#include "app/CisternDoc.h"
#include "app/MainFrm.h"
#include "listener/CisternView.h"
#include "platform/afxdlg.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// Every message box text shown since the fixture started; each is answered OK.
std::vector<std::string>& Messages();

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    CMainFrame* Frame() const;
    CCisternView* View() const;
    CCisternDoc* Doc() const;
    // The log's bytes.
    std::string Log() const;
    // Status pane 1's text.
    std::string ConnectionPane() const;

    std::unique_ptr<CCisternApp> m_app;
    QTemporaryDir m_dir;
};

} // namespace testsupport
