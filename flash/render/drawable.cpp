// Shapes and morphs to drawables, and drawing them.
#include "flash/render/drawable.h"

#include <algorithm>
#include <cmath>

#include "flash/render/gradient_fill.h"

namespace qm::flash::render {

Matrix ToMatrix(const swf::Matrix& m) { return {m.a, m.b, m.c, m.d, m.tx, m.ty}; }

ColorTransform ToColorTransform(const swf::ColorTransform& cx) {
    ColorTransform r;
    r.mr = cx.r_mult / 256.0;
    r.mg = cx.g_mult / 256.0;
    r.mb = cx.b_mult / 256.0;
    r.ma = cx.a_mult / 256.0;
    r.ar = cx.r_add;
    r.ag = cx.g_add;
    r.ab = cx.b_add;
    r.aa = cx.a_add;
    return r;
}

Rgba ToRgba(const swf::Rgba& c) { return {c.r, c.g, c.b, c.a}; }

bool Invertible(const Matrix& m) {
    double det = m.a * m.d - m.b * m.c;
    return std::isfinite(det) && std::fabs(det) > 1e-12 && std::isfinite(m.tx) && std::isfinite(m.ty);
}

namespace {

// Walks a record stream, calling `edge` for each edge with the current styles.
struct EdgeWalker {
    Point pen;
    uint32_t fill0 = 0, fill1 = 0, line = 0, layer = 0;

    // Returns true when the record started a new layer.
    bool Style(const swf::StyleChangeRecord& s) {
        bool newLayer = false;
        if (s.new_fill_styles || s.new_line_styles) {
            ++layer;
            fill0 = fill1 = line = 0;
            newLayer = true;
        }
        if (s.move_to) pen = {double(s.move_to->first), double(s.move_to->second)};
        if (s.fill_style0) fill0 = *s.fill_style0;
        if (s.fill_style1) fill1 = *s.fill_style1;
        if (s.line_style) line = *s.line_style;
        return newLayer;
    }
};

}  // namespace

std::vector<StyledEdge> EdgesOf(const std::vector<swf::ShapeRecord>& records) {
    std::vector<StyledEdge> edges;
    edges.reserve(records.size());
    EdgeWalker w;
    for (const auto& rec : records) {
        if (auto* s = std::get_if<swf::StyleChangeRecord>(&rec)) {
            w.Style(*s);
        } else if (auto* e = std::get_if<swf::StraightEdgeRecord>(&rec)) {
            Point to{w.pen.x + e->dx, w.pen.y + e->dy};
            edges.push_back({w.pen, w.pen, to, false, w.fill0, w.fill1, w.line, w.layer});
            w.pen = to;
        } else if (auto* c = std::get_if<swf::CurvedEdgeRecord>(&rec)) {
            Point ctl{w.pen.x + c->control_dx, w.pen.y + c->control_dy};
            Point to{ctl.x + c->anchor_dx, ctl.y + c->anchor_dy};
            edges.push_back({w.pen, ctl, to, true, w.fill0, w.fill1, w.line, w.layer});
            w.pen = to;
        }
    }
    return edges;
}

namespace {

Drawable Assemble(const std::vector<StyledEdge>& edges, std::vector<std::vector<swf::FillStyle>> fills,
                  std::vector<std::vector<swf::LineStyle>> lines) {
    Drawable d;
    for (PathLayer& pl : BuildPaths(edges)) {
        DrawableLayer layer;
        if (pl.layer < fills.size()) layer.fills = fills[pl.layer];
        if (pl.layer < lines.size()) layer.lines = lines[pl.layer];
        layer.paths = std::move(pl);
        d.layers.push_back(std::move(layer));
    }
    return d;
}

template <class Records>
void CollectStyleArrays(const Records& records, std::vector<std::vector<swf::FillStyle>>& fills,
                        std::vector<std::vector<swf::LineStyle>>& lines) {
    for (const auto& rec : records) {
        if (auto* s = std::get_if<swf::StyleChangeRecord>(&rec)) {
            if (s->new_fill_styles || s->new_line_styles) {
                fills.push_back(s->new_fill_styles ? *s->new_fill_styles : std::vector<swf::FillStyle>{});
                lines.push_back(s->new_line_styles ? *s->new_line_styles : std::vector<swf::LineStyle>{});
            }
        }
    }
}

}  // namespace

Drawable MakeDrawable(const swf::Shape& shape) {
    std::vector<std::vector<swf::FillStyle>> fills{shape.fill_styles};
    std::vector<std::vector<swf::LineStyle>> lines{shape.line_styles};
    CollectStyleArrays(shape.records, fills, lines);
    Drawable d = Assemble(EdgesOf(shape.records), std::move(fills), std::move(lines));
    d.non_zero = shape.uses_fill_winding_rule;
    return d;
}

Drawable MakeGlyphDrawable(const swf::Shape& glyph) {
    std::vector<StyledEdge> edges = EdgesOf(glyph.records);
    // Every edge of a glyph bounds the one fill, whichever side it names.
    for (auto& e : edges) {
        e.layer = 0;
        e.line = 0;
        if (e.fill0 && e.fill1) e.fill0 = e.fill1 = 0;
        else if (e.fill0 || e.fill1) { e.fill1 = 1; e.fill0 = 0; }
    }
    swf::FillStyle fill;
    Drawable d = Assemble(edges, {{fill}}, {{}});
    return d;
}

// ---- morphs ----

namespace {

double Lerp(double a, double b, double t) { return a + (b - a) * t; }

uint8_t LerpByte(uint8_t a, uint8_t b, double t) {
    return static_cast<uint8_t>(std::clamp(std::lround(Lerp(a, b, t)), 0L, 255L));
}

swf::Rgba LerpColor(const swf::Rgba& a, const swf::Rgba& b, double t) {
    return {LerpByte(a.r, b.r, t), LerpByte(a.g, b.g, t), LerpByte(a.b, b.b, t), LerpByte(a.a, b.a, t)};
}

swf::Matrix LerpMatrix(const swf::Matrix& a, const swf::Matrix& b, double t) {
    return {Lerp(a.a, b.a, t), Lerp(a.b, b.b, t), Lerp(a.c, b.c, t),
            Lerp(a.d, b.d, t), Lerp(a.tx, b.tx, t), Lerp(a.ty, b.ty, t)};
}

swf::FillStyle LerpFill(const swf::FillStyle& a, const swf::FillStyle& b, double t) {
    swf::FillStyle r = a;
    r.color = LerpColor(a.color, b.color, t);
    r.matrix = LerpMatrix(a.matrix, b.matrix, t);
    r.gradient.focal_point = Lerp(a.gradient.focal_point, b.gradient.focal_point, t);
    size_t n = std::min(a.gradient.records.size(), b.gradient.records.size());
    r.gradient.records.resize(n);
    for (size_t i = 0; i < n; ++i) {
        r.gradient.records[i].ratio = LerpByte(a.gradient.records[i].ratio, b.gradient.records[i].ratio, t);
        r.gradient.records[i].color = LerpColor(a.gradient.records[i].color, b.gradient.records[i].color, t);
    }
    return r;
}

swf::LineStyle LerpLine(const swf::LineStyle& a, const swf::LineStyle& b, double t) {
    swf::LineStyle r = a;
    r.width = static_cast<uint16_t>(std::clamp(std::lround(Lerp(a.width, b.width, t)), 0L, 65535L));
    r.color = LerpColor(a.color, b.color, t);
    if (a.fill && b.fill) r.fill = LerpFill(*a.fill, *b.fill, t);
    return r;
}

struct EdgeGeom {
    Point from, control, to;
};

EdgeGeom Geom(const Point& pen, const swf::ShapeRecord& rec) {
    if (auto* e = std::get_if<swf::StraightEdgeRecord>(&rec)) {
        Point to{pen.x + e->dx, pen.y + e->dy};
        // A straight edge paired with a curve becomes a curve with its control halfway.
        return {pen, {pen.x + e->dx / 2.0, pen.y + e->dy / 2.0}, to};
    }
    auto* c = std::get_if<swf::CurvedEdgeRecord>(&rec);
    Point ctl{pen.x + c->control_dx, pen.y + c->control_dy};
    return {pen, ctl, {ctl.x + c->anchor_dx, ctl.y + c->anchor_dy}};
}

bool IsEdge(const swf::ShapeRecord& r) { return !std::holds_alternative<swf::StyleChangeRecord>(r); }

}  // namespace

Drawable MakeMorphDrawable(const swf::MorphShape& morph, uint16_t ratio) {
    double t = ratio / 65535.0;
    std::vector<StyledEdge> edges;
    EdgeWalker w;
    Point endPen;
    size_t j = 0;
    const auto& ends = morph.end_records;
    for (const auto& rec : morph.start_records) {
        if (auto* s = std::get_if<swf::StyleChangeRecord>(&rec)) {
            w.Style(*s);
            bool endMoved = false;
            if (j < ends.size()) {
                if (auto* es = std::get_if<swf::StyleChangeRecord>(&ends[j])) {
                    if (es->move_to) {
                        endPen = {double(es->move_to->first), double(es->move_to->second)};
                        endMoved = true;
                    }
                    ++j;
                }
            }
            if (!endMoved && s->move_to) endPen = w.pen;
            continue;
        }
        // Style changes of the end list that have no partner still move its pen.
        while (j < ends.size() && !IsEdge(ends[j])) {
            auto& es = std::get<swf::StyleChangeRecord>(ends[j]);
            if (es.move_to) endPen = {double(es.move_to->first), double(es.move_to->second)};
            ++j;
        }
        EdgeGeom a = Geom(w.pen, rec);
        EdgeGeom b{endPen, endPen, endPen};
        bool curved = std::holds_alternative<swf::CurvedEdgeRecord>(rec);
        if (j < ends.size()) {
            b = Geom(endPen, ends[j]);
            curved = curved || std::holds_alternative<swf::CurvedEdgeRecord>(ends[j]);
            ++j;
        }
        StyledEdge e;
        e.from = {Lerp(a.from.x, b.from.x, t), Lerp(a.from.y, b.from.y, t)};
        e.control = {Lerp(a.control.x, b.control.x, t), Lerp(a.control.y, b.control.y, t)};
        e.to = {Lerp(a.to.x, b.to.x, t), Lerp(a.to.y, b.to.y, t)};
        e.curved = curved;
        e.fill0 = w.fill0;
        e.fill1 = w.fill1;
        e.line = w.line;
        e.layer = w.layer;
        edges.push_back(e);
        w.pen = a.to;
        endPen = b.to;
    }
    std::vector<swf::FillStyle> fills;
    for (const auto& f : morph.fill_styles) fills.push_back(LerpFill(f.start, f.end, t));
    std::vector<swf::LineStyle> lines;
    for (const auto& l : morph.line_styles) lines.push_back(LerpLine(l.start, l.end, t));
    return Assemble(edges, {fills}, {lines});
}

// ---- drawing ----

GradientFill GradientOf(const swf::FillStyle& fill) {
    GradientFill gradient;
    gradient.kind = fill.type == swf::FillType::LinearGradient   ? GradientKind::Linear
                    : fill.type == swf::FillType::RadialGradient ? GradientKind::Radial
                                                                 : GradientKind::Focal;
    gradient.spread = fill.gradient.spread == swf::SpreadMode::Reflect  ? SpreadMode::Reflect
                      : fill.gradient.spread == swf::SpreadMode::Repeat ? SpreadMode::Repeat
                                                                        : SpreadMode::Pad;
    gradient.interpolation = fill.gradient.interpolation == swf::InterpolationMode::LinearRgb
                                 ? Interpolation::LinearRgb
                                 : Interpolation::Rgb;
    for (const auto& r : fill.gradient.records) gradient.stops.push_back({r.ratio, ToRgba(r.color)});
    gradient.focalPoint = fill.gradient.focal_point;
    gradient.matrix = ToMatrix(fill.matrix);
    return gradient;
}

bool SetFillSource(cairo_t* cr, const swf::FillStyle& fill, const ColorTransform& cx, const DrawEnv& env) {
    if (env.mask_mode) {
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        return true;
    }
    if (fill.IsGradient()) {
        PatternPtr p = MakeGradientPattern(GradientOf(fill), cx);
        if (!p) return false;
        cairo_set_source(cr, p.get());
        return true;
    }
    if (fill.IsBitmap()) {
        cairo_surface_t* surface = env.bitmap ? env.bitmap(fill.bitmap_id) : nullptr;
        Matrix inverse;
        if (!surface || !ToMatrix(fill.matrix).invert(inverse)) return false;
        SurfacePtr transformed;
        if (!cx.isIdentity()) {
            if (env.tinted_bitmap) {
                surface = env.tinted_bitmap(fill.bitmap_id, cx);
            } else {
                transformed = TransformedSurface(surface, cx);
                surface = transformed.get();
            }
            if (!surface) return false;
        }
        PatternPtr p(cairo_pattern_create_for_surface(surface));
        cairo_matrix_t m = inverse.toCairo();
        cairo_pattern_set_matrix(p.get(), &m);
        cairo_pattern_set_extend(p.get(), fill.BitmapRepeats() ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
        // Before version 8 content, bitmap fills are never smoothed.
        bool smooth = env.smoothing && fill.BitmapSmoothed() && env.movie_version >= 8;
        cairo_pattern_set_filter(p.get(), smooth ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_NEAREST);
        cairo_set_source(cr, p.get());
        return true;
    }
    Rgba c = cx.apply(ToRgba(fill.color));
    if (c.a == 0) return false;
    cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
    return true;
}

namespace {

// A cap on the outer side of an end at `p` facing `dir`, in device space.
void AppendCap(cairo_t* cr, Point p, Point dir, CapStyle cap, double width) {
    double len = std::hypot(dir.x, dir.y);
    if (cap == CapStyle::None || len <= 0 || !std::isfinite(len)) return;
    double dx = dir.x / len, dy = dir.y / len, h = width / 2;
    cairo_new_sub_path(cr);
    if (cap == CapStyle::Round) {
        double angle = std::atan2(dy, dx);
        cairo_arc(cr, p.x, p.y, h, angle - M_PI / 2, angle + M_PI / 2);
    } else {
        double nx = -dy * h, ny = dx * h;
        cairo_move_to(cr, p.x + nx, p.y + ny);
        cairo_line_to(cr, p.x + nx + dx * h, p.y + ny + dy * h);
        cairo_line_to(cr, p.x - nx + dx * h, p.y - ny + dy * h);
        cairo_line_to(cr, p.x - nx, p.y - ny);
    }
    cairo_close_path(cr);
}

}  // namespace

void AppendEndCaps(cairo_t* cr, const std::vector<PathCommand>& commands, const Matrix& m, CapStyle startCap,
                   CapStyle endCap, double width) {
    auto dev = [&](double x, double y) { return Point{m.a * x + m.c * y + m.tx, m.b * x + m.d * y + m.ty}; };
    size_t i = 0;
    while (i < commands.size()) {
        if (commands[i].op != PathCommand::Move) {
            ++i;
            continue;
        }
        Point start = dev(commands[i].x, commands[i].y), prev = start, last = start, lastFrom = start;
        Point firstDir{0, 0};
        bool haveDir = false, closed = false;
        size_t j = i + 1;
        for (; j < commands.size() && commands[j].op != PathCommand::Move; ++j) {
            const PathCommand& c = commands[j];
            if (c.op == PathCommand::Close) {
                closed = true;
                continue;
            }
            Point to = dev(c.x, c.y);
            Point via = c.op == PathCommand::Quad ? dev(c.cx, c.cy) : prev;
            if (!haveDir) {
                Point towards = via == prev ? to : via;
                if (!(towards == prev)) {
                    firstDir = {towards.x - prev.x, towards.y - prev.y};
                    haveDir = true;
                }
            }
            lastFrom = (c.op == PathCommand::Quad && !(via == to)) ? via : prev;
            last = to;
            prev = to;
        }
        if (!closed && haveDir) {
            AppendCap(cr, start, {-firstDir.x, -firstDir.y}, startCap, width);
            AppendCap(cr, last, {last.x - lastFrom.x, last.y - lastFrom.y}, endCap, width);
        }
        i = j;
    }
}

void DrawDrawable(cairo_t* cr, const Drawable& drawable, const Matrix& toDevice, const ColorTransform& cx,
                  const DrawEnv& env) {
    if (!Invertible(toDevice)) return;
    cairo_matrix_t device = toDevice.toCairo();
    cairo_set_fill_rule(cr, drawable.non_zero ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
    for (const DrawableLayer& layer : drawable.layers) {
        for (const StyledPath& fill : layer.paths.fills) {
            if (fill.style == 0 || fill.style > layer.fills.size()) continue;
            const swf::FillStyle& style = layer.fills[fill.style - 1];
            cairo_set_matrix(cr, &device);
            if (style.IsGradient() && !env.mask_mode && env.gradients) {
                auto coverage = [&](cairo_t* m) {
                    cairo_set_matrix(m, &device);
                    AppendPath(m, fill.commands);
                    cairo_fill(m);
                };
                if (PaintGradient(cr, GradientOf(style), cx, toDevice, PathBox(fill.commands, toDevice), coverage,
                                  *env.gradients))
                    continue;
            }
            // A fading bitmap needs no recoloured copy: paint it through the path with alpha.
            bool fade = style.IsBitmap() && !env.mask_mode && !cx.isIdentity() && cx.onlyAlphaMultiply();
            if (!SetFillSource(cr, style, fade ? ColorTransform{} : cx, env)) continue;
            cairo_new_path(cr);
            AppendPath(cr, fill.commands);
            if (fade) {
                cairo_save(cr);
                cairo_clip(cr);
                cairo_paint_with_alpha(cr, std::clamp(cx.ma, 0.0, 1.0));
                cairo_restore(cr);
            } else {
                cairo_fill(cr);
            }
        }
        for (const StyledPath& stroke : layer.paths.strokes) {
            if (stroke.style == 0 || stroke.style > layer.lines.size()) continue;
            const swf::LineStyle& ls = layer.lines[stroke.style - 1];
            cairo_set_matrix(cr, &device);
            bool ok;
            if (ls.fill) {
                ok = SetFillSource(cr, *ls.fill, cx, env);
            } else {
                swf::FillStyle solid;
                solid.color = ls.color;
                ok = SetFillSource(cr, solid, cx, env);
            }
            if (!ok) continue;
            cairo_new_path(cr);
            std::vector<PathCommand> open;
            if (ls.no_close) {
                open.reserve(stroke.commands.size());
                for (const auto& c : stroke.commands)
                    if (c.op != PathCommand::Close) open.push_back(c);
            }
            const std::vector<PathCommand>& commands = ls.no_close ? open : stroke.commands;
            StrokeStyle style;
            style.width = ls.width;
            style.startCap = static_cast<CapStyle>(ls.start_cap);
            style.endCap = static_cast<CapStyle>(ls.end_cap);
            style.join = static_cast<JoinStyle>(ls.join);
            style.miterLimit = ls.miter_limit;
            style.noHScale = ls.no_hscale;
            style.noVScale = ls.no_vscale;
            style.pixelHinting = ls.pixel_hinting;
            style.noClose = ls.no_close;
            double width = StrokeWidthPixels(style, toDevice, env.stage_scale);
            if (style.pixelHinting) {
                // Anchors on whole pixels: the nearest centre for odd widths (a point
                // on a pixel edge goes to the centre before it), edges for even ones.
                cairo_identity_matrix(cr);
                bool odd = std::lround(width) % 2;
                std::vector<PathCommand> snapped = commands;
                auto anchor = [odd](double v) { return odd ? std::ceil(v - 1.0) + 0.5 : std::floor(v); };
                auto snap = [&](float& x, float& y) {
                    double dx = toDevice.a * x + toDevice.c * y + toDevice.tx;
                    double dy = toDevice.b * x + toDevice.d * y + toDevice.ty;
                    x = float(anchor(dx));
                    y = float(anchor(dy));
                };
                for (auto& c : snapped) {
                    if (c.op == PathCommand::Close) continue;
                    snap(c.x, c.y);
                    if (c.op == PathCommand::Quad) snap(c.cx, c.cy);
                }
                AppendPath(cr, snapped);
            } else {
                AppendPath(cr, commands);
                cairo_identity_matrix(cr);
            }
            ApplyStrokeStyle(cr, style, width);
            if (style.startCap == style.endCap) {
                cairo_stroke(cr);
                continue;
            }
            // Cairo has one cap for a whole path: different ends get butt
            // ends and their own caps drawn beside them.
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
            cairo_stroke(cr);
            AppendEndCaps(cr, commands, toDevice, style.startCap, style.endCap, width);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
            cairo_fill(cr);
            cairo_set_fill_rule(cr, drawable.non_zero ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
        }
    }
    cairo_new_path(cr);
    cairo_identity_matrix(cr);
}

}  // namespace qm::flash::render
