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
// numbers, the setters of version 8 round them half to even and older ones
// cut; colours are unsigned; an unknown or missing alignment is refused;
// margins are never negative; letter spacing keeps fractions; face names
// are held to 64 characters.
TEST(Avm1Text, TextFormatKeepsValuesByKind) {
    struct Case {
        const char* property;
        w::PushValue given;
        const char* kept;
        int version = 8;
    };
    const std::string long_face(70, 'f'), held_face(64, 'f');
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
        {"align", w::Null{}, "right"},
        {"align", w::Undefined{}, "right"},
        {"leftMargin", 4294967295.0, "-2147483648"},
        {"leftMargin", INFINITY, "-2147483648"},
        {"leftMargin", std::nan(""), "0"},
        {"letterSpacing", -3.5, "-3.5"},
        {"letterSpacing", 4294967295.0, "4294967295"},
        {"font", long_face, held_face.c_str()},
        {"size", 1.9, "1", 7},
        {"size", -10.9, "-10", 7},
        {"leftMargin", 1.5, "1", 7},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = c.version});
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
    // Ascent and descent are cut to whole twips: 312 + 87 of 400.
    EXPECT_EQ(lines, (std::vector<std::string>{"60", "19", "Boxes", "20", "16711680", "right", "20", "10", "10",
                                               "25", "19"}));
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

namespace {

constexpr const char* kPlainFont = R"(<FONT FACE="Times New Roman" SIZE="12" COLOR="#000000" LETTERSPACING="0" KERNING="0">)";

std::string Para(const std::string& inner) { return std::string(R"(<P ALIGN="LEFT">)") + kPlainFont + inner + "</FONT></P>"; }

// The field's text with its paragraph ends shown as "|".
E ShownText(const E& field) { return Call(Call(Member(field, "text"), "split", {Lit("\r")}), "join", {Lit("|")}); }

}  // namespace

// Markup given to htmlText is read into characters with formats and written
// back in the field's own form: one P or LI per paragraph, a full FONT first
// and then only what changes, B, I and U per run; one-line fields take
// paragraph ends only from line ends.
TEST(Avm1Text, HtmlTextIsReadAndWrittenBack) {
    struct Case {
        const char* html;
        bool multiline;
        std::string written;
        const char* text;
        bool condense = false;
    };
    const Case cases[] = {
        {"a\nb", false, Para("a") + Para("b"), "a|b"},
        {"<p>x</p>", false, Para("x"), "x"},
        {"<p>x</p>", true, Para("x"), "x|"},
        {"line 1 <br> line 2", false, Para("line 1  line 2"), "line 1  line 2"},
        {"line 1 <br> line 2", true, Para("line 1 ") + Para(" line 2"), "line 1 | line 2"},
        // A paragraph end keeps the format it was given in.
        {"<b>\n</b>", false, Para("<B></B>"), "|"},
        {"<b></b>", false, "", ""},
        {"<u><i><b>t</b></i></u>", false, Para("<B><I><U>t</U></I></B>"), "t"},
        {R"(<a href="x.html" target="_top"><b>go</b></a>)", false,
         Para(R"(<A HREF="x.html" TARGET="_top"><B>go</B></A>)"), "go"},
        // Back to an enclosing font that matches, else one more inside.
        {R"(<font size="14">a<font color="#ff0000">b</font>c</font>d)", false,
         std::string(R"(<P ALIGN="LEFT"><FONT FACE="Times New Roman" SIZE="14" COLOR="#000000" LETTERSPACING="0" KERNING="0">)") +
             R"(a<FONT COLOR="#FF0000">b</FONT>c<FONT SIZE="12">d</FONT></FONT></P>)",
         "abcd"},
        {R"(<textformat leading="1" leftmargin="3"><li>x</li></textformat>)", true,
         std::string(R"(<TEXTFORMAT LEFTMARGIN="3" LEADING="1"><LI>)") + kPlainFont + "x</FONT></LI></TEXTFORMAT>", "x|"},
        {R"(<p align="right">r</p>)", true, std::string(R"(<P ALIGN="RIGHT">)") + kPlainFont + "r</FONT></P>", "r|"},
        {"a &lt;&amp;&gt; \"q\" &#65;", false, Para("a &lt;&amp;&gt; &quot;q&quot; A"), "a <&> \"q\" A"},
        {"<unknown>kept</unknown>", false, Para("kept"), "kept"},
        // Colours take the hex digits that lead; none leaves the colour as it was.
        {R"(<font color="#g10101">x</font>)", false, Para("x"), "x"},
        {R"(<font color="#abfg">x</font>)", false,
         std::string(R"(<P ALIGN="LEFT"><FONT FACE="Times New Roman" SIZE="12" COLOR="#000ABF" LETTERSPACING="0" KERNING="0">)") +
             "x</FONT></P>",
         "x"},
        // Condensed white space: runs become one space, none where a paragraph starts.
        // The end of a paragraph is not written, whatever its format.
        {R"(<p><font kerning="1">k</font></p>)", true,
         std::string(R"(<P ALIGN="LEFT"><FONT FACE="Times New Roman" SIZE="12" COLOR="#000000" LETTERSPACING="0" KERNING="1">)") +
             "k</FONT></P>",
         "k|"},
        {"\n \t a \t\n b  \n", true, Para("a b "), "a b ", true},
        {" \n ", true, "", "", true},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        E t = Field();
        auto lines = RunMovie(movie, Seq({
            SetVar("t", Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(100), Lit(100)})),
            SetMember(t, "html", Lit(true)),
            SetMember(t, "multiline", Lit(c.multiline)),
            SetMember(t, "condenseWhite", Lit(c.condense)),
            SetMember(t, "htmlText", Lit(c.html)),
            Trace(Member(t, "htmlText")),
            Trace(ShownText(t)),
        }));
        EXPECT_EQ(lines, (std::vector<std::string>{c.written, c.text})) << c.html << (c.multiline ? " (multiline)" : "");
    }
}

// Formats set over a range change only those characters (paragraph settings
// whole paragraphs); a range read back gives null where its characters differ.
TEST(Avm1Text, FormatsOfRanges) {
    w::Movie movie({.version = 8});
    E t = Field();
    auto lines = RunMovie(movie, Seq({
        SetVar("t", Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(100), Lit(100)})),
        SetMember(t, "html", Lit(true)),
        SetMember(t, "multiline", Lit(true)),
        SetMember(t, "text", Lit("hello world\rnext")),
        SetVar("f", New("TextFormat")),
        SetMember(Var("f"), "bold", Lit(true)),
        Do(Call(t, "setTextFormat", {Lit(6), Lit(11), Var("f")})),
        SetVar("g", New("TextFormat")),
        SetMember(Var("g"), "align", Lit("center")),
        Do(Call(t, "setTextFormat", {Lit(2), Lit(3), Var("g")})),
        Trace(Member(t, "htmlText")),
        Trace(Member(Call(t, "getTextFormat", {Lit(0), Lit(11)}), "bold")),
        Trace(Member(Call(t, "getTextFormat", {Lit(6), Lit(11)}), "bold")),
        Trace(Member(Call(t, "getTextFormat", {Lit(6)}), "bold")),
        Trace(Member(Call(t, "getTextFormat"), "align")),
        Trace(Member(Call(t, "getTextFormat", {Lit(0), Lit(5)}), "font")),
        // Replaced text takes the format of what it replaces.
        Do(Call(t, "replaceText", {Lit(6), Lit(11), Lit("there")})),
        Trace(ShownText(t)),
        Trace(Member(Call(t, "getTextFormat", {Lit(8)}), "bold")),
    }));
    const std::string first = std::string(R"(<P ALIGN="CENTER">)") + kPlainFont + "hello <B>world</B></FONT></P>";
    EXPECT_EQ(lines, (std::vector<std::string>{first + Para("next"), "null", "true", "true", "null", "Times New Roman",
                                               "hello there|next", "true"}));
}

// A TextSnapshot reads the static texts of a clip in depth order from their
// glyphs' codes, with a line end where a record moves down; its ranges are
// cut to the text and hold at least one character.
TEST(Avm1Text, TextSnapshotOfStaticText) {
    w::Movie movie({.version = 8});
    w::Font boxes = Boxes();
    w::Glyph b = boxes.glyphs[1];
    b.code = 'B';
    boxes.glyphs.push_back(b);
    uint16_t font = movie.defineFont2(boxes);
    w::Text lower;
    lower.bounds = {0, 4000, 0, 4000};
    lower.records = {w::layoutText(boxes, font, "BA", 240, {0, 0, 0, 255}, 0, 300),
                     w::layoutText(boxes, font, "AB", 240, {0, 0, 0, 255}, 0, 600)};
    w::Text upper;
    upper.bounds = lower.bounds;
    upper.records = {w::layoutText(boxes, font, "A", 240, {0, 0, 0, 255}, 0, 300)};
    // Placed upper first, at the higher depth.
    movie.place({.depth = 5, .character = movie.defineText(upper)});
    movie.place({.depth = 2, .character = movie.defineText(lower)});
    E s = Var("s");
    struct Case {
        E expression;
        const char* traced;
    };
    const std::vector<Case> cases = {
        {Call(s, "getCount"), "5"},
        {Call(s, "getText", {Lit(0), Lit(5)}), "BAABA"},
        {Call(s, "getText", {Lit(0), Lit(5), Lit(true)}), "BA\nAB\nA"},
        {Call(s, "getText", {Lit(3), Lit(1)}), "B"},
        {Call(s, "getText", {Lit(100), Lit(200)}), "A"},
        {Call(s, "getText", {Lit(0)}), "undefined"},
        {Call(s, "findText", {Lit(0), Lit("ab"), Lit(false)}), "2"},
        {Call(s, "findText", {Lit(0), Lit("ab"), Lit(true)}), "-1"},
        {Call(s, "findText", {Lit(3), Lit("A"), Lit(true)}), "4"},
        {Call(s, "findText", {Lit(0), Lit("A")}), "undefined"},
    };
    E script = SetVar("s", New("TextSnapshot", {Var("_root")}));
    for (const Case& c : cases) script = Seq({script, Trace(c.expression)});
    auto lines = RunMovie(movie, script);
    ASSERT_EQ(lines.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(lines[i], cases[i].traced) << "case " << i;
}

namespace {

E All(const std::vector<E>& steps) {
    E a;
    for (const E& s : steps) a.raw(s.bytes());
    return a;
}

// A field of the given width in Boxes at 20 px ("A" 20 px wide, space 10,
// lines 399 twips high) with `format` settings, then `text`.
E BoxesField(double width, const std::vector<E>& settings, const std::string& text) {
    std::vector<E> steps{MakeField(width), SetVar("f", New("TextFormat", {Lit("Boxes"), Lit(20)}))};
    steps.insert(steps.end(), settings.begin(), settings.end());
    steps.push_back(Do(Call(Field(), "setNewTextFormat", {Var("f")})));
    steps.push_back(SetMember(Field(), "text", Lit(text)));
    return All(steps);
}

}  // namespace

// textWidth and textHeight come from the lines the field draws: the leading
// below the last line counts only when it is the only line, CR LF ends two
// lines, and a left-aligned line that wraps keeps its trailing space.
TEST(Avm1Text, MeasuresFollowTheLaidOutLines) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<E> settings;
        double width;
        const char* text_width;
        const char* text_height;
    };
    E wrap = SetMember(Field(), "wordWrap", Lit(true));
    const Case cases[] = {
        {"one line with leading", "A", {SetMember(Var("f"), "leading", Lit(5))}, 400, "20", "24"},
        {"two lines with leading", "A\rA", {SetMember(Var("f"), "leading", Lit(5))}, 400, "20", "44"},
        {"CR LF", "A\r\nA", {}, 400, "20", "59"},
        {"wrapped, left", "AA AA", {wrap}, 50, "50", "39"},
        {"wrapped, right", "AA AA", {wrap, SetMember(Var("f"), "align", Lit("right"))}, 50, "40", "39"},
        {"trailing spaces, unwrapped", "AA  ", {}, 400, "40", "19"},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        movie.defineFont2(Boxes());
        auto lines = RunMovie(movie, Seq({BoxesField(c.width, c.settings, c.text), Trace(Member(Field(), "textWidth")),
                                          Trace(Member(Field(), "textHeight"))}));
        EXPECT_EQ(lines, (std::vector<std::string>{c.text_width, c.text_height})) << c.name;
    }
}

// scroll is held between 1 and maxscroll; it is kept as a whole number
// counted from 0, so the lowest int wraps to the highest line.
// bottomScroll is the last line wholly in the box from the top line on.
TEST(Avm1Text, ScrollStaysWithinTheText) {
    w::Movie movie({.version = 8});
    movie.defineFont2(Boxes());
    std::vector<E> steps{BoxesField(400, {}, "A\rA\rA\rA\rA\rA\rA\rA\rA\rA\rA\rA"), Trace(Member(Field(), "maxscroll")),
                         Trace(Member(Field(), "bottomScroll"))};
    for (w::PushValue v : {w::PushValue(2.0), w::PushValue(100.0), w::PushValue(-5.0), w::PushValue(2147483648.0),
                           w::PushValue(std::string("3"))}) {
        steps.push_back(SetMember(Field(), "scroll", Lit(v)));
        steps.push_back(Trace(Member(Field(), "scroll")));
    }
    steps.push_back(Trace(Member(Field(), "bottomScroll")));
    auto lines = RunMovie(movie, All(steps));
    EXPECT_EQ(lines, (std::vector<std::string>{"4", "9", "2", "4", "1", "4", "3", "11"}));
}

// A field that sizes itself fits its box to the text and stays put on the
// side it aligns to.
TEST(Avm1Text, AutoSizeFitsTheBoxToTheText) {
    struct Case {
        const char* mode;
        const char* x;
    };
    const Case cases[] = {{"left", "50"}, {"center", "-2"}, {"right", "-54"}, {"none", "50"}, {"RIght", "-54"}, {"CENTER", "-2"}};
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        movie.defineFont2(Boxes());
        auto lines = RunMovie(movie, Seq({BoxesField(100, {}, "AAAAAAAAAA"), SetMember(Field(), "_x", Lit(50)),
                                          SetMember(Field(), "autoSize", Lit(c.mode)), Trace(Member(Field(), "_x")),
                                          Trace(Member(Field(), "_width")), Trace(Member(Field(), "_height"))}));
        bool sized = std::string(c.mode) != "none";
        EXPECT_EQ(lines, (std::vector<std::string>{c.x, sized ? "204" : "100", sized ? "23.95" : "200"})) << c.mode;
    }
}

// HTML fields start left aligned whatever their definition says: before
// version 8 always, and markup given later starts so too; from version 8
// only while the definition has no text.
TEST(Avm1Text, HtmlFieldsStartLeftAligned) {
    struct Case {
        int version;
        bool html;
        const char* text;
        bool set_html;  // the script makes the field HTML and gives markup
        const char* align;
    };
    const Case cases[] = {
        {8, false, nullptr, false, "center"}, {8, false, nullptr, true, "center"}, {8, true, nullptr, false, "left"},
        {8, true, "x", false, "center"},      {7, false, nullptr, false, "center"}, {7, false, nullptr, true, "left"},
        {7, true, nullptr, false, "left"},    {7, true, "x", false, "left"},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = uint8_t(c.version)});
        w::EditText field;
        field.bounds = {0, 2000, 0, 400};
        field.html = c.html;
        field.multiline = true;
        if (c.text) field.text = c.text;
        field.layout = w::EditText::Layout{.align = 2, .leftMargin = 200};
        movie.place({.depth = 1, .character = movie.defineEditText(field), .name = "t"});
        std::vector<E> steps;
        if (c.set_html) {
            steps.push_back(SetMember(Field(), "html", Lit(true)));
            steps.push_back(SetMember(Field(), "htmlText", Lit("a<br>b")));
        }
        steps.push_back(Trace(Member(Call(Field(), "getNewTextFormat", {}), "align")));
        steps.push_back(Trace(Member(Call(Field(), "getNewTextFormat", {}), "leftMargin")));
        auto lines = RunMovie(movie, All(steps));
        EXPECT_EQ(lines, (std::vector<std::string>{c.align, "10"}))
            << "version " << c.version << (c.html ? " html" : "") << (c.text ? " with text" : "") << (c.set_html ? " set" : "");
    }
}

// A field bound to a variable shows its value, and text set into the field
// goes back to the variable. A variable not yet set takes the field's text,
// unless the field is empty; one on a plain object is read once the frame's
// scripts have run, one on a clip as soon as the field is asked.
TEST(Avm1Text, FieldsBoundToVariables) {
    struct Case {
        const char* name;
        const char* variable;
        const char* text;  // the field's own
        std::vector<E> first, second;  // the scripts of two frames
        std::vector<std::string> traced;
    };
    E t = Field();
    const Case cases[] = {
        {"field gives its text", "v", "Hello", {Trace(Var("v"))}, {}, {"Hello"}},
        {"empty field gives none", "v", nullptr, {Trace(E(Var("v")).typeOf())}, {}, {"undefined"}},
        {"variable to field", "v", "Hello", {SetVar("v", Lit("x")), Trace(Member(t, "text"))}, {}, {"x"}},
        {"field to variable", "v", "Hello", {SetMember(t, "text", Lit("y")), Trace(Var("v"))}, {}, {"y"}},
        {"numbers shown as text", "v", nullptr, {SetVar("v", Lit(12.5)), Trace(Member(t, "text"))}, {}, {"12.5"}},
        {"clip path", "_root.c:v", "Hello",
         {Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(5)})), SetMember(Var("c"), "v", Lit("deep")),
          Trace(Member(t, "text"))},
         {},
         {"deep"}},
        {"plain object read once a frame", "o.v", "Hello",
         {SetVar("o", New("Object")), SetMember(Var("o"), "v", Lit("obj"))},
         {Trace(Member(t, "text")), SetMember(Var("o"), "v", Lit("later")), Trace(Member(t, "text")),
          SetMember(t, "text", Lit("typed")), Trace(Member(Var("o"), "v"))},
         {"obj", "obj", "typed"}},
        {"bound anew", "v", "Hello",
         {SetMember(t, "text", Lit("changed")), SetMember(t, "variable", Lit("w")), Trace(Var("w")), Trace(Member(t, "text"))},
         {},
         {"Hello", "Hello"}},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        w::EditText field;
        field.bounds = {0, 2000, 0, 400};
        field.variable = c.variable;
        if (c.text) field.text = c.text;
        movie.place({.depth = 1, .character = movie.defineEditText(field), .name = "t"});
        movie.doAction(All(c.first));
        movie.showFrame();
        movie.doAction(All(c.second));
        movie.showFrame();
        EXPECT_EQ(TracesOf(movie, 2), c.traced) << c.name;
    }
}

// getTextExtent converts its width once: a valueOf runs once.
TEST(Avm1Text, TextExtentConvertsItsWidthOnce) {
    w::Movie movie({.version = 8});
    auto lines = RunMovie(movie, Seq({SetVar("w", New("Object")),
                                      SetMember(Var("w"), "valueOf", E().defineFunction("", {}, Seq({Trace(Lit("asked")), E(Lit(42)).return_()}))),
                                      Do(Call(New("TextFormat"), "getTextExtent", {Lit("abc"), Var("w")}))}));
    EXPECT_EQ(lines, std::vector<std::string>{"asked"});
}

// Formats that follow from others: a paragraph's end takes the character
// format of its text, so the whole text reads as one format; textColor is
// the colour of the text given from now on.
TEST(Avm1Text, FormatsThatFollowFromOthers) {
    struct Case {
        const char* name;
        std::vector<E> steps;
        const char* traced;
    };
    E t = Field();
    E tf = SetVar("f", New("TextFormat"));
    const Case cases[] = {
        {"paragraph ends",
         {SetMember(t, "html", Lit(true)), SetMember(t, "multiline", Lit(true)),
          SetMember(t, "htmlText", Lit(R"(<p><font kerning="1">a</font></p><p><font kerning="1">b</font></p>)")),
          Trace(Member(Call(t, "getTextFormat", {}), "kerning"))},
         "true"},
        {"new text format", {tf, SetMember(Var("f"), "color", Lit(0x404040)), Do(Call(t, "setNewTextFormat", {Var("f")})),
                             Trace(Member(t, "textColor"))},
         "4210752"},
        {"format of the text", {SetMember(t, "text", Lit("abc")), tf, SetMember(Var("f"), "color", Lit(0x808080)),
                                Do(Call(t, "setTextFormat", {Var("f")})), Trace(Member(t, "textColor"))},
         "0"},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        std::vector<E> steps{SetVar("t", Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(100), Lit(100)}))};
        steps.insert(steps.end(), c.steps.begin(), c.steps.end());
        EXPECT_EQ(RunMovie(movie, All(steps)), std::vector<std::string>{c.traced}) << c.name;
    }
}

// Filters and the advanced anti-aliasing settings are TextField properties
// from version 8 on: before, an object made from the prototype keeps what
// is set on it.
TEST(Avm1Text, VersionEightPropertiesOfTextFields) {
    for (int version : {7, 8}) {
        std::vector<std::string> expected;
        std::vector<E> steps{SetVar("o", New("Object")),
                             SetMember(Var("o"), "__proto__", Member(Var("TextField"), "prototype"))};
        for (const char* name : {"filters", "sharpness", "thickness", "antiAliasType", "gridFitType", "scroll"}) {
            steps.push_back(SetMember(Var("o"), name, Lit("test")));
            steps.push_back(Trace(Member(Var("o"), name)));
            expected.push_back(version < 8 && std::string(name) != "scroll" ? "test" : "undefined");
        }
        w::Movie movie({.version = uint8_t(version)});
        EXPECT_EQ(RunMovie(movie, All(steps)), expected) << "version " << version;
    }
}

namespace {

E Cat(const E& a, const E& b) {
    E e = a;
    return e.raw(b.bytes()).add2();
}

// onSetFocus/onKillFocus of `name` tracing what they are given.
E FocusHandlers(const std::string& name) {
    return Seq({SetMember(Var(name), "onSetFocus",
                          E().defineFunction("", {"old"}, Trace(Cat(Lit(name + " set, from "), Var("old"))))),
                SetMember(Var(name), "onKillFocus",
                          E().defineFunction("", {"now"}, Trace(Cat(Lit(name + " kill, to "), Var("now")))))});
}

}  // namespace

// Selection.setFocus moves the focus between clips and fields: the one losing it,
// the one taking it, then Selection's listeners hear of it; a path naming nothing
// clears it, something that cannot take it is refused; a removed or hidden holder
// loses it at once.
TEST(Avm1Text, FocusMovesBetweenObjects) {
    w::Movie movie({.version = 8});
    E sel = Var("Selection");
    auto lines = RunMovie(movie, Seq({
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(1)})),
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("plain"), Lit(2)})),
        Do(Call(Var("_root"), "createTextField", {Lit("t"), Lit(3), Lit(0), Lit(0), Lit(50), Lit(20)})),
        SetMember(Var("c"), "focusEnabled", Lit(true)),
        FocusHandlers("c"),
        FocusHandlers("t"),
        SetVar("l", New("Object")),
        SetMember(Var("l"), "onSetFocus",
                  E().defineFunction("", {"a", "b"}, Trace(Cat(Cat(Lit("heard "), Var("a")), Cat(Lit(" -> "), Var("b")))))),
        Do(Call(sel, "addListener", {Var("l")})),
        Trace(Call(sel, "setFocus", {Var("c")})),
        Trace(Call(sel, "setFocus", {Var("c")})),  // no change, no events
        Trace(Call(sel, "setFocus", {Lit("t")})),
        Trace(Call(sel, "getFocus")),
        Trace(Call(sel, "setFocus", {Var("plain")})),  // a clip that is no button
        Trace(Call(sel, "setFocus", {Lit(false)})),
        Trace(Call(sel, "setFocus", {Lit("nothing")})),
        Trace(Call(sel, "getFocus")),
        Do(Call(sel, "setFocus", {Var("c")})),
        SetMember(Var("c"), "_visible", Lit(false)),
        Trace(Call(sel, "getFocus")),
        Do(Call(sel, "setFocus", {Var("t")})),
        Do(Call(Var("t"), "removeTextField")),
        Trace(Call(sel, "getFocus")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "c set, from null", "heard null -> _level0.c", "true",
                         "true",
                         "c kill, to _level0.t", "t set, from _level0.c", "heard _level0.c -> _level0.t", "true",
                         "_level0.t",
                         "false",
                         "false",
                         "t kill, to null", "heard _level0.t -> null", "true",
                         "null",
                         "c set, from null", "heard null -> _level0.c",
                         "c kill, to null", "heard _level0.c -> null", "null",
                         "t set, from null", "heard null -> _level0.t",
                         "t kill, to null", "heard _level0.t -> null", "null",
                     }));
}

// A field given the focus has all its text selected, even when it had it already;
// setSelection orders its ends and puts the caret at the second, within the text;
// a field without the focus replaces from its start.
TEST(Avm1Text, FocusedFieldSelection) {
    w::Movie movie({.version = 7});
    E sel = Var("Selection");
    E t = Var("t");
    E indices = Trace(Cat(Cat(Cat(Call(sel, "getBeginIndex"), Lit(",")), Cat(Call(sel, "getCaretIndex"), Lit(","))),
                          Call(sel, "getEndIndex")));
    auto lines = RunMovie(movie, Seq({
        Do(Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(50), Lit(20)})),
        SetMember(t, "text", Lit("abcdef")),
        Do(Call(t, "replaceSel", {Lit("|")})),
        Trace(Member(t, "text")),
        indices,
        Do(Call(sel, "setFocus", {t})),
        indices,
        Do(Call(sel, "setSelection", {Lit(5), Lit(2)})),
        indices,
        Do(Call(sel, "setSelection", {Lit(-3), Lit(99)})),
        indices,
        Do(Call(sel, "setSelection", {Lit(4)})),
        indices,
        Do(Call(sel, "setSelection", {Lit(1), Lit(3)})),
        Do(Call(t, "replaceSel", {Lit("X")})),
        Trace(Member(t, "text")),
        indices,
        Do(Call(sel, "setFocus", {t})),
        Do(Call(t, "replaceSel", {Lit("all")})),
        Trace(Member(t, "text")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"|abcdef", "-1,-1,-1", "0,7,7", "2,2,5", "0,7,7", "4,7,7", "|Xcdef",
                                               "2,2,2", "all"}));
}

// A field is a broadcaster with itself as its first listener; its focus events go
// to the field alone, not to listeners added to it.
TEST(Avm1Text, FieldsBroadcastTheirEvents) {
    w::Movie movie({.version = 8});
    E t = Var("t");
    auto lines = RunMovie(movie, Seq({
        Do(Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(50), Lit(20)})),
        Trace(Member(Member(t, "_listeners"), "length")),
        Trace(Member(Member(t, "_listeners"), "0")),
        SetVar("l", New("Object")),
        SetMember(Var("l"), "onSetFocus", E().defineFunction("", {"old"}, Trace(Cat(Lit("listener heard, from "), Var("old"))))),
        SetMember(t, "onSetFocus", E().defineFunction("", {"old"}, Trace(Lit("field heard")))),
        Do(Call(t, "addListener", {Var("l")})),
        Do(Call(Var("Selection"), "setFocus", {t})),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"1", "_level0.t", "field heard"}));
}

// The rendering settings of a field: the names keep only values they know, the
// numbers any number; the tab index is an unsigned whole number.
TEST(Avm1Text, RenderingSettingsOfFields) {
    struct Case {
        const char* property;
        w::PushValue given;
        const char* kept;
    };
    const Case cases[] = {
        {"antiAliasType", "advanced", "advanced"}, {"antiAliasType", "blurry", "normal"},
        {"gridFitType", "subpixel", "subpixel"},   {"gridFitType", "none", "none"},
        {"gridFitType", "grid", "pixel"},          {"sharpness", -500.0, "-500"},
        {"thickness", w::Undefined{}, "NaN"},      {"thickness", "3", "3"},
        {"tabIndex", -4.0, "4294967292"},          {"tabIndex", 1.9, "1"},
        {"tabIndex", "x", "0"},                    {"tabIndex", w::Undefined{}, "undefined"},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        auto lines = RunMovie(movie, Seq({
            Do(Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(50), Lit(20)})),
            SetMember(Var("t"), c.property, Lit(c.given)),
            Trace(Member(Var("t"), c.property)),
        }));
        EXPECT_EQ(lines, std::vector<std::string>{c.kept}) << c.property << " " << c.kept;
    }
}

// A format of no characters has every setting null; with text, the text's own.
TEST(Avm1Text, FormatOfNoCharactersIsAllNull) {
    w::Movie movie({.version = 8});
    E t = Var("t");
    auto lines = RunMovie(movie, Seq({
        Do(Call(Var("_root"), "createTextField", {Lit("t"), Lit(1), Lit(0), Lit(0), Lit(50), Lit(20)})),
        Trace(Member(Call(t, "getTextFormat"), "size")),
        SetMember(t, "text", Lit("xy")),
        Trace(Member(Call(t, "getTextFormat"), "size")),
        Trace(Member(Call(t, "getTextFormat", {Lit(1), Lit(1)}), "bold")),
        Trace(Member(Call(t, "getTextFormat", {Lit(0), Lit(1)}), "bold")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"null", "12", "null", "false"}));
}
