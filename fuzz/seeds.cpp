// Writes the seed inputs of every fuzzer into OUT/<fuzzer>/: movies made by the project's own
// movie writer, action lists assembled by it, and small option, INI and catalogue texts.
//   qm_fuzz_seeds OUT
#include <lzma.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/avm1_input.h"
#include "testing/swfwriter/swfwriter.h"

namespace fs = std::filesystem;
namespace w = qm::swfwriter;

namespace {

fs::path Out;

void Write(const std::string& fuzzer, const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::create_directories(Out / fuzzer);
    std::ofstream(Out / fuzzer / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteText(const std::string& fuzzer, const std::string& name, const std::string& text) {
    Write(fuzzer, name, std::vector<uint8_t>(text.begin(), text.end()));
}

void WriteMovie(const std::string& name, w::Movie& movie) {
    const w::Bytes bytes = movie.bytes();
    Write("fuzz_movie_parser", name, bytes);
    Write("fuzz_header_reader", name, bytes);
}

// The movie as a "ZWS" file: UI32 packed size, the 5 property bytes, the raw LZMA data.
w::Bytes LzmaMovie(const w::Bytes& fws) {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&z, &options) != LZMA_OK) return {};
    w::Bytes out(fws.size() + 1024);
    z.next_in = fws.data() + 8;
    z.avail_in = fws.size() - 8;
    z.next_out = out.data();
    z.avail_out = out.size();
    const lzma_ret rc = lzma_code(&z, LZMA_FINISH);
    lzma_end(&z);
    if (rc != LZMA_STREAM_END) return {};
    out.resize(out.size() - z.avail_out);
    w::Bytes zws(fws.begin(), fws.begin() + 8);
    zws[0] = 'Z';
    const uint32_t packed = uint32_t(out.size() - 13);
    for (int i = 0; i < 4; ++i) zws.push_back(uint8_t(packed >> (8 * i)));
    zws.insert(zws.end(), out.begin(), out.begin() + 5);
    zws.insert(zws.end(), out.begin() + 13, out.end());
    return zws;
}

w::Font SquareFont() {
    w::Font font{.name = "Squares", .ascent = 800, .descent = 200};
    for (uint16_t code : {uint16_t('A'), uint16_t('B')}) {
        w::Glyph g{.code = code, .advance = 600};
        g.outline.moveTo(0, 0).lineTo(500, 0).lineTo(500, -700).lineTo(0, -700).lineTo(0, 0);
        font.glyphs.push_back(g);
    }
    return font;
}

void Movies() {
    {
        w::Movie movie({.version = 6, .frame = w::Rect::pixels(100, 80)});
        movie.setBackgroundColor({255, 255, 255});
        w::Shape box;
        box.fill0(box.addFill(w::FillStyle::solid({200, 30, 30}))).rect(0, 0, 400, 300);
        const uint16_t id = movie.defineShape(box, 1);
        movie.place({.depth = 1, .character = id, .matrix = w::Matrix::translate(100, 100)});
        movie.showFrame();
        movie.place({.depth = 1, .move = true, .matrix = w::Matrix::rotate(0.5, 1.5, 1, 200, 200)});
        movie.showFrame();
        movie.removeObject2(1);
        movie.showFrame();
        WriteMovie("shape.swf", movie);
        movie.header.signature = "CWS";
        WriteMovie("shape-zlib.swf", movie);
        movie.header.signature = "FWS";
        const w::Bytes lzma = LzmaMovie(movie.bytes());
        Write("fuzz_movie_parser", "shape-lzma.swf", lzma);
        Write("fuzz_header_reader", "shape-lzma.swf", lzma);
    }
    {
        w::Movie movie({.version = 8, .frame = w::Rect::pixels(120, 90)});
        w::Shape s;
        const uint32_t grad = s.addFill(w::FillStyle::linear(w::Matrix::gradientBox(0, 0, 800, 800),
                                                             {{0, {255, 0, 0}}, {255, {0, 0, 255, 128}}}));
        const uint32_t focal = s.addFill(w::FillStyle::focal(w::Matrix::gradientBox(0, 0, 800, 800),
                                                             {{0, {0, 255, 0}}, {200, {0, 0, 0}}}, -0.5));
        const uint32_t line = s.addLine({.width = 60, .color = {0, 0, 0}, .startCap = 1, .join = 2, .miterLimit = 4});
        s.fill0(grad).line(line).rect(0, 0, 800, 800);
        s.fill0(focal).ellipse(1200, 400, 300, 200).curveTo(1500, 900, 1000, 1000);
        const uint16_t shape = movie.defineShape(s, 4);
        w::MorphShape m;
        m.fills.push_back(w::MorphFillStyle::solid({255, 0, 0}, {0, 0, 255}));
        m.lines.push_back({.startWidth = 20, .endWidth = 80, .startColor = {0, 0, 0}, .endColor = {0, 255, 0}});
        m.start.fill0(1).line(1).moveTo(0, 0).lineTo(400, 0).lineTo(400, 400).lineTo(0, 0);
        m.end.moveTo(100, 100).lineTo(600, 100).curveTo(600, 300, 600, 600).lineTo(100, 100);
        const uint16_t morph = movie.defineMorphShape(m, 2);
        movie.place({.depth = 1, .character = shape, .filters = {w::Filter::blur(4, 4, 2),
                                                                 w::Filter::dropShadow({0, 0, 0, 128}, 3, 3, 0.7, 4)}});
        movie.place({.depth = 2, .character = morph, .ratio = 20000, .blendMode = 3});
        movie.showFrame();
        movie.place({.depth = 2, .move = true, .ratio = 65535,
                     .filters = {w::Filter::glow({255, 255, 0}, 6, 6),
                                 w::Filter::colorMatrix({1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0}),
                                 w::Filter::convolution(3, 3, 1, 0, {0, 1, 0, 1, -4, 1, 0, 1, 0}, {0, 0, 0})}});
        movie.showFrame();
        WriteMovie("gradients-morph-filters.swf", movie);
    }
    {
        w::Movie movie({.version = 7, .frame = w::Rect::pixels(160, 60)});
        const w::Font font = SquareFont();
        const uint16_t fontId = movie.defineFont2(font);
        w::Text text{.bounds = {0, 3000, 0, 600}};
        text.records.push_back(w::layoutText(font, fontId, "ABBA", 400, {0, 0, 0}, 0, 400));
        const uint16_t textId = movie.defineText(text);
        const uint16_t edit = movie.defineEditText({.bounds = {0, 3000, 0, 500}, .text = "AB", .wordWrap = true,
                                                    .multiline = true, .border = true, .html = true,
                                                    .useOutlines = true, .font = fontId, .color = w::Color{0, 0, 255},
                                                    .variable = "shown"});
        const uint16_t font3 = movie.defineFont3(font);
        movie.defineFontInfo(fontId, font);
        movie.place({.depth = 1, .character = textId});
        movie.place({.depth = 2, .character = edit, .matrix = w::Matrix::translate(0, 600)});
        movie.exportAssets({{font3, "squares"}});
        movie.showFrame();
        WriteMovie("text.swf", movie);
    }
    {
        w::Movie movie({.version = 8, .frame = w::Rect::pixels(64, 64)});
        std::vector<w::Color> pixels;
        for (int i = 0; i < 16; ++i) pixels.push_back({uint8_t(i * 16), 80, uint8_t(255 - i * 16), 200});
        const uint16_t bitmap = movie.defineBitmapRGBA(4, 4, pixels);
        const uint16_t mapped = movie.defineBitsLossless(3, 2, 2, {0, 0, 0, 255, 255, 255, 0, 1, 0, 0, 1, 0, 0, 0}, 2);
        w::Shape s;
        s.fill0(s.addFill(w::FillStyle::bitmap(bitmap, w::Matrix::scale(20, 20)))).rect(0, 0, 800, 800);
        s.fill0(s.addFill(w::FillStyle::bitmap(mapped, w::Matrix::scale(40, 40), false, false))).rect(0, 800, 400, 400);
        const uint16_t shape = movie.defineShape(s);
        w::Sprite clip = movie.sprite();
        clip.place({.depth = 1, .character = shape});
        clip.showFrame();
        clip.place({.depth = 1, .move = true, .cxform = w::CXForm{.redMult = 128, .alphaAdd = -20}});
        clip.showFrame();
        const uint16_t clipId = movie.defineSprite(clip);
        const uint16_t button = movie.defineButton2(
            {{.character = shape, .depth = 1}},
            {{.conditions = w::kCondOverDownToOverUp, .actions = w::Actions().push({"pressed"}).trace()}});
        const uint16_t sound = movie.defineSound({.format = 3, .rate = 1, .sixteenBit = true},
                                                 200, w::sinePCM16(440, 200 / 11025.0, 11025));
        movie.defineButtonSound(button, {0, sound, 0, 0});
        movie.place({.depth = 1, .character = clipId, .name = "pic", .clipDepth = 3});
        movie.place({.depth = 2, .character = button, .matrix = w::Matrix::translate(200, 200)});
        movie.startSound(sound, {.loops = 2, .envelope = {{0, 32768, 0}, {10000, 0, 32768}}});
        movie.soundStreamHead({.format = 1, .rate = 1, .sixteenBit = true}, 100);
        std::vector<int16_t> tone(100);
        for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t((i % 20) * 1000 - 10000);
        movie.soundStreamBlock(w::encodeADPCM(tone));
        movie.showFrame();
        WriteMovie("bitmaps-button-sound.swf", movie);
    }
    {
        // Scripts in every place a movie keeps them.
        w::Movie movie({.version = 6, .frame = w::Rect::pixels(50, 50)});
        w::Sprite clip = movie.sprite();
        clip.doAction(w::Actions().push({"in clip"}).trace());
        clip.showFrame();
        const uint16_t clipId = movie.defineSprite(clip);
        movie.doInitAction(clipId, w::Actions().push({"init"}).trace());
        movie.place({.depth = 1, .character = clipId, .name = "c",
                     .clipActions = {{.events = w::kClipEnterFrame | w::kClipKeyPress, .keyCode = 13,
                                      .actions = w::Actions().push({"enter"}).trace()}}});
        movie.frameLabel("start");
        movie.doAction(w::Actions().push({1, 2}).add2().trace().gotoLabel("start").getUrl("page.html", "_self"));
        movie.showFrame();
        WriteMovie("scripts.swf", movie);
    }
    {
        // Forged damage: a cut file, a lying length, an unknown tag in the long form.
        w::Movie movie({.version = 5, .frame = w::Rect::pixels(40, 40), .fileLength = 4000});
        movie.rawTag(777, {1, 2, 3, 4, 5, 6}, true);
        movie.rawTag(26, {0x06, 0x01});
        movie.showFrame();
        w::Bytes bytes = movie.bytes();
        Write("fuzz_movie_parser", "forged.swf", bytes);
        bytes.resize(bytes.size() - 5);
        Write("fuzz_movie_parser", "cut.swf", bytes);
        Write("fuzz_header_reader", "cut.swf", bytes);
    }
}

void ActionSeed(const std::string& name, uint8_t version, const std::vector<w::Actions>& lists) {
    std::vector<uint8_t> input{uint8_t(version - 4)};
    for (size_t i = 0; i < lists.size(); ++i) {
        if (i) input.insert(input.end(), qm::fuzz::kActionListSeparator.begin(), qm::fuzz::kActionListSeparator.end());
        const w::Bytes code = lists[i].bytes();
        input.insert(input.end(), code.begin(), code.end());
    }
    Write("fuzz_avm1", name, input);
}

void ActionLists() {
    using A = w::Actions;
    ActionSeed("arithmetic", 4, {A().push({"x", 3}).setVariable().push({"x"}).getVariable().push({4}).add()
                                     .push({2.5}).multiply().trace().push({"abc", 1, 2}).stringExtract().trace()
                                     .push({"r"}).push({10}).randomNumber().setVariable()});
    ActionSeed("functions", 6, {A().defineFunction("f", {"a", "b"}, A().push({"a"}).getVariable().push({"b"})
                                                                      .getVariable().add2().return_())
                                     .push({2, 3, 2, "f"}).callFunction().trace()
                                     .defineFunction2("g", 3, 0x02, {{1, "n"}}, A().push({w::Register{1}, 1})
                                                                                  .subtract().return_())
                                     .push({5, 1, "g"}).callFunction().trace()});
    ActionSeed("objects", 7, {A().push({"k", 1, 1}).initObject().push({"o"}).stackSwap().setVariable()
                                  .push({"o"}).getVariable().push({"k"}).getMember().trace()
                                  .push({3, 2, 1, 3}).initArray().push({"a"}).stackSwap().setVariable()
                                  .push({0, "a"}).getVariable().push({"join"}).callMethod().trace()
                                  .push({0, "Date"}).newObject().push({"getTime"}).callMethod().pop()
                                  .push({16, 1, "Math"}).getVariable().push({"sqrt"}).callMethod().trace()});
    ActionSeed("loop", 5, {A().push({"i", 0}).setVariable().label("top").push({"i"}).getVariable().push({10})
                               .less2().not_().if_("done").push({"i", "i"}).getVariable().increment().setVariable()
                               .jump("top").label("done").push({"i"}).getVariable().trace()});
    ActionSeed("try", 7, {A().try_(A().push({"boom"}).throw_(), A().push({"e"}).getVariable().trace(),
                                   A().push({"finally"}).trace(), std::string("e"))
                              .push({"_root"}).getVariable().with(A().push({"_x", 5}).setVariable())});
    ActionSeed("clips", 6,
               {A().push({"clip"}).setTarget2().stop().setTarget("").push({"clip", "copy", 5}).cloneSprite()
                    .push({"copy"}).getVariable().pop().push({"m", 7, 2, "_root"}).getVariable()
                    .push({"createEmptyMovieClip"}).callMethod().pop().gotoFrame(1).play(),
                A().push({"_root"}).getVariable().push({"_rotation"}).getMember().trace()
                    .push({"this"}).getVariable().push({"_alpha", 50}).setMember(),
                A().push({1, 1}).getProperty().trace().nextFrame()});
    ActionSeed("strings", 8, {A().constantPool({"hello", "length", "toUpperCase"})
                                   .push({w::Constant{0}}).push({w::Constant{1}}).getMember().trace()
                                   .push({0, w::Constant{0}, w::Constant{2}}).callMethod().trace()
                                   .push({"65"}).charToAscii().asciiToChar().trace()
                                   .push({"1e3", 1, "parseInt"}).callFunction().trace()});
    ActionSeed("intervals", 7, {A().defineFunction("tick", {}, A().push({"tick"}).trace())
                                    .push({100, "tick"}).getVariable().push({2, "setInterval"}).callFunction()
                                    .pop().push({"onEnterFrame"}).getVariable().pop()});
}

void OptionTexts() {
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"video", "-vcodec mpeg4 -b:v 1000k -s 640x480 -r 25 -acodec mp2 -ar 44100 -ac 2 -b:a 128k"},
        {"quoted", "-metadata \"title=a \\\"quoted\\\" name\" -f mp4 -y -map 0:0 -aspect 16:9"},
        {"times", "-ss 00:00:01.500 -t 10 -TimeStart 2,5 -TimeLength 3 -vsync cfr -pass 1 -qscale:v 3"},
        {"target", "-target pal-dvd -streamid 0:33 -vf scale=320:240 -max_alloc 100000000 -loglevel error"},
    };
    for (const auto& [name, text] : texts) WriteText("fuzz_engine_options", name, '\x00' + text);
    WriteText("fuzz_engine_options", "presets", std::string("\x02") +
                                                    "vcodec=libx264<CRLF>b=1000k\r\ng = 250\n# note\nqmin=10\nsc_threshold=40");
}

void IniTexts() {
    WriteText("fuzz_ini_file", "settings", "[Options]\nA=1\nb = \"quoted\"\n\n[Main]\nLanguage=English\nFuzz=0x1F\n");
    WriteText("fuzz_ini_file", "odd", "\xEF\xBB\xBF; comment\r\n[ options ]\r\nfuzz\r\n=empty\r\n[main\r\nA='x'\r\n[]\r\nb=2");
}

void CatalogueTexts() {
    const std::string entry =
        "<FormatInfo ID=\"1004\" Skip=\"False\" FormatType=\"1\" Format=\".avi\" ICON=\"avi\" GroupID=\"1\" "
        "Enabled=\"True\"><Name>AVI</Name><description>Video &amp; sound</description>"
        "<VideoEncoderList>mpeg4,msmpeg4</VideoEncoderList><ResolutionList>320x240,640x480</ResolutionList>"
        "<FrameRateList>25,30</FrameRateList><VideoBitRateList>800,1200</VideoBitRateList>"
        "<AudioEncoderlist>mp3</AudioEncoderlist><SampleRateList>44100</SampleRateList>"
        "<ChannelList>1,2</ChannelList><AudioBitRateList>128</AudioBitRateList><EncParam><Interpolation>1"
        "</Interpolation><ResizeStyle>0</ResizeStyle><VideoEncoder>mpeg4</VideoEncoder><Resolution>640x480"
        "</Resolution><VideoBitrate>1200</VideoBitrate><FrameRate>25</FrameRate><AudioEncoder>mp3</AudioEncoder>"
        "<Channel>2</Channel><SampleRate>44100</SampleRate><AudioBitrate>128</AudioBitrate><Norm>0</Norm>"
        "</EncParam></FormatInfo>";
    WriteText("fuzz_catalogue_file", "formats",
              std::string(1, '\0') + "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<product>" + entry + "<FormatInfo ID=\"x\"/></product>");
    WriteText("fuzz_catalogue_file", "groups",
              "\x01<?xml version=\"1.0\"?><product><Group ForamtType=\"1\" order=\"2\" Name=\"Video\" ICO=\"v\"/>"
              "<Group ForamtType=\"2\" order=\"x\" Name=\"Audio\"/></product>");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    Out = argv[1];
    Movies();
    ActionLists();
    OptionTexts();
    IniTexts();
    CatalogueTexts();
    return 0;
}
