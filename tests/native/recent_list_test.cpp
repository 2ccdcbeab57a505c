// The recent-tileset list: newest first, each file once, eight at most, and its menu texts.
#include <gtest/gtest.h>

#include "app/recent_list.h"

namespace {

using List = std::vector<std::string>;

TEST(RecentList, NewestFirstEachFileOnceAtMostEight) {
    List list;
    for (int i = 1; i <= 10; ++i) list = with_recent_first(list, "C:\\maps\\" + std::to_string(i) + ".tvt");
    ASSERT_EQ(list.size(), 8u) << "the list stops at eight";
    EXPECT_EQ(list.front(), "C:\\maps\\10.tvt");
    EXPECT_EQ(list.back(), "C:\\maps\\3.tvt") << "the oldest two went";

    list = with_recent_first(list, "c:/MAPS/5.tvt");
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list.front(), "c:/MAPS/5.tvt") << "reopened, it moves to the top as named now";
    EXPECT_EQ(list[1], "C:\\maps\\10.tvt");
    for (size_t i = 1; i < list.size(); ++i)
        EXPECT_FALSE(same_file_name(list[i], "C:\\maps\\5.tvt")) << "a second entry at " << i;

    EXPECT_EQ(with_recent_first(List{"a.tvt", "", "b.tvt"}, "c.tvt"), (List{"c.tvt", "a.tvt", "b.tvt"}))
        << "empty entries (a damaged registry value) are dropped";
    EXPECT_EQ(with_recent_first(List{"a.tvt"}, ""), List{"a.tvt"});
}

TEST(RecentList, RemovalAndMenuTexts) {
    const List list{"C:\\a.tvt", "C:\\b.tvt", "C:\\c.tvt"};
    EXPECT_EQ(without_file(list, "c:\\B.TVT"), (List{"C:\\a.tvt", "C:\\c.tvt"}));
    EXPECT_EQ(without_file(list, "C:\\d.tvt"), list);
    EXPECT_EQ(recent_menu_text(0, "C:\\maps\\earth.tvt"), "&1 C:\\maps\\earth.tvt");
    EXPECT_EQ(recent_menu_text(7, "C:\\R&D\\x.tvt"), "&8 C:\\R&&D\\x.tvt");
}

}  // namespace

// ---- files dropped on the window ----
#include "app/dropped_files.h"

namespace {

TEST(DroppedFiles, OneTilesetOpensEverythingElseIsExplained) {
    EXPECT_EQ(classify_drop(1, "C:\\maps\\earth.tvt"), DropAction::OPEN_TILESET);
    EXPECT_EQ(classify_drop(1, "C:\\maps\\EARTH.TvT"), DropAction::OPEN_TILESET);
    EXPECT_EQ(classify_drop(1, "C:\\maps\\earth.tvt.jpg"), DropAction::NOT_A_TILESET);
    EXPECT_EQ(classify_drop(1, "C:\\maps\\tiles"), DropAction::NOT_A_TILESET);
    EXPECT_EQ(classify_drop(1, "C:\\maps\\.tvt"), DropAction::NOT_A_TILESET) << "no name before the extension";
    EXPECT_EQ(classify_drop(2, "C:\\maps\\earth.tvt"), DropAction::SEVERAL);
    EXPECT_EQ(classify_drop(0, ""), DropAction::NOTHING);
}

}  // namespace
