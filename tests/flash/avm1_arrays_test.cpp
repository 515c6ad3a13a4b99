// Arrays with holes: indices never set or deleted are no properties of the
// array, though they count in its length.
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;

namespace {

std::vector<std::string> RunScript(uint8_t version, const w::Actions& script) {
    w::Movie movie({.version = version});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie, 1);
}

// a.method(args...) with `a` read from the variable.
w::Actions Call(const std::string& object, const std::string& name, std::vector<w::PushValue> args) {
    w::Actions a;
    std::vector<w::PushValue> reversed(args.rbegin(), args.rend());
    reversed.push_back(int(args.size()));
    a.push(reversed).push({object}).getVariable().push({name}).callMethod();
    return a;
}

// for (k in a) trace(k)
w::Actions TraceKeys(const std::string& object, const std::string& loop) {
    w::Actions a;
    a.push({object}).getVariable().enumerate2().label(loop).storeRegister(0).push({w::Null{}}).equals2()
        .if_(loop + "_done");
    a.push({w::Register{0}}).trace().jump(loop).label(loop + "_done");
    return a;
}

w::Actions TraceMember(const std::string& object, w::PushValue name) {
    return w::Actions().push({object}).getVariable().push({name}).getMember().trace();
}

}  // namespace

TEST(Avm1Arrays, HolesAreNoProperties) {
    struct Case {
        const char* what;
        w::Actions script;
        std::vector<std::string> expected;
    };
    // a = new Array(n)
    auto sized = [](int n) { return w::Actions().push({"a", n, 1, "Array"}).newObject().setVariable(); };
    // a = [] ; a[i] = v
    auto empty = w::Actions().push({"a", 0}).initArray().setVariable();
    auto set = [](w::PushValue i, w::PushValue v) { return w::Actions().push({"a"}).getVariable().push({i, v}).setMember(); };
    std::vector<Case> cases = {
        {"new Array(3) holds nothing",
         w::Actions(sized(3)).raw(Call("a", "hasOwnProperty", {1}).trace().bytes())
             .raw(TraceMember("a", "length").bytes()).raw(TraceKeys("a", "k").bytes()),
         {"false", "3"}},
        {"a far index leaves holes below it",
         w::Actions(empty).raw(set(3, "x").bytes()).raw(TraceMember("a", "length").bytes())
             .raw(TraceKeys("a", "k").bytes()).raw(Call("a", "hasOwnProperty", {0}).trace().bytes())
             .raw(Call("a", "join", {}).trace().bytes()),
         {"4", "3", "false", "undefined,undefined,undefined,x"}},
        {"delete makes a hole and keeps the length",
         w::Actions(empty).raw(set(0, "p").bytes()).raw(set(1, "q").bytes())
             .push({"a"}).getVariable().push({0}).delete_().trace()
             .raw(Call("a", "hasOwnProperty", {0}).trace().bytes()).raw(TraceMember("a", "length").bytes())
             .raw(TraceKeys("a", "k").bytes()),
         {"true", "false", "2", "1"}},
        {"a hole shows the prototype's value",
         w::Actions(sized(2)).push({"Array"}).getVariable().push({"prototype"}).getMember().push({1, "p"})
             .setMember().raw(TraceMember("a", 1).bytes()).raw(Call("a", "hasOwnProperty", {1}).trace().bytes())
             .push({"Array"}).getVariable().push({"prototype"}).getMember().push({1}).delete_().pop(),
         {"p", "false"}},
        {"growing the length adds holes, shrinking drops elements",
         w::Actions(empty).raw(set(0, "p").bytes()).push({"a"}).getVariable().push({"length", 3}).setMember()
             .raw(TraceKeys("a", "k").bytes()).push({"a"}).getVariable().push({"length", 0}).setMember()
             .raw(TraceMember("a", 0).bytes()),
         {"0", "undefined"}},
        {"shift fills the holes it moves",
         w::Actions(empty).raw(set(3, "x").bytes()).raw(Call("a", "shift", {}).trace().bytes())
             .raw(TraceKeys("a", "k").bytes()),
         {"undefined", "2", "1", "0"}},
        {"reverse fills the swapped pairs, not the middle",
         w::Actions(sized(3)).raw(Call("a", "reverse", {}).pop().bytes())
             .raw(Call("a", "hasOwnProperty", {0}).trace().bytes())
             .raw(Call("a", "hasOwnProperty", {1}).trace().bytes())
             .raw(Call("a", "hasOwnProperty", {2}).trace().bytes()),
         {"true", "false", "true"}},
        {"splice with an undefined count does nothing",
         w::Actions(empty).raw(set(0, "p").bytes())
             .push({w::Undefined{}, 0, 2, "a"}).getVariable().push({"splice"}).callMethod().trace()
             .raw(TraceMember("a", "length").bytes()),
         {"undefined", "1"}},
    };
    for (auto& c : cases) EXPECT_EQ(RunScript(7, c.script), c.expected) << c.what;
}
