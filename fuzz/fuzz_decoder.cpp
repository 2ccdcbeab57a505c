// libFuzzer entry point for the JPEG decoder: one input is one file, read through an in-memory
// byte source and decoded to the last row, every row byte touched so that the sanitizers see
// any read past the row the decoder reports. Also linked into fuzz-decoder-replay.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "jpeg/jpeg_decoder.h"
#include "tests/support/memory_stream.h"

namespace {

// Headers may announce up to 8192x8192 pixels. Decoding that many from a few bytes of input
// only repeats the same paths for seconds, so larger pictures stop after their headers.
constexpr int64_t kMaxDecodedPixels = 1024 * 1024;

bool is_listed_status(int32_t code) { return jpeg_error_name(code) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 4096-byte reads with the end flag on the last bytes, as a file gives them.
  MemoryStream stream(data, size);
  std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
  decoder->create(stream);
  if (!is_listed_status(decoder->status())) std::abort();
  const int64_t pixels = int64_t(decoder->image_width()) * decoder->image_height();
  if (decoder->status() == 0 && pixels <= kMaxDecodedPixels && decoder->start_decoding() == 0) {
    const int32_t expected_length = decoder->image_width() * decoder->output_bytes_per_pixel();
    const uint8_t* row = nullptr;
    int32_t length = 0;
    int32_t rows = 0;
    uint32_t checksum = 0;
    int32_t result;
    while ((result = decoder->read_scanline(row, length)) == 0) {
      if (length != expected_length) std::abort();
      for (int32_t i = 0; i < length; ++i) checksum += row[i];
      ++rows;
    }
    if (result == 1 && (rows != decoder->image_height() || decoder->status() != 0)) std::abort();
    if (result != 1 && (result != -227 || decoder->status() == 0)) std::abort();
    // Keep the row reads from being optimised away.
    volatile uint32_t sink = checksum;
    (void)sink;
  }
  if (!is_listed_status(decoder->status())) std::abort();
  decoder->destroy();
  return 0;
}
