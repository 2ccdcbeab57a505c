// The view's zoom on the window side: the zoom in force, the commands and the wheel that
// change it, painting a zoomed view cell by cell (magnified or shrunk tiles) and drawing a
// tile that arrives while zoomed. At 1:1 viewport.cpp paints as it always did.
#pragma once
#include <windows.h>

#include <cstdint>

#include "app/zoom_math.h"
#include "tiles/tile_list.h"

// Posted by a zoomed paint that left cells without their tile: the view's missing tiles are
// then requested.
constexpr UINT WM_QUEUE_ZOOMED_TILES = WM_USER + 17;

// The zoom in force: log2 of screen pixels per map pixel (main thread). 1:1 after every
// tileset load.
extern int32_t zoom_level;

// The zoom levels of the open map in a client area of this size, and what they draw from.
ZoomInputs current_zoom_inputs(const RECT& client);
TileSource current_tile_source();
// The map's size on screen at the zoom in force (the scroll range).
int32_t zoomed_world_width();
int32_t zoomed_world_height();
// The cells of the zoom's tile grid the client area shows, and the cache limit in force (in
// tiles of the tileset's size) for a screen at the zoom in force.
CellRange zoomed_cells_in_view(const RECT& client);
int32_t zoomed_cache_limit(const RECT& client);

void paint_zoomed_view(HDC dc, const RECT& client);
// WM_QUEUE_ZOOMED_TILES: requests the tile of every cell of the zoomed view not cached (a tile
// on its way only has its request refreshed), as a 1:1 paint does during the paint itself.
LRESULT on_queue_zoomed_tiles(HWND window);
// After the cells of the zoom's grid (`cells`) are drawn: each one whose own tile is not
// cached yet shows what the cache holds of its spot from other levels and reductions (a
// coarser tile stretched, finer ones shrunk), until its tile arrives and is drawn over it;
// beneath them the window colour, filled here unless the caller has (the 1:1 paint).
enum class EmptyCells { FILLED, TO_FILL };
void draw_stand_ins(HDC dc, const RECT& client, const CellRange& cells, EmptyCells empty);
// A tile that has just arrived: whether its cell touches the client area (an edge on the
// client's edge counts), and drawing it there.
bool zoomed_arrival_in_view(const CachedTile* tile, const RECT& client);
void draw_zoomed_arrival(HDC dc, const CachedTile* tile);

// View menu commands and their keys, and the wheel (one step per notch, around the pointer).
void command_zoom_in(HWND window);
void command_zoom_out(HWND window);
void command_zoom_whole_map(HWND window);
void command_zoom_one_to_one(HWND window);
void on_mouse_wheel(HWND window, WPARAM wparam, LPARAM lparam);
// A tileset was loaded: back to 1:1 with the same map point at the view's top-left corner,
// and the next limit is told again.
void reset_zoom();
// A size change may leave the zoom beyond what the window now offers: steps back inside.
void keep_zoom_in_range(HWND window);
