// The decoder's test-only twins: plain forms of its fast paths that the tests compare the
// decoder with, bit for bit. They live in their own library (terrava_jpeg_reference), which
// the product never links.
#pragma once

#include "jpeg/decoder_internal.h"

// ---- window_reader.cpp: the plain bit reader and Huffman lookup filling ---------------------
// The reference bit reader: the plain 32-bit window over entropy bytes, fetching two bytes at a
// time. The fast reader must consume and deliver exactly what this one does.
void window_start_entropy_segment(JpegDecoderState& d);
// Loads the window with the next four entropy bytes (after start_entropy_segment or a restart).
void window_prime_entropy(JpegDecoderState& d);
uint32_t window_get_bits(JpegDecoderState& d, int32_t n);
int32_t window_decode_huff_symbol(JpegDecoderState& d, const HuffLookup& table);
int32_t window_receive_extend(JpegDecoderState& d, int32_t s);
// The fast lookups of `t` resolved prefix by prefix from its canonical table: the plain twin
// of the range filling.
void fill_fast_lookups_by_prefix(HuffLookup& t, int32_t slot);

// ---- sequential_reference.cpp ---------------------------------------------------------------
// decode_mcu_row on the reference bit reader, one operation at a time.
void decode_mcu_row_reference(JpegDecoderState& d);

// ---- pixels_reference.cpp -------------------------------------------------------------------
// Straight transcription of the two passes of idct_8x8 without shortcuts, in the same wrapping
// 32-bit arithmetic: equal to idct_8x8 for every input.
void idct_8x8_reference(const int16_t* coefficients, uint8_t* out);
// One pixel by the conversion formulas, with multiplications instead of tables.
void ycc_to_rgb_reference(int32_t y, int32_t cb, int32_t cr, uint8_t* rgb);
