// The player engine's public interface: load a movie, advance it one frame
// per call, control its main timeline, feed it the mouse, and walk what is on
// the stage. Scripts reach the player through ScriptEnvironment and are run
// by a ScriptHost, so the interpreter can be replaced without touching the
// timelines.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "flash/dictionary.h"
#include "flash/display_list.h"
#include "swf/swf.h"

namespace qm::flash {

// Receives every trace() line, without line end.
class TraceSink {
public:
    virtual ~TraceSink() = default;
    virtual void Trace(std::string_view line) = 0;
};

// What a script may ask of the player. A clip is a sprite instance or the
// main movie (Root()).
class ScriptEnvironment {
public:
    virtual ~ScriptEnvironment() = default;
    virtual uint8_t MovieVersion() const = 0;
    // The version of the movie a clip's content comes from (a loaded one's own).
    virtual uint8_t ClipVersion(const DisplayObject& clip) const { return (void)clip, MovieVersion(); }
    virtual DisplayObject& Root() = 0;
    // A slash path ("/a/b", "../b", "b") or, from version 5, a dot path
    // ("_root.a", "_parent.b"), relative to `from`; null when nothing answers.
    virtual DisplayObject* ResolveTarget(DisplayObject& from, std::string_view path) = 0;
    virtual void Play(DisplayObject& clip) = 0;
    virtual void Stop(DisplayObject& clip) = 0;
    // Zero-based frame; beyond the last frame means the last frame.
    virtual void GotoFrame(DisplayObject& clip, uint32_t frame, bool play) = 0;
    // False (and no effect) when the clip has no such label.
    virtual bool GotoLabel(DisplayObject& clip, std::string_view label, bool play) = 0;
    // The frame scripts of a frame (zero-based) of a clip, for Call; empty
    // when there is no such frame.
    virtual std::vector<std::span<const uint8_t>> FrameScripts(DisplayObject& clip, uint32_t frame) = 0;
    virtual void NextFrame(DisplayObject& clip) = 0;
    virtual void PrevFrame(DisplayObject& clip) = 0;
    // Clips made and removed by scripts (attachMovie, duplicateMovieClip,
    // removeMovieClip): the timeline leaves them alone. CreateClip replaces
    // what is at the depth and gives null when the character is unknown.
    virtual const Dictionary& Characters() const = 0;
    virtual DisplayObject* CreateClip(DisplayObject& parent, uint16_t character_id, int32_t depth,
                                      std::string_view name) = 0;
    virtual void RemoveClip(DisplayObject& object) = 0;
    // Objects made by scripts from no character of the movie: an empty clip
    // of one frame (createEmptyMovieClip), and a text field of its own
    // definition (createTextField). Null when the parent cannot take them.
    virtual DisplayObject* CreateEmptyClip(DisplayObject& parent, int32_t depth, std::string_view name) {
        return (void)parent, (void)depth, (void)name, nullptr;
    }
    virtual DisplayObject* CreateTextField(DisplayObject& parent, int32_t depth, std::string_view name,
                                           const swf::EditText& definition) {
        return (void)parent, (void)depth, (void)name, (void)definition, nullptr;
    }
    // A text field's definition that scripts may change (border, colours,
    // kind) for this field alone; null when the object is no text field.
    virtual swf::EditText* OwnTextDefinition(DisplayObject& field) { return (void)field, nullptr; }
    // The stage as the movie's header gives it, twips.
    virtual swf::Rect StageRect() { return swf::Rect{0, 11000, 0, 8000}; }
    virtual void Trace(std::string_view text) = 0;
    // The text of a file a script loads by a relative path ("data.xml"),
    // from the movie's own folder; nothing for other places, for URLs, or
    // when the movie was not loaded from a file.
    virtual std::optional<std::string> ReadLocalFile(std::string_view url) { return (void)url, std::nullopt; }

    // Sound, for the Sound object. `clip` is the owner of a sound: its
    // transform and those of its parents apply to what it plays; null
    // stands for the whole movie (the global transform, every sound).
    // The sound character exported under `name` (DefineSound only), 0 when none.
    virtual uint16_t ExportedSound(std::string_view name) { return (void)name, 0; }
    // Starts a sound character, `offset_seconds` into it, played `loops`
    // times (less than 1 counts as 1). Gives a handle for the position
    // queries, 0 when nothing starts (unknown or undecodable sound).
    virtual uint64_t StartSound(DisplayObject* clip, uint16_t sound_id, double offset_seconds, int loops) {
        return (void)clip, (void)sound_id, (void)offset_seconds, (void)loops, 0;
    }
    // Stops the sounds started on `clip` (null: every sound of the movie,
    // as stopAllSounds); `sound_id` 0 stops them all, else only that sound.
    virtual void StopSounds(DisplayObject* clip, uint16_t sound_id) { (void)clip, (void)sound_id; }
    // Volume and balance in percent: left out = (ll * left + rl * right) / 100,
    // right out = (lr * left + rr * right) / 100, both times volume / 100.
    // A clip that never had one set gives the default.
    struct SoundTransform {
        int32_t volume = 100;
        int32_t ll = 100, lr = 0, rl = 0, rr = 100;
        bool operator==(const SoundTransform&) const = default;
    };
    virtual SoundTransform GetSoundTransform(const DisplayObject* clip) { return (void)clip, SoundTransform{}; }
    virtual void SetSoundTransform(DisplayObject* clip, const SoundTransform& transform) {
        (void)clip, (void)transform;
    }
    // Pan -100 (left only) .. 100 (right only): the side away from the pan
    // is turned down (ll = 100 - pan for pan > 0, rr = 100 + pan for pan < 0),
    // the cross terms cleared; a pan beyond 100 turns that side negative, as
    // the original does. SoundPan gives rr - ll of the clip's transform.
    virtual void SetSoundPan(DisplayObject* clip, int32_t pan) { (void)clip, (void)pan; }
    virtual int32_t SoundPan(const DisplayObject* clip) { return (void)clip, 0; }
    // One play of a sound character, in milliseconds; 0 for unknown ones.
    virtual uint32_t SoundDurationMs(uint16_t sound_id) { return (void)sound_id, 0; }
    // An MP3 file a script loaded (loadSound): a sound id of its own for the
    // calls above; 0 when it holds no sound, with the reason in `error`.
    virtual uint16_t AddSoundFile(std::span<const uint8_t> mp3, std::string& error) {
        return (void)mp3, error = "no sound here", 0;
    }
    // How far the sound of a handle has played at the current frame, in ms
    // into the sound (offset included, within the current loop); a finished
    // or stopped sound keeps where it ended.
    virtual uint32_t SoundPositionMs(uint64_t handle) { return (void)handle, 0; }
    // True until the sound of a handle has played to its end or was stopped.
    virtual bool SoundPlaying(uint64_t handle) { return (void)handle, false; }

    // Whether the movie asked for the network sandbox (its file attributes):
    // a local movie then plays as "localWithNetwork", else "localWithFile".
    virtual bool AsksForNetwork() const { return false; }

    // getURL to a window or a level beyond the first: nothing is opened or
    // loaded; the request is logged.
    virtual void GetUrl(std::string_view url, std::string_view target) = 0;
    // Variables loaded into a clip have arrived: its data event (onClipEvent(data),
    // onData) runs first on the next frame.
    virtual void ClipDataArrived(DisplayObject& clip) { (void)clip; }
    // loadMovie: the movie of `url` (beside this one) takes the place of what
    // `clip` shows once this frame's scripts have run. Nothing when it is on
    // its way, else why not ("URLNotFound", "LoadNeverCompleted"). The size
    // of the file read goes to `bytes_read`.
    virtual std::optional<std::string> LoadMovie(DisplayObject& clip, std::string_view url, size_t* bytes_read) {
        return (void)clip, (void)url, (void)bytes_read, std::string("URLNotFound");
    }
    // unloadMovie: the clip is emptied once this frame's scripts have run.
    virtual void UnloadMovie(DisplayObject& clip) { (void)clip; }
    // Levels: 0 is the main movie (Root()); a movie loaded into a level above
    // it (loadMovieNum) makes that level when it arrives, after this frame's
    // scripts, and unloadMovieNum takes it away then. Null: nothing there.
    virtual DisplayObject* Level(int32_t level) { return level == 0 ? &Root() : nullptr; }
    // The levels above 0, lowest first.
    virtual std::vector<DisplayObject*> UpperLevels() { return {}; }
    virtual std::optional<std::string> LoadMovieNum(int32_t level, std::string_view url) {
        DisplayObject* at = Level(level);
        return at ? LoadMovie(*at, url, nullptr) : std::optional<std::string>("URLNotFound");
    }
    virtual void UnloadMovieNum(int32_t level) {
        if (DisplayObject* at = Level(level)) UnloadMovie(*at);
    }
    // What a clip shows, in bytes, for getBytesLoaded and getBytesTotal: a
    // movie's length as its header declares it and how much of that its file
    // holds, or (`as_stored`, a loader's progress) its file's size; a sprite's
    // tags; a picture's file. An empty clip has none; false when the clip shows nothing known.
    virtual bool ClipBytes(const DisplayObject& clip, bool as_stored, uint32_t& loaded, uint32_t& total) {
        return (void)clip, (void)as_stored, loaded = total = 0, false;
    }
    virtual void Log(std::string_view line) = 0;
};

enum class ScriptKind { Frame, Init, Button, ClipEvent };

// Runs action lists. The player calls it in the order of the frame
// processing model: init actions, then frame actions, parents before the
// clips they create, newest clips first on later frames.
class ScriptHost {
public:
    virtual ~ScriptHost() = default;
    virtual void Run(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t> actions,
                     ScriptKind kind) = 0;
    // A clip event reached `clip`: handlers the scripts set on the clip
    // (onEnterFrame, onLoad, ...) run here, after its onClipEvent actions.
    virtual void ClipEvent(ScriptEnvironment& env, DisplayObject& clip, uint32_t event) {
        (void)env, (void)clip, (void)event;
    }
    // Every list queued for now has run (the end of a frame, or of the
    // scripts a button or goto set off). Values the lists left on the
    // shared stack are dropped here.
    virtual void EndOfScripts() {}
};

// The built-in runner for timeline movies: frame navigation, trace of
// constants, get URL (ignored). Stops a list at the first action it does not
// know.
std::unique_ptr<ScriptHost> MakeTimelineScriptHost();

class Player;

struct LoadResult {
    std::unique_ptr<Player> player;  // null on failure
    std::string error;               // why, in the system's words
};

class Player {
public:
    static LoadResult LoadFile(const std::string& path);
    static LoadResult LoadBytes(std::vector<uint8_t> bytes);
    // A new player of this player's movie, as if loaded again: it starts
    // before its first frame with a state of its own, and shares what the
    // movie defines (its tags, characters and timelines), which is read
    // once and never changed, so players on other threads may use it.
    std::unique_ptr<Player> AnotherOfTheSameMovie() const;

    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    const swf::Header& Header() const;
    uint8_t Version() const { return Header().version; }
    bool IsActionScript3() const;
    // Whether the movie holds any sound at all (event sounds or a stream).
    bool HoldsSound() const;
    // Problems met while reading the movie (damaged tags, a cut file).
    std::vector<swf::ParseError> ReadProblems() const;

    // Shows the next frame: the first call shows frame 0. Runs the scripts
    // of the frame before it returns.
    void Advance();

    // The main timeline, as the host control offers it.
    void Play();
    void Stop();
    bool IsPlaying() const;
    void GotoFrame(uint32_t frame);  // zero-based; keeps playing or stopped
    uint32_t CurrentFrame() const;   // zero-based
    uint32_t TotalFrames() const;    // frames the movie holds
    void SetLoop(bool loop);         // false: stop on the last frame
    bool Loop() const;

    swf::Rgba BackgroundColor() const;
    // The stage of the movie shown in level 0: a movie loaded there brings its own size.
    const swf::Rect& StageRect() const;
    const DisplayList& Stage() const;  // what the main timeline shows
    const DisplayObject& RootObject() const;  // the main movie itself, as scripts see _root
    const Dictionary& Characters() const;

    // Mouse input in stage pixels; drives buttons and clip mouse handlers.
    void MouseMove(double x, double y);
    void MouseDown(double x, double y);
    void MouseUp(double x, double y);
    // Keys by the movie format's key codes (1-19 for special keys, 32-126
    // for characters): button key handlers and clip key handlers.
    void KeyDown(uint8_t key);
    void KeyUp(uint8_t key);

    // Sound, in one format: 44100 Hz, stereo, signed 16-bit interleaved.
    static constexpr int kMixRate = 44100, kMixChannels = 2;
    // Sample frames from the movie's start to the start of frame `frame`
    // (0-based): floor(frame * kMixRate / frame rate), exact for fractional
    // rates. A movie with a zero frame rate counts as 1 frame per second.
    uint64_t SoundSamplesBefore(uint64_t frame) const;
    // Writes the next `count` sample frames of the mixed sound (interleaved
    // s16 stereo) and moves the sound position on. After the k-th Advance()
    // (showing frame k-1), mixing SoundSamplesBefore(k) -
    // SoundSamplesBefore(k-1) gives exactly that frame's sound, whatever the
    // caller's pace. Like every call here, on the thread that advances the
    // movie; an audio output takes the blocks from there.
    void Mix(int16_t* out, size_t count);
    void SetVolume(int volume);  // 0..100, applied to the mixed sound
    int Volume() const;
    void SetMuted(bool muted);   // muted: Mix gives silence, sounds go on
    bool Muted() const;
    // For a player whose sound nobody hears (one of several players of a
    // movie that only draws): sounds keep their times for the scripts, but
    // nothing is decoded for mixing and nothing is kept past its frame.
    // Mix is not called on such a player.
    void SetSoundDiscarded(bool discarded);

    void SetTraceSink(TraceSink* sink);  // not owned; null: traces are dropped
    void SetScriptHost(std::unique_ptr<ScriptHost> host);
    // When the movie started for its scripts' dates (ms since 1970 UTC); players that must agree
    // frame for frame get the same one. Before the first Advance only; replaces the script host.
    void SetScriptStartTime(double ms_since_1970);
    // Receives the player's own log lines (skipped scripts, ignored URLs).
    void SetLogSink(std::function<void(std::string_view)> sink);
    // Writes a line to that sink, for the parts that draw or play this movie
    // beside the player (a renderer's refused bitmaps).
    void Log(std::string_view line);

private:
    struct Impl;
    explicit Player(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace qm::flash
