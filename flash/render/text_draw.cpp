// Glyph text and text fields.
#include "flash/render/text_draw.h"
#include "flash/render/render.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace qm::flash::render {

namespace {

// Fields keep a two-pixel gutter inside their bounds.
constexpr double kGutter = 40;

void FillGlyph(cairo_t* cr, const Drawable& glyph, const Matrix& m) {
    if (!Invertible(m)) return;
    cairo_matrix_t cm = m.toCairo();
    cairo_set_matrix(cr, &cm);
    cairo_new_path(cr);
    for (const auto& layer : glyph.layers)
        for (const auto& fill : layer.paths.fills) AppendPath(cr, fill.commands);
    cairo_identity_matrix(cr);
    cairo_fill(cr);
}

void SetColor(cairo_t* cr, Rgba c, const ColorTransform& cx, const DrawEnv& env) {
    if (env.mask_mode) {
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        return;
    }
    c = cx.apply(c);
    cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
}

Matrix Translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
Matrix Scale(double s) { return {s, 0, 0, s, 0, 0}; }

}  // namespace

std::string Utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | (c >> 6));
        s += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += char(0xE0 | (c >> 12));
        s += char(0x80 | ((c >> 6) & 0x3F));
        s += char(0x80 | (c & 0x3F));
    } else {
        s += char(0xF0 | ((c >> 18) & 0x07));
        s += char(0x80 | ((c >> 12) & 0x3F));
        s += char(0x80 | ((c >> 6) & 0x3F));
        s += char(0x80 | (c & 0x3F));
    }
    return s;
}

std::u32string DecodeUtf8(const std::string& s) {
    std::u32string out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = c;
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        bool ok = extra >= 0 && i + extra < s.size();
        if (ok && extra > 0) {
            cp = c & (0x3F >> extra);
            for (int k = 1; k <= extra && ok; ++k) {
                unsigned char cc = static_cast<unsigned char>(s[i + k]);
                ok = (cc & 0xC0) == 0x80;
                cp = (cp << 6) | (cc & 0x3F);
            }
        }
        if (!ok) {
            // Not UTF-8: the byte stands for itself (Latin-1).
            out += char32_t(c);
            ++i;
            continue;
        }
        out += cp;
        i += extra + 1;
    }
    return out;
}

std::vector<Paragraph> PlainParagraphs(const std::string& text, const TextFormat& base, ParagraphAlign align) {
    std::vector<Paragraph> out(1);
    out.back().align = align;
    out.back().runs.push_back({U"", base});
    std::u32string all = DecodeUtf8(text);
    for (size_t i = 0; i < all.size(); ++i) {
        char32_t c = all[i];
        if (c == U'\r' || c == U'\n') {
            if (c == U'\r' && i + 1 < all.size() && all[i + 1] == U'\n') ++i;
            out.emplace_back();
            out.back().align = align;
            out.back().runs.push_back({U"", base});
        } else {
            out.back().runs.back().text += c;
        }
    }
    return out;
}

namespace {

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Attribute(const std::string& tag, const std::string& name) {
    std::string low = Lower(tag);
    size_t at = 0;
    while ((at = low.find(name, at)) != std::string::npos) {
        bool boundary = at == 0 || std::isspace(static_cast<unsigned char>(low[at - 1]));
        size_t eq = at + name.size();
        while (eq < low.size() && std::isspace(static_cast<unsigned char>(low[eq]))) ++eq;
        if (boundary && eq < low.size() && low[eq] == '=') {
            size_t v = eq + 1;
            while (v < low.size() && std::isspace(static_cast<unsigned char>(low[v]))) ++v;
            if (v < tag.size() && (tag[v] == '"' || tag[v] == '\'')) {
                char q = tag[v];
                size_t end = tag.find(q, v + 1);
                return tag.substr(v + 1, end == std::string::npos ? std::string::npos : end - v - 1);
            }
            size_t end = v;
            while (end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[end])) && tag[end] != '>') ++end;
            return tag.substr(v, end - v);
        }
        at = eq;
    }
    return {};
}

// The embedded font of that name whose style matches best: bold and italic
// faces of one family are separate fonts.
const swf::Font* FontByName(const Dictionary* dict, const std::string& name, bool bold, bool italic) {
    if (!dict || name.empty()) return nullptr;
    const swf::Font* best = nullptr;
    int bestScore = -1;
    // Fonts are few; a scan of the ids keeps the dictionary's interface small.
    size_t seen = 0;
    for (uint32_t id = 0; id < 65536 && seen < dict->size(); ++id) {
        const Character* ch = dict->Find(static_cast<uint16_t>(id));
        if (!ch) continue;
        ++seen;
        auto* f = ch->As<swf::Font>();
        if (!f || f->glyphs.empty()) continue;
        std::string n = f->name;
        if (n.empty() && ch->font_info) n = ch->font_info->name;
        if (n != name) continue;
        int score = (f->bold == bold) + (f->italic == italic);
        if (score > bestScore) {
            best = f;
            bestScore = score;
        }
    }
    return best;
}

}  // namespace

std::vector<Paragraph> ParseFieldHtml(const std::string& html, const TextFormat& base, ParagraphAlign align,
                                      const Dictionary* fonts, bool embedded) {
    std::vector<Paragraph> out;
    std::vector<TextFormat> stack{base};
    std::map<std::string, const swf::Font*> fontCache;
    auto newParagraph = [&](ParagraphAlign a) {
        out.emplace_back();
        out.back().align = a;
        out.back().block = stack.back().block;
    };
    auto append = [&](char32_t c) {
        if (out.empty()) newParagraph(align);
        auto& runs = out.back().runs;
        const TextFormat& f = stack.back();
        if (runs.empty() || runs.back().format.size != f.size || runs.back().format.font != f.font ||
            runs.back().format.face != f.face || !(runs.back().format.color == f.color) ||
            runs.back().format.bold != f.bold || runs.back().format.italic != f.italic ||
            runs.back().format.underline != f.underline)
            runs.push_back({U"", f});
        runs.back().text += c;
    };
    bool paragraphOpen = false;
    size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            size_t end = html.find('>', i);
            if (end == std::string::npos) break;
            std::string tag = html.substr(i + 1, end - i - 1);
            i = end + 1;
            bool closing = !tag.empty() && tag[0] == '/';
            std::string name = Lower(tag.substr(closing ? 1 : 0));
            name = name.substr(0, name.find_first_of(" \t\r\n/"));
            if (name == "p" || name == "li") {
                if (!closing) {
                    std::string a = Lower(Attribute(tag, "align"));
                    ParagraphAlign pa = a == "right" ? ParagraphAlign::Right : a == "center" ? ParagraphAlign::Center
                                        : a == "justify" ? ParagraphAlign::Justify
                                        : a == "left" ? ParagraphAlign::Left : align;
                    if (paragraphOpen || !out.empty()) newParagraph(pa);
                    else newParagraph(pa);
                    out.back().bullet = name == "li";
                    paragraphOpen = true;
                } else {
                    paragraphOpen = false;
                }
            } else if (name == "br") {
                newParagraph(out.empty() ? align : out.back().align);
            } else if (name == "font" || name == "b" || name == "i" || name == "u" || name == "a" ||
                       name == "textformat" || name == "span") {
                if (closing) {
                    if (stack.size() > 1) stack.pop_back();
                } else {
                    TextFormat f = stack.back();
                    if (name == "b") f.bold = true;
                    if (name == "i") f.italic = true;
                    bool restyled = name == "b" || name == "i";
                    if (name == "u") f.underline = true;
                    if (name == "textformat") {
                        // Given in pixels, as the text field's own format is.
                        auto px = [&](const char* attr, double& field) {
                            std::string v = Attribute(tag, attr);
                            if (!v.empty()) field = std::atof(v.c_str()) * 20;
                        };
                        px("leftmargin", f.block.leftMargin);
                        px("rightmargin", f.block.rightMargin);
                        px("indent", f.block.indent);
                        px("blockindent", f.block.blockIndent);
                        px("leading", f.block.leading);
                        if (!out.empty() && out.back().runs.empty()) out.back().block = f.block;
                    }
                    if (name == "font") {
                        std::string face = Attribute(tag, "face");
                        if (!face.empty()) {
                            f.face = face;
                            restyled = true;
                        }
                        std::string size = Attribute(tag, "size");
                        if (!size.empty()) {
                            // Sizes are in points; a sign makes them relative.
                            double v = std::atof(size.c_str() + ((size[0] == '+') ? 1 : 0));
                            f.size = (size[0] == '+' || size[0] == '-') ? f.size + v * 20 : v * 20;
                            f.size = std::max(f.size, 20.0);
                        }
                        std::string color = Attribute(tag, "color");
                        if (color.size() == 7 && color[0] == '#') {
                            unsigned long v = std::strtoul(color.c_str() + 1, nullptr, 16);
                            f.color = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), f.color.a};
                        }
                    }
                    if (restyled && (base.font || embedded)) {
                        auto key = std::string(f.bold ? "b" : "-") + (f.italic ? "i" : "-") + f.face;
                        auto it = fontCache.find(key);
                        if (it == fontCache.end())
                            it = fontCache.emplace(key, FontByName(fonts, f.face, f.bold, f.italic)).first;
                        f.font = it->second;
                    }
                    stack.push_back(f);
                }
            }
            continue;
        }
        if (c == '&') {
            size_t semi = html.find(';', i);
            if (semi != std::string::npos && semi - i <= 8) {
                std::string ent = html.substr(i + 1, semi - i - 1);
                char32_t v = 0;
                if (ent == "lt") v = '<';
                else if (ent == "gt") v = '>';
                else if (ent == "amp") v = '&';
                else if (ent == "quot") v = '"';
                else if (ent == "apos") v = '\'';
                else if (ent == "nbsp") v = 0xA0;
                else if (!ent.empty() && ent[0] == '#')
                    v = static_cast<char32_t>(ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X')
                                                  ? std::strtoul(ent.c_str() + 2, nullptr, 16)
                                                  : std::strtoul(ent.c_str() + 1, nullptr, 10));
                if (v) {
                    append(v);
                    i = semi + 1;
                    continue;
                }
            }
        }
        size_t next = html.find_first_of("<&", i + 1);
        std::string chunk = html.substr(i, next == std::string::npos ? std::string::npos : next - i);
        for (char32_t ch : DecodeUtf8(chunk)) {
            if (ch == U'\r' || ch == U'\n') newParagraph(out.empty() ? align : out.back().align);
            else append(ch);
        }
        i = next == std::string::npos ? html.size() : next;
    }
    if (out.empty()) newParagraph(align);
    return out;
}

void TextRenderer::DrawStatic(cairo_t* cr, const swf::Text& text, const Dictionary& dict, const Matrix& m,
                              const ColorTransform& cx, const DrawEnv& env) {
    Matrix base = m * ToMatrix(text.matrix);
    const swf::Font* font = nullptr;
    double height = 0, x = 0, y = 0;
    Rgba color;
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    for (const swf::TextRecord& rec : text.records) {
        if (rec.font_id) {
            const Character* ch = dict.Find(*rec.font_id);
            font = ch ? ch->As<swf::Font>() : nullptr;
            height = rec.height;
        }
        if (rec.color) color = ToRgba(*rec.color);
        if (rec.x_offset) x = *rec.x_offset;
        if (rec.y_offset) y = *rec.y_offset;
        SetColor(cr, color, cx, env);
        for (const swf::GlyphEntry& g : rec.glyphs) {
            if (font && g.index < font->glyphs.size()) {
                double s = height / font->EmSize();
                FillGlyph(cr, glyph(font->glyphs[g.index]), base * Translate(x, y) * Scale(s));
            }
            x += g.advance;
        }
    }
}

namespace {

struct FontFace {
    const swf::Font* font;
    std::string face;
};

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
    if (face == "\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF" || face == "_\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF") return "sans-serif:lang=ja";
    return face;
}

// Metrics of a run at its size, in twips.
struct RunMetrics {
    double ascent = 0, descent = 0, leading = 0;
};

RunMetrics Metrics(cairo_t* cr, const TextFormat& f) {
    RunMetrics r;
    if (f.font && f.font->layout) {
        double s = f.size / f.font->EmSize();
        r.ascent = f.font->layout->ascent * s;
        r.descent = f.font->layout->descent * s;
        r.leading = f.font->layout->leading * s;
    } else {
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_select_font_face(cr, DeviceFamily(f.face).c_str(), f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                               f.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, f.size);
        cairo_font_extents_t e;
        cairo_font_extents(cr, &e);
        cairo_restore(cr);
        r.ascent = e.ascent;
        r.descent = e.descent;
    }
    return r;
}


double Advance(cairo_t* cr, const TextFormat& f, char32_t c) {
    if (f.font) {
        int i = GlyphIndex(*f.font, c);
        if (i >= 0 && f.font->layout && static_cast<size_t>(i) < f.font->layout->advances.size())
            // Stored signed, but the reference player reads advances as unsigned.
            return static_cast<uint16_t>(f.font->layout->advances[i]) * f.size / f.font->EmSize();
        return i >= 0 ? f.size * 0.5 : 0;
    }
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_select_font_face(cr, DeviceFamily(f.face).c_str(), f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           f.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, f.size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, Utf8(c).c_str(), &e);
    cairo_restore(cr);
    return e.x_advance;
}

struct Placed {
    char32_t c;
    const TextFormat* format;
    double x;
    double advance;
};

struct Line {
    std::vector<Placed> glyphs;
    double width = 0;
    double ascent = 0, descent = 0, leading = 0;
    ParagraphAlign align = ParagraphAlign::Left;
    double left = 0;          // margins, block indent and bullet room
    double boxWidth = 0;      // room for the text
    double extraLeading = 0;  // the paragraph's own
    bool bullet = false;      // draws the paragraph's bullet
    bool wrapped = false;     // ended by wrapping, not by the paragraph's end
    double inked = 0;         // width without trailing spaces
};


// Paragraphs and the lines they break into; glyphs point at their
// paragraphs' formats, so both travel together.
struct Laid {
    std::vector<Paragraph> paragraphs;
    std::vector<Line> lines;
    double leading = 0;  // the field's own, between lines
};

Laid LayOut(cairo_t* cr, const swf::EditText& field, const std::optional<std::string>& shownText, const Dictionary& dict) {
    const swf::Rect& b = field.bounds;
    Laid laid;
    TextFormat base;
    if (field.font_id) {
        const Character* ch = dict.Find(*field.font_id);
        const swf::Font* f = ch ? ch->As<swf::Font>() : nullptr;
        if (f) {
            base.face = f->name;
            // HTML states its own styles: its text starts plain.
            base.bold = !field.html && f->bold;
            base.italic = !field.html && f->italic;
            if (field.use_outlines && !f->glyphs.empty()) {
                base.font = f;
                if (field.html && (f->bold || f->italic))
                    if (auto* plain = FontByName(&dict, f->name, false, false)) base.font = plain;
            }
        }
    }
    if (field.font_height) base.size = *field.font_height;
    if (field.color) base.color = ToRgba(*field.color);
    ParagraphAlign align = ParagraphAlign::Left;
    double leftMargin = 0, rightMargin = 0, indent = 0;
    double& leading = laid.leading;
    if (field.layout) {
        align = static_cast<ParagraphAlign>(static_cast<int>(field.layout->align) & 3);
        leftMargin = field.layout->left_margin;
        rightMargin = field.layout->right_margin;
        indent = field.layout->indent;
        leading = field.layout->leading;
    }
    std::string content = shownText ? *shownText : field.initial_text.value_or("");
    std::vector<Paragraph>& paragraphs = laid.paragraphs;
    paragraphs = field.html ? ParseFieldHtml(content, base, align, &dict, field.use_outlines)
                                                   : PlainParagraphs(content, base, align);
    if (field.password)
        for (auto& p : paragraphs)
            for (auto& r : p.runs) std::fill(r.text.begin(), r.text.end(), U'*');

    std::vector<Line>& lines = laid.lines;
    for (const Paragraph& p : paragraphs) {
        Line line;
        line.align = p.align;
        // Bulleted paragraphs make room for the bullet.
        double bulletRoom = p.bullet ? (p.runs.empty() ? base.size : p.runs.front().format.size) * 1.5 : 0;
        line.left = leftMargin + p.block.leftMargin + p.block.blockIndent + bulletRoom;
        line.boxWidth = (b.x_max - b.x_min) - 2 * kGutter - line.left - rightMargin - p.block.rightMargin;
        line.extraLeading = p.block.leading;
        line.bullet = p.bullet;
        double x = indent + p.block.indent;
        double boxWidth = line.boxWidth;
        size_t lastBreak = 0;  // index in line.glyphs after the last space
        bool any = false;
        auto metricsOf = [&](Line& l, const TextFormat& f) {
            RunMetrics rm = Metrics(cr, f);
            l.ascent = std::max(l.ascent, rm.ascent);
            l.descent = std::max(l.descent, rm.descent);
            l.leading = std::max(l.leading, rm.leading);
        };
        for (const TextRun& run : p.runs) {
            metricsOf(line, run.format);
            for (char32_t c : run.text) {
                any = true;
                double adv = Advance(cr, run.format, c);
                if (field.word_wrap && x + adv > boxWidth && !line.glyphs.empty() && c != U' ') {
                    Line next;
                    next.align = p.align;
                    next.left = line.left;
                    next.boxWidth = line.boxWidth;
                    next.extraLeading = line.extraLeading;
                    next.ascent = line.ascent;
                    next.descent = line.descent;
                    next.leading = line.leading;
                    size_t cut = lastBreak > 0 ? lastBreak : line.glyphs.size();
                    next.glyphs.assign(line.glyphs.begin() + cut, line.glyphs.end());
                    line.glyphs.resize(cut);
                    double shift = next.glyphs.empty() ? 0 : next.glyphs.front().x;
                    for (auto& g : next.glyphs) g.x -= shift;
                    x = next.glyphs.empty() ? 0 : next.glyphs.back().x + next.glyphs.back().advance;
                    line.wrapped = true;
                    lines.push_back(std::move(line));
                    line = std::move(next);
                    lastBreak = 0;
                }
                line.glyphs.push_back({c, &run.format, x, adv});
                x += adv;
                if (c == U' ') lastBreak = line.glyphs.size();
            }
        }
        if (!any) metricsOf(line, p.runs.empty() ? base : p.runs.front().format);
        lines.push_back(std::move(line));
    }

    for (Line& line : lines) {
        for (auto& g : line.glyphs) {
            line.width = std::max(line.width, g.x + g.advance);
            if (g.c != U' ') line.inked = std::max(line.inked, g.x + g.advance);
        }
    }
    return laid;
}

}  // namespace

void TextRenderer::DrawEdit(cairo_t* cr, const swf::EditText& field, const std::optional<std::string>& shownText,
                            const Dictionary& dict, const Matrix& m, const ColorTransform& cx, const DrawEnv& env) {
    if (!Invertible(m)) return;
    const swf::Rect& b = field.bounds;
    if (field.border) {
        if (m.b == 0 && m.c == 0) {
            // Unturned fields get a crisp box on whole pixels: one-pixel
            // lines on the box's outermost rows and columns.
            double xa = m.a * b.x_min + m.tx, xb = m.a * b.x_max + m.tx;
            double ya = m.d * b.y_min + m.ty, yb = m.d * b.y_max + m.ty;
            double x0 = std::floor(std::min(xa, xb)), x1 = std::floor(std::max(xa, xb));
            double y0 = std::floor(std::min(ya, yb)), y1 = std::floor(std::max(ya, yb));
            // The far edge's own pixel belongs to the box as well.
            cairo_rectangle(cr, x0, y0, x1 - x0 + 1, y1 - y0 + 1);
            SetColor(cr, {255, 255, 255, 255}, cx, env);
            cairo_fill(cr);
            // Four separate one-pixel lines from pixel centre to pixel centre;
            // the far corner is only partly covered by their butt ends.
            double l = x0 + 0.5, t = y0 + 0.5, r = x1 + 0.5, btm = y1 + 0.5;
            const double sides[4][4] = {{l, t, r, t}, {r, t, r, btm}, {r, btm, l, btm}, {l, btm, l, t}};
            for (const auto& side : sides) {
                cairo_move_to(cr, side[0], side[1]);
                cairo_line_to(cr, side[2], side[3]);
            }
            SetColor(cr, {0, 0, 0, 255}, cx, env);
            cairo_set_line_width(cr, 1);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
            cairo_stroke(cr);
        } else {
            cairo_matrix_t cm = m.toCairo();
            cairo_set_matrix(cr, &cm);
            cairo_rectangle(cr, b.x_min, b.y_min, b.x_max - b.x_min, b.y_max - b.y_min);
            cairo_identity_matrix(cr);
            SetColor(cr, {255, 255, 255, 255}, cx, env);
            cairo_fill_preserve(cr);
            SetColor(cr, {0, 0, 0, 255}, cx, env);
            cairo_set_line_width(cr, 1);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
            cairo_stroke(cr);
        }
    }
    Laid laid = LayOut(cr, field, shownText, dict);
    std::vector<Line>& lines = laid.lines;
    const double leading = laid.leading;

    // Clip to the field's box.
    cairo_save(cr);
    {
        cairo_matrix_t cm = m.toCairo();
        cairo_set_matrix(cr, &cm);
        cairo_rectangle(cr, b.x_min, b.y_min, b.x_max - b.x_min, b.y_max - b.y_min);
        cairo_identity_matrix(cr);
        cairo_clip(cr);
    }
    double y = b.y_min + kGutter;
    for (Line& line : lines) {
        // Trailing spaces do not count for alignment.
        double width = line.inked;
        double x0 = b.x_min + kGutter + line.left;
        if (line.align == ParagraphAlign::Right) x0 += line.boxWidth - width;
        else if (line.align == ParagraphAlign::Center) x0 += (line.boxWidth - width) / 2;
        double baseline = y + line.ascent;
        if (line.align == ParagraphAlign::Justify && line.wrapped) {
            // Wrapped lines of justified paragraphs share the spare room among their spaces.
            size_t last = line.glyphs.size();
            while (last > 0 && line.glyphs[last - 1].c == U' ') --last;
            int spaces = 0;
            for (size_t i = 0; i < last; ++i) spaces += line.glyphs[i].c == U' ';
            if (spaces > 0 && line.boxWidth > width) {
                double extra = (line.boxWidth - width) / spaces, shift = 0;
                for (size_t i = 0; i < last; ++i) {
                    line.glyphs[i].x += shift;
                    if (line.glyphs[i].c == U' ') shift += extra;
                }
            }
        }
        if (line.bullet && !line.glyphs.empty()) {
            const TextFormat& f = *line.glyphs.front().format;
            SetColor(cr, f.color, cx, env);
            cairo_matrix_t cm = m.toCairo();
            cairo_set_matrix(cr, &cm);
            cairo_new_path(cr);
            cairo_arc(cr, x0 - f.size * 0.9, baseline - f.size * 0.3, f.size * 0.12, 0, 2 * M_PI);
            cairo_identity_matrix(cr);
            cairo_fill(cr);
        }
        for (const Placed& g : line.glyphs) {
            const TextFormat& f = *g.format;
            if (f.underline) {
                SetColor(cr, f.color, cx, env);
                cairo_matrix_t cm = m.toCairo();
                cairo_set_matrix(cr, &cm);
                double thickness = std::max(20.0, f.size / 16);
                cairo_rectangle(cr, x0 + g.x, baseline + thickness, g.advance, thickness);
                cairo_identity_matrix(cr);
                cairo_fill(cr);
            }
            if (g.c == U' ') continue;
            SetColor(cr, f.color, cx, env);
            if (f.font) {
                int i = GlyphIndex(*f.font, g.c);
                if (i >= 0 && static_cast<size_t>(i) < f.font->glyphs.size())
                    FillGlyph(cr, glyph(f.font->glyphs[i]),
                              m * Translate(x0 + g.x, baseline) * Scale(f.size / f.font->EmSize()));
            } else {
                cairo_matrix_t cm = m.toCairo();
                cairo_set_matrix(cr, &cm);
                cairo_select_font_face(cr, DeviceFamily(f.face).c_str(),
                                       f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                       f.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
                cairo_set_font_size(cr, f.size);
                cairo_move_to(cr, x0 + g.x, baseline);
                cairo_show_text(cr, Utf8(g.c).c_str());
                cairo_identity_matrix(cr);
            }
        }
        y += line.ascent + line.descent + line.leading + leading + line.extraLeading;
    }
    cairo_restore(cr);
    cairo_new_path(cr);
}

TextExtent MeasureEdit(const swf::EditText& field, const std::optional<std::string>& shownText, const Dictionary& dict) {
    // Device fonts are measured through cairo; a tiny surface is enough.
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    Laid laid = LayOut(cr, field, shownText, dict);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    TextExtent e;
    for (size_t i = 0; i < laid.lines.size(); ++i) {
        const Line& line = laid.lines[i];
        e.width = std::max(e.width, line.inked);
        // The font's own leading is not part of the measure.
        e.height += line.ascent + line.descent + laid.leading + line.extraLeading;
    }
    e.lines = int(laid.lines.size());
    if (!laid.lines.empty()) {
        e.ascent = laid.lines.front().ascent;
        e.descent = laid.lines.front().descent;
    }
    return e;
}

}  // namespace qm::flash::render

namespace qm::flash {

void ReleaseFontResources() {
    cairo_debug_reset_static_data();
    FcFini();
}

}  // namespace qm::flash
