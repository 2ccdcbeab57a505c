// Reading a small text file whole and replacing one in a single step, for the tileset file:
// a save writes a temporary file next to it and moves that over it, so an interrupted save
// leaves either the old file or the new one.
#pragma once
#include <windows.h>

#include <string>

constexpr DWORD LARGEST_TILESET_FILE = 256u << 20;   // bytes; a bigger file is not a tileset file

// Paths are UTF-8 and reach the system through its wide-character functions.

// MoveFileExW for UTF-8 names: the step that puts a finished file in place.
BOOL WINAPI move_file_replacing(LPCSTR from, LPCSTR to, DWORD flags);

// Reads `path` into `content`. Returns 0, or the system's error code (ERROR_FILE_NOT_FOUND
// for a missing file).
DWORD read_whole_file(const char* path, std::string& content);

// Writes `content` to a new temporary file in `path`'s folder, flushes it, and puts it in
// place of `path` with `move` (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). A read-only
// `path` is refused. Returns 0, or the system's error code with `path` untouched and the
// temporary file removed.
DWORD replace_whole_file(const char* path, const std::string& content,
                         BOOL(WINAPI* move)(LPCSTR, LPCSTR, DWORD));
