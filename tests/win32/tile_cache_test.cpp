// The tile cache and the load queues with the real window and loader thread: arrivals and
// eviction, a view larger than the configured limit, arrivals for another tileset, drawing on
// arrival, and the queue rules (newest first, repeats keep their place, cached tiles and
// tiles on their way are not queued, vanished files). Queue tests hold the loader off the
// queues while they inspect them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "app/zoom_view.h"
#include "tests/win32/tile_test_support.h"
#include "tests/win32/window_fixture.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_platform.h"

namespace {

using Tiles = std::vector<std::pair<int32_t, int32_t>>;

constexpr int32_t TILE = 64;
constexpr int32_t TILE_BYTES = TILE * TILE * 4;
constexpr int32_t HIDDEN_ROW = 100;   // far below the view: arrivals there are not drawn

class TileCache : public ::testing::Test {
protected:
    void SetUp() override {
        // Its tile directory does not exist, so painting the view queues nothing.
        load(write_tileset("cache.tvt", TILE, TILE, 4, 3));
        ASSERT_EQ(tileset.loaded, 1);
        reset_view();
        ASSERT_EQ(tile_cache_count, 0) << "a tileset load empties the cache";
        tileset.cache_limit = 30;
    }

    // A tile of the current tileset arriving out of view, so its last_used stays as given; with
    // the configured limit alone, and no cell in view.
    static void arrive(int32_t column, uint32_t last_used) {
        CachedTile* tile = create_cached_tile(column, HIDDEN_ROW, TILE_BYTES);
        ASSERT_NE(tile, nullptr);
        tile->last_used = last_used;
        cache_arrived_tile(tile, tile_generation, tileset.cache_limit, NO_CELLS);
    }
    static bool cached(int32_t column) { return find_cached_tile(column, HIDDEN_ROW) != nullptr; }
};

TEST_F(TileCache, ArrivalOverTheLimitEvictsTheTileUsedLongestAgo) {
    for (int32_t i = 0; i < 30; ++i) arrive(i, i == 7 ? 5 : 1000 + i);
    EXPECT_EQ(tile_cache_count, 30);
    arrive(30, 2000);
    EXPECT_EQ(tile_cache_count, 30) << "the 31st arrival at limit 30 evicts exactly one tile";
    EXPECT_FALSE(cached(7)) << "tile 7 had the smallest last_used and should have gone";
    for (int32_t i = 0; i <= 30; ++i) {
        if (i == 7) continue;
        EXPECT_TRUE(cached(i)) << "tile " << i << " was evicted as well";
    }

    tileset.cache_limit = 10;
    arrive(31, 3000);
    EXPECT_EQ(tile_cache_count, 30) << "a lowered limit still evicts one tile per arrival";
    EXPECT_FALSE(cached(0)) << "tile 0 was then the one used longest ago";
}

TEST_F(TileCache, TheTileThatJustArrivedIsNeverEvicted) {
    tileset.cache_limit = 0;
    arrive(1, 500);
    EXPECT_EQ(tile_cache_count, 1) << "a single record is never evicted, whatever the limit";
    arrive(2, 0);
    EXPECT_EQ(tile_cache_count, 1);
    EXPECT_TRUE(cached(2)) << "the newest arrival stays although its last_used is the smallest";
    EXPECT_FALSE(cached(1));
}

TEST_F(TileCache, EqualSmallestTicksEvictTheNewerArrival) {
    tileset.cache_limit = 3;
    arrive(1, 100);
    arrive(2, 100);
    arrive(3, 300);
    arrive(4, 400);
    EXPECT_EQ(tile_cache_count, 3);
    EXPECT_FALSE(cached(2)) << "of two tiles with the same smallest last_used the newer goes";
    EXPECT_TRUE(cached(1));
    EXPECT_TRUE(cached(3));
    EXPECT_TRUE(cached(4));
}

TEST_F(TileCache, ArrivalsForAnotherTilesetAreDropped) {
    // Through the window procedure, as the loader delivers them: wParam is the generation.
    CachedTile* stale = create_cached_tile(1, HIDDEN_ROW, TILE_BYTES);
    SendMessageA(main_window, WM_TILE_LOADED, tile_generation - 1,
                 reinterpret_cast<LPARAM>(stale));
    EXPECT_EQ(tile_cache_count, 0) << "a tile decoded before the last tileset load was cached";

    CachedTile* other_size = create_cached_tile(2, HIDDEN_ROW, 32 * 32 * 4);
    SendMessageA(main_window, WM_TILE_LOADED, tile_generation,
                 reinterpret_cast<LPARAM>(other_size));
    EXPECT_EQ(tile_cache_count, 0) << "a tile whose buffer does not fit the tile size was cached";

    EXPECT_EQ(SendMessageA(main_window, WM_TILE_LOADED, tile_generation, 0), 0);
    EXPECT_EQ(tile_cache_count, 0) << "a null tile was counted";

    CachedTile* current = create_cached_tile(3, HIDDEN_ROW, TILE_BYTES);
    SendMessageA(main_window, WM_TILE_LOADED, tile_generation,
                 reinterpret_cast<LPARAM>(current));
    EXPECT_EQ(find_cached_tile(3, HIDDEN_ROW), current) << "a tile of this tileset was dropped";
}

// A view that shows more cells than the configured limit keeps all of them: once they have
// arrived, neither a repaint nor a step that keeps them in view asks for any tile again.
TEST_F(TileCache, ViewLargerThanTheLimitKeepsEveryVisibleTile) {
    constexpr int32_t COLUMNS = 8, ROWS = 5;   // 40 cells, all in view, limit 30
    const RECT client = client_rect();
    ASSERT_GT(client.right, COLUMNS * TILE + 20);
    ASSERT_GT(client.bottom, ROWS * TILE + 20);
    const std::string dir = temp_path("wide-view");
    for (int32_t row = 0; row < ROWS; ++row) {
        char name[300];
        std::snprintf(name, sizeof name, "%s\\%03d", dir.c_str(), row);
        CreateDirectoryA(dir.c_str(), nullptr);
        CreateDirectoryA(name, nullptr);
        for (int32_t column = 0; column < COLUMNS; ++column) {
            std::snprintf(name, sizeof name, "%s\\%03d\\%03d.jpg", dir.c_str(), row, column);
            ASSERT_TRUE(CopyFileA(tile_data("mosaic/000/000.jpg").c_str(), name, FALSE)) << name;
        }
    }
    load(write_tileset_at("wide-view.tvt", TILE, TILE, COLUMNS, ROWS, dir));
    reset_view();
    tileset.cache_limit = 30;
    const auto all_cached = [] {
        for (int32_t row = 0; row < ROWS; ++row)
            for (int32_t column = 0; column < COLUMNS; ++column)
                if (find_cached_tile(column, row) == nullptr) return false;
        return true;
    };
    ASSERT_TRUE(wait_until(all_cached)) << "the 40 tiles never were all cached at once; cache "
                                        << "holds " << tile_cache_count;
    EXPECT_EQ(tile_cache_count, COLUMNS * ROWS);
    EXPECT_EQ(tileset.cache_limit, 30) << "the configured limit itself changed";

    take_wake_signal();
    const int32_t scroll_steps[][2] = {{0, 0}, {10, 0}, {0, 10}, {0, 0}};
    for (const auto& step : scroll_steps) {
        scroll_x = step[0];
        scroll_y = step[1];
        OffscreenView view;
        paint_view(view.dc(), view.client());
        EXPECT_TRUE(queued_tiles(high_queue).empty())
            << "a paint at (" << step[0] << ", " << step[1] << ") queued tiles again";
        EXPECT_FALSE(take_wake_signal())
            << "a paint at (" << step[0] << ", " << step[1] << ") woke the loader";
    }
    EXPECT_EQ(tile_cache_count, COLUMNS * ROWS);
    reset_view();
}

TEST_F(TileCache, VisibleArrivalIsDrawnAtOnceWithTheLabelsOverIt) {
    load(write_tileset("cache-label.tvt", TILE, TILE, 4, 3,
                       "LabelCount=1\r\nLabel1X=96\r\nLabel1Y=90\r\nLabel1Len=4\r\n"
                       "Label1Text=WWWW\r\n"));
    reset_view();
    pump_messages();
    // Tile (1, 1) covers client pixels 64..127 in both directions; the label sits inside it.
    CachedTile* tile = create_cached_tile(1, 1, TILE_BYTES);
    ASSERT_NE(tile, nullptr);
    for (int32_t i = 0; i < TILE * TILE; ++i) {
        tile->pixels[4 * i + 0] = 30;    // blue
        tile->pixels[4 * i + 1] = 160;   // green
        tile->pixels[4 * i + 2] = 220;   // red
    }
    tile->last_used = 7;
    on_tile_loaded(tile, tile_generation);
    EXPECT_NE(tile->last_used, 7u) << "a tile drawn on arrival gets the current tick";
    EXPECT_EQ(window_pixel(64, 64), 0xDCA01Eu)
        << "top-left pixel of the new tile on the window: " << colour_text(window_pixel(64, 64));
    EXPECT_EQ(window_pixel(127, 127), 0xDCA01Eu)
        << "bottom-right pixel: " << colour_text(window_pixel(127, 127));
    int label_pixels = 0;
    for (int y = 64; y < 128; ++y)
        for (int x = 64; x < 128; ++x) label_pixels += window_pixel(x, y) != 0xDCA01Eu;
    EXPECT_GT(label_pixels, 0) << "the label over tile (1, 1) was not drawn again after the blit";
}

TEST_F(TileCache, ArrivalIsDrawnWhileItsEdgeTouchesTheClientArea) {
    const RECT client = client_rect();
    struct Case {
        int32_t scroll_x, scroll_y;
        bool drawn;
        const char* where;
    };
    // Tile (0, 0) at client x = -scroll_x, y = -scroll_y.
    const Case cases[] = {
        {-client.right, 0, true, "left edge on the client's right edge"},
        {-client.right - 1, 0, false, "one pixel right of the client area"},
        {0, TILE, true, "bottom edge on the client's top edge"},
        {0, TILE + 1, false, "one pixel above the client area"},
        {0, -client.bottom, true, "top edge on the client's bottom edge"},
        {0, -client.bottom - 1, false, "one pixel below the client area"},
    };
    for (const Case& c : cases) {
        scroll_x = c.scroll_x;
        scroll_y = c.scroll_y;
        CachedTile* tile = create_cached_tile(0, 0, TILE_BYTES);
        ASSERT_NE(tile, nullptr);
        tile->last_used = 7;
        on_tile_loaded(tile, tile_generation);
        EXPECT_EQ(tile->last_used != 7u, c.drawn)
            << c.where << ": expected the tile " << (c.drawn ? "drawn" : "left undrawn")
            << " (last_used " << tile->last_used << ")";
    }
    reset_view();
}

// Each cell shows its own tile (its level and reduction) when that is cached, whatever other
// pictures of the spot the cache holds; without it, the finest other picture cached (a coarser
// tile stretched or a finer one shrunk); with nothing, the window colour. Tiles are made by
// hand in distinct colours; the tileset's folder does not exist, so nothing is requested.
TEST_F(TileCache, EachZoomDrawsItsOwnLevelOrAStandInNeverAStaleOne) {
    constexpr uint32_t WINDOW = 0xFFFFFF, RED = 0xDC1E1E, BLUE = 0x1E1EDC, GREEN = 0x1EDC1E,
                       YELLOW = 0xDCDC1E;
    // A tile of one colour, or of `corner` in its lower right quarter.
    struct Placed { TileKey key; uint32_t colour; uint32_t corner = 0; };
    struct Case {
        const char* what;
        int32_t zoom;
        std::vector<Placed> cached;
        uint32_t expected;   // at client (5, 5)
        int32_t scroll = 0;
    };
    // Tiles of 64 pixels; overview level 1 is present. At 1:2 the view draws level 0 reduced
    // by 2; at 1:16 level 1 reduced by 8.
    const Case cases[] = {
        {"1:1, own tile beside a reduced one", 0, {{{0, 0, 0, 1}, RED}, {{0, 0}, BLUE}}, BLUE},
        {"1:1, only the 1/2 tile: stretched", 0, {{{0, 0, 0, 1}, RED}}, RED},
        {"1:1 from (40, 40): the 1/2 tile's lower right quarter", 0, {{{0, 0, 0, 1}, RED, BLUE}}, BLUE, 40},
        {"1:2, own 1/2 tile beside the full one", -1, {{{0, 0}, BLUE}, {{0, 0, 0, 1}, RED}}, RED},
        {"1:2, only the full tile: shrunk", -1, {{{0, 0}, BLUE}}, BLUE},
        {"1:2, only overview 1: stretched", -1, {{{0, 0, 1, 0}, GREEN}}, GREEN},
        {"1:2, finer over coarser", -1, {{{0, 0, 1, 0}, GREEN}, {{0, 0}, BLUE}}, BLUE},
        {"1:2, another cell's tiles only", -1, {{{1, 0, 0, 1}, RED}, {{0, 1}, BLUE}}, WINDOW},
        {"1:4, own 1/4 tile beside the 1/2 one", -2, {{{0, 0, 0, 1}, RED}, {{0, 0, 0, 2}, YELLOW}},
         YELLOW},
        {"1:16, own overview tile beside level 0's", -4,
         {{{0, 0, 0, 3}, RED}, {{0, 0, 1, 3}, GREEN}}, GREEN},
    };
    load(write_tileset("zoom-levels.tvt", TILE, TILE, 64, 48));
    tileset.cache_limit = 1000;
    tileset.overview_count = 1;
    tileset.overview_dirs = {temp_path("no-such-overview")};
    for (const Case& c : cases) {
        clear_tile_cache();
        for (const Placed& placed : c.cached) {
            const int32_t side = reduced_tile_extent(TILE, placed.key.reduction_log2);
            CachedTile* tile = create_cached_tile(placed.key, side, side);
            ASSERT_NE(tile, nullptr) << c.what;
            for (int32_t i = 0; i < side * side; ++i) {
                const bool in_corner = i / side >= side / 2 && i % side >= side / 2;
                const uint32_t colour =
                    placed.corner != 0 && in_corner ? placed.corner : placed.colour;
                tile->pixels[4 * i + 0] = colour & 0xFF;
                tile->pixels[4 * i + 1] = (colour >> 8) & 0xFF;
                tile->pixels[4 * i + 2] = (colour >> 16) & 0xFF;
            }
            ASSERT_TRUE(cache_arrived_tile(tile, tile_generation, 1000, NO_CELLS)) << c.what;
        }
        zoom_level = c.zoom;
        scroll_x = scroll_y = c.scroll;
        OffscreenView view;
        ASSERT_TRUE(view.ok());
        paint_view(view.dc(), view.client());
        EXPECT_EQ(view.pixel(5, 5), c.expected)
            << c.what << ": expected " << colour_text(c.expected) << ", drawn "
            << colour_text(view.pixel(5, 5));
    }
    reset_zoom();
    reset_view();
}

// Zoomed out past the decoder's reach, the view requests the overview level's tiles from its
// folder and the loader decodes them reduced: at 1:16 with one overview level, level 1 at 1/8.
TEST_F(TileCache, FarOutTheOverviewLevelsTilesArriveReduced) {
    const std::string overview = temp_path("overview-1");
    CreateDirectoryA(overview.c_str(), nullptr);
    CreateDirectoryA((overview + "\\000").c_str(), nullptr);
    for (const char* column : {"000", "001"})
        ASSERT_TRUE(CopyFileA(tile_data("mosaic/000/000.jpg").c_str(),
                              (overview + "\\000\\" + column + ".jpg").c_str(), FALSE));
    load(write_tileset("overview.tvt", TILE, TILE, 64, 48,
                       "OverviewCount=1\r\nOverview1Dir=" + overview + "\r\n"));
    ASSERT_EQ(tileset.overview_count, 1) << "the overview level was not taken";
    tileset.cache_limit = 1000;
    zoom_level = -4;
    scroll_x = scroll_y = 0;
    const TileKey wanted[] = {{0, 0, 1, 3}, {1, 0, 1, 3}};
    InvalidateRect(main_window, nullptr, FALSE);
    UpdateWindow(main_window);
    ASSERT_TRUE(wait_until([&] {
        return find_cached_tile(wanted[0]) != nullptr && find_cached_tile(wanted[1]) != nullptr;
    })) << "the level-1 tiles at 1/8 never arrived; cache holds " << tile_cache_count;
    CachedTile* full = decode_tile_file(tile_data("mosaic/000/000.jpg"), TILE, TILE);
    ASSERT_NE(full, nullptr);
    for (const TileKey& key : wanted) {
        const CachedTile* tile = find_cached_tile(key);
        EXPECT_EQ(tile->width, TILE / 8);
        EXPECT_EQ(tile->height, TILE / 8);
        EXPECT_TRUE(colours_near(tile_pixel(tile, tile->width, 3, 3), tile_pixel(full, TILE, 30, 30), 2))
            << "column " << key.column << ": expected about "
            << colour_text(tile_pixel(full, TILE, 30, 30)) << ", the 1/8 tile has "
            << colour_text(tile_pixel(tile, tile->width, 3, 3));
    }
    free_cached_tile(full);
    EXPECT_EQ(find_cached_tile(0, 0), nullptr) << "a level-0 tile was loaded at 1:16";
    reset_zoom();
    reset_view();
}

TEST_F(TileCache, SpareBuffersAreOnlyOfTheTileSizeInForce) {
    constexpr int32_t OTHER = 48;
    load(write_tileset("cache-other.tvt", OTHER, OTHER, 4, 3));
    load(write_tileset("cache.tvt", TILE, TILE, 4, 3));
    ASSERT_EQ(count_spare_buffers(), 0) << "a tile size change keeps no spare buffer";
    CachedTile* tiles[3];
    for (CachedTile*& tile : tiles) tile = create_cached_tile(0, HIDDEN_ROW, TILE_BYTES);
    for (CachedTile* tile : tiles) free_cached_tile(tile);
    EXPECT_EQ(count_spare_buffers(), 3) << "freed tiles of the size in force keep their buffers";
    free_cached_tile(create_cached_tile(0, HIDDEN_ROW, OTHER * OTHER * 4));
    EXPECT_EQ(count_spare_buffers(), 3) << "a buffer of another size was kept";
    load(write_tileset("cache-other.tvt", OTHER, OTHER, 4, 3));
    EXPECT_EQ(count_spare_buffers(), 0) << "buffers of the earlier tile size outlived its change";
}

// Queue tests: the loader has taken the tile at (90, 90), which is not cached yet, and is
// held off the queues until the test lets it go, so the queues and the wake-up event stay as
// the test leaves them.
class TileQueue : public TileCache {
protected:
    void SetUp() override {
        TileCache::SetUp();
        enqueue_tile_request(tile_data("mosaic/000/000.jpg").c_str(), 90, 90,
                             TILE_PRIORITY_HIGH);
        ASSERT_TRUE(hold_loader_with_tile_on_its_way(90, 90))
            << "the loader did not take the tile within " << TILE_WAIT_MS << " ms";
        held = true;
        take_wake_signal();
    }
    void TearDown() override {
        let_loader_go();
        EXPECT_TRUE(wait_until([] {
            return cache_records_at(90, 90) >= 1 && queued_tiles(high_queue).empty();
        })) << "the loader did not finish the held tile and the queue";
    }
    void let_loader_go() {
        if (held) release_loader();
        held = false;
    }
    bool held = false;
    static std::string missing(const char* name) { return temp_path(name); }
};

TEST_F(TileQueue, RequestsQueueNewestFirstAndARepeatKeepsItsPlace) {
    enqueue_tile_request(missing("a.jpg").c_str(), 1, 0, TILE_PRIORITY_HIGH);
    enqueue_tile_request(missing("b.jpg").c_str(), 2, 0, TILE_PRIORITY_HIGH);
    enqueue_tile_request(missing("c.jpg").c_str(), 3, 0, TILE_PRIORITY_HIGH);
    EXPECT_TRUE(take_wake_signal()) << "a new request did not wake the loader";
    EXPECT_EQ(queued_tiles(high_queue), (Tiles{{3, 0}, {2, 0}, {1, 0}})) << "newest first";
    EXPECT_TRUE(queued_tiles(normal_queue).empty());

    enter_queue_lock();
    TileRequest* oldest = find_request_in_list(high_queue, 1, 0);
    ASSERT_NE(oldest, nullptr);
    oldest->last_requested = 0;
    leave_queue_lock();

    enqueue_tile_request(missing("a.jpg").c_str(), 1, 0, TILE_PRIORITY_HIGH);
    EXPECT_TRUE(take_wake_signal()) << "a repeated request did not wake the loader";
    EXPECT_EQ(queued_tiles(high_queue), (Tiles{{3, 0}, {2, 0}, {1, 0}}))
        << "a repeated request moved in the queue or was added twice";
    EXPECT_NE(oldest->last_requested, 0u) << "a repeated request did not refresh its tick";
}

TEST_F(TileQueue, CachedTileIsNotQueuedAndDoesNotWakeTheLoader) {
    arrive(5, 100);
    enqueue_tile_request(missing("cached.jpg").c_str(), 5, HIDDEN_ROW, TILE_PRIORITY_HIGH);
    EXPECT_TRUE(queued_tiles(high_queue).empty()) << "a cached tile was queued";
    EXPECT_FALSE(take_wake_signal()) << "a request for a cached tile woke the loader";
}

TEST_F(TileQueue, TileOnItsWayIsNotQueuedAgain) {
    // The loader decodes or has delivered (90, 90), and it is not cached yet: asking for it
    // again, as a paint does, queues nothing, and it is decoded once.
    const uint32_t decoded_before = tiles_decoded.load();
    enqueue_tile_request(missing("again.jpg").c_str(), 90, 90, TILE_PRIORITY_HIGH);
    EXPECT_TRUE(queued_tiles(high_queue).empty()) << "a tile on its way was queued again";
    EXPECT_EQ(cache_records_at(90, 90), 0);
    let_loader_go();
    ASSERT_TRUE(wait_until([] { return cache_records_at(90, 90) == 1; }))
        << "(90, 90) never arrived";
    pump_messages();
    EXPECT_LE(tiles_decoded.load() - decoded_before, 1u) << "(90, 90) was decoded twice";
    EXPECT_EQ(cache_records_at(90, 90), 1);
}

TEST_F(TileQueue, FileThatVanishedAfterQueueingSendsNothing) {
    const std::string kept = temp_path("vanish-kept.jpg");
    const std::string gone = temp_path("vanish-gone.jpg");
    ASSERT_TRUE(CopyFileA(tile_data("mosaic/000/001.jpg").c_str(), kept.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(tile_data("mosaic/000/001.jpg").c_str(), gone.c_str(), FALSE));
    enqueue_tile_request(kept.c_str(), 20, HIDDEN_ROW, TILE_PRIORITY_HIGH);
    enqueue_tile_request(gone.c_str(), 21, HIDDEN_ROW, TILE_PRIORITY_HIGH);
    ASSERT_TRUE(DeleteFileA(gone.c_str()));
    let_loader_go();
    // Newest first: the vanished file is tried before the kept one arrives.
    ASSERT_TRUE(wait_until([] { return cache_records_at(20, HIDDEN_ROW) == 1; }))
        << "the tile queued before the vanished one never arrived";
    EXPECT_EQ(cache_records_at(21, HIDDEN_ROW), 0) << "a tile arrived for a file that is gone";
    EXPECT_TRUE(queued_tiles(high_queue).empty()) << "the failed request stayed queued";
}

}  // namespace
