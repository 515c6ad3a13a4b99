// Renders generated heavy movies at 1280x720 and prints milliseconds per frame.
// Each scene is built with the project's movie writer, parsed, placed, and drawn
// repeatedly with the objects moving a little every frame. Under callgrind with
// --collect-atstart=no only the frames after the first are counted.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define QM_COUNT_TOGGLE() CALLGRIND_TOGGLE_COLLECT
#else
#define QM_COUNT_TOGGLE()
#endif

#include "flash/render/render.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm;

namespace {

constexpr int kWidth = 1280, kHeight = 720;

struct Scene {
    std::vector<uint8_t> file;
    swf::ParsedMovie movie;
    flash::Dictionary dictionary;
    flash::DisplayList root;
    swf::Rgba background{255, 255, 255, 255};
};

std::unique_ptr<Scene> Load(const w::Movie& m) {
    auto s = std::make_unique<Scene>();
    s->file = m.bytes();
    auto r = swf::ParseMovie(s->file);
    if (!r.movie) return nullptr;
    s->movie = std::move(*r.movie);
    for (const swf::Tag& tag : s->movie.tags) {
        if (std::holds_alternative<swf::ShowFrame>(tag.body)) break;
        s->dictionary.Add(tag.body);
        if (auto* bg = std::get_if<swf::SetBackgroundColor>(&tag.body)) s->background = bg->color;
        auto* packed = std::get_if<swf::PackedPlaceObject>(&tag.body);
        if (!packed) continue;
        const swf::PlaceObject unpacked = packed->Unpack();
        const swf::PlaceObject* p = &unpacked;
        if (!p || !p->character_id) continue;
        auto obj = std::make_unique<flash::DisplayObject>();
        obj->depth = p->depth;
        obj->character = s->dictionary.Find(*p->character_id);
        if (!obj->character) continue;
        if (p->matrix) obj->matrix = *p->matrix;
        if (p->color_transform) obj->color_transform = *p->color_transform;
        if (p->ratio) obj->ratio = *p->ratio;
        if (p->clip_depth) obj->clip_depth = *p->clip_depth;
        if (p->filters) obj->filters = *p->filters;
        s->root.Put(std::move(obj));
    }
    return s;
}

w::Movie Stage() {
    w::Movie m({.version = 10, .frame = w::Rect::pixels(550, 400)});
    m.setBackgroundColor({240, 240, 230});
    return m;
}

// A blobby character: a closed curved outline with a stroke, like traced artwork.
w::Shape Blob(std::mt19937& rng, const w::FillStyle& fill, bool stroke) {
    std::uniform_int_distribution<int> radius(300, 1200), jitter(-200, 200);
    w::Shape s;
    uint32_t f = s.addFill(fill);
    s.fill0(f);
    if (stroke) {
        w::LineStyle l;
        l.width = 30;
        l.color = {30, 30, 30};
        s.line(s.addLine(l));
    }
    int n = 8;
    int r0 = radius(rng);
    std::vector<std::pair<int, int>> pts;
    for (int i = 0; i < n; ++i) {
        double a = 2 * M_PI * i / n;
        int r = r0 + jitter(rng);
        pts.push_back({int(std::cos(a) * r), int(std::sin(a) * r)});
    }
    s.moveTo(pts[0].first, pts[0].second);
    for (int i = 0; i < n; ++i) {
        auto [x0, y0] = pts[i];
        auto [x1, y1] = pts[(i + 1) % n];
        s.curveTo((x0 + x1) * 6 / 10 + jitter(rng) / 4, (y0 + y1) * 6 / 10 + jitter(rng) / 4, x1, y1);
    }
    return s;
}

w::Color RandomColor(std::mt19937& rng) {
    std::uniform_int_distribution<int> c(0, 255);
    return {uint8_t(c(rng)), uint8_t(c(rng)), uint8_t(c(rng))};
}

void PlaceScattered(w::Movie& m, const std::vector<uint16_t>& ids, int count, std::mt19937& rng) {
    std::uniform_int_distribution<int> x(0, 11000), y(0, 8000), pick(0, int(ids.size()) - 1);
    std::uniform_real_distribution<double> angle(0, 6.28), scale(0.5, 1.5);
    for (int i = 0; i < count; ++i)
        m.place({.depth = uint16_t(i + 1), .character = ids[pick(rng)],
                 .matrix = w::Matrix::rotate(angle(rng), scale(rng), scale(rng), x(rng), y(rng))});
}

std::unique_ptr<Scene> Cartoon() {
    std::mt19937 rng(1);
    w::Movie m = Stage();
    std::vector<uint16_t> ids;
    for (int i = 0; i < 40; ++i) ids.push_back(m.defineShape(Blob(rng, w::FillStyle::solid(RandomColor(rng)), true)));
    PlaceScattered(m, ids, 300, rng);
    m.showFrame();
    return Load(m);
}

// What a typical cartoon frame holds: a backdrop, some dozens of traced
// shapes of moderate size, a few with gradients.
std::unique_ptr<Scene> Typical() {
    std::mt19937 rng(5);
    w::Movie m = Stage();
    w::Shape sky;
    sky.fill0(sky.addFill(w::FillStyle::linear(w::Matrix::gradientBox(0, 0, 11000, 8000, 1.57),
                                               {{0, {120, 170, 255}}, {255, {250, 250, 255}}})))
        .rect(0, 0, 11000, 8000);
    uint16_t skyId = m.defineShape(sky);
    std::vector<uint16_t> ids;
    for (int i = 0; i < 30; ++i) {
        w::FillStyle f = i % 6 == 0
                             ? w::FillStyle::radial(w::Matrix::gradientBox(-800, -800, 1600, 1600),
                                                    {{0, RandomColor(rng)}, {255, RandomColor(rng)}})
                             : w::FillStyle::solid(RandomColor(rng));
        ids.push_back(m.defineShape(Blob(rng, f, true)));
    }
    m.place({.depth = 1, .character = skyId});
    std::uniform_int_distribution<int> x(0, 11000), y(0, 8000), pick(0, int(ids.size()) - 1);
    std::uniform_real_distribution<double> angle(0, 6.28), scale(0.3, 0.8);
    for (int i = 0; i < 80; ++i)
        m.place({.depth = uint16_t(i + 2), .character = ids[pick(rng)],
                 .matrix = w::Matrix::rotate(angle(rng), scale(rng), scale(rng), x(rng), y(rng))});
    m.showFrame();
    return Load(m);
}

// Masked groups: each mask shows a few shapes through a window of its own.
std::unique_ptr<Scene> Masked() {
    std::mt19937 rng(6);
    w::Movie m = Stage();
    std::vector<uint16_t> ids;
    for (int i = 0; i < 10; ++i) ids.push_back(m.defineShape(Blob(rng, w::FillStyle::solid(RandomColor(rng)), true)));
    uint16_t window = m.defineShape(Blob(rng, w::FillStyle::solid({0, 0, 0}), false));
    std::uniform_int_distribution<int> x(0, 11000), y(0, 8000), pick(0, int(ids.size()) - 1);
    uint16_t depth = 1;
    for (int g = 0; g < 20; ++g) {
        int cx = x(rng), cy = y(rng);
        m.place({.depth = depth, .character = window, .matrix = w::Matrix::translate(cx, cy),
                 .clipDepth = uint16_t(depth + 4)});
        for (int k = 1; k <= 4; ++k)
            m.place({.depth = uint16_t(depth + k), .character = ids[pick(rng)],
                     .matrix = w::Matrix::translate(cx + k * 200 - 500, cy + k * 150 - 400)});
        depth = uint16_t(depth + 5);
    }
    m.showFrame();
    return Load(m);
}

// Characters with drop shadows and glows, as titles and buttons carry them.
std::unique_ptr<Scene> Filtered() {
    std::mt19937 rng(7);
    w::Movie m = Stage();
    std::vector<uint16_t> ids;
    for (int i = 0; i < 10; ++i) ids.push_back(m.defineShape(Blob(rng, w::FillStyle::solid(RandomColor(rng)), true)));
    std::uniform_int_distribution<int> x(0, 11000), y(0, 8000), pick(0, int(ids.size()) - 1);
    for (int i = 0; i < 20; ++i) {
        w::Filter f = i % 2 ? w::Filter::dropShadow({0, 0, 0, 160}, 6, 6, 0.78, 5, 1, false, false, 2)
                            : w::Filter::glow({255, 255, 0, 255}, 8, 8, 1.5, false, false, 2);
        m.place({.depth = uint16_t(i + 1), .character = ids[pick(rng)], .matrix = w::Matrix::scale(0.6, 0.6, x(rng), y(rng)),
                 .filters = {f}});
    }
    m.showFrame();
    return Load(m);
}

std::unique_ptr<Scene> Gradients() {
    std::mt19937 rng(2);
    w::Movie m = Stage();
    std::vector<uint16_t> ids;
    for (int i = 0; i < 40; ++i) {
        auto box = w::Matrix::gradientBox(-1200, -1200, 2400, 2400, i * 0.3);
        std::vector<w::GradientStop> stops = {{0, RandomColor(rng)}, {128, RandomColor(rng)}, {255, RandomColor(rng)}};
        w::FillStyle f = i % 2 ? w::FillStyle::radial(box, stops) : w::FillStyle::linear(box, stops);
        ids.push_back(m.defineShape(Blob(rng, f, false)));
    }
    PlaceScattered(m, ids, 200, rng);
    m.showFrame();
    return Load(m);
}

std::unique_ptr<Scene> Bitmaps() {
    std::mt19937 rng(3);
    w::Movie m = Stage();
    std::vector<uint16_t> ids;
    for (int b = 0; b < 8; ++b) {
        std::vector<w::Color> px(64 * 64);
        for (int i = 0; i < 64 * 64; ++i) px[i] = {uint8_t(i * 3 + b * 40), uint8_t(i / 64 * 4), uint8_t(b * 30), 255};
        uint16_t bmp = m.defineBitmapRGBA(64, 64, px);
        for (int k = 0; k < 3; ++k) {
            w::FillStyle f = w::FillStyle::bitmap(bmp, w::Matrix::scale(20, 20, -640, -640), k != 1, k != 2);
            w::Shape s;
            s.fill0(s.addFill(f)).rect(-640, -640, 1280, 1280);
            ids.push_back(m.defineShape(s));
        }
    }
    PlaceScattered(m, ids, 100, rng);
    m.showFrame();
    return Load(m);
}

std::unique_ptr<Scene> Texts() {
    std::mt19937 rng(4);
    w::Movie m = Stage();
    w::Font font;
    font.name = "Blocks";
    for (char c = 'a'; c <= 'z'; ++c) {
        w::Glyph g;
        g.code = uint16_t(c);
        int h = 500 + (c % 5) * 100;
        g.outline.moveTo(50, -h).curveTo(300, -h - 100, 550, -h).lineTo(550, 0).lineTo(50, 0).lineTo(50, -h);
        g.outline.moveTo(200, -h / 2).lineTo(400, -h / 2).lineTo(400, -100).lineTo(200, -100).lineTo(200, -h / 2);
        g.advance = 640;
        font.glyphs.push_back(g);
    }
    font.ascent = 900;
    font.descent = 200;
    uint16_t fontId = m.defineFont2(font);
    std::vector<uint16_t> ids;
    for (int i = 0; i < 10; ++i) {
        w::Text t;
        t.bounds = {0, 8000, 0, 2000};
        for (int line = 0; line < 3; ++line)
            t.records.push_back(w::layoutText(font, fontId, "the quick brown fox jumps over", 240 + i * 20,
                                              RandomColor(rng), 0, int16_t(300 + line * 400)));
        ids.push_back(m.defineText(t));
    }
    PlaceScattered(m, ids, 50, rng);
    m.showFrame();
    return Load(m);
}

void Measure(const char* name, std::unique_ptr<Scene> scene, int frames) {
    if (!scene) {
        std::printf("%-10s could not be built\n", name);
        return;
    }
    std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
    flash::RenderTarget target{reinterpret_cast<uint8_t*>(pixels.data()), kWidth, kHeight, kWidth * 4};
    flash::Renderer renderer(scene->dictionary, scene->movie.header.version);
    // First frame builds the caches; it is reported apart.
    auto t0 = std::chrono::steady_clock::now();
    renderer.Render(scene->root, scene->movie.header.frame_size, scene->background, target);
    auto t1 = std::chrono::steady_clock::now();
    std::clock_t c1 = std::clock();
    for (int f = 0; f < frames; ++f) {
        for (auto& [depth, obj] : scene->root.objects()) {
            obj->matrix.tx += (depth % 7) - 3;
            obj->matrix.ty += (depth % 5) - 2;
        }
        QM_COUNT_TOGGLE();
        renderer.Render(scene->root, scene->movie.header.frame_size, scene->background, target);
        QM_COUNT_TOGGLE();
    }
    auto t2 = std::chrono::steady_clock::now();
    std::clock_t c2 = std::clock();
    double first = std::chrono::duration<double, std::milli>(t1 - t0).count();
    double per = std::chrono::duration<double, std::milli>(t2 - t1).count() / frames;
    // CPU time as well: the machine may be shared, and the target is one core's time.
    double cpu = 1000.0 * double(c2 - c1) / CLOCKS_PER_SEC / frames;
    // The last picture's fingerprint: a faster renderer must draw the same.
    uint64_t hash = 0xCBF29CE484222325ull;
    for (uint32_t p : pixels) hash = (hash ^ p) * 0x100000001B3ull;
    std::printf("%-10s %4zu objects  first frame %7.2f ms  then %7.2f ms per frame (%7.2f ms CPU)  picture %016llx\n",
                name, scene->root.size(), first, per, cpu, static_cast<unsigned long long>(hash));
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    std::printf("render at %dx%d, %d frames each\n", kWidth, kHeight, frames);
    Measure("typical", Typical(), frames);
    Measure("cartoon", Cartoon(), frames);
    Measure("masked", Masked(), frames);
    Measure("filtered", Filtered(), frames);
    Measure("gradients", Gradients(), frames);
    Measure("bitmaps", Bitmaps(), frames);
    Measure("text", Texts(), frames);
    return 0;
}
