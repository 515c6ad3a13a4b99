// The formatted text of a text field: characters with their formats, read
// from and written back to the field's HTML subset.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm::flash::text {

// A text format; a setting that is not given (or that differs over a range
// of text) is empty.
struct TextStyle {
    // Of characters.
    std::optional<std::string> font;
    std::optional<double> size;  // pixels
    std::optional<uint32_t> color;
    std::optional<bool> bold, italic, underline;
    std::optional<std::string> url, target;
    std::optional<double> letter_spacing;
    std::optional<bool> kerning;
    // Of paragraphs.
    std::optional<std::string> align;  // "left", "right", "center", "justify"
    std::optional<double> left_margin, right_margin, indent, block_indent, leading;
    std::optional<std::vector<double>> tab_stops;
    std::optional<bool> bullet;

    bool operator==(const TextStyle&) const = default;
    // Every setting `over` gives replaces this one's.
    void Overlay(const TextStyle& over);
    // Keeps only the settings `other` has alike.
    void Intersect(const TextStyle& other);
    bool SameCharacters(const TextStyle& other) const;
};

class TextDocument {
public:
    // `defaults` gives every setting; text set later without its own format takes it.
    explicit TextDocument(TextStyle defaults) : default_(std::move(defaults)) {}

    const std::u32string& text() const { return text_; }
    const TextStyle& default_style() const { return default_; }
    void set_default_style(const TextStyle& s) { default_ = s; }

    // Plain text in the default format; every CR and every LF ends a paragraph.
    void SetPlain(const std::u32string& text);
    // The HTML subset (p, br, li, font, b, i, u, a, textformat, span); one-line
    // fields take no paragraph ends from p, li and br, only from line ends.
    void SetHtml(const std::string& html, bool multiline, bool condense_white);
    // The text as the field gives its htmlText back.
    std::string Html() const;
    // Replaces [begin, end) by `text` in `style` (the format of the text
    // replaced when none is given).
    void Replace(size_t begin, size_t end, const std::u32string& text, const std::optional<TextStyle>& style);
    // The format of [begin, end): settings that differ are empty. An empty
    // range gives the format of the character before it.
    TextStyle StyleOf(size_t begin, size_t end) const;
    // The given settings over [begin, end); paragraph settings take whole paragraphs.
    void ApplyStyle(size_t begin, size_t end, const TextStyle& style);
    // The runs of equal format, for drawing: [begin, end) and its format.
    struct Run {
        size_t begin, end;
        const TextStyle* style;
    };
    std::vector<Run> Runs() const;
    const TextStyle& StyleAt(size_t i) const { return i < styles_.size() ? styles_[i] : default_; }

private:
    std::u32string text_;
    std::vector<TextStyle> styles_;  // one per character
    TextStyle default_;
};

std::u32string Utf32(const std::string& utf8);
std::string Utf8(const std::u32string& text);
std::string Utf8(char32_t c);

}  // namespace qm::flash::text
