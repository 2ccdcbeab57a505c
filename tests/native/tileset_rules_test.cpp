// Where a tileset's tiles are taken from, and the words a refused file is explained with.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

TEST(Refusal, QuestionMarksInAPathAreCharactersTheCodePageLacks) {
    EXPECT_TRUE(path_has_unusable_characters("Z:\\??\\map.tvt"));
    EXPECT_FALSE(path_has_unusable_characters("\\\\?\\Z:\\maps\\map.tvt")) << "the long-path prefix";
    EXPECT_TRUE(path_has_unusable_characters("\\\\?\\Z:\\m?p.tvt"));
    EXPECT_FALSE(path_has_unusable_characters("Z:\\maps\\map.tvt"));
}

}  // namespace
