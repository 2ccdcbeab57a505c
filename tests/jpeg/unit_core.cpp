// Decoder foundation: input buffering and the synthetic EOI fill, push-back, the memory pool,
// the error exit (stream detached once, memory released, public operations refuse afterwards)
// and the file byte source.
#include "tests/jpeg/unit_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

Bytes soi_then(const Bytes& rest) {
  Bytes b{0xFF, 0xD8};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(InputBuffer, DataEndingOnABufferBoundaryContinuesAsEndlessEoiMarkers) {
  Bytes data(4096 * 2, 0x11);
  DecoderOnBytes t(data);
  t.stream->end_with_last_bytes = false;
  JpegDecoderState& d = t.state();
  initialise_decoder(d, *t.stream);
  // The header window holds 4 bytes already; skip the rest of the first buffer.
  d.input_count = 0;
  refill_input(d);
  EXPECT_EQ(d.input_count, 4096) << "second refill should see the second 4096 bytes";
  EXPECT_FALSE(d.end_of_stream) << "the stream had not yet reported its end";
  EXPECT_EQ(d.input_buffer()[4096], 0xFF) << "EOI fill must follow the data";
  EXPECT_EQ(d.input_buffer()[4097], 0xD9);
  d.input_count = 0;
  const int expected[] = {0xFF, 0xD9, 0xFF, 0xD9, 0xFF};
  for (int i = 0; i < 5; i++) EXPECT_EQ(read_byte(d), expected[i]) << "synthetic byte " << i;
  EXPECT_TRUE(d.end_of_stream);
}

TEST(InputBuffer, OneStreamCallPer4096BytesAndShortReadsAreCollected) {
  Bytes data(10000, 0x22);
  DecoderOnBytes whole(data);
  initialise_decoder(whole.state(), *whole.stream);
  EXPECT_EQ(whole.stream->read_calls, 1) << "a full buffer needs one read";

  DecoderOnBytes trickle(data, 1000);
  initialise_decoder(trickle.state(), *trickle.stream);
  EXPECT_EQ(trickle.state().input_count, 4096 - 4) << "short reads must be collected up to 4096";
  EXPECT_EQ(trickle.stream->read_calls, 5);
}

TEST(InputBuffer, PushBackAfterRefillUsesTheAreaInFrontOfTheBuffer) {
  DecoderOnBytes t(Bytes{1, 2, 3, 4});
  JpegDecoderState& d = t.state();
  initialise_decoder(d, *t.stream);
  refill_input(d);  // end of stream: empty buffer, input_ptr at its start
  push_back_byte(d, 0x5A);
  push_back_byte(d, 0x6B);
  EXPECT_LT(d.input_ptr, d.input_buffer()) << "pushed-back bytes live in front of the buffer";
  EXPECT_EQ(read_byte(d), 0x6B);
  EXPECT_EQ(read_byte(d), 0x5A);
  EXPECT_EQ(read_byte(d), 0xFF) << "then the synthetic EOI";
}

TEST(InputBuffer, ReadFlaggedTellsSyntheticBytesApart) {
  DecoderOnBytes t(Bytes{0xFF, 0xD9, 0xFF, 0xD9, 0xAA});
  JpegDecoderState& d = t.state();
  initialise_decoder(d, *t.stream);
  bool synthetic = true;
  EXPECT_EQ(read_byte_flagged(d, synthetic), 0xAA);
  EXPECT_FALSE(synthetic) << "a real byte";
  EXPECT_EQ(read_byte_flagged(d, synthetic), 0xFF);
  EXPECT_TRUE(synthetic) << "past the data";
}

TEST(ErrorExit, ReadErrorOnFirstCallFailsCreateAndDetachesOnce) {
  DecoderOnBytes t(soi_then({0xFF, 0xD9}));
  t.stream->fail_on_call = 1;
  t.decoder->create(*t.stream);
  EXPECT_EQ(t.decoder->status(), ERR_STREAM_READ);
  EXPECT_EQ(t.stream->attach_count, 1);
  EXPECT_EQ(t.stream->detach_count, 1) << "the error exit lets go of the stream";
  EXPECT_EQ(t.state().stream, nullptr);
  for (int i = 0; i < JPEG_POOL_SLOTS; i++) ASSERT_EQ(t.state().pool_blocks[i], nullptr) << "slot " << i;
  t.decoder->destroy();
  t.decoder->destroy();
  EXPECT_EQ(t.stream->detach_count, 1) << "destroy after a failure must not detach again";
  EXPECT_EQ(t.decoder->start_decoding(), -1);
  const uint8_t* row = nullptr;
  int32_t length = -5;
  EXPECT_EQ(t.decoder->read_scanline(row, length), -1);
  EXPECT_EQ(row, nullptr) << "outputs untouched on failure";
  EXPECT_EQ(length, -5);
}

TEST(ErrorExit, StreamsBreakingTheReadContractFailInsteadOfLooping) {
  struct Liar : JpegInputStream {
    int32_t read(uint8_t*, int32_t max_count, bool&) override { return max_count + 1; }
  } liar;
  JpegDecoder decoder;
  decoder.create(liar);
  EXPECT_EQ(decoder.status(), ERR_STREAM_READ) << "more bytes than asked for";
  struct Staller : JpegInputStream {
    int32_t read(uint8_t*, int32_t, bool&) override { return 0; }
  } staller;
  decoder.create(staller);
  EXPECT_EQ(decoder.status(), ERR_STREAM_READ) << "no bytes and no end of stream";
}

TEST(ErrorExit, LaterFailureOverwritesCodeAndReleasesPool) {
  DecoderOnBytes t(soi_then({}));
  JpegDecoderState& d = t.state();
  initialise_decoder(d, *t.stream);
  pool_alloc(d, 10);
  try {
    raise_error(d, ERR_BAD_RESTART);
    FAIL() << "raise_error returned";
  } catch (const JpegFailure& failure) {
    EXPECT_EQ(failure.code, ERR_BAD_RESTART);
  }
  EXPECT_EQ(d.error_code, ERR_BAD_RESTART);
  EXPECT_EQ(d.pool_blocks[0], nullptr);
  EXPECT_EQ(t.stream->detach_count, 1);
}

TEST(ErrorNames, EveryListedCodeHasItsOwnNameAndNothingElseHasOne) {
  std::set<std::string> names;
  for (int32_t code = -240; code <= 5; code++) {
    const bool listed =
        code == 0 || (code >= -233 && code <= -200 && code != -214 && code != -220 && code != -224);
    const char* name = jpeg_error_name(code);
    if (!listed) {
      EXPECT_EQ(name, nullptr) << "code " << code << " is not a decoder code";
      continue;
    }
    ASSERT_NE(name, nullptr) << "code " << code << " has no name";
    EXPECT_EQ(std::string(name).rfind(code == 0 ? "JPEG_OK" : "ERR_", 0), 0u) << name;
    EXPECT_TRUE(names.insert(name).second) << name << " names two codes";
  }
  EXPECT_STREQ(jpeg_error_name(ERR_BAD_HUFFMAN_DATA), "ERR_BAD_HUFFMAN_DATA");
}

TEST(MemoryPool, BlocksAreAlignedZeroedAndTheHundredFirstFails) {
  DecoderOnBytes t(Bytes{});
  JpegDecoderState& d = t.state();
  initialise_decoder(d, *t.stream);
  for (int i = 0; i < JPEG_POOL_SLOTS; i++) {
    const uint32_t size = static_cast<uint32_t>(i * 7);
    auto* p = static_cast<uint8_t*>(pool_alloc(d, size));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u) << "block " << i << " not 8-byte aligned";
    for (uint32_t k = 0; k < size; k++) ASSERT_EQ(p[k], 0) << "block " << i << " byte " << k;
  }
  try {
    pool_alloc(d, 1);
    FAIL() << "the 101st block must fail";
  } catch (const JpegFailure& failure) {
    EXPECT_EQ(failure.code, ERR_POOL_FULL);
  }
  for (int i = 0; i < JPEG_POOL_SLOTS; i++) EXPECT_EQ(d.pool_blocks[i], nullptr) << "slot " << i;
}

TEST(Lifecycle, NewDecoderIsSafeToQueryAndDestroy) {
  JpegDecoder decoder;
  EXPECT_EQ(decoder.status(), 0);
  EXPECT_EQ(decoder.start_decoding(), -1) << "no stream, no headers: cannot start";
  decoder.destroy();
}

TEST(Lifecycle, CreateReadsUpToTheFrameHeaderAndReportsProperties) {
  JpegBuilder b = baseline_headers(100, 75, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
  DecoderOnBytes t(b.bytes);
  t.decoder->create(*t.stream);
  EXPECT_EQ(t.decoder->status(), 0);
  EXPECT_EQ(t.decoder->image_width(), 100);
  EXPECT_EQ(t.decoder->image_height(), 75);
  EXPECT_EQ(t.decoder->component_count(), 3);
  EXPECT_EQ(t.stream->attach_count, 1);
  t.decoder->destroy();
  EXPECT_EQ(t.stream->detach_count, 1);
  t.decoder->destroy();
  EXPECT_EQ(t.stream->detach_count, 1) << "second destroy detaches nothing";
}

TEST(FileStream, ShortFileReportsItsEndWithTheLastBytesAndThenAgain) {
  const std::string name = ::testing::TempDir() + "terrava_unit_core_file.bin";
  {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << "cannot create " << name;
    std::fwrite("abcdef", 1, 6, f);
    std::fclose(f);
  }
  JpegFileStream stream;
  uint8_t buffer[4096];
  bool end = false;
  EXPECT_EQ(stream.read(buffer, 4096, end), -1) << "no file: every read fails";
  ASSERT_TRUE(stream.open(name.c_str()));
  EXPECT_EQ(stream.read(buffer, 4096, end), 6);
  EXPECT_TRUE(end) << "end reported with the last bytes";
  end = false;
  EXPECT_EQ(stream.read(buffer, 4096, end), 0);
  EXPECT_TRUE(end) << "and again on the next call";
  JpegFileStream missing;
  EXPECT_FALSE(missing.open((name + ".does-not-exist").c_str()));
  std::remove(name.c_str());
}

}  // namespace
