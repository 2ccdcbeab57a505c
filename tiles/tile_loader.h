// The loader thread: takes tile requests from the queues, decodes each tile file into a
// screen-ready pixel buffer and hands it over to the window set as receiver (WM_TILE_LOADED).
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "jpeg/jpeg_decoder.h"
#include "tiles/tile_list.h"

// Raised once by the main thread after its message loop; the loader polls it.
extern std::atomic<bool> loader_stop;
extern HANDLE loader_thread;
// Tiles the loader has decoded and handed over since start-up (for benchmarks and tests).
extern std::atomic<uint32_t> tiles_decoded;
// A test hook, null in the product: when set, a loader calls it with each request it has
// taken, outside queue_lock and before reading the tile file, so a test can hold the loader
// with one request in flight and the rest still queued.
using LoaderDecodeGate = void (*)(const TileRequest* request);
extern std::atomic<LoaderDecodeGate> loader_decode_gate;

void start_tile_loader();
// The window whose procedure takes WM_TILE_LOADED; set by the viewer once that window exists.
void set_tile_receiver(HWND window);
DWORD WINAPI tile_loader_main(LPVOID parameter);
// Decodes the request's tile file into its tile (1), or produces none (0), with a decoder
// object of its own.
int decode_tile(TileRequest* request);
// The same on a decoder object that the caller keeps (the loader's): it is finished, not
// destroyed, so its next decode reuses its memory and tables.
int decode_tile_with(TileRequest* request, JpegDecoder& decoder);
// Raises loader_stop, wakes the loader and waits (bounded) for it to leave; then frees the
// tiles it delivered that no window took.
void stop_tile_loader();
