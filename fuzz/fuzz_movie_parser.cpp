// The whole-movie parser over any bytes, both readings (every tag decoded, and frames left
// in place as the player reads them), with every action list it finds decoded record by
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

// A timeline's stream read in place, as the player reads its frames.
void WalkStream(std::span<const uint8_t> stream, uint8_t version) {
    using namespace qm::swf;
    for (auto t = ReadStoredTag(stream, 0); t; t = ReadStoredTag(stream, t->next)) {
        if (t->code == 4 || t->code == 26 || t->code == 70 || t->code == 94) {
            const uint8_t place_version = t->code == 4 ? 1 : t->code == 26 ? 2 : t->code == 70 ? 3 : 4;
            if (auto p = ParsePlaceObject(t->body, place_version, version); p && p->clip_actions)
                for (const ClipActionRecord& r : p->clip_actions->records) WalkActions(r.actions);
        } else if (t->code == 12) {
            WalkActions(t->body);
        } else if (IsFrameTag(t->code)) {
            (void)ParseTagBody(t->code, t->body, version);
        }
        if (t->code == 0) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::swf::ParseResult result = qm::swf::ParseMovie(std::span<const uint8_t>(data, size));
    if (result.movie) {
        WalkTags(result.movie->tags);
        (void)result.movie->IsActionScript3();
    }
    // The same bytes read for playing, frames left in place.
    qm::swf::ParseResult placed = qm::swf::ParseMovieInPlace(std::vector<uint8_t>(data, data + size));
    if (placed.movie) {
        const qm::swf::ParsedMovie& m = *placed.movie;
        WalkTags(m.tags);
        (void)m.IsActionScript3();
        WalkStream(m.TagStream(), m.header.version);
        for (const qm::swf::Tag& tag : m.tags)
            if (std::holds_alternative<qm::swf::Sprite>(tag.body)) WalkStream(m.SpriteTagStream(tag), m.header.version);
    }
    return 0;
}
