#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "testing/swfwriter/bit_writer.h"

namespace qm::swfwriter {

using detail::BitWriter;

int Font::glyphIndex(uint16_t code) const {
    for (size_t i = 0; i < glyphs.size(); ++i)
        if (glyphs[i].code == code) return int(i);
    return -1;
}

namespace {

Bytes glyphShape(const Glyph& g) {
    std::vector<Shape::Record> records = g.outline.records;
    const bool selectsFill = std::any_of(records.begin(), records.end(), [](const auto& r) {
        const auto* sc = std::get_if<Shape::StyleChange>(&r);
        return sc && (sc->fill0 || sc->fill1);
    });
    if (!selectsFill) {
        if (!records.empty() && std::holds_alternative<Shape::StyleChange>(records.front()))
            std::get<Shape::StyleChange>(records.front()).fill0 = 1;
        else {
            Shape::StyleChange sc;
            sc.fill0 = 1;
            records.insert(records.begin(), sc);
        }
    }
    BitWriter w;
    w.ub(1, 4);
    w.ub(0, 4);
    detail::writeShapeRecords(w, records, 1, 0, 1);
    return w.data();
}

// Code points of a UTF-8 text; bytes that do not decode stand for themselves.
std::vector<uint32_t> decodeUtf8(const std::string& s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        const uint8_t c = uint8_t(s[i]);
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (i + extra >= s.size()) extra = 0;
        for (int k = 1; k <= extra; ++k)
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80) extra = 0;
        uint32_t cp = extra ? c & (0x3F >> extra) : c;
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (uint8_t(s[i + k]) & 0x3F);
        out.push_back(cp);
        i += 1 + extra;
    }
    return out;
}

}  // namespace

TextRecord layoutText(const Font& font, uint16_t fontId, const std::string& utf8, uint16_t height,
                      Color color, int16_t x, int16_t y, int emSize) {
    TextRecord r;
    r.font = fontId;
    r.height = height;
    r.color = color;
    r.x = x;
    r.y = y;
    for (uint32_t cp : decodeUtf8(utf8)) {
        const int index = cp > 0xFFFF ? -1 : font.glyphIndex(uint16_t(cp));
        if (index < 0) continue;
        const double advance = double(font.glyphs[size_t(index)].advance) * height / emSize;
        r.glyphs.push_back({uint32_t(index), int32_t(std::lround(advance))});
    }
    return r;
}

uint16_t Movie::defineFont(const Font& f) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    std::vector<Bytes> shapes;
    for (const auto& g : f.glyphs) shapes.push_back(glyphShape(g));
    size_t offset = shapes.size() * 2;
    for (const auto& s : shapes) {
        if (offset > 0xFFFF) throw std::runtime_error("font too large for DefineFont");
        w.u16(uint16_t(offset));
        offset += s.size();
    }
    for (const auto& s : shapes) w.bytes(s);
    detail::appendTag(tags_, 10, w.data());
    return id;
}

namespace {

Bytes font23Body(uint16_t id, const Font& f) {
    std::vector<Bytes> shapes;
    size_t shapeBytes = 0;
    for (const auto& g : f.glyphs) {
        shapes.push_back(glyphShape(g));
        shapeBytes += shapes.back().size();
    }
    const size_t n = shapes.size();
    const bool wideOffsets = (n + 1) * 2 + shapeBytes > 0xFFFF;
    BitWriter w;
    w.u16(id);
    w.u8(uint8_t((f.hasLayout ? 0x80 : 0) | (f.smallText ? 0x20 : 0) | (wideOffsets ? 0x08 : 0) |
                 0x04 | (f.italic ? 0x02 : 0) | (f.bold ? 0x01 : 0)));
    w.u8(f.language);
    if (f.name.size() > 255) throw std::runtime_error("font name too long");
    w.u8(uint8_t(f.name.size()));
    w.bytes(Bytes(f.name.begin(), f.name.end()));
    w.u16(uint16_t(n));
    auto offsetField = [&](size_t v) {
        if (wideOffsets)
            w.u32(uint32_t(v));
        else
            w.u16(uint16_t(v));
    };
    size_t offset = (n + 1) * (wideOffsets ? 4 : 2);
    for (const auto& s : shapes) {
        offsetField(offset);
        offset += s.size();
    }
    offsetField(offset);  // the code table follows the shapes
    for (const auto& s : shapes) w.bytes(s);
    for (const auto& g : f.glyphs) w.u16(g.code);
    if (f.hasLayout) {
        w.u16(f.ascent);
        w.u16(f.descent);
        w.si16(f.leading);
        for (const auto& g : f.glyphs) w.si16(g.advance);
        for (const auto& g : f.glyphs) w.rect(g.bounds.value_or(g.outline.computedBounds(false)));
        w.u16(uint16_t(f.kerning.size()));
        for (const auto& k : f.kerning) {
            w.u16(k.left);
            w.u16(k.right);
            w.si16(k.adjustment);
        }
    }
    return w.data();
}

}  // namespace

uint16_t Movie::defineFont2(const Font& f) {
    const uint16_t id = takeId();
    detail::appendTag(tags_, 48, font23Body(id, f));
    return id;
}

uint16_t Movie::defineFont3(const Font& f) {
    const uint16_t id = takeId();
    detail::appendTag(tags_, 75, font23Body(id, f));
    return id;
}

void Movie::defineFontInfo(uint16_t fontId, const Font& f, bool info2) {
    BitWriter w;
    w.u16(fontId);
    if (f.name.size() > 255) throw std::runtime_error("font name too long");
    w.u8(uint8_t(f.name.size()));
    w.bytes(Bytes(f.name.begin(), f.name.end()));
    w.u8(uint8_t((f.smallText ? 0x20 : 0) | (f.italic ? 0x04 : 0) | (f.bold ? 0x02 : 0) | 0x01));
    if (info2) w.u8(f.language);
    for (const auto& g : f.glyphs) w.u16(g.code);
    detail::appendTag(tags_, info2 ? 62 : 13, w.data());
}

uint16_t Movie::defineText(const Text& t, int textVersion) {
    if (textVersion != 1 && textVersion != 2) throw std::invalid_argument("text version 1 or 2");
    const uint16_t id = takeId();
    int glyphBits = 0, advanceBits = 0;
    for (const auto& r : t.records)
        for (const auto& g : r.glyphs) {
            glyphBits = std::max(glyphBits, detail::unsignedBits(g.index));
            advanceBits = std::max(advanceBits, detail::signedBits(g.advance));
        }
    BitWriter w;
    w.u16(id);
    w.rect(t.bounds);
    w.matrix(t.matrix);
    w.u8(uint8_t(glyphBits));
    w.u8(uint8_t(advanceBits));
    for (const auto& r : t.records) {
        if (r.glyphs.size() > 255) throw std::runtime_error("more than 255 glyphs in one record");
        w.u8(uint8_t(0x80 | (r.font ? 0x08 : 0) | (r.color ? 0x04 : 0) | (r.y ? 0x02 : 0) |
                     (r.x ? 0x01 : 0)));
        if (r.font) w.u16(*r.font);
        if (r.color) {
            if (textVersion == 2)
                w.rgba(*r.color);
            else
                w.rgb(*r.color);
        }
        if (r.x) w.si16(*r.x);
        if (r.y) w.si16(*r.y);
        if (r.font) w.u16(r.height);
        w.u8(uint8_t(r.glyphs.size()));
        for (const auto& g : r.glyphs) {
            w.ub(g.index, glyphBits);
            w.sb(g.advance, advanceBits);
        }
        w.align();
    }
    w.u8(0);
    detail::appendTag(tags_, textVersion == 2 ? 33 : 11, w.data());
    return id;
}

uint16_t Movie::defineEditText(const EditText& e) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.rect(e.bounds);
    w.u8(uint8_t((e.text ? 0x80 : 0) | (e.wordWrap ? 0x40 : 0) | (e.multiline ? 0x20 : 0) |
                 (e.password ? 0x10 : 0) | (e.readOnly ? 0x08 : 0) | (e.color ? 0x04 : 0) |
                 (e.maxLength ? 0x02 : 0) | (e.font ? 0x01 : 0)));
    w.u8(uint8_t((e.fontClass ? 0x80 : 0) | (e.autoSize ? 0x40 : 0) | (e.layout ? 0x20 : 0) |
                 (e.noSelect ? 0x10 : 0) | (e.border ? 0x08 : 0) | (e.wasStatic ? 0x04 : 0) |
                 (e.html ? 0x02 : 0) | (e.useOutlines ? 0x01 : 0)));
    if (e.font) w.u16(*e.font);
    if (e.fontClass) w.str(*e.fontClass);
    if (e.font || e.fontClass) w.u16(e.height);
    if (e.color) w.rgba(*e.color);
    if (e.maxLength) w.u16(*e.maxLength);
    if (e.layout) {
        w.u8(e.layout->align);
        w.u16(e.layout->leftMargin);
        w.u16(e.layout->rightMargin);
        w.u16(e.layout->indent);
        w.si16(e.layout->leading);
    }
    w.str(e.variable);
    if (e.text) w.str(*e.text);
    detail::appendTag(tags_, 37, w.data());
    return id;
}

}  // namespace qm::swfwriter
