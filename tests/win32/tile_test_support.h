// Helpers for the tile cache and loader tests: the generated JPEG tiles, waiting on
// conditions, holding the loader in its hand-over, reference decodes and off-screen painting.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tiles/tile_list.h"

constexpr DWORD TILE_WAIT_MS = 30000;   // generous: a slow machine under Wine still makes it

// A Windows path to a file or directory of the tiles that make-tile-data made.
std::string tile_data(const std::string& relative);

// Writes a tileset file whose tiles lie in `tile_dir` and returns its path.
std::string write_tileset_at(const std::string& name, int tile_width, int tile_height,
                             int columns, int rows, const std::string& tile_dir);

// Pumps this thread's messages until `condition` holds; false after `timeout_ms`.
bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms = TILE_WAIT_MS);

// Holding the loaders: this thread keeps the queue lock (which it may enter again itself), so
// no loader can take a request or deliver a tile until release_loader. Each call waits,
// dispatching nothing, for a moment when a loader has something on its way, and returns
// holding the lock; false (lock not held) after the time-out.
// - hold_loader_with_tile_on_its_way: the tile of (column, row) in flight or delivered.
void hold_loader();   // at once, whatever the loader is doing
bool hold_loader_with_tile_on_its_way(int32_t column, int32_t row);
void release_loader();

// The loader's decode gate (loader_decode_gate): while it is closed, a loader that has taken a
// request waits there before reading the tile file, so that request stays in flight and every
// later one stays queued for as long as the test wants, however fast or slow the loader runs.
// close_decode_gate: the next request taken stops at the gate.
// wait_for_loader_at_gate: true once a loader waits there; false after TILE_WAIT_MS.
// open_decode_gate: lets every loader through and takes the hook away (safe to repeat).
// A loader still waits at most a few times TILE_WAIT_MS, should a failing test never open it.
void close_decode_gate();
bool wait_for_loader_at_gate();
void open_decode_gate();

// The (column, row) of every queued request, from the head, read under queue_lock.
std::vector<std::pair<int32_t, int32_t>> queued_tiles(TileRequest* const& head);
// The records in the cache for (column, row).
int cache_records_at(int32_t column, int32_t row);
// True when a request has signalled the loaders since the last call; takes pending signals off.
bool take_wake_signal();

// A decode with the decoder alone: every delivered scanline, back to back.
struct ReferenceImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;
    int32_t bytes_per_pixel = 0;
    int32_t rows = 0;                 // scanlines delivered
    std::vector<uint8_t> scanlines;   // rows * width * bytes_per_pixel
    const uint8_t* pixel(int32_t x, int32_t y) const {
        return scanlines.data() + (static_cast<size_t>(y) * width + x) * bytes_per_pixel;
    }
};
ReferenceImage decode_reference(const std::string& path);

// Runs decode_tile on `path` for a tile of the given size, as the loader would; the tile, or
// null when decode_tile produced none. The caller frees it with free_cached_tile.
CachedTile* decode_tile_file(const std::string& path, int32_t tile_width, int32_t tile_height,
                             uint32_t last_requested = 1234);

// Byte offset of pixel (x, y) in a tile of `tile_width` pixels.
inline size_t tile_offset(int32_t tile_width, int32_t x, int32_t y) {
    return (static_cast<size_t>(y) * tile_width + x) * 4;
}

// 0x00RRGGBB of a tile pixel, and of a window pixel read with GetPixel.
uint32_t tile_pixel(const CachedTile* tile, int32_t tile_width, int32_t x, int32_t y);
uint32_t window_pixel(int x, int y);
// True when every channel of the two colours differs by at most `tolerance`.
bool colours_near(uint32_t a, uint32_t b, int tolerance);
std::string colour_text(uint32_t colour);
