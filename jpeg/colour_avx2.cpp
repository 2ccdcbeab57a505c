// The colour converters of colour_sse2.cpp with AVX2: two MCUs at once, one in each 128-bit
// half of the registers, with the same arithmetic (see colour_sse2.cpp for the split of the
// fixed-point constants). Compiled with -mavx2; runs only when simd_level() says so.
#include "jpeg/simd.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

constexpr int32_t word_pair(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(a)) |
                              static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16);
}

struct ChromaOffsets {
  __m256i red, green, blue;
};

// Eight bytes at p (low half) and eight at p + step (high half), widened to 16-bit lanes.
inline __m256i load_pair_as_words(const uint8_t* p, int32_t step) {
  const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  const __m128i second = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + step));
  return _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(first, second));
}

inline __m256i madd_shift16(__m256i pairs_lo, __m256i pairs_hi, int32_t constants,
                            __m256i rounding) {
  const __m256i k = _mm256_set1_epi32(constants);
  return _mm256_packs_epi32(
      _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs_lo, k), rounding), 16),
      _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs_hi, k), rounding), 16));
}

inline ChromaOffsets chroma_offsets(const uint8_t* cb, const uint8_t* cr, int32_t step) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i d_cb = _mm256_sub_epi16(load_pair_as_words(cb, step), bias);
  const __m256i d_cr = _mm256_sub_epi16(load_pair_as_words(cr, step), bias);
  const __m256i two = _mm256_set1_epi16(2);
  const __m256i none = _mm256_setzero_si256();
  const __m256i half = _mm256_set1_epi32(32768);
  ChromaOffsets o;
  o.red = _mm256_add_epi16(d_cr, madd_shift16(_mm256_unpacklo_epi16(d_cr, two),
                                              _mm256_unpackhi_epi16(d_cr, two),
                                              word_pair(26346, 16384), none));
  o.blue = _mm256_add_epi16(
      _mm256_add_epi16(d_cb, d_cb),
      madd_shift16(_mm256_unpacklo_epi16(d_cb, two), _mm256_unpackhi_epi16(d_cb, two),
                   word_pair(-14942, 16384), none));
  o.green = _mm256_sub_epi16(madd_shift16(_mm256_unpacklo_epi16(d_cb, d_cr),
                                          _mm256_unpackhi_epi16(d_cb, d_cr),
                                          word_pair(-22554, 18734), half),
                             d_cr);
  return o;
}

inline ChromaOffsets doubled_lo(const ChromaOffsets& o) {
  return {_mm256_unpacklo_epi16(o.red, o.red), _mm256_unpacklo_epi16(o.green, o.green),
          _mm256_unpacklo_epi16(o.blue, o.blue)};
}
inline ChromaOffsets doubled_hi(const ChromaOffsets& o) {
  return {_mm256_unpackhi_epi16(o.red, o.red), _mm256_unpackhi_epi16(o.green, o.green),
          _mm256_unpackhi_epi16(o.blue, o.blue)};
}

inline void store32(uint8_t* out, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}

// Sixteen pixels per half, as put_pixels16 of the SSE2 converter: the low half's pixels go to
// out, the high half's to out + 64.
inline void put_pixels16_pair(uint8_t* out, __m256i y_a, const ChromaOffsets& a, __m256i y_b,
                              const ChromaOffsets& b) {
  const __m256i red = _mm256_packus_epi16(_mm256_add_epi16(y_a, a.red), _mm256_add_epi16(y_b, b.red));
  const __m256i green =
      _mm256_packus_epi16(_mm256_add_epi16(y_a, a.green), _mm256_add_epi16(y_b, b.green));
  const __m256i blue =
      _mm256_packus_epi16(_mm256_add_epi16(y_a, a.blue), _mm256_add_epi16(y_b, b.blue));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i rg_lo = _mm256_unpacklo_epi8(red, green), rg_hi = _mm256_unpackhi_epi8(red, green);
  const __m256i b0_lo = _mm256_unpacklo_epi8(blue, zero), b0_hi = _mm256_unpackhi_epi8(blue, zero);
  const __m256i p0 = _mm256_unpacklo_epi16(rg_lo, b0_lo), p1 = _mm256_unpackhi_epi16(rg_lo, b0_lo);
  const __m256i p2 = _mm256_unpacklo_epi16(rg_hi, b0_hi), p3 = _mm256_unpackhi_epi16(rg_hi, b0_hi);
  store32(out, _mm256_permute2x128_si256(p0, p1, 0x20));
  store32(out + 32, _mm256_permute2x128_si256(p2, p3, 0x20));
  store32(out + 64, _mm256_permute2x128_si256(p0, p1, 0x31));
  store32(out + 96, _mm256_permute2x128_si256(p2, p3, 0x31));
}

// Eight pixels per half: the low half's go to out, the high half's to out + 32.
inline void put_pixels8_pair(uint8_t* out, __m256i y, const ChromaOffsets& o) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i red = _mm256_packus_epi16(_mm256_add_epi16(y, o.red), zero);
  const __m256i green = _mm256_packus_epi16(_mm256_add_epi16(y, o.green), zero);
  const __m256i blue = _mm256_packus_epi16(_mm256_add_epi16(y, o.blue), zero);
  const __m256i rg = _mm256_unpacklo_epi8(red, green);
  const __m256i b0 = _mm256_unpacklo_epi8(blue, zero);
  const __m256i p0 = _mm256_unpacklo_epi16(rg, b0), p1 = _mm256_unpackhi_epi16(rg, b0);
  store32(out, _mm256_permute2x128_si256(p0, p1, 0x20));
  store32(out + 32, _mm256_permute2x128_si256(p0, p1, 0x31));
}

inline void put_h2_row_pair(uint8_t* out, const uint8_t* y_left, int32_t step,
                            const ChromaOffsets& o) {
  put_pixels16_pair(out, load_pair_as_words(y_left, step), doubled_lo(o),
                    load_pair_as_words(y_left + 64, step), doubled_hi(o));
}

// An odd MCU at the end of the row goes through the SSE2 converter on its own.
ColourRowJob last_mcu(const ColourRowJob& job, int32_t mcu_bytes, int32_t pixel_bytes) {
  return {job.samples + mcu_bytes * (job.mcus - 1), 1, job.row,
          job.out_a + pixel_bytes * (job.mcus - 1),
          job.out_b ? job.out_b + pixel_bytes * (job.mcus - 1) : nullptr};
}

}  // namespace

void convert_planar_row_avx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t count,
                             uint8_t* out) {
  const int32_t groups_end = (count + 7) & ~7;  // the SSE2 converter's extent
  int32_t x = 0;
  for (; x + 16 <= groups_end; x += 16)
    put_pixels8_pair(out + 4 * x, load_pair_as_words(y + x, 8), chroma_offsets(cb + x, cr + x, 8));
  if (x < count) convert_planar_row_sse2(y + x, cb + x, cr + x, count - x, out + 4 * x);
}

void convert_h1v1_avx2(const ColourRowJob& job) {
  int32_t i = 0;
  for (; i + 2 <= job.mcus; i += 2) {
    const uint8_t* y = job.samples + 192 * i + 8 * job.row;
    put_pixels8_pair(job.out_a + 32 * i, load_pair_as_words(y, 192),
                     chroma_offsets(y + 64, y + 128, 192));
  }
  if (i < job.mcus) convert_h1v1_sse2(last_mcu(job, 192, 32));
}

void convert_h2v1_avx2(const ColourRowJob& job) {
  int32_t i = 0;
  for (; i + 2 <= job.mcus; i += 2) {
    const uint8_t* mcu = job.samples + 256 * i + 8 * job.row;
    put_h2_row_pair(job.out_a + 64 * i, mcu, 256, chroma_offsets(mcu + 128, mcu + 192, 256));
  }
  if (i < job.mcus) convert_h2v1_sse2(last_mcu(job, 256, 64));
}

void convert_h1v2_avx2(const ColourRowJob& job) {
  const int32_t r = job.row;
  const int32_t luma = 64 * (r < 8 ? 0 : 1) + 8 * (r & 7);
  const int32_t chroma = 8 * (r / 2);
  int32_t i = 0;
  for (; i + 2 <= job.mcus; i += 2) {
    const uint8_t* mcu = job.samples + 256 * i;
    const ChromaOffsets o = chroma_offsets(mcu + 128 + chroma, mcu + 192 + chroma, 256);
    put_pixels8_pair(job.out_a + 32 * i, load_pair_as_words(mcu + luma, 256), o);
    put_pixels8_pair(job.out_b + 32 * i, load_pair_as_words(mcu + luma + 8, 256), o);
  }
  if (i < job.mcus) convert_h1v2_sse2(last_mcu(job, 256, 32));
}

void convert_h2v2_avx2(const ColourRowJob& job) {
  const int32_t r = job.row;
  const int32_t luma = 64 * (r < 8 ? 0 : 2) + 8 * (r & 7);
  const int32_t chroma = 8 * (r / 2);
  int32_t i = 0;
  for (; i + 2 <= job.mcus; i += 2) {
    const uint8_t* mcu = job.samples + 384 * i;
    const ChromaOffsets o = chroma_offsets(mcu + 256 + chroma, mcu + 320 + chroma, 384);
    put_h2_row_pair(job.out_a + 64 * i, mcu + luma, 384, o);
    put_h2_row_pair(job.out_b + 64 * i, mcu + luma + 8, 384, o);
  }
  if (i < job.mcus) convert_h2v2_sse2(last_mcu(job, 384, 64));
}

#endif
