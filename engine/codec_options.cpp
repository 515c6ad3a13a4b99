#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "engine/option_state.h"

namespace qm::engine {

TOptionDictionary CodecOptionsForStream(const TOptionDictionary& codecOptions, const TStreamList& streams,
                                        int index, const AVCodec* codec, bool encoder) {
  FFLoader().CheckLibsLoaded(LibraryBit(libAVUtil) | LibraryBit(libAVCodec));
  TOptionDictionary result;
  if (index < 0 || index >= int(streams.size())) return result;
  const char type = streams[size_t(index)].Type;
  int flags = encoder ? AV_OPT_FLAG_ENCODING_PARAM : AV_OPT_FLAG_DECODING_PARAM;
  switch (type) {
    case 'v': flags |= AV_OPT_FLAG_VIDEO_PARAM; break;
    case 'a': flags |= AV_OPT_FLAG_AUDIO_PARAM; break;
    case 's': flags |= AV_OPT_FLAG_SUBTITLE_PARAM; break;
    default: break;
  }
  const AVClass* codecClass = FF.avcodec_get_class();
  const AVClass* privateClass = codec ? codec->priv_class : nullptr;
  auto known = [&](const char* name) {
    if (FF.av_opt_find(&codecClass, name, nullptr, flags, AV_OPT_SEARCH_FAKE_OBJ)) return true;
    return privateClass && FF.av_opt_find(&privateClass, name, nullptr, flags, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
  };
  for (const auto& [fullName, value] : codecOptions.Entries) {
    std::string name = fullName;
    const size_t colon = name.find(':');
    if (colon != std::string::npos) {
      if (CheckStreamSpecifier(streams, index, name.substr(colon + 1)) <= 0) continue;
      name.erase(colon);
    }
    if (known(name.c_str()))
      result.Set(name, value);
    else if (!name.empty() && name[0] == type && (type == 'v' || type == 'a' || type == 's') && known(name.c_str() + 1))
      result.Set(name.substr(1), value);
  }
  return result;
}

}  // namespace qm::engine
