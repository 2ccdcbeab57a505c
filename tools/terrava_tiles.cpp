// terrava-tiles: makes a tileset from any image libvips reads (`make`) and checks one with the
// viewer's own reader and decoder (`check`). This file owns the command line, the progress
// bar (on a terminal only), interrupts, and the exit codes; the work is in tile_maker and
// tileset_check.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <vips/vips8>

#include "tools/overview_command.h"
#include "tools/tile_maker.h"
#include "tools/tile_plan.h"
#include "tools/tileset_check.h"

namespace {

// Exit codes.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;         // make failed; check found a tile that is not good
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_BAD_TILESET = 3;    // check: the viewer would refuse the tileset file

const char* const USAGE =
    "usage: terrava-tiles make IMAGE OUTDIR [--tile 256] [--quality 85] [--progressive]\n"
    "                          [--subsample 420|444] [--name NAME] [--force] [--accept-damaged]\n"
    "                          [--no-overviews]\n"
    "       terrava-tiles check TILESET.tvt [--jobs N]\n"
    "       terrava-tiles overview TILESET.tvt [--jobs N]\n"
    "\n"
    "make   cuts IMAGE (any format libvips reads) into OUTDIR/NAME.tvt and OUTDIR/NAME/RRR/CCC.jpg;\n"
    "       NAME defaults to the image's file name without extension. Edge tiles are padded\n"
    "       to the full tile size with white. Tile size 16..4096; 4:2:0 chroma by default.\n"
    "       An existing tileset of that name is replaced only with --force. A damaged\n"
    "       IMAGE (truncated, corrupt data) is refused unless --accept-damaged is given.\n"
    "       Overview levels (the map shrunk by 2, 4, ... down to one tile) go to\n"
    "       NAME/overview<k>, made in the same pass, unless --no-overviews is given.\n"
    "check  decodes every tile of a tileset with the viewer's decoder and lists the missing,\n"
    "       unreadable, undecodable, truncated and wrongly sized ones; exit status 0 only\n"
    "       when all are good, overview levels included. --jobs N decodes on N threads\n"
    "       (default: one per processor).\n"
    "overview  adds (or remakes) the overview levels of an existing tileset from its own\n"
    "       tiles and records them in TILESET.tvt, keeping every other line of it.\n";

// The number of the signal (SIGINT, SIGTERM) that asked make to stop, or 0.
std::atomic<int> interrupted{0};

void on_interrupt(int number) { interrupted = number; }

int usage_error(const char* command, const std::string& error) {
    std::fprintf(stderr, "terrava-tiles%s%s: %s (see terrava-tiles --help)\n", command[0] ? " " : "",
                 command, error.c_str());
    return EXIT_USAGE;
}

// Redraws a one-line progress bar on stderr every quarter second while it lives, when stderr
// is a terminal; silent otherwise.
class ProgressBar {
public:
    ProgressBar(std::atomic<int64_t>& done, std::atomic<int64_t>& total)
        : done_(done), total_(total), start_(std::chrono::steady_clock::now()) {
        if (isatty(STDERR_FILENO)) thread_ = std::thread([this] { run(); });
    }
    ~ProgressBar() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(lock_);
            finished_ = true;
        }
        wake_.notify_all();
        thread_.join();
        draw();
        if (drawn_) std::fputc('\n', stderr);
    }

private:
    void run() {
        std::unique_lock<std::mutex> hold(lock_);
        while (!wake_.wait_for(hold, std::chrono::milliseconds(250), [this] { return finished_; }))
            draw();
    }
    void draw() {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (total_ == 0) return;
        drawn_ = true;
        std::fprintf(stderr, "\r%s\x1b[K", format_progress(done_, total_, elapsed).c_str());
        std::fflush(stderr);
    }

    std::atomic<int64_t>& done_;
    std::atomic<int64_t>& total_;
    const std::chrono::steady_clock::time_point start_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool finished_ = false;
    bool drawn_ = false;
    std::thread thread_;
};

int run_make(const std::vector<std::string>& args, const char* program) {
    const ParsedMake parsed = parse_make_arguments(args);
    if (!parsed.ok) return usage_error("make", parsed.error);
    if (VIPS_INIT(program) != 0) {
        std::fprintf(stderr, "terrava-tiles make: libvips did not start: %s\n", vips_error_buffer());
        return EXIT_FAILED;
    }
    // The image is read once: cached operations would only hold on to its pixels.
    vips_cache_set_max(0);
    std::atomic<int64_t> done{0}, total{0};
    MakeOutcome outcome;
    {
        ProgressBar bar(done, total);
        outcome = make_tileset(parsed.options, done, total, interrupted);
    }
    vips_shutdown();
    if (!outcome.ok) {
        std::fprintf(stderr, "terrava-tiles make: %s\n", outcome.error.c_str());
        return EXIT_FAILED;
    }
    if (!outcome.warning.empty()) std::fprintf(stderr, "terrava-tiles make: %s\n", outcome.warning.c_str());
    const int32_t size = parsed.options.tile_size;
    std::printf("%s: %d x %d tiles of %d pixels from a %lld x %lld image (padded with white to "
                "%lld x %lld)\n",
                outcome.tileset_file.c_str(), outcome.grid.columns, outcome.grid.rows, size,
                static_cast<long long>(outcome.image_width), static_cast<long long>(outcome.image_height),
                static_cast<long long>(outcome.grid.columns) * size,
                static_cast<long long>(outcome.grid.rows) * size);
    if (outcome.overview_levels > 0)
        std::printf("%d overview levels, down to one tile\n", outcome.overview_levels);
    return EXIT_DONE;
}

std::string wine_prefix() {
    if (const char* prefix = std::getenv("WINEPREFIX")) return prefix;
    if (const char* home = std::getenv("HOME")) return std::string(home) + "/.wine";
    return "";
}

int run_check(const std::vector<std::string>& args) {
    const ParsedCheck parsed = parse_check_arguments(args);
    if (!parsed.ok) return usage_error("check", parsed.error);
    const std::string& name = parsed.options.tileset;
    std::string text;
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "terrava-tiles check: cannot open %s: %s\n", name.c_str(),
                     std::strerror(errno));
        return EXIT_BAD_TILESET;
    }
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "terrava-tiles check: cannot read %s\n", name.c_str());
        return EXIT_BAD_TILESET;
    }
    const std::string absolute = std::filesystem::absolute(name).lexically_normal().string();
    const TilesetReading reading =
        read_tileset_text(absolute, text, wine_prefix(), ansi_code_page_of_locale(current_ctype_locale()));
    if (!reading.ok) {
        std::fprintf(stderr, "terrava-tiles check: %s: %s\n", name.c_str(), reading.error.c_str());
        return EXIT_BAD_TILESET;
    }
    const int32_t jobs = parsed.options.jobs > 0
                             ? parsed.options.jobs
                             : static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    const TileGeometry& g = reading.tileset.geometry;
    std::atomic<int64_t> done{0}, total{int64_t{g.tile_columns} * g.tile_rows};
    std::error_code error;
    const std::string& folder = reading.tileset.tile_dir;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
        // One line instead of one per tile.
        std::printf("missing     every tile: the tile folder %s does not exist\n", folder.c_str());
        CheckTally tally = tally_problems(total, {});
        tally.missing = tally.tiles;
        tally.good = 0;
        std::printf("%s\n", summary_line(tally).c_str());
        return EXIT_FAILED;
    }
    const OverviewLevels& levels = reading.tileset.overviews;
    for (const std::string& key : reading.tileset.overview_keys) std::printf("found       %s\n", key.c_str());
    if (!levels.problem.empty()) std::printf("ignored     %s\n", levels.problem.c_str());
    for (int32_t level = 1; level <= levels.count; ++level)
        total += int64_t{overview_geometry(g, level).tile_columns} * overview_geometry(g, level).tile_rows;
    bool all_good = true;
    {
        ProgressBar bar(done, total);
        for (int32_t level = 0; level <= levels.count; ++level) {
            const std::string& folder = level == 0 ? reading.tileset.tile_dir : levels.dirs[level - 1];
            const TileGeometry grid = overview_geometry(g, level);
            const std::vector<TileProblem> problems = check_level_tiles(folder, grid, jobs, done);
            for (const TileProblem& problem : problems)
                std::printf("%s%s\n", level == 0 ? "" : ("level " + std::to_string(level) + ": ").c_str(),
                            describe_problem(reading.tileset, problem).c_str());
            const std::string summary =
                summary_line(tally_problems(int64_t{grid.tile_columns} * grid.tile_rows, problems));
            if (level == 0) std::printf("%s\n", summary.c_str());
            else std::printf("overview level %d (%d x %d tiles): %s\n", level, grid.tile_columns,
                             grid.tile_rows, summary.c_str());
            all_good = all_good && problems.empty();
        }
    }
    return all_good ? EXIT_DONE : EXIT_FAILED;
}

int run_overview(const std::vector<std::string>& args) {
    const ParsedCheck parsed = parse_check_arguments(args);   // the same words: TILESET.tvt [--jobs N]
    if (!parsed.ok) {
        std::string error = parsed.error;
        if (error.rfind("check ", 0) == 0) error.replace(0, 5, "overview");
        return usage_error("overview", error);
    }
    std::atomic<int64_t> done{0}, total{0};
    OverviewOutcome outcome;
    {
        ProgressBar bar(done, total);
        outcome = remake_overviews(parsed.options.tileset, parsed.options.jobs, done, total, interrupted);
    }
    if (!outcome.ok) {
        std::fprintf(stderr, "terrava-tiles overview: %s\n", outcome.error.c_str());
        return EXIT_FAILED;
    }
    std::printf("%s: %d overview levels\n", parsed.options.tileset.c_str(), outcome.levels);
    return EXIT_DONE;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(USAGE, stdout);
        return EXIT_DONE;
    }
    if (command == "make") {
        // An interrupted make removes what it has written.
        signal(SIGINT, on_interrupt);
        signal(SIGTERM, on_interrupt);
        // A file grown past the size limit fails its write with EFBIG, reported like any other.
        signal(SIGXFSZ, SIG_IGN);
        return run_make(args, argv[0]);
    }
    if (command == "check") return run_check(args);
    if (command == "overview") {
        signal(SIGINT, on_interrupt);
        signal(SIGTERM, on_interrupt);
        signal(SIGXFSZ, SIG_IGN);
        return run_overview(args);
    }
    return usage_error("", command.empty() ? "no command given: make, check or overview"
                                           : "unknown command '" + command + "': make, check or overview");
}
