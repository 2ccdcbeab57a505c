// Why a tileset file is refused, in words the user can act on, and where its tiles are: a
// relative TileDir names a folder next to the tileset file, not one under whatever the
// current directory happens to be. Values in, values out; tileset.cpp does the reading.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/view_math.h"

enum class TilesetLoadOutcome {
    LOADED,
    CANCELLED,          // the open-file dialog was cancelled: nothing to say
    UNREADABLE,         // missing, a folder, locked, no access
    NOT_A_TILESET,      // no "Terrava 1.0" section with keys in it
    KEY_MISSING,        // a geometry key is absent
    KEY_OUT_OF_RANGE,   // a geometry key or TileDir holds a value the viewer cannot use
    OUT_OF_MEMORY,
};

struct TilesetLoadResult {
    TilesetLoadOutcome outcome;
    char reason[300];   // one or two sentences for the user; empty when loaded or cancelled
    char file[1040];    // the file refused, as the viewer named it (UTF-8); may be empty
};

TilesetLoadResult load_succeeded();
TilesetLoadResult load_cancelled();
TilesetLoadResult load_refused_unreadable(const char* system_reason);
TilesetLoadResult load_refused_not_a_tileset();
TilesetLoadResult load_refused_out_of_memory();
// A geometry key that reads as -1: missing when the file has no text for it, else out of range.
TilesetLoadResult load_refused_geometry_key(const char* key, bool key_present);
// LOADED when the geometry is usable, else which key (or product of keys) is out of range.
TilesetLoadResult check_geometry(const TileGeometry& geometry);
// The same, told with the values as the file spells them (TileSizeX, TileSizeY, TileCountX,
// TileCountY): a value that is no number is quoted as such rather than as the 0 it reads as.
TilesetLoadResult check_geometry(const TileGeometry& geometry, const char* const texts[4]);
// The file is larger than any tileset file (`limit_mb` megabytes).
TilesetLoadResult load_refused_too_large(unsigned limit_mb);
// The file is UTF-16 text, which the viewer does not read.
TilesetLoadResult load_refused_utf16();
// A path of `length` characters, longer than the `limit` the viewer can open.
TilesetLoadResult load_refused_path_too_long(size_t length, size_t limit);
// A path in which the system put "?" for characters its code page lacks.
TilesetLoadResult load_refused_unusable_name();

// True when `path` holds a "?", which no file name has: the system's stand-in for characters
// that the program's code page cannot show. A leading "\\?\" is no such character.
bool path_has_unusable_characters(const char* path);
// TileDir, joined to the tileset's folder, is longer than `limit` characters.
TilesetLoadResult load_refused_tile_dir_too_long(size_t limit);

// The whole text of the message box for a refused file.
void format_load_failure(const TilesetLoadResult& result, char* text, size_t capacity);

// TileDir as the viewer uses it. An absolute one (a drive and root, a root, a UNC name, or a
// drive-relative "C:dir") and an empty one (tiles at the root of the current drive) are
// taken as they are; a relative one is joined to the folder of `tileset_file`. False when
// the result does not fit `capacity` characters with its NUL.
bool resolve_tile_dir(const char* tileset_file, const char* tile_dir, char* resolved,
                      size_t capacity);

// Overview levels: smaller copies of the map a tileset may carry. Level k is the map shrunk
// by 2^k, cut into tiles of the same size and named the same way (RRR\CCC.jpg) under the
// folder of the key Overview<k>Dir; OverviewCount=N says levels 1..N exist. Both keys are
// optional: a file without them has no overviews, and readers that do not know them ignore
// them as unknown keys.
constexpr int32_t MAX_OVERVIEW_LEVELS = 30;   // a map of 2^31 pixels needs at most 27

// Level k's tile grid: ceil(columns / 2^k) x ceil(rows / 2^k) tiles of the same size (the
// same as ceil(map width / 2^k / tile width), as the map fills its last tile partly).
TileGeometry overview_geometry(const TileGeometry& geometry, int32_t level);
// The levels a map needs: down to the first whose grid is a single tile (0 for a map of one
// tile). More levels would only be that tile shrunk further.
int32_t useful_overview_levels(const TileGeometry& geometry);

// The overview keys of one tileset file, as the viewer uses them.
struct OverviewLevels {
    int32_t count = 0;               // usable levels 1..count; 0 when absent or ignored
    std::vector<std::string> dirs;   // dirs[k - 1]: level k's folder as `locate` resolved it
    std::string problem;             // why keys that are present were ignored; empty otherwise
};
// The value of a key of the tileset section (false when the file has no such key).
using OverviewKeyLookup = std::function<bool(const char* key, std::string& value)>;
// A stored level folder resolved as TileDir is; empty, with `why` set, when it cannot be used
// (missing, too long, ...).
using OverviewFolderLocator = std::function<std::string(const std::string& stored, std::string& why)>;
// Reads OverviewCount and Overview1Dir..Overview<N>Dir. Any problem (a count that is not a
// whole number from 0 to what the map needs, a missing or empty folder key, a folder that
// cannot be used) ignores every level: the map still opens at 1:1.
OverviewLevels read_overview_levels(const TileGeometry& geometry, const OverviewKeyLookup& lookup,
                                    const OverviewFolderLocator& locate);
