#include <algorithm>
#include <utility>

#include "swf/parsers.h"

namespace qm::swf::detail {

namespace {

struct EffectFlags {
    bool inner, knockout, composite_source, on_top;
    uint8_t passes;
};

EffectFlags ReadEffectFlags(Reader& r, bool has_on_top) {
    uint8_t b = r.U8();
    return {bool(b & 0x80), bool(b & 0x40), bool(b & 0x20), has_on_top && (b & 0x10),
            static_cast<uint8_t>(has_on_top ? (b & 0x0F) : (b & 0x1F))};
}

Filter ReadFilter(Reader& r) {
    uint8_t id = r.U8();
    switch (id) {
    case 0: {
        DropShadowFilter f;
        f.color = r.RgbaColor();
        f.blur_x = r.Fixed();
        f.blur_y = r.Fixed();
        f.angle = r.Fixed();
        f.distance = r.Fixed();
        f.strength = r.Fixed8();
        auto e = ReadEffectFlags(r, false);
        f.inner = e.inner;
        f.knockout = e.knockout;
        f.composite_source = e.composite_source;
        f.passes = e.passes;
        return f;
    }
    case 1: {
        BlurFilter f;
        f.blur_x = r.Fixed();
        f.blur_y = r.Fixed();
        f.passes = r.U8() >> 3;
        return f;
    }
    case 2: {
        GlowFilter f;
        f.color = r.RgbaColor();
        f.blur_x = r.Fixed();
        f.blur_y = r.Fixed();
        f.strength = r.Fixed8();
        auto e = ReadEffectFlags(r, false);
        f.inner = e.inner;
        f.knockout = e.knockout;
        f.composite_source = e.composite_source;
        f.passes = e.passes;
        return f;
    }
    case 3: {
        BevelFilter f;
        f.highlight_color = r.RgbaColor();
        f.shadow_color = r.RgbaColor();
        f.blur_x = r.Fixed();
        f.blur_y = r.Fixed();
        f.angle = r.Fixed();
        f.distance = r.Fixed();
        f.strength = r.Fixed8();
        auto e = ReadEffectFlags(r, true);
        f.inner = e.inner;
        f.knockout = e.knockout;
        f.composite_source = e.composite_source;
        f.on_top = e.on_top;
        f.passes = e.passes;
        return f;
    }
    case 4:
    case 7: {
        GradientFilter f;
        f.bevel = id == 7;
        unsigned n = r.U8();
        f.gradient.resize(n);
        for (auto& g : f.gradient) g.color = r.RgbaColor();
        for (auto& g : f.gradient) g.ratio = r.U8();
        f.blur_x = r.Fixed();
        f.blur_y = r.Fixed();
        f.angle = r.Fixed();
        f.distance = r.Fixed();
        f.strength = r.Fixed8();
        auto e = ReadEffectFlags(r, true);
        f.inner = e.inner;
        f.knockout = e.knockout;
        f.composite_source = e.composite_source;
        f.on_top = e.on_top;
        f.passes = e.passes;
        return f;
    }
    case 5: {
        ConvolutionFilter f;
        f.matrix_x = r.U8();
        f.matrix_y = r.U8();
        f.divisor = r.Float();
        f.bias = r.Float();
        size_t n = size_t(f.matrix_x) * f.matrix_y;
        if (n * 4 > r.remaining()) r.Fail("the convolution matrix runs past the end of the tag");
        f.matrix.resize(n);
        for (auto& v : f.matrix) v = r.Float();
        f.default_color = r.RgbaColor();
        uint8_t b = r.U8();
        f.clamp = b & 0x02;
        f.preserve_alpha = b & 0x01;
        return f;
    }
    case 6: {
        ColorMatrixFilter f;
        for (auto& v : f.matrix) v = r.Float();
        return f;
    }
    default:
        r.Fail("unknown filter type " + std::to_string(id));
    }
}

uint32_t ReadEventFlags(Reader& r) { return r.version() <= 5 ? r.U16() : r.U32(); }

}  // namespace

std::vector<Filter> ReadFilterList(Reader& r) {
    unsigned count = r.U8();
    std::vector<Filter> filters;
    for (unsigned i = 0; i < count; ++i) filters.push_back(ReadFilter(r));
    return filters;
}

ClipActions ReadClipActions(Reader& r) {
    ClipActions ca;
    r.U16();  // reserved
    ca.all_events = ReadEventFlags(r);
    for (;;) {
        // Some writers end the list with the tag, or cut its zero flag short.
        if (r.remaining() < (r.version() <= 5 ? 2u : 4u)) break;
        uint32_t events = ReadEventFlags(r);
        if (events == 0) break;
        ClipActionRecord rec;
        rec.events = events;
        uint32_t size = r.U32();
        if (size > r.remaining()) r.Fail("a clip action record runs past the end of the tag");
        Reader body = r.Sub(size);
        if ((events & kClipEventKeyPress) && !body.AtEnd()) rec.key_code = body.U8();
        rec.actions = body.RestCopy();
        ca.records.push_back(std::move(rec));
    }
    return ca;
}

PlaceObject ReadPlaceObject(Reader& r, int version) {
    PlaceObject p;
    p.version = static_cast<uint8_t>(version);
    if (version == 1) {
        p.character_id = r.U16();
        p.depth = r.U16();
        p.matrix = r.ReadMatrix();
        if (!r.AtEnd()) p.color_transform = r.ReadColorTransform(false);
        return p;
    }
    uint8_t f = r.U8();
    uint8_t f2 = version >= 3 ? r.U8() : 0;
    p.depth = r.U16();
    p.is_move = f & 0x01;
    p.has_image = f2 & 0x10;
    if ((f2 & 0x08) || ((f2 & 0x10) && !(f & 0x02))) p.class_name = r.String();
    if (f & 0x02) p.character_id = r.U16();
    if (f & 0x04) p.matrix = r.ReadMatrix();
    if (f & 0x08) p.color_transform = r.ReadColorTransform(true);
    if (f & 0x10) p.ratio = r.U16();
    if (f & 0x20) p.name = r.String();
    if (f & 0x40) p.clip_depth = r.U16();
    if (f2 & 0x01) p.filters = ReadFilterList(r);
    if (f2 & 0x02) {
        uint8_t mode = r.U8();
        p.blend_mode = (mode <= 1 || mode > 14) ? BlendMode::Normal : static_cast<BlendMode>(mode);
    }
    // A missing cache byte at the end of the tag means "on".
    if (f2 & 0x04) p.cache_as_bitmap = r.AtEnd() ? true : r.U8() != 0;
    if (f2 & 0x20) p.visible = r.U8() != 0;
    if (f2 & 0x40) p.background_color = r.RgbaColor();
    if ((f & 0x80) && r.version() >= 5) p.clip_actions = ReadClipActions(r);
    if (version == 4) p.amf_data = r.RestCopy();
    return p;
}

RemoveObject ReadRemoveObject(Reader& r, int version) {
    RemoveObject rm;
    rm.version = static_cast<uint8_t>(version);
    if (version == 1) rm.character_id = r.U16();
    rm.depth = r.U16();
    return rm;
}

}  // namespace qm::swf::detail

namespace qm::swf {

PackedPlaceObject::PackedPlaceObject(std::span<const uint8_t> body, uint8_t place_version, uint8_t movie_version)
    : size_(static_cast<uint32_t>(body.size())), place_version_(place_version), movie_version_(movie_version) {
    if (IsInline()) {
        std::copy(body.begin(), body.end(), stored_.bytes);
    } else {
        stored_.heap = new uint8_t[size_];
        std::copy(body.begin(), body.end(), stored_.heap);
    }
}

PackedPlaceObject& PackedPlaceObject::operator=(const PackedPlaceObject& other) {
    if (this != &other) {
        PackedPlaceObject copy(other);
        std::swap(size_, copy.size_);
        std::swap(place_version_, copy.place_version_);
        std::swap(movie_version_, copy.movie_version_);
        std::swap(stored_, copy.stored_);
    }
    return *this;
}

PackedPlaceObject& PackedPlaceObject::operator=(PackedPlaceObject&& other) noexcept {
    std::swap(size_, other.size_);
    std::swap(place_version_, other.place_version_);
    std::swap(movie_version_, other.movie_version_);
    std::swap(stored_, other.stored_);
    return *this;
}

PackedPlaceObject::~PackedPlaceObject() {
    if (!IsInline()) delete[] stored_.heap;
}

PlaceObject PackedPlaceObject::Unpack() const {
    Reader r(bytes(), 0, movie_version_);
    try {
        return detail::ReadPlaceObject(r, place_version_);
    } catch (const ReadError&) {
        // Only bytes that were read without fault are packed; should others
        // come, the tag moves nothing rather than placing half a record.
        PlaceObject nothing;
        nothing.version = place_version_;
        nothing.is_move = true;
        return nothing;
    }
}

}  // namespace qm::swf
