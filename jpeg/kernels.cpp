// The kernel tables: one per level (scalar, SSE2, AVX2), each naming the transform, colour
// converters and dequantiser that a decode at that level runs. A decode picks its table once,
// when it starts, so that the level never changes halfway through an image and the stages
// need not ask for it row by row.
#include "jpeg/decoder_internal.h"
#include "jpeg/simd.h"

namespace {

// The reduced transforms by [horizontal][vertical] shift, with the given full-size and square
// 4x4 and 2x2 kernels.
constexpr JpegKernels make_kernels(SimdLevel level, TransformBlocks full, TransformBlocks square4,
                                   TransformBlocks square2) {
  JpegKernels k{static_cast<int32_t>(level), {}, {}, nullptr, nullptr};
  k.transform_blocks[0][0] = full;
  k.transform_blocks[0][1] = idct_reduced_blocks_scalar<8, 4>;
  k.transform_blocks[1][0] = idct_reduced_blocks_scalar<4, 8>;
  k.transform_blocks[1][1] = square4;
  k.transform_blocks[1][2] = idct_reduced_blocks_scalar<4, 2>;
  k.transform_blocks[2][1] = idct_reduced_blocks_scalar<2, 4>;
  k.transform_blocks[2][2] = square2;
  k.transform_blocks[2][3] = idct_reduced_blocks_scalar<2, 1>;
  k.transform_blocks[3][2] = idct_reduced_blocks_scalar<1, 2>;
  k.transform_blocks[3][3] = idct_reduced_blocks_scalar<1, 1>;
  return k;
}

constexpr JpegKernels SCALAR_KERNELS =
    make_kernels(SimdLevel::SCALAR, transform_blocks_scalar, idct_reduced_blocks_scalar<4, 4>,
                 idct_reduced_blocks_scalar<2, 2>);

#if defined(__SSE2__)
constexpr JpegKernels with_vector_kernels(JpegKernels k, ColourRowConverter h1v1,
                                          ColourRowConverter h2v1, ColourRowConverter h1v2,
                                          ColourRowConverter h2v2, PlanarConverter planar) {
  k.convert[LAYOUT_H1V1] = h1v1;
  k.convert[LAYOUT_H2V1] = h2v1;
  k.convert[LAYOUT_H1V2] = h1v2;
  k.convert[LAYOUT_H2V2] = h2v2;
  k.dequantise = dequantise_block_sse2;
  k.convert_planar = planar;
  return k;
}

constexpr JpegKernels SSE2_KERNELS = with_vector_kernels(
    make_kernels(SimdLevel::SSE2, idct_blocks_sse2, idct_4x4_blocks_sse2, idct_2x2_blocks_sse2),
    convert_h1v1_sse2, convert_h2v1_sse2, convert_h1v2_sse2, convert_h2v2_sse2,
    convert_planar_row_sse2);
#endif

#if defined(__SSE2__) && defined(TERRAVA_AVX2_KERNELS)
constexpr JpegKernels AVX2_KERNELS = with_vector_kernels(
    make_kernels(SimdLevel::AVX2, idct_blocks_avx2, idct_4x4_blocks_avx2, idct_2x2_blocks_avx2),
    convert_h1v1_avx2, convert_h2v1_avx2, convert_h1v2_avx2, convert_h2v2_avx2,
    convert_planar_row_avx2);
#endif

}  // namespace

const JpegKernels& kernels_for(SimdLevel level) {
  switch (level) {
#if defined(__SSE2__) && defined(TERRAVA_AVX2_KERNELS)
    case SimdLevel::AVX2: return AVX2_KERNELS;
#endif
#if defined(__SSE2__)
    case SimdLevel::SSE2: return SSE2_KERNELS;
#endif
    default: return SCALAR_KERNELS;
  }
}

const JpegKernels& current_kernels() { return kernels_for(simd_level()); }
