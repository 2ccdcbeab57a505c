// How far a decode at 1/2, 1/4 or 1/8 size lies from the box-filtered full-size decode: for
// each output sample, the absolute difference to the mean of the s x s full-size samples it
// stands for (those inside the picture). Measured for our decoder and, the same way, for
// libjpeg-turbo's scaled decode (libjpeg API, JDCT_ISLOW, no fancy upsampling), both against
// our full-size decode (which is the tests' reference decoding). Used by the quality tool
// (terrava-scaled-quality) and the oracle test of scaled decoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oracle {

struct ScaleError {
    double largest = 0;
    double sum = 0;
    int64_t samples = 0;
    double mean() const { return samples == 0 ? 0 : sum / double(samples); }
    void add(double difference);
    void add(const ScaleError& other);
};

struct ScaledQuality {
    ScaleError ours;
    ScaleError libjpeg_turbo;
};

// Adds one file's samples at 1/denominator to `quality`; returns "" or what went wrong (our
// decode failed, sizes differ, libjpeg-turbo refused the file).
std::string measure_scaled_quality(const std::vector<uint8_t>& jpeg, int denominator,
                                   ScaledQuality& quality);

// The samples in which our decode at 1/denominator differs from libjpeg-turbo's; -1 with
// `problem` set when either decode fails or the sizes differ. At 1/8 grey and 4:4:4 frames
// must not differ at all: both give each block its DC term / 8, rounded half up.
int64_t samples_differing_from_libjpeg_turbo(const std::vector<uint8_t>& jpeg, int denominator,
                                             std::string& problem);

} // namespace oracle
