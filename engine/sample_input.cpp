#include "engine/sample_input.h"

#include <cstddef>
#include <exception>

#include "engine/adapter_registry.h"
#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "engine/logger.h"
#include "engine/transcoder.h"

namespace qm::engine {

struct TSampleInputAdapter::TLink : TAdapterLink {};

TSampleInputAdapter::TSampleInputAdapter() : FLink(std::make_shared<TLink>()) {
  RegisterAdapterLink(FLink, this, akSampleInput);
}

TSampleInputAdapter::~TSampleInputAdapter() { DropAdapterLink(*FLink); }

std::string TSampleInputAdapter::InputName() const { return std::to_string(FLink->Id); }

namespace {

struct TSampleInputState {
  std::shared_ptr<TAdapterLink> Link;
  int SampleRate = 0;
  int Channels = 0;
  int FramesPerPacket = 0;
  int64_t SampleNumber = 0;
  bool Ended = false;
};

struct TSampleInputPrivate {
  const AVClass* Class;
  int SampleRate;
  int Channels;
  int FramesPerPacket;
  TSampleInputState* State;
};

const char* ItemName(void*) { return "sampleinput"; }

constexpr int Decoding = AV_OPT_FLAG_DECODING_PARAM;

// The ranges keep a packet's size within what one allocation can hold.
const AVOption Options[] = {
    {"sample_rate", "sample frames per second", offsetof(TSampleInputPrivate, SampleRate), AV_OPT_TYPE_INT,
     {.i64 = 44100}, 1, 1000000, Decoding, nullptr},
    {"channels", "interleaved channels", offsetof(TSampleInputPrivate, Channels), AV_OPT_TYPE_INT, {.i64 = 2}, 1, 64,
     Decoding, nullptr},
    {"frames_per_packet", "sample frames asked for per read", offsetof(TSampleInputPrivate, FramesPerPacket),
     AV_OPT_TYPE_INT, {.i64 = 1024}, 1, 1 << 20, Decoding, nullptr},
    {nullptr, nullptr, 0, AVOptionType(0), {.i64 = 0}, 0, 0, 0, nullptr},
};

AVClass MakeClass() {
  AVClass c{};
  c.class_name = "SampleInputFormat";
  c.item_name = ItemName;
  c.option = Options;
  c.version = LIBAVUTIL_VERSION_INT;
  c.category = AV_CLASS_CATEGORY_DEMUXER;
  return c;
}
const AVClass Class = MakeClass();

TSampleInputAdapter* AdapterOf(void* adapter) { return static_cast<TSampleInputAdapter*>(adapter); }
bool InMainThread(void* adapter) { return AdapterOf(adapter)->TriggerEventInMainThread; }

void RaiseNotify(TSampleInputState& st, bool header) {
  RunAdapterEvent(*st.Link, InMainThread, [&](void* a) {
    TSampleInputAdapter* adapter = AdapterOf(a);
    const TSampleNotifyEvent& event = header ? adapter->OnReadHeader : adapter->OnReadClose;
    try {
      if (event) event(adapter);
    } catch (const std::exception& e) {
      Log(adapter, llError, std::string("Error occurs ") + (header ? "OnReadHeader" : "OnReadClose") + " event: " + e.what());
    }
  });
}

int ReadHeader(AVFormatContext* s) {
  auto* p = static_cast<TSampleInputPrivate*>(s->priv_data);
  std::shared_ptr<TAdapterLink> link;
  switch (FindAdapterLink(s->url, akSampleInput, link)) {
    case TAdapterLookup::NotNumber:
      Log(nullptr, llError,
          FormatText("Could not parse SampleInputAdapter: \"%s\", it should be the number of a SampleInputAdapter",
                     s->url ? s->url : ""));
      return AVERROR(EINVAL);
    case TAdapterLookup::Zero:
    case TAdapterLookup::Unknown:
      Log(nullptr, llError, "Invalid SampleInputAdapter");
      return AVERROR(EINVAL);
    case TAdapterLookup::Found:
      break;
  }
  auto st = std::make_unique<TSampleInputState>();
  st->Link = link;
  st->SampleRate = p->SampleRate;
  st->Channels = p->Channels;
  st->FramesPerPacket = p->FramesPerPacket;

  AVStream* stream = FF.avformat_new_stream(s, nullptr);
  if (!stream) return AVERROR(ENOMEM);
  // Counting in samples keeps every sample where it belongs.
  stream->time_base = AVRational{1, st->SampleRate};
  stream->pts_wrap_bits = 64;
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = AV_CODEC_ID_PCM_S16LE;
  par->format = AV_SAMPLE_FMT_S16;
  par->sample_rate = st->SampleRate;
  FF.av_channel_layout_default(&par->ch_layout, st->Channels);
  par->bits_per_coded_sample = 16;
  par->block_align = 2 * st->Channels;
  par->bit_rate = int64_t(st->SampleRate) * st->Channels * 16;
  p->State = st.release();
  RaiseNotify(*p->State, true);
  return 0;
}

int ReadPacket(AVFormatContext* s, AVPacket* pkt) {
  auto* p = static_cast<TSampleInputPrivate*>(s->priv_data);
  TSampleInputState& st = *p->State;
  if (st.Ended) return AVERROR_EOF;
  const int frameBytes = 2 * st.Channels;
  if (FF.av_new_packet(pkt, st.FramesPerPacket * frameBytes) < 0) return AVERROR(ENOMEM);
  TInputSampleInfo info;
  info.SampleNumber = st.SampleNumber;
  info.PTS = FF.av_rescale(st.SampleNumber, AV_TIME_BASE, st.SampleRate);
  info.SampleRate = st.SampleRate;
  info.Channels = st.Channels;
  info.Frames = st.FramesPerPacket;
  int result = -1;
  const bool alive = RunAdapterEvent(*st.Link, InMainThread, [&](void* a) {
    TSampleInputAdapter* adapter = AdapterOf(a);
    try {
      if (adapter->OnReadSamples)
        result = adapter->OnReadSamples(adapter, reinterpret_cast<int16_t*>(pkt->data), st.FramesPerPacket, &info);
    } catch (const std::exception& e) {
      Log(adapter, llError, std::string("Error occurs ReadSamples event: ") + e.what());
      result = -1;
    }
  });
  if (!alive) Log(nullptr, llError, "Invalid SampleInputAdapter");
  if (result <= 0) {
    FF.av_packet_unref(pkt);
    st.Ended = true;
    Log(nullptr, llInfo, FormatText("reading samples return %d", result));
    return AVERROR_EOF;
  }
  if (result < st.FramesPerPacket) {
    FF.av_shrink_packet(pkt, result * frameBytes);
    st.Ended = true;
  } else {
    result = st.FramesPerPacket;
  }
  pkt->pts = pkt->dts = st.SampleNumber;
  pkt->duration = result;
  pkt->flags |= AV_PKT_FLAG_KEY;
  st.SampleNumber += result;
  return 0;
}

int ReadClose(AVFormatContext* s) {
  auto* p = static_cast<TSampleInputPrivate*>(s->priv_data);
  if (!p || !p->State) return 0;
  std::unique_ptr<TSampleInputState> st(p->State);
  p->State = nullptr;
  RaiseNotify(*st, false);
  return 0;
}

AVInputFormat MakeFormat() {
  AVInputFormat f{};
  f.name = "sampleinput";
  f.long_name = "Sample input";
  f.flags = AVFMT_NOFILE;
  f.priv_class = &Class;
  f.priv_data_size = sizeof(TSampleInputPrivate);
  f.read_header = ReadHeader;
  f.read_packet = ReadPacket;
  f.read_close = ReadClose;
  return f;
}
const AVInputFormat Format = MakeFormat();

}  // namespace

void RegisterSampleInputFormat() {
  FFLoader().CheckLibsLoaded(AllLibraries);
  TCustomFFmpeg::RegisterOwnInput(&Format);
}

}  // namespace qm::engine
