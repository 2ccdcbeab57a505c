// The open tileset: geometry, tile directory, file path, cache limit and the label list, as
// read from the tileset file (INI, section "Terrava 1.0"). Labels are read from one copy of
// the file and saved by replacing the file in one step; a failed save is reported and the
// labels stay unsaved. Main thread only, except that the loader reads the tile size.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/tileset_rules.h"

constexpr const char* TILESET_SECTION = "Terrava 1.0";
// Paths are UTF-8: 260 characters take up to four bytes each.
constexpr int32_t PATH_CHARACTERS = 260;
constexpr int32_t FILE_PATH_CAPACITY = 4 * PATH_CHARACTERS;   // file_path, in bytes
constexpr int32_t TILE_DIR_CAPACITY = 260;      // TileDir as stored: characters read, with the NUL
constexpr int32_t TILE_DIR_PATH_BYTES = 4 * TILE_DIR_CAPACITY;   // TileDir resolved, in UTF-8
constexpr int32_t TILE_DIR_BLOCK = TILE_DIR_PATH_BYTES + 10;    // allocation for tile_dir
constexpr int32_t INITIAL_CACHE_LIMIT = 30;     // before the first load
constexpr int32_t DEFAULT_CACHE_LIMIT = 50;     // a file without MaxCache

// A text pinned to a world point; list newest first, head in tileset.labels.
struct Label {
    Label* next;
    Label* prev;
    int32_t x;
    int32_t y;
    char* text;   // owned, freed with the record
};

struct Tileset {
    int32_t tile_width;
    int32_t tile_height;
    int32_t tile_columns;
    int32_t tile_rows;
    char* tile_dir;                       // owned, UTF-8; null before the first load
    char file_path[FILE_PATH_CAPACITY];   // the open tileset file (UTF-8); label and MaxCache writes go here
    int32_t cache_limit;                  // most decoded tiles kept
    int loaded;                           // a tileset has been loaded
    Label* labels;                        // head of the label list
    BITMAPINFOHEADER tile_dib_header;     // shared top-down 32-bit header for every tile blit
    // Overview levels (smaller copies of the map), replaced at every load. Level k (1 to
    // overview_count) is the map shrunk by 2^k: overview_geometry(geometry, k) tiles of the same
    // size, each at overview_dirs[k - 1] + "\\RRR\\CCC.jpg" (a folder resolved like tile_dir,
    // found to exist at the load). overview_count is 0, and overview_dirs empty, for a file
    // without the keys or with keys the load ignored.
    int32_t overview_count;
    std::vector<std::string> overview_dirs;
};

// The one open tileset (main thread; the loader thread reads tile_width and tile_height).
extern Tileset tileset;

// Set when labels were added or deleted since the last load or successful save.
extern int labels_unsaved;

// The step that puts a finished temporary file in place of the tileset file (UTF-8 names);
// move_file_replacing in the product, replaceable by tests that interrupt a save.
extern BOOL(WINAPI* replace_tileset_file)(LPCSTR temporary, LPCSTR file, DWORD flags);

// Opens the tileset `file_name`, or asks for one with the open-file dialog when it is null.
// A file that cannot be used leaves everything as it was, and so does Cancel (or a failed
// save) at the question about unsaved labels; the result says why.
TilesetLoadResult load_tileset(HWND owner, const char* file_name);

// Replaces the label list by the labels stored in `file`, or in `content`, the text of a
// tileset file already read.
void load_labels(const char* file);
void load_labels_from_text(const std::string& content);

// Writes the label list (head first, as labels 1..n) and LabelCount into `file`, keeping
// every other line: the new content goes to a temporary file in the same folder, which then
// replaces the file. Returns 0, or the system's error code with the file left as it was.
DWORD save_labels(const char* file);

// Writes MaxCache = `tiles` into `file` the same way, keeping every other line. Returns 0 or
// the system's error code.
DWORD store_cache_limit(const char* file, int32_t tiles);

// Saves the labels into the open tileset file; a failure is shown in a message box owned by
// `owner` and leaves the labels unsaved. True when saved.
bool save_labels_or_report(HWND owner);

// Before unsaved labels would be lost: asks "Save labels to ...?" (Yes, No, Cancel). True
// when the caller may go on: nothing unsaved, No, or Yes with a successful save.
bool settle_unsaved_labels(HWND owner);

// Shows one message box from the string `what_string_id`, a format whose two %s take the file
// and the system's text for `error`.
void report_file_error(HWND owner, UINT what_string_id, const char* file, DWORD error);

// Unlinks nothing: frees a record's text, then the record.
void free_label(Label* label);

// Frees every label and empties the list.
void free_all_labels();
