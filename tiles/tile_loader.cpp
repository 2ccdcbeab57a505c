// The loaders' work on Win32: read a tile file whole, decode it into a new CachedTile and tell
// the receiving window (see tell_receiver); the pool (tile_pool.h) runs it on every loader.
// Each loader keeps one decoder object for all its tiles, so that each decode reuses the
// previous one's buffers and (for tiles coded alike) Huffman tables.
#include "tiles/tile_loader.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "jpeg/jpeg_decoder.h"
#include "jpeg/memory_stream.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_file.h"
#include "tiles/tile_pixels.h"
#include "tiles/tile_platform.h"

namespace {
// Set by the viewer once its window exists; until then nobody takes a decoded tile.
std::atomic<HWND> tile_receiver(nullptr);

constexpr DWORD LOADER_STOP_WAIT_MS = 5000;
// A loader's file buffer is trimmed back to this after each tile (see tile_cache.h).
constexpr size_t KEPT_FILE_BUFFER_BYTES = 1u << 20;
// A tile image may measure up to this many cells across and down.
constexpr int32_t MAX_IMAGE_TO_CELL_RATIO = 2;

void tell_receiver() {
    HWND receiver = tile_receiver.load();
    if (!loader_stop.load() && receiver != nullptr) PostMessageA(receiver, WM_TILE_LOADED, 0, 0);
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
    // loaded meanwhile, the hand-over drops the tile by its generation. A request for a
    // reduced tile is decoded at that reduction, into a tile of the reduced size.
    const int32_t tile_width = request->tile_width;
    const int32_t tile_height = request->tile_height;
    const int32_t reduction = request->reduction_log2;
    // An image far larger than its cell is refused before it is decoded: most of it would be
    // cut away, and its decode could hold the loader for seconds.
    CachedTile* tile = nullptr;
    if (decoder.status() == 0 && tile_width > 0 && tile_height > 0 &&
        decoder.frame_width() <= int64_t{MAX_IMAGE_TO_CELL_RATIO} * tile_width &&
        decoder.frame_height() <= int64_t{MAX_IMAGE_TO_CELL_RATIO} * tile_height &&
        (reduction == 0 ||
         (reduction > 0 && reduction <= 3 && decoder.set_scale(1 << reduction) == 0)) &&
        decoder.start_decoding() == 0)
        tile = create_cached_tile(*request, reduced_tile_extent(tile_width, reduction),
                                  reduced_tile_extent(tile_height, reduction));
    request->tile = tile;
    if (tile != nullptr) fill_tile_pixels(decoder, tile, tile->width, tile->height);
    decoder.finish();
    if (tile == nullptr) return 0;
    tile->last_used = request->last_requested;
    return 1;
}

// The pool's work on this platform.
void* make_loader_decoder() {
    // The decoder object is large: it lives on the heap, not on the loader's small stack.
    return new (std::nothrow) JpegDecoder();
}

int decode_with_loader_decoder(TileRequest* request, void* decoder) {
    const int produced = decoder != nullptr
                             ? decode_tile_with(request, *static_cast<JpegDecoder*>(decoder))
                             : decode_tile(request);
    trim_tile_file_buffer(KEPT_FILE_BUFFER_BYTES);
    return produced;
}

void end_loader(void* decoder) {
    delete static_cast<JpegDecoder*>(decoder);
    trim_tile_file_buffer(0);
}
}  // namespace

void start_tile_loader() {
    const TileLoaderJob job = {make_loader_decoder, decode_with_loader_decoder, end_loader,
                               tell_receiver};
    start_tile_loaders(choose_loader_count(std::getenv("TERRAVA_LOADERS"),
                                           logical_processor_count()),
                       job);
}

void set_tile_receiver(HWND window) { tile_receiver.store(window); }

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
        JpegMemoryStream stream(bytes, size);
        return decode_from_stream(request, stream, decoder);
    }
    JpegFileStream* stream = new (std::nothrow) JpegFileStream();
    if (stream == nullptr) return 0;
    int produced = 0;
    stream->file = open_tile_file_stream(request->path);
    if (stream->file != nullptr) produced = decode_from_stream(request, *stream, decoder);
    delete stream;
    return produced;
}

void stop_tile_loader() {
    // Decodes in progress finish first; their tiles and any that no window took are freed
    // once every loader has left. A loader that does not leave in time keeps them.
    stop_tile_loaders(LOADER_STOP_WAIT_MS);
}
