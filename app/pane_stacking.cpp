// Keeps the status panes above the main window under Wine's virtual desktop. Its X11 driver
// maps a window on top of the X stack whatever the Windows z-order (the main window is shown
// after its panes), and raises the main window over its owned pop-ups a moment after each
// activation without a message to say so. So the panes are raised once the main window is
// shown, and for a second after each activation their place is checked every 50 ms.
#include "app/pane_stacking.h"

#include "app/main_window.h"

namespace {

constexpr UINT PANE_WATCH_INTERVAL_MS = 50;
constexpr int PANE_WATCH_TICKS = 20;
int pane_watch_ticks_left = 0;

bool is_status_pane(HWND window) {
    return window != nullptr && (window == tile_pane || window == x_pane || window == y_pane);
}

bool main_window_over_a_pane() {
    int panes_above = 0;
    for (HWND w = GetWindow(main_window, GW_HWNDPREV); w != nullptr; w = GetWindow(w, GW_HWNDPREV))
        if (is_status_pane(w)) ++panes_above;
    const int panes = is_status_pane(tile_pane) + is_status_pane(x_pane) + is_status_pane(y_pane);
    return panes_above < panes;
}

}  // namespace

// Wine passes a z-order change on to X only when the window really moves: a pane that is
// already first stays where X has it. So the panes go to the top from the lowest to the
// highest; each move is real, and they end in their old order.
void raise_status_panes() {
    HWND panes_top_down[3];
    int found = 0;
    for (HWND w = GetTopWindow(nullptr); w != nullptr && found < 3; w = GetWindow(w, GW_HWNDNEXT))
        if (is_status_pane(w)) panes_top_down[found++] = w;
    while (found > 0)
        SetWindowPos(panes_top_down[--found], HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

void on_main_window_activate(HWND window, WPARAM wparam) {
    if (LOWORD(wparam) == WA_INACTIVE) {   // a dialog or another program in front: no raising
        KillTimer(window, PANE_WATCH_TIMER);
        return;
    }
    pane_watch_ticks_left = PANE_WATCH_TICKS;
    SetTimer(window, PANE_WATCH_TIMER, PANE_WATCH_INTERVAL_MS, nullptr);
}

void watch_status_panes(HWND window) {
    raise_status_panes();
    pane_watch_ticks_left = PANE_WATCH_TICKS;
    SetTimer(window, PANE_WATCH_TIMER, PANE_WATCH_INTERVAL_MS, nullptr);
}

void on_pane_watch_tick(HWND window) {
    if (main_window_over_a_pane()) raise_status_panes();
    if (--pane_watch_ticks_left <= 0) KillTimer(window, PANE_WATCH_TIMER);
}

void on_main_window_pos_changed(const WINDOWPOS& position) {
    if (!(position.flags & SWP_NOZORDER) && main_window_over_a_pane()) raise_status_panes();
}
