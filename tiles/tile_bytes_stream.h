// A byte source for the decoder over a tile file's bytes already in memory: the loader reads
// each tile file whole, with one system call, and decodes from there. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

#include "jpeg/jpeg_decoder.h"

class TileBytesStream : public JpegInputStream {
public:
    // The bytes stay the caller's and must outlive the stream.
    TileBytesStream(const uint8_t* bytes, size_t size) : bytes(bytes), size(size), position(0) {}
    int32_t read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) override;

private:
    const uint8_t* bytes;
    size_t size;
    size_t position;
};
