// NetConnection: a movie's link to a media server, or with connect(null) to
// files of its own (progressive video). No server is ever reached from a
// conversion: an address is refused with a line in the log, and its request
// fails, after the frame's scripts, with the empty status the original gives.
#include <map>

#include "flash/avm1/platform_classes.h"

namespace qm::flash::avm1 {

namespace {

enum class Link { None, Local, Asked };

// The state of each connection object, kept beside it so scripts cannot see or change it.
struct Links {
    std::map<const Object*, std::pair<std::weak_ptr<Object>, Link>> by_object;
    Link Of(const ObjRef& o) {
        auto it = by_object.find(o.get());
        return it != by_object.end() && it->second.first.lock() == o ? it->second.second : Link::None;
    }
    void Set(const ObjRef& o, Link link) {
        std::erase_if(by_object, [](const auto& entry) { return entry.second.first.expired(); });
        by_object[o.get()] = {o, link};
    }
};

ObjRef SelfObject(const Value& self) {
    auto* o = std::get_if<ObjRef>(&self);
    return o ? *o : nullptr;
}

// onStatus({level: "status", code: code}) at once.
void Status(Interpreter& in, const ObjRef& self, const std::string& code) {
    ObjRef event = in.NewObject();
    in.Set(event, "level", std::string("status"));
    in.Set(event, "code", code);
    Value handler = in.Get(self, "onStatus");
    if (std::holds_alternative<ObjRef>(handler)) in.Call(handler, self, {event});
}

}  // namespace

void InstallNetConnection(Interpreter& in) {
    auto links = std::make_shared<Links>();
    ObjRef proto = in.NewObject();
    in.DefineClass("NetConnection", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; },
                   proto, false);
    in.Method(proto, "connect", [links](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef o = SelfObject(self);
        if (!o) return Undefined{};
        // A connection made again is closed first.
        if (links->Of(o) != Link::None) Status(in, o, "NetConnection.Connect.Closed");
        const Value target = args.empty() ? Value(Undefined{}) : args[0];
        if (std::holds_alternative<Null>(target)) {
            links->Set(o, Link::Local);
            Status(in, o, "NetConnection.Connect.Success");
            return true;
        }
        links->Set(o, Link::Asked);
        in.Log("connection refused: \"" + in.ToString(target) + "\": a conversion reaches no server");
        Interval failed;
        failed.function = in.NewFunction([links, o](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
            Value handler = in.Get(o, "onStatus");
            if (std::holds_alternative<ObjRef>(handler)) in.Call(handler, o, {});
            if (links->Of(o) == Link::Asked) links->Set(o, Link::None);
            return Undefined{};
        });
        in.QueueLoad(std::move(failed));
        return true;
    });
    in.Method(proto, "close", [links](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        ObjRef o = SelfObject(self);
        if (!o || links->Of(o) == Link::None) return Undefined{};
        links->Set(o, Link::None);
        Status(in, o, "NetConnection.Connect.Closed");
        return Undefined{};
    });
    in.Method(proto, "call", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    in.Method(proto, "addHeader", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    in.Accessor(proto, "isConnected", [links](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        ObjRef o = SelfObject(self);
        return o && links->Of(o) == Link::Local;
    });
}

}  // namespace qm::flash::avm1
