// The encoding engine's public interface: FFmpeg loaded at run time and its function table, the
// engine logger and the main-thread dispatcher it delivers through, the option language of tasks,
// the engine's errors, the transcoder, media information, the encoder component, and the frame
// and sample inputs.
#pragma once

#include "engine/engine_errors.h"
#include "engine/ff_encoder.h"
#include "engine/ffmpeg_api.h"
#include "engine/frame_input.h"
#include "engine/library_loader.h"
#include "engine/logger.h"
#include "engine/main_thread.h"
#include "engine/media_info.h"
#include "engine/option_parser.h"
#include "engine/option_state.h"
#include "engine/sample_input.h"
#include "engine/transcoder.h"
