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
    return std::holds_alternative<swf::PackedPlaceObject>(body) || std::holds_alternative<swf::RemoveObject>(body) ||
           std::holds_alternative<swf::SetBackgroundColor>(body) || swf::BodyIs<swf::StartSound>(body) ||
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
    // Where each frame's tags and init scripts start in the lists; the views
    // are made once the lists are complete.
    struct Start {
        size_t tags = 0, init_actions = 0;
    };
    std::vector<Start> starts;
    starts.reserve(static_cast<size_t>(
        std::count_if(tags.begin(), tags.end(), [](const swf::Tag& t) { return std::holds_alternative<swf::ShowFrame>(t.body); }) + 1));
    auto end_frame = [&] { starts.push_back({def.frame_tags_.size(), def.init_actions_.size()}); };
    starts.push_back({});
    bool trailing = false;  // tags that do something since the last ShowFrame
    bool ended = false;
    for (const swf::Tag& tag : tags) {
        const auto& body = tag.body;
        if (std::holds_alternative<swf::ShowFrame>(body)) {
            end_frame();
            trailing = false;
            continue;
        }
        if (std::holds_alternative<swf::End>(body)) {
            ended = true;
            break;
        }
        uint16_t frame = static_cast<uint16_t>(std::min<size_t>(starts.size() - 1, UINT16_MAX));
        if (IsControlTag(body) || std::holds_alternative<swf::DoAction>(body)) {
            def.frame_tags_.push_back(&tag);
            trailing = true;
        } else if (auto* ia = std::get_if<swf::DoInitAction>(&body)) {
            def.init_actions_.push_back(ia);
            trailing = true;
        } else if (auto* l = swf::BodyIf<swf::FrameLabel>(body)) {
            def.labels.push_back({l->name, frame});
        } else if (auto* s = swf::BodyIf<swf::SceneAndFrameLabelData>(body)) {
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
    if (trailing || starts.size() == 1) end_frame();
    def.closed = ended && !trailing;
    const size_t frames = std::min<size_t>(starts.size() - 1, UINT16_MAX);
    def.frames.reserve(frames);
    def.frame_tags_.shrink_to_fit();
    def.init_actions_.shrink_to_fit();
    const std::span<const swf::Tag* const> all_tags(def.frame_tags_);
    const std::span<const swf::DoInitAction* const> all_inits(def.init_actions_);
    for (size_t f = 0; f < frames; ++f) {
        def.frames.push_back({all_tags.subspan(starts[f].tags, starts[f + 1].tags - starts[f].tags),
                              all_inits.subspan(starts[f].init_actions, starts[f + 1].init_actions - starts[f].init_actions)});
    }
    return def;
}

}  // namespace qm::flash
