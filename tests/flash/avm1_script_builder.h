// Builds action lists from expressions for the interpreter's tests:
// expressions leave one value on the stack, statements leave none.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/flash/player_test_support.h"

namespace qm::flash::testing::script {

using E = w::Actions;

inline E Lit(w::PushValue v) { return E().push({v}); }
inline E Var(const std::string& name) { return E().push({name}).getVariable(); }
inline E Member(const E& object, const std::string& name) {
    E a = object;
    return a.push({name}).getMember();
}
inline E Args(const std::vector<E>& args) {
    E a;
    for (auto it = args.rbegin(); it != args.rend(); ++it) a.raw(it->bytes());
    return a.push({int(args.size())});
}
inline E Call(const E& object, const std::string& method, const std::vector<E>& args = {}) {
    E a = Args(args);
    a.raw(object.bytes());
    return a.push({method}).callMethod();
}
inline E SetVar(const std::string& name, const E& value) {
    return E().push({name}).raw(value.bytes()).setVariable();
}
inline E SetMember(const E& object, const std::string& name, const E& value) {
    E a = object;
    return a.push({name}).raw(value.bytes()).setMember();
}
inline E Trace(const E& value) {
    E a = value;
    return a.trace();
}
inline E Do(const E& value) {
    E a = value;
    return a.pop();
}
inline E Seq(std::initializer_list<E> statements) {
    E a;
    for (const E& s : statements) a.raw(s.bytes());
    return a;
}

}  // namespace qm::flash::testing::script
