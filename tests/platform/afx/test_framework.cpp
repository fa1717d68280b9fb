// SPDX-License-Identifier: GPL-3.0-or-later
// The window framework: how a command is routed and enabled, and the profile's file.
#include "platform/afxwin.h"

#include "wait.h"

#include <QFile>
#include <QWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_trace;
bool g_viewEnables = true;
bool g_viewBusy = false;   // the view loads or saves a file

// Which targets handle which command: kAll all four, kNotView all but the view, and so on.
constexpr UINT kAll = 40001, kNotView = 40002, kFrameApp = 40003, kAppOnly = 40004, kGated = 40005, kNobody = 40006;
constexpr UINT kDocName = 40007;   // the document records its file's name
CWnd* g_frame = nullptr;           // the frame made last

// Each target records its class name when it handles a command.
#define TRACE_MAP(Class, Base, ...)                                                                  \
    void Handle() { g_trace.push_back(#Class); }                                                     \
    static const AFX_MSGMAP* GetThisMessageMap()                                                     \
    {                                                                                                \
        static const AFX_MSGMAP_ENTRY entries[] = {__VA_ARGS__};                                     \
        static const AFX_MSGMAP map{&Base::GetThisMessageMap, entries};                              \
        return &map;                                                                                 \
    }                                                                                                \
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }                 \
    static const CRuntimeClass class##Class;

struct TraceDoc : CDocument {
    void Name() { g_trace.push_back(GetPathName()); }
    // Opening a file is a file operation of the view, during which the frame gets a command.
    BOOL OnOpenDocument(LPCSTR) override
    {
        g_viewBusy = true;
        g_frame->OnCommand(kDocName);
        g_viewBusy = false;
        AfxFileOperationEnded();
        return TRUE;
    }
    TRACE_MAP(TraceDoc, CDocument, ON_COMMAND(kAll, &TraceDoc::Handle), ON_COMMAND(kNotView, &TraceDoc::Handle),
              ON_COMMAND(kDocName, &TraceDoc::Name))
};
struct TraceView : CView {
    void OnUpdateGated(CCmdUI* ui) { ui->Enable(g_viewEnables); }
    QWidget* CreateViewWidget(const CREATESTRUCT&) override { return new QWidget; }
    bool IsFileOperationRunning() const override { return g_viewBusy; }
    TRACE_MAP(TraceView, CView, ON_COMMAND(kAll, &TraceView::Handle), ON_COMMAND(kGated, &TraceView::Handle),
              ON_UPDATE_COMMAND_UI(kGated, &TraceView::OnUpdateGated))
};
struct TraceFrame : CFrameWnd {
    TraceFrame() { g_frame = this; }
    TRACE_MAP(TraceFrame, CFrameWnd, ON_COMMAND(kAll, &TraceFrame::Handle), ON_COMMAND(kNotView, &TraceFrame::Handle),
              ON_COMMAND(kFrameApp, &TraceFrame::Handle))
};
struct TraceApp : CWinApp {
    TRACE_MAP(TraceApp, CWinApp, ON_COMMAND(kAll, &TraceApp::Handle), ON_COMMAND(kNotView, &TraceApp::Handle),
              ON_COMMAND(kFrameApp, &TraceApp::Handle), ON_COMMAND(kAppOnly, &TraceApp::Handle))
};
const CRuntimeClass TraceDoc::classTraceDoc{"TraceDoc", &AfxCreateObject<TraceDoc>, &CDocument::classCDocument};
const CRuntimeClass TraceView::classTraceView{"TraceView", &AfxCreateObject<TraceView>, &CView::classCView};
const CRuntimeClass TraceFrame::classTraceFrame{"TraceFrame", &AfxCreateObject<TraceFrame>, &CFrameWnd::classCFrameWnd};

} // namespace

TEST(CommandRouting, ViewThenDocumentThenFrameThenApplicationAndDisabledCommandsAreDropped)
{
    TraceApp app;
    app.AddDocTemplate(new CSingleDocTemplate(1, RUNTIME_CLASS(TraceDoc), RUNTIME_CLASS(TraceFrame), RUNTIME_CLASS(TraceView)));
    app.OnFileNew();
    ASSERT_NE(app.m_pMainWnd, nullptr);
    const auto run = [&](UINT id) {
        g_trace.clear();
        app.m_pMainWnd->OnCommand(id);
        return g_trace;
    };
    using T = std::vector<std::string>;
    EXPECT_EQ(run(kAll), T{"TraceView"});
    EXPECT_EQ(run(kNotView), T{"TraceDoc"});
    EXPECT_EQ(run(kFrameApp), T{"TraceFrame"});
    EXPECT_EQ(run(kAppOnly), T{"TraceApp"});
    EXPECT_EQ(run(kNobody), T{});
    EXPECT_EQ(run(kGated), T{"TraceView"});
    g_viewEnables = false;
    EXPECT_EQ(run(kGated), T{});
    g_viewEnables = true;

    // A command nobody handles is disabled; one with a handler is enabled.
    CCmdUI ui;
    ui.m_nID = kNobody;
    ui.DoUpdate(app.m_pMainWnd);
    EXPECT_FALSE(ui.m_bEnabled);
    ui.m_nID = kAppOnly;
    ui.DoUpdate(app.m_pMainWnd);
    EXPECT_TRUE(ui.m_bEnabled);
}

TEST(CommandRouting, InputDuringAFileOperationWaitsAndRunsInOrderOnceItIsOver)
{
    TraceApp app;
    app.AddDocTemplate(new CSingleDocTemplate(1, RUNTIME_CLASS(TraceDoc), RUNTIME_CLASS(TraceFrame), RUNTIME_CLASS(TraceView)));
    app.OnFileNew();
    QWidget* window = app.m_pMainWnd->GetWidget();
    window->show();
    g_trace.clear();
    g_viewBusy = true;
    for (const UINT id : {kFrameApp, kGated, kAll, kAppOnly})
        app.m_pMainWnd->OnCommand(id);
    EXPECT_FALSE(window->close());
    g_viewEnables = false;   // disabled by the time it runs: dropped
    AfxFileOperationEnded();   // the view would say so only once it is over
    testsupport::drainEvents();
    EXPECT_TRUE(g_trace.empty()) << "ran while the operation ran";
    g_viewBusy = false;
    AfxFileOperationEnded();
    EXPECT_TRUE(testsupport::waitFor([&] { return !window->isVisible(); }));
    g_viewEnables = true;
    EXPECT_EQ(g_trace, (std::vector<std::string>{"TraceFrame", "TraceView", "TraceApp"}));
}

TEST(CommandRouting, InputWhileTheFirstFileOpensWaitsForItAndFindsItsName)
{
    // A long file named at start shows the window while it opens, before that is the main window.
    TraceApp app;
    app.AddDocTemplate(new CSingleDocTemplate(1, RUNTIME_CLASS(TraceDoc), RUNTIME_CLASS(TraceFrame), RUNTIME_CLASS(TraceView)));
    g_trace.clear();
    ASSERT_NE(app.GetDocTemplate()->OpenDocumentFile("first.log"), nullptr);
    EXPECT_TRUE(g_trace.empty()) << "ran while the file opened";
    testsupport::drainEvents();
    EXPECT_EQ(g_trace, std::vector<std::string>{"first.log"});
}

namespace {
class Profile : public ::testing::Test {
protected:
    void TearDown() override { afxtest::SetProfilePath(""); }
    QString Use(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("Sumpwell.ini"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        afxtest::SetProfilePath(path.toStdString());
        return path;
    }
    QTemporaryDir m_dir;
    CWinApp m_app{"profile test"};
};
} // namespace

TEST_F(Profile, ValuesAreTheTextTheFileHolds)
{
    // Written by hand or damaged: values are text, never typed data (a "@Variant(" value that
    // claims gigabytes is not unpacked); blanks around go; the first of two counts; a number is the
    // one its text starts with.
    Use("\xEF\xBB\xBF; by hand\r\n[Connect]\r\nPort=@Variant(\\0\\0\\0\\t\\x7f\\xff)\r\n  Protocol =  7x, 2 \r\n"
        "Protocol=8\r\nText=\" \\\"q\\\" \\x41\\n\\\\\"\r\nno equals sign \xff\r\n[Other]\nPort=40000\n");
    EXPECT_EQ(m_app.GetProfileString("Connect", "Port", "?"), "@Variant(\\0\\0\\0\\t\\x7f\\xff)");
    EXPECT_EQ(m_app.GetProfileString("Connect", "Protocol", "?"), "7x, 2");
    EXPECT_EQ(m_app.GetProfileInt("Connect", "Protocol", -1), 7);
    EXPECT_EQ(m_app.GetProfileString("Connect", "Text", "?"), " \"q\" A\n\\");
    EXPECT_EQ(m_app.GetProfileInt("Other", "Port", -1), 40000);
    EXPECT_EQ(m_app.GetProfileInt("Connect", "Missing", -1), -1);
}

TEST_F(Profile, WritesPlainTextAndSaysWhetherTheValueWasStored)
{
    const QString path = Use("");
    ASSERT_TRUE(m_app.WriteProfileString("Connect", "Port", "80"));
    ASSERT_TRUE(m_app.WriteProfileInt("Connect", "Protocol", -1));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[Connect]\nPort=80\nProtocol=-1\n");

    // A place that cannot hold a file (its folder is a file): not stored, and the write says so.
    afxtest::SetProfilePath((path + QStringLiteral("/Sumpwell.ini")).toStdString());
    EXPECT_FALSE(m_app.WriteProfileString("Connect", "Port", "555"));
    EXPECT_FALSE(m_app.WriteProfileInt("Connect", "Protocol", 1));
    EXPECT_EQ(m_app.GetProfileString("Connect", "Port", "?"), "?");
}
