// Scanline to tile-row conversion: byte order, grey fill, and widths that do not match.
#include <gtest/gtest.h>

#include <vector>

#include "tiles/tile_pixels.h"

namespace {

TEST(TilePixels, ColourIsStoredBlueGreenRedZero) {
    const uint8_t red[4] = {255, 0, 0, 0};
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(convert_tile_row(red, 4, {3, 4, 1, 1}, out), 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0, 0, 255, 0}));
}

TEST(TilePixels, GreyFillsEveryChannel) {
    const uint8_t grey[2] = {17, 200};
    uint8_t out[8] = {};
    EXPECT_EQ(convert_tile_row(grey, 2, {1, 1, 2, 2}, out), 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{17, 17, 17, 17, 200, 200, 200, 200}));
}

TEST(TilePixels, WiderImageStaysInsideTheTileRow) {
    std::vector<uint8_t> scanline(4 * 10, 7);
    std::vector<uint8_t> row(4 * 4 + 4, 0xEE);   // one guard pixel past the tile row
    EXPECT_EQ(convert_tile_row(scanline.data(), 40, {3, 4, 10, 4}, row.data()), 4);
    for (int i = 16; i < 20; ++i) EXPECT_EQ(row[i], 0xEE) << "guard byte " << i << " was written";
}

TEST(TilePixels, NarrowerImageLeavesTheRestOfTheRow) {
    std::vector<uint8_t> scanline(3, 50);
    std::vector<uint8_t> row(4 * 8, 0);
    EXPECT_EQ(convert_tile_row(scanline.data(), 3, {1, 1, 3, 8}, row.data()), 3);
    EXPECT_EQ(row[11], 50);
    EXPECT_EQ(row[12], 0) << "pixel 3 has no source and keeps the cleared buffer";
}

TEST(TilePixels, NeverReadsPastTheDeliveredScanline) {
    std::vector<uint8_t> scanline(4 * 2, 1);
    std::vector<uint8_t> row(4 * 8, 0);
    EXPECT_EQ(convert_tile_row(scanline.data(), 8, {3, 4, 8, 8}, row.data()), 2)
        << "the scanline holds two pixels even though the image claims eight";
    EXPECT_EQ(convert_tile_row(nullptr, 0, {3, 4, 8, 8}, row.data()), 0);
}

}  // namespace

namespace {

// The vector loops against the plain ones: every width from 0 to 70 and a full tile row, grey
// and colour, random bytes (the unused fourth source byte included), guard bytes after the row.
TEST(TilePixels, VectorLoopsMatchThePlainOnes) {
    uint32_t seed = 12345;
    const auto next_byte = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (const int32_t components : {1, 3}) {
        const int32_t bytes_per_pixel = components == 1 ? 1 : 4;
        for (int32_t width = 0; width <= 256; width = width < 70 ? width + 1 : width + 186) {
            std::vector<uint8_t> scanline(bytes_per_pixel * width + 1);
            for (uint8_t& b : scanline) b = next_byte();
            const TileRowFormat format{components, bytes_per_pixel, width, 256};
            std::vector<uint8_t> vector_row(4 * width + 16, 0xEE), plain_row(4 * width + 16, 0xEE);
            const int32_t bytes = bytes_per_pixel * width;
            EXPECT_EQ(convert_tile_row(scanline.data(), bytes, format, vector_row.data()),
                      convert_tile_row_scalar(scanline.data(), bytes, format, plain_row.data()));
            EXPECT_EQ(vector_row, plain_row) << components << " component(s), width " << width;
        }
    }
}

}  // namespace
