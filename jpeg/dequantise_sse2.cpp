// Dequantisation of stored coefficient blocks with SSE2 (16-bit products, low halves, as the
// scalar loop of progressive.cpp), with the mask of nonzero results that gives the block's
// coefficient limit without a scalar scan.
#include "jpeg/simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>

uint64_t dequantise_block_sse2(const int16_t* coefficients, const uint16_t* quant,
                               int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  uint64_t nonzero = 0;
  for (int32_t r = 0; r < 8; r += 2) {
    __m128i v[2];
    for (int32_t h = 0; h < 2; h++) {
      const int32_t at = 8 * (r + h);
      v[h] = _mm_mullo_epi16(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + at)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + at)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), v[h]);
    }
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(v[0], zero), _mm_cmpeq_epi16(v[1], zero));
    nonzero |= static_cast<uint64_t>(~_mm_movemask_epi8(zeros) & 0xFFFF) << (8 * r);
  }
  return nonzero;
}

#endif
