#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "testing/swfwriter/bit_writer.h"

namespace qm::swfwriter {

using detail::BitWriter;
using detail::signedBits;
using detail::unsignedBits;

Matrix Matrix::translate(int32_t x, int32_t y) {
    Matrix m;
    m.translateX = x;
    m.translateY = y;
    return m;
}

Matrix Matrix::scale(double sx, double sy, int32_t x, int32_t y) {
    Matrix m = translate(x, y);
    m.scaleX = sx;
    m.scaleY = sy;
    return m;
}

Matrix Matrix::rotate(double radians, double sx, double sy, int32_t x, int32_t y) {
    Matrix m = translate(x, y);
    const double c = std::cos(radians), s = std::sin(radians);
    m.scaleX = sx * c;
    m.rotateSkew0 = sx * s;
    m.rotateSkew1 = -sy * s;
    m.scaleY = sy * c;
    return m;
}

Matrix Matrix::gradientBox(int32_t x, int32_t y, int32_t width, int32_t height, double radians) {
    return rotate(radians, width / 32768.0, height / 32768.0, x + width / 2, y + height / 2);
}

uint16_t fps(double framesPerSecond) { return uint16_t(std::lround(framesPerSecond * 256.0)); }

FillStyle FillStyle::solid(Color c) {
    FillStyle f;
    f.color = c;
    return f;
}

FillStyle FillStyle::linear(const Matrix& m, std::vector<GradientStop> stops) {
    FillStyle f;
    f.type = 0x10;
    f.matrix = m;
    f.gradient.stops = std::move(stops);
    return f;
}

FillStyle FillStyle::radial(const Matrix& m, std::vector<GradientStop> stops) {
    FillStyle f = linear(m, std::move(stops));
    f.type = 0x12;
    return f;
}

FillStyle FillStyle::focal(const Matrix& m, std::vector<GradientStop> stops, double focalPoint) {
    FillStyle f = linear(m, std::move(stops));
    f.type = 0x13;
    f.gradient.focalPoint = focalPoint;
    return f;
}

FillStyle FillStyle::bitmap(uint16_t id, const Matrix& m, bool repeat, bool smooth) {
    FillStyle f;
    f.type = uint8_t(0x40 | (repeat ? 0 : 1) | (smooth ? 0 : 2));
    f.bitmapId = id;
    f.matrix = m;
    return f;
}

uint32_t Shape::addFill(const FillStyle& f) {
    fills.push_back(f);
    return uint32_t(fills.size());
}

uint32_t Shape::addLine(const LineStyle& l) {
    lines.push_back(l);
    return uint32_t(lines.size());
}

Shape::StyleChange& Shape::styleRecord() {
    if (records.empty() || !std::holds_alternative<StyleChange>(records.back()))
        records.emplace_back(StyleChange{});
    return std::get<StyleChange>(records.back());
}

Shape& Shape::fill0(uint32_t index) {
    styleRecord().fill0 = index;
    return *this;
}

Shape& Shape::fill1(uint32_t index) {
    styleRecord().fill1 = index;
    return *this;
}

Shape& Shape::line(uint32_t index) {
    styleRecord().line = index;
    return *this;
}

Shape& Shape::newStyles(std::vector<FillStyle> f, std::vector<LineStyle> l) {
    // A second set of arrays in one record cannot be written: start a fresh record.
    if (!records.empty() && std::holds_alternative<StyleChange>(records.back()) &&
        std::get<StyleChange>(records.back()).newStyles)
        records.emplace_back(StyleChange{});
    StyleChange& sc = styleRecord();
    sc.newStyles = true;
    sc.fills = std::move(f);
    sc.lines = std::move(l);
    return *this;
}

Shape& Shape::moveTo(int32_t x, int32_t y) {
    styleRecord().moveTo = std::make_pair(x, y);
    penX_ = x;
    penY_ = y;
    return *this;
}

Shape& Shape::lineTo(int32_t x, int32_t y) {
    Edge e;
    e.anchorDX = x - penX_;
    e.anchorDY = y - penY_;
    records.emplace_back(e);
    penX_ = x;
    penY_ = y;
    return *this;
}

Shape& Shape::curveTo(int32_t controlX, int32_t controlY, int32_t x, int32_t y) {
    Edge e;
    e.straight = false;
    e.controlDX = controlX - penX_;
    e.controlDY = controlY - penY_;
    e.anchorDX = x - controlX;
    e.anchorDY = y - controlY;
    records.emplace_back(e);
    penX_ = x;
    penY_ = y;
    return *this;
}

Shape& Shape::rect(int32_t x, int32_t y, int32_t width, int32_t height) {
    moveTo(x, y);
    lineTo(x + width, y);
    lineTo(x + width, y + height);
    lineTo(x, y + height);
    return lineTo(x, y);
}

Shape& Shape::ellipse(int32_t cx, int32_t cy, int32_t rx, int32_t ry) {
    // Eight quadratic arcs; the control points sit on the tangents' crossings.
    const double step = std::numbers::pi / 4, k = 1.0 / std::cos(step / 2);
    moveTo(cx + rx, cy);
    for (int i = 1; i <= 8; ++i) {
        const double mid = (i - 0.5) * step, end = i * step;
        const int32_t ex = i == 8 ? cx + rx : cx + int32_t(std::lround(rx * std::cos(end)));
        const int32_t ey = i == 8 ? cy : cy + int32_t(std::lround(ry * std::sin(end)));
        curveTo(cx + int32_t(std::lround(rx * k * std::cos(mid))),
                cy + int32_t(std::lround(ry * k * std::sin(mid))), ex, ey);
    }
    return *this;
}

Rect Shape::computedBounds(bool withStrokes) const {
    int64_t x0 = std::numeric_limits<int64_t>::max(), y0 = x0;
    int64_t x1 = std::numeric_limits<int64_t>::min(), y1 = x1;
    auto take = [&](int64_t x, int64_t y) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    };
    int maxWidth = 0;
    for (const auto& l : lines) maxWidth = std::max<int>(maxWidth, l.width);
    int64_t px = 0, py = 0;
    for (const auto& r : records) {
        if (const auto* sc = std::get_if<StyleChange>(&r)) {
            if (sc->moveTo) {
                px = sc->moveTo->first;
                py = sc->moveTo->second;
            }
            for (const auto& l : sc->lines) maxWidth = std::max<int>(maxWidth, l.width);
            continue;
        }
        const auto& e = std::get<Edge>(r);
        take(px, py);
        if (!e.straight) {
            px += e.controlDX;
            py += e.controlDY;
            take(px, py);
        }
        px += e.anchorDX;
        py += e.anchorDY;
        take(px, py);
    }
    if (x0 > x1) return {};
    const int64_t pad = withStrokes ? (maxWidth + 1) / 2 : 0;
    return {int32_t(x0 - pad), int32_t(x1 + pad), int32_t(y0 - pad), int32_t(y1 + pad)};
}

MorphFillStyle MorphFillStyle::solid(Color start, Color end) {
    MorphFillStyle f;
    f.startColor = start;
    f.endColor = end;
    return f;
}

MorphFillStyle MorphFillStyle::linear(const Matrix& start, const Matrix& end,
                                      std::vector<MorphStop> stops) {
    MorphFillStyle f;
    f.type = 0x10;
    f.startMatrix = start;
    f.endMatrix = end;
    f.stops = std::move(stops);
    return f;
}

MorphFillStyle MorphFillStyle::radial(const Matrix& start, const Matrix& end,
                                      std::vector<MorphStop> stops) {
    MorphFillStyle f = linear(start, end, std::move(stops));
    f.type = 0x12;
    return f;
}

MorphFillStyle MorphFillStyle::bitmap(uint16_t id, const Matrix& start, const Matrix& end,
                                      bool repeat, bool smooth) {
    MorphFillStyle f;
    f.type = uint8_t(0x40 | (repeat ? 0 : 1) | (smooth ? 0 : 2));
    f.bitmapId = id;
    f.startMatrix = start;
    f.endMatrix = end;
    return f;
}

namespace detail {

namespace {

bool isGradient(uint8_t type) { return type == 0x10 || type == 0x12 || type == 0x13; }
bool isBitmap(uint8_t type) { return type >= 0x40 && type <= 0x43; }

void styleCount(BitWriter& w, size_t n) {
    if (n < 0xFF) {
        w.u8(uint8_t(n));
    } else {
        if (n > 0xFFFF) throw std::runtime_error("too many styles");
        w.u8(0xFF);
        w.u16(uint16_t(n));
    }
}

void color(BitWriter& w, const Color& c, int shapeVersion) {
    if (shapeVersion >= 3)
        w.rgba(c);
    else
        w.rgb(c);
}

uint8_t lineFlagsA(uint8_t startCap, uint8_t join, bool hasFill, bool noH, bool noV, bool hint) {
    return uint8_t((startCap & 3) << 6 | (join & 3) << 4 | hasFill << 3 | noH << 2 | noV << 1 |
                   uint8_t(hint));
}

uint8_t lineFlagsB(bool noClose, uint8_t endCap) { return uint8_t(noClose << 2 | (endCap & 3)); }

void writeEdge(BitWriter& w, const Shape::Edge& e) {
    w.ub(1, 1);
    if (e.straight) {
        int n = std::max({signedBits(e.anchorDX), signedBits(e.anchorDY), 2});
        if (n > 17) {
            // Too long for one record: split into pieces that fit.
            const int64_t pieces = (std::max(std::abs(int64_t(e.anchorDX)),
                                             std::abs(int64_t(e.anchorDY))) + 65534) / 65535;
            int32_t doneX = 0, doneY = 0;
            for (int64_t i = 1; i <= pieces; ++i) {
                Shape::Edge part;
                part.anchorDX = int32_t(int64_t(e.anchorDX) * i / pieces) - doneX;
                part.anchorDY = int32_t(int64_t(e.anchorDY) * i / pieces) - doneY;
                doneX += part.anchorDX;
                doneY += part.anchorDY;
                if (i > 1) w.ub(1, 1);
                w.ub(1, 1);
                const int m = std::max({signedBits(part.anchorDX), signedBits(part.anchorDY), 2});
                w.ub(uint32_t(m - 2), 4);
                w.ub(1, 1);
                w.sb(part.anchorDX, m);
                w.sb(part.anchorDY, m);
            }
            return;
        }
        w.ub(1, 1);
        w.ub(uint32_t(n - 2), 4);
        if (e.anchorDX != 0 && e.anchorDY != 0) {
            w.ub(1, 1);
            w.sb(e.anchorDX, n);
            w.sb(e.anchorDY, n);
        } else {
            w.ub(0, 1);
            const bool vertical = e.anchorDX == 0;
            w.ub(vertical, 1);
            w.sb(vertical ? e.anchorDY : e.anchorDX, n);
        }
        return;
    }
    w.ub(0, 1);
    const int n = std::max({signedBits(e.controlDX), signedBits(e.controlDY),
                            signedBits(e.anchorDX), signedBits(e.anchorDY), 2});
    if (n > 17) throw std::runtime_error("curve too long for one edge record");
    w.ub(uint32_t(n - 2), 4);
    w.sb(e.controlDX, n);
    w.sb(e.controlDY, n);
    w.sb(e.anchorDX, n);
    w.sb(e.anchorDY, n);
}

void writeIndex(BitWriter& w, uint32_t index, int bits) {
    if (unsignedBits(index) > bits) throw std::runtime_error("style index beyond the style arrays");
    w.ub(index, bits);
}

}  // namespace

void writeFillStyle(BitWriter& w, const FillStyle& f, int shapeVersion) {
    w.u8(f.type);
    if (f.type == 0x00) {
        color(w, f.color, shapeVersion);
    } else if (isGradient(f.type)) {
        w.matrix(f.matrix);
        const auto& g = f.gradient;
        if (g.stops.size() > 15) throw std::runtime_error("too many gradient stops");
        w.u8(uint8_t((g.spread & 3) << 6 | (g.interpolation & 3) << 4 | g.stops.size()));
        for (const auto& s : g.stops) {
            w.u8(s.ratio);
            color(w, s.color, shapeVersion);
        }
        if (f.type == 0x13) w.fixed8(g.focalPoint);
    } else if (isBitmap(f.type)) {
        w.u16(f.bitmapId);
        w.matrix(f.matrix);
    }
}

void writeFillStyles(BitWriter& w, const std::vector<FillStyle>& fills, int shapeVersion) {
    styleCount(w, fills.size());
    for (const auto& f : fills) writeFillStyle(w, f, shapeVersion);
}

void writeLineStyles(BitWriter& w, const std::vector<LineStyle>& lines, int shapeVersion) {
    styleCount(w, lines.size());
    for (const auto& l : lines) {
        w.u16(l.width);
        if (shapeVersion < 4) {
            color(w, l.color, shapeVersion);
            continue;
        }
        w.u8(lineFlagsA(l.startCap, l.join, l.fill.has_value(), l.noHScale, l.noVScale,
                        l.pixelHinting));
        w.u8(lineFlagsB(l.noClose, l.endCap));
        if (l.join == 2) w.fixed8(l.miterLimit);
        if (l.fill)
            writeFillStyle(w, *l.fill, shapeVersion);
        else
            w.rgba(l.color);
    }
}

void writeShapeRecords(BitWriter& w, const std::vector<Shape::Record>& records, int fillBits,
                       int lineBits, int shapeVersion) {
    for (const auto& r : records) {
        if (const auto* e = std::get_if<Shape::Edge>(&r)) {
            writeEdge(w, *e);
            continue;
        }
        Shape::StyleChange sc = std::get<Shape::StyleChange>(r);
        std::optional<Shape::StyleChange> after;
        if (sc.newStyles) {
            // Indices in the same record use the old widths; when they do not fit, select the
            // new styles in a record of their own.
            auto fits = [](std::optional<uint32_t> i, int bits) {
                return !i || unsignedBits(*i) <= bits;
            };
            if (!fits(sc.fill0, fillBits) || !fits(sc.fill1, fillBits) || !fits(sc.line, lineBits)) {
                after = Shape::StyleChange{};
                after->fill0 = std::exchange(sc.fill0, std::nullopt);
                after->fill1 = std::exchange(sc.fill1, std::nullopt);
                after->line = std::exchange(sc.line, std::nullopt);
            }
        }
        for (const Shape::StyleChange* cur : {&sc, after ? &*after : nullptr}) {
            if (!cur) continue;
            if (!cur->newStyles && !cur->moveTo && !cur->fill0 && !cur->fill1 && !cur->line)
                continue;  // an empty record would read as the end
            w.ub(0, 1);
            w.ub(cur->newStyles, 1);
            w.ub(cur->line.has_value(), 1);
            w.ub(cur->fill1.has_value(), 1);
            w.ub(cur->fill0.has_value(), 1);
            w.ub(cur->moveTo.has_value(), 1);
            if (cur->moveTo) {
                const auto [x, y] = *cur->moveTo;
                const int n = std::max(signedBits(x), signedBits(y));
                w.ub(uint32_t(n), 5);
                w.sb(x, n);
                w.sb(y, n);
            }
            if (cur->fill0) writeIndex(w, *cur->fill0, fillBits);
            if (cur->fill1) writeIndex(w, *cur->fill1, fillBits);
            if (cur->line) writeIndex(w, *cur->line, lineBits);
            if (cur->newStyles) {
                w.align();
                writeFillStyles(w, cur->fills, shapeVersion);
                writeLineStyles(w, cur->lines, shapeVersion);
                fillBits = unsignedBits(cur->fills.size());
                lineBits = unsignedBits(cur->lines.size());
                if (fillBits > 15 || lineBits > 15) throw std::runtime_error("too many styles");
                w.ub(uint32_t(fillBits), 4);
                w.ub(uint32_t(lineBits), 4);
            }
        }
    }
    w.ub(0, 6);
    w.align();
}

void writeMorphFillStyle(BitWriter& w, const MorphFillStyle& f) {
    w.u8(f.type);
    if (f.type == 0x00) {
        w.rgba(f.startColor);
        w.rgba(f.endColor);
    } else if (isGradient(f.type)) {
        w.matrix(f.startMatrix);
        w.matrix(f.endMatrix);
        if (f.stops.size() > 15) throw std::runtime_error("too many gradient stops");
        w.u8(uint8_t(f.stops.size()));
        for (const auto& s : f.stops) {
            w.u8(s.startRatio);
            w.rgba(s.startColor);
            w.u8(s.endRatio);
            w.rgba(s.endColor);
        }
        if (f.type == 0x13) {
            w.fixed8(f.startFocalPoint);
            w.fixed8(f.endFocalPoint);
        }
    } else if (isBitmap(f.type)) {
        w.u16(f.bitmapId);
        w.matrix(f.startMatrix);
        w.matrix(f.endMatrix);
    }
}

}  // namespace detail

namespace {

uint8_t strokeHints(bool anyNonScaling, bool anyScaling) {
    return uint8_t((anyNonScaling ? 0x02 : 0) | (anyScaling ? 0x01 : 0));
}

Rect grow(Rect r, int by) { return {r.xmin - by, r.xmax + by, r.ymin - by, r.ymax + by}; }

}  // namespace

uint16_t Movie::defineShape(const Shape& s, int v) {
    static const uint16_t codes[] = {0, 2, 22, 32, 83};
    if (v < 1 || v > 4) throw std::invalid_argument("shape version 1..4");
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.rect(s.bounds.value_or(s.computedBounds(true)));
    if (v == 4) {
        w.rect(s.edgeBounds.value_or(s.computedBounds(false)));
        bool nonScaling = false, scaling = false;
        auto see = [&](const LineStyle& l) {
            (l.noHScale || l.noVScale ? nonScaling : scaling) = true;
        };
        for (const auto& l : s.lines) see(l);
        for (const auto& r : s.records)
            if (const auto* sc = std::get_if<Shape::StyleChange>(&r))
                for (const auto& l : sc->lines) see(l);
        w.u8(uint8_t((s.nonZeroWinding ? 0x04 : 0) | strokeHints(nonScaling, scaling)));
    }
    detail::writeFillStyles(w, s.fills, v);
    detail::writeLineStyles(w, s.lines, v);
    const int fillBits = detail::unsignedBits(s.fills.size());
    const int lineBits = detail::unsignedBits(s.lines.size());
    w.ub(uint32_t(fillBits), 4);
    w.ub(uint32_t(lineBits), 4);
    detail::writeShapeRecords(w, s.records, fillBits, lineBits, v);
    detail::appendTag(tags_, codes[v], w.data());
    return id;
}

uint16_t Movie::defineMorphShape(const MorphShape& m, int v) {
    if (v != 1 && v != 2) throw std::invalid_argument("morph version 1 or 2");
    const uint16_t id = takeId();
    int startWidth = 0, endWidth = 0;
    bool nonScaling = false, scaling = false;
    for (const auto& l : m.lines) {
        startWidth = std::max<int>(startWidth, l.startWidth);
        endWidth = std::max<int>(endWidth, l.endWidth);
        (l.noHScale || l.noVScale ? nonScaling : scaling) = true;
    }
    const Rect startEdges = m.startEdgeBounds.value_or(m.start.computedBounds(false));
    const Rect endEdges = m.endEdgeBounds.value_or(m.end.computedBounds(false));

    BitWriter w;
    w.u16(id);
    w.rect(m.startBounds.value_or(grow(startEdges, (startWidth + 1) / 2)));
    w.rect(m.endBounds.value_or(grow(endEdges, (endWidth + 1) / 2)));
    if (v == 2) {
        w.rect(startEdges);
        w.rect(endEdges);
        w.u8(strokeHints(nonScaling, scaling));
    }

    BitWriter rest;
    detail::styleCount(rest, m.fills.size());
    for (const auto& f : m.fills) detail::writeMorphFillStyle(rest, f);
    detail::styleCount(rest, m.lines.size());
    for (const auto& l : m.lines) {
        rest.u16(l.startWidth);
        rest.u16(l.endWidth);
        if (v == 1) {
            rest.rgba(l.startColor);
            rest.rgba(l.endColor);
            continue;
        }
        rest.u8(detail::lineFlagsA(l.startCap, l.join, l.fill.has_value(), l.noHScale, l.noVScale,
                                   l.pixelHinting));
        rest.u8(detail::lineFlagsB(l.noClose, l.endCap));
        if (l.join == 2) rest.fixed8(l.miterLimit);
        if (l.fill) {
            detail::writeMorphFillStyle(rest, *l.fill);
        } else {
            rest.rgba(l.startColor);
            rest.rgba(l.endColor);
        }
    }
    const int fillBits = detail::unsignedBits(m.fills.size());
    const int lineBits = detail::unsignedBits(m.lines.size());
    rest.ub(uint32_t(fillBits), 4);
    rest.ub(uint32_t(lineBits), 4);
    detail::writeShapeRecords(rest, m.start.records, fillBits, lineBits, 4);
    const uint32_t offset = uint32_t(rest.data().size());
    rest.u8(0);
    detail::writeShapeRecords(rest, m.end.records, 0, 0, 4);

    w.u32(offset);
    w.bytes(rest.data());
    detail::appendTag(tags_, v == 1 ? 46 : 84, w.data());
    return id;
}

}  // namespace qm::swfwriter
