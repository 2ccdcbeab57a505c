// The command-line scanner: a character-by-character walk over the command-line tail that
// finds the tileset path (quoted, or after -O / /O) and the maximise switch (-M / /M).
// Platform-free so it is tested natively; parse_command_line applies its result to the window.
#pragma once
#include <cstddef>

// What a scan of the command-line tail found.
struct CommandLineScan {
    bool maximise;           // -M or /M appeared in text that was not taken as a path
    bool path_too_long;      // the last path found did not fit the buffer and was dropped
    const char* dropped_path;   // that path, in the tail (not NUL-terminated), when dropped
    size_t dropped_length;      // and its length
};

// Scans `tail` (may be null). The last path found is written NUL-terminated into `path`
// (capacity `path_capacity`, at least 1); it is empty when no path was found, when the last
// one was empty, or when the last one does not fit (then path_too_long is set).
CommandLineScan scan_command_line(const char* tail, char* path, size_t path_capacity);

// The tail of a whole command line (the program's name skipped as the C runtime skips it for
// WinMain: a double-quoted name to its closing quote, else to the first blank; then blanks).
const char* skip_program_name(const char* command_line);
