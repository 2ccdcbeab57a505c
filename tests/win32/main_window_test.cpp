// The real main window driven with messages: start-up state, keys, scroll-bar requests,
// drag, size changes, status panes, the command line and the exit command.
#include <gtest/gtest.h>


#include "app/labels.h"
#include "app/main_window.h"
#include "app/screen_dpi.h"
#include "app/screen_scale.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "res/resource_ids.h"
#include "tests/win32/window_fixture.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_platform.h"

namespace {

SCROLLINFO scroll_info(int bar) {
    SCROLLINFO info;
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(main_window, bar, &info);
    return info;
}

void key_down(WPARAM key) { SendMessageA(main_window, WM_KEYDOWN, key, 0); }
void key_up(WPARAM key) { SendMessageA(main_window, WM_KEYUP, key, 0); }
// Puts the cursor at screen point (x, y) and presses the left button there, the message
// carrying the press's client point as a real one does.
void press_left_button_at(int x, int y) {
    SetCursorPos(x, y);
    POINT press = {x, y};
    ScreenToClient(main_window, &press);
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(press.x, press.y));
}
void scroll_request(UINT message, int code) {
    SendMessageA(main_window, message, MAKEWPARAM(code, 0), 0);
}

TEST(MainWindow, CoversTheScreenWithPanesOverTheCaption) {
    RECT frame;
    GetWindowRect(main_window, &frame);
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.right, w);
    EXPECT_EQ(frame.bottom, h);
    EXPECT_FALSE(IsZoomed(main_window));
    RECT pane;
    GetWindowRect(tile_pane, &pane);
    EXPECT_EQ(pane.left, w - 400);
    EXPECT_EQ(pane.right - pane.left, 150);
    GetWindowRect(x_pane, &pane);
    EXPECT_EQ(pane.left, w - 250);
    GetWindowRect(y_pane, &pane);
    EXPECT_EQ(pane.left, w - 200);
    EXPECT_EQ(pane.bottom - pane.top, GetSystemMetrics(SM_CYCAPTION) - 1);
    EXPECT_EQ(GetWindow(tile_pane, GW_OWNER), main_window) << "panes are owned pop-ups";
    EXPECT_TRUE(IsWindowVisible(x_pane) && IsWindowVisible(y_pane) && IsWindowVisible(tile_pane));
    EXPECT_NE(GetMenu(main_window), nullptr);
}

class Navigation : public ::testing::Test {
protected:
    void SetUp() override {
        load(write_tileset("nav.tvt", 256, 256, 10, 8));
        ASSERT_EQ(tileset.loaded, 1);
        reset_view();
    }
};

TEST_F(Navigation, ArrowsMoveByTheStepThatShiftAndCtrlSet) {
    key_down(VK_RIGHT);
    EXPECT_EQ(scroll_x, 10);
    key_down(VK_SHIFT);
    key_down(VK_RIGHT);
    EXPECT_EQ(scroll_x, 60);
    key_down(VK_CONTROL);
    key_down(VK_DOWN);
    EXPECT_EQ(scroll_y, 200) << "Shift then Ctrl gives 200";
    key_up(VK_SHIFT);
    key_down(VK_DOWN);
    EXPECT_EQ(scroll_y, 210) << "releasing Shift while Ctrl is held gives 10";
    key_down(VK_LEFT);
    key_down(VK_UP);
    EXPECT_EQ(scroll_x, 50);
    EXPECT_EQ(scroll_y, 200);
    key_down(VK_CONTROL);
    key_down(VK_LEFT);
    EXPECT_EQ(scroll_x, 0) << "clamped at the left edge";
    key_up(VK_CONTROL);
    EXPECT_EQ(scroll_step, 10);
}

TEST_F(Navigation, KeysClampToTheFarEdge) {
    const RECT client = client_rect();
    scroll_x = 2560 - client.right - 5;
    key_down(VK_RIGHT);
    EXPECT_EQ(scroll_x, 2560 - client.right);
    scroll_y = 100000;
    key_down('Q');   // any other key runs the clamp tail alone
    EXPECT_EQ(scroll_y, 2048 - client.bottom);
}

TEST_F(Navigation, ScrollBarRequestsOnBothAxes) {
    const RECT client = client_rect();
    scroll_request(WM_HSCROLL, SB_LINERIGHT);
    EXPECT_EQ(scroll_x, 10);
    scroll_request(WM_HSCROLL, SB_PAGERIGHT);
    EXPECT_EQ(scroll_x, 60);
    scroll_request(WM_HSCROLL, SB_PAGELEFT);
    scroll_request(WM_HSCROLL, SB_LINELEFT);
    EXPECT_EQ(scroll_x, 0);
    scroll_request(WM_HSCROLL, SB_RIGHT);
    EXPECT_EQ(scroll_x, 2560 - client.right);
    scroll_request(WM_HSCROLL, SB_THUMBPOSITION);
    scroll_request(WM_HSCROLL, SB_ENDSCROLL);
    EXPECT_EQ(scroll_x, 2560 - client.right) << "thumb position and end change nothing";
    scroll_request(WM_HSCROLL, SB_LEFT);
    EXPECT_EQ(scroll_x, 0);

    scroll_request(WM_VSCROLL, SB_LINEDOWN);
    scroll_request(WM_VSCROLL, SB_PAGEDOWN);
    EXPECT_EQ(scroll_y, 60);
    scroll_request(WM_VSCROLL, SB_BOTTOM);
    EXPECT_EQ(scroll_y, 2048 - client.bottom);
    scroll_request(WM_VSCROLL, SB_PAGEDOWN);
    EXPECT_EQ(scroll_y, 2048 - client.bottom);
    scroll_request(WM_VSCROLL, SB_TOP);
    EXPECT_EQ(scroll_y, 0);
    scroll_request(WM_VSCROLL, SB_THUMBTRACK);   // not tracking: the bar reports its position
    EXPECT_EQ(scroll_y, 0);
}

TEST_F(Navigation, ScrollBarsFollowTheMosaicAndPosition) {
    const RECT client = client_rect();
    key_down(VK_CONTROL);
    key_down(VK_RIGHT);
    key_down(VK_DOWN);
    key_up(VK_CONTROL);
    SCROLLINFO horizontal = scroll_info(SB_HORZ);
    EXPECT_EQ(horizontal.nMin, 0);
    EXPECT_EQ(horizontal.nMax, 2560);
    EXPECT_EQ(static_cast<LONG>(horizontal.nPage), client.right);
    EXPECT_EQ(horizontal.nPos, 200);
    SCROLLINFO vertical = scroll_info(SB_VERT);
    EXPECT_EQ(vertical.nMax, 2048);
    EXPECT_EQ(static_cast<LONG>(vertical.nPage), client.bottom);
    EXPECT_EQ(vertical.nPos, 200);
}

TEST_F(Navigation, DragMovesWithTheHandAndWarpsTheCursorBack) {
    scroll_x = 400;
    scroll_y = 300;
    press_left_button_at(500, 400);
    EXPECT_EQ(dragging, 1);
    EXPECT_EQ(GetCapture(), main_window);
    SetCursorPos(450, 380);
    SendMessageA(main_window, WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(scroll_x, 450) << "moving left by 50 moves the view right by 50";
    EXPECT_EQ(scroll_y, 320);
    POINT cursor;
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, 500);
    EXPECT_EQ(cursor.y, 400);
    SendMessageA(main_window, WM_MOUSEMOVE, MK_LBUTTON, 0);   // the warp's echo moves nothing
    EXPECT_EQ(scroll_x, 450);

    SetCursorPos(1100, 400);   // far right: the view goes below 0 during the drag
    SendMessageA(main_window, WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(scroll_x, -150) << "no clamping during a drag";
    SendMessageA(main_window, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(dragging, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    key_down(VK_LEFT);
    EXPECT_EQ(scroll_x, 0) << "the next key clamps";
}

TEST_F(Navigation, DragCountsTheMovesMadeBeforeThePressWasHandled) {
    // The button went down at (500, 400); a busy program reads the cursor 30 left and 20 up.
    scroll_x = 400;
    scroll_y = 300;
    POINT press = {500, 400};
    ScreenToClient(main_window, &press);
    SetCursorPos(470, 380);
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(press.x, press.y));
    EXPECT_EQ(scroll_x, 430) << "the moves before the press was handled move the view at once";
    EXPECT_EQ(scroll_y, 320);
    SetCursorPos(460, 380);
    SendMessageA(main_window, WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(scroll_x, 440) << "later moves count from where the drag began";
    POINT cursor;
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, 470) << "the anchor is where the cursor was when the drag began";
    EXPECT_EQ(cursor.y, 380);
    SendMessageA(main_window, WM_LBUTTONUP, 0, 0);
}

TEST_F(Navigation, DragConfinesTheCursorAndEveryWayOutOfItLetsGo) {
    // The clip is what makes Wine report each hand move from where the warp put the cursor;
    // it must never outlive the drag, however the drag ends.
    RECT before;
    ASSERT_TRUE(GetClipCursor(&before));
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const RECT during = {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1,
                         top + GetSystemMetrics(SM_CYVIRTUALSCREEN) - 1};
    const struct {
        const char* how;
        void (*end)();
    } endings[] = {
        {"button up", [] { SendMessageA(main_window, WM_LBUTTONUP, 0, 0); }},
        {"capture taken away", [] { ReleaseCapture(); }},
    };
    for (const auto& ending : endings) {
        press_left_button_at(500, 400);
        RECT clip;
        ASSERT_TRUE(GetClipCursor(&clip));
        EXPECT_TRUE(EqualRect(&clip, &during))
            << ending.how << ": during the drag the clip is (" << clip.left << ", " << clip.top
            << ")-(" << clip.right << ", " << clip.bottom << "), expected the screen less its "
            << "last column and row";
        ending.end();
        EXPECT_EQ(dragging, 0) << ending.how;
        ASSERT_TRUE(GetClipCursor(&clip));
        EXPECT_TRUE(EqualRect(&clip, &before))
            << ending.how << ": after the drag the clip is (" << clip.left << ", " << clip.top
            << ")-(" << clip.right << ", " << clip.bottom << "), not the one before it";
    }
}

TEST_F(Navigation, DragPastTheEdgesLeavesOnlyTheWindowColourOutsideTheMap) {
    const RECT client = client_rect();
    const uint32_t window_colour = GetSysColor(COLOR_WINDOW);
    const uint32_t window_rgb = ((window_colour & 0xFF) << 16) | (window_colour & 0xFF00) |
                                ((window_colour >> 16) & 0xFF);
    struct Case { int hand_dx; int hand_dy; };
    const Case cases[] = {{300, 170}, {-3000, -2500}};   // past the top left, past the far edges
    for (const Case& c : cases) {
        reset_view();
        press_left_button_at(500, 400);
        for (int i = 0; i < 10; ++i) {
            SetCursorPos(500 + c.hand_dx / 10, 400 + c.hand_dy / 10);
            SendMessageA(main_window, WM_MOUSEMOVE, MK_LBUTTON, 0);
            SendMessageA(main_window, WM_MOUSEMOVE, MK_LBUTTON, 0);   // the warp's own move
        }
        SendMessageA(main_window, WM_LBUTTONUP, 0, 0);
        ASSERT_EQ(scroll_x, -c.hand_dx) << "the drag moved the view with the hand";
        OffscreenView view;
        ASSERT_TRUE(view.ok());
        view.fill(0x123456);   // stands for whatever the window showed before
        paint_view(view.dc(), client);
        for (int y = 0; y < client.bottom; y += 7)
            for (int x = 0; x < client.right; x += 7)
                ASSERT_EQ(view.pixel(x, y), window_rgb)
                    << "at client (" << x << ", " << y << ") with the view at (" << scroll_x
                    << ", " << scroll_y << ")";
    }
}

TEST_F(Navigation, AltKeyDuringADragEndsItSoTheAcceleratorIsNotSwallowed) {
    press_left_button_at(500, 400);
    MSG message = {};
    message.hwnd = main_window;
    message.message = WM_KEYDOWN;
    message.wParam = VK_RIGHT;
    end_drag_before_accelerator(message);
    EXPECT_EQ(dragging, 1) << "a plain key leaves the drag alone";
    message.message = WM_SYSKEYDOWN;
    message.wParam = VK_MENU;
    end_drag_before_accelerator(message);
    EXPECT_EQ(dragging, 1) << "Alt alone leaves the drag alone";
    message.wParam = 'X';
    end_drag_before_accelerator(message);
    EXPECT_EQ(dragging, 0) << "Alt+X during a drag must end it before accelerators are looked at";
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(Navigation, DragEndsWhenAnotherWindowTakesTheMouse) {
    press_left_button_at(500, 400);
    ASSERT_EQ(dragging, 1);
    HWND other = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, main_window, nullptr,
                                 nullptr, nullptr);
    SetCapture(other);   // as a modal dialog opened by a right click would
    EXPECT_EQ(dragging, 0) << "a lost capture must end the drag";
    const int32_t before = scroll_x;
    SetCursorPos(300, 300);
    SendMessageA(main_window, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(scroll_x, before) << "mouse moves after the lost capture must not pan";
    ReleaseCapture();
    DestroyWindow(other);
}

TEST_F(Navigation, SizeChangeClampsToTheNewClientArea) {
    const RECT before = client_rect();
    scroll_x = 2560 - before.right;
    RECT frame;
    GetWindowRect(main_window, &frame);
    SetWindowPos(main_window, nullptr, 0, 0, (frame.right - frame.left) + 200,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOMOVE);
    pump_messages();
    const RECT after = client_rect();
    EXPECT_EQ(scroll_x, 2560 - after.right);
    EXPECT_EQ(static_cast<LONG>(scroll_info(SB_HORZ).nPage), after.right);
    SetWindowPos(main_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOMOVE);
    pump_messages();
}

TEST_F(Navigation, PanesShowWorldPointAndTileUnderTheCursor) {
    scroll_x = 500;
    scroll_y = 300;
    POINT point = {10, 20};
    ClientToScreen(main_window, &point);
    SetCursorPos(point.x, point.y);
    SendMessageA(main_window, WM_MOUSEMOVE, 0, MAKELPARAM(10, 20));
    EXPECT_EQ(window_text(x_pane), "510 ");
    EXPECT_EQ(window_text(y_pane), "320 ");
    EXPECT_EQ(window_text(tile_pane), "001\\001.jpg ");
}

TEST_F(Navigation, PaintRequestsNothingForMissingTilesAndKeepsState) {
    // The loader cannot take a request while this thread holds the queue lock (which the
    // paint, on this same thread, may still enter): whatever the paint queued stays queued.
    enter_queue_lock();
    InvalidateRect(main_window, nullptr, TRUE);
    UpdateWindow(main_window);
    const bool high_empty = high_queue == nullptr;
    const bool normal_empty = normal_queue == nullptr;
    leave_queue_lock();
    RECT unpainted;
    EXPECT_FALSE(GetUpdateRect(main_window, &unpainted, FALSE)) << "the paint did not run";
    EXPECT_TRUE(high_empty) << "a paint over a tile directory that does not exist queued a "
                               "high-priority request";
    EXPECT_TRUE(normal_empty) << "a paint queued a normal-priority request";
    EXPECT_EQ(scroll_x, 0);
    EXPECT_EQ(tileset.loaded, 1);
}

TEST(CommandLine, LoadsQuotedAndSwitchPathsAndMaximises) {
    const std::string path = write_tileset("cmd a.tvt", 128, 64, 3, 2);
    parse_command_line(("\"" + path + "\"").c_str());
    EXPECT_EQ(tileset.tile_width, 128);
    EXPECT_EQ(tileset.tile_height, 64);
    EXPECT_EQ(std::string(tileset.file_path), path);

    const std::string second = write_tileset("cmd-m.tvt", 200, 100, 4, 4);
    parse_command_line(("-O" + second).c_str());
    EXPECT_EQ(tileset.tile_width, 200);
    EXPECT_FALSE(IsZoomed(main_window)) << "the -m inside the -O path is part of the path";

    parse_command_line(("/o\"" + path + "\" -x").c_str());
    EXPECT_EQ(tileset.tile_width, 128);

    parse_command_line("-M");
    pump_messages();
    EXPECT_TRUE(IsZoomed(main_window));
    ShowWindow(main_window, SW_RESTORE);
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(main_window, nullptr, 0, 0, w, h, SWP_NOZORDER);
    pump_messages();
}

// ---- the manifest and the monitor's DPI ----

TEST(Screen, TheManifestAsksForVisualStylesAndPerMonitorDpi) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));   // RT_MANIFEST
    ASSERT_NE(found, nullptr) << "no application manifest";
    const char* text = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    const std::string manifest(text, SizeofResource(nullptr, found));
    for (const char* part : {"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0",
                             ">PerMonitorV2, PerMonitor<", ">true/pm<"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    EXPECT_TRUE(IsProcessDPIAware()) << "the system would scale the window as a bitmap";
}

// The pane's font height in pixels (negative: character height).
LONG font_height(HWND window) {
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfHeight;
}

TEST(Screen, PanesAndFontsFollowTheMonitorsDpiAndComeBack) {
    const int32_t start_dpi = window_dpi;
    ASSERT_EQ(start_dpi, 96) << "the tests run at 96 DPI";
    RECT frame;
    GetWindowRect(main_window, &frame);
    const int w = GetSystemMetrics(SM_CXSCREEN);
    const LONG stock_height = font_height(x_pane);
    const int32_t list_width = label_list_width;
    for (const int32_t dpi : {144, 192, 96}) {
        SCOPED_TRACE(dpi);
        SendMessageA(main_window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
        const StatusPaneLayout layout = status_pane_layout(w, dpi);
        RECT pane;
        GetWindowRect(tile_pane, &pane);
        EXPECT_EQ(pane.left, layout.tile.left);
        EXPECT_EQ(pane.right - pane.left, layout.tile.width);
        GetWindowRect(x_pane, &pane);
        EXPECT_EQ(pane.left, layout.x.left);
        EXPECT_EQ(pane.right - pane.left, layout.x.width);
        GetWindowRect(y_pane, &pane);
        EXPECT_EQ(pane.left, layout.y.left);
        EXPECT_EQ(font_height(y_pane), scale_between_dpis(stock_height, 96, dpi));
        EXPECT_EQ(label_list_width, scale_between_dpis(list_width, 96, dpi));
    }
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(x_pane, WM_GETFONT, 0, 0)),
              GetStockObject(ANSI_VAR_FONT)) << "back at 96 DPI: the stock font itself";
    GetWindowRect(tile_pane, &frame);
    EXPECT_EQ(frame.bottom - frame.top, GetSystemMetrics(SM_CYCAPTION) - 1);
}

}  // namespace
