// How the program meets the desktop: its window icon at high DPI, and where its settings file lives.
#include "app_fixture.h"

#include "resources/resource.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>

using testsupport::AppFixture;

namespace {

QImage IcoImage(const QString& path, int size)
{
    QImageReader reader(path);
    for (int i = 0; i < reader.imageCount(); ++i) {
        reader.jumpToImage(i);
        const QImage image = reader.read();
        if (image.width() == size)
            return image.convertToFormat(QImage::Format_ARGB32);
    }
    return {};
}

} // namespace

TEST_F(AppFixture, WindowIconKeepsItsClassicImagesAndDrawsHighDpiSizesFromALargerOne)
{
    const IconData* data = AfxFindIcon(IDR_MAINFRAME);
    ASSERT_NE(data, nullptr);
    const QIcon icon = Frame()->GetWidget()->windowIcon();
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(std::any_of(sizes.begin(), sizes.end(), [](QSize s) { return s.width() >= 64; }))
        << "nothing to draw a 32 px icon from at scale 2";

    // At scale 1 the 32 px icon is still the .ico's own 16-colour image.
    const QImage ico32 = IcoImage(QString::fromUtf8(data->path), 32);
    ASSERT_FALSE(ico32.isNull());
    EXPECT_EQ(icon.pixmap(QSize(32, 32), 1.0).toImage().convertToFormat(QImage::Format_ARGB32), ico32);

    // At scale 2 it has 64 device pixels, drawn from the larger picture rather than the 32 px
    // image blown up.
    const QPixmap scaled = icon.pixmap(QSize(32, 32), 2.0);
    EXPECT_EQ(scaled.size(), QSize(64, 64));
    const QImage blownUp = ico32.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_NE(scaled.toImage().convertToFormat(QImage::Format_ARGB32), blownUp);
}

// ---- The settings file's place ---------------------------------------------------------------------
// QSettings reads the configuration folder once per process, at its first use, so each place is
// checked in a fresh run of this test program with the environment set before it starts; the run
// selects only ProfileChild, which writes through the application object as the connection dialog
// does.

namespace {

constexpr char kChildVariable[] = "SUMPWELL_TEST_PROFILE_CHILD";

struct ChildRun {
    bool finished = false;
    int exitCode = -1;
    QString output;
};

ChildRun RunProfileChild(QProcessEnvironment env)
{
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=ProfileChild.*")});
    ChildRun run;
    run.finished = child.waitForFinished(60000);
    if (!run.finished) {
        child.kill();
        child.waitForFinished(5000);
    }
    run.exitCode = child.exitCode();
    run.output = QString::fromLocal8Bit(child.readAll());
    return run;
}

// The connection settings the child wrote, read straight from the file.
std::string ConnectSettings(const QString& iniPath)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    return QStringLiteral("Port=%1 Protocol=%2")
        .arg(ini.value(QStringLiteral("Connect/Port")).toString(), ini.value(QStringLiteral("Connect/Protocol")).toString())
        .toStdString();
}

} // namespace

namespace {

// Writes through the application object, as the connection dialog does, and reads back.
class ProfileChild : public ::testing::Test {
    void TestBody() override
    {
        CWinApp app("Sumpwell");
        ASSERT_TRUE(app.WriteProfileString("Connect", "Port", "4242"));
        ASSERT_TRUE(app.WriteProfileInt("Connect", "Protocol", 1));
        EXPECT_EQ(app.GetProfileString("Connect", "Port", ""), "4242");
        EXPECT_EQ(app.GetProfileInt("Connect", "Protocol", 0), 1);
    }
};

// Registered only in the fresh process that ProfilePlace starts: ordinary runs neither list nor
// skip it.
[[maybe_unused]] const bool g_profileChildRegistered =
    qEnvironmentVariableIsSet(kChildVariable) &&
    ::testing::RegisterTest("ProfileChild", "WritesAndReadsBackTheConnectionSettings", nullptr, nullptr, __FILE__,
                            __LINE__, []() -> ProfileChild* { return new ProfileChild; }) != nullptr;

} // namespace

TEST(ProfilePlace, UnderXdgConfigHomeWhenSetAndHomeDotConfigOtherwise)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("home"));
    const QString xdg = dir.filePath(QStringLiteral("xdg"));
    ASSERT_TRUE(QDir().mkpath(home));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);

    {
        SCOPED_TRACE("XDG_CONFIG_HOME set");
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), xdg);
        const ChildRun run = RunProfileChild(env);
        ASSERT_TRUE(run.finished) << run.output.toStdString();
        ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
        ASSERT_TRUE(run.output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << run.output.toStdString();
        const QString ini = xdg + QStringLiteral("/Sumpwell/Sumpwell.ini");
        ASSERT_TRUE(QFile::exists(ini));
        EXPECT_EQ(ConnectSettings(ini), "Port=4242 Protocol=1");
        EXPECT_FALSE(QFile::exists(home + QStringLiteral("/.config"))) << "nothing is written under HOME";
    }
    {
        SCOPED_TRACE("XDG_CONFIG_HOME unset");
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        const ChildRun run = RunProfileChild(env);
        ASSERT_TRUE(run.finished) << run.output.toStdString();
        ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
        ASSERT_TRUE(run.output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << run.output.toStdString();
        const QString ini = home + QStringLiteral("/.config/Sumpwell/Sumpwell.ini");
        ASSERT_TRUE(QFile::exists(ini));
        EXPECT_EQ(ConnectSettings(ini), "Port=4242 Protocol=1");
    }
}
