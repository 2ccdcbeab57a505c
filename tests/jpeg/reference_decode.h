// The reference decoding that every pixel test compares our decoder with. libjpeg-turbo reads
// the entropy-coded data; everything after that (dequantisation, inverse transform, chroma
// replication, colour conversion) is written out plainly in reference_decode.cpp and shares no
// code or table with jpeg/. Also used by the benchmark and terrava-reference-decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oracle {

// A decoded picture: 1 channel (grey) or 3 channels (red, green, blue), rows packed top-down.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
};

// Decodes a whole JPEG file held in memory into image. Returns "" on success, otherwise why the
// file has no reference decoding (libjpeg's error or warning, or a layout outside the decoder's:
// 1 component, or 3 with luma H, V in {1, 2} and 1x1 chroma).
std::string reference_decode(const uint8_t* data, size_t size, Image& image);

} // namespace oracle
