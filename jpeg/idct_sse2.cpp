// The inverse DCT with SSE2, one block at a time in 16-bit lanes (see idct_simd.h); the
// floor of the vector kernels on every x86 build.
#include "jpeg/simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "jpeg/idct_simd.h"

namespace {

struct Sse2Lanes {
  using V = __m128i;
  static V set32(uint32_t v) { return _mm_set1_epi32(static_cast<int32_t>(v)); }
  static V add32(V a, V b) { return _mm_add_epi32(a, b); }
  static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
  static V madd(V a, V b) { return _mm_madd_epi16(a, b); }
  static V slli32(V a, int n) { return _mm_slli_epi32(a, n); }
  static V srai32(V a, int n) { return _mm_srai_epi32(a, n); }
  static V packs32(V a, V b) { return _mm_packs_epi32(a, b); }
  static V packs16(V a, V b) { return _mm_packs_epi16(a, b); }
  static V xor_(V a, V b) { return _mm_xor_si128(a, b); }
  static V unpacklo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V unpackhi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V unpacklo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
  static V unpackhi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
  static V unpacklo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
  static V unpackhi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
};

inline void store_rows(uint8_t* out, int32_t row, __m128i two_rows) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * row), two_rows);
}

// The two block shapes in functions of their own: on i686, with eight vector registers, each
// then gets its own register allocation and spill slots.
__attribute__((noinline)) void idct_full_block(const int16_t* coefficients, uint8_t* out) {
  VectorIdct<Sse2Lanes>::transform(
      [coefficients](int32_t r) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
      },
      [out](int32_t row, __m128i v) { store_rows(out, row, v); });
}

__attribute__((noinline)) void idct_corner_block(const int16_t* coefficients, uint8_t* out) {
  VectorIdct<Sse2Lanes>::transform_corner(
      [coefficients](int32_t r) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
      },
      [out](int32_t row, __m128i v) { store_rows(out, row, v); });
}

}  // namespace

void idct_blocks_sse2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                      uint8_t* out) {
  for (int32_t i = 0; i < count; i++, out += 64) {
    if (limits[i] <= 1)
      std::memset(out, flat_block_sample(blocks[i][0]), 64);
    else if (limits[i] <= CORNER_LIMIT)
      idct_corner_block(blocks[i], out);
    else
      idct_full_block(blocks[i], out);
  }
}

namespace {

// A reduced transform of one block: N x N samples at out, row-major.
template <int32_t N>
__attribute__((noinline)) void idct_reduced_block(const int16_t* coefficients, uint8_t* out) {
  ReducedVectorIdct<Sse2Lanes, N>::transform(
      [coefficients](int32_t r) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
      },
      [out](__m128i samples) {
        if constexpr (N == 4) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out), samples);
        } else {
          const int32_t four = _mm_cvtsi128_si32(samples);
          std::memcpy(out, &four, 4);
        }
      });
}

template <int32_t N>
void idct_reduced_blocks(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                         uint8_t* out) {
  for (int32_t i = 0; i < count; i++, out += 64) {
    if (limits[i] <= 1)
      std::memset(out, flat_block_sample(blocks[i][0]), N * N);
    else
      idct_reduced_block<N>(blocks[i], out);
  }
}

}  // namespace

void idct_4x4_blocks_sse2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out) {
  idct_reduced_blocks<4>(blocks, limits, count, out);
}

void idct_2x2_blocks_sse2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out) {
  idct_reduced_blocks<2>(blocks, limits, count, out);
}

#endif
