// The tileset file through the real profile functions: what a load takes and rejects, what
// it keeps, the labels' save and reload (thousands of them, awkward texts, damaged counts),
// and the label reader's parsing compared with the profile functions' own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "app/label_store.h"
#include "app/main_window.h"
#include "app/profile_text.h"
#include "app/tileset_rules.h"
#include "app/tileset.h"
#include "app/viewport.h"
#include "tests/win32/window_fixture.h"

namespace {

std::vector<std::string> label_texts() {
    std::vector<std::string> texts;
    for (Label* label = tileset.labels; label != nullptr; label = label->next)
        texts.push_back(label->text);
    return texts;
}

Label* add_label(const char* text, int x, int y) {
    Label* label = static_cast<Label*>(calloc(1, sizeof(Label)));
    label->text = _strdup(text);
    label->x = x;
    label->y = y;
    label->next = tileset.labels;
    if (tileset.labels != nullptr) tileset.labels->prev = label;
    tileset.labels = label;
    return label;
}

std::string profile_string(const std::string& file, const char* key) {
    char value[512] = "";
    GetPrivateProfileStringA(TILESET_SECTION, key, "<missing>", value, sizeof value, file.c_str());
    return value;
}

class TilesetFile : public ::testing::Test {
protected:
    void SetUp() override {
        good_ = write_tileset("good.tvt", 256, 128, 6, 5, "MaxCache=77\r\n");
        load(good_);
        ASSERT_EQ(tileset.loaded, 1);
        reset_view();
    }
    void expect_good_tileset_kept() {
        EXPECT_EQ(tileset.tile_width, 256);
        EXPECT_EQ(tileset.tile_height, 128);
        EXPECT_EQ(tileset.tile_columns, 6);
        EXPECT_EQ(tileset.tile_rows, 5);
        EXPECT_EQ(tileset.cache_limit, 77);
        EXPECT_EQ(std::string(tileset.file_path), good_);
        EXPECT_EQ(tileset.loaded, 1);
    }
    std::string good_;
};

TEST_F(TilesetFile, LoadTakesGeometryDirectoryCacheAndHeader) {
    expect_good_tileset_kept();
    EXPECT_EQ(std::string(tileset.tile_dir), temp_path("no-tiles"));
    const BITMAPINFOHEADER& h = tileset.tile_dib_header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 256);
    EXPECT_EQ(h.biHeight, -128) << "top-down rows";
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biXPelsPerMeter, 1440);
}

TEST_F(TilesetFile, MissingMaxCacheAndTileDirTakeDefaults) {
    const std::string path = temp_path("defaults.tvt");
    write_file(path, "[Terrava 1.0]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=2\r\n");
    load(path);
    EXPECT_EQ(tileset.cache_limit, 50);
    EXPECT_STREQ(tileset.tile_dir, "");
    EXPECT_EQ(tileset.labels, nullptr);
}

TEST_F(TilesetFile, AFileInUtf16IsRefusedWithAClearReason) {
    const std::string text =
        "[Terrava 1.0]\r\nTileSizeX=32\r\nTileSizeY=16\r\nTileCountX=3\r\nTileCountY=4\r\n"
        "MaxCache=61\r\nTileDir=C:\\tiles\r\nLabelCount=1\r\nLabel1Text=lost\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string{c, '\0'};
    const std::string path = temp_path("utf16.tvt");
    write_file(path, utf16);
    const std::string before = tileset.file_path;
    const TilesetLoadResult result = load_tileset(main_window, path.c_str());
    EXPECT_EQ(result.outcome, TilesetLoadOutcome::NOT_A_TILESET);
    EXPECT_NE(std::string(result.reason).find("UTF-16"), std::string::npos) << result.reason;
    EXPECT_EQ(std::string(tileset.file_path), before) << "the open tileset stays";
    EXPECT_NE(tileset.tile_width, 32);
}

TEST_F(TilesetFile, RejectedFilesKeepThePreviousTileset) {
    struct Case { const char* name; const char* body; };
    const Case cases[] = {
        {"missing key", "[Terrava 1.0]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=2\r\n"},
        {"minus one", "[Terrava 1.0]\r\nTileSizeX=-1\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=2\r\n"},
        {"no section", "[Other]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=2\r\n"},
        {"zero size", "[Terrava 1.0]\r\nTileSizeX=0\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=2\r\n"},
        {"negative count", "[Terrava 1.0]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=-5\r\nTileCountY=2\r\n"},
        {"zero count", "[Terrava 1.0]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=0\r\n"},
        {"world too wide", "[Terrava 1.0]\r\nTileSizeX=65536\r\nTileSizeY=64\r\nTileCountX=40000\r\nTileCountY=2\r\n"},
        {"tile too big", "[Terrava 1.0]\r\nTileSizeX=60000\r\nTileSizeY=60000\r\nTileCountX=1\r\nTileCountY=1\r\n"},
    };
    add_label("kept", 1, 2);
    for (const Case& c : cases) {
        const std::string path = temp_path("rejected.tvt");
        write_file(path, c.body);
        load(path);
        SCOPED_TRACE(c.name);
        expect_good_tileset_kept();
        EXPECT_EQ(label_texts(), std::vector<std::string>{"kept"});
    }
    load(temp_path("does-not-exist.tvt"));
    expect_good_tileset_kept();
}

TEST_F(TilesetFile, ReloadKeepsScrollAndReplacesLabels) {
    scroll_x = 300;
    scroll_y = 200;
    add_label("old", 5, 5);
    const std::string other = write_tileset("other.tvt", 256, 256, 20, 20,
                                            "LabelCount=1\r\nLabel1X=7\r\nLabel1Y=8\r\nLabel1Len=3\r\nLabel1Text=new\r\n");
    load(other);
    EXPECT_EQ(scroll_x, 300);
    EXPECT_EQ(scroll_y, 200);
    ASSERT_EQ(label_texts(), std::vector<std::string>{"new"});
    EXPECT_EQ(tileset.labels->x, 7);
    EXPECT_EQ(tileset.labels->y, 8);
}

TEST_F(TilesetFile, LabelLoadOrderLenAndGaps) {
    const std::string path = write_tileset(
        "labels.tvt", 256, 256, 4, 4,
        "LabelCount=4\r\n"
        "Label1X=10\r\nLabel1Y=20\r\nLabel1Len=4\r\nLabel1Text=Harbour\r\n"
        "Label3X=-30\r\nLabel3Y=40\r\nLabel3Text=no length key\r\n"
        "Label4X=1\r\nLabel4Y=1\r\nLabel4Len=0\r\nLabel4Text=dropped\r\n"
        "Label5X=1\r\nLabel5Y=1\r\nLabel5Len=5\r\nLabel5Text=above\r\n");
    load(path);
    ASSERT_EQ(label_texts(), (std::vector<std::string>{"Harb", "", "no length key"}));
    EXPECT_EQ(tileset.labels->x, 10);
    EXPECT_EQ(tileset.labels->next->x, 0) << "label 2 has no keys: (0, 0), empty";
    EXPECT_EQ(tileset.labels->next->next->x, -30);
    EXPECT_EQ(tileset.labels->next->prev, tileset.labels);
}

TEST_F(TilesetFile, DamagedLenAndCountAreSkipped) {
    const std::string path = write_tileset(
        "damaged.tvt", 256, 256, 4, 4,
        "LabelCount=3\r\n"
        "Label1Len=-7\r\nLabel1Text=negative\r\n"
        "Label2Len=2000000000\r\nLabel2Text=absurd\r\n"
        "Label3Len=2\r\nLabel3Text=ok\r\n");
    load(path);
    EXPECT_EQ(label_texts(), std::vector<std::string>{"ok"});
    write_file(path, read_file(path) + "LabelCount=-4\r\n");
    load(path);
}

TEST_F(TilesetFile, SaveWritesHeadFirstAndReloadKeepsOrder) {
    free_all_labels();
    add_label("third", 3, 33);
    add_label("second", 2, 22);
    add_label("first", 1, 11);
    save_labels(tileset.file_path);
    EXPECT_EQ(profile_string(good_, "LabelCount"), "3");
    EXPECT_EQ(profile_string(good_, "Label1Text"), "first");
    EXPECT_EQ(profile_string(good_, "Label1Len"), "5");
    EXPECT_EQ(profile_string(good_, "Label2Y"), "22");
    load(good_);
    EXPECT_EQ(label_texts(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(tileset.labels->next->next->y, 33);

    // Delete the middle one and save: LabelCount 2, label 3's keys stay but are ignored.
    Label* middle = tileset.labels->next;
    tileset.labels->next = middle->next;
    middle->next->prev = tileset.labels;
    free_label(middle);
    SendMessageA(main_window, WM_KEYDOWN, 'S', 0);
    EXPECT_EQ(profile_string(good_, "LabelCount"), "2");
    EXPECT_EQ(profile_string(good_, "Label3Text"), "third") << "stale keys are left alone";
    load(good_);
    EXPECT_EQ(label_texts(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(profile_string(good_, "TileSizeX"), "256") << "save writes no geometry";
}

TEST_F(TilesetFile, AwkwardTextsSurviveSaveAndReloadAndReadBackThroughTheProfile) {
    free_all_labels();
    const std::string long_text(40000, 'q');
    struct Case { std::string stored, loaded; };
    const Case cases[] = {
        {"  leading", "  leading"}, {"trailing  ", "trailing  "}, {"\"quoted\"", "\"quoted\""},
        {"'single'", "'single'"}, {"mid \"dle\" ok", "mid \"dle\" ok"}, {"=;[]", "=;[]"},
        {"caf\xe9 na\xefve \xa9", "caf\xe9 na\xefve \xa9"}, {long_text, long_text},
        {"inj\r\n[Other]\r\nTileSizeX=1", "inj [Other] TileSizeX=1"}, {"a\rb\nc", "a b c"},
    };
    for (auto it = std::rbegin(cases); it != std::rend(cases); ++it) add_label(it->stored.c_str(), 0, 0);
    add_label("", 9, 9);   // empty: saved with Len 0, so it does not come back
    SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(32772, 1), 0);   // Save Tileset
    std::vector<std::string> expected;
    std::vector<char> value(50000);
    for (size_t i = 0; i < std::size(cases); ++i) {
        expected.push_back(cases[i].loaded);
        const std::string key = "Label" + std::to_string(i + 2) + "Text";
        GetPrivateProfileStringA(TILESET_SECTION, key.c_str(), "<missing>", value.data(),
                                 static_cast<DWORD>(value.size()), good_.c_str());
        EXPECT_EQ(std::string(value.data()), cases[i].loaded) << key << " through the profile functions";
    }
    EXPECT_EQ(profile_string(good_, "TileSizeX"), "256") << "no text injects a key";
    load(good_);
    EXPECT_EQ(label_texts(), expected);
}

TEST_F(TilesetFile, DamagedLabelCountLoadsOnlyTheLabelsThatExist) {
    const std::string path = write_tileset(
        "damaged-count.tvt", 256, 256, 4, 4,
        "LabelCount=2147483647\r\nLabel1X=5\r\nLabel1Len=3\r\nLabel1Text=one\r\nLabel2Text=two\r\n");
    load(path);
    EXPECT_EQ(label_texts(), (std::vector<std::string>{"one", "two"}));
}

// The section as the profile functions list it: "key=value" lines.
std::vector<std::string> section_lines(const std::string& file) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const DWORD got = GetPrivateProfileSectionA(TILESET_SECTION, buffer.data(),
                                                    static_cast<DWORD>(buffer.size()), file.c_str());
        if (got + 2 < buffer.size()) break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<std::string> lines;
    for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) lines.push_back(p);
    return lines;
}

TEST_F(TilesetFile, TenThousandLabelsRoundTripKeepingEveryOtherKey) {
    constexpr int COUNT = 10000;
    std::string stale;
    for (int n = COUNT + 1; n <= COUNT + 3; ++n)
        stale += "Label" + std::to_string(n) + "X=1\r\nLabel" + std::to_string(n) + "Text=stale\r\n";
    const std::string path = write_tileset("many.tvt", 256, 256, 40, 40,
                                           "MaxCache=99\r\nUnknownKey=kept\r\n" + stale +
                                               "\r\n[Other]\r\nLabel1Text=not ours\r\n");
    load(path);
    free_all_labels();
    std::vector<std::string> texts;
    for (int n = COUNT; n >= 1; --n) {
        texts.insert(texts.begin(), (n % 7 == 0 ? " spaced " : "label ") + std::to_string(n));
        add_label(texts.front().c_str(), n * 3, -n);
    }
    ASSERT_EQ(save_labels(path.c_str()), 0u);

    std::vector<std::string> expected = {
        "TileSizeX=256", "TileSizeY=256", "TileCountX=40", "TileCountY=40",
        "TileDir=" + temp_path("no-tiles"), "MaxCache=99", "UnknownKey=kept"};
    for (int n = COUNT + 1; n <= COUNT + 3; ++n) {
        expected.push_back("Label" + std::to_string(n) + "X=1");
        expected.push_back("Label" + std::to_string(n) + "Text=stale");
    }
    for (int n = 1; n <= COUNT; ++n) {
        const std::string key = "Label" + std::to_string(n);
        const std::string& text = texts[static_cast<size_t>(n - 1)];
        expected.push_back(key + "X=" + std::to_string(n * 3));
        expected.push_back(key + "Y=" + std::to_string(-n));
        expected.push_back(key + "Len=" + std::to_string(text.size()));
        expected.push_back(key + "Text=" + (text[0] == ' ' ? "\"" + text + "\"" : text));
    }
    expected.push_back("LabelCount=" + std::to_string(COUNT));
    const std::vector<std::string> listed = section_lines(path);
    EXPECT_EQ(listed.size(), expected.size());
    for (size_t i = 0; i < std::min(listed.size(), expected.size()); ++i)
        if (listed[i] != expected[i]) {
            ADD_FAILURE() << "line " << i << ": expected " << expected[i] << ", got " << listed[i];
            break;
        }
    EXPECT_EQ(profile_string(path, "Label7Text"), " spaced 7") << "quotes come off on reading";
    char other[64] = "";
    GetPrivateProfileStringA("Other", "Label1Text", "", other, sizeof other, path.c_str());
    EXPECT_STREQ(other, "not ours");

    load(path);
    EXPECT_EQ(label_texts(), texts);
    EXPECT_EQ(tileset.labels->x, 3);
}

TEST(ProfileParsing, AgreesWithTheProfileFunctions) {
    const std::string file =
        "Stray=before any section\r\n[Other]\r\nKey=other section\r\n"
        "  [terrava 1.0]  trailing junk\r\n"
        "\tKey \t=  \t spaced value \x1a \r\n"
        "key=second occurrence\n"
        "Quoted=\"  kept blanks  \"\r"
        "Single='x'\r\n\r\n"
        "Half=\"open\nLone=\"\nNoEquals\r\nNoEquals=shadowed\r\nEmpty=\r\n"
        "Nbsp=\xa0value\xa0\r\nHigh=\xe9t\xe9\r\nVTab=\x0bv\x0b\r\nCtrlA=\x01" "a\r\n"
        "Hex=0x1F\r\nOct=0o17\r\nBin=0b101\r\nUpperHex=0X1F\r\nSigned= -42xyz\r\nPlus=+7\r\n"
        "Wrap=4294967297\r\nJunk=abc\r\nQuotedInt=\"123\"\r\nLongInt=1234567890123456789012345678999\r\n"
        "QuotedLong=\"12345678901234567890123456789\"\r\nNegHex=-0x10\r\nSpaceInt=\" 12\"\r\n"
        "[Terrava 1.0]\r\nLater=second section\r\n";
    const std::string path = temp_path("parsing.ini");
    write_file(path, file);
    const std::vector<ProfileLine> lines = split_profile_lines(file);
    const ProfileSection section(lines, TILESET_SECTION);
    const char* keys[] = {"Key", "KEY", "Quoted", "Single", "Half", "Lone", "NoEquals", "Empty",
                          "Nbsp", "High", "VTab", "CtrlA", "Hex", "Oct", "Bin", "UpperHex",
                          "Signed", "Plus", "Wrap", "Junk", "QuotedInt", "LongInt", "QuotedLong",
                          "NegHex", "SpaceInt", "Stray", "Later", "Missing"};
    for (const char* key : keys) {
        const ProfileLine* line = section.find(fold_profile_name(key));
        char value[256] = "";
        GetPrivateProfileStringA(TILESET_SECTION, key, "<default>", value, sizeof value, path.c_str());
        EXPECT_EQ(std::string(profile_string(line, "<default>")), std::string(value)) << "string of " << key;
        EXPECT_EQ(profile_int(line, -99),
                  static_cast<int32_t>(GetPrivateProfileIntA(TILESET_SECTION, key, -99, path.c_str())))
            << "integer of " << key;
    }
}

// The text of a message box: its static controls, joined.
std::string message_box_text(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char class_name[32] = "";
        GetClassNameA(child, class_name, sizeof class_name);
        if (lstrcmpiA(class_name, "Static") == 0) text += window_text(child);
    }
    return text;
}

TEST_F(TilesetFile, RelativeTileDirIsTakenFromTheTilesetFolder) {
    const std::string folder = temp_path("relative maps");
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\tiles").c_str(), nullptr);
    CreateDirectoryA((folder + "\\tiles\\000").c_str(), nullptr);
    write_file(folder + "\\tiles\\000\\001.jpg", "not decoded here");
    write_file(folder + "\\earth.tvt",
               "[Terrava 1.0]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=2\r\n"
               "TileDir=tiles\r\n");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(temp_path("").c_str());   // another folder than the tileset's
    parse_command_line("\"relative maps\\earth.tvt\"");
    SetCurrentDirectoryA(previous);
    ASSERT_EQ(std::string(tileset.file_path), folder + "\\earth.tvt");
    EXPECT_EQ(std::string(tileset.tile_dir), folder + "\\tiles");
    // A paint from a third working directory still finds the tile file.
    const std::string tile = std::string(tileset.tile_dir) + "\\000\\001.jpg";
    EXPECT_NE(GetFileAttributesA(tile.c_str()), INVALID_FILE_ATTRIBUTES) << tile;
}

TEST_F(TilesetFile, FileRefusedOnOpenSaysWhyAndKeepsThePrevious) {
    struct Case { const char* name; const char* body; const char* words; };
    const Case cases[] = {
        {"absent.tvt", nullptr, "cannot be read"},
        {"foreign.tvt", "[Other]\r\nTileSizeX=64\r\n", "not a Terrava tileset"},
        {"no-rows.tvt", "[Terrava 1.0]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=2\r\n",
         "The key TileCountY is missing."},
        {"zero.tvt", "[Terrava 1.0]\r\nTileSizeX=0\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=2\r\n",
         "TileSizeX is 0"},
    };
    for (const Case& c : cases) {
        const std::string path = temp_path(c.name);
        DeleteFileA(path.c_str());
        if (c.body != nullptr) write_file(path, c.body);
        std::string shown;
        const bool appeared = with_dialog(
            "Terrava", [&] { parse_command_line(("\"" + path + "\"").c_str()); },
            [&](HWND box) {
                shown = message_box_text(box);
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            });
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(appeared) << "no message box for a refused file";
        EXPECT_NE(shown.find(c.words), std::string::npos)
            << "expected \"" << c.words << "\" in \"" << shown << "\"";
        EXPECT_NE(shown.find(path), std::string::npos) << "the box names the file: " << shown;
        expect_good_tileset_kept();
    }
}

// Refusals told in words: each case is opened the way a user would, and the message box's
// text must hold the words and not the raw code the system gave.
TEST_F(TilesetFile, RefusalsSayWhatHappenedInWords) {
    // A file of 1 GB, made sparse: its size is all that matters.
    const std::string huge = temp_path("huge.tvt");
    HANDLE file = CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = LONGLONG{1} << 30;
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
    const std::string not_a_number = write_tileset("abc.tvt", 256, 256, 4, 4);
    write_file(not_a_number, "[Terrava 1.0]\r\nTileSizeX=abc\r\nTileSizeY=64\r\nTileCountX=2\r\nTileCountY=2\r\n");
    const std::string long_path = "-O" + temp_path(std::string(270, 'p') + ".tvt");
    const std::string question_marks = "-O" + temp_path("??\\map.tvt");

    const struct {
        const char* what;
        std::string command_line;
        const char* words;
        const char* not_words;
    } cases[] = {
        {"TileSizeX=abc", "-O" + not_a_number, "TileSizeX is \"abc\", which is not a number", "is 0"},
        {"a 1 GB file", "-O" + huge, "too large to be a tileset file", "error 223"},
        {"a path of 284 characters", long_path, "characters long; Terrava opens paths of at most 259",
         "error"},
        {"a path with characters outside the code page", question_marks,
         "characters that Terrava cannot use (shown as ?)", "Invalid name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text;
        const bool shown = with_dialog(window_title, [&] { parse_command_line(c.command_line.c_str()); },
                                       [&](HWND box) {
                                           char buffer[1000] = "";
                                           GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
                                           text = buffer;
                                           PostMessageA(box, WM_COMMAND, IDOK, 0);
                                       });
        EXPECT_TRUE(shown) << "no message box";
        EXPECT_NE(text.find(c.words), std::string::npos) << "expected \"" << c.words << "\" in: " << text;
        EXPECT_EQ(text.find(c.not_words), std::string::npos) << "unexpected \"" << c.not_words << "\" in: " << text;
        expect_good_tileset_kept();
    }
    DeleteFileA(huge.c_str());
}

TEST_F(TilesetFile, ALabelNotLoadedKeepsItsKeysThroughASave) {
    const std::string text(70000, 'q');
    const std::string path = write_tileset("long-label.tvt", 256, 256, 4, 4,
                                           "LabelCount=2\r\nLabel1Len=70000\r\nLabel1Text=" + text +
                                               "\r\nLabel2X=5\r\nLabel2Len=4\r\nLabel2Text=kept\r\n");
    load(path);
    ASSERT_NE(tileset.labels, nullptr);
    EXPECT_STREQ(tileset.labels->text, "kept");
    EXPECT_EQ(tileset.labels->next, nullptr) << "the 70,000-character label is not loaded";
    ASSERT_EQ(save_labels(path.c_str()), 0u);
    const std::string saved = read_file(path);
    EXPECT_NE(saved.find("Len=70000\r\n"), std::string::npos) << "its Len is still in the file";
    EXPECT_NE(saved.find("Text=" + text + "\r\n"), std::string::npos) << "and its text";
    load(path);
    ASSERT_NE(tileset.labels, nullptr);
    EXPECT_STREQ(tileset.labels->text, "kept") << "the loaded label means what it meant";
    EXPECT_EQ(tileset.labels->x, 5);
}

}  // namespace
