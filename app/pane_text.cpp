// Formats the status-pane texts; each ends with one space so the right-aligned panes keep a
// small margin.
#include "app/pane_text.h"

#include <cstdio>

#include "app/view_math.h"

PaneTexts format_pane_texts(int32_t cursor_x, int32_t cursor_y, int32_t scroll_x,
                            int32_t scroll_y, bool tileset_loaded, int32_t tile_width,
                            int32_t tile_height) {
    PaneTexts texts;
    const int32_t world_x = add_saturating(cursor_x, scroll_x);
    const int32_t world_y = add_saturating(cursor_y, scroll_y);
    std::snprintf(texts.x_text, sizeof texts.x_text, "%d ", world_x);
    std::snprintf(texts.y_text, sizeof texts.y_text, "%d ", world_y);
    if (tileset_loaded && tile_width > 0 && tile_height > 0)
        std::snprintf(texts.tile_text, sizeof texts.tile_text, "%3.3d\\%3.3d.jpg ",
                      world_y / tile_height, world_x / tile_width);
    else
        std::snprintf(texts.tile_text, sizeof texts.tile_text, "No Tileset Loaded!");
    return texts;
}
