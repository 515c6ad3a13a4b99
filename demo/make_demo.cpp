// Writes the bundled demo movie: four seconds of a dusk sky with a glowing sun, rising bubbles,
// a star that swells into a disc and back, the product's name in a font of its own, and a
// chime played as the movie starts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <numbers>
#include <vector>

#include "testing/swfwriter/swfwriter.h"

using namespace qm::swfwriter;

namespace {

constexpr int kFrames = 96;  // 4 s at 24 fps
constexpr int kWidth = 550 * 20, kHeight = 400 * 20;
constexpr double kPi = std::numbers::pi;

using Points = std::vector<std::pair<int32_t, int32_t>>;

void polygon(Shape& s, const Points& p) {
    s.moveTo(p[0].first, p[0].second);
    for (size_t i = 1; i < p.size(); ++i) s.lineTo(p[i].first, p[i].second);
    s.lineTo(p[0].first, p[0].second);
}

Glyph glyph(uint16_t code, int16_t advance, const std::vector<Points>& contours, bool ring = false) {
    Glyph g;
    g.code = code;
    g.advance = advance;
    g.outline.fill0(1);
    if (ring) {
        g.outline.ellipse(320, -350, 320, 360);
        g.outline.ellipse(320, -350, 190, 230);
    }
    for (const auto& c : contours) polygon(g.outline, c);
    return g;
}

// Block capitals on a 1024-unit em, cap height 700; counters are inner contours.
Font makeFont() {
    Font f;
    f.name = "Quellmark Block";
    f.bold = true;
    f.ascent = 800;
    f.descent = 200;
    f.leading = 40;
    f.glyphs = {
        glyph('A', 750, {{{0, 0}, {230, -700}, {370, -700}, {600, 0}, {460, 0}, {410, -160}, {190, -160}, {140, 0}},
                         {{225, -280}, {375, -280}, {300, -540}}}),
        glyph('E', 630, {{{0, 0}, {0, -700}, {480, -700}, {480, -570}, {140, -570}, {140, -420}, {420, -420},
                          {420, -290}, {140, -290}, {140, -130}, {480, -130}, {480, 0}}}),
        glyph('K', 740, {{{0, 0}, {0, -700}, {140, -700}, {140, -400}, {400, -700}, {570, -700}, {270, -370},
                          {590, 0}, {420, 0}, {180, -290}, {140, -250}, {140, 0}}}),
        glyph('L', 610, {{{0, 0}, {0, -700}, {140, -700}, {140, -130}, {460, -130}, {460, 0}}}),
        glyph('M', 750, {{{0, 0}, {0, -700}, {130, -700}, {300, -420}, {470, -700}, {600, -700}, {600, 0},
                          {470, 0}, {470, -450}, {300, -180}, {130, -450}, {130, 0}}}),
        glyph('Q', 800, {{{420, 0}, {500, -40}, {640, 90}, {560, 130}}}, true),
        glyph('R', 710, {{{0, 0}, {0, -700}, {400, -700}, {520, -600}, {520, -440}, {420, -350}, {560, 0},
                          {420, 0}, {290, -330}, {140, -330}, {140, 0}},
                         {{140, -580}, {360, -580}, {390, -520}, {360, -450}, {140, -450}}}),
        glyph('U', 750, {{{0, -700}, {140, -700}, {140, -160}, {460, -160}, {460, -700}, {600, -700}, {600, 0},
                          {0, 0}}}),
    };
    return f;
}

// A bell-like chime: an arpeggio of decaying tones with a soft octave partial.
Bytes chime(int rate, uint32_t& samples) {
    const double notes[] = {523.25, 659.25, 783.99, 1046.50, 783.99, 659.25, 783.99, 1046.50};
    samples = uint32_t(rate * 4);
    std::vector<double> mix(samples, 0.0);
    for (size_t n = 0; n < std::size(notes); ++n) {
        const size_t start = size_t(n * 0.5 * rate);
        for (size_t i = start; i < samples; ++i) {
            const double t = double(i - start) / rate;
            const double envelope = std::min(1.0, t / 0.01) * std::exp(-t / 0.35);
            mix[i] += envelope * (std::sin(2 * kPi * notes[n] * t) +
                                  0.25 * std::sin(4 * kPi * notes[n] * t));
        }
    }
    Bytes pcm;
    pcm.reserve(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
        const double fade = std::min(1.0, double(samples - i) / (0.2 * rate));
        const auto v = int16_t(std::lround(std::clamp(mix[i] * 0.22 * fade, -1.0, 1.0) * 32767));
        pcm.push_back(uint8_t(v));
        pcm.push_back(uint8_t(uint16_t(v) >> 8));
    }
    return pcm;
}

MorphShape starToDisc() {
    MorphShape m;
    const int32_t outer = 1900, inner = 800, disc = 1500;
    m.fills = {MorphFillStyle::radial(Matrix::gradientBox(-outer, -outer, 2 * outer, 2 * outer),
                                      Matrix::gradientBox(-disc, -disc, 2 * disc, 2 * disc),
                                      {{0, {255, 240, 150}, 0, {200, 250, 255}},
                                       {140, {255, 170, 40}, 110, {90, 200, 255}},
                                       {255, {230, 70, 40}, 255, {60, 80, 230}}})};
    m.lines = {{.startWidth = 60, .endWidth = 100, .startColor = {255, 255, 255, 220},
                .endColor = {255, 255, 255, 140}}};
    auto at = [](double radius, int k) {
        const double a = -kPi / 2 + k * kPi / 5;
        return std::make_pair(int32_t(std::lround(radius * std::cos(a))),
                              int32_t(std::lround(radius * std::sin(a))));
    };
    // Ten straight edges of the star pair with ten arcs of the disc.
    m.start.fill0(1).line(1);
    m.start.moveTo(at(outer, 0).first, at(outer, 0).second);
    m.end.moveTo(at(disc, 0).first, at(disc, 0).second);
    const double reach = disc / std::cos(kPi / 10);
    for (int k = 1; k <= 10; ++k) {
        const auto p = at(k % 2 ? inner : outer, k);
        m.start.lineTo(p.first, p.second);
        const auto c = [&] {
            const double a = -kPi / 2 + (k - 0.5) * kPi / 5;
            return std::make_pair(int32_t(std::lround(reach * std::cos(a))),
                                  int32_t(std::lround(reach * std::sin(a))));
        }();
        const auto q = at(disc, k % 10);
        m.end.curveTo(c.first, c.second, q.first, q.second);
    }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: make_demo OUT.swf\n");
        return 2;
    }
    try {
        Movie movie({.signature = "CWS", .version = 8, .frame = Rect::pixels(550, 400),
                     .frameRate = fps(24)});
        movie.fileAttributes(0);
        movie.setBackgroundColor({11, 29, 58});

        Shape sky;
        sky.fill0(sky.addFill(FillStyle::linear(Matrix::gradientBox(0, 0, kWidth, kHeight, kPi / 2),
                                                {{0, {11, 29, 58}}, {150, {58, 28, 92}},
                                                 {255, {196, 92, 110}}})));
        sky.rect(0, 0, kWidth, kHeight);
        const uint16_t skyId = movie.defineShape(sky, 3);

        Shape sun;
        sun.fill0(sun.addFill(FillStyle::focal(Matrix::gradientBox(-1600, -1600, 3200, 3200),
                                               {{0, {255, 250, 210}}, {90, {255, 210, 90}},
                                                {170, {255, 120, 50, 200}}, {255, {255, 80, 40, 0}}},
                                               -0.35)));
        sun.ellipse(0, 0, 1600, 1600);
        const uint16_t sunShape = movie.defineShape(sun, 4);
        Sprite sunClip = movie.sprite();
        sunClip.place({.depth = 1, .character = sunShape});
        sunClip.showFrame();
        const uint16_t sunId = movie.defineSprite(sunClip);

        Shape bubble;
        bubble.fill0(bubble.addFill(FillStyle::radial(Matrix::gradientBox(-300, -300, 600, 600),
                                                      {{0, {255, 255, 255, 10}},
                                                       {190, {170, 215, 255, 50}},
                                                       {255, {255, 255, 255, 150}}})));
        bubble.ellipse(0, 0, 300, 300);
        const uint16_t bubbleId = movie.defineShape(bubble, 3);

        const uint16_t morphId = movie.defineMorphShape(starToDisc(), 1);

        const Font font = makeFont();
        const uint16_t fontId = movie.defineFont2(font);
        Text title;
        const uint16_t height = 1100;
        title.records = {layoutText(font, fontId, "QUELLMARK", height, {255, 255, 255}, 0, 0)};
        int32_t textWidth = 0;
        for (const auto& g : title.records[0].glyphs) textWidth += g.advance;
        title.bounds = {0, textWidth, -height, height / 5};
        const uint16_t titleId = movie.defineText(title, 2);

        uint32_t samples = 0;
        const Bytes pcm = chime(22050, samples);
        const uint16_t soundId = movie.defineSound({.format = 3, .rate = 2}, samples, pcm);

        struct Bubble {
            int32_t x;
            double speed, phase, scale;
        };
        const Bubble bubbles[] = {{900, 1.0, 0.1, 0.8},  {2300, 1.4, 0.6, 0.5}, {3900, 0.8, 0.3, 1.1},
                                  {7200, 1.2, 0.8, 0.7}, {8800, 0.9, 0.45, 1.0}, {10200, 1.6, 0.2, 0.55}};

        for (int f = 0; f < kFrames; ++f) {
            const double t = double(f) / kFrames;
            const bool first = f == 0;
            if (first) {
                movie.frameLabel("start");
                movie.place({.depth = 1, .character = skyId});
                movie.startSound(soundId);
                movie.doAction(Actions().push({"Quellmark demo"}).trace());
            }

            // The sun sinks and reddens towards the horizon.
            CXForm dusk;
            dusk.greenMult = int16_t(256 - 70 * t);
            dusk.blueMult = int16_t(256 - 110 * t);
            const double pulse = 1 + 0.05 * std::sin(2 * kPi * 2 * t);
            movie.place({.depth = 2, .character = first ? std::optional<uint16_t>(sunId) : std::nullopt,
                         .move = !first,
                         .matrix = Matrix::scale(pulse, pulse, int32_t(8400 + 900 * t),
                                                 int32_t(2600 + 5200 * t * t)),
                         .cxform = dusk,
                         .name = first ? std::optional<std::string>("sun") : std::nullopt});

            for (size_t b = 0; b < std::size(bubbles); ++b) {
                const Bubble& bb = bubbles[b];
                const double rise = std::fmod(bb.phase + t * bb.speed, 1.0);
                const int32_t y = int32_t(kHeight + 400 - rise * (kHeight + 800));
                const int32_t x = bb.x + int32_t(250 * std::sin(2 * kPi * (2 * t + bb.phase)));
                movie.place({.depth = uint16_t(3 + b),
                             .character = first ? std::optional<uint16_t>(bubbleId) : std::nullopt,
                             .move = !first,
                             .matrix = Matrix::scale(bb.scale, bb.scale, x, y)});
            }

            const double swell = (1 - std::cos(2 * kPi * t)) / 2;
            movie.place({.depth = 10,
                         .character = first ? std::optional<uint16_t>(morphId) : std::nullopt,
                         .move = !first,
                         .matrix = Matrix::rotate(kPi * 0.4 * t, 1, 1, 5500, 5000),
                         .ratio = uint16_t(std::lround(swell * 65535))});

            const double appear = std::min(1.0, t * 3);
            const double ease = 1 - (1 - appear) * (1 - appear);
            const int32_t textX = (kWidth - textWidth) / 2;
            const int32_t textY = 2100 + int32_t(600 * (1 - ease));
            CXForm fade;
            fade.alphaMult = int16_t(std::lround(256 * ease));
            if (first)
                movie.place({.depth = 20, .character = titleId,
                             .matrix = Matrix::translate(textX, textY), .cxform = fade,
                             .filters = {Filter::dropShadow({20, 0, 40, 160}, 6, 6, kPi / 4, 5, 1)}});
            else if (appear < 1 || f == int(kFrames / 3))
                movie.place({.depth = 20, .move = true, .matrix = Matrix::translate(textX, textY),
                             .cxform = fade});

            if (f == kFrames - 1) movie.frameLabel("end");
            movie.showFrame();
        }
        movie.save(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_demo: %s\n", e.what());
        return 1;
    }
    return 0;
}
