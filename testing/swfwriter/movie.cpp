#include <zlib.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <stdexcept>

#include "testing/swfwriter/bit_writer.h"

namespace qm::swfwriter {

using detail::BitWriter;

Bytes zlibCompress(const Bytes& data) {
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), uLong(data.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib compression failed");
    out.resize(size);
    return out;
}

Bytes sinePCM16(double frequency, double seconds, int sampleRate, double amplitude) {
    const size_t n = size_t(seconds * sampleRate);
    Bytes out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * frequency * double(i) / sampleRate);
        const int16_t s = int16_t(std::lround(v * 32767));
        out.push_back(uint8_t(s));
        out.push_back(uint8_t(uint16_t(s) >> 8));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Filters

namespace {

uint8_t shadowFlags(bool inner, bool knockout, uint8_t passes) {
    return uint8_t((inner ? 0x80 : 0) | (knockout ? 0x40 : 0) | 0x20 | (passes & 0x1F));
}

uint8_t bevelFlags(bool inner, bool knockout, bool onTop, uint8_t passes) {
    return uint8_t((inner ? 0x80 : 0) | (knockout ? 0x40 : 0) | 0x20 | (onTop ? 0x10 : 0) |
                   (passes & 0x0F));
}

Filter gradientFilter(uint8_t id, const std::vector<GradientStop>& stops, double blurX, double blurY,
                      double angle, double distance, double strength, bool inner, bool knockout,
                      bool onTop, uint8_t passes) {
    if (stops.size() > 255) throw std::runtime_error("too many filter colours");
    BitWriter w;
    w.u8(uint8_t(stops.size()));
    for (const auto& s : stops) w.rgba(s.color);
    for (const auto& s : stops) w.u8(s.ratio);
    w.fixed(blurX);
    w.fixed(blurY);
    w.fixed(angle);
    w.fixed(distance);
    w.fixed8(strength);
    w.u8(bevelFlags(inner, knockout, onTop, passes));
    return {id, w.data()};
}

}  // namespace

Filter Filter::dropShadow(Color c, double blurX, double blurY, double angle, double distance,
                          double strength, bool inner, bool knockout, uint8_t passes) {
    BitWriter w;
    w.rgba(c);
    w.fixed(blurX);
    w.fixed(blurY);
    w.fixed(angle);
    w.fixed(distance);
    w.fixed8(strength);
    w.u8(shadowFlags(inner, knockout, passes));
    return {0, w.data()};
}

Filter Filter::blur(double blurX, double blurY, uint8_t passes) {
    BitWriter w;
    w.fixed(blurX);
    w.fixed(blurY);
    w.u8(uint8_t((passes & 0x1F) << 3));
    return {1, w.data()};
}

Filter Filter::glow(Color c, double blurX, double blurY, double strength, bool inner, bool knockout,
                    uint8_t passes) {
    BitWriter w;
    w.rgba(c);
    w.fixed(blurX);
    w.fixed(blurY);
    w.fixed8(strength);
    w.u8(shadowFlags(inner, knockout, passes));
    return {2, w.data()};
}

Filter Filter::bevel(Color highlight, Color shadow, double blurX, double blurY, double angle,
                     double distance, double strength, bool inner, bool knockout, bool onTop,
                     uint8_t passes) {
    BitWriter w;
    w.rgba(highlight);
    w.rgba(shadow);
    w.fixed(blurX);
    w.fixed(blurY);
    w.fixed(angle);
    w.fixed(distance);
    w.fixed8(strength);
    w.u8(bevelFlags(inner, knockout, onTop, passes));
    return {3, w.data()};
}

Filter Filter::gradientGlow(const std::vector<GradientStop>& stops, double blurX, double blurY,
                            double angle, double distance, double strength, bool inner,
                            bool knockout, bool onTop, uint8_t passes) {
    return gradientFilter(4, stops, blurX, blurY, angle, distance, strength, inner, knockout, onTop,
                          passes);
}

Filter Filter::gradientBevel(const std::vector<GradientStop>& stops, double blurX, double blurY,
                             double angle, double distance, double strength, bool inner,
                             bool knockout, bool onTop, uint8_t passes) {
    return gradientFilter(7, stops, blurX, blurY, angle, distance, strength, inner, knockout, onTop,
                          passes);
}

Filter Filter::convolution(uint8_t columns, uint8_t rows, float divisor, float bias,
                           const std::vector<float>& matrix, Color defaultColor, bool clamp,
                           bool preserveAlpha) {
    if (matrix.size() != size_t(columns) * rows)
        throw std::invalid_argument("convolution matrix size differs from columns x rows");
    BitWriter w;
    w.u8(columns);
    w.u8(rows);
    w.f32(divisor);
    w.f32(bias);
    for (float v : matrix) w.f32(v);
    w.rgba(defaultColor);
    w.u8(uint8_t((clamp ? 0x02 : 0) | (preserveAlpha ? 0x01 : 0)));
    return {5, w.data()};
}

Filter Filter::colorMatrix(const std::array<float, 20>& matrix) {
    BitWriter w;
    for (float v : matrix) w.f32(v);
    return {6, w.data()};
}

namespace detail {

void writeFilters(BitWriter& w, const std::vector<Filter>& filters) {
    if (filters.size() > 255) throw std::runtime_error("too many filters");
    w.u8(uint8_t(filters.size()));
    for (const auto& f : filters) {
        w.u8(f.id);
        w.bytes(f.body);
    }
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Control tags

namespace {

void writeClipActions(BitWriter& w, const std::vector<ClipAction>& actions, uint8_t version) {
    const bool wide = version >= 6;
    auto flags = [&](uint32_t v) {
        if (wide)
            w.u32(v);
        else
            w.u16(uint16_t(v));
    };
    uint32_t all = 0;
    for (const auto& a : actions) all |= a.events;
    w.u16(0);
    flags(all);
    for (const auto& a : actions) {
        flags(a.events);
        Bytes body;
        if (a.events & kClipKeyPress) body.push_back(a.keyCode);
        const Bytes code = a.actions.bytes();
        body.insert(body.end(), code.begin(), code.end());
        body.push_back(0);
        w.u32(uint32_t(body.size()));
        w.bytes(body);
    }
    flags(0);
}

void writeSoundInfo(BitWriter& w, const SoundInfo& s) {
    w.u8(uint8_t((s.syncStop ? 0x20 : 0) | (s.noMultiple ? 0x10 : 0) |
                 (!s.envelope.empty() ? 0x08 : 0) | (s.loops ? 0x04 : 0) | (s.outPoint ? 0x02 : 0) |
                 (s.inPoint ? 0x01 : 0)));
    if (s.inPoint) w.u32(*s.inPoint);
    if (s.outPoint) w.u32(*s.outPoint);
    if (s.loops) w.u16(*s.loops);
    if (!s.envelope.empty()) {
        if (s.envelope.size() > 255) throw std::runtime_error("too many envelope points");
        w.u8(uint8_t(s.envelope.size()));
        for (const auto& p : s.envelope) {
            w.u32(p.pos44);
            w.u16(p.left);
            w.u16(p.right);
        }
    }
}

uint8_t soundFormatByte(const SoundFormat& f) {
    return uint8_t((f.format & 0x0F) << 4 | (f.rate & 3) << 2 | (f.sixteenBit ? 2 : 0) |
                   (f.stereo ? 1 : 0));
}

void writeButtonRecords(BitWriter& w, const std::vector<ButtonRecord>& records, bool v2) {
    for (const auto& r : records) {
        const bool filters = v2 && !r.filters.empty(), blend = v2 && r.blendMode.has_value();
        w.u8(uint8_t((blend ? 0x20 : 0) | (filters ? 0x10 : 0) | (r.states & 0x0F)));
        w.u16(r.character);
        w.u16(r.depth);
        w.matrix(r.matrix);
        if (v2) w.cxform(r.cxform, true);
        if (filters) detail::writeFilters(w, r.filters);
        if (blend) w.u8(*r.blendMode);
    }
    w.u8(0);
}

}  // namespace

void Timeline::place(const Place& p) {
    const bool needs3 = !p.filters.empty() || p.blendMode || p.bitmapCache || p.visible ||
                        p.background || p.className;
    if (needs3) return place3(p);
    BitWriter w;
    w.u8(uint8_t((!p.clipActions.empty() ? 0x80 : 0) | (p.clipDepth ? 0x40 : 0) |
                 (p.name ? 0x20 : 0) | (p.ratio ? 0x10 : 0) | (p.cxform ? 0x08 : 0) |
                 (p.matrix ? 0x04 : 0) | (p.character ? 0x02 : 0) | (p.move ? 0x01 : 0)));
    w.u16(p.depth);
    if (p.character) w.u16(*p.character);
    if (p.matrix) w.matrix(*p.matrix);
    if (p.cxform) w.cxform(*p.cxform, true);
    if (p.ratio) w.u16(*p.ratio);
    if (p.name) w.str(*p.name);
    if (p.clipDepth) w.u16(*p.clipDepth);
    if (!p.clipActions.empty()) writeClipActions(w, p.clipActions, version());
    detail::appendTag(tags_, 26, w.data());
}

void Timeline::place3(const Place& p) {
    BitWriter w;
    w.u8(uint8_t((!p.clipActions.empty() ? 0x80 : 0) | (p.clipDepth ? 0x40 : 0) |
                 (p.name ? 0x20 : 0) | (p.ratio ? 0x10 : 0) | (p.cxform ? 0x08 : 0) |
                 (p.matrix ? 0x04 : 0) | (p.character ? 0x02 : 0) | (p.move ? 0x01 : 0)));
    w.u8(uint8_t((p.background ? 0x40 : 0) | (p.visible ? 0x20 : 0) | (p.className ? 0x08 : 0) |
                 (p.bitmapCache ? 0x04 : 0) | (p.blendMode ? 0x02 : 0) |
                 (!p.filters.empty() ? 0x01 : 0)));
    w.u16(p.depth);
    if (p.className) w.str(*p.className);
    if (p.character) w.u16(*p.character);
    if (p.matrix) w.matrix(*p.matrix);
    if (p.cxform) w.cxform(*p.cxform, true);
    if (p.ratio) w.u16(*p.ratio);
    if (p.name) w.str(*p.name);
    if (p.clipDepth) w.u16(*p.clipDepth);
    if (!p.filters.empty()) detail::writeFilters(w, p.filters);
    if (p.blendMode) w.u8(*p.blendMode);
    if (p.bitmapCache) w.u8(*p.bitmapCache);
    if (p.visible) w.u8(*p.visible ? 1 : 0);
    if (p.background) w.rgba(*p.background);
    if (!p.clipActions.empty()) writeClipActions(w, p.clipActions, version());
    detail::appendTag(tags_, 70, w.data());
}

void Timeline::placeObject1(uint16_t character, uint16_t depth, const Matrix& m,
                            std::optional<CXForm> cxform) {
    BitWriter w;
    w.u16(character);
    w.u16(depth);
    w.matrix(m);
    if (cxform) w.cxform(*cxform, false);
    detail::appendTag(tags_, 4, w.data());
}

void Timeline::removeObject(uint16_t character, uint16_t depth) {
    BitWriter w;
    w.u16(character);
    w.u16(depth);
    detail::appendTag(tags_, 5, w.data());
}

void Timeline::removeObject2(uint16_t depth) {
    BitWriter w;
    w.u16(depth);
    detail::appendTag(tags_, 28, w.data());
}

void Timeline::showFrame() { rawTag(1, {}); }

void Timeline::frameLabel(const std::string& name, bool anchor) {
    BitWriter w;
    w.str(name);
    if (anchor) w.u8(1);
    detail::appendTag(tags_, 43, w.data());
}

void Timeline::doAction(const Actions& a) {
    Bytes body = a.bytes();
    body.push_back(0);
    detail::appendTag(tags_, 12, body);
}

void Timeline::doInitAction(uint16_t spriteId, const Actions& a) {
    BitWriter w;
    w.u16(spriteId);
    w.bytes(a.bytes());
    w.u8(0);
    detail::appendTag(tags_, 59, w.data());
}

void Timeline::startSound(uint16_t soundId, const SoundInfo& info) {
    BitWriter w;
    w.u16(soundId);
    writeSoundInfo(w, info);
    detail::appendTag(tags_, 15, w.data());
}

void Timeline::startSound2(const std::string& className, const SoundInfo& info) {
    BitWriter w;
    w.str(className);
    writeSoundInfo(w, info);
    detail::appendTag(tags_, 89, w.data());
}

void Timeline::soundStreamHead(const SoundFormat& stream, uint16_t samplesPerBlock,
                               std::optional<int16_t> latencySeek, bool head1) {
    BitWriter w;
    w.u8(soundFormatByte(stream) & 0x0F);
    w.u8(soundFormatByte(stream));
    w.u16(samplesPerBlock);
    if (stream.format == 2 && latencySeek) w.si16(*latencySeek);
    detail::appendTag(tags_, head1 ? 18 : 45, w.data());
}

void Timeline::soundStreamBlock(const Bytes& data) { detail::appendTag(tags_, 19, data, true); }

void Timeline::videoFrame(uint16_t streamId, uint16_t frameNum, const Bytes& data) {
    BitWriter w;
    w.u16(streamId);
    w.u16(frameNum);
    w.bytes(data);
    detail::appendTag(tags_, 61, w.data(), true);
}

void Timeline::rawTag(uint16_t code, const Bytes& body, bool longForm) {
    if (code > 0x3FF) throw std::invalid_argument("tag codes have 10 bits");
    if (code == 1) ++frames_;
    detail::appendTag(tags_, code, body, longForm);
}

void Timeline::rawBytes(const Bytes& bytes) { tags_.insert(tags_.end(), bytes.begin(), bytes.end()); }

// ---------------------------------------------------------------------------------------------
// Definitions and the file

Movie::Movie(const Header& h) : Timeline(h.version), header(h) {}

void Movie::setBackgroundColor(Color c) {
    BitWriter w;
    w.rgb(c);
    detail::appendTag(tags_, 9, w.data());
}

void Movie::fileAttributes(uint32_t flags) {
    BitWriter w;
    w.u32(flags);
    detail::appendTag(tags_, 69, w.data());
}

void Movie::exportAssets(const std::vector<std::pair<uint16_t, std::string>>& names) {
    BitWriter w;
    w.u16(uint16_t(names.size()));
    for (const auto& [id, name] : names) {
        w.u16(id);
        w.str(name);
    }
    detail::appendTag(tags_, 56, w.data());
}

uint16_t Movie::defineBitsLossless(uint8_t format, uint16_t width, uint16_t height,
                                   const Bytes& pixels, uint16_t colorTableEntries,
                                   bool withAlpha) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.u8(format);
    w.u16(width);
    w.u16(height);
    if (format == 3) {
        if (colorTableEntries < 1 || colorTableEntries > 256)
            throw std::invalid_argument("a colour table has 1..256 entries");
        w.u8(uint8_t(colorTableEntries - 1));
    }
    w.bytes(zlibCompress(pixels));
    detail::appendTag(tags_, withAlpha ? 36 : 20, w.data(), true);
    return id;
}

uint16_t Movie::defineBitmapRGBA(uint16_t width, uint16_t height, const std::vector<Color>& pixels) {
    if (pixels.size() != size_t(width) * height)
        throw std::invalid_argument("pixel count differs from width x height");
    Bytes argb;
    argb.reserve(pixels.size() * 4);
    for (const auto& c : pixels) {
        argb.push_back(c.a);
        argb.push_back(uint8_t((c.r * c.a + 127) / 255));
        argb.push_back(uint8_t((c.g * c.a + 127) / 255));
        argb.push_back(uint8_t((c.b * c.a + 127) / 255));
    }
    return defineBitsLossless(5, width, height, argb, 0, true);
}

uint16_t Movie::defineBits(const Bytes& jpeg) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.bytes(jpeg);
    detail::appendTag(tags_, 6, w.data(), true);
    return id;
}

void Movie::jpegTables(const Bytes& tables) { detail::appendTag(tags_, 8, tables, true); }

uint16_t Movie::defineBitsJPEG2(const Bytes& image) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.bytes(image);
    detail::appendTag(tags_, 21, w.data(), true);
    return id;
}

uint16_t Movie::defineBitsJPEG3(const Bytes& image, const Bytes& alpha) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.u32(uint32_t(image.size()));
    w.bytes(image);
    w.bytes(zlibCompress(alpha));
    detail::appendTag(tags_, 35, w.data(), true);
    return id;
}

uint16_t Movie::defineSprite(const Sprite& s) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.u16(s.frameCount.value_or(uint16_t(s.showFrameCount())));
    w.bytes(s.tagBytes());
    if (s.appendEnd) w.u16(0);
    detail::appendTag(tags_, 39, w.data());
    return id;
}

void Movie::defineButtonSound(uint16_t buttonId, const std::array<uint16_t, 4>& sounds,
                              const std::array<SoundInfo, 4>& infos) {
    BitWriter w;
    w.u16(buttonId);
    for (size_t i = 0; i < 4; ++i) {
        w.u16(sounds[i]);
        if (sounds[i]) writeSoundInfo(w, infos[i]);
    }
    detail::appendTag(tags_, 17, w.data());
}

uint16_t Movie::defineSound(const SoundFormat& f, uint32_t sampleCount, const Bytes& data) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.u8(soundFormatByte(f));
    w.u32(sampleCount);
    w.bytes(data);
    detail::appendTag(tags_, 14, w.data());
    return id;
}

uint16_t Movie::defineVideoStream(uint16_t frames, uint16_t width, uint16_t height, uint8_t codec,
                                  bool smoothing, uint8_t deblocking) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    w.u16(frames);
    w.u16(width);
    w.u16(height);
    w.u8(uint8_t(((deblocking & 7) << 1) | (smoothing ? 1 : 0)));
    w.u8(codec);
    detail::appendTag(tags_, 60, w.data());
    return id;
}

uint16_t Movie::defineButton(const std::vector<ButtonRecord>& records, const Actions& onRelease) {
    const uint16_t id = takeId();
    BitWriter w;
    w.u16(id);
    writeButtonRecords(w, records, false);
    w.bytes(onRelease.bytes());
    w.u8(0);
    detail::appendTag(tags_, 7, w.data());
    return id;
}

uint16_t Movie::defineButton2(const std::vector<ButtonRecord>& records,
                              const std::vector<ButtonCondAction>& actions, bool trackAsMenu) {
    const uint16_t id = takeId();
    BitWriter recs;
    writeButtonRecords(recs, records, true);
    const Bytes recordBytes = recs.data();

    BitWriter w;
    w.u16(id);
    w.u8(trackAsMenu ? 1 : 0);
    w.u16(actions.empty() ? 0 : uint16_t(2 + recordBytes.size()));
    w.bytes(recordBytes);
    for (size_t i = 0; i < actions.size(); ++i) {
        const Bytes code = actions[i].actions.bytes();
        const size_t size = 4 + code.size() + 1;
        if (size > 0xFFFF) throw std::runtime_error("button action too long");
        w.u16(i + 1 == actions.size() ? 0 : uint16_t(size));
        w.u16(actions[i].conditions);
        w.bytes(code);
        w.u8(0);
    }
    detail::appendTag(tags_, 34, w.data());
    return id;
}

Bytes Movie::bytes() const {
    BitWriter body;
    body.rect(header.frame);
    body.u16(header.frameRate);
    body.u16(header.frameCount.value_or(uint16_t(showFrameCount())));
    body.bytes(tags_);
    if (header.appendEnd) body.u16(0);
    Bytes rest = std::move(body.data());

    Bytes out(header.signature.begin(), header.signature.end());
    out.resize(3, ' ');
    out.push_back(header.version);
    const uint32_t length = header.fileLength.value_or(uint32_t(8 + rest.size()));
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(length >> (8 * i)));
    if (header.signature == "CWS") rest = zlibCompress(rest);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

void Movie::save(const std::string& path) const {
    const Bytes b = bytes();
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot create " + path);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    if (!f.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace qm::swfwriter
