// The geometry of the area editors and of the preview: hit testing, dragging under the area,
// ratio and limit rules, and the mapping between preview and movie pixels.
#include <algorithm>

#include "crop/crop.h"

namespace qm::crop {

using app::RoundHalfEven;
using app::TRect;

namespace {

TRect scaled(const TRect& r, double sx, double sy) {
    return TRect{RoundHalfEven(r.left * sx), RoundHalfEven(r.top * sy), RoundHalfEven(r.right * sx),
                 RoundHalfEven(r.bottom * sy)};
}

TRect bounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    return TRect{left, top, left + width, top + height};
}

}  // namespace

TRect ToMovieRect(const TRect& preview, int32_t movieW, int32_t movieH, int32_t previewW, int32_t previewH) {
    if (previewW <= 0 || previewH <= 0) return preview;
    return scaled(preview, double(movieW) / double(previewW), double(movieH) / double(previewH));
}

TRect ToPreviewRect(const TRect& movie, int32_t movieW, int32_t movieH, int32_t previewW, int32_t previewH) {
    if (movieW <= 0 || movieH <= 0) return movie;
    return scaled(movie, double(previewW) / double(movieW), double(previewH) / double(movieH));
}

TAreaHandle AreaHitTest(int x, int y, int width, int height) {
    const int t = kAreaHitTolerance;
    const bool nearMiddleY = y >= height / 2 - t && y <= height / 2 + t;
    const bool nearMiddleX = x >= width / 2 - t && x <= width / 2 + t;
    if (x <= t) {
        if (y <= t) return ahTopLeft;
        if (y >= height - t) return ahBottomLeft;
        return nearMiddleY ? ahLeft : ahMove;
    }
    if (x >= width - t) {
        if (y <= t) return ahTopRight;
        if (y >= height - t) return ahBottomRight;
        return nearMiddleY ? ahRight : ahMove;
    }
    if (y <= t) return nearMiddleX ? ahTop : ahMove;
    if (y >= height - t) return nearMiddleX ? ahBottom : ahMove;
    return ahMove;
}

TRect DragArea(TAreaHandle handle, const TRect& start, const TRect& current, int dx, int dy, const TAreaRules& rules) {
    if (!rules.ShowHandles && handle != ahMove) return current;
    const TRect& a = rules.Area;
    const TRect& limit = rules.Limit;
    const bool limited = rules.LimitEnabled;
    const int32_t s = rules.FrameSize;
    const int32_t m = 6 * s;
    const double r = rules.Ratio;
    const int32_t L = current.left, T = current.top, R = current.right, B = current.bottom;
    const int32_t W = current.width(), H = current.height();

    auto newLeft = [&] {
        int32_t left = std::max(start.left + dx, a.left);
        if (limited) left = std::min(left, limit.left);
        return std::min(left, R - m);
    };
    auto newWidth = [&] {
        int32_t width = std::min(start.width() + dx, a.right - start.left);
        if (limited) width = std::max(width, limit.right - L);
        return std::max(width, m);
    };
    auto newTop = [&] {
        int32_t top = std::max(start.top + dy, a.top);
        top = std::min(top, a.bottom - 2 * s - 2);
        if (limited) top = std::min(top, limit.top);
        return std::min(top, B - m);
    };
    auto newHeight = [&] {
        int32_t height = std::min(start.height() + dy, a.bottom - start.top);
        if (limited) height = std::max(height, limit.bottom - T);
        return std::max(height, m);
    };
    auto byWidth = [&](int32_t width) { return RoundHalfEven(width * r); };
    auto byHeight = [&](int32_t height) { return RoundHalfEven(height / r); };

    if (handle == ahMove) {
        int32_t left = start.left + dx;
        int32_t top = start.top + dy;
        if (limited) {
            if (left > limit.left)
                left = limit.left;
            else if (left + W < limit.right)
                left = limit.right - W;
            if (top > limit.top)
                top = limit.top;
            else if (top + H < limit.bottom)
                top = limit.bottom - H;
        }
        if (left < a.left)
            left = a.left;
        else if (left + W > a.right)
            left = a.right - W;
        if (top < a.top)
            top = a.top;
        else if (top + H > a.bottom)
            top = a.bottom - H;
        return bounds(left, top, W, H);
    }

    if (r <= 0) {
        int32_t left = L, top = T, width = W, height = H;
        if (handle == ahLeft || handle == ahTopLeft || handle == ahBottomLeft) {
            left = newLeft();
            width = R - left;
        }
        if (handle == ahRight || handle == ahTopRight || handle == ahBottomRight) width = newWidth();
        if (handle == ahTop || handle == ahTopLeft || handle == ahTopRight) {
            top = newTop();
            height = B - top;
        }
        if (handle == ahBottom || handle == ahBottomLeft || handle == ahBottomRight) height = newHeight();
        return bounds(left, top, width, height);
    }

    // With a ratio the corner opposite the dragged one stays where it was.
    int32_t left = L, top = T, width = W, height = H;
    switch (handle) {
        case ahLeft:
        case ahTopLeft:
            left = newLeft();
            width = R - left;
            height = byWidth(width);
            top = B - height;
            if (top < a.top) {
                top = a.top;
                height = B - a.top;
                width = byHeight(height);
                left = R - width;
            }
            break;
        case ahRight:
        case ahBottomRight:
            width = newWidth();
            height = byWidth(width);
            if (T + height > a.bottom) {
                height = a.bottom - T;
                width = byHeight(height);
            }
            break;
        case ahTop:
            top = newTop();
            height = B - top;
            width = byHeight(height);
            left = R - width;
            if (left < a.left) {
                left = a.left;
                width = R - a.left;
                height = byWidth(width);
                top = B - height;
            }
            break;
        case ahBottom:
            height = newHeight();
            width = byHeight(height);
            if (L + width > a.right) {
                width = a.right - L;
                height = byWidth(width);
            }
            break;
        case ahTopRight:
            width = newWidth();
            height = byWidth(width);
            top = B - height;
            if (top < a.top) {
                top = a.top;
                height = B - a.top;
                width = byHeight(height);
            }
            break;
        case ahBottomLeft:
            left = newLeft();
            width = R - left;
            height = byWidth(width);
            if (T + height > a.bottom) {
                height = a.bottom - T;
                width = byHeight(height);
                left = R - width;
            }
            break;
        case ahMove:
            break;
    }
    return bounds(left, top, width, height);
}

TRect LockAreaRatio(const TRect& r, double ratio, const TRect& area) {
    if (ratio <= 0) return r;
    const int32_t height = RoundHalfEven(r.width() * ratio);
    if (r.top + height <= area.bottom) return bounds(r.left, r.top, r.width(), height);
    const int32_t width = RoundHalfEven(r.height() / ratio);
    if (r.left + width <= area.right) return bounds(r.left, r.top, width, r.height());
    return r;
}

}  // namespace qm::crop
