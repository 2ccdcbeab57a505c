// Viewport arithmetic: clamping, scroll-bar requests, the paint grid's start, tile paths and
// the geometry that a tileset must have to be taken.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

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

// The drag against a model of the cursor: the hand's moves (HAND) are added to it, the program
// begins the drag (BEGIN: reads the anchor, counts the moves since the press) and reads the
// cursor and warps it back to the anchor (READ) whenever its busy thread gets to the message.
// However late the press is handled, however bunched the reads, and whatever a warp's echo
// shows, the view moves by exactly the hand's sum and no read at the anchor warps.
TEST(DragTrack, EveryHandMoveCountsOnceHoweverLateTheProgramReads) {
    enum Kind { HAND, BEGIN, READ };
    struct Event { Kind kind; int32_t dx, dy; };
    const Event B = {BEGIN, 0, 0}, R = {READ, 0, 0};
    const auto H = [](int32_t dx, int32_t dy) { return Event{HAND, dx, dy}; };
    struct Case { const char* timing; std::vector<Event> events; };
    const Case cases[] = {
        {"prompt: each move read, then the warp's echo",
         {B, H(-10, -7), R, R, H(-10, -7), R, R}},
        {"the press handled after three moves",
         {H(-10, -7), H(-10, -7), H(-10, -7), B, H(-10, -7), R, R}},
        {"the press handled after the last move", {H(10, 7), H(10, 7), B}},
        {"three moves bunched into one read",
         {B, H(10, 7), H(10, 7), H(10, 7), R, R}},
        {"the echo read after further moves",
         {B, H(10, 7), R, H(10, 7), H(-3, 2), R, R}},
        {"the same position read three times",
         {B, H(5, 0), R, R, R, H(-5, 0), R, R}},
    };
    const int32_t press_x = 500, press_y = 400;
    for (const Case& c : cases) {
        DragTrack track = begin_drag_track(press_x, press_y);
        int32_t cursor_x = press_x, cursor_y = press_y, hand_x = 0, hand_y = 0;
        int32_t counted_x = 0, counted_y = 0;
        bool warped_at_anchor = false;
        for (const Event& e : c.events) {
            if (e.kind == HAND) {
                hand_x += e.dx, hand_y += e.dy;
                cursor_x += e.dx, cursor_y += e.dy;
            } else if (e.kind == BEGIN) {
                track = begin_drag_track(cursor_x, cursor_y);
                const DragStep early =
                    drag_motion_before_begin(press_x, press_y, cursor_x, cursor_y);
                EXPECT_FALSE(early.warp) << c.timing << ": the cursor is already at the anchor";
                counted_x += early.dx, counted_y += early.dy;
            } else {
                const bool at_anchor = cursor_x == track.anchor_x && cursor_y == track.anchor_y;
                const DragStep step =
                    track_drag_move(track, cursor_x, cursor_y, DragMeasure::FROM_ANCHOR);
                warped_at_anchor = warped_at_anchor || (at_anchor && step.warp);
                if (step.warp) {
                    counted_x += step.dx, counted_y += step.dy;
                    cursor_x = track.anchor_x, cursor_y = track.anchor_y;
                }
            }
        }
        EXPECT_EQ(counted_x, hand_x) << c.timing << ": the view moved " << counted_x
                                     << " across for a hand that moved " << hand_x;
        EXPECT_EQ(counted_y, hand_y) << c.timing << ": the view moved " << counted_y
                                     << " down for a hand that moved " << hand_y;
        EXPECT_FALSE(warped_at_anchor) << c.timing << ": a read at the anchor (an echo) warped";
    }
    EXPECT_EQ(drag_motion_before_begin(INT32_MIN, 0, INT32_MAX, 0).dx, INT32_MAX) << "saturates";
}

}  // namespace
