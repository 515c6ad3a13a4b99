#include "engine/ffmpeg_api.h"
#include "engine/option_state.h"

namespace qm::engine {

TStreamList DescribeStreams(const AVFormatContext* context) {
  TStreamList streams;
  if (!context) return streams;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVStream* st = context->streams[i];
    TStreamDescriptor d;
    d.Index = int(i);
    switch (st->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO: d.Type = 'v'; break;
      case AVMEDIA_TYPE_AUDIO: d.Type = 'a'; break;
      case AVMEDIA_TYPE_SUBTITLE: d.Type = 's'; break;
      case AVMEDIA_TYPE_DATA: d.Type = 'd'; break;
      case AVMEDIA_TYPE_ATTACHMENT: d.Type = 't'; break;
      default: d.Type = 0; break;
    }
    const AVRational rate = st->avg_frame_rate.num && st->avg_frame_rate.den ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) d.FrameRate = double(rate.num) / rate.den;
    d.Channels = st->codecpar->ch_layout.nb_channels;
    streams.push_back(d);
  }
  for (unsigned p = 0; p < context->nb_programs; ++p) {
    const AVProgram* program = context->programs[p];
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned index = program->stream_index[k];
      if (index < streams.size()) streams[index].Programs.emplace_back(program->id, int(k));
    }
  }
  return streams;
}

}  // namespace qm::engine
