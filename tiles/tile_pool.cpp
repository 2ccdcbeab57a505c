// The loader pool: the loop every loader runs, and starting and stopping them all. A loader
// sleeps on the wake-up signal (re-checking every 500 ms) only when it found nothing to take;
// while requests remain it decodes one after another. Tiles decoded for an earlier tileset
// are dropped at the hand-over (deliver_tile), whichever loader made them.
#include "tiles/tile_pool.h"

#include <cstdlib>

#include "tiles/tile_cache.h"
#include "tiles/tile_platform.h"

std::atomic<bool> loader_stop(false);
std::atomic<uint32_t> tiles_decoded(0);
std::atomic<LoaderDecodeGate> loader_decode_gate(nullptr);

namespace {
constexpr uint32_t LOADER_IDLE_WAIT_MS = 500;

// Written by start_tile_loaders before any loader starts, read by the loaders only.
TileLoaderJob loader_job;
// Written by the thread that starts and stops the loaders.
int32_t started_loaders = 0;
std::atomic<int32_t> running_loaders(0);

void tell_receiver() {
    if (loader_job.tell_receiver != nullptr) loader_job.tell_receiver();
}

void run_tile_loader(int32_t slot) {
    void* decoder = loader_job.make_decoder != nullptr ? loader_job.make_decoder() : nullptr;
    bool idle = true;
    while (!loader_stop.load()) {
        if (idle) wait_for_tile_requests(LOADER_IDLE_WAIT_MS);
        if (loader_stop.load()) break;
        bool queues_empty = true;
        bool announce = false;
        TileRequest* request = take_tile_request(slot, queues_empty, announce);
        if (announce) tell_receiver();
        idle = queues_empty || request == nullptr;
        if (request == nullptr) continue;
        if (const LoaderDecodeGate gate = loader_decode_gate.load()) gate(request);
        if (loader_job.decode(request, decoder) == 1) {
            tiles_decoded.fetch_add(1);
            if (deliver_tile(slot, request->tile, request->generation)) tell_receiver();
        } else {
            drop_tile_request(slot);
        }
        std::free(request->path);
        std::free(request);
    }
    if (loader_job.end_loader != nullptr) loader_job.end_loader(decoder);
    running_loaders.fetch_sub(1);
}
}  // namespace

int32_t choose_loader_count(const char* setting, int32_t logical_processors) {
    int64_t chosen = logical_processors;
    if (setting != nullptr && *setting != '\0') {
        int64_t value = 0;
        const char* c = setting;
        for (; *c >= '0' && *c <= '9'; ++c)
            if (value <= MAX_TILE_LOADERS) value = value * 10 + (*c - '0');   // saturates
        if (*c == '\0' && value >= 1) chosen = value;
    }
    if (chosen > MAX_TILE_LOADERS) chosen = MAX_TILE_LOADERS;
    return chosen < 1 ? 1 : static_cast<int32_t>(chosen);
}

int32_t start_tile_loaders(int32_t count, const TileLoaderJob& job) {
    if (count < 1) count = 1;
    if (count > MAX_TILE_LOADERS) count = MAX_TILE_LOADERS;
    loader_job = job;
    loader_stop.store(false);
    set_tile_loader_count(count);
    create_loader_wake(count);
    started_loaders = 0;
    for (int32_t slot = 0; slot < count; ++slot) {
        running_loaders.fetch_add(1);
        if (!start_loader_thread(slot, run_tile_loader)) {
            running_loaders.fetch_sub(1);
            break;
        }
        ++started_loaders;
    }
    return started_loaders;
}

bool stop_tile_loaders(uint32_t timeout_ms) {
    loader_stop.store(true);
    for (int32_t slot = 0; slot < started_loaders; ++slot) signal_loader_wake();
    const uint32_t start = tile_tick();
    bool all_ended = true;
    for (int32_t slot = 0; slot < started_loaders; ++slot) {
        const uint32_t waited = tile_tick() - start;
        const uint32_t left = waited < timeout_ms ? timeout_ms - waited : 0;
        all_ended = join_loader_thread(slot, left) && all_ended;
    }
    if (!all_ended) return false;
    free_tile_list(take_delivered_tiles());
    free_queued_requests();
    return true;
}

int32_t tile_loader_count() { return started_loaders; }
int32_t tile_loaders_running() { return running_loaders.load(); }
