// Label placement arithmetic, in 64 bits so extreme stored coordinates stay defined.
#include "app/label_math.h"

#include "app/view_math.h"

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
