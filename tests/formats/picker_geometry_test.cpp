// The format picker's geometry and texts.
#include <gtest/gtest.h>

#include "formats/core/picker_geometry.h"

namespace qm::formats {
namespace {

TEST(PickerGeometry, HeightsFollowTheGroupCountsWithTheDevicePanelCappedAt275) {
    struct Case {
        int formats, devices, window, middle, bottom, list;
    } cases[] = {
        {4, 4, 25 * 4 + 28 + 100 + 51 + 1, 101, 100, 100},
        {4, 11, 25 * 4 + 28 + 275 + 51 + 1, 101, 275, 275},
        {4, 12, 25 * 4 + 28 + 275 + 51 + 1, 101, 275, 300},  // not 300: the list scrolls
        {0, 0, 28 + 51 + 1, 1, 0, 0},
    };
    for (const Case& c : cases) {
        const TPickerHeights h = PickerHeights(c.formats, c.devices);
        EXPECT_EQ(h.window, c.window) << c.formats << "/" << c.devices;
        EXPECT_EQ(h.middle, c.middle);
        EXPECT_EQ(h.bottom, c.bottom);
        EXPECT_EQ(h.deviceList, c.list);
    }
}

TEST(PickerGeometry, DropsDownUnderTheHostAndStaysInTheWorkArea) {
    const QRect work(0, 0, 1000, 700);
    struct Case {
        const char* what;
        QSize size;
        QRect host;
        QRect expected;
    } cases[] = {
        {"under the host, 2 left and 3 up", {500, 300}, {100, 100, 200, 21}, {98, 118, 500, 300}},
        {"past the right edge: moved left", {500, 300}, {700, 100, 200, 21}, {500, 118, 500, 300}},
        {"wider than the work area: narrowed", {1200, 300}, {100, 100, 200, 21}, {0, 118, 1000, 300}},
        {"no room below: above the host", {500, 300}, {100, 500, 200, 21}, {98, 200, 500, 300}},
        {"exactly fits below", {500, 300}, {100, 382, 200, 21}, {98, 400, 500, 300}},
    };
    for (const Case& c : cases) EXPECT_EQ(PlaceUnderHostRect(c.size, c.host, work), c.expected) << c.what;
    // A work area that does not start at 0 keeps the picker off its left edge.
    EXPECT_EQ(PlaceUnderHostRect({500, 300}, {100, 100, 200, 21}, QRect(200, 0, 800, 700)).left(), 200);
}

TEST(PickerGeometry, OnlyTheInsideOfAnItemIsHovered) {
    struct Case {
        int y, count, item;
    } cases[] = {
        {-3, 4, -1}, {0, 4, -1}, {1, 4, 0}, {24, 4, 0}, {25, 4, -1}, {26, 4, 1},
        {74, 3, 2},  {75, 3, -1}, {80, 3, -1}, {10, 0, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(HoveredGroupItem(c.y, c.count), c.item) << "y " << c.y;
}

TEST(PickerGeometry, DeviceListScrollsJustEnoughToShowTheSelection) {
    struct Case {
        int selected, top, list, panel, newTop;
    } cases[] = {
        {11, 0, 300, 275, -25},    // the twelfth of twelve comes up by one item
        {10, 0, 300, 275, 0},      // already inside
        {0, -25, 300, 275, 0},     // the first goes back down
        {5, -25, 300, 275, -25},
        {14, 0, 375, 275, -100},
        {3, 0, 100, 100, 0},       // the list fits its panel: never moved
        {-1, -25, 300, 275, -25},  // nothing selected
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceListTopForSelection(c.selected, c.top, c.list, c.panel), c.newTop) << "item " << c.selected;
}

TEST(PickerGeometry, HintLinesBreakAfterTheFirstSpaceFromThe50thCharacter) {
    const QString fifty(50, QLatin1Char('a'));
    EXPECT_EQ(PickerHintLines(QStringLiteral("short text")), QStringList{QStringLiteral("short text")});
    EXPECT_EQ(PickerHintLines(fifty), QStringList{fifty});
    EXPECT_EQ(PickerHintLines(QString()), QStringList{QString()});
    // The space at the 50th character itself ends the line and stays on it.
    const QString a = QString(49, QLatin1Char('a')) + QStringLiteral(" tail");
    EXPECT_EQ(PickerHintLines(a), (QStringList{QString(49, QLatin1Char('a')) + QLatin1Char(' '), QStringLiteral("tail")}));
    // A space before the 50th character does not count.
    const QString b = QStringLiteral("word ") + QString(50, QLatin1Char('b')) + QStringLiteral(" end");
    EXPECT_EQ(PickerHintLines(b), (QStringList{QStringLiteral("word ") + QString(50, QLatin1Char('b')) + QLatin1Char(' '),
                                               QStringLiteral("end")}));
    // No space after the 50th character: the whole rest is one line.
    const QString c = QString(70, QLatin1Char('c'));
    EXPECT_EQ(PickerHintLines(c), QStringList{c});
    // Long texts give several lines, each but the last at least 50 characters.
    const QString words = QStringLiteral("lorem ipsum ").repeated(20);
    const QStringList lines = PickerHintLines(words);
    EXPECT_EQ(lines.join(QString()), words);
    for (int i = 0; i + 1 < lines.size(); ++i) EXPECT_GE(lines[i].size(), 50) << i;
}

TEST(PickerGeometry, NamesAreCutWithDotsOrLeftOut) {
    const auto tenPerChar = [](const QString& t) { return int(t.size()) * 10; };
    struct Case {
        const char* name;
        int width;
        const char* shown;
    } cases[] = {
        {"ABCDE", 50, "ABCDE"}, {"ABCDEF", 59, "AB..."}, {"ABCDE", 45, "A..."}, {"ABCDEFGHIJ", 85, "ABCDE..."},
        {"ABCDE", 31, "..."},   {"ABCDE", 30, ""},      {"", 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitNameToWidth(QString::fromLatin1(c.name), c.width, tenPerChar), QString::fromLatin1(c.shown))
            << c.name << " in " << c.width;
}

TEST(PickerGeometry, ItemBoxIsCentredAboveTheTextLineWithTheDeleteBoxOnItsCorner) {
    const QRect box = GridItemBoxRect(QRect(0, 0, 85, 104), 15);
    EXPECT_EQ(box, QRect(2, 4, 80, 80));
    EXPECT_EQ(GridItemBoxRect(QRect(170, 104, 85, 104), 17), QRect(172, 107, 80, 80));  // 3.5 down, toward zero
    EXPECT_EQ(GridDeleteBoxRect(box), QRect(72, 1, 10, 10));
}

}  // namespace
}  // namespace qm::formats
