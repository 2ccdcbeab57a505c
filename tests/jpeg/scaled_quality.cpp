// The box-filter distance of scaled decodes (see scaled_quality.h).
#include "tests/jpeg/scaled_quality.h"

#include <csetjmp>
#include <cmath>
#include <memory>

// Our header before jpeglib.h: jpeglib.h defines JPEG_MAX_DIMENSION as a macro.
#include "jpeg/jpeg_decoder.h"
#include "jpeg/memory_stream.h"

#include <jpeglib.h>

namespace oracle {

void ScaleError::add(double difference) {
    if (difference > largest) largest = difference;
    sum += difference;
    ++samples;
}

void ScaleError::add(const ScaleError& other) {
    if (other.largest > largest) largest = other.largest;
    sum += other.sum;
    samples += other.samples;
}

namespace {

struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<uint8_t> samples;
};

bool decode_ours(const std::vector<uint8_t>& jpeg, int denominator, Picture& picture) {
    JpegMemoryStream stream(jpeg);
    std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
    decoder->create(stream);
    bool ok = decoder->status() == 0 && decoder->set_scale(denominator) == 0 &&
              decoder->start_decoding() == 0;
    if (ok) {
        picture.width = decoder->image_width();
        picture.height = decoder->image_height();
        const int bytes_per_pixel = decoder->output_bytes_per_pixel();
        picture.channels = bytes_per_pixel == 1 ? 1 : 3;
        const uint8_t* row;
        int32_t length;
        int32_t result;
        while ((result = decoder->read_scanline(row, length)) == 0)
            for (int x = 0; x < picture.width; ++x)
                for (int c = 0; c < picture.channels; ++c)
                    picture.samples.push_back(row[x * bytes_per_pixel + c]);
        ok = result == 1;
    }
    decoder->destroy();
    return ok;
}

struct ErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf resume;
};

void leave_on_error(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorExit*>(info->err)->resume, 1); }

bool decode_libjpeg_turbo(const std::vector<uint8_t>& jpeg, int denominator, Picture& picture) {
    jpeg_decompress_struct info;
    ErrorExit errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = leave_on_error;
    jpeg_create_decompress(&info);
    if (setjmp(errors.resume)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, jpeg.data(), jpeg.size());
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(denominator);
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.channels = info.output_components;
    const size_t row_bytes = size_t(picture.width) * picture.channels;
    picture.samples.resize(row_bytes * picture.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.samples.data() + row_bytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// Box-filter distance of `scaled` from `full`.
void add_distance(const Picture& full, const Picture& scaled, int s, ScaleError& error) {
    for (int y = 0; y < scaled.height; ++y)
        for (int x = 0; x < scaled.width; ++x)
            for (int c = 0; c < scaled.channels; ++c) {
                int sum = 0, count = 0;
                for (int yy = y * s; yy < std::min(full.height, y * s + s); ++yy)
                    for (int xx = x * s; xx < std::min(full.width, x * s + s); ++xx, ++count)
                        sum += full.samples[(size_t(yy) * full.width + xx) * full.channels + c];
                const double mean = double(sum) / count;
                const int got = scaled.samples[(size_t(y) * scaled.width + x) * scaled.channels + c];
                error.add(std::fabs(got - mean));
            }
}

} // namespace

std::string measure_scaled_quality(const std::vector<uint8_t>& jpeg, int denominator,
                                   ScaledQuality& quality) {
    Picture full, ours, theirs;
    if (!decode_ours(jpeg, 1, full)) return "our full-size decode failed";
    if (!decode_ours(jpeg, denominator, ours)) return "our scaled decode failed";
    if (!decode_libjpeg_turbo(jpeg, denominator, theirs)) return "libjpeg-turbo refused the file";
    if (ours.width != theirs.width || ours.height != theirs.height || ours.channels != theirs.channels)
        return "sizes differ: ours " + std::to_string(ours.width) + "x" + std::to_string(ours.height) +
               ", libjpeg-turbo's " + std::to_string(theirs.width) + "x" + std::to_string(theirs.height);
    add_distance(full, ours, denominator, quality.ours);
    add_distance(full, theirs, denominator, quality.libjpeg_turbo);
    return "";
}

int64_t samples_differing_from_libjpeg_turbo(const std::vector<uint8_t>& jpeg, int denominator,
                                             std::string& problem) {
    Picture ours, theirs;
    if (!decode_ours(jpeg, denominator, ours)) problem = "our scaled decode failed";
    else if (!decode_libjpeg_turbo(jpeg, denominator, theirs)) problem = "libjpeg-turbo refused the file";
    else if (ours.samples.size() != theirs.samples.size()) problem = "sizes differ";
    if (!problem.empty()) return -1;
    int64_t differing = 0;
    for (size_t i = 0; i < ours.samples.size(); ++i) differing += ours.samples[i] != theirs.samples[i];
    return differing;
}

} // namespace oracle
