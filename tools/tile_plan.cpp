// Command lines, grid arithmetic and names of `terrava-tiles make`. Every number from the
// command line is checked against its range here, before it sizes anything.
#include "tools/tile_plan.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "app/view_math.h"

namespace {

// A whole decimal number within [low, high], or false.
bool parse_bounded(const std::string& text, int32_t low, int32_t high, int32_t& value) {
    if (text.empty() || text.size() > 9) return false;
    int32_t total = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        total = total * 10 + (c - '0');
    }
    if (total < low || total > high) return false;
    value = total;
    return true;
}

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// Splits "--key=value" and "--key value" alike; `index` moves past what was taken.
struct OptionWord {
    std::string key;
    std::string value;
    bool has_value;
};
OptionWord split_option(const std::string& word) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos) return {word, "", false};
    return {word.substr(0, equals), word.substr(equals + 1), true};
}

// Takes the value of a valued option from "--key=value" or the next word.
bool take_value(const std::vector<std::string>& args, size_t& index, OptionWord& option) {
    if (option.has_value) return true;
    if (index + 1 >= args.size()) return false;
    option.value = args[++index];
    option.has_value = true;
    return true;
}

bool is_option(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

// The characters of `text` outside ASCII, each once, quoted: "'ü', 'é'" (UTF-8 sequences as
// they are, stray bytes as \xNN); empty when there are none.
std::string non_ascii_characters(const std::string& text) {
    std::vector<std::string> found;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        for (size_t k = 1; k < length; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) length = 1;
        std::string character = length > 1 ? text.substr(i, length) : printed("\\x%02X", lead);
        character = "'" + character + "'";
        if (std::find(found.begin(), found.end(), character) == found.end()) found.push_back(character);
        i += length;
    }
    std::string list;
    for (const std::string& character : found) list += (list.empty() ? "" : ", ") + character;
    return list;
}

}  // namespace

ParsedMake parse_make_arguments(const std::vector<std::string>& args) {
    ParsedMake parsed{false, MakeOptions{}, ""};
    MakeOptions& o = parsed.options;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (!is_option(args[i])) {
            positional.push_back(args[i]);
            continue;
        }
        OptionWord option = split_option(args[i]);
        const std::string& key = option.key;
        if (key == "--progressive" || key == "--force" || key == "--accept-damaged" ||
            key == "--no-overviews") {
            if (option.has_value) {
                parsed.error = key + " takes no value";
                return parsed;
            }
            if (key == "--no-overviews") o.overviews = false;
            else (key == "--force" ? o.force : key == "--progressive" ? o.progressive : o.accept_damaged) = true;
            continue;
        }
        const bool valued = key == "--tile" || key == "--quality" || key == "--subsample" ||
                            key == "--name";
        if (!valued) {
            parsed.error = "unknown option " + key;
            return parsed;
        }
        if (!take_value(args, i, option)) {
            parsed.error = key + " needs a value";
            return parsed;
        }
        const std::string& value = option.value;
        if (key == "--tile" && !parse_bounded(value, MIN_TILE_SIZE, MAX_TILE_SIZE, o.tile_size)) {
            parsed.error = printed("--tile %s: the tile size must be a whole number from %d to %d",
                                   value.c_str(), MIN_TILE_SIZE, MAX_TILE_SIZE);
            return parsed;
        }
        if (key == "--quality" && !parse_bounded(value, 1, 100, o.quality)) {
            parsed.error = "--quality " + value + ": the JPEG quality must be a whole number from 1 to 100";
            return parsed;
        }
        if (key == "--subsample") {
            if (value == "420") o.subsampling = ChromaSubsampling::HALF_BOTH_WAYS_420;
            else if (value == "444") o.subsampling = ChromaSubsampling::FULL_444;
            else {
                parsed.error = "--subsample " + value + ": must be 420 or 444";
                return parsed;
            }
        }
        if (key == "--name") o.name = value;
    }
    if (positional.size() != 2) {
        parsed.error = positional.size() < 2 ? "make needs an IMAGE and an OUTDIR"
                                             : "make takes one IMAGE and one OUTDIR, not '" +
                                                   positional[2] + "'";
        return parsed;
    }
    o.image = positional[0];
    o.out_dir = positional[1];
    if (o.name.empty()) o.name = default_tileset_name(o.image);
    const std::string problem = tileset_name_problem(o.name);
    if (!problem.empty()) {
        parsed.error = "tileset name '" + o.name + "': " + problem + " (choose one with --name)";
        return parsed;
    }
    parsed.ok = true;
    return parsed;
}

ParsedCheck parse_check_arguments(const std::vector<std::string>& args) {
    ParsedCheck parsed{false, CheckOptions{}, ""};
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (!is_option(args[i])) {
            positional.push_back(args[i]);
            continue;
        }
        OptionWord option = split_option(args[i]);
        if (option.key != "--jobs") {
            parsed.error = "unknown option " + option.key;
            return parsed;
        }
        if (!take_value(args, i, option)) {
            parsed.error = "--jobs needs a value";
            return parsed;
        }
        if (!parse_bounded(option.value, 1, MAX_JOBS, parsed.options.jobs)) {
            parsed.error = printed("--jobs %s: must be a whole number from 1 to %d",
                                   option.value.c_str(), MAX_JOBS);
            return parsed;
        }
    }
    if (positional.size() != 1) {
        parsed.error = positional.empty() ? "check needs a TILESET.tvt"
                                          : "check takes one TILESET.tvt, not '" + positional[1] + "'";
        return parsed;
    }
    parsed.options.tileset = positional[0];
    parsed.ok = true;
    return parsed;
}

std::string tileset_name_problem(const std::string& name) {
    if (name.empty()) return "it is empty";
    if (name.size() > static_cast<size_t>(MAX_NAME_LENGTH))
        return printed("it is longer than %d characters", MAX_NAME_LENGTH);
    if (name == "." || name == "..") return "it names a folder";
    const std::string foreign = non_ascii_characters(name);
    if (!foreign.empty())
        return "the viewer reads the tileset file in the Windows ANSI code page, which gives " +
               foreign + " a different meaning on each system; use ASCII letters, digits and "
               "punctuation";
    for (unsigned char c : name) {
        if (c < ' ' || c == 127) return "it holds a control character";
        for (const char* bad = "/\\:*?\"<>|"; *bad != '\0'; ++bad)
            if (c == static_cast<unsigned char>(*bad))
                return std::string("Windows file names cannot hold '") + static_cast<char>(c) + "'";
    }
    if (name.front() == ' ' || name.back() == ' ' || name.back() == '.')
        return "Windows drops a leading or trailing blank and a trailing dot";
    if (name.size() > 1 && name.front() == '\'' && name.back() == '\'')
        return "a tileset file's value in single quotes loses them";
    return "";
}

std::string default_tileset_name(const std::string& image_path) {
    const size_t slash = image_path.find_last_of('/');
    std::string base = slash == std::string::npos ? image_path : image_path.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    return base;
}

GridPlan plan_tile_grid(int64_t image_width, int64_t image_height, int32_t tile_size) {
    GridPlan plan{false, TileGrid{0, 0}, ""};
    if (image_width <= 0 || image_height <= 0) {
        plan.error = printed("the image is %" PRId64 " x %" PRId64 " pixels: nothing to cut",
                             image_width, image_height);
        return plan;
    }
    if (tile_size < MIN_TILE_SIZE || tile_size > MAX_TILE_SIZE) {
        plan.error = printed("tile size %d is outside %d..%d", tile_size, MIN_TILE_SIZE, MAX_TILE_SIZE);
        return plan;
    }
    const int64_t columns = (image_width + tile_size - 1) / tile_size;
    const int64_t rows = (image_height + tile_size - 1) / tile_size;
    const int64_t limit = std::numeric_limits<int32_t>::max();
    const char* axis = nullptr;
    int64_t extent = 0;
    if (columns * tile_size > limit) axis = "wide", extent = columns * tile_size;
    else if (rows * tile_size > limit) axis = "high", extent = rows * tile_size;
    if (axis == nullptr) {
        const TileGeometry geometry{tile_size, tile_size, static_cast<int32_t>(columns),
                                    static_cast<int32_t>(rows)};
        if (find_geometry_problem(geometry) == GeometryProblem::NONE) {
            plan.grid = TileGrid{geometry.tile_columns, geometry.tile_rows};
            plan.ok = true;
            return plan;
        }
        axis = "large";
    }
    plan.error = printed("the map would be %" PRId64 " pixels %s in tiles of %d; a tileset may be "
                         "at most %" PRId64 " pixels a side",
                         extent, axis, tile_size, limit);
    return plan;
}

std::string row_folder_name(int32_t row) { return printed("%03d", row); }

std::string tile_file_name(int32_t row, int32_t column) {
    return printed("%03d/%03d.jpg", row, column);
}

std::string tileset_file_text(const TileGrid& grid, int32_t tile_size, const std::string& tile_dir,
                              int32_t overview_levels) {
    return printed("[Terrava 1.0]\r\nTileSizeX=%d\r\nTileSizeY=%d\r\nTileCountX=%d\r\n"
                   "TileCountY=%d\r\nTileDir=%s\r\n",
                   tile_size, tile_size, grid.columns, grid.rows, tile_dir.c_str()) +
           overview_key_lines(tile_dir, overview_levels);
}

std::string overview_key_lines(const std::string& tile_dir, int32_t overview_levels) {
    if (overview_levels <= 0) return "";
    std::string lines = printed("OverviewCount=%d\r\n", overview_levels);
    for (int32_t level = 1; level <= overview_levels; ++level)
        lines += printed("Overview%dDir=%s\\overview%d\r\n", level, tile_dir.c_str(), level);
    return lines;
}

std::string format_progress(int64_t done, int64_t total, double elapsed_seconds) {
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    std::string line = printed("%4d%% %" PRId64 "/%" PRId64 " tiles", percent, done, total);
    if (done > 0 && elapsed_seconds > 0) {
        const double rate = done / elapsed_seconds;
        line += printed("  %.0f tiles/s", rate);
        const int64_t left = static_cast<int64_t>((total - done) / rate + 0.5);
        if (left >= 60) line += printed("  %" PRId64 " min %02" PRId64 " s left", left / 60, left % 60);
        else line += printed("  %" PRId64 " s left", left);
    }
    return line;
}
