// Inputs that once broke the decoder (found by fuzzing), kept in tests/jpeg/regressions/:
// each must decode to the end or stop with a listed error code, under ASan and UBSan, and one
// decoder object reused through them all must decode each as a new one does.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/jpeg/oracle_support.h"

using namespace oracle;

namespace {

std::vector<std::string> regression_files() {
    const char* source = std::getenv("TERRAVA_SOURCE_DIR");
    const std::string dir = std::string(source != nullptr ? source : ".") + "/tests/jpeg/regressions";
    std::vector<std::string> files;
    if (DIR* listing = opendir(dir.c_str())) {
        while (dirent* entry = readdir(listing))
            if (entry->d_name[0] != '.') files.push_back(dir + "/" + entry->d_name);
        closedir(listing);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(Regressions, EveryKeptInputEndsCleanly) {
    const std::vector<std::string> files = regression_files();
    ASSERT_FALSE(files.empty()) << "no inputs found in tests/jpeg/regressions";
    std::unique_ptr<JpegDecoder> reused(new JpegDecoder);
    for (const std::string& file : files) {
        const std::vector<uint8_t> bytes = read_file(file);
        const DecodeOutcome outcome = decode_with_terrava(bytes);
        EXPECT_TRUE(is_listed_status(outcome.final_status))
            << file << ": expected status 0 or a listed error code, got " << outcome.final_status;
        EXPECT_EQ(outcome_difference(outcome, decode_with_terrava(bytes, *reused)), "")
            << file << ": the reused decoder differs from a new one";
    }
}

}  // namespace
