// Reasons for refusing a tileset file and the resolution of its TileDir. Plain string work,
// built natively too so the tests can run it under the sanitizers.
#include "app/tileset_rules.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>

namespace {

TilesetLoadResult make_result(TilesetLoadOutcome outcome, const char* format, ...) {
    TilesetLoadResult result;
    result.outcome = outcome;
    result.file[0] = '\0';
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(result.reason, sizeof result.reason, format, arguments);
    va_end(arguments);
    return result;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_absolute_or_empty(const char* path) {
    if (path[0] == '\0' || is_separator(path[0])) return true;
    return is_drive_letter(path[0]) && path[1] == ':';
}

// Length of `file`'s folder part with its trailing separator ("C:\maps\" of "C:\maps\a.tvt").
size_t folder_length(const char* file) {
    size_t length = 0;
    for (size_t i = 0; file[i] != '\0'; ++i)
        if (is_separator(file[i]) || (i == 1 && file[i] == ':')) length = i + 1;
    return length;
}

}  // namespace

TilesetLoadResult load_succeeded() { return make_result(TilesetLoadOutcome::LOADED, "%s", ""); }

TilesetLoadResult load_cancelled() {
    return make_result(TilesetLoadOutcome::CANCELLED, "%s", "");
}

TilesetLoadResult load_refused_unreadable(const char* system_reason) {
    return make_result(TilesetLoadOutcome::UNREADABLE, "The file cannot be read: %s",
                       system_reason);
}

TilesetLoadResult load_refused_not_a_tileset() {
    return make_result(TilesetLoadOutcome::NOT_A_TILESET,
                       "This is not a Terrava tileset: it has no [Terrava 1.0] section.");
}

TilesetLoadResult load_refused_out_of_memory() {
    return make_result(TilesetLoadOutcome::OUT_OF_MEMORY, "There is not enough memory.");
}

TilesetLoadResult load_refused_geometry_key(const char* key, bool key_present) {
    if (!key_present)
        return make_result(TilesetLoadOutcome::KEY_MISSING, "The key %s is missing.", key);
    return make_result(TilesetLoadOutcome::KEY_OUT_OF_RANGE,
                       "%s is -1; it must be 1 or more.", key);
}

TilesetLoadResult check_geometry(const TileGeometry& g) {
    const TilesetLoadOutcome out = TilesetLoadOutcome::KEY_OUT_OF_RANGE;
    switch (find_geometry_problem(g)) {
    case GeometryProblem::NONE: return load_succeeded();
    case GeometryProblem::WIDTH_NOT_POSITIVE:
        return make_result(out, "TileSizeX is %d; it must be 1 or more.", g.tile_width);
    case GeometryProblem::HEIGHT_NOT_POSITIVE:
        return make_result(out, "TileSizeY is %d; it must be 1 or more.", g.tile_height);
    case GeometryProblem::COLUMNS_NOT_POSITIVE:
        return make_result(out, "TileCountX is %d; it must be 1 or more.", g.tile_columns);
    case GeometryProblem::ROWS_NOT_POSITIVE:
        return make_result(out, "TileCountY is %d; it must be 1 or more.", g.tile_rows);
    case GeometryProblem::WORLD_TOO_WIDE:
        return make_result(out, "TileCountX x TileSizeX is too large: the map may be at most "
                                "2147483647 pixels wide.");
    case GeometryProblem::WORLD_TOO_HIGH:
        return make_result(out, "TileCountY x TileSizeY is too large: the map may be at most "
                                "2147483647 pixels high.");
    case GeometryProblem::TILE_TOO_BIG:
        return make_result(out, "TileSizeX x TileSizeY is too large: one tile may hold at most "
                                "536870911 pixels.");
    }
    return load_succeeded();
}

namespace {

// Optionally signed decimal digits, as a person writes a whole number.
bool is_whole_number(const char* text) {
    if (*text == '+' || *text == '-') ++text;
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

}  // namespace

TilesetLoadResult check_geometry(const TileGeometry& g, const char* const texts[4]) {
    static const char* const KEYS[4] = {"TileSizeX", "TileSizeY", "TileCountX", "TileCountY"};
    int key = -1;
    switch (find_geometry_problem(g)) {
    case GeometryProblem::WIDTH_NOT_POSITIVE: key = 0; break;
    case GeometryProblem::HEIGHT_NOT_POSITIVE: key = 1; break;
    case GeometryProblem::COLUMNS_NOT_POSITIVE: key = 2; break;
    case GeometryProblem::ROWS_NOT_POSITIVE: key = 3; break;
    default: break;
    }
    if (key < 0 || is_whole_number(texts[key])) return check_geometry(g);
    return make_result(TilesetLoadOutcome::KEY_OUT_OF_RANGE,
                       "%s is \"%.40s\", which is not a number; it must be a whole number, 1 or more.",
                       KEYS[key], texts[key]);
}

TilesetLoadResult load_refused_too_large(unsigned limit_mb) {
    return make_result(TilesetLoadOutcome::UNREADABLE,
                       "The file is too large to be a tileset file: a tileset file is at most "
                       "%u MB.",
                       limit_mb);
}

TilesetLoadResult load_refused_utf16() {
    return make_result(TilesetLoadOutcome::NOT_A_TILESET,
                       "The file is saved as UTF-16 (Unicode) text, which Terrava does not read. "
                       "Save it as ANSI or UTF-8 text and open it again.");
}

TilesetLoadResult load_refused_path_too_long(size_t length, size_t limit) {
    return make_result(TilesetLoadOutcome::UNREADABLE,
                       "The path is %u characters long; Terrava opens paths of at most %u "
                       "characters.",
                       static_cast<unsigned>(length), static_cast<unsigned>(limit));
}

TilesetLoadResult load_refused_unusable_name() {
    return make_result(TilesetLoadOutcome::UNREADABLE,
                       "The path holds characters that Terrava cannot use (shown as ?). Rename "
                       "the file or its folders with letters of the system's language, or move "
                       "the file.");
}

bool path_has_unusable_characters(const char* path) {
    if (std::strncmp(path, "\\\\?\\", 4) == 0) path += 4;
    return std::strchr(path, '?') != nullptr;
}

TilesetLoadResult load_refused_tile_dir_too_long(size_t limit) {
    return make_result(TilesetLoadOutcome::KEY_OUT_OF_RANGE,
                       "TileDir is too long: with the tileset's folder it makes a path of more "
                       "than %u characters.",
                       static_cast<unsigned>(limit));
}

void format_load_failure(const TilesetLoadResult& result, char* text, size_t capacity) {
    std::snprintf(text, capacity, "Cannot open the tileset\n%s\n\n%s", result.file,
                  result.reason);
}

bool resolve_tile_dir(const char* tileset_file, const char* tile_dir, char* resolved,
                      size_t capacity) {
    const size_t dir_length = std::strlen(tile_dir);
    const size_t prefix = is_absolute_or_empty(tile_dir) ? 0 : folder_length(tileset_file);
    if (capacity == 0 || prefix + dir_length >= capacity) return false;
    std::memcpy(resolved, tileset_file, prefix);
    std::memcpy(resolved + prefix, tile_dir, dir_length + 1);
    return true;
}

TileGeometry overview_geometry(const TileGeometry& geometry, int32_t level) {
    TileGeometry shrunk = geometry;
    if (level <= 0) return shrunk;
    const int64_t scale = int64_t{1} << std::min(level, 31);
    shrunk.tile_columns = static_cast<int32_t>((geometry.tile_columns + scale - 1) / scale);
    shrunk.tile_rows = static_cast<int32_t>((geometry.tile_rows + scale - 1) / scale);
    return shrunk;
}

int32_t useful_overview_levels(const TileGeometry& geometry) {
    int32_t levels = 0;
    for (TileGeometry g = geometry; g.tile_columns > 1 || g.tile_rows > 1;)
        g = overview_geometry(geometry, ++levels);
    return levels;
}

namespace {

// A whole decimal number from 0 to `high`, blanks around it allowed; false otherwise.
bool parse_level_count(const std::string& text, int32_t high, int32_t& value) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos || end - begin > 8) return false;
    int32_t total = 0;
    for (size_t i = begin; i <= end; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        total = total * 10 + (text[i] - '0');
    }
    if (total > high) return false;
    value = total;
    return true;
}

OverviewLevels ignored_levels(std::string problem) {
    OverviewLevels levels;
    levels.problem = std::move(problem) + " The overview levels are ignored.";
    return levels;
}

}  // namespace

OverviewLevels read_overview_levels(const TileGeometry& geometry, const OverviewKeyLookup& lookup,
                                    const OverviewFolderLocator& locate) {
    std::string text;
    if (!lookup("OverviewCount", text)) return OverviewLevels();
    const int32_t useful = useful_overview_levels(geometry);
    int32_t count = 0;
    if (!parse_level_count(text, MAX_OVERVIEW_LEVELS, count))
        return ignored_levels("OverviewCount is '" + text + "'; it must be a whole number from 0 to " +
                              std::to_string(useful) + ".");
    if (count > useful)
        return ignored_levels("OverviewCount is " + std::to_string(count) + ", but this map needs at most " +
                              std::to_string(useful) + (useful == 1 ? " level" : " levels") +
                              " (level " + std::to_string(useful) + " is a single tile).");
    OverviewLevels levels;
    for (int32_t level = 1; level <= count; ++level) {
        const std::string key = "Overview" + std::to_string(level) + "Dir";
        std::string stored;
        if (!lookup(key.c_str(), stored) || stored.empty())
            return ignored_levels("The key " + key + " is missing or empty.");
        std::string why;
        std::string folder = locate(stored, why);
        if (folder.empty()) return ignored_levels(key + " " + stored + ": " + why + ".");
        levels.dirs.push_back(std::move(folder));
    }
    levels.count = count;
    return levels;
}
