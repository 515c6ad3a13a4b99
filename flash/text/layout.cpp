// Text fields laid out from their documents: formats resolved to fonts,
// paragraphs broken into lines, lines aligned in the field's box.
#include "flash/text/layout.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

namespace qm::flash::text {

namespace {

constexpr const char* kAligns[] = {"left", "right", "center", "justify"};

// Device fonts are measured through cairo on a surface of their own.
struct Measurer {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    ~Measurer() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    void Select(const GlyphFormat& f) {
        cairo_select_font_face(cr, DeviceFamily(f.face).c_str(), f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                               f.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, f.size);
    }
};

struct Metrics {
    double ascent = 0, descent = 0;
};

Metrics MetricsOf(Measurer& m, const GlyphFormat& f) {
    Metrics r;
    if (f.font && f.font->layout) {
        double s = f.size / f.font->EmSize();
        // Whole twips, cut, as the original measures them.
        r.ascent = std::floor(f.font->layout->ascent * s);
        r.descent = std::floor(f.font->layout->descent * s);
    } else {
        m.Select(f);
        cairo_font_extents_t e;
        cairo_font_extents(m.cr, &e);
        r.ascent = e.ascent;
        r.descent = e.descent;
    }
    return r;
}

double AdvanceOf(Measurer& m, const GlyphFormat& f, char32_t c) {
    if (f.font) {
        int i = GlyphIndex(*f.font, c);
        if (i >= 0 && f.font->layout && static_cast<size_t>(i) < f.font->layout->advances.size())
            // Stored signed, but the reference player reads advances as unsigned.
            // Whole twips, cut.
            return std::floor(static_cast<uint16_t>(f.font->layout->advances[i]) * f.size / f.font->EmSize());
        return i >= 0 ? f.size * 0.5 : 0;
    }
    m.Select(f);
    cairo_text_extents_t e;
    std::string s = Utf8(c);
    cairo_text_extents(m.cr, s.c_str(), &e);
    return e.x_advance;
}

Align AlignOf(const TextStyle& s) {
    const std::string a = s.align.value_or("left");
    return a == "right" ? Align::Right : a == "center" ? Align::Center : a == "justify" ? Align::Justify : Align::Left;
}

const swf::Font* DefinitionFont(const swf::EditText& field, const Dictionary& dict) {
    if (!field.font_id) return nullptr;
    const Character* ch = dict.Find(*field.font_id);
    return ch ? ch->As<swf::Font>() : nullptr;
}

std::string FontName(const Dictionary& dict, uint16_t id, const swf::Font& font) {
    if (!font.name.empty()) return font.name;
    const Character* ch = dict.Find(id);
    return ch && ch->font_info ? ch->font_info->name : std::string();
}

}  // namespace

int GlyphIndex(const swf::Font& f, char32_t c) {
    auto it = std::lower_bound(f.codes.begin(), f.codes.end(), static_cast<uint16_t>(c));
    if (c > 0xFFFF || it == f.codes.end() || *it != c) return -1;
    return static_cast<int>(it - f.codes.begin());
}

std::string DeviceFamily(const std::string& face) {
    // A field that names no font shows the player's default, a serif face.
    if (face.empty()) return "Times New Roman";
    if (face == "_sans") return "sans-serif";
    if (face == "_serif") return "serif";
    if (face == "_typewriter") return "monospace";
    if (face == "\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF" || face == "_\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF")
        return "sans-serif:lang=ja";
    return face;
}

const swf::Font* EmbeddedFont(const Dictionary& dict, const std::string& name, bool bold, bool italic) {
    if (name.empty()) return nullptr;
    const swf::Font* best = nullptr;
    int best_score = -1;
    // Fonts are few; a scan of the ids keeps the dictionary's interface small.
    size_t seen = 0;
    for (uint32_t id = 0; id < 65536 && seen < dict.size(); ++id) {
        const Character* ch = dict.Find(static_cast<uint16_t>(id));
        if (!ch) continue;
        ++seen;
        auto* f = ch->As<swf::Font>();
        if (!f || f->glyphs.empty()) continue;
        if (FontName(dict, uint16_t(id), *f) != name) continue;
        int score = (f->bold == bold) + (f->italic == italic);
        if (score > best_score) {
            best = f;
            best_score = score;
        }
    }
    return best;
}

TextStyle DefinitionStyle(const swf::EditText& d, const Dictionary& dict) {
    TextStyle s;
    const swf::Font* font = DefinitionFont(d, dict);
    std::string name = font ? FontName(dict, *d.font_id, *font) : std::string();
    if (name.empty()) name = d.font_class.value_or("Times New Roman");
    s.font = name;
    // Kept as given; scripts see whole pixels.
    s.size = d.font_height ? *d.font_height / 20.0 : 12.0;
    s.color = d.color ? uint32_t(d.color->r) << 16 | uint32_t(d.color->g) << 8 | d.color->b : 0;
    // HTML states its own styles: its text starts plain.
    s.bold = font && !d.html ? font->bold : false;
    s.italic = font && !d.html ? font->italic : false;
    s.underline = false;
    s.url = std::string();
    s.target = std::string();
    s.letter_spacing = 0.0;
    s.kerning = false;
    swf::EditTextLayout layout = d.layout.value_or(swf::EditTextLayout{});
    s.align = std::string(kAligns[int(layout.align) & 3]);
    s.left_margin = layout.left_margin / 20.0;
    s.right_margin = layout.right_margin / 20.0;
    s.indent = layout.indent / 20.0;
    s.block_indent = 0.0;
    s.leading = layout.leading / 20.0;
    s.tab_stops = std::vector<double>();
    s.bullet = false;
    return s;
}

TextDocument ShownDocument(const swf::EditText& field, const std::optional<std::string>& shown, const Dictionary& dict) {
    TextDocument doc(DefinitionStyle(field, dict));
    // The model writes whole paragraphs; only the definition's own markup
    // follows the field's one-line rule.
    if (shown) doc.SetHtml(*shown, true, false);
    else if (field.html) doc.SetHtml(field.initial_text.value_or(""), field.multiline, false);
    else doc.SetPlain(Utf32(field.initial_text.value_or("")));
    return doc;
}

Layout LayOut(const swf::EditText& field, const TextDocument& doc, const Dictionary& dict) {
    Layout out;
    Measurer measurer;
    const swf::Font* own = field.use_outlines ? DefinitionFont(field, dict) : nullptr;
    if (own && own->glyphs.empty()) own = nullptr;
    const std::string own_name = own ? FontName(dict, *field.font_id, *own) : std::string();
    uint8_t alpha = field.color ? field.color->a : 255;

    std::vector<Metrics> metrics;
    auto format_of = [&](const TextStyle& s) {
        GlyphFormat g;
        g.face = s.font.value_or("");
        g.size = s.size.value_or(12) * 20;
        uint32_t rgb = s.color.value_or(0);
        g.color = swf::Rgba{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), alpha};
        g.bold = s.bold.value_or(false);
        g.italic = s.italic.value_or(false);
        g.underline = s.underline.value_or(false);
        g.letter_spacing = s.letter_spacing.value_or(0) * 20;
        if (field.use_outlines) {
            if (own && g.face == own_name && own->bold == g.bold && own->italic == g.italic) g.font = own;
            else g.font = EmbeddedFont(dict, g.face, g.bold, g.italic);
            if (!g.font && own && g.face == own_name) g.font = own;
        }
        for (size_t i = 0; i < out.formats.size(); ++i) {
            const GlyphFormat& o = out.formats[i];
            if (o.font == g.font && o.face == g.face && o.size == g.size && o.color == g.color && o.bold == g.bold &&
                o.italic == g.italic && o.underline == g.underline && o.letter_spacing == g.letter_spacing)
                return i;
        }
        out.formats.push_back(g);
        metrics.push_back(MetricsOf(measurer, g));
        return out.formats.size() - 1;
    };

    const std::u32string& text = doc.text();
    // Formats per character, resolved once per run.
    std::vector<size_t> char_format(text.size());
    for (const auto& run : doc.Runs()) {
        size_t f = format_of(*run.style);
        for (size_t i = run.begin; i < run.end; ++i) char_format[i] = f;
    }

    const swf::Rect& b = field.bounds;
    const double field_width = double(b.x_max - b.x_min);
    size_t start = 0;
    while (true) {
        size_t end = text.find(U'\r', start);
        bool last = end == std::u32string::npos;
        if (last) end = text.size();
        // An empty last paragraph takes the format of the end before it.
        const TextStyle& p = start < text.size() ? doc.StyleAt(start) : start > 0 ? doc.StyleAt(start - 1) : doc.default_style();
        bool bullet = p.bullet.value_or(false);
        size_t p_format = start < text.size() ? char_format[start] : start > 0 ? char_format[start - 1] : format_of(p);
        double size = out.formats[p_format].size;
        // Bulleted paragraphs make room for the bullet.
        double bullet_room = bullet ? size * 1.5 : 0;
        double left = (p.left_margin.value_or(0) + p.block_indent.value_or(0)) * 20 + bullet_room;
        double box_width = field_width - 2 * kGutter - left - p.right_margin.value_or(0) * 20;
        double leading = p.leading.value_or(0) * 20;
        Align align = AlignOf(p);
        std::vector<double> stops;
        if (p.tab_stops)
            for (double s : *p.tab_stops) stops.push_back(s * 20);

        auto fresh = [&]() {
            LayoutLine l;
            l.align = align;
            l.leading = leading;
            l.x = left;  // made absolute when aligned
            return l;
        };
        LayoutLine line = fresh();
        line.bullet = bullet;
        line.begin = start;
        double x = p.indent.value_or(0) * 20;
        size_t last_break = 0;  // glyphs before the last space's end
        for (size_t i = start; i < end; ++i) {
            char32_t c = field.password ? U'*' : text[i];
            const GlyphFormat& f = out.formats[char_format[i]];
            double adv;
            if (c == U'\t') {
                // To the next stop: the paragraph's own, else every half inch.
                double next = -1;
                for (double s : stops)
                    if (s > x + 0.5) {
                        next = s;
                        break;
                    }
                if (next < 0) next = (std::floor(x / 720) + 1) * 720;
                adv = next - x;
            } else {
                adv = AdvanceOf(measurer, f, c) + f.letter_spacing;
            }
            if (field.word_wrap && x + adv > box_width && !line.glyphs.empty() && c != U' ') {
                LayoutLine next = fresh();
                size_t cut = last_break > 0 ? last_break : line.glyphs.size();
                next.glyphs.assign(line.glyphs.begin() + std::ptrdiff_t(cut), line.glyphs.end());
                line.glyphs.resize(cut);
                double shift = next.glyphs.empty() ? 0 : next.glyphs.front().x;
                for (auto& g : next.glyphs) g.x -= shift;
                x = next.glyphs.empty() ? 0 : next.glyphs.back().x + next.glyphs.back().advance;
                line.wrapped = true;
                line.end = next.glyphs.empty() ? i : next.glyphs.front().index;
                next.begin = line.end;
                out.lines.push_back(std::move(line));
                line = std::move(next);
                last_break = 0;
            }
            line.glyphs.push_back({c, i, char_format[i], x, adv});
            x += adv;
            if (c == U' ') last_break = line.glyphs.size();
        }
        line.end = last ? end : end + 1;
        out.lines.push_back(std::move(line));
        // Lines without glyphs are as high as the paragraph's format.
        if (last) break;
        start = end + 1;
    }

    double y = b.y_min + kGutter;
    for (size_t n = 0; n < out.lines.size(); ++n) {
        LayoutLine& line = out.lines[n];
        if (line.glyphs.empty()) {
            size_t at = line.begin < text.size() ? line.begin : line.begin > 0 ? line.begin - 1 : text.size();
            Metrics m = at < text.size() ? metrics[char_format[at]] : MetricsOf(measurer, out.formats[format_of(doc.default_style())]);
            if (at >= text.size() && !text.empty()) m = metrics[char_format[text.size() - 1]];
            line.ascent = m.ascent;
            line.descent = m.descent;
        }
        for (const PlacedGlyph& g : line.glyphs) {
            line.ascent = std::max(line.ascent, metrics[g.format].ascent);
            line.descent = std::max(line.descent, metrics[g.format].descent);
            // Trailing spaces count only where a left-aligned line wraps.
            if (g.c != U' ' || (line.wrapped && line.align == Align::Left)) line.width = std::max(line.width, g.x + g.advance);
        }
        double room = field_width - 2 * kGutter - line.x;
        // line.x holds the left room so far; the right room is what the paragraph left.
        const TextStyle& p = line.begin < text.size() ? doc.StyleAt(line.begin)
                             : line.begin > 0 ? doc.StyleAt(line.begin - 1) : doc.default_style();
        room -= p.right_margin.value_or(0) * 20;
        double x0 = b.x_min + kGutter + line.x;
        if (line.align == Align::Right) x0 += room - line.width;
        else if (line.align == Align::Center) x0 += (room - line.width) / 2;
        else if (line.align == Align::Justify && line.wrapped) {
            // Wrapped lines of justified paragraphs share the spare room among their spaces.
            size_t end = line.glyphs.size();
            while (end > 0 && line.glyphs[end - 1].c == U' ') --end;
            int spaces = 0;
            for (size_t i = 0; i < end; ++i) spaces += line.glyphs[i].c == U' ';
            if (spaces > 0 && room > line.width) {
                double extra = (room - line.width) / spaces, shift = 0;
                for (size_t i = 0; i < end; ++i) {
                    line.glyphs[i].x += shift;
                    if (line.glyphs[i].c == U' ') shift += extra;
                }
            }
        }
        line.x = x0;
        line.y = y;
        y += line.ascent + line.descent + line.leading;
        out.text_width = std::max(out.text_width, line.width);
        // The leading below the last line is not part of the text, unless
        // that line is the only one.
        bool counted = n + 1 < out.lines.size() || out.lines.size() == 1;
        out.text_height += line.ascent + line.descent + (counted ? line.leading : 0);
    }
    return out;
}

}  // namespace qm::flash::text
