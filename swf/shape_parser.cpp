#include "swf/limits.h"
#include "swf/parsers.h"

namespace qm::swf::detail {

namespace {

Rgba ReadShapeColor(Reader& r, int shape_version) { return shape_version >= 3 ? r.RgbaColor() : r.Rgb(); }

Gradient ReadGradient(Reader& r, int shape_version, bool focal) {
    Gradient g;
    uint8_t b = r.U8();
    uint8_t spread = b >> 6;
    g.spread = spread == 3 ? SpreadMode::Pad : static_cast<SpreadMode>(spread);
    g.interpolation = ((b >> 4) & 3) == 1 ? InterpolationMode::LinearRgb : InterpolationMode::Normal;
    unsigned count = b & 15;
    g.records.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        GradientRecord rec;
        rec.ratio = r.U8();
        rec.color = ReadShapeColor(r, shape_version);
        g.records.push_back(rec);
    }
    if (focal) g.focal_point = r.Fixed8();
    return g;
}

// Style counts: one byte, or 0xFF and a UI16. Accepted in every shape
// version, as the reference player does.
size_t ReadStyleCount(Reader& r) {
    size_t count = r.U8();
    if (count == 0xFF) count = r.U16();
    return count;
}

LineStyle ReadLineStyle(Reader& r, int shape_version) {
    LineStyle ls;
    ls.width = r.U16();
    if (shape_version < 4) {
        ls.color = ReadShapeColor(r, shape_version);
        return ls;
    }
    uint8_t a = r.U8();
    uint8_t b = r.U8();
    auto cap = [](unsigned v) { return v > 2 ? CapStyle::Round : static_cast<CapStyle>(v); };
    ls.start_cap = cap(a >> 6);
    unsigned join = (a >> 4) & 3;
    ls.join = join > 2 ? JoinStyle::Round : static_cast<JoinStyle>(join);
    bool has_fill = a & 0x08;
    ls.no_hscale = a & 0x04;
    ls.no_vscale = a & 0x02;
    ls.pixel_hinting = a & 0x01;
    ls.no_close = b & 0x04;
    ls.end_cap = cap(b & 3);
    if (ls.join == JoinStyle::Miter) ls.miter_limit = r.U16() / 256.0;
    if (has_fill) {
        ls.fill = ReadFillStyle(r, 4);
    } else {
        ls.color = r.RgbaColor();
    }
    return ls;
}

// Morph styles read as two ordinary styles.
MorphFillStyle ReadMorphFillStyle(Reader& r) {
    MorphFillStyle m;
    uint8_t type = r.U8();
    m.start.type = m.end.type = static_cast<FillType>(type);
    switch (type) {
    case 0x00:
        m.start.color = r.RgbaColor();
        m.end.color = r.RgbaColor();
        break;
    case 0x10:
    case 0x12:
    case 0x13: {
        m.start.matrix = r.ReadMatrix();
        m.end.matrix = r.ReadMatrix();
        uint8_t b = r.U8();
        uint8_t spread = b >> 6;
        m.start.gradient.spread = m.end.gradient.spread = spread == 3 ? SpreadMode::Pad : static_cast<SpreadMode>(spread);
        m.start.gradient.interpolation = m.end.gradient.interpolation =
            ((b >> 4) & 3) == 1 ? InterpolationMode::LinearRgb : InterpolationMode::Normal;
        unsigned count = b & 15;
        for (unsigned i = 0; i < count; ++i) {
            GradientRecord s, e;
            s.ratio = r.U8();
            s.color = r.RgbaColor();
            e.ratio = r.U8();
            e.color = r.RgbaColor();
            m.start.gradient.records.push_back(s);
            m.end.gradient.records.push_back(e);
        }
        if (type == 0x13) {
            m.start.gradient.focal_point = r.Fixed8();
            m.end.gradient.focal_point = r.Fixed8();
        }
        break;
    }
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
        m.start.bitmap_id = m.end.bitmap_id = r.U16();
        m.start.matrix = r.ReadMatrix();
        m.end.matrix = r.ReadMatrix();
        break;
    default:
        r.Fail("unknown fill style type " + std::to_string(type));
    }
    return m;
}

MorphLineStyle ReadMorphLineStyle(Reader& r, int version) {
    MorphLineStyle m;
    m.start.width = r.U16();
    m.end.width = r.U16();
    if (version == 1) {
        m.start.color = r.RgbaColor();
        m.end.color = r.RgbaColor();
        return m;
    }
    uint8_t a = r.U8();
    uint8_t b = r.U8();
    auto cap = [](unsigned v) { return v > 2 ? CapStyle::Round : static_cast<CapStyle>(v); };
    unsigned join = (a >> 4) & 3;
    for (LineStyle* ls : {&m.start, &m.end}) {
        ls->start_cap = cap(a >> 6);
        ls->join = join > 2 ? JoinStyle::Round : static_cast<JoinStyle>(join);
        ls->no_hscale = a & 0x04;
        ls->no_vscale = a & 0x02;
        ls->pixel_hinting = a & 0x01;
        ls->no_close = b & 0x04;
        ls->end_cap = cap(b & 3);
    }
    if (join == 2) m.start.miter_limit = m.end.miter_limit = r.U16() / 256.0;
    if (a & 0x08) {
        MorphFillStyle fill = ReadMorphFillStyle(r);
        m.start.fill = fill.start;
        m.end.fill = fill.end;
    } else {
        m.start.color = r.RgbaColor();
        m.end.color = r.RgbaColor();
    }
    return m;
}

}  // namespace

FillStyle ReadFillStyle(Reader& r, int shape_version) {
    FillStyle f;
    uint8_t type = r.U8();
    f.type = static_cast<FillType>(type);
    switch (type) {
    case 0x00:
        f.color = ReadShapeColor(r, shape_version);
        break;
    case 0x10:
    case 0x12:
    case 0x13:
        f.matrix = r.ReadMatrix();
        f.gradient = ReadGradient(r, shape_version, type == 0x13);
        break;
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
        f.bitmap_id = r.U16();
        f.matrix = r.ReadMatrix();
        break;
    default:
        r.Fail("unknown fill style type " + std::to_string(type));
    }
    return f;
}

std::vector<FillStyle> ReadFillStyleArray(Reader& r, int shape_version) {
    size_t count = ReadStyleCount(r);
    std::vector<FillStyle> fills;
    for (size_t i = 0; i < count; ++i) fills.push_back(ReadFillStyle(r, shape_version));
    return fills;
}

std::vector<LineStyle> ReadLineStyleArray(Reader& r, int shape_version) {
    size_t count = ReadStyleCount(r);
    std::vector<LineStyle> lines;
    for (size_t i = 0; i < count; ++i) lines.push_back(ReadLineStyle(r, shape_version));
    return lines;
}

std::vector<ShapeRecord> ReadShapeRecords(Reader& r, int shape_version, unsigned fill_bits, unsigned line_bits) {
    std::vector<ShapeRecord> records;
    for (;;) {
        if (records.size() >= limits::kMaxShapeRecords)
            r.Fail("the shape has more than " + std::to_string(limits::kMaxShapeRecords) + " records and is not drawn");
        if (r.UB(1) == 0) {
            unsigned flags = r.UB(5);
            if (flags == 0) break;
            StyleChangeRecord sc;
            if (flags & 0x01) {
                unsigned n = r.UB(5);
                int32_t x = r.SB(n);
                int32_t y = r.SB(n);
                sc.move_to = std::make_pair(x, y);
            }
            if (flags & 0x02) sc.fill_style0 = r.UB(fill_bits);
            if (flags & 0x04) sc.fill_style1 = r.UB(fill_bits);
            if (flags & 0x08) sc.line_style = r.UB(line_bits);
            if (flags & 0x10) {
                sc.new_fill_styles = ReadFillStyleArray(r, shape_version);
                sc.new_line_styles = ReadLineStyleArray(r, shape_version);
                uint8_t bits = r.U8();
                fill_bits = bits >> 4;
                line_bits = bits & 15;
            }
            records.emplace_back(std::move(sc));
        } else if (r.UB(1)) {
            unsigned n = r.UB(4) + 2;
            StraightEdgeRecord e;
            if (r.Flag()) {
                e.dx = r.SB(n);
                e.dy = r.SB(n);
            } else if (r.Flag()) {
                e.dy = r.SB(n);
            } else {
                e.dx = r.SB(n);
            }
            records.emplace_back(e);
        } else {
            unsigned n = r.UB(4) + 2;
            CurvedEdgeRecord e;
            e.control_dx = r.SB(n);
            e.control_dy = r.SB(n);
            e.anchor_dx = r.SB(n);
            e.anchor_dy = r.SB(n);
            records.emplace_back(e);
        }
    }
    r.Align();
    return records;
}

std::vector<ShapeRecord> ReadShape(Reader& r, int shape_version) {
    uint8_t bits = r.U8();
    return ReadShapeRecords(r, shape_version, bits >> 4, bits & 15);
}

Shape ReadDefineShape(Reader& r, int version) {
    Shape s;
    s.version = static_cast<uint8_t>(version);
    s.id = r.U16();
    s.bounds = r.ReadRect();
    s.edge_bounds = s.bounds;
    if (version == 4) {
        s.edge_bounds = r.ReadRect();
        uint8_t flags = r.U8();
        s.uses_fill_winding_rule = flags & 0x04;
        s.uses_non_scaling_strokes = flags & 0x02;
        s.uses_scaling_strokes = flags & 0x01;
    }
    s.fill_styles = ReadFillStyleArray(r, version);
    s.line_styles = ReadLineStyleArray(r, version);
    s.records = ReadShape(r, version);
    return s;
}

MorphShape ReadDefineMorphShape(Reader& r, int version) {
    MorphShape m;
    m.version = static_cast<uint8_t>(version);
    m.id = r.U16();
    m.start_bounds = r.ReadRect();
    m.end_bounds = r.ReadRect();
    m.start_edge_bounds = m.start_bounds;
    m.end_edge_bounds = m.end_bounds;
    if (version == 2) {
        m.start_edge_bounds = r.ReadRect();
        m.end_edge_bounds = r.ReadRect();
        uint8_t flags = r.U8();
        m.uses_non_scaling_strokes = flags & 0x02;
        m.uses_scaling_strokes = flags & 0x01;
    }
    // The offset to the end edges is not trusted: the edge lists are read
    // one after the other.
    r.U32();
    size_t fill_count = ReadStyleCount(r);
    for (size_t i = 0; i < fill_count; ++i) m.fill_styles.push_back(ReadMorphFillStyle(r));
    size_t line_count = ReadStyleCount(r);
    for (size_t i = 0; i < line_count; ++i) m.line_styles.push_back(ReadMorphLineStyle(r, version));
    m.start_records = ReadShape(r, version == 2 ? 4 : 3);
    if (!r.AtEnd()) m.end_records = ReadShape(r, version == 2 ? 4 : 3);
    return m;
}

}  // namespace qm::swf::detail
