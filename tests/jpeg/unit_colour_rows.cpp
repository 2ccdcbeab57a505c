// Colour tables and conversion, every converter against the per-pixel formula on random
// samples, and row delivery: pairs for vertical subsampling, short last MCU rows, width 1,
// the end of the scan's data, and the states before start and after a failure.
#include "jpeg/reference/reference.h"
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

namespace {

TEST(ColourTables, EntriesFollowTheFixedPointFormulas) {
  JpegDecoderState& d = *new JpegDecoder;
  build_colour_tables(d);
  EXPECT_EQ(d.cr_to_r[255], 178);
  EXPECT_EQ(d.cb_to_b[0], -227);
  EXPECT_EQ(d.cr_to_r[128], 0);
  for (int x = 0; x < 256; x++) {
    ASSERT_EQ(d.cr_to_r[x], (91882 * (x - 128) + 32768) >> 16) << "cr_to_r[" << x << "]";
    ASSERT_EQ(d.cb_to_b[x], (116130 * (x - 128) + 32768) >> 16) << "cb_to_b[" << x << "]";
    ASSERT_EQ(d.cr_to_g[x], -46802 * (x - 128)) << "cr_to_g[" << x << "]";
    ASSERT_EQ(d.cb_to_g[x], -22554 * (x - 128) + 32768) << "cb_to_g[" << x << "]";
  }
  delete static_cast<JpegDecoder*>(&d);
}

TEST(ColourConversion, GreyLevelsAndClampedExtremes) {
  uint8_t rgb[3];
  ycc_to_rgb_reference(0, 128, 128, rgb);
  EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0);
  ycc_to_rgb_reference(255, 128, 128, rgb);
  EXPECT_TRUE(rgb[0] == 255 && rgb[1] == 255 && rgb[2] == 255);
  ycc_to_rgb_reference(255, 128, 255, rgb);
  EXPECT_EQ(rgb[0], 255) << "red clamps";
  ycc_to_rgb_reference(0, 0, 128, rgb);
  EXPECT_EQ(rgb[2], 0) << "blue clamps";
}

// A started decoder of the given layout whose MCU-row samples are then replaced by noise.
struct ConverterCase {
  ConverterCase(uint8_t h, uint8_t v, uint16_t width, uint64_t seed)
      : t(headers(h, v, width)), random(seed) {
    t.decoder->create(*t.stream);
    EXPECT_EQ(t.decoder->start_decoding(), 0);
    JpegDecoderState& d = t.state();
    for (int i = 0; i < d.mcu_row_blocks * 64; i++) d.mcu_row_samples[i] = static_cast<uint8_t>(random.next());
  }
  static Bytes headers(uint8_t h, uint8_t v, uint16_t width) {
    JpegBuilder b = baseline_headers(width, 16, {{1, h, v, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
    b.sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}).raw(Bytes(8, 0)).eoi();
    return b.bytes;
  }
  // Sample of plane `block_offset` (0 = luma) at pixel (x, y) of the MCU row, by the layout.
  int luma(int x, int y) {
    const JpegDecoderState& d = t.state();
    const int mcu_bytes = d.blocks_per_mcu * 64;
    const int mcu = x / d.mcu_width, mx = x % d.mcu_width;
    const int block = (y / 8) * (d.mcu_width / 8) + mx / 8;
    return d.mcu_row_samples[mcu * mcu_bytes + 64 * block + 8 * (y % 8) + mx % 8];
  }
  int chroma(int plane, int x, int y) {
    const JpegDecoderState& d = t.state();
    const int mcu_bytes = d.blocks_per_mcu * 64;
    const int mcu = x / d.mcu_width, mx = x % d.mcu_width;
    const int h = d.mcu_width / 8, v = d.mcu_height / 8;
    return d.mcu_row_samples[mcu * mcu_bytes + 64 * (h * v + plane) + 8 * (y / v) + mx / h];
  }
  DecoderOnBytes t;
  TestRandom random;
};

TEST(Converters, EveryLayoutMatchesThePerPixelFormula) {
  const struct {
    uint8_t h, v;
    void (*convert)(JpegDecoderState&);
  } layouts[] = {{1, 1, convert_h1v1}, {2, 1, convert_h2v1}, {1, 2, convert_h1v2}, {2, 2, convert_h2v2}};
  for (const auto& layout : layouts) {
    for (uint64_t seed = 1; seed <= 4; seed++) {
      ConverterCase c(layout.h, layout.v, 37, seed);
      JpegDecoderState& d = c.t.state();
      const int pixels = d.mcus_per_row * d.mcu_width;
      for (int r = 0; r < d.mcu_height; r += layout.v) {
        d.rows_left_in_mcu_row = d.mcu_height - r;
        layout.convert(d);
        for (int line = 0; line < layout.v; line++) {
          const uint8_t* row = line == 0 ? d.row_buffer_a : d.row_buffer_b;
          for (int x = 0; x < pixels; x++) {
            uint8_t expected[3];
            ycc_to_rgb_reference(c.luma(x, r + line), c.chroma(0, x, r + line), c.chroma(1, x, r + line),
                                 expected);
            for (int k = 0; k < 3; k++)
              ASSERT_EQ(row[4 * x + k], expected[k]) << int(layout.h) << "x" << int(layout.v) << " row "
                                                     << r + line << " pixel " << x << " channel " << k;
            ASSERT_EQ(row[4 * x + 3], 0) << "byte 3 stays 0";
          }
        }
      }
    }
  }
}

TEST(Converters, GreyRowCopiesTheBlockRows) {
  JpegBuilder b = baseline_headers(20, 8, {{1, 1, 1, 0}});
  b.sos({{1, 0, 0}}).raw(Bytes(8, 0)).eoi();
  DecoderOnBytes t(b.bytes);
  t.decoder->create(*t.stream);
  ASSERT_EQ(t.decoder->start_decoding(), 0);
  JpegDecoderState& d = t.state();
  for (int i = 0; i < 3 * 64; i++) d.mcu_row_samples[i] = static_cast<uint8_t>(i * 3);
  d.rows_left_in_mcu_row = 5;  // row 3
  convert_grey(d);
  for (int x = 0; x < 24; x++)
    EXPECT_EQ(d.row_buffer_a[x], d.mcu_row_samples[64 * (x / 8) + 24 + x % 8]) << "pixel " << x;
}

Bytes flat_image(uint16_t width, uint16_t height, const std::vector<JpegBuilder::FrameComponent>& comps,
                 const Bytes& trailer = {}) {
  JpegBuilder b = baseline_headers(width, height, comps);
  std::vector<JpegBuilder::ScanComponent> scan;
  for (const auto& c : comps) scan.push_back({c.id, 0, 0});
  b.sos(scan);
  EntropyWriter w;
  std::vector<int> predictors(comps.size(), 0);
  const int mcus = ((width + 8 * comps[0].h - 1) / (8 * comps[0].h)) *
                   ((height + 8 * comps[0].v - 1) / (8 * comps[0].v));
  for (int m = 0; m < mcus; m++)
    for (size_t c = 0; c < comps.size(); c++)
      for (int i = 0; i < comps[c].h * comps[c].v; i++) {
        int z[64] = {0};
        z[0] = c == 0 ? 8 * ((m * 4 + i) % 16) : 0;  // each luma block its own level
        encode_block(w, predictors[c], z);
      }
  w.flush();
  b.raw(w.out).raw(trailer).eoi();
  return b.bytes;
}

TEST(RowDelivery, Height17At420DeliversPairsThenOneRowAndStops) {
  DecoderOnBytes t(flat_image(20, 17, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}));
  t.decoder->create(*t.stream);
  ASSERT_EQ(t.decoder->start_decoding(), 0);
  const JpegDecoderState& d = t.state();
  const uint8_t* row = nullptr;
  int32_t length = 0;
  for (int y = 0; y < 17; y++) {
    ASSERT_EQ(t.decoder->read_scanline(row, length), 0) << "row " << y;
    EXPECT_EQ(length, 80) << "row " << y;
    const uint8_t* expected_buffer = (y < 16 && y % 2 == 1) ? d.row_buffer_b : d.row_buffer_a;
    EXPECT_EQ(row, expected_buffer) << "row " << y << " comes from buffer " << (y % 2 ? "b" : "a");
    // Luma block (m, i) has level 8*((4m+i)%16)/8 over the base 128; chroma is neutral.
    const int mcu_row = y / 16, block = ((y % 16) / 8) * 2;
    EXPECT_EQ(row[0], 128 + (mcu_row * 8 + block) % 16) << "row " << y << " left pixel";
  }
  EXPECT_EQ(t.decoder->read_scanline(row, length), 1) << "18th call";
  EXPECT_EQ(t.decoder->read_scanline(row, length), 1);
}

TEST(RowDelivery, OnePixelWideGreyImage) {
  const DecodeResult r = decode_all(flat_image(1, 9, {{1, 1, 1, 0}}));
  EXPECT_EQ(r.last_result, 1) << "status " << r.status;
  EXPECT_EQ(r.rows, 9);
  EXPECT_EQ(r.row_bytes, 1);
  EXPECT_EQ(r.pixels, (Bytes{128, 128, 128, 128, 128, 128, 128, 128, 132})) << "second block DC 32";
}

TEST(RowDelivery, EveryLayoutDeliversEveryRow) {
  for (uint8_t h : {1, 2})
    for (uint8_t v : {1, 2}) {
      const DecodeResult r = decode_all(flat_image(33, 21, {{1, h, v, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}));
      EXPECT_EQ(r.last_result, 1) << int(h) << "x" << int(v) << " status " << r.status;
      EXPECT_EQ(r.rows, 21) << int(h) << "x" << int(v);
      EXPECT_EQ(r.row_bytes, 33 * 4);
    }
}

TEST(RowDelivery, EndOfScanIsCheckedWhenTheLastMcuRowIsDecoded) {
  // A DAC marker behind the data fails, but only once the last MCU row is decoded.
  DecoderOnBytes t(flat_image(8, 16, {{1, 1, 1, 0}}, {0xFF, 0xCC, 0x00, 0x02}));
  t.decoder->create(*t.stream);
  ASSERT_EQ(t.decoder->start_decoding(), 0);
  const uint8_t* row = nullptr;
  int32_t length = 0;
  for (int y = 0; y < 8; y++) ASSERT_EQ(t.decoder->read_scanline(row, length), 0) << "row " << y;
  const uint8_t* last_row = row;
  length = 77;
  EXPECT_EQ(t.decoder->read_scanline(row, length), ERR_BAD_HUFFMAN_DATA) << "row 8";
  EXPECT_EQ(t.decoder->status(), ERR_UNSUPPORTED_CODING);
  EXPECT_EQ(row, last_row) << "outputs untouched";
  EXPECT_EQ(length, 77);
  EXPECT_EQ(t.decoder->read_scanline(row, length), -1) << "failed for good";
  EXPECT_EQ(t.stream->detach_count, 1);
}

TEST(RowDelivery, RefusedBeforeDecodingStarts) {
  DecoderOnBytes t(flat_image(8, 8, {{1, 1, 1, 0}}));
  t.decoder->create(*t.stream);
  const uint8_t* row = nullptr;
  int32_t length = 0;
  EXPECT_EQ(t.decoder->read_scanline(row, length), -1);
  EXPECT_EQ(row, nullptr);
}

}  // namespace
