// libFuzzer entry point for the JPEG decoder: one input is one file, read through an in-memory
// byte source and decoded row by row, every row byte touched so that the sanitizers see any read
// past the row the decoder reports. Pictures of any size are decoded, a large one only as far as
// a pixel budget goes, so that one run stays fast. Each input is decoded twice, by a new decoder
// and by one decoder object kept from input to input, which must agree in every row and result;
// then once more at a reduced scale (1/2, 1/4 or 1/8, by the input's length), which must end as
// the full-size decode did, after the same MCU rows.
// Also linked into fuzz-decoder-replay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "jpeg/jpeg_decoder.h"
#include "jpeg/memory_stream.h"

namespace {

// Rows are read while their pixels stay within this budget, and always one row, which decodes
// the first MCU row whole (up to 8192 x 16 pixels): pictures up to the budget to the last row,
// larger ones to their first rows.
constexpr int64_t kRowPixelBudget = 64 * 1024;
// Progressive frames, and colour frames whose components come in separate scans, are decoded
// whole into coefficient stores before the first row, each scan walking the whole block grid.
// Their scans are decoded while pixels x scans stays within this bound (say 8192 x 16 pixels in
// eight scans); a larger frame is decoded from its headers alone, with no scan, which still
// sizes its stores and reads its first rows from them.
constexpr int64_t kBufferedPixelScans = 1024 * 1024;

constexpr uint8_t kScanMarker[2] = {0xFF, 0xDA};

// Scan headers in the input: each FF DA pair may start one (entropy-coded data stuffs every FF
// it holds), so this bounds the number of scans the decoder can walk.
int64_t count_scan_markers(const uint8_t* data, size_t size) {
  int64_t count = 0;
  for (size_t i = 0; i + 1 < size; ++i)
    if (data[i] == kScanMarker[0] && data[i + 1] == kScanMarker[1]) ++count;
  return count;
}

size_t offset_of_first_scan_marker(const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 1 < size; ++i)
    if (data[i] == kScanMarker[0] && data[i + 1] == kScanMarker[1]) return i;
  return size;
}

// The part of the input the decoder gets: all of it, or for a frame that may be decoded whole
// into coefficient stores and is too large for its scans, only what comes before the first.
size_t bytes_to_decode(const JpegDecoder& headers_read, const uint8_t* data, size_t size) {
  const int64_t pixels = int64_t(headers_read.image_width()) * headers_read.image_height();
  const int64_t scans = std::max<int64_t>(1, count_scan_markers(data, size));
  const bool may_buffer =
      headers_read.state().progressive != 0 || (headers_read.component_count() > 1 && scans > 1);
  if (may_buffer && pixels * scans > kBufferedPixelScans)
    return offset_of_first_scan_marker(data, size);
  return size;
}

// The budget counts full-size rows; at a reduced scale the rows of the same MCU rows are read.
int32_t rows_to_read(const JpegDecoder& decoder) {
  const int64_t rows_in_budget = kRowPixelBudget / std::max(1, decoder.frame_width());
  const int64_t full_rows =
      std::min<int64_t>(decoder.frame_height(), std::max<int64_t>(1, rows_in_budget));
  const int32_t scale = decoder.scale_denominator();
  return int32_t((full_rows + scale - 1) / scale);
}

bool is_listed_status(int32_t code) { return jpeg_error_name(code) != nullptr; }

// What one decode gave: the results, and a checksum of every row byte.
struct Outcome {
  int32_t create_status = 0;
  int32_t start_result = 0;
  int32_t rows = 0;
  int32_t last_result = 0;
  int32_t final_status = 0;
  uint32_t checksum = 0;
  bool operator!=(const Outcome& o) const {
    return create_status != o.create_status || start_result != o.start_result ||
           rows != o.rows || last_result != o.last_result || final_status != o.final_status ||
           checksum != o.checksum;
  }
};

// Reads up to row_limit rows of a started decoder, checking each row's length and what the
// decoder reports at the end or on a failure.
void read_rows(JpegDecoder& decoder, int32_t row_limit, Outcome& outcome) {
  const int32_t expected_length = decoder.image_width() * decoder.output_bytes_per_pixel();
  const uint8_t* row = nullptr;
  int32_t length = 0;
  int32_t rows = 0;
  uint32_t checksum = 0;
  int32_t result = 0;
  while (rows < row_limit && (result = decoder.read_scanline(row, length)) == 0) {
    if (length != expected_length) std::abort();
    for (int32_t i = 0; i < length; ++i) checksum = checksum * 31 + row[i];
    ++rows;
  }
  if (rows == decoder.image_height()) {
    // Every row came: the next read must report the end, on a healthy decoder.
    if (decoder.read_scanline(row, length) != 1 || decoder.status() != 0) std::abort();
  } else if (rows < row_limit) {
    // A row failed: only as a decode failure whose cause the decoder keeps.
    if (result != -227 || decoder.status() == 0) std::abort();
  }
  outcome.rows = rows;
  outcome.last_result = result;
  outcome.checksum = checksum;
}

// Ends a decode: a kept decoder is finished (its memory serves the next input), a new one
// destroyed.
void end_decode(JpegDecoder& decoder, bool kept) {
  if (kept)
    decoder.finish();
  else
    decoder.destroy();
}

Outcome decode_input(JpegDecoder& decoder, bool kept, const uint8_t* data, size_t size,
                     int32_t scale = 1) {
  // 4096-byte reads with the end flag on the last bytes, as a file gives them. Both streams
  // outlive the decoder's use of them.
  Outcome outcome;
  JpegMemoryStream stream(data, size);
  JpegMemoryStream headers_only(data, 0);
  decoder.create(stream);
  if (!is_listed_status(decoder.status())) std::abort();
  outcome.create_status = decoder.status();
  if (decoder.status() == 0) {
    const size_t decoded_size = bytes_to_decode(decoder, data, size);
    if (decoded_size != size) {
      headers_only = JpegMemoryStream(data, decoded_size);
      end_decode(decoder, kept);
      decoder.create(headers_only);
      if (!is_listed_status(decoder.status())) std::abort();
    }
    if (decoder.status() == 0 && decoder.set_scale(scale) != 0) std::abort();
    if (decoder.status() == 0) outcome.start_result = decoder.start_decoding();
    if (decoder.status() == 0 && outcome.start_result == 0)
      read_rows(decoder, rows_to_read(decoder), outcome);
  }
  if (!is_listed_status(decoder.status())) std::abort();
  outcome.final_status = decoder.status();
  end_decode(decoder, kept);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static JpegDecoder* const kept_decoder = new JpegDecoder;
  std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
  const Outcome fresh = decode_input(*decoder, false, data, size);
  if (decode_input(*kept_decoder, true, data, size) != fresh) std::abort();
  const int32_t scale = 2 << (size % 3);
  const Outcome scaled = decode_input(*decoder, false, data, size, scale);
  if (scaled.create_status != fresh.create_status || scaled.start_result != fresh.start_result ||
      scaled.last_result != fresh.last_result || scaled.final_status != fresh.final_status ||
      scaled.rows != (fresh.rows + scale - 1) / scale)
    std::abort();
  return 0;
}
