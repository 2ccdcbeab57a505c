// Classifying a drop of files by their count and the first one's extension.
#include "app/dropped_files.h"

DropAction classify_drop(size_t file_count, std::string_view first_file) {
    if (file_count == 0) return DropAction::NOTHING;
    if (file_count > 1) return DropAction::SEVERAL;
    constexpr std::string_view extension = ".tvt";
    if (first_file.size() <= extension.size()) return DropAction::NOT_A_TILESET;
    const std::string_view tail = first_file.substr(first_file.size() - extension.size());
    for (size_t i = 0; i < extension.size(); ++i) {
        const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
        if (c != extension[i]) return DropAction::NOT_A_TILESET;
    }
    const char before = first_file[first_file.size() - extension.size() - 1];
    return before == '\\' || before == '/' ? DropAction::NOT_A_TILESET : DropAction::OPEN_TILESET;
}
