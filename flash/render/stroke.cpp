// Stroke widths and cairo line parameters.
#include <algorithm>
#include <cmath>

#include "flash/render/render_parts.h"

namespace qm::flash::render {

double StrokeWidthPixels(const StrokeStyle& style, const Matrix& toDevice, double stageScale) {
    double scale;
    if (style.noHScale && style.noVScale) {
        scale = stageScale;
    } else if (style.noHScale) {
        // Only the vertical scaling counts.
        scale = toDevice.scaleY();
    } else if (style.noVScale) {
        scale = toDevice.scaleX();
    } else {
        scale = std::sqrt(std::fabs(toDevice.a * toDevice.d - toDevice.b * toDevice.c));
    }
    double w = style.width * scale;
    // Hairlines and thin strokes still show as one pixel.
    return std::max(1.0, std::isfinite(w) ? w : 1.0);
}

void ApplyStrokeStyle(cairo_t* cr, const StrokeStyle& style, double widthPixels) {
    cairo_set_line_width(cr, widthPixels);
    switch (style.startCap) {
        case CapStyle::Round: cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND); break;
        case CapStyle::None: cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT); break;
        case CapStyle::Square: cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE); break;
    }
    switch (style.join) {
        case JoinStyle::Round: cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND); break;
        case JoinStyle::Bevel: cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL); break;
        case JoinStyle::Miter:
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
            cairo_set_miter_limit(cr, std::max(1.0, style.miterLimit));
            break;
    }
}

}  // namespace qm::flash::render
