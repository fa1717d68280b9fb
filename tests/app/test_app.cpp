// The application shell: start-up, the main frame's place and panes, the log document's file form
// and its modified flag.
#include "app_fixture.h"
#include "wait.h"

#include "platform/logtextwidget.h"
#include "platform/winsock.h"
#include "resources/resource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMainWindow>
#include <QStatusBar>

#include <sys/stat.h>
#include <unistd.h>

using testsupport::AppFixture;
using testsupport::Messages;

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

} // namespace

TEST(MainFrameRect, ThreeQuartersOfTheScreenCentredWithFractionsDropped)
{
    struct Case { int w, h, cx, cy, x, y; };
    for (const Case c : {Case{1024, 768, 768, 576, 128, 96}, Case{1680, 1050, 1260, 787, 210, 131},
                         Case{1600, 900, 1200, 675, 200, 112}}) {
        const CREATESTRUCT r = MainFrameRect(c.w, c.h);
        EXPECT_EQ(r.cx, c.cx) << c.w << "x" << c.h;
        EXPECT_EQ(r.cy, c.cy) << c.w << "x" << c.h;
        EXPECT_EQ(r.x, c.x) << c.w << "x" << c.h;
        EXPECT_EQ(r.y, c.y) << c.w << "x" << c.h;
    }
}

TEST_F(AppFixture, StartsWithOneCaptionedCentredWindowAndAnEmptyReadOnlyLog)
{
    QWidget* window = Frame()->GetWidget();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sumpwell"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(768, 576));
    EXPECT_EQ(window->pos(), QPoint(128, 96));
    EXPECT_EQ(ConnectionPane(), "No connection");
    EXPECT_EQ(View()->GetWindowTextLength(), 0);
    CLogTextWidget* edit = View()->GetEditCtrl();
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_TRUE(edit->wordWrap());
    EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(Doc()->IsModified());
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "For Help, press F1");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(AppFixture, StatusPaneFitsItsTextPlusTwoPixels)
{
    CStatusBar& bar = Frame()->GetStatusBar();
    const QFontMetrics fm(bar.GetFont()->GetQFont());
    for (const char* text : {"Connected to 127.0.0.1 on port 40000", "No connection"}) {
        ASSERT_TRUE(Frame()->SetStatusPaneText(1, text));
        UINT id = 0, style = 0;
        int width = 0;
        bar.GetPaneInfo(1, id, style, width);
        EXPECT_EQ(id, ID_INDICATOR_CONNECTION);
        EXPECT_EQ(width, fm.horizontalAdvance(QString::fromUtf8(text)) + 2) << text;
        EXPECT_EQ(bar.GetPaneText(1), text);
        // The pane on screen is the text area with the bar's border on each side: wide enough.
        EXPECT_GE(bar.GetPaneWidgetWidth(1), width);
    }
    // The wide text made the pane wider than the short one.
    Frame()->SetStatusPaneText(1, "Connected to 127.0.0.1 on port 40000");
    const int wide = bar.GetPaneWidgetWidth(1);
    Frame()->SetStatusPaneText(1, "No connection");
    EXPECT_LT(bar.GetPaneWidgetWidth(1), wide);
}

TEST_F(AppFixture, AppendsNeverLeaveTheDocumentModifiedButAnEditDoes)
{
    View()->AppendToLog("abc");
    View()->AppendToLog("\r\n");
    EXPECT_FALSE(Doc()->IsModified());
    // The edit control's own change notice is what marks the document: a bare replacement does.
    View()->ReplaceSel("x");
    EXPECT_TRUE(Doc()->IsModified());
    // Setting the whole text sends no notice.
    Doc()->SetModifiedFlag(FALSE);
    View()->OnClearLog();
    EXPECT_FALSE(Doc()->IsModified());
    EXPECT_EQ(Log(), "");
}

TEST_F(AppFixture, AppendDropsTheSelectionAndPutsTextAtTheEnd)
{
    View()->AppendToLog("first line\r\n");
    View()->SetSel(0, 5);
    View()->AppendToLog("second");
    int start = -1, end = -1;
    View()->GetSel(start, end);
    EXPECT_EQ(start, end);
    EXPECT_EQ(end, View()->GetWindowTextLength());
    EXPECT_EQ(Log(), "first line\r\nsecond");
}

TEST_F(AppFixture, SaveWritesExactlyTheLogsBytesAndLaterSavesNeedNoDialog)
{
    View()->AppendToLog("abc");
    View()->AppendToLog("\r\n");
    View()->AppendToLog("de");
    View()->AppendToLog("\r\n");
    const QString path = m_dir.filePath(QStringLiteral("log"));
    afxtest::SetNextFileName(path.toStdString());
    ASSERT_TRUE(Frame()->OnCommand(ID_FILE_SAVE));
    EXPECT_EQ(ReadFile(path), QByteArray("abc\r\nde\r\n"));
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral(".txt")));
    EXPECT_EQ(Doc()->GetPathName(), path.toStdString());
    EXPECT_EQ(Frame()->GetWidget()->windowTitle(), QStringLiteral("Sumpwell"));

    // More text, then Ctrl+S again: the same file, no dialog asked (no name is armed).
    View()->AppendToLog("f");
    View()->AppendToLog("\r\n");
    Frame()->OnCommand(ID_FILE_SAVE);
    EXPECT_EQ(ReadFile(path), QByteArray("abc\r\nde\r\nf\r\n"));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(AppFixture, EmptyLogSavesAsAnEmptyFileAndACancelledDialogWritesNothing)
{
    const QString path = m_dir.filePath(QStringLiteral("empty"));
    afxtest::SetNextFileName("");
    Frame()->OnCommand(ID_FILE_SAVE);
    EXPECT_FALSE(QFileInfo::exists(path));
    afxtest::SetNextFileName(path.toStdString());
    Frame()->OnCommand(ID_FILE_SAVE);
    ASSERT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST_F(AppFixture, AnyBytesSurviveOpenAndSave)
{
    QByteArray bytes("nul\0here", 8);
    bytes += "\xff\xfe bad utf-8 \xc3";
    bytes += "lone\rcr lone\nlf crlf\r\n";
    bytes += QByteArray(70000, 'x');
    const QString in = m_dir.filePath(QStringLiteral("in.bin"));
    WriteFile(in, bytes);
    afxtest::SetNextFileName(in.toStdString());
    Frame()->OnCommand(ID_FILE_OPEN);
    ASSERT_EQ(Log().size(), static_cast<std::size_t>(bytes.size()));
    EXPECT_EQ(QByteArray::fromStdString(Log()), bytes);
    EXPECT_FALSE(Doc()->IsModified());

    // Text that arrives afterwards follows the loaded text, and Save writes both back to that file.
    View()->AppendToLog("new");
    View()->AppendToLog("\r\n");
    Frame()->OnCommand(ID_FILE_SAVE);
    EXPECT_EQ(ReadFile(in), bytes + "new\r\n");
}

TEST_F(AppFixture, NewEmptiesTheLogWithoutAskingAndKeepsTheConnection)
{
    View()->m_nProtocol = 0;
    ASSERT_EQ(View()->StartListening("127.0.0.1", "0"), 0);
    const ws::SOCKET bound = View()->m_listenSocket;
    View()->AppendToLog("received");
    View()->AppendToLog("\r\n");
    const QString path = m_dir.filePath(QStringLiteral("saved"));
    afxtest::SetNextFileName(path.toStdString());
    Frame()->OnCommand(ID_FILE_SAVE);
    ASSERT_EQ(Doc()->GetPathName(), path.toStdString());

    Frame()->OnCommand(ID_FILE_NEW);
    EXPECT_EQ(Log(), "");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(View()->m_listenSocket, bound);
    EXPECT_EQ(Doc()->GetPathName(), "");
    EXPECT_EQ(Doc()->GetTitle(), "Untitled");
}

TEST_F(AppFixture, FailedSaveIsReportedAndHarmsNeitherTheLogNorTheOldFile)
{
    View()->AppendToLog("keep me");
    View()->AppendToLog("\r\n");
    // A folder that does not exist.
    afxtest::SetNextFileName(m_dir.filePath(QStringLiteral("no/such/dir/log")).toStdString());
    Frame()->OnCommand(ID_FILE_SAVE);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Doc()->GetPathName(), "");

    // A file in a folder that cannot be written: the old file keeps its bytes.
    const QString dir = m_dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString old = dir + QStringLiteral("/old.log");
    WriteFile(old, "old bytes");
    ::chmod(dir.toUtf8().constData(), 0555);
    if (::access(dir.toUtf8().constData(), W_OK) != 0) {   // root writes anywhere
        Messages().clear();
        afxtest::SetNextFileName(old.toStdString());
        Frame()->OnCommand(ID_FILE_SAVE);
        EXPECT_EQ(Messages().size(), 1u);
        EXPECT_EQ(ReadFile(old), QByteArray("old bytes"));
    }
    ::chmod(dir.toUtf8().constData(), 0755);
    EXPECT_EQ(Log(), "keep me\r\n");
}

TEST_F(AppFixture, OpeningAFileThatIsGoneIsReportedAndChangesNothing)
{
    View()->AppendToLog("still here");
    afxtest::SetNextFileName(m_dir.filePath(QStringLiteral("vanished")).toStdString());
    Frame()->OnCommand(ID_FILE_OPEN);
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Log(), "still here");
    EXPECT_EQ(Doc()->GetPathName(), "");
}

TEST_F(AppFixture, ClosingTheWindowAfterReceivedTextAsksNothing)
{
    View()->AppendToLog("text");
    View()->AppendToLog("\r\n");
    View()->OnClearLog();
    View()->AppendToLog("more");
    EXPECT_TRUE(Doc()->SaveModified());
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(Frame()->GetWidget()->close());
    EXPECT_TRUE(Messages().empty());
}

TEST(StartupFailures, AFailedSocketServiceIsReportedAndTheWindowStillOpens)
{
    QTemporaryDir dir;
    CisternInitResources();
    testsupport::Messages().clear();
    afxtest::SetMessageBoxHook([](const CString& text) {
        testsupport::Messages().push_back(text);
        return IDOK;
    });
    afxtest::SetProfilePath((dir.path() + QStringLiteral("/p.ini")).toStdString());
    ws::FailNextStartupForTesting(10091);
    {
        CCisternApp app;
        ASSERT_TRUE(app.InitInstance());
        ASSERT_NE(app.m_pMainWnd, nullptr);
        EXPECT_TRUE(app.m_pMainWnd->GetWidget()->isVisible());
        ASSERT_EQ(testsupport::Messages().size(), 1u);
        EXPECT_EQ(testsupport::Messages()[0], "WSAStartup failed");
    }
    ws::FailNextStartupForTesting(0);
    afxtest::SetMessageBoxHook(nullptr);
    afxtest::SetProfilePath("");
}
