// Shared set-up for the Windows tests: the real main window, created once per program, and
// helpers to write tileset files, reset the viewer's state and drive dialogs from a thread.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// A path in the test program's own temporary directory.
std::string temp_path(const std::string& name);
// Writes `body` (INI lines) to `path`, replacing the file.
void write_file(const std::string& path, const std::string& body);
std::string read_file(const std::string& path);
// A tileset file with the given geometry (and optional extra lines) under the section.
std::string write_tileset(const std::string& name, int tile_width, int tile_height, int columns,
                          int rows, const std::string& extra_lines = "");
// Loads `path` as the 'O' key would with that file chosen.
void load(const std::string& path);
// Puts the view back to a known state: position (0, 0), step 10, no drag.
void reset_view();
RECT client_rect();
std::string window_text(HWND window);
// Pumps pending messages of this thread.
void pump_messages();
// How long a test waits for a dialog to show or go: generous, for a slow machine under Wine.
constexpr DWORD DIALOG_WAIT_MS = 60000;
// Waits, sleeping 10 ms at a time, until `condition` holds; false after DIALOG_WAIT_MS.
bool wait_for_window(const std::function<bool()>& condition);

// Runs `action` on a helper thread once a top-level window titled `caption` exists (waits
// up to DIALOG_WAIT_MS), while the calling thread runs `trigger` (which opens the modal dialog).
// Returns false when the dialog never appeared.
bool with_dialog(const char* caption, const std::function<void()>& trigger,
                 const std::function<void(HWND)>& action);

// A 32-bit top-down bitmap of the client area's size in a memory device context, for
// painting the view with paint_view and reading back what it drew.
class OffscreenView {
public:
    OffscreenView();
    ~OffscreenView();
    OffscreenView(const OffscreenView&) = delete;
    OffscreenView& operator=(const OffscreenView&) = delete;
    bool ok() const { return dc_ != nullptr && bits_ != nullptr; }
    HDC dc() const { return dc_; }
    const RECT& client() const { return client_; }
    // Fills the bitmap with one colour (blue, green, red bytes of 0x00RRGGBB).
    void fill(uint32_t colour);
    // The pixel as 0x00RRGGBB.
    uint32_t pixel(int x, int y) const;

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
    uint32_t* bits_;
    RECT client_;
};
