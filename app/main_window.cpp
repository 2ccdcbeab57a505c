// The main window and everything around it: class registration, creation with the status
// panes, the command line, the window procedure (one handler per message, one function per
// command) and the message loop.
#include "app/main_window.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/dialogs.h"
#include "app/dropped_files.h"
#include "app/labels.h"
#include "app/pane_stacking.h"
#include "app/pane_text.h"
#include "app/recent_tilesets.h"
#include "app/screen_dpi.h"
#include "app/screen_scale.h"
#include "app/tileset.h"
#include "app/user_messages.h"
#include "app/viewport.h"
#include "app/zoom_view.h"
#include "app/wide_text.h"
#include "res/resource_ids.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_loader.h"

HINSTANCE app_instance = nullptr;
char window_title[100] = "";
char class_name[100] = "";
HWND main_window = nullptr;
HWND x_pane = nullptr;
HWND y_pane = nullptr;
HWND tile_pane = nullptr;

void load_window_strings(HINSTANCE instance) {
    LoadStringA(instance, IDS_WINDOW_TITLE, window_title, sizeof window_title);
    LoadStringA(instance, IDS_CLASS_NAME, class_name, sizeof class_name);
}

ATOM register_main_class(HINSTANCE instance) {
    WNDCLASSEXA window_class;
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_proc;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(APP_ICON));
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszMenuName = MAKEINTRESOURCEA(MAIN_MENU);
    window_class.lpszClassName = class_name;
    window_class.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(108));   // none: derived
    return RegisterClassExA(&window_class);
}

namespace {

HWND create_status_pane(DWORD alignment, const PanePlace& place, int height) {
    HWND pane = CreateWindowExA(WS_EX_STATICEDGE, "STATIC", "0",
                                WS_POPUP | WS_VISIBLE | alignment, place.left, 0, place.width,
                                height, main_window, nullptr, app_instance, nullptr);
    if (pane != nullptr)
        SendMessageA(pane, WM_SETFONT,
                     reinterpret_cast<WPARAM>(font_for_window_dpi(ANSI_VAR_FONT)), TRUE);
    return pane;
}

int status_pane_height() { return system_metric_for_dpi(SM_CYCAPTION, window_dpi) - 1; }

void place_status_pane(HWND pane, const PanePlace& place) {
    if (pane == nullptr) return;
    SetWindowPos(pane, nullptr, place.left, 0, place.width, status_pane_height(),
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(font_for_window_dpi(ANSI_VAR_FONT)),
                 TRUE);
}

// ---- commands ----

// Loads a tileset as the user asked (menu, keys or command line); a refused file is
// explained in a message box and the view keeps what it had.
void open_tileset(HWND window, const char* file_name) {
    const TilesetLoadResult result = load_tileset(window, file_name);
    InvalidateRect(window, nullptr, TRUE);
    if (result.outcome == TilesetLoadOutcome::LOADED)
        remember_recent_tileset(window, tileset.file_path);
    if (result.outcome == TilesetLoadOutcome::LOADED ||
        result.outcome == TilesetLoadOutcome::CANCELLED)
        return;
    char text[sizeof result.file + sizeof result.reason + 40];
    format_load_failure(result, text, sizeof text);
    report_to_user(window, text, window_title, MB_OK | MB_ICONWARNING);
}

void command_load_tileset(HWND window) { open_tileset(window, nullptr); }

// A message box from the string `format_id`, whose one conversion takes `argument`.
template <typename Argument>
void report_formatted(HWND window, UINT format_id, Argument argument, UINT icon) {
    char format[200] = "";
    LoadStringA(app_instance, format_id, format, sizeof format);
    const int length = std::snprintf(nullptr, 0, format, argument);
    if (length < 0) return;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), format, argument);
    text.resize(static_cast<size_t>(length));
    report_to_user(window, text.c_str(), window_title, MB_OK | icon);
}

// File > 1 ... 8: the recent tileset opens as if chosen in the dialog; one that is no longer
// there is explained and taken off the list.
void command_open_recent(HWND window, const std::string& chosen) {
    const std::string path = chosen;   // the list changes under the open
    const DWORD attributes = GetFileAttributesW(widen(path.c_str()).c_str());
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        report_formatted(window, IDS_RECENT_MISSING, path.c_str(), MB_ICONWARNING);
        forget_recent_tileset(window, path.c_str());
        return;
    }
    open_tileset(window, path.c_str());
}

// A command-line path too long to open: the message names its beginning.
void report_path_too_long(const CommandLineScan& scan) {
    TilesetLoadResult result = load_refused_path_too_long(scan.dropped_length, PATH_CHARACTERS - 1);
    std::snprintf(result.file, sizeof result.file, "%.60s...", scan.dropped_path);
    char text[sizeof result.file + sizeof result.reason + 40];
    format_load_failure(result, text, sizeof text);
    report_to_user(main_window, text, window_title, MB_OK | MB_ICONWARNING);
}

void command_save_tileset(HWND window) {
    if (tileset.loaded) save_labels_or_report(window);
}

void command_options(HWND window) {
    if (tileset.loaded)
        DialogBoxParamA(app_instance, MAKEINTRESOURCEA(OPTIONS_DIALOG), window,
                        options_dialog_proc, 0);
}

void command_about(HWND window) {
    DialogBoxParamA(app_instance, MAKEINTRESOURCEA(ABOUT_DIALOG), window, about_dialog_proc, 0);
}

// Exit, Alt+X, Alt+F4 and the close box: unsaved labels are offered for saving first.
void command_exit(HWND window) {
    if (settle_unsaved_labels(window)) DestroyWindow(window);
}

LRESULT on_command(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (LOWORD(wparam)) {
    case CMD_ABOUT: command_about(window); return 0;
    case CMD_EXIT: command_exit(window); return 0;
    case LABEL_LIST_ID: goto_selected_label(); return 0;
    case CMD_LOAD_TILESET: command_load_tileset(window); return 0;
    case CMD_SAVE_TILESET: command_save_tileset(window); return 0;
    case CMD_OPTIONS: command_options(window); return 0;
    case CMD_ZOOM_IN: command_zoom_in(window); return 0;
    case CMD_ZOOM_OUT: command_zoom_out(window); return 0;
    case CMD_ZOOM_WHOLE_MAP: command_zoom_whole_map(window); return 0;
    case CMD_ZOOM_ONE_TO_ONE: command_zoom_one_to_one(window); return 0;
    default: break;
    }
    if (const std::string* recent = recent_tileset_of_command(LOWORD(wparam))) {
        command_open_recent(window, *recent);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// ---- messages ----

void on_key_down(HWND window, WPARAM key) {
    switch (key) {
    case 'G':
        if (tileset.loaded) toggle_label_list(window);
        else run_key_tail(window);
        return;
    case 'L': on_toggle_labels_visible(window); return;
    case 'O': command_load_tileset(window); return;
    case 'S': command_save_tileset(window); return;
    default: on_navigation_key_down(window, key); return;
    }
}

void on_mouse_move(HWND window) {
    if (dragging) on_drag_move(window);
    else update_status_panes();
}

// Files dropped on the window: one tileset file opens as if chosen in the dialog (unsaved
// labels are asked about first); anything else is explained in one message box.
void on_drop_files(HWND window, HDROP drop) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::wstring first;
    if (count > 0) {
        first.assign(DragQueryFileW(drop, 0, nullptr, 0) + 1, L'\0');
        first.resize(DragQueryFileW(drop, 0, &first[0], static_cast<UINT>(first.size())));
    }
    DragFinish(drop);
    const std::string path = narrow(first.c_str());
    switch (classify_drop(count, path)) {
    case DropAction::OPEN_TILESET: open_tileset(window, path.c_str()); return;
    case DropAction::NOT_A_TILESET: report_formatted(window, IDS_DROP_NOT_A_TILESET, path.c_str(), MB_ICONWARNING); return;
    case DropAction::SEVERAL: report_formatted(window, IDS_DROP_SEVERAL, count, MB_ICONWARNING); return;
    case DropAction::NOTHING: return;
    }
}

// The window moved to a monitor of another DPI (or the user changed the scale): panes, fonts
// and the label list take the new size, and the window the place the system suggests.
void on_dpi_changed(HWND window, WPARAM wparam, LPARAM lparam) {
    const int32_t old_dpi = window_dpi;
    set_window_dpi(HIWORD(wparam));
    const StatusPaneLayout layout = status_pane_layout(GetSystemMetrics(SM_CXSCREEN), window_dpi);
    place_status_pane(tile_pane, layout.tile);
    place_status_pane(x_pane, layout.x);
    place_status_pane(y_pane, layout.y);
    on_label_list_dpi_changed(old_dpi, window_dpi);
    release_retired_fonts();
    const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, TRUE);
}

// The window is going: no tile is offered to it any more, and the message loop ends.
void on_destroy() {
    set_tile_receiver(nullptr);
    forget_shown_scroll_bars();
    PostQuitMessage(0);
}

}  // namespace

BOOL create_main_window(HINSTANCE instance, int show_command) {
    app_instance = instance;
    start_tile_loader();
    const int screen_width = GetSystemMetrics(SM_CXSCREEN);
    const int screen_height = GetSystemMetrics(SM_CYSCREEN);
    main_window = CreateWindowExA(0, class_name, window_title,
                                  WS_OVERLAPPEDWINDOW | WS_HSCROLL | WS_VSCROLL | WS_CLIPCHILDREN,
                                  0, 0, screen_width, screen_height, nullptr, nullptr, instance,
                                  nullptr);
    if (main_window == nullptr) return FALSE;
    set_tile_receiver(main_window);
    set_window_dpi(dpi_of_window(main_window));
    label_list_width = scale_for_dpi(label_list_width, window_dpi);

    const StatusPaneLayout layout = status_pane_layout(screen_width, window_dpi);
    x_pane = create_status_pane(SS_RIGHT, layout.x, status_pane_height());
    y_pane = create_status_pane(SS_RIGHT, layout.y, status_pane_height());
    tile_pane = create_status_pane(SS_CENTER, layout.tile, status_pane_height());
    load_recent_tilesets(main_window);
    DragAcceptFiles(main_window, TRUE);

    ShowWindow(main_window, show_command);
    UpdateWindow(main_window);
    raise_status_panes();
    return TRUE;
}

std::string command_line_tail_utf8() {
    const std::string whole = narrow(GetCommandLineW());
    return skip_program_name(whole.c_str());
}

void parse_command_line(const char* command_line_tail) {
    char path[FILE_PATH_CAPACITY];
    CommandLineScan scan = scan_command_line(command_line_tail, path, sizeof path);
    // The buffer takes 260 characters of UTF-8; a path of more characters is one too long.
    const size_t characters = path_characters(path);
    const std::string dropped = path;
    if (characters > static_cast<size_t>(PATH_CHARACTERS - 1)) {
        scan.path_too_long = true;
        scan.dropped_path = dropped.c_str();
        scan.dropped_length = characters;
        path[0] = '\0';
    }
    if (scan.maximise) ShowWindow(main_window, SW_SHOWMAXIMIZED);
    if (path[0] != '\0') open_tileset(main_window, path);
    if (scan.path_too_long) report_path_too_long(scan);
}

void update_status_panes() {
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    ScreenToClient(main_window, &cursor);
    // The map pixel under the cursor at the zoom in force (at 1:1, cursor plus scroll).
    const MapPoint map = map_point_under(cursor.x, cursor.y, scroll_x, scroll_y, zoom_level);
    const PaneTexts texts = format_pane_texts(map.x, map.y, 0, 0, tileset.loaded != 0,
                                              tileset.tile_width, tileset.tile_height);
    SendMessageA(x_pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(texts.x_text));
    SendMessageA(y_pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(texts.y_text));
    SendMessageA(tile_pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(texts.tile_text));
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CLOSE: command_exit(window); return 0;
    case WM_DESTROY: on_destroy(); return 0;
    case WM_SIZE: on_size(window); return 0;
    case WM_WINDOWPOSCHANGED:   // and on to DefWindowProcA, which sends WM_SIZE and WM_MOVE
        on_main_window_pos_changed(*reinterpret_cast<const WINDOWPOS*>(lparam));
        return DefWindowProcA(window, message, wparam, lparam);
    case WM_ACTIVATE:   // and on to DefWindowProcA, which sets the focus
        on_main_window_activate(window, wparam);
        return DefWindowProcA(window, message, wparam, lparam);
    case WM_TIMER:
        if (wparam == PANE_WATCH_TIMER) on_pane_watch_tick(window);
        return 0;
    case WM_PAINT: on_paint(window); return 0;
    case WM_DPICHANGED: on_dpi_changed(window, wparam, lparam); return 0;
    case WM_DROPFILES: on_drop_files(window, reinterpret_cast<HDROP>(wparam)); return 0;
    case WM_KEYDOWN: on_key_down(window, wparam); return 0;
    case WM_KEYUP: on_key_up(wparam); return 0;
    case WM_COMMAND: return on_command(window, message, wparam, lparam);
    case WM_HSCROLL: on_scroll_request(window, SB_HORZ, wparam); return 0;
    case WM_VSCROLL: on_scroll_request(window, SB_VERT, wparam); return 0;
    case WM_MOUSEMOVE: on_mouse_move(window); return 0;
    case WM_LBUTTONDOWN: on_drag_begin(window, lparam); return 0;
    case WM_LBUTTONUP: on_drag_end(); return 0;
    case WM_CAPTURECHANGED: on_capture_lost(); return 0;
    case WM_RBUTTONUP: on_add_label(window, lparam); return 0;
    case WM_MOUSEWHEEL: on_mouse_wheel(window, wparam, lparam); return 0;
    case WM_TILE_LOADED:
        return on_tile_loaded(reinterpret_cast<CachedTile*>(lparam), static_cast<uint32_t>(wparam));
    case WM_QUEUE_ZOOMED_TILES: return on_queue_zoomed_tiles(window);
    default: return DefWindowProcA(window, message, wparam, lparam);
    }
}

void end_drag_before_accelerator(const MSG& message) {
    if (!dragging) return;
    const bool with_alt = message.message == WM_SYSKEYDOWN && message.wParam != VK_MENU;
    const bool with_ctrl = message.message == WM_KEYDOWN && message.wParam != VK_CONTROL &&
                           GetKeyState(VK_CONTROL) < 0;
    if (with_alt || with_ctrl) ReleaseCapture();
}

int run_message_loop(HACCEL accelerators) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        end_drag_before_accelerator(message);
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
