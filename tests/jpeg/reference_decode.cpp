// Reference decoding for the pixel tests (see reference_decode.h). libjpeg-turbo's coefficient
// interface supplies the quantised coefficients and the quantisation tables, both in natural
// order; the rest of the pipeline is spelt out here, one plain step after the other, in the
// arithmetic the decoder is meant to use. Nothing here is shared with jpeg/.
#include "tests/jpeg/reference_decode.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace oracle {
namespace {

// One component as libjpeg hands it over.
struct Component {
    int h = 1; // sampling factors
    int v = 1;
    int width_blocks = 0;
    int height_blocks = 0;
    // The table libjpeg used for this component: the one in force when the component's first
    // scan began (libjpeg copies it then). For a sequential file, where each component has one
    // scan, that is the table of that scan even when a DQT between scans redefines it. A
    // progressive file that redefines a table between the scans of one component has no
    // reference decoding here: libjpeg keeps the first table, while our decoder dequantises a
    // progressive frame after its last scan, with the tables in force then.
    uint16_t quant[64] = {};
    std::vector<int16_t> coefficients; // 64 per block, natural order, blocks row by row
};

struct ErrorHandler {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void on_error(j_common_ptr info) {
    ErrorHandler* handler = reinterpret_cast<ErrorHandler*>(info->err);
    (*info->err->format_message)(info, handler->message);
    std::longjmp(handler->jump, 1);
}

// libjpeg calls this for its first warning (corrupt data, which it patches over); the warning
// count makes the caller give up.
void on_warning(j_common_ptr info) {
    ErrorHandler* handler = reinterpret_cast<ErrorHandler*>(info->err);
    (*info->err->format_message)(info, handler->message);
}

const char* unsupported_layout(const jpeg_decompress_struct& info) {
    if (info.num_components == 1) return nullptr;
    if (info.num_components != 3) return "neither 1 nor 3 components";
    const jpeg_component_info* c = info.comp_info;
    const bool luma_ok = (c[0].h_samp_factor == 1 || c[0].h_samp_factor == 2) &&
                         (c[0].v_samp_factor == 1 || c[0].v_samp_factor == 2);
    const bool chroma_ok = c[1].h_samp_factor == 1 && c[1].v_samp_factor == 1 &&
                           c[2].h_samp_factor == 1 && c[2].v_samp_factor == 1;
    return luma_ok && chroma_ok ? nullptr : "sampling factors other than luma 1 or 2, chroma 1x1";
}

// Entropy decoding by libjpeg. No C++ object is created between setjmp and the libjpeg calls
// that may jump back to it.
std::string read_coefficients(const uint8_t* data, size_t size, int& width, int& height,
                              std::vector<Component>& components) {
    jpeg_decompress_struct info;
    ErrorHandler handler;
    handler.message[0] = 0;
    info.err = jpeg_std_error(&handler.manager);
    handler.manager.error_exit = on_error;
    handler.manager.output_message = on_warning;
    jpeg_create_decompress(&info);
    if (setjmp(handler.jump)) {
        jpeg_destroy_decompress(&info);
        return std::string("libjpeg: ") + handler.message;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
    const char* problem = unsupported_layout(info);
    for (int c = 0; c < info.num_components; ++c)
        if (info.comp_info[c].quant_table == nullptr) problem = "a component without any scan";
    if (handler.manager.num_warnings > 0) problem = handler.message;
    if (problem == nullptr) {
        width = static_cast<int>(info.image_width);
        height = static_cast<int>(info.image_height);
        components.resize(info.num_components);
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& source = info.comp_info[c];
            Component& component = components[c];
            component.h = source.h_samp_factor;
            component.v = source.v_samp_factor;
            component.width_blocks = static_cast<int>(source.width_in_blocks);
            component.height_blocks = static_cast<int>(source.height_in_blocks);
            for (int i = 0; i < 64; ++i) component.quant[i] = source.quant_table->quantval[i];
            component.coefficients.resize(size_t(component.width_blocks) *
                                          component.height_blocks * 64);
            for (int by = 0; by < component.height_blocks; ++by) {
                JBLOCKARRAY row = (*info.mem->access_virt_barray)(
                    reinterpret_cast<j_common_ptr>(&info), arrays[c], by, 1, FALSE);
                std::memcpy(&component.coefficients[size_t(by) * component.width_blocks * 64],
                            row[0], size_t(component.width_blocks) * sizeof(JBLOCK));
            }
        }
    }
    std::string result = problem ? std::string("no reference decoding: ") + problem : "";
    jpeg_destroy_decompress(&info);
    return result;
}

// A 16-bit multiply: the low 16 bits of coefficient x table entry.
int16_t dequantise(int16_t coefficient, uint16_t entry) {
    return static_cast<int16_t>(static_cast<uint16_t>(int32_t{coefficient} * int32_t{entry}));
}

// The transform's sums live in 32-bit registers: they are formed here in 64 bits and then cut to
// 32, which gives the same wrapped value (only additions and multiplications come before).
int32_t wrap32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

// The 1-D kernel (Loeffler-Ligtenberg-Moschytz, constants x 8192), outputs not yet descaled.
void kernel(const int64_t x[8], int64_t y[8]) {
    const int64_t even_z1 = (x[2] + x[6]) * 4433;
    const int64_t t2 = even_z1 - x[6] * 15137;
    const int64_t t3 = even_z1 + x[2] * 6270;
    const int64_t t0 = (x[0] + x[4]) * 8192;
    const int64_t t1 = (x[0] - x[4]) * 8192;
    const int64_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;

    int64_t z1 = x[7] + x[1], z2 = x[5] + x[3], z3 = x[7] + x[3], z4 = x[5] + x[1];
    const int64_t z5 = (z3 + z4) * 9633;
    int64_t o0 = x[7] * 2446, o1 = x[5] * 16819, o2 = x[3] * 25172, o3 = x[1] * 12299;
    z1 = z1 * -7373;
    z2 = z2 * -20995;
    z3 = z3 * -16069 + z5;
    z4 = z4 * -3196 + z5;
    o0 += z1 + z3;
    o1 += z2 + z4;
    o2 += z2 + z3;
    o3 += z1 + z4;

    y[0] = e10 + o3;
    y[7] = e10 - o3;
    y[1] = e11 + o2;
    y[6] = e11 - o2;
    y[2] = e12 + o1;
    y[5] = e12 - o1;
    y[3] = e13 + o0;
    y[4] = e13 - o0;
}

uint8_t clamp_sample(int32_t value) {
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// Dequantised coefficients (natural order, index 8v + u) to 8x8 samples, rows first: pass 1
// descales each row by 11 bits into 16-bit values, pass 2 each column by 18 bits, then the
// level shift and the clamp. The all-zero-AC shortcuts of a fast transform give the same
// values as these full formulas (x0 << 2, and (x0 + 16) >> 5), so none is needed here.
void inverse_transform(const int16_t coefficients[64], uint8_t samples[64]) {
    int16_t work[64];
    std::memcpy(work, coefficients, sizeof work);
    int64_t x[8], y[8];
    for (int r = 0; r < 8; ++r) {
        for (int k = 0; k < 8; ++k) x[k] = work[8 * r + k];
        kernel(x, y);
        for (int k = 0; k < 8; ++k)
            work[8 * r + k] = static_cast<int16_t>(wrap32(y[k] + 1024) >> 11);
    }
    for (int c = 0; c < 8; ++c) {
        for (int k = 0; k < 8; ++k) x[k] = work[8 * k + c];
        kernel(x, y);
        for (int k = 0; k < 8; ++k)
            samples[8 * k + c] = clamp_sample((wrap32(y[k] + 131072) >> 18) + 128);
    }
}

// All samples of one component, (width_blocks x 8) x (height_blocks x 8).
std::vector<uint8_t> component_samples(const Component& component) {
    const size_t stride = size_t(component.width_blocks) * 8;
    std::vector<uint8_t> plane(stride * component.height_blocks * 8);
    int16_t block[64];
    uint8_t samples[64];
    for (int by = 0; by < component.height_blocks; ++by)
        for (int bx = 0; bx < component.width_blocks; ++bx) {
            const int16_t* coefficients =
                &component.coefficients[(size_t(by) * component.width_blocks + bx) * 64];
            for (int i = 0; i < 64; ++i) block[i] = dequantise(coefficients[i], component.quant[i]);
            inverse_transform(block, samples);
            for (int row = 0; row < 8; ++row)
                std::memcpy(&plane[(size_t(by) * 8 + row) * stride + size_t(bx) * 8],
                            samples + 8 * row, 8);
        }
    return plane;
}

// Fixed-point YCbCr to RGB (factors x 65536, rounded to nearest; green rounded once from the
// sum of its two terms).
void ycbcr_to_rgb(int32_t y, int32_t cb, int32_t cr, uint8_t* rgb) {
    const int32_t red_offset = (91882 * (cr - 128) + 32768) >> 16;
    const int32_t blue_offset = (116130 * (cb - 128) + 32768) >> 16;
    const int32_t green_offset = (-22554 * (cb - 128) + 32768 - 46802 * (cr - 128)) >> 16;
    rgb[0] = clamp_sample(y + red_offset);
    rgb[1] = clamp_sample(y + green_offset);
    rgb[2] = clamp_sample(y + blue_offset);
}

} // namespace

std::string reference_decode(const uint8_t* data, size_t size, Image& image) {
    int width = 0, height = 0;
    std::vector<Component> components;
    const std::string problem = read_coefficients(data, size, width, height, components);
    if (!problem.empty()) return problem;

    std::vector<std::vector<uint8_t>> planes;
    for (const Component& component : components) planes.push_back(component_samples(component));
    image.width = width;
    image.height = height;
    image.channels = components.size() == 1 ? 1 : 3;
    image.pixels.assign(size_t(width) * height * image.channels, 0);
    const size_t luma_stride = size_t(components[0].width_blocks) * 8;
    if (image.channels == 1) {
        for (int y = 0; y < height; ++y)
            std::memcpy(&image.pixels[size_t(y) * width], &planes[0][y * luma_stride], width);
        return "";
    }
    // Each chroma sample covers the H x V luma pixels of its place: replicated, not interpolated.
    const int h = components[0].h, v = components[0].v;
    const size_t chroma_stride = size_t(components[1].width_blocks) * 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t chroma = size_t(y / v) * chroma_stride + x / h;
            ycbcr_to_rgb(planes[0][y * luma_stride + x], planes[1][chroma], planes[2][chroma],
                         &image.pixels[(size_t(y) * width + x) * 3]);
        }
    return "";
}

} // namespace oracle
