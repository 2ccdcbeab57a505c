// The inverse DCT with AVX2: two blocks at once, one in each 128-bit half of the registers,
// with the arithmetic of the SSE2 kernel (idct_simd.h). Compiled with -mavx2; runs only when
// simd_level() says the CPU has AVX2.
#include "jpeg/simd.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "jpeg/idct_simd.h"

namespace {

struct Avx2Lanes {
  using V = __m256i;
  static V set32(uint32_t v) { return _mm256_set1_epi32(static_cast<int32_t>(v)); }
  static V add32(V a, V b) { return _mm256_add_epi32(a, b); }
  static V sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
  static V madd(V a, V b) { return _mm256_madd_epi16(a, b); }
  static V slli32(V a, int n) { return _mm256_slli_epi32(a, n); }
  static V srai32(V a, int n) { return _mm256_srai_epi32(a, n); }
  static V packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
  static V packs16(V a, V b) { return _mm256_packs_epi16(a, b); }
  static V xor_(V a, V b) { return _mm256_xor_si256(a, b); }
  static V unpacklo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V unpackhi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V unpacklo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
  static V unpackhi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
  static V unpacklo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
  static V unpackhi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
};

inline __m128i load_row(const int16_t* block, int32_t r) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
}

// Two blocks, one per register half; in_corner when both have only corner coefficients.
void idct_block_pair(const int16_t* first, const int16_t* second, uint8_t* out_first,
                     uint8_t* out_second, bool in_corner) {
  const auto store = [out_first, out_second](int32_t row, __m256i two_rows) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out_first + 8 * row),
                     _mm256_castsi256_si128(two_rows));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out_second + 8 * row),
                     _mm256_extracti128_si256(two_rows, 1));
  };
  const auto load = [first, second](int32_t r) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load_row(first, r)),
                                   load_row(second, r), 1);
  };
  if (in_corner)
    VectorIdct<Avx2Lanes>::transform_corner(load, store);
  else
    VectorIdct<Avx2Lanes>::transform(load, store);
}

}  // namespace

void idct_blocks_avx2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                      uint8_t* out) {
  // Flat blocks are filled at once; corner blocks are paired with corner blocks, the others
  // with each other, as they come. waiting[1] is a corner block without a partner yet,
  // waiting[0] another block.
  int32_t waiting[2] = {-1, -1};
  for (int32_t i = 0; i < count; i++) {
    if (limits[i] <= 1) {
      std::memset(out + 64 * i, flat_block_sample(blocks[i][0]), 64);
      continue;
    }
    const bool in_corner = limits[i] <= CORNER_LIMIT;
    int32_t& partner = waiting[in_corner ? 1 : 0];
    if (partner < 0) {
      partner = i;
    } else {
      idct_block_pair(blocks[partner], blocks[i], out + 64 * partner, out + 64 * i, in_corner);
      partner = -1;
    }
  }
  // What is left: one block of each kind at most. Two go together by the full transform; one
  // alone goes with a copy of itself.
  if (waiting[0] >= 0 && waiting[1] >= 0) {
    idct_block_pair(blocks[waiting[0]], blocks[waiting[1]], out + 64 * waiting[0],
                    out + 64 * waiting[1], false);
  } else {
    for (int32_t kind = 0; kind < 2; kind++) {
      const int32_t b = waiting[kind];
      if (b >= 0) idct_block_pair(blocks[b], blocks[b], out + 64 * b, out + 64 * b, kind == 1);
    }
  }
  _mm256_zeroupper();
}

namespace {

// Two blocks' reduced transforms, one per register half: N x N samples each.
template <int32_t N>
void idct_reduced_pair(const int16_t* first, const int16_t* second, uint8_t* out_first,
                       uint8_t* out_second) {
  const auto load = [first, second](int32_t r) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load_row(first, r)),
                                   load_row(second, r), 1);
  };
  const auto store = [out_first, out_second](__m256i samples) {
    const __m128i a = _mm256_castsi256_si128(samples);
    const __m128i b = _mm256_extracti128_si256(samples, 1);
    if constexpr (N == 4) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out_first), a);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out_second), b);
    } else {
      const int32_t four_a = _mm_cvtsi128_si32(a), four_b = _mm_cvtsi128_si32(b);
      std::memcpy(out_first, &four_a, 4);
      std::memcpy(out_second, &four_b, 4);
    }
  };
  ReducedVectorIdct<Avx2Lanes, N>::transform(load, store);
}

template <int32_t N>
void idct_reduced_blocks(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                         uint8_t* out) {
  // Flat blocks are filled at once; the others go in pairs as they come, a last one alone
  // with a copy of itself.
  int32_t waiting = -1;
  for (int32_t i = 0; i < count; i++) {
    if (limits[i] <= 1) {
      std::memset(out + 64 * i, flat_block_sample(blocks[i][0]), N * N);
    } else if (waiting < 0) {
      waiting = i;
    } else {
      idct_reduced_pair<N>(blocks[waiting], blocks[i], out + 64 * waiting, out + 64 * i);
      waiting = -1;
    }
  }
  if (waiting >= 0)
    idct_reduced_pair<N>(blocks[waiting], blocks[waiting], out + 64 * waiting, out + 64 * waiting);
  _mm256_zeroupper();
}

}  // namespace

void idct_4x4_blocks_avx2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out) {
  idct_reduced_blocks<4>(blocks, limits, count, out);
}

void idct_2x2_blocks_avx2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out) {
  idct_reduced_blocks<2>(blocks, limits, count, out);
}

#endif
