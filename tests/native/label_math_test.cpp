// Label placement: the drawing margins around a 1024 x 768 view and the outline draws.
#include <gtest/gtest.h>

#include "app/label_math.h"

namespace {

TEST(LabelMargin, OneViewBeforeAndTwoAfterStrictly) {
    EXPECT_TRUE(label_in_drawing_margin(1000, 500, 0, 0, 1024, 768));
    EXPECT_FALSE(label_in_drawing_margin(2048, 500, 0, 0, 1024, 768));
    EXPECT_TRUE(label_in_drawing_margin(2047, 500, 0, 0, 1024, 768));
    EXPECT_FALSE(label_in_drawing_margin(-1024, 500, 0, 0, 1024, 768));
    EXPECT_TRUE(label_in_drawing_margin(-1023, 500, 0, 0, 1024, 768));
    EXPECT_FALSE(label_in_drawing_margin(10, 1536, 0, 0, 1024, 768));
    EXPECT_TRUE(label_in_drawing_margin(10, 1535, 0, 0, 1024, 768));
    EXPECT_FALSE(label_in_drawing_margin(10, -768, 0, 0, 1024, 768));
    EXPECT_TRUE(label_in_drawing_margin(2000, 500, 1000, 0, 1024, 768)) << "margins follow the scroll";
    EXPECT_FALSE(label_in_drawing_margin(INT32_MAX, INT32_MIN, INT32_MAX, 0, INT32_MAX, 768));
}

TEST(LabelOutline, EightBlackDrawsAroundTheWhiteOne) {
    // The white text sits 9 pixels above the point; the outline rings it one pixel away.
    int covered[3][3] = {};
    for (const TextOffset& o : LABEL_OUTLINE_OFFSETS) {
        ASSERT_LE(o.dx * o.dx, 1);
        ASSERT_GE(o.dy, -10);
        ASSERT_LE(o.dy, -8);
        covered[o.dy + 10][o.dx + 1]++;
    }
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(covered[y][x], (x == 1 && y == 1) ? 0 : 1) << "at dx " << x - 1 << " dy " << y - 10;
    EXPECT_EQ(LABEL_TEXT_OFFSET.dx, 0);
    EXPECT_EQ(LABEL_TEXT_OFFSET.dy, -9);
}

TEST(LabelGoto, CentresWithFloorHalf) {
    EXPECT_EQ(centred_scroll(1000, 1024), 488);
    EXPECT_EQ(centred_scroll(1000, 1023), 489);
    EXPECT_EQ(centred_scroll(INT32_MIN, 1024), INT32_MIN);
}

TEST(LabelPlacement, ClientAndWorldCoordinatesSaturate) {
    const struct { int32_t a, b, client, world; } cases[] = {
        {1000, 300, 700, 1300},
        {INT32_MIN, INT32_MAX, INT32_MIN, -1},
        {INT32_MAX, -10, INT32_MAX, INT32_MAX - 10},
        {INT32_MAX - 5, 100, INT32_MAX - 105, INT32_MAX},
        {-2000000000, -2000000000, 0, INT32_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(label_client_coordinate(c.a, c.b), c.client) << "label " << c.a << ", scroll " << c.b;
        EXPECT_EQ(label_world_coordinate(c.a, c.b), c.world) << "scroll " << c.a << ", click " << c.b;
    }
}

}  // namespace
