// Status-pane texts: world coordinates and the tile file under the cursor.
#include <gtest/gtest.h>

#include "app/pane_text.h"

namespace {

TEST(PaneText, WorkedExample) {
    PaneTexts texts = format_pane_texts(10, 20, 500, 300, true, 256, 256);
    EXPECT_STREQ(texts.x_text, "510 ");
    EXPECT_STREQ(texts.y_text, "320 ");
    EXPECT_STREQ(texts.tile_text, "001\\001.jpg ");
}

TEST(PaneText, RowComesFirstAndDivisionTruncates) {
    PaneTexts texts = format_pane_texts(0, 0, 600, 100, true, 256, 128);
    EXPECT_STREQ(texts.tile_text, "000\\002.jpg ");
    PaneTexts outside = format_pane_texts(-300, -5, 0, 0, true, 256, 256);
    EXPECT_STREQ(outside.x_text, "-300 ");
    EXPECT_STREQ(outside.tile_text, "000\\-001.jpg ") << "-300 / 256 truncates to -1";
}

TEST(PaneText, NoTilesetLoaded) {
    PaneTexts texts = format_pane_texts(5, 6, 0, 0, false, 0, 0);
    EXPECT_STREQ(texts.tile_text, "No Tileset Loaded!");
    EXPECT_STREQ(texts.x_text, "5 ");
}

}  // namespace
