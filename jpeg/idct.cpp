// Integer inverse DCT (Loeffler-Ligtenberg-Moschytz, 13-bit constants): columns first, then
// rows, level shift and clamp to 0..255 - the pass order that reproduces the widely used
// integer decoders bit for bit. Arithmetic runs on 32-bit unsigned values so that
// pathological coefficients wrap instead of overflowing; valid data never wraps.
#include "jpeg/decoder_internal.h"

namespace {

inline uint32_t u32(int32_t v) { return static_cast<uint32_t>(v); }

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

// The 1-D kernel on eight inputs; store(k, y_k) receives the outputs (not yet descaled). Each
// output goes straight to its destination: no staging array for the compiler to spill.
template <typename Store>
inline void idct_kernel(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3, uint32_t x4,
                        uint32_t x5, uint32_t x6, uint32_t x7, Store store) {
  uint32_t z1 = (x2 + x6) * 4433u;
  const uint32_t t2 = z1 - x6 * 15137u;
  const uint32_t t3 = z1 + x2 * 6270u;
  const uint32_t t0 = (x0 + x4) << 13;
  const uint32_t t1 = (x0 - x4) << 13;
  const uint32_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;

  z1 = x7 + x1;
  uint32_t z2 = x5 + x3, z3 = x7 + x3, z4 = x5 + x1;
  const uint32_t z5 = (z3 + z4) * 9633u;
  uint32_t o0 = x7 * 2446u, o1 = x5 * 16819u, o2 = x3 * 25172u, o3 = x1 * 12299u;
  z1 = z1 * u32(-7373);
  z2 = z2 * u32(-20995);
  z3 = z3 * u32(-16069) + z5;
  z4 = z4 * u32(-3196) + z5;
  o0 += z1 + z3;
  o1 += z2 + z4;
  o2 += z2 + z3;
  o3 += z1 + z4;

  store(0, e10 + o3);
  store(7, e10 - o3);
  store(1, e11 + o2);
  store(6, e11 - o2);
  store(2, e12 + o1);
  store(5, e12 - o1);
  store(3, e13 + o0);
  store(4, e13 - o0);
}

}  // namespace

namespace {

// Input k of a 1-D transform: the value, or a constant 0 beyond the corner the caller vouches
// for (k >= CORNER), so that the compiler drops the arithmetic on it.
template <int32_t CORNER, typename Value>
inline uint32_t input(int32_t k, Value value) {
  return k < CORNER ? u32(static_cast<int32_t>(value)) : 0u;
}

// The transform proper: coefficients are read in place, pass 1 keeps its 16-bit results in a
// local workspace (which the output bytes cannot alias), pass 2 writes the samples. CORNER is
// 8, or smaller when the caller guarantees that only the top-left CORNER x CORNER coefficients
// can be nonzero; the arithmetic is the same, with the known zeros left out.
template <int32_t CORNER>
inline void idct_block(const int16_t* coefficients, uint8_t* out) {
  int32_t workspace[64];
  // Pass 1: columns (vertical frequencies), descaled by 11 bits.
  for (int32_t c = 0; c < CORNER; c++) {
    const int16_t* col = coefficients + c;
    int32_t* ws = workspace + c;
    int32_t ac = 0;
    for (int32_t k = 1; k < CORNER; k++) ac |= col[8 * k];
    if (ac == 0) {
      const int32_t dc = static_cast<int16_t>(static_cast<uint16_t>(u32(col[0]) << 2));
      for (int32_t k = 0; k < 8; k++) ws[8 * k] = dc;
      continue;
    }
    idct_kernel(input<CORNER>(0, col[0]), input<CORNER>(1, col[8]), input<CORNER>(2, col[16]),
                input<CORNER>(3, col[24]), input<CORNER>(4, col[32]), input<CORNER>(5, col[40]),
                input<CORNER>(6, col[48]), input<CORNER>(7, col[56]),
                [ws](int32_t k, uint32_t y) { ws[8 * k] = static_cast<int16_t>(descale(y, 1024u, 11)); });
  }
  // Pass 2: rows, descaled by 18 bits, level-shifted and clamped. Columns from CORNER on are
  // zero in the workspace too (never written, never read).
  for (int32_t r = 0; r < 8; r++) {
    const int32_t* row = workspace + 8 * r;
    uint8_t* out_row = out + 8 * r;
    int32_t ac = 0;
    for (int32_t k = 1; k < CORNER; k++) ac |= row[k];
    if (ac == 0) {
      std::memset(out_row, clamp_sample(descale(u32(row[0]), 16u, 5) + 128), 8);
      continue;
    }
    idct_kernel(input<CORNER>(0, row[0]), input<CORNER>(1, row[1]), input<CORNER>(2, row[2]),
                input<CORNER>(3, row[3]), input<CORNER>(4, row[4]), input<CORNER>(5, row[5]),
                input<CORNER>(6, row[6]), input<CORNER>(7, row[7]), [out_row](int32_t k, uint32_t y) {
                  out_row[k] = clamp_sample_fast(descale(y, 131072u, 18) + 128);
                });
  }
}

}  // namespace

void idct_8x8(int16_t* work, uint8_t* out) { idct_block<8>(work, out); }

namespace {

// The kernel in 64-bit arithmetic, for the reference transform.
void idct_kernel_wide(const int64_t* x, int64_t* y) {
  int64_t z1 = (x[2] + x[6]) * 4433;
  const int64_t t2 = z1 - x[6] * 15137;
  const int64_t t3 = z1 + x[2] * 6270;
  const int64_t t0 = (x[0] + x[4]) * 8192;
  const int64_t t1 = (x[0] - x[4]) * 8192;
  int64_t zz1 = x[7] + x[1], z2 = x[5] + x[3], z3 = x[7] + x[3], z4 = x[5] + x[1];
  const int64_t z5 = (z3 + z4) * 9633;
  int64_t o0 = x[7] * 2446, o1 = x[5] * 16819, o2 = x[3] * 25172, o3 = x[1] * 12299;
  zz1 *= -7373;
  z2 *= -20995;
  z3 = z3 * -16069 + z5;
  z4 = z4 * -3196 + z5;
  o0 += zz1 + z3;
  o1 += z2 + z4;
  o2 += z2 + z3;
  o3 += zz1 + z4;
  y[0] = t0 + t3 + o3;
  y[7] = t0 + t3 - o3;
  y[1] = t1 + t2 + o2;
  y[6] = t1 + t2 - o2;
  y[2] = t1 - t2 + o1;
  y[5] = t1 - t2 - o1;
  y[3] = t0 - t3 + o0;
  y[4] = t0 - t3 - o0;
}

int64_t floor_shift(int64_t v, int32_t shift) {
  // Floor division by 2^shift, written without shifting negative values.
  const int64_t divisor = int64_t{1} << shift;
  return v >= 0 ? v / divisor : -((-v + divisor - 1) / divisor);
}

}  // namespace

void idct_8x8_reference(const int16_t* coefficients, uint8_t* out) {
  int16_t work[64];
  int64_t x[8], y[8];
  for (int32_t c = 0; c < 8; c++) {
    for (int32_t k = 0; k < 8; k++) x[k] = coefficients[8 * k + c];
    idct_kernel_wide(x, y);
    for (int32_t k = 0; k < 8; k++)
      work[8 * k + c] = static_cast<int16_t>(floor_shift(y[k] + 1024, 11));
  }
  for (int32_t r = 0; r < 8; r++) {
    for (int32_t k = 0; k < 8; k++) x[k] = work[8 * r + k];
    idct_kernel_wide(x, y);
    for (int32_t k = 0; k < 8; k++) {
      const int64_t v = floor_shift(y[k] + 131072, 18) + 128;
      out[8 * r + k] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
}

void transform_mcu_row(JpegDecoderState& d) {
  for (int32_t b = 0; b < d.mcu_row_blocks; b++) {
    const int16_t* block = d.block_ptrs[b];
    uint8_t* out = d.mcu_row_samples + 64 * b;
    if (d.block_coef_limit[b] <= 1) {
      // Only the DC term can be nonzero: one flat block.
      const int32_t dc = static_cast<int16_t>(static_cast<uint16_t>(u32(block[0]) << 2));
      std::memset(out, clamp_sample(descale(u32(dc), 16u, 5) + 128), 64);
      continue;
    }
    // Zig-zag positions 0..2 lie in the top-left 2x2 corner, 0..9 in the 4x4 one.
    if (d.block_coef_limit[b] <= 3)
      idct_block<2>(block, out);
    else if (d.block_coef_limit[b] <= 10)
      idct_block<4>(block, out);
    else
      idct_block<8>(block, out);
  }
}
