#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "swf/limits.h"
#include "swf/parsers.h"

namespace qm::swf {

namespace {

// Inflated a piece at a time, so a bomb is seen within a piece of the check;
// the buffer's capacity still doubles, so large movies are not copied often.
constexpr size_t kChunk = size_t(1) << 20;

void Reserve(Bytes& data, size_t size) {
    if (data.capacity() < size) data.reserve(std::max(size, 2 * data.capacity()));
}

struct Inflated {
    Bytes data;
    std::optional<std::string> error;  // the stream was damaged after `data`
    bool bomb = false;                 // expanded far beyond what movies do; `data` is not the movie
};

// A bomb is stopped while its buffer is still small: past the check size,
// the output may not outgrow the compressed bytes read by more than the ratio.
bool Exploding(size_t produced, size_t consumed) {
    return produced > limits::kInflateRatioCheckBytes && produced / limits::kMaxInflateRatio > consumed;
}

std::string BombMessage() {
    return "the compressed movie expands more than " + std::to_string(limits::kMaxInflateRatio) +
           " times past " + std::to_string(limits::kInflateRatioCheckBytes >> 20) +
           " MiB, which no real movie does; it is refused";
}

// `prefix` starts the output (a movie read in place keeps its first bytes
// before the inflated ones); `limit` and the bomb check count without it.
Inflated InflateZlib(std::span<const uint8_t> in, size_t limit, std::span<const uint8_t> prefix) {
    Inflated out;
    out.data.assign(prefix.begin(), prefix.end());
    limit += prefix.size();
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        out.error = "the decompressor could not be started";
        return out;
    }
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(std::min<size_t>(in.size(), UINT32_MAX));
    int rc = Z_OK;
    while (out.data.size() < limit) {
        size_t old = out.data.size();
        size_t grow = std::min(limit - old, kChunk);
        Reserve(out.data, old + grow);
        out.data.resize(old + grow);
        z.next_out = out.data.data() + old;
        z.avail_out = static_cast<uInt>(grow);
        rc = inflate(&z, Z_NO_FLUSH);
        out.data.resize(old + grow - z.avail_out);
        if (Exploding(out.data.size() - prefix.size(), in.size() - z.avail_in)) {
            out.bomb = true;
            break;
        }
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK) {
            if (rc == Z_BUF_ERROR && z.avail_in == 0) {
                out.error = "the compressed movie is cut short";
            } else {
                out.error = "the compressed movie is damaged";
            }
            break;
        }
    }
    inflateEnd(&z);
    return out;
}

// The movie's LZMA layout: UI32 compressed length, 5 property bytes, raw
// data. It becomes a classic .lzma stream by giving the decoder the
// properties followed by the uncompressed size.
Inflated InflateLzma(std::span<const uint8_t> in, size_t limit, std::span<const uint8_t> prefix) {
    Inflated out;
    out.data.assign(prefix.begin(), prefix.end());
    const size_t end = limit + prefix.size();
    if (in.size() < 9) {
        out.error = "the compressed movie is cut short";
        return out;
    }
    Bytes stream(13 + in.size() - 9);
    std::memcpy(stream.data(), in.data() + 4, 5);
    // The decoder sets aside the whole dictionary the properties name, up to
    // 4 GiB, before reading a byte. A back reference reaches no further than
    // the output can grow: the movie's length, and what the bomb check lets
    // these compressed bytes expand to; a larger dictionary is cut down to it.
    uint32_t dictionary = 0;
    for (int i = 0; i < 4; ++i) dictionary |= uint32_t(stream[1 + i]) << (8 * i);
    const uint64_t expandable =
        std::max<uint64_t>(limits::kInflateRatioCheckBytes, limits::kMaxInflateRatio * (stream.size() + 1)) + kChunk;
    const uint32_t needed = static_cast<uint32_t>(std::clamp<uint64_t>(std::min<uint64_t>(limit, expandable), 4096, UINT32_MAX));
    if (dictionary > needed) {
        for (int i = 0; i < 4; ++i) stream[1 + i] = static_cast<uint8_t>(needed >> (8 * i));
    }
    for (int i = 0; i < 8; ++i) stream[5 + i] = static_cast<uint8_t>(uint64_t(limit) >> (8 * i));
    std::memcpy(stream.data() + 13, in.data() + 9, in.size() - 9);
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&z, UINT64_MAX) != LZMA_OK) {
        out.error = "the decompressor could not be started";
        return out;
    }
    z.next_in = stream.data();
    z.avail_in = stream.size();
    while (out.data.size() < end) {
        size_t old = out.data.size();
        size_t grow = std::min(end - old, kChunk);
        Reserve(out.data, old + grow);
        out.data.resize(old + grow);
        z.next_out = out.data.data() + old;
        z.avail_out = grow;
        lzma_ret rc = lzma_code(&z, LZMA_FINISH);
        out.data.resize(old + grow - z.avail_out);
        if (Exploding(out.data.size() - prefix.size(), stream.size() - z.avail_in)) {
            out.bomb = true;
            break;
        }
        if (rc == LZMA_STREAM_END) break;
        if (rc != LZMA_OK) {
            out.error = rc == LZMA_BUF_ERROR ? "the compressed movie is cut short" : "the compressed movie is damaged";
            break;
        }
    }
    lzma_end(&z);
    return out;
}

}  // namespace

namespace {

// Both readings of a movie: `owned` (in place only) is the file, which the
// movie keeps, decompressed.
ParseResult Parse(std::span<const uint8_t> file, Bytes* owned) {
    ParseResult result;
    if (file.size() < 8) {
        result.error = ParseError{"the file is too short to be a movie", 0};
        return result;
    }
    Header header;
    if (file[1] != 'W' || file[2] != 'S' || (file[0] != 'F' && file[0] != 'C' && file[0] != 'Z')) {
        result.error = ParseError{"the file is not a Flash movie", 0};
        return result;
    }
    header.compression = file[0] == 'F' ? Compression::None : file[0] == 'C' ? Compression::Zlib : Compression::Lzma;
    header.version = file[3];
    header.file_length = static_cast<uint32_t>(file[4]) | (static_cast<uint32_t>(file[5]) << 8) |
                         (static_cast<uint32_t>(file[6]) << 16) | (static_cast<uint32_t>(file[7]) << 24);

    // The body: everything after the first 8 bytes, decompressed.
    Bytes inflated;
    std::span<const uint8_t> body;
    std::optional<std::string> inflate_error;
    if (header.compression == Compression::None) {
        body = file.subspan(8);
    } else {
        if (header.file_length <= 8) {
            result.error = ParseError{"the compressed movie declares no content", 4};
            return result;
        }
        // A declared size beyond the limit is refused before any inflating.
        if (header.file_length > limits::kMaxMovieBytes) {
            result.error = ParseError{"the movie declares " + std::to_string(header.file_length >> 20) +
                                          " MiB once decompressed, more than the " +
                                          std::to_string(limits::kMaxMovieBytes >> 20) + " MiB a movie may have",
                                      4};
            return result;
        }
        size_t limit = header.file_length - 8;
        const auto prefix = owned ? file.first(8) : std::span<const uint8_t>();
        Inflated out = header.compression == Compression::Zlib ? InflateZlib(file.subspan(8), limit, prefix)
                                                                : InflateLzma(file.subspan(8), limit, prefix);
        if (out.bomb) {
            result.error = ParseError{BombMessage(), 8};
            return result;
        }
        inflated = std::move(out.data);
        inflate_error = out.error;
        if (owned) {
            // The compressed file is not needed any more.
            Bytes().swap(*owned);
            owned->swap(inflated);
            body = owned->size() >= 8 ? std::span<const uint8_t>(*owned).subspan(8) : std::span<const uint8_t>();
        } else {
            body = inflated;
        }
    }

    // Frame size, rate and count.
    size_t tags_start = 0;
    try {
        Reader r(body, 8, header.version);
        header.frame_size = r.ReadRect();
        header.frame_rate = r.U16();
        header.frame_count = r.U16();
        tags_start = r.pos();
    } catch (const ReadError&) {
        result.error = ParseError{inflate_error ? *inflate_error : "the movie header is incomplete", 8 + body.size()};
        return result;
    }

    ParsedMovie movie;
    movie.header = header;
    // The stored length ends the movie, as in the reference player: bytes
    // after it are not part of the movie, even when they look like tags.
    size_t tags_end = body.size();
    if (header.compression == Compression::None && header.file_length < 8 + body.size()) {
        tags_end = std::max<size_t>(header.file_length, 8 + tags_start) - 8;
        movie.warnings.push_back(ParseError{"the file goes on after the movie's stored length; the rest is ignored",
                                            std::max<uint64_t>(header.file_length, 8 + tags_start)});
    }
    detail::ReadTagStream(body.subspan(tags_start, tags_end - tags_start), 8 + tags_start, header.version, 0,
                          movie.tags, movie.warnings, movie.truncated, owned != nullptr);
    if (owned) {
        movie.frames_in_place = true;
        movie.tags_offset = static_cast<uint32_t>(8 + tags_start);
        movie.tags_size = static_cast<uint32_t>(tags_end - tags_start);
    }
    if (inflate_error) {
        bool ended = !movie.tags.empty() && movie.tags.back().code == 0;
        if (!ended && !movie.truncated) movie.truncated = ParseError{*inflate_error, 8 + body.size()};
        else if (!ended && movie.truncated) movie.truncated->message = *inflate_error;
    }
    if (owned) movie.data = std::move(*owned);
    result.movie = std::move(movie);
    return result;
}

}  // namespace

ParseResult ParseMovie(std::span<const uint8_t> file) { return Parse(file, nullptr); }

ParseResult ParseMovieInPlace(Bytes file) {
    const std::span<const uint8_t> view(file);
    return Parse(view, &file);
}

std::span<const uint8_t> ParsedMovie::TagStream() const {
    if (!frames_in_place) return {};
    return std::span<const uint8_t>(data).subspan(tags_offset, tags_size);
}

std::span<const uint8_t> ParsedMovie::SpriteTagStream(const Tag& sprite_tag) const {
    if (!frames_in_place || sprite_tag.offset >= data.size()) return {};
    auto stored = ReadStoredTag(data, sprite_tag.offset);
    // The sprite's id and frame count come before its tags.
    if (!stored || stored->code != 39 || stored->body.size() < 4) return {};
    return stored->body.subspan(4);
}

bool ParsedMovie::IsActionScript3() const {
    if (header.version < 9) return false;
    if (frames_in_place) {
        // Up to the first frame's end, as the tags of frames are not listed.
        const auto stream = TagStream();
        for (auto t = ReadStoredTag(stream, 0); t && t->code != 1; t = ReadStoredTag(stream, t->next)) {
            if (t->code == 69) {
                const TagBody body = ParseTagBody(69, t->body, header.version);
                const auto* attributes = std::get_if<FileAttributes>(&body);
                return attributes && attributes->ActionScript3();
            }
        }
        return false;
    }
    for (const Tag& t : tags) {
        if (auto* a = std::get_if<FileAttributes>(&t.body)) return a->ActionScript3();
        if (std::holds_alternative<ShowFrame>(t.body)) break;
    }
    return false;
}

}  // namespace qm::swf
