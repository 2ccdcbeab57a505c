// Inverse DCT: flat and clamped blocks, the pass order on blocks where it shows, the fast
// transform against the plain one (pathological coefficients included), and the corner and
// DC-only shortcuts of the MCU-row transform.
#include "jpeg/reference/reference.h"
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

// Both transforms on the same block must give `expected`.
void expect_samples(const int16_t* block, const std::vector<uint8_t>& expected, const char* what) {
  EXPECT_EQ(fast_idct(block), expected) << what << ": fast transform";
  EXPECT_EQ(reference_idct(block), expected) << what << ": plain transform";
}

TEST(Idct, FlatBlocksAndClamping) {
  int16_t block[64] = {0};
  expect_samples(block, std::vector<uint8_t>(64, 128), "all-zero block");
  // A DC-only block gives clamp(((4 D + 16) >> 5) + 128), 4 D kept in 16 bits: 8192 wraps to
  // -32768 and clamps to 0.
  const struct {
    int16_t dc;
    uint8_t sample;
  } cases[] = {{-1024, 0}, {1016, 255}, {-2000, 0}, {4000, 255}, {80, 138},
               {-84, 118}, {15, 130},   {8192, 0},   {-8193, 255}};
  for (const auto& c : cases) {
    block[0] = c.dc;
    expect_samples(block, std::vector<uint8_t>(64, c.sample), ("DC " + std::to_string(c.dc)).c_str());
  }
}

// Blocks on which a columns-first transform gives other samples (by 1 in a few places): rows
// go first, with the 16-bit row results descaled by 11 bits, then columns by 18 bits.
TEST(Idct, RowsGoFirst) {
  int16_t full[64] = {0};
  full[0] = 200, full[1] = -24, full[8] = 24, full[9] = 37, full[18] = -23;
  expect_samples(full,
                 {157, 159, 162, 163, 161, 157, 151, 148, 158, 159, 159, 159, 158, 155, 153, 151,
                  158, 157, 155, 154, 153, 154, 155, 157, 156, 154, 150, 148, 149, 153, 158, 161,
                  151, 149, 147, 146, 148, 153, 159, 163, 143, 144, 145, 147, 150, 155, 159, 162,
                  136, 139, 144, 149, 154, 157, 159, 159, 131, 136, 144, 151, 156, 158, 158, 157},
                 "five coefficients");

  // Only row 0: the row pass transforms it, and every column takes the flat shortcut of pass 2.
  int16_t first_row[64] = {198, -17, -77, 0, 0, -25, 0, 0};
  const std::vector<uint8_t> row_samples = {135, 149, 155, 161, 170, 161, 146, 146};
  std::vector<uint8_t> expected;
  for (int r = 0; r < 8; r++) expected.insert(expected.end(), row_samples.begin(), row_samples.end());
  expect_samples(first_row, expected, "row 0 only");

  // Only column 0: every row takes the x0 << 2 shortcut of pass 1, the column pass does the rest.
  int16_t first_column[64] = {0};
  const int16_t column_values[8] = {216, 6, -64, 0, 0, -1, 0, 0};
  const uint8_t column_samples[8] = {145, 152, 160, 166, 165, 159, 150, 144};
  expected.clear();
  for (int k = 0; k < 8; k++) {
    first_column[8 * k] = column_values[k];
    expected.insert(expected.end(), 8, column_samples[k]);
  }
  expect_samples(first_column, expected, "column 0 only");
}

TEST(Idct, FastTransformMatchesThePlainOne) {
  TestRandom random(99);
  for (int round = 0; round < 20000; round++) {
    int16_t block[64] = {0};
    // Sparse to dense blocks, some beyond anything valid data produces (sums that wrap); some
    // with whole zero rows or columns for the shortcuts.
    const int density = random.range(0, 4);
    const int magnitudes[] = {300, 2000, 32767};
    const int magnitude = magnitudes[random.range(0, 2)];
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

TEST(Idct, PathologicalCoefficientsWrapTheSameInBothTransforms) {
  // Extremes overflow the 32-bit sums; the samples are whatever the wrapped arithmetic gives,
  // the same in both transforms, and without undefined behaviour (the sanitizers watch).
  const int16_t extremes[] = {32767, -32768, 32767, -32768};
  int16_t block[64];
  for (int pattern = 0; pattern < 4; pattern++) {
    for (int i = 0; i < 64; i++)
      block[i] = (pattern == 0 || (i + pattern) % 2 == 0) ? extremes[(i + pattern) % 4] : 0;
    EXPECT_EQ(fast_idct(block), reference_idct(block)) << "pattern " << pattern;
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
