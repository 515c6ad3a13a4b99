// Building blocks of the renderer: bitmap decoding, gradients, colour
// transforms, stroke parameters and the fill/stroke path builder. They know
// nothing of the display list and are tested on their own.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <cairo.h>

#include "swf/limits.h"

namespace qm::flash::render {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

// Affine transform in the movie's notation: x' = a*x + c*y + tx, y' = b*x + d*y + ty.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    Matrix operator*(const Matrix& inner) const;  // this after inner
    bool invert(Matrix& out) const;
    double scaleX() const;  // length of the transformed unit x vector
    double scaleY() const;
    cairo_matrix_t toCairo() const { return {a, b, c, d, tx, ty}; }
};

// Multiply then add, per channel; multipliers as factors (1.0 = unchanged),
// add terms in 0..255 units.
struct ColorTransform {
    double mr = 1, mg = 1, mb = 1, ma = 1;
    double ar = 0, ag = 0, ab = 0, aa = 0;

    Rgba apply(Rgba c) const;
    ColorTransform operator*(const ColorTransform& inner) const;  // this after inner
    bool isIdentity() const;
    bool onlyAlphaMultiply() const;  // rgb unchanged, no add terms
};

// Pixels in cairo's ARGB32 layout (premultiplied, native endian), stride = width.
struct DecodedBitmap {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    bool empty() const { return width <= 0 || height <= 0; }
};

struct BitmapDecodeResult {
    DecodedBitmap bitmap;
    std::string error;  // empty on success
    bool ok() const { return error.empty(); }
};

// Largest bitmap accepted, in pixels and per side; beyond it a tag is refused
// rather than inflated into memory.
inline constexpr int kMaxBitmapSide = limits::kMaxBitmapSide;
inline constexpr int64_t kMaxBitmapPixels = limits::kMaxBitmapPixels;

// A JPEG stream as stored in a movie: tables may come separately, and the
// erroneous EOI+SOI pairs older encoders wrote are removed before decoding.
BitmapDecodeResult DecodeJpeg(std::span<const uint8_t> data, std::span<const uint8_t> tables = {});
// JPEG, PNG or GIF (its first picture) by signature.
BitmapDecodeResult DecodeEmbeddedImage(std::span<const uint8_t> data, std::span<const uint8_t> tables = {});
// zlib alpha plane of a JPEG with alpha, applied to an opaque picture.
bool ApplyAlphaPlane(DecodedBitmap& bitmap, std::span<const uint8_t> zlibAlpha);
// Lossless bitmaps: format 3, 4 or 5; withAlpha for the second lossless tag.
BitmapDecodeResult DecodeLossless(int format, int width, int height, int colorTableSize,
                                  std::span<const uint8_t> zlibData, bool withAlpha);

// Decodes a whole bitmap tag body that follows the character id.
// tagCode: 6, 21, 35, 90 (JPEG kinds) or 20, 36 (lossless).
BitmapDecodeResult DecodeBitmapTag(int tagCode, std::span<const uint8_t> body,
                                   std::span<const uint8_t> jpegTables);

// Removes every FF D9 FF D8 pair.
std::vector<uint8_t> StripErroneousJpegMarkers(std::span<const uint8_t> data);

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct PatternDeleter {
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

// A cairo surface over a copy of the pixels.
SurfacePtr MakeSurface(const DecodedBitmap& bitmap);
// A copy of the surface with the colour transform applied to every pixel.
SurfacePtr TransformedSurface(cairo_surface_t* source, const ColorTransform& cx);

// ---- gradients ----

enum class GradientKind { Linear, Radial, Focal };
enum class SpreadMode { Pad = 0, Reflect = 1, Repeat = 2 };
enum class Interpolation { Rgb = 0, LinearRgb = 1 };

struct GradientStop {
    uint8_t ratio = 0;
    Rgba color;
};

struct GradientFill {
    GradientKind kind = GradientKind::Linear;
    SpreadMode spread = SpreadMode::Pad;
    Interpolation interpolation = Interpolation::Rgb;
    std::vector<GradientStop> stops;
    double focalPoint = 0;  // -1..1, focal kind only
    Matrix matrix;          // gradient square -> shape space
};

// Colour at each of the 256 ratio positions (straight alpha).
std::array<Rgba, 256> BuildGradientRamp(const std::vector<GradientStop>& stops,
                                        Interpolation interpolation);
// A pattern in shape space; null when the gradient has no stops.
PatternPtr MakeGradientPattern(const GradientFill& gradient, const ColorTransform& cx);

// ---- strokes ----

enum class CapStyle { Round = 0, None = 1, Square = 2 };
enum class JoinStyle { Round = 0, Bevel = 1, Miter = 2 };

struct StrokeStyle {
    double width = 20;  // twips
    CapStyle startCap = CapStyle::Round;
    CapStyle endCap = CapStyle::Round;
    JoinStyle join = JoinStyle::Round;
    double miterLimit = 3;  // factor of the width
    bool noHScale = false;
    bool noVScale = false;
    bool pixelHinting = false;
    bool noClose = false;
};

// Device-space width in pixels of a stroke drawn through `toDevice`; `stageScale`
// is the stage's own twips-to-pixels factor, used by strokes that do not scale.
double StrokeWidthPixels(const StrokeStyle& style, const Matrix& toDevice, double stageScale);
// Sets width, caps, joins and miter limit on a context whose matrix is identity.
void ApplyStrokeStyle(cairo_t* cr, const StrokeStyle& style, double widthPixels);

// ---- paths ----

struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

// One edge of a shape's record stream with the styles it carries.
struct StyledEdge {
    Point from, control, to;
    bool curved = false;
    uint32_t fill0 = 0;  // left of the direction of travel
    uint32_t fill1 = 0;  // right
    uint32_t line = 0;
    uint32_t layer = 0;  // bumped by every new style arrays record
};

struct PathCommand {
    enum Op : uint8_t { Move, Line, Quad, Close } op;
    float x = 0, y = 0;    // end point
    float cx = 0, cy = 0;  // control point of Quad
};

struct StyledPath {
    uint32_t style = 0;  // 1-based index into the layer's style array
    std::vector<PathCommand> commands;
};

struct PathLayer {
    uint32_t layer = 0;               // the StyledEdge::layer it was built from
    std::vector<StyledPath> fills;    // one per fill style, closed contours
    std::vector<StyledPath> strokes;  // one per line style, in drawing order
};

// Turns the edges into closed contours per fill style (edges with the style on
// their left reversed, then linked end to start) and open or closed polylines
// per line style.
std::vector<PathLayer> BuildPaths(const std::vector<StyledEdge>& edges);

// Replays commands into the current cairo path in user space.
void AppendPath(cairo_t* cr, const std::vector<PathCommand>& commands);

}  // namespace qm::flash::render
