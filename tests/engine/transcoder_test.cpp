// The transcoder against real files: clips made by the ffmpeg program, results read back by ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "engine/transcoder.h"
#include "engine_test_support.h"
#include "probe_support.h"

namespace qm::engine {
namespace {

using testing::LoadSystemLibraries;
using testing::TTempFolder;

using testing::Probe;
using testing::RunCommand;
using testing::TProbe;

class TranscoderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LoadSystemLibraries();
    Folder = new TTempFolder;
    // One second of a 25 fps test picture with a 44.1 kHz stereo tone.
    Clip = Folder->Path + "/clip.mkv";
    RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=1 -f lavfi -i "
               "sine=frequency=440:sample_rate=44100:duration=1 -ac 2 -c:v mpeg4 -c:a pcm_s16le '" + Clip + "'");
    ASSERT_TRUE(std::filesystem::exists(Clip));
  }
  static void TearDownTestSuite() {
    delete Folder;
    Folder = nullptr;
  }

  // Options before the input, options before the output, as a task gives them.
  static void Transcode(TCustomFFmpeg& task, const std::vector<std::pair<std::string, std::string>>& inputs,
                        const std::string& outputOptions, const std::string& output) {
    for (const auto& [options, file] : inputs) {
      TOptionParser(task.Options()).ParseOptions(options.c_str());
      ASSERT_GE(task.OpenInput(file), 0) << task.LastError();
    }
    TOptionParser(task.Options()).ParseOptions(outputOptions.c_str());
    ASSERT_GE(task.OpenOutput(output), 0) << task.LastError();
    task.Run();
  }

  static std::string Out(const std::string& name) { return Folder->Path + "/" + name; }

  static TTempFolder* Folder;
  static std::string Clip;
};
TTempFolder* TranscoderTest::Folder = nullptr;
std::string TranscoderTest::Clip;

TEST_F(TranscoderTest, EncodesIntoContainersThatFfprobeReadsBack) {
  struct TCase {
    std::string Options, File, Video, Audio;
  };
  const std::vector<TCase> cases = {
      {"", "default.mp4", "h264", "aac"},
      {"-c:v mpeg4 -c:a libmp3lame -b:v 300k", "x.avi", "mpeg4", "mp3"},
      {"-c:v flv -c:a libmp3lame -ar 22050", "x.flv", "flv1", "mp3"},
      {"-c:a aac -strict experimental -c:v mpeg4", "strict.mp4", "mpeg4", "aac"},
      {"-vn -c:a pcm_s16le", "audio.wav", "", "pcm_s16le"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Options + " " + c.File);
    TCustomFFmpeg task;
    Transcode(task, {{"", Clip}}, c.Options, Out(c.File));
    EXPECT_TRUE(task.Finished());
    const TProbe probe = Probe(Out(c.File));
    EXPECT_EQ(probe.Count("video"), c.Video.empty() ? 0 : 1);
    ASSERT_EQ(probe.Count("audio"), 1);
    if (!c.Video.empty()) {
      EXPECT_EQ(probe.First("video")->at("codec_name"), c.Video);
    }
    EXPECT_EQ(probe.First("audio")->at("codec_name"), c.Audio);
    EXPECT_NEAR(probe.Duration, 1.0, 0.1);
  }
}

// Every encoder the format settings offer, into its usual container.
TEST_F(TranscoderTest, EveryOfferedEncoderProducesItsCodec) {
  struct TCase {
    std::string Options, File, Codec;
  };
  const std::vector<TCase> cases = {
      {"-an -c:v msmpeg4v2", "msmpeg4v2.avi", "msmpeg4v2"},
      {"-an -c:v msmpeg4", "msmpeg4.avi", "msmpeg4v3"},
      {"-an -c:v wmv1", "wmv1.wmv", "wmv1"},
      {"-an -c:v wmv2", "wmv2.wmv", "wmv2"},
      {"-an -c:v libx264 -preset ultrafast -vprofile baseline -threads 2", "x264.mp4", "h264"},
      {"-an -c:v mpeg4 -vtag XVID", "xvid.avi", "mpeg4"},
      {"-an -c:v libvpx", "vp8.webm", "vp8"},
      {"-an -c:v mpeg1video", "m1.mpg", "mpeg1video"},
      {"-an -c:v mpeg2video", "m2.mpg", "mpeg2video"},
      {"-an -c:v rv20", "rv.rm", "rv20"},
      {"-an -c:v mjpeg", "mjpeg.avi", "mjpeg"},
      {"-an -c:v h263 -s 176x144", "h263.3gp", "h263"},
      {"-an -c:v flv", "flv.flv", "flv1"},
      {"-target pal-dv", "pal.dv", "dvvideo"},
      {"-vn -c:a libmp3lame", "a.mp3", "mp3"},
      {"-vn -c:a pcm_s16le", "a.wav", "pcm_s16le"},
      {"-vn -c:a flac", "a.flac", "flac"},
      {"-vn -c:a mp2", "a.mp2", "mp2"},
      {"-vn -c:a ac3", "a.ac3", "ac3"},
      {"-vn -c:a libvorbis", "a.ogg", "vorbis"},
      {"-vn -c:a wmav1", "a1.wma", "wmav1"},
      {"-vn -c:a wmav2", "a2.wma", "wmav2"},
      {"-vn -c:a aac -strict experimental", "a.m4a", "aac"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Options + " " + c.File);
    TCustomFFmpeg task;
    try {
      Transcode(task, {{"", Clip}}, c.Options, Out(c.File));
    } catch (const FFmpegException& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    const TProbe probe = Probe(Out(c.File));
    ASSERT_FALSE(probe.Streams.empty());
    const bool dv = c.File == "pal.dv";
    EXPECT_EQ(probe.Streams.size(), dv ? 2u : 1u);
    EXPECT_EQ(probe.Streams[0].at("codec_name"), c.Codec);
    // Program streams report their duration from a later start.
    EXPECT_NEAR(probe.Duration, 1.0, c.File.ends_with(".mpg") ? 0.2 : 0.1);
    if (dv) {
      EXPECT_EQ(probe.Streams[0].at("width"), "720");
      EXPECT_EQ(probe.Streams[0].at("height"), "576");
    }
  }
}

TEST_F(TranscoderTest, SizeFiltersAndRecordingTimeShapeTheOutput) {
  TCustomFFmpeg task;
  Transcode(task, {{"", Clip}}, "-c:v mpeg4 -s 80x60 -vf pad=100:80:10:10 -t 0.5 -an", Out("small.mp4"));
  const TProbe probe = Probe(Out("small.mp4"));
  ASSERT_EQ(probe.Streams.size(), 1u);
  EXPECT_EQ(probe.Streams[0].at("width"), "100");
  EXPECT_EQ(probe.Streams[0].at("height"), "80");
  EXPECT_NEAR(probe.Duration, 0.5, 0.05);
}

// A filter that counts time in its own units still leaves the pictures at their times.
TEST_F(TranscoderTest, FilterTimeBasesKeepTheTimeLine) {
  TCustomFFmpeg task;
  Transcode(task, {{"", Clip}}, "-an -c:v mpeg4 -vf fps=10", Out("fps10.mp4"));
  const std::string frames = RunCommand("ffprobe -v error -count_frames -show_entries stream=nb_read_frames "
                                        "-of default=nw=1:nk=1 '" + Out("fps10.mp4") + "'");
  // Ten pictures a second, repeated to the output's 25: the last one is not stretched past its time.
  EXPECT_NEAR(atoi(frames.c_str()), 24.5, 0.5);
  EXPECT_NEAR(Probe(Out("fps10.mp4")).Duration, 1.0, 0.1);
}

// Sound with a half-second hole in its times: by default the samples follow each other, with
// -async the hole is filled with silence.
TEST_F(TranscoderTest, AudioSyncFillsHolesInTheTimeLine) {
  const std::string holed = Out("holed.mkv");
  RunCommand("ffmpeg -v error -y -f lavfi -i sine=sample_rate=44100:duration=1 -af "
             "\"asetpts='if(gte(T,0.5),PTS+0.5/TB,PTS)'\" -c:a pcm_s16le '" + holed + "'");
  for (const char* options : {"", "-async 1"}) {
    SCOPED_TRACE(options);
    TCustomFFmpeg task;
    Transcode(task, {{"", holed}}, std::string("-c:a pcm_s16le ") + options, Out("synced.wav"));
    const std::string pcm = RunCommand("ffmpeg -v error -i '" + Out("synced.wav") + "' -f s16le -");
    const double seconds = double(pcm.size()) / 2 / 44100;
    EXPECT_NEAR(seconds, *options ? 1.5 : 1.0, 0.03);
    if (!*options) continue;
    // The middle of the hole is silent, the tone is on either side.
    auto level = [&](double at) {
      int peak = 0;
      for (size_t i = size_t(at * 44100); i < size_t(at * 44100) + 400; ++i) {
        int16_t v;
        std::memcpy(&v, pcm.data() + i * 2, 2);
        peak = std::max(peak, std::abs(int(v)));
      }
      return peak;
    };
    EXPECT_GT(level(0.25), 1000);
    EXPECT_LT(level(0.75), 10);
    EXPECT_GT(level(1.25), 1000);
  }
}

// Subtitles the container can hold pass through; a named codec recodes them, at the same times.
TEST_F(TranscoderTest, SubtitlesPassOrBecomeTheContainersKind) {
  const std::string srt = Out("words.srt"), titled = Out("titled.mkv");
  {
    std::ofstream f(srt);
    f << "1\n00:00:00,200 --> 00:00:00,600\nHello there\n\n";
  }
  RunCommand("ffmpeg -v error -y -i '" + Clip + "' -i '" + srt + "' -map 0 -map 1 -c:v copy -c:a copy -c:s subrip '" +
             titled + "'");
  struct TCase {
    std::string Options, File, Codec;
  };
  for (const TCase& c : {TCase{"", "subs.mkv", "subrip"}, TCase{"-c:s ass", "subs.mkv", "ass"},
                         TCase{"-c:s mov_text", "subs.mp4", "mov_text"}}) {
    SCOPED_TRACE(c.Options + " " + c.File);
    TCustomFFmpeg task;
    Transcode(task, {{"", titled}}, "-c:v mpeg4 -an " + c.Options, Out(c.File));
    EXPECT_TRUE(task.Finished());
    const TProbe probe = Probe(Out(c.File));
    ASSERT_EQ(probe.Count("subtitle"), 1);
    EXPECT_EQ(probe.First("subtitle")->at("codec_name"), c.Codec);
    EXPECT_NEAR(probe.Duration, 1.0, 0.1);
    const std::string text = RunCommand("ffmpeg -v error -i '" + Out(c.File) + "' -map 0:s -f srt -");
    EXPECT_NE(text.find("00:00:00,200 --> 00:00:00,600"), std::string::npos) << text;
    EXPECT_NE(text.find("Hello there"), std::string::npos) << text;
  }
}

// Titles, stream languages and chapters go with the output unless the maps say otherwise.
TEST_F(TranscoderTest, MetadataAndChaptersFollowTheMaps) {
  const std::string tagged = Out("tagged.mkv"), chapters = Out("chapters.txt");
  {
    std::ofstream f(chapters);
    f << ";FFMETADATA1\ntitle=Hello\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=Opening\n";
  }
  RunCommand("ffmpeg -v error -y -i '" + Clip + "' -i '" + chapters + "' -map_metadata 1 -map_chapters 1 -map 0 "
             "-metadata:s:a language=fra -c copy '" + tagged + "'");
  struct TCase {
    std::string Options, Expected;
  };
  const std::vector<TCase> cases = {
      // global title | audio language | chapter title | audio title | chapter language
      {"", "Hello|fra|Opening||"},
      {"-map_metadata -1", "|fra|Opening||"},
      {"-map_chapters -1", "Hello|fra|||"},
      {"-map_metadata:s:a 0:g", "||Opening|Hello|"},
      {"-map_metadata:c:0 0:s:a -map_metadata 0:c:0", "Opening||||fra"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Options);
    TCustomFFmpeg task;
    Transcode(task, {{"", tagged}}, "-c copy " + c.Options, Out("retagged.mkv"));
    auto tag = [&](const std::string& entries) {
      std::string v = RunCommand("ffprobe -v error " + entries + " -of default=nw=1:nk=1 '" + Out("retagged.mkv") + "'");
      while (!v.empty() && v.back() == '\n') v.pop_back();
      return v;
    };
    const std::string seen = tag("-show_entries format_tags=title") + "|" +
                             tag("-select_streams a -show_entries stream_tags=language") + "|" +
                             tag("-show_entries chapter_tags=title") + "|" +
                             tag("-select_streams a -show_entries stream_tags=title") + "|" +
                             tag("-show_entries chapter_tags=language");
    EXPECT_EQ(seen, c.Expected);
  }
  TCustomFFmpeg task;
  ASSERT_GE(task.OpenInput(tagged), 0);
  TOptionParser(task.Options()).ParseOptions("-map_metadata 3");
  EXPECT_LT(task.OpenOutput(Out("badmap.mkv")), 0);
  EXPECT_EQ(task.LastError(), "Invalid input file index 3 while processing metadata maps");
}

// A file attached to the output comes back out of it under its own name, or the one given; an
// existing file is kept unless overwriting is allowed.
TEST_F(TranscoderTest, AttachedFilesGoInAndComeOut) {
  testing::TLogRecorder log(llWarning);
  const std::string notes = Out("notes.txt");
  {
    std::ofstream f(notes);
    f << "attached words";
  }
  TCustomFFmpeg attach;
  Transcode(attach, {{"", Clip}}, "-c copy -attach \"" + notes + "\" -metadata:s:t mimetype=text/plain", Out("attached.mkv"));
  EXPECT_NE(RunCommand("ffprobe -v error -show_entries stream=codec_type:stream_tags=filename -of csv '" +
                       Out("attached.mkv") + "'").find("attachment,notes.txt"), std::string::npos);
  std::filesystem::remove(notes);
  auto read = [](const std::string& file) {
    std::ifstream f(file);
    return std::string(std::istreambuf_iterator<char>(f), {});
  };
  const std::string copy = Out("copy.txt");
  struct TCase {
    std::string Options, File, Expected;
  };
  // With no name the attachment keeps its own, relative to where the program runs.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(Folder->Path);
  const std::string own = Out("notes.txt");
  for (const TCase& c : {TCase{"-dump_attachment:t \"\"", own, "attached words"},
                         TCase{"-dump_attachment:t:0 \"" + copy + "\"", copy, "attached words"},
                         TCase{"-dump_attachment:t \"" + copy + "\"", copy, "changed"},
                         TCase{"-y -dump_attachment:t \"" + copy + "\"", copy, "attached words"}}) {
    SCOPED_TRACE(c.Options);
    if (c.Expected == "changed") std::ofstream(copy) << "changed";
    TCustomFFmpeg task;
    TOptionParser(task.Options()).ParseOptions(c.Options.c_str());
    EXPECT_GE(task.OpenInput(Out("attached.mkv")), 0) << task.LastError();
    EXPECT_EQ(read(c.File), c.Expected);
  }
  std::filesystem::current_path(before);
  EXPECT_TRUE(log.Contains("File \"" + copy + "\" already exists. Ignore."));
}

// The watermark graph: a picture read by movie= and laid over the scaled frame at a place.
TEST_F(TranscoderTest, WatermarkLandsWhereTheOverlaySaysOnTheScaledFrame) {
  const std::string black = Out("black.mkv"), mark = Out("mark.png"), out = Out("marked.avi");
  RunCommand("ffmpeg -v error -y -f lavfi -i color=black:size=100x100:rate=25:duration=0.4 -c:v ffv1 '" + black + "'");
  RunCommand("ffmpeg -v error -y -f lavfi -i color=white:size=20x10 -frames:v 1 '" + mark + "'");
  TCustomFFmpeg task;
  Transcode(task, {{"", black}},
            "-c:v ffv1 -pix_fmt rgb24 -vf \"movie=" + mark + " [watermark1]; [in] pad=200:100:50:0, scale=160:80 [main]; "
            "[main][watermark1] overlay=30:40 [out]\"", out);
  const std::string rgb = RunCommand("ffmpeg -v error -i '" + out + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 160u * 80 * 3);
  auto at = [&](int x, int y) { return int(uint8_t(rgb[size_t(y * 160 + x) * 3])); };
  EXPECT_GT(at(30, 40), 200);
  EXPECT_GT(at(49, 49), 200);
  EXPECT_LT(at(29, 40), 50);
  EXPECT_LT(at(50, 49), 50);
  EXPECT_LT(at(30, 50), 50);
  EXPECT_LT(at(100, 20), 50);
}

TEST_F(TranscoderTest, ForcedKeyFramesAreCoded) {
  TCustomFFmpeg task;
  Transcode(task, {{"", Clip}}, "-an -c:v mpeg4 -g 1000 -force_key_frames 0.4,0.72", Out("keys.mp4"));
  const std::string keys = RunCommand("ffprobe -v error -select_streams v -skip_frame nokey -show_entries "
                                      "frame=pts_time -of default=nw=1:nk=1 '" + Out("keys.mp4") + "'");
  EXPECT_EQ(keys, "0.000000\n0.400000\n0.720000\n");
}

// The first pass leaves the encoder's statistics in prefix-N.log, the second reads them; libx264
// keeps its own file under that name; a second pass without a first one fails by name.
TEST_F(TranscoderTest, TwoPassEncodingKeepsItsLogs) {
  const std::string prefix = Out("twopass");
  for (const std::string codec : {"mpeg4", "libx264 -preset ultrafast"}) {
    SCOPED_TRACE(codec);
    std::filesystem::remove(prefix + "-0.log");
    for (int pass : {1, 2}) {
      TCustomFFmpeg task;
      Transcode(task, {{"", Clip}},
                "-an -c:v " + codec + " -b:v 150k -pass " + std::to_string(pass) + " -passlogfile \"" + prefix + "\"",
                Out("pass" + std::to_string(pass) + ".mp4"));
      EXPECT_TRUE(task.Finished());
      ASSERT_TRUE(std::filesystem::exists(prefix + "-0.log"));
      EXPECT_GT(std::filesystem::file_size(prefix + "-0.log"), 100u);
    }
    const TProbe probe = Probe(Out("pass2.mp4"));
    ASSERT_EQ(probe.Streams.size(), 1u);
    EXPECT_NEAR(probe.Duration, 1.0, 0.1);
  }
  std::filesystem::remove(prefix + "-0.log");
  TCustomFFmpeg task;
  ASSERT_GE(task.OpenInput(Clip), 0);
  TOptionParser(task.Options()).ParseOptions(("-an -c:v mpeg4 -pass 2 -passlogfile \"" + prefix + "\"").c_str());
  ASSERT_GE(task.OpenOutput(Out("nolog.mp4")), 0);
  try {
    task.Run();
    ADD_FAILURE() << "second pass ran without a log";
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()), "Error reading log file \"" + prefix + "-0.log\" for pass-2 encoding");
  }
}

// Output channels taken from chosen input channels, silent ones with -1; their count sets the
// output's channel count.
TEST_F(TranscoderTest, MappedChannelsChooseAndOrderTheOutputChannels) {
  const std::string left = Out("left.wav");
  RunCommand("ffmpeg -v error -y -f lavfi -i 'aevalsrc=sin(440*2*PI*t)|0:s=44100:d=0.5' -c:a pcm_s16le '" + left + "'");
  struct TCase {
    std::string Maps;
    std::vector<bool> Loud;  // per output channel
  };
  const std::vector<TCase> cases = {
      {"-map_channel 0.0.1 -map_channel 0.0.0", {false, true}},
      {"-map_channel 0.0.0", {true}},
      {"-map_channel -1 -map_channel 0.0.0 -map_channel 0.0.0", {false, true, true}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Maps);
    TCustomFFmpeg task;
    Transcode(task, {{"", left}}, c.Maps + " -c:a pcm_s16le", Out("mapped.wav"));
    const std::string pcm = RunCommand("ffmpeg -v error -i '" + Out("mapped.wav") + "' -f s16le -");
    const size_t channels = c.Loud.size();
    ASSERT_EQ(pcm.size(), 22050u * 2 * channels);
    for (size_t ch = 0; ch < channels; ++ch) {
      double energy = 0;
      for (size_t i = ch; i < pcm.size() / 2; i += channels) {
        int16_t v;
        std::memcpy(&v, pcm.data() + i * 2, 2);
        energy += double(v) * v;
      }
      EXPECT_EQ(energy / 22050 > 1e6, c.Loud[ch]) << "channel " << ch;
    }
  }
}

// Options that reach the encoder, the muxer or the demuxer directly, seen in the file.
TEST_F(TranscoderTest, EncoderMuxerAndDemuxerOptionsShowInTheFile) {
  auto count = [&](const std::string& file, const std::string& entries) {
    return RunCommand("ffprobe -v error -select_streams v " + entries + " -of default=nw=1:nk=1 '" + file + "'");
  };
  {
    TCustomFFmpeg task;
    Transcode(task, {{"", Clip}}, "-an -c:v mpeg4 -streamid 0:77", Out("id.ts"));
    EXPECT_EQ(count(Out("id.ts"), "-show_entries stream=id").substr(0, 5), "0x4d\n");
  }
  {
    TCustomFFmpeg task;
    Transcode(task, {{"", Clip}}, "-an -c:v mpeg4 -intra", Out("intra.avi"));
    EXPECT_EQ(count(Out("intra.avi"), "-skip_frame nokey -count_frames -show_entries stream=nb_read_frames"), "25\n");
  }
  {
    // Only the key frames of a 12-frame group are read.
    TCustomFFmpeg task;
    Transcode(task, {{"-vdt 32", Clip}}, "-an -c:v mpeg4 -vsync passthrough", Out("keysonly.avi"));
    EXPECT_EQ(count(Out("keysonly.avi"), "-count_frames -show_entries stream=nb_read_frames"), "3\n");
  }
  auto energy = [&](const std::string& file) {
    const std::string pcm = RunCommand("ffmpeg -v error -i '" + file + "' -f s16le -ac 1 -");
    double sum = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
      int16_t v;
      std::memcpy(&v, pcm.data() + i, 2);
      sum += double(v) * v;
    }
    return sum;
  };
  TCustomFFmpeg full, half;
  Transcode(full, {{"", Clip}}, "-vn -c:a pcm_s16le", Out("full.wav"));
  Transcode(half, {{"", Clip}}, "-vn -c:a pcm_s16le -rmvol 0.5", Out("half.wav"));
  EXPECT_NEAR(energy(Out("half.wav")) / energy(Out("full.wav")), 0.25, 0.01);
}

// The statistics: the final line with the quantiser, its histogram and the PSNR of each plane,
// one vstats line per coded picture, and the dump of every packet read.
TEST_F(TranscoderTest, StatisticsLineVideoStatsAndPacketDump) {
  testing::TLogRecorder log(llInfo);
  const std::string stats = Out("coding.log");
  TCustomFFmpeg task;
  std::vector<TTranscodeProgress> reports;
  task.OnProgress = [&](const TTranscodeProgress& p) { reports.push_back(p); };
  Transcode(task, {{"", Clip}}, "-an -c:v mpeg4 -psnr -qphist -dump -vstats_file \"" + stats + "\"", Out("stats.avi"));
  ASSERT_FALSE(reports.empty());
  EXPECT_TRUE(reports.back().Final);
  EXPECT_GT(reports.back().Quality, 0.5f);
  EXPECT_LE(reports.back().Quality, 31.0f);
  task.OnProgress = nullptr;
  std::ifstream file(stats);
  std::string line;
  int lines = 0;
  while (std::getline(file, line)) {
    ++lines;
    EXPECT_EQ(line.rfind("frame= ", 0), 0u) << line;
    EXPECT_NE(line.find(" PSNR= "), std::string::npos) << line;
    EXPECT_NE(line.find(lines == 1 ? "type= I" : "type= "), std::string::npos) << line;
  }
  EXPECT_EQ(lines, 25);
  bool dumped = false;
  for (const std::string& text : log.Texts()) dumped |= text.find("stream #0:") != std::string::npos;
  EXPECT_TRUE(dumped);
  // Without a progress handler the line goes to the log.
  TCustomFFmpeg quiet;
  Transcode(quiet, {{"", Clip}}, "-an -c:v mpeg4 -psnr -qphist", Out("stats2.avi"));
  std::string final;
  for (const std::string& text : log.Texts())
    if (text.rfind("frame=   25", 0) == 0) final = text;
  ASSERT_FALSE(final.empty());
  const size_t l = final.find(" L");
  ASSERT_NE(l, std::string::npos) << final;
  EXPECT_EQ(final.substr(l + 2).find_first_not_of("0123456789ABCDEF"), 32u) << final;
  EXPECT_NE(final.find("PSNR=Y:"), std::string::npos) << final;
  EXPECT_NE(final.find(" *:"), std::string::npos) << final;
}

TEST_F(TranscoderTest, MapsStreamsOfTwoInputsAndCopies) {
  TCustomFFmpeg task;
  Transcode(task, {{"", Clip}, {"", Clip}}, "-map 0:1 -map 1:0 -c copy", Out("mapped.mkv"));
  const TProbe probe = Probe(Out("mapped.mkv"));
  ASSERT_EQ(probe.Streams.size(), 2u);
  EXPECT_EQ(probe.Streams[0].at("codec_name"), "pcm_s16le");
  EXPECT_EQ(probe.Streams[1].at("codec_name"), "mpeg4");
  EXPECT_NEAR(probe.Duration, 1.0, 0.1);
}

TEST_F(TranscoderTest, StopLeavesAPlayableShorterFile) {
  TCustomFFmpeg task;
  TOptionParser(task.Options()).ParseOptions("-re");
  ASSERT_GE(task.OpenInput(Clip), 0);
  TOptionParser(task.Options()).ParseOptions("-c:v mpeg4 -c:a aac");
  ASSERT_GE(task.OpenOutput(Out("stopped.mp4")), 0);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    task.RequestStop();
  });
  try {
    task.Run();
  } catch (const FFmpegException& e) {
    ADD_FAILURE() << e.what();
  }
  stopper.join();
  EXPECT_FALSE(task.Finished());
  const TProbe probe = Probe(Out("stopped.mp4"));
  EXPECT_EQ(probe.Streams.size(), 2u);
  EXPECT_GT(probe.Duration, 0.1);
  EXPECT_LT(probe.Duration, 0.9);
}

// Sound is encoded beside the pictures: every sound stream keeps the packets it has when encoded
// alone, and the file is the same from run to run.
TEST_F(TranscoderTest, SoundEncodedBesideThePicturesKeepsItsPacketsAndRepeats) {
  auto soundPackets = [](const std::string& file, int stream) {
    return RunCommand("ffmpeg -v error -i '" + file + "' -map 0:a:" + std::to_string(stream) +
                      " -c copy -f framemd5 - 2>/dev/null | grep -v '^#'");
  };
  auto bytes = [](const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  {
    TCustomFFmpeg alone;
    Transcode(alone, {{"", Clip}}, "-vn -c:a aac -b:a 128k", Out("sound_alone.mp4"));
  }
  const std::string expected = soundPackets(Out("sound_alone.mp4"), 0);
  ASSERT_GT(std::count(expected.begin(), expected.end(), '\n'), 40);  // a second of 1024-sample frames
  struct Case {
    const char* name;
    const char* options;
    int soundStreams;
  };
  const Case cases[] = {
      {"one sound stream", "-c:v mpeg4 -c:a aac -b:a 128k", 1},
      {"two sound streams of one source", "-map 0:v -map 0:a -map 0:a -c:v mpeg4 -c:a aac -b:a 128k", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string first;
    for (int run = 0; run < 2; ++run) {
      const std::string output = Out("beside" + std::to_string(run) + ".mp4");
      TCustomFFmpeg task;
      Transcode(task, {{"", Clip}}, c.options, output);
      ASSERT_TRUE(task.Finished());
      for (int stream = 0; stream < c.soundStreams; ++stream) EXPECT_EQ(soundPackets(output, stream), expected);
      if (run == 0)
        first = bytes(output);
      else
        EXPECT_TRUE(bytes(output) == first) << "two runs wrote different files";
    }
  }
}

TEST_F(TranscoderTest, FailuresNameTheirCause) {
  {
    TCustomFFmpeg task;
    TOptionParser(task.Options()).ParseOptions("-f nosuchformat");
    EXPECT_LT(task.OpenInput(Clip), 0);
    EXPECT_EQ(task.LastError(), "Unknown input format: \"nosuchformat\"");
  }
  {
    TCustomFFmpeg task;
    EXPECT_LT(task.OpenInput(Out("missing.avi")), 0);
    EXPECT_NE(task.LastError().find("missing.avi: "), std::string::npos);
  }
  for (const char* codec : {"libfaac", "libopencore_amrnb"}) {
    TCustomFFmpeg task;
    ASSERT_GE(task.OpenInput(Clip), 0);
    TOptionParser(task.Options()).ParseOptions((std::string("-c:a ") + codec).c_str());
    EXPECT_LT(task.OpenOutput(Out("x.3gp")), 0);
    EXPECT_EQ(task.LastError().rfind(std::string("Encoder (codec ") + codec + ") not found for output stream #0:1", 0), 0u)
        << task.LastError();
  }
  {
    // An option the engine does not carry out fails by name instead of being ignored.
    TCustomFFmpeg task;
    ASSERT_GE(task.OpenInput(Clip), 0);
    TOptionParser(task.Options()).ParseOptions("-attach cover.png");
    EXPECT_LT(task.OpenOutput(Out("attach.mkv")), 0);
    EXPECT_EQ(task.LastError(), "Could not open attachment file cover.png.");
  }
  {
    TCustomFFmpeg task;
    ASSERT_GE(task.OpenInput(Clip), 0);
    try {
      task.Run();
      ADD_FAILURE() << "ran without output";
    } catch (const FFmpegException& e) {
      EXPECT_STREQ(e.what(), "At least one output file must be specified");
    }
  }
}

}  // namespace
}  // namespace qm::engine
