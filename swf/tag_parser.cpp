#include "swf/limits.h"
#include "swf/parsers.h"

namespace qm::swf::detail {

namespace {

// Nested sprites are not allowed by the format but occur; beyond this depth
// a movie is treated as hostile.
constexpr int kMaxSpriteDepth = limits::kMaxSpriteNesting;

std::vector<AssetEntry> ReadAssets(Reader& r) {
    unsigned count = r.U16();
    std::vector<AssetEntry> assets;
    for (unsigned i = 0; i < count; ++i) {
        AssetEntry a;
        a.character_id = r.U16();
        a.name = r.String();
        assets.push_back(std::move(a));
    }
    return assets;
}

Sprite ReadSprite(Reader& r, int sprite_depth, std::vector<ParseError>& warnings, bool frames_in_place) {
    if (sprite_depth >= kMaxSpriteDepth) r.Fail("sprites are nested too deeply");
    Sprite s;
    s.id = r.U16();
    s.frame_count = r.U16();
    std::optional<ParseError> truncated;
    auto rest = r.Rest();
    ReadTagStream(rest, r.FileOffset() - rest.size(), r.version(), sprite_depth + 1, s.tags, warnings, truncated,
                  frames_in_place);
    if (truncated) warnings.push_back(*truncated);
    return s;
}

}  // namespace

TagBody ReadTagBody(uint16_t code, Reader& r, int sprite_depth, std::vector<ParseError>& warnings,
                    bool frames_in_place) {
    switch (code) {
    case 0: return End{};
    case 1: return ShowFrame{};
    case 2: return ReadDefineShape(r, 1);
    case 22: return ReadDefineShape(r, 2);
    case 32: return ReadDefineShape(r, 3);
    case 83: return ReadDefineShape(r, 4);
    case 46: return ReadDefineMorphShape(r, 1);
    case 84: return ReadDefineMorphShape(r, 2);
    case 4:
    case 26:
    case 70:
    case 94: {
        // Read once here so that a damaged one is reported and kept as unknown.
        const uint8_t version = code == 4 ? 1 : code == 26 ? 2 : code == 70 ? 3 : 4;
        ReadPlaceObject(r, version);
        return PackedPlaceObject(r.data(), version, r.version());
    }
    case 5: return ReadRemoveObject(r, 1);
    case 28: return ReadRemoveObject(r, 2);
    case 6:
    case 21:
    case 35:
    case 90:
    case 20:
    case 36: return ReadBitmap(r, code);
    case 8: return JpegTables{r.RestCopy()};
    case 7: return ReadDefineButton(r, 1);
    case 34: return ReadDefineButton(r, 2);
    case 23: return ReadButtonCxform(r);
    case 17: return ReadButtonSound(r);
    case 9: return SetBackgroundColor{r.Rgb()};
    case 10: return ReadDefineFont(r);
    case 48: return ReadDefineFont23(r, 2);
    case 75: return ReadDefineFont23(r, 3);
    case 13: return ReadFontInfo(r, 1);
    case 62: return ReadFontInfo(r, 2);
    case 73: return ReadFontAlignZones(r);
    case 88: {
        FontName n;
        n.font_id = r.U16();
        n.name = r.String();
        if (!r.AtEnd()) n.copyright = r.String();
        return n;
    }
    case 91: {
        Font4 f;
        f.id = r.U16();
        uint8_t flags = r.U8();
        f.italic = flags & 0x02;
        f.bold = flags & 0x01;
        f.name = r.String();
        if (flags & 0x04) f.data = r.RestCopy();
        return f;
    }
    case 11: return ReadDefineText(r, 1);
    case 33: return ReadDefineText(r, 2);
    case 37: return ReadDefineEditText(r);
    case 74: {
        CsmTextSettings c;
        c.text_id = r.U16();
        uint8_t b = r.U8();
        c.use_flash_type = b >> 6;
        c.grid_fit = (b >> 3) & 7;
        c.thickness = r.Float();
        c.sharpness = r.Float();
        return c;
    }
    case 12: return DoAction{r.RestCopy()};
    case 59: {
        DoInitAction d;
        d.sprite_id = r.U16();
        d.actions = r.RestCopy();
        return d;
    }
    case 72:
    case 82: {
        DoAbc d;
        d.has_header = code == 82;
        if (code == 82) {
            d.flags = r.U32();
            d.name = r.String();
        }
        d.data = r.RestCopy();
        return d;
    }
    case 43: {
        FrameLabel l;
        l.name = r.String();
        l.is_anchor = r.version() >= 6 && !r.AtEnd() && r.U8() != 0;
        return l;
    }
    case 14: return ReadDefineSound(r);
    case 15: {
        StartSound s;
        s.sound_id = r.U16();
        s.info = ReadSoundInfo(r);
        return s;
    }
    case 89: {
        StartSound s;
        s.class_name = r.String();
        s.info = ReadSoundInfo(r);
        return s;
    }
    case 18: return ReadSoundStreamHead(r, 1);
    case 45: return ReadSoundStreamHead(r, 2);
    case 19: return SoundStreamBlock{r.RestCopy()};
    case 60: {
        VideoStream v;
        v.id = r.U16();
        v.num_frames = r.U16();
        v.width = r.U16();
        v.height = r.U16();
        uint8_t flags = r.U8();
        v.deblocking = (flags >> 1) & 7;
        v.smoothing = flags & 1;
        v.codec = r.U8();
        return v;
    }
    case 61: {
        VideoFrame v;
        v.stream_id = r.U16();
        v.frame_num = r.U16();
        v.data = r.RestCopy();
        return v;
    }
    case 39: return ReadSprite(r, sprite_depth, warnings, frames_in_place);
    case 56: return ExportAssets{ReadAssets(r)};
    case 57:
    case 71: {
        ImportAssets i;
        i.version = code == 57 ? 1 : 2;
        i.url = r.String();
        if (code == 71) r.Skip(2);
        i.assets = ReadAssets(r);
        return i;
    }
    case 76: return SymbolClass{ReadAssets(r)};
    case 69: {
        // Four bytes; shorter bodies keep what they have.
        FileAttributes a;
        for (unsigned shift = 0; shift < 32 && !r.AtEnd(); shift += 8) a.flags |= uint32_t(r.U8()) << shift;
        return a;
    }
    case 77: return Metadata{r.AtEnd() ? std::string() : r.String()};
    case 65: {
        ScriptLimits l;
        l.max_recursion_depth = r.U16();
        l.script_timeout_seconds = r.U16();
        return l;
    }
    case 66: {
        SetTabIndex t;
        t.depth = r.U16();
        t.tab_index = r.U16();
        return t;
    }
    case 86: {
        SceneAndFrameLabelData d;
        uint32_t scenes = r.EncodedU32();
        for (uint32_t i = 0; i < scenes; ++i) {
            SceneAndFrameLabelData::Scene s;
            s.frame = r.EncodedU32();
            s.name = r.String();
            d.scenes.push_back(std::move(s));
        }
        uint32_t labels = r.EncodedU32();
        for (uint32_t i = 0; i < labels; ++i) {
            SceneAndFrameLabelData::Label l;
            l.frame = r.EncodedU32();
            l.name = r.String();
            d.labels.push_back(std::move(l));
        }
        return d;
    }
    case 78: {
        ScalingGrid g;
        g.character_id = r.U16();
        g.splitter = r.ReadRect();
        return g;
    }
    case 87: {
        BinaryData b;
        b.id = r.U16();
        r.U32();
        b.data = r.RestCopy();
        return b;
    }
    default: return UnknownTag{code, r.RestCopy()};
    }
}

namespace {

enum class HeaderRead { Whole, CutHeader, CutBody };

// The one reading of a tag header, for the parse and for tags read in place.
HeaderRead ReadHeader(std::span<const uint8_t> data, size_t pos, StoredTag& tag) {
    tag.position = pos;
    if (data.size() - pos < 2) return HeaderRead::CutHeader;
    const uint16_t code_and_length = static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8));
    pos += 2;
    tag.code = code_and_length >> 6;
    size_t length = code_and_length & 0x3F;
    if (length == 0x3F) {
        if (data.size() - pos < 4) return HeaderRead::CutHeader;
        length = static_cast<uint32_t>(data[pos]) | (static_cast<uint32_t>(data[pos + 1]) << 8) |
                 (static_cast<uint32_t>(data[pos + 2]) << 16) | (static_cast<uint32_t>(data[pos + 3]) << 24);
        pos += 4;
    }
    if (length > data.size() - pos) return HeaderRead::CutBody;
    tag.body = data.subspan(pos, length);
    tag.next = pos + length;
    return HeaderRead::Whole;
}

// How many tags the stream holds (of those kept), from their headers alone:
// the list is made at its size at once, as a growing list would hold its old
// and new copies together (two and a half times the tags of a long movie)
// while it grows.
size_t CountTags(std::span<const uint8_t> data, bool frames_in_place) {
    size_t pos = 0, count = 0;
    StoredTag tag;
    while (pos < data.size() && ReadHeader(data, pos, tag) == HeaderRead::Whole) {
        pos = tag.next;
        if (!frames_in_place || !IsFrameTag(tag.code)) ++count;
        if (tag.code == 0) break;
    }
    return count;
}

// Frame tags read in place are only checked here; scripts and sound blocks
// are kept as they are stored, so nothing in them can fail.
void CheckFrameTag(uint16_t code, Reader& r, int sprite_depth, std::vector<ParseError>& warnings) {
    switch (code) {
    case 4:
    case 26:
    case 70:
    case 94: ReadPlaceObject(r, code == 4 ? 1 : code == 26 ? 2 : code == 70 ? 3 : 4); break;
    case 1:
    case 12:
    case 19: break;
    default: (void)ReadTagBody(code, r, sprite_depth, warnings); break;
    }
}

}  // namespace

void ReadTagStream(std::span<const uint8_t> data, uint64_t base, uint8_t version, int sprite_depth,
                   std::vector<Tag>& tags, std::vector<ParseError>& warnings,
                   std::optional<ParseError>& truncated, bool frames_in_place) {
    tags.reserve(tags.size() + CountTags(data, frames_in_place));
    size_t pos = 0;
    while (pos < data.size()) {
        StoredTag stored;
        switch (ReadHeader(data, pos, stored)) {
        case HeaderRead::CutHeader:
            truncated = ParseError{"the movie is cut inside a tag header", base + pos};
            return;
        case HeaderRead::CutBody:
            truncated = ParseError{"tag " + std::to_string(stored.code) + " runs past the end of the movie", base + pos};
            return;
        case HeaderRead::Whole: break;
        }
        const uint16_t code = stored.code;
        const auto body = stored.body;
        Reader r(body, base + (stored.next - body.size()), version);
        if (frames_in_place && IsFrameTag(code)) {
            try {
                CheckFrameTag(code, r, sprite_depth, warnings);
            } catch (const ReadError& e) {
                warnings.push_back(ParseError{"tag " + std::to_string(code) + ": " + e.message, e.offset});
            }
            pos = stored.next;
            continue;
        }
        Tag tag;
        tag.code = code;
        tag.offset = static_cast<uint32_t>(base + pos);
        try {
            tag.body = ReadTagBody(code, r, sprite_depth, warnings, frames_in_place);
        } catch (const ReadError& e) {
            warnings.push_back(ParseError{"tag " + std::to_string(code) + ": " + e.message, e.offset});
            tag.body = UnknownTag{code, Bytes(body.begin(), body.end())};
        }
        pos = stored.next;
        const bool end = code == 0;
        tags.push_back(std::move(tag));
        if (end) return;
    }
}

}  // namespace qm::swf::detail

namespace qm::swf {

TagBody ParseTagBody(uint16_t code, std::span<const uint8_t> body, uint8_t version, ParseError* error) {
    std::vector<ParseError> warnings;
    Reader r(body, 0, version);
    try {
        TagBody result = detail::ReadTagBody(code, r, 0, warnings);
        if (error && !warnings.empty()) *error = warnings.front();
        return result;
    } catch (const ReadError& e) {
        if (error) *error = ParseError{e.message, e.offset};
        return UnknownTag{code, Bytes(body.begin(), body.end())};
    }
}

bool IsFrameTag(uint16_t code) {
    switch (code) {
    case 1:   // ShowFrame
    case 4:   // PlaceObject, 2, 3, 4
    case 26:
    case 70:
    case 94:
    case 5:   // RemoveObject, 2
    case 28:
    case 9:   // SetBackgroundColor
    case 12:  // DoAction
    case 59:  // DoInitAction
    case 15:  // StartSound, 2
    case 89:
    case 19:  // SoundStreamBlock
        return true;
    default: return false;
    }
}

std::optional<StoredTag> ReadStoredTag(std::span<const uint8_t> stream, size_t position) {
    StoredTag tag;
    if (position >= stream.size() || detail::ReadHeader(stream, position, tag) != detail::HeaderRead::Whole)
        return std::nullopt;
    return tag;
}

std::optional<PlaceObject> ParsePlaceObject(std::span<const uint8_t> body, uint8_t place_version,
                                            uint8_t movie_version) {
    Reader r(body, 0, movie_version);
    try {
        return detail::ReadPlaceObject(r, place_version);
    } catch (const ReadError&) {
        return std::nullopt;
    }
}

std::optional<ActionRecord> DecodeAction(std::span<const uint8_t> actions, size_t offset) {
    if (offset >= actions.size()) return std::nullopt;
    ActionRecord rec;
    rec.code = actions[offset];
    if (rec.code < 0x80) {
        rec.size = 1;
        return rec;
    }
    if (actions.size() - offset < 3) return std::nullopt;
    size_t length = actions[offset + 1] | (actions[offset + 2] << 8);
    if (length > actions.size() - offset - 3) return std::nullopt;
    rec.payload = actions.subspan(offset + 3, length);
    rec.size = 3 + length;
    return rec;
}

}  // namespace qm::swf
