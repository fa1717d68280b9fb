// The window framework: command routing and enabling, keys, menus and the message pane.
#include "app_fixture.h"
#include "wait.h"

#include "platform/afxwin.h"
#include "resources/resource.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_trace;
bool g_viewEnables = true;

constexpr UINT kAll = 40001;        // handled by view, document, frame and application
constexpr UINT kNotView = 40002;    // document, frame, application
constexpr UINT kFrameApp = 40003;   // frame, application
constexpr UINT kAppOnly = 40004;    // application
constexpr UINT kGated = 40005;      // the view's enabling handler decides
constexpr UINT kNobody = 40006;

class TraceDoc : public CDocument {
public:
    void All() { g_trace.push_back("doc"); }
    void NotView() { g_trace.push_back("doc"); }
    static const CRuntimeClass classTraceDoc;
    static const AFX_MSGMAP* GetThisMessageMap()
    {
        static const AFX_MSGMAP_ENTRY entries[] = {
            ON_COMMAND(kAll, &TraceDoc::All),
            ON_COMMAND(kNotView, &TraceDoc::NotView),
        };
        static const AFX_MSGMAP map{&CDocument::GetThisMessageMap, entries};
        return &map;
    }
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }
};
const CRuntimeClass TraceDoc::classTraceDoc{"TraceDoc", &AfxCreateObject<TraceDoc>, &CDocument::classCDocument};

class TraceView : public CEditView {
public:
    void All() { g_trace.push_back("view"); }
    void Gated() { g_trace.push_back("gated"); }
    void OnUpdateGated(CCmdUI* ui) { ui->Enable(g_viewEnables); }
    static const CRuntimeClass classTraceView;
    static const AFX_MSGMAP* GetThisMessageMap()
    {
        static const AFX_MSGMAP_ENTRY entries[] = {
            ON_COMMAND(kAll, &TraceView::All),
            ON_COMMAND(kGated, &TraceView::Gated),
            ON_UPDATE_COMMAND_UI(kGated, &TraceView::OnUpdateGated),
        };
        static const AFX_MSGMAP map{&CEditView::GetThisMessageMap, entries};
        return &map;
    }
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }
};
const CRuntimeClass TraceView::classTraceView{"TraceView", &AfxCreateObject<TraceView>, &CEditView::classCEditView};

class TraceFrame : public CFrameWnd {
public:
    void Handle() { g_trace.push_back("frame"); }
    static const CRuntimeClass classTraceFrame;
    static const AFX_MSGMAP* GetThisMessageMap()
    {
        static const AFX_MSGMAP_ENTRY entries[] = {
            ON_COMMAND(kAll, &TraceFrame::Handle),
            ON_COMMAND(kNotView, &TraceFrame::Handle),
            ON_COMMAND(kFrameApp, &TraceFrame::Handle),
        };
        static const AFX_MSGMAP map{&CFrameWnd::GetThisMessageMap, entries};
        return &map;
    }
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }
};
const CRuntimeClass TraceFrame::classTraceFrame{"TraceFrame", &AfxCreateObject<TraceFrame>, &CFrameWnd::classCFrameWnd};

class TraceApp : public CWinApp {
public:
    void Handle() { g_trace.push_back("app"); }
    static const AFX_MSGMAP* GetThisMessageMap()
    {
        static const AFX_MSGMAP_ENTRY entries[] = {
            ON_COMMAND(kAll, &TraceApp::Handle),
            ON_COMMAND(kNotView, &TraceApp::Handle),
            ON_COMMAND(kFrameApp, &TraceApp::Handle),
            ON_COMMAND(kAppOnly, &TraceApp::Handle),
        };
        static const AFX_MSGMAP map{&CWinApp::GetThisMessageMap, entries};
        return &map;
    }
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }
};

} // namespace

TEST(CommandRouting, ViewThenDocumentThenFrameThenApplicationAndDisabledCommandsAreDropped)
{
    CisternInitResources();
    TraceApp app;
    app.AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, RUNTIME_CLASS(TraceDoc), RUNTIME_CLASS(TraceFrame),
                                              RUNTIME_CLASS(TraceView)));
    app.OnFileNew();
    ASSERT_NE(app.m_pMainWnd, nullptr);
    CWnd* frame = app.m_pMainWnd;

    const auto run = [&](UINT id) {
        g_trace.clear();
        frame->OnCommand(id);
        return g_trace;
    };
    using T = std::vector<std::string>;
    EXPECT_EQ(run(kAll), T{"view"});
    EXPECT_EQ(run(kNotView), T{"doc"});
    EXPECT_EQ(run(kFrameApp), T{"frame"});
    EXPECT_EQ(run(kAppOnly), T{"app"});
    EXPECT_EQ(run(kNobody), T{});

    g_viewEnables = true;
    EXPECT_EQ(run(kGated), T{"gated"});
    g_viewEnables = false;
    EXPECT_EQ(run(kGated), T{});
    g_viewEnables = true;

    // Enabling: a command nobody handles is disabled; one with a handler is enabled.
    CCmdUI ui;
    ui.m_nID = kNobody;
    ui.DoUpdate(frame);
    EXPECT_FALSE(ui.m_bEnabled);
    ui.m_nID = kAppOnly;
    ui.DoUpdate(frame);
    EXPECT_TRUE(ui.m_bEnabled);
}

class Keys : public testsupport::AppFixture {};

TEST_F(Keys, F2OpensTheDialogOnlyWhileNoSocketIsBound)
{
    QWidget* window = Frame()->GetWidget();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    int opened = 0;
    afxtest::SetModalHook([&](CDialog& dlg) {
        ++opened;
        dlg.ClickButton(IDCANCEL);
    });
    QTest::keyClick(window, Qt::Key_F2);
    EXPECT_EQ(opened, 1);

    View()->m_nProtocol = 0;
    ASSERT_EQ(View()->StartListening("127.0.0.1", "0"), 0);
    QTest::keyClick(window, Qt::Key_F2);
    EXPECT_EQ(opened, 1);
}

TEST_F(Keys, ConnectionMenuShowsExactlyOneOfItsTwoItemsEnabled)
{
    auto* main = qobject_cast<QMainWindow*>(Frame()->GetWidget());
    ASSERT_NE(main, nullptr);
    QMenu* connection = nullptr;
    for (QAction* a : main->menuBar()->actions())
        if (a->text() == QStringLiteral("&Connection"))
            connection = a->menu();
    ASSERT_NE(connection, nullptr);
    const auto item = [&](const char* text) {
        for (QAction* a : connection->actions())
            if (a->text() == QString::fromUtf8(text))
                return a;
        return static_cast<QAction*>(nullptr);
    };
    QAction* make = item("&Make Connection...\tF2");
    QAction* close = item("&Close Connection");
    ASSERT_NE(make, nullptr);
    ASSERT_NE(close, nullptr);

    emit connection->aboutToShow();
    EXPECT_TRUE(make->isEnabled());
    EXPECT_FALSE(close->isEnabled());
    View()->m_nProtocol = 0;
    ASSERT_EQ(View()->StartListening("127.0.0.1", "0"), 0);
    emit connection->aboutToShow();
    EXPECT_FALSE(make->isEnabled());
    EXPECT_TRUE(close->isEnabled());

    // Highlighting an item shows its prompt in the message pane; pane 1 keeps its text.
    Frame()->SetStatusPaneText(1, "Connected");
    QStatusTipEvent tip(make->statusTip());
    QCoreApplication::sendEvent(main, &tip);
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "Make Connection");
    EXPECT_EQ(ConnectionPane(), "Connected");
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(main, &none);
    EXPECT_EQ(Frame()->GetStatusBar().GetMessageText(), "For Help, press F1");
}

namespace {
QString WriteFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("Sumpwell.ini"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        ADD_FAILURE() << "could not write " << path.toStdString();
    return path;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}
} // namespace

TEST(Profile, ValuesAreReadAsTheTextTheFileHolds)
{
    // Written by hand or damaged: values are text, never typed data (a "@Variant(" value that
    // claims gigabytes must not be unpacked), and a number is the one its text starts with.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    afxtest::SetProfilePath(WriteFile(dir, "\xEF\xBB\xBF; made by hand\r\n"
                                           "[Connect]\r\n"
                                           "Protocol=1, 2\r\n"
                                           "Port=@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)\r\n"
                                           "  Plain =  7x  \r\n"
                                           "Text=\" 3,4 \\\"q\\\" \\x41\\n\"\r\n"
                                           "Odd=\"\\q\\\r\n"
                                           "Plain=8\r\n"
                                           "# Plain=9\r\n"
                                           "no equals sign \xff\xfe\r\n"
                                           "=no key\r"
                                           "[Other]\n"
                                           "Port=40000\n")
                                 .toStdString());
    CWinApp app("profile test");
    EXPECT_EQ(app.GetProfileString("Connect", "Protocol", "?"), "1, 2");
    EXPECT_EQ(app.GetProfileInt("Connect", "Protocol", -1), 1);
    EXPECT_EQ(app.GetProfileString("Connect", "Port", "?"), "@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)");
    EXPECT_EQ(app.GetProfileInt("Connect", "Port", -1), 0);
    EXPECT_EQ(app.GetProfileString("Connect", "Plain", "?"), "7x");   // blanks around go, first of two counts
    EXPECT_EQ(app.GetProfileInt("Connect", "Plain", -1), 7);
    EXPECT_EQ(app.GetProfileString("Connect", "Text", "?"), " 3,4 \"q\" A\n");
    EXPECT_EQ(app.GetProfileString("Connect", "Odd", "?"), "\"\\q\\");   // not closed: as written
    EXPECT_EQ(app.GetProfileInt("Other", "Port", -1), 40000);
    EXPECT_EQ(app.GetProfileInt("Connect", "Missing", -1), -1);
    EXPECT_EQ(app.GetProfileString("Connect", "", "?"), "?");
    afxtest::SetProfilePath("");
}

TEST(Profile, WrittenTextReadsBackTheSameAndPlainValuesStayPlain)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = WriteFile(dir, "");
    afxtest::SetProfilePath(path.toStdString());
    CWinApp app("profile test");
    ASSERT_TRUE(app.WriteProfileString("Connect", "Port", "80"));
    ASSERT_TRUE(app.WriteProfileInt("Connect", "Protocol", -1));
    EXPECT_EQ(ReadFile(path), "[Connect]\nPort=80\nProtocol=-1\n");

    for (const char* text : {"", " 80", "80 ", "\"80\"", "a\\b\"", "@Variant(x)", "\t\x01\x7f\r\n;#[=]", "\xc3\xa9t\xc3\xa9"}) {
        ASSERT_TRUE(app.WriteProfileString("Connect", "Port", text)) << text;
        EXPECT_EQ(app.GetProfileString("Connect", "Port", "?"), text);
        EXPECT_EQ(app.GetProfileInt("Connect", "Protocol", 0), -1) << "after " << text;
    }
    afxtest::SetProfilePath("");
}

TEST(Profile, WritingSaysWhetherTheValueWasStored)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CWinApp app("profile test");

    // A malformed file: the value is stored (the file is written anew), and the write says so.
    const QString path = dir.filePath(QStringLiteral("Sumpwell.ini"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Connect\nPort=1\n\xff\xfe garbage\n");
    }
    afxtest::SetProfilePath(path.toStdString());
    EXPECT_TRUE(app.WriteProfileString("Connect", "Port", "555"));
    EXPECT_TRUE(app.WriteProfileInt("Connect", "Protocol", 1));
    EXPECT_EQ(app.GetProfileString("Connect", "Port", "?"), "555");
    EXPECT_EQ(app.GetProfileInt("Connect", "Protocol", -1), 1);

    // A place that cannot hold a file (its folder is a file): not stored, and the write says so.
    const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    afxtest::SetProfilePath((blocker + QStringLiteral("/Sumpwell.ini")).toStdString());
    EXPECT_FALSE(app.WriteProfileString("Connect", "Port", "555"));
    EXPECT_FALSE(app.WriteProfileInt("Connect", "Protocol", 1));
    EXPECT_EQ(app.GetProfileString("Connect", "Port", "?"), "?");
    afxtest::SetProfilePath("");
}
