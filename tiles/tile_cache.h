// The cache of decoded tiles (main thread only) and the two queues of pending tile loads
// (shared with the loader thread under queue_lock), with the hand-over message between them.
#pragma once
#include <windows.h>

#include <cstdint>

#include "tiles/tile_list.h"

constexpr UINT WM_TILE_LOADED = WM_USER + 16;   // lParam: the new CachedTile
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

CachedTile* create_cached_tile(int32_t column, int32_t row, int32_t pixel_bytes);
CachedTile* find_cached_tile(int32_t column, int32_t row);
void enqueue_tile_request(const char* path, int32_t column, int32_t row, int priority);
LRESULT on_tile_loaded(CachedTile* tile);
void evict_lru_tile();
void free_cached_tile(CachedTile* tile);
void clear_tile_cache();
// Drops every queued request (a new tileset makes them meaningless).
void clear_tile_requests();
