// Reduced inverse DCTs for decoding at 1/2, 1/4 and 1/8 size. Each output sample is the
// average of the samples that the full 8x8 transform would give for the cell it stands for
// (before their rounding and clamping): the transform is separable, so along each axis the N
// outputs (N = 8, 4, 2 or 1) are fixed combinations of the 8 inputs, whose weights are the
// means of the cosine basis over each cell (idct_reduced.h). N = 8 is the full transform's own
// kernel (idct_kernel.h) and N = 1 the DC term alone. The two axes may differ, for the chroma
// of 4:2:2 and 4:4:0 frames. Fixed point: 13-bit weights; rows first, descaled by 10 bits to
// 16-bit values (one bit more than the full-size transform keeps), then columns by 19 bits,
// level shift, clamp. The square 2x2 transform (1/4, and the subsampled chroma at 1/8) runs
// columns first and keeps four bits (descaled by 9, then by 20): over photographs that order
// and precision lie closest to the box-filtered full decode in colour (measured with
// terrava-scaled-quality; rows first with three bits came out a little further than
// libjpeg-turbo's columns first with two). Four bits still fit 16 bits for valid data: a cell
// mean of the first pass is at most 8 x 128 x sqrt(2) in magnitude.
//
// At 1/8 a luma block (and the chroma of 4:4:4) is one sample: a DC-only block gives the full
// transform's flat sample, clamp(((4 DC + 16) >> 5) + 128), and so does every 1x1 block: the
// block's average is DC / 8, rounded half up, as the full decode's flat block rounds it (the
// AC terms average to zero over the block). That is the one rounding at 1/8 in grey and
// 4:4:4; subsampled chroma at 1/8 comes from the 2x2 (or 2x1, 1x2) transform above, one
// sample per output pixel, and is converted to colour with that pixel's luma.
// The square 4x4 and 2x2 transforms are the scalar twins of the vector kernels
// (idct_sse2.cpp, idct_avx2.cpp).
#include "jpeg/decoder_internal.h"
#include "jpeg/idct_kernel.h"
#include "jpeg/idct_reduced.h"

namespace {

using idct::u32;

inline int32_t low16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

inline int32_t descale(uint32_t v, uint32_t rounding, int32_t shift) {
  return static_cast<int32_t>(v + rounding) >> shift;
}

inline uint8_t clamp_sample(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline uint8_t clamp_sample_fast(int32_t v) {
  const uint32_t index = static_cast<uint32_t>(v) + static_cast<uint32_t>(CLAMP_OFFSET);
  return index < 1024u ? CLAMP_TABLE.values[index] : clamp_sample(v);
}

// The full transform's sample for a block whose only nonzero coefficient is dc.
inline uint8_t flat_block_sample(int32_t dc) {
  return clamp_sample(descale(u32(low16(u32(dc) << 2)), 16u, 5) + 128);
}

// The 1-D kernel: N outputs from eight inputs (wrapping 32-bit sums, not yet descaled). For
// N = 2 and 4, outputs i and N-1-i share their even part and differ in the sign of their odd
// part (the cell means of an odd basis function are antisymmetric, of an even one symmetric);
// input 4 has weight 0 in every cell of two or more samples.
template <int32_t N, typename Store>
inline void reduced_kernel(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3, uint32_t x4,
                           uint32_t x5, uint32_t x6, uint32_t x7, Store store) {
  if constexpr (N == 8) {
    idct::idct_kernel(x0, x1, x2, x3, x4, x5, x6, x7, store);
  } else if constexpr (N == 1) {
    (void)x1, (void)x2, (void)x3, (void)x4, (void)x5, (void)x6, (void)x7;
    store(0, x0 << 13);
  } else {
    (void)x4;
    const uint32_t base = x0 << 13;
    for (int32_t i = 0; i < N / 2; i++) {
      const ReducedWeights& k = ReducedTable<N>::weights[i];
      const uint32_t even = base + x2 * u32(k.w2) + x6 * u32(k.w6);
      const uint32_t odd = x1 * u32(k.w1) + x3 * u32(k.w3) + x5 * u32(k.w5) + x7 * u32(k.w7);
      store(i, even + odd);
      store(N - 1 - i, even - odd);
    }
  }
}

template <int32_t CORNER, typename Value>
inline uint32_t input(int32_t k, Value value) {
  return k < CORNER ? u32(static_cast<int32_t>(value)) : 0u;
}

// The order and precision of a shape's two passes (see the file comment).
template <int32_t NH, int32_t NV>
struct ReducedPasses {
  static constexpr bool COLUMNS_FIRST = NH == 2 && NV == 2;
  static constexpr int32_t FRACTION_BITS = COLUMNS_FIRST ? 4 : 3;
};

// One block to NV rows of NH samples (row-major, stride NH). CORNER as in idct.cpp: only the
// top-left CORNER x CORNER coefficients can be nonzero. The first pass runs along rows (or
// columns, for COLUMNS_FIRST shapes): line v of the coefficients gives N1 outputs, kept with
// FRACTION_BITS bits below the sample's unit; the second pass turns each set of those into N2
// samples.
template <int32_t NH, int32_t NV, int32_t CORNER>
void reduced_block(const int16_t* coefficients, uint8_t* out) {
  constexpr bool COLUMNS_FIRST = ReducedPasses<NH, NV>::COLUMNS_FIRST;
  constexpr int32_t FRACTION = ReducedPasses<NH, NV>::FRACTION_BITS;
  constexpr int32_t N1 = COLUMNS_FIRST ? NV : NH;
  constexpr int32_t N2 = COLUMNS_FIRST ? NH : NV;
  // Coefficient k of line v, and where sample j of second-pass line i goes.
  constexpr int32_t LINE_STEP = COLUMNS_FIRST ? 1 : 8, ALONG_STEP = COLUMNS_FIRST ? 8 : 1;
  constexpr int32_t OUT_LINE_STEP = COLUMNS_FIRST ? NH : 1, OUT_ALONG_STEP = COLUMNS_FIRST ? 1 : NH;
  // Pass 1 results, transposed: workspace[8 * i + v] is output i of coefficient line v.
  int32_t workspace[8 * N1];
  for (int32_t v = 0; v < 8; v++) {
    int32_t* ws = workspace + v;
    const int16_t* line = coefficients + LINE_STEP * v;
    const auto at = [line](int32_t k) { return line[ALONG_STEP * k]; };
    int32_t ac = 0;
    if (v < CORNER)
      for (int32_t k = 1; k < CORNER; k++) ac |= at(k);
    if (ac == 0 || N1 == 1) {
      const int32_t dc = v < CORNER ? low16(u32(at(0)) << FRACTION) : 0;
      for (int32_t i = 0; i < N1; i++) ws[8 * i] = dc;
      continue;
    }
    reduced_kernel<N1>(input<CORNER>(0, at(0)), input<CORNER>(1, at(1)),
                       input<CORNER>(2, at(2)), input<CORNER>(3, at(3)),
                       input<CORNER>(4, at(4)), input<CORNER>(5, at(5)),
                       input<CORNER>(6, at(6)), input<CORNER>(7, at(7)),
                       [ws](int32_t i, uint32_t y) {
                         ws[8 * i] = low16(u32(descale(y, 1u << (12 - FRACTION), 13 - FRACTION)));
                       });
  }
  for (int32_t i = 0; i < N1; i++) {
    const int32_t* col = workspace + 8 * i;
    uint8_t* out_line = out + OUT_LINE_STEP * i;
    int32_t ac = 0;
    for (int32_t k = 1; k < CORNER; k++) ac |= col[k];
    if (ac == 0 || N2 == 1) {
      const uint8_t sample = clamp_sample(descale(u32(col[0]), 1u << (FRACTION + 2), FRACTION + 3) + 128);
      for (int32_t j = 0; j < N2; j++) out_line[OUT_ALONG_STEP * j] = sample;
      continue;
    }
    reduced_kernel<N2>(input<CORNER>(0, col[0]), input<CORNER>(1, col[1]),
                       input<CORNER>(2, col[2]), input<CORNER>(3, col[3]),
                       input<CORNER>(4, col[4]), input<CORNER>(5, col[5]),
                       input<CORNER>(6, col[6]), input<CORNER>(7, col[7]),
                       [out_line](int32_t j, uint32_t y) {
                         out_line[OUT_ALONG_STEP * j] = clamp_sample_fast(
                             descale(y, 1u << (FRACTION + 15), FRACTION + 16) + 128);
                       });
  }
}

}  // namespace

template <int32_t NH, int32_t NV>
void idct_reduced_blocks_scalar(const int16_t* const* blocks, const int32_t* limits,
                                int32_t count, uint8_t* out) {
  for (int32_t b = 0; b < count; b++, out += 64) {
    const int16_t* block = blocks[b];
    if (limits[b] <= 1 || (NH == 1 && NV == 1)) {
      // The AC terms of a 1x1 block average to zero whatever they are.
      if constexpr (NH * NV == 1)
        out[0] = flat_block_sample(block[0]);
      else
        std::memset(out, flat_block_sample(block[0]), NH * NV);
      continue;
    }
    // Zig-zag positions 0..2 lie in the top-left 2x2 corner, 0..9 in the 4x4 one.
    if (limits[b] <= 3)
      reduced_block<NH, NV, 2>(block, out);
    else if (limits[b] <= 10)
      reduced_block<NH, NV, 4>(block, out);
    else
      reduced_block<NH, NV, 8>(block, out);
  }
}

// Every shape a decode can ask for: square luma (4, 2, 1) and the chroma of every layout.
template void idct_reduced_blocks_scalar<4, 4>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<2, 2>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<1, 1>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<8, 4>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<4, 2>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<2, 1>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<4, 8>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<2, 4>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
template void idct_reduced_blocks_scalar<1, 2>(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
