// The one in-memory byte source for the decoder's tests, fuzz targets and benchmarks. It serves a
// buffer it does not own in reads of bounded size, can fail on purpose, and counts what the
// decoder asked of it. Not part of the decoder: the product reads files only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "jpeg/jpeg_decoder.h"

class MemoryStream : public JpegInputStream {
public:
    // The bytes must outlive the stream.
    MemoryStream(const uint8_t* data, size_t size, int32_t chunk_size = 4096)
        : chunk_size(chunk_size), data_(data), size_(size) {}
    explicit MemoryStream(const std::vector<uint8_t>& bytes, int32_t chunk_size = 4096)
        : MemoryStream(bytes.data(), bytes.size(), chunk_size) {}

    int32_t read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) override {
        ++read_calls;
        if (read_calls == fail_on_call) return -1;
        if (fail_after_bytes >= 0 && position >= static_cast<size_t>(fail_after_bytes)) return -1;
        size_t count = std::min({size_ - position, static_cast<size_t>(max_count),
                                 static_cast<size_t>(chunk_size)});
        if (fail_after_bytes >= 0)
            count = std::min(count, static_cast<size_t>(fail_after_bytes) - position);
        if (count > 0) std::memcpy(buffer, data_ + position, count);
        position += count;
        if (position == size_ && (count == 0 || end_with_last_bytes)) end_of_stream = true;
        return static_cast<int32_t>(count);
    }
    void attach() override { ++attach_count; }
    void detach() override { ++detach_count; }

    // How reads behave; set before decoding starts.
    int32_t chunk_size;              // at most this many bytes per read
    bool end_with_last_bytes = true; // false: the end flag comes with a later read of 0 bytes,
                                     // as from a file whose length is a multiple of the read size
    int32_t fail_on_call = 0;        // this read call (counted from 1) returns -1; 0: none
    int64_t fail_after_bytes = -1;   // once this many bytes are out, every read returns -1

    // What the decoder did.
    size_t position = 0; // bytes handed out
    int32_t read_calls = 0;
    int32_t attach_count = 0;
    int32_t detach_count = 0;

private:
    const uint8_t* data_;
    size_t size_;
};
