// SPDX-License-Identifier: GPL-3.0-or-later
// The application: its window, keys, menus and panes, the About box and help, the log document's
// modified flag and its file. Open, save and new on real files are proven end to end as well.
#include "app_fixture.h"

#include "platform/logtextwidget.h"
#include "platform/resdata.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTextBrowser>
#include <QWhatsThis>

#include <algorithm>
#include <string_view>

using testsupport::AppFixture;
using testsupport::Messages;

TEST_F(AppFixture, StartsWithOneCaptionedWindowAnEmptyReadOnlyLogAndAnIconForEveryScale)
{
    QWidget* window = Frame()->GetWidget();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sumpwell"));
    EXPECT_EQ(ConnectionPane(), "No connection");
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "For Help, press F1");
    EXPECT_EQ(View()->GetTextSize(), 0u);
    EXPECT_TRUE(View()->GetEditCtrl()->wordWrap());
    EXPECT_TRUE(Messages().empty());
    // The .ico's own 16 and 32 pixel images, and a larger picture to draw 32 pixels at scale 2 from.
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(std::any_of(sizes.begin(), sizes.end(), [](QSize s) { return s.width() >= 64; }));
}

TEST_F(AppFixture, KeysReachTheirCommands)
{
    QWidget* window = Frame()->GetWidget();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    View()->AppendToLog("alpha beta\r\n");
    View()->SetSel(0, 5);
    for (const QKeyCombination key : {Qt::CTRL | Qt::Key_Insert, Qt::CTRL | Qt::Key_C}) {
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(window, key.key(), key.keyboardModifiers());
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("alpha")) << key.toCombined();
    }
    const QString path = m_dir.filePath(QStringLiteral("saved"));
    afxtest::SetNextFileName(path.toStdString());
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Doc()->GetPathName(), path.toStdString());
    QTest::keyClick(window, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(Log(), "");
    int opened = 0;
    afxtest::SetModalHook([&](CDialog& dlg) { ++opened; dlg.ClickButton(IDCANCEL); });
    QTest::keyClick(window, Qt::Key_F2);
    EXPECT_EQ(opened, 1);
}

TEST_F(AppFixture, TheConnectionMenuEnablesOneOfItsTwoItemsAndShowsTheirPrompts)
{
    auto* main = qobject_cast<QMainWindow*>(Frame()->GetWidget());
    QMenu* connection = main->menuBar()->actions().at(0)->menu();
    QAction* make = connection->actions().at(0);
    QAction* close = connection->actions().at(1);
    ASSERT_EQ(make->text(), QStringLiteral("&Make Connection...\tF2"));
    emit connection->aboutToShow();
    EXPECT_TRUE(make->isEnabled() && !close->isEnabled());
    ASSERT_EQ(View()->StartListening("127.0.0.1", "0"), 0);
    emit connection->aboutToShow();
    EXPECT_TRUE(!make->isEnabled() && close->isEnabled());

    // Highlighting an item shows its prompt in the message pane; the connection pane keeps its text.
    Frame()->SetStatusPaneText(1, "Connected");
    QStatusTipEvent tip(make->statusTip());
    QCoreApplication::sendEvent(main, &tip);
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "Make Connection");
    EXPECT_EQ(ConnectionPane(), "Connected");
}

TEST_F(AppFixture, TheConnectionPaneFitsItsTextPlusTwoPixels)
{
    CStatusBar& bar = Frame()->GetStatusBar();
    for (const char* text : {"Connected to 127.0.0.1 on port 40000", "No connection"}) {
        ASSERT_TRUE(Frame()->SetStatusPaneText(1, text));
        UINT id = 0, style = 0;
        int width = 0;
        bar.GetPaneInfo(1, id, style, width);
        EXPECT_EQ(width, QFontMetrics(bar.GetFont()->GetQFont()).horizontalAdvance(QString::fromUtf8(text)) + 2) << text;
        EXPECT_GE(bar.GetPaneWidgetWidth(1), width) << text;
    }
}

TEST_F(AppFixture, DialogsAreCentredOverTheWindowAndTheAboutBoxShowsIconNameAndCopyright)
{
    const QPoint centre = Frame()->GetWidget()->geometry().center();
    QString caption;
    QStringList texts;
    bool icon = false;
    for (const UINT id : {ID_CONNECTION_MAKE, ID_APP_ABOUT})
        EXPECT_EQ(WithDialog(id, [&](CDialog& dlg) {
            EXPECT_LE((dlg.GetWidget()->geometry().center() - centre).manhattanLength(), 4) << id;
            caption = dlg.GetWidget()->windowTitle();
            for (const QLabel* label : dlg.GetWidget()->findChildren<QLabel*>()) {
                icon = icon || !label->pixmap().isNull();
                texts << label->text();
                // Each line whole on its one line of the field.
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width()) << label->text().toStdString();
            }
            QTest::keyClick(dlg.GetWidget(), Qt::Key_Escape);
        }), 1);
    EXPECT_EQ(caption, QStringLiteral("About Cistern"));
    EXPECT_TRUE(icon);
    EXPECT_TRUE(texts.contains(QStringLiteral("Cistern Version %1.%2").arg(CISTERN_VERSION_MAJOR).arg(CISTERN_VERSION_MINOR)));
    const QStringList copyright = texts.filter(QStringLiteral("The Cistern developers"));
    ASSERT_EQ(copyright.size(), 1);
    EXPECT_EQ(copyright[0].toStdString(), "\u00A9 2026 The Cistern developers");
    // The version block says the same.
    const auto& strings = AfxGetResourceTable()->version->strings;
    const auto legal = std::find_if(strings.begin(), strings.end(), [](const VersionString& s) { return std::string_view(s.key) == "LegalCopyright"; });
    ASSERT_NE(legal, strings.end());
    EXPECT_EQ(legal->value, copyright[0].toStdString());
}

TEST_F(AppFixture, HelpOpensTheManualAndContextHelpWaitsForAClick)
{
    for (const UINT id : {ID_HELP, ID_HELP_FINDER}) {
        Frame()->OnCommand(id);
        QTextBrowser* browser = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            browser = w->isVisible() && !browser ? w->findChild<QTextBrowser*>(QStringLiteral("helpBrowser")) : browser;
        ASSERT_NE(browser, nullptr) << id;
        EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Make Connection")));
        browser->window()->close();
    }
    Frame()->OnCommand(ID_CONTEXT_HELP);
    EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "Select an object on which to get Help");
    QWhatsThis::leaveWhatsThisMode();
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "For Help, press F1");
    EXPECT_FALSE(View()->GetWidget()->whatsThis().isEmpty());
}

TEST_F(AppFixture, ReceivedTextNeverMarksTheDocumentSoClosingAsksNothing)
{
    View()->AppendToLog("text\r\n");
    View()->OnClearLog();
    View()->AppendToLog("more");
    EXPECT_FALSE(Doc()->IsModified());
    EXPECT_TRUE(Frame()->GetWidget()->close());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(AppFixture, SaveWritesTheLogsBytesOrSaysWhyNot)
{
    const QByteArray bytes("nul\0 \xff\xfe \xc3 lone\rcr\r\n", 16);
    View()->AppendToLog(bytes.constData(), bytes.size());
    afxtest::SetNextFileName(m_dir.filePath(QStringLiteral("no/such/folder/log")).toStdString());
    Frame()->OnCommand(ID_FILE_SAVE);
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("no"))));   // no folder made
    const QString path = m_dir.filePath(QStringLiteral("log"));
    afxtest::SetNextFileName(path.toStdString());
    Frame()->OnCommand(ID_FILE_SAVE);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), bytes);
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Frame()->GetWidget()->windowTitle(), QStringLiteral("Sumpwell"));
}

TEST_F(AppFixture, AFailedSocketServiceIsReportedAndTheWindowStillOpens)
{
    m_app.reset();
    ws::FailNextStartupForTesting(10091);
    m_app = std::make_unique<CCisternApp>();
    ASSERT_TRUE(m_app->InitInstance());
    EXPECT_TRUE(Frame()->GetWidget()->isVisible());
    EXPECT_EQ(Messages(), std::vector<std::string>{"WSAStartup failed"});
}
