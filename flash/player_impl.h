// The player's inner state, shared by its source files (loading, timelines,
// buttons and script scheduling). Not part of the folder's interface.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include "flash/player.h"
#include "flash/sound/sound.h"
#include "flash/timeline_def.h"

namespace qm::flash {

// What a movie defines, read once and shared, never changed, by every player
// of the movie (the render workers of a conversion): its tags, characters and
// timelines.
struct MovieDefinition {
    swf::ParsedMovie movie;
    Dictionary dictionary;
    TimelineDef root_timeline;
    std::unordered_map<const swf::Sprite*, TimelineDef> sprite_timelines;
    uint32_t file_bytes = 0;  // the file's size as stored (compressed or not)
    static std::shared_ptr<const MovieDefinition> Build(swf::ParsedMovie movie, size_t file_bytes = 0);
};

struct Player::Impl : ScriptEnvironment {
    explicit Impl(std::shared_ptr<const MovieDefinition> shared)
        : definition(std::move(shared)),
          movie(definition->movie),
          dictionary(definition->dictionary),
          root_timeline(definition->root_timeline) {}
    const std::shared_ptr<const MovieDefinition> definition;
    const swf::ParsedMovie& movie;
    const Dictionary& dictionary;
    const TimelineDef& root_timeline;
    // Timelines of sprites that scripts made (the movie's are in the definition).
    std::unordered_map<const swf::Sprite*, TimelineDef> sprite_timelines;
    const TimelineDef* TimelineOf(const swf::Sprite* sprite) const;
    std::unique_ptr<DisplayObject> root;

    uint64_t next_instance_id = 1;
    // Unnamed placed clips, buttons and text fields are called "instance" and this, counted up.
    uint64_t default_names = 0;
    // Timelines by instance id; the order of creation decides who advances
    // first (the newest), so it is kept as a list beside the map.
    std::unordered_map<uint64_t, DisplayObject*> clips;
    std::vector<uint64_t> clip_order;
    std::unordered_map<uint64_t, DisplayObject*> buttons;

    // A movie whose clips contain themselves would never stop creating them.
    static constexpr int kMaxNesting = 64;
    static constexpr size_t kMaxObjects = 200000;
    size_t live_objects = 0;
    bool instance_limit_logged = false;
    bool MayCreateUnder(const DisplayObject& parent);

    struct PendingScript {
        uint64_t clip_id = 0;
        std::span<const uint8_t> actions;
        ScriptKind kind = ScriptKind::Frame;
        DisplayObject* removed_clip = nullptr;  // unload handlers of removed clips
        uint32_t handler_event = 0;  // set: the host's ClipEvent, not a list
    };
    // Frame scripts, load and enterFrame handlers, in the order they run.
    std::deque<PendingScript> scripts;
    // Handlers that run before anything queued: unload (as clips go), then
    // initialize, then construct (as clips are created).
    std::vector<PendingScript> unload_scripts, initialize_scripts, construct_scripts;
    // Removed objects live on until no script can hold them any more.
    std::vector<std::unique_ptr<DisplayObject>> removed_objects;
    std::set<const uint8_t*> init_actions_done;  // by where their actions are stored
    bool scripts_enabled = true;

    bool loop = true;
    swf::Rgba background{255, 255, 255, 255};
    TraceSink* trace_sink = nullptr;
    std::unique_ptr<ScriptHost> script_host;
    std::function<void(std::string_view)> log_sink;

    // Mouse and buttons.
    double mouse_x = 0, mouse_y = 0;  // twips
    bool mouse_down = false;
    uint64_t hover_button = 0;
    uint64_t pressed_button = 0;

    // --- loading (player.cpp)
    void Init();

    // --- timelines (timeline.cpp)
    std::unique_ptr<DisplayObject> CreateObject(const Character& character, DisplayObject& parent, int32_t depth);
    // A placed object that scripts can reach and the movie left unnamed gets the next default name.
    void NameUnnamed(DisplayObject& object);
    void Attach(DisplayObject& parent, std::unique_ptr<DisplayObject> object);
    void RemoveChild(DisplayObject& parent, int32_t depth);
    void Forget(DisplayObject& object);
    void EnterFirstFrame(DisplayObject& clip);
    void ApplyFrame(DisplayObject& clip, uint16_t frame, bool with_scripts);
    void ApplyPlace(DisplayObject& clip, const swf::PlaceObject& place, uint16_t frame);
    void Rebuild(DisplayObject& clip, uint16_t frame);
    void Goto(DisplayObject& clip, uint32_t frame);
    void AdvanceClip(DisplayObject& clip);
    void Tick();
    void QueueFrameScripts(DisplayObject& clip, uint16_t frame);
    void QueueInitScripts(DisplayObject& clip, uint16_t frame);
    void QueueClipEvent(DisplayObject& object, uint32_t event, uint8_t key = 0);
    // The event on every clip that has a handler for it, newest first.
    void ClipEventOnAll(uint32_t event, uint8_t key = 0);
    void RunScripts();
    bool TakeNextScript(PendingScript& next);
    DisplayObject* FindClip(uint64_t id) const;
    bool IsLive(const DisplayObject& object) const;

    // --- buttons (buttons.cpp)
    void BuildButtonChildren(DisplayObject& button);
    void SetButtonState(DisplayObject& button, ButtonVisualState state);
    void ButtonEvent(DisplayObject& button, uint16_t condition);
    DisplayObject* FindButtonInstance(uint64_t id) const;
    void UpdateMouse(bool press);
    void ButtonKeyPress(uint8_t key);

    // --- sound (sound/player_sound.cpp)
    sound::Mixer mixer;
    uint64_t frames_shown = 0;  // Advance calls so far
    sound::DecodedSoundCache decoded_sounds;
    // By timeline; null: it has no stream that sounds.
    std::unordered_map<const TimelineDef*, std::shared_ptr<const sound::StreamSource>> streams;
    // Nobody mixes this player's sound: the mixer only keeps time.
    bool sound_discarded = false;
    struct StreamPlace {
        uint16_t frame = 0;
        uint64_t tick = 0;
    };
    std::unordered_map<uint64_t, StreamPlace> stream_places;  // by clip instance
    std::unordered_map<uint64_t, SoundTransform> sound_transforms;  // by clip instance; 0: global
    uint64_t SoundNow() const;  // the sample where the frame shown began
    std::shared_ptr<const sound::Pcm> DecodedSound(uint16_t sound_id);
    void StartSoundTag(const swf::StartSound& start, uint64_t owner);
    void PlaySoundInfo(uint16_t sound_id, const swf::SoundInfo& info, uint64_t owner);
    void ButtonSoundFor(const DisplayObject& button, uint16_t condition);
    void StartFrameSounds(DisplayObject& clip, uint16_t frame);
    // After a frame or a goto: streams follow their timelines, gains their clips.
    void SyncSound();
    std::shared_ptr<const sound::StreamSource> StreamOf(const TimelineDef& timeline);

    // --- ScriptEnvironment (script_environment.cpp)
    uint8_t MovieVersion() const override { return movie.header.version; }
    uint8_t ClipVersion(const DisplayObject& clip) const override;
    bool AsksForNetwork() const override {
        for (const swf::Tag& tag : movie.tags)
            if (auto* a = std::get_if<swf::FileAttributes>(&tag.body)) return a->UseNetwork();
        return false;
    }
    DisplayObject& Root() override { return *root; }
    DisplayObject* ResolveTarget(DisplayObject& from, std::string_view path) override;
    void Play(DisplayObject& clip) override;
    void Stop(DisplayObject& clip) override;
    void GotoFrame(DisplayObject& clip, uint32_t frame, bool play) override;
    bool GotoLabel(DisplayObject& clip, std::string_view label, bool play) override;
    std::vector<std::span<const uint8_t>> FrameScripts(DisplayObject& clip, uint32_t frame) override;
    void NextFrame(DisplayObject& clip) override;
    void PrevFrame(DisplayObject& clip) override;
    const Dictionary& Characters() const override { return dictionary; }
    DisplayObject* CreateClip(DisplayObject& parent, uint16_t character_id, int32_t depth,
                              std::string_view name) override;
    void RemoveClip(DisplayObject& object) override;
    std::optional<std::string> ReadLocalFile(std::string_view url) override;
    std::string movie_folder;  // empty: the movie did not come from a file
    DisplayObject* CreateEmptyClip(DisplayObject& parent, int32_t depth, std::string_view name) override;
    DisplayObject* CreateTextField(DisplayObject& parent, int32_t depth, std::string_view name,
                                   const swf::EditText& definition) override;
    swf::EditText* OwnTextDefinition(DisplayObject& field) override;
    swf::Rect StageRect() override { return ShownStage(); }
    const swf::Rect& ShownStage() const;
    // Definitions of what scripts made; deques keep their addresses.
    std::deque<swf::TagBody> script_definitions;
    std::deque<Character> script_characters;
    const Character* empty_clip_character = nullptr;
    const Character& EmptyClipCharacter();  // one sprite of one empty frame
    DisplayObject* CreateScripted(DisplayObject& parent, const Character& character, int32_t depth,
                                  std::string_view name);
    void Trace(std::string_view text) override;
    void GetUrl(std::string_view url, std::string_view target) override;
    void ClipDataArrived(DisplayObject& clip) override { QueueClipEvent(clip, swf::kClipEventData); }
    // --- movies loaded into clips (loader.cpp)
    std::optional<std::string> LoadMovie(DisplayObject& clip, std::string_view url, size_t* bytes_read) override;
    void UnloadMovie(DisplayObject& clip) override;
    struct PendingLoad {
        uint64_t clip_id = 0;  // 0: the level below
        int32_t level = 0;
        std::shared_ptr<const MovieDefinition> movie;  // null: unload, or a picture
        std::shared_ptr<const ScriptBitmap> picture;  // a JPEG, PNG or GIF shown in the clip
        uint32_t picture_bytes = 0;  // its file's size
    };
    std::vector<PendingLoad> pending_loads;
    std::unordered_map<uint64_t, uint32_t> picture_bytes;  // the file of the picture a clip shows, by clip
    bool ClipBytes(const DisplayObject& clip, bool as_stored, uint32_t& loaded, uint32_t& total) override;
    // The movie each loaded clip plays (its characters and timelines); kept
    // for as long as the player, since removed clips may still point into them.
    std::unordered_map<uint64_t, std::shared_ptr<const MovieDefinition>> loaded_into;
    std::vector<std::shared_ptr<const MovieDefinition>> loaded_movies;
    TimelineDef unloaded_timeline = TimelineDef::Build({}, 0, 1);
    // The characters a clip's timeline places: those of the movie loaded into
    // it or into a clip above it, else the main movie's.
    const Dictionary& DictionaryOf(const DisplayObject& clip) const;
    void FinishLoads();
    // The movies loaded into levels above 0, by level: drawn over the main
    // movie, lowest first.
    DisplayList levels;
    DisplayObject* Level(int32_t level) override;
    std::vector<DisplayObject*> UpperLevels() override;
    std::optional<std::string> LoadMovieNum(int32_t level, std::string_view url) override;
    void UnloadMovieNum(int32_t level) override;
    // Reads a movie or picture for a load; the error a loader hears when it cannot.
    DisplayObject* LevelForLoad(const PendingLoad& load);  // made or taken away as the load asks
    std::optional<std::string> ReadLoad(std::string_view url, PendingLoad& load, size_t* bytes_read);
    void Log(std::string_view line) override;
    uint16_t ExportedSound(std::string_view name) override;
    uint64_t StartSound(DisplayObject* clip, uint16_t sound_id, double offset_seconds, int loops) override;
    void StopSounds(DisplayObject* clip, uint16_t sound_id) override;
    SoundTransform GetSoundTransform(const DisplayObject* clip) override;
    void SetSoundTransform(DisplayObject* clip, const SoundTransform& transform) override;
    void SetSoundPan(DisplayObject* clip, int32_t pan) override;
    int32_t SoundPan(const DisplayObject* clip) override;
    uint32_t SoundDurationMs(uint16_t sound_id) override;
    uint16_t AddSoundFile(std::span<const uint8_t> mp3, std::string& error) override;
    // Sounds scripts loaded from files, by the ids they were given (none the movie defines).
    std::unordered_map<uint16_t, std::shared_ptr<const sound::Pcm>> loaded_sounds;
    uint32_t SoundPositionMs(uint64_t handle) override;
    bool SoundPlaying(uint64_t handle) override;
};

}  // namespace qm::flash
