// Decoding at 1/2, 1/4 and 1/8 size: the reduced transforms against the average of the full
// transform over each cell, their vector kernels against their scalar twins, and whole decodes
// of every layout at every scale against the box-filtered full-size decode (exact on pictures
// of flat blocks), with the reduced sizes of odd dimensions and the scale's own contract.
#include "jpeg/reference/reference.h"
#include "jpeg/simd.h"
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The float average, over each cell of an nh x nv grid, of the exact 8x8 inverse DCT (level
// shift included, no rounding or clamping).
std::vector<double> cell_averages(const int16_t* coefficients, int nh, int nv) {
  const double pi = std::acos(-1.0);
  std::vector<double> out(static_cast<size_t>(nh * nv), 0.0);
  const int sh = 8 / nh, sv = 8 / nv;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) {
      double sample = 128;
      for (int v = 0; v < 8; v++)
        for (int u = 0; u < 8; u++) {
          const double cu = u == 0 ? std::sqrt(0.5) : 1.0, cv = v == 0 ? std::sqrt(0.5) : 1.0;
          sample += 0.25 * cu * cv * coefficients[8 * v + u] * std::cos((2 * x + 1) * u * pi / 16) *
                    std::cos((2 * y + 1) * v * pi / 16);
        }
      out[static_cast<size_t>((y / sv) * nh + x / sh)] += sample / (sh * sv);
    }
  return out;
}

// The shapes a decode uses, as [across][down] shifts: square luma, subsampled chroma.
const struct Shape {
  int across, down;
} SHAPES[] = {{1, 1}, {2, 2}, {3, 3}, {0, 1}, {1, 2}, {2, 3}, {1, 0}, {2, 1}, {3, 2}};

std::vector<uint8_t> reduced(SimdLevel level, Shape shape, const int16_t* block, int32_t limit) {
  uint8_t out[64] = {0};
  kernels_for(level).transform_blocks[shape.across][shape.down](&block, &limit, 1, out);
  return std::vector<uint8_t>(out, out + (8 >> shape.across) * (8 >> shape.down));
}

// Every basis function alone (amplitudes that stay clear of clamping) and random mixes: each
// sample within 1 of the cell's exact average. A weight off by one percent shows on the
// single-coefficient blocks.
TEST(ReducedIdct, EachSampleIsTheCellAverageOfTheFullTransform) {
  TestRandom random(5);
  for (const Shape shape : SHAPES) {
    const int nh = 8 >> shape.across, nv = 8 >> shape.down;
    for (int round = 0; round < 64 + 500; round++) {
      int16_t block[64] = {0};
      if (round < 64) {
        block[round] = static_cast<int16_t>(round == 0 ? 700 : (round % 2 ? 500 : -500));
      } else {
        block[0] = static_cast<int16_t>(random.range(-300, 300));
        for (int k = 1; k < 64; k++)
          if (random.range(0, 3) == 0) block[k] = static_cast<int16_t>(random.range(-60, 60));
      }
      const std::vector<double> expected = cell_averages(block, nh, nv);
      const std::vector<uint8_t> got = reduced(SimdLevel::SCALAR, shape, block, 64);
      for (int i = 0; i < nh * nv; i++)
        ASSERT_LE(std::fabs(got[i] - expected[i]), 1.0)
            << nh << "x" << nv << ", round " << round << ", sample " << i << ": expected "
            << expected[i] << ", got " << int(got[i]);
    }
  }
}

TEST(ReducedIdct, VectorKernelsMatchTheScalarTwins) {
  const int32_t extremes[] = {32767, -32768, 1023 * 99, -1024 * 16, 2047, -2048};
  TestRandom random(9);
  for (const SimdLevel level : {SimdLevel::SSE2, SimdLevel::AVX2}) {
    if (level > simd_level_available()) continue;
    for (const Shape shape : SHAPES) {
      for (int round = 0; round < 200; round++) {
        // A batch of blocks of every kind (dense, sparse, extreme, corner, DC only), so that
        // the AVX2 kernel pairs them every way.
        const int count = random.range(1, 9);
        std::vector<std::vector<int16_t>> storage(static_cast<size_t>(count), std::vector<int16_t>(64));
        std::vector<const int16_t*> blocks;
        std::vector<int32_t> limits;
        for (auto& b : storage) {
          const int kind = random.range(0, 4);
          int32_t limit = 64;
          for (int k = 0; k < 64; k++) {
            if (kind == 0) b[k] = static_cast<int16_t>(random.range(-2048, 2047));
            if (kind == 1 && random.range(0, 5) == 0) b[k] = static_cast<int16_t>(random.range(-300, 300));
            if (kind == 2 && random.range(0, 2) == 0)
              b[k] = static_cast<int16_t>(static_cast<uint16_t>(extremes[random.range(0, 5)]));
          }
          if (kind == 3) {
            for (int k = 0; k < 10; k++) b[zigzag_order[k]] = static_cast<int16_t>(random.range(-900, 900));
            limit = 10;
          }
          if (kind == 4) {
            b[0] = static_cast<int16_t>(random.range(-32768, 32767));
            limit = 1;
          }
          blocks.push_back(b.data());
          limits.push_back(limit);
        }
        std::vector<uint8_t> want(static_cast<size_t>(64 * count)), got(want.size());
        kernels_for(SimdLevel::SCALAR).transform_blocks[shape.across][shape.down](blocks.data(), limits.data(), count, want.data());
        kernels_for(level).transform_blocks[shape.across][shape.down](blocks.data(), limits.data(), count, got.data());
        const int samples = (8 >> shape.across) * (8 >> shape.down);
        for (int b = 0; b < count; b++)
          for (int i = 0; i < samples; i++)
            ASSERT_EQ(got[64 * b + i], want[64 * b + i])
                << simd_level_name(level) << " " << (8 >> shape.across) << "x" << (8 >> shape.down) << ", round " << round
                << ", block " << b << " of " << count << ", sample " << i;
      }
    }
  }
}

TEST(ScaledColour, PlanarVectorConverterMatchesTheScalarTwin) {
#if defined(__SSE2__)
  if (simd_level_available() < SimdLevel::SSE2) GTEST_SKIP() << "no SSE2";
  std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
  build_colour_tables(*decoder);
  TestRandom random(12);
  for (const int count : {1, 7, 8, 9, 15, 16, 17, 24, 64, 333}) {
    std::vector<uint8_t> y(count + 8), cb(count + 8), cr(count + 8);
    for (int x = 0; x < count; x++)
      y[x] = static_cast<uint8_t>(random.next()), cb[x] = static_cast<uint8_t>(random.next()),
      cr[x] = static_cast<uint8_t>(random.next());
    std::vector<uint8_t> want(4 * (count + 8));
    convert_planar_row_scalar(*decoder, y.data(), cb.data(), cr.data(), count, want.data());
    for (const SimdLevel level : {SimdLevel::SSE2, SimdLevel::AVX2}) {
      if (simd_level_available() < level || kernels_for(level).level != static_cast<int32_t>(level)) continue;
      std::vector<uint8_t> got(want.size());
      kernels_for(level).convert_planar(y.data(), cb.data(), cr.data(), count, got.data());
      for (int i = 0; i < 4 * count; i++)
        ASSERT_EQ(got[i], want[i]) << simd_level_name(level) << ", " << count << " pixels: pixel "
                                   << i / 4 << " byte " << i % 4;
    }
  }
#else
  GTEST_SKIP() << "no vector kernels in this build";
#endif
}

// ---- whole decodes ---------------------------------------------------------------------------

struct Layout {
  const char* name;
  std::vector<JpegBuilder::FrameComponent> components;
  int h, v;  // luma blocks per MCU
};

const Layout LAYOUTS[] = {
    {"grey", {{1, 1, 1, 0}}, 1, 1},
    {"4:4:4", {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, 1, 1},
    {"4:2:2", {{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, 2, 1},
    {"4:4:0", {{1, 1, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, 1, 2},
    {"4:2:0", {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, 2, 2},
};

// A baseline picture of flat blocks (a random DC term each, no AC terms), optionally with a
// restart marker after every MCU.
Bytes flat_block_picture(const Layout& layout, int width, int height, bool restarts, uint64_t seed) {
  JpegBuilder b = baseline_headers(static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                                   layout.components, 8);
  if (restarts) b.dri(1);
  std::vector<JpegBuilder::ScanComponent> scan;
  for (const auto& c : layout.components) scan.push_back({c.id, 0, 0});
  b.sos(scan);
  const int mcus = ((width + 8 * layout.h - 1) / (8 * layout.h)) * ((height + 8 * layout.v - 1) / (8 * layout.v));
  const int blocks_per_mcu = layout.components.size() == 1 ? 1 : layout.h * layout.v + 2;
  TestRandom random(seed);
  EntropyWriter w;
  std::vector<int> predictor(layout.components.size(), 0);
  for (int m = 0; m < mcus; m++) {
    if (restarts && m > 0) {
      w.restart(m - 1);
      std::fill(predictor.begin(), predictor.end(), 0);
    }
    for (int k = 0; k < blocks_per_mcu; k++) {
      const size_t c = layout.components.size() == 1 ? 0 : (k < layout.h * layout.v ? 0 : k - layout.h * layout.v + 1);
      const int dc = random.range(-120, 120);  // times 8 from the table: -960..960
      put_dc(w, dc - predictor[c]);
      predictor[c] = dc;
      put_ac(w, 0x00);
    }
  }
  w.flush();
  return b.raw(w.out).eoi().bytes;
}

// Decodes at 1/denominator: sizes, rows and pixels (1 or 3 channels).
struct Scaled {
  int32_t width = 0, height = 0, channels = 0, last_result = 0, status = 0;
  std::vector<uint8_t> pixels;
};

Scaled decode_scaled(const Bytes& jpeg, int32_t denominator) {
  Scaled r;
  DecoderOnBytes t(jpeg);
  t.decoder->create(*t.stream);
  if (t.decoder->set_scale(denominator) != 0) return r;
  if (t.decoder->start_decoding() != 0) {
    r.status = t.decoder->status();
    return r;
  }
  r.width = t.decoder->image_width();
  r.height = t.decoder->image_height();
  const int32_t bpp = t.decoder->output_bytes_per_pixel();
  r.channels = bpp == 1 ? 1 : 3;
  const uint8_t* row;
  int32_t length;
  while ((r.last_result = t.decoder->read_scanline(row, length)) == 0) {
    EXPECT_EQ(length, r.width * bpp) << "row length";
    for (int32_t x = 0; x < r.width; x++)
      for (int32_t c = 0; c < r.channels; c++) r.pixels.push_back(row[x * bpp + c]);
  }
  r.status = t.decoder->status();
  return r;
}

// The mean of the s x s full-size pixels each output pixel stands for (those inside the
// picture), rounded to nearest.
std::vector<uint8_t> box_filter(const Scaled& full, int s) {
  const int w = (full.width + s - 1) / s, h = (full.height + s - 1) / s;
  std::vector<uint8_t> out;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < full.channels; c++) {
        int sum = 0, count = 0;
        for (int yy = y * s; yy < std::min(full.height, y * s + s); yy++)
          for (int xx = x * s; xx < std::min(full.width, x * s + s); xx++, count++)
            sum += full.pixels[(static_cast<size_t>(yy) * full.width + xx) * full.channels + c];
        out.push_back(static_cast<uint8_t>((2 * sum + count) / (2 * count)));
      }
  return out;
}

// Flat blocks make the box filter exact: every cell lies inside one block (and one chroma
// sample's pixels), so each scaled pixel must equal the mean of its full-size pixels, at every
// scale, in every layout and size, with and without restarts, and at every kernel level.
TEST(ScaledDecode, FlatBlockPicturesEqualTheBoxFilteredFullDecode) {
  const struct {
    int width, height;
  } sizes[] = {{1, 1}, {7, 9}, {17, 1023}, {33, 17}, {35, 31}, {64, 48}};
  for (const Layout& layout : LAYOUTS) {
    for (const auto& size : sizes) {
      for (const bool restarts : {false, true}) {
        const Bytes jpeg = flat_block_picture(layout, size.width, size.height, restarts, size.width + 7 * size.height);
        const Scaled full = decode_scaled(jpeg, 1);
        ASSERT_EQ(full.status, 0) << layout.name << " " << size.width << "x" << size.height;
        for (const int32_t s : {2, 4, 8}) {
          for (const SimdLevel level : {SimdLevel::SCALAR, SimdLevel::AVX2}) {
            limit_simd_level(level);
            const Scaled scaled = decode_scaled(jpeg, s);
            limit_simd_level(SimdLevel::AVX2);
            const std::string where = std::string(layout.name) + " " + std::to_string(size.width) + "x" +
                                      std::to_string(size.height) + (restarts ? " with restarts" : "") +
                                      " at 1/" + std::to_string(s) + ", " + simd_level_name(level);
            ASSERT_EQ(scaled.status, 0) << where;
            ASSERT_EQ(scaled.last_result, 1) << where;
            EXPECT_EQ(scaled.width, (size.width + s - 1) / s) << where << ": width";
            EXPECT_EQ(scaled.height, (size.height + s - 1) / s) << where << ": height";
            EXPECT_EQ(scaled.pixels, box_filter(full, s)) << where << ": pixels";
          }
        }
      }
    }
  }
}

size_t rows_of(const Scaled& r) {
  return r.width == 0 ? 0 : r.pixels.size() / (static_cast<size_t>(r.channels) * r.width);
}

// The same data read at every scale: a picture cut short fails with the same code, after the
// same MCU rows.
TEST(ScaledDecode, CutPicturesFailAsAtFullSize) {
  const Bytes whole = flat_block_picture(LAYOUTS[4], 40, 40, true, 3);
  for (size_t length = whole.size() / 3; length < whole.size(); length += 5) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
    const Scaled full = decode_scaled(cut, 1);
    for (const int32_t s : {2, 4, 8}) {
      const Scaled scaled = decode_scaled(cut, s);
      EXPECT_EQ(scaled.status, full.status) << length << " bytes at 1/" << s;
      EXPECT_EQ(scaled.last_result, full.last_result) << length << " bytes at 1/" << s;
      EXPECT_EQ(rows_of(scaled), (rows_of(full) + s - 1) / s)
          << length << " bytes at 1/" << s << ": rows delivered";
    }
  }
}

TEST(ScaledDecode, TheScaleIsChosenBetweenHeadersAndDecodeStart) {
  const Bytes jpeg = flat_block_picture(LAYOUTS[0], 20, 12, false, 1);
  DecoderOnBytes t(jpeg);
  JpegDecoder& decoder = *t.decoder;
  EXPECT_EQ(decoder.set_scale(2), -1) << "before create";
  decoder.create(*t.stream);
  for (const int32_t refused : {0, 3, 16, -2}) EXPECT_EQ(decoder.set_scale(refused), -1) << refused;
  EXPECT_EQ(decoder.scale_denominator(), 1) << "a refused denominator changes nothing";
  EXPECT_EQ(decoder.set_scale(8), 0);
  EXPECT_EQ(decoder.set_scale(4), 0) << "the last choice before the decode starts counts";
  EXPECT_EQ(decoder.image_width(), 5);
  EXPECT_EQ(decoder.image_height(), 3);
  EXPECT_EQ(decoder.frame_width(), 20);
  EXPECT_EQ(decoder.frame_height(), 12);
  ASSERT_EQ(decoder.start_decoding(), 0);
  EXPECT_EQ(decoder.set_scale(1), -1) << "after start_decoding";
  EXPECT_EQ(decoder.image_width(), 5);
  decoder.finish();
  JpegMemoryStream again(jpeg);
  decoder.create(again);
  EXPECT_EQ(decoder.scale_denominator(), 1) << "create restores full size";
  EXPECT_EQ(decoder.image_width(), 20);
  decoder.destroy();
}

}  // namespace
