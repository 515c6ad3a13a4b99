// Generated movies the benchmarks share, built with the project's movie writer.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "testing/swfwriter/swfwriter.h"

namespace qm::bench {

// Ten seconds at 24 fps of 1280x720: forty gradient blobs with outlines, each drifting and
// turning every frame, over a sky gradient, with a tone every second.
inline swfwriter::Movie HeavyCartoon() {
    namespace w = qm::swfwriter;
    w::Movie m({.version = 8, .frame = w::Rect::pixels(1280, 720), .frameRate = w::fps(24)});
    m.setBackgroundColor({30, 40, 70});
    w::Shape sky;
    sky.fill0(sky.addFill(w::FillStyle::linear(w::Matrix::gradientBox(0, 0, 1280 * 20, 720 * 20, 1.5708),
                                                {{0, {40, 60, 120}}, {255, {230, 150, 90}}})))
        .rect(0, 0, 1280 * 20, 720 * 20);
    const uint16_t skyId = m.defineShape(sky);
    std::mt19937 random(7);
    std::vector<uint16_t> blobs;
    for (int i = 0; i < 8; ++i) {
        w::Shape s;
        const w::Color a{uint8_t(random() % 256), uint8_t(random() % 256), uint8_t(random() % 256)};
        const w::Color b{uint8_t(random() % 256), uint8_t(random() % 256), uint8_t(random() % 256), 200};
        s.fill0(s.addFill(w::FillStyle::radial(w::Matrix::gradientBox(-1600, -1200, 3200, 2400), {{0, a}, {255, b}})));
        s.line(s.addLine(w::LineStyle{.width = 60, .color = {20, 20, 20}}));
        s.moveTo(-1600, 0).curveTo(-1600, -1400, 0, -1200).curveTo(1700, -1100, 1600, 0);
        s.curveTo(1500, 1300, 0, 1200).curveTo(-1500, 1300, -1600, 0);
        blobs.push_back(m.defineShape(s));
    }
    const w::Bytes tone = w::sinePCM16(440, 0.2, 44100, 0.4);
    const uint16_t toneId = m.defineSound(w::SoundFormat{}, uint32_t(tone.size() / 2), tone);
    m.place({.depth = 1, .character = skyId});
    constexpr int kBlobs = 40;
    std::vector<double> x(kBlobs), y(kBlobs), dx(kBlobs), dy(kBlobs);
    for (int i = 0; i < kBlobs; ++i) {
        x[i] = random() % 1280;
        y[i] = random() % 720;
        dx[i] = int(random() % 11) - 5;
        dy[i] = int(random() % 7) - 3;
    }
    for (int f = 0; f < 240; ++f) {
        for (int i = 0; i < kBlobs; ++i) {
            x[i] += dx[i];
            y[i] += dy[i];
            const auto matrix = w::Matrix::rotate(0.05 * f + i, 1 + 0.3 * std::sin(0.1 * f + i), 1,
                                                  int32_t(x[i] * 20), int32_t(y[i] * 20));
            if (f == 0)
                m.place({.depth = uint16_t(2 + i), .character = blobs[size_t(i) % blobs.size()], .matrix = matrix});
            else
                m.place({.depth = uint16_t(2 + i), .move = true, .matrix = matrix});
        }
        if (f % 24 == 0) m.startSound(toneId);
        m.showFrame();
    }
    return m;
}

// Moves every placed character a little each frame: drifting, turning and breathing, as a
// cartoon's characters do. ids are placed round-robin from depth 2 up.
inline void MoveAround(swfwriter::Movie& m, const std::vector<uint16_t>& ids, int count, int frames, int width,
                       int height, uint32_t seed) {
    namespace w = qm::swfwriter;
    std::mt19937 random(seed);
    const size_t n = size_t(count);
    std::vector<double> x(n), y(n), dx(n), dy(n);
    for (int i = 0; i < count; ++i) {
        x[size_t(i)] = random() % uint32_t(width);
        y[size_t(i)] = random() % uint32_t(height);
        dx[size_t(i)] = int(random() % 7) - 3;
        dy[size_t(i)] = int(random() % 5) - 2;
    }
    for (int f = 0; f < frames; ++f) {
        for (size_t i = 0; i < size_t(count); ++i) {
            // Wrap round so a long movie keeps its characters on the stage.
            x[i] = std::fmod(x[i] + dx[i] + width, double(width));
            y[i] = std::fmod(y[i] + dy[i] + height, double(height));
            const double s = 1 + 0.2 * std::sin(0.07 * f + double(i));
            const auto matrix = w::Matrix::rotate(0.03 * f + double(i), s, s, int32_t(x[i] * 20), int32_t(y[i] * 20));
            if (f == 0)
                m.place({.depth = uint16_t(2 + i), .character = ids[i % ids.size()], .matrix = matrix});
            else
                m.place({.depth = uint16_t(2 + i), .move = true, .matrix = matrix});
        }
        m.showFrame();
    }
}

// Ten seconds at 24 fps of 1280x720: the simplest cartoon, eight flat-coloured shapes without
// outlines drifting over a plain background.
inline swfwriter::Movie SimpleCartoon() {
    namespace w = qm::swfwriter;
    w::Movie m({.version = 8, .frame = w::Rect::pixels(1280, 720), .frameRate = w::fps(24)});
    m.setBackgroundColor({240, 236, 220});
    std::vector<uint16_t> ids;
    const w::Color colours[] = {{200, 40, 40}, {40, 120, 200}, {60, 170, 80}, {230, 180, 30}};
    for (int i = 0; i < 4; ++i) {
        w::Shape s;
        s.fill0(s.addFill(w::FillStyle::solid(colours[i])));
        if (i % 2)
            s.ellipse(0, 0, 1600, 1200);
        else
            s.rect(-1500, -1000, 3000, 2000);
        ids.push_back(m.defineShape(s));
    }
    MoveAround(m, ids, 8, 240, 1280, 720, 3);
    return m;
}

// Ten seconds at 24 fps of 1280x720: forty smoothed bitmap cut-outs (eight 128x128 pictures with
// alpha) turning and scaling over a bitmap backdrop.
inline swfwriter::Movie BitmapCartoon() {
    namespace w = qm::swfwriter;
    w::Movie m({.version = 8, .frame = w::Rect::pixels(1280, 720), .frameRate = w::fps(24)});
    std::vector<w::Color> backdrop(256 * 144);
    for (int i = 0; i < 256 * 144; ++i)
        backdrop[size_t(i)] = {uint8_t(i % 256), uint8_t(i / 256 + 60), uint8_t((i % 256) ^ (i / 256)), 255};
    const uint16_t backdropBitmap = m.defineBitmapRGBA(256, 144, backdrop);
    w::Shape back;
    back.fill0(back.addFill(w::FillStyle::bitmap(backdropBitmap, w::Matrix::scale(100, 100), false, true)))
        .rect(0, 0, 1280 * 20, 720 * 20);
    const uint16_t backId = m.defineShape(back);
    std::vector<uint16_t> ids;
    for (int b = 0; b < 8; ++b) {
        std::vector<w::Color> px(128 * 128);
        for (int yy = 0; yy < 128; ++yy)
            for (int xx = 0; xx < 128; ++xx) {
                const int d = (xx - 64) * (xx - 64) + (yy - 64) * (yy - 64);
                px[size_t(yy * 128 + xx)] = {uint8_t(xx * 2 + b * 30), uint8_t(yy * 2), uint8_t((xx ^ yy) + b * 20),
                                             uint8_t(d > 64 * 64 ? 0 : 255 - d / 20)};
            }
        const uint16_t bitmap = m.defineBitmapRGBA(128, 128, px);
        w::Shape s;
        s.fill0(s.addFill(w::FillStyle::bitmap(bitmap, w::Matrix::scale(20, 20, -1280, -1280), false, true)))
            .rect(-1280, -1280, 2560, 2560);
        ids.push_back(m.defineShape(s));
    }
    m.place({.depth = 1, .character = backId});
    MoveAround(m, ids, 40, 240, 1280, 720, 11);
    return m;
}

// Ten seconds at 24 fps of 1280x720: twenty blocks of three lines of outlined text (a font of
// curved glyphs) at several sizes, moving over a plain stage.
inline swfwriter::Movie TextCartoon() {
    namespace w = qm::swfwriter;
    w::Movie m({.version = 8, .frame = w::Rect::pixels(1280, 720), .frameRate = w::fps(24)});
    m.setBackgroundColor({245, 240, 225});
    w::Font font;
    font.name = "Bench";
    for (char c = 'a'; c <= 'z'; ++c) {
        w::Glyph g;
        g.code = uint16_t(c);
        const int h = 500 + (c % 5) * 100;
        g.outline.moveTo(50, -h).curveTo(300, -h - 150, 550, -h).curveTo(600, -h / 2, 550, 0).lineTo(50, 0);
        g.outline.curveTo(0, -h / 2, 50, -h);
        g.outline.moveTo(200, -h / 2).lineTo(400, -h / 2).curveTo(450, -250, 400, -100).lineTo(200, -100);
        g.outline.lineTo(200, -h / 2);
        g.advance = 640;
        font.glyphs.push_back(g);
    }
    w::Glyph space;
    space.code = ' ';
    space.advance = 400;
    font.glyphs.insert(font.glyphs.begin(), space);
    font.ascent = 900;
    font.descent = 200;
    const uint16_t fontId = m.defineFont2(font);
    std::mt19937 random(5);
    std::vector<uint16_t> ids;
    for (int i = 0; i < 20; ++i) {
        w::Text t;
        t.bounds = {-4000, 4000, -1000, 1000};
        const uint16_t height = uint16_t(200 + (i % 5) * 60);
        for (int line = 0; line < 3; ++line)
            t.records.push_back(w::layoutText(font, fontId, "the quick brown fox jumps over the lazy dog", height,
                                              {uint8_t(random() % 200), uint8_t(random() % 200), uint8_t(random() % 200)},
                                              -3800, int16_t(-500 + line * 450)));
        ids.push_back(m.defineText(t));
    }
    MoveAround(m, ids, 20, 240, 1280, 720, 13);
    return m;
}

// A cartoon with stream sound: seconds at 24 fps of width x height, outlined gradient shapes
// moving, and a stream of a tone changing every second in one block per frame: 44.1 kHz 16-bit,
// or when compact 11 kHz ADPCM, which keeps a long movie's file small; without sound, the same
// pictures alone. Long ones measure whether memory grows with the movie's length.
inline swfwriter::Movie StreamSoundCartoon(int seconds = 10, int width = 1280, int height = 720, int shapes = 12,
                                           bool compact = false, bool sound = true) {
    namespace w = qm::swfwriter;
    w::Movie m({.version = 8, .frame = w::Rect::pixels(width, height), .frameRate = w::fps(24)});
    m.setBackgroundColor({60, 90, 60});
    std::vector<uint16_t> ids;
    for (int i = 0; i < 4; ++i) {
        w::Shape s;
        const int r = 20 * (height / 10 + 10 * i);
        s.fill0(s.addFill(w::FillStyle::radial(w::Matrix::gradientBox(-r, -r, 2 * r, 2 * r),
                                                {{0, {255, uint8_t(60 * i), 80}}, {255, {40, 40, uint8_t(200 - 40 * i), 220}}})));
        s.line(s.addLine(w::LineStyle{.width = 40, .color = {10, 10, 10}}));
        s.moveTo(-r, 0).curveTo(-r, -r, 0, -r).curveTo(r, -r, r, 0).curveTo(r, r, 0, r).curveTo(-r, r, -r, 0);
        ids.push_back(m.defineShape(s));
    }
    const int rate = compact ? 11025 : 44100;
    const w::SoundFormat stream{.format = uint8_t(compact ? 1 : 3), .rate = uint8_t(compact ? 1 : 3), .sixteenBit = true,
                                .stereo = false};
    if (sound) m.soundStreamHead(stream, uint16_t(rate / 24));
    // One second of each tone, cut into the frames' blocks.
    std::vector<int16_t> tones[2];
    for (int t = 0; t < 2; ++t) {
        const w::Bytes pcm = w::sinePCM16(t ? 495 : 330, 1.0, rate, 0.3);
        for (size_t i = 0; i + 1 < pcm.size(); i += 2) tones[t].push_back(int16_t(pcm[i] | (pcm[i + 1] << 8)));
    }
    std::vector<w::Bytes> blocks[2];
    for (int t = 0; t < 2; ++t)
        for (int f = 0; f < 24; ++f) {
            const size_t from = size_t(f) * size_t(rate) / 24, to = size_t(f + 1) * size_t(rate) / 24;
            const std::vector<int16_t> part(tones[t].begin() + ptrdiff_t(from), tones[t].begin() + ptrdiff_t(to));
            w::Bytes block;
            if (compact) {
                block = w::encodeADPCM(part, 4);
            } else {
                for (int16_t v : part) {
                    block.push_back(uint8_t(v & 0xFF));
                    block.push_back(uint8_t((v >> 8) & 0xFF));
                }
            }
            blocks[t].push_back(std::move(block));
        }
    std::mt19937 random(17);
    const size_t n = size_t(shapes);
    std::vector<double> x(n), y(n), dx(n), dy(n);
    for (size_t i = 0; i < n; ++i) {
        x[i] = random() % uint32_t(width);
        y[i] = random() % uint32_t(height);
        dx[i] = int(random() % 7) - 3;
        dy[i] = int(random() % 5) - 2;
    }
    const int frames = seconds * 24;
    for (int f = 0; f < frames; ++f) {
        if (sound) m.soundStreamBlock(blocks[(f / 24) % 2][size_t(f % 24)]);
        for (size_t i = 0; i < n; ++i) {
            x[i] = std::fmod(x[i] + dx[i] + width, double(width));
            y[i] = std::fmod(y[i] + dy[i] + height, double(height));
            const auto matrix = w::Matrix::rotate(0.04 * f + double(i), 1, 1, int32_t(x[i] * 20), int32_t(y[i] * 20));
            if (f == 0)
                m.place({.depth = uint16_t(2 + i), .character = ids[i % ids.size()], .matrix = matrix});
            else
                m.place({.depth = uint16_t(2 + i), .move = true, .matrix = matrix});
        }
        m.showFrame();
    }
    return m;
}

}  // namespace qm::bench
