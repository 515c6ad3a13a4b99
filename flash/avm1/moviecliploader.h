// Movies loaded into clips: the loadMovie action and methods, MovieClipLoader.
#pragma once

#include <string>
#include <string_view>

#include "flash/avm1/interpreter.h"

namespace qm::flash::avm1 {

// MovieClip.loadMovie and unloadMovie, and MovieClipLoader; `broadcaster`
// holds the AsBroadcaster methods the loader shares.
void InstallMovieClipLoader(Interpreter& in, const ObjRef& broadcaster);

// loadMovie(url, clip); an empty url is unloadMovie(clip).
void LoadMovieAction(Interpreter& in, DisplayObject& clip, const std::string& url);

// loadMovieNum(url, level); an empty url is unloadMovieNum(level).
void LoadMovieNumAction(Interpreter& in, int32_t level, const std::string& url);

// N of a target "_levelN" (the case of "_level" aside); -1 for anything else.
int32_t LevelNumber(std::string_view target);

}  // namespace qm::flash::avm1
