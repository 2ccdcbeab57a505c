// The list of recently opened tilesets as values: newest first, each file once, at most eight,
// and the File-menu text for each. Paths are compared as Windows compares file names (ASCII
// letters in either case, / and \ alike). Platform-free, tested natively; recent_tilesets.cpp
// keeps the list in the registry and the menu.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t RECENT_TILESETS_LIMIT = 8;

bool same_file_name(std::string_view a, std::string_view b);

// `list` with `path` put first: an earlier entry for the same file is dropped, and the list is
// cut to RECENT_TILESETS_LIMIT. An empty path changes nothing.
std::vector<std::string> with_recent_first(const std::vector<std::string>& list,
                                           const std::string& path);

// `list` without any entry for the file `path`.
std::vector<std::string> without_file(const std::vector<std::string>& list, std::string_view path);

// The menu text of entry `index` (from 0): "&1 PATH" ... "&8 PATH", every '&' of the path
// doubled so that it shows as itself.
std::string recent_menu_text(size_t index, std::string_view path);
