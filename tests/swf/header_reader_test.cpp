#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "swf/header_reader.h"
#include "testing/swfwriter/swfwriter.h"

namespace fs = std::filesystem;
using namespace qm::swf;
namespace w = qm::swfwriter;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qm-header-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, ec);
        fs::remove_all(path_, ec);
    }
    std::string write(const std::string& name, const w::Bytes& bytes) const {
        const std::string p = (path_ / name).string();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size()));
        return p;
    }
    fs::path path() const { return path_; }

private:
    fs::path path_;
};

struct Info {
    bool ok = false;
    float rate = -1;
    int width = -1, height = -1, frames = -1;
    uint8_t version = 0;
};

Info info(const std::string& path) {
    Info i;
    i.ok = GetSWFInfo(path, i.rate, i.width, i.height, i.frames, i.version);
    return i;
}

w::Bytes movieBytes(w::Header h, int frames = 1) {
    w::Movie m(h);
    for (int i = 0; i < frames; ++i) m.showFrame();
    return m.bytes();
}

w::Bytes cws(const w::Bytes& plain) {
    w::Bytes out(plain.begin(), plain.begin() + 8);
    out[0] = 'C';
    const w::Bytes z = w::zlibCompress(w::Bytes(plain.begin() + 8, plain.end()));
    out.insert(out.end(), z.begin(), z.end());
    return out;
}

}  // namespace

TEST(BitsEngine, ReadsTheStageRectAndFieldsAcrossByteBoundaries) {
    TMemoryStream s({0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00, 0x80, 0x0C, 0xFF, 0xFF});
    TBitsEngine bits(s);
    const TSWFRect r = bits.ReadRect();
    EXPECT_EQ(r.Left, 0);
    EXPECT_EQ(r.Right, 11000);
    EXPECT_EQ(r.Top, 0);
    EXPECT_EQ(r.Bottom, 8000);
    EXPECT_EQ(bits.ReadWord(), 0x0C80);
    EXPECT_EQ(bits.ReadByte(), 0xFF);
    EXPECT_EQ(bits.ReadBits(0), 0u) << "no bits read, no byte taken";
    EXPECT_EQ(bits.ReadBits(-3), 0u);
    EXPECT_EQ(bits.ReadSignedBits(3), -1);  // 111
    EXPECT_EQ(bits.ReadBits(5), 0x1Fu);
    EXPECT_THROW(bits.ReadBits(1), ESWFEndOfStream);
}

TEST(BitsEngine, SignExtendsOnlyWhenTheTopBitIsSet) {
    TMemoryStream s({0b01111000, 0b00000000, 0xFF, 0xFF, 0xFF, 0xFF});
    TBitsEngine bits(s);
    EXPECT_EQ(bits.ReadSignedBits(4), 7);
    EXPECT_EQ(bits.ReadSignedBits(5), -16);  // 1000 0, spanning two bytes
    bits.FlushBits();
    EXPECT_EQ(bits.ReadSignedBits(32), -1);
}

TEST(SWFStreamReader, ReadHeaderModesConsumeTheirParts) {
    const w::Bytes b = movieBytes({.version = 7});
    TSWFStreamReader r;
    EXPECT_EQ(r.Version, 8) << "until a header is read";
    TMemoryStream s(b);
    EXPECT_EQ(r.ReadHeader(s, 1), 8u);
    EXPECT_EQ(r.Version, 7);
    EXPECT_EQ(r.FileLength, b.size());
    EXPECT_EQ(r.ReadHeader(s, 2), 13u);  // 9-byte RECT, rate, count
    s.Seek(0);
    EXPECT_EQ(r.ReadHeader(s, 0), 21u);
}

TEST(GetSWFInfo, ReportsTheHeaderFactsOfPlainAndCompressedMovies) {
    struct Case {
        const char* what;
        w::Header header;
        int width, height;
        float rate;
        int frames;
    };
    const Case cases[] = {
        {"550x400, 12.5 fps, 65535 frames",
         {.version = 10, .frame = w::Rect::pixels(550, 400), .frameRate = 0x0C80, .frameCount = 65535},
         550, 400, 12.5f, 65535},
        {"24 fps, compressed", {.signature = "CWS", .version = 6, .frameRate = 0x1800}, 550, 400, 24.0f, 1},
        {"Nbits 0", {.version = 1, .frame = {0, 0, 0, 0}, .frameRate = 0}, 0, 0, 0.0f, 1},
        {"negative origin", {.frame = {-200, 10800, -20, 7980}}, 550, 400, 24.0f, 1},
        {"width truncated", {.frame = {0, 11010, 0, 8019}}, 550, 400, 24.0f, 1},
        {"version 255", {.version = 255}, 550, 400, 24.0f, 1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const Info i = info(dir.write("movie.swf", movieBytes(c.header)));
        ASSERT_TRUE(i.ok) << c.what;
        EXPECT_EQ(i.width, c.width) << c.what;
        EXPECT_EQ(i.height, c.height) << c.what;
        EXPECT_EQ(i.rate, c.rate) << c.what;
        EXPECT_EQ(i.frames, c.frames) << c.what;
        EXPECT_EQ(i.version, c.header.version) << c.what;
    }
}

TEST(GetSWFInfo, RefusesByNameSignatureAndSize) {
    TempDir dir;
    const w::Bytes good = movieBytes({});
    EXPECT_TRUE(info(dir.write("movie.SWF", good)).ok);
    EXPECT_FALSE(info(dir.write("movie.swf.bak", good)).ok);
    EXPECT_FALSE(info(dir.write("movie.spl", good)).ok);
    EXPECT_FALSE(info((dir.path() / "missing.swf").string()).ok);
    fs::create_directory(dir.path() / "folder.swf");
    EXPECT_FALSE(info((dir.path() / "folder.swf").string()).ok);

    for (const char* sig : {"ZWS", "fws", "cws", "FWX"}) {
        w::Bytes b = good;
        std::copy(sig, sig + 3, b.begin());
        EXPECT_FALSE(info(dir.write("movie.swf", b)).ok) << sig;
    }
    EXPECT_FALSE(info(dir.write("movie.swf", {'F', 'W', 'S'})).ok);
    EXPECT_FALSE(info(dir.write("movie.swf", {})).ok);
}

TEST(GetSWFInfo, RefusesAMovieCutBeforeItsFrameCount) {
    TempDir dir;
    const w::Bytes good = movieBytes({});  // header fields end at byte 21
    for (size_t cut : {4u, 8u, 9u, 17u, 20u}) {
        const w::Bytes b(good.begin(), good.begin() + long(cut));
        EXPECT_FALSE(info(dir.write("movie.swf", b)).ok) << cut;
    }
    EXPECT_TRUE(info(dir.write("movie.swf", w::Bytes(good.begin(), good.begin() + 21))).ok);

    // Compressed: nothing to inflate, or less than the header fields.
    for (uint32_t length : {0u, 8u, 12u}) {
        w::Bytes b = cws(good);
        for (int i = 0; i < 4; ++i) b[size_t(4 + i)] = uint8_t(length >> (8 * i));
        TSWFStreamReader r;
        TMemoryStream s(b);
        r.LoadFromStream(s);
        EXPECT_FALSE(r.IsValid) << length;
        EXPECT_EQ(r.Refusal, TSWFRefusal::HeaderCut) << length;
        EXPECT_FALSE(info(dir.write("movie.swf", b)).ok) << length;
    }
}

TEST(GetSWFInfo, DamagedOrShortCompressedDataIsAnError) {
    TempDir dir;
    const w::Bytes good = cws(movieBytes({}, 200));
    ASSERT_TRUE(info(dir.write("movie.swf", good)).ok);

    w::Bytes damaged = good;
    damaged[8] ^= 0xFF;  // the zlib header
    EXPECT_THROW(info(dir.write("movie.swf", damaged)), ESWFReadError);

    w::Bytes shortData(good.begin(), good.end() - 6);
    EXPECT_THROW(info(dir.write("movie.swf", shortData)), ESWFReadError);

    w::Bytes tooLong = good;  // declares more than the stream holds
    tooLong[4] += 1;
    EXPECT_THROW(info(dir.write("movie.swf", tooLong)), ESWFReadError);
}

TEST(GetSWFInfo, HugeDeclaredLengthOfASmallFileIsAnError) {
    TempDir dir;
    w::Bytes b = cws(movieBytes({}));
    b[4] = b[5] = b[6] = b[7] = 0xFF;  // 4 GiB from a few dozen bytes
    EXPECT_THROW(info(dir.write("movie.swf", b)), ESWFReadError);
}

TEST(GetSWFInfo, APipeNamedLikeAMovieIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = (dir.path() / "pipe.swf").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(info(fifo).ok);
}

TEST(GetSWFInfo, UnopenableFileRaises) {
    TempDir dir;
    EXPECT_THROW(TSWFStreamReader((dir.path() / "gone.swf").string()), ESWFReadError);

    if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    const std::string locked = dir.write("locked.swf", movieBytes({}));
    fs::permissions(locked, fs::perms::none);
    EXPECT_THROW(info(locked), ESWFReadError);
}
