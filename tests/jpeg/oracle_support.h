// Shared helpers for the decoder's oracle and robustness tests: running the external programs
// (ImageMagick, cjpeg, djpeg), reading their PNM output, decoding with our decoder from memory,
// and comparing two images sample by sample with a message that points at the first difference.
// The reference decoding itself is in reference_decode.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jpeg/jpeg_decoder.h"
#include "tests/jpeg/reference_decode.h"

namespace oracle {

// What our decoder made of one file.
struct DecodeOutcome {
    int32_t create_status = 0;    // status() right after create
    int32_t start_result = 0;     // start_decoding's result (not called when create failed)
    int32_t last_read_result = 0; // the read_scanline result that ended the loop
    int32_t final_status = 0;     // status() after the loop
    int rows_delivered = 0;
    bool skipped_as_too_large = false; // headers read, picture above the caller's pixel limit
    int attach_calls = 0;         // calls the decoder made on the stream, counted after destroy
    int detach_calls = 0;
    Image image;                  // rows delivered so far, converted to 1 or 3 channels
};

// How the in-memory stream (jpeg/memory_stream.h) hands out the bytes.
struct StreamBehaviour {
    int32_t chunk_size = 4096;     // at most this many bytes per read
    int64_t fail_after_bytes = -1; // once this many bytes are out, every read returns -1
    // true: the end flag comes with the last bytes; false: with a later read of 0 bytes,
    // as a file does when its length is a multiple of the read size.
    bool end_flag_with_last_bytes = true;
    // And the decoder: the scale it decodes at (1, 2, 4 or 8, set between create and
    // start_decoding).
    int32_t scale_denominator = 1;
};

// Directory for generated files, created on first use below the test's working directory
// (the build tree). Each test program passes its own name so parallel runs do not collide.
std::string work_dir(const std::string& program_name);

// Runs a shell command; on failure returns false and fills error_text with the command and the
// tail of what it wrote to stderr. Safe to call from several threads at once.
bool run_command(const std::string& command, std::string& error_text);

// Fails (returns a message) when one of the external programs the oracle needs is missing.
std::string missing_tools();

std::vector<uint8_t> read_file(const std::string& path);

// Makes a photo-like width x height picture (fixed seed) and encodes it with cjpeg and the given
// options into dir/name.jpg; a non-empty scan_script is passed with -scans. Returns the file's
// bytes, or nothing with error_text filled.
std::vector<uint8_t> make_sample_jpeg(const std::string& dir, const std::string& name, int width,
                                      int height, const std::string& cjpeg_options,
                                      const std::string& scan_script, std::string& error_text);

// Reads a binary PGM (P5) or PPM (P6) with maxval 255. Returns false on anything else.
bool read_pnm(const std::string& path, Image& image, std::string& error_text);

// Decodes a whole file from memory with our decoder, reading every row it delivers. Pictures of
// more than max_pixels pixels are only created, not decoded.
DecodeOutcome decode_with_terrava(const std::vector<uint8_t>& jpeg, StreamBehaviour behaviour = {},
                                  int64_t max_pixels = INT64_MAX);

// The same on a decoder that the caller keeps, which is finished rather than destroyed so
// that the next call reuses it.
DecodeOutcome decode_with_terrava(const std::vector<uint8_t>& jpeg, JpegDecoder& reused,
                                  StreamBehaviour behaviour = {}, int64_t max_pixels = INT64_MAX);

// Empty when two outcomes agree in every result, count and sample; otherwise what differs.
std::string outcome_difference(const DecodeOutcome& expected, const DecodeOutcome& got);

// Empty when no sample of got differs from expected by more than tolerance; otherwise names the
// file, the first such pixel (x, y, channel, expected, got), how many samples are that far off
// and the largest difference.
std::string compare_images(const std::string& file_name, const Image& expected, const Image& got,
                           int tolerance = 0);

// True when code is 0 or one of the decoder's documented error codes.
bool is_listed_status(int32_t code);

} // namespace oracle
