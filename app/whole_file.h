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

// The temporary file that a save of `path` writes: `path` with TEMPORARY_SUFFIX, in the same
// folder, so that the next open or save of the file finds one left by a crash. False when
// that name does not fit `capacity` characters with its NUL.
constexpr const char* TEMPORARY_SUFFIX = ".saving.tmp";
bool temporary_path_for(const char* path, char* temporary, size_t capacity);

// Removes the temporary file of an earlier save of `path` that did not finish, if any.
void remove_stale_temporary(const char* path);

// Writes `content` to the temporary file of `path` (or, when its name would be too long, to a
// new uniquely named one in `path`'s folder), flushes it, gives it the attributes and the
// access rights of `path`, and puts it in place of `path` with `move`
// (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). A read-only `path` is refused.
// Returns 0, or the system's error code with `path` untouched and the temporary file removed.
DWORD replace_whole_file(const char* path, const std::string& content,
                         BOOL(WINAPI* move)(LPCSTR, LPCSTR, DWORD));
