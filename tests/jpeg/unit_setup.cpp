// Decode start: frame validation and layouts, MCU and component geometry, selector and table
// checks at scan setup, and the start_decoding state rules.
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

namespace {

using Components = std::vector<JpegBuilder::FrameComponent>;
using ScanComponents = std::vector<JpegBuilder::ScanComponent>;

const Components COLOUR_420 = {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};

// Headers, one scan header and some entropy bytes: enough for start_decoding to succeed.
Bytes image_with_scan(uint16_t width, uint16_t height, const Components& components,
                      const ScanComponents& scan, uint8_t sof = 0xC0) {
  JpegBuilder b = baseline_headers(width, height, components, 1, sof);
  b.sos(scan).raw(Bytes(16, 0x00)).eoi();
  return b.bytes;
}

ScanComponents all_of(const Components& components) {
  ScanComponents scan;
  for (const auto& c : components) scan.push_back({c.id, 0, 0});
  return scan;
}

struct Started {
  explicit Started(const Bytes& bytes) : t(bytes) {
    t.decoder->create(*t.stream);
    create_status = t.decoder->status();
    result = t.decoder->start_decoding();
  }
  DecoderOnBytes t;
  int32_t create_status;
  int32_t result;
  int32_t status() { return t.decoder->status(); }
};

TEST(FrameLayout, SupportedSamplingsChooseTheirMcu) {
  struct Case {
    uint8_t h, v;
    int32_t layout, blocks, width, height;
  } cases[] = {{1, 1, LAYOUT_H1V1, 3, 8, 8},
               {2, 1, LAYOUT_H2V1, 4, 16, 8},
               {1, 2, LAYOUT_H1V2, 4, 8, 16},
               {2, 2, LAYOUT_H2V2, 6, 16, 16}};
  for (const Case& c : cases) {
    const Components comps = {{1, c.h, c.v, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
    Started s(image_with_scan(40, 40, comps, all_of(comps)));
    ASSERT_EQ(s.result, 0) << c.h << "x" << c.v << " status " << s.status();
    const JpegDecoderState& d = s.t.state();
    EXPECT_EQ(d.colour_layout, c.layout) << c.h << "x" << c.v;
    EXPECT_EQ(d.blocks_per_mcu, c.blocks);
    EXPECT_EQ(d.mcu_width, c.width);
    EXPECT_EQ(d.mcu_height, c.height);
    EXPECT_EQ(s.t.decoder->output_bytes_per_pixel(), 4);
  }
}

TEST(FrameLayout, UnsupportedComponentCountsAndSamplingsFail) {
  const Components cmyk = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}};
  EXPECT_EQ(Started(image_with_scan(8, 8, cmyk, all_of(cmyk))).status(), ERR_UNSUPPORTED_COMPONENTS);
  const Components two = {{1, 1, 1, 0}, {2, 1, 1, 0}};
  EXPECT_EQ(Started(image_with_scan(8, 8, two, all_of(two))).status(), ERR_UNSUPPORTED_COMPONENTS);
  const Components chroma_2x1 = {{1, 2, 1, 0}, {2, 2, 1, 0}, {3, 1, 1, 0}};
  EXPECT_EQ(Started(image_with_scan(8, 8, chroma_2x1, all_of(chroma_2x1))).status(),
            ERR_UNSUPPORTED_SAMPLING);
  const Components luma_4x1 = {{1, 4, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
  EXPECT_EQ(Started(image_with_scan(8, 8, luma_4x1, all_of(luma_4x1))).status(),
            ERR_UNSUPPORTED_SAMPLING);
  const Components grey_zero = {{1, 0, 1, 0}};
  EXPECT_EQ(Started(image_with_scan(8, 8, grey_zero, all_of(grey_zero))).status(),
            ERR_UNSUPPORTED_SAMPLING)
      << "a zero sampling factor would divide by zero in the geometry";
}

TEST(FrameGeometry, WorkedExampleOf100By75At420) {
  Started s(image_with_scan(100, 75, COLOUR_420, all_of(COLOUR_420)));
  ASSERT_EQ(s.result, 0);
  const JpegDecoderState& d = s.t.state();
  EXPECT_EQ(d.mcus_per_row, 7);
  EXPECT_EQ(d.mcu_rows, 5);
  EXPECT_EQ(d.mcu_row_blocks, 42);
  EXPECT_EQ(d.row_stride, 448);
  EXPECT_EQ(d.output_row_bytes, 400);
  EXPECT_EQ(d.comp_width_blocks[0], 13);
  EXPECT_EQ(d.comp_height_blocks[0], 10);
  EXPECT_EQ(d.comp_width_blocks[1], 7);
  EXPECT_EQ(d.comp_height_blocks[2], 5);
  EXPECT_EQ(d.scan_mcus_per_row, 7);
  EXPECT_EQ(d.scan_mcu_rows, 5);
  const int32_t expected_blocks[] = {0, 0, 0, 0, 1, 2};
  ASSERT_EQ(d.mcu_block_count, 6);
  for (int i = 0; i < 6; i++) EXPECT_EQ(d.mcu_block_comp[i], expected_blocks[i]) << "block " << i;
  for (int i = 0; i < 42; i++) {
    ASSERT_EQ(reinterpret_cast<uintptr_t>(d.block_ptrs[i]) % 8, 0u) << "block " << i;
    if (i > 0) {
      ASSERT_EQ(d.block_ptrs[i] - d.block_ptrs[i - 1], 64) << "blocks are consecutive";
    }
  }
}

TEST(FrameGeometry, GreyImagesUseOneBlockMcusAndWideImagesFit) {
  Started small(image_with_scan(8, 8, {{1, 1, 1, 0}}, {{1, 0, 0}}));
  ASSERT_EQ(small.result, 0);
  EXPECT_EQ(small.t.state().row_stride, 16);
  EXPECT_EQ(small.t.state().output_row_bytes, 8);
  EXPECT_EQ(small.t.decoder->output_bytes_per_pixel(), 1);

  Started grey_sampled(image_with_scan(20, 8, {{1, 2, 2, 0}}, {{1, 0, 0}}));
  ASSERT_EQ(grey_sampled.result, 0) << "a grey frame ignores its sampling factors";
  EXPECT_EQ(grey_sampled.t.state().mcu_width, 8);
  EXPECT_EQ(grey_sampled.t.state().scan_mcus_per_row, 3);

  Started wide_grey(image_with_scan(8192, 8, {{1, 1, 1, 0}}, {{1, 0, 0}}));
  ASSERT_EQ(wide_grey.result, 0);
  EXPECT_EQ(wide_grey.t.state().mcu_row_blocks, 1024);
  const Components colour = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
  Started wide_colour(image_with_scan(8192, 8, colour, all_of(colour)));
  ASSERT_EQ(wide_colour.result, 0);
  EXPECT_EQ(wide_colour.t.state().mcu_row_blocks, 3072);
}

TEST(ScanSetup, MissingOrOutOfRangeTablesAreRejected) {
  const Components grey = {{1, 1, 1, 0}};
  EXPECT_EQ(Started(image_with_scan(8, 8, grey, {{1, 1, 0}})).status(), ERR_MISSING_HUFF_TABLE)
      << "DC slot 1 was never defined";
  EXPECT_EQ(Started(image_with_scan(8, 8, grey, {{1, 0, 2}})).status(), ERR_MISSING_HUFF_TABLE)
      << "AC slot 6 was never defined";
  EXPECT_EQ(Started(image_with_scan(8, 8, grey, {{1, 9, 0}})).status(), ERR_MISSING_HUFF_TABLE)
      << "DC selector 9 is past the eight slots";
  EXPECT_EQ(Started(image_with_scan(8, 8, grey, {{1, 0, 5}})).status(), ERR_MISSING_HUFF_TABLE)
      << "AC selector 5 is past the eight slots";
  EXPECT_EQ(Started(image_with_scan(8, 8, grey, {{1, 4, 0}})).result, 0)
      << "DC selector 4 names the defined AC slot 4";
  EXPECT_EQ(Started(image_with_scan(8, 8, {{1, 1, 1, 2}}, {{1, 0, 0}})).status(),
            ERR_MISSING_QUANT_TABLE);
  EXPECT_EQ(Started(image_with_scan(8, 8, {{1, 1, 1, 200}}, {{1, 0, 0}})).status(),
            ERR_MISSING_QUANT_TABLE)
      << "quantisation selector 200 is past the four slots";
}

TEST(ScanSetup, PerScanStateIsReset) {
  JpegBuilder b = baseline_headers(16, 16, {{1, 1, 1, 0}});
  b.dri(5).sos({{1, 0, 0}}).raw(Bytes(8, 0)).eoi();
  Started s(b.bytes);
  ASSERT_EQ(s.result, 0);
  const JpegDecoderState& d = s.t.state();
  EXPECT_EQ(d.restarts_left, 5);
  EXPECT_EQ(d.next_restart_num, 0);
  EXPECT_EQ(d.dc_pred[0], 0);
  EXPECT_EQ(d.rows_left, 16);
  EXPECT_EQ(d.rows_left_in_mcu_row, 0);
  ASSERT_NE(d.mcu_block_dc_lookup[0], nullptr);
  EXPECT_EQ(d.mcu_block_dc_lookup[0], d.huff_lookup[0]);
  EXPECT_EQ(d.mcu_block_ac_lookup[0], d.huff_lookup[4]);
}

TEST(StartDecoding, StateRules) {
  Bytes good = image_with_scan(8, 8, {{1, 1, 1, 0}}, {{1, 0, 0}});
  Started twice(good);
  ASSERT_EQ(twice.result, 0);
  const size_t position = twice.t.stream->position;
  EXPECT_EQ(twice.t.decoder->start_decoding(), 0) << "second call does nothing";
  EXPECT_EQ(twice.t.stream->position, position);

  Bytes broken = good;
  broken[1] = 0x00;  // no SOI any more
  Started failed(broken);
  EXPECT_EQ(failed.create_status, ERR_NO_SOI);
  EXPECT_EQ(failed.result, -1);

  JpegBuilder no_scan = baseline_headers(8, 8, {{1, 1, 1, 0}});
  no_scan.eoi();
  EXPECT_EQ(Started(no_scan.bytes).status(), ERR_UNEXPECTED_MARKER) << "headers then EOI";
}

}  // namespace
