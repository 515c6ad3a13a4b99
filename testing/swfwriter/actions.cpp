#include <cstring>
#include <stdexcept>

#include "testing/swfwriter/bit_writer.h"

namespace qm::swfwriter {

namespace {

void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void put32(Bytes& b, uint32_t v) {
    put16(b, uint16_t(v));
    put16(b, uint16_t(v >> 16));
}

void putString(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}

}  // namespace

Actions& Actions::raw(const Bytes& bytes) {
    code_.insert(code_.end(), bytes.begin(), bytes.end());
    return *this;
}

Actions& Actions::op(uint8_t code) {
    if (code >= 0x80) return action(code, {});
    code_.push_back(code);
    return *this;
}

Actions& Actions::action(uint8_t code, const Bytes& payload) {
    if (code < 0x80) throw std::invalid_argument("actions below 0x80 carry no payload");
    if (payload.size() > 0xFFFF) throw std::runtime_error("action payload too long");
    code_.push_back(code);
    put16(code_, uint16_t(payload.size()));
    code_.insert(code_.end(), payload.begin(), payload.end());
    return *this;
}

Actions& Actions::push(std::initializer_list<PushValue> values) {
    return push(std::vector<PushValue>(values));
}

Actions& Actions::push(const std::vector<PushValue>& values) {
    Bytes p;
    for (const auto& value : values) {
        std::visit(
            [&p](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    p.push_back(0);
                    putString(p, v);
                } else if constexpr (std::is_same_v<T, Float>) {
                    uint32_t bits;
                    std::memcpy(&bits, &v.value, 4);
                    p.push_back(1);
                    put32(p, bits);
                } else if constexpr (std::is_same_v<T, Null>) {
                    p.push_back(2);
                } else if constexpr (std::is_same_v<T, Undefined>) {
                    p.push_back(3);
                } else if constexpr (std::is_same_v<T, Register>) {
                    p.push_back(4);
                    p.push_back(v.number);
                } else if constexpr (std::is_same_v<T, bool>) {
                    p.push_back(5);
                    p.push_back(v ? 1 : 0);
                } else if constexpr (std::is_same_v<T, double>) {
                    // Two little-endian words, the high word first.
                    uint64_t bits;
                    std::memcpy(&bits, &v, 8);
                    p.push_back(6);
                    put32(p, uint32_t(bits >> 32));
                    put32(p, uint32_t(bits));
                } else if constexpr (std::is_same_v<T, int32_t>) {
                    p.push_back(7);
                    put32(p, uint32_t(v));
                } else if constexpr (std::is_same_v<T, Constant>) {
                    if (v.index < 256) {
                        p.push_back(8);
                        p.push_back(uint8_t(v.index));
                    } else {
                        p.push_back(9);
                        put16(p, v.index);
                    }
                }
            },
            value.v);
    }
    return action(0x96, p);
}

Actions& Actions::constantPool(const std::vector<std::string>& strings) {
    if (strings.size() > 0xFFFF) throw std::runtime_error("constant pool too large");
    Bytes p;
    put16(p, uint16_t(strings.size()));
    for (const auto& s : strings) putString(p, s);
    return action(0x88, p);
}

Actions& Actions::label(const std::string& name) {
    for (const auto& l : labels_)
        if (l.first == name) throw std::invalid_argument("label set twice: " + name);
    labels_.emplace_back(name, code_.size());
    return *this;
}

Actions& Actions::jump(const std::string& target) {
    action(0x99, {0, 0});
    fixups_.push_back({code_.size() - 2, target});
    return *this;
}

Actions& Actions::if_(const std::string& target) {
    action(0x9D, {0, 0});
    fixups_.push_back({code_.size() - 2, target});
    return *this;
}

Actions& Actions::gotoFrame(uint16_t frame) {
    Bytes p;
    put16(p, frame);
    return action(0x81, p);
}

Actions& Actions::getUrl(const std::string& url, const std::string& target) {
    Bytes p;
    putString(p, url);
    putString(p, target);
    return action(0x83, p);
}

Actions& Actions::waitForFrame(uint16_t frame, uint8_t skipCount) {
    Bytes p;
    put16(p, frame);
    p.push_back(skipCount);
    return action(0x8A, p);
}

Actions& Actions::setTarget(const std::string& target) {
    Bytes p;
    putString(p, target);
    return action(0x8B, p);
}

Actions& Actions::gotoLabel(const std::string& label) {
    Bytes p;
    putString(p, label);
    return action(0x8C, p);
}

Actions& Actions::waitForFrame2(uint8_t skipCount) { return action(0x8D, {skipCount}); }

Actions& Actions::getUrl2(uint8_t flags) { return action(0x9A, {flags}); }

Actions& Actions::call() { return action(0x9E, {}); }

Actions& Actions::gotoFrame2(bool play, std::optional<uint16_t> sceneBias) {
    Bytes p{uint8_t((sceneBias ? 0x02 : 0) | (play ? 0x01 : 0))};
    if (sceneBias) put16(p, *sceneBias);
    return action(0x9F, p);
}

Actions& Actions::storeRegister(uint8_t reg) { return action(0x87, {reg}); }

Actions& Actions::appendBody(const Actions& body) { return raw(body.bytes()); }

Actions& Actions::with(const Actions& body) {
    const Bytes b = body.bytes();
    if (b.size() > 0xFFFF) throw std::runtime_error("with body too long");
    Bytes p;
    put16(p, uint16_t(b.size()));
    action(0x94, p);
    return raw(b);
}

Actions& Actions::defineFunction(const std::string& name, const std::vector<std::string>& params,
                                 const Actions& body) {
    const Bytes b = body.bytes();
    if (b.size() > 0xFFFF) throw std::runtime_error("function body too long");
    Bytes p;
    putString(p, name);
    put16(p, uint16_t(params.size()));
    for (const auto& s : params) putString(p, s);
    put16(p, uint16_t(b.size()));
    action(0x9B, p);
    return raw(b);
}

Actions& Actions::defineFunction2(const std::string& name, uint8_t registerCount, uint16_t flags,
                                  const std::vector<RegisterParam>& params, const Actions& body) {
    const Bytes b = body.bytes();
    if (b.size() > 0xFFFF) throw std::runtime_error("function body too long");
    Bytes p;
    putString(p, name);
    put16(p, uint16_t(params.size()));
    p.push_back(registerCount);
    put16(p, flags);
    for (const auto& r : params) {
        p.push_back(r.reg);
        putString(p, r.name);
    }
    put16(p, uint16_t(b.size()));
    action(0x8E, p);
    return raw(b);
}

Actions& Actions::try_(const Actions& body, const std::optional<Actions>& catchBody,
                       const std::optional<Actions>& finallyBody,
                       std::variant<std::string, uint8_t> caught) {
    const Bytes t = body.bytes();
    const Bytes c = catchBody ? catchBody->bytes() : Bytes{};
    const Bytes f = finallyBody ? finallyBody->bytes() : Bytes{};
    if (t.size() > 0xFFFF || c.size() > 0xFFFF || f.size() > 0xFFFF)
        throw std::runtime_error("try block too long");
    const bool inRegister = std::holds_alternative<uint8_t>(caught);
    Bytes p{uint8_t((inRegister ? 0x04 : 0) | (finallyBody ? 0x02 : 0) | (catchBody ? 0x01 : 0))};
    put16(p, uint16_t(t.size()));
    put16(p, uint16_t(c.size()));
    put16(p, uint16_t(f.size()));
    if (inRegister)
        p.push_back(std::get<uint8_t>(caught));
    else
        putString(p, std::get<std::string>(caught));
    action(0x8F, p);
    raw(t);
    raw(c);
    return raw(f);
}

Bytes Actions::bytes() const {
    Bytes out = code_;
    for (const auto& f : fixups_) {
        const std::pair<std::string, size_t>* target = nullptr;
        for (const auto& l : labels_)
            if (l.first == f.label) target = &l;
        if (!target) throw std::runtime_error("unknown label: " + f.label);
        // Offsets count from the action after the branch.
        const long offset = long(target->second) - long(f.at + 2);
        if (offset < -32768 || offset > 32767) throw std::runtime_error("branch too far: " + f.label);
        out[f.at] = uint8_t(offset);
        out[f.at + 1] = uint8_t(uint16_t(offset) >> 8);
    }
    return out;
}

}  // namespace qm::swfwriter
