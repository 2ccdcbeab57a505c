// The command-line scanner. It is a character scanner, not a word splitter: a switch
// character anywhere in unquoted text counts, and an unquoted path without -O is ignored.
#include "app/command_line.h"

#include <cstring>

namespace {

// Index of the first of `stops` at or after `from` in `text` (length `length`), or `length`.
size_t find_any(const char* text, size_t length, size_t from, const char* stops) {
    for (size_t i = from; i < length; ++i)
        if (std::strchr(stops, text[i]) != nullptr) return i;
    return length;
}

// Replaces the stored path by text[begin, end); a path that does not fit leaves it empty.
void store_path(const char* text, size_t begin, size_t end, char* path, size_t capacity,
                CommandLineScan& scan) {
    size_t length = end - begin;
    if (length >= capacity) {
        path[0] = '\0';
        scan.path_too_long = true;
        scan.dropped_path = text + begin;
        scan.dropped_length = length;
        return;
    }
    std::memcpy(path, text + begin, length);
    path[length] = '\0';
    scan.path_too_long = false;
    scan.dropped_path = nullptr;
    scan.dropped_length = 0;
}

}  // namespace

CommandLineScan scan_command_line(const char* tail, char* path, size_t path_capacity) {
    CommandLineScan scan = {false, false, nullptr, 0};
    path[0] = '\0';
    if (tail == nullptr) return scan;

    const size_t length = std::strlen(tail);
    size_t i = 0;
    while (i < length) {
        const char c = tail[i];
        if (c == '"') {
            size_t end = find_any(tail, length, i + 1, "\"");
            store_path(tail, i + 1, end, path, path_capacity, scan);
            i = end + 1;
        } else if (c == '-' || c == '/') {
            const char letter = (i + 1 < length) ? tail[i + 1] : '\0';
            if (letter == 'M' || letter == 'm') {
                scan.maximise = true;
                i += 2;
            } else if (letter == 'O' || letter == 'o') {
                size_t begin = i + 2;
                size_t end;
                if (begin < length && (tail[begin] == '"' || tail[begin] == '\'')) {
                    // A quoted path runs to the next double quote; one opened with a single
                    // quote may also be closed by one.
                    const char* stops = tail[begin] == '\'' ? "\"'" : "\"";
                    ++begin;
                    end = find_any(tail, length, begin, stops);
                } else {
                    end = find_any(tail, length, begin, " \"");
                }
                store_path(tail, begin, end, path, path_capacity, scan);
                i = end + 1;
            } else {
                i += 2;  // any other switch letter (or the end of the line) is skipped with its dash
            }
        } else {
            ++i;
        }
    }
    return scan;
}

const char* skip_program_name(const char* command_line) {
    if (command_line == nullptr) return nullptr;
    const char* c = command_line;
    if (*c == '"') {
        ++c;
        while (*c != '\0' && *c != '"') ++c;
        if (*c == '"') ++c;
    } else {
        while (*c != '\0' && *c != ' ' && *c != '\t') ++c;
    }
    while (*c == ' ' || *c == '\t') ++c;
    return c;
}
