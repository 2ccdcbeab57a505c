// Zoom arithmetic in 64 bits with saturation, so huge maps, deep overview levels and a drag
// far off the map stay defined under UBSan. Divisions by powers of two round toward minus
// infinity: a screen pixel left of the map's origin belongs to the map pixel left of it.
#include "app/zoom_math.h"

#include <algorithm>
#include <limits>

namespace {

// Far beyond any 32-bit position, far below int64 overflow.
constexpr int64_t SATURATION = int64_t{1} << 60;
constexpr int32_t MAX_OVERVIEW_COUNT = 24;

int64_t floor_div(int64_t value, int64_t divisor) {
    int64_t quotient = value / divisor;
    if (value % divisor != 0 && (value < 0) != (divisor < 0)) --quotient;
    return quotient;
}

// value x 2^shift, held within +-SATURATION.
int64_t shift_up(int64_t value, int32_t shift) {
    if (value == 0) return 0;
    if (shift >= 60) return value > 0 ? SATURATION : -SATURATION;
    const int64_t limit = SATURATION >> shift;
    if (value > limit) return SATURATION;
    if (value < -limit) return -SATURATION;
    return value * (int64_t{1} << shift);
}

// a x b for a, b >= 0, held at SATURATION.
int64_t multiply_saturating(int64_t a, int64_t b) {
    if (a == 0 || b == 0) return 0;
    return b > SATURATION / a ? SATURATION : a * b;
}

// floor(value / 2^shift).
int64_t shift_down(int64_t value, int32_t shift) {
    if (shift >= 62) return value < 0 ? -1 : 0;
    return floor_div(value, int64_t{1} << shift);
}

// value x 2^zoom: magnified (zoom > 0) or reduced rounding down.
int64_t scale_by_zoom(int64_t value, int32_t zoom) {
    return zoom >= 0 ? shift_up(value, zoom) : shift_down(value, -zoom);
}

int32_t to_int32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

int32_t usable_overview_count(int32_t count) {
    return std::clamp(count, 0, MAX_OVERVIEW_COUNT);
}

// Map pixels one cell of `level` spans along an axis.
int64_t level_cell_span(int32_t tile_extent, int32_t level) {
    return shift_up(tile_extent, level);
}

// The cell of a level's grid that holds zoomed-map pixel `zoomed` along one axis: the cell
// whose client span [cell_edge(c), cell_edge(c + 1)) contains it.
int64_t cell_holding(int64_t zoomed, int64_t cell_span, int32_t zoom) {
    if (zoom >= 0) return floor_div(shift_down(zoomed, zoom), cell_span);
    // Pixel z covers map [z 2^k, (z + 1) 2^k); the cell whose zoomed edge floor(c span / 2^k)
    // is at or before z is the last c with c span < (z + 1) 2^k.
    return floor_div(shift_up(zoomed + 1, -zoom) - 1, cell_span);
}

// Cells along one axis that a view `extent` pixels long can touch, plus one.
int64_t axis_cells_with_margin(int32_t extent, int32_t tile_extent, int32_t level, int32_t zoom) {
    if (extent <= 0) return 1;
    const int64_t span = level_cell_span(tile_extent, level);
    // (extent - 1) screen pixels after the first, in map pixels, rounded up at a zoom-in.
    const int64_t beyond_first =
        zoom >= 0 ? -shift_down(-int64_t{extent - 1}, zoom) : shift_up(extent - 1, -zoom);
    return std::min<int64_t>((beyond_first + span - 1) / span + 2, SATURATION >> 31);
}

int64_t full_tile_bytes(const TileGeometry& g) {
    return int64_t{g.tile_width} * g.tile_height * 4;
}

bool geometry_has_tiles(const TileGeometry& g) { return g.tile_width > 0 && g.tile_height > 0; }

}  // namespace

int32_t zoomed_extent(int32_t map_extent, int32_t zoom) {
    if (zoom >= 0) return to_int32(shift_up(map_extent, zoom));
    return to_int32(-shift_down(-int64_t{map_extent}, -zoom));   // rounded up
}

int32_t map_of_zoomed(int32_t zoomed, int32_t zoom) { return to_int32(scale_by_zoom(zoomed, -zoom)); }

int32_t zoomed_of_map(int32_t map, int32_t zoom) { return to_int32(scale_by_zoom(map, zoom)); }

int32_t zoom_step_scroll(int32_t scroll, int32_t anchor, int32_t from_zoom, int32_t to_zoom) {
    const int64_t under_anchor = int64_t{scroll} + anchor;
    return to_int32(scale_by_zoom(under_anchor, to_zoom - from_zoom) - anchor);
}

TileSource source_for_zoom(int32_t zoom, int32_t overview_count, int32_t decode_reduction_log2) {
    if (zoom >= 0) return TileSource{0, 0, zoom};
    const int32_t out = -zoom;
    // As far as the decoder reduces, the tileset's own tiles give the sharpest picture (an
    // overview level is the map encoded once more).
    const int32_t decoder_reach = std::clamp(decode_reduction_log2, 0, MAX_DECODE_REDUCTION_LOG2);
    if (out <= decoder_reach) return TileSource{0, out, 0};
    const int32_t level = std::min(out, usable_overview_count(overview_count));
    const int32_t rest = out - level;
    const int32_t reduction = std::min(rest, std::clamp(decode_reduction_log2, 0,
                                                        MAX_DECODE_REDUCTION_LOG2));
    return TileSource{level, reduction, reduction - rest};
}

int32_t source_tile_extent(int32_t tile_extent, const TileSource& source) {
    return to_int32(-shift_down(-int64_t{tile_extent}, source.reduction_log2));
}

int64_t source_tile_bytes(int32_t tile_width, int32_t tile_height, const TileSource& source) {
    return int64_t{source_tile_extent(tile_width, source)} *
           source_tile_extent(tile_height, source) * 4;
}

int32_t level_tile_count(int32_t map_extent, int32_t tile_extent, int32_t level) {
    if (tile_extent <= 0 || map_extent <= 0) return 0;
    const int64_t span = level_cell_span(tile_extent, level);
    return to_int32((int64_t{map_extent} + span - 1) / span);
}

int64_t cell_edge(int32_t index, int32_t tile_extent, int32_t level, int32_t zoom,
                  int32_t scroll) {
    const int64_t first_map_pixel = shift_up(int64_t{index} * tile_extent, level);
    return scale_by_zoom(first_map_pixel, zoom) - scroll;
}

CellRange zoomed_view_cells(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                            int32_t tile_width, int32_t tile_height, int32_t level,
                            int32_t zoom) {
    if (tile_width <= 0 || tile_height <= 0 || width <= 0 || height <= 0) return NO_CELLS;
    const int64_t span_x = level_cell_span(tile_width, level);
    const int64_t span_y = level_cell_span(tile_height, level);
    return CellRange{to_int32(cell_holding(scroll_x, span_x, zoom)),
                     to_int32(cell_holding(scroll_y, span_y, zoom)),
                     to_int32(cell_holding(int64_t{scroll_x} + width - 1, span_x, zoom)),
                     to_int32(cell_holding(int64_t{scroll_y} + height - 1, span_y, zoom))};
}

int64_t screen_cells_with_margin(int32_t width, int32_t height, int32_t tile_width,
                                 int32_t tile_height, int32_t level, int32_t zoom) {
    if (tile_width <= 0 || tile_height <= 0) return 0;
    return multiply_saturating(axis_cells_with_margin(width, tile_width, level, zoom),
                               axis_cells_with_margin(height, tile_height, level, zoom));
}

int64_t cache_budget_bytes(const ZoomInputs& in, int32_t zoom) {
    const TileGeometry& g = in.geometry;
    if (!geometry_has_tiles(g)) return 0;
    const TileSource source = source_for_zoom(zoom, in.overview_count, in.decode_reduction_log2);
    const int64_t configured =
        multiply_saturating(std::max(in.configured_cache, 0), full_tile_bytes(g));
    const int64_t screen = multiply_saturating(
        screen_cells_with_margin(in.view_width, in.view_height, g.tile_width, g.tile_height,
                                 source.level, zoom),
        source_tile_bytes(g.tile_width, g.tile_height, source));
    return std::max(configured, screen);
}

ZoomRange zoom_range(const ZoomInputs& in) {
    const TileGeometry& g = in.geometry;
    if (!geometry_has_tiles(g)) return ZoomRange{ZOOM_ONE_TO_ONE, ZOOM_ONE_TO_ONE,
                                                 ZoomOutLimit::WHOLE_MAP_FITS};
    const int32_t map_width = world_width(g), map_height = world_height(g);
    int32_t closest = ZOOM_CLOSEST;
    const int64_t limit = std::numeric_limits<int32_t>::max();
    while (closest > 0 && (shift_up(map_width, closest) > limit ||
                           shift_up(map_height, closest) > limit))
        --closest;

    // What the cache holds at 1:1 bounds every level: a screen further out may not need more.
    const int64_t holds = cache_budget_bytes(in, ZOOM_ONE_TO_ONE);
    const int32_t deepest = usable_overview_count(in.overview_count) + MAX_DECODE_REDUCTION_LOG2;
    for (int32_t out = 0;; ++out) {
        if (zoomed_extent(map_width, -out) <= in.view_width &&
            zoomed_extent(map_height, -out) <= in.view_height)
            return ZoomRange{closest, -out, ZoomOutLimit::WHOLE_MAP_FITS};
        const int32_t next = -(out + 1);
        if (out + 1 > deepest) return ZoomRange{closest, -out, ZoomOutLimit::NEEDS_OVERVIEWS};
        const TileSource source = source_for_zoom(next, in.overview_count,
                                                  in.decode_reduction_log2);
        // A screen needs no more cells than the level has.
        const int64_t columns = std::min<int64_t>(
            axis_cells_with_margin(in.view_width, g.tile_width, source.level, next),
            level_tile_count(map_width, g.tile_width, source.level));
        const int64_t rows = std::min<int64_t>(
            axis_cells_with_margin(in.view_height, g.tile_height, source.level, next),
            level_tile_count(map_height, g.tile_height, source.level));
        const int64_t tiles = multiply_saturating(columns, rows);
        // A view of more tiny cells than a paint walks one by one is painted in bulk from the
        // cache and requests nothing: the view would stay blank, so it goes no further out.
        const bool tiny_cells =
            cell_edge(1, g.tile_width, source.level, next, 0) < TINY_CELL_PIXELS ||
            cell_edge(1, g.tile_height, source.level, next, 0) < TINY_CELL_PIXELS;
        if (tiles > MAX_TILES_PER_SCREEN ||
            (tiny_cells && tiles > MAX_CELLS_PAINTED_ONE_BY_ONE) ||
            tiles * source_tile_bytes(g.tile_width, g.tile_height, source) > holds)
            return ZoomRange{closest, -out, ZoomOutLimit::CACHE_TOO_SMALL};
    }
}

MapPoint map_point_under(int32_t cx, int32_t cy, int32_t scroll_x, int32_t scroll_y,
                         int32_t zoom) {
    return MapPoint{map_of_zoomed(add_saturating(scroll_x, cx), zoom),
                    map_of_zoomed(add_saturating(scroll_y, cy), zoom)};
}

LabelBox label_text_box(int32_t sx, int32_t sy, int32_t text_width, int32_t text_height) {
    const int64_t left = int64_t{sx} - text_width / 2 - 1;
    return LabelBox{to_int32(left), to_int32(int64_t{sy} - 10),
                    to_int32(left + text_width + 2), to_int32(int64_t{sy} - 8 + text_height)};
}

OpenWorldRect map_area_of_zoomed(const OpenWorldRect& zoomed_area, int32_t zoom) {
    if (zoom == ZOOM_ONE_TO_ONE) return zoomed_area;
    // Zoomed positions of map points are 32-bit: bounds beyond that range select the same
    // points, and kept inside it they stay clear of overflow below.
    const auto bound = [](int64_t value) {
        return std::clamp<int64_t>(value, int64_t{INT32_MIN} - 1, int64_t{INT32_MAX} + 1);
    };
    const int64_t left = bound(zoomed_area.left), top = bound(zoomed_area.top);
    const int64_t right = bound(zoomed_area.right), bottom = bound(zoomed_area.bottom);
    if (zoom > 0) {
        // x * 2^zoom > left  <=>  x > floor(left / 2^zoom);  x * 2^zoom < right  <=>  x < ceil.
        const int32_t shift = std::min(zoom, 32);
        const auto floor_div = [shift](int64_t v) { return v >> shift; };
        const auto ceil_div = [shift](int64_t v) { return -((-v) >> shift); };
        return OpenWorldRect{floor_div(left), floor_div(top), ceil_div(right), ceil_div(bottom)};
    }
    // floor(x / 2^k) > left  <=>  x >= (left + 1) * 2^k;  floor(x / 2^k) < right  <=>  x < right * 2^k.
    const int64_t factor = int64_t{1} << std::min(-zoom, 30);
    return OpenWorldRect{(left + 1) * factor - 1, (top + 1) * factor - 1, right * factor,
                         bottom * factor};
}

PaintPlan plan_zoomed_paint(int32_t scroll_x, int32_t scroll_y, int32_t width, int32_t height,
                            const TileGeometry& geometry, int32_t level, int32_t zoom) {
    if (zoom == ZOOM_ONE_TO_ONE && level == 0)
        return plan_paint(scroll_x, scroll_y, width, height, geometry);
    const auto smaller_cell = [level, zoom](int32_t tile_extent) {
        const int64_t size =
            cell_edge(1, tile_extent, level, zoom, 0) - cell_edge(0, tile_extent, level, zoom, 0);
        return static_cast<int32_t>(std::clamp<int64_t>(size, 1, INT32_MAX));
    };
    const int32_t world_w = world_width(geometry), world_h = world_height(geometry);
    const TileGeometry zoomed{smaller_cell(geometry.tile_width),
                              smaller_cell(geometry.tile_height),
                              level_tile_count(world_w, geometry.tile_width, level),
                              level_tile_count(world_h, geometry.tile_height, level)};
    PaintPlan plan = plan_paint(scroll_x, scroll_y, width, height, zoomed);
    const CellRange exact = zoomed_view_cells(scroll_x, scroll_y, width, height,
                                              geometry.tile_width, geometry.tile_height, level,
                                              zoom);
    if (plan.mode == PaintMode::EVERY_GRID_CELL) {
        plan.cells = exact;
        return plan;
    }
    // Only the grid's own cells: the rest of the client area is among the fills, and the
    // cells are drawn after them.
    plan.cells = CellRange{std::max(exact.first_column, 0), std::max(exact.first_row, 0),
                           std::min(exact.last_column, zoomed.tile_columns - 1),
                           std::min(exact.last_row, zoomed.tile_rows - 1)};
    return plan;
}

bool labels_culled_at(int32_t zoom) { return zoom < ZOOM_ONE_TO_ONE; }

bool LabelCuller::take(const LabelBox& box) {
    if (box.right <= box.left || box.bottom <= box.top) return true;
    auto bucket = [](int32_t v) { return static_cast<int32_t>(shift_down(v, BUCKET_SHIFT)); };
    const int32_t first_x = bucket(box.left), last_x = bucket(box.right - 1);
    const int32_t first_y = bucket(box.top), last_y = bucket(box.bottom - 1);
    auto key = [](int32_t bx, int32_t by) {
        return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(bx)) << 32) |
                                    static_cast<uint32_t>(by));
    };
    for (int32_t by = first_y; by <= last_y; ++by)
        for (int32_t bx = first_x; bx <= last_x; ++bx) {
            const auto found = buckets_.find(key(bx, by));
            if (found == buckets_.end()) continue;
            for (const LabelBox& other : found->second)
                if (box.left < other.right && other.left < box.right && box.top < other.bottom &&
                    other.top < box.bottom)
                    return false;
        }
    for (int32_t by = first_y; by <= last_y; ++by)
        for (int32_t bx = first_x; bx <= last_x; ++bx) buckets_[key(bx, by)].push_back(box);
    return true;
}
