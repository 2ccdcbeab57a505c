// What a drop of files on the main window asks for: one tileset file (*.tvt) opens as if
// chosen in the open-file dialog; anything else is explained. Platform-free, tested natively.
#pragma once
#include <cstddef>
#include <string_view>

enum class DropAction {
    OPEN_TILESET,   // one file named *.tvt (in any case)
    NOT_A_TILESET,  // one file of another kind, or a folder
    SEVERAL,        // more than one file
    NOTHING,        // no file at all
};

DropAction classify_drop(size_t file_count, std::string_view first_file);
