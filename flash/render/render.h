// The renderer: draws a display list tree with cairo into a premultiplied
// ARGB picture of any size. Shapes are turned into paths once per character
// and reused every frame; bitmaps are decoded once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "flash/dictionary.h"
#include "flash/display_list.h"
#include "swf/swf.h"

namespace qm::flash {

enum class ScaleMode { ShowAll, NoBorder, ExactFit, NoScale };

// Low: no anti-aliasing and no bitmap smoothing; the others anti-alias.
enum class Quality { Low, Medium, High, Best };

// Parses "low", "medium", "high", "best" (any case); High otherwise.
Quality QualityFromText(const std::string& text);

// Parses "ShowAll", "NoBorder", "ExactFit", "NoScale" (any case); ShowAll otherwise.
ScaleMode ScaleModeFromText(const std::string& text);

// Pixels in cairo's ARGB32 layout (premultiplied, native endian), which is
// also QImage::Format_ARGB32_Premultiplied.
struct RenderTarget {
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row
};

// Releases the font caches device text fills (cairo's and fontconfig's).
// Call once before the process ends, after the last renderer is gone, so
// that leak checkers see a clean exit; nothing may be drawn afterwards.
void ReleaseFontResources();

// Stage twips to target pixels for a stage shown in a picture of the given size.
swf::Matrix StageTransform(const swf::Rect& stage, int width, int height, ScaleMode mode);

class Renderer {
public:
    // The dictionary (and the movie it points into) must outlive the renderer.
    Renderer(const Dictionary& dictionary, uint8_t movie_version);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Fills the target with the background, then draws the tree. A text
    // field's `text`, when set, is shown in the field's own kind: HTML when
    // the field is an HTML field, plain text otherwise.
    void Render(const DisplayList& root, const swf::Rect& stage, swf::Rgba background,
                const RenderTarget& target, ScaleMode mode = ScaleMode::ShowAll);
    // The same for the main movie as a whole: scripts may move, tint or
    // draw into _root itself, and that applies to everything under it.
    void Render(const DisplayObject& root, const swf::Rect& stage, swf::Rgba background,
                const RenderTarget& target, ScaleMode mode = ScaleMode::ShowAll);

    void SetQuality(Quality quality);

    // BitmapData.draw: an object's content (its own place, colour and filters left out) or a
    // script's pixels drawn over the target's pixels. `matrix` takes the object's twips (a
    // bitmap's pixels) to the target's pixels; only the pixels inside `clip` (x, y, width,
    // height), when given, change; `smoothing` is for scaled bitmap pixels.
    void DrawInto(const DisplayObject& object, const swf::Matrix& matrix, const swf::ColorTransform& color,
                  const RenderTarget& target, const std::array<int, 4>* clip = nullptr);
    void DrawInto(const ScriptBitmap& pixels, const swf::Matrix& matrix, const swf::ColorTransform& color,
                  const RenderTarget& target, const std::array<int, 4>* clip = nullptr, bool smoothing = false);

    // Receives a line for each thing the renderer's limits stop (a bitmap too large,
    // damaged, or beyond the decoded budget), once per cause; Player::Log is the usual sink.
    void SetLogSink(std::function<void(std::string_view)> sink);

    // Drops cached paths and pictures (for example after a new movie).
    void ClearCaches();

private:
    void RenderTree(const DisplayList& list, const DisplayObject* root, const swf::Rect& stage,
                    swf::Rgba background, const RenderTarget& target, ScaleMode mode);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qm::flash
