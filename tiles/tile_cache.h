// The cache of decoded tiles (main thread only) and the two queues of pending tile loads
// (shared with the loader thread under queue_lock), with the hand-over message between them.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "tiles/tile_list.h"

// Posted by the loader (wParam and lParam 0) when tiles wait in the delivered list. Sent with
// lParam a CachedTile and wParam the tileset generation it was decoded for, it hands that one
// tile over directly.
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
// Auto-reset; set after a request is found or added while the loader may be asleep, so it
// wakes at once.
extern HANDLE loader_wake_event;
// Written by the loader under queue_lock each time it takes a request: true when it found
// both queues empty and so may wait on loader_wake_event next. While it is false the loader
// goes on to the next request by itself, and a new request needs no SetEvent (a call into
// the system that the painter would otherwise make for every cell).
extern bool loader_may_sleep;

// One generation per tileset load, and the tile size of that tileset. Written by the main
// thread under queue_lock (clear_tile_requests); the loader copies all three into the request
// it takes, under the same lock, so a decode always knows which tileset it belongs to.
extern uint32_t tile_generation;
extern int32_t generation_tile_width;
extern int32_t generation_tile_height;

// A new record with an uncleared pixel buffer of `pixel_bytes` (the decode fills it).
CachedTile* create_cached_tile(int32_t column, int32_t row, int32_t pixel_bytes);
CachedTile* find_cached_tile(int32_t column, int32_t row);
void enqueue_tile_request(const char* path, int32_t column, int32_t row, int priority);
// True when the tile of (column, row) is on its way: a request waits in a queue (its tick is
// then refreshed and the loader woken), or the loader is decoding it for the current tileset,
// or it is delivered and not yet cached. The painter asks this before it looks for the
// tile's file, so a tile is never queued twice.
bool tile_already_requested(int32_t column, int32_t row);

// The request the loader is working on, from the moment it takes it until it has delivered
// its tile or given up; under queue_lock.
extern const TileRequest* request_in_flight;

// Tile records made and not yet freed, wherever they are (loader, delivered, cache).
extern std::atomic<int32_t> tiles_alive;

// The hand-over from the loader to the window: finished tiles wait in the delivered list,
// oldest first, under queue_lock. deliver_tile (loader) appends `tile`, or frees it when it
// was decoded for an earlier generation; it returns true when the window must be told now
// (should_announce in tile_list.h), which the caller does with a posted WM_TILE_LOADED.
// announce_delivered_tiles_locked is the same decision for a loader about to run out of work,
// taken under queue_lock. take_delivered_tiles (main thread) empties the list and returns its
// head, linked by `next`; the caller then owns those tiles.
bool deliver_tile(CachedTile* tile, uint32_t generation);
bool announce_delivered_tiles_locked(bool queues_empty);
CachedTile* take_delivered_tiles();
// For tests: tiles in the delivered list now; and whether the loader is decoding the tile of
// (column, row) for the current tileset or has delivered it.
int32_t count_delivered_tiles();
bool tile_on_its_way(int32_t column, int32_t row);
// For tests: pixel buffers kept for later tiles.
int32_t count_spare_buffers();
// Frees every tile of a list linked by `next`.
void free_tile_list(CachedTile* head);

// Takes ownership of `tile` as it arrives (never null): puts it at the head of the cache,
// evicts one least recently used tile outside `in_view` if the cache then holds more than
// `cache_limit`, and returns true. A tile decoded for another tileset generation or another
// tile size is freed instead, and false returned. Drawing the arrival is left to the caller.
bool cache_arrived_tile(CachedTile* tile, uint32_t generation, int32_t cache_limit,
                        const CellRange& in_view);
void evict_lru_tile(const CellRange& in_view);
// Unlinks the record from its neighbours and frees it; its pixel buffer may be kept for a
// later tile of the same size (whose decode overwrites or clears every byte of it).
void free_cached_tile(CachedTile* tile);
void clear_tile_cache();
// Starts a new tileset generation, called when a tileset of this tile size is loaded: frees
// every queued request and every delivered tile, records the tile size and bumps
// tile_generation, so that a decode still in flight for the earlier tileset is dropped when
// it is handed over.
void clear_tile_requests(int32_t tile_width, int32_t tile_height);
