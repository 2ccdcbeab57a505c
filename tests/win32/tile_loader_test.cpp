// Tile decoding and the loader thread with the real window: screen pixels from colour, grey,
// truncated and odd-sized JPEG tiles, files that cannot be read, tiles that arrive and are
// blitted without a repaint, and a tileset switch while a decode is in flight.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/main_window.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "tests/win32/tile_test_support.h"
#include "tests/win32/window_fixture.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_loader.h"

namespace {

constexpr int32_t TILE = 64;

// Compares the tile's pixels (x < width, y < height) with the decoder's own scanlines:
// colour as blue, green, red, 0; grey in blue, green and red. Reports the first mismatch.
void expect_tile_holds_image(const CachedTile* tile, const ReferenceImage& image, int32_t width,
                             int32_t height, const char* what) {
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* source = image.pixel(x, y);
            const uint8_t* stored = tile->pixels + tile_offset(TILE, x, y);
            const bool grey = image.components == 1;
            const uint8_t expected[3] = {grey ? source[0] : source[2], source[grey ? 0 : 1],
                                         source[0]};
            if (stored[0] != expected[0] || stored[1] != expected[1] ||
                stored[2] != expected[2] || (!grey && stored[3] != 0)) {
                ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") holds bytes "
                              << int{stored[0]} << "," << int{stored[1]} << ","
                              << int{stored[2]} << "," << int{stored[3]} << ", expected "
                              << int{expected[0]} << "," << int{expected[1]} << ","
                              << int{expected[2]} << (grey ? ",any" : ",0");
                return;
            }
        }
    }
}

// True when the tile holds nothing but zero bytes from (x0, y0) to the end of each row
// (x0 > 0) or in whole rows from y0 down.
bool tile_is_clear(const CachedTile* tile, int32_t x0, int32_t y0) {
    for (int32_t y = y0; y < TILE; ++y)
        for (int32_t x = x0; x < TILE; ++x)
            for (int b = 0; b < 4; ++b)
                if (tile->pixels[tile_offset(TILE, x, y) + b] != 0) return false;
    return true;
}

// Pixel buffers of freed tiles are used again as they are: leaves a few filled with 0xAB for
// the next tiles of this size, so what a decode does not write shows up.
void leave_dirty_buffers() {
    CachedTile* tiles[3];
    for (CachedTile*& tile : tiles) {
        tile = create_cached_tile(0, 0, TILE * TILE * 4);
        ASSERT_NE(tile, nullptr);
        std::memset(tile->pixels, 0xAB, TILE * TILE * 4);
    }
    for (CachedTile* tile : tiles) free_cached_tile(tile);
}

TEST(TileDecoding, ColourIsStoredBlueGreenRedZero) {
    const ReferenceImage image = decode_reference(tile_data("single/red.jpg"));
    ASSERT_EQ(image.components, 3);
    ASSERT_EQ(image.pixel(10, 10)[0], 255) << "the decoder should give red 255 here";
    ASSERT_EQ(image.pixel(10, 10)[2], 0) << "the decoder should give blue 0 here";
    CachedTile* tile = decode_tile_file(tile_data("single/red.jpg"), TILE, TILE, 4321);
    ASSERT_NE(tile, nullptr);
    const uint8_t* stored = tile->pixels + tile_offset(TILE, 10, 10);
    EXPECT_EQ(stored[0], 0) << "byte 0 is blue";
    EXPECT_EQ(stored[1], image.pixel(10, 10)[1]) << "byte 1 is green";
    EXPECT_EQ(stored[2], 255) << "byte 2 is red";
    EXPECT_EQ(stored[3], 0) << "byte 3 is zero";
    expect_tile_holds_image(tile, image, TILE, TILE, "red.jpg");
    EXPECT_EQ(tile->column, 7);
    EXPECT_EQ(tile->row, 9);
    EXPECT_EQ(tile->pixel_bytes, TILE * TILE * 4);
    EXPECT_EQ(tile->last_used, 4321u) << "a new tile counts from its request's tick";
    free_cached_tile(tile);
}

TEST(TileDecoding, GreyFillsBlueGreenAndRed) {
    const ReferenceImage image = decode_reference(tile_data("single/grey.jpg"));
    ASSERT_EQ(image.components, 1);
    ASSERT_NE(image.pixel(0, 0)[0], image.pixel(40, 20)[0]) << "the gradient should vary";
    CachedTile* tile = decode_tile_file(tile_data("single/grey.jpg"), TILE, TILE);
    ASSERT_NE(tile, nullptr);
    expect_tile_holds_image(tile, image, TILE, TILE, "grey.jpg");
    free_cached_tile(tile);
}

TEST(TileDecoding, TruncatedTileIsDeliveredWithItsDecodedRows) {
    const ReferenceImage whole = decode_reference(tile_data("single/pattern.jpg"));
    ASSERT_EQ(whole.rows, TILE);
    CachedTile* tile = decode_tile_file(tile_data("single/pattern-cut.jpg"), TILE, TILE);
    ASSERT_NE(tile, nullptr) << "a truncated tile must still be delivered";
    // The cut leaves well over the first MCU row (16 lines at 2x2 sampling) intact.
    expect_tile_holds_image(tile, whole, TILE, 16, "pattern-cut.jpg, rows before the cut");
    free_cached_tile(tile);
}

TEST(TileDecoding, ImageOfAnotherSizeStaysInsideTheTile) {
    load(write_tileset("any-64.tvt", TILE, TILE, 1, 1));   // spare buffers are of this size
    {
        const ReferenceImage image = decode_reference(tile_data("single/wide.jpg"));
        ASSERT_EQ(image.width, 96);
        CachedTile* tile = decode_tile_file(tile_data("single/wide.jpg"), TILE, TILE);
        ASSERT_NE(tile, nullptr);
        // Each tile row holds the first 64 pixels of its image row, not the spill of the
        // row above.
        expect_tile_holds_image(tile, image, TILE, TILE, "wide.jpg (96 pixels in a 64 tile)");
        free_cached_tile(tile);
    }
    {
        const ReferenceImage image = decode_reference(tile_data("single/narrow.jpg"));
        ASSERT_EQ(image.width, 40);
        leave_dirty_buffers();
        CachedTile* tile = decode_tile_file(tile_data("single/narrow.jpg"), TILE, TILE);
        ASSERT_NE(tile, nullptr);
        expect_tile_holds_image(tile, image, 40, TILE, "narrow.jpg (40 pixels in a 64 tile)");
        EXPECT_TRUE(tile_is_clear(tile, 40, 0))
            << "narrow.jpg: pixels 40..63 of each row should stay cleared";
        free_cached_tile(tile);
    }
    {
        const ReferenceImage image = decode_reference(tile_data("single/short.jpg"));
        ASSERT_EQ(image.height, 40);
        leave_dirty_buffers();
        CachedTile* tile = decode_tile_file(tile_data("single/short.jpg"), TILE, TILE);
        ASSERT_NE(tile, nullptr);
        expect_tile_holds_image(tile, image, TILE, 40, "short.jpg (40 rows in a 64 tile)");
        EXPECT_TRUE(tile_is_clear(tile, 0, 40)) << "short.jpg: rows 40..63 should stay cleared";
        free_cached_tile(tile);
    }
}

TEST(TileDecoding, FileThatCannotBeDecodedProducesNoTile) {
    const std::string not_jpeg = temp_path("not-a-jpeg.jpg");
    write_file(not_jpeg, "[Terrava 1.0]\r\nThis is not an image.\r\n");
    const std::string directory = temp_path("a-directory.jpg");
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string empty = temp_path("empty.jpg");
    write_file(empty, "");
    for (const std::string& path :
         {temp_path("never-written.jpg"), not_jpeg, directory, empty}) {
        EXPECT_EQ(decode_tile_file(path, TILE, TILE), nullptr)
            << "expected no tile from " << path;
    }
}

// Tiles that the loader delivers, through painting and the window procedure.
class TileLoader : public ::testing::Test {
protected:
    void SetUp() override {
        reset_view();
        pump_messages();
    }
    void TearDown() override { open_decode_gate(); }
    // Loads a tileset without painting, so the test decides when tiles are requested.
    static void load_quietly(const std::string& path) {
        load_tileset(main_window, path.c_str());
        ASSERT_EQ(tileset.loaded, 1);
        ValidateRect(main_window, nullptr);
    }
    // Nothing queued, in flight or delivered.
    static bool loader_idle() {
        hold_loader();
        const bool idle = high_queue == nullptr && count_requests_in_flight() == 0 &&
                          count_delivered_tiles() == 0;
        release_loader();
        return idle;
    }
    static bool all_cached(int32_t columns, int32_t rows) {
        for (int32_t row = 0; row < rows; ++row)
            for (int32_t column = 0; column < columns; ++column)
                if (find_cached_tile(column, row) == nullptr) return false;
        return true;
    }
};

TEST_F(TileLoader, TilesArriveAndAreBlittedWithoutARepaint) {
    load_quietly(write_tileset_at("mosaic.tvt", TILE, TILE, 5, 4, tile_data("mosaic")));
    const RECT client = client_rect();
    ASSERT_GT(client.right, 5 * TILE + 20);
    ASSERT_GT(client.bottom, 4 * TILE + 20);
    HDC dc = GetDC(main_window);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(main_window, dc);
    {
        OffscreenView view;
        paint_view(view.dc(), view.client());   // every cell is missing: all 20 are queued
    }
    ASSERT_TRUE(wait_until([] { return all_cached(5, 4); }))
        << "not every tile of the 5x4 mosaic arrived; cache holds " << tile_cache_count;
    EXPECT_EQ(window_pixel(5 * TILE + 10, 10), 0u)
        << "the window was repainted, so the tiles on it prove nothing about arrivals";
    for (int32_t row = 0; row < 4; ++row) {
        for (int32_t column = 0; column < 5; ++column) {
            const CachedTile* tile = find_cached_tile(column, row);
            const uint32_t expected = tile_pixel(tile, TILE, 32, 32);
            const uint32_t nominal = ((40u + 50 * column) << 16) | ((40u + 60 * row) << 8) | 120;
            EXPECT_TRUE(colours_near(expected, nominal, 4))
                << "tile (" << column << ", " << row << ") holds " << colour_text(expected)
                << ", expected about " << colour_text(nominal);
            const uint32_t shown = window_pixel(column * TILE + 32, row * TILE + 32);
            EXPECT_EQ(shown, expected) << "window at the centre of tile (" << column << ", "
                                       << row << ") shows " << colour_text(shown);
        }
    }

    // A later paint blits every cell from the cache; cells beyond the mosaic stay empty.
    OffscreenView view;
    view.fill(0);
    paint_view(view.dc(), view.client());
    const CachedTile* corner = find_cached_tile(4, 3);
    EXPECT_EQ(view.pixel(4 * TILE + 63, 3 * TILE + 63), tile_pixel(corner, TILE, 63, 63))
        << "painted view at the last pixel of tile (4, 3)";
    const COLORREF window_colour = GetSysColor(COLOR_WINDOW);
    const uint32_t empty = (uint32_t{GetRValue(window_colour)} << 16) |
                           (uint32_t{GetGValue(window_colour)} << 8) | GetBValue(window_colour);
    EXPECT_EQ(view.pixel(5 * TILE + 10, 10), empty)
        << "a cell beyond the mosaic should show the window colour";
}

TEST_F(TileLoader, TilesetSwitchShowsNoTileOfTheEarlierTileset) {
    // The load queues the 12 red tiles; the loader stops at the decode gate with the first it
    // takes, so the rest stay queued. The load of the blue ones follows while it waits there.
    close_decode_gate();
    load_quietly(write_tileset_at("old.tvt", TILE, TILE, 4, 3, tile_data("old")));
    ASSERT_TRUE(wait_for_loader_at_gate()) << "the loader took no red tile within "
                                           << TILE_WAIT_MS << " ms";
    const auto red_requests = [] {
        int count = 0;
        for (const TileRequest* request = high_queue; request != nullptr; request = request->next)
            count += std::strstr(request->path, "old") != nullptr;
        return count;
    };
    hold_loader();
    // Every loader that took a red request waits at the gate with it; none has delivered.
    const int red_left = red_requests();
    const int red_in_flight = count_requests_in_flight();
    load_quietly(write_tileset_at("new.tvt", TILE, TILE, 4, 3, tile_data("new")));
    const int red_left_after = red_requests() + count_delivered_tiles();
    release_loader();
    open_decode_gate();
    EXPECT_GE(red_in_flight, 1) << "expected a red request in flight at the switch";
    EXPECT_GE(red_left, 1) << "expected red requests still queued at the switch";
    EXPECT_EQ(red_left + red_in_flight, 12)
        << "expected the 12 red requests queued or in flight at the switch, " << red_left
        << " queued and " << red_in_flight << " in flight";
    EXPECT_EQ(red_left_after, 0) << "red requests or deliveries survived the switch";
    InvalidateRect(main_window, nullptr, FALSE);
    ASSERT_TRUE(wait_until([] { return all_cached(4, 3) && loader_idle(); }))
        << "the blue tiles did not all arrive; cache holds " << tile_cache_count;

    EXPECT_EQ(tile_cache_count, 12) << "records other than the 12 blue tiles were cached";
    EXPECT_EQ(tiles_alive.load(), tile_cache_count)
        << "tile records outside the cache: the red tile in flight at the switch leaked";
    OffscreenView view;
    paint_view(view.dc(), view.client());
    for (const CachedTile* tile = tile_cache; tile != nullptr; tile = tile->next) {
        const int x = tile->column * TILE + 32, y = tile->row * TILE + 32;
        const uint32_t held = tile_pixel(tile, TILE, 32, 32);
        EXPECT_TRUE(colours_near(held, 0x0000FE, 4))
            << "cached tile (" << tile->column << ", " << tile->row << ") holds "
            << colour_text(held) << ", expected blue";
        EXPECT_TRUE(colours_near(window_pixel(x, y), 0x0000FE, 4))
            << "window shows " << colour_text(window_pixel(x, y)) << " at tile ("
            << tile->column << ", " << tile->row << "), expected blue";
        EXPECT_TRUE(colours_near(view.pixel(x, y), 0x0000FE, 4))
            << "a repaint shows " << colour_text(view.pixel(x, y)) << " at tile ("
            << tile->column << ", " << tile->row << "), expected blue";
    }
}

}  // namespace
