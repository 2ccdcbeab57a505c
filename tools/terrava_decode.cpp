// terrava-decode: decodes one JPEG file with Terrava's own decoder and writes it as a binary
// PPM (colour) or PGM (grey). It is the command-line face of the decoder, for comparing its
// output with other decoders and for trying files the viewer refuses.
// Usage: terrava-decode [--scale 1/N] IN.jpg OUT.pnm (N = 1, 2, 4 or 8: decode at 1/N size);
// on failure prints "CODE NAME" and exits with 1.
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "jpeg/jpeg_decoder.h"

namespace {

int fail(const char* in_path, int32_t code) {
  std::fprintf(stderr, "terrava-decode: %s: %d %s\n", in_path, static_cast<int>(code),
               jpeg_error_name(code) != nullptr ? jpeg_error_name(code) : "ERR_UNKNOWN");
  return 1;
}

}  // namespace

int usage() {
  std::fprintf(stderr, "usage: terrava-decode [--scale 1/N] IN.jpg OUT.pnm\n"
                       "Writes a binary PPM for colour images and a PGM for grey ones; --scale 1/2,\n"
                       "1/4 or 1/8 decodes at that fraction of the size.\n");
  return 2;
}

// "1/N" with N = 1, 2, 4 or 8 (the decoder checks N), or 0.
int32_t parse_scale(const char* text) {
  if (std::strncmp(text, "1/", 2) != 0) return 0;
  const char* digits = text + 2;
  if (digits[0] < '1' || digits[0] > '9' || digits[1] != 0) return 0;
  return digits[0] - '0';
}

int main(int argc, char** argv) {
  int32_t scale = 1;
  int first = 1;
  if (argc == 5 && std::strcmp(argv[1], "--scale") == 0) {
    scale = parse_scale(argv[2]);
    if (scale == 0) return usage();
    first = 3;
  }
  if (argc != first + 2) return usage();
  const char* in_path = argv[first];
  const char* out_path = argv[first + 1];

  JpegFileStream stream;
  if (!stream.open(in_path)) {
    std::fprintf(stderr, "terrava-decode: cannot open %s\n", in_path);
    return 1;
  }
  std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);  // large object: heap, not stack
  decoder->create(stream);
  if (decoder->status() != 0) return fail(in_path, decoder->status());
  if (decoder->set_scale(scale) != 0) {
    std::fprintf(stderr, "terrava-decode: the scale must be 1/1, 1/2, 1/4 or 1/8\n");
    return 2;
  }
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
