// Vector kernels against their scalar twins at every level this CPU offers: the inverse DCT
// on random, sparse, corner and pathological blocks (in batches, so that pairing and flat
// blocks mix, and through the MCU-row transform capped to each level),
// the colour arithmetic on all 2^24 (y, cb, cr) triples, and the dequantisation of stored
// blocks with its nonzero mask.
#include "jpeg/simd.h"
#include "jpeg/reference/reference.h"
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Level {
  SimdLevel level;
  void (*idct)(const int16_t* const*, const int32_t*, int32_t, uint8_t*);
  void (*convert_h1v1)(const ColourRowJob&);
};

// The vector levels of this build that the CPU runs.
std::vector<Level> vector_levels() {
  std::vector<Level> levels;
#if defined(__SSE2__)
  if (simd_level_available() >= SimdLevel::SSE2) levels.push_back({SimdLevel::SSE2, idct_blocks_sse2, convert_h1v1_sse2});
#if defined(__x86_64__) || defined(__i386__)
  if (simd_level_available() >= SimdLevel::AVX2) levels.push_back({SimdLevel::AVX2, idct_blocks_avx2, convert_h1v1_avx2});
#endif
#endif
  return levels;
}

// Block makers: each fills 64 coefficients and says which limit the decoder would record.
using BlockMaker = std::function<int32_t(TestRandom&, int16_t*)>;

int32_t wrap16(int64_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

TEST(SimdIdct, BatchesMatchThePlainTransform) {
  const int32_t extremes[] = {32767, -32768, 1023 * 255, -1023 * 255, 1023 * 99, -1024 * 16};
  const struct {
    const char* name;
    BlockMaker make;
  } makers[] = {
      {"dense", [](TestRandom& r, int16_t* b) {
         for (int k = 0; k < 64; k++) b[k] = static_cast<int16_t>(r.range(-2048, 2047));
         return 64;
       }},
      {"sparse", [](TestRandom& r, int16_t* b) {
         for (int k = 0; k < 64; k++) b[k] = r.range(0, 5) == 0 ? static_cast<int16_t>(r.range(-300, 300)) : 0;
         return 64;
       }},
      {"extreme", [&extremes](TestRandom& r, int16_t* b) {
         for (int k = 0; k < 64; k++) b[k] = r.range(0, 2) ? static_cast<int16_t>(wrap16(extremes[r.range(0, 5)])) : 0;
         return 64;
       }},
      {"corner", [](TestRandom& r, int16_t* b) {
         // Nonzero only below the limit: 2..3 is the 2x2 corner, 4..10 the 4x4 one.
         const int limit = r.range(2, 10);
         for (int k = 0; k < limit; k++) b[zigzag_order[k]] = static_cast<int16_t>(r.range(-1500, 1500));
         return limit;
       }},
      {"DC only", [](TestRandom& r, int16_t* b) {
         b[0] = static_cast<int16_t>(r.range(-32768, 32767));
         return r.range(0, 1) ? 1 : 64;  // flat shortcut, or the full transform
       }},
      {"one AC term", [&extremes](TestRandom& r, int16_t* b) {
         b[r.range(1, 63)] = static_cast<int16_t>(r.range(0, 1) ? wrap16(extremes[r.range(0, 5)]) : r.range(-1024, 1023));
         return 64;
       }},
  };
  TestRandom random(2024);
  for (const Level& level : vector_levels()) {
    for (int round = 0; round < 400; round++) {
      // Batches of 1..9 blocks of mixed kinds: odd counts and flat blocks between pairs.
      const int count = random.range(1, 9);
      std::vector<int16_t> coefficients(64 * count, 0);
      std::vector<const int16_t*> blocks(count);
      std::vector<int32_t> limits(count);
      std::vector<const char*> kinds(count);
      for (int i = 0; i < count; i++) {
        const auto& maker = makers[random.range(0, 5)];
        limits[i] = maker.make(random, &coefficients[64 * i]);
        blocks[i] = &coefficients[64 * i];
        kinds[i] = maker.name;
      }
      const std::vector<int16_t> before = coefficients;
      std::vector<uint8_t> out(64 * count);
      level.idct(blocks.data(), limits.data(), count, out.data());
      ASSERT_EQ(coefficients, before) << simd_level_name(level.level) << ": coefficients changed";
      for (int i = 0; i < count; i++) {
        uint8_t expected[64];
        idct_8x8_reference(blocks[i], expected);
        ASSERT_EQ(std::vector<uint8_t>(out.begin() + 64 * i, out.begin() + 64 * i + 64),
                  std::vector<uint8_t>(expected, expected + 64))
            << simd_level_name(level.level) << ", round " << round << ", block " << i << " of "
            << count << " (" << kinds[i] << ", limit " << limits[i] << ")";
      }
    }
  }
}

// The decoder's MCU-row transform capped to each level the CPU runs, on a row that mixes every
// size class of block (flat, 2x2 and 4x4 corners, full): each block as the plain transform.
TEST(SimdIdct, EveryLevelTransformsEverySizeClassAsThePlainTransform) {
  JpegBuilder b = baseline_headers(8 * 24, 8, {{1, 1, 1, 0}});
  b.sos({{1, 0, 0}}).raw(Bytes(8, 0)).eoi();
  DecoderOnBytes t(b.bytes);
  t.decoder->create(*t.stream);
  ASSERT_EQ(t.decoder->start_decoding(), 0);
  JpegDecoderState& d = t.state();
  const int32_t limits[] = {1, 2, 3, 4, 10, 64};
  struct UncapOnExit {
    ~UncapOnExit() { limit_simd_level(SimdLevel::AVX2); }
  } uncap;
  TestRandom random(12);
  for (int round = 0; round < 200; round++) {
    for (int i = 0; i < d.mcu_row_blocks; i++) {
      const int32_t limit = limits[random.range(0, 5)];
      std::memset(d.block_ptrs[i], 0, 128);
      for (int k = 0; k < limit; k++)
        d.block_ptrs[i][zigzag_order[k]] = static_cast<int16_t>(random.range(-2048, 2047));
      d.block_coef_limit[i] = limit;
    }
    for (const SimdLevel level : {SimdLevel::SCALAR, SimdLevel::SSE2, SimdLevel::AVX2}) {
      if (level > simd_level_available() || limit_simd_level(level) != level) continue;
      transform_mcu_row(d);
      for (int i = 0; i < d.mcu_row_blocks; i++) {
        uint8_t expected[64];
        idct_8x8_reference(d.block_ptrs[i], expected);
        ASSERT_EQ(std::vector<uint8_t>(d.mcu_row_samples + 64 * i, d.mcu_row_samples + 64 * i + 64),
                  std::vector<uint8_t>(expected, expected + 64))
            << simd_level_name(level) << ", round " << round << ", block " << i << ", limit "
            << d.block_coef_limit[i];
      }
    }
  }
}

// Every (y, cb, cr): 32 MCUs of 4:4:4 hold y = 0..255 on row 0 with one cb and cr; the
// vector converter must give the table formula's pixels.
TEST(SimdColour, AllTriplesMatchTheTables) {
  const std::vector<Level> levels = vector_levels();
  if (levels.empty()) GTEST_SKIP() << "no vector kernels in this build";
  std::unique_ptr<JpegDecoder> tables(new JpegDecoder);
  build_colour_tables(*tables);
  std::vector<uint8_t> samples(192 * 32, 0);
  for (int y = 0; y < 256; y++) samples[192 * (y / 8) + y % 8] = static_cast<uint8_t>(y);
  std::vector<uint8_t> out(4 * 256), expected(4 * 256);
  const auto clamp = [](int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  for (int cb = 0; cb < 256; cb++) {
    for (int i = 0; i < 32; i++) std::memset(&samples[192 * i + 64], cb, 8);
    for (int cr = 0; cr < 256; cr++) {
      for (int i = 0; i < 32; i++) std::memset(&samples[192 * i + 128], cr, 8);
      const int32_t red = tables->cr_to_r[cr], blue = tables->cb_to_b[cb];
      const int32_t green = (tables->cb_to_g[cb] + tables->cr_to_g[cr]) >> 16;
      for (int y = 0; y < 256; y++) {
        expected[4 * y] = clamp(y + red);
        expected[4 * y + 1] = clamp(y + green);
        expected[4 * y + 2] = clamp(y + blue);
      }
      for (const Level& level : levels) {
        level.convert_h1v1({samples.data(), 32, 0, out.data(), nullptr});
        if (out == expected) continue;
        for (int y = 0; y < 256; y++)
          for (int k = 0; k < 4; k++)
            ASSERT_EQ(out[4 * y + k], expected[4 * y + k]) << simd_level_name(level.level) << ": y "
                << y << " cb " << cb << " cr " << cr << " channel " << k;
      }
    }
  }
}

// The subsampled layouts' addressing: vector and scalar converters on the same noise.
TEST(SimdColour, EveryLayoutMatchesTheScalarConverter) {
  if (vector_levels().empty()) GTEST_SKIP() << "no vector kernels in this build";
  const struct {
    int32_t h, v;
    void (*convert)(JpegDecoderState&);
  } layouts[] = {{1, 1, convert_h1v1}, {2, 1, convert_h2v1}, {1, 2, convert_h1v2}, {2, 2, convert_h2v2}};
  TestRandom random(7);
  std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
  JpegDecoderState& d = *decoder;
  build_colour_tables(d);
  for (const auto& layout : layouts) {
    d.mcu_width = 8 * layout.h;
    d.mcu_height = 8 * layout.v;
    d.mcus_per_row = 5;
    std::vector<uint8_t> samples(64 * (layout.h * layout.v + 2) * d.mcus_per_row);
    for (uint8_t& s : samples) s = static_cast<uint8_t>(random.next());
    const size_t row_bytes = 4 * d.mcus_per_row * d.mcu_width;
    d.mcu_row_samples = samples.data();
    for (int r = 0; r < d.mcu_height; r += layout.v) {
      d.rows_left_in_mcu_row = d.mcu_height - r;
      std::vector<uint8_t> rows[2];  // row a, row b
      for (const SimdLevel level : {SimdLevel::SCALAR, SimdLevel::SSE2, SimdLevel::AVX2}) {
        if (level > simd_level_available()) continue;
        std::vector<uint8_t> got[2] = {std::vector<uint8_t>(row_bytes), std::vector<uint8_t>(row_bytes)};
        d.row_buffer_a = got[0].data();
        d.row_buffer_b = got[1].data();
        d.kernels = &kernels_for(level);
        layout.convert(d);
        if (level == SimdLevel::SCALAR) {
          rows[0] = got[0], rows[1] = got[1];
          continue;
        }
        EXPECT_EQ(got[0], rows[0]) << simd_level_name(level) << " " << layout.h << "x" << layout.v << " row " << r;
        if (layout.v == 2) {
          EXPECT_EQ(got[1], rows[1]) << simd_level_name(level) << " " << layout.h << "x" << layout.v << " row " << r + 1;
        }
      }
    }
  }
}

TEST(SimdDequantise, ProductsWrapAndTheMaskMarksNonzeroResults) {
  if (vector_levels().empty()) GTEST_SKIP() << "no vector kernels in this build";
  TestRandom random(31);
  for (int round = 0; round < 2000; round++) {
    int16_t coefficients[64];
    uint16_t quant[64];
    for (int n = 0; n < 64; n++) {
      coefficients[n] = random.range(0, 2) ? 0 : static_cast<int16_t>(random.range(-32768, 32767));
      // Products that wrap to 0 (256 x 256) must not count as nonzero.
      quant[n] = random.range(0, 9) == 0 ? 256 : static_cast<uint16_t>(random.range(0, 65535));
      if (quant[n] == 256 && coefficients[n] != 0) coefficients[n] = 256;
    }
    int16_t out[64];
    const uint64_t mask = dequantise_block_sse2(coefficients, quant, out);
    for (int n = 0; n < 64; n++) {
      const int16_t expected = static_cast<int16_t>(static_cast<uint16_t>(
          static_cast<uint32_t>(static_cast<uint16_t>(coefficients[n])) * quant[n]));
      ASSERT_EQ(out[n], expected) << "round " << round << " position " << n;
      ASSERT_EQ((mask >> n) & 1, expected != 0 ? 1u : 0u) << "round " << round << " mask bit " << n;
    }
  }
}

}  // namespace
