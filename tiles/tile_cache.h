// The cache of decoded tiles (main thread only) and the two queues of pending tile loads
// (shared with the loader thread under queue_lock), with the hand-over message between them.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "tiles/tile_list.h"

// wParam: the tileset generation the tile was decoded for; lParam: the new CachedTile.
constexpr UINT WM_TILE_LOADED = WM_USER + 16;
constexpr int TILE_PRIORITY_HIGH = 1;
constexpr int TILE_PRIORITY_NORMAL = 2;
constexpr size_t TILE_PATH_CAPACITY = 272;

// Cache: newest arrival at the head; main thread only, so no lock.
extern CachedTile* tile_cache;
extern int32_t tile_cache_count;

// Queues, one per priority, newest first. queue_lock guards both heads, every link and every
// last_requested of a queued request; hold it only for a walk, a push or a pop.
extern TileRequest* high_queue;
extern TileRequest* normal_queue;
extern CRITICAL_SECTION queue_lock;
// Auto-reset; set after every request found or added, so the loader wakes at once.
extern HANDLE loader_wake_event;

// One generation per tileset load, and the tile size of that tileset. Written by the main
// thread under queue_lock (clear_tile_requests); the loader copies all three into the request
// it takes, under the same lock, so a decode always knows which tileset it belongs to.
extern uint32_t tile_generation;
extern int32_t generation_tile_width;
extern int32_t generation_tile_height;

CachedTile* create_cached_tile(int32_t column, int32_t row, int32_t pixel_bytes);
CachedTile* find_cached_tile(int32_t column, int32_t row);
void enqueue_tile_request(const char* path, int32_t column, int32_t row, int priority);
// The tile that the loader is handing over with WM_TILE_LOADED; cache_arrived_tile clears it
// to take ownership, so a hand-over that never reaches the window is detected by the loader.
extern std::atomic<CachedTile*> tile_in_hand_over;

// Takes ownership of `tile` as it arrives (never null): puts it at the head of the cache,
// evicts one least recently used tile if the cache then holds more than `cache_limit`, and
// returns true. A tile decoded for another tileset generation or another tile size is freed
// instead, and false returned. Drawing the arrival is left to the caller.
bool cache_arrived_tile(CachedTile* tile, uint32_t generation, int32_t cache_limit);
void evict_lru_tile();
// Unlinks the record from its neighbours and frees it; its pixel buffer may be kept for a
// later tile of the same size (create_cached_tile clears it again).
void free_cached_tile(CachedTile* tile);
void clear_tile_cache();
// Starts a new tileset generation, called when a tileset of this tile size is loaded: frees
// every queued request, records the tile size and bumps tile_generation, so that a decode
// still in flight for the earlier tileset is dropped when it arrives.
void clear_tile_requests(int32_t tile_width, int32_t tile_height);
