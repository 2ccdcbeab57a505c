// The viewport's arithmetic: clamping the scroll position, scroll-bar requests, the grid of
// cells a paint walks, tile file paths and the tileset geometry check. Values in, values out;
// the Win32 handlers in viewport.cpp call these.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tiles/tile_list.h"

// The mosaic's geometry as far as the view needs it.
struct TileGeometry {
    int32_t tile_width;
    int32_t tile_height;
    int32_t tile_columns;
    int32_t tile_rows;
};

// The first thing that makes a geometry unusable, checked in this order.
enum class GeometryProblem {
    NONE,
    WIDTH_NOT_POSITIVE,     // TileSizeX
    HEIGHT_NOT_POSITIVE,    // TileSizeY
    COLUMNS_NOT_POSITIVE,   // TileCountX
    ROWS_NOT_POSITIVE,      // TileCountY
    WORLD_TOO_WIDE,         // TileCountX x TileSizeX beyond signed 32 bits
    WORLD_TOO_HIGH,         // TileCountY x TileSizeY beyond signed 32 bits
    TILE_TOO_BIG,           // one tile's 32-bit pixel buffer beyond signed 32 bits
};
GeometryProblem find_geometry_problem(const TileGeometry& geometry);

// True when every product the viewer forms from the geometry is defined: sizes and counts
// above zero, world width and height and one tile's 32-bit pixel buffer within signed 32 bits.
bool tile_geometry_is_usable(const TileGeometry& geometry);

// World width and height (count x size); 0 before any tileset is loaded.
int32_t world_width(const TileGeometry& geometry);
int32_t world_height(const TileGeometry& geometry);

// One axis of the clamp: the far limit (world extent - view extent) first, then 0.
int32_t clamp_scroll_axis(int32_t position, int32_t world_extent, int32_t view_extent);

// a + b without signed overflow (saturating); used where positions move unbounded (drag).
int32_t add_saturating(int32_t a, int32_t b);

// Scroll-bar request codes, as in the low word of WM_HSCROLL / WM_VSCROLL.
enum ScrollRequest : int {
    SCROLL_LINE_BACK = 0,
    SCROLL_LINE_FORWARD = 1,
    SCROLL_PAGE_BACK = 2,
    SCROLL_PAGE_FORWARD = 3,
    SCROLL_THUMB_POSITION = 4,
    SCROLL_THUMB_TRACK = 5,
    SCROLL_TO_START = 6,
    SCROLL_TO_END = 7,
};

constexpr int32_t SCROLL_LINE_STEP = 10;
constexpr int32_t SCROLL_PAGE_STEP = 50;

// The new coordinate for one scroll-bar request, before clamping. `track_position` is the
// bar's tracking position (only read for SCROLL_THUMB_TRACK); `world_extent` and
// `view_extent` give the far end for SCROLL_TO_END.
int32_t scroll_request_target(int request, int32_t current, int32_t track_position,
                              int32_t world_extent, int32_t view_extent);

// Where a paint's grid starts along one axis: the first tile index and the client coordinate
// of its leading edge (zero or negative when the scroll is positive).
struct GridStart {
    int32_t first_index;
    int32_t first_offset;
};
GridStart grid_start(int32_t scroll, int32_t tile_extent);

// The cells a paint walks for a client area of width x height whose top-left corner shows
// world point (scroll_x, scroll_y); empty for an empty client area.
CellRange view_cells(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                     int32_t tile_width, int32_t tile_height);

// The cache limit in force: the configured one (MaxCache, the Options dialog), raised to the
// most cells that a client area of width x height can show (at the least favourable scroll
// position) plus one row and one column, so that a screen larger than the configured limit
// never evicts what it shows, and a step back and forth decodes nothing.
int32_t cache_limit_in_force(int32_t configured, int32_t width, int32_t height,
                             int32_t tile_width, int32_t tile_height);

// Formats the tile file path "dir\RRR\CCC.jpg" into `buffer`. Returns false, leaving the
// buffer's content unspecified, when the path does not fit `capacity` characters with its NUL.
bool format_tile_path(char* buffer, size_t capacity, const char* tile_dir, int32_t row,
                      int32_t column);

// One drag: the anchor the cursor is warped back to, and the last cursor position seen.
struct DragTrack {
    int32_t anchor_x;
    int32_t anchor_y;
    int32_t last_x;
    int32_t last_y;
};

// Where a cursor sample is measured from. FROM_ANCHOR: the previous warp has put the cursor
// back at the anchor before the next hand move is applied (Windows, and Wine while it can
// confine the cursor). FROM_LAST_SEEN: a warp may land after later hand moves, and the same
// move may be reported twice (Wine without cursor confinement); each sample then counts only
// its distance from the last one seen, so a repeated report moves nothing.
enum class DragMeasure { FROM_ANCHOR, FROM_LAST_SEEN };

// The hand's movement shown by one cursor sample at screen point (x, y) during a drag; `warp`
// asks for the cursor to be put back at the anchor. A sample at the anchor is the warp
// arriving and moves nothing.
struct DragStep {
    int32_t dx;
    int32_t dy;
    bool warp;
};
DragTrack begin_drag_track(int32_t anchor_x, int32_t anchor_y);
DragStep track_drag_move(DragTrack& track, int32_t x, int32_t y, DragMeasure measure);

// The hand's movement between the press at screen point (press_x, press_y) and the moment the
// drag began, when the cursor was read as the anchor: a busy program may begin the drag after
// the hand has moved on. No warp: the cursor is already at the anchor.
DragStep drag_motion_before_begin(int32_t press_x, int32_t press_y, int32_t anchor_x,
                                  int32_t anchor_y);
