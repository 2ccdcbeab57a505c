// Which vector kernels the decoder (and the tile conversion) may use, and the kernels
// themselves. Every kernel computes exactly what its scalar twin computes; the level only
// changes speed. SSE2 is the floor on x86 builds; AVX2 kernels run when CPUID reports AVX2.
// This header declares plain functions only, so that the per-file instruction-set flags of
// the kernel sources never reach code that runs on every CPU.
#pragma once

#include <cstdint>

enum class SimdLevel : int32_t { SCALAR = 0, SSE2 = 1, AVX2 = 2 };

// The level in force: the best this build and this CPU offer, capped by the environment
// variable TERRAVA_JPEG_SIMD ("scalar", "sse2" or "avx2", read once) and by limit_simd_level.
SimdLevel simd_level();
// The best level this build and CPU could run, ignoring every cap.
SimdLevel simd_level_available();
// Caps the level (for tests and benchmarks) and returns the level now in force.
SimdLevel limit_simd_level(SimdLevel cap);
const char* simd_level_name(SimdLevel level);

// The decoder's kernel table for a level (decoder_internal.h defines it); a level this build
// lacks gives the best one below it.
struct JpegKernels;
const JpegKernels& kernels_for(SimdLevel level);

// ---- kernels (defined only where the build has them; simd_level() says which may run) ------
// Inverse DCT of count blocks: block i is read from blocks[i] (64 dequantised coefficients,
// natural order, not modified) and written to out + 64 * i. A block whose coefficient limit
// is 1 or less is flat (DC only). Same samples as idct_8x8.
void idct_blocks_sse2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                      uint8_t* out);
void idct_blocks_avx2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                      uint8_t* out);
// Reduced transforms for decoding at 1/2 (4x4) and 1/4 (2x2): block i's N x N samples go,
// row-major, to out + 64 * i. Same samples as idct_reduced_blocks_scalar<4, 4> and <2, 2>
// (decoder_internal.h).
void idct_4x4_blocks_sse2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out);
void idct_2x2_blocks_sse2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out);
void idct_4x4_blocks_avx2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out);
void idct_2x2_blocks_avx2(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                          uint8_t* out);

// Colour conversion of one row (or row pair) of an MCU row, with the arithmetic of the
// colour tables. samples is the MCU row's sample buffer, row the row index within the MCU
// row, mcus the MCU count. Same pixels as convert_h1v1 ... convert_h2v2.
struct ColourRowJob {
  const uint8_t* samples;
  int32_t mcus;
  int32_t row;
  uint8_t* out_a;
  uint8_t* out_b;  // second row of a vertically subsampled pair
};
void convert_h1v1_sse2(const ColourRowJob& job);
void convert_h2v1_sse2(const ColourRowJob& job);
void convert_h1v2_sse2(const ColourRowJob& job);
void convert_h2v2_sse2(const ColourRowJob& job);
// Two MCUs at a time (an odd last one through the SSE2 converter).
void convert_h1v1_avx2(const ColourRowJob& job);
void convert_h2v1_avx2(const ColourRowJob& job);
void convert_h1v2_avx2(const ColourRowJob& job);
void convert_h2v2_avx2(const ColourRowJob& job);

// Colour conversion of count pixels given as planar rows of luma, Cb and Cr (one chroma sample
// per pixel; the rows of a decode at reduced size), red-green-blue-zero into out. Reads and
// writes whole groups of 8 pixels: up to 7 samples and pixels beyond count. Same pixels as
// convert_planar_row_scalar (decoder_internal.h).
void convert_planar_row_sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t count,
                             uint8_t* out);
// The same, 16 pixels at a time (the last group of 8 through the SSE2 converter): reads and
// writes what the SSE2 one does.
void convert_planar_row_avx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t count,
                             uint8_t* out);

// Dequantises one stored block: out[n] = low 16 bits of coefficients[n] * quant[n] for all
// 64 positions, and returns the 64-bit mask of nonzero results (bit n for position n).
uint64_t dequantise_block_sse2(const int16_t* coefficients, const uint16_t* quant, int16_t* out);
