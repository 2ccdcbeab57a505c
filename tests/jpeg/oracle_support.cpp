// Shared helpers for the decoder's oracle and robustness tests (see oracle_support.h): external
// tools, PNM reading, in-memory decoding with our decoder and pixel-exact comparison.
#include "tests/jpeg/oracle_support.h"

#include "jpeg/memory_stream.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace oracle {

std::string work_dir(const std::string& program_name) {
    std::string dir = "generated-" + program_name;
    mkdir(dir.c_str(), 0755);
    return dir;
}

bool run_command(const std::string& command, std::string& error_text) {
    static std::atomic<int> counter{0};
    std::string log = "stderr-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".txt";
    int rc = std::system((command + " 2>" + log).c_str());
    if (rc == 0) {
        std::remove(log.c_str());
        return true;
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    std::string tail = text.str();
    if (tail.size() > 600) tail = "..." + tail.substr(tail.size() - 600);
    error_text = "command failed (status " + std::to_string(rc) + "): " + command + "\n" + tail;
    std::remove(log.c_str());
    return false;
}

std::string missing_tools() {
    std::string missing;
    for (const char* tool : {"convert", "cjpeg", "djpeg"}) {
        std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
        if (std::system(probe.c_str()) != 0) missing += std::string(" ") + tool;
    }
    if (missing.empty()) return "";
    return "missing external programs:" + missing +
           " (ImageMagick and libjpeg-turbo-progs; scripts/setup installs them)";
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> make_sample_jpeg(const std::string& dir, const std::string& name, int width,
                                      int height, const std::string& cjpeg_options,
                                      const std::string& scan_script, std::string& error_text) {
    const std::string base = dir + "/" + name;
    std::string options = cjpeg_options;
    if (!scan_script.empty()) {
        std::ofstream(base + "-scans.txt") << scan_script;
        options += " -scans " + base + "-scans.txt";
    }
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (!run_command("convert -seed 11 -size 64x64 plasma:fractal -resize '" + size +
                         "!' -attenuate 0.5 +noise Gaussian -depth 8 -type TrueColor " + base +
                         ".ppm", error_text) ||
        !run_command("cjpeg " + options + " -outfile " + base + ".jpg " + base + ".ppm", error_text))
        return {};
    return read_file(base + ".jpg");
}

namespace {

// Reads one PNM header number, skipping white space and comments.
bool read_pnm_number(const std::vector<uint8_t>& bytes, size_t& pos, int& value) {
    while (pos < bytes.size()) {
        if (bytes[pos] == '#') {
            while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
        } else if (std::isspace(bytes[pos])) {
            ++pos;
        } else {
            break;
        }
    }
    if (pos >= bytes.size() || !std::isdigit(bytes[pos])) return false;
    value = 0;
    while (pos < bytes.size() && std::isdigit(bytes[pos])) value = value * 10 + (bytes[pos++] - '0');
    return true;
}

} // namespace

bool read_pnm(const std::string& path, Image& image, std::string& error_text) {
    std::vector<uint8_t> bytes = read_file(path);
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) {
        error_text = path + ": not a binary PGM or PPM";
        return false;
    }
    image.channels = bytes[1] == '5' ? 1 : 3;
    size_t pos = 2;
    int maxval = 0;
    if (!read_pnm_number(bytes, pos, image.width) || !read_pnm_number(bytes, pos, image.height) ||
        !read_pnm_number(bytes, pos, maxval) || maxval != 255 || pos >= bytes.size()) {
        error_text = path + ": bad PNM header";
        return false;
    }
    ++pos; // the single white-space byte before the samples
    size_t sample_count = static_cast<size_t>(image.width) * image.height * image.channels;
    if (bytes.size() - pos < sample_count) {
        error_text = path + ": PNM data shorter than its header says";
        return false;
    }
    image.pixels.assign(bytes.begin() + pos, bytes.begin() + pos + sample_count);
    return true;
}

namespace {

// Ends a decode: a decoder of its own is destroyed, a reused one finished.
void end_decode(JpegDecoder& decoder, bool reused) {
    if (reused)
        decoder.finish();
    else
        decoder.destroy();
}

DecodeOutcome decode_on(JpegDecoder* decoder, bool reused, const std::vector<uint8_t>& jpeg,
                        StreamBehaviour behaviour, int64_t max_pixels) {
    DecodeOutcome outcome;
    JpegMemoryStream stream(jpeg, behaviour.chunk_size);
    stream.fail_after_bytes = behaviour.fail_after_bytes;
    stream.end_with_last_bytes = behaviour.end_flag_with_last_bytes;
    decoder->create(stream);
    outcome.create_status = decoder->status();
    outcome.final_status = outcome.create_status;
    // The frame's size decides, so that a file is decoded or skipped alike at every scale.
    const int64_t pixels = int64_t(decoder->frame_width()) * decoder->frame_height();
    outcome.skipped_as_too_large = pixels > max_pixels;
    if (outcome.create_status != 0 || outcome.skipped_as_too_large) {
        end_decode(*decoder, reused);
        outcome.attach_calls = stream.attach_count;
        outcome.detach_calls = stream.detach_count;
        return outcome;
    }
    if (behaviour.scale_denominator != 1 && decoder->set_scale(behaviour.scale_denominator) != 0)
        outcome.start_result = -2000; // refused scale: reported by the caller
    else
        outcome.start_result = decoder->start_decoding();
    if (outcome.start_result == 0) {
        Image& image = outcome.image;
        image.width = decoder->image_width();
        image.height = decoder->image_height();
        const int bytes_per_pixel = decoder->output_bytes_per_pixel();
        image.channels = bytes_per_pixel == 1 ? 1 : 3;
        image.pixels.reserve(static_cast<size_t>(image.width) * image.height * image.channels);
        for (;;) {
            const uint8_t* row = nullptr;
            int32_t length = 0;
            outcome.last_read_result = decoder->read_scanline(row, length);
            if (outcome.last_read_result != 0) break;
            if (length != image.width * bytes_per_pixel || row == nullptr) {
                outcome.last_read_result = -1000; // malformed row: reported by the caller
                break;
            }
            for (int x = 0; x < image.width; ++x)
                for (int c = 0; c < image.channels; ++c)
                    image.pixels.push_back(row[x * bytes_per_pixel + c]);
            ++outcome.rows_delivered;
        }
    }
    outcome.final_status = decoder->status();
    end_decode(*decoder, reused);
    outcome.attach_calls = stream.attach_count;
    outcome.detach_calls = stream.detach_count;
    return outcome;
}

} // namespace

DecodeOutcome decode_with_terrava(const std::vector<uint8_t>& jpeg, StreamBehaviour behaviour,
                                  int64_t max_pixels) {
    // The decoder object is large; it lives on the heap like the viewer's.
    std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
    return decode_on(decoder.get(), false, jpeg, behaviour, max_pixels);
}

DecodeOutcome decode_with_terrava(const std::vector<uint8_t>& jpeg, JpegDecoder& reused,
                                  StreamBehaviour behaviour, int64_t max_pixels) {
    return decode_on(&reused, true, jpeg, behaviour, max_pixels);
}

std::string outcome_difference(const DecodeOutcome& expected, const DecodeOutcome& got) {
    std::ostringstream message;
    const auto field = [&message](const char* name, int64_t want, int64_t have) {
        if (want != have) message << name << " expected " << want << ", got " << have << "; ";
    };
    field("create status", expected.create_status, got.create_status);
    field("start result", expected.start_result, got.start_result);
    field("last read result", expected.last_read_result, got.last_read_result);
    field("final status", expected.final_status, got.final_status);
    field("rows", expected.rows_delivered, got.rows_delivered);
    field("attach calls", expected.attach_calls, got.attach_calls);
    field("detach calls", expected.detach_calls, got.detach_calls);
    if (expected.image.pixels != got.image.pixels) {
        const auto& a = expected.image.pixels;
        const auto& b = got.image.pixels;
        size_t i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
        message << "pixels differ from sample " << i << " on (" << a.size() << " expected, "
                << b.size() << " got)";
    }
    return message.str();
}

std::string compare_images(const std::string& file_name, const Image& expected, const Image& got,
                           int tolerance) {
    std::ostringstream message;
    if (expected.width != got.width || expected.height != got.height ||
        expected.channels != got.channels) {
        message << file_name << ": expected " << expected.width << "x" << expected.height << " with "
                << expected.channels << " channel(s), got " << got.width << "x" << got.height
                << " with " << got.channels << " channel(s)";
        return message.str();
    }
    if (got.pixels.size() != expected.pixels.size()) {
        message << file_name << ": expected " << expected.height << " rows, got "
                << got.pixels.size() / (static_cast<size_t>(got.width) * got.channels);
        return message.str();
    }
    size_t differing = 0;
    int largest_difference = 0;
    size_t first = expected.pixels.size();
    for (size_t i = 0; i < expected.pixels.size(); ++i) {
        int difference = std::abs(int(expected.pixels[i]) - int(got.pixels[i]));
        if (difference <= tolerance) continue;
        if (first == expected.pixels.size()) first = i;
        ++differing;
        largest_difference = std::max(largest_difference, difference);
    }
    if (differing == 0) return "";
    static const char* const channel_names[] = {"red", "green", "blue"};
    size_t pixel = first / expected.channels;
    int channel = static_cast<int>(first % expected.channels);
    message << file_name << ": first difference at x=" << pixel % expected.width
            << " y=" << pixel / expected.width << " channel "
            << (expected.channels == 1 ? "grey" : channel_names[channel]) << ": expected "
            << int(expected.pixels[first]) << ", got " << int(got.pixels[first]) << "; "
            << differing << " of " << expected.pixels.size() << " samples differ by more than "
            << tolerance << ", largest difference " << largest_difference;
    return message.str();
}

bool is_listed_status(int32_t code) { return jpeg_error_name(code) != nullptr; }

} // namespace oracle
