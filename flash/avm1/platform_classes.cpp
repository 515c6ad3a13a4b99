// Classes of the player's surroundings that a converted movie meets but cannot use:
// no camera, microphone, network, printer or context menu exists here. Movies test for
// them and build them, so they exist and answer as a player without such devices does.
// Error and SharedObject (kept in memory for the run) are complete.
#include "flash/avm1/platform_classes.h"

#include <map>
#include <memory>

namespace qm::flash::avm1 {

namespace {

ObjRef SelfObject(const Value& self) {
    auto* o = std::get_if<ObjRef>(&self);
    return o ? *o : nullptr;
}

Value Nothing(Interpreter&, const Value&, std::vector<Value>&) { return Undefined{}; }

}  // namespace

void InstallPlatformClasses(Interpreter& in) {
    // Error: the message given, else the prototype's "Error".
    ObjRef error_proto = in.NewObject();
    in.Define(error_proto, "name", std::string("Error"), kDontEnum);
    in.Define(error_proto, "message", std::string("Error"), kDontEnum);
    in.Method(error_proto, "toString", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return in.ToString(in.Get(self, "message"));
    });
    in.DefineClass("Error", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (ObjRef o = SelfObject(self); o && !args.empty() && !std::holds_alternative<Undefined>(args[0]))
            in.Set(o, "message", args[0]);
        return Undefined{};
    }, error_proto, false);

    InstallNetConnection(in);

    // LocalConnection: names are held within this player, one connection to each;
    // no other player exists to take a message, so send delivers nothing and says so.
    {
        ObjRef proto = in.NewObject();
        in.DefineClass("LocalConnection", Nothing, proto, false);
        auto names = std::make_shared<std::map<std::string, std::weak_ptr<Object>>>();
        auto method = [&](const char* name, NativeFn fn) { in.Define(proto, name, in.NewFunction(std::move(fn)), kDontEnum | kDontDelete); };
        method("domain", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return std::string("localhost"); });
        method("connect", [names](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            ObjRef o = SelfObject(self);
            if (!o || args.empty() || !std::holds_alternative<std::string>(args[0])) return false;
            std::string name = in.ToString(args[0]);
            if (name.empty() || name.find(':') != std::string::npos) return false;
            std::erase_if(*names, [](const auto& entry) { return entry.second.expired(); });
            for (auto& [held, owner] : *names)
                if (owner.lock() == o) return false;
            return names->emplace(name, o).second;
        });
        method("close", [names](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
            ObjRef o = SelfObject(self);
            std::erase_if(*names, [&](const auto& entry) { return entry.second.expired() || entry.second.lock() == o; });
            return Undefined{};
        });
        method("send", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return false; });
    }

    // Constructors of devices and services this player has none of.
    for (const char* name : {"Button", "Camera", "Microphone", "NetConnection", "NetStream", "Video", "XMLSocket",
                             "LocalConnection", "TextSnapshot"}) {
        if (in.HasProperty(in.global_, name)) continue;
        in.DefineClass(name, Nothing, in.NewObject(), false);
    }

    // PrintJob: no printer answers start, so nothing is ever sent; the page and
    // paper sizes are read-only zeros of the prototype until a job starts.
    {
        ObjRef print_proto = in.NewObject();
        in.DefineClass("PrintJob", Nothing, print_proto, false);
        in.Method(print_proto, "start", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return false; });
        in.Method(print_proto, "addPage", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return false; });
        in.Method(print_proto, "send", Nothing);
        // Listed oldest last, as enumeration gives them newest first.
        for (const char* size : {"paperHeight", "paperWidth", "pageHeight", "pageWidth", "orientation"}) {
            in.Accessor(print_proto, size, [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return 0.0; });
            if (Property* p = in.FindOwn(print_proto, size)) p->flags &= uint16_t(~kDontEnum);
        }
    }

    // ContextMenu and ContextMenuItem keep what the movie gives them.
    ObjRef menu_proto = in.NewObject();
    in.DefineClass("ContextMenu", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef o = SelfObject(self);
        if (!o) return Undefined{};
        in.Set(o, "onSelect", args.empty() ? Value(Undefined{}) : args[0]);
        ObjRef builtins = in.NewObject();
        for (const char* item : {"print", "forward_back", "rewind", "loop", "play", "quality", "zoom", "save"})
            in.Set(builtins, item, true);
        in.Set(o, "builtInItems", builtins);
        in.Set(o, "customItems", in.NewArray());
        return Undefined{};
    }, menu_proto, false);
    // A copy has its own lists: the built-in switches as they stand, the custom items each copied.
    in.Method(menu_proto, "copy", [menu_proto](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        ObjRef copy = in.NewObject(menu_proto);
        ObjRef builtins = in.NewObject();
        Value from = in.Get(self, "builtInItems");
        if (auto* b = std::get_if<ObjRef>(&from); b && *b) {
            // Keys come newest first; set oldest first, so the copy lists them alike.
            std::vector<std::string> keys = in.Keys(*b);
            for (auto it = keys.rbegin(); it != keys.rend(); ++it) in.Set(builtins, *it, in.Get(*b, *it));
        }
        in.Set(copy, "onSelect", in.Get(self, "onSelect"));
        in.Set(copy, "builtInItems", builtins);
        ObjRef items = in.NewArray();
        Value custom = in.Get(self, "customItems");
        if (auto* c = std::get_if<ObjRef>(&custom); c && *c && (*c)->kind == Kind::Array) {
            for (const Value& item : (*c)->elems) {
                Value copied = item;
                if (Value fn = in.Get(item, "copy"); std::holds_alternative<ObjRef>(fn)) copied = in.Call(fn, item, {});
                items->elems.push_back(copied);
            }
        }
        in.Set(copy, "customItems", items);
        return copy;
    });
    in.Method(menu_proto, "hideBuiltInItems", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        Value builtins = in.Get(self, "builtInItems");
        if (auto* b = std::get_if<ObjRef>(&builtins); b && *b)
            for (const std::string& key : in.Keys(*b)) in.Set(*b, key, false);
        return Undefined{};
    });
    ObjRef item_proto = in.NewObject();
    in.DefineClass("ContextMenuItem", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef o = SelfObject(self);
        if (!o) return Undefined{};
        auto arg = [&](size_t i, Value otherwise) {
            return i < args.size() && !std::holds_alternative<Undefined>(args[i]) ? args[i] : otherwise;
        };
        in.Set(o, "caption", arg(0, Undefined{}));
        in.Set(o, "onSelect", arg(1, Undefined{}));
        in.Set(o, "separatorBefore", in.ToBoolean(arg(2, false)));
        in.Set(o, "enabled", in.ToBoolean(arg(3, true)));
        in.Set(o, "visible", in.ToBoolean(arg(4, true)));
        return Undefined{};
    }, item_proto, false);
    in.Method(item_proto, "copy", [item_proto](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        ObjRef copy = in.NewObject(item_proto);
        for (const char* key : {"caption", "onSelect", "separatorBefore", "enabled", "visible"})
            in.Set(copy, key, in.Get(self, key));
        return copy;
    });

    // Accessibility: no screen reader is ever active.
    if (!in.HasProperty(in.global_, "Accessibility")) {
        ObjRef access = in.NewObject();
        in.Method(access, "isActive", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return false; });
        in.Method(access, "updateProperties", Nothing);
        in.Define(in.global_, "Accessibility", access, kDontEnum);
    }

    // SharedObject.getLocal: one object a name for the run; nothing reaches the disk.
    ObjRef shared_proto = in.NewObject();
    ObjRef shared_ctor = in.DefineClass("SharedObject", Nothing, shared_proto, false);
    in.Method(shared_proto, "flush", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return true; });
    in.Method(shared_proto, "getSize", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return 0.0; });
    in.Method(shared_proto, "close", Nothing);
    in.Method(shared_proto, "clear", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        if (ObjRef o = SelfObject(self)) in.Set(o, "data", in.NewObject());
        return Undefined{};
    });
    auto stored = std::make_shared<std::map<std::string, std::weak_ptr<Object>>>();
    ObjRef kept = in.NewObject();  // holds the objects for the run
    in.Method(shared_ctor, "getLocal", [stored, kept, shared_proto](Interpreter& in, const Value&,
                                                                    std::vector<Value>& args) -> Value {
        if (args.empty()) return Null{};
        std::string name = in.ToString(args[0]);
        if (name.empty()) return Null{};
        std::string key = name + "\n" + (args.size() > 1 ? in.ToString(args[1]) : std::string());
        if (auto it = stored->find(key); it != stored->end())
            if (ObjRef o = it->second.lock()) return o;
        ObjRef o = in.NewObject(shared_proto);
        in.Set(o, "data", in.NewObject());
        (*stored)[key] = o;
        in.Set(kept, key, o);
        return o;
    });

    // A local movie's sandbox follows what its file attributes ask for.
    Value system = in.Get(in.global_, "System");
    Value security = std::holds_alternative<ObjRef>(system) ? in.Get(system, "security") : Value(Undefined{});
    if (auto* s = std::get_if<ObjRef>(&security); s && *s) {
        in.Accessor(*s, "sandboxType", [](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
            return std::string(in.env() && in.env()->AsksForNetwork() ? "localWithNetwork" : "localWithFile");
        });
    }

    // The packages of version 8: flash.external and flash.net.
    if (in.flash_package_) {
        InstallExternalInterface(in);
        Value net = in.GetOf(in.flash_package_, "net", in.flash_package_);
        ObjRef net_package = std::holds_alternative<ObjRef>(net) ? std::get<ObjRef>(net) : nullptr;
        if (!net_package) {
            net_package = in.NewObject();
            in.Define(in.flash_package_, "net", net_package, kDontEnum);
        }
        InstallFileReference(in, net_package);
    }
}

}  // namespace qm::flash::avm1
