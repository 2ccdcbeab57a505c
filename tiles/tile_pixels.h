// Turning one decoded scanline into one row of a tile's screen pixels (blue, green, red, 0).
// Platform-free so it is tested natively.
#pragma once
#include <cstdint>

struct TileRowFormat {
    int32_t component_count;         // 1 grey, 3 colour
    int32_t source_bytes_per_pixel;  // 1 grey, 4 colour (red, green, blue, unused)
    int32_t image_width;             // pixels in the decoded scanline
    int32_t tile_width;              // pixels in the tile row
};

// Converts the smaller of the image and tile widths (and never more than `scanline_bytes`
// holds); the rest of the destination row is left as it is. Returns the pixels converted.
int32_t convert_tile_row(const uint8_t* scanline, int32_t scanline_bytes,
                         const TileRowFormat& format, uint8_t* destination);

// The same with the plain loops only: the twin that tests hold the vector loops to.
int32_t convert_tile_row_scalar(const uint8_t* scanline, int32_t scanline_bytes,
                                const TileRowFormat& format, uint8_t* destination);

// Vector loops (x86 builds): convert the leading whole groups of `pixels` and return how many
// pixels they did. Colour sources are 4 bytes per pixel, grey sources 1.
int32_t convert_colour_pixels_sse2(const uint8_t* source, int32_t pixels, uint8_t* destination);
int32_t convert_grey_pixels_sse2(const uint8_t* source, int32_t pixels, uint8_t* destination);
