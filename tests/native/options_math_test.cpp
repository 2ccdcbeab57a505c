// The Options dialog's cache arithmetic: megabytes shown, tiles stored.
#include <gtest/gtest.h>

#include "app/options_math.h"

namespace {

TEST(OptionsMath, MegabytesShown) {
    EXPECT_EQ(cache_megabytes(256, 256, 50), 12);
    EXPECT_EQ(cache_megabytes(256, 256, 48), 12);
    EXPECT_EQ(cache_megabytes(300, 200, 438), 100);
    EXPECT_EQ(cache_megabytes(8192, 8192, 400), 102400) << "no 32-bit wrap for big tiles";
}

TEST(OptionsMath, TilesStored) {
    EXPECT_EQ(cache_tiles_for_megabytes(12, 256, 256), 48);
    EXPECT_EQ(cache_tiles_for_megabytes(1, 256, 256), 30) << "4 tiles are raised to 30";
    EXPECT_EQ(cache_tiles_for_megabytes(100, 256, 256), 400);
    EXPECT_EQ(cache_tiles_for_megabytes(100, 300, 200), 438) << "each step rounds up: a=342, b=1752";
    EXPECT_EQ(cache_tiles_for_megabytes(0, 256, 256), 0) << "0 means no change";
}

// The last step (quarter-megabyte units b to tiles) rounds up too: b here leaves each
// remainder 1, 2 and 3 by 4, where truncating would store one tile less.
TEST(OptionsMath, TilesStoredRoundTheLastStepUp) {
    struct Case {
        int32_t megabytes, tile_width, tile_height, b, tiles;
    };
    const Case cases[] = {
        {12, 256, 255, 193, 49},
        {10, 256, 254, 162, 41},
        {6, 200, 200, 159, 40},
        {7, 300, 200, 123, 31},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cache_tiles_for_megabytes(c.megabytes, c.tile_width, c.tile_height), c.tiles)
            << c.megabytes << " MB of " << c.tile_width << "x" << c.tile_height
            << " tiles (b = " << c.b << ")";
    }
}

TEST(OptionsMath, HugeAndNegativeFieldsStayBounded) {
    EXPECT_EQ(cache_tiles_for_megabytes(INT32_MAX, 256, 256), cache_tiles_for_megabytes(4095, 256, 256));
    EXPECT_EQ(cache_tiles_for_megabytes(4095, 256, 256), 16380);
    EXPECT_EQ(cache_tiles_for_megabytes(-5, 256, 256), 30);
    EXPECT_EQ(cache_tiles_for_megabytes(4095, 1, 1), 1073479680);
}

}  // namespace
