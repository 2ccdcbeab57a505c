// The cache-size conversions. The ceiling of each step is kept as it always was (so 100 MB of
// 300x200 tiles is 438, not 437), but computed in 64 bits so no product wraps.
#include "app/options_math.h"

#include <limits>

int32_t cache_megabytes(int32_t tile_width, int32_t tile_height, int32_t cache_limit) {
    const int64_t bytes = int64_t{tile_height} * tile_width * cache_limit;
    const int64_t megabytes = bytes / 1024 / 256;   // with the 4 bytes per pixel: / 2^20 * 4
    if (megabytes > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (megabytes < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(megabytes);
}

int32_t cache_tiles_for_megabytes(int32_t megabytes, int32_t tile_width, int32_t tile_height) {
    if (megabytes == 0) return 0;
    if (tile_width <= 0 || tile_height <= 0) return MIN_CACHE_TILES;
    int64_t m = megabytes < 0 ? 0 : megabytes;
    if (m > MAX_CACHE_MEGABYTES) m = MAX_CACHE_MEGABYTES;
    const int64_t a = (m * 1024 + tile_width - 1) / tile_width;
    const int64_t b = (a * 1024 + tile_height - 1) / tile_height;
    int64_t tiles = (b + 3) / 4;
    if (tiles < MIN_CACHE_TILES) tiles = MIN_CACHE_TILES;
    if (tiles > std::numeric_limits<int32_t>::max()) tiles = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(tiles);
}
