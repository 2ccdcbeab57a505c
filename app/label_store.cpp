// Label keys read from and written into the tileset file's text in one pass each, so that
// thousands of labels cost one file read or one file write instead of one per key.
#include "app/label_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/profile_text.h"

namespace {

enum LabelField { FIELD_X, FIELD_Y, FIELD_LEN, FIELD_TEXT, FIELD_COUNT };
constexpr const char* FIELD_SUFFIX[FIELD_COUNT] = {"x", "y", "len", "text"};
constexpr const char* FIELD_KEY[FIELD_COUNT] = {"Label%dX", "Label%dY", "Label%dLen", "Label%dText"};

// The label number of a folded key "label<n><field>" as the loader would form it ("%d", so no
// sign and no leading zero), or 0 when the key is no such key.
int32_t label_number_of(const std::string& folded) {
    constexpr std::string_view PREFIX = "label";
    if (folded.compare(0, PREFIX.size(), PREFIX) != 0) return 0;
    size_t i = PREFIX.size();
    if (i >= folded.size() || folded[i] < '1' || folded[i] > '9') return 0;
    int64_t number = 0;
    for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
        number = number * 10 + (folded[i] - '0');
        if (number > INT32_MAX) return 0;
    }
    const std::string_view suffix = std::string_view(folded).substr(i);
    for (const char* field : FIELD_SUFFIX)
        if (suffix == field) return static_cast<int32_t>(number);
    return 0;
}

std::string folded_key(LabelField field, int32_t number) {
    char key[40];
    std::snprintf(key, sizeof key, "label%d%s", number, FIELD_SUFFIX[field]);
    return key;
}

std::string key_name(LabelField field, int32_t number) {
    char key[40];
    std::snprintf(key, sizeof key, FIELD_KEY[field], number);
    return key;
}

int32_t highest_label_number(const ProfileSection& section) {
    int32_t highest = 0;
    for (const auto& entry : section.entries()) highest = std::max(highest, label_number_of(entry.first));
    return highest;
}

// The value of a skipped label's key as the file holds it; a missing one as the value that
// reads the same.
std::string raw_value(const ProfileLine* line, const char* missing) {
    return line != nullptr && line->has_value ? std::string(line->value) : std::string(missing);
}

}  // namespace

std::vector<StoredLabel> read_stored_labels(std::string_view file,
                                            std::vector<SkippedLabel>* skipped) {
    const std::vector<ProfileLine> lines = split_profile_lines(file);
    const ProfileSection section(lines, LABEL_SECTION);
    std::vector<StoredLabel> labels;
    if (!section.found()) return labels;
    int32_t count = profile_int(section.find("labelcount"), 0);
    count = std::min({count, highest_label_number(section), MAX_STORED_LABELS});
    for (int32_t n = 1; n <= count; ++n) {
        const ProfileLine* len_line = section.find(folded_key(FIELD_LEN, n));
        const ProfileLine* x_line = section.find(folded_key(FIELD_X, n));
        const ProfileLine* y_line = section.find(folded_key(FIELD_Y, n));
        const ProfileLine* text_line = section.find(folded_key(FIELD_TEXT, n));
        const int32_t length = profile_int(len_line, MISSING_LABEL_LENGTH);
        if (length == 0) continue;   // Len 0 drops the label
        // A negative or absurd Len is damage and sizes nothing; the label is kept for the save.
        if (length < 0 || length > MAX_STORED_LABEL_LENGTH) {
            if (skipped != nullptr)
                skipped->push_back(SkippedLabel{{raw_value(x_line, "0"), raw_value(y_line, "0"),
                                                 raw_value(len_line, ""), raw_value(text_line, "")}});
            continue;
        }
        const std::string_view text = profile_string(text_line, "");
        labels.push_back({profile_int(x_line, 0), profile_int(y_line, 0),
                          std::string(text.substr(0, static_cast<size_t>(length)))});
    }
    return labels;
}

size_t flatten_line_breaks(char* text) {
    size_t out = 0;
    for (size_t in = 0; text[in] != '\0'; ++in) {
        if (text[in] == '\r' && text[in + 1] == '\n') ++in;
        text[out++] = text[in] == '\r' || text[in] == '\n' ? ' ' : text[in];
    }
    text[out] = '\0';
    return out;
}

std::string store_label_text(std::string_view text) {
    const bool blank_at_an_end =
        !text.empty() && (is_profile_blank(text.front()) || is_profile_blank(text.back()));
    const bool quotes_would_go = text.size() > 1 && (text[0] == '"' || text[0] == '\'') &&
                                 text.back() == text[0];
    if (!blank_at_an_end && !quotes_would_go) return std::string(text);
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.push_back('"');
    quoted.append(text);
    quoted.push_back('"');
    return quoted;
}

std::string write_stored_labels(std::string_view file, const std::vector<LabelToStore>& labels,
                                const std::vector<SkippedLabel>& skipped) {
    std::vector<ProfileEntry> entries;
    entries.reserve((labels.size() + skipped.size()) * FIELD_COUNT + 1);
    int32_t number = 0;
    for (const LabelToStore& label : labels) {
        ++number;
        std::string text(label.text);
        text.resize(flatten_line_breaks(&text[0]));
        const std::string values[FIELD_COUNT] = {std::to_string(label.x), std::to_string(label.y),
                                                 std::to_string(text.size()), store_label_text(text)};
        for (int field = 0; field < FIELD_COUNT; ++field)
            entries.push_back({key_name(static_cast<LabelField>(field), number), values[field]});
    }
    for (const SkippedLabel& label : skipped) {
        ++number;
        for (int field = 0; field < FIELD_COUNT; ++field)
            entries.push_back({key_name(static_cast<LabelField>(field), number), label.values[field]});
    }
    entries.push_back({"LabelCount", std::to_string(number)});
    return write_profile_entries(file, LABEL_SECTION, entries);
}
