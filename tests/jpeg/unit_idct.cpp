// Inverse DCT: flat and clamped blocks, the fast transform against the plain 64-bit one,
// the DC-only shortcut of the MCU-row transform, and pathological coefficients.
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> fast_idct(const int16_t* coefficients) {
  int16_t work[64];
  std::memcpy(work, coefficients, sizeof(work));
  std::vector<uint8_t> out(64);
  idct_8x8(work, out.data());
  return out;
}

std::vector<uint8_t> reference_idct(const int16_t* coefficients) {
  std::vector<uint8_t> out(64);
  idct_8x8_reference(coefficients, out.data());
  return out;
}

TEST(Idct, FlatBlocksAndClamping) {
  int16_t block[64] = {0};
  EXPECT_EQ(fast_idct(block), std::vector<uint8_t>(64, 128)) << "all-zero block";
  const struct {
    int16_t dc;
    uint8_t sample;
  } cases[] = {{-1024, 0}, {1016, 255}, {-2000, 0}, {4000, 255}, {80, 138}, {-84, 118}};
  for (const auto& c : cases) {
    block[0] = c.dc;
    EXPECT_EQ(fast_idct(block), std::vector<uint8_t>(64, c.sample)) << "DC " << c.dc;
    EXPECT_EQ(reference_idct(block), std::vector<uint8_t>(64, c.sample)) << "DC " << c.dc;
  }
}

TEST(Idct, FastTransformMatchesThePlainOneOnRealisticBlocks) {
  TestRandom random(99);
  for (int round = 0; round < 20000; round++) {
    int16_t block[64] = {0};
    // Sparse to dense blocks; some with whole zero rows or columns to exercise the shortcuts.
    const int density = random.range(0, 4);
    const int magnitude = random.range(1, 4) == 1 ? 2000 : 300;
    for (int i = 0; i < 64; i++)
      if (i == 0 || random.range(0, 4) < density)
        block[i] = static_cast<int16_t>(random.range(-magnitude, magnitude));
    if (round % 5 == 0)
      for (int i = 8; i < 64; i++) block[i] = 0;  // first row only
    if (round % 7 == 0)
      for (int i = 0; i < 64; i++)
        if (i % 8 != 0) block[i] = 0;  // first column only
    ASSERT_EQ(fast_idct(block), reference_idct(block)) << "round " << round;
  }
}

TEST(Idct, PathologicalCoefficientsStayDefined) {
  // Extremes overflow 32-bit sums; the result is unspecified but must come without undefined
  // behaviour (the sanitizers watch this test) and stay within 0..255.
  const int16_t extremes[] = {32767, -32768, 32767, -32768};
  int16_t block[64];
  for (int pattern = 0; pattern < 4; pattern++) {
    for (int i = 0; i < 64; i++)
      block[i] = (pattern == 0 || (i + pattern) % 2 == 0) ? extremes[(i + pattern) % 4] : 0;
    fast_idct(block);
    reference_idct(block);
  }
}

TEST(TransformMcuRow, ShortBlocksTakeTheCornerTransformWithTheSameResult) {
  JpegBuilder b = baseline_headers(8, 8, {{1, 1, 1, 0}});
  b.sos({{1, 0, 0}}).raw(Bytes(8, 0)).eoi();
  DecoderOnBytes t(b.bytes);
  t.decoder->create(*t.stream);
  ASSERT_EQ(t.decoder->start_decoding(), 0);
  JpegDecoderState& d = t.state();
  TestRandom random(4);
  for (int round = 0; round < 3000; round++) {
    // Zig-zag positions below the limit may be nonzero; the limit says where zeros begin.
    const int limit = random.range(2, 10);
    std::memset(d.block_ptrs[0], 0, 128);
    for (int k = 0; k < limit; k++)
      d.block_ptrs[0][zigzag_order[k]] = static_cast<int16_t>(random.range(-900, 900));
    d.block_coef_limit[0] = limit;
    transform_mcu_row(d);
    ASSERT_EQ(std::vector<uint8_t>(d.mcu_row_samples, d.mcu_row_samples + 64),
              reference_idct(d.block_ptrs[0]))
        << "round " << round << ", limit " << limit;
  }
}

TEST(TransformMcuRow, DcOnlyShortcutAgreesAndCoefficientsSurvive) {
  JpegBuilder b = baseline_headers(16, 8, {{1, 1, 1, 0}});
  b.sos({{1, 0, 0}}).raw(Bytes(8, 0)).eoi();
  DecoderOnBytes t(b.bytes);
  t.decoder->create(*t.stream);
  ASSERT_EQ(t.decoder->start_decoding(), 0);
  JpegDecoderState& d = t.state();
  for (int dc = -1100; dc <= 1100; dc += 7) {
    std::memset(d.block_ptrs[0], 0, 128);
    std::memset(d.block_ptrs[1], 0, 128);
    d.block_ptrs[0][0] = static_cast<int16_t>(dc);
    d.block_ptrs[1][0] = static_cast<int16_t>(dc);
    d.block_ptrs[1][9] = 5;
    d.block_coef_limit[0] = 1;  // DC-only shortcut
    d.block_coef_limit[1] = 64;
    transform_mcu_row(d);
    EXPECT_EQ(std::vector<uint8_t>(d.mcu_row_samples, d.mcu_row_samples + 64),
              reference_idct(d.block_ptrs[0]))
        << "DC " << dc;
    EXPECT_EQ(d.block_ptrs[1][9], 5) << "the transform must not modify coefficient blocks";
    EXPECT_EQ(d.block_ptrs[1][0], dc);
  }
}

}  // namespace
