// The tile queues and the loader pool on the standard library, with a stand-in decode: spare
// pixel buffers are never smaller than the tile they are handed to; with 8 loaders and
// thousands of requests, tileset switches and stops mid-work, every pick takes the newest
// request, no tile is decoded twice for one tileset or delivered for an earlier one, and a stop
// ends every loader and leaves no tile or decoder behind. Also built under ThreadSanitizer
// (the tsan preset), which fails the run on any data race.
#include <gtest/gtest.h>
#include <malloc.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <tuple>

#include "tiles/tile_cache.h"
#include "tiles/tile_platform.h"
#include "tiles/tile_pool.h"

namespace {

TEST(LoaderCount, FromTheSettingElseTheProcessorsBetweenOneAndEight) {
    struct Case {
        const char* setting;
        int32_t processors;
        int32_t expected;
    };
    const Case cases[] = {{nullptr, 4, 4},  {nullptr, 16, 8}, {nullptr, 0, 1}, {"", 2, 2},
                          {"1", 16, 1},     {"4", 2, 4},      {"8", 1, 8},     {"9", 2, 8},
                          {"123456789012", 2, 8}, {"0", 2, 2}, {"-3", 2, 2},   {"3x", 2, 2},
                          {" 3", 2, 2}};
    for (const Case& c : cases)
        EXPECT_EQ(choose_loader_count(c.setting, c.processors), c.expected)
            << "TERRAVA_LOADERS=" << (c.setting ? c.setting : "(unset)") << " on "
            << c.processors << " processors";
}

TEST(SpareBuffers, NeverSmallerThanTheTileTheyAreHandedTo) {
    // Tiles of `freed_bytes` are freed while tiles are `side_at_free` pixels square (their
    // buffers may be kept), then a tile of `tile_bytes` is made while they are `side_at_make`.
    struct Case {
        const char* what;
        int32_t side_at_free, freed_bytes, side_at_make, tile_bytes;
    };
    const Case cases[] = {
        {"4 KiB spares, a 16 KiB tile of the earlier tileset", 32, 4096, 32, 16384},
        {"a 4 KiB tile of the earlier tileset freed, then a 16 KiB tile", 64, 4096, 64, 16384},
        {"4 KiB spares, then a switch to 16 KiB tiles", 32, 4096, 64, 16384},
    };
    for (const Case& c : cases) {
        clear_tile_requests(c.side_at_free, c.side_at_free);
        for (int i = 0; i < 3; ++i) free_cached_tile(create_cached_tile(i, 0, c.freed_bytes));
        if (c.side_at_make != c.side_at_free) clear_tile_requests(c.side_at_make, c.side_at_make);
        CachedTile* tile = create_cached_tile(5, 5, c.tile_bytes);
        ASSERT_NE(tile, nullptr) << c.what;
        EXPECT_GE(malloc_usable_size(tile->pixels), static_cast<size_t>(c.tile_bytes))
            << c.what << ": the tile's pixel buffer is smaller than its " << c.tile_bytes
            << " bytes";
        std::memset(tile->pixels, 0, static_cast<size_t>(c.tile_bytes));   // ASan: overflow
        free_cached_tile(tile);
    }
    EXPECT_EQ(tiles_alive.load(), 0);
}

// Tiles of several levels and reductions share one budget: the bytes of `limit` full-size
// tiles. A table of arrivals, each followed by the cache's count and bytes and the tiles that
// must be gone; tiles of the view's own picture are kept, those of another picture of the
// same cells are not.
TEST(CacheAcrossLevels, OneByteBudgetAndTheViewsOwnPictureKept) {
    constexpr int32_t SIDE = 64, FULL = SIDE * SIDE * 4, LIMIT = 4;
    clear_tile_requests(SIDE, SIDE);
    clear_tile_cache();
    const CellRange view_half = {0, 0, 9, 9, 0, 1};   // the view shows the 1/2 tiles of 10 x 10
    struct Step {
        const char* what;
        TileKey key;
        uint32_t last_used;
        int32_t count;
        int64_t bytes;
        std::vector<TileKey> gone;
    };
    const Step steps[] = {
        {"full (0,0)", {0, 0}, 2, 1, FULL, {}},
        {"full (1,0)", {1, 0}, 3, 2, 2 * FULL, {}},
        {"full (2,0)", {2, 0}, 4, 3, 3 * FULL, {}},
        // The view's own tile is the one used longest ago: eviction must pass it over.
        {"1/2 (0,0) beside full (0,0)", {0, 0, 0, 1}, 1, 4, 3 * FULL + FULL / 4, {}},
        {"full (3,0): over budget, the oldest full tile goes", {3, 0}, 5, 4,
         3 * FULL + FULL / 4, {{0, 0}}},
        {"1/8 (5,5) fits", {5, 5, 0, 3}, 0, 5, 3 * FULL + FULL / 4 + FULL / 64, {}},
        {"overview 2 at 1/2 fits", {0, 0, 2, 1}, 6, 6, 3 * FULL + FULL / 2 + FULL / 64, {}},
        {"full (4,0): the 1/8 tile, then the oldest full one go, not the view's 1/2 tile",
         {4, 0}, 7, 5, 3 * FULL + FULL / 2, {{5, 5, 0, 3}, {1, 0}}},
        {"full (5,0): one full tile for one", {5, 0}, 8, 5, 3 * FULL + FULL / 2, {{2, 0}}},
    };
    for (const Step& step : steps) {
        const int32_t side = reduced_tile_extent(SIDE, step.key.reduction_log2);
        CachedTile* tile = create_cached_tile(step.key, side, side);
        ASSERT_NE(tile, nullptr) << step.what;
        tile->last_used = step.last_used;
        ASSERT_TRUE(cache_arrived_tile(tile, tile_generation, LIMIT, view_half)) << step.what;
        EXPECT_EQ(find_cached_tile(step.key), tile) << step.what << ": the arrival is not found";
        EXPECT_EQ(tile_cache_count, step.count) << step.what;
        EXPECT_EQ(tile_cache_bytes, step.bytes) << step.what;
        for (const TileKey& key : step.gone)
            EXPECT_EQ(find_cached_tile(key), nullptr)
                << step.what << ": tile (" << key.column << ", " << key.row << ") of level "
                << key.level << " at 1/" << (1 << key.reduction_log2) << " is still cached";
    }
    EXPECT_NE(find_cached_tile(TileKey{0, 0, 0, 1}), nullptr) << "the view's own tile was evicted";
    EXPECT_EQ(find_cached_tile(0, 0), nullptr) << "a full tile and its 1/2 tile were confused";
    // A tile whose size its reduction does not give is refused.
    CachedTile* odd = create_cached_tile(TileKey{7, 7, 0, 1}, SIDE / 2 + 1, SIDE / 2);
    ASSERT_NE(odd, nullptr);
    EXPECT_FALSE(cache_arrived_tile(odd, tile_generation, LIMIT, view_half))
        << "a 33 x 32 tile was cached as a 1/2 tile of 64-pixel tiles";
    EXPECT_EQ(reduced_tile_extent(100, 3), 13) << "rounded up, as the decoder rounds";
    clear_tile_cache();
    EXPECT_EQ(tile_cache_bytes, 0);
    EXPECT_EQ(tiles_alive.load(), 0);
}

// What the stand-in loaders and the window side see; shared through atomics and `mutex`.
struct PoolWatch {
    std::mutex mutex;
    std::condition_variable told;    // a notice to the window
    std::map<std::tuple<uint32_t, int32_t, int32_t>, int> decodes;   // per generation and key
    std::atomic<int32_t> decoded_twice{0};
    std::atomic<int32_t> picks_out_of_order{0};
    std::atomic<int32_t> stale_deliveries{0};
    std::atomic<int32_t> decoders_alive{0};
    std::atomic<int32_t> notices{0};
};
PoolWatch watch;

// Request paths are "h 17" or "n 17" (queue and order of the push), "... fail" when the
// stand-in decode is to produce nothing.
unsigned long push_number(const TileRequest* request) {
    return std::strtoul(request->path + 2, nullptr, 10);
}

// Under the queue lock, as a loader takes `taken`: nothing newer may be left in its queue,
// nor anything at all in the high-priority queue when it came from the other.
void check_pick(const TileRequest* taken, int32_t) {
    const bool from_high = taken->path[0] == 'h';
    const TileRequest* newest_left = from_high ? high_queue : normal_queue;
    const bool newer_left = newest_left != nullptr && push_number(newest_left) > push_number(taken);
    if (newer_left || (!from_high && high_queue != nullptr)) watch.picks_out_of_order.fetch_add(1);
}

void* make_stand_in_decoder() {
    watch.decoders_alive.fetch_add(1);
    return new int(0);
}

void end_stand_in_loader(void* decoder) {
    delete static_cast<int*>(decoder);
    watch.decoders_alive.fetch_sub(1);
}

// Fills the whole tile (so a short buffer shows under ASan) and marks its first four bytes
// with the generation it was decoded for.
int stand_in_decode(TileRequest* request, void* decoder) {
    if (decoder == nullptr || std::strstr(request->path, "fail") != nullptr) return 0;
    const int32_t bytes = request->tile_width * request->tile_height * 4;
    CachedTile* tile = create_cached_tile(request->column, request->row, bytes);
    if (tile == nullptr) return 0;
    std::memset(tile->pixels, 0x5A, static_cast<size_t>(bytes));
    std::memcpy(tile->pixels, &request->generation, sizeof request->generation);
    ++*static_cast<int*>(decoder);
    request->tile = tile;
    std::lock_guard<std::mutex> hold(watch.mutex);
    if (++watch.decodes[{request->generation, request->column, request->row}] > 1)
        watch.decoded_twice.fetch_add(1);
    return 1;
}

void tell_window() {
    watch.notices.fetch_add(1);
    std::lock_guard<std::mutex> hold(watch.mutex);
    watch.told.notify_all();
}

constexpr TileLoaderJob STAND_IN_JOB = {make_stand_in_decoder, stand_in_decode,
                                        end_stand_in_loader, tell_window};
constexpr int32_t NO_EVICTION = 1 << 30;

// The window's side: takes the delivered tiles into the cache. None may be of an earlier
// tileset. Returns how many were cached.
int take_arrivals() {
    int cached = 0;
    CachedTile* tile = take_delivered_tiles();
    while (tile != nullptr) {
        CachedTile* next = tile->next;
        uint32_t generation = 0;
        std::memcpy(&generation, tile->pixels, sizeof generation);
        if (generation != tile_generation) watch.stale_deliveries.fetch_add(1);
        cached += cache_arrived_tile(tile, tile_generation, NO_EVICTION, NO_CELLS);
        tile = next;
    }
    return cached;
}

class LoaderPool : public ::testing::Test {
protected:
    void SetUp() override {
        tile_take_observer.store(check_pick);
        clear_tile_cache();
        clear_tile_requests(16, 16);
    }
    void TearDown() override {
        tile_take_observer.store(nullptr);
        EXPECT_EQ(watch.picks_out_of_order.load(), 0) << "picks that left a newer request queued";
        EXPECT_EQ(watch.decoded_twice.load(), 0)
            << "tiles decoded twice for one tileset: a request in flight was queued again";
        EXPECT_EQ(watch.stale_deliveries.load(), 0)
            << "tiles of an earlier tileset reached the window";
    }
    unsigned long pushes = 0;
    void request(int32_t column, int32_t row, int priority, bool fails = false) {
        const std::string path = std::string(priority == TILE_PRIORITY_HIGH ? "h " : "n ") +
                                 std::to_string(++pushes) + (fails ? " fail" : "");
        enqueue_tile_request(path.c_str(), column, row, priority);
    }
    // Stops the loaders and checks that nothing of theirs is left.
    void stop_and_check(const char* when) {
        ASSERT_TRUE(stop_tile_loaders(60000)) << when << ": the loaders did not end";
        EXPECT_EQ(tile_loaders_running(), 0) << when << ": a loader still ran after the stop";
        EXPECT_EQ(watch.decoders_alive.load(), 0) << when << ": decoders left";
        EXPECT_EQ(take_arrivals(), 0) << when << ": delivered tiles outlived the stop";
        clear_tile_cache();
        EXPECT_EQ(tiles_alive.load(), 0) << when << ": tile records leaked";
        EXPECT_EQ(count_requests_in_flight(), 0) << when;
        EXPECT_EQ(high_queue, nullptr) << when << ": queued requests outlived the stop";
    }
};

TEST_F(LoaderPool, EightLoadersSwitchesAndStopsMidWork) {
    std::mt19937 random(20261207);
    const int32_t sides[] = {16, 32, 64};
    for (int round = 0; round < 6; ++round) {
        ASSERT_EQ(start_tile_loaders(MAX_TILE_LOADERS, STAND_IN_JOB), MAX_TILE_LOADERS);
        for (int burst = 0; burst < 40; ++burst) {
            if (burst % 8 == 7) {   // a tileset switch, decodes in flight
                clear_tile_cache();
                const int32_t side = sides[random() % 3];
                clear_tile_requests(side, side);
            }
            for (int i = 0; i < 60; ++i) {
                const int32_t column = static_cast<int32_t>(random() % 40);
                const int32_t row = static_cast<int32_t>(random() % 40);
                request(column, row, random() % 4 == 0 ? TILE_PRIORITY_NORMAL : TILE_PRIORITY_HIGH,
                        column == 0);
            }
            take_arrivals();
            std::this_thread::yield();
        }
        stop_and_check(("stop in round " + std::to_string(round)).c_str());
        clear_tile_requests(16, 16);
    }
}

TEST_F(LoaderPool, EveryRequestedTileArrivesOnce) {
    ASSERT_EQ(start_tile_loaders(MAX_TILE_LOADERS, STAND_IN_JOB), MAX_TILE_LOADERS);
    constexpr int32_t SIDE = 30;   // 900 tiles, requested twice over while they load
    for (int pass = 0; pass < 2; ++pass)
        for (int32_t row = 0; row < SIDE; ++row)
            for (int32_t column = 0; column < SIDE; ++column) {
                request(column, row, TILE_PRIORITY_HIGH);
                take_arrivals();
            }
    // Generous: a slow machine under ThreadSanitizer still makes it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (tile_cache_count < SIDE * SIDE && std::chrono::steady_clock::now() < deadline) {
        std::unique_lock<std::mutex> hold(watch.mutex);
        watch.told.wait_for(hold, std::chrono::milliseconds(50));
        hold.unlock();
        take_arrivals();
    }
    EXPECT_EQ(tile_cache_count, SIDE * SIDE) << "tiles cached of the " << SIDE * SIDE << " asked";
    for (int32_t row = 0; row < SIDE; ++row)
        for (int32_t column = 0; column < SIDE; ++column) {
            int records = 0;
            for (const CachedTile* tile = tile_cache; tile != nullptr; tile = tile->next)
                records += tile->column == column && tile->row == row;
            EXPECT_EQ(records, 1) << "cache records of tile (" << column << ", " << row << ")";
        }
    stop_and_check("stop after the view filled");
}

}  // namespace
