// Texts of the three status panes over the caption bar: world x, world y and the name of the
// tile file under the cursor, relative to the tile directory.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t PANE_TEXT_CAPACITY = 200;

struct PaneTexts {
    char x_text[PANE_TEXT_CAPACITY];
    char y_text[PANE_TEXT_CAPACITY];
    char tile_text[PANE_TEXT_CAPACITY];
};

// The cursor's client point (cursor_x, cursor_y) and the scroll position give the world
// point. With no tileset loaded the tile text is "No Tileset Loaded!"; tile sizes are only
// read when `tileset_loaded` is true and must then be above zero.
PaneTexts format_pane_texts(int32_t cursor_x, int32_t cursor_y, int32_t scroll_x,
                            int32_t scroll_y, bool tileset_loaded, int32_t tile_width,
                            int32_t tile_height);
