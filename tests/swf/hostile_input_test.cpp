// Inputs the fuzzers found hard to survive: each case is the smallest movie that showed the
// fault, kept so the fault stays fixed.
#include <gtest/gtest.h>
#include <lzma.h>

#include <atomic>
#include <cstddef>
#include <optional>

#include "swf/limits.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

#if defined(__SANITIZE_ADDRESS__)
#define QM_HAS_ALLOCATION_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_HAS_ALLOCATION_HOOKS 1
#endif
#endif

#ifdef QM_HAS_ALLOCATION_HOOKS
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace w = qm::swfwriter;
using namespace qm::swf;

namespace {

// The largest single block asked of the allocator while watching, by any library (the
// decompressors allocate with malloc, out of reach of operator new).
std::atomic<bool> watching{false};
std::atomic<size_t> largest{0};

#ifdef QM_HAS_ALLOCATION_HOOKS
void OnMalloc(const volatile void*, size_t size) {
    if (!watching.load(std::memory_order_relaxed)) return;
    size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
}
void OnFree(const volatile void*) {}
const bool hooked = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
#endif

template <class F>
size_t LargestAllocation(F&& f) {
    largest = 0;
    watching = true;
    f();
    watching = false;
    return largest;
}

// The movie as a "ZWS" file: UI32 packed size, the 5 property bytes, the raw LZMA data; the
// header's length as given, else the true one.
Bytes LzmaMovie(const Bytes& fws, uint32_t dictionary_override, std::optional<uint32_t> declared = std::nullopt) {
    lzma_options_lzma options;
    EXPECT_FALSE(lzma_lzma_preset(&options, 6));
    lzma_stream z = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_alone_encoder(&z, &options), LZMA_OK);
    Bytes out(fws.size() + 1024);
    z.next_in = fws.data() + 8;
    z.avail_in = fws.size() - 8;
    z.next_out = out.data();
    z.avail_out = out.size();
    EXPECT_EQ(lzma_code(&z, LZMA_FINISH), LZMA_STREAM_END);
    out.resize(out.size() - z.avail_out);
    lzma_end(&z);
    // Properties: one byte of lc/lp/pb, then the dictionary size the decoder will set aside.
    for (int i = 0; i < 4; ++i) out[1 + i] = uint8_t(dictionary_override >> (8 * i));
    Bytes zws(fws.begin(), fws.begin() + 8);
    zws[0] = 'Z';
    if (declared)
        for (int i = 0; i < 4; ++i) zws[4 + i] = uint8_t(*declared >> (8 * i));
    const uint32_t packed = uint32_t(out.size() - 13);
    for (int i = 0; i < 4; ++i) zws.push_back(uint8_t(packed >> (8 * i)));
    zws.insert(zws.end(), out.begin(), out.begin() + 5);
    zws.insert(zws.end(), out.begin() + 13, out.end());
    return zws;
}

}  // namespace

// The LZMA decoder sets aside the dictionary the file's properties name before it reads a
// byte: a hundred-byte movie naming 4 GiB took 4 GiB. The dictionary is cut to the movie's
// length, which is all a back reference can reach, so the movie still reads whole.
TEST(HostileInput, LzmaDictionaryLargerThanTheMovieIsNotSetAside) {
    w::Movie plain({.version = 10, .frame = w::Rect::pixels(320, 240)});
    plain.frameLabel("start");
    plain.showFrame();
    plain.frameLabel("second");
    plain.showFrame();
    const Bytes fws = plain.bytes();
    for (uint32_t dictionary : {uint32_t(1) << 23, uint32_t(1) << 30, 0xFFFFFFFFu}) {
        SCOPED_TRACE(dictionary);
        const Bytes zws = LzmaMovie(fws, dictionary);
        ParseResult r;
        const size_t largest_block = LargestAllocation([&] { r = ParseMovie(zws); });
        ASSERT_TRUE(r.movie) << r.error->message;
        EXPECT_EQ(r.movie->header.compression, Compression::Lzma);
        ASSERT_EQ(r.movie->tags.size(), 5u);
        EXPECT_EQ(BodyIf<FrameLabel>(r.movie->tags[2].body)->name, "second");
        EXPECT_FALSE(r.movie->truncated);
#ifdef QM_HAS_ALLOCATION_HOOKS
        ASSERT_TRUE(hooked);
        EXPECT_LT(largest_block, size_t(1) << 20);
#else
        (void)largest_block;
#endif
    }
}

// Within the declared length the dictionary is still bounded by what the bomb check lets the
// compressed bytes expand to: a tiny file declaring nearly the largest movie allowed sets aside
// tens of MiB, not the gigabyte it names.
TEST(HostileInput, LzmaDictionaryIsBoundedByWhatTheFileCanExpandTo) {
    w::Movie plain({.version = 10});
    plain.showFrame();
    const Bytes zws = LzmaMovie(plain.bytes(), 0xFFFFFFFFu, uint32_t(qm::limits::kMaxMovieBytes) - 1);
    ASSERT_LT(zws.size(), 100u);
    ParseResult r;
    const size_t largest_block = LargestAllocation([&] { r = ParseMovie(zws); });
    ASSERT_TRUE(r.movie || r.error);
#ifdef QM_HAS_ALLOCATION_HOOKS
    EXPECT_LT(largest_block, qm::limits::kInflateRatioCheckBytes + (4u << 20));
#else
    (void)largest_block;
#endif
}
