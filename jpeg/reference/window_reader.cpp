// The plain bit reader, twin of the decoder's fast entropy reader: a 32-bit window over
// entropy bytes that fetches two bytes at a time, and the prefix-by-prefix filling of the fast
// Huffman lookups, twin of the filling by code ranges. Test-only: the tests check that the fast
// forms consume and deliver exactly what these do.
#include "jpeg/reference/reference.h"

void window_start_entropy_segment(JpegDecoderState& d) {
  push_back_header_lookahead(d);
  window_prime_entropy(d);
}

void window_prime_entropy(JpegDecoderState& d) {
  const uint32_t b0 = read_entropy_byte(d).value;
  const uint32_t b1 = read_entropy_byte(d).value;
  const uint32_t b2 = read_entropy_byte(d).value;
  const uint32_t b3 = read_entropy_byte(d).value;
  load_window_from_four(d, b0, b1, b2, b3);
}

uint32_t window_get_bits(JpegDecoderState& d, int32_t n) {
  if (n == 0) return 0;
  return window_take_bits(d, n, [&d]() { return static_cast<uint32_t>(read_entropy_byte(d).value); });
}

int32_t window_decode_huff_symbol(JpegDecoderState& d, const HuffLookup& table) {
  int32_t t = table.primary[(d.bit_window >> 8) & 0xFF];
  if (t >= 0) {
    if (table.lengths[t] > 0) window_get_bits(d, table.lengths[t]);
    return t;
  }
  window_get_bits(d, 8);
  while (t < 0) t = table.nodes[-t - static_cast<int32_t>(window_get_bits(d, 1))];
  return t;
}

int32_t window_receive_extend(JpegDecoderState& d, int32_t s) {
  if (s == 0) return 0;
  return extend_value(window_get_bits(d, s), s);
}

void fill_fast_lookups_by_prefix(HuffLookup& t, int32_t slot) {
  std::memset(t.fast, 0, sizeof t.fast);
  std::memset(t.ac_fast, 0, sizeof t.ac_fast);
  std::memset(t.dc_fast, 0, sizeof t.dc_fast);
  resolve_fast_prefixes(t, 0, 1u << JPEG_HUFF_FAST_BITS, slot);
}
