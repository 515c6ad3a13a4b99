// The one layout of a text field: its document broken into lines of placed
// glyphs. Scripts read their measures (textWidth, scroll, ...) from it and
// the renderer draws it, so what a script measures is what is drawn.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flash/dictionary.h"
#include "flash/text/document.h"

namespace qm::flash::text {

// A character format resolved for drawing; lengths in twips.
struct GlyphFormat {
    const swf::Font* font = nullptr;  // embedded glyphs, else a device font named `face`
    std::string face;
    double size = 240;
    swf::Rgba color{0, 0, 0, 255};
    bool bold = false, italic = false, underline = false;
    double letter_spacing = 0;
};

enum class Align { Left, Right, Center, Justify };

struct PlacedGlyph {
    char32_t c;
    size_t index;   // in the document
    size_t format;  // into Layout::formats
    double x;       // from the line's left edge
    double advance;
};

struct LayoutLine {
    std::vector<PlacedGlyph> glyphs;
    size_t begin = 0, end = 0;  // the document's characters on the line, its end included
    double x = 0;               // left edge of the text in the field's space
    double y = 0;               // top of the line in the field's space
    double ascent = 0, descent = 0, leading = 0;  // leading: the space below the line
    double width = 0;           // without trailing spaces
    Align align = Align::Left;
    bool bullet = false;  // the paragraph's first line shows its bullet
    bool wrapped = false;
};

struct Layout {
    std::vector<GlyphFormat> formats;
    std::vector<LayoutLine> lines;
    double text_width = 0, text_height = 0;  // twips, as textWidth and textHeight measure
};

// Twips between the field's box and its text.
constexpr double kGutter = 40;

// Every setting of a field made from its definition.
TextStyle DefinitionStyle(const swf::EditText& field, const Dictionary& dict);
// The document a field shows: `shown` is the markup the text model wrote for
// it, else the field's own initial text.
TextDocument ShownDocument(const swf::EditText& field, const std::optional<std::string>& shown, const Dictionary& dict);

Layout LayOut(const swf::EditText& field, const TextDocument& doc, const Dictionary& dict);

// The embedded font of that name whose style matches best; null when none.
const swf::Font* EmbeddedFont(const Dictionary& dict, const std::string& name, bool bold, bool italic);
int GlyphIndex(const swf::Font& font, char32_t c);
std::string DeviceFamily(const std::string& face);

}  // namespace qm::flash::text
