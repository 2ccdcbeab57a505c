// The work of `terrava-tiles make`: libvips opens and checks the image, turns it into 8-bit
// sRGB padded to whole tiles, and delivers it in bands of full-width rows, in order (one
// pipeline evaluation, so no format is decoded more than once or held whole unless its
// storage needs it); tile_encoder feeds the rows to one libjpeg encoder per tile column. The
// tiles and then the tileset file are written under hidden names and put in place by renaming
// only when all of them are written and flushed; every failure removes what the run wrote.
#include "tools/tile_maker.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <vips/vips8>

#include "app/tileset_rules.h"
#include "tools/overview_maker.h"
#include "tools/test_faults.h"
#include "tools/tile_encoder.h"
#include "tools/tileset_check.h"

namespace fs = std::filesystem;
using vips::VError;
using vips::VImage;

namespace {

struct Paths {
    fs::path out_dir;
    fs::path tileset_file;
    fs::path tiles;
    fs::path partial_tiles;   // tiles are written here, renamed to `tiles` at the end
    fs::path partial_file;
    fs::path replaced_tiles;  // with --force: the old tiles, removed once the new ones are in
};

Paths paths_for(const MakeOptions& options) {
    Paths p;
    p.out_dir = fs::path(options.out_dir);
    const std::string pid = std::to_string(getpid());
    p.tileset_file = p.out_dir / (options.name + ".tvt");
    p.tiles = p.out_dir / options.name;
    p.partial_tiles = p.out_dir / ("." + options.name + ".partial-" + pid);
    p.partial_file = p.out_dir / ("." + options.name + ".tvt.partial-" + pid);
    p.replaced_tiles = p.out_dir / ("." + options.name + ".replaced-" + pid);
    return p;
}

// The first line of a libvips message, without its line break.
std::string first_line(const char* message) {
    std::string text(message);
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.erase(end);
    return text;
}

std::vector<double> padding_colour() {
    return {double{PADDING_RED}, double{PADDING_GREEN}, double{PADDING_BLUE}};
}

// Why the image file cannot be read at all, or empty.
std::string image_file_problem(const std::string& image) {
    struct stat info;
    if (stat(image.c_str(), &info) != 0)
        return errno == ENOENT ? image + ": no such file" : "cannot open " + image + ": " + std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return image + " is a folder, not an image";
    if (info.st_size == 0) return image + " is empty (0 bytes)";
    if (access(image.c_str(), R_OK) != 0) return "cannot open " + image + ": " + std::strerror(errno);
    return "";
}

void remove_dead_runs(const fs::path& out_dir);

// Why the outputs cannot be written, or empty. What dead runs left there goes first.
std::string output_problem(const MakeOptions& options, const Paths& paths) {
    std::error_code error;
    if (fs::exists(paths.out_dir, error) && !fs::is_directory(paths.out_dir, error))
        return options.out_dir + " exists and is not a folder";
    remove_dead_runs(paths.out_dir);
    if (options.force) return "";
    for (const fs::path& existing : {paths.tileset_file, paths.tiles})
        if (fs::exists(fs::symlink_status(existing, error)))
            return existing.string() + " already exists (--force replaces the tileset)";
    return "";
}

// Three bands of 8-bit sRGB: grey, 16-bit and CMYK images converted (an alpha band is
// scaled with them), then transparency laid on the padding colour, extra bands dropped.
VImage as_rgb(VImage image) {
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.has_alpha())
        image = image.flatten(VImage::option()->set("background", padding_colour()))
                    .cast(VIPS_FORMAT_UCHAR);
    if (image.bands() == 1) image = image.bandjoin({image, image});
    if (image.bands() > 3) image = image.extract_band(0, VImage::option()->set("n", 3));
    return image;
}

void remove_quietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

// "interrupted by SIGINT", or empty while no signal came.
std::string interruption(const std::atomic<int>& stop) {
    const int number = stop;
    if (number == 0) return "";
    const char* name = number == SIGINT ? "SIGINT (Ctrl+C)" : number == SIGTERM ? "SIGTERM" : "a signal";
    return std::string("interrupted by ") + name + "; nothing was kept";
}

// "VipsJpeg: " and the like in front of a libvips message say which part spoke, not why.
std::string without_speaker(std::string text) {
    const size_t colon = text.find(": ");
    if (colon != std::string::npos && text.rfind("Vips", 0) == 0 && text.find(' ') > colon) text.erase(0, colon + 2);
    return text;
}

// libvips reports damage it reads past (a truncated file, extraneous bytes, a short scan), and
// some reasons for refusing a file, as GLib warnings of its own domain. While one of these
// lives they are collected instead of printed: the tool's one line gives the first.
class VipsWarnings {
public:
    VipsWarnings()
        : handler_(g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING |
                                                                          G_LOG_LEVEL_MESSAGE),
                                     on_warning, this)) {}
    ~VipsWarnings() { g_log_remove_handler("VIPS", handler_); }
    VipsWarnings(const VipsWarnings&) = delete;
    VipsWarnings& operator=(const VipsWarnings&) = delete;

    // The first warning about the image (not the notes of the pipeline that passed it on).
    std::string first() {
        std::lock_guard<std::mutex> hold(lock_);
        return first_;
    }

private:
    static void on_warning(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
        VipsWarnings& warnings = *static_cast<VipsWarnings*>(self);
        const char* start = message != nullptr ? message : "";
        while (*start == '\n' || *start == ' ') ++start;
        std::string text = first_line(start);
        // Notes of the pipeline that passed a warning on, not the warning itself.
        if (text.empty() || text.rfind("error in tile", 0) == 0 || text.rfind("read gave ", 0) == 0) return;
        text = without_speaker(text);
        std::lock_guard<std::mutex> hold(warnings.lock_);
        if (warnings.first_.empty()) warnings.first_ = text;
    }

    std::mutex lock_;   // guards first_: libvips warns from its worker threads
    std::string first_;
    const guint handler_;
};

// libvips' reason for its last failure (its error buffer, which is then cleared), else the
// first warning, else a plain statement.
std::string vips_reason(const std::string& error_text, VipsWarnings& warnings) {
    std::string reason = without_speaker(first_line(error_text.c_str()));
    vips_error_clear();
    if (reason.empty()) reason = warnings.first();
    return reason.empty() ? "libvips gives no reason" : reason;
}

// The pid of a hidden name a run of this tool leaves behind while it works (".NAME.partial-PID",
// ".NAME.tvt.partial-PID", ".NAME.replaced-PID"), with NAME; 0 for other names.
pid_t litter_pid(const std::string& file_name, std::string& name, bool& replaced) {
    if (file_name.size() < 4 || file_name[0] != '.') return 0;
    const size_t dash = file_name.rfind('-');
    if (dash == std::string::npos || dash + 1 == file_name.size() || dash + 10 < file_name.size()) return 0;
    pid_t pid = 0;
    for (size_t i = dash + 1; i < file_name.size(); ++i) {
        if (file_name[i] < '0' || file_name[i] > '9') return 0;
        pid = pid * 10 + (file_name[i] - '0');
    }
    for (const char* kind : {".partial", ".replaced"}) {
        const size_t length = std::strlen(kind);
        if (dash > length && file_name.compare(dash - length, length, kind) == 0) {
            name = file_name.substr(1, dash - length - 1);
            replaced = kind[1] == 'r';
            return name.empty() ? 0 : pid;
        }
    }
    return 0;
}

// Removes what runs whose process is gone left in `out_dir`; the old tiles a dead --force run
// had moved aside go back to their name when nothing took it.
void remove_dead_runs(const fs::path& out_dir) {
    std::error_code error;
    std::vector<fs::path> litter;
    for (fs::directory_iterator it(out_dir, error), end; !error && it != end; it.increment(error))
        litter.push_back(it->path());
    for (const fs::path& path : litter) {
        std::string name;
        bool replaced = false;
        const pid_t pid = litter_pid(path.filename().string(), name, replaced);
        if (pid <= 0 || pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        const fs::path old_tiles = out_dir / name;
        if (replaced && !fs::exists(fs::symlink_status(old_tiles, ignored)))
            fs::rename(path, old_tiles, ignored);
        else
            remove_quietly(path);
    }
}

// What the band callback of the read needs.
struct Cutting {
    BandEncoders& encoders;
    OverviewChain* overviews;   // null without overview levels
    const fs::path& folder;
    int32_t tile_size;
    const std::atomic<int>& stop;
    int64_t signal_band;
    int64_t bands = 0;
    std::string error;   // a failure of ours (the encoders' is theirs)
};

// Called by libvips with the padded image's next band of full-width rows, in order, while
// its workers compute the band after it. Returns when the band is encoded; -1 stops the read.
int encode_next_band(VipsRegion* region, VipsRect* area, void* context) {
    Cutting& cut = *static_cast<Cutting*>(context);
    if (cut.bands++ == cut.signal_band) raise(SIGINT);
    if (cut.stop != 0) return -1;
    const int32_t size = cut.tile_size;
    for (int32_t row = (area->top + size - 1) / size; row * size < area->top + area->height; ++row) {
        const fs::path folder = cut.folder / row_folder_name(row);
        std::error_code error;
        if (!fs::create_directory(folder, error)) {
            cut.error = "cannot create " + folder.string() + ": " + (error ? error.message() : "it exists");
            return -1;
        }
    }
    const uint8_t* pixels = reinterpret_cast<const uint8_t*>(VIPS_REGION_ADDR(region, 0, area->top));
    const size_t stride = VIPS_REGION_LSKIP(region);
    if (!cut.encoders.encode_band(pixels, stride, area->top, area->height)) return -1;
    if (cut.overviews != nullptr && !cut.overviews->take_rows(pixels, stride, area->top, area->height)) {
        cut.error = cut.overviews->error();
        return -1;
    }
    return 0;
}

// Reads `padded` into tiles under `paths.partial_tiles`; the first failure, or empty.
std::string cut_tiles(const VImage& padded, const MakeOptions& options, const TileGrid& grid,
                      const MakeOutcome& outcome, const Paths& paths, std::atomic<int64_t>& tiles_done,
                      std::atomic<int64_t>& tiles_total, const std::atomic<int>& stop,
                      const TestFaults& faults, VipsWarnings& warnings) {
    const int32_t workers = static_cast<int32_t>(
        std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()),
                           static_cast<unsigned>(grid.columns)));
    BandEncoders encoders(options, grid, paths.partial_tiles, workers, tiles_done, faults.full_disk_tile);
    std::unique_ptr<OverviewChain> overviews;
    if (outcome.overview_levels > 0) {
        overviews = std::make_unique<OverviewChain>(options, grid, outcome.image_width, outcome.image_height,
                                                    outcome.overview_levels, paths.partial_tiles, tiles_done);
        tiles_total += overviews->tile_count();
    }
    Cutting cut{encoders, overviews.get(), paths.partial_tiles, options.tile_size, stop, faults.signal_band, 0, ""};
    // (libvips keeps the warnings of a read in its error buffer and prints them as the reader
    // closes: the buffer stays as it is.)
    if (vips_sink_disc(padded.get_image(), encode_next_band, &cut) == 0) {
        if (overviews != nullptr && !overviews->finished() && interruption(stop).empty())
            return "the overview levels were left unfinished";
        return interruption(stop);
    }
    if (!interruption(stop).empty()) return interruption(stop);
    if (!cut.error.empty()) return cut.error;
    const std::string encoder_error = encoders.error();
    if (!encoder_error.empty()) return encoder_error;
    return "cannot read " + options.image + ": " + vips_reason(vips_error_buffer(), warnings);
}

// Flushes the tiles' file system to the disk, so that the tileset file never names tiles a
// crash could lose.
std::string flush_tiles(const fs::path& folder) {
    const int handle = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0 || syncfs(handle) != 0) {
        const std::string why = std::strerror(errno);
        if (handle >= 0) close(handle);
        return "cannot flush " + folder.string() + " to the disk: " + why;
    }
    close(handle);
    return "";
}

// Puts the partial tiles and tileset file in place of any old ones. Until the tileset file is
// renamed, a failure puts the old tiles back; nothing here can be interrupted, since a signal
// only sets a flag.
std::string install(const Paths& paths) {
    std::error_code error;
    const bool replacing = fs::exists(fs::symlink_status(paths.tiles, error));
    if (replacing) {
        fs::rename(paths.tiles, paths.replaced_tiles, error);
        if (error) return "cannot move the old " + paths.tiles.string() + " aside: " + error.message();
    }
    std::error_code ignored;
    fs::rename(paths.partial_tiles, paths.tiles, error);
    if (error) {
        if (replacing) fs::rename(paths.replaced_tiles, paths.tiles, ignored);
        return "cannot rename the tiles to " + paths.tiles.string() + ": " + error.message();
    }
    fs::rename(paths.partial_file, paths.tileset_file, error);
    if (error) {
        fs::rename(paths.tiles, paths.partial_tiles, ignored);
        if (replacing) fs::rename(paths.replaced_tiles, paths.tiles, ignored);
        return "cannot rename to " + paths.tileset_file.string() + ": " + error.message();
    }
    remove_quietly(paths.replaced_tiles);
    return "";
}

// Writes the tileset file under its hidden name, flushed to the disk, after the tiles.
// TileDir is relative to the tileset file: the viewer finds the tiles next to it from any
// working directory, and the pair can be moved together.
std::string write_tileset_file(const MakeOptions& options, const MakeOutcome& outcome, const Paths& paths,
                               const TestFaults& faults) {
    std::string error = flush_tiles(paths.partial_tiles);
    if (!error.empty()) return error;
    const std::string text =
        tileset_file_text(outcome.grid, options.tile_size, options.name, outcome.overview_levels);
    error = write_new_file(faults.full_disk_tileset_file ? fs::path("/dev/full") : paths.partial_file,
                           text.data(), text.size(), true);
    return error.empty() ? "" : "cannot write " + paths.tileset_file.string() + ": " + error;
}

// Why the viewer could not open the tileset file about to be written, or empty: its limits on
// the length of the tile folder and of the tile paths depend on where the tileset lies. (The
// name is ASCII, which reads the same in every ANSI code page.)
constexpr int32_t WINDOWS_LATIN_CODE_PAGE = 1252;
std::string viewer_refusal(const MakeOptions& options, const Paths& paths, const TileGrid& grid) {
    const std::string absolute_file = fs::absolute(paths.tileset_file).lexically_normal().string();
    const TilesetReading reading = read_tileset_text(
        absolute_file, tileset_file_text(grid, options.tile_size, options.name), "", WINDOWS_LATIN_CODE_PAGE);
    if (reading.ok) return "";
    return "the viewer could not open " + paths.tileset_file.string() + ": " + reading.error;
}

// The image as tiles take it: 8-bit sRGB, padded with the padding colour to whole tiles.
VImage padded_to_grid(const VImage& image, const TileGrid& grid, int32_t tile_size) {
    return as_rgb(image).embed(0, 0, grid.columns * tile_size, grid.rows * tile_size,
                               VImage::option()
                                   ->set("extend", VIPS_EXTEND_BACKGROUND)
                                   ->set("background", padding_colour()));
}

// Opens the image, plans its grid and cuts it into tiles under `paths.partial_tiles`; the
// first failure, or empty. libvips' reader of the image is closed when this returns.
std::string cut_image(const MakeOptions& options, const Paths& paths, const TestFaults& faults,
                      VipsWarnings& warnings, MakeOutcome& outcome, std::atomic<int64_t>& tiles_done,
                      std::atomic<int64_t>& tiles_total, const std::atomic<int>& stop) {
    VImage image;
    try {
        image = VImage::new_from_file(
            options.image.c_str(),
            VImage::option()
                ->set("access", VIPS_ACCESS_SEQUENTIAL)
                ->set("fail_on", options.accept_damaged ? VIPS_FAIL_ON_NONE : VIPS_FAIL_ON_WARNING));
    } catch (const VError& e) {
        return "cannot read " + options.image + " as an image: " + vips_reason(e.what(), warnings);
    }
    outcome.image_width = image.width();
    outcome.image_height = image.height();
    const GridPlan plan = plan_tile_grid(image.width(), image.height(), options.tile_size);
    outcome.grid = plan.grid;
    if (!plan.ok) return options.image + ": " + plan.error;
    outcome.overview_levels =
        options.overviews ? useful_overview_levels(TileGeometry{options.tile_size, options.tile_size,
                                                                plan.grid.columns, plan.grid.rows})
                          : 0;
    const std::string refusal = viewer_refusal(options, paths, plan.grid);
    if (!refusal.empty()) return refusal;

    VImage padded;
    try {
        padded = padded_to_grid(image, plan.grid, options.tile_size);
    } catch (const VError& e) {
        return "cannot convert " + options.image + " to RGB: " + vips_reason(e.what(), warnings);
    }
    std::error_code error;
    fs::create_directories(paths.out_dir, error);
    if (error || !fs::create_directory(paths.partial_tiles, error))
        return "cannot create " + paths.partial_tiles.string() + ": " +
               (error ? error.message() : std::string("it exists"));
    tiles_total = int64_t{plan.grid.columns} * plan.grid.rows;
    return cut_tiles(padded, options, plan.grid, outcome, paths, tiles_done, tiles_total, stop, faults, warnings);
}

}  // namespace

MakeOutcome make_tileset(const MakeOptions& options, std::atomic<int64_t>& tiles_done,
                         std::atomic<int64_t>& tiles_total, const std::atomic<int>& stop) {
    MakeOutcome outcome{false, "", "", TileGrid{0, 0}, 0, 0, 0, ""};
    const Paths paths = paths_for(options);
    const TestFaults faults = test_faults();
    outcome.error = image_file_problem(options.image);
    if (outcome.error.empty()) outcome.error = output_problem(options, paths);
    if (!outcome.error.empty()) return outcome;

    VipsWarnings warnings;
    outcome.error = cut_image(options, paths, faults, warnings, outcome, tiles_done, tiles_total, stop);
    // libvips tells of some damage only as the reader closes, which it has now.
    const std::string damage = warnings.first();
    if (outcome.error.empty() && !damage.empty() && !options.accept_damaged)
        outcome.error = options.image + " is damaged: " + damage + " (--accept-damaged makes the tileset anyway)";
    if (outcome.error.empty()) outcome.error = write_tileset_file(options, outcome, paths, faults);
    if (outcome.error.empty() && faults.signal_before_install) raise(SIGINT);
    if (outcome.error.empty()) outcome.error = interruption(stop);
    if (outcome.error.empty()) outcome.error = install(paths);
    if (!outcome.error.empty()) {
        remove_quietly(paths.partial_tiles);
        remove_quietly(paths.partial_file);
        return outcome;
    }
    if (!damage.empty()) outcome.warning = options.image + " is damaged: " + damage + " (kept with --accept-damaged)";
    outcome.tileset_file = paths.tileset_file.string();
    outcome.ok = true;
    return outcome;
}
