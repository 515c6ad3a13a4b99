// XMLNode and XML: a tree of element and text nodes, parsed from text and
// written back as text.
#include <algorithm>
#include <optional>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/loadvars.h"
#include "flash/text/document.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

std::shared_ptr<XmlNode> NodeOf(const Value& v) {
    auto* o = std::get_if<ObjRef>(&v);
    return o && *o ? (*o)->xml : nullptr;
}

ObjRef Children(const ObjRef& node) { return node->xml->children; }

ObjRef ParentOf(const ObjRef& node) { return node->xml->parent.lock(); }

// An attribute that declares a namespace: any name beginning "xmlns". Only
// "xmlns:" names a prefix (what follows it); every other form, "xmlnsabc" too,
// declares the default one.
std::optional<std::string> DeclaredPrefix(const std::string& attribute) {
    if (attribute.rfind("xmlns", 0) != 0) return std::nullopt;
    if (attribute.size() > 5 && attribute[5] == ':') return attribute.substr(6);
    return std::string();
}

size_t IndexIn(const ObjRef& parent, const ObjRef& child) {
    auto& e = Children(parent)->elems;
    for (size_t i = 0; i < e.size(); ++i)
        if (auto* o = std::get_if<ObjRef>(&e[i]); o && *o == child) return i;
    return e.size();
}

void Detach(const ObjRef& node) {
    ObjRef parent = ParentOf(node);
    if (!parent || !parent->xml) return;
    auto& e = Children(parent)->elems;
    size_t i = IndexIn(parent, node);
    if (i < e.size()) e.erase(e.begin() + ptrdiff_t(i));
    node->xml->parent.reset();
}

// True when `node` is `of` or one of its ancestors: such an insertion would
// make a cycle.
bool IsSelfOrAncestor(const ObjRef& node, ObjRef of) {
    for (int guard = 0; of && guard < 100000; ++guard) {
        if (of == node) return true;
        of = of->xml ? of->xml->parent.lock() : nullptr;
    }
    return false;
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

void AppendUtf8(std::string& out, uint32_t cp);

std::string Unescape(const std::string& s) {
    static const std::pair<const char*, char> entities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < s.size();) {
        bool done = false;
        if (s[i] == '&') {
            for (auto& [name, c] : entities) {
                size_t n = std::char_traits<char>::length(name);
                if (s.compare(i, n, name) == 0) {
                    out += c;
                    i += n;
                    done = true;
                    break;
                }
            }
        }
        if (!done && s[i] == '&' && i + 2 < s.size() && s[i + 1] == '#') {
            size_t semi = s.find(';', i);
            bool hex = s[i + 2] == 'x' || s[i + 2] == 'X';
            size_t from = i + (hex ? 3 : 2);
            if (semi != std::string::npos && semi > from && semi - from <= 6) {
                std::string digits = s.substr(from, semi - from);
                if (digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos) {
                    unsigned long cp = std::stoul(digits, nullptr, hex ? 16 : 10);
                    if (cp > 0 && cp < 0x110000) {
                        AppendUtf8(out, uint32_t(cp));
                        i = semi + 1;
                        done = true;
                    }
                }
            }
        }
        if (!done) out += s[i++];
    }
    return out;
}

void AppendUtf8(std::string& out, uint32_t cp) { out += text::Utf8(char32_t(cp)); }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

void Interpreter::InstallXml() {
    ObjRef node_proto = NewObject();
    ObjRef xml_proto = NewObject(node_proto);

    auto make_node = [this](Interpreter& in, int type, const Value& text, const ObjRef& proto) {
        // Nodes take the prototype XMLNode has at the time, which scripts may replace.
        ObjRef use = proto;
        if (!use) {
            Value p = xml_node_ctor_ ? in.GetOf(xml_node_ctor_, "prototype", xml_node_ctor_) : Value(Undefined{});
            auto* po = std::get_if<ObjRef>(&p);
            use = po ? *po : in.object_proto_;
        }
        ObjRef o = in.NewObject(use);
        o->xml = std::make_shared<XmlNode>();
        o->xml->type = type;
        o->xml->name = Null{};
        o->xml->value = Null{};
        if (type == 1 && !std::holds_alternative<Undefined>(text) && !std::holds_alternative<Null>(text))
            o->xml->name = in.ToString(text);
        if (type != 1) o->xml->value = in.ToString(text);
        o->xml->attributes = in.NewObject();
        o->xml->children = in.NewArray();
        return o;
    };
    xml_make_node_ = make_node;

    // Puts `child` under `parent` before `before` (at the end when null),
    // taking it from another parent; a node never goes under itself or its
    // own children.
    auto insert = [](const ObjRef& parent, const ObjRef& child, const ObjRef& before) {
        // A child of the same parent stays where it is.
        if (!parent->xml || !child->xml || ParentOf(child) == parent || IsSelfOrAncestor(child, parent)) return;
        Detach(child);
        // childNodes is the children as the tree holds them: what a script
        // pushed onto the array itself is dropped with the next change.
        auto& e = Children(parent)->elems;
        std::vector<Value> kept;
        for (const Value& v : e)
            if (auto* c = std::get_if<ObjRef>(&v); c && *c && (*c)->xml && ParentOf(*c) == parent &&
                std::find(kept.begin(), kept.end(), v) == kept.end())
                kept.push_back(v);
        e.swap(kept);
        auto at = before ? std::find(e.begin(), e.end(), Value(before)) : e.end();
        e.insert(at, child);
        child->xml->parent = parent;
    };

    xml_node_ctor_ = DefineClass("XMLNode", [make_node](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        if (!o || !*o) return Undefined{};
        int type = args.empty() ? 1 : in.ToInt32(args[0]);
        ObjRef made = make_node(in, type, Arg(args, 1), *o);
        (*o)->xml = made->xml;
        return Undefined{};
    }, node_proto, false);

    auto getter = [&](const std::string& name, std::function<Value(Interpreter&, const ObjRef&)> fn,
                      NativeFn setter = nullptr) {
        Accessor(node_proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            if (!o || !*o || !(*o)->xml) return Undefined{};
            return fn(in, *o);
        }, setter);
    };
    auto or_null = [](const ObjRef& o) -> Value { return o ? Value(o) : Value(Null{}); };
    getter("nodeType", [](Interpreter&, const ObjRef& o) -> Value { return double(o->xml->type); });
    getter("nodeName", [](Interpreter&, const ObjRef& o) -> Value { return o->xml->name; },
           [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
               Value v = Arg(args, 0);
               if (std::holds_alternative<Undefined>(v)) return Undefined{};
               if (auto n = NodeOf(self)) n->name = std::holds_alternative<Null>(v) ? Value(Null{}) : Value(in.ToString(v));
               return Undefined{};
           });
    getter("nodeValue", [](Interpreter&, const ObjRef& o) -> Value { return o->xml->value; },
           [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
               if (auto n = NodeOf(self)) {
                   Value v = Arg(args, 0);
                   n->value = std::holds_alternative<Null>(v) || std::holds_alternative<Undefined>(v) ? Value(Null{})
                                                                                                      : Value(in.ToString(v));
               }
               return Undefined{};
           });
    getter("attributes", [](Interpreter&, const ObjRef& o) -> Value { return o->xml->attributes; },
           [](Interpreter&, const Value& self, std::vector<Value>& args) -> Value {
               auto n = NodeOf(self);
               if (auto* a = std::get_if<ObjRef>(&args[args.empty() ? 0 : 0]); n && !args.empty() && a) n->attributes = *a;
               return Undefined{};
           });
    getter("childNodes", [](Interpreter&, const ObjRef& o) -> Value { return o->xml->children; });
    getter("parentNode", [or_null](Interpreter&, const ObjRef& o) -> Value { return or_null(ParentOf(o)); });
    getter("firstChild", [](Interpreter&, const ObjRef& o) -> Value {
        auto& e = Children(o)->elems;
        return e.empty() ? Value(Null{}) : e.front();
    });
    getter("lastChild", [](Interpreter&, const ObjRef& o) -> Value {
        auto& e = Children(o)->elems;
        return e.empty() ? Value(Null{}) : e.back();
    });
    auto sibling = [](int step) {
        return [step](Interpreter&, const ObjRef& o) -> Value {
            ObjRef parent = ParentOf(o);
            if (!parent || !parent->xml) return Null{};
            auto& e = Children(parent)->elems;
            size_t i = IndexIn(parent, o);
            if (i >= e.size()) return Null{};
            if (step < 0) return i == 0 ? Value(Null{}) : e[i - 1];
            return i + 1 < e.size() ? e[i + 1] : Value(Null{});
        };
    };
    getter("nextSibling", sibling(1));
    getter("previousSibling", sibling(-1));
    auto prefix_of = [](Interpreter& in, const ObjRef& o) -> std::string {
        if (!std::holds_alternative<std::string>(o->xml->name)) return "";
        std::string n = in.ToString(o->xml->name);
        size_t colon = n.find(':');
        return colon == std::string::npos ? "" : n.substr(0, colon);
    };
    // The namespace a prefix stands for, from the xmlns attributes of the node and its
    // ancestors; a node's first declaration in its text counts (its attributes are
    // kept last to first, so that they list in the text's order).
    auto namespace_for = [](Interpreter& in, ObjRef o, const std::string& prefix) -> Value {
        for (int guard = 0; o && o->xml && guard < 100000; ++guard, o = ParentOf(o)) {
            const auto& props = o->xml->attributes->props;
            for (auto p = props.rbegin(); p != props.rend(); ++p)
                if (auto declared = DeclaredPrefix(p->name); declared && *declared == prefix) return in.ToString(p->value);
        }
        return Null{};
    };
    getter("prefix", [prefix_of](Interpreter& in, const ObjRef& o) -> Value {
        if (o->xml->type != 1 || !std::holds_alternative<std::string>(o->xml->name)) return Null{};
        return prefix_of(in, o);
    });
    getter("localName", [](Interpreter& in, const ObjRef& o) -> Value {
        if (!std::holds_alternative<std::string>(o->xml->name)) return Null{};
        std::string n = in.ToString(o->xml->name);
        size_t colon = n.find(':');
        return colon == std::string::npos ? n : n.substr(colon + 1);
    });
    getter("namespaceURI", [prefix_of, namespace_for](Interpreter& in, const ObjRef& o) -> Value {
        if (o->xml->type != 1 || !std::holds_alternative<std::string>(o->xml->name)) return Null{};
        Value ns = namespace_for(in, o, prefix_of(in, o));
        return std::holds_alternative<Null>(ns) ? Value(std::string()) : ns;
    });

    auto node_method = [&](const std::string& name, std::function<Value(Interpreter&, const ObjRef&, std::vector<Value>&)> fn) {
        Method(node_proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            if (!o || !*o || !(*o)->xml) return Undefined{};
            return fn(in, *o, args);
        });
    };
    node_method("getNamespaceForPrefix", [namespace_for](Interpreter& in, const ObjRef& o, std::vector<Value>& args) -> Value {
        return namespace_for(in, o, in.ToString(Arg(args, 0)));
    });
    node_method("getPrefixForNamespace", [](Interpreter& in, const ObjRef& start, std::vector<Value>& args) -> Value {
        std::string uri = in.ToString(Arg(args, 0));
        ObjRef o = start;
        for (int guard = 0; o && o->xml && guard < 100000; ++guard, o = ParentOf(o)) {
            for (auto& p : o->xml->attributes->props) {
                if (in.ToString(p.value) != uri) continue;
                if (auto declared = DeclaredPrefix(p.name)) return *declared;
            }
        }
        return Null{};
    });
    node_method("hasChildNodes", [](Interpreter&, const ObjRef& o, std::vector<Value>&) -> Value {
        return !Children(o)->elems.empty();
    });
    node_method("appendChild", [insert](Interpreter&, const ObjRef& o, std::vector<Value>& args) -> Value {
        auto* c = std::get_if<ObjRef>(&args[args.empty() ? 0 : 0]);
        if (!args.empty() && c && *c && (*c)->xml) insert(o, *c, nullptr);
        return Undefined{};
    });
    node_method("insertBefore", [insert](Interpreter&, const ObjRef& o, std::vector<Value>& args) -> Value {
        if (args.size() < 2) return Undefined{};
        auto* c = std::get_if<ObjRef>(&args[0]);
        auto* before = std::get_if<ObjRef>(&args[1]);
        if (!c || !*c || !(*c)->xml || !before || !*before) return Undefined{};
        if (ParentOf(*before) != o) return Undefined{};
        if (*c == *before) return Undefined{};
        insert(o, *c, *before);
        return Undefined{};
    });
    node_method("removeNode", [](Interpreter&, const ObjRef& o, std::vector<Value>&) -> Value {
        Detach(o);
        return Undefined{};
    });
    node_method("cloneNode", [make_node, node_proto](Interpreter& in, const ObjRef& o, std::vector<Value>& args) -> Value {
        bool deep = in.ToBoolean(Arg(args, 0));
        std::function<ObjRef(const ObjRef&, int)> clone = [&](const ObjRef& from, int depth) -> ObjRef {
            ObjRef to = make_node(in, from->xml->type, Undefined{}, from->proto);
            to->xml->name = from->xml->name;
            to->xml->value = from->xml->value;
            for (auto& p : from->xml->attributes->props) to->xml->attributes->props.push_back(p);
            if (deep && depth < 1000) {
                for (auto& v : from->xml->children->elems) {
                    auto* c = std::get_if<ObjRef>(&v);
                    if (!c || !(*c)->xml) continue;
                    ObjRef cc = clone(*c, depth + 1);
                    cc->xml->parent = to;
                    to->xml->children->elems.push_back(cc);
                }
            }
            return to;
        };
        (void)node_proto;
        return clone(o, 0);
    });
    node_method("toString", [](Interpreter& in, const ObjRef& o, std::vector<Value>&) -> Value {
        return in.XmlText(o);
    });

    // XML: a document node that parses text.
    ObjRef xml_ctor = DefineClass("XML", [this, make_node, xml_proto](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        if (!o || !*o) return Undefined{};
        ObjRef made = make_node(in, 1, Undefined{}, xml_proto);
        (*o)->xml = made->xml;
        if (in.version() >= 8) in.Define(*o, "idMap", in.NewObject(), kDontEnum);
        if (!args.empty() && !std::holds_alternative<Undefined>(args[0]) && !std::holds_alternative<Null>(args[0]))
            in.ParseXml(*o, in.ToString(args[0]));
        (void)this;
        return Undefined{};
    }, xml_proto, false);
    (void)xml_ctor;
    Define(xml_proto, "ignoreWhite", false, kDontEnum);
    Define(xml_proto, "contentType", std::string("application/x-www-form-urlencoded"), kDontEnum);
    Define(xml_proto, "loaded", Undefined{}, kDontEnum);
    Define(xml_proto, "status", 0.0, kDontEnum);
    Define(xml_proto, "xmlDecl", Undefined{}, kDontEnum);
    Define(xml_proto, "docTypeDecl", Undefined{}, kDontEnum);
    Method(xml_proto, "parseXML", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        if (o && *o && (*o)->xml) in.ParseXml(*o, in.ToString(Arg(args, 0)));
        return Undefined{};
    });
    Method(xml_proto, "createElement", [make_node](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return make_node(in, 1, Arg(args, 0), nullptr);
    });
    Method(xml_proto, "createTextNode", [make_node](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return make_node(in, 3, Arg(args, 0), nullptr);
    });
    Method(xml_proto, "getBytesLoaded", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return in.Get(self, "_bytesLoaded");
    });
    Method(xml_proto, "getBytesTotal", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return in.Get(self, "_bytesTotal");
    });
    Method(xml_proto, "addRequestHeader", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    Method(xml_proto, "send", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (in.env()) in.env()->Log("XML send refused: \"" + in.ToString(Arg(args, 0)) + "\": a movie's scripts send nothing");
        return false;
    });
    // Loading: a file beside the movie arrives on a later frame through
    // onData; anything else fails there.
    auto load = [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        if (!o || !*o || args.empty()) return false;
        StartTextLoad(in, self, in.ToString(args[0]));
        return true;
    };
    Method(xml_proto, "load", load);
    Method(xml_proto, "sendAndLoad", [load](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.size() < 2) return false;
        std::vector<Value> rest{args[0]};
        return load(in, args[1], rest);
    });
    Method(xml_proto, "onData", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value src = Arg(args, 0);
        if (std::holds_alternative<Undefined>(src)) {
            in.Set(self, "loaded", false);
            in.Call(in.Get(self, "onLoad"), self, {false});
        } else {
            auto* o = std::get_if<ObjRef>(&self);
            if (o && *o && (*o)->xml) in.ParseXml(*o, in.ToString(src));
            in.Set(self, "loaded", true);
            in.Call(in.Get(self, "onLoad"), self, {true});
        }
        return Undefined{};
    });
    Method(xml_proto, "onLoad", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    InstallLoadVars(*this);
}

std::string Interpreter::XmlText(const ObjRef& o, int depth) {
    const XmlNode& n = *o->xml;
    if (n.type != 1) return std::holds_alternative<std::string>(n.value) ? Escape(std::get<std::string>(n.value)) : std::string();
    std::string out;
    std::string children;
    if (depth < 1000)
        for (auto& v : n.children->elems)
            if (auto* c = std::get_if<ObjRef>(&v); c && (*c)->xml) children += XmlText(*c, depth + 1);
    if (!std::holds_alternative<std::string>(n.name)) {
        // The document: its declarations, then its nodes.
        if (depth == 0) {
            for (const char* decl : {"xmlDecl", "docTypeDecl"}) {
                Value d = Get(o, decl);
                if (!std::holds_alternative<Undefined>(d) && !std::holds_alternative<Null>(d)) out += ToString(d);
            }
        }
        return out + children;
    }
    const std::string& name = std::get<std::string>(n.name);
    out = "<" + name;
    for (const std::string& key : Keys(n.attributes))
        out += " " + key + "=\"" + Escape(ToString(Get(n.attributes, key))) + "\"";
    if (n.children->elems.empty()) return out + " />";
    return out + ">" + children + "</" + name + ">";
}

void Interpreter::ParseXml(const ObjRef& doc, const std::string& s) {
    auto& top_children = doc->xml->children->elems;
    for (auto& v : top_children)
        if (auto* c = std::get_if<ObjRef>(&v); c && (*c)->xml) (*c)->xml->parent.reset();
    top_children.clear();
    bool ignore_white = ToBoolean(Get(doc, "ignoreWhite"));
    int status = 0;
    std::vector<ObjRef> open{doc};
    auto add = [&](const ObjRef& node) {
        open.back()->xml->children->elems.push_back(node);
        node->xml->parent = open.back();
    };
    std::string xml_decl, doctype;
    size_t i = 0, n = s.size();
    while (i < n && status == 0) {
        if (s[i] != '<') {
            size_t e = s.find('<', i);
            if (e == std::string::npos) e = n;
            std::string text = s.substr(i, e - i);
            i = e;
            if (ignore_white && std::all_of(text.begin(), text.end(), IsSpace)) continue;
            add(xml_make_node_(*this, 3, Unescape(text), nullptr));
            continue;
        }
        auto starts = [&](const char* p) { return s.compare(i, std::char_traits<char>::length(p), p) == 0; };
        if (starts("<!--")) {
            size_t e = s.find("-->", i + 4);
            if (e == std::string::npos) status = -5;
            else i = e + 3;
        } else if (starts("<![CDATA[")) {
            size_t e = s.find("]]>", i + 9);
            if (e == std::string::npos) {
                status = -2;
            } else {
                add(xml_make_node_(*this, 3, s.substr(i + 9, e - i - 9), nullptr));
                i = e + 3;
            }
        } else if (starts("<!")) {
            size_t e = s.find('>', i);
            if (e == std::string::npos) status = -4;
            else {
                doctype += s.substr(i, e + 1 - i);
                i = e + 1;
            }
        } else if (starts("<?")) {
            size_t e = s.find("?>", i);
            if (e == std::string::npos) status = -3;
            else {
                xml_decl += s.substr(i, e + 2 - i);
                i = e + 2;
            }
        } else if (starts("</")) {
            size_t e = s.find('>', i);
            if (e == std::string::npos) {
                status = -6;
                break;
            }
            std::string name = s.substr(i + 2, e - i - 2);
            while (!name.empty() && IsSpace(name.back())) name.pop_back();
            i = e + 1;
            if (open.size() == 1) status = -10;
            else if (ToString(open.back()->xml->name) != name) status = -9;
            else open.pop_back();
        } else {
            size_t j = i + 1;
            while (j < n && !IsSpace(s[j]) && s[j] != '>' && s[j] != '/') ++j;
            std::string name = s.substr(i + 1, j - i - 1);
            if (name.empty()) {
                status = -6;
                break;
            }
            ObjRef element = xml_make_node_(*this, 1, name, nullptr);
            bool closed = false, ended = false;
            std::vector<std::pair<std::string, std::string>> attributes;
            while (j < n) {
                while (j < n && IsSpace(s[j])) ++j;
                if (j >= n) break;
                if (s[j] == '>') {
                    ended = true;
                    ++j;
                    break;
                }
                if (s[j] == '/' && j + 1 < n && s[j + 1] == '>') {
                    ended = closed = true;
                    j += 2;
                    break;
                }
                size_t k = j;
                while (k < n && !IsSpace(s[k]) && s[k] != '=' && s[k] != '>' && s[k] != '/') ++k;
                std::string attr = s.substr(j, k - j);
                while (k < n && IsSpace(s[k])) ++k;
                if (attr.empty() || k >= n || s[k] != '=') {
                    status = -6;
                    break;
                }
                ++k;
                while (k < n && IsSpace(s[k])) ++k;
                if (k >= n || (s[k] != '"' && s[k] != '\'')) {
                    status = -6;
                    break;
                }
                size_t close = s.find(s[k], k + 1);
                if (close == std::string::npos) {
                    status = -8;
                    break;
                }
                attributes.emplace_back(attr, Unescape(s.substr(k + 1, close - k - 1)));
                j = close + 1;
            }
            // Enumeration gives the newest first; the document's order is kept
            // by adding them last to first. The first of a repeated name counts.
            for (auto a = attributes.rbegin(); a != attributes.rend(); ++a) Define(element->xml->attributes, a->first, a->second, 0);
            if (version_ >= 8)
                for (auto& [attr, value] : attributes)
                    if (attr == "id") {
                        Value map = Get(doc, "idMap");
                        if (std::holds_alternative<ObjRef>(map)) Set(map, value, element);
                        break;
                    }
            if (status != 0) break;
            if (!ended) {
                status = -6;
                break;
            }
            add(element);
            if (!closed) open.push_back(element);
            i = j;
        }
    }
    if (status == 0 && open.size() > 1) status = -9;
    Set(doc, "status", double(status));
    if (!xml_decl.empty()) Set(doc, "xmlDecl", xml_decl);
    if (!doctype.empty()) Set(doc, "docTypeDecl", doctype);
}

}  // namespace qm::flash::avm1
