// The tile cache, the load queues and the list of delivered tiles. The cache belongs to the
// main thread: tiles enter it only in cache_arrived_tile, called by the window when it takes
// the delivered tiles. The queues and the delivered list are shared with the loader and
// touched only under queue_lock. Drawing an arrival is the window's business, not this file's.
#include "tiles/tile_cache.h"

#include <cstdlib>
#include <cstring>

CachedTile* tile_cache = nullptr;
int32_t tile_cache_count = 0;

TileRequest* high_queue = nullptr;
TileRequest* normal_queue = nullptr;
CRITICAL_SECTION queue_lock;
HANDLE loader_wake_event = nullptr;

uint32_t tile_generation = 0;
int32_t generation_tile_width = 0;
int32_t generation_tile_height = 0;

std::atomic<int32_t> tiles_alive(0);
const TileRequest* request_in_flight = nullptr;
bool loader_may_sleep = true;

namespace {

// Finished tiles that the window has not taken yet, oldest first; under queue_lock.
CachedTile* delivered_head = nullptr;
CachedTile* delivered_tail = nullptr;
// The notices about them (see should_announce); under queue_lock.
bool notice_outstanding = false;
uint32_t last_notice_tick = 0;

// Pixel buffers of evicted and cleared tiles, kept for the next tiles: the page faults of a
// fresh buffer cost about half as much again as decoding a tile into it. Only buffers of the
// current tileset's tile size are kept, at most 64 and 64 MiB. The loader takes them, both
// threads give them back; all under queue_lock.
constexpr int32_t MAX_SPARE_BUFFERS = 64;
constexpr int64_t MAX_SPARE_TOTAL_BYTES = int64_t{64} << 20;
unsigned char* spare_buffers[MAX_SPARE_BUFFERS];
int32_t spare_count = 0;

// Under queue_lock, or on the main thread (the only writer).
int64_t generation_tile_bytes() {
    return int64_t{generation_tile_width} * generation_tile_height * 4;
}

unsigned char* take_spare_buffer(int32_t bytes) {
    unsigned char* pixels = nullptr;
    EnterCriticalSection(&queue_lock);
    if (spare_count > 0 && bytes == generation_tile_bytes())
        pixels = spare_buffers[--spare_count];
    LeaveCriticalSection(&queue_lock);
    return pixels;
}

// Keeps `pixels` for a later tile, or frees it.
void give_back_buffer(unsigned char* pixels, int32_t bytes) {
    EnterCriticalSection(&queue_lock);
    const bool kept = bytes == generation_tile_bytes() && spare_count < MAX_SPARE_BUFFERS &&
                      int64_t{bytes} * (spare_count + 1) <= MAX_SPARE_TOTAL_BYTES;
    if (kept) spare_buffers[spare_count++] = pixels;
    LeaveCriticalSection(&queue_lock);
    if (!kept) std::free(pixels);
}

// Under queue_lock: the loader decodes (column, row) for the current tileset, or has
// delivered its tile.
bool decoding_or_delivered(int32_t column, int32_t row) {
    const bool decoding = request_in_flight != nullptr &&
                          request_in_flight->generation == tile_generation &&
                          request_in_flight->column == column && request_in_flight->row == row;
    return decoding || find_tile_in_list(delivered_head, column, row) != nullptr;
}

}  // namespace

CachedTile* create_cached_tile(int32_t column, int32_t row, int32_t pixel_bytes) {
    if (pixel_bytes <= 0) return nullptr;
    CachedTile* tile = static_cast<CachedTile*>(std::malloc(sizeof(CachedTile)));
    if (tile == nullptr) return nullptr;
    tile->prev = nullptr;
    tile->next = nullptr;
    tile->last_used = 0;
    tile->pixels = take_spare_buffer(pixel_bytes);
    if (tile->pixels == nullptr)
        tile->pixels = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(pixel_bytes)));
    if (tile->pixels == nullptr) {
        std::free(tile);
        return nullptr;
    }
    tile->column = column;
    tile->row = row;
    tile->pixel_bytes = pixel_bytes;
    tiles_alive.fetch_add(1);
    return tile;
}

CachedTile* find_cached_tile(int32_t column, int32_t row) {
    return find_tile_in_list(tile_cache, column, row);
}

bool tile_already_requested(int32_t column, int32_t row) {
    EnterCriticalSection(&queue_lock);
    TileRequest* waiting = find_request_in_list(normal_queue, column, row);
    if (waiting == nullptr) waiting = find_request_in_list(high_queue, column, row);
    if (waiting != nullptr) waiting->last_requested = GetTickCount();
    const bool on_its_way = waiting != nullptr || decoding_or_delivered(column, row);
    const bool wake = waiting != nullptr && loader_may_sleep;
    LeaveCriticalSection(&queue_lock);
    if (wake) SetEvent(loader_wake_event);
    return on_its_way;
}

bool tile_on_its_way(int32_t column, int32_t row) {
    EnterCriticalSection(&queue_lock);
    const bool on_its_way = decoding_or_delivered(column, row);
    LeaveCriticalSection(&queue_lock);
    return on_its_way;
}

void enqueue_tile_request(const char* path, int32_t column, int32_t row, int priority) {
    if (tile_already_requested(column, row)) return;

    if (find_tile_in_list(tile_cache, column, row) != nullptr) return;

    TileRequest* request = static_cast<TileRequest*>(std::malloc(sizeof(TileRequest)));
    if (request == nullptr) return;
    const size_t path_bytes = std::strlen(path) + 1;
    request->path = static_cast<char*>(std::malloc(path_bytes));
    if (request->path == nullptr) {
        std::free(request);
        return;
    }
    std::memcpy(request->path, path, path_bytes);
    request->prev = nullptr;
    request->tile = nullptr;
    request->column = column;
    request->row = row;
    request->generation = 0;
    request->tile_width = 0;
    request->tile_height = 0;

    EnterCriticalSection(&queue_lock);
    push_request(priority == TILE_PRIORITY_HIGH ? high_queue : normal_queue, request);
    request->last_requested = GetTickCount();
    const bool wake = loader_may_sleep;
    LeaveCriticalSection(&queue_lock);
    if (wake) SetEvent(loader_wake_event);
}

bool announce_delivered_tiles_locked(bool queues_empty) {
    const uint32_t now = GetTickCount();
    if (!should_announce({delivered_head != nullptr, notice_outstanding, queues_empty, now,
                          last_notice_tick}))
        return false;
    notice_outstanding = true;
    last_notice_tick = now;
    return true;
}

bool deliver_tile(CachedTile* tile, uint32_t generation) {
    EnterCriticalSection(&queue_lock);
    request_in_flight = nullptr;
    const bool current = generation == tile_generation;
    if (current) {
        tile->prev = delivered_tail;
        tile->next = nullptr;
        if (delivered_tail != nullptr) delivered_tail->next = tile;
        else delivered_head = tile;
        delivered_tail = tile;
    }
    const bool tell = announce_delivered_tiles_locked(high_queue == nullptr &&
                                                      normal_queue == nullptr);
    LeaveCriticalSection(&queue_lock);
    if (!current) free_cached_tile(tile);
    return tell;
}

CachedTile* take_delivered_tiles() {
    EnterCriticalSection(&queue_lock);
    CachedTile* taken = delivered_head;
    delivered_head = nullptr;
    delivered_tail = nullptr;
    notice_outstanding = false;
    LeaveCriticalSection(&queue_lock);
    return taken;
}

int32_t count_delivered_tiles() {
    EnterCriticalSection(&queue_lock);
    int32_t count = 0;
    for (const CachedTile* tile = delivered_head; tile != nullptr; tile = tile->next) ++count;
    LeaveCriticalSection(&queue_lock);
    return count;
}

int32_t count_spare_buffers() {
    EnterCriticalSection(&queue_lock);
    const int32_t count = spare_count;
    LeaveCriticalSection(&queue_lock);
    return count;
}

void free_tile_list(CachedTile* head) {
    while (head != nullptr) {
        CachedTile* next = head->next;
        head->prev = nullptr;
        head->next = nullptr;
        free_cached_tile(head);
        head = next;
    }
}

bool cache_arrived_tile(CachedTile* tile, uint32_t generation, int32_t cache_limit,
                        const CellRange& in_view) {
    // A tile decoded for an earlier tileset shows the wrong map even when the tile size
    // matches; one made for another tile size would also be blitted past its buffer. Only
    // the main thread writes the generation and its tile size, so it reads them unlocked.
    if (generation != tile_generation || tile->pixel_bytes != generation_tile_bytes()) {
        free_cached_tile(tile);
        return false;
    }
    tile->prev = nullptr;
    tile->next = tile_cache;
    if (tile_cache != nullptr) tile_cache->prev = tile;
    tile_cache = tile;
    ++tile_cache_count;
    if (tile_cache_count > cache_limit) evict_lru_tile(in_view);
    return true;
}

void evict_lru_tile(const CellRange& in_view) {
    CachedTile* victim = choose_tile_to_evict(tile_cache, in_view);
    if (victim == nullptr) return;
    unlink_tile(tile_cache, victim);
    free_cached_tile(victim);
    --tile_cache_count;
}

void free_cached_tile(CachedTile* tile) {
    if (tile->prev != nullptr) tile->prev->next = tile->next;
    if (tile->next != nullptr) tile->next->prev = tile->prev;
    give_back_buffer(tile->pixels, tile->pixel_bytes);
    std::free(tile);
    tiles_alive.fetch_sub(1);
}

void clear_tile_cache() {
    CachedTile* tile = tile_cache;
    while (tile != nullptr) {
        CachedTile* next = tile->next;
        give_back_buffer(tile->pixels, tile->pixel_bytes);
        std::free(tile);
        tiles_alive.fetch_sub(1);
        tile = next;
    }
    tile_cache = nullptr;
    tile_cache_count = 0;
}

void clear_tile_requests(int32_t tile_width, int32_t tile_height) {
    EnterCriticalSection(&queue_lock);
    TileRequest* queues[2] = {high_queue, normal_queue};
    high_queue = nullptr;
    normal_queue = nullptr;
    CachedTile* delivered = delivered_head;
    delivered_head = nullptr;
    delivered_tail = nullptr;
    ++tile_generation;
    const int64_t old_tile_bytes = generation_tile_bytes();
    generation_tile_width = tile_width;
    generation_tile_height = tile_height;
    // Spare buffers of another tile size will not be asked for again.
    unsigned char* unfit[MAX_SPARE_BUFFERS];
    int32_t unfit_count = 0;
    if (generation_tile_bytes() != old_tile_bytes) {
        std::memcpy(unfit, spare_buffers, sizeof(unsigned char*) * spare_count);
        unfit_count = spare_count;
        spare_count = 0;
    }
    LeaveCriticalSection(&queue_lock);
    free_tile_list(delivered);
    for (int32_t i = 0; i < unfit_count; ++i) std::free(unfit[i]);
    for (TileRequest* request : queues) {
        while (request != nullptr) {
            TileRequest* next = request->next;
            std::free(request->path);
            std::free(request);
            request = next;
        }
    }
}
