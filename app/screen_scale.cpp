// Scaling the viewer's 96-DPI measures to a monitor's DPI.
#include "app/screen_scale.h"

int32_t scale_between_dpis(int32_t value, int32_t from_dpi, int32_t to_dpi) {
    if (from_dpi <= 0 || to_dpi <= 0 || from_dpi == to_dpi) return value;
    const int64_t scaled = int64_t{value} * to_dpi;
    const int64_t half = from_dpi / 2;
    return static_cast<int32_t>(scaled >= 0 ? (scaled + half) / from_dpi
                                            : -((-scaled + half) / from_dpi));
}

StatusPaneLayout status_pane_layout(int32_t screen_width, int32_t dpi) {
    StatusPaneLayout layout;
    layout.tile = {screen_width - scale_for_dpi(400, dpi), scale_for_dpi(150, dpi)};
    layout.x = {screen_width - scale_for_dpi(250, dpi), scale_for_dpi(50, dpi)};
    layout.y = {screen_width - scale_for_dpi(200, dpi), scale_for_dpi(50, dpi)};
    return layout;
}
