// Decoding at 1/2, 1/4, 1/8 on cjpeg-made photo-like pictures of every layout and coding: our
// scaled output must lie no further from the box-filtered full-size decode than libjpeg-turbo's
// scaled output (its libjpeg API with JDCT_ISLOW and no fancy upsampling), in mean and in
// largest difference, and within a small absolute bound. Both round each output sample once,
// so on a small picture the two means can differ by chance in the third decimal either way:
// the comparison allows 1 % of the mean and a quarter of a level in the largest difference.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/jpeg/oracle_support.h"
#include "tests/jpeg/scaled_quality.h"

namespace {

struct Sample {
    const char* name;
    int width, height;
    const char* cjpeg_options;
    const char* scan_script;
};

const Sample samples[] = {
    {"grey", 77, 61, "-grayscale -quality 85", ""},
    {"444", 77, 61, "-sample 1x1 -quality 90", ""},
    {"422", 77, 61, "-sample 2x1 -quality 85", ""},
    {"440", 77, 61, "-sample 1x2 -quality 85", ""},
    {"420", 77, 61, "-sample 2x2 -quality 85", ""},
    {"420Progressive", 93, 45, "-sample 2x2 -progressive -quality 75", ""},
    {"420Restarts", 64, 80, "-sample 2x2 -restart 1B -quality 95", ""},
    {"422SeparateScans", 50, 34, "-sample 2x1 -quality 85",
     "0: 0-63, 0, 0;\n1: 0-63, 0, 0;\n2: 0-63, 0, 0;\n"},
};

// The sample's file, made by cjpeg (and jpegtran for a scan script) in this suite's folder;
// empty, with the reason in error_text, when the tools fail.
std::vector<uint8_t> sample_jpeg(const Sample& sample, std::string& error_text) {
    return oracle::make_sample_jpeg(oracle::work_dir("oracle_scaled"), sample.name, sample.width,
                                    sample.height, sample.cjpeg_options, sample.scan_script,
                                    error_text);
}

TEST(ScaledQuality, NoFurtherFromTheBoxFilterThanLibjpegTurbo) {
    const std::string missing = oracle::missing_tools();
    ASSERT_TRUE(missing.empty()) << missing;
    for (const Sample& sample : samples) {
        std::string error_text;
        const std::vector<uint8_t> jpeg = sample_jpeg(sample, error_text);
        ASSERT_FALSE(jpeg.empty()) << error_text;
        for (const int s : {2, 4, 8}) {
            oracle::ScaledQuality quality;
            ASSERT_EQ(oracle::measure_scaled_quality(jpeg, s, quality), "") << sample.name << " at 1/" << s;
            const std::string where = std::string(sample.name) + " at 1/" + std::to_string(s);
            EXPECT_LE(quality.ours.mean(), quality.libjpeg_turbo.mean() * 1.01)
                << where << ": mean difference from the box filter, ours against libjpeg-turbo's";
            EXPECT_LE(quality.ours.largest, quality.libjpeg_turbo.largest + 0.25)
                << where << ": largest difference from the box filter, ours against libjpeg-turbo's";
            // Rounding alone gives about 0.25; colour conversion after the averaging adds to it,
            // most at 1/8, where a sample stands for 64 pixels.
            EXPECT_LT(quality.ours.mean(), s == 8 ? 2.0 : 1.0) << where << ": mean difference from the box filter";
        }
    }
}

// At 1/8 a grey or 4:4:4 block is its DC term / 8, rounded half up, exactly as libjpeg-turbo
// has it: the AC terms are only passed over, and must be passed over exactly (high quality
// fills blocks to position 63, where no end-of-block code follows).
TEST(ScaledQuality, OneEighthOfGreyAnd444IsLibjpegTurbosExactly) {
    const std::string missing = oracle::missing_tools();
    ASSERT_TRUE(missing.empty()) << missing;
    const Sample exact[] = {
        {"grey100", 203, 117, "-grayscale -quality 100", ""},
        {"444q100", 131, 75, "-sample 1x1 -quality 100", ""},
        {"grey60Restarts", 96, 72, "-grayscale -quality 60 -restart 1B", ""},
    };
    for (const Sample& sample : exact) {
        std::string error_text;
        const std::vector<uint8_t> jpeg = sample_jpeg(sample, error_text);
        ASSERT_FALSE(jpeg.empty()) << error_text;
        std::string problem;
        EXPECT_EQ(oracle::samples_differing_from_libjpeg_turbo(jpeg, 8, problem), 0)
            << sample.name << " at 1/8: samples differing from libjpeg-turbo's " << problem;
    }
}

} // namespace
