// Zoom arithmetic at every level: map <-> screen both ways, the pointer-fixed step, the levels a
// map offers, the tiles each level draws from and where their cells lie, the cache budget,
// the panes and the thinning of labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "app/pane_text.h"
#include "app/zoom_math.h"

namespace {

constexpr int32_t kZooms[] = {2, 1, 0, -1, -2, -3, -5};

TEST(ZoomMapping, BothWaysAtEveryLevel) {
    for (int32_t zoom : kZooms) {
        const int64_t step = zoom < 0 ? int64_t{1} << -zoom : 1;      // map pixels per screen pixel
        const int64_t size = zoom > 0 ? int64_t{1} << zoom : 1;       // screen pixels per map pixel
        EXPECT_EQ(zoomed_extent(1000, zoom), (1000 * size + step - 1) / step) << "zoom " << zoom;
        for (int32_t v = -70; v <= 70; v += 7) {
            const int32_t m = map_of_zoomed(v, zoom);
            // Screen -> map: the map pixel magnified, or the one at the screen pixel's corner.
            const int64_t expect_m = zoom >= 0 ? (v >= 0 ? v / size : -((-v + size - 1) / size))
                                               : int64_t{v} * step;
            EXPECT_EQ(m, expect_m) << "zoom " << zoom << " screen " << v;
            // Map -> screen -> map lands on the map pixel (zoom-in) or its screen pixel's corner.
            const int32_t back = map_of_zoomed(zoomed_of_map(v, zoom), zoom);
            const int64_t corner = zoom >= 0 ? v : (v >= 0 ? v / step : -((-v + step - 1) / step)) * step;
            EXPECT_EQ(back, corner) << "zoom " << zoom << " map " << v;
        }
    }
    EXPECT_EQ(zoomed_extent(INT32_MAX, 2), INT32_MAX) << "saturates";
    EXPECT_EQ(map_of_zoomed(INT32_MIN, -3), INT32_MIN);
}

TEST(ZoomStep, KeepsTheMapPointUnderThePointer) {
    struct Case { int32_t scroll, anchor, from, to, expected; };
    const Case cases[] = {
        {500, 100, 0, 1, 1100},   // map 600 under the pointer: 1200 - 100
        {1100, 100, 1, 0, 500},
        {500, 100, 0, -1, 200},   // 600 / 2 = 300, - 100
        {501, 100, 0, -1, 200},   // 601 / 2 rounds down to 300
        {-7, 0, 0, -1, -4},       // rounds toward minus infinity
        {500, 640, 0, 2, 3920},   // two levels at once: (500 + 640) x 4 - 640
        {0, 0, 0, -3, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(zoom_step_scroll(c.scroll, c.anchor, c.from, c.to), c.expected)
            << "scroll " << c.scroll << " anchor " << c.anchor << " " << c.from << "->" << c.to;

    // Every one-level step, many positions: zooming in the map pixel under the pointer stays
    // exactly; zooming out the pointer's new screen pixel covers it.
    for (int32_t from = -4; from <= 2; ++from)
        for (int32_t to : {from - 1, from + 1}) {
            if (to < -5 || to > 2) continue;
            for (int32_t scroll = -40; scroll <= 900; scroll += 37)
                for (int32_t anchor : {0, 1, 333, 1279}) {
                    const int32_t before = map_point_under(anchor, 0, scroll, 0, from).x;
                    const int32_t after_scroll = zoom_step_scroll(scroll, anchor, from, to);
                    const int32_t after = map_point_under(anchor, 0, after_scroll, 0, to).x;
                    const int32_t covered = to < 0 ? 1 << -to : 1;
                    EXPECT_TRUE(after <= before && before < after + covered)
                        << from << "->" << to << " scroll " << scroll << " anchor " << anchor
                        << ": map " << before << " became " << after;
                    if (to > from) {
                        EXPECT_EQ(after, before) << "zooming in is exact";
                    }
                }
        }
}

TEST(ZoomRange, LevelsAMapOffers) {
    const TileGeometry demo = {256, 256, 8, 4};          // 2048 x 1024
    const TileGeometry big = {256, 256, 128, 128};       // 32768 x 32768
    const TileGeometry tiny_tiles = {16, 16, 2048, 2048};
    struct Case {
        const char* what;
        ZoomInputs in;
        ZoomRange expected;
    };
    const Case cases[] = {
        {"demo map: the whole of it at 1:2, even from full-size tiles",
         {demo, 1250, 740, 0, 0, 50}, {2, -1, ZoomOutLimit::WHOLE_MAP_FITS}},
        {"a map smaller than the window stops at 1:1",
         {{256, 256, 2, 2}, 1000, 700, 0, 3, 50}, {2, 0, ZoomOutLimit::WHOLE_MAP_FITS}},
        {"no overviews: 1:8 at most",
         {big, 1920, 1080, 0, 3, 50}, {2, -3, ZoomOutLimit::NEEDS_OVERVIEWS}},
        {"overviews: out until the map fits (32768 / 32 = 1024)",
         {big, 1920, 1080, 7, 3, 50}, {2, -5, ZoomOutLimit::WHOLE_MAP_FITS}},
        {"overviews end at level 2: 1:32 at most",
         {big, 1920, 1080, 2, 3, 50}, {2, -5, ZoomOutLimit::WHOLE_MAP_FITS}},
        {"overviews end at level 1: 1:16 at most",
         {big, 1920, 1080, 1, 3, 50}, {2, -4, ZoomOutLimit::NEEDS_OVERVIEWS}},
        {"no reduced decoding: 187 full tiles at 1:2 exceed 70",
         {big, 1920, 1080, 0, 0, 50}, {2, 0, ZoomOutLimit::CACHE_TOO_SMALL}},
        {"no reduced decoding, MaxCache 1000: 1:4 needs 608, 1:8 2232",
         {big, 1920, 1080, 0, 0, 1000}, {2, -2, ZoomOutLimit::CACHE_TOO_SMALL}},
        {"16-pixel tiles: 242 x 137 of them at 1:2 are too many",
         {tiny_tiles, 1920, 1080, 0, 3, 50}, {2, 0, ZoomOutLimit::CACHE_TOO_SMALL}},
        {"16-pixel tiles, MaxCache 20000: 1:4 would paint 12,900 4-pixel cells in bulk",
         {tiny_tiles, 500, 400, 0, 0, 20000}, {2, -1, ZoomOutLimit::CACHE_TOO_SMALL}},
        {"4:1 of a 2^30-pixel map passes 32 bits: 1:1 closest",
         {{256, 256, 4194304, 1}, 1920, 1080, 0, 3, 50}, {0, -3, ZoomOutLimit::NEEDS_OVERVIEWS}},
        {"2^29 pixels: 2:1 closest",
         {{256, 256, 2097152, 1}, 1920, 1080, 0, 3, 50}, {1, -3, ZoomOutLimit::NEEDS_OVERVIEWS}},
        {"no tileset", {{0, 0, 0, 0}, 1920, 1080, 0, 3, 50}, {0, 0, ZoomOutLimit::WHOLE_MAP_FITS}},
    };
    for (const Case& c : cases) {
        const ZoomRange got = zoom_range(c.in);
        EXPECT_EQ(got.closest, c.expected.closest) << c.what;
        EXPECT_EQ(got.farthest, c.expected.farthest) << c.what;
        EXPECT_EQ(static_cast<int>(got.limit), static_cast<int>(c.expected.limit)) << c.what;
    }
}

TEST(TileSource, LevelReductionAndDrawScalePerZoom) {
    struct Case { int32_t zoom, overviews, reduction; TileSource expected; };
    const Case cases[] = {
        {2, 0, 3, {0, 0, 2}},  {1, 5, 3, {0, 0, 1}},   {0, 5, 3, {0, 0, 0}},
        {-1, 0, 3, {0, 1, 0}}, {-3, 0, 3, {0, 3, 0}},  {-3, 0, 0, {0, 0, -3}},
        {-2, 0, 1, {0, 1, -1}}, {-3, 5, 3, {0, 3, 0}}, {-4, 5, 3, {4, 0, 0}},
        {-4, 1, 3, {1, 3, 0}},  {-6, 5, 3, {5, 1, 0}},
        {-8, 5, 3, {5, 3, 0}},  {-5, 2, 3, {2, 3, 0}}, {-5, 2, 0, {2, 0, -3}},
    };
    for (const Case& c : cases) {
        const TileSource got = source_for_zoom(c.zoom, c.overviews, c.reduction);
        EXPECT_TRUE(got == c.expected)
            << "zoom " << c.zoom << " overviews " << c.overviews << " reduction " << c.reduction
            << ": level " << got.level << " reduced " << got.reduction_log2 << " drawn "
            << got.draw_log2;
    }
    EXPECT_EQ(source_tile_extent(256, {0, 3, 0}), 32);
    EXPECT_EQ(source_tile_extent(100, {0, 3, 0}), 13) << "rounded up, as the decoder does";
    EXPECT_EQ(source_tile_bytes(256, 256, {0, 1, 0}), 128 * 128 * 4);
    EXPECT_EQ(level_tile_count(32768, 256, 0), 128);
    EXPECT_EQ(level_tile_count(1000, 256, 2), 1) << "1000 / 4 = 250 pixels";
    EXPECT_EQ(level_tile_count(1025, 256, 2), 2);
}

TEST(ZoomGrid, CellsTileTheClientAreaWithoutGapOrOverlap) {
    EXPECT_EQ(cell_edge(3, 256, 0, 0, 300), 468) << "1:1: index x size - scroll";
    EXPECT_EQ(cell_edge(1, 256, 0, 1, 300), 212);
    EXPECT_EQ(cell_edge(1, 100, 0, -3, 0), 12) << "100 / 8 rounds down";
    EXPECT_EQ(cell_edge(2, 100, 0, -3, 0), 25);
    EXPECT_EQ(cell_edge(1, 256, 2, -3, 0), 128) << "an overview-2 cell spans 1024 map pixels";
    for (int32_t zoom : kZooms)
        for (int32_t tile : {256, 100})
            for (int32_t level : {0, 2})
                for (int32_t scroll : {0, 12, 300, 1001, -50}) {
                    const int32_t width = 700;
                    const CellRange cells =
                        zoomed_view_cells(scroll, scroll, width, 10, tile, tile, level, zoom);
                    const std::string where = "zoom " + std::to_string(zoom) + " tile " +
                                              std::to_string(tile) + " level " +
                                              std::to_string(level) + " scroll " +
                                              std::to_string(scroll);
                    ASSERT_LE(cells.first_column, cells.last_column) << where;
                    // The first cell starts at or before the left edge and ends after it, each
                    // next cell starts where the previous one ended, the last reaches the right.
                    const int64_t first_left = cell_edge(cells.first_column, tile, level, zoom, scroll);
                    EXPECT_LE(first_left, 0) << where;
                    EXPECT_GT(cell_edge(cells.first_column + 1, tile, level, zoom, scroll), 0) << where;
                    const int64_t last_left = cell_edge(cells.last_column, tile, level, zoom, scroll);
                    EXPECT_LT(last_left, width) << where;
                    EXPECT_GE(cell_edge(cells.last_column + 1, tile, level, zoom, scroll), width) << where;
                }
    const CellRange at_one = zoomed_view_cells(300, 700, 1000, 700, 256, 256, 0, 0);
    const CellRange plain = view_cells(300, 700, 1000, 700, 256, 256);
    EXPECT_TRUE(at_one.first_column == plain.first_column && at_one.last_column == plain.last_column &&
                at_one.first_row == plain.first_row && at_one.last_row == plain.last_row)
        << "at 1:1 the grid of the plain view";
}

TEST(ZoomCache, BudgetIsTodaysAtOneToOneAndAScreenAtAnyZoom) {
    const TileGeometry big = {256, 256, 128, 128};
    const int64_t full = 256 * 256 * 4;
    for (int32_t configured : {30, 50, 500})
        for (int32_t width : {1000, 1920, 3840}) {
            const ZoomInputs in = {big, width, 1080, 0, 3, configured};
            EXPECT_EQ(cache_budget_bytes(in, 0),
                      int64_t{cache_limit_in_force(configured, width, 1080, 256, 256)} * full)
                << configured << " tiles, " << width << " wide";
        }
    const ZoomInputs in = {big, 1920, 1080, 0, 3, 30};
    EXPECT_EQ(screen_cells_with_margin(1920, 1080, 256, 256, 0, -3), 62 * 36);
    EXPECT_EQ(cache_budget_bytes(in, -3), int64_t{62} * 36 * 32 * 32 * 4)
        << "1:8 from tiles decoded at 1/8: a screen of them, more than 30 full tiles";
    EXPECT_EQ(cache_budget_bytes(in, 2), 30 * full) << "4:1 needs only a few tiles";
}

TEST(ZoomPanes, MapPixelAndTileUnderThePointerAtEveryZoom) {
    struct Case { int32_t cx, cy, scroll_x, scroll_y, zoom; const char* x, *y, *tile; };
    const Case cases[] = {
        {10, 20, 500, 300, 0, "510 ", "320 ", "001\\001.jpg "},
        {21, 41, 1000, 600, 1, "510 ", "320 ", "001\\001.jpg "},
        {3, 3, 2037, 1277, 2, "510 ", "320 ", "001\\001.jpg "},
        {2, 5, 125, 75, -2, "508 ", "320 ", "001\\001.jpg "},
        {0, 0, 100, 0, -3, "800 ", "0 ", "000\\003.jpg "},
    };
    for (const Case& c : cases) {
        const MapPoint p = map_point_under(c.cx, c.cy, c.scroll_x, c.scroll_y, c.zoom);
        const PaneTexts texts = format_pane_texts(p.x, p.y, 0, 0, true, 256, 256);
        EXPECT_STREQ(texts.x_text, c.x) << "zoom " << c.zoom;
        EXPECT_STREQ(texts.y_text, c.y) << "zoom " << c.zoom;
        EXPECT_STREQ(texts.tile_text, c.tile) << "zoom " << c.zoom;
    }
}

TEST(LabelCulling, OnlyZoomedOutAndOnlyOverlaps) {
    for (int32_t zoom : kZooms) EXPECT_EQ(labels_culled_at(zoom), zoom < 0) << "zoom " << zoom;
    const LabelBox box = label_text_box(100, 50, 40, 13);
    EXPECT_EQ(box.left, 79);
    EXPECT_EQ(box.right, 121);
    EXPECT_EQ(box.top, 40);
    EXPECT_EQ(box.bottom, 55);

    LabelCuller culler;
    EXPECT_TRUE(culler.take(box));
    EXPECT_FALSE(culler.take(label_text_box(110, 52, 40, 13))) << "overlaps the first";
    EXPECT_TRUE(culler.take({121, 40, 160, 55})) << "touching is no overlap";
    EXPECT_FALSE(culler.take({150, 0, 151, 41})) << "one pixel into the third, another bucket";
    EXPECT_TRUE(culler.take({-500, -500, -60, -60})) << "left of and above the client area";
    EXPECT_FALSE(culler.take({-70, -70, -61, -61}));
    EXPECT_TRUE(culler.take({0, 0, 0, 10})) << "an empty text covers nothing";
    EXPECT_TRUE(culler.take({-59, -59, 79, 40})) << "between them all";
}

}  // namespace

namespace {

TEST(LabelLookup, MapAreaHoldsExactlyThePointsShownInTheZoomedArea) {
    const OpenWorldRect areas[] = {{-3, -3, 17, 9}, {-1, 0, 1, 2}, {5, 7, 6, 8}, {-40, -9, -2, 33}};
    for (int32_t zoom : kZooms) {
        for (const OpenWorldRect& area : areas) {
            const OpenWorldRect map = map_area_of_zoomed(area, zoom);
            for (int32_t x = -400; x <= 400; ++x) {
                const int32_t zx = zoomed_of_map(x, zoom);
                const bool shown = area.left < zx && zx < area.right;
                const bool looked_up = map.left < x && x < map.right;
                ASSERT_EQ(looked_up, shown) << "x " << x << " zoom " << zoom << " area ("
                                            << area.left << ", " << area.right << ")";
                const bool shown_y = area.top < zx && zx < area.bottom;
                ASSERT_EQ(map.top < x && x < map.bottom, shown_y) << "y " << x << " zoom " << zoom;
            }
        }
    }
    const OpenWorldRect huge = {INT64_MIN / 4, INT64_MIN / 4, INT64_MAX / 4, INT64_MAX / 4};
    for (int32_t zoom : {-30, -3, 0, 3}) {
        // Every map point whose zoomed position is a 32-bit number.
        const int32_t shift = std::max(zoom, 0);
        const OpenWorldRect map = map_area_of_zoomed(huge, zoom);
        EXPECT_TRUE(map.left < (INT32_MIN >> shift) && map.right > (INT32_MAX >> shift))
            << "zoom " << zoom;
    }
}

// Every client pixel is filled or lies in a walked cell of the zoomed grid; at 1:1 the plan is
// plan_paint's; tiny zoomed cells beyond a few thousand are painted in bulk, larger ones never.
TEST(ZoomPaintPlan, CoversTheClientAreaWithTheZoomedCellSize) {
    struct Case {
        TileGeometry geometry;
        int32_t scroll_x, scroll_y, zoom;
    };
    const Case cases[] = {{{256, 256, 40, 30}, 300, 200, -3},  {{100, 60, 7, 9}, -37, 11, -2},
                          {{100, 60, 7, 9}, 50, -20, 1},       {{33, 17, 3, 2}, -5, -7, -3},
                          {{16, 16, 500, 500}, 900, 900, -2},  {{256, 256, 4, 4}, 1500, 40, 2},
                          {{17, 13, 40, 50}, -10, -10, -3}};   // a mosaic of 2.125 x 1.625 px cells
    const int32_t width = 211, height = 157;
    for (const Case& c : cases) {
        const PaintPlan plan =
            plan_zoomed_paint(c.scroll_x, c.scroll_y, width, height, c.geometry, 0, c.zoom);
        std::vector<bool> covered(size_t{width} * height, false);
        const auto cover = [&](int64_t l, int64_t t, int64_t r, int64_t b) {
            for (int64_t y = std::max<int64_t>(t, 0); y < std::min<int64_t>(b, height); ++y)
                for (int64_t x = std::max<int64_t>(l, 0); x < std::min<int64_t>(r, width); ++x)
                    covered[size_t(y) * width + size_t(x)] = true;
        };
        for (int i = 0; i < plan.fill_count; ++i)
            cover(plan.fills[i].left, plan.fills[i].top, plan.fills[i].right, plan.fills[i].bottom);
        const auto edge = [&](int32_t index, int32_t extent, int32_t scroll) {
            return cell_edge(index, extent, 0, c.zoom, scroll);
        };
        for (int32_t row = plan.cells.first_row; row <= plan.cells.last_row; ++row)
            for (int32_t column = plan.cells.first_column; column <= plan.cells.last_column; ++column)
                cover(edge(column, c.geometry.tile_width, c.scroll_x),
                      edge(row, c.geometry.tile_height, c.scroll_y),
                      edge(column + 1, c.geometry.tile_width, c.scroll_x),
                      edge(row + 1, c.geometry.tile_height, c.scroll_y));
        const auto gap = std::find(covered.begin(), covered.end(), false);
        EXPECT_TRUE(gap == covered.end())
            << "zoom " << c.zoom << " scroll " << c.scroll_x << "," << c.scroll_y
            << ": client pixel " << (gap - covered.begin()) % width << ","
            << (gap - covered.begin()) / width << " neither filled nor in a cell";
    }
    const TileGeometry small{16, 16, 2000, 2000};
    const PaintPlan at_one = plan_zoomed_paint(70, 90, 1920, 1080, small, 0, 0);
    const PaintPlan plain = plan_paint(70, 90, 1920, 1080, small);
    EXPECT_TRUE(at_one.mode == plain.mode && at_one.cells.first_column == plain.cells.first_column &&
                at_one.cells.last_row == plain.cells.last_row && at_one.fill_count == plain.fill_count);
    EXPECT_EQ(plan_zoomed_paint(70, 90, 1920, 1080, small, 0, -2).mode, PaintMode::MOSAIC_IN_BULK)
        << "4-pixel cells, 130,000 of them";
    EXPECT_NE(plan_zoomed_paint(70, 90, 1920, 1080, small, 0, -1).mode, PaintMode::MOSAIC_IN_BULK)
        << "8-pixel cells are walked one by one";
    EXPECT_NE(plan_zoomed_paint(0, 0, 1920, 1080, {256, 256, 400, 400}, 0, -3).mode,
              PaintMode::MOSAIC_IN_BULK);
}

}  // namespace
