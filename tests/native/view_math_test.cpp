// Viewport arithmetic: clamping, scroll-bar requests, the paint grid's start, tile paths and
// the geometry that a tileset must have to be taken.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/view_math.h"

namespace {

const TileGeometry kTenByEight = {256, 256, 10, 8};   // 2560 x 2048

TEST(Clamp, KeepsTheViewInsideTheMosaic) {
    const int32_t w = world_width(kTenByEight), h = world_height(kTenByEight);
    EXPECT_EQ(clamp_scroll_axis(1565, w, 1000), 1560);
    EXPECT_EQ(clamp_scroll_axis(1555 + 10, w, 1000), 1560) << "Right at 1555 with step 10";
    EXPECT_EQ(clamp_scroll_axis(5000, h, 700), 1348);
    EXPECT_EQ(clamp_scroll_axis(-5, w, 1000), 0);
    EXPECT_EQ(clamp_scroll_axis(700, w, 1000), 700);
}

TEST(Clamp, MosaicSmallerThanViewPinsAtZero) {
    EXPECT_EQ(clamp_scroll_axis(100, 512, 1000), 0);
    EXPECT_EQ(clamp_scroll_axis(-100, 512, 1000), 0);
    EXPECT_EQ(clamp_scroll_axis(50, 0, 800), 0) << "before any tileset the world is empty";
}

TEST(Clamp, ExtremePositionsStayDefined) {
    EXPECT_EQ(clamp_scroll_axis(INT32_MAX, INT32_MAX, -1000), INT32_MAX);
    EXPECT_EQ(clamp_scroll_axis(INT32_MIN, 100, 10), 0);
    EXPECT_EQ(add_saturating(INT32_MAX, 10), INT32_MAX);
    EXPECT_EQ(add_saturating(INT32_MIN, -10), INT32_MIN);
}

TEST(ScrollRequest, StepsAndEnds) {
    const int32_t world = 2560, view = 1000;
    EXPECT_EQ(scroll_request_target(0, 300, 0, world, view), 290);
    EXPECT_EQ(scroll_request_target(1, 300, 0, world, view), 310);
    EXPECT_EQ(scroll_request_target(2, 300, 0, world, view), 250) << "page step is fixed at 50";
    EXPECT_EQ(scroll_request_target(3, 300, 0, world, view), 350);
    EXPECT_EQ(scroll_request_target(4, 300, 999, world, view), 300) << "thumb position: unchanged";
    EXPECT_EQ(scroll_request_target(5, 300, 777, world, view), 777) << "tracking follows the thumb";
    EXPECT_EQ(scroll_request_target(6, 300, 0, world, view), 0);
    EXPECT_EQ(scroll_request_target(7, 300, 0, world, view), 1560);
    EXPECT_EQ(scroll_request_target(8, 300, 0, world, view), 300) << "end of scroll: unchanged";
    EXPECT_EQ(scroll_request_target(42, 300, 0, world, view), 300);
}

TEST(ScrollRequest, ThumbAtTheEndIsTakenBackByTheClamp) {
    // The bar's largest position is nMax - nPage + 1, one beyond the clamp.
    const int32_t world = 2560, view = 1000;
    const int32_t tracked = scroll_request_target(5, 0, world - view + 1, world, view);
    EXPECT_EQ(clamp_scroll_axis(tracked, world, view), 1560);
}

TEST(PaintGrid, FirstCellForPositiveAndNegativeScroll) {
    GridStart positive = grid_start(300, 256);
    EXPECT_EQ(positive.first_index, 1);
    EXPECT_EQ(positive.first_offset, -44);
    GridStart negative = grid_start(-100, 256);
    EXPECT_EQ(negative.first_index, 0);
    EXPECT_EQ(negative.first_offset, 100);
    GridStart far_negative = grid_start(-300, 256);
    EXPECT_EQ(far_negative.first_index, -1);
    EXPECT_EQ(far_negative.first_offset, 44);
    GridStart exact = grid_start(512, 256);
    EXPECT_EQ(exact.first_index, 2);
    EXPECT_EQ(exact.first_offset, 0);
}

TEST(TilePath, ZeroPaddedRowThenColumn) {
    char path[272];
    ASSERT_TRUE(format_tile_path(path, sizeof path, "C:\\tiles", 1, 23));
    EXPECT_STREQ(path, "C:\\tiles\\001\\023.jpg");
    ASSERT_TRUE(format_tile_path(path, sizeof path, "", 1234, 5));
    EXPECT_STREQ(path, "\\1234\\005.jpg") << "no TileDir: the root of the current drive";
    ASSERT_TRUE(format_tile_path(path, sizeof path, "d", -1, -12));
    EXPECT_STREQ(path, "d\\-001\\-012.jpg") << "three digits after the sign";
}

TEST(TilePath, TooLongForTheBufferIsRefused) {
    char path[272];
    std::string dir(259, 'd');
    EXPECT_TRUE(format_tile_path(path, sizeof path, dir.c_str(), 1, 2)) << "259 + 12 = 271 fits";
    EXPECT_FALSE(format_tile_path(path, sizeof path, dir.c_str(), 1000, 2));
    EXPECT_FALSE(format_tile_path(path, sizeof path, dir.c_str(), -100, -100));
}

TEST(Geometry, RejectsWhatCannotBeDividedOrMultiplied) {
    EXPECT_TRUE(tile_geometry_is_usable({256, 256, 8, 4}));
    EXPECT_FALSE(tile_geometry_is_usable({0, 256, 8, 4}));
    EXPECT_FALSE(tile_geometry_is_usable({256, -3, 8, 4}));
    EXPECT_FALSE(tile_geometry_is_usable({256, 256, 0, 4}));
    EXPECT_FALSE(tile_geometry_is_usable({256, 256, 8, -1}));
    EXPECT_FALSE(tile_geometry_is_usable({256, 256, 8388608, 4})) << "world width 2^31";
    EXPECT_TRUE(tile_geometry_is_usable({256, 256, 8388607, 4}));
    EXPECT_FALSE(tile_geometry_is_usable({65536, 8192, 1, 1})) << "one tile buffer past 2^31 bytes";
    EXPECT_EQ(world_width({256, 256, 8388607, 4}), 2147483392);
}

TEST(ViewCells, TheCellsAPaintWalks) {
    struct Case {
        int32_t scroll_x, scroll_y, width, height;
        CellRange cells;
    };
    const Case cases[] = {
        {0, 0, 1920, 1080, {0, 0, 7, 4}},       // 7.5 x 4.2 tiles: 8 x 5 cells
        {200, 230, 1920, 1080, {0, 0, 8, 5}},   // the same screen at its worst: 9 x 6
        {300, 0, 256, 256, {1, 0, 2, 0}},       // column 1 starts at -44
        {-100, 0, 256, 256, {0, 0, 0, 0}},      // column 0 starts at +100 (a drag)
        {0, 0, 0, 500, NO_CELLS},               // an empty client area
    };
    for (const Case& c : cases) {
        const CellRange got = view_cells(c.scroll_x, c.scroll_y, c.width, c.height, 256, 256);
        EXPECT_TRUE(got.first_column == c.cells.first_column && got.first_row == c.cells.first_row &&
                    got.last_column == c.cells.last_column && got.last_row == c.cells.last_row)
            << "view " << c.width << "x" << c.height << " at (" << c.scroll_x << ", "
            << c.scroll_y << "): got columns " << got.first_column << ".." << got.last_column
            << ", rows " << got.first_row << ".." << got.last_row;
    }
}

// The limit in force is the most cells the client area can show, plus a row and a column,
// unless the configured one is larger.
TEST(CacheLimit, AtLeastTheMostCellsInViewPlusARowAndAColumn) {
    struct Case {
        int32_t configured, width, height, tile;
        int32_t expected;
    };
    const Case cases[] = {
        {50, 1920, 1080, 256, 10 * 7},    // up to 9 x 6 cells in view
        {50, 3840, 2160, 256, 17 * 11},   // up to 16 x 10
        {500, 3840, 2160, 256, 500},      // a larger configured limit stands
        {4, 256, 256, 256, 3 * 3},        // a tile-sized view shows up to 2 x 2
        {30, 257, 1, 256, 30},            // 3 x 2 = 6 is below the configured 30
        {0, 0, 0, 256, 1},                // an empty client area still keeps one tile
        {30, INT_MAX, INT_MAX, 1, INT_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cache_limit_in_force(c.configured, c.width, c.height, c.tile, c.tile), c.expected)
            << "configured " << c.configured << ", view " << c.width << "x" << c.height
            << ", tiles of " << c.tile;
}

TEST(DragTrack, EachHandMoveCountsOnceWhateverTheWarpDoes) {
    struct Sample { int32_t x, y, late_dx, late_dy, prompt_dx, prompt_dy; bool warp; };
    // Anchor (500, 400). Samples as Wine reports them for a hand moving 10 left, 10 left
    // again, then 20 left and 5 up with a further 10 left before the warp lands.
    const Sample samples[] = {
        {490, 400, -10, 0, -10, 0, true},    // the hand
        {490, 400, 0, 0, -10, 0, true},      // the same move reported a second time
        {500, 400, 0, 0, 0, 0, false},       // the warp lands
        {490, 400, -10, 0, -10, 0, true},
        {500, 400, 0, 0, 0, 0, false},
        {480, 395, -20, -5, -20, -5, true},
        {470, 395, -10, 0, -30, -5, true},   // moved on before the warp landed
        {500, 400, 0, 0, 0, 0, false},
    };
    DragTrack late = begin_drag_track(500, 400);
    DragTrack prompt = begin_drag_track(500, 400);
    int index = 0;
    for (const Sample& s : samples) {
        const DragStep l = track_drag_move(late, s.x, s.y, DragMeasure::FROM_LAST_SEEN);
        const DragStep p = track_drag_move(prompt, s.x, s.y, DragMeasure::FROM_ANCHOR);
        EXPECT_EQ(l.dx, s.late_dx) << "sample " << index;
        EXPECT_EQ(l.dy, s.late_dy) << "sample " << index;
        EXPECT_EQ(p.dx, s.prompt_dx) << "sample " << index << ": a prompt warp measures from the anchor";
        EXPECT_EQ(p.dy, s.prompt_dy) << "sample " << index;
        EXPECT_EQ(l.warp, s.warp) << "sample " << index << ": no warp when already at the anchor";
        ++index;
    }
    EXPECT_EQ(track_drag_move(late, INT32_MIN, 400, DragMeasure::FROM_LAST_SEEN).dx, INT32_MIN)
        << "saturates";
}

}  // namespace
