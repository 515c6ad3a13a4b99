// Picture scaling and saving for the watermark, with Qt's image classes.
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>

#include "crop/crop.h"

namespace qm::crop {

namespace {

struct ExtensionRow {
    const char* extension;
    const char* format;
};

constexpr ExtensionRow kExtensions[] = {
    {"png", "png"}, {"jpg", "jpeg"}, {"jpeg", "jpeg"}, {"gif", "gif"},
    {"bmp", "bmp"}, {"tif", "tiff"}, {"ico", "ico"},
};

}  // namespace

QImage LoadImageFile(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(false);
    QImage picture = reader.read();
    if (picture.isNull())
        throw ImageError(QStringLiteral("Cannot read the picture \"%1\": %2").arg(path, reader.errorString()));
    return picture;
}

QImage WithOpacity(const QImage& source, int opacity) {
    QImage picture = source.convertToFormat(QImage::Format_ARGB32);
    if (opacity >= 100) return picture;
    const int p = std::max(0, opacity);
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int a = (qAlpha(row[x]) * p + 50) / 100;
            row[x] = qRgba(qRed(row[x]), qGreen(row[x]), qBlue(row[x]), a);
        }
    }
    return picture;
}

namespace {

// Low quality is the nearest pixel; the default draws with bilinear smoothing; high quality
// scales with area averaging first, which keeps thin lines of large logos.
QImage stretched(const QImage& source, int width, int height, int interpolation) {
    QImage target(width, height, QImage::Format_ARGB32_Premultiplied);
    if (target.isNull())
        throw ImageError(QStringLiteral("Cannot make a %1x%2 picture").arg(width).arg(height));
    target.fill(Qt::transparent);
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (interpolation == kInterpolationHigh) {
        painter.drawImage(0, 0, source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, interpolation != kInterpolationLow);
        painter.drawImage(QRect(0, 0, width, height), source);
    }
    painter.end();
    return target;
}

void checkSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        throw ImageError(QStringLiteral("Cannot make a %1x%2 picture").arg(width).arg(height));
}

}  // namespace

QByteArray ImageFormatForPath(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    for (const ExtensionRow& row : kExtensions)
        if (ext == QLatin1String(row.extension)) return QByteArray(row.format);
    return {};
}

void SaveImageByExtension(const QImage& picture, const QString& path) {
    const QByteArray format = ImageFormatForPath(path);
    if (format.isEmpty())
        throw ImageError(QStringLiteral("No picture format for the file \"%1\"").arg(path));
    if (!QImageWriter::supportedImageFormats().contains(format))
        throw ImageError(QStringLiteral("No %1 encoder for the file \"%2\"").arg(QString::fromLatin1(format).toUpper(), path));
    QImageWriter writer(path, format);
    if (!writer.write(picture))
        throw ImageError(QStringLiteral("Cannot write the picture \"%1\": %2").arg(path, writer.errorString()));
}

void ResizeImageFile(const QString& sourcePath, const QString& targetPath, int width, int interpolation,
                     int height) {
    ResizeImageFileWithOpacity(sourcePath, targetPath, width, interpolation, 100, height);
}

void ResizeImageFileWithOpacity(const QString& sourcePath, const QString& targetPath, int width,
                                int interpolation, int opacity, int height) {
    checkSize(width, height);
    SaveImageByExtension(WithOpacity(stretched(LoadImageFile(sourcePath), width, height, interpolation), opacity),
                         targetPath);
}

}  // namespace qm::crop
