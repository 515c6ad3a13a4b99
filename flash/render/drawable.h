// Shapes, morphs and glyphs prepared for drawing, and how they are drawn.
#pragma once

#include <functional>
#include <vector>

#include "flash/render/render_parts.h"
#include "swf/swf.h"

namespace qm::flash::render {

struct DrawableLayer {
    PathLayer paths;
    std::vector<swf::FillStyle> fills;
    std::vector<swf::LineStyle> lines;
};

struct Drawable {
    std::vector<DrawableLayer> layers;
    bool non_zero = false;  // fill rule
};

Matrix ToMatrix(const swf::Matrix& m);
ColorTransform ToColorTransform(const swf::ColorTransform& cx);
Rgba ToRgba(const swf::Rgba& c);

// Edges of a record stream. `implicitFill` gives glyphs their one fill style.
std::vector<StyledEdge> EdgesOf(const std::vector<swf::ShapeRecord>& records);
Drawable MakeDrawable(const swf::Shape& shape);
// A glyph: its edges filled with style 1 (the text colour is set at drawing time).
Drawable MakeGlyphDrawable(const swf::Shape& glyph);
// A morph at progress ratio (0..65535).
Drawable MakeMorphDrawable(const swf::MorphShape& morph, uint16_t ratio);

class GradientScratch;

struct DrawEnv {
    uint8_t movie_version = 10;
    double stage_scale = 1;  // twips to pixels of the stage itself
    bool mask_mode = false;  // coverage only: every fill opaque
    bool smoothing = true;   // bitmap smoothing allowed at all
    // Bitmap character by id; null when missing.
    std::function<cairo_surface_t*(uint16_t)> bitmap;
    // The bitmap recoloured by a colour transform, kept while it is reused;
    // null to recolour a fresh copy at every use.
    std::function<cairo_surface_t*(uint16_t, const ColorTransform&)> tinted_bitmap;
    // Where gradient fills keep their tables and coverage; null leaves them to cairo.
    GradientScratch* gradients = nullptr;
};

// Draws every layer: fills, then strokes, bottom layer first. `toDevice`
// maps the drawable's twips to the target's pixels.
void DrawDrawable(cairo_t* cr, const Drawable& drawable, const Matrix& toDevice, const ColorTransform& cx,
                  const DrawEnv& env);

// The gradient of a gradient fill style.
GradientFill GradientOf(const swf::FillStyle& fill);

// Sets a fill style as the source, in the space of the current matrix.
// False when the style draws nothing.
bool SetFillSource(cairo_t* cr, const swf::FillStyle& fill, const ColorTransform& cx, const DrawEnv& env);

bool Invertible(const Matrix& m);

// Adds to the current path, in device space, the caps of every open
// subpath of `commands` (drawn through `m`): `startCap` at its first point,
// `endCap` at its last, each on the outer side only.
void AppendEndCaps(cairo_t* cr, const std::vector<PathCommand>& commands, const Matrix& m, CapStyle startCap,
                   CapStyle endCap, double width);

}  // namespace qm::flash::render
