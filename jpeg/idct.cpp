// Integer inverse DCT (Loeffler-Ligtenberg-Moschytz, 13-bit constants): rows first, each
// descaled by 11 bits and kept as 16-bit values, then columns, descaled by 18 bits, level
// shifted and clamped to 0..255. Arithmetic runs on 32-bit unsigned values so that
// pathological coefficients wrap instead of overflowing; valid data never wraps. This is the
// scalar twin of the vector kernels (idct_sse2.cpp, idct_avx2.cpp); the decode's kernel table
// names the one that runs.
#include "jpeg/decoder_internal.h"
#include "jpeg/idct_kernel.h"

namespace {

using idct::u32;
using idct::idct_kernel;

// Arithmetic shift of a wrapped 32-bit value.
inline int32_t descale(uint32_t v, uint32_t rounding, int32_t shift) {
  return static_cast<int32_t>(v + rounding) >> shift;
}

inline uint8_t clamp_sample(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The same by table for the values that valid data produces; anything else by comparison.
inline uint8_t clamp_sample_fast(int32_t v) {
  const uint32_t index = static_cast<uint32_t>(v) + static_cast<uint32_t>(CLAMP_OFFSET);
  return index < 1024u ? CLAMP_TABLE.values[index] : clamp_sample(v);
}

}  // namespace

namespace {

// Input k of a 1-D transform: the value, or a constant 0 beyond the corner the caller vouches
// for (k >= CORNER), so that the compiler drops the arithmetic on it.
template <int32_t CORNER, typename Value>
inline uint32_t input(int32_t k, Value value) {
  return k < CORNER ? u32(static_cast<int32_t>(value)) : 0u;
}

inline int32_t low16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// The sample of a column (or block) whose only nonzero input is x0.
inline uint8_t flat_sample(int32_t x0) { return clamp_sample(descale(u32(x0), 16u, 5) + 128); }

// The transform proper: coefficients are read in place, pass 1 keeps its 16-bit results in a
// local workspace (which the output bytes cannot alias), pass 2 writes the samples. CORNER is
// 8, or smaller when the caller guarantees that only the top-left CORNER x CORNER coefficients
// can be nonzero; the arithmetic is the same, with the known zeros left out.
template <int32_t CORNER>
inline void idct_block(const int16_t* coefficients, uint8_t* out) {
  // Pass 1 results, transposed: workspace[8 * c + r] is column c of row r, so that pass 2
  // reads each column contiguously.
  int32_t workspace[64];
  // Pass 1: rows (horizontal frequencies), descaled by 11 bits to 16-bit values. Rows from
  // CORNER on are zero; pass 2 never reads them.
  for (int32_t r = 0; r < CORNER; r++) {
    const int16_t* row = coefficients + 8 * r;
    int32_t* ws = workspace + r;
    int32_t ac = 0;
    for (int32_t k = 1; k < CORNER; k++) ac |= row[k];
    if (ac == 0) {
      const int32_t dc = low16(u32(row[0]) << 2);
      for (int32_t k = 0; k < 8; k++) ws[8 * k] = dc;
      continue;
    }
    idct_kernel(input<CORNER>(0, row[0]), input<CORNER>(1, row[1]), input<CORNER>(2, row[2]),
                input<CORNER>(3, row[3]), input<CORNER>(4, row[4]), input<CORNER>(5, row[5]),
                input<CORNER>(6, row[6]), input<CORNER>(7, row[7]),
                [ws](int32_t k, uint32_t y) { ws[8 * k] = low16(u32(descale(y, 1024u, 11))); });
  }
  // Pass 2: columns, descaled by 18 bits, level-shifted and clamped.
  for (int32_t c = 0; c < 8; c++) {
    const int32_t* col = workspace + 8 * c;
    uint8_t* out_col = out + c;
    int32_t ac = 0;
    for (int32_t k = 1; k < CORNER; k++) ac |= col[k];
    if (ac == 0) {
      const uint8_t sample = flat_sample(col[0]);
      for (int32_t k = 0; k < 8; k++) out_col[8 * k] = sample;
      continue;
    }
    idct_kernel(input<CORNER>(0, col[0]), input<CORNER>(1, col[1]), input<CORNER>(2, col[2]),
                input<CORNER>(3, col[3]), input<CORNER>(4, col[4]), input<CORNER>(5, col[5]),
                input<CORNER>(6, col[6]), input<CORNER>(7, col[7]),
                [out_col](int32_t k, uint32_t y) {
                  out_col[8 * k] = clamp_sample_fast(descale(y, 131072u, 18) + 128);
                });
  }
}

}  // namespace

void idct_8x8(const int16_t* work, uint8_t* out) { idct_block<8>(work, out); }

void transform_mcu_row(JpegDecoderState& d) {
  const TransformBlocks luma = d.kernels->transform_blocks[d.scale_shift][d.scale_shift];
  const TransformBlocks chroma =
      d.kernels->transform_blocks[chroma_shift_across(d)][chroma_shift_down(d)];
  if (luma == chroma) {
    luma(d.block_ptrs, d.block_coef_limit, d.mcu_row_blocks, d.mcu_row_samples);
    return;
  }
  // MCU by MCU: its luma blocks, then its two chroma blocks at their own size.
  const int32_t luma_blocks = d.blocks_per_mcu - 2;
  for (int32_t b = 0; b < d.mcu_row_blocks; b += d.blocks_per_mcu) {
    luma(d.block_ptrs + b, d.block_coef_limit + b, luma_blocks, d.mcu_row_samples + 64 * b);
    const int32_t c = b + luma_blocks;
    chroma(d.block_ptrs + c, d.block_coef_limit + c, 2, d.mcu_row_samples + 64 * c);
  }
}

void transform_blocks_scalar(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                             uint8_t* out) {
  for (int32_t b = 0; b < count; b++, out += 64) {
    const int16_t* block = blocks[b];
    if (limits[b] <= 1) {
      // Only the DC term can be nonzero: one flat block.
      std::memset(out, flat_sample(low16(u32(block[0]) << 2)), 64);
      continue;
    }
    // Zig-zag positions 0..2 lie in the top-left 2x2 corner, 0..9 in the 4x4 one.
    if (limits[b] <= 3)
      idct_block<2>(block, out);
    else if (limits[b] <= 10)
      idct_block<4>(block, out);
    else
      idct_block<8>(block, out);
  }
}
