#include "swf/parsers.h"

#include <cstring>

namespace qm::swf::detail {

namespace {

ButtonRecord ReadButtonRecord(Reader& r, uint8_t flags, int version) {
    ButtonRecord rec;
    rec.state_hit_test = flags & 0x08;
    rec.state_down = flags & 0x04;
    rec.state_over = flags & 0x02;
    rec.state_up = flags & 0x01;
    rec.character_id = r.U16();
    rec.depth = r.U16();
    rec.matrix = r.ReadMatrix();
    if (version == 2) {
        rec.color_transform = r.ReadColorTransform(true);
        if (flags & 0x10) rec.filters = ReadFilterList(r);
        if (flags & 0x20) {
            uint8_t mode = r.U8();
            rec.blend_mode = (mode <= 1 || mode > 14) ? BlendMode::Normal : static_cast<BlendMode>(mode);
        }
    }
    return rec;
}

SoundFormat ReadSoundFormatBits(uint8_t b) {
    SoundFormat f;
    f.codec = static_cast<SoundCodec>(b >> 4);
    f.rate = (b >> 2) & 3;
    f.is_16bit = b & 0x02;
    f.is_stereo = b & 0x01;
    return f;
}

}  // namespace

Button ReadDefineButton(Reader& r, int version) {
    Button b;
    b.version = static_cast<uint8_t>(version);
    b.id = r.U16();
    size_t action_offset_pos = 0;
    uint16_t action_offset = 0;
    if (version == 2) {
        b.track_as_menu = r.U8() & 0x01;
        action_offset_pos = r.pos();
        action_offset = r.U16();
    }
    for (;;) {
        uint8_t flags = r.U8();
        if (flags == 0) break;
        b.records.push_back(ReadButtonRecord(r, flags, version));
    }
    if (version == 1) {
        ButtonAction action;
        action.conditions = kCondOverDownToOverUp;
        action.actions = r.RestCopy();
        if (!action.actions.empty()) b.actions.push_back(std::move(action));
        return b;
    }
    if (action_offset == 0) return b;
    // The offset is counted from its own field; a bad one falls back to
    // reading straight on.
    size_t start = action_offset_pos + action_offset;
    if (start >= r.pos() && start <= r.size()) r.Seek(start);
    while (!r.AtEnd()) {
        uint16_t size = r.U16();
        uint16_t conditions = r.U16();
        ButtonAction action;
        action.conditions = conditions & 0x1FF;
        action.key_code = static_cast<uint8_t>(conditions >> 9);
        if (size == 0) {
            action.actions = r.RestCopy();
        } else {
            if (size < 4) r.Fail("a button action is shorter than its header");
            auto bytes = r.Bytes(std::min<size_t>(size - 4, r.remaining()));
            action.actions.assign(bytes.begin(), bytes.end());
        }
        b.actions.push_back(std::move(action));
        if (size == 0) break;
    }
    return b;
}

ButtonCxform ReadButtonCxform(Reader& r) {
    ButtonCxform c;
    c.button_id = r.U16();
    while (!r.AtEnd()) c.transforms.push_back(r.ReadColorTransform(false));
    return c;
}

SoundInfo ReadSoundInfo(Reader& r) {
    SoundInfo info;
    uint8_t flags = r.U8();
    info.sync_stop = flags & 0x20;
    info.sync_no_multiple = flags & 0x10;
    if (flags & 0x01) info.in_point = r.U32();
    if (flags & 0x02) info.out_point = r.U32();
    if (flags & 0x04) info.loop_count = r.U16();
    if (flags & 0x08) {
        unsigned n = r.U8();
        std::vector<SoundEnvelopePoint> points;
        for (unsigned i = 0; i < n; ++i) {
            SoundEnvelopePoint p;
            p.pos44 = r.U32();
            p.left = r.U16();
            p.right = r.U16();
            points.push_back(p);
        }
        info.envelope = std::move(points);
    }
    return info;
}

ButtonSound ReadButtonSound(Reader& r) {
    ButtonSound s;
    s.button_id = r.U16();
    // Shorter tags exist: missing entries mean no sound.
    for (size_t i = 0; i < 4 && r.remaining() >= 2; ++i) {
        s.sound_ids[i] = r.U16();
        if (s.sound_ids[i] != 0) s.infos[i] = ReadSoundInfo(r);
    }
    return s;
}

DefineSound ReadDefineSound(Reader& r) {
    DefineSound s;
    s.id = r.U16();
    s.format = ReadSoundFormatBits(r.U8());
    s.sample_count = r.U32();
    s.data = r.RestCopy();
    return s;
}

SoundStreamHead ReadSoundStreamHead(Reader& r, int version) {
    SoundStreamHead h;
    h.version = static_cast<uint8_t>(version);
    h.playback = ReadSoundFormatBits(r.U8() & 0x0F);
    h.stream = ReadSoundFormatBits(r.U8());
    h.sample_count = r.U16();
    if (h.stream.codec == SoundCodec::Mp3 && r.remaining() >= 2) h.latency_seek = r.S16();
    return h;
}

ImageFormat DetectImageFormat(std::span<const uint8_t> data) {
    static constexpr uint8_t kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    static constexpr uint8_t kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61};
    if (data.size() >= sizeof kPng && std::memcmp(data.data(), kPng, sizeof kPng) == 0) return ImageFormat::Png;
    if (data.size() >= sizeof kGif && std::memcmp(data.data(), kGif, sizeof kGif) == 0) return ImageFormat::Gif;
    if (data.size() >= 2 && data[0] == 0xFF && (data[1] == 0xD8 || data[1] == 0xD9)) return ImageFormat::Jpeg;
    return ImageFormat::Unknown;
}

Bitmap ReadBitmap(Reader& r, uint16_t code) {
    Bitmap b;
    b.id = r.U16();
    switch (code) {
    case 6:
        b.kind = BitmapKind::Jpeg;
        b.data = r.RestCopy();
        b.image_format = ImageFormat::Jpeg;
        break;
    case 21:
        b.kind = BitmapKind::Jpeg2;
        b.data = r.RestCopy();
        b.image_format = DetectImageFormat(b.data);
        break;
    case 35:
    case 90: {
        b.kind = code == 35 ? BitmapKind::Jpeg3 : BitmapKind::Jpeg4;
        uint32_t alpha_offset = r.U32();
        if (code == 90) b.deblock = r.U16() / 256.0;
        if (alpha_offset > r.remaining()) r.Fail("the image data runs past the end of the tag");
        auto image = r.Bytes(alpha_offset);
        b.data.assign(image.begin(), image.end());
        b.image_format = DetectImageFormat(b.data);
        b.alpha_data = r.RestCopy();
        break;
    }
    case 20:
    case 36: {
        b.kind = code == 20 ? BitmapKind::Lossless : BitmapKind::Lossless2;
        uint8_t format = r.U8();
        if (format < 3 || format > 5) r.Fail("unknown lossless bitmap format " + std::to_string(format));
        b.lossless_format = static_cast<LosslessFormat>(format);
        b.width = r.U16();
        b.height = r.U16();
        if (format == 3) b.color_table_size = static_cast<uint16_t>(r.U8() + 1);
        b.data = r.RestCopy();
        break;
    }
    default:
        r.Fail("not a bitmap tag");
    }
    return b;
}

}  // namespace qm::swf::detail
