// Robustness of the decoder against awkward byte sources: streams that hand out a few bytes at
// a time or signal the end late must give the same picture as one that hands out 4096 bytes,
// and a read error at any point must end the decode with ERR_STREAM_READ.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/jpeg/oracle_support.h"

namespace {

class AwkwardStreams : public ::testing::Test {
protected:
    // Files of several 4096-byte input buffers, so that refills land inside the entropy-coded
    // data and inside headers of later scans.
    static void SetUpTestSuite() {
        const std::string missing = oracle::missing_tools();
        if (!missing.empty()) {
            setup_error_ = missing;
            return;
        }
        const std::string dir = oracle::work_dir("robustness_stream");
        sequential_ = oracle::make_sample_jpeg(dir, "sequential", 200, 152,
                                               "-sample 2x2 -restart 5B -quality 95", "", setup_error_);
        if (!setup_error_.empty()) return;
        progressive_ = oracle::make_sample_jpeg(dir, "progressive", 160, 120,
                                                "-sample 2x1 -progressive -quality 95", "", setup_error_);
    }

    void SetUp() override { ASSERT_TRUE(setup_error_.empty()) << setup_error_; }

    static void expect_same_picture(const std::vector<uint8_t>& jpeg, const std::string& name,
                                    const oracle::StreamBehaviour& behaviour) {
        const oracle::DecodeOutcome reference = oracle::decode_with_terrava(jpeg);
        ASSERT_EQ(reference.final_status, 0) << name << " does not decode";
        const oracle::DecodeOutcome outcome = oracle::decode_with_terrava(jpeg, behaviour);
        const std::string label = name + " read " + std::to_string(behaviour.chunk_size) +
                                  " bytes at a time" +
                                  (behaviour.end_flag_with_last_bytes ? "" : ", end flag late");
        EXPECT_EQ(outcome.final_status, 0) << label;
        const std::string difference = oracle::compare_images(label, reference.image, outcome.image);
        EXPECT_TRUE(difference.empty()) << difference;
    }

    static std::string setup_error_;
    static std::vector<uint8_t> sequential_;
    static std::vector<uint8_t> progressive_;
};

std::string AwkwardStreams::setup_error_;
std::vector<uint8_t> AwkwardStreams::sequential_;
std::vector<uint8_t> AwkwardStreams::progressive_;

TEST_F(AwkwardStreams, SmallReadsGiveTheSamePicture) {
    ASSERT_GT(sequential_.size(), 2u * 4096) << "sample too small to cross refills";
    for (int32_t chunk : {1, 3, 1000, 4095}) {
        oracle::StreamBehaviour behaviour;
        behaviour.chunk_size = chunk;
        expect_same_picture(sequential_, "sequential", behaviour);
        expect_same_picture(progressive_, "progressive", behaviour);
    }
}

// A file whose length is a multiple of 4096 ends with a refill that gets no bytes, only the
// end flag. A comment segment right after SOI pads the sample to such a length.
TEST_F(AwkwardStreams, LengthOnARefillBoundaryGivesTheSamePicture) {
    for (const auto* original : {&sequential_, &progressive_}) {
        const size_t target = (original->size() + 4 + 4095) / 4096 * 4096;
        const size_t comment_length = target - original->size(); // includes the 2-byte marker
        ASSERT_GE(comment_length, 4u);
        ASSERT_LT(comment_length, 65535u);
        std::vector<uint8_t> padded(original->begin(), original->begin() + 2);
        padded.push_back(0xFF);
        padded.push_back(0xFE);
        padded.push_back(static_cast<uint8_t>((comment_length - 2) >> 8));
        padded.push_back(static_cast<uint8_t>(comment_length - 2));
        padded.resize(2 + comment_length, 'c');
        padded.insert(padded.end(), original->begin() + 2, original->end());
        ASSERT_EQ(padded.size() % 4096, 0u);
        const std::string name = original == &sequential_ ? "sequential" : "progressive";
        for (bool flag_with_last_bytes : {true, false}) {
            oracle::StreamBehaviour behaviour;
            behaviour.end_flag_with_last_bytes = flag_with_last_bytes;
            expect_same_picture(padded, name + " padded to " + std::to_string(padded.size()),
                                behaviour);
        }
    }
}

TEST_F(AwkwardStreams, ReadErrorAnywhereEndsWithStreamReadError) {
    for (const auto* original : {&sequential_, &progressive_}) {
        const std::string name = original == &sequential_ ? "sequential" : "progressive";
        const int64_t size = static_cast<int64_t>(original->size());
        for (int64_t fail_after : {int64_t(0), int64_t(1), int64_t(700), int64_t(4096),
                                   int64_t(4097), size / 2, size - 2}) {
            for (int32_t chunk : {1000, 4096}) {
                oracle::StreamBehaviour behaviour;
                behaviour.fail_after_bytes = fail_after;
                behaviour.chunk_size = chunk;
                const oracle::DecodeOutcome outcome = oracle::decode_with_terrava(*original, behaviour);
                const std::string where = name + ", read error after " +
                                          std::to_string(fail_after) + " bytes in reads of " +
                                          std::to_string(chunk);
                EXPECT_EQ(outcome.final_status, ERR_STREAM_READ) << where;
                if (outcome.create_status == 0 && outcome.start_result == 0) {
                    EXPECT_LT(outcome.rows_delivered, outcome.image.height) << where;
                }
                EXPECT_EQ(outcome.detach_calls, 1) << where << ": detach calls";
                if (fail_after == 0) {
                    EXPECT_EQ(outcome.create_status, ERR_STREAM_READ) << where;
                }
            }
        }
    }
}

} // namespace
