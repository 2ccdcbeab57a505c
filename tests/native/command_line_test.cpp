// The command-line scanner: quoted paths, -O and /O paths, -M anywhere outside a path,
// skipped switches, the last of several paths, and paths too long for the buffer.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"

namespace {

struct Scanned {
    std::string path;
    bool maximise;
    bool too_long;
};

Scanned scan(const char* tail, size_t capacity = 260) {
    std::string buffer(capacity, 'X');
    CommandLineScan result = scan_command_line(tail, &buffer[0], capacity);
    return Scanned{std::string(buffer.c_str()), result.maximise, result.path_too_long};
}

TEST(CommandLine, TakesQuotedAndSwitchPaths) {
    EXPECT_EQ(scan("\"C:\\maps\\a.tvt\"").path, "C:\\maps\\a.tvt");
    EXPECT_EQ(scan("-OC:\\maps\\a.tvt").path, "C:\\maps\\a.tvt");
    EXPECT_EQ(scan("/o\"C:\\my maps\\a b.tvt\"").path, "C:\\my maps\\a b.tvt");
    EXPECT_EQ(scan("-o'C:\\my maps\\a.tvt'").path, "C:\\my maps\\a.tvt");
    EXPECT_EQ(scan("\"unterminated path").path, "unterminated path");
    EXPECT_EQ(scan("-Oa.tvt rest").path, "a.tvt");
    EXPECT_EQ(scan("-Oa.tvt\"b").path, "a.tvt");
}

TEST(CommandLine, IgnoresBarePathsAndSpaceAfterSwitch) {
    EXPECT_EQ(scan("C:\\maps\\a.tvt").path, "");
    EXPECT_EQ(scan("-O C:\\maps\\a.tvt").path, "") << "a space after -O gives an empty path";
    EXPECT_EQ(scan("").path, "");
    Scanned none = scan(nullptr);
    EXPECT_EQ(none.path, "");
    EXPECT_FALSE(none.maximise);
}

TEST(CommandLine, MaximiseSwitchCountsOutsidePathsOnly) {
    EXPECT_TRUE(scan("-M").maximise);
    EXPECT_TRUE(scan("/m").maximise);
    EXPECT_TRUE(scan("C:\\x-maps\\a.tvt").maximise) << "a switch inside a bare path still counts";
    EXPECT_FALSE(scan("\"C:\\x-maps\\a.tvt\"").maximise);
    EXPECT_FALSE(scan("-OC:\\x-maps\\a.tvt").maximise);
    Scanned both = scan("-M \"a.tvt\"");
    EXPECT_TRUE(both.maximise);
    EXPECT_EQ(both.path, "a.tvt");
}

TEST(CommandLine, OtherSwitchLettersAreSkippedWithTheirDash) {
    Scanned skipped = scan("-x-OC:\\a.tvt");
    EXPECT_EQ(skipped.path, "C:\\a.tvt");
    EXPECT_FALSE(skipped.maximise);
    EXPECT_FALSE(scan("-").maximise);
    EXPECT_EQ(scan("-O").path, "");
    EXPECT_FALSE(scan("--M").maximise) << "the second dash is the first one's letter";
}

TEST(CommandLine, LastPathWins) {
    EXPECT_EQ(scan("\"first.tvt\" -Osecond.tvt").path, "second.tvt");
    EXPECT_EQ(scan("-Ofirst.tvt \"second.tvt\"").path, "second.tvt");
    EXPECT_EQ(scan("\"first.tvt\" -O").path, "") << "an empty path found last replaces the first";
}

TEST(CommandLine, PathLongerThanBufferIsDroppedNotOverrun) {
    std::string long_path = "\"" + std::string(300, 'a') + "\"";
    Scanned result = scan(long_path.c_str(), 260);
    EXPECT_EQ(result.path, "");
    EXPECT_TRUE(result.too_long);
    std::string fits = "-O" + std::string(259, 'b');
    Scanned fitted = scan(fits.c_str(), 260);
    EXPECT_EQ(fitted.path.size(), 259u);
    EXPECT_FALSE(fitted.too_long);
    std::string one_over = "-O" + std::string(260, 'c');
    EXPECT_EQ(scan(one_over.c_str(), 260).path, "");
}

TEST(CommandLine, ProgramNameSkippedAsTheRuntimeSkipsIt) {
    EXPECT_STREQ(skip_program_name("\"C:\\Program Files\\Terrava\\terrava.exe\" \"C:\\m\\a.tvt\""),
                 "\"C:\\m\\a.tvt\"");
    EXPECT_STREQ(skip_program_name("terrava.exe  \t-M"), "-M");
    EXPECT_STREQ(skip_program_name("terrava.exe"), "");
    EXPECT_STREQ(skip_program_name("\"unclosed name"), "");
}

}  // namespace
