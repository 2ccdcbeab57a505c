// Scanline to screen-pixel conversion for the loader: grey fills blue, green and red;
// colour swaps red and blue and zeroes the fourth byte. The vector loops of
// tile_pixels_sse2.cpp take the whole pixel groups when the decoder's kernels may run; the
// plain loops here do the rest, and everything under the scalar setting.
#include "tiles/tile_pixels.h"

#include "jpeg/simd.h"

namespace {

void convert_pixels_scalar(const uint8_t* scanline, int32_t first, int32_t pixels,
                           const TileRowFormat& format, uint8_t* destination) {
    if (format.component_count == 1) {
        for (int32_t i = first; i < pixels; ++i) {
            const uint8_t grey = scanline[i * format.source_bytes_per_pixel];
            destination[4 * i + 0] = grey;
            destination[4 * i + 1] = grey;
            destination[4 * i + 2] = grey;
            destination[4 * i + 3] = grey;
        }
    } else {
        for (int32_t i = first; i < pixels; ++i) {
            const uint8_t* source = scanline + i * format.source_bytes_per_pixel;
            destination[4 * i + 0] = source[2];
            destination[4 * i + 1] = source[1];
            destination[4 * i + 2] = source[0];
            destination[4 * i + 3] = 0;
        }
    }
}

// Pixels converted by the vector loops (whole groups from the start of the row), or 0.
int32_t convert_pixels_vector(const uint8_t* scanline, int32_t pixels, const TileRowFormat& format,
                              uint8_t* destination) {
#if defined(__SSE2__)
    if (simd_level() == SimdLevel::SCALAR) return 0;
    if (format.component_count == 1 && format.source_bytes_per_pixel == 1)
        return convert_grey_pixels_sse2(scanline, pixels, destination);
    if (format.component_count != 1 && format.source_bytes_per_pixel == 4)
        return convert_colour_pixels_sse2(scanline, pixels, destination);
#else
    (void)scanline, (void)pixels, (void)format, (void)destination;
#endif
    return 0;
}

int32_t pixels_to_convert(const uint8_t* scanline, int32_t scanline_bytes,
                          const TileRowFormat& format) {
    if (scanline == nullptr || format.source_bytes_per_pixel <= 0) return 0;
    int32_t pixels = format.image_width < format.tile_width ? format.image_width : format.tile_width;
    const int32_t available = scanline_bytes / format.source_bytes_per_pixel;
    if (available < pixels) pixels = available;
    return pixels < 0 ? 0 : pixels;
}

}  // namespace

int32_t convert_tile_row(const uint8_t* scanline, int32_t scanline_bytes,
                         const TileRowFormat& format, uint8_t* destination) {
    const int32_t pixels = pixels_to_convert(scanline, scanline_bytes, format);
    if (pixels == 0) return 0;
    const int32_t done = convert_pixels_vector(scanline, pixels, format, destination);
    convert_pixels_scalar(scanline, done, pixels, format, destination);
    return pixels;
}

int32_t convert_tile_row_scalar(const uint8_t* scanline, int32_t scanline_bytes,
                                const TileRowFormat& format, uint8_t* destination) {
    const int32_t pixels = pixels_to_convert(scanline, scanline_bytes, format);
    if (pixels == 0) return 0;
    convert_pixels_scalar(scanline, 0, pixels, format, destination);
    return pixels;
}
