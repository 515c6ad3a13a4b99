#include <algorithm>
#include <fstream>
#include <iterator>

#include "flash/avm1/avm1.h"
#include "flash/config_access.h"
#include "flash/player_impl.h"

namespace qm::flash {

namespace {

constexpr std::streamoff kMaxFileBytes = std::streamoff(limits::kMaxMovieFileBytes);

void AddDefinitions(const swf::ParsedMovie& movie, Dictionary& dictionary,
                    std::unordered_map<const swf::Sprite*, TimelineDef>& sprites) {
    for (const swf::Tag& tag : movie.tags) {
        dictionary.Add(tag.body);
        if (auto* sprite = std::get_if<swf::Sprite>(&tag.body)) {
            const TimelineDef& timeline =
                sprites.try_emplace(sprite, TimelineDef::Build(movie.SpriteTagStream(tag), movie.header.version,
                                                               sprite->frame_count))
                    .first->second;
            dictionary.SetTimeline(*sprite, timeline);
            // Sprites define nothing, but their video frames feed streams.
            for (const swf::Tag& inner : sprite->tags) {
                if (std::holds_alternative<swf::VideoFrame>(inner.body)) dictionary.Add(inner.body);
            }
        }
    }
}

// getTimer counts the movie's frames at its own rate; the movie may choose
// its recursion depth (its script timeout asks a user, who is not here).
Avm1Options ScriptOptions(const swf::ParsedMovie& movie) {
    Avm1Options options;
    if (movie.header.FrameRate() > 0) options.frame_ms = 1000.0 / movie.header.FrameRate();
    for (const swf::Tag& tag : movie.tags) {
        if (auto* l = std::get_if<swf::ScriptLimits>(&tag.body)) {
            if (l->max_recursion_depth > 0) options.max_recursion = l->max_recursion_depth;
            break;
        }
    }
    return options;
}

}  // namespace

std::shared_ptr<const MovieDefinition> MovieDefinition::Build(swf::ParsedMovie movie, size_t file_bytes) {
    auto d = std::make_shared<MovieDefinition>();
    d->movie = std::move(movie);
    d->file_bytes = uint32_t(std::min<size_t>(file_bytes, UINT32_MAX));
    AddDefinitions(d->movie, d->dictionary, d->sprite_timelines);
    d->root_timeline = TimelineDef::Build(d->movie.TagStream(), d->movie.header.version, d->movie.header.frame_count);
    d->root_timeline.waits_for_declared_frames = true;
    return d;
}

const TimelineDef* Player::Impl::TimelineOf(const swf::Sprite* sprite) const {
    if (auto it = definition->sprite_timelines.find(sprite); it != definition->sprite_timelines.end()) return &it->second;
    if (auto it = sprite_timelines.find(sprite); it != sprite_timelines.end()) return &it->second;
    for (const auto& loaded : loaded_movies)
        if (auto it = loaded->sprite_timelines.find(sprite); it != loaded->sprite_timelines.end()) return &it->second;
    return nullptr;
}

void Player::Impl::Init() {
    root = std::make_unique<DisplayObject>();
    root->instance_id = next_instance_id++;
    root->name = "_level0";
    root->sprite = std::make_unique<SpriteState>();
    root->sprite->timeline = &root_timeline;
    root->upper_levels = &levels;
    clips[root->instance_id] = root.get();
    clip_order.push_back(root->instance_id);
    script_host = MakeAvm1ScriptHost(ScriptOptions(movie));
    if (movie.IsActionScript3()) scripts_enabled = false;
}

Player::Player(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Player::~Player() = default;

LoadResult Player::LoadBytes(std::vector<uint8_t> bytes) {
    LoadResult result;
    const size_t file_bytes = bytes.size();
    swf::ParseResult parsed = swf::ParseMovieInPlace(std::move(bytes));
    if (!parsed.movie) {
        result.error = parsed.error ? parsed.error->message : "the movie could not be read";
        return result;
    }
    // The configuration file is read once, when the first player is made.
    (void)CurrentPlayerConfiguration();
    auto impl = std::make_unique<Impl>(MovieDefinition::Build(std::move(*parsed.movie), file_bytes));
    impl->Init();
    result.player.reset(new Player(std::move(impl)));
    return result;
}

std::unique_ptr<Player> Player::AnotherOfTheSameMovie() const {
    auto impl = std::make_unique<Impl>(impl_->definition);
    impl->Init();
    impl->movie_folder = impl_->movie_folder;
    return std::unique_ptr<Player>(new Player(std::move(impl)));
}

LoadResult Player::LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {nullptr, "cannot open " + path};
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) return {nullptr, "cannot read " + path};
    if (size > kMaxFileBytes) return {nullptr, "the movie is too large: " + path};
    in.seekg(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return {nullptr, "cannot read " + path};
    LoadResult result = LoadBytes(std::move(bytes));
    if (result.player) {
        // Files the movie reads by relative path are looked up beside it.
        size_t slash = path.rfind('/');
        result.player->impl_->movie_folder = slash == std::string::npos ? "." : path.substr(0, slash);
        if (result.player->impl_->movie_folder.empty()) result.player->impl_->movie_folder = "/";
    }
    return result;
}

const swf::Header& Player::Header() const { return impl_->movie.header; }
const swf::Rect& Player::StageRect() const { return impl_->ShownStage(); }
bool Player::IsActionScript3() const { return impl_->movie.IsActionScript3(); }

namespace {

bool TagsHoldSound(const std::vector<swf::Tag>& tags) {
    for (const swf::Tag& tag : tags) {
        if (swf::BodyIs<swf::DefineSound>(tag.body) || std::holds_alternative<swf::SoundStreamHead>(tag.body))
            return true;
        if (const auto* sprite = std::get_if<swf::Sprite>(&tag.body); sprite && TagsHoldSound(sprite->tags)) return true;
    }
    return false;
}

}  // namespace

bool Player::HoldsSound() const { return TagsHoldSound(impl_->movie.tags); }

std::vector<swf::ParseError> Player::ReadProblems() const {
    std::vector<swf::ParseError> problems = impl_->movie.warnings;
    if (impl_->movie.truncated) problems.push_back(*impl_->movie.truncated);
    return problems;
}

void Player::Advance() {
    impl_->Tick();
    if (impl_->sound_discarded) {
        // Moves on as a mixing caller would after this frame.
        const uint64_t end = SoundSamplesBefore(impl_->frames_shown);
        if (end > impl_->mixer.Position()) impl_->mixer.Skip(end - impl_->mixer.Position());
    }
}

void Player::Play() { impl_->root->sprite->playing = true; }
void Player::Stop() { impl_->root->sprite->playing = false; }
bool Player::IsPlaying() const { return impl_->root->sprite->playing; }

void Player::GotoFrame(uint32_t frame) {
    impl_->Goto(*impl_->root, frame);
    impl_->RunScripts();
    impl_->SyncSound();
}

uint32_t Player::CurrentFrame() const { return impl_->root->sprite->current_frame; }
uint32_t Player::TotalFrames() const { return impl_->root_timeline.FrameCount(); }
void Player::SetLoop(bool loop) { impl_->loop = loop; }
bool Player::Loop() const { return impl_->loop; }

swf::Rgba Player::BackgroundColor() const { return impl_->background; }
const DisplayList& Player::Stage() const { return impl_->root->children; }
const DisplayObject& Player::RootObject() const { return *impl_->root; }
const Dictionary& Player::Characters() const { return impl_->dictionary; }

void Player::MouseMove(double x, double y) {
    impl_->mouse_x = x * 20;
    impl_->mouse_y = y * 20;
    impl_->ClipEventOnAll(swf::kClipEventMouseMove);
    impl_->UpdateMouse(false);
}

void Player::MouseDown(double x, double y) {
    impl_->mouse_x = x * 20;
    impl_->mouse_y = y * 20;
    impl_->mouse_down = true;
    impl_->ClipEventOnAll(swf::kClipEventMouseDown);
    impl_->UpdateMouse(true);
}

void Player::MouseUp(double x, double y) {
    impl_->mouse_x = x * 20;
    impl_->mouse_y = y * 20;
    impl_->mouse_down = false;
    impl_->ClipEventOnAll(swf::kClipEventMouseUp);
    impl_->UpdateMouse(false);
}

void Player::KeyDown(uint8_t key) {
    impl_->ClipEventOnAll(swf::kClipEventKeyDown);
    impl_->ClipEventOnAll(swf::kClipEventKeyPress, key);
    impl_->ButtonKeyPress(key);
    impl_->RunScripts();
}

void Player::KeyUp(uint8_t key) {
    (void)key;
    impl_->ClipEventOnAll(swf::kClipEventKeyUp);
    impl_->RunScripts();
}

uint64_t Player::SoundSamplesBefore(uint64_t frame) const {
    uint64_t rate = impl_->movie.header.frame_rate ? impl_->movie.header.frame_rate : 256;
    return frame * uint64_t(kMixRate) * 256 / rate;
}

void Player::Mix(int16_t* out, size_t count) { impl_->mixer.Mix(out, count); }
void Player::SetVolume(int volume) { impl_->mixer.SetVolume(volume); }
int Player::Volume() const { return impl_->mixer.Volume(); }
void Player::SetMuted(bool muted) { impl_->mixer.SetMuted(muted); }
bool Player::Muted() const { return impl_->mixer.Muted(); }
void Player::SetSoundDiscarded(bool discarded) { impl_->sound_discarded = discarded; }

void Player::SetTraceSink(TraceSink* sink) { impl_->trace_sink = sink; }

void Player::SetScriptHost(std::unique_ptr<ScriptHost> host) {
    impl_->script_host = host ? std::move(host) : MakeTimelineScriptHost();
}

void Player::SetScriptStartTime(double ms_since_1970) {
    if (impl_->frames_shown != 0) return;
    Avm1Options options = ScriptOptions(impl_->movie);
    options.start_time_ms = ms_since_1970;
    impl_->script_host = MakeAvm1ScriptHost(options);
}

void Player::SetLogSink(std::function<void(std::string_view)> sink) { impl_->log_sink = std::move(sink); }

void Player::Log(std::string_view line) { impl_->Log(line); }

}  // namespace qm::flash
