// The loader thread: takes tile requests from the queues, decodes each tile file into a
// screen-ready pixel buffer and hands it over to the window set as receiver (WM_TILE_LOADED).
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "tiles/tile_list.h"

// Raised once by the main thread after its message loop; the loader polls it.
extern std::atomic<bool> loader_stop;
extern HANDLE loader_thread;
// Tiles the loader has decoded and handed over since start-up (for benchmarks and tests).
extern std::atomic<uint32_t> tiles_decoded;

void start_tile_loader();
// The window whose procedure takes WM_TILE_LOADED; set by the viewer once that window exists.
void set_tile_receiver(HWND window);
DWORD WINAPI tile_loader_main(LPVOID parameter);
int decode_tile(TileRequest* request);
// Raises loader_stop, wakes the loader and waits (bounded) for it to leave; then frees the
// tiles it delivered that no window took.
void stop_tile_loader();
