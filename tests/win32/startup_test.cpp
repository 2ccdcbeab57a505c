// A fresh viewer before any tileset is loaded: the panes, the clamp at the origin, and the
// commands that must do nothing yet. Its own program, so no other test has loaded anything.
#include <gtest/gtest.h>

#include "app/labels.h"
#include "app/main_window.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "res/resource_ids.h"
#include "tests/win32/window_fixture.h"

namespace {

void key_down(WPARAM key) { SendMessageA(main_window, WM_KEYDOWN, key, 0); }
void scroll_request(UINT message, int code) {
    SendMessageA(main_window, message, MAKEWPARAM(code, 0), 0);
}

TEST(BeforeAnyLoad, EmptyViewerStaysAtOriginAndWritesNothing) {
    EXPECT_EQ(tileset.loaded, 0);
    EXPECT_EQ(tileset.cache_limit, 30);

    key_down(VK_RIGHT);
    key_down(VK_DOWN);
    scroll_request(WM_HSCROLL, SB_PAGERIGHT);
    EXPECT_EQ(scroll_x, 0);
    EXPECT_EQ(scroll_y, 0);

    ASSERT_EQ(tileset.loaded, 0) << "a dialog would block the test";
    key_down('S');
    SendMessageA(main_window, WM_COMMAND, CMD_SAVE_TILESET, 0);
    SendMessageA(main_window, WM_COMMAND, CMD_OPTIONS, 0);   // must not open without a tileset
    key_down('G');                                            // falls through to the key tail
    EXPECT_EQ(label_list_open, 0);
    EXPECT_EQ(tileset.file_path[0], '\0');

    SendMessageA(main_window, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(window_text(tile_pane), "No Tileset Loaded!");
}

}  // namespace
