// How the program meets the desktop: its window icon at high DPI.
#include "app_fixture.h"

#include "resources/resource.h"

#include <QIcon>
#include <QImageReader>
#include <QPixmap>
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
