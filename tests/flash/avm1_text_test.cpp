// Text fields and TextFormat in scripts: formats read and given, the values
// TextFormat keeps, and the measures of laid-out text.
#include <cmath>

#include "flash/avm1/avm1.h"
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

E New(const std::string& cls, const std::vector<E>& args = {}) { return Args(args).push({cls}).newObject(); }

std::vector<std::string> RunMovie(w::Movie& movie, const E& script) {
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie);
}

// "A" one em wide, space half an em; lines one em high.
w::Font Boxes() {
    w::Font f;
    f.name = "Boxes";
    w::Glyph space;
    space.code = ' ';
    space.advance = 512;
    w::Glyph a;
    a.code = 'A';
    a.outline.moveTo(0, -800).lineTo(1024, -800).lineTo(1024, 0).lineTo(0, 0).lineTo(0, -800);
    a.advance = 1024;
    f.glyphs = {space, a};
    f.ascent = 800;
    f.descent = 224;
    return f;
}

E Field() { return Var("t"); }

E MakeField(double width) {
    return Seq({SetVar("t", Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(width), Lit(200)})),
                SetMember(Field(), "embedFonts", Lit(true)), SetMember(Field(), "multiline", Lit(true))});
}

}  // namespace

// Each TextFormat setting keeps its own kind of value: the constructor cuts
// numbers, the setters round them half to even; colours are unsigned; an
// unknown alignment is refused; margins are never negative.
TEST(Avm1Text, TextFormatKeepsValuesByKind) {
    struct Case {
        const char* property;
        w::PushValue given;
        const char* kept;
    };
    const Case cases[] = {
        {"size", 2.5, "2"},
        {"size", 3.5, "4"},
        {"size", -3.5, "-4"},
        {"size", std::nan(""), "-2147483648"},
        {"size", 4294967295.0, "-2147483648"},
        {"color", -3.0, "4294967293"},
        {"color", std::nan(""), "0"},
        {"leftMargin", -5.0, "0"},
        {"indent", -5.4, "-5"},
        {"bold", "yes", "true"},
        {"font", w::Undefined{}, "null"},
        {"font", 12.0, "12"},
        {"align", "CENTER", "center"},
        {"align", "middle", "right"},  // kept from before
        {"display", "Inline", "block"},
        {"display", "none", "none"},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        auto lines = RunMovie(movie, Seq({SetVar("f", New("TextFormat")), SetMember(Var("f"), "align", Lit("right")),
                                     SetMember(Var("f"), c.property, Lit(c.given)), Trace(Member(Var("f"), c.property))}));
        EXPECT_EQ(lines, std::vector<std::string>{c.kept}) << c.property;
    }
    // The constructor cuts toward zero and leaves the rest null.
    w::Movie movie({.version = 8});
    auto lines = RunMovie(movie, Seq({SetVar("f", New("TextFormat", {Lit("Boxes"), Lit(-10.9), Lit(-11.0)})),
                                 Trace(Member(Var("f"), "size")), Trace(Member(Var("f"), "color")),
                                 Trace(Member(Var("f"), "bold")), Trace(Member(Var("f"), "display"))}));
    EXPECT_EQ(lines, (std::vector<std::string>{"-10", "4294967285", "null", "block"}));
}

// A field's format is read back as given; the new text format waits for the
// next text, and the measures follow the embedded font's advances.
TEST(Avm1Text, FieldFormatAndMeasures) {
    w::Movie movie({.version = 8});
    movie.defineFont2(Boxes());
    E t = Field();
    auto lines = RunMovie(movie, Seq({
        MakeField(400),
        SetMember(t, "text", Lit("AAA")),
        SetVar("f", New("TextFormat", {Lit("Boxes"), Lit(20), Lit(0xFF0000)})),
        SetMember(Var("f"), "align", Lit("right")),
        Do(Call(t, "setTextFormat", {Var("f")})),
        Trace(Member(t, "textWidth")),
        Trace(Member(t, "textHeight")),
        Trace(Member(Call(t, "getTextFormat"), "font")),
        Trace(Member(Call(t, "getTextFormat"), "size")),
        Trace(Member(Call(t, "getTextFormat"), "color")),
        Trace(Member(Call(t, "getTextFormat"), "align")),
        // Waits for new text, then takes it.
        Do(Call(t, "setNewTextFormat", {New("TextFormat", {Lit("Boxes"), Lit(10)})})),
        Trace(Member(Call(t, "getTextFormat"), "size")),
        Trace(Member(Call(t, "getNewTextFormat"), "size")),
        SetMember(t, "text", Lit("AA\rA A")),
        Trace(Member(Call(t, "getTextFormat"), "size")),
        Trace(Member(t, "textWidth")),
        Trace(Member(t, "textHeight")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"60", "20", "Boxes", "20", "16711680", "right", "20", "10", "10",
                                               "25", "20"}));
}

// getTextExtent measures a text in the format's embedded font, on one line.
TEST(Avm1Text, TextExtentOfAFormat) {
    w::Movie movie({.version = 8});
    movie.defineFont2(Boxes());
    auto lines = RunMovie(movie, Seq({
        SetVar("e", Call(New("TextFormat", {Lit("Boxes"), Lit(20)}), "getTextExtent", {Lit("AA A")})),
        Trace(Member(Var("e"), "width")),
        Trace(Member(Var("e"), "height")),
        Trace(Member(Var("e"), "ascent")),
        Trace(Member(Var("e"), "textFieldWidth")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"70", "20", "16", "74"}));
}
