#include "tests/win32/tile_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "app/main_window.h"
#include "jpeg/jpeg_decoder.h"
#include "tests/win32/window_fixture.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_platform.h"

namespace {

std::string windows_path(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

}  // namespace

std::string tile_data(const std::string& relative) {
    return windows_path(std::string(TILE_TEST_DATA) + "/" + relative);
}

std::string write_tileset_at(const std::string& name, int tile_width, int tile_height,
                             int columns, int rows, const std::string& tile_dir) {
    const std::string path = temp_path(name);
    char body[1024];
    std::snprintf(body, sizeof body,
                  "[Terrava 1.0]\r\nTileSizeX=%d\r\nTileSizeY=%d\r\nTileCountX=%d\r\n"
                  "TileCountY=%d\r\nTileDir=%s\r\n",
                  tile_width, tile_height, columns, rows, tile_dir.c_str());
    write_file(path, body);
    return path;
}

bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        pump_messages();
        if (condition()) return true;
        const DWORD waited = GetTickCount() - start;
        if (waited >= timeout_ms) return false;
        // Wakes on any message (a tile hand-over among them), at the latest after 20 ms.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

namespace {
// Spins until `busy` holds with the queue lock entered, and returns with the lock still held. No
// sleep: a small tile is decoded in well under a millisecond.
bool hold_loader_when(const std::function<bool()>& busy, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        enter_queue_lock();
        if (busy()) return true;
        leave_queue_lock();
        if (GetTickCount() - start >= timeout_ms) return false;
        SwitchToThread();
    }
}

}  // namespace

void hold_loader() { enter_queue_lock(); }

bool hold_loader_with_tile_on_its_way(int32_t column, int32_t row) {
    return hold_loader_when([=] { return tile_on_its_way(column, row); }, TILE_WAIT_MS);
}

void release_loader() { leave_queue_lock(); }

namespace {
// Manual-reset events of the decode gate, made on first use: open, and a loader waiting.
HANDLE gate_open_event = nullptr;
HANDLE loader_at_gate_event = nullptr;

void wait_at_decode_gate(const TileRequest*) {
    SetEvent(loader_at_gate_event);
    WaitForSingleObject(gate_open_event, 4 * TILE_WAIT_MS);
}
}  // namespace

void close_decode_gate() {
    if (gate_open_event == nullptr) {
        gate_open_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        loader_at_gate_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ResetEvent(gate_open_event);
    ResetEvent(loader_at_gate_event);
    loader_decode_gate.store(wait_at_decode_gate);
}

bool wait_for_loader_at_gate() {
    return loader_at_gate_event != nullptr &&
           WaitForSingleObject(loader_at_gate_event, TILE_WAIT_MS) == WAIT_OBJECT_0;
}

void open_decode_gate() {
    loader_decode_gate.store(nullptr);
    if (gate_open_event != nullptr) SetEvent(gate_open_event);
}

std::vector<std::pair<int32_t, int32_t>> queued_tiles(TileRequest* const& head) {
    std::vector<std::pair<int32_t, int32_t>> tiles;
    enter_queue_lock();
    for (const TileRequest* request = head; request != nullptr; request = request->next)
        tiles.emplace_back(request->column, request->row);
    leave_queue_lock();
    return tiles;
}

int cache_records_at(int32_t column, int32_t row) {
    int count = 0;
    for (const CachedTile* tile = tile_cache; tile != nullptr; tile = tile->next)
        if (tile->column == column && tile->row == row) ++count;
    return count;
}

bool take_wake_signal() {
    // Counted where they are given: with several loaders, one waiting may take a signal at
    // once. Signals still pending are taken off, so the next request finds the loaders as
    // unsignalled as a test that holds them expects.
    static uint32_t signals_seen = 0;
    while (take_loader_wake_signal()) {
    }
    const uint32_t signals = loader_wake_signals.load();
    const bool woken = signals != signals_seen;
    signals_seen = signals;
    return woken;
}

ReferenceImage decode_reference(const std::string& path) {
    ReferenceImage image;
    JpegFileStream stream;
    if (!stream.open(path.c_str())) {
        ADD_FAILURE() << "cannot open " << path;
        return image;
    }
    JpegDecoder* decoder = new JpegDecoder();
    decoder->create(stream);
    if (decoder->status() == 0 && decoder->start_decoding() == 0) {
        image.width = decoder->image_width();
        image.height = decoder->image_height();
        image.components = decoder->component_count();
        image.bytes_per_pixel = decoder->output_bytes_per_pixel();
        const uint8_t* row = nullptr;
        int32_t length = 0;
        while (decoder->read_scanline(row, length) == 0) {
            image.scanlines.insert(image.scanlines.end(), row, row + length);
            ++image.rows;
        }
    } else {
        ADD_FAILURE() << "the decoder rejects " << path << " with status " << decoder->status();
    }
    decoder->destroy();
    delete decoder;
    return image;
}

CachedTile* decode_tile_file(const std::string& path, int32_t tile_width, int32_t tile_height,
                             uint32_t last_requested) {
    std::vector<char> owned_path(path.begin(), path.end());
    owned_path.push_back('\0');
    TileRequest request{};
    request.path = owned_path.data();
    request.column = 7;
    request.row = 9;
    request.last_requested = last_requested;
    request.generation = tile_generation;
    request.tile_width = tile_width;
    request.tile_height = tile_height;
    const int produced = decode_tile(&request);
    if (produced != 1) {
        EXPECT_EQ(request.tile, nullptr) << "decode_tile failed for " << path
                                         << " but left a tile behind";
        return nullptr;
    }
    EXPECT_NE(request.tile, nullptr) << "decode_tile reported a tile for " << path;
    return request.tile;
}

uint32_t tile_pixel(const CachedTile* tile, int32_t tile_width, int32_t x, int32_t y) {
    const uint8_t* p = tile->pixels + tile_offset(tile_width, x, y);
    return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

uint32_t window_pixel(int x, int y) {
    HDC dc = GetDC(main_window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(main_window, dc);
    return (uint32_t{GetRValue(colour)} << 16) | (uint32_t{GetGValue(colour)} << 8) |
           GetBValue(colour);
}

bool colours_near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int difference = static_cast<int>((a >> shift) & 255) -
                               static_cast<int>((b >> shift) & 255);
        if (difference > tolerance || difference < -tolerance) return false;
    }
    return true;
}

std::string colour_text(uint32_t colour) {
    char text[40];
    std::snprintf(text, sizeof text, "rgb(%u, %u, %u)", (colour >> 16) & 255,
                  (colour >> 8) & 255, colour & 255);
    return text;
}
