// The labels' keys in the tileset file's text: reading all of them from one copy of the file,
// and producing the new file text that a save writes in one piece, leaving every other line
// (geometry, TileDir, MaxCache, stale label keys, unknown keys, other sections) as it was.
// No <windows.h>: tested natively.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr const char* LABEL_SECTION = "Terrava 1.0";
constexpr int32_t MAX_STORED_LABELS = 100000;       // more is taken as a damaged file
constexpr int32_t MAX_STORED_LABEL_LENGTH = 65535;  // a longer Len is damage; the dialog's limit
constexpr int32_t MISSING_LABEL_LENGTH = 255;       // Len when the key is missing

struct StoredLabel {
    int32_t x;
    int32_t y;
    std::string text;
};

// A label of the file that is not loaded because its Len is negative or above
// MAX_STORED_LABEL_LENGTH: the values of its X, Y, Len and Text keys as the file holds them
// (a missing X, Y or Text as the value that means the same), so a save can keep it.
struct SkippedLabel {
    std::string values[4];
};

// The labels of `file` in file order (label 1 first). LabelCount bounds them, and so does the
// highest label number that has any key: a damaged count creates nothing past the real keys,
// while a number without keys below that still gives an empty label at (0, 0). Labels whose
// Len is out of range go to `skipped` (when given), in file order.
std::vector<StoredLabel> read_stored_labels(std::string_view file,
                                            std::vector<SkippedLabel>* skipped = nullptr);

// A label as the writer takes it.
struct LabelToStore {
    int32_t x;
    int32_t y;
    const char* text;
};

// `file` with the labels written as labels 1..n (Label%dX, Y, Len, Text), the skipped labels
// after them as n+1..n+s with their values unchanged, and LabelCount = n + s: existing keys
// are rewritten where they stand, new ones go after the section's last line, a missing
// section is added at the end. Texts are stored on one line (see store_label_text). Loading
// the result gives the labels in the same order and skips the same labels again.
std::string write_stored_labels(std::string_view file, const std::vector<LabelToStore>& labels,
                                const std::vector<SkippedLabel>& skipped = {});

// Replaces each CR LF, lone CR and lone LF of the NUL-terminated `text` by one space, in
// place; returns the new length. Label texts are single lines, in memory and in the file.
size_t flatten_line_breaks(char* text);

// The value written for a (line-break free) text: the text itself, or the text inside one
// pair of double quotes when reading would otherwise trim blanks or strip quotes from it.
std::string store_label_text(std::string_view text);
