// The marker structure of a JPEG stream: finding SOI, stepping from segment to segment,
// storing Huffman and quantisation tables and the restart interval, and parsing the frame and
// scan headers. Every header byte comes through the header bit window (read_bits), raw.
#include "jpeg/decoder_internal.h"

const int32_t zigzag_order[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

constexpr int32_t SOI_SEARCH_EXTRA_BYTES = 511;

bool is_frame_or_stop_marker(int32_t m) {
  if (m >= 0xC0 && m <= 0xCF) return m != 0xC4 && m != 0xC8 && m != 0xCC;
  return m == 0xD8 || m == 0xD9 || m == 0xDA;
}

}  // namespace

void find_soi(JpegDecoderState& d) {
  const uint32_t first = read_bits(d, 8);
  uint32_t previous = read_bits(d, 8);
  if (first == 0xFF && previous == 0xD8) return;
  for (int32_t i = 0; i < SOI_SEARCH_EXTRA_BYTES; i++) {
    const uint32_t current = read_bits(d, 8);
    if (previous == 0xFF && current == 0xD8) {
      if (peek_byte(d) == 0xFF) return;
      raise_error(d, ERR_NO_SOI);
    }
    previous = current;
  }
  raise_error(d, ERR_NO_SOI);
}

int32_t next_marker(JpegDecoderState& d) {
  for (;;) {
    uint32_t b = read_bits(d, 8);
    while (b != 0xFF) b = read_bits(d, 8);
    do {
      b = read_bits(d, 8);
    } while (b == 0xFF);
    if (b != 0x00) return static_cast<int32_t>(b);
  }
}

int32_t read_markers(JpegDecoderState& d) {
  for (;;) {
    const int32_t m = next_marker(d);
    if (m == 0xC4) {
      parse_dht(d);
    } else if (m == 0xDB) {
      parse_dqt(d);
    } else if (m == 0xDD) {
      parse_dri(d);
    } else if (is_frame_or_stop_marker(m)) {
      return m;
    } else if (m == 0xCC) {
      raise_error(d, ERR_UNSUPPORTED_CODING);
    } else if (m == 0x01 || m == 0xC8 || (m >= 0xD0 && m <= 0xD7)) {
      raise_error(d, ERR_UNEXPECTED_MARKER);
    } else {
      skip_segment(d);
    }
  }
}

void read_headers(JpegDecoderState& d) {
  find_soi(d);
  const int32_t m = read_markers(d);
  if (m == 0xC2) {
    d.progressive = 1;
    parse_sof(d);
  } else if (m == 0xC0 || m == 0xC1) {
    parse_sof(d);
  } else if (m == 0xC9) {
    raise_error(d, ERR_UNSUPPORTED_CODING);
  } else {
    raise_error(d, ERR_UNSUPPORTED_FRAME);
  }
}

int32_t read_scan_header(JpegDecoderState& d) {
  const int32_t m = read_markers(d);
  if (m == 0xD9) return 0;
  if (m == 0xDA) {
    parse_sos(d);
    return 1;
  }
  raise_error(d, ERR_UNEXPECTED_MARKER);
}

void skip_segment(JpegDecoderState& d) {
  const uint32_t length = read_bits(d, 16);
  if (length < 2) raise_error(d, ERR_SEGMENT_BAD_LENGTH);
  for (uint32_t i = 2; i < length; i++) read_bits(d, 8);
}

void parse_dri(JpegDecoderState& d) {
  if (read_bits(d, 16) != 4) raise_error(d, ERR_DRI_BAD_LENGTH);
  d.restart_interval = static_cast<int32_t>(read_bits(d, 16));
}

void parse_dht(JpegDecoderState& d) {
  const uint32_t length = read_bits(d, 16);
  if (length < 2) raise_error(d, ERR_DHT_BAD_LENGTH);
  uint32_t remaining = length - 2;
  while (remaining != 0) {
    const uint32_t class_and_index = read_bits(d, 8);
    // Nothing is read beyond the segment: its length is checked before the counts and again
    // before the symbols.
    if (remaining < 17) raise_error(d, ERR_DHT_BAD_LENGTH);
    uint8_t counts[17] = {0};
    uint32_t total = 0;
    for (int32_t len = 1; len <= 16; len++) {
      counts[len] = static_cast<uint8_t>(read_bits(d, 8));
      total += counts[len];
    }
    if (total > 255) raise_error(d, ERR_DHT_TOO_MANY_CODES);
    if (remaining < 17 + total) raise_error(d, ERR_DHT_BAD_LENGTH);
    uint8_t symbols[256] = {0};
    for (uint32_t i = 0; i < total; i++) symbols[i] = static_cast<uint8_t>(read_bits(d, 8));
    remaining -= 17 + total;
    const int32_t slot =
        static_cast<int32_t>(4 * ((class_and_index >> 4) & 1) + (class_and_index & 15));
    if (slot >= JPEG_HUFF_SLOTS) raise_error(d, ERR_DHT_BAD_TABLE);
    // Counts that overfill a code length cannot form a prefix code; such a table would place
    // codes outside their length.
    if (!huff_counts_fit(counts)) raise_error(d, ERR_DHT_TOO_MANY_CODES);
    if (d.huff_bits[slot] == nullptr) d.huff_bits[slot] = static_cast<uint8_t*>(pool_alloc(d, 17));
    if (d.huff_vals[slot] == nullptr) d.huff_vals[slot] = static_cast<uint8_t*>(pool_alloc(d, 256));
    std::memcpy(d.huff_bits[slot], counts, 17);
    d.huff_lookup_stale[slot] = true;
    std::memcpy(d.huff_vals[slot], symbols, total);
  }
}

void parse_dqt(JpegDecoderState& d) {
  const uint32_t length = read_bits(d, 16);
  if (length < 2) raise_error(d, ERR_DQT_BAD_LENGTH);
  uint32_t remaining = length - 2;
  while (remaining != 0) {
    const uint32_t precision_and_index = read_bits(d, 8);
    const uint32_t table = precision_and_index & 15;
    if (table > 3) raise_error(d, ERR_DQT_BAD_TABLE);
    const bool sixteen_bit_entries = (precision_and_index >> 4) != 0;
    const uint32_t size = sixteen_bit_entries ? 129 : 65;
    if (remaining < size) raise_error(d, ERR_DQT_TRUNCATED);
    if (d.quant_tables[table] == nullptr)
      d.quant_tables[table] = static_cast<uint16_t*>(pool_alloc(d, 128));
    uint16_t* q = d.quant_tables[table];
    for (int32_t k = 0; k < 64; k++)
      q[k] = static_cast<uint16_t>(read_bits(d, sixteen_bit_entries ? 16 : 8));
    remaining -= size;
  }
}

void parse_sof(JpegDecoderState& d) {
  const uint32_t length = read_bits(d, 16);
  if (read_bits(d, 8) != 8) raise_error(d, ERR_SOF_BAD_PRECISION);
  const uint32_t height = read_bits(d, 16);
  d.image_height = static_cast<int32_t>(height);
  if (height == 0 || height > JPEG_MAX_DIMENSION) raise_error(d, ERR_SOF_BAD_HEIGHT);
  const uint32_t width = read_bits(d, 16);
  d.image_width = static_cast<int32_t>(width);
  if (width == 0 || width > JPEG_MAX_DIMENSION) raise_error(d, ERR_SOF_BAD_WIDTH);
  const uint32_t components = read_bits(d, 8);
  d.component_count = static_cast<int32_t>(components);
  if (components > JPEG_MAX_COMPONENTS) raise_error(d, ERR_SOF_TOO_MANY_COMPONENTS);
  if (length != 8 + 3 * components) raise_error(d, ERR_SOF_BAD_LENGTH);
  for (uint32_t i = 0; i < components; i++) {
    d.comp_id[i] = static_cast<int32_t>(read_bits(d, 8));
    d.comp_h[i] = static_cast<int32_t>(read_bits(d, 4));
    d.comp_v[i] = static_cast<int32_t>(read_bits(d, 4));
    d.comp_quant[i] = static_cast<int32_t>(read_bits(d, 8));
  }
}

void parse_sos(JpegDecoderState& d) {
  const uint32_t length = read_bits(d, 16);
  const uint32_t count = read_bits(d, 8);
  d.scan_component_count = static_cast<int32_t>(count);
  if (length != 2 * count + 6 || count == 0 || count > JPEG_MAX_COMPONENTS)
    raise_error(d, ERR_SOS_BAD_LENGTH);
  for (uint32_t k = 0; k < count; k++) {
    const int32_t id = static_cast<int32_t>(read_bits(d, 8));
    const uint32_t tables = read_bits(d, 8);
    int32_t found = -1;
    for (int32_t i = 0; i < d.component_count && found < 0; i++)
      if (d.comp_id[i] == id) found = i;
    if (found < 0) raise_error(d, ERR_SOS_BAD_COMPONENT);
    // A component may appear once per scan; a repeat would also overfill the MCU.
    for (uint32_t j = 0; j < k; j++)
      if (d.scan_components[j] == found) raise_error(d, ERR_SOS_BAD_COMPONENT);
    d.scan_components[k] = found;
    d.comp_dc_table[found] = static_cast<int32_t>(tables >> 4);
    d.comp_ac_table[found] = 4 + static_cast<int32_t>(tables & 15);
  }
  d.scan_ss = static_cast<int32_t>(read_bits(d, 8));
  d.scan_se = static_cast<int32_t>(read_bits(d, 8));
  d.scan_ah = static_cast<int32_t>(read_bits(d, 4));
  d.scan_al = static_cast<int32_t>(read_bits(d, 4));
  if (!d.progressive) {
    d.scan_ss = 0;
    d.scan_se = 63;
  }
}
