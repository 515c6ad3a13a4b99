// Gradient fills painted by the renderer itself: cairo rasterises the shape's
// coverage, and every covered pixel takes its colour from a table of the
// gradient's colours. Cairo's own gradients composite a row at a time, which
// costs far more than the shape's pixels.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/render/render_parts.h"

namespace qm::flash::render {

// Premultiplied colours (cairo's ARGB32) at evenly spaced positions along the
// gradient, after the colour transform: four for every ratio step, so that
// colours change as smoothly as between the stops themselves.
inline constexpr int kGradientTableSize = 1021;
using GradientTable = std::array<uint32_t, kGradientTableSize>;
GradientTable BuildGradientTable(const GradientFill& gradient, const ColorTransform& cx);

// Memory the fills reuse from shape to shape and frame to frame.
class GradientScratch {
public:
    // Valid until the next call.
    const GradientTable& Table(const GradientFill& gradient, const ColorTransform& cx);
    std::vector<uint8_t> coverage;

private:
    struct Entry {
        std::string key;
        GradientTable table;
    };
    std::vector<Entry> tables_;
    size_t next_ = 0;
};

// Device-space box that everything `draw` paints lies in.
struct DeviceBox {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The box of a path drawn through `m` (control points included, so it
// holds the curves).
DeviceBox PathBox(const std::vector<PathCommand>& commands, const Matrix& m);

// Paints `gradient` (its matrix maps into the space `toShape` maps to
// device space) over the target of `cr`, through the coverage that `draw`
// makes: it fills or strokes on a context addressed as `cr` is, with the
// same anti-aliasing and fill rule. False, with nothing painted, when `cr`
// is not a plain ARGB32 picture drawn with the over operator and at most a
// rectangular clip; the caller then uses cairo's pattern.
bool PaintGradient(cairo_t* cr, const GradientFill& gradient, const ColorTransform& cx, const Matrix& toShape,
                   const DeviceBox& box, const std::function<void(cairo_t*)>& draw, GradientScratch& scratch);

}  // namespace qm::flash::render
