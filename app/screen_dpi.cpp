// Monitor DPI and DPI-scaled fonts. The per-monitor functions exist from Windows 10 on; they
// are looked up at run time so that the viewer still starts on older systems, which give one
// DPI for every monitor.
#include "app/screen_dpi.h"

#include "app/screen_scale.h"

int32_t window_dpi = BASE_DPI;

namespace {

using DpiForWindow = UINT(WINAPI*)(HWND);
using MetricsForDpi = int(WINAPI*)(int, UINT);

// A function of user32 by name (as a generic function pointer, to be cast to its type), or null.
using AnyFunction = void (*)();
AnyFunction user32_function(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 != nullptr ? reinterpret_cast<AnyFunction>(GetProcAddress(user32, name)) : nullptr;
}

// One made font per stock font the viewer scales, for the DPI it was made for.
struct ScaledFont {
    int stock;
    HFONT font;      // null: the stock object is used as it is
    HFONT retired;   // made for the previous DPI; deleted by release_retired_fonts
};
ScaledFont scaled_fonts[] = {{ANSI_VAR_FONT, nullptr, nullptr}, {SYSTEM_FONT, nullptr, nullptr}};

HFONT make_scaled_font(int stock, int32_t dpi) {
    LOGFONTA font;
    if (GetObjectA(GetStockObject(stock), sizeof font, &font) != sizeof font) return nullptr;
    const int32_t from = system_dpi();
    font.lfHeight = scale_between_dpis(font.lfHeight, from, dpi);
    font.lfWidth = scale_between_dpis(font.lfWidth, from, dpi);
    return CreateFontIndirectA(&font);
}

}  // namespace

int32_t dpi_of_window(HWND window) {
    static const auto for_window = reinterpret_cast<DpiForWindow>(user32_function("GetDpiForWindow"));
    if (for_window != nullptr && window != nullptr) {
        const UINT dpi = for_window(window);
        if (dpi > 0) return static_cast<int32_t>(dpi);
    }
    return system_dpi();
}

int32_t system_dpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : BASE_DPI;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : BASE_DPI;
}

int32_t system_metric_for_dpi(int index, int32_t dpi) {
    if (dpi == system_dpi()) return GetSystemMetrics(index);
    static const auto for_dpi = reinterpret_cast<MetricsForDpi>(user32_function("GetSystemMetricsForDpi"));
    if (for_dpi != nullptr) return for_dpi(index, static_cast<UINT>(dpi));
    return scale_between_dpis(GetSystemMetrics(index), system_dpi(), dpi);
}

HFONT scaled_font_for_window_dpi(int stock) {
    if (window_dpi == system_dpi()) return nullptr;
    for (ScaledFont& scaled : scaled_fonts) {
        if (scaled.stock != stock) continue;
        if (scaled.font == nullptr) scaled.font = make_scaled_font(stock, window_dpi);
        return scaled.font;
    }
    return nullptr;
}

HFONT font_for_window_dpi(int stock) {
    const HFONT scaled = scaled_font_for_window_dpi(stock);
    return scaled != nullptr ? scaled : static_cast<HFONT>(GetStockObject(stock));
}

void set_window_dpi(int32_t dpi) {
    if (dpi <= 0 || dpi == window_dpi) return;
    window_dpi = dpi;
    for (ScaledFont& scaled : scaled_fonts) {
        if (scaled.retired != nullptr) DeleteObject(scaled.retired);
        scaled.retired = scaled.font;
        scaled.font = nullptr;
    }
}

void release_retired_fonts() {
    for (ScaledFont& scaled : scaled_fonts) {
        if (scaled.retired != nullptr) DeleteObject(scaled.retired);
        scaled.retired = nullptr;
    }
}
