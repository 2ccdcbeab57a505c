// The decoder's one in-memory byte source: it serves a buffer it does not own in reads of
// bounded size, flags the end with the last bytes (or, on request, with a later empty read, as
// a file whose length is a multiple of the read size does), and counts what the decoder asked
// of it. The tile loader, the tools, the fuzz target, the benchmarks and the tests all use it;
// the tests also make it fail on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "jpeg/jpeg_decoder.h"

class JpegMemoryStream : public JpegInputStream {
public:
  // The bytes must outlive the stream.
  JpegMemoryStream(const uint8_t* data, size_t size, int32_t chunk_size = JPEG_INPUT_BUFFER_SIZE)
      : chunk_size(chunk_size), data_(data), size_(size) {}
  explicit JpegMemoryStream(const std::vector<uint8_t>& bytes,
                            int32_t chunk_size = JPEG_INPUT_BUFFER_SIZE)
      : JpegMemoryStream(bytes.data(), bytes.size(), chunk_size) {}

  int32_t read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) override {
    ++read_calls;
    if (read_calls == fail_on_call) return -1;
    if (fail_after_bytes >= 0 && position >= static_cast<size_t>(fail_after_bytes)) return -1;
    size_t count = size_ - position;
    if (max_count < 0) max_count = 0;
    if (count > static_cast<size_t>(max_count)) count = static_cast<size_t>(max_count);
    if (chunk_size > 0 && count > static_cast<size_t>(chunk_size))
      count = static_cast<size_t>(chunk_size);
    if (fail_after_bytes >= 0 && count > static_cast<size_t>(fail_after_bytes) - position)
      count = static_cast<size_t>(fail_after_bytes) - position;
    if (count > 0) std::memcpy(buffer, data_ + position, count);
    position += count;
    if (position == size_ && (count == 0 || end_with_last_bytes)) end_of_stream = true;
    return static_cast<int32_t>(count);
  }
  void attach() override { ++attach_count; }
  void detach() override { ++detach_count; }

  // How reads behave; set before decoding starts.
  int32_t chunk_size;              // at most this many bytes per read
  bool end_with_last_bytes = true; // false: the end flag comes with a later read of 0 bytes
  int32_t fail_on_call = 0;        // this read call (counted from 1) returns -1; 0: none
  int64_t fail_after_bytes = -1;   // once this many bytes are out, every read returns -1

  // What the decoder did.
  size_t position = 0;  // bytes handed out
  int32_t read_calls = 0;
  int32_t attach_count = 0;
  int32_t detach_count = 0;

private:
  const uint8_t* data_;
  size_t size_;
};
