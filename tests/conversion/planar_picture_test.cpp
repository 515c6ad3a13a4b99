// The 4:2:0 picture the encoder gets: checked sample by sample against the BT.601 studio-range
// formulas in floating point, on sizes that end inside and outside the wide steps, with row
// padding, so a wrong channel, a lost tail or a misread stride shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "conversion/planar_picture.h"

namespace qm::conversion {
namespace {

struct Bgra {
    int b, g, r;
};

double LumaOf(Bgra p) { return 16 + (65.481 * p.r + 128.553 * p.g + 24.966 * p.b) / 255.0; }

// Largest distance of any sample from the formulas; pixels are opaque.
int WorstError(int width, int height, int padding, std::mt19937& random, bool flat, Bgra colour = {}) {
    const int stride = width * 4 + padding;
    std::vector<uint8_t> pixels(size_t(stride) * size_t(height), 0xEE);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[size_t(y) * size_t(stride) + 4 * size_t(x)];
            const Bgra c = flat ? colour : Bgra{int(random() % 256), int(random() % 256), int(random() % 256)};
            p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r), p[3] = 255;
        }
    const PlanarConverter converter(width, height);
    std::vector<uint8_t> out(converter.FrameSize() + 16, 0x5A);
    converter.Convert(pixels.data(), stride, out.data());
    auto at = [&](int x, int y) {
        const uint8_t* p = &pixels[size_t(y) * size_t(stride) + 4 * size_t(x)];
        return Bgra{p[0], p[1], p[2]};
    };
    int worst = 0;
    auto check = [&](double expected, uint8_t got) {
        worst = std::max(worst, int(std::ceil(std::fabs(expected - got) - 0.5)));
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) check(LumaOf(at(x, y)), out[size_t(y) * size_t(width) + size_t(x)]);
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    const uint8_t* u = out.data() + size_t(width) * size_t(height);
    const uint8_t* v = u + size_t(cw) * size_t(ch);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            // The block's average (a sum over 4 * 255); a missing column or row repeats the last one.
            Bgra sum{0, 0, 0};
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const Bgra p = at(std::min(2 * x + dx, width - 1), std::min(2 * y + dy, height - 1));
                    sum.b += p.b, sum.g += p.g, sum.r += p.r;
                }
            const double exact[2] = {128 + (-37.797 * sum.r - 74.203 * sum.g + 112.0 * sum.b) / 1020.0,
                                     128 + (112.0 * sum.r - 93.786 * sum.g - 18.214 * sum.b) / 1020.0};
            check(exact[0], u[size_t(y) * size_t(cw) + size_t(x)]);
            check(exact[1], v[size_t(y) * size_t(cw) + size_t(x)]);
        }
    // Nothing written beyond the picture.
    for (size_t i = converter.FrameSize(); i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A) << width << "x" << height;
    return worst;
}

TEST(PlanarPicture, RandomPicturesMatchTheFormulasAtEverySize) {
    std::mt19937 random(11);
    const struct {
        int width, height, padding;
    } sizes[] = {{1, 1, 0}, {2, 2, 0}, {3, 1, 4}, {15, 3, 0}, {16, 2, 8}, {17, 5, 0},
                 {31, 4, 12}, {33, 7, 0}, {47, 2, 64}, {64, 3, 4}, {1280, 4, 0}, {1279, 3, 36}};
    for (const auto& s : sizes)
        EXPECT_LE(WorstError(s.width, s.height, s.padding, random, false), 1) << s.width << "x" << s.height;
}

TEST(PlanarPicture, PlainColoursGiveTheirStudioRangeValues) {
    std::mt19937 random(1);
    const struct {
        Bgra colour;
        int y, u, v;
    } cases[] = {{{255, 255, 255}, 235, 128, 128}, {{0, 0, 0}, 16, 128, 128},   {{0, 0, 255}, 81, 90, 240},
                 {{0, 255, 0}, 145, 54, 34},       {{255, 0, 0}, 41, 240, 110}, {{128, 128, 128}, 126, 128, 128}};
    for (const auto& c : cases) {
        EXPECT_LE(WorstError(37, 3, 0, random, true, c.colour), 1);
        const PlanarConverter converter(18, 2);
        std::vector<uint8_t> pixels(18 * 2 * 4), out(converter.FrameSize());
        for (size_t i = 0; i < pixels.size(); i += 4)
            pixels[i] = uint8_t(c.colour.b), pixels[i + 1] = uint8_t(c.colour.g), pixels[i + 2] = uint8_t(c.colour.r),
            pixels[i + 3] = 255;
        converter.Convert(pixels.data(), 18 * 4, out.data());
        EXPECT_NEAR(out[17], c.y, 1);
        EXPECT_NEAR(out[36 + 8], c.u, 1);
        EXPECT_NEAR(out[36 + 9 + 8], c.v, 1);
    }
}

// The vector paths (32 and 16 pixels a step) and the plain loop for the ends of rows must agree
// to the last bit, or the file would depend on the processor: every sample is compared with the
// one integer formula, on widths that end inside and after each step.
TEST(PlanarPicture, EveryPathGivesTheSameSamples) {
    auto luma = [](const uint8_t* p) {
        return uint8_t((16829 * p[2] + 33039 * p[1] + 6416 * p[0] + (16 << 16) + (1 << 15)) >> 16);
    };
    auto chroma = [](int R, int G, int B, bool v) {
        return v ? uint8_t((28784 * R - 24103 * G - 4681 * B + (128 << 18) + (1 << 17)) >> 18)
                 : uint8_t((-9714 * R - 19070 * G + 28784 * B + (128 << 18) + (1 << 17)) >> 18);
    };
    std::mt19937 random(5);
    for (int width : {31, 32, 33, 63, 64, 65, 95, 990, 1279, 1280}) {
        const int height = 3, stride = width * 4 + 8;
        std::vector<uint8_t> pixels(size_t(stride) * height);
        for (uint8_t& b : pixels) b = uint8_t(random());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) pixels[size_t(y) * stride + 4 * size_t(x) + 3] = 255;
        const PlanarConverter converter(width, height);
        std::vector<uint8_t> out(converter.FrameSize());
        converter.Convert(pixels.data(), stride, out.data());
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                wrong += out[size_t(y) * width + x] != luma(&pixels[size_t(y) * stride + 4 * size_t(x)]);
        const int cw = (width + 1) / 2;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < cw; ++x) {
                int sum[3] = {0, 0, 0};
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        const uint8_t* p = &pixels[size_t(std::min(2 * y + dy, height - 1)) * stride +
                                                   4 * size_t(std::min(2 * x + dx, width - 1))];
                        for (int c = 0; c < 3; ++c) sum[c] += p[c];
                    }
                const size_t at = size_t(width) * height + size_t(y) * cw + x;
                wrong += out[at] != chroma(sum[2], sum[1], sum[0], false);
                wrong += out[at + size_t(cw) * 2] != chroma(sum[2], sum[1], sum[0], true);
            }
        EXPECT_EQ(wrong, 0) << "width " << width;
    }
}

}  // namespace
}  // namespace qm::conversion
