// The open tileset: geometry, tile directory, file path, cache limit and the label list, as
// read from and written to the tileset file (INI, section "Terrava 1.0") through the Win32
// profile functions. Main thread only, except that the loader reads the tile size.
#pragma once
#include <windows.h>

#include <cstdint>

#include "app/tileset_rules.h"

constexpr const char* TILESET_SECTION = "Terrava 1.0";
constexpr int32_t FILE_PATH_CAPACITY = 260;     // file_path and the open-file dialog's buffer
constexpr int32_t TILE_DIR_BLOCK = 270;         // allocation for tile_dir
constexpr int32_t TILE_DIR_CAPACITY = 260;      // characters read into it, with the NUL
constexpr int32_t INITIAL_CACHE_LIMIT = 30;     // before the first load
constexpr int32_t DEFAULT_CACHE_LIMIT = 50;     // a file without MaxCache
constexpr int32_t MAX_LABEL_COUNT = 100000;     // more is taken as a damaged file
constexpr int32_t MAX_LABEL_LENGTH = 65535;     // longer stored Len is taken as damage

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
    char* tile_dir;                       // owned; null before the first load
    char file_path[FILE_PATH_CAPACITY];   // the open tileset file; label and MaxCache writes go here
    int32_t cache_limit;                  // most decoded tiles kept
    int loaded;                           // a tileset has been loaded
    Label* labels;                        // head of the label list
    BITMAPINFOHEADER tile_dib_header;     // shared top-down 32-bit header for every tile blit
};

// The one open tileset (main thread; the loader thread reads tile_width and tile_height).
extern Tileset tileset;

// Hook run at the commit of every successful load, before the labels are replaced; the label
// list box uses it to let go of the records it points at. May be null.
extern void (*before_labels_replaced)();

// Opens the tileset `file_name`, or asks for one with the open-file dialog when it is null.
// A file that cannot be used leaves everything as it was; the result says why.
TilesetLoadResult load_tileset(HWND owner, const char* file_name);

// Replaces the label list by the labels stored in `file`.
void load_labels(const char* file);

// Writes the label list (head first, as labels 1..n) and LabelCount into `file`.
void save_labels(const char* file);

// Unlinks nothing: frees a record's text, then the record.
void free_label(Label* label);

// Frees every label and empties the list.
void free_all_labels();
