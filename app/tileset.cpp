// Loading a tileset file and reading and writing its labels. A load validates everything it
// reads before committing, so a rejected file leaves the previous tileset untouched; a save
// replaces the file in one step and reports a failure instead of losing the labels.
#include "app/tileset.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "app/label_store.h"
#include "app/labels.h"
#include "app/main_window.h"
#include "app/profile_text.h"
#include "app/tileset_rules.h"
#include "app/user_messages.h"
#include "app/view_math.h"
#include "app/viewport.h"
#include "app/zoom_view.h"
#include "app/whole_file.h"
#include "app/wide_text.h"
#include "res/resource_ids.h"
#include "tiles/tile_cache.h"

Tileset tileset = {0, 0, 0, 0, nullptr, "", INITIAL_CACHE_LIMIT, 0, nullptr, {}, 0, {}};
int labels_unsaved = 0;
BOOL(WINAPI* replace_tileset_file)(LPCSTR, LPCSTR, DWORD) = move_file_replacing;

namespace {

// Copies UTF-8 `text` into `buffer` (FILE_PATH_CAPACITY bytes); false when it does not fit.
bool copy_path(const std::string& text, char* buffer) {
    if (text.size() >= static_cast<size_t>(FILE_PATH_CAPACITY)) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

// The labels of the open tileset file that were not loaded (a Len out of range), kept so that
// a save writes their keys back instead of over them. Main thread; replaced by each label load.
std::vector<SkippedLabel> skipped_labels;

// Runs the open-file dialog; false when the user cancels or the dialog fails. The chosen name
// comes back in UTF-8, whatever characters it holds.
bool ask_for_tileset_file(HWND owner, char* file_name) {
    wchar_t chosen[PATH_CHARACTERS] = L"";
    OPENFILENAMEW dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;   // without the later trailing fields
    dialog.hwndOwner = owner;
    dialog.hInstance = reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr));
    dialog.lpstrFilter = L"Terrava Tilesets\0*.tvt\0Text files\0*.txt;*.ini;*.cfg\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = chosen;
    dialog.nMaxFile = PATH_CHARACTERS;
    dialog.Flags = OFN_HIDEREADONLY | OFN_LONGNAMES;
    dialog.lpstrDefExt = L"tvt";
    file_name[0] = '\0';
    return GetOpenFileNameW(&dialog) != 0 && copy_path(narrow(chosen), file_name);
}

// The profile functions look for a bare file name in the Windows directory; a user naming
// a file relative to the current directory means that directory.
void make_full_path(const char* name, char* full) {
    const std::wstring wide_name = widen(name);
    wchar_t resolved[PATH_CHARACTERS];
    const DWORD length = GetFullPathNameW(wide_name.c_str(), PATH_CHARACTERS, resolved, nullptr);
    if (length > 0 && length < static_cast<DWORD>(PATH_CHARACTERS) && copy_path(narrow(resolved), full))
        return;
    lstrcpynA(full, name, FILE_PATH_CAPACITY);
}

// A file that starts with a UTF-16 byte-order mark.
bool is_utf16_text(const std::string& text) {
    return text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') ||
                                (text[0] == '\xFE' && text[1] == '\xFF'));
}

struct GeometryKey {
    const char* name;
    int32_t* value;
};

// The keys of the tileset file's section, looked up in one copy of its text.
class TilesetKeys {
public:
    explicit TilesetKeys(const std::string& text)
        : lines_(split_profile_lines(text)), section_(lines_, TILESET_SECTION) {}

    // The section exists and holds at least one key.
    bool has_keys() const { return section_.found() && !section_.entries().empty(); }
    int32_t read_int(const char* key, int32_t fallback) const {
        return profile_int(section_.find(fold_profile_name(key)), fallback);
    }
    // The value with "" as the default, cut to capacity - 1 characters as a buffer of that
    // size would take it.
    void read_string(const char* key, char* value, size_t capacity) const {
        const std::string_view text = profile_string(section_.find(fold_profile_name(key)), "");
        const size_t length = std::min(text.size(), capacity - 1);
        std::memcpy(value, text.data(), length);
        value[length] = '\0';
    }
    bool key_present(const char* key) const {
        char text[4] = "";
        read_string(key, text, sizeof text);
        return text[0] != '\0';
    }

private:
    std::vector<ProfileLine> lines_;
    ProfileSection section_;
};

// What a load takes from the file, checked before anything is committed.
struct TilesetFileContent {
    TileGeometry geometry;
    int32_t cache_limit;
    char tile_dir[TILE_DIR_PATH_BYTES];   // resolved against the file's folder, UTF-8
    OverviewLevels overviews;           // none when the keys are absent or unusable
    std::string text;                   // the whole file, for the labels
};

// The system's text for `error` in UTF-8, in `reason` (`capacity` bytes).
void system_reason(DWORD error, char* reason, size_t capacity) {
    wchar_t wide[200] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   wide, 200, nullptr);
    lstrcpynA(reason, narrow(wide).c_str(), static_cast<int>(capacity));
}

// The overview levels' folders, resolved like TileDir and present on the disk. Keys the
// viewer cannot use are ignored without a word: the map opens at 1:1 all the same.
OverviewLevels read_overviews(const char* file, const TileGeometry& geometry, const TilesetKeys& keys) {
    const auto lookup = [&keys](const char* key, std::string& value) {
        if (!keys.key_present(key)) return false;
        char text[TILE_DIR_CAPACITY];
        keys.read_string(key, text, sizeof text);
        value = text;
        return true;
    };
    const auto locate = [file](const std::string& stored, std::string& why) {
        char resolved[TILE_DIR_PATH_BYTES];
        if (!resolve_tile_dir(file, from_system_code_page(stored.c_str()).c_str(), resolved,
                              sizeof resolved) ||
            path_characters(resolved) > static_cast<size_t>(TILE_DIR_CAPACITY - 1)) {
            why = "too long";
            return std::string();
        }
        const DWORD attributes = GetFileAttributesW(widen(resolved).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            why = "no such folder";
            return std::string();
        }
        return std::string(resolved);
    };
    return read_overview_levels(geometry, lookup, locate);
}

TilesetLoadResult refuse_unreadable(DWORD error) {
    if (error == ERROR_FILE_TOO_LARGE) return load_refused_too_large(LARGEST_TILESET_FILE >> 20);
    char reason[200] = "";
    system_reason(error, reason, sizeof reason);
    for (size_t end = std::strlen(reason); end > 0 && reason[end - 1] <= ' '; --end)
        reason[end - 1] = '\0';   // the system's text ends with a line break
    if (reason[0] == '\0') std::snprintf(reason, sizeof reason, "error %lu", error);
    return load_refused_unreadable(reason);
}

// Reads `file` once into `content` and checks it. The profile functions would read a missing
// or foreign file as one full of defaults, so those are refused first.
TilesetLoadResult read_tileset_file(const char* file, TilesetFileContent& content) {
    try {
        const DWORD error = read_whole_file(file, content.text);
        if (error != 0) return refuse_unreadable(error);
        // UTF-16 would need every key read and every line rewritten in its encoding, and its
        // names may hold characters the viewer cannot use: such a file is refused whole.
        if (is_utf16_text(content.text)) return load_refused_utf16();
        const TilesetKeys keys(content.text);
        if (!keys.has_keys()) return load_refused_not_a_tileset();

        TileGeometry& geometry = content.geometry;
        const GeometryKey geometry_keys[] = {{"TileSizeX", &geometry.tile_width},
                                             {"TileSizeY", &geometry.tile_height},
                                             {"TileCountX", &geometry.tile_columns},
                                             {"TileCountY", &geometry.tile_rows}};
        char texts[4][48];
        const char* spelled[4];
        for (int i = 0; i < 4; ++i) {
            const GeometryKey& key = geometry_keys[i];
            *key.value = keys.read_int(key.name, -1);
            if (*key.value == -1)
                return load_refused_geometry_key(key.name, keys.key_present(key.name));
            keys.read_string(key.name, texts[i], sizeof texts[i]);
            spelled[i] = texts[i];
        }
        // Sizes and counts divide and multiply everywhere in the viewer: reject what they
        // cannot take.
        const TilesetLoadResult geometry_check = check_geometry(geometry, spelled);
        if (geometry_check.outcome != TilesetLoadOutcome::LOADED) return geometry_check;

        content.cache_limit = keys.read_int("MaxCache", DEFAULT_CACHE_LIMIT);
        char stored_dir[TILE_DIR_CAPACITY];
        keys.read_string("TileDir", stored_dir, sizeof stored_dir);
        // The value's bytes mean what they always meant (the system's code page); the folder
        // it is joined to may hold any character.
        if (!resolve_tile_dir(file, from_system_code_page(stored_dir).c_str(), content.tile_dir,
                              sizeof content.tile_dir) ||
            path_characters(content.tile_dir) > static_cast<size_t>(TILE_DIR_CAPACITY - 1))
            return load_refused_tile_dir_too_long(TILE_DIR_CAPACITY - 1);
        content.overviews = read_overviews(file, geometry, keys);
        return load_succeeded();
    } catch (const std::bad_alloc&) {
        return load_refused_out_of_memory();
    }
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

// A label of the list as a heap record of its own.
Label* new_label(int32_t x, int32_t y, const std::string& text) {
    Label* label = static_cast<Label*>(std::calloc(1, sizeof(Label)));
    if (label == nullptr) return nullptr;
    label->text = static_cast<char*>(std::malloc(text.size() + 1));
    if (label->text == nullptr) {
        std::free(label);
        return nullptr;
    }
    std::memcpy(label->text, text.c_str(), text.size() + 1);
    label->x = x;
    label->y = y;
    return label;
}

// Reads `file` (a missing one reads as empty), passes its text through `rewrite` and puts the
// result in place of the file in one step. Returns 0 or the system's error code.
DWORD rewrite_tileset_file(const char* file,
                           const std::function<std::string(const std::string&)>& rewrite) {
    try {
        std::string content;
        const DWORD read_error = read_whole_file(file, content);
        if (read_error != 0 && read_error != ERROR_FILE_NOT_FOUND) return read_error;
        // A file in UTF-16 would need every line rewritten in its encoding: refuse it rather
        // than add lines it cannot read.
        if (is_utf16_text(content)) return ERROR_UNSUPPORTED_TYPE;
        return replace_whole_file(file, rewrite(content), replace_tileset_file);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

void free_label(Label* label) {
    note_labels_changed();
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
    note_labels_changed();
}

TilesetLoadResult load_tileset(HWND owner, const char* file_name) {
    char chosen[FILE_PATH_CAPACITY];
    if (file_name != nullptr) {
        make_full_path(file_name, chosen);
    } else if (!ask_for_tileset_file(owner, chosen)) {
        return load_cancelled();
    }
    TilesetFileContent content;
    TilesetLoadResult result = path_has_unusable_characters(chosen)
                                   ? load_refused_unusable_name()
                                   : read_tileset_file(chosen, content);
    // The question about unsaved labels comes only for a file that can replace them; its
    // Cancel, or a save that failed, leaves everything as it was. A save there may have
    // rewritten this very file, whose labels are then read again.
    const bool labels_may_be_saved = labels_unsaved && tileset.loaded;
    if (result.outcome == TilesetLoadOutcome::LOADED && !settle_unsaved_labels(owner))
        return load_cancelled();
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
    tileset.overview_count = content.overviews.count;
    tileset.overview_dirs = std::move(content.overviews.dirs);
    clear_tile_cache();
    clear_tile_requests(tileset.tile_width, tileset.tile_height);
    tileset.cache_limit = content.cache_limit;
    std::memcpy(tileset.file_path, chosen, sizeof chosen);
    tileset.loaded = 1;
    remove_stale_temporary(tileset.file_path);   // left by a save that did not finish
    reset_zoom();   // every tileset opens at 1:1
    // The loader can start on the view while the rest of the load runs.
    queue_tiles_in_view();

    close_label_list();   // its items point at the records about to be replaced
    if (labels_may_be_saved) load_labels(tileset.file_path);
    else load_labels_from_text(content.text);
    fill_tile_dib_header();
    update_scroll_bars();
    return load_succeeded();
}

void load_labels(const char* file) {
    std::string content;
    try {
        if (read_whole_file(file, content) != 0) content.clear();
    } catch (const std::bad_alloc&) {
        content.clear();
    }
    load_labels_from_text(content);
}

void load_labels_from_text(const std::string& content) {
    free_all_labels();
    labels_unsaved = 0;
    std::vector<StoredLabel> stored;
    skipped_labels.clear();
    try {
        stored = read_stored_labels(content, &skipped_labels);
    } catch (const std::bad_alloc&) {
        return;   // labels that do not fit in memory are not loaded; the file keeps them
    }
    // Label 1 ends up at the head: insert from the last one.
    for (auto it = stored.rbegin(); it != stored.rend(); ++it) {
        Label* label = new_label(it->x, it->y, it->text);
        if (label == nullptr) continue;
        label->next = tileset.labels;
        if (tileset.labels != nullptr) tileset.labels->prev = label;
        tileset.labels = label;
    }
    note_labels_changed();
}

DWORD save_labels(const char* file) {
    const DWORD error = rewrite_tileset_file(file, [](const std::string& content) {
        std::vector<LabelToStore> labels;
        for (const Label* label = tileset.labels; label != nullptr; label = label->next)
            labels.push_back({label->x, label->y, label->text});
        return write_stored_labels(content, labels, skipped_labels);
    });
    if (error == 0) labels_unsaved = 0;
    return error;
}

DWORD store_cache_limit(const char* file, int32_t tiles) {
    return rewrite_tileset_file(file, [tiles](const std::string& content) {
        return write_profile_entries(content, TILESET_SECTION, {{"MaxCache", std::to_string(tiles)}});
    });
}

bool save_labels_or_report(HWND owner) {
    const DWORD error = save_labels(tileset.file_path);
    if (error == 0) return true;
    report_file_error(owner, IDS_LABELS_NOT_SAVED, tileset.file_path, error);
    return false;
}

bool settle_unsaved_labels(HWND owner) {
    if (!labels_unsaved || !tileset.loaded) return true;
    char format[200] = "";
    LoadStringA(app_instance, IDS_SAVE_LABELS_QUESTION, format, sizeof format);
    std::string question(std::strlen(format) + std::strlen(tileset.file_path) + 1, '\0');
    std::snprintf(&question[0], question.size(), format, tileset.file_path);
    switch (report_to_user(owner, question.c_str(), window_title, MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES: return save_labels_or_report(owner);
    case IDNO: return true;
    default: return false;
    }
}

void report_file_error(HWND owner, UINT what_string_id, const char* file, DWORD error) {
    char format[200] = "";
    LoadStringA(app_instance, what_string_id, format, sizeof format);
    char system_text[400] = "";
    system_reason(error, system_text, sizeof system_text);
    char* reason = system_text[0] != '\0' ? system_text : nullptr;
    char fallback[40];
    std::snprintf(fallback, sizeof fallback, "System error %lu.", static_cast<unsigned long>(error));
    if (reason != nullptr) {
        size_t end = std::strlen(reason);   // the system's text ends with a line break
        while (end > 0 && (reason[end - 1] == '\r' || reason[end - 1] == '\n' || reason[end - 1] == ' '))
            reason[--end] = '\0';
    }
    const char* because = reason != nullptr ? reason : fallback;
    std::string text(std::strlen(format) + std::strlen(file) + std::strlen(because) + 1, '\0');
    const int length = std::snprintf(&text[0], text.size(), format, file, because);
    if (length >= 0 && static_cast<size_t>(length) < text.size()) text.resize(static_cast<size_t>(length));
    report_to_user(owner, text.c_str(), window_title, MB_OK | MB_ICONERROR);
}
