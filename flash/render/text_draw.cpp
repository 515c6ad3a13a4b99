// Glyph text and text fields.
#include "flash/render/text_draw.h"
#include "flash/render/render.h"
#include "flash/text/layout.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace qm::flash::render {

namespace {

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

void TextRenderer::DrawEdit(cairo_t* cr, const swf::EditText& field, const std::optional<std::string>& shownText,
                            const Dictionary& dict, const Matrix& m, const ColorTransform& cx, const DrawEnv& env) {
    if (!Invertible(m)) return;
    const swf::Rect& b = field.bounds;
    const bool fill = field.background.value_or(field.border), line = field.border;
    const Rgba fillColour{uint8_t(field.background_color >> 16), uint8_t(field.background_color >> 8),
                          uint8_t(field.background_color), 255};
    const Rgba lineColour{uint8_t(field.border_color >> 16), uint8_t(field.border_color >> 8),
                          uint8_t(field.border_color), 255};
    if (fill || line) {
        if (m.b == 0 && m.c == 0) {
            // Unturned fields get a crisp box on whole pixels: one-pixel
            // lines on the box's outermost rows and columns.
            double xa = m.a * b.x_min + m.tx, xb = m.a * b.x_max + m.tx;
            double ya = m.d * b.y_min + m.ty, yb = m.d * b.y_max + m.ty;
            // To the nearest whole pixel, halves down.
            auto pixel = [](double v) { return std::ceil(v - 0.5); };
            double x0 = pixel(std::min(xa, xb)), x1 = pixel(std::max(xa, xb));
            double y0 = pixel(std::min(ya, yb)), y1 = pixel(std::max(ya, yb));
            if (fill) {
                // The far edge's own pixel belongs to the box only when the line is drawn on it.
                const double grow = line ? 1 : 0;
                cairo_rectangle(cr, x0, y0, x1 - x0 + grow, y1 - y0 + grow);
                SetColor(cr, fillColour, cx, env);
                cairo_fill(cr);
            }
            if (line) {
                // One-pixel lines on the box's outermost rows and columns; the far
                // corner is left out.
                cairo_rectangle(cr, x0, y0, x1 - x0 + 1, 1);
                cairo_rectangle(cr, x0, y0 + 1, 1, y1 - y0);
                if (y1 - y0 > 1) cairo_rectangle(cr, x1, y0 + 1, 1, y1 - y0 - 1);
                if (x1 - x0 > 1) cairo_rectangle(cr, x0 + 1, y1, x1 - x0 - 1, 1);
                SetColor(cr, lineColour, cx, env);
                cairo_fill(cr);
            }
        } else {
            cairo_matrix_t cm = m.toCairo();
            cairo_set_matrix(cr, &cm);
            cairo_rectangle(cr, b.x_min, b.y_min, b.x_max - b.x_min, b.y_max - b.y_min);
            cairo_identity_matrix(cr);
            if (fill) {
                SetColor(cr, fillColour, cx, env);
                cairo_fill_preserve(cr);
            }
            if (line) {
                SetColor(cr, lineColour, cx, env);
                cairo_set_line_width(cr, 1);
                cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
                cairo_stroke(cr);
            }
            cairo_new_path(cr);
        }
    }
    text::Layout laid = text::LayOut(field, text::ShownDocument(field, shownText, dict), dict);

    // Clip to the field's box.
    cairo_save(cr);
    {
        cairo_matrix_t cm = m.toCairo();
        cairo_set_matrix(cr, &cm);
        cairo_rectangle(cr, b.x_min, b.y_min, b.x_max - b.x_min, b.y_max - b.y_min);
        cairo_identity_matrix(cr);
        cairo_clip(cr);
    }
    for (const text::LayoutLine& line : laid.lines) {
        // The original puts each line's baseline on a whole pixel of the field.
        double baseline = b.y_min + std::floor((line.y + line.ascent - b.y_min) / 20) * 20;
        if (line.bullet && !line.glyphs.empty()) {
            const text::GlyphFormat& f = laid.formats[line.glyphs.front().format];
            SetColor(cr, ToRgba(f.color), cx, env);
            cairo_matrix_t cm = m.toCairo();
            cairo_set_matrix(cr, &cm);
            cairo_new_path(cr);
            cairo_arc(cr, line.x - f.size * 0.9, baseline - f.size * 0.3, f.size * 0.12, 0, 2 * M_PI);
            cairo_identity_matrix(cr);
            cairo_fill(cr);
        }
        for (const text::PlacedGlyph& g : line.glyphs) {
            const text::GlyphFormat& f = laid.formats[g.format];
            if (f.underline) {
                SetColor(cr, ToRgba(f.color), cx, env);
                cairo_matrix_t cm = m.toCairo();
                cairo_set_matrix(cr, &cm);
                double thickness = std::max(20.0, f.size / 16);
                cairo_rectangle(cr, line.x + g.x, baseline + thickness, g.advance, thickness);
                cairo_identity_matrix(cr);
                cairo_fill(cr);
            }
            if (g.c == U' ' || g.c == U'\t') continue;
            SetColor(cr, ToRgba(f.color), cx, env);
            if (f.font) {
                int i = text::GlyphIndex(*f.font, g.c);
                if (i >= 0 && static_cast<size_t>(i) < f.font->glyphs.size())
                    FillGlyph(cr, glyph(f.font->glyphs[i]),
                              m * Translate(line.x + g.x, baseline) * Scale(f.size / f.font->EmSize()));
            } else {
                cairo_matrix_t cm = m.toCairo();
                cairo_set_matrix(cr, &cm);
                cairo_select_font_face(cr, text::DeviceFamily(f.face).c_str(),
                                       f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                       f.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
                cairo_set_font_size(cr, f.size);
                cairo_move_to(cr, line.x + g.x, baseline);
                cairo_show_text(cr, text::Utf8(g.c).c_str());
                cairo_identity_matrix(cr);
            }
        }
    }
    cairo_restore(cr);
    cairo_new_path(cr);
}

}  // namespace qm::flash::render

namespace qm::flash {

void ReleaseFontResources() {
    cairo_debug_reset_static_data();
    FcFini();
}

}  // namespace qm::flash
