// Measures scaled for the monitor's DPI: the classic ones at 96 DPI, in proportion elsewhere.
#include <gtest/gtest.h>

#include "app/screen_scale.h"

namespace {

TEST(ScreenScale, PanesKeepTheirPlaceAt96DpiAndGrowWithTheScale) {
    struct Case { int32_t dpi; int32_t tile_left, tile_width, x_left, y_left, xy_width; };
    const Case cases[] = {
        {96, 1280 - 400, 150, 1280 - 250, 1280 - 200, 50},
        {120, 1280 - 500, 188, 1280 - 313, 1280 - 250, 63},   // 125 %: 187.5 rounds up
        {144, 1280 - 600, 225, 1280 - 375, 1280 - 300, 75},
        {192, 1280 - 800, 300, 1280 - 500, 1280 - 400, 100},
    };
    for (const Case& c : cases) {
        const StatusPaneLayout layout = status_pane_layout(1280, c.dpi);
        SCOPED_TRACE(c.dpi);
        EXPECT_EQ(layout.tile.left, c.tile_left);
        EXPECT_EQ(layout.tile.width, c.tile_width);
        EXPECT_EQ(layout.x.left, c.x_left);
        EXPECT_EQ(layout.y.left, c.y_left);
        EXPECT_EQ(layout.x.width, c.xy_width);
        EXPECT_EQ(layout.y.width, c.xy_width);
    }
}

TEST(ScreenScale, BetweenTwoDpisRoundsToTheNearestPixelBothWays) {
    EXPECT_EQ(scale_between_dpis(120, 144, 96), 80);
    EXPECT_EQ(scale_between_dpis(-13, 96, 144), -20) << "font heights are negative: -19.5";
    EXPECT_EQ(scale_between_dpis(-12, 144, 96), -8);
    EXPECT_EQ(scale_between_dpis(7, 96, 0), 7) << "an unknown DPI scales nothing";
}

}  // namespace
