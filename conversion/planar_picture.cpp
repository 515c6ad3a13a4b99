// The conversion runs once a frame on a render worker, beside the encoder on the other core:
// thirty-two pixels at a time with AVX2 where the processor has it, sixteen with SSE2 (every
// x86-64 processor has that), the same integer formula as the plain loop that takes the ends of
// rows, so the result does not depend on the path.
#include "conversion/planar_picture.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qm::conversion {

namespace {

// Coefficients in 1/65536; the chroma sums four pixels, hence 1/262144.
uint8_t LumaOf(const uint8_t* p) {
    return uint8_t((16829 * p[2] + 33039 * p[1] + 6416 * p[0] + (16 << 16) + (1 << 15)) >> 16);
}
uint8_t ChromaU(int R, int G, int B) {
    return uint8_t((-9714 * R - 19070 * G + 28784 * B + (128 << 18) + (1 << 17)) >> 18);
}
uint8_t ChromaV(int R, int G, int B) {
    return uint8_t((28784 * R - 24103 * G - 4681 * B + (128 << 18) + (1 << 17)) >> 18);
}

#if defined(__SSE2__)
// [a0 b0 a1 b1], [a2 b2 a3 b3] -> [a0+b0, a1+b1, a2+b2, a3+b3]
__m128i PairSums(__m128i d, __m128i e) {
    const __m128 x = _mm_castsi128_ps(d), y = _mm_castsi128_ps(e);
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1))));
}

// Four pixels to their luma. G's coefficient does not fit a signed 16-bit product, so G takes
// the alpha's place as well and the coefficient is split between the two.
__m128i Luma4(__m128i px) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i k = _mm_setr_epi16(6416, 16520, 16829, 16519, 6416, 16520, 16829, 16519);
    auto bgrg = [](__m128i w) {
        return _mm_shufflehi_epi16(_mm_shufflelo_epi16(w, _MM_SHUFFLE(1, 2, 1, 0)), _MM_SHUFFLE(1, 2, 1, 0));
    };
    const __m128i lo = _mm_madd_epi16(bgrg(_mm_unpacklo_epi8(px, zero)), k);
    const __m128i hi = _mm_madd_epi16(bgrg(_mm_unpackhi_epi8(px, zero)), k);
    return _mm_srli_epi32(_mm_add_epi32(PairSums(lo, hi), _mm_set1_epi32((16 << 16) + (1 << 15))), 16);
}

// Four 2x2 blocks (eight pixels of rows a and b) to their U and V.
void Chroma4(const uint8_t* a, const uint8_t* b, __m128i& u, __m128i& v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16));
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16));
    // The rows added, then each pixel to its neighbour: [B G R A] sums of blocks 0 1, then 2 3.
    const __m128i p01 = _mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(b0, zero));
    const __m128i p23 = _mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(b0, zero));
    const __m128i p45 = _mm_add_epi16(_mm_unpacklo_epi8(a1, zero), _mm_unpacklo_epi8(b1, zero));
    const __m128i p67 = _mm_add_epi16(_mm_unpackhi_epi8(a1, zero), _mm_unpackhi_epi8(b1, zero));
    const __m128i s01 = _mm_add_epi16(_mm_unpacklo_epi64(p01, p23), _mm_unpackhi_epi64(p01, p23));
    const __m128i s23 = _mm_add_epi16(_mm_unpacklo_epi64(p45, p67), _mm_unpackhi_epi64(p45, p67));
    const __m128i ku = _mm_setr_epi16(28784, -19070, -9714, 0, 28784, -19070, -9714, 0);
    const __m128i kv = _mm_setr_epi16(-4681, -24103, 28784, 0, -4681, -24103, 28784, 0);
    const __m128i round = _mm_set1_epi32((128 << 18) + (1 << 17));
    u = _mm_srai_epi32(_mm_add_epi32(PairSums(_mm_madd_epi16(s01, ku), _mm_madd_epi16(s23, ku)), round), 18);
    v = _mm_srai_epi32(_mm_add_epi32(PairSums(_mm_madd_epi16(s01, kv), _mm_madd_epi16(s23, kv)), round), 18);
}
#endif

#if defined(__x86_64__)
// The same steps on eight pixels at a time where the processor has AVX2: each 128-bit half does
// what the SSE2 code does, and a last permute puts the halves' results back in order.
#define QM_AVX2 __attribute__((target("avx2")))

QM_AVX2 __m256i PairSums8(__m256i d, __m256i e) {
    const __m256 x = _mm256_castsi256_ps(d), y = _mm256_castsi256_ps(e);
    return _mm256_add_epi32(_mm256_castps_si256(_mm256_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0))),
                            _mm256_castps_si256(_mm256_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1))));
}

QM_AVX2 __m256i Bgrg8(__m256i w) {
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(w, _MM_SHUFFLE(1, 2, 1, 0)), _MM_SHUFFLE(1, 2, 1, 0));
}

QM_AVX2 __m256i Luma8(__m256i px) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i k = _mm256_setr_epi16(6416, 16520, 16829, 16519, 6416, 16520, 16829, 16519, 6416, 16520, 16829,
                                        16519, 6416, 16520, 16829, 16519);
    const auto bgrg = Bgrg8;
    const __m256i lo = _mm256_madd_epi16(bgrg(_mm256_unpacklo_epi8(px, zero)), k);
    const __m256i hi = _mm256_madd_epi16(bgrg(_mm256_unpackhi_epi8(px, zero)), k);
    return _mm256_srli_epi32(_mm256_add_epi32(PairSums8(lo, hi), _mm256_set1_epi32((16 << 16) + (1 << 15))), 16);
}

QM_AVX2 int LumaRowWide(const uint8_t* p, uint8_t* y, int w) {
    int x = 0;
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (; x + 32 <= w; x += 32) {
        const auto* s = reinterpret_cast<const __m256i*>(p + 4 * size_t(x));
        const __m256i l0 = Luma8(_mm256_loadu_si256(s)), l1 = Luma8(_mm256_loadu_si256(s + 1));
        const __m256i l2 = Luma8(_mm256_loadu_si256(s + 2)), l3 = Luma8(_mm256_loadu_si256(s + 3));
        const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(l0, l1), _mm256_packs_epi32(l2, l3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + x), _mm256_permutevar8x32_epi32(packed, order));
    }
    return x;
}

// Eight 2x2 blocks (sixteen pixels of rows a and b) to their U and V, in order.
QM_AVX2 void Chroma8(const uint8_t* a, const uint8_t* b, __m256i& u, __m256i& v) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 32));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32));
    const __m256i p01 = _mm256_add_epi16(_mm256_unpacklo_epi8(a0, zero), _mm256_unpacklo_epi8(b0, zero));
    const __m256i p23 = _mm256_add_epi16(_mm256_unpackhi_epi8(a0, zero), _mm256_unpackhi_epi8(b0, zero));
    const __m256i p45 = _mm256_add_epi16(_mm256_unpacklo_epi8(a1, zero), _mm256_unpacklo_epi8(b1, zero));
    const __m256i p67 = _mm256_add_epi16(_mm256_unpackhi_epi8(a1, zero), _mm256_unpackhi_epi8(b1, zero));
    const __m256i s01 = _mm256_add_epi16(_mm256_unpacklo_epi64(p01, p23), _mm256_unpackhi_epi64(p01, p23));
    const __m256i s23 = _mm256_add_epi16(_mm256_unpacklo_epi64(p45, p67), _mm256_unpackhi_epi64(p45, p67));
    const __m256i ku = _mm256_setr_epi16(28784, -19070, -9714, 0, 28784, -19070, -9714, 0, 28784, -19070, -9714, 0,
                                         28784, -19070, -9714, 0);
    const __m256i kv = _mm256_setr_epi16(-4681, -24103, 28784, 0, -4681, -24103, 28784, 0, -4681, -24103, 28784, 0,
                                         -4681, -24103, 28784, 0);
    const __m256i round = _mm256_set1_epi32((128 << 18) + (1 << 17));
    // The low halves hold blocks 0 1 4 5, the high halves 2 3 6 7.
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    u = _mm256_permutevar8x32_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(PairSums8(_mm256_madd_epi16(s01, ku), _mm256_madd_epi16(s23, ku)), round), 18),
        order);
    v = _mm256_permutevar8x32_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(PairSums8(_mm256_madd_epi16(s01, kv), _mm256_madd_epi16(s23, kv)), round), 18),
        order);
}

// Sixteen blocks a step; returns the blocks done.
QM_AVX2 int ChromaRowWide(const uint8_t* a, const uint8_t* b, uint8_t* ur, uint8_t* vr, int pairs) {
    int x = 0;
    for (; x + 16 <= pairs; x += 16) {
        __m256i u0, v0, u1, v1;
        Chroma8(a + 8 * size_t(x), b + 8 * size_t(x), u0, v0);
        Chroma8(a + 8 * size_t(x) + 64, b + 8 * size_t(x) + 64, u1, v1);
        // packs and packus work within halves: blocks 0-3 8-11 | 4-7 12-15, put back in order.
        const __m256i u = _mm256_permute4x64_epi64(_mm256_packs_epi32(u0, u1), _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i v = _mm256_permute4x64_epi64(_mm256_packs_epi32(v0, v1), _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(u, v), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ur + x), _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(vr + x), _mm256_extracti128_si256(bytes, 1));
    }
    return x;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

void LumaRow(const uint8_t* p, uint8_t* y, int w) {
    int x = 0;
#if defined(__x86_64__)
    if (HasAvx2()) x = LumaRowWide(p, y, w);
#endif
#if defined(__SSE2__)
    for (; x + 16 <= w; x += 16) {
        const auto* s = reinterpret_cast<const __m128i*>(p + 4 * size_t(x));
        const __m128i l0 = Luma4(_mm_loadu_si128(s)), l1 = Luma4(_mm_loadu_si128(s + 1));
        const __m128i l2 = Luma4(_mm_loadu_si128(s + 2)), l3 = Luma4(_mm_loadu_si128(s + 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x),
                         _mm_packus_epi16(_mm_packs_epi32(l0, l1), _mm_packs_epi32(l2, l3)));
    }
#endif
    for (; x < w; ++x) y[x] = LumaOf(p + 4 * size_t(x));
}

void ChromaRow(const uint8_t* a, const uint8_t* b, uint8_t* ur, uint8_t* vr, int w) {
    const int pairs = w / 2;
    int x = 0;
#if defined(__x86_64__)
    if (HasAvx2()) x = ChromaRowWide(a, b, ur, vr, pairs);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 8 <= pairs; x += 8) {
        __m128i u0, v0, u1, v1;
        Chroma4(a + 8 * size_t(x), b + 8 * size_t(x), u0, v0);
        Chroma4(a + 8 * size_t(x) + 32, b + 8 * size_t(x) + 32, u1, v1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(ur + x), _mm_packus_epi16(_mm_packs_epi32(u0, u1), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(vr + x), _mm_packus_epi16(_mm_packs_epi32(v0, v1), zero));
    }
#endif
    for (; x < pairs; ++x) {
        const int B = a[8 * x] + a[8 * x + 4] + b[8 * x] + b[8 * x + 4];
        const int G = a[8 * x + 1] + a[8 * x + 5] + b[8 * x + 1] + b[8 * x + 5];
        const int R = a[8 * x + 2] + a[8 * x + 6] + b[8 * x + 2] + b[8 * x + 6];
        ur[x] = ChromaU(R, G, B);
        vr[x] = ChromaV(R, G, B);
    }
    if (w & 1) {  // the last column alone
        const int x = w - 1;
        const int B = 2 * (a[4 * x] + b[4 * x]), G = 2 * (a[4 * x + 1] + b[4 * x + 1]),
                  R = 2 * (a[4 * x + 2] + b[4 * x + 2]);
        ur[pairs] = ChromaU(R, G, B);
        vr[pairs] = ChromaV(R, G, B);
    }
}

}  // namespace

void PlanarConverter::Convert(const uint8_t* bgra, int stride, uint8_t* out) const {
    const int w = width_;
    const size_t cw = ChromaWidth();
    uint8_t* y = out;
    uint8_t* u = y + size_t(w) * size_t(height_);
    uint8_t* v = u + cw * size_t((height_ + 1) / 2);
    for (int row = 0; row < height_; row += 2) {
        const uint8_t* a = bgra + size_t(row) * size_t(stride);
        const bool pair = row + 1 < height_;
        const uint8_t* b = pair ? a + stride : a;  // an odd last row counts twice
        LumaRow(a, y + size_t(row) * size_t(w), w);
        if (pair) LumaRow(b, y + size_t(row + 1) * size_t(w), w);
        ChromaRow(a, b, u + size_t(row / 2) * cw, v + size_t(row / 2) * cw, w);
    }
}

}  // namespace qm::conversion
