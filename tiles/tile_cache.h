// The cache of decoded tiles (main thread only), the two queues of pending tile loads and the
// loaders' side of them: taking requests, the requests in flight, the hand-over of finished
// tiles and the wake-up of idle loaders, all under the queue lock (tile_platform.h).
// Platform-free: the product runs it on Win32, the native tests on the standard library.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "tiles/tile_list.h"

// Posted by a loader (wParam and lParam 0) when tiles wait in the delivered list. Sent with
// lParam a CachedTile and wParam the tileset generation it was decoded for, it hands that one
// tile over directly. (WM_USER + 16.)
constexpr uint32_t WM_TILE_LOADED = 0x0400 + 16;
constexpr int TILE_PRIORITY_HIGH = 1;
constexpr int TILE_PRIORITY_NORMAL = 2;
constexpr size_t TILE_PATH_CAPACITY = 4 * 272;   // UTF-8

// Loader threads at most, whatever the processor count.
constexpr int32_t MAX_TILE_LOADERS = 8;

// The 32-bit address space: what the loaders hold besides the cache. Each loader keeps its
// decoder object (about 61 KiB in the 32-bit build), the pool memory its last decode released
// (at most JPEG_KEPT_BYTES_MAX, 2 MiB) and a file buffer trimmed back to 1 MiB after each
// tile: about 3.1 MiB a loader, 25 MiB for 8. While decoding, a loader also holds its tile,
// the decode's live pool memory and the tile file (at most 16 MiB, MAX_WHOLE_TILE_FILE_BYTES).
// A decode's share, without the file, is reckoned at DECODE_BYTES_PER_TILE_BYTE times the
// tile's pixel bytes (its tile, and the coefficients of a progressive image of up to twice the
// tile's size each way at 4:4:4); loaders decode side by side only while those shares stay
// within IN_FLIGHT_BUDGET_BYTES (256 MiB), and one loader always may. So the loaders hold at
// most about 25 + 256 + 8 x 16 = 409 MiB, and with tiles of up to 512 x 512 (1 MiB) and files
// below 1 MiB at most about 25 + 8 x 9 = 97 MiB; the delivered tiles pass to the cache, which
// its own limit bounds.
constexpr int64_t DECODE_BYTES_PER_TILE_BYTE = 8;
constexpr int64_t IN_FLIGHT_BUDGET_BYTES = int64_t{256} << 20;

// Cache: newest arrival at the head; main thread only, so no lock. Its records, and the bytes
// of their pixels: tiles of several levels and reductions share one budget in bytes.
extern CachedTile* tile_cache;
extern int32_t tile_cache_count;
extern int64_t tile_cache_bytes;
// Records other than level-0 tiles at full size (tiles of a zoomed-out view).
extern int32_t tile_cache_scaled_count;

// Queues, one per priority, newest first. The queue lock guards both heads, every link and
// every last_requested of a queued request; hold it only for a walk, a push or a pop.
extern TileRequest* high_queue;
extern TileRequest* normal_queue;

// One generation per tileset load, and the tile size of that tileset. Written by the main
// thread under the queue lock (clear_tile_requests); a loader copies all three into the
// request it takes, under the same lock, so a decode always knows which tileset it belongs to.
extern uint32_t tile_generation;
extern int32_t generation_tile_width;
extern int32_t generation_tile_height;

// Tile records made and not yet freed, wherever they are (loader, delivered, cache).
extern std::atomic<int32_t> tiles_alive;
// Wake-up signals that requests have given the loaders since start-up (for tests).
extern std::atomic<uint32_t> loader_wake_signals;

// The pixels across or down of a tile `extent` pixels across or down decoded reduced by
// 2^reduction_log2: rounded up, as the decoder rounds.
int32_t reduced_tile_extent(int32_t extent, int32_t reduction_log2);
// A new record for `key` with an uncleared pixel buffer of width x height pixels (the decode
// fills it).
CachedTile* create_cached_tile(const TileKey& key, int32_t width, int32_t height);
// The same for a level-0 tile at full size, the buffer `pixel_bytes` long; its width and height
// are the current tileset's tile size.
CachedTile* create_cached_tile(int32_t column, int32_t row, int32_t pixel_bytes);
// The cached tile of `key` (the newest, should there be two), found through an index.
CachedTile* find_cached_tile(const TileKey& key);
inline CachedTile* find_cached_tile(int32_t column, int32_t row) {
    return find_cached_tile(TileKey{column, row});
}
// Main thread only (the one thread that pushes requests).
void enqueue_tile_request(const char* path, const TileKey& key, int priority);
inline void enqueue_tile_request(const char* path, int32_t column, int32_t row, int priority) {
    enqueue_tile_request(path, TileKey{column, row}, priority);
}
// True when the tile of `key` is on its way: a request waits in a queue (its tick is then
// refreshed and an idle loader woken), or a loader is decoding it for the current tileset, or
// it is delivered and not yet cached. The painter asks this before it looks for the tile's
// file, so a tile is never queued twice.
bool tile_already_requested(const TileKey& key);
inline bool tile_already_requested(int32_t column, int32_t row) {
    return tile_already_requested(TileKey{column, row});
}

// The loaders' side; `slot` names the loader (0 .. MAX_TILE_LOADERS - 1).
// set_tile_loader_count: before the loaders start; every loader counts as idle until it takes
// a request.
void set_tile_loader_count(int32_t count);
// Takes the newest high-priority request, else the newest normal one, stamped with the tileset
// generation and tile size in force, and records it as the slot's request in flight. Takes
// nothing while other loaders' decodes fill IN_FLIGHT_BUDGET_BYTES. `queues_empty` tells
// whether nothing was left to take; then delivered tiles still untold are announced
// (`announce`), since this may have been the last request.
TileRequest* take_tile_request(int32_t slot, bool& queues_empty, bool& announce);
// A test hook, null in the product: called under the queue lock with each request a loader
// has just taken (still linked to nothing), so a test can see the queues as they were left.
using TileTakeObserver = void (*)(const TileRequest* taken, int32_t slot);
extern std::atomic<TileTakeObserver> tile_take_observer;
// The slot's decode produced no tile: it has nothing in flight any more.
void drop_tile_request(int32_t slot);
// Waits, at most `timeout_ms`, for a request to be queued (or the stop).
void wait_for_tile_requests(uint32_t timeout_ms);

// The hand-over from the loaders to the window: finished tiles wait in the delivered list,
// oldest first, under the queue lock. deliver_tile (a loader) ends the slot's request in
// flight and appends `tile`, or frees it when it was decoded for an earlier generation; it
// returns true when the window must be told now (should_announce in tile_list.h), which the
// caller does with a posted WM_TILE_LOADED. take_delivered_tiles (main thread) empties the
// list and returns its head, linked by `next`; the caller then owns those tiles.
bool deliver_tile(int32_t slot, CachedTile* tile, uint32_t generation);
CachedTile* take_delivered_tiles();
// For tests: tiles in the delivered list now; requests in flight now; whether a loader is
// decoding the tile of (column, row) for the current tileset or has delivered it; and takes a
// pending wake-up signal off the loaders (true when there was one).
int32_t count_delivered_tiles();
int32_t count_requests_in_flight();
bool tile_on_its_way(const TileKey& key);
inline bool tile_on_its_way(int32_t column, int32_t row) {
    return tile_on_its_way(TileKey{column, row});
}
// For tests: pixel buffers kept for later tiles.
int32_t count_spare_buffers();
bool take_loader_wake_signal();
// Frees every tile of a list linked by `next`.
void free_tile_list(CachedTile* head);
// Frees every queued request (after the loaders have stopped).
void free_queued_requests();

// Takes ownership of `tile` as it arrives (never null): puts it at the head of the cache and
// returns true. The cache holds at most the bytes of `cache_limit` full-size tiles of the
// tileset: when it then holds more, least recently used tiles outside `in_view` are evicted
// until it fits or as many bytes as the arrival's have gone (with tiles of one size: one tile,
// once the cache holds more than `cache_limit`). A tile decoded for another tileset generation,
// or of a size that its key's reduction of the tileset's tiles does not give, is freed
// instead, and false returned. Drawing the arrival is left to the caller.
bool cache_arrived_tile(CachedTile* tile, uint32_t generation, int32_t cache_limit,
                        const CellRange& in_view);
// Evicts the tile choose_tile_to_evict picks; false when there was none.
bool evict_lru_tile(const CellRange& in_view);
// Unlinks the record from its neighbours and frees it; its pixel buffer may be kept for a
// later tile of the same size (whose decode overwrites or clears every byte of it).
void free_cached_tile(CachedTile* tile);
void clear_tile_cache();
// Frees every queued request for a tile outside `keep` (after a zoom step, the cells the view
// now shows): nobody would see those tiles, and decoding them would delay the ones in view.
void drop_requests_outside(const CellRange& keep);
// Starts a new tileset generation, called when a tileset of this tile size is loaded: frees
// every queued request and every delivered tile, records the tile size and bumps
// tile_generation, so that decodes still in flight for the earlier tileset are dropped when
// they are handed over.
void clear_tile_requests(int32_t tile_width, int32_t tile_height);
