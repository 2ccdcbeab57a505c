// terrava-tiles as a user runs it: a tileset made from a generated image of known content,
// `check` on a damaged tileset, and every refused input with its message and exit code. The
// program is the one built next to the tests (TERRAVA_TILES_PROGRAM).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/profile_text.h"
#include "jpeg/jpeg_decoder.h"
#include "tools/tile_plan.h"
#include "tools/tileset_check.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path work_dir(const std::string& name) {
    const fs::path dir = fs::current_path() / "tiles_tool_work" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs terrava-tiles with `arguments` (already quoted for the shell), after `environment`
// ("NAME=value ...").
ToolRun run_tool(const std::string& arguments, const fs::path& dir, const std::string& environment = "") {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string command = environment + " " + TERRAVA_TILES_PROGRAM + " " + arguments + " >'" +
                                out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int raw = std::system(command.c_str());
    return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_text(out), read_text(err)};
}

// The colour of the 8 x 8 cell (cx, cy): flat cells aligned to JPEG blocks survive a
// high-quality encoding almost exactly, and any shift by a pixel breaks them apart.
uint8_t cell_value(int cx, int cy, int channel) {
    uint32_t h = static_cast<uint32_t>(cx) * 73856093u ^ static_cast<uint32_t>(cy) * 19349663u ^
                 static_cast<uint32_t>(channel) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return static_cast<uint8_t>(32 + (h >> 24) % 192);
}

void write_cell_image(const fs::path& path, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) out.put(static_cast<char>(cell_value(x / 8, y / 8, c)));
}

// Noise: a JPEG tile of it outgrows any small first buffer after a few rows.
void write_noise_image(const fs::path& path, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    uint32_t state = 12345;
    for (int i = 0; i < width * height * 3; ++i) {
        state = state * 1103515245u + 12345u;
        out.put(static_cast<char>(state >> 24));
    }
}

// The entries of `dir` whose names start with a dot: what a run works in.
std::string hidden_entries(const fs::path& dir) {
    std::string names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string()[0] == '.') names += entry.path().filename().string() + " ";
    return names;
}

struct Decoded {
    int32_t status;
    int32_t width;
    int32_t height;
    std::vector<uint8_t> rgb;
};

Decoded decode(const fs::path& path) {
    Decoded d{-1, 0, 0, {}};
    JpegFileStream stream;
    if (!stream.open(path.c_str())) return d;
    std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
    decoder->create(stream);
    if (decoder->status() == 0 && decoder->start_decoding() == 0) {
        d.width = decoder->image_width();
        d.height = decoder->image_height();
        const int32_t bpp = decoder->output_bytes_per_pixel();
        const uint8_t* row = nullptr;
        int32_t length = 0;
        int32_t result;
        while ((result = decoder->read_scanline(row, length)) == 0)
            for (int32_t x = 0; x < d.width; ++x)
                for (int c = 0; c < 3; ++c) d.rgb.push_back(row[x * bpp + (bpp == 1 ? 0 : c)]);
        d.status = result == 1 ? 0 : decoder->status();
    } else {
        d.status = decoder->status();
    }
    decoder->destroy();
    return d;
}

}  // namespace

// A 712 x 600 image in tiles of 128: 6 x 5 tiles, the last column 72 and the last row 88
// pixels of picture, the rest white. Each tile named below is compared with the source.
TEST(TilesToolMake, TilesAndTilesetFileMatchTheSource) {
    const fs::path dir = work_dir("make");
    const int width = 712, height = 600, tile = 128;
    write_cell_image(dir / "source.ppm", width, height);
    const ToolRun run = run_tool("make '" + (dir / "source.ppm").string() + "' '" +
                                 (dir / "out").string() + "' --tile 128 --quality 95 --subsample 444 --no-overviews",
                             dir);
    ASSERT_EQ(run.status, 0) << "stderr: " << run.err;
    EXPECT_EQ(run.err, "") << "no progress bar off a terminal";

    const std::string tvt = read_text(dir / "out" / "source.tvt");
    const std::vector<ProfileLine> lines = split_profile_lines(tvt);
    const ProfileSection section(lines, "Terrava 1.0");
    ASSERT_TRUE(section.found()) << tvt;
    const struct {
        const char* key;
        const char* value;
    } keys[] = {{"tilesizex", "128"}, {"tilesizey", "128"}, {"tilecountx", "6"},
                {"tilecounty", "5"},  {"tiledir", "source"}, {"maxcache", "(none)"}};
    for (const auto& k : keys)
        EXPECT_EQ(profile_string(section.find(k.key), "(none)"), k.value) << "key " << k.key;
    EXPECT_NE(tvt.find("\r\n"), std::string::npos) << "CR LF lines, as Windows writes them";

    const struct {
        int row, column;
        const char* where;
    } tiles[] = {{0, 0, "top-left corner"}, {0, 5, "top-right corner, padded right"},
                 {4, 0, "bottom-left corner, padded below"}, {4, 5, "bottom-right corner"},
                 {2, 5, "right edge"}, {4, 3, "bottom edge"}, {2, 2, "interior"}};
    for (const auto& t : tiles) {
        const Decoded d = decode(dir / "out" / "source" / tile_file_name(t.row, t.column));
        ASSERT_EQ(d.status, 0) << t.where;
        ASSERT_EQ(d.width, tile) << t.where;
        ASSERT_EQ(d.height, tile) << t.where;
        int worst = 0, worst_x = 0, worst_y = 0;
        for (int y = 0; y < tile; ++y)
            for (int x = 0; x < tile; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int wx = t.column * tile + x, wy = t.row * tile + y;
                    const int expected = wx < width && wy < height ? cell_value(wx / 8, wy / 8, c) : 255;
                    const int off = std::abs(d.rgb[(y * tile + x) * 3 + c] - expected);
                    if (off > worst) worst = off, worst_x = wx, worst_y = wy;
                }
        EXPECT_LE(worst, 6) << t.where << " tile (" << t.row << ", " << t.column
                            << "): largest difference " << worst << " at world (" << worst_x
                            << ", " << worst_y << ")";
    }
    const ToolRun check = run_tool("check '" + (dir / "out" / "source.tvt").string() + "'", dir);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.out, "30 tiles: 30 good, 0 missing, 0 unreadable, 0 failed to decode, "
                         "0 truncated, 0 of the wrong size, 0 damaged\n");
}

// A tileset with one tile of each kind of damage: check names exactly those, in order,
// whatever the number of jobs.
TEST(TilesToolCheck, ReportsExactlyTheDamagedTiles) {
    const fs::path dir = work_dir("check");
    write_cell_image(dir / "map.ppm", 200, 130);
    write_cell_image(dir / "small.ppm", 40, 40);
    ASSERT_EQ(run_tool("make '" + (dir / "map.ppm").string() + "' '" + dir.string() + "' --tile 64 --no-overviews", dir).status, 0);
    ASSERT_EQ(run_tool("make '" + (dir / "small.ppm").string() + "' '" + dir.string() + "' --tile 32", dir).status, 0);
    const fs::path tiles = dir / "map";
    fs::remove(tiles / "001/002.jpg");
    fs::copy_file(dir / "small/000/000.jpg", tiles / "000/003.jpg", fs::copy_options::overwrite_existing);
    {
        std::ofstream(tiles / "002/001.jpg", std::ios::binary) << "not a JPEG";
    }
    // Cut half way through the entropy-coded data of the last scan.
    const std::string whole = read_text(tiles / "002/003.jpg");
    const size_t scan = whole.rfind("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    std::ofstream(tiles / "002/003.jpg", std::ios::binary | std::ios::trunc)
        << whole.substr(0, scan + (whole.size() - scan) / 2);
    // 40 stray bytes after the entropy-coded data: our decoder reads past them, libjpeg-turbo not.
    std::string padded = read_text(tiles / "001/000.jpg");
    padded.insert(padded.rfind("\xFF\xD9"), std::string(40, '\x55'));
    std::ofstream(tiles / "001/000.jpg", std::ios::binary | std::ios::trunc) << padded;

    const std::string expected =
        "wrong size  000/003.jpg: 32 x 32, the tileset's tiles are 64 x 64\n"
        "damaged     001/000.jpg: libjpeg-turbo: Corrupt JPEG data\n"
        "missing     001/002.jpg (row 1, column 2)\n"
        "undecodable 002/001.jpg: error -217 ERR_NO_SOI\n"
        "truncated   002/003.jpg: the data ends before the end-of-image marker\n"
        "12 tiles: 7 good, 1 missing, 0 unreadable, 1 failed to decode, 1 truncated, 1 of the wrong "
        "size, 1 damaged\n";
    {
        std::string moved = read_text(dir / "map.tvt");
        moved.replace(moved.find("TileDir=map"), 11, "TileDir=gone");
        std::ofstream(dir / "elsewhere.tvt") << moved;
        const ToolRun run = run_tool("check '" + (dir / "elsewhere.tvt").string() + "'", dir);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "missing     every tile: the tile folder " + (dir / "gone").string() +
                               " does not exist\n12 tiles: 0 good, 12 missing, 0 unreadable, 0 "
                               "failed to decode, 0 truncated, 0 of the wrong size, 0 damaged\n");
    }
    for (const char* jobs : {"1", "3"}) {
        const ToolRun run = run_tool("check '" + (dir / "map.tvt").string() + "' --jobs " + jobs, dir);
        EXPECT_EQ(run.status, 1) << "--jobs " << jobs;
        // A cut tile may fail in its data or be padded out: the decoder's cause is extra.
        std::string out = run.out;
        const size_t cause = out.find(" (decoding stops with error -");
        if (cause != std::string::npos) out.erase(cause, out.find('\n', cause) - cause);
        // libjpeg-turbo's words after its kind of complaint vary with the damage.
        const size_t complaint = out.find("Corrupt JPEG data");
        if (complaint != std::string::npos)
            out.erase(complaint + 17, out.find('\n', complaint) - complaint - 17);
        EXPECT_EQ(out, expected) << "--jobs " << jobs;
    }
    // A 32 x 32 tile is of the wrong size when either side differs.
    const std::string small_tile = read_text(dir / "small/000/000.jpg");
    const auto* bytes = reinterpret_cast<const uint8_t*>(small_tile.data());
    const struct { int32_t width, height; TileVerdict verdict; } sizes[] = {
        {32, 32, TileVerdict::GOOD}, {32, 64, TileVerdict::WRONG_SIZE},
        {64, 32, TileVerdict::WRONG_SIZE}};
    for (const auto& s : sizes)
        EXPECT_EQ(judge_tile_bytes(bytes, small_tile.size(), s.width, s.height).verdict, s.verdict)
            << "a 32 x 32 tile judged for tiles of " << s.width << " x " << s.height;
}

// Every refused input: one line on stderr naming the fault, its exit code, nothing left behind.
TEST(TilesToolRefusals, EachBadInputHasItsMessageAndExitCode) {
    const fs::path dir = work_dir("refusals");
    const std::string d = dir.string();
    write_cell_image(dir / "ok.ppm", 40, 24);
    std::ofstream(dir / "empty.png").close();
    std::ofstream(dir / "text.jpg") << "this is text, not a picture\n";
    std::ofstream(dir / "nosection.tvt") << "[Other]\r\nTileSizeX=256\r\n";
    std::ofstream(dir / "nokey.tvt") << "[Terrava 1.0]\r\nTileSizeY=256\r\nTileCountX=1\r\nTileCountY=1\r\n";
    std::ofstream(dir / "zero.tvt") << "[Terrava 1.0]\r\nTileSizeX=0\r\nTileSizeY=256\r\nTileCountX=1\r\nTileCountY=1\r\n";
    std::ofstream(dir / "unc.tvt") << "[Terrava 1.0]\r\nTileSizeX=8\r\nTileSizeY=8\r\nTileCountX=1\r\nTileCountY=1\r\nTileDir=\\\\server\\maps\r\n";
    ASSERT_EQ(run_tool("make '" + d + "/ok.ppm' '" + d + "/taken'", dir).status, 0);

    const struct {
        std::string arguments;
        int status;
        std::string message;
    } cases[] = {
        {"", 2, "no command given"},
        {"cut x y", 2, "unknown command 'cut'"},
        {"make '" + d + "/ok.ppm'", 2, "make needs an IMAGE and an OUTDIR"},
        {"make '" + d + "/ok.ppm' " + d + "/o --tile 15", 2, "--tile 15: the tile size must be a whole number from 16 to 4096"},
        {"make '" + d + "/ok.ppm' " + d + "/o --tile 4097", 2, "--tile 4097: the tile size"},
        {"make '" + d + "/ok.ppm' " + d + "/o --tile=12x", 2, "--tile 12x: the tile size"},
        {"make '" + d + "/ok.ppm' " + d + "/o --quality 0", 2, "--quality 0: the JPEG quality"},
        {"make '" + d + "/ok.ppm' " + d + "/o --subsample 422", 2, "--subsample 422: must be 420 or 444"},
        {"make '" + d + "/ok.ppm' " + d + "/o --name 'a/b'", 2, "tileset name 'a/b': Windows file names cannot hold '/'"},
        {"make '" + d + "/ok.ppm' " + d + "/o --tiles 64", 2, "unknown option --tiles"},
        {"make '" + d + "/none.png' " + d + "/o", 1, d + "/none.png: no such file"},
        {"make '" + d + "/empty.png' " + d + "/o", 1, d + "/empty.png is empty (0 bytes)"},
        {"make '" + d + "' " + d + "/o", 1, d + " is a folder, not an image"},
        {"make '" + d + "/text.jpg' " + d + "/o", 1, "cannot read " + d + "/text.jpg as an image: "},
        {"make '" + d + "/ok.ppm' " + d + "/taken", 1, d + "/taken/ok.tvt already exists (--force replaces the tileset)"},
        {"make '" + d + "/ok.ppm' " + d + "/ok.ppm", 1, d + "/ok.ppm exists and is not a folder"},
        {"make '" + d + "/ok.ppm' " + d + "/" + std::string(250, 'x'), 1, "the viewer could not open " + d + "/" + std::string(250, 'x') + "/ok.tvt: TileDir is too long"},
        {"check", 2, "check needs a TILESET.tvt"},
        {"check " + d + "/taken/ok.tvt --jobs 0", 2, "--jobs 0: must be a whole number from 1 to 256"},
        {"check " + d + "/none.tvt", 3, "cannot open " + d + "/none.tvt: No such file or directory"},
        {"check " + d + "/nosection.tvt", 3, "This is not a Terrava tileset: it has no [Terrava 1.0] section."},
        {"check " + d + "/nokey.tvt", 3, "The key TileSizeX is missing."},
        {"check " + d + "/zero.tvt", 3, "TileSizeX is 0; it must be 1 or more."},
        {"check " + d + "/unc.tvt", 3, "TileDir \\\\server\\maps cannot be followed on Linux: it is a network (UNC) path."},
    };
    for (const auto& c : cases) {
        const ToolRun run = run_tool(c.arguments, dir);
        EXPECT_EQ(run.status, c.status) << "terrava-tiles " << c.arguments << "\nstderr: " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos)
            << "terrava-tiles " << c.arguments << "\nexpected in stderr: " << c.message
            << "\nstderr: " << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos)
            << "left behind: " << entry.path();
    EXPECT_FALSE(fs::exists(dir / "o")) << "nothing made for refused inputs";
    EXPECT_FALSE(fs::exists(dir / std::string(250, 'x'))) << "nothing made for refused inputs";
    EXPECT_TRUE(fs::exists(dir / "taken" / "ok" / "000" / "000.jpg")) << "the tileset that exists was kept";
}

// The grid and the names: sizes the file cannot hold are refused before anything is written,
// and rows or columns past 999 take a fourth digit, as the viewer's names do.
TEST(TilesToolPlan, GridLimitsAndNames) {
    const struct {
        int64_t width, height;
        int32_t tile;
        bool ok;
        int32_t columns, rows;
    } grids[] = {{712, 600, 128, true, 6, 5},
                 {256, 256, 256, true, 1, 1},
                 {257, 1, 256, true, 2, 1},
                 {0, 10, 256, false, 0, 0},
                 {2147483632, 16, 16, true, 134217727, 1},
                 {2147483647, 16, 16, false, 0, 0},
                 {2147483647, 16, 256, false, 0, 0},   // 8388608 columns of 256 pass 2^31 - 1
                 {16, 2147483648LL, 16, false, 0, 0}};
    for (const auto& g : grids) {
        const GridPlan plan = plan_tile_grid(g.width, g.height, g.tile);
        EXPECT_EQ(plan.ok, g.ok) << g.width << " x " << g.height << " in " << g.tile << ": " << plan.error;
        if (plan.ok && g.ok) {
            EXPECT_EQ(plan.grid.columns, g.columns) << g.width << " x " << g.height;
            EXPECT_EQ(plan.grid.rows, g.rows) << g.width << " x " << g.height;
        }
    }
    EXPECT_EQ(tile_file_name(0, 7), "000/007.jpg");
    EXPECT_EQ(tile_file_name(1000, 12345), "1000/12345.jpg");
}

// Where check looks for the tiles: a relative TileDir next to the tileset file, Z: as the
// Linux root, the names that cannot be followed, and bytes outside ASCII read in the ANSI code
// page of the user's locale, as the viewer under Wine reads them.
TEST(TilesToolCheck, TileDirAsTheViewerResolvesIt) {
    const std::string head = "[Terrava 1.0]\r\nTileSizeX=8\r\nTileSizeY=8\r\nTileCountX=1\r\nTileCountY=1\r\n";
    const struct {
        const char* tile_dir;
        int32_t code_page;
        const char* linux_dir;   // empty: refused
    } cases[] = {{"tiles", 1252, "/maps/tiles"},       {"sub\\t", 1252, "/maps/sub/t"},
                 {"Z:\\x\\y", 1252, "/x/y"},           {"z:/x", 1252, "/x"},
                 {"\\data\\t", 1252, "/data/t"},        {"\\\\server\\share", 1252, ""},
                 {"C:relative", 1252, ""},             {"Q:\\x", 1252, ""},
                 {"Z\xFCrich", 1252, "/maps/Z\xC3\xBCrich"},          // cp1252 ü: Zürich
                 {"Z\xC3\xBCrich", 1252, "/maps/Z\xC3\x83\xC2\xBCrich"},   // UTF-8 ü read as two
                 {"Z\xC3\xBCrich", 65001, "/maps/Z\xC3\xBCrich"},
                 {"\x8D", 1252, ""}};                 // no character in cp1252
    for (const auto& c : cases) {
        const TilesetReading r =
            read_tileset_text("/maps/a.tvt", head + "TileDir=" + c.tile_dir + "\r\n", "", c.code_page);
        EXPECT_EQ(r.ok, c.linux_dir[0] != '\0') << c.tile_dir << ": " << r.error;
        if (r.ok) {
            EXPECT_EQ(r.tileset.tile_dir, c.linux_dir) << c.tile_dir << " in code page " << c.code_page;
        }
    }
    // A file in UTF-16 (little-endian, with its mark): the values come in the code page.
    std::string utf16 = "\xFF\xFE";
    for (const char c : head + "TileDir=Z\xFCrich\r\n") utf16 += std::string{c, '\0'};
    const TilesetReading wide = read_tileset_text("/maps/a.tvt", utf16, "", 1252);
    EXPECT_TRUE(wide.ok && wide.tileset.tile_dir == "/maps/Z\xC3\xBCrich") << wide.error << wide.tileset.tile_dir;
    const struct {
        const char* locale;
        int32_t code_page;
    } locales[] = {{"C", 1252},          {"C.UTF-8", 1252},     {"de_DE.UTF-8", 1252},
                   {"pl_PL", 1250},      {"ru_RU.UTF-8", 1251}, {"ja_JP.eucJP", 932},
                   {"zh_TW.UTF-8", 950}, {"zh_CN.UTF-8", 936},  {"sr_RS@latin", 1250}};
    for (const auto& l : locales)
        EXPECT_EQ(ansi_code_page_of_locale(l.locale), l.code_page) << l.locale;
}

// Each encoding option gives tiles our decoder reads at the right size, and --force replaces
// a tileset whole, leaving no hidden folder behind.
TEST(TilesToolMake, EveryEncodingDecodesAndForceReplaces) {
    const fs::path dir = work_dir("options");
    write_cell_image(dir / "pic.ppm", 100, 70);
    const struct {
        const char* options;
        const char* tile_size;
    } cases[] = {{"--tile 32", "32"},
                 {"--tile 32 --progressive --force", "32"},
                 {"--tile 16 --progressive --subsample 444 --force", "16"},
                 {"--tile 48 --subsample 444 --quality 100 --force", "48"}};
    for (const auto& c : cases) {
        const ToolRun make = run_tool("make '" + (dir / "pic.ppm").string() + "' '" + dir.string() + "' " + c.options, dir);
        ASSERT_EQ(make.status, 0) << c.options << ": " << make.err;
        const ToolRun check = run_tool("check '" + (dir / "pic.tvt").string() + "' --jobs 2", dir);
        EXPECT_EQ(check.status, 0) << c.options << ": " << check.out;
        const std::string tvt = read_text(dir / "pic.tvt");
        EXPECT_NE(tvt.find(std::string("TileSizeX=") + c.tile_size + "\r\n"), std::string::npos)
            << c.options << ": " << tvt;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
    EXPECT_FALSE(fs::exists(dir / "pic" / "002")) << "tiles of a replaced tileset remain (3 x 2 now)";
}

// The progress line: percentage, counts, rate and the time left at that rate.
TEST(TilesToolPlan, ProgressLine) {
    const struct {
        int64_t done, total;
        double seconds;
        const char* line;
    } cases[] = {{0, 4096, 0.0, "   0% 0/4096 tiles"},
                 {1024, 4096, 2.0, "  25% 1024/4096 tiles  512 tiles/s  6 s left"},
                 {100, 100000, 10.0, "   0% 100/100000 tiles  10 tiles/s  166 min 30 s left"},
                 {7, 7, 1.0, " 100% 7/7 tiles  7 tiles/s  0 s left"}};
    for (const auto& c : cases)
        EXPECT_EQ(format_progress(c.done, c.total, c.seconds), c.line) << c.done << " of " << c.total;
}

// Inputs of other kinds come out as 8-bit RGB: 16-bit samples scaled, grey spread to three
// channels, and transparency laid on white. Pictures made by ImageMagick's convert.
TEST(TilesToolMake, ColoursOfOtherKindsOfImage) {
    const fs::path dir = work_dir("colours");
    const struct {
        const char* convert_arguments;
        const char* format;   // ImageMagick's output format, to force 16-bit samples
        const char* file;
        int red, green, blue;
    } cases[] = {{"-size 40x40 xc:'rgba(255,0,0,0.5)'", "PNG64:", "half_red.png", 255, 128, 128},
                 {"-size 40x40 xc:'gray(25%)' -depth 16", "PNG:", "grey16.png", 64, 64, 64},
                 {"-size 40x40 xc:'rgba(0,0,255,0)'", "PNG32:", "clear.png", 255, 255, 255},
                 {"-size 40x40 xc:'rgb(10,200,30)'", "TIFF:", "plain.tif", 10, 200, 30}};
    for (const auto& c : cases) {
        const fs::path picture = dir / c.file;
        const std::string make_picture = std::string("/usr/bin/convert ") + c.convert_arguments +
                                         " '" + c.format + picture.string() + "'";
        ASSERT_EQ(std::system(make_picture.c_str()), 0) << make_picture;
        const ToolRun run = run_tool("make '" + picture.string() + "' '" + dir.string() + "' --tile 16 --subsample 444 --quality 100", dir);
        ASSERT_EQ(run.status, 0) << c.file << ": " << run.err;
        const Decoded d = decode(dir / fs::path(c.file).stem() / tile_file_name(1, 1));
        ASSERT_EQ(d.status, 0) << c.file;
        const int got[3] = {d.rgb[0], d.rgb[1], d.rgb[2]};
        const int expected[3] = {c.red, c.green, c.blue};
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(got[k], expected[k], 3) << c.file << ": channel " << k << " of (" << got[0]
                                               << ", " << got[1] << ", " << got[2] << ")";
    }
}

// Every way a make can fail, each run with --force over an old tileset of the same name (tiles
// of 64, the new ones 256): exit code, one line naming the cause, nothing of the run left
// behind (nor what a dead run left), and the old tileset still whole. Last, a TIFF in 128-row
// strips replaces it.
TEST(TilesToolMake, FailuresLeaveTheOldTilesetWorking) {
    const fs::path dir = work_dir("failures");
    const fs::path out = dir / "out";
    const std::string d = dir.string();
    write_noise_image(dir / "noise.ppm", 600, 400);
    const std::string convert = "/usr/bin/convert '" + d + "/noise.ppm' -quality 90 ";
    ASSERT_EQ(std::system((convert + "'" + d + "/noise.jpg'").c_str()), 0);
    ASSERT_EQ(std::system((convert + "-define tiff:rows-per-strip=128 '" + d + "/strips.tif'").c_str()), 0);
    const std::string jpeg = read_text(dir / "noise.jpg");
    std::ofstream(dir / "cut.jpg", std::ios::binary) << jpeg.substr(0, jpeg.size() / 2);
    std::string damaged = jpeg;
    damaged.replace(jpeg.size() / 2, 40, std::string(40, '\xFF'));
    std::ofstream(dir / "damaged.jpg", std::ios::binary) << damaged;
    ASSERT_EQ(run_tool("make '" + d + "/noise.ppm' '" + out.string() + "' --name map --tile 64", dir).status, 0);
    FILE* shell = popen("sh -c 'echo $$'", "r");
    int dead_pid = 0;
    ASSERT_EQ(std::fscanf(shell, "%d", &dead_pid), 1);
    pclose(shell);
    fs::create_directories(out / (".map.partial-" + std::to_string(dead_pid)) / "000");

    const std::string tvt = out.string() + "/map.tvt";
    const struct {
        const char* source;
        const char* options;
        const char* fault;
        int status;
        std::string message;
    } cases[] = {
        {"cut.jpg", "", "", 1, "cannot read " + d + "/cut.jpg: Premature end of"},
        {"damaged.jpg", "", "", 1, "/damaged.jpg: Corrupt JPEG data"},
        {"noise.jpg", "", "full-disk-at-tile:2", 1, "/000/002.jpg: No space left on device"},
        {"noise.jpg", "", "signal-at-band:0", 1, "interrupted by SIGINT"},
        {"noise.jpg", "", "signal-at-band:3", 1, "interrupted by SIGINT"},
        {"noise.jpg", "", "signal-before-install", 1, "interrupted by SIGINT"},
        {"noise.jpg", "", "full-disk-at-tileset-file", 1, "cannot write " + tvt + ": No space left on device"},
        {"noise.jpg", "--name Z\xC3\xBCrich", "", 2, "ANSI code page, which gives '\xC3\xBC' a different meaning"},
        {"strips.tif", "", "", 0, ""},
    };
    for (const auto& c : cases) {
        const std::string where = std::string(c.source) + " " + c.options + " " + c.fault;
        const ToolRun run = run_tool("make '" + d + "/" + c.source + "' '" + out.string() +
                                         "' --name map --force " + c.options,
                                     dir, c.fault[0] ? std::string("TERRAVA_TILES_TEST_FAULT=") + c.fault : "");
        EXPECT_EQ(run.status, c.status) << where << "\nstderr: " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos)
            << where << "\nexpected in stderr: " << c.message << "\nstderr: " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.status == 0 ? 0 : 1)
            << where << ": one line: " << run.err;
        EXPECT_EQ(hidden_entries(out), "") << where << ": left behind";
        const ToolRun check = run_tool("check '" + tvt + "'", dir);
        EXPECT_EQ(check.status, 0) << where << ": " << check.out;
        const char* size = c.status == 0 ? "TileSizeX=256" : "TileSizeX=64";
        EXPECT_NE(read_text(tvt).find(size), std::string::npos) << where << ": expected " << size;
    }
}

namespace {

// `rgb` (width x height) shrunk by 2^level: each pixel the mean of the block it stands for,
// of the block's pixels inside the image.
std::vector<double> box_filtered(const std::vector<uint8_t>& rgb, int width, int height, int level,
                                 int& out_width, int& out_height) {
    const int scale = 1 << level;
    out_width = (width + scale - 1) / scale;
    out_height = (height + scale - 1) / scale;
    std::vector<double> out(static_cast<size_t>(out_width) * out_height * 3, 0.0);
    for (int y = 0; y < out_height; ++y)
        for (int x = 0; x < out_width; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                int count = 0;
                for (int sy = y * scale; sy < std::min(height, (y + 1) * scale); ++sy)
                    for (int sx = x * scale; sx < std::min(width, (x + 1) * scale); ++sx, ++count)
                        sum += rgb[(static_cast<size_t>(sy) * width + sx) * 3 + c];
                out[(static_cast<size_t>(y) * out_width + x) * 3 + c] = sum / count;
            }
    return out;
}

}  // namespace

// A photograph cut to an odd size: every overview level, tile by tile, against the image
// box-filtered by 2^k; the padding right of and below the map is white and never inside it.
// Quality 95 and full chroma keep the tiles' own JPEG loss small beside a filter fault (at
// quality 85 and 4:2:0 this detailed map's levels reach only 33 to 30 dB, all of it that loss).
TEST(TilesToolOverviews, LevelsMatchTheBoxFilteredImage) {
    const fs::path dir = work_dir("overviews");
    const Decoded earth = decode("/usr/share/xplanet/images/earth.jpg");
    ASSERT_EQ(earth.status, 0);
    const int width = 1001, height = 603, tile = 128;   // 8 x 5 tiles: levels of 4 x 3, 2 x 2, 1 x 1
    {
        std::ofstream out(dir / "earth.ppm", std::ios::binary);
        out << "P6\n" << width << " " << height << "\n255\n";
        for (int y = 0; y < height; ++y)
            out.write(reinterpret_cast<const char*>(&earth.rgb[static_cast<size_t>(y) * earth.width * 3]), width * 3);
    }
    std::vector<uint8_t> source(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        std::copy_n(&earth.rgb[static_cast<size_t>(y) * earth.width * 3], width * 3, &source[static_cast<size_t>(y) * width * 3]);
    const ToolRun run = run_tool("make '" + (dir / "earth.ppm").string() + "' '" + (dir / "out").string() +
                                 "' --tile 128 --quality 95 --subsample 444", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string tvt = read_text(dir / "out" / "earth.tvt");
    EXPECT_NE(tvt.find("OverviewCount=3\r\nOverview1Dir=earth\\overview1\r\nOverview2Dir=earth\\overview2\r\n"
                       "Overview3Dir=earth\\overview3\r\n"), std::string::npos) << tvt;
    const struct { int level, columns, rows; } levels[] = {{1, 4, 3}, {2, 2, 2}, {3, 1, 1}};
    for (const auto& l : levels) {
        int map_width = 0, map_height = 0;
        const std::vector<double> expected = box_filtered(source, width, height, l.level, map_width, map_height);
        const fs::path folder = dir / "out" / "earth" / ("overview" + std::to_string(l.level));
        EXPECT_FALSE(fs::exists(folder / tile_file_name(0, l.columns)) || fs::exists(folder / tile_file_name(l.rows, 0)))
            << "level " << l.level << ": a tile beyond its " << l.columns << " x " << l.rows << " grid";
        double squared = 0, edge_squared = 0;
        int64_t count = 0, edge_count = 0, dark_padding = 0;
        for (int row = 0; row < l.rows; ++row)
            for (int column = 0; column < l.columns; ++column) {
                const Decoded d = decode(folder / tile_file_name(row, column));
                ASSERT_EQ(d.status, 0) << "level " << l.level << " tile " << tile_file_name(row, column);
                ASSERT_EQ(d.width, tile);
                ASSERT_EQ(d.height, tile);
                for (int y = 0; y < tile; ++y)
                    for (int x = 0; x < tile; ++x)
                        for (int c = 0; c < 3; ++c) {
                            const int mx = column * tile + x, my = row * tile + y;
                            const int got = d.rgb[(static_cast<size_t>(y) * tile + x) * 3 + c];
                            if (mx >= map_width || my >= map_height) {
                                // Padding well away from the map (JPEG blocks blur the first pixels).
                                if ((mx >= map_width + 8 || my >= map_height + 8) && got < 240) ++dark_padding;
                                continue;
                            }
                            const double off = got - expected[(static_cast<size_t>(my) * map_width + mx) * 3 + c];
                            squared += off * off, ++count;
                            if (mx >= map_width - 2 || my >= map_height - 2) edge_squared += off * off, ++edge_count;
                        }
            }
        const double psnr = 10 * std::log10(255.0 * 255.0 * count / squared);
        const double edge_psnr = 10 * std::log10(255.0 * 255.0 * edge_count / edge_squared);
        EXPECT_GE(psnr, 35.0) << "level " << l.level << " against the image box-filtered by " << (1 << l.level);
        EXPECT_GE(edge_psnr, 28.0) << "level " << l.level << ": the map's last two columns and rows";
        EXPECT_EQ(dark_padding, 0) << "level " << l.level << ": padding samples that are not white";
    }
    // check reads the keys and every level; a damaged tile of level 2 is found there.
    std::ofstream(dir / "out" / "earth" / "overview2" / "001" / "000.jpg", std::ios::binary | std::ios::trunc) << "junk";
    const ToolRun check = run_tool("check '" + (dir / "out" / "earth.tvt").string() + "'", dir);
    EXPECT_EQ(check.status, 1) << check.out << check.err;
    for (const char* part : {"found       OverviewCount=3\n", "found       Overview3Dir=earth\\overview3\n",
                             "overview level 1 (4 x 3 tiles): 12 tiles: 12 good",
                             "level 2: undecodable 001/000.jpg",
                             "overview level 2 (2 x 2 tiles): 4 tiles: 3 good",
                             "overview level 3 (1 x 1 tiles): 1 tiles: 1 good"})
        EXPECT_NE(check.out.find(part), std::string::npos) << "expected '" << part << "' in:\n" << check.out;
}

// `overview` on a tileset made without levels, with labels and unknown keys in its file: a
// failed or interrupted run leaves file and folder as they were; a finished one adds the keys
// and keeps every other line byte for byte, and its levels are those `make` writes.
TEST(TilesToolOverviews, OverviewCommandAddsLevelsAndKeepsEveryOtherLine) {
    const fs::path dir = work_dir("overview_command");
    write_cell_image(dir / "map.ppm", 256, 192);   // whole tiles: the grid is the map
    ASSERT_EQ(run_tool("make '" + (dir / "map.ppm").string() + "' '" + (dir / "with").string() + "' --tile 64", dir).status, 0);
    ASSERT_EQ(run_tool("make '" + (dir / "map.ppm").string() + "' '" + dir.string() + "' --tile 64 --no-overviews", dir).status, 0);
    const fs::path tvt = dir / "map.tvt";
    const std::string made = read_text(tvt);
    EXPECT_EQ(made.find("Overview"), std::string::npos) << made;
    const std::string before = made + "; a comment\r\nLabelCount=1\r\nLabel1X=5\r\nLabel1Y=6\r\nLabel1Len=4\r\n"
                                      "Label1Text=Port\r\nSomeFutureKey = kept  \r\n\r\n[Other]\r\nOverviewCount=9\r\n";
    std::ofstream(tvt, std::ios::binary | std::ios::trunc) << before;

    for (const char* fault : {"signal-at-band:1", "full-disk-at-tileset-file", "signal-before-install"}) {
        const ToolRun failed = run_tool("overview '" + tvt.string() + "'", dir, std::string("TERRAVA_TILES_TEST_FAULT=") + fault);
        EXPECT_EQ(failed.status, 1) << fault << ": " << failed.err;
        EXPECT_EQ(read_text(tvt), before) << fault << ": the tileset file changed";
        EXPECT_FALSE(fs::exists(dir / "map" / "overview1")) << fault;
        EXPECT_EQ(hidden_entries(dir) + hidden_entries(dir / "map"), "") << fault << ": litter left";
    }
    const ToolRun run = run_tool("overview '" + tvt.string() + "' --jobs 2", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string after = read_text(tvt);
    const std::string section_end = "SomeFutureKey = kept  \r\n";
    const size_t end = before.find(section_end) + section_end.size();
    EXPECT_EQ(after, before.substr(0, end) +
                         "OverviewCount=2\r\nOverview1Dir=map\\overview1\r\nOverview2Dir=map\\overview2\r\n" +
                         before.substr(end))
        << "every other line byte for byte, the keys added at the end of the section";
    for (const char* tile : {"overview1/000/000.jpg", "overview1/001/001.jpg", "overview2/000/000.jpg"}) {
        const Decoded ours = decode(dir / "map" / tile), makes = decode(dir / "with" / "map" / tile);
        ASSERT_EQ(ours.status, 0) << tile;
        ASSERT_EQ(ours.rgb.size(), makes.rgb.size()) << tile;
        double squared = 0;
        for (size_t i = 0; i < ours.rgb.size(); ++i) squared += (ours.rgb[i] - makes.rgb[i]) * (ours.rgb[i] - makes.rgb[i]);
        const double psnr = 10 * std::log10(255.0 * 255.0 * ours.rgb.size() / squared);
        EXPECT_GE(psnr, 30.0) << tile << ": made from decoded tiles, against make's level";
    }
    const ToolRun check = run_tool("check '" + tvt.string() + "'", dir);
    EXPECT_EQ(check.status, 0) << check.out;
}
