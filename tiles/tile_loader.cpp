// The loader thread. It sleeps on loader_wake_event (re-checking every 500 ms), takes the
// newest high-priority request, decodes the tile file into a new CachedTile and hands it to
// the receiving window with a synchronous WM_TILE_LOADED; the window then owns the tile.
#include "tiles/tile_loader.h"

#include <cstdlib>
#include <new>

#include "jpeg/jpeg_decoder.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_pixels.h"

std::atomic<bool> loader_stop(false);
HANDLE loader_thread = nullptr;
std::atomic<uint32_t> tiles_decoded(0);

namespace {
// Set by the viewer once its window exists; until then nobody takes a decoded tile.
std::atomic<HWND> tile_receiver(nullptr);

constexpr DWORD LOADER_IDLE_WAIT_MS = 500;
constexpr DWORD LOADER_STOP_WAIT_MS = 5000;
constexpr SIZE_T LOADER_STACK_BYTES = 8192;

// Takes the next request, high priority first; sets `queues_empty` when nothing is left.
// The request is stamped with the tileset generation and tile size in force at this moment:
// a tileset load changes both under the same lock, so the pair is always consistent.
TileRequest* take_next_request(bool& queues_empty) {
    EnterCriticalSection(&queue_lock);
    TileRequest* request = pop_request(high_queue);
    if (request == nullptr) request = pop_request(normal_queue);
    if (request != nullptr) {
        request->generation = tile_generation;
        request->tile_width = generation_tile_width;
        request->tile_height = generation_tile_height;
    }
    queues_empty = high_queue == nullptr && normal_queue == nullptr;
    LeaveCriticalSection(&queue_lock);
    return request;
}

// Hands `tile` to the receiving window and waits until it has been handled. The window takes
// the tile by clearing tile_in_hand_over (cache_arrived_tile); if there is no window, or it no
// longer exists (the message loop has ended), nobody takes it, and it is freed here.
void hand_over(CachedTile* tile, uint32_t generation) {
    tile_in_hand_over.store(tile);
    HWND receiver = tile_receiver.load();
    if (!loader_stop.load() && receiver != nullptr)
        SendMessageA(receiver, WM_TILE_LOADED, generation, reinterpret_cast<LPARAM>(tile));
    if (tile_in_hand_over.exchange(nullptr) == tile) free_cached_tile(tile);
}

void destroy_decoder(JpegDecoder* decoder, JpegFileStream* stream) {
    decoder->destroy();
    delete decoder;
    delete stream;
}
}  // namespace

void start_tile_loader() {
    high_queue = nullptr;
    normal_queue = nullptr;
    InitializeCriticalSection(&queue_lock);
    loader_wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    loader_thread = CreateThread(nullptr, LOADER_STACK_BYTES, tile_loader_main, nullptr,
                                 0, nullptr);
    SetThreadPriority(loader_thread, THREAD_PRIORITY_HIGHEST);
}

void set_tile_receiver(HWND window) { tile_receiver.store(window); }

DWORD WINAPI tile_loader_main(LPVOID) {
    bool idle = true;
    while (!loader_stop.load()) {
        if (idle) WaitForSingleObject(loader_wake_event, LOADER_IDLE_WAIT_MS);
        if (loader_stop.load()) break;
        bool queues_empty = true;
        TileRequest* request = take_next_request(queues_empty);
        idle = queues_empty || request == nullptr;
        if (request == nullptr) continue;
        if (decode_tile(request) == 1) {
            tiles_decoded.fetch_add(1);
            hand_over(request->tile, request->generation);
        }
        std::free(request->path);
        std::free(request);
    }
    return 0;
}

int decode_tile(TileRequest* request) {
    JpegFileStream* stream = new (std::nothrow) JpegFileStream();
    if (stream == nullptr) return 0;
    if (!stream->open(request->path)) {
        delete stream;
        return 0;
    }
    JpegDecoder* decoder = new (std::nothrow) JpegDecoder();
    if (decoder == nullptr) {
        delete stream;
        return 0;
    }
    decoder->create(*stream);
    if (decoder->status() != 0 || decoder->start_decoding() != 0) {
        destroy_decoder(decoder, stream);
        return 0;
    }
    // The tile size of the tileset the request was taken for; should another tileset be
    // loaded meanwhile, cache_arrived_tile drops the tile by its generation.
    const int32_t tile_width = request->tile_width;
    const int32_t tile_height = request->tile_height;
    if (tile_width <= 0 || tile_height <= 0) {
        destroy_decoder(decoder, stream);
        return 0;
    }
    CachedTile* tile = create_cached_tile(request->column, request->row,
                                          tile_height * tile_width * 4);
    request->tile = tile;
    if (tile == nullptr) {
        destroy_decoder(decoder, stream);
        return 0;
    }
    const TileRowFormat format = {decoder->component_count() == 1 ? 1 : 3,
                                  decoder->output_bytes_per_pixel(), decoder->image_width(),
                                  tile_width};
    for (int32_t i = 0; i < tile_height; ++i) {
        const uint8_t* scanline = nullptr;
        int32_t length = 0;
        if (decoder->read_scanline(scanline, length) != 0) break;
        convert_tile_row(scanline, length, format,
                         tile->pixels + static_cast<size_t>(i) * tile_width * 4);
    }
    destroy_decoder(decoder, stream);
    tile->last_used = request->last_requested;
    return 1;
}

void stop_tile_loader() {
    loader_stop.store(true);
    if (loader_wake_event != nullptr) SetEvent(loader_wake_event);
    if (loader_thread == nullptr) return;
    // While waiting, keep answering sent messages so a loader blocked in its hand-over can
    // finish; the window is gone by now, so nobody takes that tile and the loader frees it.
    const DWORD deadline = GetTickCount() + LOADER_STOP_WAIT_MS;
    for (;;) {
        const DWORD now = GetTickCount();
        if (static_cast<int32_t>(deadline - now) <= 0) break;
        const DWORD result = MsgWaitForMultipleObjects(1, &loader_thread, FALSE, deadline - now,
                                                       QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) break;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
}
