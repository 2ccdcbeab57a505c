// Keeps the three status panes above the main window. Windows does that for owned pop-ups by
// itself; Wine's virtual desktop does not (see pane_stacking.cpp), so these calls matter there
// and are harmless on Windows.
#pragma once
#include <windows.h>

// Timer id of the watch that follows each activation of the main window.
constexpr UINT_PTR PANE_WATCH_TIMER = 0x7e01;

// Puts the panes on top, keeping their order; called once the main window is first shown.
void raise_status_panes();

// WM_ACTIVATE of the main window: an activation starts the watch, a deactivation ends it.
void on_main_window_activate(HWND window, WPARAM wparam);

// Raises the panes now and watches them for a second, as after an activation: for focus
// changes inside the main window (the label list box closing) that Wine follows by raising
// the main window without a WM_ACTIVATE.
void watch_status_panes(HWND window);

// WM_TIMER with PANE_WATCH_TIMER: raises the panes if the main window has come over one.
void on_pane_watch_tick(HWND window);

// WM_WINDOWPOSCHANGED of the main window: a z-order change that put it over a pane is undone.
void on_main_window_pos_changed(const WINDOWPOS& position);
