// Parsing an INI file's text the way the Win32 profile functions do, so the label loader can
// read the whole tileset file once and the label writer can rewrite it in one pass.
#include "app/profile_text.h"

bool is_profile_blank(char c) { return (c >= '\t' && c <= '\r') || c == ' ' || c == '\x1a'; }

namespace {

// `content` is where the line's text starts: after `begin`, past a byte-order mark.
ProfileLine parse_line(std::string_view file, size_t begin, size_t content, size_t end, size_t next) {
    ProfileLine line{ProfileLine::BLANK, begin, end, next, {}, {}, false};
    size_t first = content;
    size_t last = end;
    while (first < last && is_profile_blank(file[first])) ++first;
    while (last > first && is_profile_blank(file[last - 1])) --last;
    if (first == last) return line;
    if (file[first] == '[') {
        // The name runs to the last ']' of the line; a line without one is an entry.
        size_t close = last;
        while (close > first + 1 && file[close - 1] != ']') --close;
        if (close > first + 1) {
            line.kind = ProfileLine::SECTION;
            line.name = file.substr(first + 1, close - 1 - (first + 1));
            return line;
        }
    }
    line.kind = ProfileLine::ENTRY;
    const std::string_view text = file.substr(first, last - first);
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        line.name = text;
        return line;
    }
    size_t name_end = equals;
    while (name_end > 0 && is_profile_blank(text[name_end - 1])) --name_end;
    size_t value_begin = equals + 1;
    while (value_begin < text.size() && is_profile_blank(text[value_begin])) ++value_begin;
    line.name = text.substr(0, name_end);
    line.value = text.substr(value_begin);
    line.has_value = true;
    return line;
}

// The part of a name or value that the profile functions see: up to the first NUL.
std::string_view up_to_nul(std::string_view text) {
    const size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

bool names_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool enclosed_in_quotes(std::string_view value) {
    return value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
}

}  // namespace

std::vector<ProfileLine> split_profile_lines(std::string_view file) {
    std::vector<ProfileLine> lines;
    // A UTF-8 byte-order mark is not part of the first line's text (the bytes stay in place).
    const size_t mark = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    size_t begin = 0;
    while (begin < file.size()) {
        size_t end = begin == 0 ? mark : begin;
        while (end < file.size() && file[end] != '\r' && file[end] != '\n') ++end;
        size_t next = end;
        while (next < file.size() && (file[next] == '\r' || file[next] == '\n')) ++next;
        lines.push_back(parse_line(file, begin, begin == 0 ? mark : begin, end, next));
        begin = next;
    }
    return lines;
}

std::string fold_profile_name(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

ProfileSection::ProfileSection(const std::vector<ProfileLine>& lines, std::string_view section)
    : lines_(lines) {
    size_t i = 0;
    for (; i < lines.size(); ++i)
        if (lines[i].kind == ProfileLine::SECTION && names_equal(up_to_nul(lines[i].name), section))
            break;
    if (i == lines.size()) return;
    found_ = true;
    header_line_ = i;
    insertion_line_ = i + 1;
    for (++i; i < lines.size() && lines[i].kind != ProfileLine::SECTION; ++i) {
        if (lines[i].kind == ProfileLine::BLANK) continue;
        insertion_line_ = i + 1;
        entries_.emplace(fold_profile_name(up_to_nul(lines[i].name)), i);   // keeps the first
    }
}

const ProfileLine* ProfileSection::find(const std::string& folded_key) const {
    const size_t index = find_index(folded_key);
    return index == SIZE_MAX ? nullptr : &lines_[index];
}

size_t ProfileSection::find_index(const std::string& folded_key) const {
    const auto it = entries_.find(folded_key);
    return it == entries_.end() ? SIZE_MAX : it->second;
}

std::string_view profile_string(const ProfileLine* line, std::string_view fallback) {
    if (line == nullptr || !line->has_value) return fallback;
    const std::string_view value = up_to_nul(line->value);
    if (enclosed_in_quotes(value)) return value.substr(1, value.size() - 2);
    return value;
}

int32_t profile_int(const ProfileLine* line, int32_t fallback) {
    if (line == nullptr || !line->has_value) return fallback;
    // The functions read the number through a 30-character buffer; a quoted value whose
    // closing quote does not fit loses its last copied character instead.
    constexpr size_t BUFFER = 30;
    std::string_view value = up_to_nul(line->value);
    const bool quoted = enclosed_in_quotes(value);
    if (quoted) value.remove_prefix(1);
    std::string_view text = value.substr(0, BUFFER - 1);
    if (quoted && BUFFER >= value.size()) text.remove_suffix(1);
    if (text.empty()) return fallback;

    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        if (text[i + 1] == 'x') base = 16;
        else if (text[i + 1] == 'o') base = 8;
        else if (text[i + 1] == 'b') base = 2;
        if (base != 10) i += 2;
    }
    uint32_t total = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        uint32_t digit = 99;
        if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'z') digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'Z') digit = static_cast<uint32_t>(c - 'A' + 10);
        if (digit >= base) break;
        total = total * base + digit;
    }
    if (negative) total = 0u - total;
    return static_cast<int32_t>(total);
}

std::string write_profile_entries(std::string_view file, std::string_view section_name,
                                  const std::vector<ProfileEntry>& entries) {
    const std::vector<ProfileLine> lines = split_profile_lines(file);
    const ProfileSection section(lines, section_name);
    // Keys already in the section are rewritten on their own line; the rest are new lines.
    std::vector<const ProfileEntry*> replacement(lines.size(), nullptr);
    std::string new_lines;
    for (const ProfileEntry& entry : entries) {
        const size_t index = section.found() ? section.find_index(fold_profile_name(entry.name)) : SIZE_MAX;
        if (index != SIZE_MAX) {
            replacement[index] = &entry;
        } else {
            new_lines.append(entry.name).append("=").append(entry.value).append("\r\n");
        }
    }

    std::string out;
    out.reserve(file.size() + new_lines.size() + 64);
    // New lines go right after the first line break of the section's last line, so blank
    // lines that separate it from the next section stay after them.
    const size_t insert_after = section.found() ? section.insertion_line() - 1 : SIZE_MAX;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ProfileLine& line = lines[i];
        if (replacement[i] != nullptr) {
            out.append(line.name).append("=").append(replacement[i]->value);
        } else {
            out.append(file.substr(line.begin, line.end - line.begin));
        }
        std::string_view breaks = file.substr(line.end, line.next - line.end);
        if (i == insert_after && !new_lines.empty()) {
            const size_t first_break = breaks.compare(0, 2, "\r\n") == 0 ? 2 : breaks.empty() ? 0 : 1;
            out.append(first_break == 0 ? std::string_view("\r\n") : breaks.substr(0, first_break));
            out.append(new_lines);
            breaks.remove_prefix(first_break);
        }
        out.append(breaks);
    }
    if (!section.found()) {
        if (!lines.empty() && lines.back().end == lines.back().next) out.append("\r\n");
        out.append("[").append(section_name).append("]\r\n").append(new_lines);
    }
    return out;
}
