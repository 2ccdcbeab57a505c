// Zooming the main window: the zoom commands and the wheel, painting the zoomed view from
// the tile cache (each cached tile stretched to its cell, nearest neighbour), the stand-ins
// from other levels for cells whose own tile has not come yet, and a tile that arrives while
// zoomed. The arithmetic lives in zoom_math; viewport.cpp keeps 1:1 painting.
#include "app/zoom_view.h"

#include <algorithm>
#include <vector>

#include "app/labels.h"
#include "app/main_window.h"
#include "app/paint_plan.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "tiles/tile_cache.h"

int32_t zoom_level = ZOOM_ONE_TO_ONE;

namespace {

// A WM_QUEUE_ZOOMED_TILES is on its way: a zoomed paint found cells without their tile.
bool zoomed_queue_posted = false;

// Wheel movement not yet turned into a step (a fine-grained wheel sends parts of a notch).
int32_t wheel_remainder = 0;
// The caption has told that the view goes no further out, for this tileset; and it shows
// that note now (the next step puts the title back).
bool zoom_limit_told = false;
bool zoom_note_shown = false;

RECT client_of(HWND window) {
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    return client;
}

TileGeometry open_geometry() {
    return TileGeometry{tileset.tile_width, tileset.tile_height, tileset.tile_columns,
                        tileset.tile_rows};
}

int32_t to_client(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// The client rectangle of one cell of the source's grid.
RECT cell_rect(int32_t column, int32_t row, const TileSource& source) {
    const int32_t w = tileset.tile_width, h = tileset.tile_height;
    return RECT{to_client(cell_edge(column, w, source.level, zoom_level, scroll_x)),
                to_client(cell_edge(row, h, source.level, zoom_level, scroll_y)),
                to_client(cell_edge(column + 1, w, source.level, zoom_level, scroll_x)),
                to_client(cell_edge(row + 1, h, source.level, zoom_level, scroll_y))};
}

bool cell_in_grid(int32_t column, int32_t row, const TileSource& source) {
    return column >= 0 && row >= 0 &&
           column < level_tile_count(world_width(open_geometry()), tileset.tile_width,
                                     source.level) &&
           row < level_tile_count(world_height(open_geometry()), tileset.tile_height,
                                  source.level);
}

// The key of the source's tile for a cell.
TileKey source_key(int32_t column, int32_t row, const TileSource& source) {
    return TileKey{column, row, source.level, source.reduction_log2};
}

// The cells of the source's grid, as the cache and the queues name them.
CellRange with_picture(CellRange cells, const TileSource& source) {
    cells.level = source.level;
    cells.reduction_log2 = source.reduction_log2;
    return cells;
}

// The whole tile into `cell`, magnified or shrunk by dropping or repeating pixels.
void stretch_tile(HDC dc, const CachedTile* tile, const RECT& cell) {
    BITMAPINFOHEADER header = tileset.tile_dib_header;
    header.biWidth = tile->width;
    header.biHeight = -tile->height;
    StretchDIBits(dc, cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, 0, 0,
                  tile->width, tile->height, tile->pixels,
                  reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS, SRCCOPY);
}

// Draws the cell's own tile; false when the cell is in the grid and its tile is not cached
// (draw_stand_ins then fills it and draws what other levels have of it).
bool draw_zoomed_cell(HDC dc, int32_t column, int32_t row, const TileSource& source) {
    const RECT cell = cell_rect(column, row, source);
    if (cell.right <= cell.left || cell.bottom <= cell.top) return true;
    if (cell_in_grid(column, row, source)) {
        CachedTile* tile = find_cached_tile(source_key(column, row, source));
        if (tile == nullptr) return false;
        stretch_tile(dc, tile, cell);
        tile->last_used = GetTickCount();
        return true;
    }
    FillRect(dc, &cell, GetSysColorBrush(COLOR_WINDOW));
    return true;
}

// The tile into `cell` as stretch_tile draws it, but only the part inside `bounds`: a coarse
// tile magnified many times (a whole-map tile standing in at 1:1) would otherwise be
// stretched to thousands of pixels, nearly all of them clipped away. When each tile pixel
// covers a whole square of screen pixels, the part is cut on tile pixels, so it looks the same.
void stretch_tile_within(HDC dc, const CachedTile* tile, const RECT& cell, const RECT& bounds) {
    const int64_t width = int64_t{cell.right} - cell.left, height = int64_t{cell.bottom} - cell.top;
    const int64_t scale = tile->width > 0 ? width / tile->width : 0;
    if (scale <= 1 || width != scale * tile->width || height != scale * tile->height) {
        stretch_tile(dc, tile, cell);
        return;
    }
    // Tile pixels [first, last) along each axis that reach into the bounds.
    const auto first = [&](int32_t edge, int32_t origin) {
        return static_cast<int32_t>(std::max<int64_t>(0, (int64_t{edge} - origin) / scale));
    };
    const auto last = [&](int32_t edge, int32_t origin, int32_t size) {
        return static_cast<int32_t>(
            std::min<int64_t>(size, (int64_t{edge} - origin + scale - 1) / scale));
    };
    const int32_t x0 = first(bounds.left, cell.left), x1 = last(bounds.right, cell.left, tile->width);
    const int32_t y0 = first(bounds.top, cell.top), y1 = last(bounds.bottom, cell.top, tile->height);
    if (x1 <= x0 || y1 <= y0) return;
    // The rows are handed over as a picture of their own, so the source rectangle starts at its
    // first row: where a source rectangle's rows are counted from differs between systems.
    BITMAPINFOHEADER header = tileset.tile_dib_header;
    header.biWidth = tile->width;
    header.biHeight = -(y1 - y0);
    StretchDIBits(dc, static_cast<int>(cell.left + x0 * scale),
                  static_cast<int>(cell.top + y0 * scale), static_cast<int>((x1 - x0) * scale),
                  static_cast<int>((y1 - y0) * scale), x0, 0, x1 - x0, y1 - y0,
                  tile->pixels + static_cast<size_t>(y0) * tile->width * 4,
                  reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS, SRCCOPY);
}

// How many map pixels one pixel of a cached tile stands for, as a power of two: stand-ins
// are drawn coarsest first, so the finest picture of a spot ends on top.
int32_t coarseness(const CachedTile* tile) { return tile->level + tile->reduction_log2; }

// The cells of `cells` (the zoom's own grid, `source`) whose own tile is not cached, as a
// clip region and as flags by cell; false when there are none. Each run of missing cells
// along a row joins the region as one rectangle.
bool find_missing_cells(const CellRange& cells, const TileSource& source, HRGN region,
                        std::vector<char>& missing) {
    const int64_t columns = int64_t{cells.last_column} - cells.first_column + 1;
    const int64_t rows = int64_t{cells.last_row} - cells.first_row + 1;
    if (columns <= 0 || rows <= 0) return false;
    missing.assign(static_cast<size_t>(columns * rows), 0);
    bool any = false;
    for (int32_t row = cells.first_row; row <= cells.last_row; ++row) {
        int32_t run_start = -1;
        for (int32_t column = cells.first_column; column <= cells.last_column + 1; ++column) {
            const bool is_missing = column <= cells.last_column &&
                                    cell_in_grid(column, row, source) &&
                                    find_cached_tile(source_key(column, row, source)) == nullptr;
            if (is_missing) {
                missing[static_cast<size_t>((row - cells.first_row) * columns +
                                            (column - cells.first_column))] = 1;
                if (run_start < 0) run_start = column;
                any = true;
                continue;
            }
            if (run_start < 0) continue;
            const RECT first = cell_rect(run_start, row, source);
            const RECT last = cell_rect(column - 1, row, source);
            const HRGN run = CreateRectRgn(first.left, first.top, last.right, last.bottom);
            CombineRgn(region, region, run, RGN_OR);
            DeleteObject(run);
            run_start = -1;
        }
    }
    return any;
}

// The cells of level `level`'s grid that cell `index` of level `other_level` overlaps, along
// one axis: [first, last].
void overlapped_cells(int32_t index, int32_t other_level, int32_t level, int64_t& first,
                      int64_t& last) {
    if (other_level >= level) {
        const int32_t shift = std::min(other_level - level, 62);
        first = int64_t{index} << shift;
        last = ((int64_t{index} + 1) << shift) - 1;
    } else {
        first = last = int64_t{index} >> std::min(level - other_level, 62);
    }
}

// Whether the tile overlaps a missing cell of `cells` (the source's grid).
bool covers_missing_cell(const CachedTile* tile, const CellRange& cells, const TileSource& source,
                         const std::vector<char>& missing) {
    int64_t first_column, last_column, first_row, last_row;
    overlapped_cells(tile->column, tile->level, source.level, first_column, last_column);
    overlapped_cells(tile->row, tile->level, source.level, first_row, last_row);
    first_column = std::max<int64_t>(first_column, cells.first_column);
    last_column = std::min<int64_t>(last_column, cells.last_column);
    first_row = std::max<int64_t>(first_row, cells.first_row);
    last_row = std::min<int64_t>(last_row, cells.last_row);
    const int64_t columns = int64_t{cells.last_column} - cells.first_column + 1;
    for (int64_t row = first_row; row <= last_row; ++row)
        for (int64_t column = first_column; column <= last_column; ++column)
            if (missing[static_cast<size_t>((row - cells.first_row) * columns +
                                            (column - cells.first_column))])
                return true;
    return false;
}

// A view of too many tiny cells: the cached tiles among them, found with one walk of the cache
// from its tail (the first of two records of a cell is drawn last); nothing is requested.
void draw_cached_zoomed_cells(HDC dc, const CellRange& cells, const TileSource& source) {
    CachedTile* tail = tile_cache;
    while (tail != nullptr && tail->next != nullptr) tail = tail->next;
    const CellRange own = with_picture(cells, source);
    for (CachedTile* tile = tail; tile != nullptr; tile = tile->prev) {
        if (!own.holds_tile(*tile)) continue;
        stretch_tile(dc, tile, cell_rect(tile->column, tile->row, source));
        tile->last_used = GetTickCount();
    }
}

// Once per tileset, when a step out is refused: why the view goes no further.
void tell_zoom_limit(HWND window, ZoomOutLimit limit) {
    if (zoom_limit_told || limit == ZoomOutLimit::WHOLE_MAP_FITS) return;
    zoom_limit_told = true;
    zoom_note_shown = true;
    char caption[sizeof window_title + 100];
    wsprintfA(caption, "%s - %s", window_title,
              limit == ZoomOutLimit::NEEDS_OVERVIEWS
                  ? "as far out as this tileset goes without overview levels"
                  : "as far out as the tile cache holds a screen (Options)");
    SetWindowTextA(window, caption);
}

// Steps to `target` (within the levels the map offers), keeping the map point under client
// point `anchor` in place; then as after a key: clamp, panes, scroll bars, repaint.
void zoom_to(HWND window, int32_t target, POINT anchor) {
    if (!tileset.loaded) return;
    const RECT client = client_of(window);
    const ZoomRange range = zoom_range(current_zoom_inputs(client));
    if (target < range.farthest) tell_zoom_limit(window, range.limit);
    target = std::clamp(target, range.farthest, range.closest);
    if (target == zoom_level) return;
    if (zoom_note_shown) {
        zoom_note_shown = false;
        SetWindowTextA(window, window_title);
    }
    scroll_x = zoom_step_scroll(scroll_x, anchor.x, zoom_level, target);
    scroll_y = zoom_step_scroll(scroll_y, anchor.y, zoom_level, target);
    zoom_level = target;
    clamp_scroll(client.right, client.bottom);
    // Tiles queued for the view before the step that it no longer shows would only delay it.
    drop_requests_outside(zoomed_cells_in_view(client));
    update_status_panes();
    update_scroll_bars();
    InvalidateRect(window, nullptr, FALSE);
}

POINT centre_of(HWND window) {
    const RECT client = client_of(window);
    return POINT{client.right >> 1, client.bottom >> 1};
}

}  // namespace

ZoomInputs current_zoom_inputs(const RECT& client) {
    return ZoomInputs{open_geometry(), client.right, client.bottom, tileset.overview_count,
                      MAX_DECODE_REDUCTION_LOG2, tileset.cache_limit};
}

TileSource current_tile_source() {
    return source_for_zoom(zoom_level, tileset.overview_count, MAX_DECODE_REDUCTION_LOG2);
}

int32_t zoomed_world_width() { return zoomed_extent(world_width(open_geometry()), zoom_level); }

int32_t zoomed_world_height() {
    return zoomed_extent(world_height(open_geometry()), zoom_level);
}

CellRange zoomed_cells_in_view(const RECT& client) {
    const TileSource source = current_tile_source();
    return with_picture(zoomed_view_cells(scroll_x, scroll_y, client.right, client.bottom,
                                          tileset.tile_width, tileset.tile_height, source.level,
                                          zoom_level),
                        source);
}

int32_t zoomed_cache_limit(const RECT& client) {
    const int64_t full_tile = int64_t{tileset.tile_width} * tileset.tile_height * 4;
    if (full_tile <= 0) return tileset.cache_limit;
    const int64_t tiles = cache_budget_bytes(current_zoom_inputs(client), zoom_level) / full_tile;
    return static_cast<int32_t>(std::min<int64_t>(tiles, INT32_MAX));
}

void paint_zoomed_view(HDC dc, const RECT& client) {
    const TileSource source = current_tile_source();
    const PaintPlan plan = plan_zoomed_paint(scroll_x, scroll_y, client.right, client.bottom,
                                             open_geometry(), source.level, zoom_level);
    SetStretchBltMode(dc, COLORONCOLOR);
    fill_around_cells(dc, plan);
    if (plan.mode == PaintMode::MOSAIC_IN_BULK) {
        draw_cached_zoomed_cells(dc, plan.cells, source);
    } else {
        bool all_drawn = true;
        for (int32_t row = plan.cells.first_row; row <= plan.cells.last_row; ++row)
            for (int32_t column = plan.cells.first_column; column <= plan.cells.last_column;
                 ++column)
                all_drawn = draw_zoomed_cell(dc, column, row, source) && all_drawn;
        draw_stand_ins(dc, client, plan.cells, EmptyCells::TO_FILL);
        // A step out can leave thousands of cells to request, each with a look for its file:
        // the picture (with its stand-ins) comes first, the requests right after it.
        if (!all_drawn && !zoomed_queue_posted && main_window != nullptr)
            zoomed_queue_posted =
                PostMessageA(main_window, WM_QUEUE_ZOOMED_TILES, 0, 0) != 0;
    }
    draw_label_overlay(dc, client);
}

LRESULT on_queue_zoomed_tiles(HWND window) {
    zoomed_queue_posted = false;
    if (!tileset.loaded || zoom_level == ZOOM_ONE_TO_ONE) return 0;
    const RECT client = client_of(window);
    const TileSource source = current_tile_source();
    const PaintPlan plan = plan_zoomed_paint(scroll_x, scroll_y, client.right, client.bottom,
                                             open_geometry(), source.level, zoom_level);
    if (plan.mode == PaintMode::MOSAIC_IN_BULK) return 0;   // a paint requests none of them
    for (int32_t row = plan.cells.first_row; row <= plan.cells.last_row; ++row)
        for (int32_t column = plan.cells.first_column; column <= plan.cells.last_column;
             ++column) {
            const TileKey key = source_key(column, row, source);
            if (cell_in_grid(column, row, source) && find_cached_tile(key) == nullptr)
                request_visible_tile(key);
        }
    return 0;
}

void draw_stand_ins(HDC dc, const RECT& client, const CellRange& cells, EmptyCells empty) {
    // At 1:1 the view's own tiles are the level-0 tiles at full size: with nothing else cached
    // (a map never zoomed) there is nothing to stand in, and the cells are filled already.
    if (empty == EmptyCells::FILLED && tile_cache_scaled_count == 0) return;
    const TileSource source = current_tile_source();
    const HRGN missing_region = CreateRectRgn(0, 0, 0, 0);
    std::vector<char> missing;
    if (missing_region == nullptr) return;
    if (!find_missing_cells(cells, source, missing_region, missing)) {
        DeleteObject(missing_region);
        return;
    }
    // One fill for them all: a call per cell costs thousands of calls at 1:8.
    if (empty == EmptyCells::TO_FILL)
        FillRgn(dc, missing_region, GetSysColorBrush(COLOR_WINDOW));
    // Every cached tile of another picture over a missing cell, coarsest first.
    std::vector<std::pair<const CachedTile*, RECT>> stand_ins;
    for (CachedTile* tile = tile_cache; tile != nullptr; tile = tile->next) {
        if (same_picture(*tile, source_key(0, 0, source))) continue;
        if (!covers_missing_cell(tile, cells, source, missing)) continue;
        const TileSource picture = {tile->level, tile->reduction_log2, 0};
        const RECT rect = cell_rect(tile->column, tile->row, picture);
        if (rect.right <= 0 || rect.bottom <= 0 || rect.left >= client.right ||
            rect.top >= client.bottom)
            continue;
        stand_ins.emplace_back(tile, rect);
        tile->last_used = GetTickCount();
    }
    std::stable_sort(stand_ins.begin(), stand_ins.end(), [](const auto& a, const auto& b) {
        return coarseness(a.first) > coarseness(b.first);
    });
    if (!stand_ins.empty()) {
        const int saved = SaveDC(dc);
        ExtSelectClipRgn(dc, missing_region, RGN_AND);
        SetStretchBltMode(dc, COLORONCOLOR);
        RECT bounds;
        GetRgnBox(missing_region, &bounds);
        IntersectRect(&bounds, &bounds, &client);
        for (const auto& stand_in : stand_ins)
            stretch_tile_within(dc, stand_in.first, stand_in.second, bounds);
        RestoreDC(dc, saved);
    }
    DeleteObject(missing_region);
}

bool zoomed_arrival_in_view(const CachedTile* tile, const RECT& client) {
    const TileSource source = current_tile_source();
    if (!same_picture(*tile, source_key(0, 0, source))) return false;
    const RECT cell = cell_rect(tile->column, tile->row, source);
    return cell.left <= client.right && cell.right >= 0 && cell.top <= client.bottom &&
           cell.bottom >= 0;
}

void draw_zoomed_arrival(HDC dc, const CachedTile* tile) {
    SetStretchBltMode(dc, COLORONCOLOR);
    stretch_tile(dc, tile, cell_rect(tile->column, tile->row, current_tile_source()));
}

void command_zoom_in(HWND window) { zoom_to(window, zoom_level + 1, centre_of(window)); }

void command_zoom_out(HWND window) { zoom_to(window, zoom_level - 1, centre_of(window)); }

void command_zoom_whole_map(HWND window) { zoom_to(window, INT32_MIN / 2, centre_of(window)); }

void command_zoom_one_to_one(HWND window) {
    zoom_to(window, ZOOM_ONE_TO_ONE, centre_of(window));
}

void on_mouse_wheel(HWND window, WPARAM wparam, LPARAM lparam) {
    wheel_remainder += GET_WHEEL_DELTA_WPARAM(wparam);
    const int32_t steps = wheel_remainder / WHEEL_DELTA;
    if (steps == 0) return;
    wheel_remainder -= steps * WHEEL_DELTA;
    // The pointer, in screen coordinates as the message carries it.
    POINT pointer = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    ScreenToClient(window, &pointer);
    zoom_to(window, zoom_level + steps, pointer);
}

void reset_zoom() {
    // The view keeps its place on the map: the map point at its top-left corner.
    scroll_x = map_of_zoomed(scroll_x, zoom_level);
    scroll_y = map_of_zoomed(scroll_y, zoom_level);
    zoom_level = ZOOM_ONE_TO_ONE;
    wheel_remainder = 0;
    zoom_limit_told = false;
    if (zoom_note_shown && main_window != nullptr) SetWindowTextA(main_window, window_title);
    zoom_note_shown = false;
}

void keep_zoom_in_range(HWND window) {
    if (zoom_level == ZOOM_ONE_TO_ONE || !tileset.loaded) return;
    const ZoomRange range = zoom_range(current_zoom_inputs(client_of(window)));
    if (zoom_level < range.farthest || zoom_level > range.closest)
        zoom_to(window, std::clamp(zoom_level, range.farthest, range.closest), centre_of(window));
}
