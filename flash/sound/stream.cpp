// Timeline streams read as they play: where each frame's sound begins is
// worked out once, the samples are decoded block by block just ahead of the
// mixer and dropped once mixed. The samples are those of the whole stream
// decoded at once and resampled, whatever the pieces it is read in.
#include <algorithm>

#include "flash/sound/sound.h"

namespace qm::flash::sound {

namespace {

constexpr uint64_t kOutRateX2 = 2 * kRate;

}  // namespace

std::shared_ptr<const StreamSource> StreamSource::Make(
    const swf::SoundStreamHead& head, const StreamBlocks& blocks,
    uint16_t frame_rate, std::string& error) {
    std::shared_ptr<StreamSource> s(new StreamSource);
    const swf::SoundFormat& format = head.stream;
    s->format_ = format;
    s->channels_ = format.is_stereo ? 2 : 1;
    s->rate_x2_ = RateX2(format);
    // Where each frame's sound begins, first in source sample frames, then
    // turned into frames at kRate in place: one flat list, no copy of it.
    auto& starts = s->frame_start_;
    starts.reserve(blocks.size());
    s->blocks_.reserve(blocks.size());
    auto mark = [&starts](uint16_t frame, uint64_t start) {
        // A frame given twice keeps its last.
        if (!starts.empty() && starts.back().first == frame) starts.back().second = start;
        else starts.emplace_back(frame, start);
    };
    // Blocks out of frame order are put in order, the last of a frame kept.
    auto order = [&starts] {
        const auto by_frame = [](const auto& a, const auto& b) { return a.first < b.first; };
        if (std::is_sorted(starts.begin(), starts.end(), by_frame) &&
            std::adjacent_find(starts.begin(), starts.end(), [](const auto& a, const auto& b) { return a.first == b.first; }) == starts.end())
            return;
        std::stable_sort(starts.begin(), starts.end(), by_frame);
        std::reverse(starts.begin(), starts.end());
        starts.erase(std::unique(starts.begin(), starts.end(), [](const auto& a, const auto& b) { return a.first == b.first; }), starts.end());
        std::reverse(starts.begin(), starts.end());
    };
    if (format.codec == swf::SoundCodec::Mp3) {
        s->mp3_ = true;
        // The blocks' MP3 frames make one continuous stream; a block says
        // how many samples it holds and how far into them its frame begins.
        uint64_t total = 0;
        std::optional<int64_t> latency;
        if (head.latency_seek) latency = *head.latency_seek;
        bool first = true;
        for (const auto& [frame, data] : blocks) {
            if (data.size() < 4) continue;
            const uint16_t count = uint16_t(data[0] | (data[1] << 8));
            const int16_t seek = int16_t(uint16_t(data[2] | (data[3] << 8)));
            if (first && !latency) latency = seek;
            if (count > 0) {
                const int64_t start = first ? *latency : int64_t(total) + seek + *latency;
                mark(frame, uint64_t(std::max<int64_t>(start, 0)));
                first = false;
            }
            total += count;
            if (data.size() > 4) s->blocks_.push_back({data.subspan(4)});
        }
        if (s->blocks_.empty()) {
            error = "the stream holds no samples";
            return nullptr;
        }
        // The rate and channels the decoder will give are those of the
        // first frame; a frame may begin in one block and end in the next.
        std::vector<uint8_t> scan;
        bool found = false;
        for (const Block& b : s->blocks_) {
            scan.insert(scan.end(), b.data.begin(), b.data.end());
            size_t stopped = 0;
            const auto frames = Mp3Frames(scan, stopped);
            if (!frames.empty()) {
                found = Mp3FrameFormat(std::span<const uint8_t>(scan).subspan(frames.front().first), s->rate_x2_,
                                       s->channels_);
                break;
            }
            scan.erase(scan.begin(), scan.begin() + std::ptrdiff_t(stopped));
        }
        if (!found) {
            error = "the MP3 sound gives no samples";
            return nullptr;
        }
        FfmpegDecoder decoder;
        if (!decoder.Open(format, error)) return nullptr;
        order();
        for (auto& entry : starts) entry.second = entry.second * kOutRateX2 / s->rate_x2_;
        starts.shrink_to_fit();
        s->blocks_.shrink_to_fit();
        return s;
    }
    // Other codings decode block by block: each block's length is known
    // by decoding it once, and the blocks that give nothing are left out.
    std::string first_error;
    uint64_t before = 0;
    for (const auto& [frame, data] : blocks) {
        NativePcm part;
        std::string block_error;
        if (!DecodeNative(format, data, part, block_error)) {
            if (first_error.empty()) first_error = block_error;
            continue;
        }
        const size_t channels = size_t(part.channels);
        size_t frames = part.samples.size() / channels;
        if (format.codec == swf::SoundCodec::Adpcm && frame_rate) {
            // Padding codes would make every block a little longer than
            // its frame: drop those that run past the frame's ideal end.
            const uint64_t ideal_end = (uint64_t(frame - blocks.front().first) + 1) * part.rate_x2 * 128 / frame_rate;
            const size_t fewest = AdpcmFewestFrames(format, data.size(), frames);
            const size_t allowed = ideal_end > before ? size_t(ideal_end - before) : 0;
            frames = std::max(fewest, std::min(frames, allowed));
        }
        mark(frame, before);
        s->blocks_.push_back({data, before, frames});
        s->channels_ = part.channels;
        s->rate_x2_ = part.rate_x2;
        before += frames;
    }
    if (before == 0) {
        error = first_error.empty() ? "the stream holds no samples" : first_error;
        return nullptr;
    }
    s->known_frames_ = (before * kOutRateX2 + s->rate_x2_ - 1) / s->rate_x2_;
    order();
    for (auto& entry : starts) entry.second = entry.second * kOutRateX2 / s->rate_x2_;
    std::erase_if(starts, [&](const auto& entry) { return entry.second >= s->known_frames_; });
    starts.shrink_to_fit();
    s->blocks_.shrink_to_fit();
    return s;
}

std::optional<uint64_t> StreamSource::FrameStart(uint16_t frame) const {
    auto it = std::lower_bound(frame_start_.begin(), frame_start_.end(), frame,
                               [](const std::pair<uint16_t, uint64_t>& entry, uint16_t f) { return entry.first < f; });
    if (it == frame_start_.end() || it->first != frame) return std::nullopt;
    return it->second;
}

StreamReader::StreamReader(std::shared_ptr<const StreamSource> source) : source_(std::move(source)) { Restart(0); }

StreamReader::~StreamReader() = default;

void StreamReader::Restart(uint64_t source_frame) {
    native_.clear();
    pending_.clear();
    source_done_ = false;
    channels_ = source_->channels_;
    rate_x2_ = source_->rate_x2_;
    const auto& blocks = source_->blocks_;
    if (source_->mp3_) {
        // MP3 frames lean on the ones before them: from the start again.
        native_base_ = 0;
        next_block_ = 0;
        decoder_ = std::make_unique<FfmpegDecoder>();
        std::string error;
        if (!decoder_->Open(source_->format_, error)) source_done_ = true;
        return;
    }
    // Other blocks decode alone: on from the one that holds the frame.
    auto it = std::upper_bound(blocks.begin(), blocks.end(), source_frame,
                               [](uint64_t f, const StreamSource::Block& b) { return f < b.start; });
    next_block_ = it == blocks.begin() ? 0 : size_t(it - blocks.begin()) - 1;
    native_base_ = blocks.empty() ? 0 : blocks[next_block_].start;
    source_done_ = blocks.empty();
}

void StreamReader::DecodeNextBlock() {
    const auto& blocks = source_->blocks_;
    if (source_->mp3_) {
        if (next_block_ >= blocks.size()) {
            decoder_->Finish(native_);
            source_done_ = true;
            return;
        }
        const auto data = blocks[next_block_++].data;
        pending_.insert(pending_.end(), data.begin(), data.end());
        size_t stopped = 0;
        for (const auto& [offset, size] : Mp3Frames(pending_, stopped))
            decoder_->Decode(std::span<const uint8_t>(pending_).subspan(offset, size), native_);
        pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(stopped));
        channels_ = decoder_->Channels();
        rate_x2_ = decoder_->RateX2();
        return;
    }
    if (next_block_ >= blocks.size()) {
        source_done_ = true;
        return;
    }
    const StreamSource::Block& block = blocks[next_block_++];
    NativePcm part;
    std::string error;
    const size_t wanted = size_t(block.frames) * size_t(channels_);
    const size_t at = native_.size();
    if (DecodeNative(source_->format_, block.data, part, error) && part.channels == channels_) {
        native_.insert(native_.end(), part.samples.begin(),
                       part.samples.begin() + std::ptrdiff_t(std::min(wanted, part.samples.size())));
    }
    // As long as the first decoding found it, whatever this one gives.
    native_.resize(at + wanted, 0);
    if (next_block_ >= blocks.size()) source_done_ = true;
}

void StreamReader::Drop(uint64_t keep_from) {
    if (keep_from <= native_base_) return;
    const uint64_t held = native_.size() / size_t(channels_);
    const uint64_t n = std::min(keep_from - native_base_, held);
    native_.erase(native_.begin(), native_.begin() + std::ptrdiff_t(n * uint64_t(channels_)));
    native_base_ += n;
}

void StreamReader::Fill(uint64_t need, uint64_t keep_from) {
    while (!source_done_ && HeldEnd() <= need) {
        DecodeNextBlock();
        Drop(keep_from);
    }
}

size_t StreamReader::Read(uint64_t at, int16_t* out, size_t count) {
    auto source_frame = [&](uint64_t j) { return j * rate_x2_ / kOutRateX2; };
    if (at < position_) {
        Restart(source_frame(at));
    } else if (at > position_ && !source_->mp3_) {
        const uint64_t i = source_frame(at);
        if (i < native_base_ || i > HeldEnd()) Restart(i);
    }
    size_t n = 0;
    for (; n < count; ++n) {
        const uint64_t j = at + n;
        const uint64_t num = j * rate_x2_;
        const uint64_t i = num / kOutRateX2;
        if (!source_done_ && i + 1 >= HeldEnd()) Fill(i + 1, i);
        const uint64_t end = HeldEnd();
        // A source of n frames gives ceil(n * kRate / rate) frames.
        if (source_done_ && j >= (end * kOutRateX2 + rate_x2_ - 1) / rate_x2_) break;
        if (i < native_base_ || i >= end) break;
        const uint64_t next = std::min(i + 1, end - 1);
        const int64_t frac = int64_t(num % kOutRateX2);
        const size_t ch = size_t(channels_);
        const size_t a_at = size_t(i - native_base_) * ch, b_at = size_t(next - native_base_) * ch;
        for (size_t side = 0; side < 2; ++side) {
            const size_t k = ch == 1 ? 0 : side;
            const int64_t a = native_[a_at + k], b = native_[b_at + k];
            out[n * 2 + side] = int16_t(a + (b - a) * frac / int64_t(kOutRateX2));
        }
    }
    position_ = at + n;
    return n;
}

Stream DecodeStream(const swf::SoundStreamHead& head,
                    const StreamBlocks& blocks,
                    uint16_t frame_rate) {
    Stream stream;
    auto source = StreamSource::Make(head, blocks, frame_rate, stream.error);
    if (!source) return stream;
    auto pcm = std::make_shared<Pcm>();
    pcm->mono = source->Mono();
    StreamReader reader(source);
    constexpr uint64_t kPiece = 65536;
    while (pcm->Frames() < kMaxFrames) {
        const size_t at = pcm->Frames();
        const size_t want = size_t(std::min<uint64_t>(kPiece, kMaxFrames - at));
        pcm->samples.resize((at + want) * 2);
        const size_t got = reader.Read(at, pcm->samples.data() + at * 2, want);
        pcm->samples.resize((at + got) * 2);
        if (got < want) break;
    }
    if (pcm->samples.empty()) {
        stream.error = "the stream holds no samples";
        return stream;
    }
    for (const auto& [frame, at] : source->FrameStarts()) {
        if (at < pcm->Frames()) stream.frame_start[frame] = at;
    }
    stream.pcm = std::move(pcm);
    return stream;
}

const DecodeResult* DecodedSoundCache::Find(uint16_t sound_id) {
    auto it = entries_.find(sound_id);
    if (it == entries_.end()) return nullptr;
    it->second.used = ++clock_;
    return &it->second.result;
}

const DecodeResult& DecodedSoundCache::Insert(uint16_t sound_id, DecodeResult result) {
    Entry& entry = entries_[sound_id];
    bytes_ -= SizeOf(entry.result);
    entry.result = std::move(result);
    entry.used = ++clock_;
    bytes_ += SizeOf(entry.result);
    while (bytes_ > limit_) {
        // The least recently used sound with samples, never the new one.
        auto victim = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first == sound_id || !it->second.result.pcm) continue;
            if (victim == entries_.end() || it->second.used < victim->second.used) victim = it;
        }
        if (victim == entries_.end()) break;
        bytes_ -= SizeOf(victim->second.result);
        entries_.erase(victim);
    }
    return entry.result;
}

}  // namespace qm::flash::sound
