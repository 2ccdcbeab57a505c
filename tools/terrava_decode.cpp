// terrava-decode: decodes one JPEG file with Terrava's own decoder and writes it as a binary
// PPM (colour) or PGM (grey). It is the command-line face of the decoder, for comparing its
// output with other decoders and for trying files the viewer refuses.
// Usage: terrava-decode IN.jpg OUT.pnm; on failure prints "CODE NAME" and exits with 1.
#include <cstdio>
#include <cstdint>
#include <memory>
#include <vector>

#include "jpeg/jpeg_decoder.h"

namespace {

const char* error_name(int32_t code) {
  switch (code) {
    case JPEG_OK: return "OK";
    case ERR_DHT_TOO_MANY_CODES: return "ERR_DHT_TOO_MANY_CODES";
    case ERR_DHT_BAD_TABLE: return "ERR_DHT_BAD_TABLE";
    case ERR_DHT_BAD_LENGTH: return "ERR_DHT_BAD_LENGTH";
    case ERR_DQT_BAD_LENGTH: return "ERR_DQT_BAD_LENGTH";
    case ERR_DQT_BAD_TABLE: return "ERR_DQT_BAD_TABLE";
    case ERR_SOF_BAD_PRECISION: return "ERR_SOF_BAD_PRECISION";
    case ERR_SOF_BAD_HEIGHT: return "ERR_SOF_BAD_HEIGHT";
    case ERR_SOF_BAD_WIDTH: return "ERR_SOF_BAD_WIDTH";
    case ERR_SOF_TOO_MANY_COMPONENTS: return "ERR_SOF_TOO_MANY_COMPONENTS";
    case ERR_SOF_BAD_LENGTH: return "ERR_SOF_BAD_LENGTH";
    case ERR_SEGMENT_BAD_LENGTH: return "ERR_SEGMENT_BAD_LENGTH";
    case ERR_DRI_BAD_LENGTH: return "ERR_DRI_BAD_LENGTH";
    case ERR_SOS_BAD_LENGTH: return "ERR_SOS_BAD_LENGTH";
    case ERR_SOS_BAD_COMPONENT: return "ERR_SOS_BAD_COMPONENT";
    case ERR_UNSUPPORTED_CODING: return "ERR_UNSUPPORTED_CODING";
    case ERR_UNEXPECTED_MARKER: return "ERR_UNEXPECTED_MARKER";
    case ERR_NO_SOI: return "ERR_NO_SOI";
    case ERR_UNSUPPORTED_FRAME: return "ERR_UNSUPPORTED_FRAME";
    case ERR_DQT_TRUNCATED: return "ERR_DQT_TRUNCATED";
    case ERR_POOL_FULL: return "ERR_POOL_FULL";
    case ERR_MISSING_QUANT_TABLE: return "ERR_MISSING_QUANT_TABLE";
    case ERR_MISSING_HUFF_TABLE: return "ERR_MISSING_HUFF_TABLE";
    case ERR_UNSUPPORTED_COMPONENTS: return "ERR_UNSUPPORTED_COMPONENTS";
    case ERR_UNSUPPORTED_SAMPLING: return "ERR_UNSUPPORTED_SAMPLING";
    case ERR_BAD_HUFFMAN_DATA: return "ERR_BAD_HUFFMAN_DATA";
    case ERR_BAD_RESTART: return "ERR_BAD_RESTART";
    case ERR_TOO_MANY_BLOCKS: return "ERR_TOO_MANY_BLOCKS";
    case ERR_BAD_PROGRESSIVE_SCAN: return "ERR_BAD_PROGRESSIVE_SCAN";
    case ERR_BAD_SUCCESSIVE_APPROX: return "ERR_BAD_SUCCESSIVE_APPROX";
    case ERR_STREAM_READ: return "ERR_STREAM_READ";
    case ERR_OUT_OF_MEMORY: return "ERR_OUT_OF_MEMORY";
  }
  return "ERR_UNKNOWN";
}

int fail(const char* in_path, int32_t code) {
  std::fprintf(stderr, "terrava-decode: %s: %d %s\n", in_path, static_cast<int>(code),
               error_name(code));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: terrava-decode IN.jpg OUT.pnm\n"
                         "Writes a binary PPM for colour images and a PGM for grey ones.\n");
    return 2;
  }
  const char* in_path = argv[1];
  const char* out_path = argv[2];

  JpegFileStream stream;
  if (!stream.open(in_path)) {
    std::fprintf(stderr, "terrava-decode: cannot open %s\n", in_path);
    return 1;
  }
  std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);  // large object: heap, not stack
  decoder->create(stream);
  if (decoder->status() != 0) return fail(in_path, decoder->status());
  if (decoder->start_decoding() != 0) return fail(in_path, decoder->status());

  const int32_t width = decoder->image_width();
  const int32_t height = decoder->image_height();
  const int32_t bytes_per_pixel = decoder->output_bytes_per_pixel();
  const int32_t channels = bytes_per_pixel == 1 ? 1 : 3;
  std::vector<uint8_t> pixels;
  pixels.reserve(static_cast<size_t>(width) * height * channels);

  const uint8_t* row = nullptr;
  int32_t length = 0;
  int32_t result;
  while ((result = decoder->read_scanline(row, length)) == 0) {
    for (int32_t x = 0; x < width; ++x)
      for (int32_t c = 0; c < channels; ++c) pixels.push_back(row[x * bytes_per_pixel + c]);
  }
  if (result != 1) return fail(in_path, decoder->status() != 0 ? decoder->status() : result);
  decoder->destroy();

  std::FILE* out = std::fopen(out_path, "wb");
  if (!out) {
    std::fprintf(stderr, "terrava-decode: cannot create %s\n", out_path);
    return 1;
  }
  std::fprintf(out, "P%c\n%d %d\n255\n", channels == 1 ? '5' : '6', static_cast<int>(width),
               static_cast<int>(height));
  const bool written = std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "terrava-decode: cannot write %s\n", out_path);
    return 1;
  }
  return 0;
}
