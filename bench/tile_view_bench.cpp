// How fast a view fills: the real main window, with a 1920x1080 and then a 3840x2160 client
// area, opens a tileset of 256-pixel tiles, and the program measures the time from the open to
// the moment the last visible tile has been drawn, next to the sum of those tiles' decode times
// on one thread (decode_tile again on each, in the same run) and to that sum shared among the
// loader threads (TERRAVA_LOADERS), and the time to repaint the full view from the cache. The
// open's own share (load_tileset: the file, emptying the cache, the scroll bars) is shown
// apart, as is the ratio without it. Prints figures; it is no test. See bench/README.md.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/tileset.h"
#include "app/view_math.h"
#include "app/viewport.h"
#include "app/zoom_view.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_platform.h"
#include "tiles/tile_pool.h"

namespace {

constexpr int VIEW_WIDTH = 1920;
constexpr int VIEW_HEIGHT = 1080;
constexpr int TILE = 256;
constexpr int COLUMNS = 20;   // as bench/make-tile-view-inputs cuts them
constexpr int ROWS = 12;
constexpr DWORD ARRIVAL_TIME_OUT_MS = 60000;
constexpr double MEGABYTE = 1024.0 * 1024.0;

double now_ms() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void pump_messages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

TileGeometry open_geometry() {
    return TileGeometry{tileset.tile_width, tileset.tile_height, tileset.tile_columns,
                        tileset.tile_rows};
}

std::string windows_path(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// The cells that a view at the origin shows.
std::vector<TileKey> visible_cells(const RECT& client) {
    std::vector<TileKey> cells;
    for (int row = 0; row * TILE < client.bottom && row < ROWS; ++row)
        for (int column = 0; column * TILE < client.right && column < COLUMNS; ++column)
            cells.push_back(TileKey{column, row});
    return cells;
}

struct OpenTimes {
    double load = -1.0;         // ms in load_tileset (file, scroll bars)
    double first_tile = -1.0;   // ms from the open to the first visible tile drawn
    double full_view = -1.0;    // ms from the open to the last one; negative when it never came
};

int cached_count(const std::vector<TileKey>& tiles) {
    int count = 0;
    for (const TileKey& key : tiles) count += find_cached_tile(key) != nullptr;
    return count;
}

// Opens the tileset and pumps until every visible tile has arrived (and so been drawn).
OpenTimes open_to_full_view(const std::string& tileset_file, const std::vector<TileKey>& cells) {
    OpenTimes times;
    pump_messages();
    const double start = now_ms();
    load_tileset(main_window, tileset_file.c_str());
    times.load = now_ms() - start;
    InvalidateRect(main_window, nullptr, FALSE);
    const DWORD deadline = GetTickCount() + ARRIVAL_TIME_OUT_MS;
    for (;;) {
        pump_messages();
        const int arrived = cached_count(cells);
        if (arrived > 0 && times.first_tile < 0) times.first_tile = now_ms() - start;
        if (arrived == static_cast<int>(cells.size())) {
            times.full_view = now_ms() - start;
            return times;
        }
        if (static_cast<int32_t>(deadline - GetTickCount()) <= 0) return times;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
}

// The loader's decode (decode_tile_with on one kept decoder object) on every visible tile, one
// after another on this thread. With `keep_tiles`
// every tile stays allocated until the sum is taken, as in the cache, so each decode writes
// a fresh pixel buffer like the loader's do; otherwise each tile is freed at once and the
// next decode reuses its memory.
// This thread's processor time in ms (user and kernel). Wine counts it in the system's clock
// ticks (10 ms), so only a long stretch of work gives a useful figure.
double thread_cpu_ms() {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0.0;
    const auto ms = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

// With `cpu_ms`, also the processor time of the whole sum: on a loaded machine the wall time
// of a decode includes the waits for a processor, which the loaders' share of the machine
// may not see alike.
double decode_sum(const std::vector<TileKey>& tiles, bool keep_tiles, double* cpu_ms = nullptr) {
    double total = 0.0;
    const double cpu_start = thread_cpu_ms();
    std::vector<CachedTile*> kept;
    std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
    for (const TileKey& key : tiles) {
        const char* dir = key.level == 0 ? tileset.tile_dir
                                         : tileset.overview_dirs[key.level - 1].c_str();
        char path[TILE_DIR_BLOCK + 32];
        if (!format_tile_path(path, sizeof path, dir, key.row, key.column)) continue;
        TileRequest request = TileRequest{};
        static_cast<TileKey&>(request) = key;
        request.path = path;
        request.tile_width = tileset.tile_width;
        request.tile_height = tileset.tile_height;
        const double start = now_ms();
        const int produced = decode_tile_with(&request, *decoder);
        total += now_ms() - start;
        if (produced != 1) std::fprintf(stderr, "tile_view_bench: %s did not decode\n", path);
        else if (keep_tiles) kept.push_back(request.tile);
        else free_cached_tile(request.tile);
    }
    if (cpu_ms != nullptr) *cpu_ms = thread_cpu_ms() - cpu_start;
    for (CachedTile* tile : kept) free_cached_tile(tile);
    return total;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

bool size_client_area(int width, int height) {
    RECT frame, client;
    GetWindowRect(main_window, &frame);
    GetClientRect(main_window, &client);
    const int extra_width = (frame.right - frame.left) - client.right;
    const int extra_height = (frame.bottom - frame.top) - client.bottom;
    SetWindowPos(main_window, nullptr, 0, 0, width + extra_width, height + extra_height,
                 SWP_NOZORDER);
    pump_messages();
    GetClientRect(main_window, &client);
    return client.right == width && client.bottom == height;
}

// Pumps until the loader has nothing left to do: the queues empty and no tile decoded for
// `quiet_ms`. A benchmark may wait on a quiet spell; the figures below are counts, not times.
void settle(DWORD quiet_ms = 300) {
    uint32_t seen = tiles_decoded.load();
    DWORD quiet_since = GetTickCount();
    const DWORD deadline = GetTickCount() + ARRIVAL_TIME_OUT_MS;
    while (static_cast<int32_t>(deadline - GetTickCount()) > 0) {
        pump_messages();
        enter_queue_lock();
        const bool queued = high_queue != nullptr || normal_queue != nullptr;
        leave_queue_lock();
        const uint32_t now = tiles_decoded.load();
        if (queued || now != seen) {
            seen = now;
            quiet_since = GetTickCount();
        } else if (GetTickCount() - quiet_since >= quiet_ms) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void repaint_now() {
    InvalidateRect(main_window, nullptr, FALSE);
    UpdateWindow(main_window);
}

// With the default cache limit (no MaxCache key), a view of width x height at a position that
// shows the most cells: the decodes that a repaint and an arrow-key step (right, then left
// again) cost once the view has filled. Each should be 0 when the cache holds the view.
void decodes_per_repaint(const std::string& tileset_file, int width, int height, int steps) {
    if (!size_client_area(width, height)) {
        std::printf("%dx%d: skipped, the screen is too small (Xvfb -screen 0 4096x2400x24)\n",
                    width, height);
        return;
    }
    settle();   // the resize may have asked for tiles of the earlier view
    scroll_x = 200;   // offsets that show ceil(extent / 256) + 1 cells on both axes here
    scroll_y = 230;
    const uint32_t before_fill = tiles_decoded.load();
    load_tileset(main_window, tileset_file.c_str());
    repaint_now();
    settle();
    const uint32_t fill = tiles_decoded.load() - before_fill;
    RECT client;
    GetClientRect(main_window, &client);
    const int cells = ((client.right + scroll_x % TILE + TILE - 1) / TILE) *
                      ((client.bottom + scroll_y % TILE + TILE - 1) / TILE);

    uint32_t start = tiles_decoded.load();
    for (int i = 0; i < steps; ++i) {
        repaint_now();
        settle();
    }
    const double per_repaint = double(tiles_decoded.load() - start) / steps;
    start = tiles_decoded.load();
    for (int i = 0; i < steps; ++i) {
        on_navigation_key_down(main_window, i % 2 == 0 ? VK_RIGHT : VK_LEFT);
        UpdateWindow(main_window);
        settle();
    }
    const double per_step = double(tiles_decoded.load() - start) / steps;
    std::printf("%ldx%ld at (200, 230): %d cells in view, MaxCache %d: %u decodes to fill, "
                "%.1f per repaint, %.1f per arrow step\n",
                client.right, client.bottom, cells, tileset.cache_limit, fill, per_repaint,
                per_step);
    std::fflush(stdout);
}

// The memory the process holds (Wine fills both counters): the private bytes, and the
// commit charge against the page file.
struct ProcessMemory {
    double private_mb;
    double pagefile_mb;
};

ProcessMemory process_memory() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters))
        return ProcessMemory{-1.0, -1.0};
    return ProcessMemory{counters.PrivateUsage / MEGABYTE, counters.PagefileUsage / MEGABYTE};
}

std::string zoom_name(int32_t zoom) {
    char text[32];
    if (zoom >= 0) std::snprintf(text, sizeof text, "%d:1", 1 << zoom);
    else std::snprintf(text, sizeof text, "1:%d", 1 << -zoom);
    return text;
}

// The tiles the zoomed view draws now, with their keys: the cells of the zoom's source level
// in view and inside that level's grid, at the source's reduction.
std::vector<TileKey> zoomed_visible_tiles() {
    RECT client;
    GetClientRect(main_window, &client);
    const CellRange range = zoomed_cells_in_view(client);
    const TileGeometry level = range.level == 0
                                   ? open_geometry()
                                   : overview_geometry(open_geometry(), range.level);
    std::vector<TileKey> tiles;
    for (int32_t row = std::max(range.first_row, 0);
         row <= range.last_row && row < level.tile_rows; ++row)
        for (int32_t column = std::max(range.first_column, 0);
             column <= range.last_column && column < level.tile_columns; ++column)
            tiles.push_back(TileKey{column, row, range.level, range.reduction_log2});
    return tiles;
}

// What every zoom step is measured against: the loaders that decode side by side
// (min(loaders, processors)), and the process's commit charge before any tileset was opened
// (under Wine it includes Wine's own, and under qemu-user qemu's).
struct ZoomBaseline {
    int32_t sharing;
    double start_mb;
};

// What one zoom step gave: its times, the tiles of its view, the decode sum of those it had to
// decode, and the memory once its view was complete.
struct ZoomStepFigures {
    int32_t zoom_before = 0;
    TileSource source = {};
    size_t tiles = 0;
    size_t missing = 0;            // tiles of the view not cached at the command
    uint32_t decoded = 0;          // decodes the loaders made until the view was complete
    double command = 0.0;          // the command's own share of the first repaint
    double first_paint = 0.0;
    double last_tile = -1.0;       // negative: the view never completed
    double cached_repaint = 0.0;   // the complete view painted again from the cache
    double sum_ms = 0.0;
    ProcessMemory memory = {};
    double cache_mb = 0.0;         // the cache's pixels
    double budget_mb = 0.0;        // the cache's budget in force
    int32_t zoom_after = 0;
    bool moved() const { return zoom_before != zoom_after; }
};

void print_zoom_step(const char* name, const ZoomStepFigures& step, const ZoomBaseline& baseline) {
    char ratio[64] = "-";
    if (step.sum_ms > 0.0 && step.last_tile >= 0.0)
        std::snprintf(ratio, sizeof ratio, "%.2f / %.2f", step.last_tile / step.sum_ms,
                      step.last_tile / (step.sum_ms / baseline.sharing));
    const double used_mb = std::max(step.memory.private_mb, step.memory.pagefile_mb);
    const double limit_mb = step.budget_mb + 64.0;
    char private_mb[16] = "-";   // Wine leaves PrivateUsage 0
    if (step.memory.private_mb > 0.0)
        std::snprintf(private_mb, sizeof private_mb, "%.1f", step.memory.private_mb);
    std::printf("%-9s %5s->%-5s L%d/%d %5zu %5zu %5u %6.1f %7.1f%s %8.1f %6.1f %8.1f %13s %7s "
                "%7.1f %6.1f %6.1f %6.1f %-4s %s\n",
                name, zoom_name(step.zoom_before).c_str(), zoom_name(step.zoom_after).c_str(),
                step.source.level, 1 << step.source.reduction_log2, step.tiles, step.missing,
                step.decoded, step.command, step.first_paint, step.first_paint <= 16.0 ? " " : "!",
                step.last_tile, step.cached_repaint, step.sum_ms, ratio, private_mb,
                step.memory.pagefile_mb, used_mb - baseline.start_mb, step.cache_mb, limit_mb,
                used_mb <= limit_mb ? "ok" : "OVER",
                used_mb - baseline.start_mb <= limit_mb ? "ok" : "OVER");
    if (step.last_tile < 0.0)
        std::printf("  the view never completed after %lu ms\n",
                    static_cast<unsigned long>(ARRIVAL_TIME_OUT_MS));
    std::fflush(stdout);
}

// Pumps until every tile of `tiles` is cached (and so drawn); the time since `start`, or -1
// when they never all came.
double wait_for_tiles(const std::vector<TileKey>& tiles, double start) {
    const DWORD deadline = GetTickCount() + ARRIVAL_TIME_OUT_MS;
    for (;;) {
        if (cached_count(tiles) == static_cast<int>(tiles.size())) return now_ms() - start;
        if (static_cast<int32_t>(deadline - GetTickCount()) <= 0) return -1.0;
        pump_messages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// One zoom step from a settled view: the time of the first repaint after the command (the
// whole picture, placeholders and stand-ins included), the time from the command until the
// last visible tile of the zoom's level has been drawn, the decode sum of the tiles the step
// had to decode (those not cached at the command) on this thread, and the process's memory
// next to the cache budget in force plus 64 MB.
ZoomStepFigures zoom_step(const char* name, void (*command)(HWND), const ZoomBaseline& baseline) {
    settle();
    const uint32_t decoded_before = tiles_decoded.load();
    ZoomStepFigures step;
    step.zoom_before = zoom_level;
    const double start = now_ms();
    command(main_window);
    step.command = now_ms() - start;
    UpdateWindow(main_window);
    GdiFlush();
    step.first_paint = now_ms() - start;
    // The paint only posts requests: the cache is still as the command left it.
    const std::vector<TileKey> tiles = zoomed_visible_tiles();
    std::vector<TileKey> missing;
    for (const TileKey& key : tiles)
        if (find_cached_tile(key) == nullptr) missing.push_back(key);
    step.last_tile = wait_for_tiles(tiles, start);
    step.decoded = tiles_decoded.load() - decoded_before;
    // The same view painted again with every tile cached: the paint without requests.
    const double repaint_start = now_ms();
    repaint_now();
    GdiFlush();
    step.cached_repaint = now_ms() - repaint_start;
    step.memory = process_memory();
    RECT client;
    GetClientRect(main_window, &client);
    step.budget_mb =
        static_cast<double>(cache_budget_bytes(current_zoom_inputs(client), zoom_level)) /
        MEGABYTE;
    step.cache_mb = static_cast<double>(tile_cache_bytes) / MEGABYTE;
    step.sum_ms = missing.empty() ? 0.0 : decode_sum(missing, true);
    step.zoom_after = zoom_level;
    step.source = current_tile_source();
    step.tiles = tiles.size();
    step.missing = missing.size();
    print_zoom_step(name, step, baseline);
    return step;
}

// Where a zoom step's time goes besides the arithmetic and the blits: the median time of the
// status panes' update and of both scroll bars set anew (as a step sets them), at the zoom in
// force, and the check for a tile's file that a paint makes before it requests the tile (on
// the first 2048 tiles of level 0, as a 1:8 view asks for about 2100).
void command_parts() {
    const double checks_start = now_ms();
    int32_t checked = 0;
    for (int32_t row = 0; row < tileset.tile_rows && checked < 2048; ++row)
        for (int32_t column = 0; column < tileset.tile_columns && checked < 2048; ++column) {
            char path[TILE_DIR_BLOCK + 32];
            if (!format_tile_path(path, sizeof path, tileset.tile_dir, row, column)) continue;
            GetFileAttributesA(path);
            ++checked;
        }
    const double per_check_us = checked > 0 ? 1000.0 * (now_ms() - checks_start) / checked : 0.0;
    std::vector<double> panes, bars;
    for (int i = 0; i < 9; ++i) {
        double start = now_ms();
        update_status_panes();
        panes.push_back(now_ms() - start);
        forget_shown_scroll_bars();
        start = now_ms();
        update_scroll_bars();
        bars.push_back(now_ms() - start);
        pump_messages();
    }
    std::printf("at %s a command's parts: status panes %.2f ms, both scroll bars %.2f ms "
                "(medians of 9); a tile file's check %.1f us (mean of %d)\n",
                zoom_name(zoom_level).c_str(), median(panes), median(bars), per_check_us, checked);
}

// One round of zoom steps on a freshly opened tileset, the view at the map's centre at 1:1:
// the whole map straight from 1:1, back to 1:1, out one step at a time to the farthest zoom,
// back in one step at a time to the closest, and 1:1.
void zoom_round(const std::string& tileset_file, const ZoomBaseline& baseline) {
    RECT client;
    GetClientRect(main_window, &client);
    command_zoom_one_to_one(main_window);
    scroll_x = tileset.tile_columns * tileset.tile_width / 2 - client.right / 2;
    scroll_y = tileset.tile_rows * tileset.tile_height / 2 - client.bottom / 2;
    load_tileset(main_window, tileset_file.c_str());
    repaint_now();
    settle();
    const ZoomRange range = zoom_range(current_zoom_inputs(client));
    std::printf("%s, %dx%d tiles of %dx%d, %d overview levels, MaxCache %d (%.1f MB); zooms "
                "%s to %s at %ldx%ld; process %.1f MB committed at 1:1\n",
                tileset_file.c_str(), tileset.tile_columns, tileset.tile_rows,
                tileset.tile_width, tileset.tile_height, tileset.overview_count,
                tileset.cache_limit,
                double(tileset.cache_limit) * tileset.tile_width * tileset.tile_height * 4 /
                    MEGABYTE,
                zoom_name(range.farthest).c_str(), zoom_name(range.closest).c_str(),
                client.right, client.bottom, process_memory().pagefile_mb);
    std::printf("%-9s %12s %-5s %5s %5s %5s %6s %8s %8s %6s %8s %13s %7s %7s %6s %6s %6s "
                "%s\n",
                "step", "zoom", "src", "tiles", "miss", "decod", "cmd ms", "1st ms", "last ms",
                "again", "sum ms",
                "ratio/goal", "priv MB", "page MB", "grown", "cache", "limit", "page/grown");
    const ZoomStepFigures whole = zoom_step("whole map", command_zoom_whole_map, baseline);
    zoom_step("1:1", command_zoom_one_to_one, baseline);
    // A step that does not change the zoom ends the walk (the range moves with the scroll bars).
    while (zoom_level > range.farthest && zoom_step("out", command_zoom_out, baseline).moved()) {
    }
    while (zoom_level < range.closest && zoom_step("in", command_zoom_in, baseline).moved()) {
    }
    zoom_step("1:1", command_zoom_one_to_one, baseline);
    command_parts();
    std::printf("whole map from 1:1: %.1f ms (goal <= 500 ms: %s)\n", whole.last_tile,
                whole.last_tile >= 0.0 && whole.last_tile <= 500.0 ? "met" : "missed");
    std::fflush(stdout);
}

void zoom_steps(const std::string& tileset_file, int rounds, const ZoomBaseline& baseline) {
    if (GetFileAttributesA(tileset_file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("zoom steps skipped: no %s (cmake --build --preset win64 --target "
                    "tile_view_zoom_inputs)\n", tileset_file.c_str());
        return;
    }
    // The first open shows the scroll bars; the client area is sized after it.
    load_tileset(main_window, tileset_file.c_str());
    pump_messages();
    if (!size_client_area(VIEW_WIDTH, VIEW_HEIGHT)) {
        std::printf("zoom steps skipped: the screen is too small (Xvfb -screen 0 2560x1440x24)\n");
        return;
    }
    std::printf(
        "zoom steps at %dx%d around the window's centre. Per step: the zoom before and after, "
        "the source level / reduction, the tiles in view, those missing at the command, the "
        "tiles decoded, the command's own time, the first repaint (goal <= 16 ms, ! past it), "
        "the last visible tile drawn, a repaint of the complete view from the cache, the "
        "decode sum of the missing tiles on one thread, last tile / decode sum and / (decode "
        "sum / %d) (goal <= 1.2), the process's private and commit (page-file) bytes, the "
        "commit's growth since the start, the cache's bytes, the limit (cache budget in force "
        "+ 64 MB) and whether the commit and its growth are within it (MB)\n",
        VIEW_WIDTH, VIEW_HEIGHT, baseline.sharing);
    std::printf("process %.1f MB committed before any tileset was opened\n", baseline.start_mb);
    for (int round = 0; round < rounds; ++round) zoom_round(tileset_file, baseline);
}

// The system's load average (Wine maps the Unix root to Z:), or "unknown".
std::string load_average() {
    char text[100] = "unknown";
    FILE* file = std::fopen("Z:\\proc\\loadavg", "r");
    if (file == nullptr) return text;
    if (std::fgets(text, sizeof text, file) == nullptr) std::strcpy(text, "unknown");
    std::fclose(file);
    const size_t end = std::strcspn(text, "\n");
    text[end] = '\0';
    std::string fields(text);
    // The three averages only.
    size_t cut = 0;
    for (int spaces = 0; cut < fields.size() && spaces < 3; ++cut) spaces += fields[cut] == ' ';
    return cut < fields.size() ? fields.substr(0, cut - 1) : fields;
}

// Opens the tileset `runs` times at the present client size and prints, per run and as
// medians, the time to the full view next to the decode sum of the visible tiles on one
// thread, and the ratio to the goal: decode sum / `sharing` (the loaders that can decode side
// by side: their number, at most the processors).
bool measure_open_to_full_view(const std::string& tileset_file, int runs, int32_t sharing) {
    RECT client;
    GetClientRect(main_window, &client);
    const std::vector<TileKey> cells = visible_cells(client);
    if (open_to_full_view(tileset_file, cells).full_view < 0) {
        std::fprintf(stderr, "tile_view_bench: the view never filled\n");
        return false;
    }
    std::printf("view %ldx%ld, %zu visible tiles of %dx%d, %d runs\n", client.right,
                client.bottom, cells.size(), TILE, TILE, runs);
    std::printf("%4s %8s %11s %14s %14s %8s %10s %14s %8s %10s\n", "run", "load ms",
                "1st tile ms", "open->full ms", "decode sum ms", "ratio", "to goal", "reusing ms",
                "sum cpu", "cpu goal");
    std::vector<double> opens, sums, ratios, goal_ratios, reusing_sums, tile_ratios, cpu_sums,
        cpu_goal_ratios;
    for (int run = 0; run < runs; ++run) {
        const OpenTimes open = open_to_full_view(tileset_file, cells);
        if (open.full_view < 0) {
            std::fprintf(stderr, "tile_view_bench: run %d: the view never filled (%d of %zu)\n",
                         run, cached_count(cells), cells.size());
            return false;
        }
        double cpu = 0.0;
        const double sum = decode_sum(cells, true, &cpu);
        const double reusing = decode_sum(cells, false);
        const double to_goal = open.full_view / (sum / sharing);
        const double to_cpu_goal = cpu > 0.0 ? open.full_view / (cpu / sharing) : 0.0;
        cpu_sums.push_back(cpu);
        cpu_goal_ratios.push_back(to_cpu_goal);
        opens.push_back(open.full_view);
        sums.push_back(sum);
        ratios.push_back(open.full_view / sum);
        goal_ratios.push_back(to_goal);
        reusing_sums.push_back(reusing);
        tile_ratios.push_back((open.full_view - open.load) / sum);
        std::printf("%4d %8.1f %11.1f %14.1f %14.1f %8.3f %10.3f %14.1f %8.0f %10.3f\n", run,
                    open.load, open.first_tile, open.full_view, sum, open.full_view / sum, to_goal,
                    reusing, cpu, to_cpu_goal);
    }
    std::printf("median: open->full view %.1f ms, decode sum %.1f ms, ratio %.3f; "
                "open->full / (decode sum / %d) = %.3f (goal <= 1.2)\n",
                median(opens), median(sums), median(ratios), sharing, median(goal_ratios));
    std::printf("median: ratio without load_tileset %.3f; decode sum reusing one buffer %.1f ms\n",
                median(tile_ratios), median(reusing_sums));
    std::printf("median: decode sum in processor time %.0f ms; open->full / (that / %d) = %.3f\n",
                median(cpu_sums), sharing, median(cpu_goal_ratios));
    std::fflush(stdout);
    return true;
}

// The figures on the small tileset: open to full view at two sizes, full repaints from the
// cache, and the decodes per repaint and per arrow step with the default cache limit.
bool view_fill_figures(const std::string& tile_dir, int runs, int repaints, int32_t sharing) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string tileset_file = std::string(temp) + "tile-view-bench.tvt";
    char body[1024];
    std::snprintf(body, sizeof body,
                  "[Terrava 1.0]\r\nTileSizeX=%d\r\nTileSizeY=%d\r\nTileCountX=%d\r\n"
                  "TileCountY=%d\r\nTileDir=%s\r\nMaxCache=%d\r\n",
                  TILE, TILE, COLUMNS, ROWS, tile_dir.c_str(), COLUMNS * ROWS);
    FILE* file = std::fopen(tileset_file.c_str(), "wb");
    if (file == nullptr) return false;
    std::fputs(body, file);
    std::fclose(file);

    // A first open shows the scroll bars, which take their share of the window; the client
    // area is sized after that, and the open warms the file cache as a user's second look.
    load_tileset(main_window, tileset_file.c_str());
    pump_messages();
    const int view_sizes[][2] = {{VIEW_WIDTH, VIEW_HEIGHT}, {2 * VIEW_WIDTH, 2 * VIEW_HEIGHT}};
    for (const auto& size : view_sizes) {
        if (!size_client_area(size[0], size[1])) {
            std::printf("%dx%d: skipped, the screen is too small (Xvfb -screen 0 4096x2400x24)\n",
                        size[0], size[1]);
            continue;
        }
        settle();
        if (!measure_open_to_full_view(tileset_file, runs, sharing)) return false;
    }
    std::printf("load average %s at the end of the open runs\n", load_average().c_str());
    if (!size_client_area(VIEW_WIDTH, VIEW_HEIGHT)) return false;
    load_tileset(main_window, tileset_file.c_str());
    repaint_now();
    settle();

    // Full repaints from the cache: every visible cell is a hit.
    std::vector<double> paints;
    for (int i = 0; i < repaints; ++i) {
        const double start = now_ms();
        InvalidateRect(main_window, nullptr, FALSE);
        UpdateWindow(main_window);
        GdiFlush();
        paints.push_back(now_ms() - start);
    }
    std::sort(paints.begin(), paints.end());
    std::printf("repaint of the full view from the cache (%d times): median %.2f ms, "
                "min %.2f, 90th percentile %.2f, max %.2f (goal <= 8)\n",
                repaints, median(paints), paints.front(),
                paints[static_cast<size_t>(0.9 * (paints.size() - 1))], paints.back());
    std::fflush(stdout);

    // Decodes per repaint and per step with the default cache limit, at two screen sizes.
    const std::string default_limit_file = std::string(temp) + "tile-view-bench-default.tvt";
    std::snprintf(body, sizeof body,
                  "[Terrava 1.0]\r\nTileSizeX=%d\r\nTileSizeY=%d\r\nTileCountX=%d\r\n"
                  "TileCountY=%d\r\nTileDir=%s\r\n",
                  TILE, TILE, COLUMNS, ROWS, tile_dir.c_str());
    file = std::fopen(default_limit_file.c_str(), "wb");
    if (file == nullptr) return false;
    std::fputs(body, file);
    std::fclose(file);
    decodes_per_repaint(default_limit_file, 1920, 1080, 6);
    decodes_per_repaint(default_limit_file, 3840, 2160, 6);
    return true;
}

void usage() {
    std::fprintf(stderr,
                 "usage: tile_view_bench [--runs N] [--repaints N] [--zoom-only] "
                 "[--zoom-rounds N]\n"
                 "                       [--zoom-tileset FILE] [INPUTS]\n"
                 "INPUTS holds tiles/RRR/CCC.jpg made by bench/make-tile-view-inputs\n"
                 "(default %s); the zoom steps open FILE, made by bench/make-zoom-bench-inputs\n"
                 "(default %s)\n",
                 TILE_VIEW_BENCH_INPUTS, TILE_VIEW_ZOOM_TILESET);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    int repaints = 100;
    int zoom_rounds = 1;
    bool zoom_only = false;
    std::string inputs = TILE_VIEW_BENCH_INPUTS;
    std::string zoom_tileset = windows_path(TILE_VIEW_ZOOM_TILESET);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--zoom-rounds") == 0 && i + 1 < argc)
            zoom_rounds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--zoom-tileset") == 0 && i + 1 < argc)
            zoom_tileset = windows_path(argv[++i]);
        else if (std::strcmp(argv[i], "--zoom-only") == 0) zoom_only = true;
        else if (std::strcmp(argv[i], "--repaints") == 0 && i + 1 < argc)
            repaints = std::atoi(argv[++i]);
        else if (argv[i][0] == '-') {
            usage();
            return 2;
        } else inputs = argv[i];
    }
    if (runs < 1 || repaints < 1 || zoom_rounds < 1) {
        usage();
        return 2;
    }
    const std::string tile_dir = windows_path(inputs + "/tiles");
    if (!zoom_only &&
        GetFileAttributesA((tile_dir + "\\000\\000.jpg").c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "tile_view_bench: no tiles in %s\n", tile_dir.c_str());
        usage();
        return 1;
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    load_window_strings(instance);
    register_main_class(instance);
    if (!create_main_window(instance, SW_SHOWNORMAL)) {
        std::fprintf(stderr, "tile_view_bench: cannot create the main window\n");
        return 1;
    }
    pump_messages();
    const double start_mb = process_memory().pagefile_mb;

    const int32_t processors = logical_processor_count();
    const int32_t loaders = tile_loader_count();
    const int32_t sharing = loaders < processors ? loaders : processors;
    std::printf("%d loader threads (TERRAVA_LOADERS=%s), %d logical processors, load average "
                "%s at the start\n",
                loaders, std::getenv("TERRAVA_LOADERS") ? std::getenv("TERRAVA_LOADERS") : "unset",
                processors, load_average().c_str());
    if (!zoom_only && !view_fill_figures(tile_dir, runs, repaints, sharing)) return 1;
    zoom_steps(zoom_tileset, zoom_rounds, ZoomBaseline{sharing, start_mb});
    stop_tile_loader();
    return 0;
}
