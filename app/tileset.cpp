// Loading a tileset file and reading and writing its labels. A load validates everything it
// reads before committing, so a rejected file leaves the previous tileset untouched.
#include "app/tileset.h"

#include <commdlg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/tileset_rules.h"
#include "app/view_math.h"
#include "app/viewport.h"
#include "tiles/tile_cache.h"

Tileset tileset = {0, 0, 0, 0, nullptr, "", INITIAL_CACHE_LIMIT, 0, nullptr, {}};
void (*before_labels_replaced)() = nullptr;

namespace {

int read_profile_int(const char* key, int default_value, const char* file) {
    return static_cast<int>(GetPrivateProfileIntA(TILESET_SECTION, key, default_value, file));
}

// Runs the open-file dialog; false when the user cancels or the dialog fails.
bool ask_for_tileset_file(HWND owner, char* file_name) {
    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = 76;   // the first version of the structure, without its trailing fields
    dialog.hwndOwner = owner;
    dialog.hInstance = reinterpret_cast<HINSTANCE>(GetModuleHandleA(nullptr));
    dialog.lpstrFilter = "Terrava Tilesets\0*.tvt\0Text files\0*.txt;*.ini;*.cfg\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file_name;
    dialog.nMaxFile = FILE_PATH_CAPACITY;
    dialog.Flags = OFN_HIDEREADONLY | OFN_LONGNAMES;
    dialog.lpstrDefExt = "tvt";
    file_name[0] = '\0';
    return GetOpenFileNameA(&dialog) != 0;
}

// The profile functions look for a bare file name in the Windows directory; a user naming
// a file relative to the current directory means that directory.
void make_full_path(const char* name, char* full) {
    char resolved[FILE_PATH_CAPACITY];
    DWORD length = GetFullPathNameA(name, FILE_PATH_CAPACITY, resolved, nullptr);
    if (length > 0 && length < static_cast<DWORD>(FILE_PATH_CAPACITY))
        std::memcpy(full, resolved, length + 1);
    else
        lstrcpynA(full, name, FILE_PATH_CAPACITY);
}

struct GeometryKey {
    const char* name;
    int32_t* value;
};

bool key_present(const char* key, const char* file) {
    char text[4] = "";
    return GetPrivateProfileStringA(TILESET_SECTION, key, "", text, sizeof text, file) > 0;
}

// What a load takes from the file, checked before anything is committed.
struct TilesetFileContent {
    TileGeometry geometry;
    int32_t cache_limit;
    char tile_dir[TILE_DIR_CAPACITY];   // resolved against the file's folder
};

// Reads `file` into `content` and checks it. The profile functions would read a missing or
// foreign file as one full of defaults, so those are refused first.
TilesetLoadResult read_tileset_file(const char* file, TilesetFileContent& content) {
    HANDLE handle = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        char reason[200] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, reason, sizeof reason, nullptr);
        for (size_t end = std::strlen(reason); end > 0 && reason[end - 1] <= ' '; --end)
            reason[end - 1] = '\0';   // the system's text ends with a line break
        if (reason[0] == '\0') std::snprintf(reason, sizeof reason, "error %lu", error);
        return load_refused_unreadable(reason);
    }
    CloseHandle(handle);
    char key_names[4] = "";
    if (GetPrivateProfileStringA(TILESET_SECTION, nullptr, "", key_names, sizeof key_names,
                                 file) == 0)
        return load_refused_not_a_tileset();

    TileGeometry& geometry = content.geometry;
    const GeometryKey keys[] = {{"TileSizeX", &geometry.tile_width},
                                {"TileSizeY", &geometry.tile_height},
                                {"TileCountX", &geometry.tile_columns},
                                {"TileCountY", &geometry.tile_rows}};
    for (const GeometryKey& key : keys) {
        *key.value = read_profile_int(key.name, -1, file);
        if (*key.value == -1)
            return load_refused_geometry_key(key.name, key_present(key.name, file));
    }
    // Sizes and counts divide and multiply everywhere in the viewer: reject what they cannot take.
    const TilesetLoadResult geometry_check = check_geometry(geometry);
    if (geometry_check.outcome != TilesetLoadOutcome::LOADED) return geometry_check;

    content.cache_limit = read_profile_int("MaxCache", DEFAULT_CACHE_LIMIT, file);
    char stored_dir[TILE_DIR_CAPACITY];
    GetPrivateProfileStringA(TILESET_SECTION, "TileDir", "", stored_dir, sizeof stored_dir, file);
    if (!resolve_tile_dir(file, stored_dir, content.tile_dir, sizeof content.tile_dir))
        return load_refused_tile_dir_too_long(TILE_DIR_CAPACITY - 1);
    return load_succeeded();
}

void fill_tile_dib_header() {
    BITMAPINFOHEADER& h = tileset.tile_dib_header;
    std::memset(&h, 0, sizeof h);
    h.biSize = 40;
    h.biWidth = tileset.tile_width;
    h.biHeight = -tileset.tile_height;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    h.biXPelsPerMeter = 1440;
    h.biYPelsPerMeter = 1440;
}

// A stored text that the profile functions would not give back unchanged (leading or
// trailing blanks, or enclosing quotes, which reading strips) is written inside one pair of
// double quotes; reading strips exactly that pair again.
bool needs_quoting(const char* text) {
    size_t length = std::strlen(text);
    if (length == 0) return false;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (blank(text[0]) || blank(text[length - 1])) return true;
    if (length >= 2 && (text[0] == '"' || text[0] == '\'') && text[length - 1] == text[0])
        return true;
    return false;
}

}  // namespace

void free_label(Label* label) {
    std::free(label->text);
    std::free(label);
}

void free_all_labels() {
    Label* label = tileset.labels;
    while (label != nullptr) {
        Label* next = label->next;
        free_label(label);
        label = next;
    }
    tileset.labels = nullptr;
}

TilesetLoadResult load_tileset(HWND owner, const char* file_name) {
    char chosen[FILE_PATH_CAPACITY];
    if (file_name != nullptr) {
        make_full_path(file_name, chosen);
    } else if (!ask_for_tileset_file(owner, chosen)) {
        return load_cancelled();
    }
    TilesetFileContent content;
    TilesetLoadResult result = read_tileset_file(chosen, content);
    char* tile_dir = nullptr;
    if (result.outcome == TilesetLoadOutcome::LOADED) {
        tile_dir = static_cast<char*>(std::malloc(TILE_DIR_BLOCK));
        if (tile_dir == nullptr) result = load_refused_out_of_memory();
    }
    if (result.outcome != TilesetLoadOutcome::LOADED) {
        lstrcpynA(result.file, chosen, sizeof result.file);
        return result;
    }
    std::memcpy(tile_dir, content.tile_dir, sizeof content.tile_dir);

    tileset.loaded = 0;
    tileset.tile_width = content.geometry.tile_width;
    tileset.tile_height = content.geometry.tile_height;
    tileset.tile_columns = content.geometry.tile_columns;
    tileset.tile_rows = content.geometry.tile_rows;
    std::free(tileset.tile_dir);
    tileset.tile_dir = tile_dir;
    clear_tile_cache();
    clear_tile_requests(tileset.tile_width, tileset.tile_height);
    tileset.cache_limit = content.cache_limit;
    std::memcpy(tileset.file_path, chosen, sizeof chosen);
    tileset.loaded = 1;

    if (before_labels_replaced != nullptr) before_labels_replaced();
    load_labels(tileset.file_path);
    fill_tile_dib_header();
    update_scroll_bars();
    return load_succeeded();
}

void load_labels(const char* file) {
    free_all_labels();
    int32_t count = read_profile_int("LabelCount", 0, file);
    if (count > MAX_LABEL_COUNT) count = MAX_LABEL_COUNT;

    char key[100];
    for (int32_t i = count; i >= 1; --i) {
        Label* label = static_cast<Label*>(std::calloc(1, sizeof(Label)));
        if (label == nullptr) continue;
        std::snprintf(key, sizeof key, "Label%dX", i);
        label->x = read_profile_int(key, 0, file);
        std::snprintf(key, sizeof key, "Label%dY", i);
        label->y = read_profile_int(key, 0, file);
        std::snprintf(key, sizeof key, "Label%dLen", i);
        const int32_t length = read_profile_int(key, 255, file);
        // Len 0 drops the label; a negative or absurd Len is damage and must not size anything.
        if (length <= 0 || length > MAX_LABEL_LENGTH) {
            std::free(label);
            continue;
        }
        // Room for a pair of quotes that a save may have put around the text; the text itself
        // is then cut to Len characters.
        label->text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 3));
        if (label->text == nullptr) {
            std::free(label);
            continue;
        }
        std::snprintf(key, sizeof key, "Label%dText", i);
        GetPrivateProfileStringA(TILESET_SECTION, key, "", label->text,
                                 static_cast<DWORD>(length) + 3, file);
        label->text[length] = '\0';
        label->next = tileset.labels;
        if (tileset.labels != nullptr) tileset.labels->prev = label;
        tileset.labels = label;
    }
}

void save_labels(const char* file) {
    char key[100];
    char value[100];
    int32_t index = 1;
    for (Label* label = tileset.labels; label != nullptr; label = label->next, ++index) {
        std::snprintf(key, sizeof key, "Label%dX", index);
        std::snprintf(value, sizeof value, "%d", label->x);
        WritePrivateProfileStringA(TILESET_SECTION, key, value, file);
        std::snprintf(key, sizeof key, "Label%dY", index);
        std::snprintf(value, sizeof value, "%d", label->y);
        WritePrivateProfileStringA(TILESET_SECTION, key, value, file);
        std::snprintf(key, sizeof key, "Label%dLen", index);
        std::snprintf(value, sizeof value, "%d", static_cast<int>(std::strlen(label->text)));
        WritePrivateProfileStringA(TILESET_SECTION, key, value, file);
        std::snprintf(key, sizeof key, "Label%dText", index);
        if (needs_quoting(label->text)) {
            size_t length = std::strlen(label->text);
            char* quoted = static_cast<char*>(std::malloc(length + 3));
            if (quoted != nullptr) {
                quoted[0] = '"';
                std::memcpy(quoted + 1, label->text, length);
                quoted[length + 1] = '"';
                quoted[length + 2] = '\0';
                WritePrivateProfileStringA(TILESET_SECTION, key, quoted, file);
                std::free(quoted);
            }
        } else {
            WritePrivateProfileStringA(TILESET_SECTION, key, label->text, file);
        }
    }
    std::snprintf(value, sizeof value, "%d", index - 1);
    WritePrivateProfileStringA(TILESET_SECTION, "LabelCount", value, file);
}
