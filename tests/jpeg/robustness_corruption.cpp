// Robustness of the decoder against damaged files: every prefix of a few sample files and many
// randomly damaged copies (fixed seed) must decode without a crash or sanitizer report, end
// with status 0 or a documented error code, and keep the stream and row contracts. A decoder
// object reused from one file to the next must give what a new decoder gives on each.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/jpeg/oracle_support.h"

namespace {

struct Sample {
    const char* name;
    int width;
    int height;
    const char* cjpeg_options;
    const char* scan_script;
};

const Sample samples[] = {
    {"baseline420Restart", 48, 40, "-sample 2x2 -restart 2B -quality 80", ""},
    {"progressive444Refinements", 41, 23, "-sample 1x1 -quality 90",
     "0,1,2: 0-0, 0, 1;\n0: 1-5, 0, 2;\n1: 1-63, 0, 1;\n2: 1-63, 0, 1;\n0: 6-63, 0, 2;\n"
     "0: 1-63, 2, 1;\n0,1,2: 0-0, 1, 0;\n2: 1-63, 1, 0;\n1: 1-63, 1, 0;\n0: 1-63, 1, 0;\n"},
    {"progressive420Restart", 37, 29, "-sample 2x2 -progressive -restart 3B -quality 75", ""},
    {"greyOptimised", 50, 33, "-grayscale -optimize -quality 70", ""},
    {"separateScans422", 40, 24, "-sample 2x1 -restart 1 -quality 85",
     "0: 0-63, 0, 0;\n1: 0-63, 0, 0;\n2: 0-63, 0, 0;\n"},
};

// Damaged headers can announce pictures up to 8192x8192; decoding those from a few hundred
// bytes only repeats the same paths slowly, so larger ones stop after create.
constexpr int64_t max_decoded_pixels = 512 * 512;

// Checks the outcome of one decode of damaged data; returns a description of what is wrong,
// or an empty string.
std::string contract_violation(const oracle::DecodeOutcome& outcome) {
    std::ostringstream problem;
    if (!oracle::is_listed_status(outcome.create_status))
        problem << "create left unlisted status " << outcome.create_status << "; ";
    if (!oracle::is_listed_status(outcome.final_status))
        problem << "final status " << outcome.final_status << " is not a listed code; ";
    if (outcome.attach_calls != 1 || outcome.detach_calls != 1)
        problem << "stream attached " << outcome.attach_calls << " and detached "
                << outcome.detach_calls << " times, expected once each; ";
    const bool decoded = outcome.create_status == 0 && !outcome.skipped_as_too_large;
    if (decoded) {
        if (outcome.start_result != 0 && outcome.start_result != -1)
            problem << "start_decoding returned " << outcome.start_result << "; ";
        if (outcome.start_result == -1 && outcome.final_status == 0)
            problem << "start_decoding failed but status is 0; ";
        if (outcome.start_result == 0) {
            if (outcome.last_read_result == -1000) problem << "a row had the wrong length; ";
            else if (outcome.last_read_result == 1 &&
                     (outcome.final_status != 0 || outcome.rows_delivered != outcome.image.height))
                problem << "read_scanline finished after " << outcome.rows_delivered << " of "
                        << outcome.image.height << " rows with status " << outcome.final_status
                        << "; ";
            else if (outcome.last_read_result != 1 &&
                     (outcome.last_read_result != -227 || outcome.final_status == 0))
                problem << "read_scanline ended with " << outcome.last_read_result
                        << " and status " << outcome.final_status << "; ";
        }
    }
    return problem.str();
}

// Empty when a decode at 1/scale ended as the full-size one did: same results and codes, and
// the rows of the same MCU rows (ceil(full rows / scale)).
std::string scaled_outcome_difference(const oracle::DecodeOutcome& full,
                                      const oracle::DecodeOutcome& scaled, int32_t scale) {
    std::ostringstream message;
    const auto field = [&message](const char* name, int64_t want, int64_t have) {
        if (want != have) message << name << " expected " << want << ", got " << have << "; ";
    };
    field("create status", full.create_status, scaled.create_status);
    field("start result", full.start_result, scaled.start_result);
    field("last read result", full.last_read_result, scaled.last_read_result);
    field("final status", full.final_status, scaled.final_status);
    field("rows", (full.rows_delivered + scale - 1) / scale, scaled.rows_delivered);
    return message.str();
}

class DamagedFiles : public ::testing::TestWithParam<Sample> {
protected:
    void SetUp() override {
        const std::string missing = oracle::missing_tools();
        ASSERT_TRUE(missing.empty()) << missing;
        const Sample& sample = GetParam();
        std::string error_text;
        original_ = oracle::make_sample_jpeg(oracle::work_dir("robustness_corruption"), sample.name,
                                             sample.width, sample.height, sample.cjpeg_options,
                                             sample.scan_script, error_text);
        ASSERT_FALSE(original_.empty()) << error_text;
        // The undamaged file itself must decode cleanly, or the damage tests prove nothing.
        const oracle::DecodeOutcome clean = oracle::decode_with_terrava(original_);
        ASSERT_EQ(clean.final_status, 0) << sample.name << " does not decode undamaged";
        ASSERT_EQ(clean.rows_delivered, sample.height) << sample.name;
    }

    // Reports at most a few violations per test so that one fault does not flood the log.
    // The damaged files go through one reused decoder too, in the order they come, so each
    // decode follows another of clean, damaged or failing data.
    void check(const std::vector<uint8_t>& bytes, const std::string& what) {
        const oracle::DecodeOutcome fresh =
            oracle::decode_with_terrava(bytes, oracle::StreamBehaviour{}, max_decoded_pixels);
        std::string problem = contract_violation(fresh);
        const std::string reuse_difference = oracle::outcome_difference(
            fresh, oracle::decode_with_terrava(bytes, *reused_, oracle::StreamBehaviour{},
                                               max_decoded_pixels));
        if (!reuse_difference.empty())
            problem += "the reused decoder differs from a new one: " + reuse_difference;
        // At a reduced scale (1/2, 1/4, 1/8 in turn) the same data gives the same results,
        // after the same MCU rows.
        const int32_t scale = 2 << (checks_++ % 3);
        oracle::StreamBehaviour scaled_behaviour;
        scaled_behaviour.scale_denominator = scale;
        const std::string scaled_difference = scaled_outcome_difference(
            fresh, oracle::decode_with_terrava(bytes, scaled_behaviour, max_decoded_pixels), scale);
        if (!scaled_difference.empty())
            problem += "at 1/" + std::to_string(scale) + ": " + scaled_difference;
        if (problem.empty()) return;
        if (++violations_ <= 5) ADD_FAILURE() << GetParam().name << ", " << what << ": " << problem;
    }

    std::vector<uint8_t> original_;
    std::unique_ptr<JpegDecoder> reused_{new JpegDecoder};
    int violations_ = 0;
    int checks_ = 0;
};

TEST_P(DamagedFiles, EveryPrefixDecodesSafely) {
    for (size_t length = 0; length < original_.size(); ++length) {
        std::vector<uint8_t> prefix(original_.begin(), original_.begin() + length);
        check(prefix, "prefix of " + std::to_string(length) + " bytes");
    }
    EXPECT_EQ(violations_, 0) << "prefixes violating the decoder's contract";
}

TEST_P(DamagedFiles, RandomByteDamageDecodesSafely) {
    // Half of the damage goes into the headers (up to the end of the first scan header), where
    // most of the decoder's checks live; the rest anywhere.
    size_t header_end = original_.size();
    for (size_t i = 0; i + 3 < original_.size(); ++i)
        if (original_[i] == 0xFF && original_[i + 1] == 0xDA) {
            header_end = std::min(original_.size(), i + 2 + (original_[i + 2] << 8) + original_[i + 3]);
            break;
        }
    std::mt19937 random(0x7e77a7a + original_.size());
    for (int round = 0; round < 1500; ++round) {
        std::vector<uint8_t> damaged = original_;
        std::ostringstream what;
        what << "damage round " << round << ":";
        const int changes = 1 + random() % 3;
        for (int change = 0; change < changes; ++change) {
            const size_t range = random() % 2 ? header_end : damaged.size();
            const size_t position = random() % range;
            switch (random() % 4) {
            case 0: damaged[position] = static_cast<uint8_t>(random()); break;
            case 1: damaged[position] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
            case 2: damaged[position] = 0xFF; break;
            default: damaged[position] = 0x00; break;
            }
            what << " byte " << position << " := " << int(damaged[position]);
        }
        check(damaged, what.str());
    }
    EXPECT_EQ(violations_, 0) << "damaged copies violating the decoder's contract";
}

// One decoder through every layout in turn, each clean file followed by a damaged copy of it
// and then by the clean file again: every decode must equal a new decoder's.
TEST(ReusedDecoder, DecodesEveryFileAsANewDecoderDoes) {
    const std::string missing = oracle::missing_tools();
    ASSERT_TRUE(missing.empty()) << missing;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    std::mt19937 random(0x2e05ed);
    for (const Sample& sample : samples) {
        std::string error_text;
        const std::vector<uint8_t> clean = oracle::make_sample_jpeg(
            oracle::work_dir("robustness_corruption"), sample.name, sample.width, sample.height,
            sample.cjpeg_options, sample.scan_script, error_text);
        ASSERT_FALSE(clean.empty()) << error_text;
        std::vector<uint8_t> damaged = clean;
        for (size_t i = damaged.size() / 2; i < damaged.size() - 2; i += 7)
            damaged[i] = static_cast<uint8_t>(random());
        const std::vector<uint8_t> cut(clean.begin(), clean.begin() + clean.size() / 3);
        const std::string name = sample.name;
        files.insert(files.end(), {{name, clean},
                                   {name + " damaged", damaged},
                                   {name + " again", clean},
                                   {name + " cut to a third", cut}});
    }
    files.push_back(files.front());
    std::unique_ptr<JpegDecoder> reused(new JpegDecoder);
    for (const auto& [name, bytes] : files) {
        const oracle::DecodeOutcome fresh = oracle::decode_with_terrava(bytes);
        EXPECT_EQ(oracle::outcome_difference(fresh, oracle::decode_with_terrava(bytes, *reused)), "")
            << name << ": the reused decoder differs from a new one";
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, DamagedFiles, ::testing::ValuesIn(samples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
