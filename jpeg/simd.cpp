// Kernel selection: what the build compiled, what CPUID reports, and the caps set by the
// environment (TERRAVA_JPEG_SIMD) or by tests. Read on every MCU row, so it is one atomic load.
#include "jpeg/simd.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

// The x86 builds take SSE2 as their floor; a build without it would quietly decode with the
// scalar kernels only.
#if (defined(__i386__) || defined(__x86_64__)) && !defined(__SSE2__)
#error "x86 builds need SSE2 code generation (-msse2): configure the build tree afresh"
#endif

namespace {

SimdLevel detect_level() {
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#if defined(TERRAVA_AVX2_KERNELS)
  __builtin_cpu_init();
  // libgcc's check includes the operating system's support for the 256-bit registers.
  if (__builtin_cpu_supports("avx2")) return SimdLevel::AVX2;
#endif
  return SimdLevel::SSE2;
#else
  return SimdLevel::SCALAR;
#endif
}

SimdLevel environment_cap() {
  const char* value = std::getenv("TERRAVA_JPEG_SIMD");
  if (value == nullptr) return SimdLevel::AVX2;
  if (std::strcmp(value, "scalar") == 0) return SimdLevel::SCALAR;
  if (std::strcmp(value, "sse2") == 0) return SimdLevel::SSE2;
  return SimdLevel::AVX2;
}

SimdLevel lower(SimdLevel a, SimdLevel b) { return a < b ? a : b; }

// -1 until first use; then the level in force.
std::atomic<int32_t> level_in_force{-1};

}  // namespace

SimdLevel simd_level_available() {
  static const SimdLevel available = detect_level();
  return available;
}

SimdLevel simd_level() {
  const int32_t level = level_in_force.load(std::memory_order_relaxed);
  if (level >= 0) return static_cast<SimdLevel>(level);
  const SimdLevel chosen = lower(simd_level_available(), environment_cap());
  level_in_force.store(static_cast<int32_t>(chosen), std::memory_order_relaxed);
  return chosen;
}

SimdLevel limit_simd_level(SimdLevel cap) {
  const SimdLevel chosen = lower(lower(simd_level_available(), environment_cap()), cap);
  level_in_force.store(static_cast<int32_t>(chosen), std::memory_order_relaxed);
  return chosen;
}

const char* simd_level_name(SimdLevel level) {
  switch (level) {
    case SimdLevel::SCALAR: return "scalar";
    case SimdLevel::SSE2: return "sse2";
    case SimdLevel::AVX2: return "avx2";
  }
  return "?";
}
