// Sizes for the monitor's DPI: the viewer's measures (status panes, list width) are given
// for 96 DPI and scaled from there, so at 96 DPI they are exactly the classic ones, and text
// stays as sharp and as large to the eye on a 150 % or 200 % screen. The map is never scaled:
// one screen pixel per map pixel. Platform-free, tested natively.
#pragma once
#include <cstdint>

constexpr int32_t BASE_DPI = 96;

// `value` (a length at `from_dpi`) at `to_dpi`, rounded to the nearest pixel.
int32_t scale_between_dpis(int32_t value, int32_t from_dpi, int32_t to_dpi);
inline int32_t scale_for_dpi(int32_t value_at_96, int32_t dpi) {
    return scale_between_dpis(value_at_96, BASE_DPI, dpi);
}

struct PanePlace {
    int32_t left;    // screen x
    int32_t width;
};

// The status panes over the caption bar's right-hand part, left of the caption buttons, on a
// screen `screen_width` pixels wide: at 96 DPI the tile name from W - 400 (150 wide), x from
// W - 250 and y from W - 200 (50 wide each).
struct StatusPaneLayout {
    PanePlace tile;
    PanePlace x;
    PanePlace y;
};
StatusPaneLayout status_pane_layout(int32_t screen_width, int32_t dpi);
