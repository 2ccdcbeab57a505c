// Where labels go on screen: the visibility margins around the view and the nine text
// positions (eight black outline draws, then white) of one label. Platform-free.
#pragma once
#include <cstdint>

#include "app/label_index.h"

// True when a label at world (x, y) is drawn for a view at (scroll_x, scroll_y) of
// width x height: within one view before it and a whole extra view after it, strictly.
bool label_in_drawing_margin(int32_t x, int32_t y, int32_t scroll_x, int32_t scroll_y,
                             int32_t width, int32_t height);

struct TextOffset {
    int32_t dx;
    int32_t dy;
};

// Offsets from the label point of the eight black draws, in drawing order; the white draw
// follows at LABEL_TEXT_OFFSET.
constexpr TextOffset LABEL_OUTLINE_OFFSETS[8] = {
    {0, -10}, {0, -8}, {-1, -9}, {1, -9}, {-1, -10}, {-1, -8}, {1, -10}, {1, -8}};
constexpr TextOffset LABEL_TEXT_OFFSET = {0, -9};

// Where a label coordinate lies in the client area for a view at `scroll`, and the world
// coordinate of a click at client `click`; both saturate at the 32-bit limits like every
// other position of the view.
int32_t label_client_coordinate(int32_t label_coordinate, int32_t scroll);
int32_t label_world_coordinate(int32_t scroll, int32_t click);

// The scroll position that centres a label in a view of width x height, before clamping.
int32_t centred_scroll(int32_t label_coordinate, int32_t view_extent);

// How far a label's drawn text may reach from its point, for a font whose widest character
// is `max_char_width` and whose lines are `text_height` high: half the widest such text of
// `length` characters plus the outline and a character's overhang either way, and the rows
// from 10 above the point to the bottom of the lowest draw.
struct LabelReach {
    int64_t half_width;
    int64_t above;   // rows above the point
    int64_t below;   // rows below it
};
LabelReach label_reach(int64_t length, int32_t max_char_width, int32_t text_height);

// The label points whose draws can touch a view at (scroll_x, scroll_y) of width x height,
// within the drawing margin: the margin cut down to what a text of that reach can show. A
// label outside it draws nothing into the view, so skipping it changes no pixel.
OpenWorldRect label_drawing_area(int32_t scroll_x, int32_t scroll_y, int32_t width,
                                 int32_t height, const LabelReach& reach);
