// The text of an INI file read the way the Win32 profile functions read it: lines split at
// runs of CR and LF, blanks trimmed, "[name]" sections, "key=value" entries, names matched
// without regard to ASCII case, the first matching section and the first matching key in it
// winning, and values unquoted on read. No <windows.h>: tested natively, and compared with
// the real profile functions under Wine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One line of the file. `begin`..`end` is the line without its line break, `next` the start
// of the following line; name and value are the trimmed parts of an entry.
struct ProfileLine {
    enum Kind { BLANK, SECTION, ENTRY };
    Kind kind;
    size_t begin;
    size_t end;
    size_t next;
    std::string_view name;    // section name (between the brackets) or key
    std::string_view value;   // after '=' (trimmed); empty when there is none
    bool has_value;           // the entry has an '='
};

// Blanks as the profile functions trim them: tab to carriage return, space and Ctrl+Z.
bool is_profile_blank(char c);

// The file's lines in order.
std::vector<ProfileLine> split_profile_lines(std::string_view file);

// Lower-cases ASCII letters; the key under which a name is indexed.
std::string fold_profile_name(std::string_view name);

// The entries of the first section named `section`, as a lookup from folded key to the line
// of its first occurrence.
class ProfileSection {
public:
    ProfileSection(const std::vector<ProfileLine>& lines, std::string_view section);

    bool found() const { return found_; }
    // Index of the section's header line (valid when found).
    size_t header_line() const { return header_line_; }
    // One past the section's last line that is not blank (header_line + 1 when it is empty).
    size_t insertion_line() const { return insertion_line_; }
    // The line of `folded_key`'s first occurrence, or nullptr.
    const ProfileLine* find(const std::string& folded_key) const;
    // Index of that line in the file's lines, or SIZE_MAX.
    size_t find_index(const std::string& folded_key) const;
    // Every folded key with its line index, for callers that scan all keys.
    const std::unordered_map<std::string, size_t>& entries() const { return entries_; }

private:
    const std::vector<ProfileLine>& lines_;
    bool found_ = false;
    size_t header_line_ = 0;
    size_t insertion_line_ = 0;
    std::unordered_map<std::string, size_t> entries_;
};

// What GetPrivateProfileString gives for `line` with a buffer large enough: the value up to
// any NUL, with one enclosing pair of matching quotes (' or ") removed. `fallback` when the
// key is missing or has no '='.
std::string_view profile_string(const ProfileLine* line, std::string_view fallback);

// What GetPrivateProfileInt gives for `line`: the first 29 characters of the unquoted value
// read as an optionally signed integer (decimal, or with a 0x, 0o or 0b prefix), stopping at
// the first character that is no digit, wrapping modulo 2^32; `fallback` when the key is
// missing, has no '=' or its value is empty.
int32_t profile_int(const ProfileLine* line, int32_t fallback);

// A key and the value to write for it.
struct ProfileEntry {
    std::string name;
    std::string value;
};

// `file` with each entry written into the first section named `section`, as the profile
// functions write a key: an existing key is rewritten on its own line (keeping its spelling),
// a new one goes after the section's last line, a missing section is added at the end. Every
// other byte of the file stays. Values must not contain line breaks.
std::string write_profile_entries(std::string_view file, std::string_view section,
                                  const std::vector<ProfileEntry>& entries);
