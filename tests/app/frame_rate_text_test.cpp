// The frame rate of a movie header as the job record keeps it.
#include "app/core/app_core.h"

#include <gtest/gtest.h>

using qm::app::FrameRateText;
using qm::app::UseLocaleDecimal;

TEST(FrameRateText, ExactDecimalWithoutTrailingZerosOrExponent) {
    const struct {
        double rate;
        const char* text;
    } cases[] = {
        {24.0, "24"},        {12.5, "12.5"},      {29.96875, "29.96875"},      {0.0, "0"},
        {1.0 / 256, "0.00390625"}, {255.99609375, "255.99609375"}, {120.0, "120"}, {-0.0, "0"},
    };
    for (const auto& c : cases) EXPECT_EQ(FrameRateText(c.rate), UseLocaleDecimal(c.text)) << c.text;
}
