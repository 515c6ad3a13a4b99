// flash.net.FileReference and FileReferenceList. No dialog can open while a
// movie is converted, so every dialog a movie asks for is answered as when the
// user closes it: browse and download return true and their listeners hear
// onCancel once the frame's scripts have run. Nothing is chosen, so nothing
// can be uploaded, and no file is read or written on the movie's behalf.
#include <cctype>

#include "flash/avm1/platform_classes.h"

namespace qm::flash::avm1 {

namespace {

// A filter's own property as a text; false when it is missing, empty or its
// getter fails. Turning the value into text may throw to the movie.
bool FilterText(Interpreter& in, const ObjRef& filter, const std::string& name) {
    Value v;
    try {
        if (!in.FindOwn(filter, name)) return false;
        v = in.Get(filter, name);
    } catch (const ThrowSignal&) {
        return false;
    }
    return !in.ToString(v).empty();
}

// The filter list of browse: absent, or a non-empty array of objects that
// each carry a description and an extension; a mac type is read when given.
bool FiltersValid(Interpreter& in, std::vector<Value>& args) {
    if (args.empty()) return true;
    auto* list = std::get_if<ObjRef>(&args[0]);
    if (!list || !*list || (*list)->kind != Kind::Array || (*list)->elems.empty()) return false;
    for (const Value& element : std::vector<Value>((*list)->elems)) {
        auto* filter = std::get_if<ObjRef>(&element);
        if (!filter || !*filter) return false;
        if (!FilterText(in, *filter, "description") || !FilterText(in, *filter, "extension")) return false;
        if (in.FindOwn(*filter, "macType")) (void)in.ToString(in.Get(element, "macType"));
    }
    return true;
}

// An absolute address: a scheme, "://" and a host.
bool AbsoluteUrl(const std::string& url) {
    size_t colon = url.find("://");
    if (colon == std::string::npos || colon == 0 || colon + 3 >= url.size()) return false;
    for (size_t i = 0; i < colon; ++i)
        if (!std::isalpha(static_cast<unsigned char>(url[i]))) return false;
    return true;
}

// The dialog closes unanswered: onCancel(target) to the listeners, with the frame's loads.
void QueueCancel(Interpreter& in, const Value& target) {
    Interval answer;
    answer.self = target;
    answer.method = "broadcastMessage";
    answer.args = {std::string("onCancel"), target};
    in.QueueLoad(std::move(answer));
}

void Broadcaster(Interpreter& in, const Value& self) {
    if (auto* o = std::get_if<ObjRef>(&self); o && *o) in.InitializeBroadcaster(*o);
}

}  // namespace

void InstallFileReference(Interpreter& in, const ObjRef& net) {
    ObjRef proto = in.NewObject();
    in.DefineClass("FileReference", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        Broadcaster(in, self);
        return Undefined{};
    }, proto, false, net);
    // What a chosen file would tell; nothing is ever chosen.
    for (const char* name : {"creationDate", "creator", "modificationDate", "name", "size", "type"})
        in.Accessor(proto, name, [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    in.Method(proto, "browse", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (!FiltersValid(in, args)) return false;
        QueueCancel(in, self);
        return true;
    });
    in.Method(proto, "download", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (args.empty() || !AbsoluteUrl(in.ToString(args[0]))) return false;
        in.Log("FileReference.download: no dialog opens during a conversion; answered as cancelled");
        QueueCancel(in, self);
        return true;
    });
    in.Method(proto, "upload", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return false; });
    in.Method(proto, "cancel", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });

    ObjRef list_proto = in.NewObject();
    in.DefineClass("FileReferenceList", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        Broadcaster(in, self);
        return Undefined{};
    }, list_proto, false, net);
    in.Method(list_proto, "browse", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (!FiltersValid(in, args)) return false;
        QueueCancel(in, self);
        return true;
    });
}

}  // namespace qm::flash::avm1
