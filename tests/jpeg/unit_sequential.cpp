// Sequential decoding: coefficient-limit bookkeeping of reused block slots, run and ZRL bounds,
// DC categories, and the fast MCU-row decoder against the same decode on the plain window.
#include "jpeg/reference/reference.h"
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

namespace {

// A grey image one block wide: every MCU row reuses block slot 0.
struct OneBlockColumn {
  OneBlockColumn(const Bytes& entropy, int blocks, uint8_t quant = 1)
      : t(with_headers(entropy, blocks, quant)) {
    t.decoder->create(*t.stream);
    EXPECT_EQ(t.decoder->status(), 0);
    EXPECT_EQ(t.decoder->start_decoding(), 0) << "status " << t.decoder->status();
  }
  static Bytes with_headers(const Bytes& entropy, int blocks, uint8_t quant) {
    JpegBuilder b = baseline_headers(8, static_cast<uint16_t>(8 * blocks), {{1, 1, 1, 0}}, quant);
    b.sos({{1, 0, 0}}).raw(entropy).eoi();
    return b.bytes;
  }
  // Decodes the next block; returns the error code, 0 on success.
  int32_t next_block() {
    try {
      decode_mcu_row(t.state());
    } catch (const JpegFailure& failure) {
      return failure.code;
    }
    return 0;
  }
  int16_t at_zigzag(int k) { return t.state().block_ptrs[0][zigzag_order[k]]; }
  int32_t limit() { return t.state().block_coef_limit[0]; }
  DecoderOnBytes t;
};

TEST(CoefficientLimit, ReusedSlotsAreClearedOfThePreviousBlock) {
  EntropyWriter w;
  // Block 1: DC 3 and AC 1..39 set to their position.
  put_dc(w, 3);
  for (int k = 1; k < 40; k++) put_run_value(w, 0, k);
  put_ac(w, 0x00);
  // Block 2: AC 1..4, then EOB at position 5. DC difference 0 keeps the predictor.
  put_dc(w, 0);
  for (int k = 1; k < 5; k++) put_run_value(w, 0, -k);
  put_ac(w, 0x00);
  // Block 3: EOB straight away.
  put_dc(w, -5);
  put_ac(w, 0x00);
  w.flush();
  OneBlockColumn c(w.out, 3, 2);

  ASSERT_EQ(c.next_block(), 0);
  EXPECT_EQ(c.limit(), 40);
  EXPECT_EQ(c.at_zigzag(0), 6) << "DC 3 times quantiser 2";
  EXPECT_EQ(c.at_zigzag(39), 78);

  ASSERT_EQ(c.next_block(), 0);
  EXPECT_EQ(c.limit(), 5);
  EXPECT_EQ(c.at_zigzag(0), 6) << "difference 0 stores the predictor again";
  EXPECT_EQ(c.at_zigzag(4), -8);
  for (int k = 5; k < 64; k++) EXPECT_EQ(c.at_zigzag(k), 0) << "position " << k << " not cleared";

  ASSERT_EQ(c.next_block(), 0);
  EXPECT_EQ(c.limit(), 1);
  EXPECT_EQ(c.at_zigzag(0), -4);
  for (int k = 1; k < 64; k++) EXPECT_EQ(c.at_zigzag(k), 0) << "position " << k;
}

TEST(CoefficientLimit, RunsAndZrlMayReachPosition63ButNotPastIt) {
  {
    EntropyWriter w;
    put_dc(w, 0);
    for (int k = 1; k < 64; k++) put_run_value(w, 0, 1);  // full block: limit 64
    put_dc(w, 0);
    put_run_value(w, 14, 1);  // position 15
    put_ac(w, 0xF0);          // 16..31
    put_ac(w, 0xF0);          // 32..47
    put_ac(w, 0xF0);          // ZRL at 48: 48 + 15 = 63, accepted, block complete
    w.flush();
    OneBlockColumn c(w.out, 2);
    ASSERT_EQ(c.next_block(), 0);
    ASSERT_EQ(c.next_block(), 0) << "ZRL at position 48";
    EXPECT_EQ(c.limit(), 64);
    for (int k = 48; k < 64; k++) EXPECT_EQ(c.at_zigzag(k), 0) << "position " << k;
  }
  {
    EntropyWriter w;
    put_dc(w, 0);
    put_run_value(w, 15, 1);  // 16
    put_run_value(w, 15, 1);  // 32
    put_run_value(w, 15, 1);  // 48
    put_run_value(w, 14, 7);  // exactly 63
    put_dc(w, 0);
    put_run_value(w, 15, 1);  // 16
    put_ac(w, 0xF0);          // 17..32
    put_ac(w, 0xF0);          // 33..48
    put_ac(w, 0xF0);          // ZRL at 49 reaches past 63
    w.flush();
    OneBlockColumn c(w.out, 2);
    ASSERT_EQ(c.next_block(), 0) << "a run landing on position 63";
    EXPECT_EQ(c.at_zigzag(63), 7);
    EXPECT_EQ(c.limit(), 64);
    EXPECT_EQ(c.next_block(), ERR_BAD_HUFFMAN_DATA) << "ZRL at position 49";
  }
  {
    EntropyWriter w;
    put_dc(w, 0);
    put_run_value(w, 15, 1);
    put_run_value(w, 15, 1);
    put_run_value(w, 15, 1);  // 48
    put_run_value(w, 15, 1);  // 49 + 15 = 64
    w.flush();
    EXPECT_EQ(OneBlockColumn(w.out, 1).next_block(), ERR_BAD_HUFFMAN_DATA) << "run past 63";
  }
}

TEST(DcCategory, CategoriesAbove16AreRejected) {
  // A DC table whose only code (1 bit, "0") is category 17.
  Bytes counts(16, 0);
  counts[0] = 1;
  JpegBuilder b;
  b.soi().dqt(0, 1).dht(0x00, counts, {17}).dht(0x10, ac_counts(), ac_symbols());
  b.sof(0xC0, 8, 8, {{1, 1, 1, 0}}).sos({{1, 0, 0}}).raw(Bytes(8, 0)).eoi();
  const DecodeResult r = decode_all(b.bytes);
  EXPECT_EQ(r.last_result, ERR_BAD_HUFFMAN_DATA);
  EXPECT_EQ(r.status, ERR_BAD_HUFFMAN_DATA);
}

// Builds a random image of whole blocks with the test tables, optionally with restarts.
Bytes random_image(TestRandom& random, uint16_t width, uint16_t height,
                   const std::vector<JpegBuilder::FrameComponent>& components, int restart) {
  JpegBuilder b = baseline_headers(width, height, components, 3);
  if (restart) b.dri(static_cast<uint16_t>(restart));
  std::vector<JpegBuilder::ScanComponent> scan;
  for (const auto& c : components) scan.push_back({c.id, 0, 0});
  b.sos(scan);
  const int h_max = components[0].h, v_max = components[0].v;
  const int mcus = ((width + 8 * h_max - 1) / (8 * h_max)) * ((height + 8 * v_max - 1) / (8 * v_max));
  EntropyWriter w;
  std::vector<int> predictors(components.size(), 0);
  for (int m = 0; m < mcus; m++) {
    if (restart && m > 0 && m % restart == 0) {
      w.restart((m / restart - 1) & 7);
      std::fill(predictors.begin(), predictors.end(), 0);
    }
    for (size_t c = 0; c < components.size(); c++) {
      for (int i = 0; i < components[c].h * components[c].v; i++) {
        int coefficients[64] = {0};
        coefficients[0] = random.range(-300, 300);
        // Dense or sparse (long runs, ZRL codes), small values or large ones; a third of the
        // blocks fill position 63 (no end-of-block code).
        const int last = random.range(0, 2) == 0 ? 63 : random.range(0, 63);
        const int one_in = random.range(0, 1) ? 3 : 20;
        const int spread = random.range(0, 1) ? 3 : 200;
        for (int k = 1; k <= last; k++)
          if (random.range(1, one_in) == 1) coefficients[k] = random.range(-spread, spread);
        if (last == 63 && coefficients[63] == 0) coefficients[63] = random.range(0, 1) ? 1 : -1;
        encode_block(w, predictors[c], coefficients);
      }
    }
  }
  w.flush();
  b.raw(w.out).eoi();
  return b.bytes;
}

// At 1/8 the fast decoder passes over the AC terms of DC-only blocks (the grey and 4:4:4
// ones, the luma of subsampled frames) several at a time: their DC terms, the other blocks
// and the end position must still be the window decoder's.
TEST(FastDecoder, MatchesTheWindowDecoderBlockForBlock) {
  for (const int32_t scale : {1, 8}) {
    TestRandom random(3);
    const std::vector<JpegBuilder::FrameComponent> layouts[] = {
        {{1, 1, 1, 0}}, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}},
        {{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}};
    for (int round = 0; round < 12; round++) {
      const auto& components = layouts[round % 3];
      const int restart = round % 4 == 0 ? 0 : random.range(1, 5);
      const Bytes image = random_image(random, static_cast<uint16_t>(random.range(1, 70)),
                                       static_cast<uint16_t>(random.range(1, 40)), components, restart);
      DecoderOnBytes fast(image, 13), plain(image, 13);
      for (DecoderOnBytes* t : {&fast, &plain}) {
        t->decoder->create(*t->stream);
        if (t == &fast) {
          ASSERT_EQ(t->decoder->set_scale(scale), 0);
        }
        ASSERT_EQ(t->decoder->start_decoding(), 0) << "round " << round;
      }
      window_prime_entropy(plain.state());
      JpegDecoderState& a = fast.state();
      JpegDecoderState& b = plain.state();
      for (int row = 0; row < a.mcu_rows; row++) {
        decode_mcu_row(a);
        decode_mcu_row_reference(b);
        for (int k = 0; k < a.mcu_row_blocks; k++) {
          const bool dc_only = scale == 8 && a.block_coef_limit[k] == 1;
          if (dc_only) {
            ASSERT_EQ(a.block_ptrs[k][0], b.block_ptrs[k][0])
                << "1/8, round " << round << " row " << row << " block " << k << ": DC term";
            continue;
          }
          ASSERT_EQ(a.block_coef_limit[k], b.block_coef_limit[k]) << "1/" << scale << ", round " << round << " row " << row << " block " << k;
          for (int i = 0; i < 64; i++)
            ASSERT_EQ(a.block_ptrs[k][i], b.block_ptrs[k][i])
                << "round " << round << " row " << row << " block " << k << " coefficient " << i;
        }
      }
      finish_entropy_segment(a);
      EXPECT_EQ(fast.stream->position - static_cast<size_t>(a.input_count),
                plain.stream->position - static_cast<size_t>(b.input_count))
          << "both decoders end at the same input byte, round " << round;
      EXPECT_EQ(a.restarts_left, b.restarts_left);
      if (restart == 0) {
        EXPECT_LT(a.restarts_left, 0) << "without restarts the counter runs below 0";
      }
    }
  }
}

}  // namespace
