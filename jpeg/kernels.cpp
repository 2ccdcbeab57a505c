// The kernel tables: one per level (scalar, SSE2, AVX2), each naming the transform, colour
// converters and dequantiser that a decode at that level runs. A decode picks its table once,
// when it starts, so that the level never changes halfway through an image and the stages
// need not ask for it row by row.
#include "jpeg/decoder_internal.h"
#include "jpeg/simd.h"

namespace {

constexpr JpegKernels SCALAR_KERNELS = {
    static_cast<int32_t>(SimdLevel::SCALAR), transform_blocks_scalar, {}, nullptr};

#if defined(__SSE2__)
constexpr JpegKernels SSE2_KERNELS = {
    static_cast<int32_t>(SimdLevel::SSE2),
    idct_blocks_sse2,
    {nullptr, convert_h1v1_sse2, convert_h2v1_sse2, convert_h1v2_sse2, convert_h2v2_sse2},
    dequantise_block_sse2};
#endif

#if defined(__SSE2__) && defined(TERRAVA_AVX2_KERNELS)
constexpr JpegKernels AVX2_KERNELS = {
    static_cast<int32_t>(SimdLevel::AVX2),
    idct_blocks_avx2,
    {nullptr, convert_h1v1_avx2, convert_h2v1_avx2, convert_h1v2_avx2, convert_h2v2_avx2},
    dequantise_block_sse2};
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
