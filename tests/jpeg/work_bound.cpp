// The decoder's work bound on crafted streams: valid files with many scans (cjpeg scripts
// refined down to Al 0, a thousand scans on one block) and damaged files that the decoder
// takes as they come decode; a header whose fill bits decode as the longest codes is refused
// early; and one entropy-coded segment past 2^28 bytes, generated as it is read, decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/jpeg/oracle_support.h"
#include "tests/jpeg/unit_support.h"

namespace {

// Counts of a Huffman table that fills the code space: one code of each length 1..15 and two of
// length 16, so that the all-ones 16-bit code is the last symbol listed.
Bytes code_space_filling_counts() {
  Bytes counts(16, 1);
  counts[15] = 2;
  return counts;
}

// A 4:4:4 sequential header with no entropy-coded data at all: past it the reader delivers
// 1-bits, which these tables decode as a DC difference of 0 and 63 coefficients of +1, each
// behind a 16-bit code: over a thousand fill bits per block.
Bytes long_fill_header(uint16_t width, uint16_t height) {
  Bytes dc_symbols;
  for (int s = 1; s <= 16; s++) dc_symbols.push_back(static_cast<uint8_t>(s));
  dc_symbols.push_back(0x00);
  Bytes ac_symbols{0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                   0x0A, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x01};
  JpegBuilder b;
  b.soi().dqt(0, 1).dht(0x00, code_space_filling_counts(), dc_symbols);
  b.dht(0x10, code_space_filling_counts(), ac_symbols);
  b.sof(0xC0, width, height, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
  b.sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}).eoi();
  return b.bytes;
}

// An 8x8 grey progressive image of a DC scan and 1000 DC refinement scans.
Bytes thousand_and_one_scans() {
  JpegBuilder b = baseline_headers(8, 8, {{1, 1, 1, 0}}, 1, 0xC2);
  b.sos({{1, 0, 0}}, 0, 0, 0, 1).raw({0x00});
  for (int i = 0; i < 1000; i++) b.sos({{1, 0, 0}}, 0, 0, 1, 0).raw({0x00});
  return b.eoi().bytes;
}

// DC and four AC bands, each sent at Al 10 and refined down to Al 0: 55 scans.
std::string fifty_five_scan_script() {
  std::string script;
  const int bands[5][2] = {{0, 0}, {1, 5}, {6, 14}, {15, 35}, {36, 63}};
  for (const auto& band : bands) {
    const std::string range = std::to_string(band[0]) + "-" + std::to_string(band[1]);
    script += "0: " + range + ", 0, 10;\n";
    for (int al = 9; al >= 0; al--)
      script += "0: " + range + ", " + std::to_string(al + 1) + ", " + std::to_string(al) + ";\n";
  }
  return script;
}

// The file cut `extra` bytes after the end of its first scan header.
Bytes cut_after_first_scan_header(const Bytes& file, size_t extra) {
  for (size_t i = 0; i + 3 < file.size(); i++)
    if (file[i] == 0xFF && file[i + 1] == 0xDA) {
      const size_t end = i + 2 + (size_t{file[i + 2]} << 8 | file[i + 3]) + extra;
      return Bytes(file.begin(), file.begin() + static_cast<ptrdiff_t>(std::min(end, file.size())));
    }
  return {};
}

enum class Expect {
  SAME_AS_REFERENCE,  // decodes to the reference decoding, sample for sample
  DECODES,            // every row delivered, status 0 (no reference decoding exists)
  REFUSED_EARLY,      // the bound fires (-230) before the last row
};

struct CraftedCase {
  const char* name;
  std::function<Bytes(const std::string& dir, std::string& error_text)> make;
  Expect expect;
};

const CraftedCase crafted_cases[] = {
    {"long fill, 4:4:4 1024x1024, header only",
     [](const std::string&, std::string&) { return long_fill_header(1024, 1024); },
     Expect::REFUSED_EARLY},
    {"55 scans down to Al 0, grey 1024x1024",
     [](const std::string& dir, std::string& error) {
       return oracle::make_sample_jpeg(dir, "sa55-1024", 1024, 1024, "-grayscale",
                                       fifty_five_scan_script(), error);
     },
     Expect::SAME_AS_REFERENCE},
    {"55 scans down to Al 0, grey 4096x4096",
     [](const std::string& dir, std::string& error) {
       return oracle::make_sample_jpeg(dir, "sa55-4096", 4096, 4096, "-grayscale -quality 50",
                                       fifty_five_scan_script(), error);
     },
     Expect::SAME_AS_REFERENCE},
    {"1001 scans, grey 8x8",
     [](const std::string&, std::string&) { return thousand_and_one_scans(); }, Expect::DECODES},
    {"separate scans 0,2 then 1, cut 12 bytes into the first",
     [](const std::string& dir, std::string& error) {
       return cut_after_first_scan_header(
           oracle::make_sample_jpeg(dir, "separate-0-2-1", 64, 48, "-sample 2x2",
                                    "0,2: 0-63, 0, 0;\n1: 0-63, 0, 0;\n", error),
           12);
     },
     Expect::DECODES},
};

TEST(WorkBound, CraftedStreams) {
  const std::string missing = oracle::missing_tools();
  ASSERT_TRUE(missing.empty()) << missing;
  const std::string dir = oracle::work_dir("work_bound");
  for (const CraftedCase& c : crafted_cases) {
    std::string error_text;
    const Bytes bytes = c.make(dir, error_text);
    ASSERT_FALSE(bytes.empty()) << c.name << ": " << error_text;
    const oracle::DecodeOutcome got = oracle::decode_with_terrava(bytes);
    const int height = got.image.height;
    switch (c.expect) {
      case Expect::SAME_AS_REFERENCE: {
        oracle::Image expected;
        const std::string problem = oracle::reference_decode(bytes.data(), bytes.size(), expected);
        ASSERT_EQ(problem, "") << c.name;
        EXPECT_EQ(got.final_status, 0) << c.name;
        EXPECT_EQ(oracle::compare_images(c.name, expected, got.image), "");
        break;
      }
      case Expect::DECODES:
        EXPECT_EQ(got.final_status, 0) << c.name << ": expected a decode";
        EXPECT_EQ(got.last_read_result, 1) << c.name << ": expected every row";
        EXPECT_EQ(got.rows_delivered, height) << c.name;
        break;
      case Expect::REFUSED_EARLY:
        EXPECT_EQ(got.final_status, ERR_BAD_PROGRESSIVE_SCAN) << c.name << ": expected the bound";
        EXPECT_LT(got.rows_delivered, height / 2) << c.name << ": refused late";
        break;
    }
  }
}

// Serves `head`, then `pattern` over and over up to `body_bytes` bytes, then `tail`, making
// each byte as it is read.
class PatternStream : public JpegInputStream {
 public:
  PatternStream(Bytes head, Bytes pattern, int64_t body_bytes, Bytes tail)
      : head_(std::move(head)), pattern_(std::move(pattern)), tail_(std::move(tail)),
        body_end_(static_cast<int64_t>(head_.size()) + body_bytes),
        end_(body_end_ + static_cast<int64_t>(tail_.size())) {}

  int32_t read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) override {
    int32_t count = 0;
    while (count < max_count && position_ < end_) {
      const int64_t head_size = static_cast<int64_t>(head_.size());
      const uint8_t* from;
      int64_t available;
      if (position_ < head_size) {
        from = head_.data() + position_;
        available = head_size - position_;
      } else if (position_ < body_end_) {
        const int64_t offset = (position_ - head_size) % static_cast<int64_t>(pattern_.size());
        from = pattern_.data() + offset;
        available = std::min(static_cast<int64_t>(pattern_.size()) - offset, body_end_ - position_);
      } else {
        from = tail_.data() + (position_ - body_end_);
        available = end_ - position_;
      }
      const int32_t n = static_cast<int32_t>(std::min<int64_t>(available, max_count - count));
      std::memcpy(buffer + count, from, static_cast<size_t>(n));
      count += n;
      position_ += n;
    }
    if (position_ == end_) end_of_stream = true;
    return count;
  }

 private:
  Bytes head_, pattern_, tail_;
  int64_t body_end_, end_;
  int64_t position_ = 0;
};

TEST(WorkBound, OneSegmentPastTwoToThe28BytesDecodes) {
  // 8192 x 3584 pixels, 4:4:4: 1,376,256 blocks in one segment without restarts. Each block is
  // a DC difference of 0 and 63 coefficients of size 15, every code 10 bits long (resolved by
  // the fast lookup): 1585 bits, so eight blocks make 1585 bytes, none of them 0xFF. In all
  // 272,608,512 bytes; every block is the same, so row y of the picture is row y mod 8.
  constexpr uint16_t width = 8192, height = 3584;
  Bytes ten_bit_code(16, 0);
  ten_bit_code[9] = 1;
  JpegBuilder head;
  head.soi().dqt(0, 1).dht(0x00, ten_bit_code, {0x00}).dht(0x10, ten_bit_code, {0x0F});
  head.sof(0xC0, width, height, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
  head.sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
  EntropyWriter eight_blocks;
  for (int block = 0; block < 8; block++) {
    eight_blocks.put(0, 10);
    for (int k = 1; k < 64; k++) {
      eight_blocks.put(0, 10);
      eight_blocks.put(0x5555 & 0x7FFF, 15);
    }
  }
  ASSERT_EQ(eight_blocks.out.size(), 1585u);
  const int64_t blocks = int64_t{width / 8} * (height / 8) * 3;
  const int64_t segment_bytes = blocks / 8 * 1585;
  ASSERT_GT(segment_bytes, int64_t{1} << 28);
  PatternStream stream(head.bytes, eight_blocks.out, segment_bytes, {0xFF, 0xD9});

  std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
  decoder->create(stream);
  ASSERT_EQ(decoder->status(), 0);
  ASSERT_EQ(decoder->start_decoding(), 0) << "status " << decoder->status();
  std::vector<Bytes> first_rows;
  const uint8_t* row = nullptr;
  int32_t length = 0;
  int32_t result = 0;
  int rows = 0;
  while ((result = decoder->read_scanline(row, length)) == 0) {
    if (rows < 8) {
      first_rows.emplace_back(row, row + length);
    } else if (std::memcmp(row, first_rows[rows % 8].data(), static_cast<size_t>(length)) != 0) {
      ADD_FAILURE() << "row " << rows << " differs from row " << rows % 8;
      break;
    }
    rows++;
  }
  EXPECT_EQ(result, 1) << "after " << rows << " rows, status " << decoder->status();
  EXPECT_EQ(rows, height);
  EXPECT_EQ(decoder->status(), 0);
  decoder->destroy();
}

}  // namespace
