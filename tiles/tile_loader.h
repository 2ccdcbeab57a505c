// The loader thread: takes tile requests from the queues, decodes each tile file into a
// screen-ready pixel buffer and hands it to the main window with WM_TILE_LOADED.
#pragma once
#include <windows.h>

#include <atomic>

#include "tiles/tile_list.h"

// Raised once by the main thread after its message loop; the loader polls it.
extern std::atomic<bool> loader_stop;
extern HANDLE loader_thread;

void start_tile_loader();
DWORD WINAPI tile_loader_main(LPVOID parameter);
int decode_tile(TileRequest* request);
// Raises loader_stop, wakes the loader and waits (bounded) for it to leave.
void stop_tile_loader();
