// Tells the end-to-end checks exactly where the main window's client area is on the screen,
// so that screenshot pixels are compared at their exact places rather than at estimates:
//   window LEFT TOP RIGHT BOTTOM client LEFT TOP WIDTH HEIGHT
// Exits 1 without printing when no top-level window titled "Terrava" exists.
#include <windows.h>

#include <cstdio>

int main() {
    HWND window = FindWindowA(nullptr, "Terrava");
    RECT frame{};
    RECT client{};
    POINT origin{0, 0};
    if (window == nullptr || !GetWindowRect(window, &frame) || !GetClientRect(window, &client) ||
        !ClientToScreen(window, &origin)) {
        return 1;
    }
    std::printf("window %ld %ld %ld %ld client %ld %ld %ld %ld\n", frame.left, frame.top, frame.right,
                frame.bottom, origin.x, origin.y, client.right - client.left, client.bottom - client.top);
    return 0;
}
