#include <algorithm>
#include <stdexcept>

#include "testing/swfwriter/bit_writer.h"

namespace qm::swfwriter {

namespace {

constexpr int kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kIndex2[] = {-1, 2};
constexpr int kIndex3[] = {-1, -1, 2, 4};
constexpr int kIndex4[] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kIndex5[] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};

struct Channel {
    int predicted = 0;
    int index = 0;
};

// One code for the target sample; the state moves exactly as a decoder's would.
uint32_t encodeSample(Channel& ch, int target, int bits) {
    const int* table = bits == 2 ? kIndex2 : bits == 3 ? kIndex3 : bits == 4 ? kIndex4 : kIndex5;
    const int step = kSteps[ch.index];
    int diff = target - ch.predicted;
    const bool negative = diff < 0;
    if (negative) diff = -diff;
    uint32_t magnitude = 0;
    int delta = step >> (bits - 1);
    int part = step;
    for (int k = bits - 2; k >= 0; --k) {
        if (diff >= part) {
            magnitude |= 1u << k;
            diff -= part;
            delta += part;
        }
        part >>= 1;
    }
    ch.predicted = std::clamp(negative ? ch.predicted - delta : ch.predicted + delta, -32768, 32767);
    ch.index = std::clamp(ch.index + table[magnitude], 0, 88);
    return (negative ? 1u << (bits - 1) : 0u) | magnitude;
}

}  // namespace

Bytes encodeADPCM(const std::vector<int16_t>& samples, int bitsPerCode, bool stereo) {
    if (bitsPerCode < 2 || bitsPerCode > 5) throw std::invalid_argument("ADPCM codes have 2..5 bits");
    const size_t channels = stereo ? 2 : 1;
    if (samples.size() % channels) throw std::invalid_argument("stereo samples come in pairs");
    const size_t frames = samples.size() / channels;
    detail::BitWriter w;
    w.ub(uint32_t(bitsPerCode - 2), 2);
    Channel state[2];
    for (size_t i = 0; i < frames; ++i) {
        const bool packetStart = i % 4096 == 0;
        for (size_t c = 0; c < channels; ++c) {
            const int16_t sample = samples[i * channels + c];
            if (packetStart) {
                // The packet header has six bits for the step index: the
                // encoder goes on from what the decoder will read.
                state[c].index = std::min(state[c].index, 63);
                state[c].predicted = sample;
                w.ub(uint16_t(sample), 16);
                w.ub(uint32_t(state[c].index), 6);
            } else {
                w.ub(encodeSample(state[c], sample, bitsPerCode), bitsPerCode);
            }
        }
    }
    return w.data();
}

}  // namespace qm::swfwriter
