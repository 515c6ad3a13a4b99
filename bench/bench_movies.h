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

}  // namespace qm::bench
