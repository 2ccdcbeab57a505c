// The arithmetic of zooming: which zoom levels a map offers, map <-> screen at each level, the
// step that keeps the map point under the pointer, the tiles each level draws from and where
// their cells lie, the cache a screen needs, and which labels a zoomed-out view leaves out.
// Values in, values out; viewport.cpp and labels.cpp call these.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "app/label_index.h"
#include "app/paint_plan.h"
#include "app/view_math.h"
#include "tiles/tile_list.h"

// A zoom is log2 of the screen pixels per map pixel: +2 is 4:1 (a map pixel as a 4x4 square),
// 0 is 1:1, -3 is 1:8. The view position (scroll_x, scroll_y) is measured in screen pixels of
// the zoomed map, so arrows, scroll bars and the drag move by screen pixels at every zoom and
// at 1:1 everything is as it always was.
constexpr int32_t ZOOM_ONE_TO_ONE = 0;
constexpr int32_t ZOOM_CLOSEST = 2;
// The decoder reduces a tile by at most 2^3 (1/8).
constexpr int32_t MAX_DECODE_REDUCTION_LOG2 = 3;
// The most tiles one screen may need at a zoom: past this the per-tile costs (a file, a decode,
// a record, a blit each) outweigh the picture, and the view does not zoom out further.
constexpr int64_t MAX_TILES_PER_SCREEN = 16384;

// The map's width or height on screen at `zoom`: extent x 2^zoom, or rounded up when zoomed
// out (a partly covered last screen pixel still shows). Saturates at INT32_MAX.
int32_t zoomed_extent(int32_t map_extent, int32_t zoom);

// The map pixel under zoomed-map pixel `zoomed` (scroll + client coordinate): the map pixel it
// magnifies at a zoom-in (floor division), the map pixel at its top-left corner at a zoom-out.
// At 1:1 it is `zoomed` itself. Saturates.
int32_t map_of_zoomed(int32_t zoomed, int32_t zoom);
// The zoomed-map pixel that shows map pixel `map` (floor division at a zoom-out). Saturates.
int32_t zoomed_of_map(int32_t map, int32_t zoom);

// The scroll position after a step from `from_zoom` to `to_zoom` that keeps the map point
// under client coordinate `anchor` in place, before clamping. Zooming in it stays exactly
// under the anchor; zooming out the anchor's screen pixel then covers several map pixels and
// the old point lies inside it (the zoomed coordinate is halved rounding down, per level).
int32_t zoom_step_scroll(int32_t scroll, int32_t anchor, int32_t from_zoom, int32_t to_zoom);

// Why the view goes no further out than ZoomRange::farthest.
enum class ZoomOutLimit {
    WHOLE_MAP_FITS,       // the whole map fits the window there
    NEEDS_OVERVIEWS,      // 1:8 below the deepest overview level (or level 0 without any)
    CACHE_TOO_SMALL,      // a screen one level further would need more than the cache holds,
                          // or more tiny cells than a paint walks one by one
};

struct ZoomRange {
    int32_t closest;    // ZOOM_CLOSEST, or less where 4:1 of a huge map exceeds 32-bit positions
    int32_t farthest;   // <= 0
    ZoomOutLimit limit;
};

// What the zoom levels of one map in one window depend on.
struct ZoomInputs {
    TileGeometry geometry;
    int32_t view_width;            // client area
    int32_t view_height;
    int32_t overview_count;        // levels 1..N of the tileset (0: none)
    int32_t decode_reduction_log2; // what the decoder can reduce a tile by (0 ... 3)
    int32_t configured_cache;      // MaxCache, in full-size tiles
};
ZoomRange zoom_range(const ZoomInputs& inputs);

// The tiles a zoom draws from: the tileset's own tiles (level 0) or overview level k, each
// decoded reduced by 2^reduction_log2 and drawn scaled by 2^draw_log2 (positive: magnified,
// nearest neighbour; negative: shrunk when drawn, where neither an overview nor the decoder
// reduces far enough).
struct TileSource {
    int32_t level;
    int32_t reduction_log2;
    int32_t draw_log2;
    bool operator==(const TileSource& other) const {
        return level == other.level && reduction_log2 == other.reduction_log2 &&
               draw_log2 == other.draw_log2;
    }
};
// Zoomed in: level 0 at full size, magnified. Zoomed out by 2^k: level 0 reduced by the
// decoder while it reaches (k <= 3); further out the overview level closest to the zoom
// without passing it (min(k, overview_count)), then the decoder's reduction for the rest,
// then shrinking when drawn for whatever remains.
TileSource source_for_zoom(int32_t zoom, int32_t overview_count, int32_t decode_reduction_log2);

// Width or height in pixels of one decoded tile of `source`: the full tile size divided by
// 2^reduction, rounded up (as the decoder rounds).
int32_t source_tile_extent(int32_t tile_extent, const TileSource& source);
// Bytes of one decoded tile of `source` (4 bytes per pixel).
int64_t source_tile_bytes(int32_t tile_width, int32_t tile_height, const TileSource& source);
// Tile columns (or rows) of level `level`: ceil(map extent / 2^level / tile extent).
int32_t level_tile_count(int32_t map_extent, int32_t tile_extent, int32_t level);

// Where cells of a level's grid lie on screen along one axis, at `zoom` with the view at
// `scroll`: cell `index` covers client coordinates [cell_edge(index), cell_edge(index + 1)).
// Edges are the zoomed positions of the cells' first map pixels, so neighbours never overlap
// or leave a gap. At 1:1 on level 0 cell_edge is index x tile extent - scroll.
int64_t cell_edge(int32_t index, int32_t tile_extent, int32_t level, int32_t zoom,
                  int32_t scroll);
// The cells of `level` that a client area of width x height shows; empty for an empty area.
// At 1:1 on level 0 and a position inside the map these are view_cells' cells (left of or
// above the map, during a drag, this grid rounds down where view_cells truncates).
CellRange zoomed_view_cells(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                            int32_t tile_width, int32_t tile_height, int32_t level,
                            int32_t zoom);

// Cells of the source's level that a screen of width x height can touch at `zoom` (at the
// least favourable position), plus one row and one column: at 1:1 the count cache_limit_in_force
// raises the configured limit to.
int64_t screen_cells_with_margin(int32_t width, int32_t height, int32_t tile_width,
                                 int32_t tile_height, int32_t level, int32_t zoom);

// The cache's budget in bytes at `zoom`: MaxCache full-size tiles, never less than a screen
// plus a margin of the zoom's own tiles. At 1:1 it is cache_limit_in_force x full tile bytes.
int64_t cache_budget_bytes(const ZoomInputs& inputs, int32_t zoom);

// The map point and the level-0 tile under client point (cx, cy), for the panes.
struct MapPoint {
    int32_t x;
    int32_t y;
};
MapPoint map_point_under(int32_t cx, int32_t cy, int32_t scroll_x, int32_t scroll_y,
                         int32_t zoom);

// The map points whose zoomed positions lie inside `zoomed_area` (bounds excluded), for
// looking labels up in the index: at 1:1 the area itself.
OpenWorldRect map_area_of_zoomed(const OpenWorldRect& zoomed_area, int32_t zoom);

// The paint of a zoomed view of the source level's grid, planned as at 1:1 with the zoomed
// cell size: the same choice of mode (tiny zoomed cells beyond a few thousand are painted in
// bulk) and the same fills, its cells those zoomed_view_cells gives. A zoomed cell that is
// not a whole number of pixels counts at its smaller size, so the fills never reach past the
// grid's real edge. At 1:1 on level 0 it is plan_paint.
PaintPlan plan_zoomed_paint(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                            const TileGeometry& geometry, int32_t level, int32_t zoom);

// Zoomed out, a label whose box overlaps one already drawn is left out. A box is half-open:
// [left, right) x [top, bottom).
struct LabelBox {
    int32_t left, top, right, bottom;
};
// The box a label's outlined text covers, drawn centred on client x `sx` with its top 9
// pixels above `sy`, for text of text_width x text_height pixels (outline included).
LabelBox label_text_box(int32_t sx, int32_t sy, int32_t text_width, int32_t text_height);
// True when labels at this zoom are thinned out (zoomed out); every label is drawn at 1:1
// and closer.
bool labels_culled_at(int32_t zoom);

// The boxes drawn so far, in buckets of the screen, so a check costs the few boxes near it.
class LabelCuller {
public:
    // True, and the box remembered, when `box` overlaps no box taken before.
    bool take(const LabelBox& box);

private:
    static constexpr int32_t BUCKET_SHIFT = 6;   // 64-pixel squares of the screen
    // Each box is kept in every bucket it touches.
    std::unordered_map<int64_t, std::vector<LabelBox>> buckets_;
};
