// What one paint of the view does, decided before any drawing: which cells go through the
// per-cell path (cache lookup, tile request, blit or fill) and which parts of the client area
// are filled with the window colour as whole rectangles. A view of a few thousand cells is
// painted cell by cell; beyond that (tiles of a few pixels) the area outside the mosaic is
// filled in one piece, and a mosaic part that is itself too many cells is painted in bulk.
#pragma once
#include <cstdint>

#include "app/view_math.h"

// Most cells a paint takes through the per-cell path. Each costs a cache lookup and, when the
// tile is missing, a file look-up: a few thousand keep a paint near a frame's time.
constexpr int64_t MAX_CELLS_PAINTED_ONE_BY_ONE = 4096;
// Cells narrower or lower than this are "tiny": only a view of tiny cells is ever painted in
// bulk. Larger cells always go one by one, however many, so every tile a user can make out is
// requested and shown (a screen of 16-pixel tiles is some 8,000 cells).
constexpr int32_t TINY_CELL_PIXELS = 8;

struct ClientRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

enum class PaintMode {
    EVERY_GRID_CELL,   // every cell of the grid, the mosaic's and those beyond it, one by one
    MOSAIC_CELLS,      // the mosaic's cells one by one; the rest of the client area filled
    MOSAIC_IN_BULK,    // tiny cells only: the whole client area filled, then the cached
                       // tiles in view drawn; nothing is requested
};

struct PaintPlan {
    PaintMode mode;
    GridStart columns;    // where the grid starts, along each axis
    GridStart rows;
    CellRange cells;      // the cells to walk (or, in bulk, to look for in the cache)
    int fill_count;       // rectangles to fill with the window colour before the cells
    ClientRect fills[4];
};

// The plan for a client area of width x height showing world point (scroll_x, scroll_y) at
// its top-left corner, for a usable geometry. The strips left of and above a grid that
// starts inside the client area (a drag past the map's edge) are always among the fills.
PaintPlan plan_paint(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                     const TileGeometry& geometry);

// The client point of a cell's top-left corner in the plan's grid.
int64_t cell_left(const PaintPlan& plan, int32_t column, int32_t tile_width);
int64_t cell_top(const PaintPlan& plan, int32_t row, int32_t tile_height);
