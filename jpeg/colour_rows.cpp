// Colour rows: turns one row (or a row pair for vertical chroma subsampling) of an MCU row's
// samples into grey bytes or red-green-blue-zero pixels. Chroma is replicated, not
// interpolated. Also owns the fixed-point YCbCr tables. The converters here are the scalar
// twins of colour_sse2.cpp's, which they hand the work to when the decode's kernel table has
// them.
#include "jpeg/decoder_internal.h"
#include "jpeg/simd.h"

namespace {

// The clamp table shifted by each colour offset of one chroma sample: a channel value is then
// one lookup by luma.
struct ChromaTerms {
  const uint8_t* red;
  const uint8_t* green;
  const uint8_t* blue;
};

inline ChromaTerms chroma_terms(const JpegDecoderState& d, int32_t cb, int32_t cr) {
  const uint8_t* clamp = CLAMP_TABLE.values + CLAMP_OFFSET;
  return {clamp + d.cr_to_r[cr], clamp + ((d.cb_to_g[cb] + d.cr_to_g[cr]) >> 16),
          clamp + d.cb_to_b[cb]};
}

inline void put_pixel(uint8_t* out, int32_t y, const ChromaTerms& t) {
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // One 32-bit store: red in byte 0, then green, blue and a zero byte 3.
  const uint32_t pixel = static_cast<uint32_t>(t.red[y]) |
                         static_cast<uint32_t>(t.green[y]) << 8 |
                         static_cast<uint32_t>(t.blue[y]) << 16;
  std::memcpy(out, &pixel, 4);
#else
  out[0] = t.red[y];
  out[1] = t.green[y];
  out[2] = t.blue[y];
  out[3] = 0;
#endif
}

inline int32_t row_in_mcu(const JpegDecoderState& d) {
  return d.mcu_height - d.rows_left_in_mcu_row;
}

// Hands the row to the decode's vector converter for the layout, if it has one.
inline bool run_vector_converter(const JpegDecoderState& d) {
  const ColourRowConverter convert = d.kernels->convert[d.colour_layout];
  if (convert == nullptr) return false;
  convert({d.mcu_row_samples, d.mcus_per_row, row_in_mcu(d), d.row_buffer_a, d.row_buffer_b});
  return true;
}

}  // namespace

void build_colour_tables(JpegDecoderState& d) {
  int32_t red = 91882 * -128 + 32768;
  int32_t blue = 116130 * -128 + 32768;
  int32_t green_from_cr = 46802 * 128;
  int32_t green_from_cb = 22554 * 128 + 32768;
  for (int32_t x = 0; x < 256; x++) {
    d.cr_to_r[x] = red >> 16;
    d.cb_to_b[x] = blue >> 16;
    d.cr_to_g[x] = green_from_cr;
    d.cb_to_g[x] = green_from_cb;
    red += 91882;
    blue += 116130;
    green_from_cr -= 46802;
    green_from_cb -= 22554;
  }
}

void convert_grey(JpegDecoderState& d) {
  const int32_t r = row_in_mcu(d);
  const uint8_t* samples = d.mcu_row_samples + 8 * r;
  for (int32_t i = 0; i < d.mcus_per_row; i++)
    std::memcpy(d.row_buffer_a + 8 * i, samples + 64 * i, 8);
}

void convert_h1v1(JpegDecoderState& d) {
  if (run_vector_converter(d)) return;
  const int32_t r = row_in_mcu(d);
  for (int32_t i = 0; i < d.mcus_per_row; i++) {
    const uint8_t* y = d.mcu_row_samples + 192 * i + 8 * r;
    const uint8_t* cb = y + 64;
    const uint8_t* cr = y + 128;
    uint8_t* out = d.row_buffer_a + 32 * i;
    for (int32_t u = 0; u < 8; u++) put_pixel(out + 4 * u, y[u], chroma_terms(d, cb[u], cr[u]));
  }
}

void convert_h2v1(JpegDecoderState& d) {
  if (run_vector_converter(d)) return;
  const int32_t r = row_in_mcu(d);
  for (int32_t i = 0; i < d.mcus_per_row; i++) {
    const uint8_t* mcu = d.mcu_row_samples + 256 * i;
    const uint8_t* cb = mcu + 128 + 8 * r;
    const uint8_t* cr = mcu + 192 + 8 * r;
    uint8_t* out = d.row_buffer_a + 64 * i;
    // Chroma columns 0..3 cover the left luma block, 4..7 the right one.
    for (int32_t half = 0; half < 2; half++) {
      const uint8_t* y = mcu + 64 * half + 8 * r;
      for (int32_t c = 4 * half; c < 4 * half + 4; c++, y += 2, out += 8) {
        const ChromaTerms t = chroma_terms(d, cb[c], cr[c]);
        put_pixel(out, y[0], t);
        put_pixel(out + 4, y[1], t);
      }
    }
  }
}

void convert_h1v2(JpegDecoderState& d) {
  if (run_vector_converter(d)) return;
  const int32_t r = row_in_mcu(d);
  const int32_t luma_block = r < 8 ? 0 : 1;
  const int32_t t = r & 7;
  for (int32_t i = 0; i < d.mcus_per_row; i++) {
    const uint8_t* mcu = d.mcu_row_samples + 256 * i;
    const uint8_t* y_top = mcu + 64 * luma_block + 8 * t;
    const uint8_t* y_bottom = y_top + 8;
    const uint8_t* cb = mcu + 128 + 8 * (r / 2);
    const uint8_t* cr = mcu + 192 + 8 * (r / 2);
    uint8_t* out_a = d.row_buffer_a + 32 * i;
    uint8_t* out_b = d.row_buffer_b + 32 * i;
    for (int32_t u = 0; u < 8; u++) {
      const ChromaTerms terms = chroma_terms(d, cb[u], cr[u]);
      put_pixel(out_a + 4 * u, y_top[u], terms);
      put_pixel(out_b + 4 * u, y_bottom[u], terms);
    }
  }
}

void convert_h2v2(JpegDecoderState& d) {
  if (run_vector_converter(d)) return;
  const int32_t r = row_in_mcu(d);
  const int32_t pair = r < 8 ? 0 : 2;
  const int32_t t = r & 7;
  for (int32_t i = 0; i < d.mcus_per_row; i++) {
    const uint8_t* mcu = d.mcu_row_samples + 384 * i;
    const uint8_t* cb = mcu + 256 + 8 * (r / 2);
    const uint8_t* cr = mcu + 320 + 8 * (r / 2);
    uint8_t* out_a = d.row_buffer_a + 64 * i;
    uint8_t* out_b = d.row_buffer_b + 64 * i;
    // Chroma columns 0..3 cover the left luma block of the pair, 4..7 the right one.
    for (int32_t half = 0; half < 2; half++) {
      const uint8_t* y_top = mcu + 64 * (pair + half) + 8 * t;
      for (int32_t c = 4 * half; c < 4 * half + 4; c++, y_top += 2, out_a += 8, out_b += 8) {
        const ChromaTerms terms = chroma_terms(d, cb[c], cr[c]);
        put_pixel(out_a, y_top[0], terms);
        put_pixel(out_a + 4, y_top[1], terms);
        put_pixel(out_b, y_top[8], terms);
        put_pixel(out_b + 4, y_top[9], terms);
      }
    }
  }
}

void convert_planar_row_scalar(const JpegDecoderState& d, const uint8_t* y, const uint8_t* cb,
                               const uint8_t* cr, int32_t count, uint8_t* out) {
  for (int32_t x = 0; x < count; x++) put_pixel(out + 4 * x, y[x], chroma_terms(d, cb[x], cr[x]));
}

namespace {

// Copies n (1, 2 or 4) samples as one 8-byte move: the source lies inside the sample buffer
// (which has 8 bytes of slack) and the bytes written beyond n are overwritten by the next copy
// or lie in the scratch row's slack.
inline void copy_samples(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }

// The gather of one output row into planar luma, Cb and Cr rows, for MCUs of H luma blocks
// across whose blocks hold N x N samples (constants, so that the loop is a run of moves).
// Offsets are in bytes from the MCU's start: the luma block row's first block (plus the
// sample row within it) and the Cb block's row (Cr's is 64 further).
template <int32_t H, int32_t N>
void gather_planar_rows(const uint8_t* mcu, int32_t mcu_bytes, int32_t mcus, int32_t luma_offset,
                        int32_t chroma_offset, uint8_t* y_row, uint8_t* cb_row, uint8_t* cr_row) {
  constexpr int32_t mcu_pixels = H * N;
  for (int32_t i = 0; i < mcus; i++, mcu += mcu_bytes) {
    for (int32_t bx = 0; bx < H; bx++) copy_samples(y_row + N * bx, mcu + luma_offset + 64 * bx);
    copy_samples(cb_row, mcu + chroma_offset);
    copy_samples(cr_row, mcu + chroma_offset + 64);
    y_row += mcu_pixels;
    cb_row += mcu_pixels;
    cr_row += mcu_pixels;
  }
}

using GatherRows = void (*)(const uint8_t*, int32_t, int32_t, int32_t, int32_t, uint8_t*,
                            uint8_t*, uint8_t*);

// The gather for h luma blocks across and n samples per block side (h 1 or 2, n 1, 2 or 4).
GatherRows gather_for(int32_t h, int32_t n) {
  if (h == 1)
    return n == 4 ? gather_planar_rows<1, 4> : n == 2 ? gather_planar_rows<1, 2> : gather_planar_rows<1, 1>;
  return n == 4 ? gather_planar_rows<2, 4> : n == 2 ? gather_planar_rows<2, 2> : gather_planar_rows<2, 1>;
}

}  // namespace

void convert_scaled_row(JpegDecoderState& d) {
  // Blocks hold n x n luma samples, row-major from the block's start.
  const int32_t n = 8 >> d.scale_shift;
  const int32_t r = d.output_mcu_height - d.rows_left_in_mcu_row;
  if (d.colour_layout == LAYOUT_GREY) {
    // 8-byte moves, as below: the row buffer has the full-size row's capacity.
    for (int32_t i = 0; i < d.mcus_per_row; i++)
      copy_samples(d.row_buffer_a + n * i, d.mcu_row_samples + 64 * i + n * r);
    return;
  }
  // A chroma block holds one sample per output pixel of its MCU (h n across, v n down, at most
  // 8 x 8), so the row is gathered into planar luma, Cb and Cr rows (in row_buffer_b, which reduced
  // decodes do not otherwise use: its 4 bytes per full-size pixel hold the three rows of at
  // most half as many pixels, with room for the 8-byte moves) and converted pixel by pixel.
  const int32_t h = d.mcu_width / 8;
  const int32_t v = d.mcu_height / 8;
  const int32_t mcu_pixels = h * n;
  const int32_t pixels = d.mcus_per_row * mcu_pixels;
  const int32_t plane = (pixels + 15) & ~7;
  uint8_t* y_row = d.row_buffer_b;
  uint8_t* cb_row = y_row + plane;
  uint8_t* cr_row = cb_row + plane;
  const int32_t luma_block_row = (r / n) * h;
  const int32_t luma_offset = n * (r % n);
  const int32_t chroma_offset = 64 * h * v + mcu_pixels * (r * (8 >> chroma_shift_down(d)) / (v * n));
  const int32_t mcu_bytes = 64 * (h * v + 2);
  gather_for(h, n)(d.mcu_row_samples, mcu_bytes, d.mcus_per_row, 64 * luma_block_row + luma_offset,
                   chroma_offset, y_row, cb_row, cr_row);
  if (d.kernels->convert_planar != nullptr)
    d.kernels->convert_planar(y_row, cb_row, cr_row, pixels, d.row_buffer_a);
  else
    convert_planar_row_scalar(d, y_row, cb_row, cr_row, pixels, d.row_buffer_a);
}
