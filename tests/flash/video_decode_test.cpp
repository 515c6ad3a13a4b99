// Embedded video: packets made at test time by the ffmpeg program (an .flv
// whose tags are taken apart), put into written movies, decoded through the
// engine's FFmpeg table and drawn.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "flash/player.h"
#include "flash/render/render.h"
#include "flash/video/video.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::flash {
namespace {

namespace w = qm::swfwriter;
namespace fs = std::filesystem;

struct FlvPacket {
    bool key = false;  // as the container marks it
    std::vector<uint8_t> data;
};

// The video packets of an .flv file.
std::vector<FlvPacket> ReadFlv(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), {});
    std::vector<FlvPacket> out;
    if (f.size() < 13) return out;
    size_t pos = size_t(f[5]) << 24 | size_t(f[6]) << 16 | size_t(f[7]) << 8 | f[8];
    pos += 4;
    while (pos + 11 <= f.size()) {
        uint8_t type = f[pos];
        size_t size = size_t(f[pos + 1]) << 16 | size_t(f[pos + 2]) << 8 | f[pos + 3];
        size_t body = pos + 11;
        if (body + size > f.size()) break;
        if (type == 9 && size > 1)
            out.push_back({(f[body] >> 4) == 1, std::vector<uint8_t>(f.begin() + body + 1, f.begin() + body + size)});
        pos = body + size + 4;
    }
    return out;
}

// Nine frames of 64x48: three red, three green, three blue; one key frame
// at the start. Empty when the ffmpeg program is missing.
std::vector<FlvPacket> Encode(const std::string& encoder) {
    fs::path dir = fs::temp_directory_path() / ("qm_video_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path out = dir / (encoder + ".flv");
    std::string command =
        "ffmpeg -v error -y -filter_complex \"color=red:s=64x48:r=10:d=0.3[a];color=lime:s=64x48:r=10:d=0.3[b];"
        "color=blue:s=64x48:r=10:d=0.3[c];[a][b][c]concat=n=3\" -c:v " +
        encoder + " -g 100 -f flv '" + out.string() + "' 2>/dev/null";
    std::vector<FlvPacket> packets;
    if (std::system(command.c_str()) == 0) packets = ReadFlv(out);
    fs::remove_all(dir);
    return packets;
}

struct Codec {
    const char* encoder;
    uint8_t id;
};
const Codec kCodecs[] = {{"flv", 2}, {"flashsv", 3}, {"flashsv2", 6}};

// Red, green or blue, by the strongest channel of a pixel.
char Hue(uint32_t p) {
    int r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
    if (r > 180 && g < 80 && b < 80) return 'r';
    if (g > 180 && r < 80 && b < 80) return 'g';
    if (b > 180 && r < 80 && g < 80) return 'b';
    return '?';
}

swf::VideoStream Stream(uint8_t codec) {
    swf::VideoStream s;
    s.id = 1;
    s.width = 64;
    s.height = 48;
    s.codec = codec;
    return s;
}

TEST(Video, KeyFramesAreFoundInThePacketsThemselves) {
    for (const Codec& c : kCodecs) {
        SCOPED_TRACE(c.encoder);
        std::vector<FlvPacket> packets = Encode(c.encoder);
        if (packets.empty()) {
            GTEST_SKIP() << "the ffmpeg program cannot make " << c.encoder;
        }
        ASSERT_EQ(packets.size(), 9u);
        for (size_t i = 0; i < packets.size(); ++i) {
            bool key = video::IsKeyFrame(c.id, packets[i].data);
            // Screen video frames that change every block stand alone too.
            if (c.id == 2 || packets[i].key) {
                EXPECT_EQ(key, packets[i].key) << "packet " << i;
            }
        }
        EXPECT_FALSE(video::IsKeyFrame(c.id, {}));
    }
}

TEST(Video, PlaybackShowsEveryFrameAndSeeksFromTheLastKeyFrame) {
    for (const Codec& c : kCodecs) {
        SCOPED_TRACE(c.encoder);
        std::vector<FlvPacket> packets = Encode(c.encoder);
        if (packets.empty()) {
            GTEST_SKIP() << "the ffmpeg program cannot make " << c.encoder;
        }
        std::vector<swf::VideoFrame> tags(packets.size());
        video::VideoPlayback::Frames frames;
        for (size_t i = 0; i < packets.size(); ++i) {
            tags[i].frame_num = uint16_t(i);
            tags[i].data = packets[i].data;
            // Frame 5 is missing: its number shows frame 4.
            if (i != 5) frames[uint16_t(i)] = &tags[i];
        }
        video::VideoPlayback playback(Stream(c.id), &frames);
        // Forwards, backwards past a key frame, forwards by a jump, and again.
        const std::pair<uint16_t, char> steps[] = {{0, 'r'}, {1, 'r'}, {4, 'g'}, {8, 'b'}, {2, 'r'},
                                                   {5, 'g'}, {7, 'b'}, {7, 'b'}, {30, 'b'}, {0, 'r'}};
        for (auto [frame, hue] : steps) {
            const render::DecodedBitmap* p = playback.PictureAt(frame);
            ASSERT_NE(p, nullptr) << "frame " << frame << ": " << playback.Error();
            ASSERT_EQ(p->width, 64);
            ASSERT_EQ(p->height, 48);
            EXPECT_EQ(Hue(p->pixels[24 * 64 + 32]), hue) << "frame " << frame;
            EXPECT_EQ(p->pixels[0] >> 24, 255u);
        }
    }
}

TEST(Video, DamagedPacketsAndUnknownCodecsShowNothing) {
    std::mt19937 rng(7);
    for (uint8_t codec : {2, 3, 4, 5, 6, 9}) {
        SCOPED_TRACE(int(codec));
        std::vector<swf::VideoFrame> tags(4);
        video::VideoPlayback::Frames frames;
        for (size_t i = 0; i < tags.size(); ++i) {
            tags[i].frame_num = uint16_t(i);
            tags[i].data.resize(i * 37);
            for (auto& b : tags[i].data) b = uint8_t(rng());
            frames[uint16_t(i)] = &tags[i];
        }
        // Screen video headers that promise more blocks than there are bytes.
        if (codec == 3 || codec == 6) tags[3].data = {0xF0, 0x40, 0xF0, 0x30, 0xFF, 0xFF};
        video::VideoPlayback playback(Stream(codec), &frames);
        for (uint16_t f : {3, 0, 2}) playback.PictureAt(f);
        if (codec == 9) {
            EXPECT_EQ(playback.PictureAt(0), nullptr);
            EXPECT_FALSE(playback.Error().empty());
        }
        video::VideoPlayback empty(Stream(codec), nullptr);
        EXPECT_EQ(empty.PictureAt(0), nullptr);
    }
}

TEST(Video, ColoursConvertFromVideoRange) {
    struct Case {
        int y, u, v;
        render::Rgba rgb;
    };
    const Case cases[] = {
        {16, 128, 128, {0, 0, 0, 255}},     {235, 128, 128, {255, 255, 255, 255}},
        {126, 128, 128, {128, 128, 128, 255}}, {0, 128, 128, {0, 0, 0, 255}},
        {81, 90, 240, {255, 0, 0, 255}},    {145, 54, 34, {0, 255, 0, 255}},
        {41, 240, 110, {0, 0, 255, 255}},
    };
    for (const Case& c : cases) {
        render::Rgba got = video::YuvToRgb(c.y, c.u, c.v);
        EXPECT_NEAR(got.r, c.rgb.r, 1) << c.y << "," << c.u << "," << c.v;
        EXPECT_NEAR(got.g, c.rgb.g, 1) << c.y << "," << c.u << "," << c.v;
        EXPECT_NEAR(got.b, c.rgb.b, 1) << c.y << "," << c.u << "," << c.v;
    }
}

// A movie that shows frame k of the stream on its frame k, scaled twice.
w::Movie VideoMovie(const std::vector<FlvPacket>& packets, bool smoothing) {
    w::Movie m({.version = 8, .frame = w::Rect::pixels(200, 100)});
    m.setBackgroundColor({255, 255, 255});
    uint16_t id = m.defineVideoStream(uint16_t(packets.size()), 64, 48, 2, smoothing);
    for (size_t i = 0; i < packets.size(); ++i) {
        m.videoFrame(id, uint16_t(i), packets[i].data);
        if (i == 0)
            m.place({.depth = 1, .character = id, .matrix = w::Matrix::scale(2, 2, 200, 100), .ratio = 0});
        else
            m.place({.depth = 1, .move = true, .ratio = uint16_t(i)});
        m.showFrame();
    }
    return m;
}

uint32_t StagePixel(Player& player, int x, int y) {
    std::vector<uint32_t> pixels(200 * 100);
    Renderer renderer(player.Characters(), player.Version());
    renderer.Render(player.Stage(), player.StageRect(), player.BackgroundColor(),
                    {reinterpret_cast<uint8_t*>(pixels.data()), 200, 100, 200 * 4});
    return pixels[size_t(y) * 200 + x];
}

TEST(Video, TheTimelineChoosesTheFrameByRatioAndSurvivesGotos) {
    std::vector<FlvPacket> packets = Encode("flv");
    if (packets.empty()) {
        GTEST_SKIP() << "the ffmpeg program cannot make flv";
    }
    LoadResult r = Player::LoadBytes(VideoMovie(packets, false).bytes());
    ASSERT_TRUE(r.player) << r.error;
    Player& p = *r.player;
    p.Stop();
    p.Advance();
    // The video covers (10,5)..(138,101) pixels; outside it the stage shows.
    EXPECT_EQ(Hue(StagePixel(p, 70, 50)), 'r');
    EXPECT_EQ(StagePixel(p, 150, 50) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(StagePixel(p, 8, 50) & 0xFFFFFF, 0xFFFFFFu);
    const std::pair<uint32_t, char> gotos[] = {{7, 'b'}, {1, 'r'}, {4, 'g'}, {3, 'g'}, {0, 'r'}, {8, 'b'}};
    for (auto [frame, hue] : gotos) {
        p.GotoFrame(frame);
        EXPECT_EQ(Hue(StagePixel(p, 70, 50)), hue) << "frame " << frame;
    }
}

}  // namespace
}  // namespace qm::flash
