// Handlers of the option table (option_table.cpp); each is a TOptionHandler.
#pragma once

#include <string>

#include "engine/option_parser.h"

namespace qm::engine::option_handlers {

#define QM_OPTION_HANDLER(name) int name(TOptionParser& parser, const std::string& opt, const std::string& arg);
QM_OPTION_HANDLER(ReportIgnore)
QM_OPTION_HANDLER(NotSupported)
QM_OPTION_HANDLER(SetByOutputRecord)
QM_OPTION_HANDLER(LogLevel)
QM_OPTION_HANDLER(Debug)
QM_OPTION_HANDLER(MaxAlloc)
QM_OPTION_HANDLER(Map)
QM_OPTION_HANDLER(MapChannel)
QM_OPTION_HANDLER(Timestamp)
QM_OPTION_HANDLER(Alias)
QM_OPTION_HANDLER(Target)
QM_OPTION_HANDLER(VSync)
QM_OPTION_HANDLER(QScale)
QM_OPTION_HANDLER(Attach)
QM_OPTION_HANDLER(Aspect)
QM_OPTION_HANDLER(CropRemoved)
QM_OPTION_HANDLER(PadRemoved)
QM_OPTION_HANDLER(CodecByType)
QM_OPTION_HANDLER(Pass)
QM_OPTION_HANDLER(SameQuantUnavailable)
QM_OPTION_HANDLER(VStats)
QM_OPTION_HANDLER(StreamId)
QM_OPTION_HANDLER(BitRate)
QM_OPTION_HANDLER(GrabDeprecated)
QM_OPTION_HANDLER(PresetFile)
QM_OPTION_HANDLER(VideoHook)
QM_OPTION_HANDLER(VideoHookBitsPixel)
QM_OPTION_HANDLER(TimeSeconds)
QM_OPTION_HANDLER(Default)
#undef QM_OPTION_HANDLER

// FFmpeg's level for a loglevel argument (a name or a number); false when it is neither.
bool LogLevelValue(const std::string& arg, int& level);

}  // namespace qm::engine::option_handlers
