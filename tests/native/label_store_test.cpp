// The tileset file's text as the profile functions read it, and the labels read from and
// written into it: awkward texts, stale and unknown keys, damaged counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/label_store.h"
#include "app/profile_text.h"

namespace {

// Reads keys of the section "Terrava 1.0" from a file's text.
class Lookup {
public:
    explicit Lookup(const std::string& file) : file_(file), lines(split_profile_lines(file_)) {}
    std::string string(const char* key) {
        const ProfileSection section(lines, "Terrava 1.0");
        return std::string(profile_string(section.find(fold_profile_name(key)), "<default>"));
    }
    int32_t integer(const char* key) {
        const ProfileSection section(lines, "Terrava 1.0");
        return profile_int(section.find(fold_profile_name(key)), -99);
    }

private:
    std::string file_;
    std::vector<ProfileLine> lines;
};

TEST(ProfileText, ReadsLikeTheProfileFunctions) {
    const std::string file =
        "Stray=before any section\r\n"
        "[Other]\r\nKey=other section\r\n"
        "  [terrava 1.0]  trailing junk\r\n"
        "\tKey \t=  \t spaced value \x1a \r\n"
        "key=second occurrence loses\n"
        "Quoted=\"  kept blanks  \"\r"
        "Single='x'\r\n\r\n"
        "Half=\"open\n"
        "Lone=\"\n"
        "NoEquals\r\n"
        "NoEquals=shadowed\r\n"
        "Empty=\r\n"
        "Hex=0x1F\r\nOct=0o17\r\nBin=0b101\r\nUpperHex=0X1F\r\n"
        "Signed= -42xyz\r\nPlus=+7\r\nWrap=4294967297\r\nJunk=abc\r\n"
        "QuotedInt=\"123\"\r\n"
        "LongInt=1234567890123456789012345678999\r\n"
        "[Terrava 1.0]\r\nLater=second section is never read\r\n";
    Lookup l(file);
    const struct { const char* key; std::string expected; } strings[] = {
        {"KEY", "spaced value"}, {"Quoted", "  kept blanks  "}, {"Single", "x"},
        {"Half", "\"open"}, {"Lone", "\""}, {"NoEquals", "<default>"}, {"Empty", ""},
        {"Stray", "<default>"}, {"Later", "<default>"}, {"Missing", "<default>"},
    };
    for (const auto& c : strings) EXPECT_EQ(l.string(c.key), c.expected) << "key " << c.key;
    const struct { const char* key; int32_t expected; } integers[] = {
        {"Hex", 31}, {"Oct", 15}, {"Bin", 5}, {"UpperHex", 0}, {"Signed", -42}, {"Plus", 7},
        {"Wrap", 1}, {"Junk", 0}, {"QuotedInt", 123}, {"Empty", -99}, {"NoEquals", -99},
        {"Missing", -99}, {"LongInt", 1849262357 /* the first 29 digits mod 2^32 */},
    };
    for (const auto& c : integers) EXPECT_EQ(l.integer(c.key), c.expected) << "key " << c.key;
}

std::string tileset_with(const std::string& lines) {
    return "; made by hand\r\n[Terrava 1.0]\r\nTileSizeX=256\r\nTileSizeY=256\r\nTileCountX=4\r\n"
           "TileCountY=4\r\nTileDir=C:\\maps\\tiles\r\nMaxCache=77\r\nUnknown=kept\r\n" +
           lines + "\r\n[Other]\r\nLabelCount=5\r\n";
}

std::vector<std::string> texts_of(const std::vector<StoredLabel>& labels) {
    std::vector<std::string> texts;
    for (const StoredLabel& l : labels) texts.push_back(l.text);
    return texts;
}

TEST(LabelStore, CountLenAndGapsBoundWhatLoads) {
    const struct {
        const char* name;
        std::string lines;
        std::vector<std::string> texts;
    } cases[] = {
        {"Len cuts, a gap is empty, Len 0 drops, count bounds",
         "LabelCount=4\r\nLabel1Len=4\r\nLabel1Text=Harbour\r\nLabel3Text=no len\r\n"
         "Label4Len=0\r\nLabel4Text=dropped\r\nLabel5Len=5\r\nLabel5Text=above\r\n",
         {"Harb", "", "no len"}},
        {"damaged count stops at the highest key",
         "LabelCount=2147483647\r\nLabel1Len=1\r\nLabel1Text=a\r\nLabel2Text=b\r\n", {"a", "b"}},
        {"a gap below the highest key still loads",
         "LabelCount=2147483647\r\nlabel3x=5\r\n", {"", "", ""}},
        {"keys not formed by %d do not count", "LabelCount=99\r\nLabel01X=1\r\nLabel2Z=1\r\n", {}},
        {"negative count", "LabelCount=-3\r\nLabel1Text=x\r\n", {}},
        {"damaged Len", "LabelCount=3\r\nLabel1Len=-7\r\nLabel1Text=n\r\nLabel2Len=70000\r\n"
                        "Label2Text=big\r\nLabel3Len=2\r\nLabel3Text=ok\r\n", {"ok"}},
        {"labels in another section are not ours", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(texts_of(read_stored_labels(tileset_with(c.lines))), c.texts);
    }
    EXPECT_TRUE(read_stored_labels("[Other]\r\nLabelCount=1\r\nLabel1Text=x\r\n").empty());
}

TEST(LabelStore, AwkwardTextsRoundTripAndStayOneLine) {
    const std::string long_text(40000, 'w');
    const std::vector<std::string> texts = {
        "plain", "  leading", "trailing\t", "\"quoted\"", "'single'", "\"", "\"half",
        "mid \"dle\" = ;[x]", "caf\xe9 \x80\xff", long_text, "", "\x1a" "ctrl-z\x0b"};
    std::vector<LabelToStore> labels;
    for (size_t i = 0; i < texts.size(); ++i)
        labels.push_back({static_cast<int32_t>(i) * 10 - 5, INT32_MIN + static_cast<int32_t>(i),
                          texts[i].c_str()});
    const std::string file = write_stored_labels(tileset_with(""), labels);
    const std::vector<StoredLabel> back = read_stored_labels(file);
    std::vector<std::string> expected = texts;
    expected.erase(expected.begin() + 10);   // the empty text is stored with Len 0: dropped
    EXPECT_EQ(texts_of(back), expected);
    ASSERT_EQ(back.size(), expected.size());
    EXPECT_EQ(back[1].x, 5);
    EXPECT_EQ(back[1].y, INT32_MIN + 1);

    // Line breaks become one space each, in the file and in the stored Len.
    const char* broken = "inj\r\n[Other]\rTileSizeX=1\n\n";
    const std::string injected = write_stored_labels(tileset_with(""), {{1, 2, broken}});
    EXPECT_EQ(texts_of(read_stored_labels(injected)),
              std::vector<std::string>{"inj [Other] TileSizeX=1  "});
    EXPECT_NE(injected.find("Label1Len=25\r\n"), std::string::npos) << injected;
    EXPECT_EQ(Lookup(injected).integer("TileSizeX"), 256);
    char in_place[] = "a\r\nb\rc\n\rd";
    EXPECT_EQ(flatten_line_breaks(in_place), 8u);
    EXPECT_STREQ(in_place, "a b c  d");
}

TEST(LabelStore, WritingKeepsEveryOtherLineAndRewritesKeysWhereTheyStand) {
    const std::string before = tileset_with(
        "labelcount=3\r\nLabel1X=9\r\nLabel1Text=old\r\nLabel1Text=shadowed\r\n"
        "Label3X=30\r\nLabel3Text=stale\r\n\r\n");
    const std::string after = write_stored_labels(before, {{1, 2, "new"}, {3, 4, " two"}});
    const std::string expected =
        "; made by hand\r\n[Terrava 1.0]\r\nTileSizeX=256\r\nTileSizeY=256\r\nTileCountX=4\r\n"
        "TileCountY=4\r\nTileDir=C:\\maps\\tiles\r\nMaxCache=77\r\nUnknown=kept\r\n"
        "labelcount=2\r\nLabel1X=1\r\nLabel1Text=new\r\nLabel1Text=shadowed\r\n"
        "Label3X=30\r\nLabel3Text=stale\r\n"
        "Label1Y=2\r\nLabel1Len=3\r\nLabel2X=3\r\nLabel2Y=4\r\nLabel2Len=4\r\nLabel2Text=\" two\"\r\n"
        "\r\n\r\n[Other]\r\nLabelCount=5\r\n";
    EXPECT_EQ(after, expected);
    EXPECT_EQ(write_stored_labels(after, {{1, 2, "new"}, {3, 4, " two"}}), after) << "a second save changes nothing";

    const struct { const char* name; std::string file; std::string expected; } edges[] = {
        {"no file", "", "[Terrava 1.0]\r\nLabel1X=1\r\nLabel1Y=2\r\nLabel1Len=1\r\nLabel1Text=a\r\nLabelCount=1\r\n"},
        {"no section, no final break", "[Other]\nA=1",
         "[Other]\nA=1\r\n[Terrava 1.0]\r\nLabel1X=1\r\nLabel1Y=2\r\nLabel1Len=1\r\nLabel1Text=a\r\nLabelCount=1\r\n"},
        {"section last, no final break", "[Terrava 1.0]\nTileSizeX=1",
         "[Terrava 1.0]\nTileSizeX=1\r\nLabel1X=1\r\nLabel1Y=2\r\nLabel1Len=1\r\nLabel1Text=a\r\nLabelCount=1\r\n"},
    };
    for (const auto& c : edges)
        EXPECT_EQ(write_stored_labels(c.file, {{1, 2, "a"}}), c.expected) << c.name;

    // A UTF-8 byte-order mark stays in front and does not hide the section.
    const std::string marked = "\xEF\xBB\xBF[Terrava 1.0]\r\nLabelCount=1\r\nLabel1Text=x\r\n";
    EXPECT_EQ(texts_of(read_stored_labels(marked)), std::vector<std::string>{"x"});
    EXPECT_EQ(write_stored_labels(marked, {{1, 2, "y"}}),
              "\xEF\xBB\xBF[Terrava 1.0]\r\nLabelCount=1\r\nLabel1Text=y\r\nLabel1X=1\r\nLabel1Y=2\r\n"
              "Label1Len=1\r\n");
}

TEST(LabelStore, SavingLabelsKeepsTheOverviewKeysByteForByte) {
    const std::string overview_lines = "OverviewCount=2\r\nOverview1Dir=earth\\overview1\r\n"
                                       "overview2dir = earth\\overview2\r\n";
    const std::string before = "[Terrava 1.0]\r\nTileSizeX=256\r\n" + overview_lines + "LabelCount=0\r\n";
    const std::string after = write_stored_labels(before, {{5, 6, "x"}});
    EXPECT_NE(after.find("TileSizeX=256\r\n" + overview_lines), std::string::npos)
        << "expected the overview lines unchanged after a label save, got:\n" << after;
}

TEST(LabelStore, LabelsSkippedAtLoadKeepTheirKeysThroughASave) {
    // Labels 2 (Len 70000) and 4 (a negative Len) are not loaded; a save after a delete and an
    // add must mean the same labels as before and keep theirs.
    const std::string huge(70000, 'h');
    const std::string file = tileset_with(
        "LabelCount=5\r\n"
        "Label1X=1\r\nLabel1Y=2\r\nLabel1Len=3\r\nLabel1Text=one\r\n"
        "Label2X=10\r\nLabel2Y=20\r\nLabel2Len=70000\r\nLabel2Text=" + huge + "\r\n"
        "Label3X=5\r\nLabel3Y=6\r\nLabel3Len=5\r\nLabel3Text=three\r\n"
        "Label4Len=-4\r\nLabel4Text=\"  odd \"\r\n"
        "Label5X=7\r\nLabel5Y=8\r\nLabel5Len=4\r\nLabel5Text=five\r\n");
    std::vector<SkippedLabel> skipped;
    const std::vector<StoredLabel> loaded = read_stored_labels(file, &skipped);
    EXPECT_EQ(texts_of(loaded), (std::vector<std::string>{"one", "three", "five"}));
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].values[3].size(), 70000u);
    EXPECT_EQ(skipped[1].values[0], "0") << "a missing X is kept as what it means";

    // "one" deleted, "new" added at the head.
    const std::string saved =
        write_stored_labels(file, {{9, 9, "new"}, {5, 6, "three"}, {7, 8, "five"}}, skipped);
    std::vector<SkippedLabel> skipped_again;
    const std::vector<StoredLabel> reloaded = read_stored_labels(saved, &skipped_again);
    EXPECT_EQ(texts_of(reloaded), (std::vector<std::string>{"new", "three", "five"}));
    ASSERT_EQ(skipped_again.size(), 2u) << "both skipped labels are still in the file";
    for (size_t i = 0; i < skipped.size(); ++i)
        for (int key = 0; key < 4; ++key)
            EXPECT_EQ(skipped_again[i].values[key], skipped[i].values[key])
                << "skipped label " << i << ", key " << key;
    Lookup l(saved);
    EXPECT_EQ(l.integer("LabelCount"), 5);
    EXPECT_EQ(l.string("Label4Text"), huge) << "the skipped labels follow the loaded ones";
    EXPECT_EQ(l.string("Label5Text"), "  odd ");
}

}  // namespace
