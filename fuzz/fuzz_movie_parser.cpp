// The whole-movie parser over any bytes, with every action list it finds decoded record by
// record as the interpreter will read them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "swf/swf.h"

namespace {

void WalkActions(std::span<const uint8_t> actions) {
    for (size_t at = 0; at < actions.size();) {
        auto record = qm::swf::DecodeAction(actions, at);
        if (!record || record->size == 0) break;
        at += record->size;
    }
}

void WalkTags(const std::vector<qm::swf::Tag>& tags) {
    using namespace qm::swf;
    for (const Tag& tag : tags) {
        if (auto* a = std::get_if<DoAction>(&tag.body)) WalkActions(a->actions);
        else if (auto* i = std::get_if<DoInitAction>(&tag.body)) WalkActions(i->actions);
        else if (auto* s = std::get_if<Sprite>(&tag.body)) WalkTags(s->tags);
        else if (auto* b = BodyIf<Button>(tag.body)) {
            for (const ButtonAction& action : b->actions) WalkActions(action.actions);
        } else if (auto* packed = std::get_if<PackedPlaceObject>(&tag.body)) {
            const PlaceObject p = packed->Unpack();
            if (p.clip_actions)
                for (const ClipActionRecord& r : p.clip_actions->records) WalkActions(r.actions);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::swf::ParseResult result = qm::swf::ParseMovie(std::span<const uint8_t>(data, size));
    if (result.movie) {
        WalkTags(result.movie->tags);
        (void)result.movie->IsActionScript3();
    }
    return 0;
}
