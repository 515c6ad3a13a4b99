#include "flash/dictionary.h"

namespace qm::flash {

namespace {

// Bodies that define a character under an id of their own.
std::optional<uint16_t> DefinedId(const swf::TagBody& body) {
    return std::visit(
        [](const auto& kind) -> std::optional<uint16_t> {
            using T = typename swf::UnboxedType<std::decay_t<decltype(kind)>>::type;
            if constexpr (std::is_same_v<T, swf::Shape> || std::is_same_v<T, swf::MorphShape> ||
                          std::is_same_v<T, swf::Bitmap> || std::is_same_v<T, swf::Text> ||
                          std::is_same_v<T, swf::EditText> || std::is_same_v<T, swf::Button> ||
                          std::is_same_v<T, swf::Sprite> || std::is_same_v<T, swf::VideoStream> ||
                          std::is_same_v<T, swf::Font> || std::is_same_v<T, swf::Font4> ||
                          std::is_same_v<T, swf::DefineSound> || std::is_same_v<T, swf::BinaryData>) {
                const T* t = swf::Unboxed(kind);
                return t ? std::optional<uint16_t>(t->id) : std::nullopt;
            } else {
                return std::nullopt;
            }
        },
        body);
}

}  // namespace

void Dictionary::Add(const swf::TagBody& body) {
    if (auto id = DefinedId(body)) {
        characters_.try_emplace(*id, Character{*id, &body});
        return;
    }
    if (auto* info = swf::BodyIf<swf::FontInfo>(body)) {
        if (auto* c = FindMutable(info->font_id)) c->font_info = info;
    } else if (auto* zones = std::get_if<swf::FontAlignZones>(&body)) {
        if (auto* c = FindMutable(zones->font_id)) c->font_align_zones = zones;
    } else if (auto* name = swf::BodyIf<swf::FontName>(body)) {
        if (auto* c = FindMutable(name->font_id)) c->font_name = name;
    } else if (auto* cx = std::get_if<swf::ButtonCxform>(&body)) {
        if (auto* c = FindMutable(cx->button_id)) c->button_cxform = cx;
    } else if (auto* sound = swf::BodyIf<swf::ButtonSound>(body)) {
        if (auto* c = FindMutable(sound->button_id)) c->button_sound = sound;
    } else if (auto* grid = std::get_if<swf::ScalingGrid>(&body)) {
        if (auto* c = FindMutable(grid->character_id)) c->scaling_grid = grid;
    } else if (auto* csm = std::get_if<swf::CsmTextSettings>(&body)) {
        if (auto* c = FindMutable(csm->text_id)) c->csm_text_settings = csm;
    } else if (auto* tables = std::get_if<swf::JpegTables>(&body)) {
        if (!jpeg_tables_) jpeg_tables_ = &tables->data;
    } else if (auto* exports = std::get_if<swf::ExportAssets>(&body)) {
        for (const auto& a : exports->assets) exports_[a.name] = a.character_id;
    } else if (auto* frame = std::get_if<swf::VideoFrame>(&body)) {
        video_frames_[frame->stream_id].try_emplace(frame->frame_num, frame);
    }
}

const std::map<uint16_t, const swf::VideoFrame*>* Dictionary::VideoFrames(uint16_t stream_id) const {
    auto it = video_frames_.find(stream_id);
    return it == video_frames_.end() ? nullptr : &it->second;
}

const Character* Dictionary::Find(uint16_t id) const {
    auto it = characters_.find(id);
    return it == characters_.end() ? nullptr : &it->second;
}

void Dictionary::SetTimeline(const swf::Sprite& sprite, const TimelineDef& timeline) {
    Character* c = FindMutable(sprite.id);
    if (c && c->As<swf::Sprite>() == &sprite) c->timeline = &timeline;
}

Character* Dictionary::FindMutable(uint16_t id) {
    auto it = characters_.find(id);
    return it == characters_.end() ? nullptr : &it->second;
}

std::span<const uint8_t> Dictionary::JpegTables() const {
    if (!jpeg_tables_) return {};
    return {jpeg_tables_->data(), jpeg_tables_->size()};
}

}  // namespace qm::flash
