// Movie writer for tests and the demo: builds .swf files tag by tag.
//
//   using namespace qm::swfwriter;
//   Movie movie({.version = 8, .frame = Rect::pixels(550, 400), .frameRate = fps(24)});
//   movie.setBackgroundColor({255, 255, 255});
//
//   Shape box;
//   box.fill0(box.addFill(FillStyle::solid({200, 30, 30}))).rect(0, 0, 2000, 1000);
//   uint16_t boxId = movie.defineShape(box);            // DefineShape3 unless told otherwise
//
//   Sprite clip = movie.sprite();                        // a nested timeline
//   clip.place({.depth = 1, .character = boxId});
//   clip.showFrame();
//   uint16_t clipId = movie.defineSprite(clip);
//
//   movie.place({.depth = 1, .character = clipId, .matrix = Matrix::translate(400, 400),
//                .name = "clip"});
//   movie.doAction(Actions().push({"hello"}).trace().stop());
//   movie.showFrame();
//   movie.save(path);                                    // or movie.bytes()
//
// Coordinates are twips (1/20 pixel). Character ids are given out in order from 1 by the
// define* calls, which return them. The frame count in the header defaults to the number of
// ShowFrame tags; End is appended to the main timeline and to every sprite unless turned off.
// To forge damaged movies: Header fields (signature, fileLength, frameCount), rawTag() with any
// code and body (optionally in the long form), rawBytes() for anything at all, and cutting the
// result of bytes().
//
// Actions is a small AVM1 assembler: one method per action, push() for values of every type,
// label() with jump()/if_() resolved to byte offsets, nested bodies for functions, with and try.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qm::swfwriter {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// Basic values

struct Color {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

struct Rect {
    int32_t xmin = 0, xmax = 0, ymin = 0, ymax = 0;  // twips, in the file's field order
    static Rect pixels(int32_t width, int32_t height) { return {0, width * 20, 0, height * 20}; }
};

struct Matrix {
    double scaleX = 1, scaleY = 1, rotateSkew0 = 0, rotateSkew1 = 0;
    int32_t translateX = 0, translateY = 0;  // twips

    static Matrix translate(int32_t x, int32_t y);
    static Matrix scale(double sx, double sy, int32_t x = 0, int32_t y = 0);
    static Matrix rotate(double radians, double sx = 1, double sy = 1, int32_t x = 0, int32_t y = 0);
    // Maps the gradient square (-16384..16384) onto the box, turned by radians about its centre.
    static Matrix gradientBox(int32_t x, int32_t y, int32_t width, int32_t height, double radians = 0);
};

// Multiplier terms are 8.8 fixed (256 = 1.0); add terms are plain. Alpha terms are written only
// where the record has them (PlaceObject2/3, buttons 2).
struct CXForm {
    int16_t redMult = 256, greenMult = 256, blueMult = 256, alphaMult = 256;
    int16_t redAdd = 0, greenAdd = 0, blueAdd = 0, alphaAdd = 0;
};

// 8.8 frame rate from frames per second.
uint16_t fps(double framesPerSecond);

// ---------------------------------------------------------------------------------------------
// Shapes

struct GradientStop {
    uint8_t ratio = 0;
    Color color{};
};

struct Gradient {
    uint8_t spread = 0;         // 0 pad, 1 reflect, 2 repeat
    uint8_t interpolation = 0;  // 0 RGB, 1 linear RGB
    std::vector<GradientStop> stops{};
    double focalPoint = 0;      // focal gradients only, -1..1
};

struct FillStyle {
    uint8_t type = 0x00;  // 0x00 solid, 0x10 linear, 0x12 radial, 0x13 focal, 0x40..0x43 bitmap
    Color color{};
    Matrix matrix{};        // gradient or bitmap matrix
    Gradient gradient{};
    uint16_t bitmapId = 0;

    static FillStyle solid(Color c);
    static FillStyle linear(const Matrix& m, std::vector<GradientStop> stops);
    static FillStyle radial(const Matrix& m, std::vector<GradientStop> stops);
    static FillStyle focal(const Matrix& m, std::vector<GradientStop> stops, double focalPoint);
    static FillStyle bitmap(uint16_t id, const Matrix& m, bool repeat = true, bool smooth = true);
};

struct LineStyle {
    uint16_t width = 20;  // twips
    Color color{};
    // The rest is written only by DefineShape4 (LINESTYLE2).
    uint8_t startCap = 0, endCap = 0;  // 0 round, 1 none, 2 square
    uint8_t join = 0;                  // 0 round, 1 bevel, 2 miter
    double miterLimit = 3;
    bool noHScale = false, noVScale = false, pixelHinting = false, noClose = false;
    std::optional<FillStyle> fill{};     // stroke painted with a fill instead of a colour
};

// A path of style changes and edges. Edge calls take absolute end points; the writer stores
// deltas. Style calls made one after another (and a moveTo) share one style change record.
class Shape {
public:
    struct StyleChange {
        std::optional<std::pair<int32_t, int32_t>> moveTo{};
        std::optional<uint32_t> fill0{}, fill1{}, line{};
        bool newStyles = false;
        std::vector<FillStyle> fills{};
        std::vector<LineStyle> lines{};
    };
    struct Edge {
        bool straight = true;
        int32_t controlDX = 0, controlDY = 0;  // curves only
        int32_t anchorDX = 0, anchorDY = 0;
    };
    using Record = std::variant<StyleChange, Edge>;

    std::vector<FillStyle> fills{};  // initial style arrays; records select them by 1-based index
    std::vector<LineStyle> lines{};
    std::optional<Rect> bounds{};      // default: the edges and control points, plus half a stroke
    std::optional<Rect> edgeBounds{};  // DefineShape4; default: without strokes
    bool nonZeroWinding = false;     // DefineShape4 flag
    std::vector<Record> records{};

    uint32_t addFill(const FillStyle& f);  // returns the 1-based index
    uint32_t addLine(const LineStyle& l);

    Shape& fill0(uint32_t index);
    Shape& fill1(uint32_t index);
    Shape& line(uint32_t index);
    Shape& newStyles(std::vector<FillStyle> fills, std::vector<LineStyle> lines);
    Shape& moveTo(int32_t x, int32_t y);
    Shape& lineTo(int32_t x, int32_t y);
    Shape& curveTo(int32_t controlX, int32_t controlY, int32_t x, int32_t y);
    // Closed figures from the current styles.
    Shape& rect(int32_t x, int32_t y, int32_t width, int32_t height);
    Shape& ellipse(int32_t centreX, int32_t centreY, int32_t radiusX, int32_t radiusY);

    int32_t penX() const { return penX_; }
    int32_t penY() const { return penY_; }
    Rect computedBounds(bool withStrokes) const;

private:
    StyleChange& styleRecord();
    int32_t penX_ = 0, penY_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Morph shapes

struct MorphStop {
    uint8_t startRatio = 0;
    Color startColor{};
    uint8_t endRatio = 0;
    Color endColor{};
};

struct MorphFillStyle {
    uint8_t type = 0x00;
    Color startColor{}, endColor{};
    Matrix startMatrix{}, endMatrix{};  // gradient or bitmap matrices
    std::vector<MorphStop> stops{};
    double startFocalPoint = 0, endFocalPoint = 0;  // 0x13 only
    uint16_t bitmapId = 0;

    static MorphFillStyle solid(Color start, Color end);
    static MorphFillStyle linear(const Matrix& start, const Matrix& end, std::vector<MorphStop> stops);
    static MorphFillStyle radial(const Matrix& start, const Matrix& end, std::vector<MorphStop> stops);
    static MorphFillStyle bitmap(uint16_t id, const Matrix& start, const Matrix& end,
                                 bool repeat = true, bool smooth = true);
};

struct MorphLineStyle {
    uint16_t startWidth = 20, endWidth = 20;
    Color startColor{}, endColor{};
    // DefineMorphShape2 only.
    uint8_t startCap = 0, endCap = 0, join = 0;
    double miterLimit = 3;
    bool noHScale = false, noVScale = false, pixelHinting = false, noClose = false;
    std::optional<MorphFillStyle> fill{};
};

// start carries the style changes (indices into fills/lines here) and edges; end carries the
// matching edges and moves only. The shapes' own style arrays are not used.
struct MorphShape {
    std::vector<MorphFillStyle> fills{};
    std::vector<MorphLineStyle> lines{};
    Shape start{}, end{};
    std::optional<Rect> startBounds{}, endBounds{}, startEdgeBounds{}, endEdgeBounds{};
};

// ---------------------------------------------------------------------------------------------
// Fonts and text

struct Glyph {
    uint16_t code = 0;
    Shape outline{};  // fill 1 is the text colour; selected automatically when no record sets a fill
    int16_t advance = 0;
    std::optional<Rect> bounds{};  // layout table; default computed from the outline
};

struct KerningPair {
    uint16_t left = 0, right = 0;
    int16_t adjustment = 0;
};

// Glyph coordinates and layout values are in the EM of the tag written: 1024 units for
// DefineFont/DefineFont2, 20480 for DefineFont3.
struct Font {
    std::string name{};
    bool bold = false, italic = false, smallText = false;
    uint8_t language = 0;
    std::vector<Glyph> glyphs{};  // in ascending code order
    bool hasLayout = true;
    uint16_t ascent = 0, descent = 0;
    int16_t leading = 0;
    std::vector<KerningPair> kerning{};

    int glyphIndex(uint16_t code) const;  // -1 when absent
};

struct GlyphEntry {
    uint32_t index = 0;
    int32_t advance = 0;
};

struct TextRecord {
    std::optional<uint16_t> font{};  // the height is written with the font
    uint16_t height = 240;
    std::optional<Color> color{};
    std::optional<int16_t> x{}, y{};
    std::vector<GlyphEntry> glyphs{};
};

struct Text {
    Rect bounds{};
    Matrix matrix{};
    std::vector<TextRecord> records{};
};

// One record for a UTF-8 string set in the font; codes the font lacks are skipped.
TextRecord layoutText(const Font& font, uint16_t fontId, const std::string& utf8, uint16_t height,
                      Color color, int16_t x, int16_t y, int emSize = 1024);

struct EditText {
    Rect bounds{};
    std::optional<std::string> text{};
    bool wordWrap = false, multiline = false, password = false, readOnly = false;
    bool autoSize = false, noSelect = false, border = false, wasStatic = false, html = false;
    bool useOutlines = false;
    std::optional<uint16_t> font{};
    std::optional<std::string> fontClass{};
    uint16_t height = 240;  // written with a font or font class
    std::optional<Color> color{};
    std::optional<uint16_t> maxLength{};
    struct Layout {
        uint8_t align = 0;  // 0 left, 1 right, 2 centre, 3 justify
        uint16_t leftMargin = 0, rightMargin = 0, indent = 0;
        int16_t leading = 0;
    };
    std::optional<Layout> layout{};
    std::string variable{};
};

// ---------------------------------------------------------------------------------------------
// Actions (AVM1)

struct Null {};
struct Undefined {};
struct Register {
    uint8_t number = 0;
};
struct Constant {
    uint16_t index = 0;  // written as type 8 below 256, else type 9
};
struct Float {
    float value = 0;  // type 1, as SWF 4 code pushes numbers
};

struct PushValue {
    std::variant<std::string, Float, Null, Undefined, Register, bool, double, int32_t, Constant> v;
    PushValue(const char* s) : v(std::string(s)) {}
    PushValue(std::string s) : v(std::move(s)) {}
    PushValue(Float f) : v(f) {}
    PushValue(Null n) : v(n) {}
    PushValue(Undefined u) : v(u) {}
    PushValue(Register r) : v(r) {}
    PushValue(bool b) : v(b) {}
    PushValue(double d) : v(d) {}
    PushValue(int i) : v(int32_t(i)) {}
    PushValue(Constant c) : v(c) {}
};

class Actions {
public:
    Actions& push(std::initializer_list<PushValue> values);  // one Push action
    Actions& push(const std::vector<PushValue>& values);
    Actions& constantPool(const std::vector<std::string>& strings);

    Actions& op(uint8_t code);                          // any action without payload
    Actions& action(uint8_t code, const Bytes& payload);  // any action with payload
    Actions& raw(const Bytes& bytes);                   // bytes as they stand

    // Branches: the label may be set before or after the branch.
    Actions& label(const std::string& name);
    Actions& jump(const std::string& label);
    Actions& if_(const std::string& label);

    // SWF 3
    Actions& nextFrame() { return op(0x04); }
    Actions& prevFrame() { return op(0x05); }
    Actions& play() { return op(0x06); }
    Actions& stop() { return op(0x07); }
    Actions& toggleQuality() { return op(0x08); }
    Actions& stopSounds() { return op(0x09); }
    Actions& gotoFrame(uint16_t frame);  // 0-based
    Actions& getUrl(const std::string& url, const std::string& target);
    Actions& waitForFrame(uint16_t frame, uint8_t skipCount);
    Actions& setTarget(const std::string& target);
    Actions& gotoLabel(const std::string& label);
    // SWF 4
    Actions& add() { return op(0x0A); }
    Actions& subtract() { return op(0x0B); }
    Actions& multiply() { return op(0x0C); }
    Actions& divide() { return op(0x0D); }
    Actions& equals() { return op(0x0E); }
    Actions& less() { return op(0x0F); }
    Actions& and_() { return op(0x10); }
    Actions& or_() { return op(0x11); }
    Actions& not_() { return op(0x12); }
    Actions& stringEquals() { return op(0x13); }
    Actions& stringLength() { return op(0x14); }
    Actions& stringExtract() { return op(0x15); }
    Actions& pop() { return op(0x17); }
    Actions& toInteger() { return op(0x18); }
    Actions& getVariable() { return op(0x1C); }
    Actions& setVariable() { return op(0x1D); }
    Actions& setTarget2() { return op(0x20); }
    Actions& stringAdd() { return op(0x21); }
    Actions& getProperty() { return op(0x22); }
    Actions& setProperty() { return op(0x23); }
    Actions& cloneSprite() { return op(0x24); }
    Actions& removeSprite() { return op(0x25); }
    Actions& trace() { return op(0x26); }
    Actions& startDrag() { return op(0x27); }
    Actions& endDrag() { return op(0x28); }
    Actions& stringLess() { return op(0x29); }
    Actions& randomNumber() { return op(0x30); }
    Actions& mbStringLength() { return op(0x31); }
    Actions& charToAscii() { return op(0x32); }
    Actions& asciiToChar() { return op(0x33); }
    Actions& getTime() { return op(0x34); }
    Actions& mbStringExtract() { return op(0x35); }
    Actions& mbCharToAscii() { return op(0x36); }
    Actions& mbAsciiToChar() { return op(0x37); }
    Actions& waitForFrame2(uint8_t skipCount);
    Actions& getUrl2(uint8_t flags);
    Actions& call();
    Actions& gotoFrame2(bool play, std::optional<uint16_t> sceneBias = std::nullopt);
    // SWF 5
    Actions& delete_() { return op(0x3A); }
    Actions& delete2() { return op(0x3B); }
    Actions& defineLocal() { return op(0x3C); }
    Actions& callFunction() { return op(0x3D); }
    Actions& return_() { return op(0x3E); }
    Actions& modulo() { return op(0x3F); }
    Actions& newObject() { return op(0x40); }
    Actions& defineLocal2() { return op(0x41); }
    Actions& initArray() { return op(0x42); }
    Actions& initObject() { return op(0x43); }
    Actions& typeOf() { return op(0x44); }
    Actions& targetPath() { return op(0x45); }
    Actions& enumerate() { return op(0x46); }
    Actions& add2() { return op(0x47); }
    Actions& less2() { return op(0x48); }
    Actions& equals2() { return op(0x49); }
    Actions& toNumber() { return op(0x4A); }
    Actions& toString() { return op(0x4B); }
    Actions& pushDuplicate() { return op(0x4C); }
    Actions& stackSwap() { return op(0x4D); }
    Actions& getMember() { return op(0x4E); }
    Actions& setMember() { return op(0x4F); }
    Actions& increment() { return op(0x50); }
    Actions& decrement() { return op(0x51); }
    Actions& callMethod() { return op(0x52); }
    Actions& newMethod() { return op(0x53); }
    Actions& bitAnd() { return op(0x60); }
    Actions& bitOr() { return op(0x61); }
    Actions& bitXor() { return op(0x62); }
    Actions& bitLShift() { return op(0x63); }
    Actions& bitRShift() { return op(0x64); }
    Actions& bitURShift() { return op(0x65); }
    Actions& storeRegister(uint8_t reg);
    Actions& with(const Actions& body);
    Actions& defineFunction(const std::string& name, const std::vector<std::string>& params,
                            const Actions& body);
    // SWF 6
    Actions& instanceOf() { return op(0x54); }
    Actions& enumerate2() { return op(0x55); }
    Actions& strictEquals() { return op(0x66); }
    Actions& greater() { return op(0x67); }
    Actions& stringGreater() { return op(0x68); }
    // SWF 7
    Actions& extends() { return op(0x69); }
    Actions& throw_() { return op(0x2A); }
    Actions& castOp() { return op(0x2B); }
    Actions& implementsOp() { return op(0x2C); }
    struct RegisterParam {
        uint8_t reg = 0;  // 0: a named variable
        std::string name{};
    };
    // flags: PreloadThis 0x01 ... PreloadParent 0x80, PreloadGlobal 0x100.
    Actions& defineFunction2(const std::string& name, uint8_t registerCount, uint16_t flags,
                             const std::vector<RegisterParam>& params, const Actions& body);
    // The caught value goes to a variable (string) or a register.
    Actions& try_(const Actions& body, const std::optional<Actions>& catchBody,
                  const std::optional<Actions>& finallyBody,
                  std::variant<std::string, uint8_t> caught = std::string());

    // The assembled code, without the end byte; throws std::runtime_error on an unknown label
    // or a branch that does not fit.
    Bytes bytes() const;

private:
    struct Fixup {
        size_t at;  // offset field position
        std::string label{};
    };
    Bytes code_{};
    std::vector<Fixup> fixups_{};
    std::vector<std::pair<std::string, size_t>> labels_{};
    Actions& appendBody(const Actions& body);
};

// ---------------------------------------------------------------------------------------------
// Display list, filters, buttons, sounds

struct Filter {
    uint8_t id = 0;
    Bytes body{};

    static Filter dropShadow(Color c, double blurX, double blurY, double angle, double distance,
                             double strength = 1, bool inner = false, bool knockout = false,
                             uint8_t passes = 1);
    static Filter blur(double blurX, double blurY, uint8_t passes = 1);
    static Filter glow(Color c, double blurX, double blurY, double strength = 1, bool inner = false,
                       bool knockout = false, uint8_t passes = 1);
    // The first colour in the file is the highlight.
    static Filter bevel(Color highlight, Color shadow, double blurX, double blurY, double angle,
                        double distance, double strength = 1, bool inner = true,
                        bool knockout = false, bool onTop = false, uint8_t passes = 1);
    static Filter gradientGlow(const std::vector<GradientStop>& stops, double blurX, double blurY,
                               double angle, double distance, double strength = 1,
                               bool inner = false, bool knockout = false, bool onTop = false,
                               uint8_t passes = 1);
    static Filter gradientBevel(const std::vector<GradientStop>& stops, double blurX, double blurY,
                                double angle, double distance, double strength = 1,
                                bool inner = true, bool knockout = false, bool onTop = false,
                                uint8_t passes = 1);
    static Filter convolution(uint8_t columns, uint8_t rows, float divisor, float bias,
                              const std::vector<float>& matrix, Color defaultColor,
                              bool clamp = true, bool preserveAlpha = false);
    static Filter colorMatrix(const std::array<float, 20>& matrix);
};

// Clip event bits: the low byte is the first byte of the record in the file.
enum ClipEvent : uint32_t {
    kClipLoad = 0x01, kClipEnterFrame = 0x02, kClipUnload = 0x04, kClipMouseMove = 0x08,
    kClipMouseDown = 0x10, kClipMouseUp = 0x20, kClipKeyDown = 0x40, kClipKeyUp = 0x80,
    kClipData = 0x100, kClipInitialize = 0x200, kClipPress = 0x400, kClipRelease = 0x800,
    kClipReleaseOutside = 0x1000, kClipRollOver = 0x2000, kClipRollOut = 0x4000,
    kClipDragOver = 0x8000, kClipDragOut = 0x10000, kClipKeyPress = 0x20000,
    kClipConstruct = 0x40000,
};

struct ClipAction {
    uint32_t events = 0;
    uint8_t keyCode = 0;  // with kClipKeyPress
    Actions actions{};
};

struct Place {
    uint16_t depth = 1;
    std::optional<uint16_t> character{};
    bool move = false;  // modify (or, with a character, replace) what is at the depth
    std::optional<Matrix> matrix{};
    std::optional<CXForm> cxform{};
    std::optional<uint16_t> ratio{};
    std::optional<std::string> name{};
    std::optional<uint16_t> clipDepth{};
    std::vector<ClipAction> clipActions{};
    // Any of these makes it a PlaceObject3.
    std::vector<Filter> filters{};
    std::optional<uint8_t> blendMode{};
    std::optional<uint8_t> bitmapCache{};
    std::optional<bool> visible{};
    std::optional<Color> background{};
    std::optional<std::string> className{};
};

enum ButtonState : uint8_t { kButtonUp = 1, kButtonOver = 2, kButtonDown = 4, kButtonHit = 8 };

struct ButtonRecord {
    uint8_t states = kButtonUp | kButtonOver | kButtonDown | kButtonHit;
    uint16_t character = 0;
    uint16_t depth = 1;
    Matrix matrix{};
    CXForm cxform{};  // DefineButton2 only
    std::vector<Filter> filters{};
    std::optional<uint8_t> blendMode{};
};

// Transition bits as a little-endian word: IdleToOverUp 0x01 ... IdleToOverDown 0x80,
// OverDownToIdle 0x100; a key code sits above them (keyPress()).
enum ButtonCondition : uint16_t {
    kCondIdleToOverUp = 0x01, kCondOverUpToIdle = 0x02, kCondOverUpToOverDown = 0x04,
    kCondOverDownToOverUp = 0x08, kCondOverDownToOutDown = 0x10, kCondOutDownToOverDown = 0x20,
    kCondOutDownToIdle = 0x40, kCondIdleToOverDown = 0x80, kCondOverDownToIdle = 0x100,
};
inline uint16_t keyPress(uint8_t key) { return uint16_t((key & 0x7F) << 9); }

struct ButtonCondAction {
    uint16_t conditions = kCondOverDownToOverUp;
    Actions actions{};
};

struct SoundFormat {
    uint8_t format = 3;  // 0/3 PCM, 1 ADPCM, 2 MP3, 4/5/6 Nellymoser, 11 Speex
    uint8_t rate = 3;    // 0 5.5 kHz, 1 11 kHz, 2 22 kHz, 3 44 kHz
    bool sixteenBit = true;
    bool stereo = false;
};

struct SoundEnvelopePoint {
    uint32_t pos44 = 0;
    uint16_t left = 32768, right = 32768;
};

struct SoundInfo {
    bool syncStop = false, noMultiple = false;
    std::optional<uint32_t> inPoint{}, outPoint{};
    std::optional<uint16_t> loops{};
    std::vector<SoundEnvelopePoint> envelope{};
};

// ---------------------------------------------------------------------------------------------
// Timelines and the movie

// Control tags, shared by the main timeline and sprites.
class Timeline {
public:
    explicit Timeline(uint8_t version) : version_(version) {}
    virtual ~Timeline() = default;

    void place(const Place& p);   // PlaceObject2, or PlaceObject3 when it needs one
    void place3(const Place& p);  // always PlaceObject3
    void placeObject1(uint16_t character, uint16_t depth, const Matrix& m = {},
                      std::optional<CXForm> cxform = std::nullopt);
    void removeObject(uint16_t character, uint16_t depth);
    void removeObject2(uint16_t depth);
    void showFrame();
    void frameLabel(const std::string& name, bool anchor = false);
    void doAction(const Actions& a);
    void doInitAction(uint16_t spriteId, const Actions& a);
    void startSound(uint16_t soundId, const SoundInfo& info = {});
    void startSound2(const std::string& className, const SoundInfo& info = {});
    // Head2 unless head1; the playback fields repeat the stream's. LatencySeek is written for MP3
    // when given.
    void soundStreamHead(const SoundFormat& stream, uint16_t samplesPerBlock,
                         std::optional<int16_t> latencySeek = std::nullopt, bool head1 = false);
    void soundStreamBlock(const Bytes& data);
    // VideoFrame: one packet of an embedded video stream.
    void videoFrame(uint16_t streamId, uint16_t frameNum, const Bytes& data);

    void end() { rawTag(0, {}); }  // only for an End where none would be written

    // Escapes for forging: any tag, and any bytes at all.
    void rawTag(uint16_t code, const Bytes& body, bool longForm = false);
    void rawBytes(const Bytes& bytes);

    int showFrameCount() const { return frames_; }
    const Bytes& tagBytes() const { return tags_; }
    // Decides the width of clip event flags (2 bytes up to version 5).
    virtual uint8_t version() const { return version_; }

protected:
    uint8_t version_;
    Bytes tags_{};
    int frames_ = 0;
};

class Sprite : public Timeline {
public:
    explicit Sprite(uint8_t version = 10) : Timeline(version) {}
    std::optional<uint16_t> frameCount{};  // default: the ShowFrame tags
    bool appendEnd = true;
};

struct Header {
    std::string signature = "FWS";  // "CWS" is compressed; anything else is written plainly
    uint8_t version = 10;
    Rect frame = Rect::pixels(550, 400);
    uint16_t frameRate = 24 << 8;         // 8.8
    std::optional<uint16_t> frameCount{};   // default: the ShowFrame tags
    std::optional<uint32_t> fileLength{};   // default: the true inflated length
    bool appendEnd = true;
};

class Movie : public Timeline {
public:
    explicit Movie(const Header& h = {});
    Header header;

    Sprite sprite() const { return Sprite(header.version); }
    uint8_t version() const override { return header.version; }
    // The id the next define* call gives out (they count up from 1).
    void setNextId(uint16_t id) { nextId_ = id; }

    void setBackgroundColor(Color c);
    void fileAttributes(uint32_t flags);  // 0x08 AS3, 0x01 UseNetwork, 0x10 HasMetadata ...
    void exportAssets(const std::vector<std::pair<uint16_t, std::string>>& names);

    uint16_t defineShape(const Shape& s, int shapeVersion = 3);  // 1..4
    uint16_t defineMorphShape(const MorphShape& m, int morphVersion = 1);  // 1, 2
    // pixels: uncompressed COLORMAPDATA / BITMAPDATA / ALPHA... bytes, compressed here.
    uint16_t defineBitsLossless(uint8_t format, uint16_t width, uint16_t height, const Bytes& pixels,
                                uint16_t colorTableEntries = 0, bool withAlpha = false);
    // Straight RGBA pixels, row by row, as DefineBitsLossless2 format 5 (premultiplied).
    uint16_t defineBitmapRGBA(uint16_t width, uint16_t height, const std::vector<Color>& pixels);
    uint16_t defineBits(const Bytes& jpegWithoutTables);
    void jpegTables(const Bytes& tables);
    uint16_t defineBitsJPEG2(const Bytes& image);
    // alpha: one byte per pixel, uncompressed; compressed here.
    uint16_t defineBitsJPEG3(const Bytes& image, const Bytes& alpha);
    uint16_t defineFont(const Font& f);
    uint16_t defineFont2(const Font& f);
    uint16_t defineFont3(const Font& f);
    void defineFontInfo(uint16_t fontId, const Font& f, bool info2 = true);
    uint16_t defineText(const Text& t, int textVersion = 2);
    uint16_t defineEditText(const EditText& e);
    uint16_t defineSprite(const Sprite& s);
    uint16_t defineSound(const SoundFormat& f, uint32_t sampleCount, const Bytes& data);
    // DefineVideoStream. codec: 2 H.263, 3 screen video, 4 VP6, 5 VP6 with alpha, 6 screen video 2;
    // deblocking 0..7 as stored.
    uint16_t defineVideoStream(uint16_t frames, uint16_t width, uint16_t height, uint8_t codec,
                               bool smoothing = false, uint8_t deblocking = 0);
    uint16_t defineButton(const std::vector<ButtonRecord>& records, const Actions& onRelease);
    uint16_t defineButton2(const std::vector<ButtonRecord>& records,
                           const std::vector<ButtonCondAction>& actions, bool trackAsMenu = false);
    // Sounds of the transitions OverUpToIdle, IdleToOverUp, OverUpToOverDown, OverDownToOverUp
    // (0: none).
    void defineButtonSound(uint16_t buttonId, const std::array<uint16_t, 4>& sounds,
                           const std::array<SoundInfo, 4>& infos = {});

    Bytes bytes() const;
    void save(const std::string& path) const;  // throws std::runtime_error

private:
    uint16_t nextId_ = 1;
    uint16_t takeId() { return nextId_++; }
};

// Little helpers tests reach for.
Bytes zlibCompress(const Bytes& data);
// 16-bit little-endian mono PCM of a sine tone.
Bytes sinePCM16(double frequency, double seconds, int sampleRate, double amplitude = 0.5);
// The movie format's ADPCM (2..5 bits per code): the code size, then packets of an initial
// sample and index followed by 4095 codes per channel. Stereo samples are interleaved L, R.
Bytes encodeADPCM(const std::vector<int16_t>& samples, int bitsPerCode = 4, bool stereo = false);

}  // namespace qm::swfwriter
