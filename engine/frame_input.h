// The frame input: pictures the program draws itself enter a task as a live video input. A task
// names the input "-f frameinput" with the decimal InputName() of an adapter as its file name;
// each packet the task reads raises one of the adapter's read events, which supplies the picture.
//
//   TFrameInputAdapter adapter;
//   adapter.OnReadFrameCanvas = [](TFrameInputAdapter*, TFrameImage* image, TInputFrameInfo* info) {
//     ... draw into image ...; return 0;  // negative ends the input
//   };
//   TInputOptions in;
//   in.Options = "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 25 -s 640x480";
//   encoder.AddTask(adapter.InputName(), &in);
//
// Private options of the input (also set by -s, -r and -pix_fmt of the input): "input_type" (yuv,
// bmp, canvas or dc), "video_size", "framerate", "pixel_format".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qm::engine {

// What one read event knows about the frame it is asked for. PTS may be changed by the event.
struct TInputFrameInfo {
  int64_t PTS = 0;        // microseconds; on entry the default time of this frame
  int64_t LastPTS = 0;    // time of the previous packet; INT64_MIN (no time) before the first
  int FrameNumber = 1;    // 1 for the first frame
  int Width = 0, Height = 0;
  int BitsPerPixel = 0;   // 8, 16, 24 or 32 for the bitmap types, 0 for yuv
  int Stride = 0;         // bytes per bitmap row: ((Width * BitsPerPixel + 31) / 32) * 4
  int FrameSize = 0;      // bytes of one packet
  int PixFmt = -1;        // FFmpeg pixel format of the packets
  int InputType = 0;      // 0 yuv, 1 bmp, 2 canvas, 3 dc
};

enum TFrameInputType : int { fitYUV = 0, fitBMP = 1, fitCanvas = 2, fitDC = 3 };

// The off-screen picture of the canvas and dc types. Rows are stored top row first: row y starts
// at Bits + y * Stride, and Stride is a multiple of 4. The memory stays the same for the whole
// input, so a window may wrap it once, without copying, as
// QImage(Bits, Width, Height, Stride, format): bgr24 is QImage::Format_BGR888, bgra
// Format_ARGB32, rgb555le Format_RGB555, pal8 Format_Indexed8 with Palette as its colour table.
struct TFrameImage {
  uint8_t* Bits = nullptr;
  int Width = 0, Height = 0;
  int Stride = 0;
  int BitsPerPixel = 0;
  int PixFmt = -1;
  // pal8: the 256 colours as 0xAARRGGBB (a QImage colour table), a grey ramp until the program
  // sets them; they go with every picture. nullptr for the other formats.
  uint32_t* Palette = nullptr;
};

// A picture the program holds already, handed to a yuv input without a copy (OnReadFrameBuffer):
// Data holds FrameSize bytes in the pixel format's layout, within Capacity bytes. The engine reads
// it until it calls Release(Data), exactly once, on the thread that lets go of it last (the
// task's worker, or the one that ends the task), also when the event fails. With Capacity at
// least FrameSize + FramePadding the packet is the picture itself (FFmpeg's readers may look a
// little past the end; the engine clears those bytes); a smaller one is copied.
struct TFrameBuffer {
  uint8_t* Data = nullptr;
  size_t Capacity = 0;
  std::function<void(uint8_t* Data)> Release;
};
inline constexpr size_t FramePadding = 64;

class TFrameInputAdapter;

using TNotifyEvent = std::function<void(TFrameInputAdapter* Sender)>;
// Returns 0 or more when the picture is ready, a negative number to end the input.
using TReadFrameCanvasEvent =
    std::function<int(TFrameInputAdapter* Sender, TFrameImage* ACanvas, TInputFrameInfo* AFrameInfo)>;
using TReadFrameDCEvent = std::function<int(TFrameInputAdapter* Sender, TFrameImage* ADC, TInputFrameInfo* AFrameInfo)>;
// bmp: AData is the bitmap memory with the bottom row first, Stride bytes per row (for pal8 the
// colours are those of FrameImage()->Palette).
// yuv: AData is the packet itself, to be filled with FrameSize bytes in the pixel format's layout.
using TReadFrameDataEvent = std::function<int(TFrameInputAdapter* Sender, void* AData, TInputFrameInfo* AFrameInfo)>;
// yuv: the event hands over a picture of its own in ABuffer instead of filling the packet.
using TReadFrameBufferEvent =
    std::function<int(TFrameInputAdapter* Sender, TFrameBuffer* ABuffer, TInputFrameInfo* AFrameInfo)>;

// Handlers are set before the task starts. With TriggerEventInMainThread they run on the main
// thread (through the engine's main-thread dispatcher); otherwise on the task's worker, which
// then must draw only into the picture it is given. One adapter serves one open input at a time.
// An adapter must outlive the events it is raising; destroying it while its input is still open
// makes that input end at its next frame.
class TFrameInputAdapter {
 public:
  TFrameInputAdapter();
  ~TFrameInputAdapter();
  TFrameInputAdapter(const TFrameInputAdapter&) = delete;
  TFrameInputAdapter& operator=(const TFrameInputAdapter&) = delete;

  // The decimal text that names this adapter as an input file. Names are never reused, so the
  // name of an adapter that is gone is refused.
  std::string InputName() const;

  // The frame information and the picture of the open input, nullptr when none is open. Valid
  // during events.
  TInputFrameInfo* FrameInfo() const;
  TFrameImage* FrameImage() const;

  bool TriggerEventInMainThread = true;
  TNotifyEvent OnReadHeader;
  TNotifyEvent OnReadClose;
  TReadFrameCanvasEvent OnReadFrameCanvas;
  TReadFrameDataEvent OnReadFrameBMP;
  TReadFrameDCEvent OnReadFrameDC;
  TReadFrameDataEvent OnReadFrameYUV;
  // yuv without a copy; when set, it is raised instead of OnReadFrameYUV.
  TReadFrameBufferEvent OnReadFrameBuffer;

  struct TLink;

 private:
  std::shared_ptr<TLink> FLink;
};

// Makes "-f frameinput" known to the engine's tasks; the libraries must be loaded. Safe to call
// more than once.
void RegisterFrameInputFormat();

}  // namespace qm::engine
