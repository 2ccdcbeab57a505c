// The loader pool: up to MAX_TILE_LOADERS loader threads, each with a decoder of its own, all
// taking requests from the two queues of tile_cache.h (newest high-priority first) and handing
// their tiles over through its delivered list. Platform-free: the caller supplies the decode
// and the notice to the window (TileLoaderJob), tile_platform.h the threads and the wake-up.
#pragma once
#include <atomic>
#include <cstdint>

#include "tiles/tile_list.h"

// What a loader does with its requests; every function runs on the loader's own thread.
struct TileLoaderJob {
    // Makes the loader's decoder, kept for all its tiles; null when it cannot (decode then
    // makes one per tile).
    void* (*make_decoder)();
    // Decodes the request's tile file into request->tile; 1 when a tile was made, else 0.
    int (*decode)(TileRequest* request, void* decoder);
    // Frees the decoder and whatever else the loader's thread kept, as the loader ends.
    void (*end_loader)(void* decoder);
    // Tells the window that delivered tiles wait for it.
    void (*tell_receiver)();
};

// Raised by stop_tile_loaders; the loaders poll it. Cleared by start_tile_loaders.
extern std::atomic<bool> loader_stop;
// Tiles the loaders have decoded and handed over since start-up (for benchmarks and tests).
extern std::atomic<uint32_t> tiles_decoded;
// A test hook, null in the product: when set, every loader calls it with each request it has
// taken, outside the queue lock and before reading the tile file, so a test can hold a
// loader with one request in flight and the rest still queued.
using LoaderDecodeGate = void (*)(const TileRequest* request);
extern std::atomic<LoaderDecodeGate> loader_decode_gate;

// How many loaders to run: `setting` (the TERRAVA_LOADERS environment variable, or null) when
// it is a whole number from 1 up, else the logical processor count; at most
// MAX_TILE_LOADERS, at least 1.
int32_t choose_loader_count(const char* setting, int32_t logical_processors);

// Starts `count` loaders (1 .. MAX_TILE_LOADERS) doing `job`, and returns how many started.
// The loaders must not be running.
int32_t start_tile_loaders(int32_t count, const TileLoaderJob& job);
// Raises loader_stop, wakes every loader and waits for each to end, at most `timeout_ms` in
// all; a decode in progress finishes first and its tile joins the delivered list. When every
// loader has ended, frees the delivered tiles that no window took and the queued requests,
// and returns true; a loader that does not end in time keeps them (false).
bool stop_tile_loaders(uint32_t timeout_ms);
// Loaders started by the last start_tile_loaders, and those still inside their loop.
int32_t tile_loader_count();
int32_t tile_loaders_running();
