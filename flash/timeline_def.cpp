#include "flash/timeline_def.h"

#include <algorithm>
#include <cctype>

namespace qm::flash {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Tags a frame plays: the display list's, sound and background tags, frame
// and init scripts.
bool Plays(uint16_t code) {
    switch (code) {
    case 4:
    case 26:
    case 70:
    case 94:
    case 5:
    case 28:
    case 9:
    case 12:
    case 59:
    case 15:
    case 89:
    case 18:
    case 45:
    case 19: return true;
    default: return false;
    }
}

// Whether a tag that plays does something: a damaged one is kept as unknown
// by the parse and does nothing.
bool DoesSomething(const FrameTag& tag, uint8_t version) {
    if (tag.IsAction() || tag.IsStreamBlock()) return true;
    if (tag.IsPlace()) return tag.Place(version).has_value();
    if (tag.code == 59) return tag.IsInitAction();
    return !std::holds_alternative<swf::UnknownTag>(tag.Decode(version));
}

}  // namespace

std::optional<swf::PlaceObject> FrameTag::Place(uint8_t movie_version) const {
    const uint8_t place_version = code == 4 ? 1 : code == 26 ? 2 : code == 70 ? 3 : 4;
    return swf::ParsePlaceObject(body, place_version, movie_version);
}

TimelineDef::Tags::iterator::iterator(std::span<const uint8_t> stream, size_t position, size_t end)
    : stream_(stream), position_(position), end_(end) {
    Settle();
}

TimelineDef::Tags::iterator& TimelineDef::Tags::iterator::operator++() {
    position_ = next_;
    Settle();
    return *this;
}

void TimelineDef::Tags::iterator::Settle() {
    while (position_ < end_) {
        const auto stored = swf::ReadStoredTag(stream_, position_);
        if (!stored || stored->next > end_) break;
        if (Plays(stored->code)) {
            tag_ = {stored->code, stored->body};
            next_ = stored->next;
            return;
        }
        position_ = stored->next;
    }
    position_ = end_;
}

int TimelineDef::FrameOfLabel(std::string_view name) const {
    for (const Label& l : labels) {
        if (SameIgnoringCase(l.name, name)) return l.frame;
    }
    return -1;
}

TimelineDef TimelineDef::Build(std::span<const uint8_t> stream, uint8_t version, uint16_t declared_frames) {
    TimelineDef def;
    def.stream_ = stream;
    def.version = version;
    def.declared_frames = declared_frames;
    std::vector<uint32_t> starts{0};  // where each frame's tags begin
    bool ended = false;
    size_t read_to = 0;           // the end of the last tag read
    bool video_trailing = false;  // a video frame since the last ShowFrame
    for (auto t = swf::ReadStoredTag(stream, 0); t; t = swf::ReadStoredTag(stream, t->next)) {
        read_to = t->next;
        if (t->code == 1) {
            starts.push_back(static_cast<uint32_t>(t->next));
            video_trailing = false;
            continue;
        }
        if (t->code == 0) {
            ended = true;
            read_to = t->position;
            break;
        }
        if (t->code == 61 && t->body.size() >= 4) video_trailing = true;
        const uint16_t frame = static_cast<uint16_t>(std::min<size_t>(starts.size() - 1, UINT16_MAX));
        if (t->code == 43) {
            const swf::TagBody body = swf::ParseTagBody(t->code, t->body, version);
            if (auto* l = swf::BodyIf<swf::FrameLabel>(body)) def.labels.push_back({l->name, frame});
        } else if (t->code == 86) {
            const swf::TagBody body = swf::ParseTagBody(t->code, t->body, version);
            if (auto* s = swf::BodyIf<swf::SceneAndFrameLabelData>(body)) {
                for (const auto& scene : s->scenes) {
                    def.scenes.push_back({scene.name, static_cast<uint16_t>(std::min<uint32_t>(scene.frame, UINT16_MAX))});
                }
                if (def.labels.empty()) {
                    for (const auto& label : s->labels) {
                        def.labels.push_back({label.name, static_cast<uint16_t>(std::min<uint32_t>(label.frame, UINT16_MAX))});
                    }
                }
            }
        }
    }
    // Tags after the last ShowFrame that do something still make a frame,
    // the last one.
    bool trailing = video_trailing;
    for (const FrameTag& tag : Tags(stream, {starts.back(), static_cast<uint32_t>(read_to)})) {
        if (trailing || DoesSomething(tag, version)) {
            trailing = true;
            break;
        }
    }
    if (trailing || starts.size() == 1) starts.push_back(static_cast<uint32_t>(read_to));
    def.closed = ended && !trailing;
    const size_t frames = std::min<size_t>(starts.size() - 1, UINT16_MAX);
    def.frames.reserve(frames);
    for (size_t f = 0; f < frames; ++f) def.frames.push_back({starts[f], starts[f + 1]});
    return def;
}

}  // namespace qm::flash
