#include <fstream>
#include <thread>

#include "engine_test_support.h"

namespace qm::engine {
namespace {

using testing::LoadSystemLibraries;
using testing::TLogRecorder;
using testing::TTempFolder;

TEST(SplitWords, FollowsTheRunTimeLibraryRules) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"", {}},
      {" \t ", {}},
      {"-c:v  copy\t-an", {"-c:v", "copy", "-an"}},
      {"-vf \"scale=640:480, pad=1:2\" -sn", {"-vf", "scale=640:480, pad=1:2", "-sn"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"a\\\\\"b c\"", {"a\\b c"}},       // 2 backslashes + quote: one backslash, quote groups
      {"a\\\"b", {"a\"b"}},               // 1 backslash + quote: a literal quote
      {"a\\\\\\\"b", {"a\\\"b"}},         // 3 backslashes + quote: one backslash and a quote
      {"c:\\dir\\x y", {"c:\\dir\\x", "y"}},  // backslashes elsewhere stay
      {"movie=a\\\\:b.png", {"movie=a\\\\:b.png"}},
      {"\"\"", {""}},
  };
  for (const auto& [text, words] : cases) EXPECT_EQ(SplitWords(text), words) << text;
}

TEST(OptionTable, HoldsEveryNameInOrderWithConsistentDestinations) {
  const char* const names[] = {
      "L", "h", "?", "help", "-help", "version", "formats", "codecs", "bsfs", "protocols", "filters", "pix_fmts",
      "sample_fmts", "loglevel", "v", "debug", "report", "max_alloc", "f", "i", "y", "n", "c", "codec", "pre", "map",
      "map_channel", "map_metadata", "map_chapters", "t", "t_microsecond", "fs", "ss", "ss_microsecond", "itsoffset",
      "itsoffset_microsecond", "itsscale", "timestamp", "metadata", "dframes", "benchmark", "timelimit", "dump", "hex",
      "re", "loop_input", "loop_output", "target", "vsync", "async", "adrift_threshold", "copyts", "copytb",
      "shortest", "dts_delta_threshold", "xerror", "copyinkf", "frames", "tag", "q", "qscale", "filter", "stats",
      "attach", "dump_attachment", "vframes", "r", "s", "aspect", "pix_fmt", "bits_per_raw_sample", "croptop",
      "cropbottom", "cropleft", "cropright", "padtop", "padbottom", "padleft", "padright", "padcolor", "intra", "vn",
      "vdt", "rc_override", "vcodec", "sameq", "same_quant", "pass", "passlogfile", "deinterlace", "psnr", "vstats",
      "vstats_file", "vf", "intra_matrix", "inter_matrix", "top", "dc", "vtag", "qphist", "force_fps", "streamid",
      "force_key_frames", "b", "aframes", "aq", "ar", "ac", "an", "acodec", "atag", "vol", "sample_fmt", "rmvol",
      "sn", "scodec", "stag", "vc", "tvstd", "isync", "muxdelay", "muxpreload", "bsf", "absf", "vbsf", "apre",
      "vpre", "spre", "fpre", "dcodec", "dn", "vhook", "VideoHookBitsPixel", "TimeStart", "timestart",
      "TimeLength", "timelength", "AudioHook", "VideoInputHook", "VideoOutputHook", "FrameInputHook",
      "FrameOutputHook", "Join", "default"};
  const auto& table = OptionTable();
  ASSERT_EQ(table.size(), std::size(names));
  for (size_t i = 0; i < table.size(); ++i) {
    const TOptionDef& def = table[i];
    EXPECT_STREQ(def.Name, names[i]);
    // The type flags must fit the field the value goes to.
    std::visit(
        [&](auto member) {
          using M = decltype(member);
          const uint32_t f = def.Flags;
          if constexpr (std::is_same_v<M, TOptionHandler>) {
            SUCCEED();
          } else {
            const bool perStream = (f & OPT_PER_STREAM) != 0;
            const bool group = std::is_member_object_pointer_v<M> &&
                               std::is_invocable_v<M, TFileOptionGroup&>;
            EXPECT_EQ(group, (f & (OPT_OFFSET | OPT_PER_STREAM)) != 0) << def.Name;
            EXPECT_EQ((f & OPT_HAS_ARG) != 0, (f & OPT_BOOL) == 0) << def.Name;
            (void)perStream;
          }
        },
        def.Destination);
  }
  const uint32_t expected[][2] = {{0x4009, 0}, {0x4006, 0}, {0x8009, 0}, {0x80A1, 0}, {0x8019, 0}, {0x801D, 0},
                                  {0x4202, 0}, {0x4022, 0}, {0x4012, 0}, {0x14001, 0}, {0x4401, 0}, {0x35, 0}};
  const char* const flagged[] = {"f", "re", "c", "ar", "r", "pix_fmt", "sn", "an", "vn", "t", "t_microsecond", "default"};
  for (size_t i = 0; i < std::size(flagged); ++i) EXPECT_EQ(FindOptionDef(flagged[i])->Flags, expected[i][0]) << flagged[i];
}

class OptionParsing : public ::testing::Test {
 protected:
  void SetUp() override { LoadSystemLibraries(); }

  // One video and one audio stream in input 0, two audio streams in input 1.
  void OpenInputs() {
    Options.Inputs.push_back({{0, 'v', {}, 25.0, 0}, {1, 'a', {}, 0, 2}});
    Options.Inputs.push_back({{0, 'a', {}, 0, 2}, {1, 'a', {}, 0, 6}});
  }
  std::string Error(const char* text) {
    try {
      Parser.ParseOptions(text);
    } catch (const FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), LastOptionError());
      return e.what();
    }
    return "(no error)";
  }

  TTaskOptions Options;
  TOptionParser Parser{Options};
};

TEST_F(OptionParsing, EmptyAndNullTextsParseToNothing) {
  EXPECT_EQ(Parser.ParseOptions(nullptr), 0);
  EXPECT_EQ(Parser.ParseOptions(""), 0);
  EXPECT_EQ(Parser.ParsePresets("  "), 0);
  EXPECT_TRUE(Options.Group.CodecNames.empty());
  EXPECT_TRUE(Options.CodecOptions.Entries.empty());
  EXPECT_EQ(*Options.ScalerOptions.Get("sws_flags"), "bicubic");
}

TEST_F(OptionParsing, QuotedFilterArrivesWhole) {
  Parser.ParseOptions("-c:v mpeg4 -b:v 20000k -vf \"crop=320:240:10:20, scale=640:480\" -sn");
  ASSERT_EQ(Options.Group.Filters.size(), 1u);
  EXPECT_EQ(Options.Group.Filters[0].Specifier, "v");
  EXPECT_EQ(Options.Group.Filters[0].Value, "crop=320:240:10:20, scale=640:480");
  EXPECT_TRUE(Options.Group.SubtitleDisable);
}

TEST_F(OptionParsing, StreamSpecifiedValuesResolvePerStreamLastMatchWins) {
  const TStreamList streams = {{0, 'v', {}, 25, 0}, {1, 'a', {{7, 0}}, 0, 2}, {2, 'a', {{7, 1}}, 0, 2}};
  Parser.ParseOptions("-c:v copy -c:a aac");
  EXPECT_EQ(*FindForStream(Options.Group.CodecNames, streams, 0), "copy");
  EXPECT_EQ(*FindForStream(Options.Group.CodecNames, streams, 1), "aac");

  Options.ResetGroup();
  Parser.ParseOptions("-c aac -c:a:1 ac3");
  EXPECT_EQ(*FindForStream(Options.Group.CodecNames, streams, 1), "aac");
  EXPECT_EQ(*FindForStream(Options.Group.CodecNames, streams, 2), "ac3");
  EXPECT_EQ(*FindForStream(Options.Group.CodecNames, streams, 0), "aac");

  Options.ResetGroup();
  Parser.ParseOptions("-ar 22050 -ar:1 44100 -ar:p:7:1 48000 -ar:s 8000");
  EXPECT_EQ(*FindForStream(Options.Group.AudioSampleRates, streams, 0), 22050);
  EXPECT_EQ(*FindForStream(Options.Group.AudioSampleRates, streams, 1), 44100);
  EXPECT_EQ(*FindForStream(Options.Group.AudioSampleRates, streams, 2), 48000);

  Options.ResetGroup();
  Parser.ParseOptions("-c:x copy");  // an unknown specifier fails when it is looked up
  EXPECT_THROW(FindForStream(Options.Group.CodecNames, streams, 0), FFmpegException);
}

TEST_F(OptionParsing, NoPrefixOnlyForBooleans) {
  Options.Group.VideoDisable = true;
  Parser.ParseOptions("-novn");
  EXPECT_FALSE(Options.Group.VideoDisable);
  EXPECT_NE(Error("-nor 25").find("Unrecognized option \"nor\""), std::string::npos);
}

TEST_F(OptionParsing, ErrorsCarryTheirTexts) {
  const std::pair<const char*, const char*> cases[] = {
      {"-c:v mpeg4 stray -an", "Failed to parse options on stray"},
      {"-nosuchoption 1", "Unrecognized option \"nosuchoption\"\nFailed to set value \"1\" for option \"nosuchoption\""},
      {"-ar", "Missing argument for option \"ar\""},
      {"-ar fast", "Expected integer for ar but found fast"},
      {"-fs 1e", "Expected int64 for fs but found 1e"},
      {"-adrift_threshold x", "Expected float for adrift_threshold but found x"},
      {"-itsscale x", "Expected double for itsscale but found x"},
      {"-t soon", "Invalid duration specification for t: soon"},
      {"-vsync 3", "The value for \"vsync\" was \"3\" which is not within -1 - 2"},
      {"-aspect 0", "Incorrect aspect ratio specification."},
      {"-croptop 4", "Option \"croptop\" has been removed, use the crop filter instead\nFailed to set value \"4\" for option \"croptop\""},
      {"-benchmark", "options \"benchmark\" not supported\nFailed to set value \"\" for option \"benchmark\""},
      {"-target pal-tv", "Unknown target: pal-tv\nFailed to set value \"pal-tv\" for option \"target\""},
      {"-streamid 3", "Invalid value \"3\" for option \"streamid\", required syntax is \"index:value\""},
      {"-TimeStart abc", "Failed to set value \"abc\" for option \"TimeStart\""},
      {"-sameq", "Option \"sameq\" cannot work with this FFmpeg: decoders no longer report the quantizer of their "
                 "frames, use -q:v instead\nFailed to set value \"\" for option \"sameq\""},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(Error(text), error) << text;
}

TEST_F(OptionParsing, LogLevelByNameOrNumberIsAppliedFirst) {
  Parser.ParseOptions("-loglevel error");
  EXPECT_EQ(FF.av_log_get_level(), 16);
  FF.av_log_set_level(32);
  Parser.ParseOptions("-v 16");
  EXPECT_EQ(FF.av_log_get_level(), 16);
  // A bad option after the level still sees the level applied first.
  FF.av_log_set_level(32);
  Error("-bogus 1 -loglevel 24");
  EXPECT_EQ(FF.av_log_get_level(), 24);
  const std::string error = Error("-loglevel loud");
  EXPECT_EQ(error.rfind("Invalid loglevel \"loud\". Possible levels are numbers or:\n\"quiet\"\n\"panic\"", 0), 0u)
      << error;
  FF.av_log_set_level(32);
}

TEST_F(OptionParsing, PlainBitRateWarnsAndMeansVideo) {
  TLogRecorder rec;
  Parser.ParseOptions("-b 1957k -b:a 128k");
  EXPECT_TRUE(rec.Contains("Please use -b:a or -b:v, -b is ambiguous"));
  ASSERT_NE(Options.CodecOptions.Get("b:v"), nullptr);
  EXPECT_EQ(*Options.CodecOptions.Get("b:v"), "1957k");
  EXPECT_EQ(*Options.CodecOptions.Get("b:a"), "128k");
}

TEST_F(OptionParsing, CatchAllReachesCodecFormatAndScalerOptions) {
  Parser.ParseOptions("-vstrict unofficial -strict experimental -threads 0 -input_type canvas "
                      "-packetsize 2324 -sws_flags bilinear");
  EXPECT_EQ(*Options.CodecOptions.Get("vstrict"), "unofficial");
  EXPECT_EQ(*Options.CodecOptions.Get("strict"), "experimental");
  EXPECT_EQ(*Options.CodecOptions.Get("threads"), "0");
  EXPECT_EQ(*Options.FormatOptions.Get("input_type"), "canvas");
  EXPECT_EQ(*Options.FormatOptions.Get("packetsize"), "2324");
  EXPECT_EQ(*Options.ScalerOptions.Get("sws_flags"), "bilinear");
  EXPECT_EQ(Error("-sws_flags nonsense"), "Error setting option \"sws_flags\"\nFailed to set value \"nonsense\" for option \"sws_flags\"");
}

TEST_F(OptionParsing, SecondsAndMicrosecondsMeetInTheSameFields) {
  Parser.ParseOptions("-TimeStart 1.5 -TimeLength 2,25");
  EXPECT_EQ(Options.Group.StartTime, 1500000);
  EXPECT_EQ(Options.Group.RecordingTime, 2250000);
  Parser.ParseOptions("-ss 00:01:02.5 -t 12.5");
  EXPECT_EQ(Options.Group.StartTime, 62500000);
  EXPECT_EQ(Options.Group.RecordingTime, 12500000);
  Parser.ParseOptions("-t_microsecond 7");
  EXPECT_EQ(Options.Group.RecordingTime, 7);
}

TEST_F(OptionParsing, AliasesAndTypeCodecsLandInTheirGroups) {
  Parser.ParseOptions("-vcodec libx264 -acodec mp2 -vtag avc1 -absf aac_adtstoasc -vframes 10 -qscale 3 "
                      "-aq 4 -vsync cfr -y");
  EXPECT_EQ(Options.VideoCodecName, "libx264");
  EXPECT_EQ(Options.AudioCodecName, "mp2");
  ASSERT_EQ(Options.Group.CodecNames.size(), 2u);
  EXPECT_EQ(Options.Group.CodecNames[1].Specifier, "a");
  EXPECT_EQ(Options.Group.CodecTags[0].Specifier, "v");
  EXPECT_EQ(Options.Group.BitstreamFilters[0].Specifier, "a");
  EXPECT_EQ(Options.Group.MaxFrames[0].Value, 10);
  EXPECT_EQ(Options.Group.QScale[0].Specifier, "v");
  EXPECT_EQ(Options.Group.QScale[1].Specifier, "a");
  EXPECT_EQ(Options.VideoSyncMethod, 1);
  EXPECT_TRUE(Options.Overwrite);
}

TEST_F(OptionParsing, MapsSelectStreamsOfOpenedInputs) {
  OpenInputs();
  Parser.ParseOptions("-map 0:0 -map 1:a:1 -map 1,0:v");
  ASSERT_EQ(Options.Group.StreamMaps.size(), 4u);
  EXPECT_EQ(Options.Group.StreamMaps[1].FileIndex, 1);
  EXPECT_EQ(Options.Group.StreamMaps[1].StreamIndex, 1);
  EXPECT_EQ(Options.Group.StreamMaps[2].SyncFileIndex, 0);
  EXPECT_EQ(Options.Group.StreamMaps[3].SyncStreamIndex, 0);
  Parser.ParseOptions("-map -1:a:0");
  EXPECT_TRUE(Options.Group.StreamMaps[2].Disabled);
  EXPECT_FALSE(Options.Group.StreamMaps[3].Disabled);

  const std::pair<const char*, const char*> cases[] = {
      {"-map 2:0", "Invalid input file index: 2."},
      {"-map 0:s", "Stream map \"0:s\" matches no streams."},
      {"-map 0:0,5", "Invalid sync file index: 5."},
      {"-map 0:0,1:v", "Sync stream specification in map 0:0,1:v does not match any streams."},
      {"-map_channel 0.1.2", "mapchan: invalid audio channel #0.1.2"},
      {"-map_channel 0.0.0", "mapchan: stream #0.0 is not an audio stream."},
      {"-map_channel x", "Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]"},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(Error(text), error) << text;
  Parser.ParseOptions("-map_channel 1.1.5");
  EXPECT_EQ(Options.Group.AudioChannelMaps.back().ChannelIndex, 5);
}

TEST_F(OptionParsing, DvTargetsSetTheNormsValues) {
  Parser.ParseOptions("-target pal-dv -c:v dvvideo -r 25");
  EXPECT_EQ(Options.Group.Format, "dv");
  EXPECT_EQ(Options.Group.FrameSizes.back().Value, "720x576");
  EXPECT_EQ(Options.Group.FramePixFmts.back().Value, "yuv420p");
  EXPECT_EQ(Options.Group.AudioSampleRates.back().Value, 48000);
  EXPECT_EQ(Options.Group.AudioChannels.back().Value, 2);

  Options.ResetGroup();
  Parser.ParseOptions("-target ntsc-dv50");
  EXPECT_EQ(Options.Group.FrameSizes.back().Value, "720x480");
  EXPECT_EQ(Options.Group.FramePixFmts.back().Value, "yuv422p");
  EXPECT_EQ(Options.Group.FrameRates.back().Value, "30000/1001");

  Options.ResetGroup();
  const std::string error = Error("-target dv");
  EXPECT_EQ(error.rfind("Could not determine norm (PAL/NTSC/NTSC-Film) for target.", 0), 0u) << error;
  OpenInputs();  // a 25 fps input makes it PAL
  Parser.ParseOptions("-target dv");
  EXPECT_EQ(Options.Group.FramePixFmts.back().Value, "yuv420p");
}

TEST_F(OptionParsing, PresetsSetCodecsAndObjectOptions) {
  Parser.ParsePresets("vcodec=libx264<CRLF>preset=veryfast\r\n# comment\n\n  coder = 1 ");
  ASSERT_EQ(Options.Group.CodecNames.size(), 1u);
  EXPECT_EQ(Options.Group.CodecNames[0].Specifier, "v");
  EXPECT_EQ(Options.Group.CodecNames[0].Value, "libx264");
  EXPECT_EQ(*Options.CodecOptions.Get("preset"), "veryfast");
  EXPECT_EQ(*Options.CodecOptions.Get("coder"), "1");

  EXPECT_THROW(Parser.ParsePresets("vcodec=libx264<CRLF>novalue"), FFmpegException);
  EXPECT_EQ(LastOptionError(), "Invalid syntax: \"novalue\"");
  EXPECT_THROW(Parser.ParsePresets("nosuch=1"), FFmpegException);
  EXPECT_EQ(LastOptionError(),
            "Unrecognized option \"nosuch\"\nInvalid option or argument: \"nosuch=1\", parsed as \"nosuch\" = \"1\"");
}

// Conversions of a batch parse their options at once, on threads of their own: a parse on one
// thread neither clears nor adds to the error another has just made.
TEST_F(OptionParsing, ErrorsStayWithTheThreadThatMadeThem) {
  EXPECT_THROW(Parser.ParseOptions("-nosuch 1"), FFmpegException);
  const std::string mine = LastOptionError();
  ASSERT_FALSE(mine.empty());
  std::string theirs;
  std::thread other([&] {
    TTaskOptions options;
    TOptionParser parser(options);
    parser.ParseOptions("-t 2");
    try {
      parser.ParseOptions("-othernosuch 1");
    } catch (const FFmpegException&) {
    }
    theirs = LastOptionError();
  });
  other.join();
  EXPECT_EQ(LastOptionError(), mine);
  EXPECT_NE(theirs, mine);
  EXPECT_NE(theirs.find("othernosuch"), std::string::npos);
}

TEST_F(OptionParsing, PresetFilesNameThemselvesInErrors) {
  TTempFolder folder;
  const std::string good = folder.Path + "/good.ffpreset", bad = folder.Path + "/bad.ffpreset";
  std::ofstream(good) << "acodec=mp2\ntrellis=1\n";
  std::ofstream(bad) << "g=12\nbroken\ntrellis=2\n";
  Parser.ParseOptions(("-fpre " + good).c_str());
  EXPECT_EQ(Options.Group.CodecNames.back().Value, "mp2");
  EXPECT_EQ(*Options.CodecOptions.Get("trellis"), "1");
  EXPECT_EQ(Error(("-vpre " + bad).c_str()), bad + ": Invalid syntax: \"broken\"");
  EXPECT_EQ(*Options.CodecOptions.Get("trellis"), "1");  // the first failure ends the file
  EXPECT_EQ(Error(("-apre " + folder.Path + "/none").c_str()),
            "Preset file \"" + folder.Path + "/none\" not found\nFailed to set value \"" + folder.Path +
                "/none\" for option \"apre\"");
}

TEST_F(OptionParsing, HostileTextsFailCleanly) {
  OpenInputs();
  const char* const texts[] = {
      "\"", "-", "--", "-:", "-c:", "-\"\" x", "-map", "-map -", "-map 0:", "-map ,", "-map 99999999999",
      "-map_channel -1:9", "-map_channel 0.1.-1", "-streamid 99999:1", "-streamid 1:-1", "-TimeStart 1e300",
      "-timestamp 99999-01-01", "-fpre /dev/zero", "-vhook \"\"", "-vhook /nonexistent.so", "-target",
      "-aspect 4:0", "-aspect -1", "-qscale:q 1", "-vsync 1.5", "-pass 9", "-max_alloc -5", "-nono",
      "-frames:v 99999999999999999999", "-r:v:1:2:3 5",
  };
  for (const char* text : texts) {
    TTaskOptions options;
    options.Inputs = Options.Inputs;
    TOptionParser parser(options);
    try {
      parser.ParseOptions(text);
    } catch (const FFmpegException&) {
    }
  }
  const std::string many = "-an " + std::string(100000, 'x');
  EXPECT_THROW(Parser.ParseOptions(many.c_str()), FFmpegException);
}

TEST_F(OptionParsing, WithoutRaiseModeStrayWordsAreSkipped) {
  TTaskOptions options;
  TOptionParser lenient(options, false);
  EXPECT_EQ(lenient.ParseOptions("stray -an"), 0);
  EXPECT_TRUE(options.Group.AudioDisable);
  EXPECT_LT(lenient.ParseOptions("-nosuch 1"), 0);
}

TEST_F(OptionParsing, VideoHookModulesAreConfiguredAndRun) {
  Parser.ParseOptions((std::string("-vhook \"") + QM_TEST_VHOOK_PATH + " 42\"").c_str());
  ASSERT_TRUE(Options.VideoHooks && Options.VideoHooks->Count() == 1);
  uint8_t pixel = 0;
  TVideoHookPicture picture{};
  picture.data[0] = &pixel;
  Options.VideoHooks->Process(&picture, 0, 1, 1, 0);
  EXPECT_EQ(pixel, 42);
  EXPECT_EQ(SplitHookArgument("a.so|x y|z"), (std::vector<std::string>{"a.so", "x y", "z"}));
  EXPECT_EQ(Error((std::string("-vhook \"") + QM_TEST_VHOOK_PATH + " fail\"").c_str()),
            std::string("Failed to add video hook function: ") + QM_TEST_VHOOK_PATH + " fail");
}

// Every option string the program builds: capture input and output, the looped sound, and the
// conversion runs of the profiles.
TEST_F(OptionParsing, EveryStringTheProgramBuildsParses) {
  const char* const strings[] = {
      "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 24 -s 640x464",
      "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 12,5 -s 550x400",
      " -c:v mpeg4 -s 640x464 -b:v 20000k",
      " -c:v mpeg4 -b:v 20000k -vf \"crop=320:240:10:20\"",
      "-c:a copy -b:a 128k -ar 44100 -sn",
      " -c:a libmp3lame  -b:a 128k  -ar 44100 -ac 2 -c:v mpeg4 -tag:v Xvid -vstrict unofficial -r 24  -b 1957k"
      " -vf \"pad=640:480:0:8,scale=640:480\" -sn -t 12.5 -map 0:0 -map 1:0",
      " -c:a libmp3lame  -b:a 128k  -ar 44100 -ac 2 -c:v mpeg4 -tag:v DIVX -vstrict unofficial -r 25  -b 1957k"
      " -vf \"movie=/tmp/wm 1.png [watermark1]; [in] pad=640:480:0:8,scale=640:480, [watermark1] overlay=10:20 [out]\""
      " -sn -t 4 -map 0:0 -map 1:0",
      " -c:a aac -strict experimental  -b:a 128k  -ar 44100 -ac 2 -vprofile baseline -preset ultrafast -threads 0"
      "  -c:v libx264 -r 30  -b 2348k -sn -t 3.04 -map 0:0 -map 1:0",
      " -c:a libvorbis  -b:a 128k  -ar 44100 -ac 2 -f webm  -c:v libvpx -r 30  -b 1000k -sn -t 1 -map 0:0 -map 1:0",
      " -c:a aac -strict experimental  -b:a 128k  -ar 24000 -ac 2 -f psp  -c:v mpeg4 -r 29.97  -b 768k -sn",
      " -c:a pcm_s16le  -b:a 1536k  -ar 48000 -ac 2 -target pal-dv  -c:v dvvideo -r 25  -b 1929k -sn",
      " -c:a ac3  -b:a 192k  -ar 48000 -ac 2 -target ntsc-dv  -c:v dvvideo -r 20  -b 1929k -sn",
      " -c:a wmav2  -b:a 128k  -ar 44100 -ac 2  -c:v wmv2 -r 25  -b 1957k -sn -map 0:0 -map 1:0",
      " -c:a mp2  -b:a 192k  -ar 44100 -ac 2  -c:v mpeg1video -r 20  -b 1150k -sn",
      " -c:a libmp3lame  -b:a 64k  -ar 22050 -ac 1  -c:v flv -r 12  -b 500k -sn",
      " -c:a libopencore_amrnb  -b:a 12k  -ar 8000 -ac 1  -c:v h263 -r 15  -b 200k -s 176x144 -sn",
      " -c:a flac  -b:a 128k  -ar 44100 -ac 2 -sn",
      " -c:a libmp3lame  -b:a 128k  -ar 44100 -ac 2  -c:v mjpeg -r 25  -b 3000k -sn -t 2 -map 0:0 -map 1:0",
  };
  for (const char* text : strings) {
    TTaskOptions options;
    options.Inputs.push_back({{0, 'v', {}, 25.0, 0}});
    options.Inputs.push_back({{0, 'a', {}, 0, 2}});
    TOptionParser parser(options);
    EXPECT_NO_THROW(parser.ParseOptions(text)) << text << "\n" << LastOptionError();
  }
}

TEST(ErrorText, GivesFFmpegAndSystemTexts) {
  const std::pair<int, const char*> cases[] = {
      {AVERROR_EOF, "End of file"},
      {AVERROR_OPTION_NOT_FOUND, "Option not found"},
      {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg, patches welcome"},
      {AVERROR_BUG, "Internal bug"},
      {-2, "No such file or directory"},
      {-5, "I/O error"},
      {-12, "Not enough space / Out of memory"},
      {-22, "Invalid argument / Invalid data found when processing input"},
      {-28, "No space left on device"},
      {-131, "State not recoverable"},
      {-132, "Error number -132 occurred"},
      {7, "Error number 7 occurred"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(ErrorText("open", code), std::string("open: ") + text) << code;
}

}  // namespace
}  // namespace qm::engine

namespace qm::engine {
namespace {

TEST(CodecOptions, ApplyToTheStreamsTheyName) {
  testing::LoadSystemLibraries();
  TTaskOptions options;
  TOptionParser parser(options);
  parser.ParseOptions("-b 1957k -b:a 128k -vstrict unofficial -strict experimental -vprofile baseline "
                      "-preset ultrafast -threads 0");
  const TStreamList streams = {{0, 'v', {}, 25, 0}, {1, 'a', {}, 0, 2}};
  const AVCodec* x264 = FF.avcodec_find_encoder_by_name("libx264");
  const AVCodec* mp2 = FF.avcodec_find_encoder_by_name("mp2");
  ASSERT_TRUE(x264 && mp2);

  const TOptionDictionary video = CodecOptionsForStream(options.CodecOptions, streams, 0, x264, true);
  EXPECT_EQ(*video.Get("b"), "1957k");
  EXPECT_EQ(*video.Get("strict"), "experimental");  // the later, untyped value replaces vstrict's
  EXPECT_EQ(*video.Get("profile"), "baseline");
  EXPECT_EQ(*video.Get("preset"), "ultrafast");
  EXPECT_EQ(*video.Get("threads"), "0");

  const TOptionDictionary audio = CodecOptionsForStream(options.CodecOptions, streams, 1, mp2, true);
  EXPECT_EQ(*audio.Get("b"), "128k");
  EXPECT_EQ(audio.Get("profile"), nullptr);
  EXPECT_EQ(audio.Get("preset"), nullptr);  // libx264's own option means nothing to mp2
}

}  // namespace
}  // namespace qm::engine

namespace qm::engine {
namespace {

TEST(DescribeStreams, GivesTypesRatesChannelsAndPrograms) {
  testing::LoadSystemLibraries();
  AVFormatContext* ctx = FF.avformat_alloc_context();
  ASSERT_NE(ctx, nullptr);
  AVStream* video = FF.avformat_new_stream(ctx, nullptr);
  video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  video->avg_frame_rate = AVRational{30000, 1001};
  AVStream* audio = FF.avformat_new_stream(ctx, nullptr);
  audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  FF.av_channel_layout_default(&audio->codecpar->ch_layout, 6);
  AVProgram* program = FF.av_new_program(ctx, 9);
  ASSERT_NE(program, nullptr);
  program->stream_index = static_cast<unsigned*>(FF.av_malloc(sizeof(unsigned)));
  program->stream_index[0] = 1;
  program->nb_stream_indexes = 1;

  const TStreamList streams = DescribeStreams(ctx);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].Type, 'v');
  EXPECT_NEAR(streams[0].FrameRate, 29.97, 0.001);
  EXPECT_EQ(streams[1].Type, 'a');
  EXPECT_EQ(streams[1].Channels, 6);
  EXPECT_EQ(CheckStreamSpecifier(streams, 1, "p:9:0"), 1);
  EXPECT_EQ(CheckStreamSpecifier(streams, 0, "p:9"), 0);
  FF.avformat_free_context(ctx);
}

}  // namespace
}  // namespace qm::engine
