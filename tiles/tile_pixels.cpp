// Scanline to screen-pixel conversion for the loader: grey fills blue, green and red;
// colour swaps red and blue and zeroes the fourth byte.
#include "tiles/tile_pixels.h"

int32_t convert_tile_row(const uint8_t* scanline, int32_t scanline_bytes,
                         const TileRowFormat& format, uint8_t* destination) {
    if (scanline == nullptr || format.source_bytes_per_pixel <= 0) return 0;
    int32_t pixels = format.image_width < format.tile_width ? format.image_width : format.tile_width;
    const int32_t available = scanline_bytes / format.source_bytes_per_pixel;
    if (available < pixels) pixels = available;
    if (pixels <= 0) return 0;

    if (format.component_count == 1) {
        for (int32_t i = 0; i < pixels; ++i) {
            const uint8_t grey = scanline[i * format.source_bytes_per_pixel];
            destination[4 * i + 0] = grey;
            destination[4 * i + 1] = grey;
            destination[4 * i + 2] = grey;
            destination[4 * i + 3] = grey;
        }
    } else {
        for (int32_t i = 0; i < pixels; ++i) {
            const uint8_t* source = scanline + i * format.source_bytes_per_pixel;
            destination[4 * i + 0] = source[2];
            destination[4 * i + 1] = source[1];
            destination[4 * i + 2] = source[0];
            destination[4 * i + 3] = 0;
        }
    }
    return pixels;
}
