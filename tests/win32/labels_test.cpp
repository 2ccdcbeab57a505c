// Labels, the Options dialog and the About box on the real main window: adding a label with
// a right click through the text dialog, the label list box with goto and delete, showing
// and hiding, the overlay's pixels, saving (failures reported, the question about unsaved
// labels, interrupted saves) and the cache size stored by Options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/labels.h"
#include "app/main_window.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "app/whole_file.h"
#include "res/resource_ids.h"
#include "tests/win32/window_fixture.h"

namespace {

// ---- helpers ----

// A broken unlink can leave a cycle; no test list is anywhere near this long.
constexpr int LIST_WALK_LIMIT = 1000;

std::vector<std::string> label_texts() {
    std::vector<std::string> texts;
    for (Label* label = tileset.labels; label != nullptr && texts.size() < LIST_WALK_LIMIT;
         label = label->next)
        texts.push_back(label->text);
    return texts;
}

// The list's prev links must mirror its next links, with no prev at the head.
::testing::AssertionResult list_links_consistent() {
    const Label* previous = nullptr;
    int index = 0;
    for (const Label* label = tileset.labels; label != nullptr; label = label->next, ++index) {
        if (index > LIST_WALK_LIMIT) return ::testing::AssertionFailure() << "the list runs in a cycle";
        if (label->prev != previous)
            return ::testing::AssertionFailure()
                   << "label " << index << " (" << label->text << ") has prev " << label->prev
                   << ", expected " << previous;
        previous = label;
    }
    return ::testing::AssertionSuccess();
}

Label* find_label(const std::string& text) {
    int walked = 0;
    for (Label* label = tileset.labels; label != nullptr && walked++ < LIST_WALK_LIMIT; label = label->next)
        if (text == label->text) return label;
    return nullptr;
}

std::string labels_file_lines(const std::vector<std::string>& texts, int first_x, int first_y) {
    std::string lines = "LabelCount=" + std::to_string(texts.size()) + "\r\n";
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        lines += "Label" + n + "X=" + std::to_string(first_x + 100 * static_cast<int>(i)) + "\r\n";
        lines += "Label" + n + "Y=" + std::to_string(first_y + 100 * static_cast<int>(i)) + "\r\n";
        lines += "Label" + n + "Len=" + std::to_string(texts[i].size()) + "\r\n";
        lines += "Label" + n + "Text=" + texts[i] + "\r\n";
    }
    return lines;
}

std::string profile_string(const std::string& file, const char* key) {
    char value[512] = "";
    GetPrivateProfileStringA(TILESET_SECTION, key, "<missing>", value, sizeof value, file.c_str());
    return value;
}

void key_down(HWND window, WPARAM key) { SendMessageA(window, WM_KEYDOWN, key, 0); }

// The dialog's control that has the keyboard focus on the thread running its modal loop.
HWND focus_of(HWND dialog) {
    GUITHREADINFO info;
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

std::string item_text(HWND dialog, int id) {
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void click(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void press(HWND control, WPARAM key) {
    PostMessageA(control, WM_KEYDOWN, key, 0);
    PostMessageA(control, WM_KEYUP, key, 0xC0000001);
}

// The update region's bounding box after the main window has been validated and `action` run.
RECT invalidated_by(const std::function<void()>& action) {
    pump_messages();
    ValidateRect(main_window, nullptr);
    action();
    RECT update = {0, 0, 0, 0};
    GetUpdateRect(main_window, &update, FALSE);
    return update;
}

::testing::AssertionResult whole_client(const RECT& update) {
    const RECT client = client_rect();
    if (EqualRect(&update, &client)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected the whole client area (0,0)-(" << client.right << "," << client.bottom
           << ") to be invalidated, got (" << update.left << "," << update.top << ")-("
           << update.right << "," << update.bottom << ")";
}

// The client-size memory bitmap with a crisp font selected, so every pixel the overlay
// draws is exactly white or black.
class Canvas {
public:
    Canvas() {
        font_ = CreateFontA(-15, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                            DEFAULT_PITCH, "Tahoma");
        old_font_ = SelectObject(view_.dc(), font_);
    }
    ~Canvas() {
        SelectObject(view_.dc(), old_font_);
        DeleteObject(font_);
    }
    bool ok() const { return view_.ok() && font_ != nullptr; }
    HDC dc() const { return view_.dc(); }
    void fill(uint32_t colour) { view_.fill(colour); }
    uint32_t at(int x, int y) const { return view_.pixel(x, y); }
    int width() const { return view_.client().right; }
    int height() const { return view_.client().bottom; }

private:
    OffscreenView view_;
    HFONT font_ = nullptr;
    HGDIOBJ old_font_ = nullptr;
};

constexpr uint32_t WHITE = 0xFFFFFF;
constexpr uint32_t BLACK = 0x000000;

// Bounding box of the canvas pixels of one colour (empty when there are none).
struct Box {
    int left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;   // inclusive
    int count = 0;
};
Box box_of(const Canvas& canvas, uint32_t colour) {
    GdiFlush();
    Box box;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.at(x, y) == colour) {
                ++box.count;
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}
// The pixels of a box grown by `margin` as text: W white, # black, . `background`, ? other.
std::string picture(const Canvas& canvas, const Box& box, int margin, uint32_t background) {
    GdiFlush();
    std::string text = "\n";
    for (int y = std::max(0, box.top - margin); y <= std::min(canvas.height() - 1, box.bottom + margin); ++y) {
        for (int x = std::max(0, box.left - margin); x <= std::min(canvas.width() - 1, box.right + margin); ++x) {
            const uint32_t c = canvas.at(x, y);
            text += c == WHITE ? 'W' : c == BLACK ? '#' : c == background ? '.' : '?';
        }
        text += '\n';
    }
    return text;
}

int count_other_than(const Canvas& canvas, uint32_t colour) {
    GdiFlush();
    int count = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.at(x, y) != colour) ++count;
    return count;
}

// ---- fixture ----

class Labels : public ::testing::Test {
protected:
    void SetUp() override {
        labels_unsaved = 0;   // labels an earlier test added are not this one's to save
        if (label_list_open) toggle_label_list(main_window);
        label_list_width = 120;
        labels_visible = 1;
        path_ = write_tileset("labels-map.tvt", 256, 256, 10, 8,
                              "MaxCache=50\r\n" +
                                  labels_file_lines({"delta", "alpha", "charlie", "bravo"}, 1200, 900));
        load(path_);
        ASSERT_EQ(tileset.loaded, 1);
        ASSERT_EQ(label_texts(), (std::vector<std::string>{"delta", "alpha", "charlie", "bravo"}));
        reset_view();
    }
    void TearDown() override {
        labels_unsaved = 0;
        if (label_list_open) toggle_label_list(main_window);
        labels_visible = 1;
        SetFocus(main_window);
        pump_messages();
    }
    void open_list() {
        key_down(main_window, 'G');
        ASSERT_EQ(label_list_open, 1) << "G with a tileset loaded opens the list";
        ASSERT_TRUE(IsWindow(label_list));
    }
    std::vector<std::string> list_items() {
        std::vector<std::string> items;
        const LRESULT count = SendMessageA(label_list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char text[256] = "";
            SendMessageA(label_list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            items.push_back(text);
        }
        return items;
    }
    int item_index(const char* text) {
        return static_cast<int>(SendMessageA(label_list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(text)));
    }
    // Selects an item as the program would, then notifies the main window as the box does.
    void select_and_notify(int index) {
        SendMessageA(label_list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(LABEL_LIST_ID, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(label_list));
    }
    std::string path_;
};

// ---- adding a label ----

struct TextDialogSeen {
    std::string edit_text = "<unread>";
    bool edit_has_focus = false;
};

// Right-clicks at client (x, y); `finish` ends the text dialog. Fails when no dialog titled
// "Add new label:" appears.
::testing::AssertionResult right_click(int x, int y, const std::function<void(HWND)>& finish,
                                       TextDialogSeen* seen = nullptr) {
    const bool appeared = with_dialog(
        "Add new label:",
        [&] { SendMessageA(main_window, WM_RBUTTONUP, 0, MAKELPARAM(x, y)); },
        [&](HWND dialog) {
            if (seen != nullptr) {
                seen->edit_text = item_text(dialog, INPUT_EDIT_ID);
                seen->edit_has_focus = focus_of(dialog) == GetDlgItem(dialog, INPUT_EDIT_ID);
            }
            finish(dialog);
        });
    if (appeared) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no dialog titled \"Add new label:\" after a right click at ("
                                         << x << ", " << y << ")";
}

TEST_F(Labels, RightClickWithOkPinsTheTextAtTheClickedWorldPoint) {
    scroll_x = 300;
    scroll_y = 200;
    TextDialogSeen seen;
    RECT update = invalidated_by([&] {
        EXPECT_TRUE(right_click(40, 50, [](HWND dialog) {
            SetDlgItemTextA(dialog, INPUT_EDIT_ID, "Harbour mouth");
            press(GetDlgItem(dialog, INPUT_EDIT_ID), VK_RETURN);   // Enter means OK
        }, &seen));
    });
    EXPECT_EQ(seen.edit_text, "") << "the field starts empty";
    EXPECT_TRUE(seen.edit_has_focus) << "the edit field has the focus when the dialog opens";
    ASSERT_NE(tileset.labels, nullptr);
    EXPECT_STREQ(tileset.labels->text, "Harbour mouth") << "the new label is the head";
    EXPECT_EQ(tileset.labels->x, 340) << "scroll_x 300 + click x 40";
    EXPECT_EQ(tileset.labels->y, 250) << "scroll_y 200 + click y 50";
    EXPECT_EQ(label_texts().size(), 5u);
    EXPECT_TRUE(list_links_consistent());
    EXPECT_EQ(input_text, nullptr) << "the text now belongs to the label";
    EXPECT_TRUE(whole_client(update));

    // OK pressed with the button and an empty field: an empty label.
    EXPECT_TRUE(right_click(7, 8, [](HWND dialog) { click(dialog, IDOK); }));
    ASSERT_NE(tileset.labels, nullptr);
    EXPECT_STREQ(tileset.labels->text, "");
    EXPECT_EQ(tileset.labels->x, 307);
    EXPECT_EQ(label_texts().size(), 6u);
    EXPECT_TRUE(list_links_consistent());
}

TEST_F(Labels, CancelEscAndCloseBoxAddNothingButRepaint) {
    struct Case {
        const char* name;
        std::function<void(HWND)> finish;
    };
    const Case cases[] = {
        {"Cancel button", [](HWND dialog) {
             SetDlgItemTextA(dialog, INPUT_EDIT_ID, "not wanted");
             click(dialog, IDCANCEL);
         }},
        {"Esc", [](HWND dialog) {
             SetDlgItemTextA(dialog, INPUT_EDIT_ID, "not wanted");
             press(GetDlgItem(dialog, INPUT_EDIT_ID), VK_ESCAPE);
         }},
        {"close box", [](HWND dialog) {
             SetDlgItemTextA(dialog, INPUT_EDIT_ID, "not wanted");
             PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
         }},
    };
    const std::vector<std::string> before = label_texts();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RECT update = invalidated_by([&] { EXPECT_TRUE(right_click(100, 100, c.finish)); });
        EXPECT_EQ(label_texts(), before);
        EXPECT_TRUE(whole_client(update));
    }
}

TEST_F(Labels, TextDialogOffersAnInitialTextSelectedAndReturnsANewOne) {
    char initial[] = "old name";
    input_caption = "Rename label:";
    input_text = initial;
    std::string shown;
    DWORD selection = 0;
    INT_PTR result = -1;
    const bool appeared = with_dialog(
        "Rename label:",
        [&] {
            result = DialogBoxParamA(app_instance, MAKEINTRESOURCEA(TEXT_INPUT_DIALOG), main_window,
                                     text_input_dialog_proc, 0);
        },
        [&](HWND dialog) {
            shown = item_text(dialog, INPUT_EDIT_ID);
            selection = static_cast<DWORD>(SendDlgItemMessageA(dialog, INPUT_EDIT_ID, EM_GETSEL, 0, 0));
            SetDlgItemTextA(dialog, INPUT_EDIT_ID, "new name");
            click(dialog, IDOK);
        });
    ASSERT_TRUE(appeared) << "no dialog titled \"Rename label:\"";
    EXPECT_EQ(shown, "old name");
    EXPECT_EQ(LOWORD(selection), 0) << "selection start";
    EXPECT_EQ(HIWORD(selection), 8) << "selection end: the whole initial text";
    EXPECT_EQ(result, 1);
    ASSERT_NE(input_text, nullptr);
    EXPECT_NE(input_text, initial) << "OK returns a new heap text; the caller keeps the old one";
    EXPECT_STREQ(input_text, "new name");
    EXPECT_STREQ(initial, "old name");
    std::free(input_text);
    input_text = nullptr;
}

// ---- the list box ----

TEST_F(Labels, ListOpensAtTheLeftEdgeSortedWithRecordsAndTakesTheFocus) {
    open_list();
    const RECT client = client_rect();
    RECT frame;
    GetWindowRect(label_list, &frame);
    POINT origin = {frame.left, frame.top};
    ScreenToClient(main_window, &origin);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 0);
    EXPECT_EQ(frame.right - frame.left, 120) << "label_list_width";
    EXPECT_EQ(frame.bottom - frame.top, client.bottom) << "as high as the client area";
    EXPECT_EQ(GetParent(label_list), main_window);
    EXPECT_EQ(GetDlgCtrlID(label_list), LABEL_LIST_ID);
    EXPECT_TRUE(IsWindowVisible(label_list));
    EXPECT_EQ(GetFocus(), label_list);

    EXPECT_EQ(list_items(), (std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}));
    for (int i = 0; i < 4; ++i) {
        const Label* record = reinterpret_cast<const Label*>(
            SendMessageA(label_list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        ASSERT_NE(record, nullptr) << "item " << i;
        EXPECT_EQ(record->text, list_items()[static_cast<size_t>(i)]) << "item " << i << " points at its record";
    }
}

TEST_F(Labels, GEnterAndEscCloseTheList) {
    struct Case {
        const char* name;
        WPARAM key;
        bool to_list;
    };
    const Case cases[] = {{"G on the main window", 'G', false},
                          {"Enter in the list", VK_RETURN, true},
                          {"Esc in the list", VK_ESCAPE, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open_list();
        HWND list = label_list;
        key_down(c.to_list ? list : main_window, c.key);
        pump_messages();
        EXPECT_EQ(label_list_open, 0);
        EXPECT_EQ(label_list, nullptr);
        EXPECT_FALSE(IsWindow(list)) << "closing destroys the box";
        EXPECT_EQ(GetFocus(), main_window) << "the main window takes the keys again, so G reopens";
        EXPECT_EQ(label_texts().size(), 4u) << "closing keeps the labels";
    }
}

TEST_F(Labels, SelectingAnItemCentresItsLabelWithinTheClamp) {
    const RECT client = client_rect();
    const int w = client.right, h = client.bottom;
    ASSERT_GT(2560 - w, 300) << "the test needs a mosaic wider than the view";
    // Labels: delta (1200, 900), alpha (1300, 1000), charlie (1400, 1100), bravo (1500, 1200).
    find_label("delta")->x = 20;   // near the origin: the clamp keeps the view at 0
    find_label("delta")->y = 30;
    find_label("bravo")->x = 2555; // at the far corner: the clamp stops at the far edge
    find_label("bravo")->y = 2040;
    open_list();

    select_and_notify(item_index("alpha"));
    EXPECT_EQ(scroll_x, std::min(1300 - (w >> 1), 2560 - w));
    EXPECT_EQ(scroll_y, std::min(1000 - (h >> 1), 2048 - h));
    SCROLLINFO info;
    info.cbSize = sizeof info;
    info.fMask = SIF_POS;
    GetScrollInfo(main_window, SB_HORZ, &info);
    EXPECT_EQ(info.nPos, scroll_x) << "the scroll bar follows the goto";

    select_and_notify(item_index("delta"));
    EXPECT_EQ(scroll_x, 0);
    EXPECT_EQ(scroll_y, 0);
    select_and_notify(item_index("bravo"));
    EXPECT_EQ(scroll_x, 2560 - w);
    EXPECT_EQ(scroll_y, 2048 - h);

    // The box itself notifies on arrow keys: from bravo down to charlie.
    SetFocus(label_list);
    key_down(label_list, VK_DOWN);
    pump_messages();
    ASSERT_EQ(SendMessageA(label_list, LB_GETCURSEL, 0, 0), item_index("charlie"));
    EXPECT_EQ(scroll_x, std::min(1400 - (w >> 1), 2560 - w)) << "arrow keys in the list go to the label";
    EXPECT_EQ(scroll_y, std::min(1100 - (h >> 1), 2048 - h));

    // With no selection a notification moves nothing.
    SendMessageA(label_list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    scroll_x = 123;
    scroll_y = 45;
    SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(LABEL_LIST_ID, LBN_SETFOCUS),
                 reinterpret_cast<LPARAM>(label_list));
    EXPECT_EQ(scroll_x, 123);
    EXPECT_EQ(scroll_y, 45);
}

TEST_F(Labels, DeleteRemovesFromListMapAndMemory) {
    open_list();
    // Nothing selected: nothing happens.
    SendMessageA(label_list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    key_down(label_list, VK_DELETE);
    EXPECT_EQ(label_texts().size(), 4u);

    // Head (delta), middle (charlie) and tail (bravo) go through all three unlink cases.
    const struct {
        const char* text;
        std::vector<std::string> left;
    } steps[] = {{"charlie", {"delta", "alpha", "bravo"}},
                 {"delta", {"alpha", "bravo"}},
                 {"bravo", {"alpha"}},
                 {"alpha", {}}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.text);
        const Label* doomed = find_label(step.text);
        SendMessageA(label_list, LB_SETCURSEL, static_cast<WPARAM>(item_index(step.text)), 0);
        RECT update = invalidated_by([&] { key_down(label_list, VK_DELETE); });
        // A broken unlink leaves freed records reachable; drop the list unfreed so that the
        // tests after this one do not walk into them.
        const bool head_moved = tileset.labels != doomed;
        const ::testing::AssertionResult links = list_links_consistent();
        if (!head_moved || !links) {
            if (label_list_open) toggle_label_list(main_window);
            tileset.labels = nullptr;
        }
        ASSERT_TRUE(head_moved) << "the head still points at the freed record";
        ASSERT_TRUE(links);
        EXPECT_EQ(label_texts(), step.left);
        EXPECT_EQ(item_index(step.text), LB_ERR) << "the item is gone from the box";
        EXPECT_EQ(SendMessageA(label_list, LB_GETCOUNT, 0, 0), static_cast<LRESULT>(step.left.size()));
        EXPECT_TRUE(whole_client(update));
        for (const std::string& text : step.left) {
            const int index = item_index(text.c_str());
            ASSERT_NE(index, LB_ERR) << text << " is still listed";
            EXPECT_EQ(reinterpret_cast<Label*>(SendMessageA(label_list, LB_GETITEMDATA, index, 0)),
                      find_label(text));
        }
    }
    EXPECT_EQ(tileset.labels, nullptr);
    EXPECT_EQ(label_list_open, 1) << "Delete leaves the box open";
}

TEST_F(Labels, ResizedWidthIsKeptForTheNextOpening) {
    open_list();
    RECT frame;
    GetWindowRect(label_list, &frame);
    SetWindowPos(label_list, nullptr, 0, 0, 230, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(label_list_width, 230);
    key_down(label_list, VK_ESCAPE);
    ASSERT_EQ(label_list_open, 0);
    open_list();
    GetWindowRect(label_list, &frame);
    EXPECT_EQ(frame.right - frame.left, 230);
}

TEST_F(Labels, NewLabelShowsInTheListOnlyAfterReopening) {
    open_list();
    EXPECT_TRUE(right_click(60, 70, [](HWND dialog) {
        SetDlgItemTextA(dialog, INPUT_EDIT_ID, "echo");
        click(dialog, IDOK);
    }));
    ASSERT_EQ(label_texts().size(), 5u);
    ASSERT_EQ(label_list_open, 1);
    EXPECT_EQ(item_index("echo"), LB_ERR);
    key_down(main_window, 'G');
    ASSERT_EQ(label_list_open, 0);
    open_list();
    EXPECT_EQ(list_items(), (std::vector<std::string>{"alpha", "bravo", "charlie", "delta", "echo"}));
}

TEST_F(Labels, TilesetLoadClosesTheListAndAFailedOneKeepsIt) {
    open_list();
    SendMessageA(label_list, LB_SETCURSEL, static_cast<WPARAM>(item_index("alpha")), 0);

    // A rejected file changes nothing: the box and its records stay valid.
    const std::string rejected = temp_path("labels-rejected.tvt");
    write_file(rejected, "[Terrava 1.0]\r\nTileSizeX=-1\r\n");
    load(rejected);
    ASSERT_EQ(label_list_open, 1);
    select_and_notify(item_index("charlie"));
    EXPECT_EQ(scroll_x, 1400 - (client_rect().right >> 1));

    // A good file replaces every record, so the box goes with them.
    HWND list = label_list;
    const std::string other = write_tileset("labels-other.tvt", 256, 256, 10, 8,
                                            labels_file_lines({"zulu"}, 700, 600));
    load(other);
    EXPECT_EQ(label_list_open, 0);
    EXPECT_EQ(label_list, nullptr);
    EXPECT_FALSE(IsWindow(list));
    // A late notification from the old box reaches no record.
    scroll_x = 11;
    SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(LABEL_LIST_ID, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(scroll_x, 11);
    open_list();
    EXPECT_EQ(list_items(), std::vector<std::string>{"zulu"});
}

TEST_F(Labels, SaveDeleteSaveRoundTripThroughTheFile) {
    key_down(main_window, 'S');
    EXPECT_EQ(GetPrivateProfileIntA(TILESET_SECTION, "LabelCount", -1, path_.c_str()), 4);
    EXPECT_EQ(profile_string(path_, "Label2Text"), "alpha");
    open_list();
    SendMessageA(label_list, LB_SETCURSEL, static_cast<WPARAM>(item_index("alpha")), 0);
    key_down(label_list, VK_DELETE);
    EXPECT_EQ(GetPrivateProfileIntA(TILESET_SECTION, "LabelCount", -1, path_.c_str()), 4)
        << "the file keeps the label until the next save";
    key_down(label_list, VK_ESCAPE);
    SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_SAVE_TILESET, 0), 0);
    EXPECT_EQ(GetPrivateProfileIntA(TILESET_SECTION, "LabelCount", -1, path_.c_str()), 3);
    EXPECT_EQ(profile_string(path_, "Label2Text"), "charlie");
    EXPECT_EQ(GetPrivateProfileIntA(TILESET_SECTION, "Label2X", -1, path_.c_str()), 1400);
    load(path_);
    EXPECT_EQ(label_texts(), (std::vector<std::string>{"delta", "charlie", "bravo"}));
}

// ---- showing, hiding and the overlay's pixels ----

TEST_F(Labels, LFlipsVisibilityAndRepaintsTheWholeClientArea) {
    RECT update = invalidated_by([] { key_down(main_window, 'L'); });
    EXPECT_EQ(labels_visible, 0);
    EXPECT_TRUE(whole_client(update));
    update = invalidated_by([] { key_down(main_window, 'L'); });
    EXPECT_EQ(labels_visible, 1);
    EXPECT_TRUE(whole_client(update));
}

Label* only_label(const char* text, int x, int y) {
    free_all_labels();
    Label* label = static_cast<Label*>(std::calloc(1, sizeof(Label)));
    label->text = _strdup(text);
    label->x = x;
    label->y = y;
    tileset.labels = label;
    return label;
}

TEST_F(Labels, OverlayDrawsWhiteTextWithABlackOutlineAboveThePoint) {
    const RECT client = client_rect();
    Canvas canvas;
    ASSERT_TRUE(canvas.ok());
    const uint32_t background = 0x204080;
    const char* text = "HMH";
    scroll_x = 500;
    scroll_y = 400;
    only_label(text, scroll_x + 400, scroll_y + 300);   // client point (400, 300)

    // The glyphs alone: the text centred on x 400 with its top at 300 - 9.
    canvas.fill(background);
    SetBkMode(canvas.dc(), TRANSPARENT);
    SetTextAlign(canvas.dc(), TA_CENTER | TA_TOP);
    SetTextColor(canvas.dc(), RGB(255, 255, 255));
    TextOutA(canvas.dc(), 400, 291, text, 3);
    GdiFlush();
    std::vector<char> glyph(static_cast<size_t>(canvas.width() * canvas.height()));
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            glyph[static_cast<size_t>(y * canvas.width() + x)] = canvas.at(x, y) == WHITE;
    const Box ink = box_of(canvas, WHITE);
    ASSERT_GT(ink.count, 0) << "the reference text drew nothing";
    ASSERT_GE(ink.top, 291);
    ASSERT_LT(ink.bottom, 300 + 9) << "ink below the label point";
    ASSERT_LE(std::abs((ink.left + ink.right) / 2 - 400), 2) << "a symmetric text centred on 400";

    // The overlay from a context left opaque and left-aligned: white exactly on the glyphs,
    // black exactly on the one-pixel ring around them, the background everywhere else.
    canvas.fill(background);
    SetBkMode(canvas.dc(), OPAQUE);
    SetTextAlign(canvas.dc(), TA_LEFT | TA_TOP);
    SetTextColor(canvas.dc(), RGB(255, 0, 0));
    draw_label_overlay(canvas.dc(), client);
    GdiFlush();
    auto in_glyph = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < canvas.width() && y < canvas.height() &&
               glyph[static_cast<size_t>(y * canvas.width() + x)];
    };
    int wrong = 0;
    std::string first_wrong;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            bool ring = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) ring = ring || in_glyph(x + dx, y + dy);
            const uint32_t expected = in_glyph(x, y) ? WHITE : ring ? BLACK : background;
            if (canvas.at(x, y) != expected && wrong++ == 0) {
                char where[120];
                std::snprintf(where, sizeof where, "(%d, %d): expected %06x, got %06x", x, y,
                              expected, canvas.at(x, y));
                first_wrong = where;
            }
        }
    EXPECT_EQ(wrong, 0) << "pixels differing from white text in a black ring, first at "
                        << first_wrong << "; drawn:" << picture(canvas, ink, 3, background);

    labels_visible = 0;
    canvas.fill(background);
    draw_label_overlay(canvas.dc(), client);
    EXPECT_EQ(count_other_than(canvas, background), 0) << "hidden labels draw nothing";
}

TEST_F(Labels, PaintDrawsLabelsOverTheCellsUnlessHiddenOrDeleted) {
    const RECT client = client_rect();
    Canvas canvas;
    ASSERT_TRUE(canvas.ok());
    const COLORREF c = GetSysColor(COLOR_WINDOW);
    const uint32_t window_colour = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    only_label("Lighthouse", 600, 300);   // view at (0, 0)
    SIZE extent;
    GetTextExtentPoint32A(canvas.dc(), "Lighthouse", 10, &extent);

    canvas.fill(0x123456);
    paint_view(canvas.dc(), client);
    const Box black = box_of(canvas, BLACK);
    ASSERT_GT(black.count, 0) << "the outline is painted over the empty cells";
    EXPECT_GE(black.top, 290);
    EXPECT_LE(black.bottom, 292 + extent.cy);
    EXPECT_GE(black.left, 600 - extent.cx / 2 - 2);
    EXPECT_LE(black.right, 600 + extent.cx / 2 + 2);
    const int white = window_colour == WHITE ? 0 : box_of(canvas, WHITE).count;
    EXPECT_EQ(count_other_than(canvas, window_colour), black.count + white)
        << "the cells are the window colour, the label only white and black:"
        << picture(canvas, black, 2, window_colour);

    labels_visible = 0;
    canvas.fill(0x123456);
    paint_view(canvas.dc(), client);
    EXPECT_EQ(count_other_than(canvas, window_colour), 0) << "hidden: the cells alone";
    labels_visible = 1;

    open_list();
    SendMessageA(label_list, LB_SETCURSEL, 0, 0);
    key_down(label_list, VK_DELETE);
    const Label* head = tileset.labels;
    tileset.labels = nullptr;   // were it not unlinked, it is freed: keep later tests off it
    ASSERT_EQ(head, nullptr) << "the only label is deleted";
    canvas.fill(0x123456);
    paint_view(canvas.dc(), client);
    EXPECT_EQ(count_other_than(canvas, window_colour), 0) << "a deleted label is gone from the map";
}

// ---- saving: failures reported, unsaved labels asked about, line breaks kept out ----

// The viewer's message box (a dialog titled like the main window) seen while `trigger` ran,
// answered with `button`.
struct BoxSeen {
    bool shown = false;
    std::string text;
};
BoxSeen answer_box(const std::function<void()>& trigger, int button) {
    BoxSeen seen;
    seen.shown = with_dialog(window_title, trigger, [&](HWND box) {
        seen.text = item_text(box, 0xFFFF);   // the message box's text control
        click(box, button);
    });
    return seen;
}

void add_label_by_click(const char* text) {
    EXPECT_TRUE(right_click(30, 40, [text](HWND dialog) {
        SetDlgItemTextA(dialog, INPUT_EDIT_ID, text);
        click(dialog, IDOK);
    }));
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(Labels, PastedAndSetLineBreaksBecomeSpaces) {
    const char pasted[] = "first\r\nsecond\rthird\nfourth";
    ASSERT_TRUE(OpenClipboard(main_window));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof pasted);
    std::memcpy(GlobalLock(memory), pasted, sizeof pasted);
    GlobalUnlock(memory);
    ASSERT_NE(SetClipboardData(CF_TEXT, memory), nullptr);
    CloseClipboard();
    std::string shown;
    EXPECT_TRUE(right_click(10, 10, [&](HWND dialog) {
        HWND edit = GetDlgItem(dialog, INPUT_EDIT_ID);
        SendMessageA(edit, WM_PASTE, 0, 0);
        shown = item_text(dialog, INPUT_EDIT_ID);
        click(dialog, IDOK);
    }));
    EXPECT_EQ(shown, "first second third fourth") << "the paste as the field shows it";
    ASSERT_NE(tileset.labels, nullptr);
    EXPECT_STREQ(tileset.labels->text, "first second third fourth");

    add_label_by_click("set\r\n[Other]\r\nTileSizeX=1");
    EXPECT_STREQ(tileset.labels->text, "set [Other] TileSizeX=1");
}

// A save interrupted between writing the new content and putting it in place.
BOOL WINAPI failing_move(LPCSTR, LPCSTR, DWORD) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
}

TEST_F(Labels, FailedSavesAreReportedAndKeepTheLabelsUnsaved) {
    add_label_by_click("keep me");
    ASSERT_EQ(labels_unsaved, 1);
    const std::string before = read_file(path_);
    struct Case {
        const char* name;
        std::function<void()> arrange, undo;
        std::string file;
    };
    const std::string missing = temp_path("no-such-folder\\labels.tvt");
    const Case cases[] = {
        {"read-only file", [&] { SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY); },
         [&] { SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL); }, path_},
        {"missing folder", [&] { std::strcpy(tileset.file_path, missing.c_str()); },
         [&] { std::strcpy(tileset.file_path, path_.c_str()); }, missing},
        {"move fails", [] { replace_tileset_file = failing_move; },
         [] { replace_tileset_file = move_file_replacing; }, path_},
    };
    const std::function<void()> saves[] = {
        [] { key_down(main_window, 'S'); },
        [] { SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_SAVE_TILESET, 0), 0); },
    };
    for (const Case& c : cases) {
        for (const auto& save : saves) {
            SCOPED_TRACE(c.name);
            c.arrange();
            const BoxSeen box = answer_box(save, IDOK);
            c.undo();
            EXPECT_TRUE(box.shown) << "no message box after a failed save";
            EXPECT_TRUE(contains(box.text, c.file)) << "the box names the file: " << box.text;
            EXPECT_GT(box.text.size(), std::string("The labels could not be saved to .").size() + c.file.size() + 10)
                << "and gives the system's reason: " << box.text;
            EXPECT_EQ(read_file(path_), before) << "the file is unchanged";
            EXPECT_EQ(labels_unsaved, 1);
            EXPECT_STREQ(tileset.labels->text, "keep me");
        }
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(temp_path(std::string("*") + TEMPORARY_SUFFIX).c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file was left: " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);

    const BoxSeen none = answer_box([] { key_down(main_window, 'S'); }, IDOK);
    EXPECT_FALSE(none.shown) << none.text;
    EXPECT_EQ(labels_unsaved, 0);
    EXPECT_EQ(profile_string(path_, "Label1Text"), "keep me");
}

TEST_F(Labels, ASaveKeepsTheFilesAttributesAndRemovesAStaleTemporary) {
    const std::string stale = path_ + TEMPORARY_SUFFIX;
    write_file(stale, "half a save");
    SetFileAttributesA(stale.c_str(), FILE_ATTRIBUTE_HIDDEN);   // as a save cut short leaves it
    ASSERT_TRUE(SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    const DWORD before = GetFileAttributesA(path_.c_str());
    EXPECT_EQ(save_labels(path_.c_str()), 0u);
    const DWORD after = GetFileAttributesA(path_.c_str());
    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(after & FILE_ATTRIBUTE_HIDDEN, before & FILE_ATTRIBUTE_HIDDEN)
        << "attributes before " << before << ", after " << after;
    EXPECT_EQ(GetFileAttributesA(stale.c_str()), INVALID_FILE_ATTRIBUTES) << "the stale temporary is gone";
}

// A second window of the main window's class, for closing without losing the test's own.
HWND second_main_window() {
    return CreateWindowExA(0, class_name, "second", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                           nullptr, app_instance, nullptr);
}

TEST_F(Labels, UnsavedLabelsAreOfferedForSavingBeforeExitOrAnotherTileset) {
    const std::string other = write_tileset("labels-next.tvt", 256, 256, 10, 8,
                                            labels_file_lines({"next"}, 1, 1));
    // OPEN_SAME opens the same file again: Yes saves it, and the reopened file shows the save.
    enum Way { CLOSE_BOX, EXIT_COMMAND, OPEN_OTHER, OPEN_SAME };
    struct Case {
        Way way;
        int answer;
        bool goes_on;      // the window closes, or the other tileset opens
        bool saved;
    };
    const std::string original = read_file(path_);
    const Case cases[] = {
        {CLOSE_BOX, IDCANCEL, false, false}, {CLOSE_BOX, IDNO, true, false},
        {CLOSE_BOX, IDYES, true, true},      {EXIT_COMMAND, IDCANCEL, false, false},
        {EXIT_COMMAND, IDYES, true, true},   {OPEN_OTHER, IDCANCEL, false, false},
        {OPEN_OTHER, IDNO, true, false},     {OPEN_OTHER, IDYES, true, true},
        {OPEN_SAME, IDYES, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "way " << c.way << ", answer " << c.answer);
        labels_unsaved = 0;   // what the last case left unsaved is not asked about again
        load(path_);
        add_label_by_click("unsaved");
        const bool opens = c.way == OPEN_OTHER || c.way == OPEN_SAME;
        HWND window = opens ? main_window : second_main_window();
        ASSERT_NE(window, nullptr);
        const BoxSeen box = answer_box([&] {
            if (c.way == CLOSE_BOX) SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            else if (c.way == EXIT_COMMAND) SendMessageA(window, WM_COMMAND, MAKEWPARAM(CMD_EXIT, 0), 0);
            else load_tileset(main_window, (c.way == OPEN_SAME ? path_ : other).c_str());
        }, c.answer);
        pump_messages();   // and the quit message a closed window posts
        EXPECT_TRUE(box.shown);
        EXPECT_EQ(box.text, "Save labels to " + path_ + "?");
        if (c.way == OPEN_SAME) {
            EXPECT_EQ(label_texts()[0], "unsaved") << "the reopened file's labels are not the saved ones";
        } else if (c.way == OPEN_OTHER) {
            EXPECT_EQ(std::string(tileset.file_path), c.goes_on ? other : path_);
            EXPECT_EQ(label_texts()[0], c.goes_on ? "next" : "unsaved");
        } else {
            EXPECT_EQ(IsWindow(window) == FALSE, c.goes_on) << "the window closed";
            if (IsWindow(window)) DestroyWindow(window);
            pump_messages();
        }
        EXPECT_EQ(profile_string(path_, "Label1Text"), c.saved ? "unsaved" : "delta");
        write_file(path_, original);
    }

    // Nothing added, or everything saved: no question.
    labels_unsaved = 0;
    load(path_);
    HWND window = second_main_window();
    EXPECT_FALSE(answer_box([&] { SendMessageA(window, WM_CLOSE, 0, 0); }, IDCANCEL).shown);
    pump_messages();
    EXPECT_FALSE(IsWindow(window));
    add_label_by_click("saved");
    key_down(main_window, 'S');
    EXPECT_FALSE(answer_box([&] { load(other); }, IDCANCEL).shown);
    EXPECT_EQ(std::string(tileset.file_path), other);

    // Yes with a save that fails reports it and stays.
    add_label_by_click("stuck");
    SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_READONLY);
    window = second_main_window();
    std::string report;
    const bool asked = with_dialog(window_title, [&] { SendMessageA(window, WM_CLOSE, 0, 0); },
                                   [&](HWND box) {
                                       click(box, IDYES);
                                       // The report follows once the question has gone.
                                       wait_for_window([&] { return !IsWindow(box); });
                                       HWND failure = nullptr;
                                       wait_for_window([&] {
                                           failure = FindWindowA(reinterpret_cast<LPCSTR>(32770), window_title);
                                           return failure != nullptr;
                                       });
                                       if (failure == nullptr) return;
                                       report = item_text(failure, 0xFFFF);
                                       click(failure, IDOK);
                                   });
    SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_NORMAL);
    pump_messages();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(contains(report, other)) << "report: " << report;
    EXPECT_TRUE(IsWindow(window)) << "a failed save does not exit";
    EXPECT_EQ(labels_unsaved, 1);
    DestroyWindow(window);
    pump_messages();
}

// ---- Options and About ----

class Options : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = write_tileset("labels-options.tvt", 256, 256, 10, 8, "MaxCache=50\r\n");
        load(path_);
        ASSERT_EQ(tileset.cache_limit, 50);
    }
    // Opens Options from the menu bar; puts `new_value` into the field unless it is null, then
    // presses `button`. Returns what the field showed on opening.
    std::string run(const char* new_value, int button) {
        std::string shown = "<no dialog>";
        const bool appeared = with_dialog(
            "Options",
            [] { SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_OPTIONS, 0), 0); },
            [&](HWND dialog) {
                shown = item_text(dialog, CACHE_EDIT_ID);
                if (new_value != nullptr) SetDlgItemTextA(dialog, CACHE_EDIT_ID, new_value);
                click(dialog, button);
            });
        EXPECT_TRUE(appeared) << "no dialog titled \"Options\" after CMD_OPTIONS";
        return shown;
    }
    int stored() { return GetPrivateProfileIntA(TILESET_SECTION, "MaxCache", -1, path_.c_str()); }
    std::string path_;
};

TEST_F(Options, OkStoresTheShownMegabytesAsTilesAtOnce) {
    EXPECT_EQ(run(nullptr, IDOK), "12") << "50 tiles of 256 x 256 are 12.5 MB";
    EXPECT_EQ(tileset.cache_limit, 48);
    EXPECT_EQ(stored(), 48) << "MaxCache written without Save Tileset";
    EXPECT_EQ(run(nullptr, IDOK), "12");
    EXPECT_EQ(tileset.cache_limit, 48);

    EXPECT_EQ(run("100", IDOK), "12");
    EXPECT_EQ(tileset.cache_limit, 400);
    EXPECT_EQ(stored(), 400);
    EXPECT_EQ(run("1", IDOK), "100");
    EXPECT_EQ(tileset.cache_limit, 30) << "4 tiles are raised to 30";
    EXPECT_EQ(stored(), 30);
}

TEST_F(Options, ZeroEmptyAndCancelChangeNothing) {
    struct Case {
        const char* name;
        const char* value;
        int button;
    };
    const Case cases[] = {{"zero", "0", IDOK}, {"empty", "", IDOK}, {"Cancel", "100", IDCANCEL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c.value, c.button), "12");
        EXPECT_EQ(tileset.cache_limit, 50);
        EXPECT_EQ(stored(), 50) << "nothing written";
    }
}

TEST_F(Options, AFailedWriteIsReportedNamingTheFile) {
    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY);
    std::string report;
    const bool appeared = with_dialog(
        "Options", [] { SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_OPTIONS, 0), 0); },
        [&](HWND dialog) {
            SetDlgItemTextA(dialog, CACHE_EDIT_ID, "100");
            click(dialog, IDOK);
            HWND box = nullptr;
            wait_for_window([&] {
                box = FindWindowA(reinterpret_cast<LPCSTR>(32770), window_title);
                return box != nullptr;
            });
            if (box == nullptr) return;
            report = item_text(box, 0xFFFF);
            click(box, IDOK);
        });
    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(appeared);
    EXPECT_NE(report.find(path_), std::string::npos) << "the report names the file: " << report;
    EXPECT_EQ(stored(), 50) << "the file is unchanged";
    EXPECT_EQ(tileset.cache_limit, 400) << "the new size applies to this session";
}

TEST(About, OpensFromTheMenuAndOkClosesIt) {
    bool has_ok = false;
    const bool appeared = with_dialog(
        "About", [] { SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_ABOUT, 0), 0); },
        [&](HWND dialog) {
            has_ok = GetDlgItem(dialog, IDOK) != nullptr;
            click(dialog, IDOK);
        });

    EXPECT_TRUE(appeared) << "no dialog titled \"About\" after CMD_ABOUT";
    EXPECT_TRUE(has_ok);
    EXPECT_EQ(FindWindowA(reinterpret_cast<LPCSTR>(32770), "About"), nullptr) << "OK closed it";
}

}  // namespace
