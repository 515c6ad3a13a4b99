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

bool IsControlTag(const swf::TagBody& body) {
    return std::holds_alternative<swf::PlaceObject>(body) || std::holds_alternative<swf::RemoveObject>(body) ||
           std::holds_alternative<swf::SetBackgroundColor>(body) || std::holds_alternative<swf::StartSound>(body) ||
           std::holds_alternative<swf::SoundStreamHead>(body) || std::holds_alternative<swf::SoundStreamBlock>(body) ||
           std::holds_alternative<swf::VideoFrame>(body);
}

}  // namespace

int TimelineDef::FrameOfLabel(std::string_view name) const {
    for (const Label& l : labels) {
        if (SameIgnoringCase(l.name, name)) return l.frame;
    }
    return -1;
}

TimelineDef TimelineDef::Build(const std::vector<swf::Tag>& tags, uint16_t declared_frames) {
    TimelineDef def;
    def.declared_frames = declared_frames;
    FrameDef current;
    bool trailing = false;  // tags that do something since the last ShowFrame
    bool ended = false;
    for (const swf::Tag& tag : tags) {
        const auto& body = tag.body;
        if (std::holds_alternative<swf::ShowFrame>(body)) {
            def.frames.push_back(std::move(current));
            current = FrameDef{};
            trailing = false;
            continue;
        }
        if (std::holds_alternative<swf::End>(body)) {
            ended = true;
            break;
        }
        uint16_t frame = static_cast<uint16_t>(std::min<size_t>(def.frames.size(), UINT16_MAX));
        if (IsControlTag(body) || std::holds_alternative<swf::DoAction>(body)) {
            current.tags.push_back(&tag);
            trailing = true;
        } else if (auto* ia = std::get_if<swf::DoInitAction>(&body)) {
            current.init_actions.push_back(ia);
            trailing = true;
        } else if (auto* l = std::get_if<swf::FrameLabel>(&body)) {
            def.labels.push_back({l->name, frame});
        } else if (auto* s = std::get_if<swf::SceneAndFrameLabelData>(&body)) {
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
    // Tags after the last ShowFrame still make a frame, the last one.
    if (trailing || def.frames.empty()) def.frames.push_back(std::move(current));
    def.closed = ended && !trailing;
    if (def.frames.size() > UINT16_MAX) def.frames.resize(UINT16_MAX);
    return def;
}

}  // namespace qm::flash
