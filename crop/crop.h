// Crop and watermark: the picture operations the watermark needs (scaling a picture file into a
// new file of a given size, optionally more transparent, and saving by extension), and the
// geometry of the area editors and of the preview that shows a movie at another size. Qt Gui
// only: the windows and the conversion call these.
//
// Errors: every picture failure (unreadable source, no writer for the extension, unwritable
// target) raises ImageError with a message naming the file.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <stdexcept>

#include "app/core/app_core.h"

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

// Reads a picture file as it is stored (no orientation applied).
QImage LoadImageFile(const QString& path);
// The opacity rule: every alpha value scaled by opacity / 100 (0..100), colours kept; at 100
// the picture is unchanged. The result is straight (not premultiplied) ARGB.
QImage WithOpacity(const QImage& picture, int opacity);

void SaveImageByExtension(const QImage& picture, const QString& path);
// Writes the source picture stretched to exactly width x height (the aspect is not kept).
void ResizeImageFile(const QString& sourcePath, const QString& targetPath, int width, int interpolation,
                     int height);
// The same with every alpha value scaled by opacity / 100 (0..100; 100 leaves it unchanged).
void ResizeImageFileWithOpacity(const QString& sourcePath, const QString& targetPath, int width,
                                int interpolation, int opacity, int height);

// ---------------------------------------------------------------------------
// Preview geometry. A preview shows the movie's frame stretched to the preview's size, each axis
// by its own factor; rectangles go between the two by that factor, to the nearest integer,
// halves to the even neighbour.
app::TRect ToMovieRect(const app::TRect& preview, int32_t movieW, int32_t movieH, int32_t previewW,
                       int32_t previewH);
app::TRect ToPreviewRect(const app::TRect& movie, int32_t movieW, int32_t movieH, int32_t previewW,
                         int32_t previewH);

// ---------------------------------------------------------------------------
// Area editor geometry: a rectangle moved and resized by handles inside an allowed area.

// What a point of the editor grabs.
enum TAreaHandle {
    ahLeft = 0,
    ahRight = 1,
    ahTop = 2,
    ahBottom = 3,
    ahMove = 4,
    ahTopLeft = 5,
    ahTopRight = 6,
    ahBottomLeft = 7,
    ahBottomRight = 8,
};

// Handles are hit within this many pixels, whatever their drawn size.
inline constexpr int kAreaHitTolerance = 5;

// The handle under (x, y) of a width x height editor, in the editor's own pixels.
TAreaHandle AreaHitTest(int x, int y, int width, int height);

struct TAreaRules {
    app::TRect Area;          // allowed area
    double Ratio = 0;         // height / width kept while resizing; 0: free
    int32_t FrameSize = 4;    // handle half-size s; the editor is at least 6s wide and high
    bool ShowHandles = true;  // false: only moving
    bool LimitEnabled = false;
    app::TRect Limit;         // what the editor must contain while LimitEnabled
};

// The bounds after dragging `handle` by (dx, dy) since the press: `start` holds the bounds at
// the press, `current` the bounds now.
app::TRect DragArea(TAreaHandle handle, const app::TRect& start, const app::TRect& current, int dx, int dy,
                    const TAreaRules& rules);

// The bounds brought to the height / width `ratio`: the new height when the bottom stays
// within the area, else the new width when the right edge stays within it, else unchanged.
app::TRect LockAreaRatio(const app::TRect& bounds, double ratio, const app::TRect& area);

}  // namespace qm::crop
