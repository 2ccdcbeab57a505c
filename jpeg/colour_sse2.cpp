// Replicated-chroma upsampling and YCbCr to red-green-blue-zero conversion with SSE2, pixel
// for pixel equal to the table-driven converters of colour_rows.cpp. The tables hold
// (c * (x - 128) + rounding) >> 16 with 17-bit constants c; here c is split as
// m * 65536 + c' with |c'| < 32768, so (d = x - 128):
//   red   = d      + ((26346 d + 32768) >> 16)                 (91882 = 65536 + 26346)
//   blue  = 2 d    + ((-14942 d + 32768) >> 16)                (116130 = 131072 - 14942)
//   green = -d_cr  + ((-22554 d_cb + 18734 d_cr + 32768) >> 16) (-46802 = -65536 + 18734)
// The 65536 multiples pass through the floor of >> 16 unchanged, so each is exact; the rest is
// one pmaddwd per four lanes (the rounding half enters as 2 x 16384 or as an added 32768).
#include "jpeg/simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

constexpr int32_t word_pair(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(a)) |
                              static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16);
}

// Colour offsets of eight chroma samples, as 16-bit lanes.
struct ChromaOffsets {
  __m128i red, green, blue;
};

inline __m128i load8_as_words(const uint8_t* p) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                           _mm_setzero_si128());
}

// (value * 65536-free constant pair + rounding) >> 16 for eight 16-bit lanes of `pairs_lo`
// and `pairs_hi` (each four interleaved pairs), packed back to 16 bits.
inline __m128i madd_shift16(__m128i pairs_lo, __m128i pairs_hi, int32_t constants,
                            __m128i rounding) {
  const __m128i k = _mm_set1_epi32(constants);
  return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs_lo, k), rounding), 16),
                         _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs_hi, k), rounding), 16));
}

inline ChromaOffsets chroma_offsets(const uint8_t* cb, const uint8_t* cr) {
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i d_cb = _mm_sub_epi16(load8_as_words(cb), bias);
  const __m128i d_cr = _mm_sub_epi16(load8_as_words(cr), bias);
  const __m128i two = _mm_set1_epi16(2);
  const __m128i none = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi32(32768);
  ChromaOffsets o;
  o.red = _mm_add_epi16(d_cr, madd_shift16(_mm_unpacklo_epi16(d_cr, two),
                                           _mm_unpackhi_epi16(d_cr, two),
                                           word_pair(26346, 16384), none));
  o.blue = _mm_add_epi16(_mm_add_epi16(d_cb, d_cb),
                         madd_shift16(_mm_unpacklo_epi16(d_cb, two), _mm_unpackhi_epi16(d_cb, two),
                                      word_pair(-14942, 16384), none));
  o.green = _mm_sub_epi16(madd_shift16(_mm_unpacklo_epi16(d_cb, d_cr),
                                       _mm_unpackhi_epi16(d_cb, d_cr),
                                       word_pair(-22554, 18734), half),
                          d_cr);
  return o;
}

// Chroma offsets of lanes 0..3 (lo) or 4..7 (hi), each repeated for two pixels.
inline ChromaOffsets doubled_lo(const ChromaOffsets& o) {
  return {_mm_unpacklo_epi16(o.red, o.red), _mm_unpacklo_epi16(o.green, o.green),
          _mm_unpacklo_epi16(o.blue, o.blue)};
}
inline ChromaOffsets doubled_hi(const ChromaOffsets& o) {
  return {_mm_unpackhi_epi16(o.red, o.red), _mm_unpackhi_epi16(o.green, o.green),
          _mm_unpackhi_epi16(o.blue, o.blue)};
}

inline void store16(uint8_t* out, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

// Sixteen pixels: luma y_a (pixels 0..7) and y_b (8..15) as 16-bit lanes with their offsets;
// clamping is the unsigned saturation of the byte pack.
inline void put_pixels16(uint8_t* out, __m128i y_a, const ChromaOffsets& a, __m128i y_b,
                         const ChromaOffsets& b) {
  const __m128i red = _mm_packus_epi16(_mm_add_epi16(y_a, a.red), _mm_add_epi16(y_b, b.red));
  const __m128i green =
      _mm_packus_epi16(_mm_add_epi16(y_a, a.green), _mm_add_epi16(y_b, b.green));
  const __m128i blue = _mm_packus_epi16(_mm_add_epi16(y_a, a.blue), _mm_add_epi16(y_b, b.blue));
  const __m128i zero = _mm_setzero_si128();
  const __m128i rg_lo = _mm_unpacklo_epi8(red, green), rg_hi = _mm_unpackhi_epi8(red, green);
  const __m128i b0_lo = _mm_unpacklo_epi8(blue, zero), b0_hi = _mm_unpackhi_epi8(blue, zero);
  store16(out, _mm_unpacklo_epi16(rg_lo, b0_lo));
  store16(out + 16, _mm_unpackhi_epi16(rg_lo, b0_lo));
  store16(out + 32, _mm_unpacklo_epi16(rg_hi, b0_hi));
  store16(out + 48, _mm_unpackhi_epi16(rg_hi, b0_hi));
}

// Eight pixels, one chroma sample each.
inline void put_pixels8(uint8_t* out, __m128i y, const ChromaOffsets& o) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i red = _mm_packus_epi16(_mm_add_epi16(y, o.red), zero);
  const __m128i green = _mm_packus_epi16(_mm_add_epi16(y, o.green), zero);
  const __m128i blue = _mm_packus_epi16(_mm_add_epi16(y, o.blue), zero);
  const __m128i rg = _mm_unpacklo_epi8(red, green);
  const __m128i b0 = _mm_unpacklo_epi8(blue, zero);
  store16(out, _mm_unpacklo_epi16(rg, b0));
  store16(out + 16, _mm_unpackhi_epi16(rg, b0));
}

// One row of a horizontally subsampled MCU: 8 chroma samples over two luma blocks' rows.
inline void put_h2_row(uint8_t* out, const uint8_t* y_left, const uint8_t* y_right,
                       const ChromaOffsets& o) {
  put_pixels16(out, load8_as_words(y_left), doubled_lo(o), load8_as_words(y_right),
               doubled_hi(o));
}

}  // namespace

void convert_planar_row_sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t count,
                             uint8_t* out) {
  for (int32_t x = 0; x < count; x += 8)
    put_pixels8(out + 4 * x, load8_as_words(y + x), chroma_offsets(cb + x, cr + x));
}

void convert_h1v1_sse2(const ColourRowJob& job) {
  for (int32_t i = 0; i < job.mcus; i++) {
    const uint8_t* y = job.samples + 192 * i + 8 * job.row;
    put_pixels8(job.out_a + 32 * i, load8_as_words(y), chroma_offsets(y + 64, y + 128));
  }
}

void convert_h2v1_sse2(const ColourRowJob& job) {
  for (int32_t i = 0; i < job.mcus; i++) {
    const uint8_t* mcu = job.samples + 256 * i + 8 * job.row;
    put_h2_row(job.out_a + 64 * i, mcu, mcu + 64, chroma_offsets(mcu + 128, mcu + 192));
  }
}

void convert_h1v2_sse2(const ColourRowJob& job) {
  const int32_t r = job.row;
  const int32_t luma = 64 * (r < 8 ? 0 : 1) + 8 * (r & 7);
  const int32_t chroma = 8 * (r / 2);
  for (int32_t i = 0; i < job.mcus; i++) {
    const uint8_t* mcu = job.samples + 256 * i;
    const ChromaOffsets o = chroma_offsets(mcu + 128 + chroma, mcu + 192 + chroma);
    put_pixels8(job.out_a + 32 * i, load8_as_words(mcu + luma), o);
    put_pixels8(job.out_b + 32 * i, load8_as_words(mcu + luma + 8), o);
  }
}

void convert_h2v2_sse2(const ColourRowJob& job) {
  const int32_t r = job.row;
  const int32_t luma = 64 * (r < 8 ? 0 : 2) + 8 * (r & 7);
  const int32_t chroma = 8 * (r / 2);
  for (int32_t i = 0; i < job.mcus; i++) {
    const uint8_t* mcu = job.samples + 384 * i;
    const ChromaOffsets o = chroma_offsets(mcu + 256 + chroma, mcu + 320 + chroma);
    const uint8_t* top = mcu + luma;
    put_h2_row(job.out_a + 64 * i, top, top + 64, o);
    put_h2_row(job.out_b + 64 * i, top + 8, top + 72, o);
  }
}

#endif
