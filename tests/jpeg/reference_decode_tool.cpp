// terrava-reference-decode: writes the reference decoding of one JPEG file (reference_decode.h)
// as a binary PPM (colour) or PGM (grey), for the end-to-end checks and the benchmark.
// Usage: terrava-reference-decode IN.jpg OUT.pnm; on failure prints why and exits with 1.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/jpeg/reference_decode.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: terrava-reference-decode IN.jpg OUT.pnm\n");
        return 2;
    }
    std::vector<uint8_t> jpeg;
    if (std::FILE* in = std::fopen(argv[1], "rb")) {
        uint8_t buffer[65536];
        size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            jpeg.insert(jpeg.end(), buffer, buffer + count);
        std::fclose(in);
    } else {
        std::fprintf(stderr, "terrava-reference-decode: cannot open %s\n", argv[1]);
        return 1;
    }
    oracle::Image image;
    const std::string problem = oracle::reference_decode(jpeg.data(), jpeg.size(), image);
    if (!problem.empty()) {
        std::fprintf(stderr, "terrava-reference-decode: %s: %s\n", argv[1], problem.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fprintf(stderr, "terrava-reference-decode: cannot create %s\n", argv[2]);
        return 1;
    }
    std::fprintf(out, "P%c\n%d %d\n255\n", image.channels == 1 ? '5' : '6', image.width,
                 image.height);
    const bool written =
        std::fwrite(image.pixels.data(), 1, image.pixels.size(), out) == image.pixels.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "terrava-reference-decode: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
