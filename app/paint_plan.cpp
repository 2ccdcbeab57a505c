// Paint planning: grid arithmetic in 64 bits, so that huge mosaics, tiny tiles and drags far
// past the map's edges stay defined.
#include "app/paint_plan.h"

#include <algorithm>

namespace {

int64_t cell_count(const CellRange& cells) {
    if (cells.last_column < cells.first_column || cells.last_row < cells.first_row) return 0;
    return (int64_t{cells.last_column} - cells.first_column + 1) *
           (int64_t{cells.last_row} - cells.first_row + 1);
}

void add_fill(PaintPlan& plan, int64_t left, int64_t top, int64_t right, int64_t bottom) {
    if (left >= right || top >= bottom || plan.fill_count == 4) return;
    plan.fills[plan.fill_count++] = ClientRect{static_cast<int32_t>(left), static_cast<int32_t>(top),
                                               static_cast<int32_t>(right), static_cast<int32_t>(bottom)};
}

}  // namespace

PaintPlan plan_paint(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                     const TileGeometry& geometry) {
    PaintPlan plan;
    plan.columns = grid_start(scroll_x, geometry.tile_width);
    plan.rows = grid_start(scroll_y, geometry.tile_height);
    plan.cells = view_cells(scroll_x, scroll_y, width, height, geometry.tile_width,
                            geometry.tile_height);
    plan.fill_count = 0;
    if (cell_count(plan.cells) <= MAX_CELLS_PAINTED_ONE_BY_ONE) {
        plan.mode = PaintMode::EVERY_GRID_CELL;
        // The grid covers the client area from its first cell on; only the strips before a
        // grid that starts inside it need filling.
        const int64_t grid_left = std::min(plan.columns.first_offset, width);
        add_fill(plan, 0, 0, grid_left, height);
        add_fill(plan, std::max<int64_t>(grid_left, 0), 0, width,
                 std::min(plan.rows.first_offset, height));
        return plan;
    }
    // The mosaic's part of the client area, and its cells.
    const int64_t left = std::max<int64_t>(0, -int64_t{scroll_x});
    const int64_t top = std::max<int64_t>(0, -int64_t{scroll_y});
    const int64_t right = std::min<int64_t>(width, int64_t{world_width(geometry)} - scroll_x);
    const int64_t bottom = std::min<int64_t>(height, int64_t{world_height(geometry)} - scroll_y);
    CellRange& cells = plan.cells;
    cells.first_column = std::max(cells.first_column, 0);
    cells.first_row = std::max(cells.first_row, 0);
    cells.last_column = std::min(cells.last_column, geometry.tile_columns - 1);
    cells.last_row = std::min(cells.last_row, geometry.tile_rows - 1);
    if (left >= right || top >= bottom) cells = NO_CELLS;
    const bool tiny_cells = geometry.tile_width < TINY_CELL_PIXELS ||
                            geometry.tile_height < TINY_CELL_PIXELS;
    if (cell_count(cells) <= MAX_CELLS_PAINTED_ONE_BY_ONE || !tiny_cells) {
        plan.mode = PaintMode::MOSAIC_CELLS;
        if (cell_count(cells) == 0) {
            add_fill(plan, 0, 0, width, height);
            return plan;
        }
        // The client area less the mosaic's part: the bands above and below it, and the
        // pieces left and right of it between them.
        add_fill(plan, 0, 0, width, top);
        add_fill(plan, 0, bottom, width, height);
        add_fill(plan, 0, top, left, bottom);
        add_fill(plan, right, top, width, bottom);
        return plan;
    }
    plan.mode = PaintMode::MOSAIC_IN_BULK;
    add_fill(plan, 0, 0, width, height);
    return plan;
}

int64_t cell_left(const PaintPlan& plan, int32_t column, int32_t tile_width) {
    return plan.columns.first_offset + (int64_t{column} - plan.columns.first_index) * tile_width;
}

int64_t cell_top(const PaintPlan& plan, int32_t row, int32_t tile_height) {
    return plan.rows.first_offset + (int64_t{row} - plan.rows.first_index) * tile_height;
}
