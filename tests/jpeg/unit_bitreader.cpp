// Bit readers, Huffman tables and restart markers: stuffed zeros, markers left in the input,
// codes longer than 8 bits, the fast reader against the plain 32-bit window, and the input
// position each leaves behind.
#include "jpeg/reference/reference.h"
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

enum class Reader { FAST, WINDOW };

// A decoder whose input starts at `bytes`, switched to entropy-coded data for one of the two
// readers.
struct EntropyCase {
  explicit EntropyCase(const Bytes& bytes, Reader which = Reader::FAST) : t(bytes, 7), reader(which) {
    initialise_decoder(t.state(), *t.stream);
    if (reader == Reader::WINDOW)
      window_start_entropy_segment(t.state());
    else
      start_entropy_segment(t.state());
  }
  uint32_t bits(int n) {
    return reader == Reader::WINDOW ? window_get_bits(t.state(), n) : get_bits(t.state(), n);
  }
  int32_t code_of(std::function<void()> action) {
    try {
      action();
    } catch (const JpegFailure& failure) {
      return failure.code;
    }
    return 0;
  }
  // Bytes taken from the stream and not given back.
  size_t consumed() { return t.stream->position - static_cast<size_t>(t.state().input_count); }
  DecoderOnBytes t;
  Reader reader;
};

TEST(EntropyBytes, StuffedZeroIsDroppedAndMarkerReadsAsOnesWithoutBeingConsumed) {
  for (Reader reader : {Reader::FAST, Reader::WINDOW}) {
    const char* name = reader == Reader::WINDOW ? "window" : "fast";
    EntropyCase stuffed({0x12, 0xFF, 0x00, 0x34, 0x56}, reader);
    EXPECT_EQ(stuffed.bits(8), 0x12u) << name;
    EXPECT_EQ(stuffed.bits(8), 0xFFu) << name;
    EXPECT_EQ(stuffed.bits(8), 0x34u) << name << ": the 0x00 after 0xFF is dropped";
    EXPECT_EQ(stuffed.bits(8), 0x56u) << name;

    EntropyCase marker({0xAB, 0xFF, 0xD3, 0x77, 0x88}, reader);
    EXPECT_EQ(marker.bits(8), 0xABu) << name;
    for (int i = 0; i < 6; i++) EXPECT_EQ(marker.bits(16), 0xFFFFu) << name << ": 1-bits at a marker";
  }
}

TEST(EntropyBytes, PastTheDataTheSyntheticBytesComeThroughAsTheyAre) {
  for (Reader reader : {Reader::FAST, Reader::WINDOW}) {
    const char* name = reader == Reader::WINDOW ? "window" : "fast";
    // The data must outlast the header window's look-ahead, which start_entropy_segment gives
    // back to the input as ordinary bytes.
    EntropyCase c({0x01, 0x02, 0x03, 0x04, 0x05}, reader);
    EXPECT_EQ(c.bits(16), 0x0102u) << name;
    EXPECT_EQ(c.bits(16), 0x0304u) << name;
    EXPECT_EQ(c.bits(8), 0x05u) << name;
    EXPECT_EQ(c.bits(16), 0xFFD9u) << name;
    EXPECT_EQ(c.bits(16), 0xFFD9u) << name;
  }
}

TEST(Restart, ExpectedMarkerIsConsumedAndStateIsReset) {
  EntropyCase c({0xAB, 0xFF, 0xFF, 0xFF, 0xD3, 0x5C, 0x00});
  JpegDecoderState& d = c.t.state();
  d.component_count = 3;
  d.restart_interval = 4;
  d.next_restart_num = 3;
  d.dc_pred[0] = 55;
  d.dc_pred[1] = 66;
  d.dc_pred[2] = 77;
  d.eob_run = 9;
  EXPECT_EQ(c.bits(8), 0xABu);
  EXPECT_EQ(c.bits(8), 0xFFu) << "marker reads as ones";
  EXPECT_EQ(c.code_of([&] { process_restart(d); }), 0) << "FF FF FF D3 is RST3 after fill bytes";
  for (int component = 0; component < 3; component++)
    EXPECT_EQ(d.dc_pred[component], 0) << "component " << component << "'s predictor";
  EXPECT_EQ(d.eob_run, 0);
  EXPECT_EQ(d.restarts_left, 4);
  EXPECT_EQ(d.next_restart_num, 4);
  EXPECT_EQ(c.bits(8), 0x5Cu) << "data after the marker";
}

TEST(Restart, WrongOrMissingMarkersFail) {
  auto restart_code = [](const Bytes& bytes, int expected_num) {
    EntropyCase c(bytes);
    c.t.state().next_restart_num = expected_num;
    return c.code_of([&] { process_restart(c.t.state()); });
  };
  EXPECT_EQ(restart_code({0xFF, 0xD3}, 2), ERR_BAD_RESTART) << "RST3 where RST2 is due";
  EXPECT_EQ(restart_code({0xFF, 0xD9}, 0), ERR_BAD_RESTART) << "EOI where RST0 is due";
  EXPECT_EQ(restart_code({0xFF, 0xD7}, 7), 0);
  Bytes no_marker(2000, 0x11);
  EXPECT_EQ(restart_code(no_marker, 0), ERR_BAD_RESTART) << "no 0xFF within 1536 bytes";
  Bytes late(1530, 0x11);
  late.insert(late.end(), {0xFF, 0xD0});
  EXPECT_EQ(restart_code(late, 0), 0) << "marker within the budget";

  EntropyCase wrap({0xFF, 0xD7, 0xFF, 0xD0});
  wrap.t.state().next_restart_num = 7;
  process_restart(wrap.t.state());
  process_restart(wrap.t.state());
  EXPECT_EQ(wrap.t.state().next_restart_num, 1) << "RST7 is followed by RST0";
}

TEST(EntropySegment, StartsRightAfterTheScanHeaderWhateverItsParity) {
  for (size_t comment_bytes : {1u, 2u}) {
    JpegBuilder b = baseline_headers(8, 8, {{1, 1, 1, 0}});
    b.segment(0xFE, Bytes(comment_bytes, 'x')).sos({{1, 0, 0}}).raw({0x9A, 0xBC});
    DecoderOnBytes t(b.bytes);
    t.decoder->create(*t.stream);
    ASSERT_EQ(read_scan_header(t.state()), 1);
    start_entropy_segment(t.state());
    EXPECT_EQ(get_bits(t.state(), 8), 0x9Au) << "comment of " << comment_bytes << " bytes";
  }
}

// Writes symbols with the canonical codes of a table and returns them as entropy bytes.
struct CanonicalCode {
  uint32_t code;
  int length;
};
std::vector<CanonicalCode> canonical_codes(const Bytes& counts16) {
  std::vector<CanonicalCode> codes;
  uint32_t code = 0;
  for (int len = 1; len <= 16; len++) {
    for (int i = 0; i < counts16[len - 1]; i++) codes.push_back({code++, len});
    code <<= 1;
  }
  return codes;
}

HuffLookup* build_table(DecoderOnBytes& t, const Bytes& counts16, const Bytes& symbols) {
  JpegDecoderState& d = t.state();
  d.huff_bits[0] = static_cast<uint8_t*>(pool_alloc(d, 17));
  d.huff_vals[0] = static_cast<uint8_t*>(pool_alloc(d, 256));
  for (int i = 0; i < 16; i++) d.huff_bits[0][i + 1] = counts16[i];
  for (size_t i = 0; i < symbols.size(); i++) d.huff_vals[0][i] = symbols[i];
  build_huff_lookup(d, 0);
  return d.huff_lookup[0];
}

TEST(HuffmanTable, ShortAndNineBitCodesLandInPrimaryAndTree) {
  DecoderOnBytes t(Bytes{});
  initialise_decoder(t.state(), *t.stream);
  Bytes single(16, 0);
  single[0] = 1;
  const HuffLookup& one = *build_table(t, single, {0x05});
  for (int i = 0; i < 256; i++)
    ASSERT_EQ(one.primary[i], i < 128 ? 5 : 0) << "primary[" << i << "] of a 1-bit code";
  EXPECT_EQ(one.lengths[5], 1);

  Bytes nine(16, 0);
  nine[0] = 1;  // code 0
  nine[8] = 1;  // code 1 0000 0000
  const HuffLookup& long_code = *build_table(t, nine, {0x01, 0x07});
  EXPECT_EQ(long_code.primary[0x80], -1) << "9-bit code 0x100: primary[0x100 >> 1] is node -1";
  EXPECT_EQ(long_code.nodes[1], 7) << "child of node -1 for bit 0 is the symbol";
  EXPECT_EQ(long_code.lengths[7], 9);
}

TEST(HuffmanTable, FastAndWindowReadersDecodeRandomTablesAlike) {
  TestRandom random(11);
  for (int round = 0; round < 40; round++) {
    // Random counts that fit their lengths, weighted towards long codes.
    Bytes counts(16, 0);
    uint32_t space = 1;  // free codes at the current length
    int total = 0;
    for (int len = 1; len <= 16; len++) {
      space *= 2;
      const int cap = static_cast<int>(std::min<uint32_t>(space, 255u - total));
      const int n = len < 4 ? random.range(0, cap / 2) : random.range(0, std::min(cap, 40));
      counts[len - 1] = static_cast<uint8_t>(n);
      space -= static_cast<uint32_t>(n);
      total += n;
    }
    if (total == 0) continue;
    Bytes symbols;
    for (int i = 0; i < total; i++) symbols.push_back(static_cast<uint8_t>((i * 37 + round) & 255));
    const std::vector<CanonicalCode> codes = canonical_codes(counts);
    EntropyWriter w;
    std::vector<int> sent;
    for (int i = 0; i < 300; i++) {
      const int k = random.range(0, total - 1);
      w.put(codes[k].code, codes[k].length);
      sent.push_back(symbols[k]);
      const int extra = random.range(0, 16);
      w.put(random.next() & ((1u << extra) - 1), extra);
      sent.push_back(extra);
    }
    w.flush();
    EntropyCase fast(w.out), window(w.out, Reader::WINDOW);
    const HuffLookup& table_fast = *build_table(fast.t, counts, symbols);
    const HuffLookup& table_window = *build_table(window.t, counts, symbols);
    for (size_t i = 0; i < sent.size(); i += 2) {
      ASSERT_EQ(decode_huff_symbol(fast.t.state(), table_fast), sent[i]) << "fast, symbol " << i / 2;
      ASSERT_EQ(window_decode_huff_symbol(window.t.state(), table_window), sent[i])
          << "window, symbol " << i / 2 << " round " << round;
      ASSERT_EQ(fast.bits(sent[i + 1]), window.bits(sent[i + 1])) << "extra bits " << i / 2;
    }
  }
}

// Code counts (16 lengths) for the range-built lookup test: fixed edge cases first, then random
// sets that fit their lengths, some of them filling the code space up to the all-ones code.
std::vector<Bytes> lookup_test_counts() {
  std::vector<Bytes> sets;
  const auto counts_with = [](std::initializer_list<std::pair<int, int>> length_counts) {
    Bytes counts(16, 0);
    for (const auto& [length, count] : length_counts) counts[length - 1] = static_cast<uint8_t>(count);
    return counts;
  };
  sets.push_back(Bytes(16, 0));                       // no codes: all unused
  sets.push_back(counts_with({{1, 1}}));              // one 1-bit code
  sets.push_back(counts_with({{1, 2}}));              // "0" and the all-ones "1"
  sets.push_back(counts_with({{16, 255}}));           // only 16-bit codes
  sets.push_back(counts_with({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1},
                              {9, 1}, {10, 1}, {11, 1}, {12, 1}, {13, 1}, {14, 1}, {15, 1},
                              {16, 2}}));             // full, ending in 16 ones
  sets.push_back(counts_with({{2, 1}, {3, 5}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1},
                              {9, 1}}));              // the usual luminance DC table
  sets.push_back(counts_with({{2, 2}, {3, 1}, {4, 3}, {5, 3}, {6, 2}, {7, 4}, {8, 3}, {9, 5},
                              {10, 5}, {11, 4}, {12, 4}, {15, 1}, {16, 125}}));  // luminance AC
  TestRandom random(23);
  for (int round = 0; round < 300; round++) {
    Bytes counts(16, 0);
    uint32_t free_space = 1u << 16;  // in units of one 16-bit code
    int total = 0;
    for (int picks = random.range(1, 60); picks > 0 && total < 255; picks--) {
      const int length = random.range(1, 16);
      if ((1u << (16 - length)) > free_space) continue;
      counts[length - 1]++;
      free_space -= 1u << (16 - length);
      total++;
    }
    // Every third set is completed: the space is filled with the longest codes that fit.
    for (int length = 1; round % 3 == 0 && length <= 16; length++)
      while (total < 255 && (1u << (16 - length)) <= free_space) {
        counts[length - 1]++;
        free_space -= 1u << (16 - length);
        total++;
      }
    sets.push_back(counts);
  }
  return sets;
}

// Symbols for `total` codes: small ones (DC size categories, short AC values), any byte, or
// with repeats (a malformed table whose repeated symbol decodes with its last length).
Bytes lookup_test_symbols(TestRandom& random, int total, int kind) {
  Bytes symbols;
  for (int i = 0; i < total; i++) {
    if (kind == 0) symbols.push_back(static_cast<uint8_t>(random.range(0, 17)));
    else if (kind == 1) symbols.push_back(static_cast<uint8_t>((i * 97 + total) & 255));
    else symbols.push_back(static_cast<uint8_t>(random.range(0, 3) * 16 + random.range(0, 11)));
  }
  return symbols;
}

TEST(HuffmanTable, RangeBuiltLookupsEqualThePrefixByPrefixOnes) {
  TestRandom random(31);
  const std::vector<Bytes> sets = lookup_test_counts();
  for (size_t set = 0; set < sets.size(); set++) {
    uint8_t counts[17] = {0};
    int total = 0;
    for (int len = 1; len <= 16; len++) {
      counts[len] = sets[set][len - 1];
      total += counts[len];
    }
    ASSERT_TRUE(huff_counts_fit(counts)) << "test set " << set << " overfills a length";
    for (int kind = 0; kind < 3; kind++) {
      const Bytes symbols = lookup_test_symbols(random, total, kind);
      for (int32_t slot : {0, 5}) {
        std::unique_ptr<HuffLookup> by_range(new HuffLookup()), by_prefix(new HuffLookup());
        ASSERT_TRUE(fill_huff_lookup(*by_range, counts, symbols.data(), slot)) << "set " << set;
        *by_prefix = *by_range;
        fill_fast_lookups_by_prefix(*by_prefix, slot);
        for (int i = 0; i < (1 << JPEG_HUFF_FAST_BITS); i++) {
          const auto where = [&] {
            return "set " + std::to_string(set) + " (" + std::to_string(total) +
                   " codes), symbols kind " + std::to_string(kind) + ", slot " +
                   std::to_string(slot) + ", index " + std::to_string(i);
          };
          ASSERT_EQ(by_range->fast[i], by_prefix->fast[i]) << "fast, " << where();
          ASSERT_EQ(by_range->ac_fast[i], by_prefix->ac_fast[i]) << "ac_fast, " << where();
          ASSERT_EQ(by_range->dc_fast[i], by_prefix->dc_fast[i]) << "dc_fast, " << where();
        }
      }
    }
  }
}

TEST(HuffmanTable, UnusedCodesDecodeAsSymbolZeroAlikeInBothReaders) {
  // Only code "0" (symbol 5) exists: any byte starting with a 1-bit is an unused code.
  Bytes single(16, 0);
  single[0] = 1;
  const Bytes data{0x80, 0x12, 0xC3, 0x44, 0x00, 0xFF, 0x00};
  EntropyCase fast(data), window(data, Reader::WINDOW);
  const HuffLookup& a = *build_table(fast.t, single, {0x05});
  const HuffLookup& b = *build_table(window.t, single, {0x05});
  for (int i = 0; i < 12; i++) {
    ASSERT_EQ(decode_huff_symbol(fast.t.state(), a), window_decode_huff_symbol(window.t.state(), b))
        << "symbol " << i;
    ASSERT_EQ(fast.bits(3), window.bits(3)) << "bits after symbol " << i;
  }
}

TEST(ReceiveExtend, SignedValuesFromTheirBits) {
  EntropyCase c({0x5B, 0x00});  // 010 110 11 ...
  EXPECT_EQ(receive_extend(c.t.state(), 3), -5);
  EXPECT_EQ(receive_extend(c.t.state(), 3), 6);
  EXPECT_EQ(receive_extend(c.t.state(), 0), 0);
  EXPECT_EQ(receive_extend(c.t.state(), 1), 1);
  EXPECT_EQ(receive_extend(c.t.state(), 1), 1);
  EXPECT_EQ(receive_extend(c.t.state(), 1), -1) << "bit 0 of size 1 is -1";
}

TEST(FastReader, LeavesTheInputWhereTheTwoByteWindowWouldAfterAnyRun) {
  // Random data with stuffed bytes, an optional marker or truncation, random read sizes; after
  // the segment ends both readers must have taken the same bytes and synthetic phase.
  TestRandom random(5);
  for (int round = 0; round < 300; round++) {
    Bytes data;
    const int length = random.range(0, 40);
    for (int i = 0; i < length; i++) {
      const uint8_t b = random.range(0, 3) == 0 ? 0xFF : static_cast<uint8_t>(random.next());
      data.push_back(b);
      if (b == 0xFF) data.push_back(0x00);
    }
    const int ending = random.range(0, 2);
    if (ending == 1) data.insert(data.end(), {0xFF, 0xD0, 0x12, 0x34});
    if (ending == 2 && random.range(0, 1) == 0) data.push_back(0xFF);  // cut inside a pair
    EntropyCase fast(data), window(data, Reader::WINDOW);
    int reads = random.range(0, 30);
    for (int i = 0; i < reads; i++) {
      const int n = random.range(1, 16);
      ASSERT_EQ(fast.bits(n), window.bits(n)) << "round " << round << " read " << i;
    }
    finish_entropy_segment(fast.t.state());
    ASSERT_EQ(fast.consumed(), window.consumed()) << "round " << round << " after " << reads
                                                  << " reads, ending " << ending << " of "
                                                  << data.size() << " bytes";
    ASSERT_EQ(fast.t.state().eoi_phase, window.t.state().eoi_phase) << "round " << round;
    for (int i = 0; i < 6; i++)
      ASSERT_EQ(read_byte(fast.t.state()), read_byte(window.t.state())) << "raw byte " << i;
  }
}

TEST(HeaderReader, ReadsFieldsAcrossRefillsAndPeeksTheNextByte) {
  Bytes data;
  for (int i = 0; i < 5000; i++) data.push_back(static_cast<uint8_t>(i * 7));
  DecoderOnBytes t(data, 1000);
  JpegDecoderState& d = t.state();
  initialise_decoder(d, *t.stream);
  for (int i = 0; i + 1 < 4990; i += 2) {
    ASSERT_EQ(peek_byte(d), static_cast<uint8_t>(i * 7)) << "peek at " << i;
    ASSERT_EQ(read_bits(d, 4), static_cast<uint32_t>(static_cast<uint8_t>(i * 7) >> 4)) << i;
    ASSERT_EQ(read_bits(d, 4), static_cast<uint32_t>(static_cast<uint8_t>(i * 7) & 15)) << i;
    ASSERT_EQ(read_bits(d, 8), static_cast<uint32_t>(static_cast<uint8_t>((i + 1) * 7))) << i;
  }
}

}  // namespace
