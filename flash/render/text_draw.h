// Static text, and dynamic/input text fields laid out from their text or HTML.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "flash/dictionary.h"
#include "flash/render/drawable.h"

namespace qm::flash::render {

// Paragraph spacing, in twips.
struct BlockFormat {
    double leftMargin = 0, rightMargin = 0, indent = 0, blockIndent = 0, leading = 0;
};

struct TextFormat {
    const swf::Font* font = nullptr;  // embedded glyphs, when used
    std::string face;                  // device font name otherwise
    double size = 240;                 // twips
    Rgba color{0, 0, 0, 255};
    bool bold = false, italic = false, underline = false;
    BlockFormat block;  // taken by the paragraphs that start under it
};

struct TextRun {
    std::u32string text;
    TextFormat format;
};

enum class ParagraphAlign { Left, Right, Center, Justify };

struct Paragraph {
    std::vector<TextRun> runs;
    ParagraphAlign align = ParagraphAlign::Left;
    bool bullet = false;
    BlockFormat block;
};

// The HTML subset of text fields: p, br, font, b, i, u, li, textformat, and
// the usual entities. Unknown tags are dropped, their text kept. Faces named
// by the markup take embedded fonts when `embedded`.
std::vector<Paragraph> ParseFieldHtml(const std::string& html, const TextFormat& base, ParagraphAlign align,
                                      const Dictionary* fonts, bool embedded = false);
// Plain text: a new paragraph at every CR, LF or CR LF.
std::vector<Paragraph> PlainParagraphs(const std::string& text, const TextFormat& base, ParagraphAlign align);

std::u32string DecodeUtf8(const std::string& s);
std::string Utf8(char32_t c);

// The extent of a field's text as laid out in its box, twips: the widest
// line without its trailing spaces, and the lines' heights with their leading.
struct TextExtent {
    double width = 0, height = 0;
    double ascent = 0, descent = 0;  // of the first line
    int lines = 0;
};
TextExtent MeasureEdit(const swf::EditText& field, const std::optional<std::string>& shownText, const Dictionary& dict);

struct TextRenderer {
    std::function<const Drawable&(const swf::Shape&)> glyph;

    void DrawStatic(cairo_t* cr, const swf::Text& text, const Dictionary& dict, const Matrix& m,
                    const ColorTransform& cx, const DrawEnv& env);
    void DrawEdit(cairo_t* cr, const swf::EditText& field, const std::optional<std::string>& shownText,
                  const Dictionary& dict, const Matrix& m, const ColorTransform& cx, const DrawEnv& env);
};

}  // namespace qm::flash::render
