// Labels on screen and in the list box: the outlined overlay, adding with a right click,
// the text-input dialog, the list box with goto and delete. The list box's items point at
// Label records, so a tileset load closes it before it replaces them. Texts are single lines:
// the dialog turns line breaks, typed or pasted, into spaces.
#include "app/labels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "app/label_index.h"
#include "app/label_math.h"
#include "app/label_store.h"
#include "app/main_window.h"
#include "app/pane_stacking.h"
#include "app/screen_dpi.h"
#include "app/screen_scale.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "app/zoom_view.h"
#include "res/resource_ids.h"

int labels_visible = 1;
HWND label_list = nullptr;
int label_list_open = 0;
int32_t label_list_width = 120;
WNDPROC label_list_base_proc = nullptr;
const char* input_caption = "";
char* input_text = nullptr;

namespace {

// Draws a label whose point shows at zoomed-map point (zx, zy).
void draw_label(HDC dc, const Label& label, int32_t zx, int32_t zy) {
    const int sx = label_client_coordinate(zx, scroll_x);
    const int sy = label_client_coordinate(zy, scroll_y);
    const int length = static_cast<int>(std::strlen(label.text));
    SetTextColor(dc, RGB(0, 0, 0));
    for (const TextOffset& offset : LABEL_OUTLINE_OFFSETS)
        TextOutA(dc, sx + offset.dx, sy + offset.dy, label.text, length);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, sx + LABEL_TEXT_OFFSET.dx, sy + LABEL_TEXT_OFFSET.dy, label.text, length);
}

LabelBox label_box_on_screen(HDC dc, const Label& label, int32_t zx, int32_t zy) {
    SIZE text = {0, 0};
    GetTextExtentPoint32A(dc, label.text, static_cast<int>(std::strlen(label.text)), &text);
    return label_text_box(label_client_coordinate(zx, scroll_x),
                          label_client_coordinate(zy, scroll_y), text.cx, text.cy);
}

// The spatial index of the labels and the records it was built from, in list order; rebuilt
// at the first draw after the list changed (note_labels_changed), or when its head is not the
// head the index was built from.
LabelIndex label_index;
std::vector<const Label*> indexed_labels;
const Label* indexed_head = nullptr;
int64_t longest_label = 0;
bool label_index_current = false;

// Brings the index up to date; false when it cannot be built (no memory), and the caller
// then walks the list.
bool index_labels() {
    if (label_index_current && indexed_head == tileset.labels) return true;
    try {
        std::vector<IndexedPoint> points;
        indexed_labels.clear();
        longest_label = 0;
        for (const Label* label = tileset.labels; label != nullptr; label = label->next) {
            points.push_back({label->x, label->y, static_cast<uint32_t>(indexed_labels.size())});
            indexed_labels.push_back(label);
            longest_label = std::max<int64_t>(longest_label, static_cast<int64_t>(std::strlen(label->text)));
        }
        label_index.build(std::move(points));
    } catch (const std::bad_alloc&) {
        label_index.clear();
        indexed_labels.clear();
        return false;
    }
    indexed_head = tileset.labels;
    label_index_current = true;
    return true;
}

// Draws a label whose point shows at zoomed-map point (zx, zy) unless, zoomed out, its box
// overlaps one drawn before it.
void draw_unless_crowded(HDC dc, const Label& label, int32_t zx, int32_t zy, LabelCuller* drawn) {
    if (drawn != nullptr && !drawn->take(label_box_on_screen(dc, label, zx, zy))) return;
    draw_label(dc, label, zx, zy);
}

// Every label within the drawing margin, as the list runs.
void draw_every_label(HDC dc, int32_t width, int32_t height, LabelCuller* drawn) {
    for (const Label* label = tileset.labels; label != nullptr; label = label->next) {
        if (label->text[0] == '\0') continue;
        const int32_t zx = zoomed_of_map(label->x, zoom_level);
        const int32_t zy = zoomed_of_map(label->y, zoom_level);
        if (label_in_drawing_margin(zx, zy, scroll_x, scroll_y, width, height))
            draw_unless_crowded(dc, *label, zx, zy, drawn);
    }
}

Label* selected_label(HWND list) {
    const LRESULT selection = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR) return nullptr;
    const LRESULT data = SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(selection), 0);
    if (data == LB_ERR || data == 0) return nullptr;
    return reinterpret_cast<Label*>(data);
}

// True when `label` is still a record of the current list (a list item never outlives it,
// but the check keeps a stale item from reaching freed memory).
bool label_is_current(const Label* label) {
    for (const Label* l = tileset.labels; l != nullptr; l = l->next)
        if (l == label) return true;
    return false;
}

WNDPROC input_edit_base_proc = nullptr;

// The text-input field's procedure: a paste arrives as one line, each line break one space.
LRESULT CALLBACK input_edit_proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_PASTE || !IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboard(edit))
        return CallWindowProcA(input_edit_base_proc, edit, message, wparam, lparam);
    HANDLE data = GetClipboardData(CF_TEXT);
    const char* pasted = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr;
    if (pasted != nullptr) {
        const size_t size = GlobalSize(data);
        const size_t length = strnlen(pasted, size);
        char* line = static_cast<char*>(std::malloc(length + 1));
        if (line != nullptr) {
            std::memcpy(line, pasted, length);
            line[length] = '\0';
            flatten_line_breaks(line);
        }
        GlobalUnlock(data);
        CloseClipboard();
        if (line != nullptr) {
            SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(line));
            std::free(line);
        }
        return 0;
    }
    CloseClipboard();
    return 0;
}

}  // namespace

// The labels near the view, in the device context's current font.
static void draw_labels_near_view(HDC dc, const RECT& rectangle) {
    const int32_t width = rectangle.right;
    const int32_t height = rectangle.bottom;
    // Zoomed out, a label that would overlap one drawn before it is left out.
    LabelCuller culler;
    LabelCuller* const drawn = labels_culled_at(zoom_level) ? &culler : nullptr;
    if (!index_labels()) {
        draw_every_label(dc, width, height, drawn);
        return;
    }
    TEXTMETRICA font;
    if (!GetTextMetricsA(dc, &font)) {
        draw_every_label(dc, width, height, drawn);
        return;
    }
    const int32_t char_width = font.tmMaxCharWidth + font.tmOverhang;
    // The area is worked out on the zoomed map, then looked up as the map points it can hold.
    const OpenWorldRect near_view = label_drawing_area(
        scroll_x, scroll_y, width, height, label_reach(longest_label, char_width, font.tmHeight));
    // Found in list order, so later labels are still drawn over earlier ones.
    for (const uint32_t ordinal : label_index.query(map_area_of_zoomed(near_view, zoom_level))) {
        const Label& label = *indexed_labels[ordinal];
        const size_t length = std::strlen(label.text);
        if (length == 0) continue;   // an empty text draws nothing
        const OpenWorldRect own = label_drawing_area(
            scroll_x, scroll_y, width, height,
            label_reach(static_cast<int64_t>(length), char_width, font.tmHeight));
        const int32_t zx = zoomed_of_map(label.x, zoom_level);
        const int32_t zy = zoomed_of_map(label.y, zoom_level);
        if (own.left < zx && zx < own.right && own.top < zy && zy < own.bottom)
            draw_unless_crowded(dc, label, zx, zy, drawn);
    }
}

void draw_label_overlay(HDC dc, const RECT& rectangle) {
    if (!labels_visible) return;
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_CENTER);
    // The text in the device context's own font; on a monitor of another DPI than the
    // system's, the system font made for that DPI.
    const HFONT scaled_font = scaled_font_for_window_dpi(SYSTEM_FONT);
    const HGDIOBJ previous_font = scaled_font != nullptr ? SelectObject(dc, scaled_font) : nullptr;
    draw_labels_near_view(dc, rectangle);
    if (previous_font != nullptr) SelectObject(dc, previous_font);
}

void on_label_list_dpi_changed(int32_t old_dpi, int32_t new_dpi) {
    label_list_width = scale_between_dpis(label_list_width, old_dpi, new_dpi);
    if (!label_list_open || label_list == nullptr) return;
    RECT frame;
    GetWindowRect(label_list, &frame);
    SetWindowPos(label_list, nullptr, 0, 0, label_list_width, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(label_list, WM_SETFONT,
                 reinterpret_cast<WPARAM>(font_for_window_dpi(ANSI_VAR_FONT)), TRUE);
}

void note_labels_changed() { label_index_current = false; }

void on_add_label(HWND window, LPARAM click_point) {
    const int32_t click_x = LOWORD(click_point);   // unsigned 16-bit, as the message carries it
    const int32_t click_y = HIWORD(click_point);
    input_caption = "Add new label:";
    input_text = nullptr;
    const INT_PTR result = DialogBoxParamA(app_instance, MAKEINTRESOURCEA(TEXT_INPUT_DIALOG),
                                           window, text_input_dialog_proc, 0);
    if (result == 1) {
        Label* label = static_cast<Label*>(std::calloc(1, sizeof(Label)));
        if (label == nullptr) {
            std::free(input_text);
            input_text = nullptr;
            return;
        }
        label->text = input_text;
        const MapPoint point = map_point_under(click_x, click_y, scroll_x, scroll_y, zoom_level);
        label->x = point.x;
        label->y = point.y;
        label->next = tileset.labels;
        if (tileset.labels != nullptr) tileset.labels->prev = label;
        tileset.labels = label;
        input_text = nullptr;
        labels_unsaved = 1;
        note_labels_changed();
    }
    InvalidateRect(window, nullptr, FALSE);
}

void close_label_list() {
    if (label_list_open) toggle_label_list(main_window);
}

void on_toggle_labels_visible(HWND window) {
    labels_visible = !labels_visible;
    InvalidateRect(window, nullptr, FALSE);
}

INT_PTR CALLBACK text_input_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        HWND edit = GetDlgItem(dialog, INPUT_EDIT_ID);
        SendMessageA(edit, EM_LIMITTEXT, MAX_STORED_LABEL_LENGTH, 0);   // what the file keeps
        input_edit_base_proc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(input_edit_proc)));
        SetFocus(edit);
        SetWindowTextA(dialog, input_caption);
        if (input_text != nullptr) {
            SetWindowTextA(edit, input_text);
            SendMessageA(edit, EM_SETSEL, 0, static_cast<LPARAM>(std::strlen(input_text)));
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            HWND edit = GetDlgItem(dialog, INPUT_EDIT_ID);
            const int length = GetWindowTextLengthA(edit);
            char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
            if (text == nullptr) return FALSE;
            text[0] = '\0';
            GetWindowTextA(edit, text, length + 1);
            flatten_line_breaks(text);   // a text set or typed with line breaks, too
            input_text = text;
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

void toggle_label_list(HWND parent) {
    if (label_list_open) {
        HWND closing = label_list;
        const bool had_focus = GetFocus() == closing;
        label_list_open = 0;
        label_list = nullptr;
        DestroyWindow(closing);
        // The keys go back to the map; Wine raises the main window over its panes as the
        // focus comes back, without an activation to say so.
        if (had_focus) SetFocus(parent);
        watch_status_panes(parent);
        return;
    }
    RECT client = {0, 0, 0, 0};
    GetClientRect(parent, &client);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE));
    HWND list = CreateWindowExA(0, "LISTBOX", nullptr,
                                WS_CHILD | WS_VSCROLL | WS_THICKFRAME | LBS_NOINTEGRALHEIGHT |
                                    LBS_SORT | LBS_NOTIFY,
                                0, 0, label_list_width, client.bottom, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(LABEL_LIST_ID)),
                                instance, nullptr);
    if (list == nullptr) return;
    label_list = list;
    SetWindowLongPtrA(list, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(parent));
    label_list_base_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(label_list_proc)));
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(font_for_window_dpi(ANSI_VAR_FONT)), FALSE);
    for (Label* label = tileset.labels; label != nullptr; label = label->next) {
        const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label->text));
        if (index >= 0)
            SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index),
                         reinterpret_cast<LPARAM>(label));
    }
    ShowWindow(list, SW_SHOW);
    SetFocus(list);
    label_list_open = 1;
    watch_status_panes(parent);
}

LRESULT CALLBACK label_list_proc(HWND list, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_SIZE: {
        RECT frame;
        GetWindowRect(list, &frame);
        label_list_width = frame.right - frame.left;
        break;
    }
    case WM_KEYDOWN:
        if (wparam == VK_RETURN || wparam == VK_ESCAPE) {
            toggle_label_list(reinterpret_cast<HWND>(GetWindowLongPtrA(list, GWLP_USERDATA)));
            return 0;
        }
        if (wparam == VK_DELETE) {
            delete_selected_label(list);
            return 0;
        }
        break;
    default:
        break;
    }
    return CallWindowProcA(label_list_base_proc, list, message, wparam, lparam);
}

void delete_selected_label(HWND list) {
    const LRESULT selection = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR) return;
    Label* label = selected_label(list);
    if (label == nullptr || !label_is_current(label)) return;
    if (label->next != nullptr) label->next->prev = label->prev;
    if (label->prev != nullptr) label->prev->next = label->next;
    if (tileset.labels == label) tileset.labels = label->next;
    free_label(label);
    labels_unsaved = 1;
    SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(selection), 0);
    InvalidateRect(reinterpret_cast<HWND>(GetWindowLongPtrA(list, GWLP_USERDATA)), nullptr, TRUE);
}

void goto_selected_label() {
    if (!label_list_open || label_list == nullptr) return;
    const Label* label = selected_label(label_list);
    if (label == nullptr || !label_is_current(label)) return;
    RECT client = {0, 0, 0, 0};
    GetClientRect(main_window, &client);
    scroll_x = centred_scroll(zoomed_of_map(label->x, zoom_level), client.right);
    scroll_y = centred_scroll(zoomed_of_map(label->y, zoom_level), client.bottom);
    clamp_scroll(client.right, client.bottom);
    update_status_panes();
    update_scroll_bars();
    InvalidateRect(main_window, nullptr, TRUE);
}
