// Stopping the loader while it is busy, as terrava.exe does once its message loop has ended:
// the window is gone, the loader holds a decoded tile in its hand-over and more requests
// wait. A program of its own, since it ends the window and the loader for good.
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
    load_tileset(main_window, big.c_str());
    ASSERT_EQ(tileset.loaded, 1);
    ValidateRect(main_window, nullptr);
    {
        OffscreenView view;
        paint_view(view.dc(), view.client());   // queues every visible tile
    }
    // Nothing is pumped from here on: the loader stays inside its hand-over, so it is busy
    // when the window closes, with more requests to take.
    ASSERT_TRUE(wait_for_hand_over()) << "the loader offered no tile within " << TILE_WAIT_MS
                                      << " ms";
    ASSERT_NE(tile_in_hand_over.load(), nullptr) << "a tile is offered but the loader holds none";
    ASSERT_FALSE(queued_tiles(high_queue).empty()) << "the loader should have requests left";
    const int32_t cached_before = tile_cache_count;

    // What closing the viewer does: the window is destroyed, the message loop ends, then the
    // loader is stopped. From the destruction on, the loader may go on taking requests until
    // the stop; none of its tiles may reach the cache.
    DestroyWindow(main_window);
    stop_tile_loader();

    EXPECT_EQ(WaitForSingleObject(loader_thread, 0), WAIT_OBJECT_0)
        << "the loader was still running when stop_tile_loader returned";
    EXPECT_EQ(tile_in_hand_over.load(), nullptr) << "a tile in the hand-over was never let go";
    EXPECT_EQ(tile_cache_count, cached_before) << "a tile entered the cache of a closed window";
}

}  // namespace
