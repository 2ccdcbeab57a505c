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
