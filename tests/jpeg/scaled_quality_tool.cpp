// terrava-scaled-quality FILE_OR_DIR...: for 1/2, 1/4 and 1/8, the largest and the mean
// absolute difference of our scaled decode, and of libjpeg-turbo's, from the box-filtered
// full-size decode, over every .jpg given (directories are searched recursively). Files that
// either decoder refuses are listed and left out.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/jpeg/scaled_quality.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: terrava-scaled-quality FILE_OR_DIR...\n");
        return 2;
    }
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path given(argv[i]);
        if (std::filesystem::is_directory(given)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(given))
                if (entry.is_regular_file() && entry.path().extension() == ".jpg")
                    paths.push_back(entry.path().string());
        } else {
            paths.push_back(given.string());
        }
    }
    std::printf("%-6s %6s %12s %12s %16s %16s\n", "scale", "files", "ours max", "ours mean",
                "libjpeg-turbo max", "libjpeg-turbo mean");
    for (const int s : {2, 4, 8}) {
        oracle::ScaledQuality total;
        int files = 0;
        for (const std::string& path : paths) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
            oracle::ScaledQuality one;
            const std::string problem = oracle::measure_scaled_quality(bytes, s, one);
            if (!problem.empty()) {
                if (s == 2) std::fprintf(stderr, "%s: %s (left out)\n", path.c_str(), problem.c_str());
                continue;
            }
            total.ours.add(one.ours);
            total.libjpeg_turbo.add(one.libjpeg_turbo);
            ++files;
        }
        std::printf("1/%-4d %6d %12.3f %12.6f %16.3f %16.6f\n", s, files, total.ours.largest,
                    total.ours.mean(), total.libjpeg_turbo.largest, total.libjpeg_turbo.mean());
    }
    return 0;
}
