#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include "crop/crop.h"

using namespace qm::crop;

namespace {

class ImageUtilsTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }

    // A 100x50 picture: left half opaque red, right half half-transparent blue, with alpha
    // values that vary, so every alpha can be checked after scaling.
    QString Source() {
        QImage source(100, 50, QImage::Format_ARGB32);
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 100; ++x)
                source.setPixel(x, y, x < 50 ? qRgba(255, 0, 0, 255) : qRgba(0, 0, 255, 60 + y * 2));
        const QString path = Path(QStringLiteral("source.png"));
        EXPECT_TRUE(source.save(path));
        return path;
    }

    QTemporaryDir dir;
};

TEST_F(ImageUtilsTest, StretchedPictureFillsTheWholeTarget) {
    const QString source = Source();
    for (int interpolation : {kInterpolationDefault, kInterpolationLow, kInterpolationHigh}) {
        SCOPED_TRACE(interpolation);
        const QString target = Path(QStringLiteral("square%1.png").arg(interpolation));
        ResizeImageFile(source, target, 40, interpolation, 40);
        const QImage out(target);
        ASSERT_EQ(out.size(), QSize(40, 40));
        // Every corner is covered: red on the left, blue on the right, nothing transparent.
        EXPECT_EQ(out.pixel(0, 0), qRgba(255, 0, 0, 255));
        EXPECT_EQ(out.pixel(0, 39), qRgba(255, 0, 0, 255));
        EXPECT_GT(qAlpha(out.pixel(39, 0)), 40);
        EXPECT_GT(qAlpha(out.pixel(39, 39)), 40);
        EXPECT_EQ(qBlue(out.pixel(39, 39)), 255);
    }
}

TEST_F(ImageUtilsTest, OpacityScalesEveryAlphaAndHundredChangesNothing) {
    const QString source = Source();
    ResizeImageFile(source, Path(QStringLiteral("plain.png")), 40, kInterpolationHigh, 40);
    ResizeImageFileWithOpacity(source, Path(QStringLiteral("full.png")), 40, kInterpolationHigh, 100, 40);
    ResizeImageFileWithOpacity(source, Path(QStringLiteral("half.png")), 40, kInterpolationHigh, 50, 40);
    ResizeImageFileWithOpacity(source, Path(QStringLiteral("none.png")), 40, kInterpolationHigh, 0, 40);
    const QImage plain(Path(QStringLiteral("plain.png")));
    const QImage full(Path(QStringLiteral("full.png")));
    const QImage half(Path(QStringLiteral("half.png")));
    const QImage none(Path(QStringLiteral("none.png")));
    EXPECT_EQ(full.convertToFormat(QImage::Format_ARGB32), plain.convertToFormat(QImage::Format_ARGB32));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const int a = qAlpha(plain.pixel(x, y));
            ASSERT_NEAR(qAlpha(half.pixel(x, y)), a / 2.0, 0.5) << x << "," << y;
            ASSERT_EQ(qAlpha(none.pixel(x, y)), 0);
            if (a == 255) ASSERT_EQ(qRed(half.pixel(x, y)), qRed(plain.pixel(x, y)));
        }
}

TEST_F(ImageUtilsTest, ExtensionChoosesTheFormatWithoutRegardToCase) {
    const QString source = Source();
    struct Case {
        const char* name;
        const char* format;
    };
    for (const Case& c : {Case{"a.JPEG", "jpeg"}, Case{"b.Jpg", "jpeg"}, Case{"c.PNG", "png"}, Case{"d.bmp", "bmp"}}) {
        SCOPED_TRACE(c.name);
        const QString target = Path(QString::fromLatin1(c.name));
        ResizeImageFile(source, target, 20, kInterpolationDefault, 10);
        QImageReader reader(target);
        reader.setDecideFormatFromContent(true);
        EXPECT_EQ(reader.format(), QByteArray(c.format));
        EXPECT_EQ(reader.size(), QSize(20, 10));
    }
}

TEST_F(ImageUtilsTest, FailuresReachTheCaller) {
    const QString source = Source();
    EXPECT_THROW(ResizeImageFile(Path(QStringLiteral("missing.png")), Path(QStringLiteral("x.png")), 10, 0, 10),
                 ImageError);
    EXPECT_THROW(ResizeImageFile(source, Path(QStringLiteral("x.webp2")), 10, 0, 10), ImageError);
    EXPECT_THROW(ResizeImageFile(source, Path(QStringLiteral("no-folder/x.png")), 10, 0, 10), ImageError);
    EXPECT_THROW(ResizeImageFile(source, Path(QStringLiteral("x.png")), 0, 0, 10), ImageError);
    QFile junk(Path(QStringLiteral("junk.png")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
    junk.close();
    EXPECT_THROW(ResizeImageFile(junk.fileName(), Path(QStringLiteral("y.png")), 10, 0, 10), ImageError);
}

}  // namespace
