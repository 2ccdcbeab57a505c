// Arithmetic of the Options dialog: the cache shown in megabytes and the tile count stored
// for a size in megabytes. Platform-free.
#pragma once
#include <cstdint>

constexpr int32_t MIN_CACHE_TILES = 30;
// The field takes at most what a 32-bit process could ever address.
constexpr int32_t MAX_CACHE_MEGABYTES = 4095;

// Megabytes (truncated) that `cache_limit` tiles of 4-byte pixels take.
int32_t cache_megabytes(int32_t tile_width, int32_t tile_height, int32_t cache_limit);

// Tiles for `megabytes`, each step rounded up in turn as the dialog always has; at least
// MIN_CACHE_TILES. Returns 0 for 0 megabytes (meaning: change nothing). Values above
// MAX_CACHE_MEGABYTES count as MAX_CACHE_MEGABYTES.
int32_t cache_tiles_for_megabytes(int32_t megabytes, int32_t tile_width, int32_t tile_height);
