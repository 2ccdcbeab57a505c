// The 1-D kernel of the 8x8 inverse DCT (Loeffler-Ligtenberg-Moschytz, 13-bit constants) in
// wrapping 32-bit arithmetic, shared by the full-size transform (idct.cpp) and the reduced ones
// that keep eight samples along one axis (idct_reduced.cpp).
#pragma once

#include <cstdint>

namespace idct {

inline uint32_t u32(int32_t v) { return static_cast<uint32_t>(v); }

// The 1-D kernel on eight inputs; store(k, y_k) receives the outputs (not yet descaled). Each
// output goes straight to its destination: no staging array for the compiler to spill.
template <typename Store>
inline void idct_kernel(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3, uint32_t x4,
                        uint32_t x5, uint32_t x6, uint32_t x7, Store store) {
  uint32_t z1 = (x2 + x6) * 4433u;
  const uint32_t t2 = z1 - x6 * 15137u;
  const uint32_t t3 = z1 + x2 * 6270u;
  const uint32_t t0 = (x0 + x4) << 13;
  const uint32_t t1 = (x0 - x4) << 13;
  const uint32_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;

  z1 = x7 + x1;
  uint32_t z2 = x5 + x3, z3 = x7 + x3, z4 = x5 + x1;
  const uint32_t z5 = (z3 + z4) * 9633u;
  uint32_t o0 = x7 * 2446u, o1 = x5 * 16819u, o2 = x3 * 25172u, o3 = x1 * 12299u;
  z1 = z1 * u32(-7373);
  z2 = z2 * u32(-20995);
  z3 = z3 * u32(-16069) + z5;
  z4 = z4 * u32(-3196) + z5;
  o0 += z1 + z3;
  o1 += z2 + z4;
  o2 += z2 + z3;
  o3 += z1 + z4;

  store(0, e10 + o3);
  store(7, e10 - o3);
  store(1, e11 + o2);
  store(6, e11 - o2);
  store(2, e12 + o1);
  store(5, e12 - o1);
  store(3, e13 + o0);
  store(4, e13 - o0);
}

}  // namespace idct
