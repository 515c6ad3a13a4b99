// The renderer's bitmap limits on movies made by the movie writer: a bitmap beyond the
// largest size or damaged is left out with one log line, and decoded bitmaps stay within
// their budget while a long run of large pictures still draws every one of them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "flash/render/render.h"
#include "swf/limits.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::flash {
namespace {

namespace w = qm::swfwriter;

// The first frame's bitmaps, each placed at its own depth, without the timeline engine.
struct Scene {
    std::vector<uint8_t> file;
    swf::ParsedMovie movie;
    Dictionary dictionary;
    DisplayList root;

    explicit Scene(const w::Movie& m) : file(m.bytes()) {
        swf::ParseResult r = swf::ParseMovie(file);
        EXPECT_TRUE(r.movie.has_value());
        if (!r.movie) return;
        movie = std::move(*r.movie);
        for (const swf::Tag& tag : movie.tags) {
            if (std::holds_alternative<swf::ShowFrame>(tag.body)) break;
            dictionary.Add(tag.body);
            auto* packed = std::get_if<swf::PackedPlaceObject>(&tag.body);
            if (!packed) continue;
            const swf::PlaceObject unpacked = packed->Unpack();
            const swf::PlaceObject* place = &unpacked;
            if (!place || !place->character_id) continue;
            auto obj = std::make_unique<DisplayObject>();
            obj->depth = place->depth;
            obj->character = dictionary.Find(*place->character_id);
            if (place->matrix) obj->matrix = *place->matrix;
            if (obj->character) root.Put(std::move(obj));
        }
    }
};

struct Drawn {
    std::vector<uint32_t> pixels;
    int width;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

Drawn Draw(Renderer& renderer, const Scene& s, int width, int height) {
    Drawn d{std::vector<uint32_t>(size_t(width) * size_t(height)), width};
    RenderTarget t{reinterpret_cast<uint8_t*>(d.pixels.data()), width, height, width * 4};
    renderer.Render(s.root, s.movie.header.frame_size, {255, 255, 255, 255}, t);
    return d;
}

// A one-colour lossless bitmap of format 3: one colour table entry, every index 0.
uint16_t SolidBitmap(w::Movie& m, int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    const size_t row = (size_t(width) + 3) / 4 * 4;
    w::Bytes data(3 + row * size_t(height), 0);
    data[0] = r;
    data[1] = g;
    data[2] = b;
    return m.defineBitsLossless(3, uint16_t(width), uint16_t(height), data, 1);
}

struct LogLines {
    std::vector<std::string> lines;
    void Attach(Renderer& renderer) {
        renderer.SetLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    int Count(std::string_view part) const {
        int n = 0;
        for (const std::string& l : lines) n += l.find(part) != std::string::npos;
        return n;
    }
};

TEST(RenderBitmapLimits, RefusedBitmapsAreLeftOutWithOneLineEach) {
    struct Case {
        const char* what;
        int width, height;
        bool damaged;
        std::string line;
    } cases[] = {
        {"wider than a side may be", limits::kMaxBitmapSide + 1, 1, false,
         "bitmap 1 is not drawn: bitmap of 8192 x 1 pixels is beyond the player's limit of 8191 pixels a side and "
         "16777215 pixels"},
        {"more pixels than allowed", 4097, 4096, false,
         "bitmap 1 is not drawn: bitmap of 4097 x 4096 pixels is beyond the player's limit"},
        {"damaged data", 4, 4, true, "bitmap 1 is not drawn: bitmap data is damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w::Movie m({.frame = w::Rect::pixels(20, 10)});
        if (c.damaged) {
            // A colour table of 256 entries of which one colour arrives.
            m.defineBitsLossless(3, uint16_t(c.width), uint16_t(c.height), w::Bytes(3, 0), 256);
        } else {
            SolidBitmap(m, c.width, c.height, 255, 0, 0);
        }
        const uint16_t good = SolidBitmap(m, 4, 4, 0, 0, 255);
        m.place({.depth = 1, .character = 1});
        m.place({.depth = 2, .character = good, .matrix = w::Matrix::translate(200, 0)});
        m.showFrame();
        Scene scene(m);
        Renderer renderer(scene.dictionary, scene.movie.header.version);
        LogLines log;
        log.Attach(renderer);
        for (int frame = 0; frame < 3; ++frame) {
            Drawn d = Draw(renderer, scene, 20, 10);
            EXPECT_EQ(d.at(2, 2), 0xFFFFFFFFu);   // the refused one: nothing
            EXPECT_EQ(d.at(11, 2), 0xFF0000FFu);  // the rest of the frame draws
        }
        ASSERT_EQ(log.lines.size(), 1u);  // once, not once a frame
        EXPECT_EQ(log.lines[0].rfind(c.line, 0), 0u) << log.lines[0];
    }
}

// Ten bitmaps of the largest size take 640 MiB decoded, more than the budget: shown one after
// the other, as the pages of a long lesson, each is drawn, and the first, let go meanwhile, is
// decoded again when it comes back.
TEST(RenderBitmapLimits, ManyLargeBitmapsStayWithinTheBudgetAndAllDraw) {
    constexpr int kW = 4096, kH = 4095;  // 16,773,120 pixels, 64 MiB decoded
    constexpr int kCount = 10;
    static_assert(size_t(kCount) * kW * kH * 4 > limits::kMaxDecodedBitmapBytes);
    w::Movie m({.frame = w::Rect::pixels(16, 16)});
    std::vector<uint32_t> colours;
    for (int i = 0; i < kCount; ++i) {
        const uint8_t r = uint8_t(20 * i), g = uint8_t(255 - 20 * i), b = uint8_t(i % 2 ? 200 : 40);
        colours.push_back(0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | b);
        const uint16_t id = SolidBitmap(m, kW, kH, r, g, b);
        m.place({.depth = uint16_t(i + 1), .character = id});
    }
    m.showFrame();
    Scene scene(m);
    Renderer renderer(scene.dictionary, scene.movie.header.version);
    LogLines log;
    log.Attach(renderer);
    auto show = [&](int page) {
        for (int i = 0; i < kCount; ++i) scene.root.At(i + 1)->visible = i == page;
        return Draw(renderer, scene, 16, 16).at(0, 0);
    };
    for (int page = 0; page < kCount; ++page) EXPECT_EQ(show(page), colours[size_t(page)]) << page;
    EXPECT_EQ(show(0), colours[0]);
    EXPECT_EQ(show(kCount - 1), colours[size_t(kCount - 1)]);
    EXPECT_EQ(log.Count("decoded bitmaps reached 512 MiB"), 1) << testing::PrintToString(log.lines);
    EXPECT_EQ(log.Count("not drawn"), 0);

    // All of them in one frame: those that fit are drawn, the rest are left out with a line
    // each, and the next frame with one page draws that page again.
    for (int i = 0; i < kCount; ++i) {
        scene.root.At(i + 1)->visible = true;
        scene.root.At(i + 1)->matrix.tx = 0;
    }
    Drawn all = Draw(renderer, scene, 16, 16);
    const int fit = int(limits::kMaxDecodedBitmapBytes / (size_t(kW) * kH * 4));
    const int notDrawn = log.Count("not drawn in a frame whose bitmaps pass 512 MiB");
    EXPECT_EQ(notDrawn, kCount - fit);
    EXPECT_EQ(all.at(0, 0), colours[size_t(fit - 1)]);  // the highest that fitted is on top
    Draw(renderer, scene, 16, 16);
    EXPECT_EQ(log.Count("not drawn in a frame"), notDrawn);  // no second line for the same cause
    EXPECT_EQ(show(kCount - 1), colours[size_t(kCount - 1)]);
}

}  // namespace
}  // namespace qm::flash
