// The tile cache, the load queues, the requests in flight and the list of delivered tiles.
// The cache belongs to the main thread: tiles enter it only in cache_arrived_tile, called by
// the window when it takes the delivered tiles. The queues, the requests in flight and the
// delivered list are shared with the loaders and touched only under the queue lock. Drawing
// an arrival is the window's business, not this file's.
#include "tiles/tile_cache.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "tiles/tile_platform.h"

CachedTile* tile_cache = nullptr;
int32_t tile_cache_count = 0;
int64_t tile_cache_bytes = 0;
int32_t tile_cache_scaled_count = 0;

TileRequest* high_queue = nullptr;
TileRequest* normal_queue = nullptr;

uint32_t tile_generation = 0;
int32_t generation_tile_width = 0;
int32_t generation_tile_height = 0;

std::atomic<int32_t> tiles_alive(0);
std::atomic<uint32_t> loader_wake_signals(0);
std::atomic<TileTakeObserver> tile_take_observer(nullptr);

namespace {

// The cache's records by key, so that a paint of thousands of small cells finds each tile at
// once; main thread only, like the cache. Should the cache hold two records of one key, the
// index names the newer.
struct TileKeyHash {
    size_t operator()(const TileKey& key) const {
        const uint64_t cell = (uint64_t{static_cast<uint32_t>(key.column)} << 32) ^
                              static_cast<uint32_t>(key.row);
        const uint64_t picture = (uint64_t{static_cast<uint32_t>(key.level)} << 8) ^
                                 static_cast<uint32_t>(key.reduction_log2);
        return static_cast<size_t>((cell ^ (picture << 56) ^ (picture >> 8)) *
                                   0x9E3779B97F4A7C15ull >> 16);
    }
};
struct SameTile {
    bool operator()(const TileKey& a, const TileKey& b) const { return same_tile(a, b); }
};
std::unordered_map<TileKey, CachedTile*, TileKeyHash, SameTile> cache_index;

// A record has left the cache list: the index forgets it, or names the other record of its
// key that the list still holds.
void forget_cached_tile(CachedTile* tile) {
    const auto found = cache_index.find(*tile);
    if (found == cache_index.end() || found->second != tile) return;
    CachedTile* other = find_tile_in_list(tile_cache, *tile);
    if (other != nullptr) found->second = other;
    else cache_index.erase(found);
}

// The request each loader is decoding, from the moment it takes it until it has delivered
// its tile or given up, and how many there are; under the queue lock.
const TileRequest* requests_in_flight[MAX_TILE_LOADERS];
int32_t loaders_busy = 0;

// The loaders' wake-up. A loader is idle from the moment it finds nothing left to take (or
// takes the last request) until it takes one with more behind it: it waits for a signal
// before it looks again. A new request signals only while idle loaders outnumber the signals
// already given and not yet taken, so a paint that queues forty tiles makes a handful of calls
// into the system, not forty. The idle flags and count are under the queue lock;
// wakes_pending rises under it and falls, without it, as soon as a signal is taken.
bool loader_idle[MAX_TILE_LOADERS];
int32_t idle_loaders = 0;
std::atomic<int32_t> wakes_pending(0);

// A signal was taken (by a loader, or a test); stop signals were never counted.
void count_wake_taken() {
    int32_t pending = wakes_pending.load();
    while (pending > 0 && !wakes_pending.compare_exchange_weak(pending, pending - 1)) {
    }
}

// Finished tiles that the window has not taken yet, oldest first; under the queue lock.
CachedTile* delivered_head = nullptr;
CachedTile* delivered_tail = nullptr;
// The notices about them (see should_announce); under the queue lock.
bool notice_outstanding = false;
uint32_t last_notice_tick = 0;

// Pixel buffers of evicted and cleared tiles, kept for the next tiles: the page faults of a
// fresh buffer cost about half as much again as decoding a tile into it. Only buffers of the
// current tileset's tile size are kept, at most 64 and 64 MiB. The loaders take them, every
// thread gives them back; all under the queue lock.
constexpr int32_t MAX_SPARE_BUFFERS = 64;
constexpr int64_t MAX_SPARE_TOTAL_BYTES = int64_t{64} << 20;
unsigned char* spare_buffers[MAX_SPARE_BUFFERS];
int32_t spare_count = 0;

// Under the queue lock, or on the main thread (the only writer).
int64_t generation_tile_bytes() {
    return int64_t{generation_tile_width} * generation_tile_height * 4;
}

// Whether `tile` has the size its key's reduction gives the current tileset's tiles; main
// thread.
bool fits_generation(const CachedTile* tile) {
    const int32_t width = reduced_tile_extent(generation_tile_width, tile->reduction_log2);
    const int32_t height = reduced_tile_extent(generation_tile_height, tile->reduction_log2);
    return tile->width == width && tile->height == height &&
           tile->pixel_bytes == int64_t{width} * height * 4;
}

unsigned char* take_spare_buffer(int32_t bytes) {
    unsigned char* pixels = nullptr;
    enter_queue_lock();
    if (spare_count > 0 && bytes == generation_tile_bytes())
        pixels = spare_buffers[--spare_count];
    leave_queue_lock();
    return pixels;
}

// Keeps `pixels` for a later tile, or frees it.
void give_back_buffer(unsigned char* pixels, int32_t bytes) {
    enter_queue_lock();
    const bool kept = bytes == generation_tile_bytes() && spare_count < MAX_SPARE_BUFFERS &&
                      int64_t{bytes} * (spare_count + 1) <= MAX_SPARE_TOTAL_BYTES;
    if (kept) spare_buffers[spare_count++] = pixels;
    leave_queue_lock();
    if (!kept) std::free(pixels);
}

// Under the queue lock: a loader decodes the tile of `key` for the current tileset, or has
// delivered it.
bool decoding_or_delivered(const TileKey& key) {
    for (const TileRequest* request : requests_in_flight)
        if (request != nullptr && request->generation == tile_generation &&
            same_tile(*request, key))
            return true;
    return find_tile_in_list(delivered_head, key) != nullptr;
}

// Under the queue lock: true when the caller must signal the wake-up once it has left the lock.
bool wake_idle_loader_locked() {
    if (idle_loaders <= wakes_pending.load()) return false;
    wakes_pending.fetch_add(1);
    loader_wake_signals.fetch_add(1);
    return true;
}

void set_loader_idle_locked(int32_t slot, bool idle) {
    if (loader_idle[slot] == idle) return;
    loader_idle[slot] = idle;
    idle_loaders += idle ? 1 : -1;
}

// Under the queue lock: ends the slot's request in flight.
void end_request_in_flight_locked(int32_t slot) {
    if (requests_in_flight[slot] == nullptr) return;
    requests_in_flight[slot] = nullptr;
    --loaders_busy;
}

// Under the queue lock: whether the delivered tiles are to be announced now.
bool announce_delivered_tiles_locked(bool queues_empty) {
    const uint32_t now = tile_tick();
    if (!should_announce({delivered_head != nullptr, notice_outstanding, queues_empty, now,
                          last_notice_tick}))
        return false;
    notice_outstanding = true;
    last_notice_tick = now;
    return true;
}

bool slot_is_valid(int32_t slot) { return slot >= 0 && slot < MAX_TILE_LOADERS; }

void free_request_list(TileRequest* request) {
    while (request != nullptr) {
        TileRequest* next = request->next;
        std::free(request->path);
        std::free(request);
        request = next;
    }
}

}  // namespace

int32_t reduced_tile_extent(int32_t extent, int32_t reduction_log2) {
    if (reduction_log2 <= 0 || reduction_log2 > 30) return extent;
    return static_cast<int32_t>((int64_t{extent} + (int64_t{1} << reduction_log2) - 1) >>
                                reduction_log2);
}

namespace {

// A record of `pixel_bytes` for `key`, said to measure width x height (the public makers check
// that the two agree, or take the tileset's own tile size).
CachedTile* new_tile_record(const TileKey& key, int32_t width, int32_t height,
                            int32_t pixel_bytes) {
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
    tile->column = key.column;
    tile->row = key.row;
    tile->level = key.level;
    tile->reduction_log2 = key.reduction_log2;
    tile->width = width;
    tile->height = height;
    tile->pixel_bytes = pixel_bytes;
    tiles_alive.fetch_add(1);
    return tile;
}

}  // namespace

CachedTile* create_cached_tile(const TileKey& key, int32_t width, int32_t height) {
    const int64_t bytes = int64_t{width} * height * 4;
    if (width <= 0 || height <= 0 || bytes > INT32_MAX) return nullptr;
    return new_tile_record(key, width, height, static_cast<int32_t>(bytes));
}

CachedTile* create_cached_tile(int32_t column, int32_t row, int32_t pixel_bytes) {
    enter_queue_lock();
    const int32_t width = generation_tile_width, height = generation_tile_height;
    leave_queue_lock();
    return new_tile_record(TileKey{column, row}, width, height, pixel_bytes);
}

CachedTile* find_cached_tile(const TileKey& key) {
    const auto found = cache_index.find(key);
    return found != cache_index.end() ? found->second : nullptr;
}

bool tile_already_requested(const TileKey& key) {
    enter_queue_lock();
    TileRequest* waiting = find_request_in_list(normal_queue, key);
    if (waiting == nullptr) waiting = find_request_in_list(high_queue, key);
    if (waiting != nullptr) waiting->last_requested = tile_tick();
    const bool on_its_way = waiting != nullptr || decoding_or_delivered(key);
    const bool wake = waiting != nullptr && wake_idle_loader_locked();
    leave_queue_lock();
    if (wake) signal_loader_wake();
    return on_its_way;
}

bool tile_on_its_way(const TileKey& key) {
    enter_queue_lock();
    const bool on_its_way = decoding_or_delivered(key);
    leave_queue_lock();
    return on_its_way;
}

void enqueue_tile_request(const char* path, const TileKey& key, int priority) {
    if (tile_already_requested(key)) return;

    if (find_cached_tile(key) != nullptr) return;

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
    request->column = key.column;
    request->row = key.row;
    request->level = key.level;
    request->reduction_log2 = key.reduction_log2;
    request->generation = 0;
    request->tile_width = 0;
    request->tile_height = 0;

    enter_queue_lock();
    push_request(priority == TILE_PRIORITY_HIGH ? high_queue : normal_queue, request);
    request->last_requested = tile_tick();
    const bool wake = wake_idle_loader_locked();
    leave_queue_lock();
    if (wake) signal_loader_wake();
}

void set_tile_loader_count(int32_t count) {
    enter_queue_lock();
    idle_loaders = 0;
    wakes_pending.store(0);
    for (int32_t slot = 0; slot < MAX_TILE_LOADERS; ++slot) {
        loader_idle[slot] = slot < count;
        idle_loaders += slot < count;
    }
    leave_queue_lock();
}

TileRequest* take_tile_request(int32_t slot, bool& queues_empty, bool& announce) {
    queues_empty = true;
    announce = false;
    if (!slot_is_valid(slot)) return nullptr;
    enter_queue_lock();
    end_request_in_flight_locked(slot);
    // One decode always may run; more only while their shares fit the budget.
    const int64_t share = generation_tile_bytes() * DECODE_BYTES_PER_TILE_BYTE;
    const bool within_budget =
        loaders_busy == 0 || (loaders_busy + 1) * share <= IN_FLIGHT_BUDGET_BYTES;
    TileRequest* request = nullptr;
    if (within_budget) {
        request = pop_request(high_queue);
        if (request == nullptr) request = pop_request(normal_queue);
    }
    if (request != nullptr) {
        request->generation = tile_generation;
        request->tile_width = generation_tile_width;
        request->tile_height = generation_tile_height;
        requests_in_flight[slot] = request;
        ++loaders_busy;
        if (const TileTakeObserver observe = tile_take_observer.load()) observe(request, slot);
    }
    queues_empty = high_queue == nullptr && normal_queue == nullptr;
    set_loader_idle_locked(slot, queues_empty || request == nullptr);
    announce = queues_empty && announce_delivered_tiles_locked(true);
    leave_queue_lock();
    return request;
}

void drop_tile_request(int32_t slot) {
    if (!slot_is_valid(slot)) return;
    enter_queue_lock();
    end_request_in_flight_locked(slot);
    leave_queue_lock();
}

void wait_for_tile_requests(uint32_t timeout_ms) {
    if (wait_loader_wake(timeout_ms)) count_wake_taken();
}

bool take_loader_wake_signal() {
    if (!wait_loader_wake(0)) return false;
    count_wake_taken();
    return true;
}

bool deliver_tile(int32_t slot, CachedTile* tile, uint32_t generation) {
    enter_queue_lock();
    if (slot_is_valid(slot)) end_request_in_flight_locked(slot);
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
    leave_queue_lock();
    if (!current) free_cached_tile(tile);
    return tell;
}

CachedTile* take_delivered_tiles() {
    enter_queue_lock();
    CachedTile* taken = delivered_head;
    delivered_head = nullptr;
    delivered_tail = nullptr;
    notice_outstanding = false;
    leave_queue_lock();
    return taken;
}

int32_t count_requests_in_flight() {
    enter_queue_lock();
    const int32_t busy = loaders_busy;
    leave_queue_lock();
    return busy;
}

int32_t count_delivered_tiles() {
    enter_queue_lock();
    int32_t count = 0;
    for (const CachedTile* tile = delivered_head; tile != nullptr; tile = tile->next) ++count;
    leave_queue_lock();
    return count;
}

int32_t count_spare_buffers() {
    enter_queue_lock();
    const int32_t count = spare_count;
    leave_queue_lock();
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

void free_queued_requests() {
    enter_queue_lock();
    TileRequest* queues[2] = {high_queue, normal_queue};
    high_queue = nullptr;
    normal_queue = nullptr;
    leave_queue_lock();
    for (TileRequest* request : queues) free_request_list(request);
}

bool cache_arrived_tile(CachedTile* tile, uint32_t generation, int32_t cache_limit,
                        const CellRange& in_view) {
    // A tile decoded for an earlier tileset shows the wrong map even when the tile size
    // matches; one made for another tile size would also be blitted past its buffer. Only
    // the main thread writes the generation and its tile size, so it reads them unlocked.
    if (generation != tile_generation || !fits_generation(tile)) {
        // Still linked to the arrivals taken with it, some of them cached by now: freed alone.
        tile->prev = nullptr;
        tile->next = nullptr;
        free_cached_tile(tile);
        return false;
    }
    tile->prev = nullptr;
    tile->next = tile_cache;
    if (tile_cache != nullptr) tile_cache->prev = tile;
    tile_cache = tile;
    cache_index[*tile] = tile;
    ++tile_cache_count;
    tile_cache_bytes += tile->pixel_bytes;
    tile_cache_scaled_count += !same_picture(*tile, TileKey{});
    const int64_t budget = int64_t{cache_limit} * generation_tile_bytes();
    int64_t evicted = 0;
    while (tile_cache_bytes > budget && evicted < tile->pixel_bytes) {
        const int64_t before = tile_cache_bytes;
        if (!evict_lru_tile(in_view)) break;
        evicted += before - tile_cache_bytes;
    }
    return true;
}

bool evict_lru_tile(const CellRange& in_view) {
    CachedTile* victim = choose_tile_to_evict(tile_cache, in_view);
    if (victim == nullptr) return false;
    unlink_tile(tile_cache, victim);
    forget_cached_tile(victim);
    --tile_cache_count;
    tile_cache_bytes -= victim->pixel_bytes;
    tile_cache_scaled_count -= !same_picture(*victim, TileKey{});
    free_cached_tile(victim);
    return true;
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
    tile_cache_bytes = 0;
    tile_cache_scaled_count = 0;
    cache_index.clear();
}

void drop_requests_outside(const CellRange& keep) {
    enter_queue_lock();
    TileRequest* dropped[2] = {take_requests_outside(high_queue, keep),
                               take_requests_outside(normal_queue, keep)};
    leave_queue_lock();
    for (TileRequest* list : dropped) free_request_list(list);
}

void clear_tile_requests(int32_t tile_width, int32_t tile_height) {
    enter_queue_lock();
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
    leave_queue_lock();
    free_tile_list(delivered);
    for (int32_t i = 0; i < unfit_count; ++i) std::free(unfit[i]);
    for (TileRequest* request : queues) free_request_list(request);
}
