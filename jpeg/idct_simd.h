// The vector inverse DCT, written once over a small set of lane operations so that the SSE2
// kernel (one block per 128-bit register) and the AVX2 kernel (two blocks, one per 128-bit
// half) share it. It computes the scalar transform's wrapping 32-bit sums exactly: every
// output of the 1-D kernel is a fixed integer combination of its inputs, so regrouping the
// products into pmaddwd pairs (16-bit constants, 32-bit sums) changes nothing modulo 2^32.
// Included only by the kernel files; everything here has internal linkage, so each file's
// copy keeps its own instruction set.
#pragma once

#include <cstdint>
#include <cstring>

#include "jpeg/idct_reduced.h"

// The kernel's pieces inline into one function per block shape, so that the vectors stay in
// registers (or in that function's own spill slots) rather than pass through memory.
#if defined(__GNUC__) || defined(__clang__)
#define FORCE_INLINE inline __attribute__((always_inline))
#else
#define FORCE_INLINE inline
#endif

namespace {

// A pmaddwd constant: the 16-bit pair (a, b) in every 32-bit lane.
constexpr uint32_t word_pair(int32_t a, int32_t b) {
  return static_cast<uint32_t>(static_cast<uint16_t>(a)) |
         static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16;
}

// The 13-bit constants of the kernel regrouped by input pair. Even part: t0/t1 from (x0, x4),
// t2/t3 from (x2, x6). Odd part: each output o_k from (x1, x3) and (x5, x7).
constexpr uint32_t K04_SUM = word_pair(8192, 8192), K04_DIFF = word_pair(8192, -8192);
constexpr uint32_t K26_T2 = word_pair(4433, 4433 - 15137), K26_T3 = word_pair(4433 + 6270, 4433);
// z5 = 9633 (x1 + x3 + x5 + x7); z1 = -7373 (x1 + x7); z2 = -20995 (x3 + x5);
// z3 = -16069 (x3 + x7) + z5; z4 = -3196 (x1 + x5) + z5.
constexpr uint32_t K13_O0 = word_pair(-7373 + 9633, -16069 + 9633);
constexpr uint32_t K57_O0 = word_pair(9633, 2446 - 7373 - 16069 + 9633);
constexpr uint32_t K13_O1 = word_pair(-3196 + 9633, -20995 + 9633);
constexpr uint32_t K57_O1 = word_pair(16819 - 20995 - 3196 + 9633, 9633);
constexpr uint32_t K13_O2 = word_pair(9633, 25172 - 20995 - 16069 + 9633);
constexpr uint32_t K57_O2 = word_pair(-20995 + 9633, -16069 + 9633);
constexpr uint32_t K13_O3 = word_pair(12299 - 7373 - 3196 + 9633, 9633);
constexpr uint32_t K57_O3 = word_pair(-3196 + 9633, -7373 + 9633);

template <typename Ops>
struct VectorIdct {
  using V = typename Ops::V;

  // The eight 32-bit outputs of the 1-D kernel for four lanes, from the interleaved input
  // pairs, with `rounding` already added (through t0 and t1, which every output contains).
  static FORCE_INLINE void kernel_half(V p04, V p26, V p13, V p57, V rounding, V* y) {
    const V t0 = Ops::add32(Ops::madd(p04, Ops::set32(K04_SUM)), rounding);
    const V t1 = Ops::add32(Ops::madd(p04, Ops::set32(K04_DIFF)), rounding);
    const V t2 = Ops::madd(p26, Ops::set32(K26_T2));
    const V t3 = Ops::madd(p26, Ops::set32(K26_T3));
    const V e10 = Ops::add32(t0, t3), e13 = Ops::sub32(t0, t3);
    const V e11 = Ops::add32(t1, t2), e12 = Ops::sub32(t1, t2);
    const V o0 = Ops::add32(Ops::madd(p13, Ops::set32(K13_O0)), Ops::madd(p57, Ops::set32(K57_O0)));
    const V o1 = Ops::add32(Ops::madd(p13, Ops::set32(K13_O1)), Ops::madd(p57, Ops::set32(K57_O1)));
    const V o2 = Ops::add32(Ops::madd(p13, Ops::set32(K13_O2)), Ops::madd(p57, Ops::set32(K57_O2)));
    const V o3 = Ops::add32(Ops::madd(p13, Ops::set32(K13_O3)), Ops::madd(p57, Ops::set32(K57_O3)));
    y[0] = Ops::add32(e10, o3);
    y[7] = Ops::sub32(e10, o3);
    y[1] = Ops::add32(e11, o2);
    y[6] = Ops::sub32(e11, o2);
    y[2] = Ops::add32(e12, o1);
    y[5] = Ops::sub32(e12, o1);
    y[3] = Ops::add32(e13, o0);
    y[4] = Ops::sub32(e13, o0);
  }

  // The 1-D kernel across x[0..7] (16-bit lanes), lanes 0..3 into lo, 4..7 into hi.
  static FORCE_INLINE void kernel(const V* x, V rounding, V* lo, V* hi) {
    kernel_half(Ops::unpacklo16(x[0], x[4]), Ops::unpacklo16(x[2], x[6]),
                Ops::unpacklo16(x[1], x[3]), Ops::unpacklo16(x[5], x[7]), rounding, lo);
    kernel_half(Ops::unpackhi16(x[0], x[4]), Ops::unpackhi16(x[2], x[6]),
                Ops::unpackhi16(x[1], x[3]), Ops::unpackhi16(x[5], x[7]), rounding, hi);
  }

  // Transposes the 8x8 matrix of 16-bit values given one row per vector into m (the rows
  // come as values, so that loads go straight into the shuffles).
  static FORCE_INLINE void transpose(V r0, V r1, V r2, V r3, V r4, V r5, V r6, V r7, V* m) {
    const V a0 = Ops::unpacklo16(r0, r1), a1 = Ops::unpackhi16(r0, r1);
    const V a2 = Ops::unpacklo16(r2, r3), a3 = Ops::unpackhi16(r2, r3);
    const V a4 = Ops::unpacklo16(r4, r5), a5 = Ops::unpackhi16(r4, r5);
    const V a6 = Ops::unpacklo16(r6, r7), a7 = Ops::unpackhi16(r6, r7);
    const V b0 = Ops::unpacklo32(a0, a2), b1 = Ops::unpackhi32(a0, a2);
    const V b2 = Ops::unpacklo32(a1, a3), b3 = Ops::unpackhi32(a1, a3);
    const V b4 = Ops::unpacklo32(a4, a6), b5 = Ops::unpackhi32(a4, a6);
    const V b6 = Ops::unpacklo32(a5, a7), b7 = Ops::unpackhi32(a5, a7);
    m[0] = Ops::unpacklo64(b0, b4);
    m[1] = Ops::unpackhi64(b0, b4);
    m[2] = Ops::unpacklo64(b1, b5);
    m[3] = Ops::unpackhi64(b1, b5);
    m[4] = Ops::unpacklo64(b2, b6);
    m[5] = Ops::unpackhi64(b2, b6);
    m[6] = Ops::unpacklo64(b3, b7);
    m[7] = Ops::unpackhi64(b3, b7);
  }

  // load(r) gives coefficient row r (lane u = horizontal frequency u) of the block(s); the
  // samples go out two rows per vector through store_rows.
  template <typename Load, typename Store>
  static FORCE_INLINE void transform(Load load, Store store_rows) {
    V m[8], lo[8], hi[8];
    // Pass 1, rows: after the transpose m[k] holds coefficient k of every row (lane = row).
    transpose(load(0), load(1), load(2), load(3), load(4), load(5), load(6), load(7), m);
    kernel(m, Ops::set32(1024), lo, hi);
    // Descale by 11 bits and keep the low 16 bits: bits 11..26 of the sum, sign-extended
    // (shift left 5, then arithmetic right 16), which packs without saturating.
    for (int32_t k = 0; k < 8; k++)
      m[k] = Ops::packs32(Ops::srai32(Ops::slli32(lo[k], 5), 16),
                          Ops::srai32(Ops::slli32(hi[k], 5), 16));
    // Pass 2, columns: m[k] lane r is row r's output k; the transpose makes m[r] lane c the
    // pass-1 value of row r, column c.
    transpose(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m);
    kernel(m, Ops::set32(131072), lo, hi);
    store_samples(lo, hi, m, store_rows);
  }

  // Descales pass-2 outputs by 18 bits (the results fit 14 bits, so packing is exact), then
  // clamp(v + 128) as a signed saturating pack to -128..127 with the top bit flipped.
  template <typename Store>
  static FORCE_INLINE void store_samples(const V* lo, const V* hi, V* m, Store store_rows) {
    for (int32_t k = 0; k < 8; k++)
      m[k] = Ops::packs32(Ops::srai32(lo[k], 18), Ops::srai32(hi[k], 18));
    const V flip = Ops::set32(0x80808080u);
    for (int32_t k = 0; k < 8; k += 2)
      store_rows(k, Ops::xor_(Ops::packs16(m[k], m[k + 1]), flip));
  }

  // The eight outputs of the 1-D kernel for four lanes when inputs 4..7 are zero, from the
  // pairs (x0, x2) and (x1, x3): each even term is then one pmaddwd.
  static FORCE_INLINE void corner_half(V p02, V p13, V rounding, V* y) {
    const V e10 = Ops::add32(Ops::madd(p02, Ops::set32(word_pair(8192, 4433 + 6270))), rounding);
    const V e13 = Ops::add32(Ops::madd(p02, Ops::set32(word_pair(8192, -4433 - 6270))), rounding);
    const V e11 = Ops::add32(Ops::madd(p02, Ops::set32(word_pair(8192, 4433))), rounding);
    const V e12 = Ops::add32(Ops::madd(p02, Ops::set32(word_pair(8192, -4433))), rounding);
    const V o0 = Ops::madd(p13, Ops::set32(K13_O0));
    const V o1 = Ops::madd(p13, Ops::set32(K13_O1));
    const V o2 = Ops::madd(p13, Ops::set32(K13_O2));
    const V o3 = Ops::madd(p13, Ops::set32(K13_O3));
    y[0] = Ops::add32(e10, o3);
    y[7] = Ops::sub32(e10, o3);
    y[1] = Ops::add32(e11, o2);
    y[6] = Ops::sub32(e11, o2);
    y[2] = Ops::add32(e12, o1);
    y[5] = Ops::sub32(e12, o1);
    y[3] = Ops::add32(e13, o0);
    y[4] = Ops::sub32(e13, o0);
  }

  // A block whose nonzero coefficients all lie in the top-left 4x4 corner; load(r) gives row r
  // (r = 0..3), of which lanes 0..3 count. Rows 4..7 of both passes' inputs are zero, so pass 1
  // transforms four rows (one half) and pass 2 needs four inputs per column.
  template <typename Load, typename Store>
  static FORCE_INLINE void transform_corner(Load load, Store store_rows) {
    // 4x4 transpose, then pairs of columns 0 and 2, and of columns 1 and 3, of each row.
    const V a0 = Ops::unpacklo16(load(0), load(1)), a1 = Ops::unpacklo16(load(2), load(3));
    const V b0 = Ops::unpacklo32(a0, a1);  // column 0 of rows 0..3, then column 1
    const V b1 = Ops::unpackhi32(a0, a1);  // column 2, then column 3
    V y[8], m[8];
    corner_half(Ops::unpacklo16(b0, b1), Ops::unpackhi16(b0, b1), Ops::set32(1024), y);
    // Descale as in transform(); lanes 4..7 (rows 4..7) are zero.
    const V zero = Ops::set32(0);
    for (int32_t k = 0; k < 8; k++) m[k] = Ops::packs32(Ops::srai32(Ops::slli32(y[k], 5), 16), zero);
    // m[k] lane r (r < 4) is row r's output k. Transpose to rows w[r] (lane c), r = 0..3.
    const V d0 = Ops::unpacklo16(m[0], m[1]), d1 = Ops::unpacklo16(m[2], m[3]);
    const V d2 = Ops::unpacklo16(m[4], m[5]), d3 = Ops::unpacklo16(m[6], m[7]);
    const V f0 = Ops::unpacklo32(d0, d1), f1 = Ops::unpackhi32(d0, d1);
    const V f2 = Ops::unpacklo32(d2, d3), f3 = Ops::unpackhi32(d2, d3);
    const V w0 = Ops::unpacklo64(f0, f2), w1 = Ops::unpackhi64(f0, f2);
    const V w2 = Ops::unpacklo64(f1, f3), w3 = Ops::unpackhi64(f1, f3);
    V lo[8], hi[8];
    const V rounding = Ops::set32(131072);
    corner_half(Ops::unpacklo16(w0, w2), Ops::unpacklo16(w1, w3), rounding, lo);
    corner_half(Ops::unpackhi16(w0, w2), Ops::unpackhi16(w1, w3), rounding, hi);
    store_samples(lo, hi, m, store_rows);
  }
};

// Zig-zag positions 0..9 lie in the top-left 4x4 corner: a block whose coefficient limit is
// at most 10 takes the corner transform.
constexpr int32_t CORNER_LIMIT = 10;

// The sample of a block whose only nonzero coefficient is the DC term d (as idct.cpp's
// shortcut computes it: pass 1 keeps 4 d in 16 bits, pass 2 descales by 5 bits).
inline uint8_t flat_block_sample(int16_t dc) {
  const int32_t x0 = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(dc) << 2));
  const int32_t v = ((x0 + 16) >> 5) + 128;
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// ---- reduced transforms: decoding at 1/2 (N = 4) and 1/4 (N = 2) size ---------------------
// The arithmetic of idct_reduced.cpp with the lanes of VectorIdct. The 4x4 transform runs
// pass 1 over the eight rows (lane = row, after a transpose), then the N outputs of every row
// transposed so that pass 2 runs with lane = output column. The 2x2 one runs columns first, as
// its scalar twin does: pass 1 straight on the loaded rows (lane = column), pass 2 with lane =
// output row. Each output's weights become pmaddwd pairs of the same 13-bit values, so the
// sums agree with the scalar ones modulo 2^32.
template <typename Ops, int32_t N>
struct ReducedVectorIdct {
  using V = typename Ops::V;

  // The N outputs of the 1-D reduced kernel for four lanes, from the input pairs (x0, x2),
  // (x4, x6), (x1, x3), (x5, x7), with `rounding` added.
  static FORCE_INLINE void kernel_half(V p02, V p46, V p13, V p57, V rounding, V* y) {
    for (int32_t i = 0; i < N / 2; i++) {
      const ReducedWeights& k = ReducedTable<N>::weights[i];
      V even = Ops::add32(Ops::madd(p02, Ops::set32(word_pair(8192, k.w2))), rounding);
      if (k.w6 != 0) even = Ops::add32(even, Ops::madd(p46, Ops::set32(word_pair(0, k.w6))));
      const V odd = Ops::add32(Ops::madd(p13, Ops::set32(word_pair(k.w1, k.w3))),
                               Ops::madd(p57, Ops::set32(word_pair(k.w5, k.w7))));
      y[i] = Ops::add32(even, odd);
      y[N - 1 - i] = Ops::sub32(even, odd);
    }
  }

  // load(r) gives coefficient row r of the block(s); store(v) receives the N x N samples
  // (row-major) in the first N * N bytes of each 128-bit half.
  template <typename Load, typename Store>
  static FORCE_INLINE void transform(Load load, Store store) {
    constexpr bool COLUMNS_FIRST = N == 2;
    constexpr int32_t FRACTION = COLUMNS_FIRST ? 4 : 3;  // bits kept below the sample's unit
    V m[8], lo[N], hi[N];
    if constexpr (COLUMNS_FIRST) {
      for (int32_t r = 0; r < 8; r++) m[r] = load(r);
    } else {
      VectorIdct<Ops>::transpose(load(0), load(1), load(2), load(3), load(4), load(5), load(6),
                                 load(7), m);
    }
    const V rounding1 = Ops::set32(1u << (12 - FRACTION));
    kernel_half(Ops::unpacklo16(m[0], m[2]), Ops::unpacklo16(m[4], m[6]),
                Ops::unpacklo16(m[1], m[3]), Ops::unpacklo16(m[5], m[7]), rounding1, lo);
    kernel_half(Ops::unpackhi16(m[0], m[2]), Ops::unpackhi16(m[4], m[6]),
                Ops::unpackhi16(m[1], m[3]), Ops::unpackhi16(m[5], m[7]), rounding1, hi);
    // Low 16 bits of the sums descaled by 13 - FRACTION (shift left 3 + FRACTION, arithmetic
    // right 16): w[i] lane v is output i of line v; the transpose makes m[v] lane i the same
    // value (lanes N..7 zero).
    const V zero = Ops::set32(0);
    V w[8];
    for (int32_t i = 0; i < 8; i++)
      w[i] = i < N ? Ops::packs32(Ops::srai32(Ops::slli32(lo[i], 3 + FRACTION), 16),
                                  Ops::srai32(Ops::slli32(hi[i], 3 + FRACTION), 16))
                   : zero;
    VectorIdct<Ops>::transpose(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], m);
    V y[N];
    kernel_half(Ops::unpacklo16(m[0], m[2]), Ops::unpacklo16(m[4], m[6]),
                Ops::unpacklo16(m[1], m[3]), Ops::unpacklo16(m[5], m[7]),
                Ops::set32(1u << (FRACTION + 15)), y);
    // Rows first, y[j] lane i is sample (j, i) before descaling; columns first, sample (i, j).
    // Clamp as VectorIdct::store_samples does.
    const V flip = Ops::set32(0x80808080u);
    if constexpr (N == 4) {
      const V rows01 = Ops::packs32(Ops::srai32(y[0], 19), Ops::srai32(y[1], 19));
      const V rows23 = Ops::packs32(Ops::srai32(y[2], 19), Ops::srai32(y[3], 19));
      store(Ops::xor_(Ops::packs16(rows01, rows23), flip));
    } else {
      const V samples = Ops::unpacklo32(Ops::srai32(y[0], 20), Ops::srai32(y[1], 20));
      const V words = Ops::packs32(samples, samples);
      store(Ops::xor_(Ops::packs16(words, words), flip));
    }
  }
};

}  // namespace
