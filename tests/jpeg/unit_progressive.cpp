// Buffered decoding: progressive DC and AC scans with EOB runs, restarts and refinement,
// scan validation, scan order independence, store bounds, the bounds on scan work, and
// sequential colour frames whose components come in separate scans.
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Scan {
  uint8_t ss, se, ah, al;
  Bytes entropy;
};

// A grey progressive image with the fixed test tables and quantiser `quant`.
Bytes progressive_grey(uint16_t width, uint16_t height, const std::vector<Scan>& scans,
                       uint16_t restart = 0, uint8_t quant = 1) {
  JpegBuilder b = baseline_headers(width, height, {{1, 1, 1, 0}}, quant, 0xC2);
  if (restart) b.dri(restart);
  for (const Scan& s : scans) b.sos({{1, 0, 0}}, s.ss, s.se, s.ah, s.al).raw(s.entropy);
  b.eoi();
  return b.bytes;
}

Bytes done(EntropyWriter& w) {
  w.flush();
  return w.out;
}

// Decodes every scan and returns the decoder for inspection of its stores.
struct Decoded {
  explicit Decoded(const Bytes& bytes) : t(bytes) {
    t.decoder->create(*t.stream);
    result = t.decoder->start_decoding();
  }
  int16_t ac(int block, int zigzag_position) {
    const CoefficientStore& s = *t.state().ac_coef_store[0];
    return s.data[block * 64 + zigzag_order[zigzag_position]];
  }
  int16_t dc(int block) { return t.state().dc_coef_store[0]->data[block]; }
  DecoderOnBytes t;
  int32_t result;
};

TEST(ProgressiveDc, DcOnlyImageDecodesToFlatBlocks) {
  EntropyWriter w;
  put_dc(w, 4);  // block 0: 4 << 1 = 8
  put_dc(w, 4);  // block 1: 16
  const DecodeResult r = decode_all(progressive_grey(16, 8, {{0, 0, 0, 1, done(w)}}, 0, 8));
  ASSERT_EQ(r.last_result, 1) << "status " << r.status;
  ASSERT_EQ(r.rows, 8);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 16; x++)
      ASSERT_EQ(r.pixels[16 * y + x], x < 8 ? 136 : 144)
          << "pixel " << x << "," << y << ": DC 64 gives 136, DC 128 gives 144";
}

TEST(ProgressiveAc, EobRunOfFiveCoversTheRestOfThisBandAndFourMoreBlocks) {
  EntropyWriter dc, ac;
  for (int i = 0; i < 6; i++) put_dc(dc, 0);
  put_ac(ac, 0x20);  // EOB run, r = 2
  ac.put(1, 2);      // bits 01: 4 + 1 = 5 blocks
  put_run_value(ac, 0, 1);
  put_ac(ac, 0x00);
  Decoded d(progressive_grey(48, 8, {{0, 0, 0, 0, done(dc)}, {1, 5, 0, 0, done(ac)}}));
  ASSERT_EQ(d.result, 0) << "status " << d.t.decoder->status();
  for (int block = 0; block < 5; block++)
    for (int k = 1; k <= 5; k++) EXPECT_EQ(d.ac(block, k), 0) << "block " << block << " position " << k;
  EXPECT_EQ(d.ac(5, 1), 1) << "the sixth block is the first after the run";
}

TEST(ProgressiveAc, RestartMarkerEndsAnEobRun) {
  EntropyWriter dc, ac;
  for (int i = 0; i < 4; i++) {
    if (i == 2) dc.restart(0);
    put_dc(dc, 0);
  }
  put_ac(ac, 0x20);  // run of 4 from block 0 ...
  ac.put(0, 2);
  ac.restart(0);     // ... cut short after block 1
  put_run_value(ac, 0, -1);
  put_ac(ac, 0x00);
  put_run_value(ac, 0, 1);
  put_ac(ac, 0x00);
  Decoded d(progressive_grey(32, 8, {{0, 0, 0, 0, done(dc)}, {1, 5, 0, 0, done(ac)}}, 2));
  ASSERT_EQ(d.result, 0) << "status " << d.t.decoder->status();
  EXPECT_EQ(d.ac(2, 1), -1);
  EXPECT_EQ(d.ac(3, 1), 1);
}

TEST(ProgressiveRefinement, CorrectionBitsZrlWalkAndEobRuns) {
  EntropyWriter dc, first, refine;
  put_dc(dc, 0);
  put_dc(dc, 0);
  // First pass, Al = 1: block 0 gets +1 at 2 and -1 at 20; block 1 gets +1 at 1 and at 3.
  put_run_value(first, 1, 1);
  put_ac(first, 0xF0);  // 3..18
  put_run_value(first, 1, -1);
  put_ac(first, 0x00);
  put_run_value(first, 0, 1);
  put_run_value(first, 1, 1);
  put_ac(first, 0x00);
  // Refinement, Ah = 1, Al = 0. Block 0: ZRL walks 16 zeros (correcting position 2), then a
  // new +1 after one more zero (position 19), then EOB with a correction for position 20.
  put_ac(refine, 0xF0);
  refine.put(1, 1);  // correction of position 2
  put_ac(refine, 0x11);
  refine.put(1, 1);  // sign of the new coefficient: positive
  put_ac(refine, 0x00);
  refine.put(1, 1);  // correction of position 20
  // Block 1 starts an EOB run at once (r = 0: just this block): corrections only.
  put_ac(refine, 0x00);
  refine.put(0, 1);  // position 1 unchanged
  refine.put(1, 1);  // position 3 refined
  Decoded d(progressive_grey(16, 8, {{0, 0, 0, 0, done(dc)}, {1, 63, 0, 1, done(first)},
                                      {1, 63, 1, 0, done(refine)}}));
  ASSERT_EQ(d.result, 0) << "status " << d.t.decoder->status();
  EXPECT_EQ(d.ac(0, 2), 3) << "2 plus the correction bit";
  EXPECT_EQ(d.ac(0, 17), 0) << "ZRL skips, stores nothing";
  EXPECT_EQ(d.ac(0, 19), 1) << "new coefficient after one zero";
  EXPECT_EQ(d.ac(0, 20), -3) << "-2 refined away from zero";
  EXPECT_EQ(d.ac(1, 1), 2);
  EXPECT_EQ(d.ac(1, 3), 3);
}

TEST(ProgressiveRefinement, EobRunCorrectsACoefficientAtTheBandsLastPosition) {
  EntropyWriter dc, first, refine;
  put_dc(dc, 0);
  put_dc(dc, 0);
  put_run_value(first, 4, -1);  // band 1..5, Al = 1: -2 at position 5, the band's last ...
  put_run_value(first, 4, -1);  // ... in both blocks
  put_ac(refine, 0x00);         // block 0: an EOB run of this block alone at once ...
  refine.put(1, 1);             // ... still corrects position 5
  put_ac(refine, 0x31);         // block 1: a new +1 after three zeros (position 4) ...
  refine.put(1, 1);
  put_ac(refine, 0x00);         // ... then an EOB run with position 5 still to correct
  refine.put(1, 1);
  Decoded d(progressive_grey(16, 8, {{0, 0, 0, 0, done(dc)}, {1, 5, 0, 1, done(first)},
                                     {1, 5, 1, 0, done(refine)}}));
  ASSERT_EQ(d.result, 0) << "status " << d.t.decoder->status();
  EXPECT_EQ(d.ac(0, 5), -3) << "block 0: -2 refined away from zero at the band's last position";
  EXPECT_EQ(d.ac(1, 4), 1) << "block 1: the new coefficient";
  EXPECT_EQ(d.ac(1, 5), -3) << "block 1: -2 refined at the band's last position after it";
}

TEST(ProgressiveScan, InvalidBandsAndApproximationsAreRejected) {
  EntropyWriter w;
  put_dc(w, 0);
  const Bytes dc = done(w);
  struct Case {
    Scan scan;
    int32_t expected;
  } cases[] = {{{0, 5, 0, 0, {}}, ERR_BAD_PROGRESSIVE_SCAN},
               {{6, 5, 0, 0, {}}, ERR_BAD_PROGRESSIVE_SCAN},
               {{1, 64, 0, 0, {}}, ERR_BAD_PROGRESSIVE_SCAN},
               {{1, 5, 2, 0, {}}, ERR_BAD_SUCCESSIVE_APPROX}};
  for (const Case& c : cases) {
    Decoded d(progressive_grey(8, 8, {{0, 0, 0, 0, dc}, c.scan}));
    EXPECT_EQ(d.t.decoder->status(), c.expected)
        << "Ss " << int(c.scan.ss) << " Se " << int(c.scan.se) << " Ah " << int(c.scan.ah);
  }
  JpegBuilder colour = baseline_headers(8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, 1, 0xC2);
  colour.sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 1, 5).eoi();
  EXPECT_EQ(Decoded(colour.bytes).t.decoder->status(), ERR_BAD_PROGRESSIVE_SCAN)
      << "an AC scan of three components";
}

TEST(ProgressiveScan, TableRedefinedBetweenScansTakesEffectForTheNextScan) {
  Bytes reversed = ac_symbols();
  std::reverse(reversed.begin(), reversed.end());
  const auto reversed_code = [&](int symbol) {
    return static_cast<uint32_t>(std::find(reversed.begin(), reversed.end(), symbol) - reversed.begin());
  };
  EntropyWriter dc, first, second;
  put_dc(dc, 0);
  put_run_value(first, 0, 3);  // position 1 with the original table
  put_ac(first, 0x00);
  second.put(reversed_code(0x12), 8);  // run 1, size 2: position 3 ...
  put_value(second, -2, 2);            // ... value -2, with the reversed table
  second.put(reversed_code(0x00), 8);
  JpegBuilder b = baseline_headers(8, 8, {{1, 1, 1, 0}}, 1, 0xC2);
  b.sos({{1, 0, 0}}, 0, 0, 0, 0).raw(done(dc));
  b.sos({{1, 0, 0}}, 1, 1, 0, 0).raw(done(first));
  b.dht(0x10, ac_counts(), reversed);
  b.sos({{1, 0, 0}}, 2, 63, 0, 0).raw(done(second)).eoi();
  Decoded d(b.bytes);
  ASSERT_EQ(d.result, 0) << "status " << d.t.decoder->status();
  EXPECT_EQ(d.ac(0, 1), 3) << "first AC scan, original table";
  EXPECT_EQ(d.ac(0, 3), -2) << "second AC scan, redefined table";
}

// A DC first scan of `blocks` blocks, each with difference 0.
Bytes zero_dc_scan(int blocks) {
  EntropyWriter w;
  for (int i = 0; i < blocks; i++) put_dc(w, 0);
  return done(w);
}

// An AC scan whose blocks all lie in EOB runs.
Bytes eob_run_scan(int blocks) {
  EntropyWriter w;
  for (; blocks >= 32767; blocks -= 32767) {
    put_ac(w, 0xE0);  // run of 2^14 + 16383
    w.put(0x3FFF, 14);
  }
  for (; blocks > 0; blocks--) put_ac(w, 0x00);
  return done(w);
}

TEST(ProgressiveWork, ScansWithoutDataAreBounded) {
  // Past the end of a scan's data the rest of it reads fill bits, so a header alone makes the
  // decoder walk the whole image. At 1024x1024 (16384 blocks, 2^26 units) a header-only DC
  // scan costs 16 units per visit and 8 per fill bit (19 per block with these tables), each
  // header-only refinement 16 + 8: about 160 refinements fit, more fail long before the last
  // scan header has been read.
  const std::vector<JpegBuilder::FrameComponent> grey = {{1, 1, 1, 0}};
  const std::vector<JpegBuilder::FrameComponent> colour = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
  const struct {
    const char* what;
    bool is_colour;
    int refinements;  // DC refinement scans after the DC scan (grey), or AC scans (colour)
    int32_t status;
  } cases[] = {{"grey, one DC scan", false, 0, 0},
               {"grey, a DC scan and 150 refinements", false, 150, 0},
               {"grey, a DC scan and 200 refinements", false, 200, ERR_BAD_PROGRESSIVE_SCAN},
               {"grey, a DC scan and 999 refinements", false, 999, ERR_BAD_PROGRESSIVE_SCAN},
               {"colour, a DC scan and 600 AC scans", true, 600, ERR_BAD_PROGRESSIVE_SCAN}};
  for (const auto& c : cases) {
    JpegBuilder b = baseline_headers(1024, 1024, c.is_colour ? colour : grey, 1, 0xC2);
    if (c.is_colour) {
      b.sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 0, 0, 0, 0);
      for (int i = 0; i < c.refinements; i++) b.sos({{static_cast<uint8_t>(1 + i % 3), 0, 0}}, 1, 63);
    } else {
      b.sos({{1, 0, 0}}, 0, 0, 0, 1);
      for (int i = 0; i < c.refinements; i++) b.sos({{1, 0, 0}}, 0, 0, 1, 0);
    }
    b.eoi();
    DecoderOnBytes t(b.bytes);
    t.decoder->create(*t.stream);
    t.decoder->start_decoding();
    EXPECT_EQ(t.decoder->status(), c.status) << c.what;
    if (c.status != 0 && b.bytes.size() > 2 * JPEG_INPUT_BUFFER_SIZE) {
      EXPECT_LT(t.stream->position, b.bytes.size()) << c.what << ": read to the end";
    }
  }
}

TEST(ProgressiveWork, ScanWorkIsBoundedEvenWithData) {
  // A 2048x2048 grey image: 65536 blocks. A block visit costs 16 units and the bound is 48
  // per pixel plus 2^24: 208 scans over every block fit, 211 do not, however few bytes their
  // EOB runs take.
  const int blocks = 256 * 256;
  for (int ac_scans : {207, 210}) {
    std::vector<Scan> list{{0, 0, 0, 0, zero_dc_scan(blocks)}};
    for (int i = 0; i < ac_scans; i++) list.push_back({1, 63, 0, 0, eob_run_scan(blocks)});
    Decoded d(progressive_grey(2048, 2048, list));
    EXPECT_EQ(d.t.decoder->status(), ac_scans == 207 ? 0 : ERR_BAD_PROGRESSIVE_SCAN)
        << ac_scans << " AC scans over every block";
  }
}

TEST(ProgressiveScan, AcScansBeforeTheDcScanGiveTheSameImage) {
  TestRandom random(8);
  EntropyWriter dc, ac;
  int predictor = 0;
  for (int block = 0; block < 4; block++) {
    const int value = random.range(-50, 50);
    put_dc(dc, value - predictor);
    predictor = value;
    for (int k = 1; k < 64; k++)
      if (random.range(0, 3) == 0) put_run_value(ac, 0, random.range(-30, 30) | 1);
      else put_run_value(ac, 0, 0 + 2 * random.range(1, 9));
  }
  const Scan dc_scan{0, 0, 0, 0, done(dc)};
  const Scan ac_scan{1, 63, 0, 0, done(ac)};
  const DecodeResult dc_first = decode_all(progressive_grey(16, 16, {dc_scan, ac_scan}, 0, 2));
  const DecodeResult ac_first = decode_all(progressive_grey(16, 16, {ac_scan, dc_scan}, 0, 2));
  ASSERT_EQ(dc_first.last_result, 1) << "status " << dc_first.status;
  ASSERT_EQ(ac_first.last_result, 1) << "status " << ac_first.status;
  EXPECT_EQ(dc_first.pixels, ac_first.pixels);
}

TEST(CoefficientStore, GreyStoresHoldOneBlockPerMcuWhateverTheSampling) {
  // 15x15 sampling would make a store 15 x 15 times too big (past 32 bits for large frames).
  JpegBuilder b = baseline_headers(64, 40, {{1, 15, 15, 0}}, 1, 0xC2);
  EntropyWriter w;
  for (int i = 0; i < 40; i++) put_dc(w, i == 0 ? 16 : 0);
  b.sos({{1, 0, 0}}, 0, 0, 0, 0).raw(done(w)).eoi();
  Decoded d(b.bytes);
  ASSERT_EQ(d.result, 0) << "status " << d.t.decoder->status();
  EXPECT_EQ(d.t.state().dc_coef_store[0]->width_blocks, 8);
  EXPECT_EQ(d.t.state().dc_coef_store[0]->height_blocks, 5);
  EXPECT_EQ(d.dc(39), 16) << "the last block carries the predictor";
}

TEST(CoefficientStore, BlocksOutsideTheStoreAreRejected) {
  DecoderOnBytes t(Bytes{});
  JpegDecoderState& d = t.state();
  initialise_decoder(d, *t.stream);
  CoefficientStore* store = create_coef_store(d, 3, 2, 8, 8);
  EXPECT_EQ(coef_block_address(d, *store, 2, 1) - store->data, (1 * 3 + 2) * 64);
  try {
    coef_block_address(d, *store, 3, 0);
    FAIL() << "column 3 of a 3-block-wide store";
  } catch (const JpegFailure& failure) {
    EXPECT_EQ(failure.code, ERR_TOO_MANY_BLOCKS);
  }
}

TEST(BufferedSequential, SeparateScansPerComponentDecodeLikeOneInterleavedScan) {
  // The same 16x16 4:2:0 picture coded as one interleaved scan and as three scans.
  TestRandom random(21);
  std::vector<std::vector<int>> blocks;  // Y0..Y3, Cb, Cr
  for (int i = 0; i < 6; i++) {
    std::vector<int> z(64, 0);
    z[0] = random.range(-60, 60);
    for (int k = 1; k < 20; k++) z[k] = random.range(-9, 9);
    blocks.push_back(z);
  }
  const std::vector<JpegBuilder::FrameComponent> frame = {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
  JpegBuilder interleaved = baseline_headers(16, 16, frame, 4);
  EntropyWriter w;
  int predictors[3] = {0, 0, 0};
  for (int i = 0; i < 6; i++) encode_block(w, predictors[i < 4 ? 0 : i - 3], blocks[i].data());
  interleaved.sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}).raw(done(w)).eoi();

  JpegBuilder separate = baseline_headers(16, 16, frame, 4);
  // Component scans are in the component's own raster order: Y0 Y1 / Y2 Y3 is the same here.
  for (int c = 2; c >= 0; c--) {
    EntropyWriter s;
    int predictor = 0;
    if (c == 0)
      for (int i = 0; i < 4; i++) encode_block(s, predictor, blocks[i].data());
    else
      encode_block(s, predictor, blocks[3 + c].data());
    separate.sos({{static_cast<uint8_t>(c + 1), 0, 0}}).raw(done(s));
  }
  separate.eoi();
  const DecodeResult a = decode_all(interleaved.bytes);
  const DecodeResult b = decode_all(separate.bytes);
  ASSERT_EQ(a.last_result, 1) << "status " << a.status;
  ASSERT_EQ(b.last_result, 1) << "status " << b.status;
  EXPECT_EQ(a.pixels, b.pixels) << "scan order Cr, Cb, Y must not change the picture";
}

TEST(BufferedSequential, EachScanUsesTheQuantisationTableInForceWhenItIsDecoded) {
  // Three scans with table 0 redefined before each (1, 2, 4) must give the picture of three
  // tables defined once (slots 0, 1, 2 holding 1, 2, 4), not table 0's last value for all.
  const int quantised_dc[3] = {40, -30, 25};
  const uint8_t quant[3] = {1, 2, 4};
  auto scan_of = [&](int c) {
    EntropyWriter w;
    put_dc(w, quantised_dc[c]);
    put_ac(w, 0x00);
    return done(w);
  };
  JpegBuilder redefined;
  redefined.soi().dht(0x00, dc_counts(), dc_symbols()).dht(0x10, ac_counts(), ac_symbols());
  redefined.dqt(0, quant[0]).sof(0xC0, 8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
  JpegBuilder separate_tables;
  separate_tables.soi().dht(0x00, dc_counts(), dc_symbols()).dht(0x10, ac_counts(), ac_symbols());
  separate_tables.dqt(0, quant[0]).dqt(1, quant[1]).dqt(2, quant[2]);
  separate_tables.sof(0xC0, 8, 8, {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 2}});
  for (int c = 0; c < 3; c++) {
    const uint8_t id = static_cast<uint8_t>(c + 1);
    if (c > 0) redefined.dqt(0, quant[c]);
    redefined.sos({{id, 0, 0}}).raw(scan_of(c));
    separate_tables.sos({{id, 0, 0}}).raw(scan_of(c));
  }
  redefined.dqt(0, 9).eoi();  // after the last scan: applies to nothing
  separate_tables.eoi();
  const DecodeResult a = decode_all(separate_tables.bytes);
  const DecodeResult b = decode_all(redefined.bytes);
  ASSERT_EQ(a.last_result, 1) << "status " << a.status;
  ASSERT_EQ(b.last_result, 1) << "status " << b.status;
  EXPECT_EQ(b.pixels, a.pixels) << "component scans must keep the table of their time";
}

}  // namespace
