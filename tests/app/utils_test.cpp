#include "app/core/app_core.h"
#include "test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qm::app;
using qm::app::test::WriteAll;

namespace qm::app {
void PrintTo(const TRect& r, std::ostream* os) {
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
}  // namespace qm::app

namespace {

TEST(Rectangles, FitRectCentresTheLargestFittingRectangle) {
    struct Case {
        TRect source, destination, expected;
    } cases[] = {
        {{0, 0, 550, 400}, {7, 0, 793, 444}, {95, 0, 705, 444}},  // k = N(87.75) = 88
        {{0, 0, 400, 400}, {0, 0, 800, 400}, {200, 0, 600, 400}},
        {{0, 0, 1600, 400}, {0, 0, 800, 400}, {0, 100, 800, 300}},  // scaled down, width decides
        {{0, 0, 10, 10}, {0, 0, 800, 400}, {200, 0, 600, 400}},    // scaled up
        {{0, 0, 1, 1}, {0, 0, 3, 2}, {0, 0, 3, 2}},                // k = N(0.5) = 0: half to even
        {{0, 0, 1, 1}, {0, 0, 5, 2}, {2, 0, 3, 2}},                // k = N(1.5) = 2
        {{10, 20, 30, 40}, {0, 0, 100, 100}, {0, 0, 100, 100}},    // only the source's size counts
    };
    for (const Case& c : cases) EXPECT_EQ(FitRect(c.source, c.destination), c.expected);
}

TEST(Rectangles, FitRectOfEmptyRectanglesStaysDefined) {
    // Zero sizes divide by zero; the result must be some rectangle, not a fault.
    FitRect({0, 0, 0, 0}, {0, 0, 0, 0});
    FitRect({0, 0, 550, 400}, {0, 0, 0, 0});
    FitRect({0, 0, 0, 0}, {0, 0, 800, 600});
    EXPECT_EQ(MapRect({0, 0, 10, 10}, "0x0", "640x480"), MapRect({0, 0, 10, 10}, "0x0", "640x480"));
}

TEST(Rectangles, MapRectPlacesAPictureRectangleInTheFittedArea) {
    struct Case {
        TRect r;
        const char *a, *b;
        TRect expected;
    } cases[] = {
        // The whole picture lands on the fitted rectangle (88, 0, 698, 444).
        {{0, 0, 550, 400}, "550x400", "786x444", {88, 0, 698, 444}},
        {{0, 0, 275, 200}, "550x400", "786x444", {88, 0, 393, 222}},
        // Width decides: bars above and below.
        {{0, 0, 400, 300}, "400x300", "800x800", {0, 100, 800, 700}},
        {{100, 100, 200, 200}, "400x300", "800x800", {200, 300, 400, 500}},
        {{0, 0, 33, 33}, "100x100", "150x300", {0, 75, 50, 124}},  // N(124.5) = 124
        // The products are 32-bit: 50000 * 50000 wraps before the division.
        {{0, 50000, 1, 50000}, "100x50000", "100x50000", {0, -35899, 1, -35899}},
    };
    for (const Case& c : cases) EXPECT_EQ(MapRect(c.r, c.a, c.b), c.expected) << c.a << " " << c.b;
}

TEST(Sizes, ParseSizeTakesLowerCaseXOnly) {
    int32_t w = 0, h = 0;
    ParseSize("640x480", w, h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    ParseSize("-2x+3", w, h);
    EXPECT_EQ(w, -2);
    EXPECT_EQ(h, 3);
    for (const char* bad : {"640X480", "", "x", "640x", "x480", "64 0x480", "640x480x2", "99999999999x1"}) {
        EXPECT_THROW(ParseSize(bad, w, h), ConversionError) << bad;
        EXPECT_THROW(MapRect({}, bad, "640x480"), ConversionError) << bad;
    }
}

TEST(Texts, SplitText) {
    struct Case {
        const char *text, *separator;
        QStringList expected;
    } cases[] = {
        {"1.2.3", ".", {"1", "2", "3"}},
        {"a..b", ".", {"a", "b"}},
        {"a.", ".", {"a", ""}},
        {"", ".", {""}},
        {".a", ".", {"a"}},
        {"a, b, c", ", ", {"a", "b", "c"}},
        {"abc", "", {"abc"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitText(c.text, c.separator), c.expected) << c.text;
}

TEST(FileNames, FileNameNoExt) {
    EXPECT_EQ(FileNameNoExt("/m/clip.part.swf"), "clip.part");
    EXPECT_EQ(FileNameNoExt("/m.d/clip"), "clip");
    EXPECT_EQ(FileNameNoExt("clip.swf"), "clip");
}

TEST(FileNames, UniqueAndNumberedNamesSkipExistingFiles) {
    QTemporaryDir dir;
    const QString movie = dir.filePath("movie.mp4");
    EXPECT_EQ(UniqueFileName(movie), movie);
    WriteAll(movie, "x");
    EXPECT_EQ(UniqueFileName(movie), dir.filePath("movie(1).mp4"));
    WriteAll(dir.filePath("movie(1).mp4"), "x");
    EXPECT_EQ(UniqueFileName(movie), dir.filePath("movie(2).mp4"));
    WriteAll(dir.filePath("noext"), "x");
    EXPECT_EQ(UniqueFileName(dir.filePath("noext")), dir.filePath("noext(1)"));

    const QString snap = dir.filePath("clip.swf");
    EXPECT_EQ(NumberedFileName(snap, "bmp", "_"), dir.filePath("clip_0.bmp"));
    WriteAll(dir.filePath("clip_0.bmp"), "x");
    WriteAll(dir.filePath("clip_1.bmp"), "x");
    EXPECT_EQ(NumberedFileName(snap, "bmp", "_"), dir.filePath("clip_2.bmp"));
    EXPECT_EQ(NumberedFileName(snap, "jpg", "_"), dir.filePath("clip_0.jpg"));
}

TEST(Folders, ReadOnlyOpticalMountsAreRecognised) {
    const QString mounts =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 11:0 / /media/cd\\040rom ro,nosuid shared:2 - iso9660 /dev/sr0 ro\n"
        "41 22 11:1 / /media/dvd rw,nosuid - udf /dev/sr1 rw\n"
        "42 22 11:2 / /media/bd rw,nosuid - udf /dev/sr2 ro\n"
        "43 22 0:5 / /media/cdx rw - tmpfs tmpfs rw\n"
        "44 22 0:6 / /media/hidden ro - iso9660 /dev/sr3 ro\n"
        "45 22 0:7 / /media/hidden rw - tmpfs tmpfs rw\n";
    struct Case {
        const char* folder;
        bool optical;
    } cases[] = {
        {"/media/cd rom", true},  {"/media/cd rom/sub/", true}, {"/media/bd/x", true},
        {"/media/dvd/x", false},  // writable udf media
        {"/media/cdx/a", false},  {"/home/user", false},
        {"/media/hidden/a", false},  // a later mount hides the disc
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsOnReadOnlyOpticalMount(c.folder, mounts), c.optical) << c.folder;
}

TEST(Folders, EnsureFolderCreatesParents) {
    QTemporaryDir dir;
    EXPECT_TRUE(EnsureFolder(dir.filePath("a/b/c/")));
    EXPECT_TRUE(QFileInfo(dir.filePath("a/b/c")).isDir());
    EXPECT_TRUE(EnsureFolder(dir.filePath("a/b/c")));
    EXPECT_TRUE(GetPersonalFolder().endsWith('/'));
}

}  // namespace
