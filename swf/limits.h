// What the player lets one movie take. Every movie is untrusted: these limits
// stop a damaged or hostile one before it exhausts memory, time or the
// machine's stack. A movie that reaches a limit plays on without the part
// that was stopped (a script, a bitmap, a clip), and the player's log says
// what was stopped; only a movie that cannot be read within them is refused.
// docs/limits.md explains each one for users; the values live here alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::limits {

// --- Reading the file ------------------------------------------------------

// A movie file larger than this is not read at all.
inline constexpr uint64_t kMaxMovieFileBytes = uint64_t(1) << 30;
// A movie's size once decompressed. A compressed movie whose header declares
// more is refused before anything is inflated, so a tiny file declaring
// 4 GiB costs nothing; the buffer also grows only as data really arrives.
inline constexpr uint64_t kMaxMovieBytes = uint64_t(1) << 30;
// Past this much inflated data a compressed movie must not expand more than
// kMaxInflateRatio times the compressed bytes consumed so far: real movies
// stay far below (3 to 20), a bomb of zeros reaches a thousand.
inline constexpr uint64_t kInflateRatioCheckBytes = uint64_t(32) << 20;
inline constexpr uint64_t kMaxInflateRatio = 256;
// Sprites defined inside sprites (the format forbids it, files do it anyway).
inline constexpr int kMaxSpriteNesting = 32;
// Records (edges and style changes) of one shape or morph shape; a bigger
// shape is dropped as a damaged tag, costing a hundred bytes a record.
inline constexpr size_t kMaxShapeRecords = size_t(1) << 20;

// --- Playing -----------------------------------------------------------------

// Pictures made at the stage's own size are at most this wide and high;
// larger stages are scaled down into them.
inline constexpr int kMaxStageSide = 8192;
// A bitmap beyond these (the reference player's own) is not decoded or drawn.
inline constexpr int kMaxBitmapSide = 8191;
inline constexpr int64_t kMaxBitmapPixels = 16777215;
// Decoded bitmaps one renderer keeps. Past it the pictures drawn least
// recently are let go and decoded again when they are drawn next, so a long
// lesson of hundreds of large pictures still converts; only a frame whose own
// bitmaps pass it leaves the further ones undrawn.
inline constexpr size_t kMaxDecodedBitmapBytes = size_t(512) << 20;
// Clips inside clips at run time, and display objects alive at once.
inline constexpr int kMaxDisplayNesting = 64;
inline constexpr size_t kMaxDisplayObjects = 200000;
// A sound decoded whole (an event sound) is cut at this length (about
// 300 MiB at 44.1 kHz stereo); streams are read as they play and need no cap.
inline constexpr uint64_t kMaxSoundSeconds = 30 * 60;

// --- Scripts -----------------------------------------------------------------

// Nested function calls in one action list, as the reference player counts
// them (the list itself is the first level). A movie's ScriptLimits tag may
// choose another depth; the machine stack guard below still applies.
inline constexpr int kMaxRecursion = 256;
// Bytes of machine stack the interpreter may use below the outermost script.
inline constexpr ptrdiff_t kMaxScriptStackBytes = ptrdiff_t(2) << 20;
// Values held on the action stacks of all running functions together.
inline constexpr size_t kMaxActionStack = size_t(1) << 20;
// Processor time the scripts of one frame may take. The reference player
// asks the user after 15 seconds; a conversion has nobody to ask, so the
// scripts still running after 5 seconds are stopped and the movie goes on
// with its next frame.
inline constexpr double kScriptSecondsPerFrame = 5.0;
// A file a script loads from beside the movie (XML, variables).
inline constexpr size_t kMaxScriptFileBytes = size_t(16) << 20;
// One text a script builds (+, add, concat, join): the reference player would
// run out of memory long before. The script is stopped rather than handed a
// cut text, which it would go on computing with as if whole.
inline constexpr size_t kMaxScriptTextBytes = size_t(64) << 20;

}  // namespace qm::limits
