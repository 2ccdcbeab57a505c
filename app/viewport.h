// The view onto the mosaic: scroll position and step, keyboard, scroll-bar and drag
// navigation, the scroll bars, painting the client area cell by cell, and drawing each tile
// as the loader delivers it.
#pragma once
#include <windows.h>

#include <cstdint>

#include "app/paint_plan.h"
#include "tiles/tile_list.h"

// View position: the world point at the client area's top-left corner (main thread).
extern int32_t scroll_x;
extern int32_t scroll_y;
// Distance of one arrow-key move; 10, or 50 / 200 while Shift / Ctrl was last pressed.
extern int32_t scroll_step;
// Drag state: set between left button down and up; anchor in screen coordinates.
extern int dragging;
extern POINT drag_anchor;

constexpr int32_t SCROLL_STEP_NORMAL = 10;
constexpr int32_t SCROLL_STEP_SHIFT = 50;
constexpr int32_t SCROLL_STEP_CONTROL = 200;

void clamp_scroll(int32_t width, int32_t height);
// Sets both scroll bars; a bar whose range, page and position are what it was last set to
// is left alone.
void update_scroll_bars();
// Makes the next update_scroll_bars set both bars whatever they show.
void forget_shown_scroll_bars();
// Queues the cells a paint would request whose tile is not cached (as a paint would, without
// drawing), so a tileset load starts the loader before its remaining work and the first paint.
void queue_tiles_in_view();
void paint_view(HDC dc, const RECT& client);
// The window colour over the plan's fills: the client area around the cells it draws.
void fill_around_cells(HDC dc, const PaintPlan& plan);
void draw_tile_cell(HDC dc, int32_t column, int32_t row, int32_t x, int32_t y);
// Queues the tile of a visible cell that is not cached, as draw_tile_cell does.
void request_visible_tile(const TileKey& key);

// Message handlers reached from the main window procedure.
void on_size(HWND window);
void on_paint(HWND window);
void on_navigation_key_down(HWND window, WPARAM key);   // arrows, modifiers and the key tail
void on_key_up(WPARAM key);
void on_scroll_request(HWND window, int bar, WPARAM request);
// WM_LBUTTONDOWN; `press` is the message's lParam (the press's client point).
void on_drag_begin(HWND window, LPARAM press);
void on_drag_move(HWND window);
void on_drag_end();
// Another window took the mouse (a dialog opened mid-drag): the drag is over.
void on_capture_lost();
// WM_TILE_LOADED: takes every delivered tile into the cache (lParam null, as the loader
// posts it) or the one tile in lParam, decoded for tileset generation wParam; a tile of
// another tileset is dropped. Accepted tiles in view are blitted at once and the labels drawn
// over them.
LRESULT on_tile_loaded(CachedTile* tile, uint32_t generation);

// The key tail: clamp to the client area, panes, scroll bars, repaint without erasing.
void run_key_tail(HWND window);
