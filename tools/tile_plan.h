// What `terrava-tiles make` decides before it touches a pixel: its command line, the tile grid
// an image needs, the names of the tile files and the tileset file's text, and the progress
// line. Values in, values out; no libvips here, so the tests run it under the sanitizers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t MIN_TILE_SIZE = 16;
constexpr int32_t MAX_TILE_SIZE = 4096;
constexpr int32_t DEFAULT_TILE_SIZE = 256;
constexpr int32_t DEFAULT_QUALITY = 85;
constexpr int32_t MAX_NAME_LENGTH = 100;
constexpr int32_t MAX_JOBS = 256;

// Edge tiles are filled out to the full tile size with this colour: white, like the margin of
// a paper map.
constexpr uint8_t PADDING_RED = 255;
constexpr uint8_t PADDING_GREEN = 255;
constexpr uint8_t PADDING_BLUE = 255;

enum class ChromaSubsampling { HALF_BOTH_WAYS_420, FULL_444 };

struct MakeOptions {
    std::string image;
    std::string out_dir;
    int32_t tile_size = DEFAULT_TILE_SIZE;
    int32_t quality = DEFAULT_QUALITY;
    bool progressive = false;
    ChromaSubsampling subsampling = ChromaSubsampling::HALF_BOTH_WAYS_420;
    std::string name;   // the image's file name without its extension unless given
    bool force = false;
    bool accept_damaged = false;   // a source libvips warns about is cut all the same
    bool overviews = true;         // overview levels down to a single tile, unless --no-overviews
};

struct CheckOptions {
    std::string tileset;
    int32_t jobs = 0;   // 0: one per processor
};

// A parsed command line, or the one line that says what is wrong with it.
struct ParsedMake {
    bool ok;
    MakeOptions options;
    std::string error;
};
struct ParsedCheck {
    bool ok;
    CheckOptions options;
    std::string error;
};

// `args` are the words after "make" / "check".
ParsedMake parse_make_arguments(const std::vector<std::string>& args);
ParsedCheck parse_check_arguments(const std::vector<std::string>& args);

// Why `name` cannot name a tileset (its file NAME.tvt and its folder NAME, on Linux and under
// Windows alike), or empty when it can.
std::string tileset_name_problem(const std::string& name);

// The image's file name without folder and last extension ("/maps/Rome 1748.tif" gives
// "Rome 1748").
std::string default_tileset_name(const std::string& image_path);

struct TileGrid {
    int32_t columns;
    int32_t rows;
};

// The grid of tile_size tiles that covers a width x height image, or why the tileset file
// cannot describe it (the viewer's map must stay within 2^31 - 1 pixels a side).
struct GridPlan {
    bool ok;
    TileGrid grid;
    std::string error;
};
GridPlan plan_tile_grid(int64_t image_width, int64_t image_height, int32_t tile_size);

// "RRR" and "RRR/CCC.jpg": at least three digits, zero-padded, more when the index needs
// them (row 1000 is "1000"), exactly as the viewer forms the names.
std::string row_folder_name(int32_t row);
std::string tile_file_name(int32_t row, int32_t column);

// The tileset file: the section, the tile size and counts, TileDir, and OverviewCount with
// Overview<k>Dir = TILE_DIR\overview<k> when `overview_levels` > 0; CR LF line ends.
// MaxCache is left out, so the viewer's default applies.
std::string tileset_file_text(const TileGrid& grid, int32_t tile_size, const std::string& tile_dir,
                              int32_t overview_levels = 0);
// The key lines of `overview_levels` levels under `tile_dir`.
std::string overview_key_lines(const std::string& tile_dir, int32_t overview_levels);

// "  42% 1720/4096 tiles  850 tiles/s  3 s left" (time left once a rate is known).
std::string format_progress(int64_t done, int64_t total, double elapsed_seconds);
