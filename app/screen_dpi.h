// The DPI the main window is laid out for, and the fonts made for it. The process is aware of
// each monitor's DPI (its manifest says so), so Windows no longer scales the window as a
// bitmap: the panes, their font and the label text are sized here instead, and the map stays
// one screen pixel per map pixel. At the system DPI the stock fonts are used as they are.
#pragma once
#include <windows.h>

#include <cstdint>

// Screen state (main thread): the DPI of the monitor the main window was last laid out for.
extern int32_t window_dpi;

// The DPI of `window`'s monitor where the system tells it, else the screen's.
int32_t dpi_of_window(HWND window);
// The DPI the stock fonts and the system metrics are made for.
int32_t system_dpi();
// GetSystemMetrics(`index`) as it is at `dpi`.
int32_t system_metric_for_dpi(int index, int32_t dpi);

// The stock font `stock` (ANSI_VAR_FONT for the panes and the label list, SYSTEM_FONT for the
// label text) at window_dpi.
HFONT font_for_window_dpi(int stock);
// The same, but null at the system DPI: a device context then keeps its own font.
HFONT scaled_font_for_window_dpi(int stock);

// Makes window_dpi `dpi`. The fonts made for the previous DPI stay valid until
// release_retired_fonts, so that windows still holding them can be given the new ones first.
void set_window_dpi(int32_t dpi);
void release_retired_fonts();
