// Navigation and painting of the main window's client area, and drawing a tile the loader
// delivers. The arithmetic lives in view_math; this file reads the client rectangle, the
// cursor and the scroll bars and talks to GDI and the tile cache.
#include "app/viewport.h"

#include <windowsx.h>

#include "app/labels.h"
#include "app/main_window.h"
#include "app/paint_plan.h"
#include "app/tileset.h"
#include "app/view_math.h"
#include "app/wide_text.h"
#include "app/zoom_view.h"
#include "tiles/tile_cache.h"

int32_t scroll_x = 0;
int32_t scroll_y = 0;
int32_t scroll_step = SCROLL_STEP_NORMAL;
int dragging = 0;
POINT drag_anchor = {0, 0};

namespace {

// The cursor clip in force before the drag began, put back when it ends.
RECT clip_before_drag = {0, 0, 0, 0};
bool drag_clip_held = false;
DragTrack drag_track = {0, 0, 0, 0};
DragMeasure drag_measure = DragMeasure::FROM_ANCHOR;

// For the drag the cursor is confined to the virtual screen less its last column and row,
// and the result decides how cursor samples are measured. On Windows the clip changes nothing
// the user can notice (the cursor sits at the anchor between moves), and each sample is
// measured from the anchor. Under Wine a clip smaller than the screen makes the X11 driver
// report the hand's motion as movement from wherever the cursor is, warp included, as Windows
// does. A Wine that cannot confine the cursor (its X11 driver needs XInput2) takes the clip
// back at once; it reports positions the X pointer had before a warp landed, and under a
// virtual desktop a move a second time, so samples are then measured from the last one seen.
void confine_cursor_for_drag() {
    drag_measure = DragMeasure::FROM_LAST_SEEN;
    if (!drag_clip_held && !GetClipCursor(&clip_before_drag)) return;
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const RECT screen_less_edge = {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1,
                                   top + GetSystemMetrics(SM_CYVIRTUALSCREEN) - 1};
    drag_clip_held = ClipCursor(&screen_less_edge) != 0 || drag_clip_held;
    RECT clip_now;
    if (GetClipCursor(&clip_now) && EqualRect(&clip_now, &screen_less_edge))
        drag_measure = DragMeasure::FROM_ANCHOR;
}

void release_cursor_after_drag() {
    if (!drag_clip_held) return;
    drag_clip_held = false;
    ClipCursor(&clip_before_drag);
}

TileGeometry current_geometry() {
    return TileGeometry{tileset.tile_width, tileset.tile_height, tileset.tile_columns,
                        tileset.tile_rows};
}

RECT client_rect_of(HWND window) {
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    return client;
}

// The cells the client area shows now, and the cache limit in force for its size.
CellRange cells_in_view(const RECT& client) {
    if (zoom_level != ZOOM_ONE_TO_ONE) return zoomed_cells_in_view(client);
    return view_cells(scroll_x, scroll_y, client.right, client.bottom, tileset.tile_width,
                      tileset.tile_height);
}

int32_t limit_in_force(const RECT& client) {
    if (zoom_level != ZOOM_ONE_TO_ONE) return zoomed_cache_limit(client);
    return cache_limit_in_force(tileset.cache_limit, client.right, client.bottom,
                                tileset.tile_width, tileset.tile_height);
}

// True when any of the tile lies in the client area (an edge on the client's edge counts);
// then (x, y) is its top-left client point.
bool arrival_in_view(const CachedTile* tile, const RECT& client, int& x, int& y) {
    const int64_t left = int64_t{tile->column} * tileset.tile_width - scroll_x;
    const int64_t top = int64_t{tile->row} * tileset.tile_height - scroll_y;
    if (left > client.right || left < -tileset.tile_width || top > client.bottom ||
        top < -tileset.tile_height)
        return false;
    x = static_cast<int>(left);
    y = static_cast<int>(top);
    return true;
}

// Caches each arrival of the list (linked by next) and blits those in view at their place,
// each before the next arrival can evict it; then draws the labels over them once.
void take_arrivals(CachedTile* arrivals, uint32_t generation) {
    HWND window = main_window;
    const RECT client = client_rect_of(window);
    const CellRange in_view = cells_in_view(client);
    const int32_t limit = limit_in_force(client);
    HDC dc = nullptr;
    while (arrivals != nullptr) {
        CachedTile* tile = arrivals;
        arrivals = arrivals->next;
        int x = 0, y = 0;
        if (!cache_arrived_tile(tile, generation, limit, in_view)) continue;
        if (zoom_level != ZOOM_ONE_TO_ONE || !same_picture(*tile, TileKey{})) {
            if (!zoomed_arrival_in_view(tile, client)) continue;
            if (dc == nullptr) dc = GetDC(window);
            draw_zoomed_arrival(dc, tile);
            tile->last_used = GetTickCount();
            continue;
        }
        if (!arrival_in_view(tile, client, x, y)) continue;
        if (dc == nullptr) dc = GetDC(window);
        SetDIBitsToDevice(dc, x, y, tileset.tile_width, tileset.tile_height, 0, 0, 0,
                          tileset.tile_height, tile->pixels,
                          reinterpret_cast<const BITMAPINFO*>(&tileset.tile_dib_header),
                          DIB_RGB_COLORS);
        tile->last_used = GetTickCount();
    }
    if (dc == nullptr) return;
    draw_label_overlay(dc, client);
    ReleaseDC(window, dc);
}

// The folder of a level's tiles: the tileset's own, or an overview level's; null for a level
// the tileset does not have.
const char* level_tile_dir(int32_t level) {
    if (level == 0) return tileset.tile_dir;
    if (level < 0 || level > tileset.overview_count ||
        static_cast<size_t>(level) > tileset.overview_dirs.size())
        return nullptr;
    return tileset.overview_dirs[static_cast<size_t>(level) - 1].c_str();
}

// Queues a visible cell whose tile is not cached, if its file exists; a tile already on its
// way is not asked for again (a waiting request only has its tick refreshed), and its file is
// not looked up.
void request_tile(const TileKey& key) {
    if (tile_already_requested(key)) return;
    const char* dir = level_tile_dir(key.level);
    char path[TILE_PATH_CAPACITY];
    if (dir != nullptr && format_tile_path(path, sizeof path, dir, key.row, key.column) &&
        GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        enqueue_tile_request(path, key, TILE_PRIORITY_HIGH);
}

void request_tile(int32_t column, int32_t row) { request_tile(TileKey{column, row}); }

// What update_scroll_bars last set on a window, so that an update changing nothing it shows
// is skipped: each SetScrollInfo costs a redraw of the bar.
struct ShownScrollBar {
    HWND window;
    int max;
    UINT page;
    int position;
};
ShownScrollBar shown_bars[2] = {{nullptr, 0, 0, 0}, {nullptr, 0, 0, 0}};

void set_scroll_bar(int bar, int max, UINT page, int position) {
    ShownScrollBar& shown = shown_bars[bar == SB_HORZ ? 0 : 1];
    if (shown.window == main_window && shown.max == max && shown.page == page &&
        shown.position == position)
        return;
    SCROLLINFO info;
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    info.nMin = 0;
    info.nMax = max;
    info.nPage = page;
    info.nPos = position;
    info.nTrackPos = 0;
    SetScrollInfo(main_window, bar, &info, TRUE);
    shown = ShownScrollBar{main_window, max, page, position};
}

// Blits the cached tile of (column, row) with its top-left corner at client (x, y); false
// when the tile is not cached.
bool blit_cached_tile(HDC dc, int32_t column, int32_t row, int32_t x, int32_t y) {
    CachedTile* tile = find_cached_tile(column, row);
    if (tile == nullptr) return false;
    SetDIBitsToDevice(dc, x, y, tileset.tile_width, tileset.tile_height, 0, 0, 0,
                      tileset.tile_height, tile->pixels,
                      reinterpret_cast<const BITMAPINFO*>(&tileset.tile_dib_header),
                      DIB_RGB_COLORS);
    tile->last_used = GetTickCount();
    return true;
}

// Fills the empty cells of one row from client x `left` to `right` with the window colour.
void fill_empty_cells(HDC dc, int64_t left, int32_t top, int64_t right) {
    const RECT cells = {static_cast<LONG>(left), top, static_cast<LONG>(right),
                        top + tileset.tile_height};
    FillRect(dc, &cells, GetSysColorBrush(COLOR_WINDOW));
}

// The plan's cells one by one: a cached tile is blitted, a missing one requested; each run of
// empty cells along a row is filled with one call.
void draw_cells(HDC dc, const PaintPlan& plan) {
    for (int32_t row = plan.cells.first_row; row <= plan.cells.last_row; ++row) {
        const int32_t y = static_cast<int32_t>(cell_top(plan, row, tileset.tile_height));
        int64_t empty_from = -1;
        bool in_empty_run = false;
        int64_t x = cell_left(plan, plan.cells.first_column, tileset.tile_width);
        for (int32_t column = plan.cells.first_column; column <= plan.cells.last_column;
             ++column, x += tileset.tile_width) {
            if (blit_cached_tile(dc, column, row, static_cast<int32_t>(x), y)) {
                if (in_empty_run) fill_empty_cells(dc, empty_from, y, x);
                in_empty_run = false;
                continue;
            }
            request_tile(column, row);
            if (!in_empty_run) empty_from = x;
            in_empty_run = true;
        }
        if (in_empty_run) fill_empty_cells(dc, empty_from, y, x);
    }
}

// A view of too many cells: the cached tiles among them, found with one walk of the cache,
// from its tail so that the first of any two records of a cell is drawn last.
void draw_cached_cells(HDC dc, const PaintPlan& plan) {
    CachedTile* tail = tile_cache;
    while (tail != nullptr && tail->next != nullptr) tail = tail->next;
    for (CachedTile* tile = tail; tile != nullptr; tile = tile->prev) {
        if (!plan.cells.holds_tile(*tile)) continue;   // level-0 tiles at full size only
        SetDIBitsToDevice(dc, static_cast<int32_t>(cell_left(plan, tile->column, tileset.tile_width)),
                          static_cast<int32_t>(cell_top(plan, tile->row, tileset.tile_height)),
                          tileset.tile_width, tileset.tile_height, 0, 0, 0, tileset.tile_height,
                          tile->pixels,
                          reinterpret_cast<const BITMAPINFO*>(&tileset.tile_dib_header),
                          DIB_RGB_COLORS);
        tile->last_used = GetTickCount();
    }
}

}  // namespace

void clamp_scroll(int32_t width, int32_t height) {
    scroll_x = clamp_scroll_axis(scroll_x, zoomed_world_width(), width);
    scroll_y = clamp_scroll_axis(scroll_y, zoomed_world_height(), height);
}

void request_visible_tile(const TileKey& key) { request_tile(key); }

void update_scroll_bars() {
    const RECT client = client_rect_of(main_window);
    set_scroll_bar(SB_HORZ, zoomed_world_width(), static_cast<UINT>(client.right), scroll_x);
    set_scroll_bar(SB_VERT, zoomed_world_height(), static_cast<UINT>(client.bottom), scroll_y);
}

void forget_shown_scroll_bars() {
    shown_bars[0].window = nullptr;
    shown_bars[1].window = nullptr;
}

void queue_tiles_in_view() {
    if (!tileset.loaded) return;
    const RECT client = client_rect_of(main_window);
    const PaintPlan plan = plan_paint(scroll_x, scroll_y, client.right, client.bottom,
                                      current_geometry());
    if (plan.mode == PaintMode::MOSAIC_IN_BULK) return;   // a paint requests none of them
    const CellRange& cells = plan.cells;
    for (int32_t row = cells.first_row; row <= cells.last_row; ++row)
        for (int32_t column = cells.first_column; column <= cells.last_column; ++column)
            if (find_cached_tile(column, row) == nullptr) request_tile(column, row);
}

void run_key_tail(HWND window) {
    const RECT client = client_rect_of(window);
    clamp_scroll(client.right, client.bottom);
    update_status_panes();
    update_scroll_bars();
    InvalidateRect(window, nullptr, FALSE);
}

void on_size(HWND window) {
    keep_zoom_in_range(window);
    const RECT client = client_rect_of(window);
    clamp_scroll(client.right, client.bottom);
    update_status_panes();
    update_scroll_bars();
}

void on_paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const RECT client = client_rect_of(window);
    paint_view(dc, client);
    EndPaint(window, &paint);
}

void on_navigation_key_down(HWND window, WPARAM key) {
    switch (key) {
    case VK_SHIFT: scroll_step = SCROLL_STEP_SHIFT; return;
    case VK_CONTROL: scroll_step = SCROLL_STEP_CONTROL; return;
    case VK_LEFT: scroll_x = add_saturating(scroll_x, -scroll_step); break;
    case VK_RIGHT: scroll_x = add_saturating(scroll_x, scroll_step); break;
    case VK_UP: scroll_y = add_saturating(scroll_y, -scroll_step); break;
    case VK_DOWN: scroll_y = add_saturating(scroll_y, scroll_step); break;
    default: break;
    }
    run_key_tail(window);
}

void on_key_up(WPARAM key) {
    if (key == VK_SHIFT || key == VK_CONTROL) scroll_step = SCROLL_STEP_NORMAL;
}

void on_scroll_request(HWND window, int bar, WPARAM request) {
    const RECT client = client_rect_of(window);
    const bool horizontal = bar == SB_HORZ;
    int32_t& position = horizontal ? scroll_x : scroll_y;
    const int32_t world = horizontal ? zoomed_world_width() : zoomed_world_height();
    const int32_t view = horizontal ? client.right : client.bottom;
    const int code = LOWORD(request);

    int32_t track_position = 0;
    if (code == SCROLL_THUMB_TRACK) {
        SCROLLINFO info;
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
        GetScrollInfo(window, bar, &info);
        track_position = info.nTrackPos;
    }
    position = scroll_request_target(code, position, track_position, world, view);
    position = clamp_scroll_axis(position, world, view);
    // Dragging the thumb moves it on screen by itself: set the bar again whatever it held.
    forget_shown_scroll_bars();
    update_status_panes();
    update_scroll_bars();
    InvalidateRect(window, nullptr, FALSE);
}

void on_drag_begin(HWND window, LPARAM press) {
    GetCursorPos(&drag_anchor);
    drag_track = begin_drag_track(drag_anchor.x, drag_anchor.y);
    dragging = 1;
    SetCapture(window);
    confine_cursor_for_drag();
    // A busy program may read the cursor well after the press: the hand's moves since then
    // belong to the drag and move the view at once.
    POINT press_point = {GET_X_LPARAM(press), GET_Y_LPARAM(press)};
    ClientToScreen(window, &press_point);
    const DragStep early =
        drag_motion_before_begin(press_point.x, press_point.y, drag_anchor.x, drag_anchor.y);
    if (early.dx == 0 && early.dy == 0) return;
    scroll_x = add_saturating(scroll_x, -early.dx);
    scroll_y = add_saturating(scroll_y, -early.dy);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

void on_drag_move(HWND window) {
    POINT cursor;
    GetCursorPos(&cursor);
    const DragStep step = track_drag_move(drag_track, cursor.x, cursor.y, drag_measure);
    // The warp's own move, or none at all. Warping to where the cursor already is would not
    // be free: under Wine every SetCursorPos posts another mouse move, and the drag would
    // answer each with the next warp for as long as the button is held.
    if (!step.warp) return;
    scroll_x = add_saturating(scroll_x, -step.dx);
    scroll_y = add_saturating(scroll_y, -step.dy);
    SetCursorPos(drag_anchor.x, drag_anchor.y);
    if (step.dx == 0 && step.dy == 0) return;
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);   // repaint before the next mouse message
}

void on_drag_end() {
    dragging = 0;
    release_cursor_after_drag();
    ReleaseCapture();
}

void on_capture_lost() {
    dragging = 0;
    release_cursor_after_drag();
}

void paint_view(HDC dc, const RECT& client) {
    // Tiles delivered meanwhile are taken first, as their message would, so the cells below
    // find them in the cache (the paint may cover less than the whole window).
    take_arrivals(take_delivered_tiles(), tile_generation);
    if (!tileset.loaded) {
        RECT text_rect = client;
        DrawTextA(dc, "No tileset loaded", 17, &text_rect, DT_CENTER);
        return;
    }
    if (zoom_level != ZOOM_ONE_TO_ONE) {
        paint_zoomed_view(dc, client);
        return;
    }
    const PaintPlan plan = plan_paint(scroll_x, scroll_y, client.right, client.bottom,
                                      current_geometry());
    fill_around_cells(dc, plan);
    if (plan.mode == PaintMode::MOSAIC_IN_BULK) {
        draw_cached_cells(dc, plan);
    } else {
        draw_cells(dc, plan);
        // After a step in from a zoomed-out view.
        draw_stand_ins(dc, client, plan.cells, EmptyCells::FILLED);
    }
    draw_label_overlay(dc, client);
}

void fill_around_cells(HDC dc, const PaintPlan& plan) {
    const HBRUSH window_brush = GetSysColorBrush(COLOR_WINDOW);
    for (int i = 0; i < plan.fill_count; ++i) {
        const RECT area = {plan.fills[i].left, plan.fills[i].top, plan.fills[i].right,
                           plan.fills[i].bottom};
        FillRect(dc, &area, window_brush);
    }
}

void draw_tile_cell(HDC dc, int32_t column, int32_t row, int32_t x, int32_t y) {
    if (blit_cached_tile(dc, column, row, x, y)) return;
    request_tile(column, row);
    fill_empty_cells(dc, x, y, x + tileset.tile_width);
}

LRESULT on_tile_loaded(CachedTile* tile, uint32_t generation) {
    if (tile != nullptr) {
        tile->next = nullptr;
        take_arrivals(tile, generation);
    } else {
        take_arrivals(take_delivered_tiles(), tile_generation);
    }
    return 0;
}
