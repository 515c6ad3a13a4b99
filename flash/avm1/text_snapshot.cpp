// TextSnapshot: the static text of a clip, read from its glyphs' codes in
// the order of depths, with a line end wherever a text record moves down.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

// A snapshot keeps one entry per character: the character, led by "\n"
// when a line ends before it.
std::vector<std::string> SnapshotOf(Interpreter& in, const DisplayObject& clip) {
    std::vector<std::string> out;
    const Dictionary& dict = in.env()->Characters();
    for (auto it = clip.children.begin(); it != clip.children.end(); ++it) {
        const DisplayObject& child = *it->second;
        const swf::Text* text = child.character ? child.character->As<swf::Text>() : nullptr;
        if (!text) continue;
        // Fonts of the first kind keep their codes in their font info.
        const std::vector<uint16_t>* codes = nullptr;
        bool line_end = !out.empty();
        int32_t y = 0;
        for (const swf::TextRecord& rec : text->records) {
            if (rec.font_id) {
                const Character* ch = dict.Find(*rec.font_id);
                const swf::Font* font = ch ? ch->As<swf::Font>() : nullptr;
                codes = font ? &font->codes : nullptr;
                if (font && font->codes.empty() && ch->font_info) codes = &ch->font_info->codes;
            }
            // A record placed lower starts a new line.
            if (rec.y_offset && *rec.y_offset != y && !out.empty()) line_end = true;
            if (rec.y_offset) y = *rec.y_offset;
            for (const swf::GlyphEntry& g : rec.glyphs) {
                if (!codes || g.index >= codes->size()) continue;
                std::string c = Utf8(char32_t((*codes)[g.index]));
                out.push_back(line_end ? "\n" + c : c);
                line_end = false;
            }
        }
    }
    return out;
}

// The snapshot's characters sit in the object's element list, kept from scripts.
const std::vector<Value>* Entries(const Value& self) {
    auto* o = std::get_if<ObjRef>(&self);
    return o && *o && (*o)->kind == Kind::Plain && (*o)->text_snapshot ? &(*o)->elems : nullptr;
}

std::string Joined(const std::vector<Value>& e, size_t from, size_t to, bool line_ends) {
    std::string out;
    for (size_t i = from; i < to && i < e.size(); ++i) {
        const std::string& c = std::get<std::string>(e[i]);
        out += i > from && line_ends ? c : (c[0] == '\n' ? c.substr(1) : c);
    }
    return out;
}

std::u32string Folded(std::u32string s) {
    for (auto& c : s)
        if (c < 0x80) c = char32_t(std::tolower(int(c)));
    return s;
}

}  // namespace

void InstallTextSnapshot(Interpreter& in) {
    ObjRef proto = in.NewObject();
    // new TextSnapshot(clip)
    in.DefineClass("TextSnapshot", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        auto* given = args.empty() ? nullptr : std::get_if<ObjRef>(&args[0]);
        DisplayObject* clip = given && *given ? in.ClipOf(*given) : nullptr;
        if (!o || !*o || !clip || !clip->sprite) return Undefined{};
        (*o)->text_snapshot = true;
        for (std::string& c : SnapshotOf(in, *clip)) (*o)->elems.push_back(std::move(c));
        return Undefined{};
    }, proto, false);
    in.Method(in.clip_proto_, "getTextSnapshot", [proto](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        DisplayObject* clip = o ? in.ClipOf(*o) : nullptr;
        if (!clip || !clip->sprite) return Undefined{};
        ObjRef snap = in.NewObject();
        snap->proto = proto;
        snap->text_snapshot = true;
        for (std::string& c : SnapshotOf(in, *clip)) snap->elems.push_back(std::move(c));
        return snap;
    });
    using Fn = std::function<Value(Interpreter&, const std::vector<Value>&, std::vector<Value>&)>;
    auto method = [&](const char* name, Fn fn) {
        in.Method(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            const std::vector<Value>* e = Entries(self);
            if (!e) return Undefined{};
            return fn(in, *e, args);
        });
    };
    // Created in this order, so listed in the reverse.
    method("getCount", [](Interpreter&, const std::vector<Value>& e, std::vector<Value>& args) -> Value {
        if (!args.empty()) return Undefined{};
        return double(e.size());
    });
    method("setSelected", [](Interpreter&, const std::vector<Value>&, std::vector<Value>&) -> Value { return Undefined{}; });
    method("getSelected", [](Interpreter&, const std::vector<Value>&, std::vector<Value>& args) -> Value {
        if (args.size() != 2) return Undefined{};
        return false;
    });
    // getText(start, end [, line ends]): at least one character, both ends cut to the text.
    method("getText", [](Interpreter& in, const std::vector<Value>& e, std::vector<Value>& args) -> Value {
        if (args.size() < 2 || args.size() > 3) return Undefined{};
        if (e.empty()) return std::string();
        double last = double(e.size()) - 1;
        double from = std::clamp(std::trunc(in.ToNumber(args[0])), 0.0, last);
        double to = std::clamp(std::trunc(in.ToNumber(args[1])), 0.0, last + 1);
        if (std::isnan(from)) from = 0;
        if (!(to > from)) to = from + 1;
        bool line_ends = args.size() == 3 && in.ToBoolean(args[2]);
        return Joined(e, size_t(from), size_t(to), line_ends);
    });
    method("getSelectedText", [](Interpreter&, const std::vector<Value>&, std::vector<Value>& args) -> Value {
        if (args.size() > 1) return Undefined{};
        return std::string();
    });
    method("hitTestTextNearPos", [](Interpreter&, const std::vector<Value>&, std::vector<Value>& args) -> Value {
        if (args.size() < 2) return Undefined{};
        return -1.0;
    });
    // findText(start, text, caseSensitive): the first index from start, -1 when absent.
    method("findText", [](Interpreter& in, const std::vector<Value>& e, std::vector<Value>& args) -> Value {
        if (args.size() != 3) return Undefined{};
        double start = in.ToNumber(args[0]);
        std::u32string all = Utf32(Joined(e, 0, e.size(), false));
        std::u32string wanted = Utf32(in.ToString(args[1]));
        if (!in.ToBoolean(args[2])) {
            all = Folded(all);
            wanted = Folded(wanted);
        }
        if (!(start >= 0) || start > double(all.size())) return -1.0;
        size_t at = all.find(wanted, size_t(start));
        return at == std::u32string::npos || wanted.empty() ? -1.0 : double(at);
    });
    method("setSelectColor", [](Interpreter&, const std::vector<Value>&, std::vector<Value>&) -> Value { return Undefined{}; });
    method("getTextRunInfo", [](Interpreter& in, const std::vector<Value>&, std::vector<Value>& args) -> Value {
        if (args.size() != 2) return Undefined{};
        return in.NewArray();
    });
    for (Property& p : proto->props)
        if (p.name != "constructor") p.flags &= uint16_t(~kDontEnum);
}

}  // namespace qm::flash::avm1
