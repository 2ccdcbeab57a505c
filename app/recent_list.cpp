// Recent-tileset list arithmetic: order, de-duplication, the limit, removal and menu texts.
#include "app/recent_list.h"

namespace {

char folded(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return c == '/' ? '\\' : c;
}

}  // namespace

bool same_file_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (folded(a[i]) != folded(b[i])) return false;
    return true;
}

std::vector<std::string> with_recent_first(const std::vector<std::string>& list,
                                           const std::string& path) {
    if (path.empty()) return list;
    std::vector<std::string> result{path};
    for (const std::string& entry : list) {
        if (result.size() == RECENT_TILESETS_LIMIT) break;
        if (!entry.empty() && !same_file_name(entry, path)) result.push_back(entry);
    }
    return result;
}

std::vector<std::string> without_file(const std::vector<std::string>& list, std::string_view path) {
    std::vector<std::string> result;
    for (const std::string& entry : list)
        if (!same_file_name(entry, path)) result.push_back(entry);
    return result;
}

std::string recent_menu_text(size_t index, std::string_view path) {
    std::string text = "&" + std::to_string(index + 1) + " ";
    for (const char c : path) {
        if (c == '&') text += '&';
        text += c;
    }
    return text;
}
