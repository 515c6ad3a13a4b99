#include "engine/frame_input.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "engine/adapter_registry.h"
#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "engine/logger.h"
#include "engine/transcoder.h"

namespace qm::engine {

struct TFrameInputAdapter::TLink : TAdapterLink {
  TInputFrameInfo* Info = nullptr;  // of the open input
  TFrameImage* Image = nullptr;
};

TFrameInputAdapter::TFrameInputAdapter() : FLink(std::make_shared<TLink>()) {
  RegisterAdapterLink(FLink, this, akFrameInput);
}

TFrameInputAdapter::~TFrameInputAdapter() { DropAdapterLink(*FLink); }

std::string TFrameInputAdapter::InputName() const { return std::to_string(FLink->Id); }

TInputFrameInfo* TFrameInputAdapter::FrameInfo() const {
  std::lock_guard<std::recursive_mutex> guard(FLink->Lock);
  return FLink->Info;
}

TFrameImage* TFrameInputAdapter::FrameImage() const {
  std::lock_guard<std::recursive_mutex> guard(FLink->Lock);
  return FLink->Image;
}

namespace {

// What one open input keeps between its packets.
struct TFrameInputState {
  std::shared_ptr<TFrameInputAdapter::TLink> Link;
  TInputFrameInfo Info;
  AVRational Rate{25, 1};
  int64_t Counter = 0;  // frames so far times 1,000,000
  // canvas and dc: top row first; bmp: bottom row first, as a bitmap's memory is laid out.
  std::vector<uint8_t> Pixels;
  uint32_t Palette[256] = {};
  TFrameImage Image;
};

// libavformat allocates this zeroed; the option strings are set by its option system.
struct TFrameInputPrivate {
  const AVClass* Class;
  char* InputType;
  char* VideoSize;
  char* FrameRate;
  char* PixelFormat;
  TFrameInputState* State;
};

const char* ItemName(void*) { return "frameinput"; }

constexpr int Decoding = AV_OPT_FLAG_DECODING_PARAM;

const AVOption Options[] = {
    {"input_type", "one of {canvas, bmp, dc, yuv}, default yuv", offsetof(TFrameInputPrivate, InputType),
     AV_OPT_TYPE_STRING, {.str = "yuv"}, 0, 0, Decoding, nullptr},
    {"video_size", "A string describing frame size, such as 640x480 or hd720.", offsetof(TFrameInputPrivate, VideoSize),
     AV_OPT_TYPE_STRING, {.str = nullptr}, 0, 0, Decoding, nullptr},
    {"framerate", nullptr, offsetof(TFrameInputPrivate, FrameRate), AV_OPT_TYPE_STRING, {.str = "ntsc"}, 0, 0, Decoding,
     nullptr},
    {"pixel_format", "pal8/rgb555le/bgr24/bgra for canvas/bmp/dc", offsetof(TFrameInputPrivate, PixelFormat),
     AV_OPT_TYPE_STRING, {.str = "yuv420p"}, 0, 0, Decoding, nullptr},
    {nullptr, nullptr, 0, AVOptionType(0), {.i64 = 0}, 0, 0, 0, nullptr},
};

AVClass MakeClass() {
  AVClass c{};
  c.class_name = "FrameInputFormat";
  c.item_name = ItemName;
  c.option = Options;
  c.version = LIBAVUTIL_VERSION_INT;
  c.category = AV_CLASS_CATEGORY_DEMUXER;
  return c;
}
const AVClass Class = MakeClass();

TFrameInputAdapter* AdapterOf(void* adapter) { return static_cast<TFrameInputAdapter*>(adapter); }
bool InMainThread(void* adapter) { return AdapterOf(adapter)->TriggerEventInMainThread; }

int HeaderFail(const std::string& text, int code) {
  Log(nullptr, llError, text);
  return code;
}

void RaiseNotify(TFrameInputState& st, bool header) {
  RunAdapterEvent(*st.Link, InMainThread, [&](void* a) {
    TFrameInputAdapter* adapter = AdapterOf(a);
    if (header) {
      st.Link->Info = &st.Info;
      st.Link->Image = st.Image.Bits ? &st.Image : nullptr;
    } else if (st.Link->Info == &st.Info) {
      st.Link->Info = nullptr;
      st.Link->Image = nullptr;
    }
    const TNotifyEvent& event = header ? adapter->OnReadHeader : adapter->OnReadClose;
    try {
      if (event) event(adapter);
    } catch (const std::exception& e) {
      Log(adapter, llError, std::string("Error occurs ") + (header ? "OnReadHeader" : "OnReadClose") + " event: " + e.what());
    }
  });
}

int ReadHeader(AVFormatContext* s) {
  auto* p = static_cast<TFrameInputPrivate*>(s->priv_data);
  std::shared_ptr<TAdapterLink> link;
  switch (FindAdapterLink(s->url, akFrameInput, link)) {
    case TAdapterLookup::NotNumber:
      return HeaderFail(FormatText("Could not parse FrameInputAdapter: \"%s\", it should be address of FrameInputAdapter",
                                   s->url ? s->url : ""),
                        AVERROR(EINVAL));
    case TAdapterLookup::Zero:
    case TAdapterLookup::Unknown:
      return HeaderFail("Invalid FrameInputAdapter", AVERROR(EINVAL));
    case TAdapterLookup::Found:
      break;
  }
  TInputFrameInfo info;
  const char* type = p->InputType ? p->InputType : "";
  if (!std::strcmp(type, "canvas"))
    info.InputType = fitCanvas;
  else if (!std::strcmp(type, "bmp"))
    info.InputType = fitBMP;
  else if (!std::strcmp(type, "yuv") || !*type)
    info.InputType = fitYUV;
  else if (!std::strcmp(type, "dc"))
    info.InputType = fitDC;
  else
    return HeaderFail(FormatText("Invalid frame input type: \"%s\", it should be one of canvas/bmp/dc/yuv", type),
                      AVERROR(EINVAL));

  AVRational rate{0, 0};
  const char* rateText = p->FrameRate ? p->FrameRate : "";
  if (FF.av_parse_video_rate(&rate, rateText) < 0)
    return HeaderFail(FormatText("Could not parse framerate \"%s\".", rateText), AVERROR(EINVAL));
  if (rate.num == 0 || rate.den == 0) return HeaderFail("Invalid frame rate", AVERROR(EINVAL));

  int width = 0, height = 0;
  if (p->VideoSize && *p->VideoSize && FF.av_parse_video_size(&width, &height, p->VideoSize) < 0)
    return HeaderFail("Couldn't parse video size.", AVERROR(EINVAL));
  // A size whose pictures cannot be addressed is as unusable as none.
  if (width <= 0 || height <= 0 || FF.av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0)
    return HeaderFail("Invalid frame size", AVERROR(EINVAL));

  AVPixelFormat format = AV_PIX_FMT_YUV420P;
  if (p->PixelFormat && *p->PixelFormat) {
    format = FF.av_get_pix_fmt(p->PixelFormat);
    if (format == AV_PIX_FMT_NONE) return HeaderFail("Unknown pixel format requested", AVERROR(EINVAL));
  }
  info.Width = width;
  info.Height = height;
  info.PixFmt = format;
  if (info.InputType != fitYUV) {
    switch (format) {
      case AV_PIX_FMT_BGR24: info.BitsPerPixel = 24; break;
      case AV_PIX_FMT_PAL8: info.BitsPerPixel = 8; break;
      case AV_PIX_FMT_BGRA: info.BitsPerPixel = 32; break;
      case AV_PIX_FMT_RGB555LE: info.BitsPerPixel = 16; break;
      default:
        return HeaderFail("Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra",
                          AVERROR(EINVAL));
    }
  }
  info.Stride = int((int64_t(width) * info.BitsPerPixel + 31) / 32 * 4);

  auto st = std::make_unique<TFrameInputState>();
  st->Link = std::static_pointer_cast<TFrameInputAdapter::TLink>(link);
  st->Rate = rate;
  if (info.InputType == fitYUV) {
    info.FrameSize = FF.av_image_get_buffer_size(format, width, height, 1);
    if (info.FrameSize < 0) return HeaderFail("avpicture_get_size() failed", AVERROR(EIO));
  } else {
    info.FrameSize = info.Stride * height;
    try {
      st->Pixels.assign(size_t(info.FrameSize), 0);
    } catch (const std::bad_alloc&) {
      if (info.InputType == fitDC) return HeaderFail(FormatText("CreateDIBSection error #%li", long(ENOMEM)), AVERROR(EIO));
      return AVERROR(ENOMEM);
    }
    st->Image = TFrameImage{st->Pixels.data(), width, height, info.Stride, info.BitsPerPixel, format, nullptr};
    if (format == AV_PIX_FMT_PAL8) {
      for (uint32_t i = 0; i < 256; ++i) st->Palette[i] = 0xFF000000u | i * 0x010101u;
      st->Image.Palette = st->Palette;
    }
  }

  AVStream* stream = FF.avformat_new_stream(s, nullptr);
  if (!stream) return AVERROR(ENOMEM);
  stream->time_base = AVRational{1, AV_TIME_BASE};
  stream->pts_wrap_bits = 64;
  stream->avg_frame_rate = stream->r_frame_rate = rate;
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_RAWVIDEO;
  par->width = width;
  par->height = height;
  par->format = format;
  par->bit_rate = int64_t(double(info.FrameSize) * 8 * rate.num / rate.den);

  info.LastPTS = AV_NOPTS_VALUE;
  info.FrameNumber = 1;
  st->Info = info;
  st->Counter = 0;
  p->State = st.release();
  RaiseNotify(*p->State, true);
  return 0;
}

const char* TypeName(int type) {
  switch (type) {
    case fitBMP: return "BMP";
    case fitCanvas: return "Canvas";
    case fitDC: return "DC";
    default: return "YUV";
  }
}

static_assert(FramePadding >= AV_INPUT_BUFFER_PADDING_SIZE, "a handed picture must leave FFmpeg its padding");

void ReleaseHanded(TFrameBuffer& handed) {
  if (!handed.Data) return;
  uint8_t* data = handed.Data;
  handed.Data = nullptr;
  try {
    if (handed.Release) handed.Release(data);
  } catch (const std::exception& e) {
    Log(nullptr, llError, std::string("Error occurs ReadFrame event: ") + e.what());
  }
}

// Called by FFmpeg when the last reference to a handed picture goes, on that reference's thread.
void FreeHanded(void* opaque, uint8_t* data) {
  std::unique_ptr<TFrameBuffer> handed(static_cast<TFrameBuffer*>(opaque));
  handed->Data = data;
  ReleaseHanded(*handed);
}

// The packet becomes the program's picture itself, or a copy of it when it lacks the padding.
// Whatever is not taken over stays in `handed` for the caller to give back.
int TakeHanded(AVPacket* pkt, TFrameBuffer& handed, size_t frameSize) {
  if (!handed.Data || handed.Capacity < frameSize) {
    Log(nullptr, llError, FormatText("reading frame (YUV) gave %zu bytes for a frame of %zu", handed.Data ? handed.Capacity : size_t(0), frameSize));
    return -1;
  }
  if (handed.Capacity >= frameSize + FramePadding) {
    auto owner = std::make_unique<TFrameBuffer>(std::move(handed));
    handed = TFrameBuffer{};
    std::memset(owner->Data + frameSize, 0, FramePadding);
    uint8_t* data = owner->Data;
    AVBufferRef* buffer = FF.av_buffer_create(data, frameSize + FramePadding, FreeHanded, owner.get(), 0);
    if (buffer) {
      owner.release();
      pkt->buf = buffer;
      pkt->data = data;
      pkt->size = int(frameSize);
      return 0;
    }
    handed = std::move(*owner);
  }
  if (FF.av_new_packet(pkt, int(frameSize)) < 0) return AVERROR(ENOMEM);
  std::memcpy(pkt->data, handed.Data, frameSize);
  return 0;
}

int ReadPacket(AVFormatContext* s, AVPacket* pkt) {
  auto* p = static_cast<TFrameInputPrivate*>(s->priv_data);
  TFrameInputState& st = *p->State;
  TInputFrameInfo& info = st.Info;
  const int64_t pts = FF.av_rescale(st.Counter, st.Rate.den, st.Rate.num);
  info.PTS = pts;

  // The program may write into what it is shown; only the time is taken from it.
  const TInputFrameInfo kept = info;
  const bool palette = kept.PixFmt == AV_PIX_FMT_PAL8 && kept.InputType != fitYUV;
  if (!st.Pixels.empty())
    st.Image = TFrameImage{st.Pixels.data(), kept.Width, kept.Height, kept.Stride, kept.BitsPerPixel, kept.PixFmt,
                           palette ? st.Palette : nullptr};
  int result = -1;
  bool noMemory = false;
  bool handing = false;  // the program hands over a picture of its own
  TFrameBuffer handed;
  const bool alive = RunAdapterEvent(*st.Link, InMainThread, [&](void* a) {
    TFrameInputAdapter* adapter = AdapterOf(a);
    try {
      if (kept.InputType == fitYUV && adapter->OnReadFrameBuffer) {
        handing = true;
        result = adapter->OnReadFrameBuffer(adapter, &handed, &info);
        return;
      }
      if (FF.av_new_packet(pkt, kept.FrameSize) < 0) {
        noMemory = true;
        return;
      }
      switch (kept.InputType) {
        case fitCanvas:
          if (adapter->OnReadFrameCanvas) result = adapter->OnReadFrameCanvas(adapter, &st.Image, &info);
          break;
        case fitDC:
          if (adapter->OnReadFrameDC) result = adapter->OnReadFrameDC(adapter, &st.Image, &info);
          break;
        case fitBMP:
          if (adapter->OnReadFrameBMP) result = adapter->OnReadFrameBMP(adapter, st.Pixels.data(), &info);
          break;
        case fitYUV:
          if (adapter->OnReadFrameYUV) result = adapter->OnReadFrameYUV(adapter, pkt->data, &info);
          break;
      }
    } catch (const std::exception& e) {
      Log(adapter, llError, std::string("Error occurs ReadFrame event: ") + e.what());
      result = -1;
    }
  });
  if (!alive) Log(nullptr, llError, "Invalid FrameInputAdapter");
  const int64_t written = info.PTS;
  info = kept;
  info.PTS = written;
  if (noMemory) {
    ReleaseHanded(handed);
    return AVERROR(ENOMEM);
  }
  if (handing && result >= 0) {
    const int taken = TakeHanded(pkt, handed, size_t(kept.FrameSize));
    if (taken == AVERROR(ENOMEM)) {
      ReleaseHanded(handed);
      return taken;
    }
    if (taken < 0) result = taken;
  }
  ReleaseHanded(handed);
  pkt->pts = pkt->dts = pts;
  if (result < 0) {
    FF.av_packet_unref(pkt);
    if (info.InputType == fitBMP)
      Log(nullptr, llError, FormatText("reading frame (BMP) return %d", result));
    else if (info.InputType == fitYUV)
      Log(nullptr, llInfo, "reading frame (YUV) return");
    else
      Log(nullptr, llInfo, FormatText("reading frame (%s) return %d", TypeName(info.InputType), result));
    // Whatever the number, the input ends here: a value FFmpeg reads as "try again" would ask
    // for the same frame forever.
    return AVERROR_EOF;
  }

  const size_t stride = size_t(info.Stride);
  if (info.InputType == fitBMP) {
    for (int y = 0; y < info.Height; ++y)
      std::memcpy(pkt->data + size_t(y) * stride, st.Pixels.data() + size_t(info.Height - 1 - y) * stride, stride);
  } else if (info.InputType != fitYUV) {
    std::memcpy(pkt->data, st.Pixels.data(), size_t(info.FrameSize));
  }
  // Every raw picture stands alone; a copied stream needs to know that.
  pkt->flags |= AV_PKT_FLAG_KEY;
  // Without its colours a palette picture decodes black.
  if (palette) {
    uint8_t* colours = FF.av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (colours) std::memcpy(colours, st.Palette, AVPALETTE_SIZE);
  }

  if (info.PTS != pts) {
    // Far-off times would overflow the frame counter; they are as unusable as earlier ones.
    const int64_t counter = info.PTS > info.LastPTS ? FF.av_rescale(info.PTS, st.Rate.num, st.Rate.den) : INT64_MIN;
    if (counter > -(INT64_C(1) << 60) && counter < (INT64_C(1) << 60)) {
      pkt->pts = pkt->dts = info.PTS;
      st.Counter = counter;
    } else {
      Log(nullptr, llWarning, FormatText("invalid pts %lld", static_cast<long long>(info.PTS)));
      info.PTS = pts;
    }
  }
  st.Counter += AV_TIME_BASE;
  ++info.FrameNumber;
  info.LastPTS = pkt->pts;
  return info.FrameSize;
}

int ReadClose(AVFormatContext* s) {
  auto* p = static_cast<TFrameInputPrivate*>(s->priv_data);
  if (!p || !p->State) return 0;
  std::unique_ptr<TFrameInputState> st(p->State);
  p->State = nullptr;
  st->Pixels.clear();
  RaiseNotify(*st, false);
  return 0;
}

AVInputFormat MakeFormat() {
  AVInputFormat f{};
  f.name = "frameinput";
  f.long_name = "Frame input";
  f.flags = AVFMT_NOFILE;
  f.priv_class = &Class;
  f.priv_data_size = sizeof(TFrameInputPrivate);
  f.read_header = ReadHeader;
  f.read_packet = ReadPacket;
  f.read_close = ReadClose;
  return f;
}
const AVInputFormat Format = MakeFormat();

}  // namespace

void RegisterFrameInputFormat() {
  FFLoader().CheckLibsLoaded(AllLibraries);
  TCustomFFmpeg::RegisterOwnInput(&Format);
}

}  // namespace qm::engine
