// The movie writer must produce exactly the bytes of the format, or every test built on it lies.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>

#include "testing/swfwriter/swfwriter.h"

using namespace qm::swfwriter;

namespace {

Bytes hex(const char* text) {
    Bytes out;
    unsigned v = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
        v = v * 16 + unsigned(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
        if (++digits == 2) {
            out.push_back(uint8_t(v));
            v = 0;
            digits = 0;
        }
    }
    return out;
}

}  // namespace

// A one-frame movie with a stroked rectangle; the DefineShape header is the short form here.
TEST(MovieWriter, WritesTheKnownRectangleMovieByteForByte) {
    Movie movie({.version = 3, .frame = Rect::pixels(550, 400), .frameRate = fps(12)});
    movie.setBackgroundColor({255, 255, 255});
    Shape s;
    s.bounds = Rect{2010, 4910, 1670, 4010};
    s.line(s.addLine({.width = 20, .color = {0, 0, 0}})).moveTo(4900, 1680);
    s.lineTo(4900, 4000).lineTo(2020, 4000).lineTo(2020, 1680).lineTo(4900, 1680);
    EXPECT_EQ(movie.defineShape(s, 1), 1);
    movie.place({.depth = 1, .character = 1, .matrix = Matrix{}});
    movie.showFrame();

    EXPECT_EQ(movie.bytes(), hex("46 57 53 03 4B 00 00 00  78 00 05 5F 00 00 0F A0 00  00 0C  01 00"
                                 "43 02 FF FF FF"
                                 "A3 00  01 00  70 FB 49 97 0D 0C 7D 50  00  01 14 00 00 00 00  01"
                                 "25 C9 92 0D 21 ED 48 87 65 30 3B 6D E1 D8 B4 00 00"
                                 "86 06 06 01 00 01 00 00  40 00  00 00"));
}

TEST(MovieWriter, CompressedMovieInflatesToThePlainOne) {
    Header h{.version = 9, .frame = Rect::pixels(320, 240), .frameRate = 0x0C80};
    Movie plain(h);
    h.signature = "CWS";
    Movie packed(h);
    for (Movie* m : {&plain, &packed}) {
        m->showFrame();
        m->showFrame();
    }
    const Bytes a = plain.bytes(), b = packed.bytes();
    ASSERT_EQ(Bytes(b.begin(), b.begin() + 3), Bytes({'C', 'W', 'S'}));
    EXPECT_EQ(Bytes(a.begin() + 3, a.begin() + 8), Bytes(b.begin() + 3, b.begin() + 8));
    Bytes inflated(a.size() - 8);
    uLongf n = uLongf(inflated.size());
    ASSERT_EQ(uncompress(inflated.data(), &n, b.data() + 8, uLong(b.size() - 8)), Z_OK);
    EXPECT_EQ(inflated, Bytes(a.begin() + 8, a.end()));
    EXPECT_EQ(a[a.size() - 8], 2) << "frame count is the ShowFrame tags";
}

TEST(MovieWriter, HeaderOverridesAndRawTagsForgeDamage) {
    Movie m({.signature = "fws", .version = 200, .frameCount = 65535, .fileLength = 4000000000u,
             .appendEnd = false});
    m.rawTag(2, {1, 2, 3}, true);
    const Bytes b = m.bytes();
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), hex("66 77 73 C8 00 28 6B EE"));
    EXPECT_EQ(Bytes(b.end() - 9, b.end()), hex("BF 00 03 00 00 00 01 02 03"));
}

TEST(MovieWriter, SpriteCarriesItsFramesAndEnd) {
    Movie m;
    Sprite clip = m.sprite();
    clip.showFrame();
    clip.showFrame();
    clip.showFrame();
    m.defineSprite(clip);
    const Bytes b = m.bytes();
    // header 8 + rect 9 + rate/count 4, then DefineSprite (code 39, 12 bytes): id, 3 frames,
    // three ShowFrame, End; then the movie's End.
    EXPECT_EQ(Bytes(b.begin() + 21, b.end()),
              hex("CC 09 01 00 03 00 40 00 40 00 40 00 00 00 00 00"));
}

TEST(ActionAssembler, ResolvesLabelsBothWaysAndEncodesEveryPushType) {
    Actions a;
    a.label("top").push({"s", Float{1.5f}, Null{}, Undefined{}, Register{2}, true, 1.0, -2,
                         Constant{3}, Constant{300}});
    a.if_("end").jump("top").label("end").trace();
    EXPECT_EQ(a.bytes(),
              hex("96 21 00  00 73 00  01 00 00 C0 3F  02  03  04 02  05 01"
                  "06 00 00 F0 3F 00 00 00 00  07 FE FF FF FF  08 03  09 2C 01"
                  "9D 02 00 05 00  99 02 00 D2 FF  26"));
    EXPECT_THROW(Actions().jump("nowhere").bytes(), std::runtime_error);
}

TEST(ActionAssembler, FunctionBodiesFollowTheirRecord) {
    Actions body;
    body.push({"x"}).getVariable().return_();
    Actions a;
    a.defineFunction("f", {"x"}, body);
    EXPECT_EQ(a.bytes(), hex("9B 08 00 66 00 01 00 78 00 08 00  96 03 00 00 78 00 1C 3E"));
    Actions b;
    b.defineFunction2("", 3, 0x0001, {{1, "x"}}, Actions().push({Register{1}}).return_());
    EXPECT_EQ(b.bytes(), hex("8E 0B 00 00 01 00 03 01 00 01 78 00 06 00  96 02 00 04 01 3E"));
}

TEST(MovieWriter, ClipEventFlagsFollowTheMovieVersion) {
    auto placeTag = [](uint8_t version) {
        Movie m({.version = 5, .appendEnd = false});
        m.header.version = version;
        m.place({.depth = 1, .character = 1, .clipActions = {{kClipLoad, 0, Actions().stop()}}});
        const Bytes b = m.bytes();
        return Bytes(b.begin() + 21, b.end());
    };
    EXPECT_EQ(placeTag(5), hex("93 06 82 01 00 01 00  00 00 01 00  01 00 02 00 00 00 07 00  00 00"));
    EXPECT_EQ(placeTag(6), hex("99 06 82 01 00 01 00  00 00 01 00 00 00  01 00 00 00 02 00 00 00 07 00"
                               "00 00 00 00"));
}

// Decodes as the format describes, to see the encoder's codes land near the signal.
TEST(AdpcmEncoder, CodesFollowTheSignalInEveryCodeSize) {
    static const int steps[89] = {
        7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66,
        73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449,
        494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272,
        2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493,
        10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    static const std::vector<int> indexTables[] = {
        {-1, 2}, {-1, -1, 2, 4}, {-1, -1, -1, -1, 2, 4, 6, 8},
        {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16}};
    std::vector<int16_t> signal(5000);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = int16_t(12000 * std::sin(double(i) * 0.05) + 3000 * std::sin(double(i) * 0.31));

    for (int bits = 2; bits <= 5; ++bits) {
        const Bytes data = encodeADPCM(signal, bits);
        size_t pos = 0;
        auto read = [&](int n) {
            uint32_t v = 0;
            for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((data[pos / 8] >> (7 - pos % 8)) & 1);
            return v;
        };
        ASSERT_EQ(read(2), uint32_t(bits - 2));
        int sample = 0, index = 0;
        double worst = 0;
        for (size_t i = 0; i < signal.size(); ++i) {
            if (i % 4096 == 0) {
                sample = int16_t(read(16));
                index = int(read(6));
            } else {
                const uint32_t code = read(bits), sign = 1u << (bits - 1), mag = code & (sign - 1);
                const int step = steps[index];
                int diff = step >> (bits - 1);
                for (int k = bits - 2; k >= 0; --k)
                    if (mag & (1u << k)) diff += step >> (bits - 2 - k);
                sample = std::clamp(code & sign ? sample - diff : sample + diff, -32768, 32767);
                index = std::clamp(index + indexTables[bits - 2][mag], 0, 88);
            }
            if (i > 50) worst = std::max(worst, std::abs(double(sample - signal[i])));
        }
        EXPECT_EQ((pos + 7) / 8, data.size()) << bits;
        EXPECT_LT(worst, bits == 2 ? 6000 : 2500) << bits << "-bit codes";
    }
}
