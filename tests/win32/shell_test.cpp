// The viewer as a Windows citizen: the recent-tileset list (File menu, registry, missing
// files), files dropped on the window, and tilesets whose path holds any Unicode character.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/recent_tilesets.h"
#include "app/tileset.h"
#include "app/whole_file.h"
#include "res/resource_ids.h"
#include "tests/win32/window_fixture.h"

namespace {

// The message box's text, and whether one came while `trigger` ran; answered with `button`.
struct Box {
    bool shown = false;
    std::string text;
};
Box answer_box(const std::function<void()>& trigger, int button) {
    Box box;
    box.shown = with_dialog(window_title, trigger, [&](HWND dialog) {
        char text[1024] = "";
        GetDlgItemTextA(dialog, 0xFFFF, text, sizeof text);
        box.text = text;
        PostMessageA(dialog, WM_COMMAND, button, 0);
    });
    pump_messages();
    return box;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> registry_list() {
    std::vector<std::string> list;
    for (int i = 1; i <= 9; ++i) {
        char value[MAX_PATH] = "";
        DWORD bytes = sizeof value;
        const std::string name = "Recent" + std::to_string(i);
        if (RegGetValueA(HKEY_CURRENT_USER, RECENT_TILESETS_KEY, name.c_str(), RRF_RT_REG_SZ, nullptr,
                         value, &bytes) == ERROR_SUCCESS)
            list.push_back(value);
    }
    return list;
}

// The File menu's recent items, top down.
std::vector<std::string> menu_list() {
    std::vector<std::string> texts;
    HMENU file_menu = GetSubMenu(GetMenu(main_window), 0);
    for (int i = 0; i < GetMenuItemCount(file_menu); ++i) {
        const UINT id = GetMenuItemID(file_menu, i);
        if (id < CMD_RECENT_FIRST || id >= CMD_RECENT_FIRST + 8) continue;
        char text[MAX_PATH + 8] = "";
        GetMenuStringA(file_menu, i, text, sizeof text, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

void open_from_command_line(const std::string& path) {
    parse_command_line(("\"" + path + "\"").c_str());
    pump_messages();
}

TEST(RecentTilesets, NewestFirstAtMostEightKeptAcrossRunsMissingOnesExplained) {
    RegDeleteTreeA(HKEY_CURRENT_USER, RECENT_TILESETS_KEY);
    load_recent_tilesets(main_window);
    ASSERT_TRUE(menu_list().empty());
    std::vector<std::string> paths;
    for (int i = 0; i < 10; ++i) {
        paths.push_back(write_tileset("recent-" + std::to_string(i) + ".tvt", 64, 64, 4, 4));
        open_from_command_line(paths.back());
    }
    open_from_command_line(paths[5]);   // again: to the top, not twice
    const std::vector<std::string> expected = {paths[5], paths[9], paths[8], paths[7],
                                               paths[6], paths[4], paths[3], paths[2]};
    EXPECT_EQ(recent_tilesets, expected);
    EXPECT_EQ(registry_list(), expected) << "HKCU\\Software\\Terrava holds the list, no more than 8";
    std::vector<std::string> menu = menu_list();
    ASSERT_EQ(menu.size(), 8u);
    EXPECT_EQ(menu[0], "&1 " + paths[5]);
    EXPECT_EQ(menu[7], "&8 " + paths[2]);

    recent_tilesets.clear();   // as a new run finds it
    load_recent_tilesets(main_window);
    EXPECT_EQ(recent_tilesets, expected);
    EXPECT_EQ(menu_list().size(), 8u);

    SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_RECENT_FIRST + 3, 0), 0);
    EXPECT_EQ(std::string(tileset.file_path), paths[7]) << "File > 4 opens the fourth";
    EXPECT_EQ(recent_tilesets.front(), paths[7]);

    DeleteFileA(paths[9].c_str());
    const Box box = answer_box(
        [] { SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_RECENT_FIRST + 2, 0), 0); }, IDOK);
    EXPECT_TRUE(box.shown) << "a missing tileset is explained";
    EXPECT_TRUE(contains(box.text, paths[9]) && contains(box.text, "no longer there")) << box.text;
    EXPECT_EQ(std::string(tileset.file_path), paths[7]) << "the open tileset stays";
    ASSERT_EQ(recent_tilesets.size(), 7u);
    for (const std::string& entry : recent_tilesets) EXPECT_NE(entry, paths[9]);
    EXPECT_EQ(registry_list(), recent_tilesets);
    EXPECT_EQ(menu_list().size(), 7u);
}

// A drop of `files` as the shell sends it: DROPFILES with the wide names after it.
std::wstring wide(const std::string& utf8) {
    std::wstring text(utf8.size() + 1, L'\0');
    text.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], static_cast<int>(text.size())) - 1));
    return text;
}

HDROP make_drop(const std::vector<std::string>& files) {
    std::wstring names;
    for (const std::string& file : files) {
        names += wide(file);
        names += L'\0';
    }
    names += L'\0';
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    DROPFILES* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(header + 1, names.data(), names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

void drop(const std::vector<std::string>& files) {
    SendMessageA(main_window, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop(files)), 0);
}

TEST(DroppedFiles, ATilesetOpensAfterTheUnsavedLabelsQuestionAnythingElseIsExplained) {
    const std::string first = write_tileset("dropped-a.tvt", 64, 64, 4, 4);
    const std::string second = write_tileset("dropped-b.tvt", 128, 128, 4, 4);
    drop({first});
    EXPECT_EQ(std::string(tileset.file_path), first) << "a dropped tileset opens";
    EXPECT_EQ(recent_tilesets.front(), first) << "and joins the recent list";

    labels_unsaved = 1;
    for (const int answer : {IDCANCEL, IDNO}) {
        const Box box = answer_box([&] { drop({second}); }, answer);
        EXPECT_TRUE(box.shown);
        EXPECT_EQ(box.text, "Save labels to " + first + "?");
        EXPECT_EQ(std::string(tileset.file_path), answer == IDCANCEL ? first : second) << answer;
    }
    EXPECT_EQ(labels_unsaved, 0);

    const std::string picture = temp_path("dropped.jpg");
    write_file(picture, "not a tileset");
    struct Case { std::vector<std::string> files; const char* words; };
    const Case cases[] = {{{picture}, "is not a tileset file"},
                          {{first, second}, "2 files were dropped"}};
    for (const Case& c : cases) {
        const Box box = answer_box([&] { drop(c.files); }, IDOK);
        EXPECT_TRUE(box.shown);
        EXPECT_TRUE(contains(box.text, c.words)) << box.text;
        EXPECT_EQ(std::string(tileset.file_path), second) << "nothing opens";
    }
}

// ---- any file name ----

void write_wide_file(const std::string& path, const std::string& body) {
    FILE* file = _wfopen(wide(path).c_str(), L"wb");
    ASSERT_NE(file, nullptr) << "cannot write " << path;
    std::fwrite(body.data(), 1, body.size(), file);
    std::fclose(file);
}

std::string read_wide_file(const std::string& path) {
    std::string body;
    FILE* file = _wfopen(wide(path).c_str(), L"rb");
    if (file == nullptr) return body;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) body.append(chunk, got);
    std::fclose(file);
    return body;
}

TEST(AnyFileName, ATilesetInAGreekChineseEmojiFolderOpensEveryWayAndSavesItsLabels) {
    const std::string folder = temp_path(u8"Χάρτες 地图 🗺");
    for (const char* sub : {"", "\\tiles", "\\tiles\\000"})
        CreateDirectoryW(wide(folder + sub).c_str(), nullptr);
    const std::string tile = folder + "\\tiles\\000\\001.jpg";
    write_wide_file(tile, "not decoded here");
    const std::string path = folder + u8"\\κόσμος 世界.tvt";
    write_wide_file(path, "[Terrava 1.0]\r\nTileSizeX=64\r\nTileSizeY=64\r\nTileCountX=2\r\n"
                          "TileCountY=2\r\nTileDir=tiles\r\nLabelCount=1\r\nLabel1Text=before\r\n");
    const std::string other = write_tileset("any-name-other.tvt", 64, 64, 2, 2);
    labels_unsaved = 0;

    struct Way { const char* name; std::function<void()> open; };
    const Way ways[] = {
        {"command line", [&] { open_from_command_line(path); }},
        {"drop", [&] { drop({path}); }},
        {"recent list", [&] {
             ASSERT_EQ(recent_tilesets.at(1), path);
             SendMessageA(main_window, WM_COMMAND, MAKEWPARAM(CMD_RECENT_FIRST + 1, 0), 0);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        open_from_command_line(other);
        const Box refused = answer_box(way.open, IDOK);
        EXPECT_FALSE(refused.shown) << refused.text;
        ASSERT_EQ(std::string(tileset.file_path), path);
        EXPECT_EQ(std::string(tileset.tile_dir), folder + "\\tiles") << "a relative TileDir";
        EXPECT_NE(GetFileAttributesW(wide(tile).c_str()), INVALID_FILE_ATTRIBUTES);
        ASSERT_NE(tileset.labels, nullptr);
        EXPECT_STREQ(tileset.labels->text, "before");
    }

    std::free(tileset.labels->text);
    tileset.labels->text = _strdup("after");
    EXPECT_EQ(save_labels(tileset.file_path), 0u);
    EXPECT_NE(read_wide_file(path).find("Label1Text=after\r\n"), std::string::npos) << read_wide_file(path);
    recent_tilesets.clear();   // as a new run finds it
    load_recent_tilesets(main_window);
    EXPECT_EQ(recent_tilesets.at(0), path) << "the registry keeps the name";
}

}  // namespace
