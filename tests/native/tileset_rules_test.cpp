// Where a tileset's tiles are taken from, and the words a refused file is explained with.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/tileset_rules.h"

namespace {

TEST(TileDir, RelativeJoinsTheTilesetFolderAbsoluteStaysAsItIs) {
    struct Case { const char* file; const char* dir; const char* expected; };
    const Case cases[] = {
        {"Z:\\maps\\earth.tvt", "tiles", "Z:\\maps\\tiles"},
        {"Z:\\maps\\earth.tvt", "..\\shared\\t", "Z:\\maps\\..\\shared\\t"},
        {"Z:\\maps\\earth.tvt", "./tiles", "Z:\\maps\\./tiles"},
        {"Z:/maps/earth.tvt", "tiles", "Z:/maps/tiles"},
        {"C:earth.tvt", "tiles", "C:tiles"},
        {"earth.tvt", "tiles", "tiles"},
        {"Z:\\maps\\earth.tvt", "C:\\tiles", "C:\\tiles"},
        {"Z:\\maps\\earth.tvt", "c:tiles", "c:tiles"},
        {"Z:\\maps\\earth.tvt", "\\tiles", "\\tiles"},
        {"Z:\\maps\\earth.tvt", "\\\\server\\share", "\\\\server\\share"},
        {"Z:\\maps\\earth.tvt", "/tiles", "/tiles"},
        {"Z:\\maps\\earth.tvt", "", ""},
    };
    for (const Case& c : cases) {
        char resolved[260] = "?";
        ASSERT_TRUE(resolve_tile_dir(c.file, c.dir, resolved, sizeof resolved))
            << c.file << " + " << c.dir;
        EXPECT_STREQ(resolved, c.expected) << c.file << " + " << c.dir;
    }
}

TEST(TileDir, ResultThatDoesNotFitIsRefused) {
    const std::string folder = "Z:\\" + std::string(240, 'm') + "\\";   // 244 characters
    char resolved[260];
    EXPECT_TRUE(resolve_tile_dir((folder + "a.tvt").c_str(), std::string(15, 't').c_str(),
                                 resolved, sizeof resolved)) << "244 + 15 = 259 fits";
    EXPECT_FALSE(resolve_tile_dir((folder + "a.tvt").c_str(), std::string(16, 't').c_str(),
                                  resolved, sizeof resolved));
    EXPECT_TRUE(resolve_tile_dir((folder + "a.tvt").c_str(), std::string(259, 'C').replace(1, 2, ":\\").c_str(),
                                 resolved, sizeof resolved)) << "an absolute 259 fits";
}

// TileSizeX, TileSizeY, TileCountX, TileCountY as a file might spell them.
const char* const kSpelled[4] = {"abc", "64", "2", "-3"};

TEST(Refusal, NamesTheKeyAndItsValue) {
    struct Case { TilesetLoadResult result; TilesetLoadOutcome outcome; const char* words; };
    const Case cases[] = {
        {load_refused_geometry_key("TileCountY", false), TilesetLoadOutcome::KEY_MISSING,
         "The key TileCountY is missing."},
        {load_refused_geometry_key("TileSizeX", true), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileSizeX is -1; it must be 1 or more."},
        {check_geometry({256, 0, 4, 4}), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileSizeY is 0; it must be 1 or more."},
        {check_geometry({256, 256, -5, 4}), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileCountX is -5; it must be 1 or more."},
        {check_geometry({65536, 64, 40000, 2}), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileCountX x TileSizeX is too large"},
        {check_geometry({64, 65536, 2, 40000}), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileCountY x TileSizeY is too large"},
        {check_geometry({60000, 60000, 1, 1}), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileSizeX x TileSizeY is too large"},
        {check_geometry({256, 256, 4, 4}), TilesetLoadOutcome::LOADED, ""},
        {load_refused_not_a_tileset(), TilesetLoadOutcome::NOT_A_TILESET, "[Terrava 1.0]"},
        {load_refused_unreadable("File not found."), TilesetLoadOutcome::UNREADABLE,
         "cannot be read: File not found."},
        {load_refused_tile_dir_too_long(259), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "more than 259 characters"},
        {check_geometry({0, 64, 2, 2}, kSpelled), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileSizeX is \"abc\", which is not a number; it must be a whole number, 1 or more."},
        {check_geometry({64, 64, 2, -3}, kSpelled), TilesetLoadOutcome::KEY_OUT_OF_RANGE,
         "TileCountY is -3; it must be 1 or more."},
        {load_refused_too_large(256), TilesetLoadOutcome::UNREADABLE, "at most 256 MB"},
        {load_refused_utf16(), TilesetLoadOutcome::NOT_A_TILESET, "UTF-16"},
        {load_refused_path_too_long(284, 259), TilesetLoadOutcome::UNREADABLE,
         "284 characters long; Terrava opens paths of at most 259"},
        {load_refused_unusable_name(), TilesetLoadOutcome::UNREADABLE, "(shown as ?)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result.outcome, c.outcome) << c.words;
        EXPECT_NE(std::string(c.result.reason).find(c.words), std::string::npos)
            << "expected \"" << c.words << "\" in \"" << c.result.reason << "\"";
    }
    TilesetLoadResult refused = load_refused_not_a_tileset();
    std::snprintf(refused.file, sizeof refused.file, "%s", "Z:\\maps\\x.tvt");
    char text[600];
    format_load_failure(refused, text, sizeof text);
    EXPECT_EQ(std::string(text), std::string("Cannot open the tileset\nZ:\\maps\\x.tvt\n\n") +
                                     refused.reason);
}

TEST(Overviews, GridOfEachLevelAndTheLevelsAMapNeeds) {
    struct Case { TileGeometry map; int32_t level; int32_t columns, rows; int32_t useful; };
    const Case cases[] = {
        {{256, 256, 1, 1}, 1, 1, 1, 0},          // one tile: nothing to shrink
        {{256, 256, 2, 1}, 1, 1, 1, 1},          // one row
        {{256, 256, 1000, 1}, 1, 500, 1, 10},    // 1000 columns: 500, 250, ..., 2, 1
        {{256, 256, 1001, 1}, 1, 501, 1, 10},
        {{256, 256, 1001, 1}, 9, 2, 1, 10},
        {{256, 256, 1025, 3}, 10, 2, 1, 11},
        {{256, 256, 1025, 3}, 11, 1, 1, 11},
        {{100, 60, 5, 7}, 2, 2, 2, 3},           // odd counts round up at every level
        {{100, 60, 5, 7}, 3, 1, 1, 3},
        {{16, 16, 134217727, 134217727}, 27, 1, 1, 27},   // the largest map
        {{16, 16, 134217727, 1}, 26, 2, 1, 27},
    };
    for (const Case& c : cases) {
        const TileGeometry level = overview_geometry(c.map, c.level);
        EXPECT_EQ(level.tile_columns, c.columns) << c.map.tile_columns << " columns at level " << c.level;
        EXPECT_EQ(level.tile_rows, c.rows) << c.map.tile_rows << " rows at level " << c.level;
        EXPECT_EQ(level.tile_width, c.map.tile_width);
        EXPECT_EQ(useful_overview_levels(c.map), c.useful) << c.map.tile_columns << " x " << c.map.tile_rows;
    }
}

TEST(Overviews, KeysReadOrIgnoredAsAWhole) {
    const TileGeometry map{256, 256, 5, 3};   // needs 3 levels
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> keys;
        int32_t count;
        const char* problem_part;   // empty: no problem
    };
    const Case cases[] = {
        {"no keys", {}, 0, ""},
        {"all levels", {{"OverviewCount", "3"}, {"Overview1Dir", "a1"}, {"Overview2Dir", "a2"}, {"Overview3Dir", "a3"}}, 3, ""},
        {"fewer levels", {{"OverviewCount", " 1 "}, {"Overview1Dir", "a1"}}, 1, ""},
        {"zero", {{"OverviewCount", "0"}}, 0, ""},
        {"beyond the map", {{"OverviewCount", "4"}, {"Overview1Dir", "a1"}, {"Overview2Dir", "a2"},
                            {"Overview3Dir", "a3"}, {"Overview4Dir", "a4"}}, 0, "needs at most 3 levels"},
        {"negative", {{"OverviewCount", "-1"}}, 0, "whole number from 0 to 3"},
        {"not a number", {{"OverviewCount", "two"}}, 0, "'two'"},
        {"huge", {{"OverviewCount", "99999999999"}}, 0, "whole number"},
        {"folder key missing", {{"OverviewCount", "2"}, {"Overview1Dir", "a1"}}, 0, "Overview2Dir is missing"},
        {"folder missing", {{"OverviewCount", "2"}, {"Overview1Dir", "a1"}, {"Overview2Dir", "gone"}}, 0,
         "Overview2Dir gone: no such folder"},
    };
    for (const Case& c : cases) {
        const auto lookup = [&c](const char* key, std::string& value) {
            for (const auto& entry : c.keys)
                if (entry.first == key) return value = entry.second, true;
            return false;
        };
        const auto locate = [](const std::string& stored, std::string& why) {
            if (stored == "gone") return why = "no such folder", std::string();
            return "Z:\\maps\\" + stored;
        };
        const OverviewLevels levels = read_overview_levels(map, lookup, locate);
        EXPECT_EQ(levels.count, c.count) << c.name;
        EXPECT_EQ(levels.dirs.size(), static_cast<size_t>(c.count)) << c.name;
        if (c.count > 0) {
            EXPECT_EQ(levels.dirs.back(), "Z:\\maps\\a" + std::to_string(c.count)) << c.name;
        }
        if (c.problem_part[0] == '\0') {
            EXPECT_EQ(levels.problem, "") << c.name;
        } else {
            EXPECT_NE(levels.problem.find(c.problem_part), std::string::npos)
                << c.name << ": expected '" << c.problem_part << "' in '" << levels.problem << "'";
        }
    }
}

TEST(Refusal, QuestionMarksInAPathAreCharactersTheCodePageLacks) {
    EXPECT_TRUE(path_has_unusable_characters("Z:\\??\\map.tvt"));
    EXPECT_FALSE(path_has_unusable_characters("\\\\?\\Z:\\maps\\map.tvt")) << "the long-path prefix";
    EXPECT_TRUE(path_has_unusable_characters("\\\\?\\Z:\\m?p.tvt"));
    EXPECT_FALSE(path_has_unusable_characters("Z:\\maps\\map.tvt"));
}

}  // namespace
