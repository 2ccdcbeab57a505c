// Plain transcriptions of the inverse DCT and of the colour formulas, without shortcuts or
// tables: the twins the tests hold the decoder's transforms and converters to. Test-only.
#include "jpeg/reference/reference.h"

namespace {

inline uint32_t u32(int32_t v) { return static_cast<uint32_t>(v); }

// Arithmetic shift of a wrapped 32-bit value.
inline int32_t descale(uint32_t v, uint32_t rounding, int32_t shift) {
  return static_cast<int32_t>(v + rounding) >> shift;
}

inline uint8_t clamp_sample(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace

namespace {

// The kernel written out on arrays, for the reference transform.
void idct_kernel_plain(const uint32_t* x, uint32_t* y) {
  const uint32_t z1 = (x[2] + x[6]) * 4433u;
  const uint32_t t2 = z1 - x[6] * 15137u;
  const uint32_t t3 = z1 + x[2] * 6270u;
  const uint32_t t0 = (x[0] + x[4]) << 13;
  const uint32_t t1 = (x[0] - x[4]) << 13;
  const uint32_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
  const uint32_t z3 = x[7] + x[3], z4 = x[5] + x[1];
  const uint32_t z5 = (z3 + z4) * 9633u;
  const uint32_t m1 = (x[7] + x[1]) * u32(-7373);
  const uint32_t m2 = (x[5] + x[3]) * u32(-20995);
  const uint32_t m3 = z3 * u32(-16069) + z5;
  const uint32_t m4 = z4 * u32(-3196) + z5;
  const uint32_t o0 = x[7] * 2446u + m1 + m3;
  const uint32_t o1 = x[5] * 16819u + m2 + m4;
  const uint32_t o2 = x[3] * 25172u + m2 + m3;
  const uint32_t o3 = x[1] * 12299u + m1 + m4;
  y[0] = e10 + o3;
  y[7] = e10 - o3;
  y[1] = e11 + o2;
  y[6] = e11 - o2;
  y[2] = e12 + o1;
  y[5] = e12 - o1;
  y[3] = e13 + o0;
  y[4] = e13 - o0;
}

}  // namespace

void idct_8x8_reference(const int16_t* coefficients, uint8_t* out) {
  int16_t work[64];
  uint32_t x[8], y[8];
  for (int32_t r = 0; r < 8; r++) {
    for (int32_t k = 0; k < 8; k++) x[k] = u32(coefficients[8 * r + k]);
    idct_kernel_plain(x, y);
    for (int32_t k = 0; k < 8; k++)
      work[8 * r + k] = static_cast<int16_t>(static_cast<uint16_t>(u32(descale(y[k], 1024u, 11))));
  }
  for (int32_t c = 0; c < 8; c++) {
    for (int32_t k = 0; k < 8; k++) x[k] = u32(work[8 * k + c]);
    idct_kernel_plain(x, y);
    for (int32_t k = 0; k < 8; k++) out[8 * k + c] = clamp_sample(descale(y[k], 131072u, 18) + 128);
  }
}

void ycc_to_rgb_reference(int32_t y, int32_t cb, int32_t cr, uint8_t* rgb) {
  const auto clamp = [](int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  const int64_t red = (int64_t{91882} * (cr - 128) + 32768) >> 16;
  const int64_t green = (int64_t{-22554} * (cb - 128) + 32768 - int64_t{46802} * (cr - 128)) >> 16;
  const int64_t blue = (int64_t{116130} * (cb - 128) + 32768) >> 16;
  rgb[0] = clamp(y + red);
  rgb[1] = clamp(y + green);
  rgb[2] = clamp(y + blue);
}

