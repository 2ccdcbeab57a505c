// Tests of the terrava-decode command-line tool as a user runs it: its PPM and PGM files must
// equal those of terrava-reference-decode (the tests' reference decoding), and a broken file
// must give the error code and name and a non-zero exit. The build sets both tools' paths.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/jpeg/oracle_support.h"

namespace {

class DecodeTool : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = oracle::missing_tools();
        ASSERT_TRUE(missing.empty()) << missing;
        dir_ = oracle::work_dir("oracle_tool");
    }

    // Encodes a small photo-like picture with the given cjpeg options and checks that the
    // tool writes exactly what the reference tool writes.
    void expect_tool_matches_reference(const std::string& name, const std::string& cjpeg_options) {
        std::string error_text;
        const std::string source = dir_ + "/" + name + ".ppm";
        const std::string jpeg = dir_ + "/" + name + ".jpg";
        const std::string expected = dir_ + "/" + name + "-reference.pnm";
        const std::string got = dir_ + "/" + name + "-tool.pnm";
        ASSERT_TRUE(oracle::run_command("convert -seed 5 -size 64x64 plasma:fractal -resize '45x27!'"
                                        " +noise Gaussian -depth 8 -type TrueColor " + source,
                                        error_text)) << error_text;
        ASSERT_TRUE(oracle::run_command("cjpeg " + cjpeg_options + " -outfile " + jpeg + " " + source,
                                        error_text)) << error_text;
        ASSERT_TRUE(oracle::run_command(std::string(TERRAVA_REFERENCE_DECODE_PATH) + " " + jpeg +
                                        " " + expected, error_text)) << error_text;
        ASSERT_TRUE(oracle::run_command(std::string(TERRAVA_DECODE_PATH) + " " + jpeg + " " + got,
                                        error_text)) << error_text;
        // Same magic number, size and maxval (read_pnm takes only 255), then every sample.
        oracle::Image reference, ours;
        ASSERT_TRUE(oracle::read_pnm(expected, reference, error_text)) << error_text;
        ASSERT_TRUE(oracle::read_pnm(got, ours, error_text)) << error_text;
        const std::string difference = oracle::compare_images(got, reference, ours);
        EXPECT_TRUE(difference.empty()) << difference;
    }

    std::string dir_;
};

TEST_F(DecodeTool, WritesPpmForColourAndPgmForGrey) {
    expect_tool_matches_reference("colour", "-sample 2x2");
    expect_tool_matches_reference("grey", "-grayscale -progressive");
}

TEST_F(DecodeTool, ReportsCodeAndNameOfAFailure) {
    const std::string not_jpeg = dir_ + "/not-a-jpeg.jpg";
    const std::string output = dir_ + "/not-a-jpeg.pnm";
    const std::string messages = dir_ + "/not-a-jpeg.txt";
    std::ofstream(not_jpeg) << "plain text, no SOI marker anywhere";
    const std::string command = std::string(TERRAVA_DECODE_PATH) + " " + not_jpeg + " " + output +
                                " 2>" + messages;
    EXPECT_NE(std::system(command.c_str()), 0) << "exit status of " << command;
    std::ifstream in(messages);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("-217 ERR_NO_SOI"), std::string::npos)
        << "expected \"-217 ERR_NO_SOI\" in the tool's message, got: " << text;
}

} // namespace
