// Crop and watermark: the picture operations the watermark needs (scaling a picture file into a
// new file of a given size, optionally more transparent, and saving by extension). Qt Gui only.
//
// Errors: every failure (unreadable source, no writer for the extension, unwritable target)
// raises ImageError with a message naming the file.
#pragma once

#include <QImage>
#include <QString>

#include <stdexcept>

namespace qm::crop {

class ImageError : public std::runtime_error {
public:
    explicit ImageError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// Interpolation types: 0 the default, 1 low quality, 2 high quality; others mean the default.
inline constexpr int kInterpolationDefault = 0;
inline constexpr int kInterpolationLow = 1;
inline constexpr int kInterpolationHigh = 2;

// The picture format named by the path's extension (".png", ".jpg", ".jpeg", ".gif", ".bmp",
// ".tif", ".ico", any case), as Qt's format name; empty when the extension names none.
QByteArray ImageFormatForPath(const QString& path);

void SaveImageByExtension(const QImage& picture, const QString& path);
// Writes the source picture stretched to exactly width x height (the aspect is not kept).
void ResizeImageFile(const QString& sourcePath, const QString& targetPath, int width, int interpolation,
                     int height);
// The same with every alpha value scaled by opacity / 100 (0..100; 100 leaves it unchanged).
void ResizeImageFileWithOpacity(const QString& sourcePath, const QString& targetPath, int width,
                                int interpolation, int opacity, int height);

}  // namespace qm::crop
