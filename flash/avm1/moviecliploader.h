// Movies loaded into clips: the loadMovie action and methods, MovieClipLoader.
#pragma once

#include <string>

#include "flash/avm1/interpreter.h"

namespace qm::flash::avm1 {

// MovieClip.loadMovie and unloadMovie, and MovieClipLoader; `broadcaster`
// holds the AsBroadcaster methods the loader shares.
void InstallMovieClipLoader(Interpreter& in, const ObjRef& broadcaster);

// loadMovie(url, clip); an empty url is unloadMovie(clip).
void LoadMovieAction(Interpreter& in, DisplayObject& clip, const std::string& url);

}  // namespace qm::flash::avm1
