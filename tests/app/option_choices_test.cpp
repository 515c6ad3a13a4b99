#include "app/core/app_core.h"

#include <gtest/gtest.h>

using namespace qm::app;

namespace {

TEST(OptionChoices, FormatItemExtensionTakesTheTextAfterTheFirstPattern) {
    struct Case {
        const char* item;
        const char* extension;
    } const cases[] = {
        {"Bitmap File(*.bmp)", "bmp"},
        {"JPEG Image File(*.jpg)", "jpg"},
        {"Two(*.a;*.b)", "a;*.b"},
        {"No pattern", ""},
        {"Empty(*.)", ""},
        {"*.", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatItemExtension(c.item), c.extension) << c.item;
}

TEST(OptionChoices, CaptureModeOfTheControls) {
    EXPECT_EQ(CaptureModeOf(false, false), 0);
    EXPECT_EQ(CaptureModeOf(false, true), 1);
    EXPECT_EQ(CaptureModeOf(true, false), 2);
    EXPECT_EQ(CaptureModeOf(true, true), 2);
}

}  // namespace
