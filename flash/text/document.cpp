// Formatted field text: the HTML subset read into characters with formats,
// and written back the way the field gives its htmlText.
#include "flash/text/document.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>


namespace qm::flash::text {

// Text that is not UTF-8 keeps its bytes as Latin-1.
std::u32string Utf32(const std::string& s) {
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

std::string Utf8(const std::u32string& text) {
    std::string s;
    s.reserve(text.size());
    for (char32_t c : text) s += Utf8(c);
    return s;
}

void TextStyle::Overlay(const TextStyle& o) {
    auto take = [](auto& mine, const auto& theirs) {
        if (theirs) mine = theirs;
    };
    take(font, o.font);
    take(size, o.size);
    take(color, o.color);
    take(bold, o.bold);
    take(italic, o.italic);
    take(underline, o.underline);
    take(url, o.url);
    take(target, o.target);
    take(letter_spacing, o.letter_spacing);
    take(kerning, o.kerning);
    take(align, o.align);
    take(left_margin, o.left_margin);
    take(right_margin, o.right_margin);
    take(indent, o.indent);
    take(block_indent, o.block_indent);
    take(leading, o.leading);
    take(tab_stops, o.tab_stops);
    take(bullet, o.bullet);
}

void TextStyle::Intersect(const TextStyle& o) {
    auto keep = [](auto& mine, const auto& theirs) {
        if (mine != theirs) mine.reset();
    };
    keep(font, o.font);
    keep(size, o.size);
    keep(color, o.color);
    keep(bold, o.bold);
    keep(italic, o.italic);
    keep(underline, o.underline);
    keep(url, o.url);
    keep(target, o.target);
    keep(letter_spacing, o.letter_spacing);
    keep(kerning, o.kerning);
    keep(align, o.align);
    keep(left_margin, o.left_margin);
    keep(right_margin, o.right_margin);
    keep(indent, o.indent);
    keep(block_indent, o.block_indent);
    keep(leading, o.leading);
    keep(tab_stops, o.tab_stops);
    keep(bullet, o.bullet);
}

bool TextStyle::SameCharacters(const TextStyle& o) const {
    return font == o.font && size == o.size && color == o.color && bold == o.bold && italic == o.italic &&
           underline == o.underline && url == o.url && target == o.target && letter_spacing == o.letter_spacing &&
           kerning == o.kerning;
}

namespace {

// Each CR and each LF ends a paragraph: CR LF makes two.
std::u32string LineEndsToCr(const std::u32string& text) {
    std::u32string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i] == U'\n' ? U'\r' : text[i];
    }
    return out;
}

std::string Lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The attributes of a tag's text after its name, names in lower case.
std::vector<std::pair<std::string, std::string>> Attributes(const std::string& tag, size_t from) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t i = from;
    auto space = [&](size_t k) { return k < tag.size() && std::isspace(static_cast<unsigned char>(tag[k])); };
    while (i < tag.size()) {
        while (space(i) || (i < tag.size() && tag[i] == '/')) ++i;
        size_t name_start = i;
        while (i < tag.size() && !space(i) && tag[i] != '=' && tag[i] != '/') ++i;
        std::string name = Lower(tag.substr(name_start, i - name_start));
        while (space(i)) ++i;
        std::string value;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (space(i)) ++i;
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                char q = tag[i];
                size_t end = tag.find(q, i + 1);
                if (end == std::string::npos) end = tag.size();
                value = tag.substr(i + 1, end - i - 1);
                i = end + 1;
            } else {
                size_t start = i;
                while (i < tag.size() && !space(i)) ++i;
                value = tag.substr(start, i - start);
            }
        }
        if (!name.empty()) out.emplace_back(name, value);
        else if (i == name_start) ++i;
    }
    return out;
}

// Numbers of attributes: leading digits count, the rest is ignored.
std::optional<double> AttributeNumber(const std::string& v) {
    const char* s = v.c_str();
    char* end = nullptr;
    double d = std::strtod(s, &end);
    if (end == s || !std::isfinite(d)) return std::nullopt;
    return d;
}

std::u32string Entity(const std::string& name) {
    if (name == "lt") return U"<";
    if (name == "gt") return U">";
    if (name == "amp") return U"&";
    if (name == "quot") return U"\"";
    if (name == "apos") return U"'";
    if (name == "nbsp") return U"\u00A0";
    if (name.size() > 1 && name[0] == '#') {
        bool hex = name[1] == 'x' || name[1] == 'X';
        const char* digits = name.c_str() + (hex ? 2 : 1);
        char* end = nullptr;
        unsigned long v = std::strtoul(digits, &end, hex ? 16 : 10);
        if (end != digits && *end == 0 && v > 0 && v < 0x110000) return std::u32string(1, char32_t(v));
    }
    return {};
}

std::string Number(double d) {
    if (d == std::floor(d) && std::fabs(d) < 1e15) return std::to_string(static_cast<long long>(d));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", d);
    return buffer;
}

std::string Upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Escape(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) {
        switch (c) {
        case U'<': out += "&lt;"; break;
        case U'>': out += "&gt;"; break;
        case U'&': out += "&amp;"; break;
        case U'"': out += "&quot;"; break;
        case U'\'': out += "&apos;"; break;
        default: out += Utf8(c);
        }
    }
    return out;
}

std::string Hex(uint32_t colour) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "#%06X", unsigned(colour & 0xFFFFFF));
    return buffer;
}

bool FontAlike(const TextStyle& a, const TextStyle& b) {
    return a.font == b.font && a.size == b.size && a.color == b.color && a.letter_spacing == b.letter_spacing &&
           a.kerning == b.kerning;
}

// The FONT attributes of `to` that differ from `from` (all of them without `from`).
std::string FontTag(const TextStyle& to, const TextStyle* from) {
    std::string tag = "<FONT";
    if (!from || from->font != to.font) tag += " FACE=\"" + Escape(Utf32(to.font.value_or(""))) + "\"";
    if (!from || from->size != to.size) tag += " SIZE=\"" + Number(std::round(to.size.value_or(12))) + "\"";
    if (!from || from->color != to.color) tag += " COLOR=\"" + Hex(to.color.value_or(0)) + "\"";
    if (!from || from->letter_spacing != to.letter_spacing)
        tag += " LETTERSPACING=\"" + Number(to.letter_spacing.value_or(0)) + "\"";
    if (!from || from->kerning != to.kerning) tag += std::string(" KERNING=\"") + (to.kerning.value_or(false) ? "1" : "0") + "\"";
    return tag + ">";
}

}  // namespace

void TextDocument::SetPlain(const std::u32string& text) {
    text_ = LineEndsToCr(text);
    styles_.assign(text_.size(), default_);
}

void TextDocument::SetHtml(const std::string& html, bool multiline, bool condense_white) {
    text_.clear();
    styles_.clear();
    struct Open {
        std::string name;
        TextStyle style;
    };
    std::vector<Open> stack{{"", default_}};
    auto put = [&](char32_t c) {
        text_ += c;
        styles_.push_back(stack.back().style);
    };
    bool last_white = false;
    size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            size_t end = html.find('>', i);
            if (end == std::string::npos) break;  // an unclosed tag ends the text
            std::string tag = html.substr(i + 1, end - i - 1);
            i = end + 1;
            if (tag.empty() || tag[0] == '!' || tag[0] == '?') continue;
            bool closing = tag[0] == '/';
            size_t name_start = closing ? 1 : 0;
            size_t name_end = name_start;
            while (name_end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[name_end])) && tag[name_end] != '/')
                ++name_end;
            std::string name = Lower(tag.substr(name_start, name_end - name_start));
            if (closing) {
                auto it = std::find_if(stack.rbegin(), stack.rend(), [&](const Open& o) { return o.name == name; });
                if (it == stack.rend() || stack.size() < 2) continue;
                if (multiline && (name == "p" || name == "li")) {
                    // A paragraph's end takes the character format of the
                    // text before it, the paragraph's own settings beside.
                    TextStyle end_style = stack.back().style;
                    if (!text_.empty() && text_.back() != U'\r') {
                        const TextStyle& last = styles_.back();
                        end_style.font = last.font;
                        end_style.size = last.size;
                        end_style.color = last.color;
                        end_style.bold = last.bold;
                        end_style.italic = last.italic;
                        end_style.underline = last.underline;
                        end_style.url = last.url;
                        end_style.target = last.target;
                        end_style.letter_spacing = last.letter_spacing;
                        end_style.kerning = last.kerning;
                    }
                    text_ += U'\r';
                    styles_.push_back(end_style);
                }
                stack.erase(std::next(it).base(), stack.end());
                continue;
            }
            if (name == "br") {
                if (multiline) put(U'\r');
                continue;
            }
            TextStyle s = stack.back().style;
            auto attributes = Attributes(tag, name_end);
            if (name == "b") s.bold = true;
            else if (name == "i") s.italic = true;
            else if (name == "u") s.underline = true;
            else if (name == "li") s.bullet = true;
            else if (name == "p") {
                for (auto& [key, value] : attributes) {
                    std::string a = Lower(value);
                    if (key == "align" && (a == "left" || a == "right" || a == "center" || a == "justify")) s.align = a;
                }
            } else if (name == "a") {
                for (auto& [key, value] : attributes) {
                    if (key == "href") s.url = value;
                    else if (key == "target") s.target = value;
                }
            } else if (name == "font") {
                for (auto& [key, value] : attributes) {
                    if (key == "face") s.font = value;
                    else if (key == "size" && !value.empty()) {
                        if (auto n = AttributeNumber(value[0] == '+' ? value.substr(1) : value)) {
                            double size = value[0] == '+' || value[0] == '-' ? s.size.value_or(12) + *n : *n;
                            s.size = std::max(0.0, std::round(size));
                        }
                    } else if (key == "color" && !value.empty() && value[0] == '#') {
                        // The hex digits that lead; none leaves the colour as it was.
                        char* end = nullptr;
                        unsigned long v = std::strtoul(value.c_str() + 1, &end, 16);
                        if (end != value.c_str() + 1 && std::isxdigit(static_cast<unsigned char>(value[1])))
                            s.color = uint32_t(v & 0xFFFFFF);
                    } else if (key == "letterspacing") {
                        if (auto n = AttributeNumber(value)) s.letter_spacing = *n;
                    } else if (key == "kerning") {
                        if (auto n = AttributeNumber(value)) s.kerning = *n != 0;
                    }
                }
            } else if (name == "textformat") {
                for (auto& [key, value] : attributes) {
                    auto n = AttributeNumber(value);
                    if (key == "tabstops") {
                        std::vector<double> stops;
                        size_t from = 0;
                        while (from <= value.size()) {
                            size_t comma = value.find(',', from);
                            if (comma == std::string::npos) comma = value.size();
                            if (auto stop = AttributeNumber(value.substr(from, comma - from))) stops.push_back(*stop);
                            from = comma + 1;
                        }
                        s.tab_stops = stops;
                    }
                    if (!n) continue;
                    if (key == "leftmargin") s.left_margin = *n;
                    else if (key == "rightmargin") s.right_margin = *n;
                    else if (key == "indent") s.indent = *n;
                    else if (key == "blockindent") s.block_indent = *n;
                    else if (key == "leading") s.leading = *n;
                }
            } else if (name != "span") {
                continue;  // unknown tags are dropped, their text kept
            }
            if (!tag.empty() && tag.back() == '/') continue;  // an empty element
            stack.push_back({name, s});
            continue;
        }
        std::u32string chunk;
        if (c == '&') {
            size_t semi = html.find(';', i);
            if (semi != std::string::npos && semi - i <= 10) {
                chunk = Entity(html.substr(i + 1, semi - i - 1));
                if (!chunk.empty()) i = semi + 1;
            }
            if (chunk.empty()) {
                chunk = U"&";
                ++i;
            }
            for (char32_t ch : chunk) {
                put(ch);
                last_white = false;
            }
            continue;
        }
        size_t next = html.find_first_of("<&", i);
        if (next == std::string::npos) next = html.size();
        chunk = Utf32(html.substr(i, next - i));
        i = next;
        for (size_t k = 0; k < chunk.size(); ++k) {
            char32_t ch = chunk[k];
            bool white = ch == U' ' || ch == U'\t' || ch == U'\r' || ch == U'\n';
            if (condense_white && white) {
                // Runs become one space; none where a paragraph starts.
                if (!last_white && !text_.empty() && text_.back() != U'\r') put(U' ');
                last_white = true;
                continue;
            }
            last_white = false;
            if (ch == U'\r' && k + 1 < chunk.size() && chunk[k + 1] == U'\n') continue;
            put(ch == U'\n' ? U'\r' : ch);
        }
    }
}

std::vector<TextDocument::Run> TextDocument::Runs() const {
    std::vector<Run> runs;
    for (size_t i = 0; i < text_.size(); ++i) {
        if (!runs.empty() && styles_[runs.back().begin] == styles_[i]) runs.back().end = i + 1;
        else runs.push_back({i, i + 1, &styles_[i]});
    }
    return runs;
}

std::string TextDocument::Html() const {
    std::string out;
    size_t start = 0;
    while (start < text_.size()) {
        size_t end = text_.find(U'\r', start);
        end = end == std::u32string::npos ? text_.size() : end + 1;  // the paragraph with its end
        const TextStyle& p = styles_[start];
        std::string block;
        auto attr = [&](const char* name, const std::optional<double>& v) {
            if (v && std::round(*v) != 0) block += std::string(" ") + name + "=\"" + Number(std::round(*v)) + "\"";
        };
        attr("LEFTMARGIN", p.left_margin);
        attr("RIGHTMARGIN", p.right_margin);
        attr("INDENT", p.indent);
        attr("BLOCKINDENT", p.block_indent);
        attr("LEADING", p.leading);
        if (p.tab_stops && !p.tab_stops->empty()) {
            block += " TABSTOPS=\"";
            for (size_t k = 0; k < p.tab_stops->size(); ++k) block += (k ? "," : "") + Number((*p.tab_stops)[k]);
            block += "\"";
        }
        if (!block.empty()) out += "<TEXTFORMAT" + block + ">";
        bool bullet = p.bullet.value_or(false);
        out += bullet ? "<LI>" : "<P ALIGN=\"" + Upper(p.align.value_or("left")) + "\">";
        std::vector<const TextStyle*> fonts;
        // The paragraph's end is not written, so its format makes no run of
        // its own unless the paragraph is empty.
        size_t stop = end - start > 1 && text_[end - 1] == U'\r' ? end - 1 : end;
        size_t i = start;
        while (i < stop) {
            size_t j = i + 1;
            while (j < stop && styles_[j].SameCharacters(styles_[i])) ++j;
            const TextStyle& s = styles_[i];
            std::u32string run = text_.substr(i, j - i);
            if (!run.empty() && run.back() == U'\r') run.pop_back();
            // Back to an enclosing font that matches, else one more inside.
            auto alike = std::find_if(fonts.rbegin(), fonts.rend(), [&](const TextStyle* f) { return FontAlike(*f, s); });
            if (alike != fonts.rend()) {
                size_t keep = size_t(fonts.rend() - alike);
                while (fonts.size() > keep) {
                    out += "</FONT>";
                    fonts.pop_back();
                }
            } else {
                out += FontTag(s, fonts.empty() ? nullptr : fonts.back());
                fonts.push_back(&s);
            }
            bool link = s.url && !s.url->empty();
            if (link)
                out += "<A HREF=\"" + Escape(Utf32(*s.url)) + "\" TARGET=\"" + Escape(Utf32(s.target.value_or(""))) + "\">";
            if (s.bold.value_or(false)) out += "<B>";
            if (s.italic.value_or(false)) out += "<I>";
            if (s.underline.value_or(false)) out += "<U>";
            out += Escape(run);
            if (s.underline.value_or(false)) out += "</U>";
            if (s.italic.value_or(false)) out += "</I>";
            if (s.bold.value_or(false)) out += "</B>";
            if (link) out += "</A>";
            i = j;
        }
        for (size_t k = 0; k < fonts.size(); ++k) out += "</FONT>";
        out += bullet ? "</LI>" : "</P>";
        if (!block.empty()) out += "</TEXTFORMAT>";
        start = end;
    }
    return out;
}

void TextDocument::Replace(size_t begin, size_t end, const std::u32string& text, const std::optional<TextStyle>& style) {
    begin = std::min(begin, text_.size());
    end = std::clamp(end, begin, text_.size());
    TextStyle s = style ? *style : (begin < text_.size() ? styles_[begin] : begin > 0 ? styles_[begin - 1] : default_);
    std::u32string given = LineEndsToCr(text);
    text_.replace(begin, end - begin, given);
    styles_.erase(styles_.begin() + std::ptrdiff_t(begin), styles_.begin() + std::ptrdiff_t(end));
    styles_.insert(styles_.begin() + std::ptrdiff_t(begin), given.size(), s);
}

TextStyle TextDocument::StyleOf(size_t begin, size_t end) const {
    end = std::min(end, text_.size());
    if (begin >= end) {
        if (text_.empty()) return default_;
        size_t at = std::min(begin, text_.size());
        return styles_[at > 0 ? at - 1 : 0];
    }
    TextStyle s = styles_[begin];
    for (size_t i = begin + 1; i < end; ++i)
        if (!(styles_[i] == s)) s.Intersect(styles_[i]);
    return s;
}

void TextDocument::ApplyStyle(size_t begin, size_t end, const TextStyle& style) {
    end = std::min(end, text_.size());
    if (begin >= end) return;
    TextStyle chars = style;
    chars.align.reset();
    chars.left_margin.reset();
    chars.right_margin.reset();
    chars.indent.reset();
    chars.block_indent.reset();
    chars.leading.reset();
    chars.tab_stops.reset();
    chars.bullet.reset();
    for (size_t i = begin; i < end; ++i) styles_[i].Overlay(chars);
    TextStyle para;
    para.align = style.align;
    para.left_margin = style.left_margin;
    para.right_margin = style.right_margin;
    para.indent = style.indent;
    para.block_indent = style.block_indent;
    para.leading = style.leading;
    para.tab_stops = style.tab_stops;
    para.bullet = style.bullet;
    if (para == TextStyle{}) return;
    // Whole paragraphs: from the start of the first to the end of the last.
    size_t from = begin;
    while (from > 0 && text_[from - 1] != U'\r') --from;
    size_t to = end;
    if (to > 0 && text_[to - 1] == U'\r') {
    } else {
        while (to < text_.size() && text_[to] != U'\r') ++to;
        if (to < text_.size()) ++to;
    }
    for (size_t i = from; i < to; ++i) styles_[i].Overlay(para);
}

}  // namespace qm::flash::text
