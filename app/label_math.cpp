// Label placement arithmetic, in 64 bits so extreme stored coordinates stay defined.
#include "app/label_math.h"

#include "app/view_math.h"

#include <algorithm>

bool label_in_drawing_margin(int32_t x, int32_t y, int32_t scroll_x, int32_t scroll_y,
                             int32_t width, int32_t height) {
    const int64_t lx = x, ly = y, sx = scroll_x, sy = scroll_y, w = width, h = height;
    return sx - w < lx && lx < sx + 2 * w && sy - h < ly && ly < sy + 2 * h;
}

int32_t centred_scroll(int32_t label_coordinate, int32_t view_extent) {
    return add_saturating(label_coordinate, -(view_extent >> 1));
}

int32_t label_client_coordinate(int32_t label_coordinate, int32_t scroll) {
    const int64_t offset = static_cast<int64_t>(label_coordinate) - scroll;
    return static_cast<int32_t>(offset < INT32_MIN ? INT32_MIN : offset > INT32_MAX ? INT32_MAX : offset);
}

int32_t label_world_coordinate(int32_t scroll, int32_t click) { return add_saturating(scroll, click); }

LabelReach label_reach(int64_t length, int32_t max_char_width, int32_t text_height) {
    const int64_t widest = (length + 2) * (max_char_width > 0 ? max_char_width : 1);
    return LabelReach{widest / 2 + 2, 11, static_cast<int64_t>(text_height > 0 ? text_height : 0) - 7};
}

OpenWorldRect label_drawing_area(int32_t scroll_x, int32_t scroll_y, int32_t width,
                                 int32_t height, const LabelReach& reach) {
    const int64_t sx = scroll_x, sy = scroll_y, w = width, h = height;
    // A point at x draws columns x - half_width .. x + half_width, shown when they meet
    // sx .. sx + w - 1; rows y - above .. y + below meet sy .. sy + h - 1.
    return OpenWorldRect{std::max(sx - w, sx - reach.half_width - 1),
                         std::max(sy - h, sy - reach.below - 1),
                         std::min(sx + 2 * w, sx + w + reach.half_width),
                         std::min(sy + 2 * h, sy + h + reach.above)};
}
