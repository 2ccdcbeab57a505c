// The loader threads on Win32: each takes tile requests from the queues, decodes each tile
// file into a screen-ready pixel buffer and hands it over to the window set as receiver
// (WM_TILE_LOADED). The pool itself (how many, their loop, the stop) is tile_pool.h.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "jpeg/jpeg_decoder.h"
#include "tiles/tile_list.h"
#include "tiles/tile_pool.h"

// Starts the loaders: as many as TERRAVA_LOADERS says, else one per logical processor, at
// most MAX_TILE_LOADERS.
void start_tile_loader();
// The window whose procedure takes WM_TILE_LOADED; set by the viewer once that window exists.
void set_tile_receiver(HWND window);
// Decodes the request's tile file into its tile (1), or produces none (0), with a decoder
// object of its own.
int decode_tile(TileRequest* request);
// The same on a decoder object that the caller keeps (the loader's): it is finished, not
// destroyed, so its next decode reuses its memory and tables.
int decode_tile_with(TileRequest* request, JpegDecoder& decoder);
// Raises loader_stop, wakes the loaders and waits (bounded) for them to leave; then frees the
// tiles they delivered that no window took.
void stop_tile_loader();
