// Checking a tileset: the file read with the viewer's own INI reader and refusal texts, the
// tiles decoded with the viewer's own decoder, in parallel, each from one whole read of its
// file as the viewer's loader does.
#include "tools/tileset_check.h"

#include <iconv.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "app/profile_text.h"
#include "app/tileset_rules.h"
#include "jpeg/jpeg_decoder.h"
#include "jpeg/memory_stream.h"
#include "tools/tile_plan.h"

// Last: libjpeg's headers define macros (JPEG_MAX_DIMENSION) that our decoder's names share.
#include <jpeglib.h>

namespace {

constexpr const char* SECTION = "Terrava 1.0";
constexpr size_t VIEWER_TILE_DIR_CAPACITY = 260;    // TileDir read and resolved, with its NUL
constexpr size_t VIEWER_TILE_PATH_CAPACITY = 272;   // a tile's path, with its NUL

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::string with_forward_slashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// Entropy-coded data never holds FF D9 or FF DA (an FF there is followed by 00 or a restart
// number), so a complete stream has an end-of-image marker after its last start of scan.
bool ends_after_last_scan(const uint8_t* data, size_t size) {
    size_t last_scan = 0, last_end = 0;
    bool scan_seen = false, end_seen = false;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] != 0xFF) continue;
        if (data[i + 1] == 0xDA) last_scan = i, scan_seen = true;
        if (data[i + 1] == 0xD9) last_end = i, end_seen = true;
    }
    return scan_seen && end_seen && last_end > last_scan;
}

bool has_scan(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 1 < size; ++i)
        if (data[i] == 0xFF && data[i + 1] == 0xDA) return true;
    return false;
}

TileJudgement judgement(TileVerdict verdict) { return TileJudgement{verdict, 0, 0, 0, "", ""}; }

// libjpeg's messages for the peer decode: the first one kept, an error ends it by longjmp.
struct PeerErrors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char first[JMSG_LENGTH_MAX];
};

void keep_first_message(j_common_ptr decoder, int level) {
    PeerErrors* errors = reinterpret_cast<PeerErrors*>(decoder->err);
    if (level >= 0 || errors->first[0] != '\0') return;   // trace messages, later warnings
    (*decoder->err->format_message)(decoder, errors->first);
}

void on_peer_error(j_common_ptr decoder) {
    PeerErrors* errors = reinterpret_cast<PeerErrors*>(decoder->err);
    if (errors->first[0] == '\0') (*decoder->err->format_message)(decoder, errors->first);
    std::longjmp(errors->back, 1);
}

// `text` from encoding `from` into `to` (iconv's names); false when something has no
// counterpart.
bool convert_encoding(std::string_view text, const char* from, const char* to, std::string& out) {
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input(text);
    char* in = &input[0];
    size_t in_left = input.size();
    std::string buffer(input.size() * 4 + 4, '\0');
    char* next = &buffer[0];
    size_t out_left = buffer.size();
    const size_t result = iconv(converter, &in, &in_left, &next, &out_left);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1) || in_left != 0) return false;
    out.assign(buffer.data(), buffer.size() - out_left);
    return true;
}

// Languages whose Windows locales share one ANSI code page.
struct CodePageLanguages {
    const char* languages;   // blank-separated, with blanks at both ends
    int32_t code_page;
};
constexpr CodePageLanguages CODE_PAGE_LANGUAGES[] = {
    {" cs hr hu pl ro sk sl sq bs tk ", 1250},
    {" ru uk be bg mk kk ky tt mn ba sah tg ", 1251},
    {" el ", 1253},
    {" tr az uz ", 1254},
    {" he yi ", 1255},
    {" ar fa ur ps ug ", 1256},
    {" et lt lv ", 1257},
    {" vi ", 1258},
    {" th ", 874},
    {" ja ", 932},
    {" ko ", 949},
    {" hi bn pa gu or ta te kn ml as mr sa ne si km lo ka hy am bo dv ", 65001},
};

}  // namespace

std::string linux_path_of(const std::string& windows_path, const std::string& wine_prefix,
                          std::string& why) {
    const std::string& w = windows_path;
    if (w.size() >= 2 && is_separator(w[0]) && is_separator(w[1])) {
        why = "it is a network (UNC) path";
        return "";
    }
    if (w.empty() || is_separator(w[0])) return with_forward_slashes(w);   // the current drive: Z:
    const bool drive = w.size() >= 2 && w[1] == ':' &&
                       ((w[0] >= 'A' && w[0] <= 'Z') || (w[0] >= 'a' && w[0] <= 'z'));
    if (!drive) {
        why = "it is not an absolute path";
        return "";
    }
    const char letter = static_cast<char>(w[0] >= 'a' ? w[0] : w[0] - 'A' + 'a');
    if (w.size() > 2 && !is_separator(w[2])) {
        why = std::string("it is relative to the current folder of drive ") +
              static_cast<char>(letter - 'a' + 'A') + ":";
        return "";
    }
    const std::string rest = with_forward_slashes(w.substr(2));
    if (letter == 'z') return rest.empty() ? "/" : rest;
    const std::string device = wine_prefix + "/dosdevices/" + letter + ":";
    std::error_code error;
    if (wine_prefix.empty() || !std::filesystem::exists(device, error)) {
        why = std::string("drive ") + static_cast<char>(letter - 'a' + 'A') +
              ": is not in the Wine prefix " + (wine_prefix.empty() ? "(none)" : wine_prefix);
        return "";
    }
    return device + rest;
}

int32_t ansi_code_page_of_locale(const std::string& locale_name) {
    const size_t language_end = locale_name.find_first_of("_.@");
    const std::string language = locale_name.substr(0, language_end);
    const std::string country =
        language_end != std::string::npos && locale_name[language_end] == '_'
            ? locale_name.substr(language_end + 1, locale_name.find_first_of(".@", language_end) - language_end - 1)
            : "";
    if (language == "zh") return country == "TW" || country == "HK" || country == "MO" ? 950 : 936;
    if (language == "sr") return locale_name.find("@latin") != std::string::npos ? 1250 : 1251;
    for (const CodePageLanguages& entry : CODE_PAGE_LANGUAGES)
        if (!language.empty() && std::strstr(entry.languages, (" " + language + " ").c_str()) != nullptr)
            return entry.code_page;
    return 1252;
}

std::string current_ctype_locale() {
    std::string name;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            name = value;
            break;
        }
    }
    if (name.empty()) return "C";
    const locale_t installed = newlocale(LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(0));
    if (installed == static_cast<locale_t>(0)) return "C";
    freelocale(installed);
    return name;
}

bool convert_code_page(std::string_view text, int32_t code_page, bool to_utf8, std::string& out) {
    out.clear();
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || code_page == 65001) {
        out.assign(text);
        return true;
    }
    const std::string page = "CP" + std::to_string(code_page);
    return to_utf8 ? convert_encoding(text, page.c_str(), "UTF-8", out)
                   : convert_encoding(text, "UTF-8", page.c_str(), out);
}

std::string peer_complaint(const uint8_t* data, size_t size) {
    jpeg_decompress_struct decoder;
    PeerErrors errors;
    errors.first[0] = '\0';
    decoder.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = on_peer_error;
    errors.manager.emit_message = keep_first_message;
    std::vector<JSAMPLE> row;
    jpeg_create_decompress(&decoder);
    if (setjmp(errors.back) == 0) {
        jpeg_mem_src(&decoder, data, static_cast<unsigned long>(size));
        jpeg_read_header(&decoder, TRUE);
        jpeg_start_decompress(&decoder);
        row.resize(static_cast<size_t>(decoder.output_width) * decoder.output_components);
        JSAMPROW rows[1] = {row.data()};
        while (decoder.output_scanline < decoder.output_height) jpeg_read_scanlines(&decoder, rows, 1);
        jpeg_finish_decompress(&decoder);
    }
    jpeg_destroy_decompress(&decoder);
    return errors.first;
}

// The overview keys as the viewer reads them, each found one listed in `found` as its line
// says it; level folders resolved like TileDir and followed to Linux.
static OverviewLevels read_overview_keys(const ProfileSection& section, const std::string& windows_tvt,
                                  const TileGeometry& geometry, const std::string& wine_prefix,
                                  int32_t ansi_code_page, std::vector<std::string>& found) {
    const auto lookup = [&](const char* key, std::string& value) {
        const ProfileLine* line = section.find(fold_profile_name(key));
        value = std::string(profile_string(line, ""));
        if (value.size() >= VIEWER_TILE_DIR_CAPACITY) value.resize(VIEWER_TILE_DIR_CAPACITY - 1);
        if (value.empty()) return false;
        std::string shown;
        found.push_back(std::string(key) + "=" +
                        (convert_code_page(value, ansi_code_page, true, shown) ? shown : value));
        return true;
    };
    const auto locate = [&](const std::string& stored, std::string& why) {
        char resolved[VIEWER_TILE_DIR_CAPACITY];
        if (!resolve_tile_dir(windows_tvt.c_str(), stored.c_str(), resolved, sizeof resolved)) {
            why = "with the tileset's folder it makes a path longer than the viewer's limit";
            return std::string();
        }
        std::string utf8;
        if (!convert_code_page(resolved, ansi_code_page, true, utf8)) {
            why = "it holds bytes code page " + std::to_string(ansi_code_page) + " does not define";
            return std::string();
        }
        std::string folder = linux_path_of(utf8, wine_prefix, why);
        std::error_code error;
        if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
            why = "the folder " + folder + " does not exist";
            folder.clear();
        }
        if (folder.empty() && why.empty()) why = "the viewer cannot follow it";
        return folder;
    };
    return read_overview_levels(geometry, lookup, locate);
}

TilesetReading read_tileset_text(const std::string& tvt_path, std::string_view text,
                                 const std::string& wine_prefix, int32_t ansi_code_page) {
    TilesetReading reading{false, CheckedTileset{}, ""};
    // A file in UTF-16 the viewer reads through the profile functions, which hand it the
    // values in the code page.
    std::string from_utf16;
    if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
        std::string utf8;
        if (!convert_encoding(text, "UTF-16", "UTF-8", utf8) ||
            !convert_code_page(utf8, ansi_code_page, false, from_utf16)) {
            reading.error = "The file is in UTF-16 with characters code page " +
                            std::to_string(ansi_code_page) + " lacks.";
            return reading;
        }
        text = from_utf16;
    }
    const std::vector<ProfileLine> lines = split_profile_lines(text);
    const ProfileSection section(lines, SECTION);
    if (!section.found() || section.entries().empty()) {
        reading.error = load_refused_not_a_tileset().reason;
        return reading;
    }
    TileGeometry& geometry = reading.tileset.geometry;
    const struct {
        const char* name;
        int32_t* value;
    } keys[] = {{"TileSizeX", &geometry.tile_width},
                {"TileSizeY", &geometry.tile_height},
                {"TileCountX", &geometry.tile_columns},
                {"TileCountY", &geometry.tile_rows}};
    for (const auto& key : keys) {
        const ProfileLine* line = section.find(fold_profile_name(key.name));
        *key.value = profile_int(line, -1);
        if (*key.value == -1) {
            reading.error = load_refused_geometry_key(key.name, !profile_string(line, "").empty()).reason;
            return reading;
        }
    }
    const TilesetLoadResult geometry_check = check_geometry(geometry);
    if (geometry_check.outcome != TilesetLoadOutcome::LOADED) {
        reading.error = geometry_check.reason;
        return reading;
    }

    // What the viewer reads (at most 259 bytes of the code page) and resolves against the
    // file's folder as Windows names it under Wine, in the code page too.
    std::string stored(profile_string(section.find("tiledir"), ""));
    if (stored.size() >= VIEWER_TILE_DIR_CAPACITY) stored.resize(VIEWER_TILE_DIR_CAPACITY - 1);
    std::string shown;
    reading.tileset.tile_dir_as_stored = convert_code_page(stored, ansi_code_page, true, shown) ? shown : stored;
    std::string windows_tvt;
    if (!convert_code_page("Z:" + tvt_path, ansi_code_page, false, windows_tvt)) {
        reading.error = "The viewer cannot name " + tvt_path + ": code page " +
                        std::to_string(ansi_code_page) + " lacks some of its characters.";
        return reading;
    }
    std::replace(windows_tvt.begin(), windows_tvt.end(), '/', '\\');
    char resolved[VIEWER_TILE_DIR_CAPACITY];
    if (!resolve_tile_dir(windows_tvt.c_str(), stored.c_str(), resolved, sizeof resolved)) {
        reading.error = load_refused_tile_dir_too_long(VIEWER_TILE_DIR_CAPACITY - 1).reason;
        return reading;
    }
    char last_tile[VIEWER_TILE_PATH_CAPACITY];
    if (!format_tile_path(last_tile, sizeof last_tile, resolved, geometry.tile_rows - 1,
                          geometry.tile_columns - 1)) {
        reading.error = std::string("The tile paths under ") + resolved + " are longer than the "
                        "viewer's limit of 271 characters.";
        return reading;
    }
    std::string why, resolved_utf8;
    if (!convert_code_page(resolved, ansi_code_page, true, resolved_utf8)) {
        reading.error = "TileDir " + stored + " holds bytes code page " + std::to_string(ansi_code_page) +
                        " does not define.";
        return reading;
    }
    reading.tileset.tile_dir = linux_path_of(resolved_utf8, wine_prefix, why);
    if (reading.tileset.tile_dir.empty() && resolved[0] != '\0') {
        reading.error = "TileDir " + reading.tileset.tile_dir_as_stored + " cannot be followed on Linux: " + why + ".";
        return reading;
    }
    reading.tileset.overviews = read_overview_keys(section, windows_tvt, geometry, wine_prefix, ansi_code_page,
                                                   reading.tileset.overview_keys);
    reading.ok = true;
    return reading;
}

TileJudgement judge_tile_bytes(const uint8_t* data, size_t size, int32_t tile_width,
                               int32_t tile_height) {
    JpegMemoryStream stream(data, size);
    std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);   // a large object: not on the stack
    decoder->create(stream);
    TileJudgement result = judgement(TileVerdict::GOOD);
    if (decoder->status() == 0) {
        result.width = decoder->image_width();
        result.height = decoder->image_height();
    }
    int32_t outcome = decoder->status() == 0 ? decoder->start_decoding() : -1;
    const uint8_t* row = nullptr;
    int32_t length = 0;
    while (outcome == 0) outcome = decoder->read_scanline(row, length);
    if (outcome != 1) result.error_code = decoder->status() != 0 ? decoder->status() : outcome;
    // A cut file may fail in its data or be padded out to a picture; either way its cause is
    // the more useful report. One cut inside its headers just fails.
    if (has_scan(data, size) && !ends_after_last_scan(data, size))
        result.verdict = TileVerdict::TRUNCATED;
    else if (outcome != 1)
        result.verdict = TileVerdict::UNDECODABLE;
    else if (result.width != tile_width || result.height != tile_height)
        result.verdict = TileVerdict::WRONG_SIZE;
    else if (!(result.peer_complaint = peer_complaint(data, size)).empty())
        result.verdict = TileVerdict::DAMAGED;
    decoder->destroy();
    return result;
}

TileJudgement judge_tile_file(const std::string& path, int32_t tile_width, int32_t tile_height,
                              std::vector<uint8_t>& buffer) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR) return judgement(TileVerdict::MISSING);
        TileJudgement result = judgement(TileVerdict::UNREADABLE);
        result.system_error = std::strerror(errno);
        return result;
    }
    buffer.clear();
    uint8_t chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) buffer.insert(buffer.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    const int read_errno = errno;
    std::fclose(file);
    if (failed) {
        TileJudgement result = judgement(TileVerdict::UNREADABLE);
        result.system_error = std::strerror(read_errno);
        return result;
    }
    return judge_tile_bytes(buffer.data(), buffer.size(), tile_width, tile_height);
}

std::vector<TileProblem> check_all_tiles(const CheckedTileset& tileset, int32_t jobs,
                                         std::atomic<int64_t>& tiles_done) {
    return check_level_tiles(tileset.tile_dir, tileset.geometry, jobs, tiles_done);
}

std::vector<TileProblem> check_level_tiles(const std::string& folder, const TileGeometry& g,
                                           int32_t jobs, std::atomic<int64_t>& tiles_done) {
    const int64_t total = int64_t{g.tile_columns} * g.tile_rows;
    std::atomic<int64_t> next{0};
    std::mutex problems_lock;
    std::vector<TileProblem> problems;
    auto work = [&] {
        std::vector<uint8_t> buffer;
        for (int64_t i = next++; i < total; i = next++) {
            const int32_t row = static_cast<int32_t>(i / g.tile_columns);
            const int32_t column = static_cast<int32_t>(i % g.tile_columns);
            const std::string path = folder + "/" + tile_file_name(row, column);
            const TileJudgement j = judge_tile_file(path, g.tile_width, g.tile_height, buffer);
            if (j.verdict != TileVerdict::GOOD) {
                std::lock_guard<std::mutex> hold(problems_lock);
                problems.push_back(TileProblem{row, column, j});
            }
            ++tiles_done;
        }
    };
    std::vector<std::thread> threads;
    for (int32_t t = 1; t < std::max(jobs, 1); ++t) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    std::sort(problems.begin(), problems.end(), [](const TileProblem& a, const TileProblem& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    return problems;
}

CheckTally tally_problems(int64_t tile_count, const std::vector<TileProblem>& problems) {
    CheckTally t{tile_count, tile_count, 0, 0, 0, 0, 0, 0};
    for (const TileProblem& p : problems) {
        --t.good;
        switch (p.judgement.verdict) {
        case TileVerdict::GOOD: ++t.good; break;
        case TileVerdict::MISSING: ++t.missing; break;
        case TileVerdict::UNREADABLE: ++t.unreadable; break;
        case TileVerdict::UNDECODABLE: ++t.undecodable; break;
        case TileVerdict::TRUNCATED: ++t.truncated; break;
        case TileVerdict::WRONG_SIZE: ++t.wrong_size; break;
        case TileVerdict::DAMAGED: ++t.damaged; break;
        }
    }
    return t;
}

std::string describe_problem(const CheckedTileset& tileset, const TileProblem& p) {
    const TileJudgement& j = p.judgement;
    const std::string name = tile_file_name(p.row, p.column);
    char text[600];
    switch (j.verdict) {
    case TileVerdict::GOOD:
        std::snprintf(text, sizeof text, "good        %s", name.c_str());
        break;
    case TileVerdict::MISSING:
        std::snprintf(text, sizeof text, "missing     %s (row %d, column %d)", name.c_str(),
                      p.row, p.column);
        break;
    case TileVerdict::UNREADABLE:
        std::snprintf(text, sizeof text, "unreadable  %s: %s", name.c_str(), j.system_error.c_str());
        break;
    case TileVerdict::UNDECODABLE: {
        const char* code_name = jpeg_error_name(j.error_code);
        std::snprintf(text, sizeof text, "undecodable %s: error %d %s", name.c_str(),
                      static_cast<int>(j.error_code), code_name != nullptr ? code_name : "(unknown)");
        break;
    }
    case TileVerdict::TRUNCATED: {
        char cause[120] = "";
        if (j.error_code != 0) {
            const char* code_name = jpeg_error_name(j.error_code);
            std::snprintf(cause, sizeof cause, " (decoding stops with error %d %s)",
                          static_cast<int>(j.error_code), code_name != nullptr ? code_name : "(unknown)");
        }
        std::snprintf(text, sizeof text, "truncated   %s: the data ends before the end-of-image marker%s",
                      name.c_str(), cause);
        break;
    }
    case TileVerdict::WRONG_SIZE:
        std::snprintf(text, sizeof text, "wrong size  %s: %d x %d, the tileset's tiles are %d x %d",
                      name.c_str(), j.width, j.height, tileset.geometry.tile_width,
                      tileset.geometry.tile_height);
        break;
    case TileVerdict::DAMAGED:
        std::snprintf(text, sizeof text, "damaged     %s: libjpeg-turbo: %s", name.c_str(),
                      j.peer_complaint.c_str());
        break;
    }
    return text;
}

std::string summary_line(const CheckTally& t) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "%" PRId64 " tiles: %" PRId64 " good, %" PRId64 " missing, %" PRId64
                  " unreadable, %" PRId64 " failed to decode, %" PRId64 " truncated, %" PRId64
                  " of the wrong size, %" PRId64 " damaged",
                  t.tiles, t.good, t.missing, t.unreadable, t.undecodable, t.truncated,
                  t.wrong_size, t.damaged);
    return text;
}
