#include "swf/parsers.h"

namespace qm::swf::detail {

namespace {

// Glyph shapes sit at offsets from the start of the offset table; each one
// ends where the next begins (or at `end`).
std::vector<Shape> ReadGlyphs(Reader& r, size_t table_start, const std::vector<uint32_t>& offsets, size_t end,
                              int shape_version) {
    std::vector<Shape> glyphs;
    glyphs.reserve(offsets.size());
    for (size_t i = 0; i < offsets.size(); ++i) {
        size_t begin = table_start + offsets[i];
        size_t stop = i + 1 < offsets.size() ? table_start + offsets[i + 1] : end;
        if (stop < begin || stop > r.size()) r.Fail("a glyph offset points outside the font");
        Reader g = r.SubAt(begin, stop - begin);
        Shape shape;
        shape.version = static_cast<uint8_t>(shape_version);
        if (!g.AtEnd()) shape.records = ReadShape(g, shape_version);
        glyphs.push_back(std::move(shape));
    }
    return glyphs;
}

}  // namespace

Font ReadDefineFont(Reader& r) {
    Font f;
    f.version = 1;
    f.id = r.U16();
    size_t table_start = r.pos();
    if (r.AtEnd()) return f;
    uint16_t first = r.U16();
    size_t count = first / 2;
    if (count * 2 > r.remaining() + 2) r.Fail("the glyph table runs past the end of the tag");
    std::vector<uint32_t> offsets;
    if (count > 0) offsets.push_back(first);
    for (size_t i = 1; i < count; ++i) offsets.push_back(r.U16());
    f.glyphs = ReadGlyphs(r, table_start, offsets, r.size(), 1);
    return f;
}

Font ReadDefineFont23(Reader& r, int version) {
    Font f;
    f.version = static_cast<uint8_t>(version);
    f.id = r.U16();
    uint8_t flags = r.U8();
    bool has_layout = flags & 0x80;
    f.shift_jis = flags & 0x40;
    f.small_text = flags & 0x20;
    f.ansi = flags & 0x10;
    bool wide_offsets = flags & 0x08;
    f.wide_codes = flags & 0x04;
    f.italic = flags & 0x02;
    f.bold = flags & 0x01;
    f.language = r.U8();
    f.name = r.FixedString(r.U8());
    size_t count = r.U16();
    size_t table_start = r.pos();
    size_t offset_size = wide_offsets ? 4 : 2;
    if (count * offset_size > r.remaining()) r.Fail("the glyph table runs past the end of the tag");
    std::vector<uint32_t> offsets;
    offsets.reserve(count);
    for (size_t i = 0; i < count; ++i) offsets.push_back(wide_offsets ? r.U32() : r.U16());
    // With no glyphs the code table offset may be missing; the length decides.
    size_t code_table_offset = 0;
    bool has_code_offset = count > 0 || r.remaining() >= offset_size + (has_layout ? 8 : 0);
    if (has_code_offset) code_table_offset = wide_offsets ? r.U32() : r.U16();
    size_t code_table = table_start + code_table_offset;
    if (count > 0) {
        if (code_table > r.size()) r.Fail("the code table offset points past the end of the tag");
        f.glyphs = ReadGlyphs(r, table_start, offsets, code_table, version == 3 ? 3 : 1);
        r.Seek(code_table);
    }
    size_t code_size = f.wide_codes ? 2 : 1;
    if (count * code_size > r.remaining()) r.Fail("the code table runs past the end of the tag");
    for (size_t i = 0; i < count; ++i) f.codes.push_back(f.wide_codes ? r.U16() : r.U8());
    if (has_layout && !r.AtEnd()) {
        FontLayout layout;
        layout.ascent = r.U16();
        layout.descent = r.U16();
        layout.leading = r.S16();
        if (count * 2 > r.remaining()) r.Fail("the advance table runs past the end of the tag");
        for (size_t i = 0; i < count; ++i) layout.advances.push_back(r.S16());
        for (size_t i = 0; i < count; ++i) layout.bounds.push_back(r.ReadRect());
        // Some writers stop before the kerning table.
        size_t kerning = r.remaining() >= 2 ? r.U16() : 0;
        for (size_t i = 0; i < kerning; ++i) {
            KerningRecord k;
            k.code1 = f.wide_codes ? r.U16() : r.U8();
            k.code2 = f.wide_codes ? r.U16() : r.U8();
            k.adjustment = r.S16();
            layout.kerning.push_back(k);
        }
        f.layout = std::move(layout);
    }
    return f;
}

FontInfo ReadFontInfo(Reader& r, int version) {
    FontInfo info;
    info.version = static_cast<uint8_t>(version);
    info.font_id = r.U16();
    info.name = r.FixedString(r.U8());
    uint8_t flags = r.U8();
    info.small_text = flags & 0x20;
    info.shift_jis = flags & 0x10;
    info.ansi = flags & 0x08;
    info.italic = flags & 0x04;
    info.bold = flags & 0x02;
    info.wide_codes = flags & 0x01;
    if (version == 2) info.language = r.U8();
    while (r.remaining() >= (info.wide_codes ? 2u : 1u)) info.codes.push_back(info.wide_codes ? r.U16() : r.U8());
    return info;
}

FontAlignZones ReadFontAlignZones(Reader& r) {
    FontAlignZones z;
    z.font_id = r.U16();
    z.csm_table_hint = r.U8() >> 6;
    while (!r.AtEnd()) {
        FontAlignZones::Record rec;
        unsigned n = r.U8();
        for (unsigned i = 0; i < n; ++i) {
            FontAlignZones::Zone zone;
            zone.alignment = r.Float16();
            zone.range = r.Float16();
            rec.zones.push_back(zone);
        }
        uint8_t mask = r.U8();
        rec.mask_y = mask & 0x02;
        rec.mask_x = mask & 0x01;
        z.records.push_back(std::move(rec));
    }
    return z;
}

Text ReadDefineText(Reader& r, int version) {
    Text t;
    t.version = static_cast<uint8_t>(version);
    t.id = r.U16();
    t.bounds = r.ReadRect();
    t.matrix = r.ReadMatrix();
    unsigned glyph_bits = r.U8();
    unsigned advance_bits = r.U8();
    if (glyph_bits > 32 || advance_bits > 32) r.Fail("a glyph field is wider than 32 bits");
    for (;;) {
        // Some writers end the records with the tag instead of a zero byte.
        if (r.AtEnd()) break;
        uint8_t flags = r.U8();
        if (flags == 0) break;
        TextRecord rec;
        if (flags & 0x08) rec.font_id = r.U16();
        if (flags & 0x04) rec.color = version == 2 ? r.RgbaColor() : r.Rgb();
        if (flags & 0x01) rec.x_offset = r.S16();
        if (flags & 0x02) rec.y_offset = r.S16();
        if (flags & 0x08) rec.height = r.U16();
        unsigned count = r.U8();
        rec.glyphs.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            GlyphEntry g;
            g.index = r.UB(glyph_bits);
            g.advance = r.SB(advance_bits);
            rec.glyphs.push_back(g);
        }
        r.Align();
        t.records.push_back(std::move(rec));
    }
    return t;
}

EditText ReadDefineEditText(Reader& r) {
    EditText e;
    e.id = r.U16();
    e.bounds = r.ReadRect();
    uint8_t f0 = r.U8();
    uint8_t f1 = r.U8();
    bool has_text = f0 & 0x80;
    e.word_wrap = f0 & 0x40;
    e.multiline = f0 & 0x20;
    e.password = f0 & 0x10;
    e.read_only = f0 & 0x08;
    bool has_color = f0 & 0x04;
    bool has_max_length = f0 & 0x02;
    bool has_font = f0 & 0x01;
    bool has_font_class = f1 & 0x80;
    e.auto_size = f1 & 0x40;
    bool has_layout = f1 & 0x20;
    e.no_select = f1 & 0x10;
    e.border = f1 & 0x08;
    e.was_static = f1 & 0x04;
    e.html = f1 & 0x02;
    e.use_outlines = f1 & 0x01;
    if (has_font) e.font_id = r.U16();
    if (has_font_class) e.font_class = r.String();
    if (has_font || has_font_class) e.font_height = r.U16();
    if (has_color) e.color = r.RgbaColor();
    if (has_max_length) e.max_length = r.U16();
    if (has_layout) {
        EditTextLayout l;
        uint8_t align = r.U8();
        l.align = align > 3 ? TextAlign::Left : static_cast<TextAlign>(align);
        l.left_margin = r.U16();
        l.right_margin = r.U16();
        l.indent = r.U16();
        l.leading = r.S16();
        e.layout = l;
    }
    e.variable_name = r.String();
    if (has_text) e.initial_text = r.String();
    return e;
}

}  // namespace qm::swf::detail
