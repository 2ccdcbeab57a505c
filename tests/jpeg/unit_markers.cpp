// Marker and segment parsing: SOI search, fill bytes, table segments, frame and scan headers,
// and the error code of every malformed segment.
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

namespace {

const std::vector<JpegBuilder::FrameComponent> GREY = {{1, 1, 1, 0}};

int32_t create_status(const Bytes& bytes) {
  DecoderOnBytes t(bytes);
  t.decoder->create(*t.stream);
  return t.decoder->status();
}

Bytes grey_sof() {
  JpegBuilder b;
  b.sof(0xC0, 16, 16, GREY);
  return b.bytes;
}

Bytes with_prefix(const Bytes& prefix, const Bytes& rest) {
  Bytes b = prefix;
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(SoiSearch, AcceptsJunkBeforeSoiOnlyWhenAMarkerFollows) {
  const Bytes junk(200, 0x41);
  EXPECT_EQ(create_status(with_prefix(junk, with_prefix({0xFF, 0xD8}, grey_sof()))), 0)
      << "200 junk bytes then FF D8 FF";
  EXPECT_EQ(create_status(with_prefix(junk, {0xFF, 0xD8, 0x00, 0xFF, 0xD9})), ERR_NO_SOI)
      << "200 junk bytes then FF D8 00";
  EXPECT_EQ(create_status({0xFF}), ERR_NO_SOI) << "one byte only";
  EXPECT_EQ(create_status({}), ERR_NO_SOI) << "empty stream";
}

TEST(SoiSearch, SoiIsFoundWithinTheFirst513BytesOnly) {
  // The 0xD8 byte at offset 512 is the last one the search looks at.
  Bytes at_512(511, 0x00);
  at_512.insert(at_512.end(), {0xFF, 0xD8});
  EXPECT_EQ(create_status(with_prefix(at_512, grey_sof())), 0) << "0xD8 at offset 512";
  Bytes at_513(512, 0x00);
  at_513.insert(at_513.end(), {0xFF, 0xD8});
  EXPECT_EQ(create_status(with_prefix(at_513, grey_sof())), ERR_NO_SOI) << "0xD8 at offset 513";
}

TEST(SegmentLoop, SkipsUnknownSegmentsFillBytesAndStuffedZeros) {
  JpegBuilder b;
  b.soi().segment(0xE0, {'J', 'F', 'I', 'F', 0}).segment(0xFE, {'h', 'i'}).segment(0xEF, {});
  b.raw({0x12, 0x34, 0xFF, 0x00, 0xFF, 0xFF, 0xFF});  // junk, a stuffed zero, fill bytes
  b.raw(grey_sof());
  EXPECT_EQ(create_status(b.bytes), 0);
}

TEST(SegmentLoop, RejectsMarkersThatCannotStandBetweenSegments) {
  struct Case {
    uint8_t marker;
    int32_t expected;
  } cases[] = {{0xD3, ERR_UNEXPECTED_MARKER}, {0x01, ERR_UNEXPECTED_MARKER},
               {0xC8, ERR_UNEXPECTED_MARKER}, {0xCC, ERR_UNSUPPORTED_CODING}};
  for (const Case& c : cases) {
    JpegBuilder b;
    b.soi().marker(c.marker).raw(grey_sof());
    EXPECT_EQ(create_status(b.bytes), c.expected) << "marker 0x" << std::hex << int(c.marker);
  }
  JpegBuilder short_segment;
  short_segment.soi().raw({0xFF, 0xE1, 0x00, 0x01});
  EXPECT_EQ(create_status(short_segment.bytes), ERR_SEGMENT_BAD_LENGTH);
}

TEST(FrameHeader, OnlySof0Sof1AndSof2AreDecodable) {
  for (uint8_t marker : {0xC0, 0xC1, 0xC2}) {
    JpegBuilder b;
    b.soi().sof(marker, 8, 8, GREY);
    DecoderOnBytes t(b.bytes);
    t.decoder->create(*t.stream);
    EXPECT_EQ(t.decoder->status(), 0) << "SOF marker 0x" << std::hex << int(marker);
    EXPECT_EQ(t.state().progressive, marker == 0xC2 ? 1 : 0);
  }
  JpegBuilder sof3, sof9, sos_first;
  sof3.soi().sof(0xC3, 8, 8, GREY);
  sof9.soi().sof(0xC9, 8, 8, GREY);
  sos_first.soi().sos({{1, 0, 0}});
  EXPECT_EQ(create_status(sof3.bytes), ERR_UNSUPPORTED_FRAME) << "lossless";
  EXPECT_EQ(create_status(sof9.bytes), ERR_UNSUPPORTED_CODING) << "arithmetic";
  EXPECT_EQ(create_status(sos_first.bytes), ERR_UNSUPPORTED_FRAME) << "SOS before any SOF";
  EXPECT_EQ(create_status({0xFF, 0xD8}), ERR_UNSUPPORTED_FRAME) << "EOI (synthetic) before SOF";
}

TEST(FrameHeader, FieldRangesAreChecked) {
  auto frame = [](uint8_t precision, uint16_t height, uint16_t width, uint8_t count, int extra) {
    Bytes p{precision, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), count};
    for (int i = 0; i < count; i++) p.insert(p.end(), {uint8_t(i + 1), 0x11, 0});
    for (int i = 0; i < extra; i++) p.push_back(0);
    JpegBuilder b;
    b.soi().segment(0xC0, p);
    return create_status(b.bytes);
  };
  EXPECT_EQ(frame(12, 8, 8, 1, 0), ERR_SOF_BAD_PRECISION);
  EXPECT_EQ(frame(8, 0, 8, 1, 0), ERR_SOF_BAD_HEIGHT);
  EXPECT_EQ(frame(8, 8193, 8, 1, 0), ERR_SOF_BAD_HEIGHT);
  EXPECT_EQ(frame(8, 8, 8193, 1, 0), ERR_SOF_BAD_WIDTH);
  EXPECT_EQ(frame(8, 8192, 8192, 1, 0), 0) << "largest accepted frame";
  EXPECT_EQ(frame(8, 8, 8, 5, 0), ERR_SOF_TOO_MANY_COMPONENTS);
  EXPECT_EQ(frame(8, 8, 8, 1, 1), ERR_SOF_BAD_LENGTH);
  EXPECT_EQ(frame(8, 8, 8, 0, 0), 0) << "no components is left to decode start";
}

TEST(FrameHeader, ComponentFieldsAreStoredAsRead) {
  JpegBuilder b;
  b.soi().sof(0xC0, 100, 75, {{7, 2, 1, 3}, {9, 1, 1, 200}, {11, 15, 0, 1}});
  DecoderOnBytes t(b.bytes);
  t.decoder->create(*t.stream);
  const JpegDecoderState& d = t.state();
  ASSERT_EQ(t.decoder->status(), 0);
  EXPECT_EQ(d.comp_id[0], 7);
  EXPECT_EQ(d.comp_h[0], 2);
  EXPECT_EQ(d.comp_v[0], 1);
  EXPECT_EQ(d.comp_quant[1], 200) << "selector stored unchecked; decode start rejects it";
  EXPECT_EQ(d.comp_h[2], 15);
  EXPECT_EQ(d.comp_v[2], 0);
}

TEST(HuffmanSegment, CountsAndSlotsAreValidated) {
  auto dht_status = [](uint8_t tc_th, const Bytes& counts, size_t symbol_count, int length_delta) {
    Bytes p{tc_th};
    p.insert(p.end(), counts.begin(), counts.end());
    for (size_t i = 0; i < symbol_count; i++) p.push_back(static_cast<uint8_t>(i));
    JpegBuilder b;
    b.soi();
    const size_t length = p.size() + 2 + static_cast<size_t>(length_delta);
    b.marker(0xC4).raw({uint8_t(length >> 8), uint8_t(length)}).raw(p).raw(grey_sof());
    return create_status(b.bytes);
  };
  Bytes counts_255(16, 0);
  counts_255[7] = 255;  // 255 codes of 8 bits
  EXPECT_EQ(dht_status(0x00, counts_255, 255, 0), 0) << "255 codes are accepted";
  Bytes counts_256(16, 0);
  counts_256[7] = 200;
  counts_256[8] = 56;
  EXPECT_EQ(dht_status(0x00, counts_256, 256, 0), ERR_DHT_TOO_MANY_CODES) << "256 codes";
  Bytes one(16, 0);
  one[0] = 1;
  EXPECT_EQ(dht_status(0x14, one, 1, 0), ERR_DHT_BAD_TABLE) << "class 1, index 4 is slot 8";
  EXPECT_EQ(dht_status(0x00, one, 1, -1), ERR_DHT_BAD_LENGTH) << "segment one byte short";
  EXPECT_EQ(dht_status(0x00, one, 1, -13), ERR_DHT_BAD_LENGTH) << "segment shorter than its counts";
  Bytes overfull(16, 0);
  overfull[0] = 3;  // three 1-bit codes cannot exist
  EXPECT_EQ(dht_status(0x00, overfull, 3, 0), ERR_DHT_TOO_MANY_CODES) << "overfilled length";
  Bytes overfull_long(16, 0);
  overfull_long[15] = 100;
  overfull_long[0] = 2;  // two 1-bit codes use up the code space
  EXPECT_EQ(dht_status(0x00, overfull_long, 102, 0), ERR_DHT_TOO_MANY_CODES);
  JpegBuilder empty;
  empty.soi().segment(0xC4, {}).raw(grey_sof());
  EXPECT_EQ(create_status(empty.bytes), 0) << "an empty DHT is accepted";
  JpegBuilder too_short;
  too_short.soi().raw({0xFF, 0xC4, 0x00, 0x01}).raw(grey_sof());
  EXPECT_EQ(create_status(too_short.bytes), ERR_DHT_BAD_LENGTH) << "length below 2";
}

TEST(HuffmanSegment, SlotNumberingAndRedefinitionInPlace) {
  Bytes one(16, 0);
  one[0] = 1;
  JpegBuilder b;
  b.soi().dht(0x04, one, {0x42}).dht(0x23, one, {0x43}).dht(0x11, one, {0x44});
  Bytes two(16, 0);
  two[1] = 2;
  b.dht(0x11, two, {0x45, 0x46}).raw(grey_sof());
  DecoderOnBytes t(b.bytes);
  t.decoder->create(*t.stream);
  const JpegDecoderState& d = t.state();
  ASSERT_EQ(t.decoder->status(), 0);
  ASSERT_NE(d.huff_vals[4], nullptr) << "Tc/Th 0x04 is class 0, index 4: slot 4";
  EXPECT_EQ(d.huff_vals[4][0], 0x42);
  ASSERT_NE(d.huff_vals[3], nullptr) << "0x23 has bit 4 clear: slot 3";
  EXPECT_EQ(d.huff_vals[3][0], 0x43);
  ASSERT_NE(d.huff_vals[5], nullptr);
  EXPECT_EQ(d.huff_bits[5][0], 0);
  EXPECT_EQ(d.huff_bits[5][1], 0) << "redefinition replaces the counts";
  EXPECT_EQ(d.huff_bits[5][2], 2);
  EXPECT_EQ(d.huff_vals[5][1], 0x46);
}

TEST(QuantSegment, PrecisionIndexAndLengthAreChecked) {
  auto dqt_status = [](uint8_t pq_tq, int value_bytes, int length_delta) {
    Bytes p{pq_tq};
    for (int i = 0; i < 64 * value_bytes; i++) p.push_back(static_cast<uint8_t>(i));
    const size_t length = p.size() + 2 + static_cast<size_t>(length_delta);
    JpegBuilder b;
    b.soi().marker(0xDB).raw({uint8_t(length >> 8), uint8_t(length)}).raw(p).raw(grey_sof());
    return create_status(b.bytes);
  };
  EXPECT_EQ(dqt_status(0x10, 2, 0), 0) << "16-bit table, length 2 + 129";
  EXPECT_EQ(dqt_status(0x10, 2, -1), ERR_DQT_TRUNCATED) << "16-bit table, length 2 + 128";
  EXPECT_EQ(dqt_status(0x04, 1, 0), ERR_DQT_BAD_TABLE);
  JpegBuilder too_short;
  too_short.soi().raw({0xFF, 0xDB, 0x00, 0x00});
  EXPECT_EQ(create_status(too_short.bytes), ERR_DQT_BAD_LENGTH);

  JpegBuilder sixteen;
  Bytes p{0x12};
  for (int i = 0; i < 64; i++) p.insert(p.end(), {0xFF, static_cast<uint8_t>(i)});
  sixteen.soi().segment(0xDB, p).raw(grey_sof());
  DecoderOnBytes t(sixteen.bytes);
  t.decoder->create(*t.stream);
  ASSERT_EQ(t.decoder->status(), 0);
  ASSERT_NE(t.state().quant_tables[2], nullptr);
  EXPECT_EQ(static_cast<uint16_t>(t.state().quant_tables[2][5]), 0xFF05)
      << "16-bit entries are high byte then low byte, zig-zag position 5";
}

TEST(RestartSegment, LengthMustBeFour) {
  JpegBuilder good, bad;
  good.soi().dri(7).raw(grey_sof());
  bad.soi().segment(0xDD, {0, 7, 0}).raw(grey_sof());
  DecoderOnBytes t(good.bytes);
  t.decoder->create(*t.stream);
  EXPECT_EQ(t.decoder->status(), 0);
  EXPECT_EQ(t.state().restart_interval, 7);
  EXPECT_EQ(create_status(bad.bytes), ERR_DRI_BAD_LENGTH);
}

// Scan headers are read by decode start; these run the scan reader directly.
struct ScanHeaderCase {
  DecoderOnBytes t;
  int32_t result = -1;
  int32_t code = 0;
  explicit ScanHeaderCase(const Bytes& bytes) : t(bytes) {
    t.decoder->create(*t.stream);
    EXPECT_EQ(t.decoder->status(), 0) << "headers before the scan must parse";
    try {
      result = read_scan_header(t.state());
    } catch (const JpegFailure& failure) {
      code = failure.code;
    }
  }
};

Bytes colour_frame_then(const Bytes& rest, uint8_t sof = 0xC0) {
  JpegBuilder b;
  b.soi().sof(sof, 16, 16, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
  b.raw(rest);
  return b.bytes;
}

TEST(ScanHeader, LengthCountAndComponentsAreChecked) {
  JpegBuilder two;
  two.sos({{1, 0, 1}, {3, 2, 3}});
  ScanHeaderCase ok(colour_frame_then(two.bytes));
  EXPECT_EQ(ok.result, 1) << "Ns = 2 with Ls = 10";
  const JpegDecoderState& d = ok.t.state();
  EXPECT_EQ(d.scan_component_count, 2);
  EXPECT_EQ(d.scan_components[1], 2) << "component id 3 is frame component 2";
  EXPECT_EQ(d.comp_dc_table[2], 2);
  EXPECT_EQ(d.comp_ac_table[2], 4 + 3) << "AC selectors name slots 4..7";

  ScanHeaderCase long_header(colour_frame_then({0xFF, 0xDA, 0, 11, 2, 1, 0, 3, 0, 0, 63, 0, 0}));
  EXPECT_EQ(long_header.code, ERR_SOS_BAD_LENGTH) << "Ls = 11 for Ns = 2";
  ScanHeaderCase no_components(colour_frame_then({0xFF, 0xDA, 0, 6, 0, 0, 63, 0}));
  EXPECT_EQ(no_components.code, ERR_SOS_BAD_LENGTH) << "Ns = 0";
  JpegBuilder unknown;
  unknown.sos({{9, 0, 0}});
  EXPECT_EQ(ScanHeaderCase(colour_frame_then(unknown.bytes)).code, ERR_SOS_BAD_COMPONENT);
  JpegBuilder twice;
  twice.sos({{1, 0, 0}, {1, 0, 0}});
  EXPECT_EQ(ScanHeaderCase(colour_frame_then(twice.bytes)).code, ERR_SOS_BAD_COMPONENT)
      << "a component named twice in one scan";
}

TEST(ScanHeader, BaselineBandIsForcedAndProgressiveBandIsKept) {
  JpegBuilder scan;
  scan.sos({{1, 0, 0}}, 1, 5, 2, 1);
  ScanHeaderCase baseline(colour_frame_then(scan.bytes));
  EXPECT_EQ(baseline.t.state().scan_ss, 0);
  EXPECT_EQ(baseline.t.state().scan_se, 63);
  EXPECT_EQ(baseline.t.state().scan_ah, 2);
  EXPECT_EQ(baseline.t.state().scan_al, 1);
  ScanHeaderCase progressive(colour_frame_then(scan.bytes, 0xC2));
  EXPECT_EQ(progressive.t.state().scan_ss, 1);
  EXPECT_EQ(progressive.t.state().scan_se, 5);
}

TEST(ScanHeader, EoiEndsTheScansAndOtherFrameMarkersAreRejected) {
  EXPECT_EQ(ScanHeaderCase(colour_frame_then({0xFF, 0xD9})).result, 0);
  EXPECT_EQ(ScanHeaderCase(colour_frame_then({})).result, 0) << "truncated: synthetic EOI";
  JpegBuilder second_frame;
  second_frame.sof(0xC0, 8, 8, GREY);
  EXPECT_EQ(ScanHeaderCase(colour_frame_then(second_frame.bytes)).code, ERR_UNEXPECTED_MARKER);
  EXPECT_EQ(ScanHeaderCase(colour_frame_then({0xFF, 0xD8})).code, ERR_UNEXPECTED_MARKER);
}

TEST(ScanHeader, TablesBetweenFrameAndScanAreStored) {
  JpegBuilder rest;
  rest.dqt(1, 9).dri(3).sos({{1, 0, 0}});
  ScanHeaderCase c(colour_frame_then(rest.bytes));
  ASSERT_EQ(c.result, 1);
  ASSERT_NE(c.t.state().quant_tables[1], nullptr);
  EXPECT_EQ(c.t.state().quant_tables[1][63], 9);
  EXPECT_EQ(c.t.state().restart_interval, 3);
}

}  // namespace
