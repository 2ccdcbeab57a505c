// Paint plans: which cells a paint walks one by one and which parts of the client area it
// fills whole, for ordinary tiles, drags past the edge and tiles of a pixel or two.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "app/paint_plan.h"

namespace {

int64_t area(const ClientRect& r) { return int64_t{r.right - r.left} * (r.bottom - r.top); }

// The part of the client area that the plan's cells cover.
int64_t cells_area(const PaintPlan& plan, const TileGeometry& g, int32_t width, int32_t height) {
    if (plan.cells.last_column < plan.cells.first_column || plan.cells.last_row < plan.cells.first_row)
        return 0;
    const int64_t left = std::max<int64_t>(0, cell_left(plan, plan.cells.first_column, g.tile_width));
    const int64_t top = std::max<int64_t>(0, cell_top(plan, plan.cells.first_row, g.tile_height));
    const int64_t right =
        std::min<int64_t>(width, cell_left(plan, plan.cells.last_column, g.tile_width) + g.tile_width);
    const int64_t bottom =
        std::min<int64_t>(height, cell_top(plan, plan.cells.last_row, g.tile_height) + g.tile_height);
    return (right - left) * (bottom - top);
}

TEST(PaintPlan, ChoosesThePathAndCoversTheClientAreaOnce) {
    const struct {
        const char* what;
        TileGeometry geometry;
        int32_t scroll_x, scroll_y, width, height;
        PaintMode mode;
        CellRange cells;
        int fills;
    } cases[] = {
        {"256-pixel tiles: every grid cell, from column 1 at -44", {256, 256, 10, 8}, 300, 0, 1000, 700,
         PaintMode::EVERY_GRID_CELL, {1, 0, 5, 2}, 0},
        {"a view wider than the mosaic still walks the cells beyond it", {256, 256, 2, 2}, 0, 0, 1000, 700,
         PaintMode::EVERY_GRID_CELL, {0, 0, 3, 2}, 0},
        {"a drag past the left and top edges fills the strips before the grid", {256, 256, 10, 8}, -100,
         -50, 1000, 700, PaintMode::EVERY_GRID_CELL, {0, 0, 3, 2}, 2},
        {"one 1x1 tile: its cell alone, the rest filled in two pieces", {1, 1, 1, 1}, 0, 0, 1920, 1080,
         PaintMode::MOSAIC_CELLS, {0, 0, 0, 0}, 2},
        {"tiny tiles dragged past the mosaic: one fill, no cell", {1, 1, 5, 5}, 3000, 0, 1920, 1080,
         PaintMode::MOSAIC_CELLS, NO_CELLS, 1},
        {"2x2 tiles, 50 x 40 of them in the middle: four fills around", {2, 2, 50, 40}, -500, -300,
         1920, 1080, PaintMode::MOSAIC_CELLS, {0, 0, 49, 39}, 4},
        {"16-pixel tiles filling the screen: 8,160 cells, still one by one", {16, 16, 4000, 4000}, 10,
         20, 1920, 1080, PaintMode::MOSAIC_CELLS, {0, 1, 120, 68}, 0},
        {"7x64 tiles are tiny across: in bulk", {7, 64, 4000, 4000}, 0, 0, 1920, 1080,
         PaintMode::MOSAIC_IN_BULK, {0, 0, 274, 16}, 1},
        {"a mosaic of 1x1 tiles filling the screen: in bulk", {1, 1, 4000, 4000}, 10, 20, 1920, 1080,
         PaintMode::MOSAIC_IN_BULK, {10, 20, 1929, 1099}, 1},
        {"bulk near the far end of a huge mosaic of 3x3 tiles", {3, 3, 700000000, 700000000},
         2099999000, 2099999000, 1920, 1080, PaintMode::MOSAIC_IN_BULK,
         {699999666, 699999666, 699999999, 699999999}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PaintPlan plan = plan_paint(c.scroll_x, c.scroll_y, c.width, c.height, c.geometry);
        EXPECT_EQ(plan.mode, c.mode);
        EXPECT_EQ(plan.cells.first_column, c.cells.first_column);
        EXPECT_EQ(plan.cells.first_row, c.cells.first_row);
        EXPECT_EQ(plan.cells.last_column, c.cells.last_column);
        EXPECT_EQ(plan.cells.last_row, c.cells.last_row);
        ASSERT_EQ(plan.fill_count, c.fills);
        int64_t filled = 0;
        for (int i = 0; i < plan.fill_count; ++i) {
            const ClientRect& r = plan.fills[i];
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= c.width && r.bottom <= c.height &&
                        r.left < r.right && r.top < r.bottom)
                << "fill " << i << " (" << r.left << ", " << r.top << ")-(" << r.right << ", "
                << r.bottom << ") lies outside the client area or is empty";
            filled += area(r);
        }
        const int64_t client = int64_t{c.width} * c.height;
        if (plan.mode == PaintMode::MOSAIC_IN_BULK)
            EXPECT_EQ(filled, client) << "bulk fills the whole client area";
        else
            EXPECT_EQ(filled + cells_area(plan, c.geometry, c.width, c.height), client)
                << "fills and cells together cover the client area exactly once";
        EXPECT_LE(int64_t{plan.cells.last_column - plan.cells.first_column + 1} *
                      (plan.cells.last_row - plan.cells.first_row + 1),
                  plan.mode == PaintMode::EVERY_GRID_CELL ? MAX_CELLS_PAINTED_ONE_BY_ONE : client);
    }
}

TEST(PaintPlan, CellCornersFollowTheGrid) {
    const TileGeometry g = {256, 128, 10, 8};
    const PaintPlan plan = plan_paint(300, -100, 1000, 700, g);
    EXPECT_EQ(cell_left(plan, 1, g.tile_width), -44);
    EXPECT_EQ(cell_left(plan, 3, g.tile_width), 468);
    EXPECT_EQ(cell_top(plan, 0, g.tile_height), 100);
    EXPECT_EQ(cell_top(plan, 2, g.tile_height), 356);
}

}  // namespace
