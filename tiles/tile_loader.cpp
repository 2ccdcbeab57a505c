// The loader thread. It sleeps on loader_wake_event (re-checking every 500 ms), takes the
// newest high-priority request, reads the tile file whole, decodes it into a new CachedTile
// and hands it over to the receiving window (see hand_over); the window then owns the tile.
// The loader keeps one decoder object for all its tiles, so that each decode reuses the
// previous one's buffers and (for tiles coded alike) Huffman tables.
#include "tiles/tile_loader.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "jpeg/jpeg_decoder.h"
#include "tiles/tile_bytes_stream.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_file.h"
#include "tiles/tile_pixels.h"

std::atomic<bool> loader_stop(false);
HANDLE loader_thread = nullptr;
std::atomic<uint32_t> tiles_decoded(0);
std::atomic<LoaderDecodeGate> loader_decode_gate(nullptr);

namespace {
// Set by the viewer once its window exists; until then nobody takes a decoded tile.
std::atomic<HWND> tile_receiver(nullptr);

constexpr DWORD LOADER_IDLE_WAIT_MS = 500;
constexpr DWORD LOADER_STOP_WAIT_MS = 5000;
constexpr SIZE_T LOADER_STACK_BYTES = 8192;
// A tile image may measure up to this many cells across and down.
constexpr int32_t MAX_IMAGE_TO_CELL_RATIO = 2;

void tell_receiver() {
    HWND receiver = tile_receiver.load();
    if (!loader_stop.load() && receiver != nullptr) PostMessageA(receiver, WM_TILE_LOADED, 0, 0);
}

// Takes the next request, high priority first; sets `queues_empty` when nothing is left.
// The request is stamped with the tileset generation and tile size in force at this moment:
// a tileset load changes both under the same lock, so the pair is always consistent. With
// the queues empty, delivered tiles still untold are told now: this may be the last request.
TileRequest* take_next_request(bool& queues_empty) {
    EnterCriticalSection(&queue_lock);
    TileRequest* request = pop_request(high_queue);
    if (request == nullptr) request = pop_request(normal_queue);
    if (request != nullptr) {
        request->generation = tile_generation;
        request->tile_width = generation_tile_width;
        request->tile_height = generation_tile_height;
    }
    request_in_flight = request;
    queues_empty = high_queue == nullptr && normal_queue == nullptr;
    loader_may_sleep = queues_empty;
    const bool tell = queues_empty && announce_delivered_tiles_locked(true);
    LeaveCriticalSection(&queue_lock);
    if (tell) tell_receiver();
    return request;
}

// Hands `tile` over without waiting: it joins the delivered tiles, and the receiving window
// is told with a posted WM_TILE_LOADED when deliver_tile says so; the window takes every
// delivered tile when it handles that message or paints. A tile of an earlier tileset is freed
// at once. Tiles that no window takes are freed by the next tileset load or by
// stop_tile_loader, so none is lost and none reaches a window that has gone.
void hand_over(CachedTile* tile, uint32_t generation) {
    if (deliver_tile(tile, generation)) tell_receiver();
}

// Converts the decoded rows into the tile, at most tile_height rows of at most tile_width
// pixels. The buffer is not cleared beforehand (a full tile overwrites every byte); what a
// short or narrow image leaves unwritten is zeroed here instead, so no earlier tile's pixels
// ever show through.
void fill_tile_pixels(JpegDecoder& decoder, CachedTile* tile, int32_t tile_width,
                      int32_t tile_height) {
    const TileRowFormat format = {decoder.component_count() == 1 ? 1 : 3,
                                  decoder.output_bytes_per_pixel(), decoder.image_width(),
                                  tile_width};
    const size_t row_bytes = static_cast<size_t>(tile_width) * 4;
    int32_t rows = 0;
    for (; rows < tile_height; ++rows) {
        const uint8_t* scanline = nullptr;
        int32_t length = 0;
        if (decoder.read_scanline(scanline, length) != 0) break;
        uint8_t* destination = tile->pixels + static_cast<size_t>(rows) * row_bytes;
        const int32_t converted = convert_tile_row(scanline, length, format, destination);
        if (converted < tile_width)
            std::memset(destination + static_cast<size_t>(converted) * 4, 0,
                        static_cast<size_t>(tile_width - converted) * 4);
    }
    std::memset(tile->pixels + static_cast<size_t>(rows) * row_bytes, 0,
                static_cast<size_t>(tile_height - rows) * row_bytes);
}

// The decode proper, on a stream that outlives it; 1 when the request's tile was produced.
// The decoder is finished, not destroyed: its memory serves the next decode.
int decode_from_stream(TileRequest* request, JpegInputStream& stream, JpegDecoder& decoder) {
    decoder.create(stream);
    // The tile size of the tileset the request was taken for; should another tileset be
    // loaded meanwhile, the hand-over drops the tile by its generation.
    const int32_t tile_width = request->tile_width;
    const int32_t tile_height = request->tile_height;
    // An image far larger than its cell is refused before it is decoded: most of it would be
    // cut away, and its decode could hold the loader for seconds.
    CachedTile* tile = nullptr;
    if (decoder.status() == 0 && tile_width > 0 && tile_height > 0 &&
        decoder.image_width() <= int64_t{MAX_IMAGE_TO_CELL_RATIO} * tile_width &&
        decoder.image_height() <= int64_t{MAX_IMAGE_TO_CELL_RATIO} * tile_height &&
        decoder.start_decoding() == 0)
        tile = create_cached_tile(request->column, request->row, tile_height * tile_width * 4);
    request->tile = tile;
    if (tile != nullptr) fill_tile_pixels(decoder, tile, tile_width, tile_height);
    decoder.finish();
    if (tile == nullptr) return 0;
    tile->last_used = request->last_requested;
    return 1;
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
    // The decoder object is large: it lives on the heap, not on the loader's small stack.
    JpegDecoder* decoder = new (std::nothrow) JpegDecoder();
    bool idle = true;
    while (!loader_stop.load()) {
        if (idle) WaitForSingleObject(loader_wake_event, LOADER_IDLE_WAIT_MS);
        if (loader_stop.load()) break;
        bool queues_empty = true;
        TileRequest* request = take_next_request(queues_empty);
        idle = queues_empty || request == nullptr;
        if (request == nullptr) continue;
        if (const LoaderDecodeGate gate = loader_decode_gate.load()) gate(request);
        const int produced =
            decoder != nullptr ? decode_tile_with(request, *decoder) : decode_tile(request);
        if (produced == 1) {
            tiles_decoded.fetch_add(1);
            hand_over(request->tile, request->generation);
        } else {
            EnterCriticalSection(&queue_lock);
            request_in_flight = nullptr;
            LeaveCriticalSection(&queue_lock);
        }
        std::free(request->path);
        std::free(request);
    }
    delete decoder;
    return 0;
}

int decode_tile(TileRequest* request) {
    JpegDecoder* decoder = new (std::nothrow) JpegDecoder();
    if (decoder == nullptr) return 0;
    const int produced = decode_tile_with(request, *decoder);
    delete decoder;
    return produced;
}

int decode_tile_with(TileRequest* request, JpegDecoder& decoder) {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    const TileFileRead read = read_tile_file(request->path, bytes, size);
    if (read == TileFileRead::FAILED) return 0;
    if (read == TileFileRead::READ) {
        TileBytesStream stream(bytes, size);
        return decode_from_stream(request, stream, decoder);
    }
    JpegFileStream* stream = new (std::nothrow) JpegFileStream();
    if (stream == nullptr) return 0;
    int produced = 0;
    if (stream->open(request->path)) produced = decode_from_stream(request, *stream, decoder);
    delete stream;
    return produced;
}

void stop_tile_loader() {
    loader_stop.store(true);
    if (loader_wake_event != nullptr) SetEvent(loader_wake_event);
    if (loader_thread == nullptr) return;
    // A decode in progress finishes first; its tile and any that no window took are freed once
    // the loader has left. A loader that does not leave in time keeps them.
    if (WaitForSingleObject(loader_thread, LOADER_STOP_WAIT_MS) == WAIT_OBJECT_0)
        free_tile_list(take_delivered_tiles());
}
