// The label index against a plain scan, and the area of label points that can reach the view.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "app/label_index.h"
#include "app/label_math.h"

namespace {

TEST(LabelIndex, FindsWhatAScanFindsInListOrder) {
    std::mt19937 random(27);
    std::vector<IndexedPoint> points;
    for (uint32_t i = 0; i < 3000; ++i) {
        // Clustered, spread wide, and at the 32-bit ends.
        const int32_t x = i % 7 == 0 ? (i % 2 ? INT32_MAX : INT32_MIN)
                                     : static_cast<int32_t>(random() % 20000) - 5000;
        const int32_t y = i % 11 == 0 ? (i % 2 ? INT32_MIN : INT32_MAX)
                                      : static_cast<int32_t>(random() % 12000) - 3000;
        points.push_back({x, y, i});
    }
    LabelIndex index;
    index.build(points);
    const OpenWorldRect areas[] = {
        {-1, -1, 1025, 769},   {-3000, -2000, 9000, 7000}, {500, 500, 501, 600},
        {500, 500, 502, 502},  {INT64_MIN / 2, INT64_MIN / 2, INT64_MAX / 2, INT64_MAX / 2},
        {INT32_MAX - 1, -5000, INT64_C(1) << 40, 10000},    {-70, -70, 70, 70},
    };
    for (const OpenWorldRect& area : areas) {
        std::vector<uint32_t> expected;
        for (const IndexedPoint& p : points)
            if (area.left < p.x && p.x < area.right && area.top < p.y && p.y < area.bottom)
                expected.push_back(p.ordinal);
        EXPECT_EQ(index.query(area), expected)
            << "area (" << area.left << ", " << area.top << ")-(" << area.right << ", " << area.bottom << ")";
    }
    index.build({});
    EXPECT_TRUE(index.query(areas[4]).empty()) << "an empty index finds nothing";
}

TEST(LabelDrawingArea, TheMarginCutToWhatTheTextCanReach) {
    // A text wide enough to reach across the margin: the margin's own bounds across, bounds
    // excluded; down, a line of 16 rows reaches 9 rows below and 11 above its point.
    const LabelReach wide = label_reach(100000, 10, 16);
    const OpenWorldRect margin = label_drawing_area(0, 0, 1024, 768, wide);
    EXPECT_EQ(margin.left, -1024);
    EXPECT_EQ(margin.right, 2048);
    EXPECT_EQ(margin.top, -10);
    EXPECT_EQ(margin.bottom, 768 + 11);

    // Five characters of at most 8 pixels: 28 either side of the point, rows 11 above and
    // 16 - 7 below it.
    const LabelReach word = label_reach(5, 8, 16);
    EXPECT_EQ(word.half_width, 30);
    const OpenWorldRect near = label_drawing_area(1000, 2000, 1024, 768, word);
    EXPECT_EQ(near.left, 1000 - 31);
    EXPECT_EQ(near.right, 1000 + 1024 + 30);
    EXPECT_EQ(near.top, 2000 - 9 - 1);
    EXPECT_EQ(near.bottom, 2000 + 768 + 11);
    // A label whose text could show one column at the view's left edge is inside.
    EXPECT_LT(near.left, 1000 - 30);

    const OpenWorldRect far = label_drawing_area(INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, wide);
    EXPECT_LT(far.left, far.right) << "extreme views stay defined";
}

}  // namespace
