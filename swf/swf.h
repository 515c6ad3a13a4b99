// The movie format as plain data: every tag and record of a movie, decoded
// into value types, with no knowledge of drawing or playing. The player
// (flash/) consumes this; nothing here calls back into it.
//
// Units are those of the file: coordinates and lengths in twips (1/20 pixel),
// colour transform multipliers in 1/256, fixed-point values already turned
// into doubles. Fields that the file may leave out are std::optional where
// "absent" means something different from a default value.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace qm::swf {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Basic records
// ---------------------------------------------------------------------------

struct Rect {
    int32_t x_min = 0;
    int32_t x_max = 0;
    int32_t y_min = 0;
    int32_t y_max = 0;
    bool operator==(const Rect&) const = default;
};

struct Rgba {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 255;
    bool operator==(const Rgba&) const = default;
};

// x' = a*x + c*y + tx ; y' = b*x + d*y + ty  (a = ScaleX, b = RotateSkew0,
// c = RotateSkew1, d = ScaleY; tx, ty in twips).
struct Matrix {
    double a = 1.0;
    double b = 0.0;
    double c = 0.0;
    double d = 1.0;
    double tx = 0.0;
    double ty = 0.0;
    bool operator==(const Matrix&) const = default;
};

// c' = clamp(c * mult / 256 + add, 0, 255) per channel. CXFORM (without
// alpha) leaves the alpha terms at their identity values.
struct ColorTransform {
    int16_t r_mult = 256;
    int16_t g_mult = 256;
    int16_t b_mult = 256;
    int16_t a_mult = 256;
    int16_t r_add = 0;
    int16_t g_add = 0;
    int16_t b_add = 0;
    int16_t a_add = 0;
    bool operator==(const ColorTransform&) const = default;
};

// ---------------------------------------------------------------------------
// Header
// ---------------------------------------------------------------------------

enum class Compression : uint8_t { None, Zlib, Lzma };

struct Header {
    Compression compression = Compression::None;
    uint8_t version = 0;
    uint32_t file_length = 0;  // as stored: length of the uncompressed file
    Rect frame_size;           // stage, twips
    uint16_t frame_rate = 0;   // raw 8.8 fixed point
    uint16_t frame_count = 0;

    double FrameRate() const { return frame_rate / 256.0; }
    int StageWidthPixels() const { return (frame_size.x_max - frame_size.x_min) / 20; }
    int StageHeightPixels() const { return (frame_size.y_max - frame_size.y_min) / 20; }
};

// ---------------------------------------------------------------------------
// Styles
// ---------------------------------------------------------------------------

enum class FillType : uint8_t {
    Solid = 0x00,
    LinearGradient = 0x10,
    RadialGradient = 0x12,
    FocalRadialGradient = 0x13,
    RepeatingBitmap = 0x40,
    ClippedBitmap = 0x41,
    NonSmoothedRepeatingBitmap = 0x42,
    NonSmoothedClippedBitmap = 0x43,
};

enum class SpreadMode : uint8_t { Pad = 0, Reflect = 1, Repeat = 2 };
enum class InterpolationMode : uint8_t { Normal = 0, LinearRgb = 1 };

struct GradientRecord {
    uint8_t ratio = 0;
    Rgba color;
    bool operator==(const GradientRecord&) const = default;
};

struct Gradient {
    SpreadMode spread = SpreadMode::Pad;
    InterpolationMode interpolation = InterpolationMode::Normal;
    std::vector<GradientRecord> records;  // may be empty in broken files: draw nothing
    double focal_point = 0.0;             // focal radial gradients only, -1..1
    bool operator==(const Gradient&) const = default;
};

struct FillStyle {
    FillType type = FillType::Solid;
    Rgba color;          // Solid
    Matrix matrix;       // gradient square -> shape, or bitmap pixels -> shape
    Gradient gradient;   // gradient types
    uint16_t bitmap_id = 0;  // bitmap types

    bool IsGradient() const {
        return type == FillType::LinearGradient || type == FillType::RadialGradient ||
               type == FillType::FocalRadialGradient;
    }
    bool IsBitmap() const { return (static_cast<uint8_t>(type) & 0xF0) == 0x40; }
    bool BitmapRepeats() const { return type == FillType::RepeatingBitmap || type == FillType::NonSmoothedRepeatingBitmap; }
    bool BitmapSmoothed() const { return type == FillType::RepeatingBitmap || type == FillType::ClippedBitmap; }
    bool operator==(const FillStyle&) const = default;
};

enum class CapStyle : uint8_t { Round = 0, None = 1, Square = 2 };
enum class JoinStyle : uint8_t { Round = 0, Bevel = 1, Miter = 2 };

// LINESTYLE (shapes 1-3: round caps and joins, a colour) and LINESTYLE2.
struct LineStyle {
    uint16_t width = 0;  // twips
    Rgba color;
    CapStyle start_cap = CapStyle::Round;
    CapStyle end_cap = CapStyle::Round;
    JoinStyle join = JoinStyle::Round;
    double miter_limit = 3.0;  // factor of the width, Miter joins only
    bool no_hscale = false;
    bool no_vscale = false;
    bool pixel_hinting = false;
    bool no_close = false;
    std::optional<FillStyle> fill;  // stroke painted with a fill instead of `color`
    bool operator==(const LineStyle&) const = default;
};

// ---------------------------------------------------------------------------
// Shapes: an edge list
// ---------------------------------------------------------------------------

// Style indices are 1-based into the current arrays; 0 = none.
struct StyleChangeRecord {
    std::optional<std::pair<int32_t, int32_t>> move_to;  // absolute, shape origin
    std::optional<uint32_t> fill_style0;                 // fill left of the edge
    std::optional<uint32_t> fill_style1;                 // fill right of the edge
    std::optional<uint32_t> line_style;
    // When present, these arrays replace the current ones (a new drawing
    // layer above everything drawn before); the indices above refer to them.
    std::optional<std::vector<FillStyle>> new_fill_styles;
    std::optional<std::vector<LineStyle>> new_line_styles;
};

struct StraightEdgeRecord {
    int32_t dx = 0;
    int32_t dy = 0;
};

// control = pen + control delta; end = control + anchor delta.
struct CurvedEdgeRecord {
    int32_t control_dx = 0;
    int32_t control_dy = 0;
    int32_t anchor_dx = 0;
    int32_t anchor_dy = 0;
};

using ShapeRecord = std::variant<StyleChangeRecord, StraightEdgeRecord, CurvedEdgeRecord>;

// DefineShape 1-4. Font glyphs use the same type with empty style arrays and
// an implicit fill style 1 (the text colour).
struct Shape {
    uint16_t id = 0;
    uint8_t version = 1;  // 1..4 (DefineShape, 2, 3, 4)
    Rect bounds;          // with strokes
    Rect edge_bounds;     // without strokes (version 4; else = bounds)
    bool uses_fill_winding_rule = false;  // non-zero instead of even-odd
    bool uses_non_scaling_strokes = false;
    bool uses_scaling_strokes = false;
    std::vector<FillStyle> fill_styles;
    std::vector<LineStyle> line_styles;
    std::vector<ShapeRecord> records;
};

// ---------------------------------------------------------------------------
// Morph shapes
// ---------------------------------------------------------------------------

// A morph style is a pair of ordinary styles, start and end, with the same
// type and (for gradients) the same number of records.
struct MorphFillStyle {
    FillStyle start;
    FillStyle end;
};

struct MorphLineStyle {
    LineStyle start;
    LineStyle end;
};

struct MorphShape {
    uint16_t id = 0;
    uint8_t version = 1;  // 1 = DefineMorphShape, 2 = DefineMorphShape2
    Rect start_bounds;
    Rect end_bounds;
    Rect start_edge_bounds;  // version 2
    Rect end_edge_bounds;    // version 2
    bool uses_non_scaling_strokes = false;
    bool uses_scaling_strokes = false;
    std::vector<MorphFillStyle> fill_styles;
    std::vector<MorphLineStyle> line_styles;
    std::vector<ShapeRecord> start_records;  // edges and every style change
    std::vector<ShapeRecord> end_records;    // edges and move-to records only
};

// ---------------------------------------------------------------------------
// Bitmaps
// ---------------------------------------------------------------------------

enum class BitmapKind : uint8_t {
    Jpeg,        // DefineBits: image data to be joined with JPEGTables
    Jpeg2,       // DefineBitsJPEG2
    Jpeg3,       // DefineBitsJPEG3 (+ zlib alpha plane)
    Jpeg4,       // DefineBitsJPEG4 (+ deblocking, zlib alpha plane)
    Lossless,    // DefineBitsLossless
    Lossless2,   // DefineBitsLossless2 (with alpha)
};

enum class ImageFormat : uint8_t { Jpeg, Png, Gif, Unknown };

enum class LosslessFormat : uint8_t { ColorMapped8 = 3, Rgb15 = 4, Rgb32 = 5 };

struct Bitmap {
    uint16_t id = 0;
    BitmapKind kind = BitmapKind::Jpeg2;
    // JPEG kinds: the image bytes (JPEG, or PNG/GIF from version 8), as stored.
    // Lossless kinds: the zlib stream of colour table and pixels, not inflated.
    Bytes data;
    ImageFormat image_format = ImageFormat::Unknown;  // JPEG kinds, by signature
    Bytes alpha_data;         // Jpeg3/4: zlib alpha plane, one byte per pixel
    double deblock = 0.0;     // Jpeg4: 0..1
    LosslessFormat lossless_format = LosslessFormat::Rgb32;
    uint16_t width = 0;       // lossless kinds
    uint16_t height = 0;      // lossless kinds
    uint16_t color_table_size = 0;  // ColorMapped8: number of entries (stored value + 1)
};

// ---------------------------------------------------------------------------
// Fonts and text
// ---------------------------------------------------------------------------

struct KerningRecord {
    uint16_t code1 = 0;
    uint16_t code2 = 0;
    int16_t adjustment = 0;
};

struct FontLayout {
    uint16_t ascent = 0;
    uint16_t descent = 0;
    int16_t leading = 0;
    std::vector<int16_t> advances;  // one per glyph
    std::vector<Rect> bounds;       // one per glyph
    std::vector<KerningRecord> kerning;
};

// DefineFont (1), DefineFont2 (2), DefineFont3 (3).
struct Font {
    uint16_t id = 0;
    uint8_t version = 1;
    std::string name;  // trailing NUL removed
    bool small_text = false;
    bool shift_jis = false;
    bool ansi = false;
    bool italic = false;
    bool bold = false;
    bool wide_codes = false;
    uint8_t language = 0;
    std::vector<Shape> glyphs;    // coordinates on an em of EmSize() units
    std::vector<uint16_t> codes;  // one per glyph (empty for DefineFont)
    std::optional<FontLayout> layout;

    int EmSize() const { return version == 3 ? 20480 : 1024; }
};

// DefineFontInfo (1) / DefineFontInfo2 (2): names and codes for a DefineFont.
struct FontInfo {
    uint16_t font_id = 0;
    uint8_t version = 1;
    std::string name;
    bool small_text = false;
    bool shift_jis = false;
    bool ansi = false;
    bool italic = false;
    bool bold = false;
    bool wide_codes = false;
    uint8_t language = 0;
    std::vector<uint16_t> codes;
};

struct FontAlignZones {
    struct Zone {
        float alignment = 0;  // x (left) or y (baseline)
        float range = 0;      // width or height
    };
    struct Record {
        std::vector<Zone> zones;  // normally two: x, y
        bool mask_x = false;
        bool mask_y = false;
    };
    uint16_t font_id = 0;
    uint8_t csm_table_hint = 0;
    std::vector<Record> records;
};

struct FontName {
    uint16_t font_id = 0;
    std::string name;
    std::string copyright;
};

// DefineFont4: an OpenType font for the AS3 text engine, kept whole.
struct Font4 {
    uint16_t id = 0;
    bool italic = false;
    bool bold = false;
    std::string name;
    Bytes data;  // empty when the tag carries no font data
};

struct GlyphEntry {
    uint32_t index = 0;
    int32_t advance = 0;
};

// Font, colour and pen position carry over from one record to the next.
struct TextRecord {
    std::optional<uint16_t> font_id;
    std::optional<Rgba> color;
    std::optional<int16_t> x_offset;
    std::optional<int16_t> y_offset;
    uint16_t height = 0;  // with font_id
    std::vector<GlyphEntry> glyphs;
};

// DefineText (1) / DefineText2 (2).
struct Text {
    uint16_t id = 0;
    uint8_t version = 1;
    Rect bounds;
    Matrix matrix;
    std::vector<TextRecord> records;
};

enum class TextAlign : uint8_t { Left = 0, Right = 1, Center = 2, Justify = 3 };

struct EditTextLayout {
    TextAlign align = TextAlign::Left;
    uint16_t left_margin = 0;
    uint16_t right_margin = 0;
    uint16_t indent = 0;
    int16_t leading = 0;
};

struct EditText {
    uint16_t id = 0;
    Rect bounds;
    bool word_wrap = false;
    bool multiline = false;
    bool password = false;
    bool read_only = false;
    bool auto_size = false;
    bool no_select = false;
    bool border = false;
    bool was_static = false;
    bool html = false;
    bool use_outlines = false;
    std::optional<uint16_t> font_id;
    std::optional<std::string> font_class;
    std::optional<uint16_t> font_height;  // twips
    std::optional<Rgba> color;
    std::optional<uint16_t> max_length;
    std::optional<EditTextLayout> layout;
    std::string variable_name;
    std::optional<std::string> initial_text;
    // Only scripts set these: the tag's one flag gives a white box with a black line.
    std::optional<bool> background;  // the box's fill; unset: as `border`
    uint32_t background_color = 0xFFFFFF, border_color = 0;  // 0xRRGGBB
};

struct CsmTextSettings {
    uint16_t text_id = 0;
    uint8_t use_flash_type = 0;
    uint8_t grid_fit = 0;
    float thickness = 0;
    float sharpness = 0;
};

// ---------------------------------------------------------------------------
// Filters and blend modes
// ---------------------------------------------------------------------------

enum class BlendMode : uint8_t {
    Normal = 0,  // 0 and 1 both mean normal; parsed 0 becomes Normal
    Layer = 2,
    Multiply = 3,
    Screen = 4,
    Lighten = 5,
    Darken = 6,
    Difference = 7,
    Add = 8,
    Subtract = 9,
    Invert = 10,
    Alpha = 11,
    Erase = 12,
    Overlay = 13,
    HardLight = 14,
};

struct DropShadowFilter {
    Rgba color;
    double blur_x = 0, blur_y = 0;
    double angle = 0;     // radians
    double distance = 0;  // pixels
    double strength = 1;
    bool inner = false;
    bool knockout = false;
    bool composite_source = true;
    uint8_t passes = 1;
};

struct BlurFilter {
    double blur_x = 0, blur_y = 0;
    uint8_t passes = 1;
};

struct GlowFilter {
    Rgba color;
    double blur_x = 0, blur_y = 0;
    double strength = 1;
    bool inner = false;
    bool knockout = false;
    bool composite_source = true;
    uint8_t passes = 1;
};

// The first colour of the record is the highlight, the second the shadow.
struct BevelFilter {
    Rgba highlight_color;
    Rgba shadow_color;
    double blur_x = 0, blur_y = 0;
    double angle = 0;
    double distance = 0;
    double strength = 1;
    bool inner = false;
    bool knockout = false;
    bool composite_source = true;
    bool on_top = false;
    uint8_t passes = 1;
};

// Gradient glow and gradient bevel share one layout.
struct GradientFilter {
    bool bevel = false;  // false: gradient glow
    std::vector<GradientRecord> gradient;
    double blur_x = 0, blur_y = 0;
    double angle = 0;
    double distance = 0;
    double strength = 1;
    bool inner = false;
    bool knockout = false;
    bool composite_source = true;
    bool on_top = false;
    uint8_t passes = 1;
};

struct ConvolutionFilter {
    uint8_t matrix_x = 0;  // columns
    uint8_t matrix_y = 0;  // rows
    float divisor = 1;
    float bias = 0;
    std::vector<float> matrix;  // row-major, matrix_x * matrix_y
    Rgba default_color;
    bool clamp = false;
    bool preserve_alpha = false;
};

struct ColorMatrixFilter {
    std::array<float, 20> matrix{};  // 4 rows x 5 columns, row-major
};

using Filter = std::variant<DropShadowFilter, BlurFilter, GlowFilter, BevelFilter, GradientFilter,
                            ConvolutionFilter, ColorMatrixFilter>;

// ---------------------------------------------------------------------------
// Actions and events
// ---------------------------------------------------------------------------

// Action records are kept as bytes, up to and including the end byte;
// DecodeAction (below) reads them one at a time.
using ActionBytes = Bytes;

// Clip event bits, one layout for every version (SWF 5's two-byte flags fill
// the low 16 bits).
enum ClipEvent : uint32_t {
    kClipEventLoad = 0x00000001,
    kClipEventEnterFrame = 0x00000002,
    kClipEventUnload = 0x00000004,
    kClipEventMouseMove = 0x00000008,
    kClipEventMouseDown = 0x00000010,
    kClipEventMouseUp = 0x00000020,
    kClipEventKeyDown = 0x00000040,
    kClipEventKeyUp = 0x00000080,
    kClipEventData = 0x00000100,
    kClipEventInitialize = 0x00000200,
    kClipEventPress = 0x00000400,
    kClipEventRelease = 0x00000800,
    kClipEventReleaseOutside = 0x00001000,
    kClipEventRollOver = 0x00002000,
    kClipEventRollOut = 0x00004000,
    kClipEventDragOver = 0x00008000,
    kClipEventDragOut = 0x00010000,
    kClipEventKeyPress = 0x00020000,
    kClipEventConstruct = 0x00040000,
};

struct ClipActionRecord {
    uint32_t events = 0;   // ClipEvent bits
    uint8_t key_code = 0;  // with kClipEventKeyPress
    ActionBytes actions;
};

struct ClipActions {
    uint32_t all_events = 0;
    std::vector<ClipActionRecord> records;
};

// ---------------------------------------------------------------------------
// Buttons
// ---------------------------------------------------------------------------

// Button transition bits (BUTTONCONDACTION, low 9 bits).
enum ButtonCondition : uint16_t {
    kCondIdleToOverUp = 0x001,
    kCondOverUpToIdle = 0x002,
    kCondOverUpToOverDown = 0x004,
    kCondOverDownToOverUp = 0x008,
    kCondOverDownToOutDown = 0x010,
    kCondOutDownToOverDown = 0x020,
    kCondOutDownToIdle = 0x040,
    kCondIdleToOverDown = 0x080,
    kCondOverDownToIdle = 0x100,
};

struct ButtonRecord {
    bool state_up = false;
    bool state_over = false;
    bool state_down = false;
    bool state_hit_test = false;
    uint16_t character_id = 0;
    uint16_t depth = 0;
    Matrix matrix;
    ColorTransform color_transform;  // DefineButton2 (DefineButton: see ButtonCxform)
    std::vector<Filter> filters;
    BlendMode blend_mode = BlendMode::Normal;
};

struct ButtonAction {
    uint16_t conditions = 0;  // ButtonCondition bits
    uint8_t key_code = 0;     // 0 = none
    ActionBytes actions;
};

// DefineButton (1): its one action list becomes a ButtonAction on
// kCondOverDownToOverUp. DefineButton2 (2).
struct Button {
    uint16_t id = 0;
    uint8_t version = 1;
    bool track_as_menu = false;
    std::vector<ButtonRecord> records;
    std::vector<ButtonAction> actions;
};

struct ButtonCxform {
    uint16_t button_id = 0;
    std::vector<ColorTransform> transforms;  // applied to the records in order
};

// ---------------------------------------------------------------------------
// Sound
// ---------------------------------------------------------------------------

enum class SoundCodec : uint8_t {
    UncompressedNativeEndian = 0,
    Adpcm = 1,
    Mp3 = 2,
    UncompressedLittleEndian = 3,
    Nellymoser16k = 4,
    Nellymoser8k = 5,
    Nellymoser = 6,
    Speex = 11,
};

struct SoundFormat {
    SoundCodec codec = SoundCodec::UncompressedLittleEndian;
    uint8_t rate = 0;  // code: 0 = 5512, 1 = 11025, 2 = 22050, 3 = 44100 Hz
    bool is_16bit = true;
    bool is_stereo = false;

    uint32_t SampleRate() const {
        static constexpr uint32_t kRates[4] = {5512, 11025, 22050, 44100};
        if (codec == SoundCodec::Nellymoser16k || codec == SoundCodec::Speex) return 16000;
        if (codec == SoundCodec::Nellymoser8k) return 8000;
        return kRates[rate & 3];
    }
};

struct DefineSound {
    uint16_t id = 0;
    SoundFormat format;
    uint32_t sample_count = 0;  // per channel
    Bytes data;
};

struct SoundEnvelopePoint {
    uint32_t pos44 = 0;
    uint16_t left = 0;   // 0..32768
    uint16_t right = 0;
};

struct SoundInfo {
    bool sync_stop = false;
    bool sync_no_multiple = false;
    std::optional<uint32_t> in_point;
    std::optional<uint32_t> out_point;
    uint16_t loop_count = 1;
    std::optional<std::vector<SoundEnvelopePoint>> envelope;
};

// StartSound (sound_id) and StartSound2 (class_name).
struct StartSound {
    uint16_t sound_id = 0;
    std::optional<std::string> class_name;
    SoundInfo info;
};

struct SoundStreamHead {
    uint8_t version = 1;  // 1 = SoundStreamHead, 2 = SoundStreamHead2
    SoundFormat playback;
    SoundFormat stream;
    uint16_t sample_count = 0;  // average per block, per channel
    std::optional<int16_t> latency_seek;  // MP3; missing in some files
};

struct SoundStreamBlock {
    Bytes data;
};

struct ButtonSound {
    uint16_t button_id = 0;
    // 0: OverUpToIdle, 1: IdleToOverUp, 2: OverUpToOverDown, 3: OverDownToOverUp.
    std::array<uint16_t, 4> sound_ids{};
    std::array<SoundInfo, 4> infos{};
};

// ---------------------------------------------------------------------------
// Video
// ---------------------------------------------------------------------------

enum class VideoCodec : uint8_t {
    SorensonH263 = 2,
    ScreenVideo = 3,
    Vp6 = 4,
    Vp6Alpha = 5,
    ScreenVideo2 = 6,
};

struct VideoStream {
    uint16_t id = 0;
    uint16_t num_frames = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t deblocking = 0;
    bool smoothing = false;
    uint8_t codec = 0;  // VideoCodec value as stored
};

struct VideoFrame {
    uint16_t stream_id = 0;
    uint16_t frame_num = 0;
    Bytes data;
};

// ---------------------------------------------------------------------------
// Display list and control tags
// ---------------------------------------------------------------------------

// PlaceObject (1), PlaceObject2 (2), PlaceObject3 (3), PlaceObject4 (4).
// PlaceObject (1) always has a character and a matrix and never moves.
struct PlaceObject {
    uint8_t version = 2;
    uint16_t depth = 0;
    bool is_move = false;
    std::optional<uint16_t> character_id;
    std::optional<Matrix> matrix;
    std::optional<ColorTransform> color_transform;
    std::optional<uint16_t> ratio;
    std::optional<std::string> name;
    std::optional<uint16_t> clip_depth;
    std::optional<std::vector<Filter>> filters;
    std::optional<BlendMode> blend_mode;
    std::optional<bool> cache_as_bitmap;
    std::optional<bool> visible;
    std::optional<Rgba> background_color;
    std::optional<std::string> class_name;
    bool has_image = false;
    std::optional<ClipActions> clip_actions;
    Bytes amf_data;  // PlaceObject4
};

// A PlaceObject tag as the file stores it. A long movie places something on
// nearly every frame, and its stored bytes take a small part of the room of
// the decoded record, so the player decodes it each time the frame plays.
// Short bodies (most placements and moves) are kept inside the object.
class PackedPlaceObject {
public:
    // `body` must have been read without fault as a PlaceObject of
    // `place_version` (1-4) in a movie of `movie_version`.
    PackedPlaceObject(std::span<const uint8_t> body, uint8_t place_version, uint8_t movie_version);
    PackedPlaceObject(const PackedPlaceObject& other) : PackedPlaceObject(other.bytes(), other.place_version_, other.movie_version_) {}
    PackedPlaceObject(PackedPlaceObject&& other) noexcept
        : size_(other.size_), place_version_(other.place_version_), movie_version_(other.movie_version_), stored_(other.stored_) {
        other.size_ = 0;
    }
    PackedPlaceObject& operator=(const PackedPlaceObject& other);
    PackedPlaceObject& operator=(PackedPlaceObject&& other) noexcept;
    ~PackedPlaceObject();

    PlaceObject Unpack() const;
    uint8_t version() const { return place_version_; }
    std::span<const uint8_t> bytes() const { return {IsInline() ? stored_.bytes : stored_.heap, size_}; }

    static constexpr size_t kInlineBytes = 24;

private:
    bool IsInline() const { return size_ <= kInlineBytes; }

    uint32_t size_ = 0;
    uint8_t place_version_ = 2;
    uint8_t movie_version_ = 0;
    union {
        uint8_t bytes[kInlineBytes];
        uint8_t* heap;
    } stored_;
};

// RemoveObject (1, with character) and RemoveObject2 (2).
struct RemoveObject {
    uint8_t version = 2;
    uint16_t depth = 0;
    std::optional<uint16_t> character_id;
};

struct ShowFrame {};
struct End {};

struct FrameLabel {
    std::string name;
    bool is_anchor = false;
};

struct SetBackgroundColor {
    Rgba color;
};

struct JpegTables {
    Bytes data;
};

struct DoAction {
    ActionBytes actions;
};

struct DoInitAction {
    uint16_t sprite_id = 0;
    ActionBytes actions;
};

struct DoAbc {
    bool has_header = true;  // code 82 (flags + name); false for code 72
    uint32_t flags = 0;
    std::string name;
    Bytes data;
};

struct AssetEntry {
    uint16_t character_id = 0;
    std::string name;
};

struct ExportAssets {
    std::vector<AssetEntry> assets;
};

struct ImportAssets {
    uint8_t version = 1;  // 1 = ImportAssets, 2 = ImportAssets2
    std::string url;
    std::vector<AssetEntry> assets;
};

struct SymbolClass {
    std::vector<AssetEntry> symbols;  // character 0 = the main timeline
};

struct FileAttributes {
    uint32_t flags = 0;
    bool UseDirectBlit() const { return flags & 0x40; }
    bool UseGpu() const { return flags & 0x20; }
    bool HasMetadata() const { return flags & 0x10; }
    bool ActionScript3() const { return flags & 0x08; }
    bool UseNetwork() const { return flags & 0x01; }
};

struct Metadata {
    std::string xml;
};

struct ScriptLimits {
    uint16_t max_recursion_depth = 256;
    uint16_t script_timeout_seconds = 15;
};

struct SetTabIndex {
    uint16_t depth = 0;
    uint16_t tab_index = 0;
};

struct SceneAndFrameLabelData {
    struct Scene {
        uint32_t frame = 0;  // zero-based first frame
        std::string name;
    };
    struct Label {
        uint32_t frame = 0;  // zero-based
        std::string name;
    };
    std::vector<Scene> scenes;
    std::vector<Label> labels;
};

struct ScalingGrid {
    uint16_t character_id = 0;
    Rect splitter;
};

struct BinaryData {
    uint16_t id = 0;
    Bytes data;
};

// A tag this library does not decode (or whose body could not be decoded:
// see ParsedMovie::warnings), kept as it was.
struct UnknownTag {
    uint16_t code = 0;
    Bytes data;
};

struct Tag;

// DefineSprite: a timeline of its own, with its own control tags.
struct Sprite {
    uint16_t id = 0;
    uint16_t frame_count = 0;
    std::vector<Tag> tags;
};

// A tag kind kept on the heap: a tag is as large as its largest inline kind,
// and a long movie holds mostly small ones (frames, placements, sound
// blocks), so definitions and other large kinds live behind a pointer.
// Copies are deep. A box that was moved from holds nothing.
template <class T>
class Boxed {
public:
    Boxed(T value) : value_(std::make_unique<T>(std::move(value))) {}
    Boxed(const Boxed& other) : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(const Boxed& other) {
        if (this != &other) value_ = other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
        return *this;
    }
    Boxed& operator=(Boxed&&) noexcept = default;

    const T* get() const { return value_.get(); }
    T* get() { return value_.get(); }

private:
    std::unique_ptr<T> value_;
};

using TagBody = std::variant<
    UnknownTag, End, ShowFrame, PackedPlaceObject, RemoveObject, Boxed<FrameLabel>, SetBackgroundColor,
    DoAction, DoInitAction, Boxed<DoAbc>, Boxed<Shape>, Boxed<MorphShape>, Boxed<Bitmap>, JpegTables,
    Boxed<Font>, Boxed<FontInfo>, FontAlignZones, Boxed<FontName>, Boxed<Font4>, Boxed<Text>,
    Boxed<EditText>, CsmTextSettings, Boxed<Button>, ButtonCxform, Boxed<ButtonSound>, Sprite,
    Boxed<DefineSound>, Boxed<StartSound>, SoundStreamHead, SoundStreamBlock, VideoStream, VideoFrame,
    ExportAssets, Boxed<ImportAssets>, SymbolClass, FileAttributes, Metadata, ScriptLimits, SetTabIndex,
    Boxed<SceneAndFrameLabelData>, ScalingGrid, BinaryData>;

namespace detail {
template <class T, class Variant>
struct IsAlternative;
template <class T, class... Kinds>
struct IsAlternative<T, std::variant<Kinds...>> : std::bool_constant<(std::is_same_v<T, Kinds> || ...)> {};
}  // namespace detail

// The body as a T, boxed or not; null when the tag is of another kind.
template <class T>
const T* BodyIf(const TagBody& body) {
    if constexpr (detail::IsAlternative<Boxed<T>, TagBody>::value) {
        const auto* boxed = std::get_if<Boxed<T>>(&body);
        return boxed ? boxed->get() : nullptr;
    } else {
        static_assert(detail::IsAlternative<T, TagBody>::value, "not a tag kind");
        return std::get_if<T>(&body);
    }
}

template <class T>
T* BodyIf(TagBody& body) {
    return const_cast<T*>(BodyIf<T>(std::as_const(body)));
}

template <class T>
bool BodyIs(const TagBody& body) {
    return BodyIf<T>(body) != nullptr;
}

// The kind itself, boxed or not, for visitors of a body; null for an empty box.
template <class T>
const T* Unboxed(const T& value) {
    return &value;
}
template <class T>
const T* Unboxed(const Boxed<T>& boxed) {
    return boxed.get();
}
template <class T>
struct UnboxedType {
    using type = T;
};
template <class T>
struct UnboxedType<Boxed<T>> {
    using type = T;
};

struct Tag {
    uint16_t code = 0;
    uint32_t offset = 0;  // of the tag header, in the uncompressed file
    TagBody body;
};

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

struct ParseError {
    std::string message;
    uint64_t offset = 0;  // in the uncompressed file where reading failed
};

struct ParsedMovie {
    Header header;
    std::vector<Tag> tags;  // the main timeline, in file order
    // Tags whose body could not be decoded; each is kept as an UnknownTag
    // and reading went on with the next tag.
    std::vector<ParseError> warnings;
    // Set when the tag stream itself was cut or damaged: `tags` holds what
    // was read before that point.
    std::optional<ParseError> truncated;

    // Read by ParseMovieInPlace: the tags of frames (IsFrameTag) are left
    // out of `tags` and of every sprite's, and stay in `data`, the whole
    // uncompressed file (its first eight bytes as stored), to be read as
    // their frames play.
    bool frames_in_place = false;
    Bytes data;
    uint32_t tags_offset = 0;  // the main timeline's tag stream in `data`
    uint32_t tags_size = 0;

    bool IsActionScript3() const;
    // The tag stream of the main timeline, and of the sprite that `sprite_tag`
    // (one of this movie's DefineSprite tags) defines; empty unless the
    // frames are in place.
    std::span<const uint8_t> TagStream() const;
    std::span<const uint8_t> SpriteTagStream(const Tag& sprite_tag) const;
};

struct ParseResult {
    std::optional<ParsedMovie> movie;  // absent when nothing playable could be read
    std::optional<ParseError> error;   // why there is no movie
};

// Decodes a whole movie file (FWS, CWS or ZWS). Never throws for bad input.
ParseResult ParseMovie(std::span<const uint8_t> file);

// Decodes a whole movie as ParseMovie does, for playing it: the file's bytes
// are kept in the movie (decompressed), and the tags of frames are not
// decoded into tag lists but left there (see ParsedMovie::data), so a
// long movie takes little more than its file.
ParseResult ParseMovieInPlace(Bytes file);

// The tags a movie read in place leaves in its bytes: those of frames, which
// a long movie holds many of (ShowFrame, placements and removals, frame and
// init scripts, started sounds, background colours, stream sound blocks).
bool IsFrameTag(uint16_t code);

// A tag as the movie stores it; the body is a view into the stream it was
// read from.
struct StoredTag {
    uint16_t code = 0;
    size_t position = 0;  // of the tag header, in the stream
    size_t next = 0;      // where the next tag header begins
    std::span<const uint8_t> body;
};

// The header of the tag at `position` of a tag stream, as the parsers read
// it; nullopt where the stream ends, is cut inside a header or the tag runs
// past the end (where reading a movie stops).
std::optional<StoredTag> ReadStoredTag(std::span<const uint8_t> stream, size_t position);

// A PlaceObject body (`place_version` 1-4) of a movie of `movie_version`;
// nullopt when it is damaged (the parsers keep such a tag as unknown).
std::optional<PlaceObject> ParsePlaceObject(std::span<const uint8_t> body, uint8_t place_version,
                                            uint8_t movie_version);

// Decodes one tag body, as found in a movie of the given version. A failure
// gives an UnknownTag and sets *error (offsets relative to the body).
TagBody ParseTagBody(uint16_t code, std::span<const uint8_t> body, uint8_t version,
                     ParseError* error = nullptr);

// Text of a movie's string bytes as UTF-8: movies before version 6 store
// Windows-1252, later ones UTF-8 (kept as stored).
std::string TextToUtf8(std::span<const uint8_t> raw, uint8_t version);

// One decoded action record. Payload bytes are a view into the list given
// to DecodeAction.
struct ActionRecord {
    uint8_t code = 0;
    std::span<const uint8_t> payload;
    size_t size = 0;  // bytes of the whole record, header included
};

// Reads the action record at `offset`; nullopt when the record runs past
// the end of `actions`.
std::optional<ActionRecord> DecodeAction(std::span<const uint8_t> actions, size_t offset);

}  // namespace qm::swf
