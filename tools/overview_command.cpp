// The overview levels of an existing tileset: each row of its tiles is decoded (full size, then
// shrunk by the same 2 x 2 box filter `make` uses, not by the decoder's reduced output, whose
// rounding differs) into one band, which goes down the same chain of levels as in `make`. Levels go to a hidden
// folder inside the tile folder, the new tileset file to a hidden file next to it; then old
// levels move aside, new ones take their names and the file is renamed over the old one.
#include "tools/overview_command.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "app/profile_text.h"
#include "app/tileset_rules.h"
#include "jpeg/jpeg_decoder.h"
#include "tools/overview_maker.h"
#include "tools/test_faults.h"
#include "tools/tile_encoder.h"
#include "tools/tile_plan.h"
#include "tools/tileset_check.h"

namespace fs = std::filesystem;

namespace {

std::string wine_prefix_folder() {
    if (const char* prefix = std::getenv("WINEPREFIX")) return prefix;
    if (const char* home = std::getenv("HOME")) return std::string(home) + "/.wine";
    return "";
}

// Decodes tile (row, column) into its place in `band` (RGB, `stride` bytes a row); the
// reason it cannot, or empty.
std::string decode_tile_into(const std::string& path, int32_t tile_width, int32_t tile_height,
                             uint8_t* band, size_t stride, int32_t column) {
    JpegFileStream stream;
    if (!stream.open(path.c_str())) return "cannot open " + path;
    std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);   // a large object: not on the stack
    decoder->create(stream);
    std::string error;
    if (decoder->status() != 0 || decoder->start_decoding() != 0) {
        error = "cannot decode " + path + " (error " + std::to_string(decoder->status()) + ")";
    } else if (decoder->image_width() != tile_width || decoder->image_height() != tile_height) {
        error = path + " is " + std::to_string(decoder->image_width()) + " x " +
                std::to_string(decoder->image_height()) + ", not the tileset's tile size";
    } else {
        const int32_t bpp = decoder->output_bytes_per_pixel();
        const uint8_t* row = nullptr;
        int32_t length = 0;
        for (int32_t y = 0; error.empty(); ++y) {
            const int32_t result = decoder->read_scanline(row, length);
            if (result == 1) break;
            if (result != 0 || y >= tile_height) {
                error = "cannot decode " + path + " (error " + std::to_string(decoder->status()) + ")";
                break;
            }
            uint8_t* out = band + static_cast<size_t>(y) * stride + size_t{3} * tile_width * column;
            for (int32_t x = 0; x < tile_width; ++x)
                for (int32_t c = 0; c < 3; ++c) out[3 * x + c] = row[x * bpp + (bpp == 1 ? 0 : c)];
        }
    }
    decoder->destroy();
    return error;
}

// Decodes one row of tiles into `band` on `jobs` threads; the first failure, or empty.
std::string decode_tile_row(const CheckedTileset& tileset, int32_t row, int32_t jobs, std::vector<uint8_t>& band) {
    const TileGeometry& g = tileset.geometry;
    const size_t stride = size_t{3} * g.tile_width * g.tile_columns;
    std::atomic<int32_t> next{0};
    std::vector<std::string> errors(static_cast<size_t>(std::max(jobs, 1)));
    auto work = [&](size_t worker) {
        for (int32_t column = next++; column < g.tile_columns && errors[worker].empty(); column = next++)
            errors[worker] = decode_tile_into(tileset.tile_dir + "/" + tile_file_name(row, column), g.tile_width,
                                              g.tile_height, band.data(), stride, column);
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < errors.size(); ++t) threads.emplace_back(work, t);
    work(0);
    for (std::thread& thread : threads) thread.join();
    for (const std::string& error : errors)
        if (!error.empty()) return error;
    return "";
}

std::string flush_folder(const fs::path& folder) {
    const int handle = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0 || syncfs(handle) != 0) {
        const std::string why = std::strerror(errno);
        if (handle >= 0) close(handle);
        return "cannot flush " + folder.string() + " to the disk: " + why;
    }
    close(handle);
    return "";
}

struct Work {
    fs::path tileset_file;
    fs::path tile_dir;
    fs::path partial;    // new levels, inside the tile folder
    fs::path replaced;   // old levels moved aside
    fs::path partial_file;
};

// Puts the new levels and then the new file in place; a failure before the file is renamed
// puts every old level back.
std::string install(const Work& w, int32_t levels) {
    std::error_code error, ignored;
    std::vector<int32_t> moved_aside, moved_in;
    auto undo = [&] {
        for (int32_t k : moved_in) fs::rename(w.tile_dir / overview_folder_name(k), w.partial / overview_folder_name(k), ignored);
        for (int32_t k : moved_aside) fs::rename(w.replaced / overview_folder_name(k), w.tile_dir / overview_folder_name(k), ignored);
    };
    fs::create_directory(w.replaced, error);
    for (int32_t k = 1; k <= levels && !error; ++k) {
        const fs::path target = w.tile_dir / overview_folder_name(k);
        if (fs::exists(fs::symlink_status(target, ignored))) {
            fs::rename(target, w.replaced / overview_folder_name(k), error);
            if (!error) moved_aside.push_back(k);
        }
        if (!error) fs::rename(w.partial / overview_folder_name(k), target, error);
        if (!error) moved_in.push_back(k);
    }
    if (!error) fs::rename(w.partial_file, w.tileset_file, error);
    if (error) {
        undo();
        return "cannot put the overview levels in place: " + error.message();
    }
    return "";
}

}  // namespace

OverviewOutcome remake_overviews(const std::string& tileset_file, int32_t jobs, std::atomic<int64_t>& tiles_done,
                                 std::atomic<int64_t>& tiles_total, const std::atomic<int>& stop) {
    OverviewOutcome outcome{false, "", 0};
    std::ifstream in(tileset_file, std::ios::binary);
    if (!in) {
        outcome.error = "cannot open " + tileset_file + ": " + std::strerror(errno);
        return outcome;
    }
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    const std::string absolute = fs::absolute(tileset_file).lexically_normal().string();
    const TilesetReading reading =
        read_tileset_text(absolute, text, wine_prefix_folder(), ansi_code_page_of_locale(current_ctype_locale()));
    if (!reading.ok) {
        outcome.error = tileset_file + ": " + reading.error;
        return outcome;
    }
    const TileGeometry& g = reading.tileset.geometry;
    if (g.tile_width != g.tile_height || g.tile_width < MIN_TILE_SIZE || g.tile_width > MAX_TILE_SIZE) {
        outcome.error = tileset_file + ": overview levels are made for square tiles of 16 to 4096 pixels";
        return outcome;
    }
    std::error_code error;
    Work w;
    w.tileset_file = tileset_file;
    w.tile_dir = reading.tileset.tile_dir;
    if (!fs::is_directory(w.tile_dir, error)) {
        outcome.error = "the tile folder " + w.tile_dir.string() + " does not exist";
        return outcome;
    }
    const std::string pid = std::to_string(getpid());
    w.partial = w.tile_dir / (".overview.partial-" + pid);
    w.replaced = w.tile_dir / (".overview.replaced-" + pid);
    w.partial_file = fs::path(tileset_file).parent_path() /
                     ("." + fs::path(tileset_file).filename().string() + ".partial-" + pid);
    const TestFaults faults = test_faults();
    const int32_t levels = useful_overview_levels(g);
    if (jobs <= 0) jobs = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));

    if (!fs::create_directory(w.partial, error)) {
        outcome.error = "cannot create " + w.partial.string() + ": " + (error ? error.message() : "it exists");
        return outcome;
    }
    MakeOptions options;
    options.tile_size = g.tile_width;
    {
        const TileGrid grid{g.tile_columns, g.tile_rows};
        // The file does not say where the image ends inside its last tiles: the whole grid is the map.
        OverviewChain chain(options, grid, int64_t{g.tile_columns} * g.tile_width,
                            int64_t{g.tile_rows} * g.tile_height, levels, w.partial, tiles_done);
        tiles_total = chain.tile_count();
        std::vector<uint8_t> band(size_t{3} * g.tile_width * g.tile_columns * g.tile_height);
        for (int32_t row = 0; row < g.tile_rows && outcome.error.empty(); ++row) {
            outcome.error = decode_tile_row(reading.tileset, row, jobs, band);
            if (row == faults.signal_band) raise(SIGINT);
            if (outcome.error.empty() && stop != 0) outcome.error = "interrupted; the tileset is as it was";
            if (outcome.error.empty() &&
                !chain.take_rows(band.data(), size_t{3} * g.tile_width * g.tile_columns, row * g.tile_height, g.tile_height))
                outcome.error = chain.error();
        }
        if (outcome.error.empty() && !chain.finished()) outcome.error = "the overview levels were left unfinished";
    }
    if (outcome.error.empty()) outcome.error = flush_folder(w.partial);
    if (outcome.error.empty()) {
        const std::vector<ProfileLine> lines = split_profile_lines(text);
        const ProfileSection section(lines, "Terrava 1.0");
        const std::string stored_dir(profile_string(section.find("tiledir"), ""));
        std::vector<ProfileEntry> entries{{"OverviewCount", std::to_string(levels)}};
        for (int32_t k = 1; k <= levels; ++k)
            entries.push_back({"Overview" + std::to_string(k) + "Dir", stored_dir + "\\" + overview_folder_name(k)});
        const std::string updated = write_profile_entries(text, "Terrava 1.0", entries);
        const std::string written = write_new_file(faults.full_disk_tileset_file ? fs::path("/dev/full") : w.partial_file,
                                                   updated.data(), updated.size(), true);
        if (!written.empty()) outcome.error = "cannot write " + w.partial_file.string() + ": " + written;
    }
    if (outcome.error.empty() && faults.signal_before_install) raise(SIGINT);
    if (outcome.error.empty() && stop != 0) outcome.error = "interrupted; the tileset is as it was";
    if (outcome.error.empty()) outcome.error = install(w, levels);
    std::error_code ignored;
    fs::remove_all(w.partial, ignored);
    fs::remove(w.partial_file, ignored);
    fs::remove_all(w.replaced, ignored);
    outcome.ok = outcome.error.empty();
    outcome.levels = outcome.ok ? levels : 0;
    return outcome;
}
