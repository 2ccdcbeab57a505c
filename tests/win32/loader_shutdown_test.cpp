// Stopping the loader while it is busy, as terrava.exe does once its message loop has ended:
// the window is gone, the loader is decoding or delivering a tile and more requests wait. A
// program of its own, since it ends the window and the loader for good.
#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "tests/win32/tile_test_support.h"
#include "tests/win32/window_fixture.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_loader.h"

namespace {

TEST(LoaderShutdown, ClosingWhileTheLoaderHoldsATileEndsItAndCachesNothing) {
    const std::string big = write_tileset_at("big.tvt", 256, 256, 6, 4, tile_data("big"));
    // Nothing is pumped from here on. The loader stops at the decode gate with the first tile
    // it takes, so it is busy when the window closes, with more requests to take.
    close_decode_gate();
    load_tileset(main_window, big.c_str());   // queues every visible tile
    ASSERT_EQ(tileset.loaded, 1);
    ValidateRect(main_window, nullptr);
    ASSERT_TRUE(wait_for_loader_at_gate()) << "the loader took no tile within " << TILE_WAIT_MS
                                           << " ms";
    const bool requests_left = !queued_tiles(high_queue).empty();
    const int32_t cached_before = tile_cache_count;

    // What closing the viewer does: the window is destroyed, the message loop ends, then the
    // loader is stopped. From the destruction on, the loader may go on taking requests until
    // the stop; none of its tiles may reach the cache, and none may be left behind.
    DestroyWindow(main_window);
    open_decode_gate();
    stop_tile_loader();
    pump_messages();

    EXPECT_TRUE(requests_left) << "the loader should have had requests left";
    EXPECT_EQ(tile_loaders_running(), 0)
        << "a loader was still running when stop_tile_loader returned";
    EXPECT_EQ(tile_cache_count, cached_before) << "a tile entered the cache of a closed window";
    EXPECT_EQ(tiles_alive.load(), tile_cache_count)
        << "tile records outside the cache after the stop: the loader's tiles leaked";
}

}  // namespace
