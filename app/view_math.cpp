// The viewport's arithmetic. Wider intermediates keep every product and sum defined, so the
// native tests can run it under UBSan with hostile geometry.
#include "app/view_math.h"

#include <cstdio>
#include <limits>

GeometryProblem find_geometry_problem(const TileGeometry& g) {
    if (g.tile_width <= 0) return GeometryProblem::WIDTH_NOT_POSITIVE;
    if (g.tile_height <= 0) return GeometryProblem::HEIGHT_NOT_POSITIVE;
    if (g.tile_columns <= 0) return GeometryProblem::COLUMNS_NOT_POSITIVE;
    if (g.tile_rows <= 0) return GeometryProblem::ROWS_NOT_POSITIVE;
    const int64_t limit = std::numeric_limits<int32_t>::max();
    if (int64_t{g.tile_columns} * g.tile_width > limit) return GeometryProblem::WORLD_TOO_WIDE;
    if (int64_t{g.tile_rows} * g.tile_height > limit) return GeometryProblem::WORLD_TOO_HIGH;
    if (int64_t{g.tile_width} * g.tile_height * 4 > limit) return GeometryProblem::TILE_TOO_BIG;
    return GeometryProblem::NONE;
}

bool tile_geometry_is_usable(const TileGeometry& g) {
    return find_geometry_problem(g) == GeometryProblem::NONE;
}

namespace {
int32_t clamp_to_int32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}
}  // namespace

int32_t world_width(const TileGeometry& g) {
    return clamp_to_int32(int64_t{g.tile_columns} * g.tile_width);
}

int32_t world_height(const TileGeometry& g) {
    return clamp_to_int32(int64_t{g.tile_rows} * g.tile_height);
}

int32_t clamp_scroll_axis(int32_t position, int32_t world_extent, int32_t view_extent) {
    const int64_t far_limit = int64_t{world_extent} - view_extent;
    int64_t clamped = position;
    if (clamped > far_limit) clamped = far_limit;
    if (clamped < 0) clamped = 0;
    return static_cast<int32_t>(clamped);
}

int32_t add_saturating(int32_t a, int32_t b) {
    return clamp_to_int32(int64_t{a} + b);
}

int32_t scroll_request_target(int request, int32_t current, int32_t track_position,
                              int32_t world_extent, int32_t view_extent) {
    switch (request) {
    case SCROLL_LINE_BACK: return add_saturating(current, -SCROLL_LINE_STEP);
    case SCROLL_LINE_FORWARD: return add_saturating(current, SCROLL_LINE_STEP);
    case SCROLL_PAGE_BACK: return add_saturating(current, -SCROLL_PAGE_STEP);
    case SCROLL_PAGE_FORWARD: return add_saturating(current, SCROLL_PAGE_STEP);
    case SCROLL_THUMB_TRACK: return track_position;
    case SCROLL_TO_START: return 0;
    case SCROLL_TO_END: return clamp_to_int32(int64_t{world_extent} - view_extent);
    default: return current;  // thumb position, end of scroll and anything unknown
    }
}

GridStart grid_start(int32_t scroll, int32_t tile_extent) {
    // C++ division truncates toward zero and the remainder takes the dividend's sign, which is
    // what the grid wants: scroll -100 with 256-pixel tiles starts column 0 at +100.
    GridStart start;
    start.first_index = scroll / tile_extent;
    start.first_offset = -(scroll % tile_extent);
    return start;
}

namespace {
// Cells from `offset` (<= 0 outside a drag) until `extent` is covered: ceil((extent - offset) / tile).
int64_t cells_to_cover(int64_t extent, int64_t offset, int32_t tile_extent) {
    if (extent <= offset) return 0;
    return (extent - offset + tile_extent - 1) / tile_extent;
}
}  // namespace

CellRange view_cells(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                     int32_t tile_width, int32_t tile_height) {
    if (tile_width <= 0 || tile_height <= 0) return NO_CELLS;
    const GridStart columns = grid_start(scroll_x, tile_width);
    const GridStart rows = grid_start(scroll_y, tile_height);
    const int64_t column_count = cells_to_cover(width, columns.first_offset, tile_width);
    const int64_t row_count = cells_to_cover(height, rows.first_offset, tile_height);
    if (column_count == 0 || row_count == 0) return NO_CELLS;
    return CellRange{columns.first_index, rows.first_index,
                     clamp_to_int32(columns.first_index + column_count - 1),
                     clamp_to_int32(rows.first_index + row_count - 1)};
}

int32_t cache_limit_in_force(int32_t configured, int32_t width, int32_t height,
                             int32_t tile_width, int32_t tile_height) {
    if (tile_width <= 0 || tile_height <= 0) return configured;
    // Most cells one axis can show: a pixel of a cell at the leading edge, then enough cells
    // for the other width - 1 pixels. Then one more of each.
    const int64_t columns = (width > 0 ? cells_to_cover(width - 1, 0, tile_width) + 1 : 0) + 1;
    const int64_t rows = (height > 0 ? cells_to_cover(height - 1, 0, tile_height) + 1 : 0) + 1;
    const int64_t needed = columns * rows;
    return needed > configured ? clamp_to_int32(needed) : configured;
}

bool format_tile_path(char* buffer, size_t capacity, const char* tile_dir, int32_t row,
                      int32_t column) {
    const int written = std::snprintf(buffer, capacity, "%s\\%3.3i\\%3.3i.jpg",
                                      tile_dir != nullptr ? tile_dir : "", row, column);
    return written >= 0 && static_cast<size_t>(written) < capacity;
}

DragTrack begin_drag_track(int32_t anchor_x, int32_t anchor_y) {
    return DragTrack{anchor_x, anchor_y, anchor_x, anchor_y};
}

DragStep track_drag_move(DragTrack& track, int32_t x, int32_t y, DragMeasure measure) {
    const bool from_last = measure == DragMeasure::FROM_LAST_SEEN;
    const int32_t from_x = from_last ? track.last_x : track.anchor_x;
    const int32_t from_y = from_last ? track.last_y : track.anchor_y;
    track.last_x = x;
    track.last_y = y;
    if (x == track.anchor_x && y == track.anchor_y) return DragStep{0, 0, false};
    return DragStep{clamp_to_int32(int64_t{x} - from_x), clamp_to_int32(int64_t{y} - from_y), true};
}

DragStep drag_motion_before_begin(int32_t press_x, int32_t press_y, int32_t anchor_x,
                                  int32_t anchor_y) {
    return DragStep{clamp_to_int32(int64_t{anchor_x} - press_x),
                    clamp_to_int32(int64_t{anchor_y} - press_y), false};
}
