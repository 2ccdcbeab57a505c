// `terrava-tiles check`: reads a tileset file as the viewer reads it (the same INI parsing, the
// same refusals, a relative TileDir taken from the file's folder, Wine's Z: as the Linux root)
// and judges every tile with the viewer's own decoder. No libvips: tested natively.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/tileset_rules.h"
#include "app/view_math.h"

struct CheckedTileset {
    TileGeometry geometry;
    std::string tile_dir_as_stored;   // TileDir as the file has it
    std::string tile_dir;             // the Linux folder that holds the row folders
    OverviewLevels overviews;         // dirs are Linux folders; problem says why they were ignored
    std::vector<std::string> overview_keys;   // "OverviewCount=3", "Overview1Dir=...", as found
};

struct TilesetReading {
    bool ok;
    CheckedTileset tileset;
    std::string error;   // why the viewer would refuse the file, or where its tiles cannot be
};

// `tvt_path` is the tileset file's absolute Linux path, `text` its content. The viewer takes
// the file's bytes, and the path it opened it by, in the Windows ANSI code page
// `ansi_code_page` (1252, 932, ...; 65001 for UTF-8), and Wine turns the tile paths made of
// them into UTF-8 Linux names; so does this. Drive letters other than Z: are looked up in
// `wine_prefix`/dosdevices.
TilesetReading read_tileset_text(const std::string& tvt_path, std::string_view text,
                                 const std::string& wine_prefix, int32_t ansi_code_page);

// The ANSI code page Wine gives a Windows program run in the Linux locale `locale_name` (as
// setlocale names it: "de_DE.UTF-8", "C"): Windows' default for the locale's language, 1252
// for C and POSIX, 65001 (UTF-8) for the languages Windows writes in Unicode only.
int32_t ansi_code_page_of_locale(const std::string& locale_name);
// The locale a program started now would run in (LC_ALL, LC_CTYPE, LANG, as setlocale finds
// them; "C" when that locale is not installed).
std::string current_ctype_locale();

// `text` turned from code page `code_page` into UTF-8 (`to_utf8`) or back; false when a byte
// or character has no counterpart there.
bool convert_code_page(std::string_view text, int32_t code_page, bool to_utf8, std::string& out);

// The Linux path of a Windows path as Wine maps it: Z: (and a path from the root of the
// current drive) is the Linux root; another drive is `wine_prefix`/dosdevices/X:. Empty, with
// `why` set, when there is no such mapping (UNC names, drive-relative paths, unknown drives).
std::string linux_path_of(const std::string& windows_path, const std::string& wine_prefix,
                          std::string& why);

enum class TileVerdict { GOOD, MISSING, UNREADABLE, UNDECODABLE, TRUNCATED, WRONG_SIZE, DAMAGED };

struct TileJudgement {
    TileVerdict verdict;
    int32_t error_code;   // the decoder's code (UNDECODABLE; TRUNCATED when decoding failed)
    int32_t width;        // the image's size when its header could be read
    int32_t height;
    std::string system_error;   // UNREADABLE
    std::string peer_complaint; // DAMAGED: what libjpeg-turbo says of the data
};

// libjpeg-turbo's first warning or error on a whole decode of `data`, or empty: a strict
// peer that notices damage our decoder reads past (extraneous bytes, corrupt entropy data).
std::string peer_complaint(const uint8_t* data, size_t size);

// A tile's bytes through the decoder: every row decoded, the size compared with the tileset's,
// and the stream looked at for its end-of-image marker after the last scan (the decoder
// itself pads a truncated file out to a picture, as the viewer shows it); a tile that passes
// all that is DAMAGED when the strict peer complains of it.
TileJudgement judge_tile_bytes(const uint8_t* data, size_t size, int32_t tile_width,
                               int32_t tile_height);
TileJudgement judge_tile_file(const std::string& path, int32_t tile_width, int32_t tile_height,
                              std::vector<uint8_t>& buffer);

struct TileProblem {
    int32_t row;
    int32_t column;
    TileJudgement judgement;
};

// Judges every tile of `folder` laid out as `grid` with `jobs` threads, counting finished tiles
// in `tiles_done`; the problems come back in row, then column order.
std::vector<TileProblem> check_level_tiles(const std::string& folder, const TileGeometry& grid,
                                           int32_t jobs, std::atomic<int64_t>& tiles_done);
// The same for the tileset's own tiles (level 0).
std::vector<TileProblem> check_all_tiles(const CheckedTileset& tileset, int32_t jobs,
                                         std::atomic<int64_t>& tiles_done);

struct CheckTally {
    int64_t tiles;
    int64_t good;
    int64_t missing;
    int64_t unreadable;
    int64_t undecodable;
    int64_t truncated;
    int64_t wrong_size;
    int64_t damaged;
};
CheckTally tally_problems(int64_t tile_count, const std::vector<TileProblem>& problems);

// One line per problem: "missing     003/012.jpg (row 3, column 12)", ...
std::string describe_problem(const CheckedTileset& tileset, const TileProblem& problem);
// "4096 tiles: 4093 good, 1 missing, 0 unreadable, 1 failed to decode, 1 truncated, 0 of the
// wrong size, 0 damaged"
std::string summary_line(const CheckTally& tally);
