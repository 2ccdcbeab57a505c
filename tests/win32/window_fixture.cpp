// Creates the real main window once for the whole test program, as WinMain would, and
// offers the file and dialog helpers the tests share.
#include "tests/win32/window_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "app/main_window.h"
#include "app/tileset.h"
#include "app/viewport.h"

namespace {

class MainWindowEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        load_window_strings(instance);
        ASSERT_STREQ(window_title, "Terrava") << "string 103";
        ASSERT_STREQ(class_name, "TERRAVA") << "string 109";
        ASSERT_NE(register_main_class(instance), 0);
        ASSERT_TRUE(create_main_window(instance, SW_SHOWNORMAL));
        pump_messages();
    }
};

::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new MainWindowEnvironment);

}  // namespace

std::string temp_path(const std::string& name) {
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    std::string path = std::string(directory) + "terrava-tests\\";
    CreateDirectoryA(path.c_str(), nullptr);
    return path + name;
}

void write_file(const std::string& path, const std::string& body) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << "cannot write " << path;
    std::fwrite(body.data(), 1, body.size(), file);
    std::fclose(file);
}

std::string read_file(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return "";
    std::string body;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) body.append(chunk, got);
    std::fclose(file);
    return body;
}

std::string write_tileset(const std::string& name, int tile_width, int tile_height, int columns,
                          int rows, const std::string& extra_lines) {
    std::string path = temp_path(name);
    char body[512];
    std::snprintf(body, sizeof body,
                  "[Terrava 1.0]\r\nTileSizeX=%d\r\nTileSizeY=%d\r\nTileCountX=%d\r\n"
                  "TileCountY=%d\r\nTileDir=%s\r\n",
                  tile_width, tile_height, columns, rows, temp_path("no-tiles").c_str());
    write_file(path, std::string(body) + extra_lines);
    return path;
}

void load(const std::string& path) {
    load_tileset(main_window, path.c_str());
    InvalidateRect(main_window, nullptr, TRUE);
    pump_messages();
}

void reset_view() {
    scroll_x = 0;
    scroll_y = 0;
    scroll_step = SCROLL_STEP_NORMAL;
    if (dragging) SendMessageA(main_window, WM_LBUTTONUP, 0, 0);
    pump_messages();
}

RECT client_rect() {
    RECT client;
    GetClientRect(main_window, &client);
    return client;
}

std::string window_text(HWND window) {
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void pump_messages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

namespace {

struct DialogDriver {
    const char* caption;
    const std::function<void(HWND)>* action;
    DWORD owner_thread;
    std::atomic<bool> found;
    std::atomic<bool> give_up;
};

DWORD WINAPI drive_dialog(LPVOID parameter) {
    DialogDriver& driver = *static_cast<DialogDriver*>(parameter);
    HWND dialog = nullptr;
    const bool shown = wait_for_window([&] {
        if (driver.give_up.load()) return true;
        dialog = FindWindowA(reinterpret_cast<LPCSTR>(32770), driver.caption);
        return dialog != nullptr && IsWindowVisible(dialog) &&
               GetWindowThreadProcessId(dialog, nullptr) == driver.owner_thread;
    });
    if (!shown || driver.give_up.load()) return 0;
    driver.found = true;
    (*driver.action)(dialog);
    return 0;
}

}  // namespace

bool wait_for_window(const std::function<bool()>& condition) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= DIALOG_WAIT_MS) return false;
        Sleep(10);
    }
    return true;
}

bool with_dialog(const char* caption, const std::function<void()>& trigger,
                 const std::function<void(HWND)>& action) {
    DialogDriver driver;
    driver.caption = caption;
    driver.action = &action;
    driver.owner_thread = GetCurrentThreadId();
    driver.found = false;
    driver.give_up = false;
    HANDLE thread = CreateThread(nullptr, 0, drive_dialog, &driver, 0, nullptr);
    trigger();
    driver.give_up = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return driver.found.load();
}

OffscreenView::OffscreenView() : dc_(nullptr), bitmap_(nullptr), previous_(nullptr),
                                 bits_(nullptr) {
    GetClientRect(main_window, &client_);
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client_.right;
    info.bmiHeader.biHeight = -client_.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC window_dc = GetDC(main_window);
    dc_ = CreateCompatibleDC(window_dc);
    ReleaseDC(main_window, window_dc);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
}

OffscreenView::~OffscreenView() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

void OffscreenView::fill(uint32_t colour) {
    GdiFlush();
    for (LONG i = 0; i < client_.right * client_.bottom; ++i) bits_[i] = colour;
}

uint32_t OffscreenView::pixel(int x, int y) const {
    GdiFlush();
    return bits_[static_cast<size_t>(y) * client_.right + x] & 0xFFFFFF;
}
