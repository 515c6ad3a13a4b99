// The AVM1 interpreter over any action bytes: a movie made around them by the project's movie
// writer is loaded into the player and played for a few frames.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "flash/avm1/avm1.h"
#include "flash/player.h"
#include "fuzz/avm1_input.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;

namespace {

struct DropTraces : qm::flash::TraceSink {
    void Trace(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 64 * 1024) return 0;
    const auto lists = qm::fuzz::SplitActionLists(data + 1, size - 1);

    w::Movie movie({.version = qm::fuzz::MovieVersion(data[0]), .frame = w::Rect::pixels(64, 48)});
    w::Shape box;
    box.fill0(box.addFill(w::FillStyle::solid({200, 30, 30}))).rect(0, 0, 400, 400);
    const uint16_t boxId = movie.defineShape(box);

    w::Sprite clip = movie.sprite();
    clip.place({.depth = 1, .character = boxId});
    clip.doAction(w::Actions().raw(lists[2]));
    clip.showFrame();
    clip.showFrame();
    const uint16_t clipId = movie.defineSprite(clip);

    w::Place place{.depth = 1, .character = clipId, .name = "clip"};
    if (movie.version() >= 5)
        place.clipActions.push_back({.events = w::kClipLoad | w::kClipEnterFrame, .actions = w::Actions().raw(lists[1])});
    movie.place(place);
    movie.doAction(w::Actions().raw(lists[0]));
    movie.showFrame();
    movie.showFrame();

    qm::flash::LoadResult loaded = qm::flash::Player::LoadBytes(movie.bytes());
    if (!loaded.player) return 0;
    // An endless loop is a movie's right; the short frame limit stops it well inside the
    // fuzzer's hang limit, so only a loop the limit cannot stop counts as a hang.
    loaded.player->SetScriptHost(qm::flash::MakeAvm1ScriptHost({.script_seconds_per_frame = 0.1}));
    DropTraces traces;
    loaded.player->SetTraceSink(&traces);
    loaded.player->SetLogSink([](std::string_view) {});
    for (int frame = 0; frame < 4; ++frame) loaded.player->Advance();
    loaded.player->MouseMove(10, 10);
    loaded.player->MouseDown(10, 10);
    loaded.player->MouseUp(10, 10);
    loaded.player->Advance();
    return 0;
}
