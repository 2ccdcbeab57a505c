// Bit-level machinery: the header bit window over raw bytes, the entropy-coded data reader
// (stuffed zeros removed, markers left in the input), Huffman decoding tables and symbol
// decoding, and restart markers. The fast entropy reader (a bit buffer of the machine's width)
// has a plain 32-bit twin, the window reader of the test-only library (jpeg/reference/); the
// decoding tables are built by code ranges, with a prefix-by-prefix twin there.
#include "jpeg/decoder_internal.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

const int32_t extend_threshold[18] = {0,    1,    2,    4,     8,     16,    32,
                                      64,   128,  256,  512,   1024,  2048,  4096,
                                      8192, 16384, 32768, 65536};

namespace {

constexpr int32_t RESTART_SEARCH_BUDGET = 1536;

void append_source_byte(BitSource& s, uint8_t value) {
  s.bits |= static_cast<EntropyWord>(value) << (ENTROPY_WORD_BITS - 8 - s.count);
  s.count += 8;
  s.fetched++;
}

}  // namespace

void load_window_from_four(JpegDecoderState& d, uint32_t b0, uint32_t b1, uint32_t b2,
                           uint32_t b3) {
  d.bit_window = (b0 << 8) | b1 | (b2 << 24) | (b3 << 16);
  d.bits_left = 16;
}

void push_back_header_lookahead(JpegDecoderState& d) {
  if (d.bits_left == 16) push_back_byte(d, static_cast<uint8_t>(d.bit_window >> 16));
  if (d.bits_left >= 8) push_back_byte(d, static_cast<uint8_t>(d.bit_window >> 24));
  push_back_byte(d, static_cast<uint8_t>(d.bit_window));
  push_back_byte(d, static_cast<uint8_t>(d.bit_window >> 8));
}

// ---- header window ------------------------------------------------------------------------------

void prime_header_window(JpegDecoderState& d) {
  const uint32_t b0 = static_cast<uint32_t>(read_byte(d));
  const uint32_t b1 = static_cast<uint32_t>(read_byte(d));
  const uint32_t b2 = static_cast<uint32_t>(read_byte(d));
  const uint32_t b3 = static_cast<uint32_t>(read_byte(d));
  load_window_from_four(d, b0, b1, b2, b3);
}

uint32_t read_bits(JpegDecoderState& d, int32_t n) {
  return window_take_bits(d, n, [&d]() { return static_cast<uint32_t>(read_byte(d)); });
}

int32_t peek_byte(const JpegDecoderState& d) {
  return static_cast<int32_t>((d.bit_window >> 8) & 0xFF);
}

// ---- entropy bytes -------------------------------------------------------------------------------

EntropyByte read_entropy_byte(JpegDecoderState& d) {
  bool synthetic = false;
  const int b = read_byte_flagged(d, synthetic);
  if (synthetic) return {static_cast<uint8_t>(b), EntropyByte::PAST_END};
  if (b != 0xFF) return {static_cast<uint8_t>(b), EntropyByte::DATA};
  const int c = read_byte_flagged(d, synthetic);
  if (synthetic) {
    push_back_byte(d, 0xFF);
    return {0xFF, EntropyByte::PAST_END};
  }
  if (c == 0x00) return {0xFF, EntropyByte::DATA};
  push_back_byte(d, static_cast<uint8_t>(c));
  push_back_byte(d, 0xFF);
  return {0xFF, EntropyByte::AT_MARKER};
}

void fetch_entropy_byte_slowly(JpegDecoderState& d, BitSource& s) {
  if (d.entropy_tail_flips == 0) {
    // Stopped at a marker: it stays in the input and every further byte reads as 0xFF.
    append_source_byte(s, 0xFF);
    return;
  }
  d.input_ptr = s.ptr;
  d.input_count = s.avail;
  const EntropyByte next = read_entropy_byte(d);
  s.ptr = d.input_ptr;
  s.avail = d.input_count;
  if (next.kind != EntropyByte::DATA && d.entropy_tail_flips < 0) {
    d.entropy_real_bytes = s.fetched;
    d.entropy_tail_flips = next.kind == EntropyByte::PAST_END ? 1 : 0;
  }
  append_source_byte(s, next.value);
}

BitSource fetched_entropy_byte_slowly(JpegDecoderState& d, BitSource s) {
  fetch_entropy_byte_slowly(d, s);
  // At a marker the hot loops would come back for fill byte after fill byte: top the reader
  // up here, byte by byte as they would.
  while (d.entropy_tail_flips == 0 && s.count <= ENTROPY_WORD_BITS - 8)
    append_source_byte(s, 0xFF);
  return s;
}

void reset_entropy_reader(JpegDecoderState& d) {
  d.entropy_bits = 0;
  d.entropy_bit_count = 0;
  d.entropy_bytes_fetched = 0;
  d.entropy_real_bytes = -1;
  d.entropy_fill_charged = 0;
  d.entropy_tail_flips = -1;
}

void charge_fill_bits(JpegDecoderState& d, const BitSource& s) {
  if (d.entropy_tail_flips < 0) return;  // still inside the data
  const int64_t consumed = s.fetched * 8 - s.count;
  const int64_t fill = consumed - d.entropy_real_bytes * 8;
  if (fill <= d.entropy_fill_charged) return;
  const int64_t fresh = fill - d.entropy_fill_charged;
  d.entropy_fill_charged = fill;
  charge_work(d, fresh * WORK_UNITS_PER_FILL_BIT);
}

void start_entropy_segment(JpegDecoderState& d) {
  push_back_header_lookahead(d);
  d.bits_left = 0;
  reset_entropy_reader(d);
}

void finish_entropy_segment(JpegDecoderState& d) {
  // A reader that fetches two bytes whenever fewer than 17 bits remain beyond the consumed
  // ones, starting with four, holds `fetched_by_pairs` bytes after `consumed` bits.
  // Fill bits the segment's last stretch consumed count against the work bound.
  BitSource reader;
  load_bit_source(d, reader);
  charge_fill_bits(d, reader);
  const int64_t fetched = d.entropy_bytes_fetched;
  const int64_t consumed = fetched * 8 - d.entropy_bit_count;
  const int64_t fetched_by_pairs = 2 * ((consumed + 17 + 15) / 16);
  // Behind that reader: take the bytes it would have taken (they are never used).
  if (fetched < fetched_by_pairs) {
    BitSource s{0, 0, fetched, d.input_ptr, d.input_count};
    while (s.fetched < fetched_by_pairs) {
      fetch_entropy_byte_slowly(d, s);
      s.count = 0;
    }
    d.input_ptr = s.ptr;
    d.input_count = s.avail;
  }
  const int64_t real = d.entropy_real_bytes < 0 ? fetched : d.entropy_real_bytes;
  // The bytes handed back lie within the reader's 64 bits: i - consumed / 8 is small.
  for (int64_t i = fetched - 1; i >= fetched_by_pairs; i--) {
    if (i >= real) {
      if (d.entropy_tail_flips == 1) d.eoi_phase ^= 1;
      continue;
    }
    const int32_t shift = static_cast<int32_t>(8 * i - consumed);
    const uint8_t value = static_cast<uint8_t>((d.entropy_bits << shift) >> 56);
    if (value == 0xFF) push_back_byte(d, 0x00);
    push_back_byte(d, value);
  }
  reset_entropy_reader(d);
}

void process_restart(JpegDecoderState& d) {
  finish_entropy_segment(d);
  read_restart_marker(d);
  reset_entropy_reader(d);
}

void read_restart_marker(JpegDecoderState& d) {
  int32_t budget = RESTART_SEARCH_BUDGET;
  int b = 0;
  do {
    if (budget-- == 0) raise_error(d, ERR_BAD_RESTART);
    b = read_byte(d);
  } while (b != 0xFF);
  do {
    if (budget-- == 0) raise_error(d, ERR_BAD_RESTART);
    b = read_byte(d);
  } while (b == 0xFF);
  if (b != 0xD0 + d.next_restart_num) raise_error(d, ERR_BAD_RESTART);
  for (int32_t c = 0; c < d.component_count && c < JPEG_MAX_COMPONENTS; c++) d.dc_pred[c] = 0;
  d.restarts_left = d.restart_interval;
  d.eob_run = 0;
  d.next_restart_num = (d.next_restart_num + 1) & 7;
}

// ---- Huffman tables ----------------------------------------------------------------------------

bool huff_counts_fit(const uint8_t* counts) {
  uint32_t code = 0;
  for (int32_t len = 1; len <= 16; len++) {
    code += counts[len];
    if (code > (1u << len)) return false;
    code <<= 1;
  }
  return true;
}

namespace {

constexpr int32_t FAST_BITS = JPEG_HUFF_FAST_BITS;

// Resolves the fast-lookup entry for a FAST_BITS-bit prefix by running the table's own decoding
// rule on it: (consumed << 8) | symbol with bit 15 set, or 0 when the prefix does not settle
// the symbol.
uint16_t fast_entry_for_prefix(const HuffLookup& t, uint32_t prefix) {
  constexpr int32_t extra_bits = FAST_BITS - 8;
  int32_t node = t.primary[prefix >> extra_bits];
  if (node >= 0) return static_cast<uint16_t>(0x8000u | (t.lengths[node] << 8) | node);
  for (int32_t i = 0; i < extra_bits; i++) {
    const int32_t bit = static_cast<int32_t>((prefix >> (extra_bits - 1 - i)) & 1);
    node = t.nodes[-node - bit];
    if (node >= 0) return static_cast<uint16_t>(0x8000u | ((9 + i) << 8) | node);
  }
  return 0;
}

// Symbol and value together, for AC symbols whose code and value bits fit in the index.
int32_t ac_fast_entry_for_prefix(uint16_t fast_entry, uint32_t prefix) {
  if (fast_entry == 0) return 0;
  const int32_t length = (fast_entry >> 8) & 31;
  const int32_t symbol = fast_entry & 0xFF;
  const int32_t run = symbol >> 4;
  const int32_t size = symbol & 15;
  const int32_t total = length + size;
  if (total > FAST_BITS) return 0;
  const uint32_t bits = (prefix >> (FAST_BITS - total)) & ((1u << size) - 1u);
  return joint_term(extend_value(bits, size), run, total);
}

// DC size category and difference together, when the code and the value bits fit.
int32_t dc_fast_entry_for_prefix(uint16_t fast_entry, uint32_t prefix) {
  if (fast_entry == 0) return 0;
  const int32_t length = (fast_entry >> 8) & 31;
  const int32_t size = fast_entry & 0xFF;
  const int32_t total = length + size;
  if (size > 16 || total > FAST_BITS) return 0;
  const uint32_t bits = (prefix >> (FAST_BITS - total)) & ((1u << size) - 1u);
  return joint_term(extend_value(bits, size), 0, total);
}

bool is_ac_slot(int32_t slot) { return slot >= 4; }  // selectors add 4 to Ta

// The canonical table: primary lookup, code lengths and the tree for codes longer than 8 bits.
// False when the tree runs out of nodes.
bool fill_canonical_table(HuffLookup& t, const uint8_t* counts, const uint8_t* symbols) {
  int32_t next_node = -1;
  uint32_t code = 0;
  int32_t k = 0;
  for (int32_t len = 1; len <= 16; len++) {
    for (int32_t i = 0; i < counts[len]; i++, k++, code++) {
      const int32_t symbol = symbols[k];
      t.lengths[symbol] = static_cast<uint8_t>(len);
      if (len <= 8) {
        const uint32_t first = code << (8 - len);
        for (uint32_t j = 0; j < (1u << (8 - len)); j++) t.primary[first + j] = symbol;
        continue;
      }
      const uint32_t top = (code >> (len - 8)) & 0xFF;
      if (t.primary[top] == 0) {
        if (next_node < -511) return false;
        t.primary[top] = next_node;
        next_node -= 2;
      }
      int32_t node = t.primary[top];
      // A leaf already sitting here means a shorter code prefixes this one; skip it.
      if (node >= 0) continue;
      bool blocked = false;
      for (int32_t bit_index = len - 9; bit_index >= 1 && !blocked; bit_index--) {
        const int32_t bit = static_cast<int32_t>((code >> bit_index) & 1);
        int32_t& child = t.nodes[-node - bit];
        if (child == 0) {
          if (next_node < -511) return false;
          child = next_node;
          next_node -= 2;
        }
        if (child > 0) blocked = true;
        node = child;
      }
      if (!blocked) t.nodes[-node - static_cast<int32_t>(code & 1)] = symbol;
    }
    code <<= 1;
  }
  return true;
}

template <typename T>
void fill_range(T* entries, uint32_t first, uint32_t count, T value) {
  for (uint32_t i = 0; i < count; i++) entries[first + i] = value;
}

// The joint entries of one code of `length` bits at fast index `first` (spanning `span`
// entries): each possible value of its `size` bits gets its sub-range, when they all fit.
void fill_joint_entries(int32_t* joint, uint32_t first, int32_t length, int32_t size,
                        int32_t run) {
  const int32_t total = length + size;
  if (total > FAST_BITS) return;
  const uint32_t sub_span = 1u << (FAST_BITS - total);
  for (uint32_t v = 0; v < (1u << size); v++)
    fill_range(joint, first + (v << (FAST_BITS - total)), sub_span,
               joint_term(extend_value(v, size), run, total));
}

// The fast and joint entries of the prefixes first..end-1, one by one.
void resolve_prefixes(HuffLookup& t, uint32_t first, uint32_t end, bool ac_slot) {
  for (uint32_t prefix = first; prefix < end; prefix++) {
    t.fast[prefix] = fast_entry_for_prefix(t, prefix);
    if (ac_slot)
      t.ac_fast[prefix] = ac_fast_entry_for_prefix(t.fast[prefix], prefix);
    else
      t.dc_fast[prefix] = dc_fast_entry_for_prefix(t.fast[prefix], prefix);
  }
}

// The pass-over entries of an AC table (HuffLookup::ac_skip), from its fast entries. A window
// that starts inside the range of a code of at most FAST_BITS bits, whose length fits the bits
// the window still holds, decodes to that code whatever bits follow, so the terms chained
// here are exactly those that a term-by-term decode reads.
void fill_skip_entries(HuffLookup& t, const uint8_t* counts, const uint8_t* symbols) {
  bool seen[256] = {};
  int32_t total = 0;
  for (int32_t len = 1; len <= 16; len++) total += counts[len];
  for (int32_t k = 0; k < total; k++) {
    if (seen[symbols[k]]) {  // a symbol listed twice: no pass-over entries
      std::fill(std::begin(t.ac_skip), std::end(t.ac_skip), AC_SKIP_NONE);
      return;
    }
    seen[symbols[k]] = true;
  }
  // Codes of up to FAST_BITS bits come first in canonical order and fill [0, short_end).
  uint32_t short_end = 0;
  uint32_t code = 0;
  for (int32_t len = 1; len <= FAST_BITS; len++, code <<= 1)
    for (int32_t i = 0; i < counts[len]; i++, code++)
      short_end = (code + 1) << (FAST_BITS - len);
  constexpr uint32_t mask = (1u << FAST_BITS) - 1;
  for (uint32_t prefix = 0; prefix <= mask; prefix++) {
    int32_t used = 0, advanced = 0;
    uint16_t entry = AC_SKIP_NONE;
    for (;;) {
      const uint32_t window = (prefix << used) & mask;
      if (window >= short_end) break;
      const int32_t length = (t.fast[window] >> 8) & 31;
      const int32_t symbol = t.fast[window] & 0xFF;
      const int32_t size = symbol & 15, run = symbol >> 4;
      if (length == 0 || length + size > FAST_BITS - used) break;
      if (size == 0 && run != 15) {
        entry = static_cast<uint16_t>(AC_SKIP_ENDS_BLOCK | advanced << AC_SKIP_ADVANCE_SHIFT |
                                      (used + length));
        break;
      }
      const int32_t step = size == 0 ? 16 : run + 1;
      if (advanced + step > 64) break;
      used += length + size;
      advanced += step;
      entry = static_cast<uint16_t>(advanced << AC_SKIP_ADVANCE_SHIFT | used);
    }
    t.ac_skip[prefix] = entry;
  }
}

}  // namespace

bool fill_huff_lookup(HuffLookup& t, const uint8_t* counts, const uint8_t* symbols,
                      int32_t slot) {
  if (!fill_canonical_table(t, counts, symbols)) return false;
  // Canonical codes cover the code space from 0 upwards without gaps: each code of up to
  // FAST_BITS bits owns one range of the fast index, and a longer code's index entry stays 0
  // (the tree decides). What lies beyond the last code decodes by the canonical table's rule
  // for unused entries, resolved prefix by prefix.
  const bool ac_slot = is_ac_slot(slot);
  uint32_t next_index = 0;
  uint32_t code = 0;
  int32_t k = 0;
  for (int32_t len = 1; len <= 16; len++, code <<= 1) {
    for (int32_t i = 0; i < counts[len]; i++, k++, code++) {
      if (len > FAST_BITS) {
        next_index = (code >> (len - FAST_BITS)) + 1;
        continue;
      }
      const int32_t symbol = symbols[k];
      const uint32_t first = code << (FAST_BITS - len);
      const uint32_t span = 1u << (FAST_BITS - len);
      next_index = first + span;
      // A symbol listed twice decodes with the length of its last code from the primary
      // lookup: such a (malformed) table's ranges are resolved prefix by prefix.
      if (len <= 8 && t.lengths[symbol] != len) {
        resolve_prefixes(t, first, next_index, ac_slot);
        continue;
      }
      fill_range(t.fast, first, span, static_cast<uint16_t>(0x8000u | (len << 8) | symbol));
      if (ac_slot)
        fill_joint_entries(t.ac_fast, first, len, symbol & 15, symbol >> 4);
      else if (!ac_slot && symbol <= 16)
        fill_joint_entries(t.dc_fast, first, len, symbol, 0);
    }
  }
  resolve_prefixes(t, next_index, 1u << FAST_BITS, ac_slot);
  return true;
}

void prepare_ac_skip(JpegDecoderState& d, int32_t slot) {
  HuffLookup& t = *d.huff_lookup[slot];
  if (t.ac_skip_ready) return;
  // A table whose counts do not fit was left empty: so are its pass-over entries.
  if (huff_counts_fit(d.huff_bits[slot]))
    fill_skip_entries(t, d.huff_bits[slot], d.huff_vals[slot]);
  else
    std::fill(std::begin(t.ac_skip), std::end(t.ac_skip), AC_SKIP_NONE);
  t.ac_skip_ready = 1;
}

void resolve_fast_prefixes(HuffLookup& t, uint32_t first, uint32_t end, int32_t slot) {
  resolve_prefixes(t, first, end, is_ac_slot(slot));
}

namespace {

// The DHT contents a slot's table is built from, as kept beside the built table.
void copy_table_source(const JpegDecoderState& d, int32_t slot, uint8_t* out, int32_t& bytes) {
  const uint8_t* counts = d.huff_bits[slot];
  int32_t total = 0;
  for (int32_t len = 1; len <= 16; len++) total += counts[len];
  std::memcpy(out, counts + 1, 16);
  std::memcpy(out + 16, d.huff_vals[slot], static_cast<size_t>(total));
  bytes = 16 + total;
}

bool built_from_same_source(const JpegDecoderState& d, int32_t slot) {
  if (kept_memory(d).built_lookup[slot] == nullptr) return false;
  uint8_t source[16 + 256];
  int32_t bytes = 0;
  copy_table_source(d, slot, source, bytes);
  return std::memcmp(source, kept_memory(d).built_from[slot], static_cast<size_t>(bytes)) == 0;
}

}  // namespace

void build_huff_lookup(JpegDecoderState& d, int32_t slot) {
  HuffLookup*& lookup = d.huff_lookup[slot];
  // A table built from the same counts and symbols, in this decode or (kept) in an earlier
  // one of this object, is used as it stands.
  if (built_from_same_source(d, slot)) {
    if (lookup == kept_memory(d).built_lookup[slot]) return;
    if (lookup == nullptr) {
      lookup = static_cast<HuffLookup*>(pool_reclaim(d, kept_memory(d).built_lookup[slot]));
      if (lookup != nullptr) return;
    }
  }
  bool cleared = false;
  if (lookup == nullptr) {
    lookup = static_cast<HuffLookup*>(pool_alloc(d, sizeof(HuffLookup)));
    cleared = true;  // pool blocks come zero-filled
  }
  HuffLookup& t = *lookup;
  kept_memory(d).built_lookup[slot] = nullptr;
  // The pass-over entries are left as they are: they count only once made again.
  if (!cleared) std::memset(&t, 0, offsetof(HuffLookup, ac_skip));
  t.ac_skip_ready = 0;
  // Tables are checked when their segment is parsed; a table that does not fit stays empty.
  if (huff_counts_fit(d.huff_bits[slot]) &&
      !fill_huff_lookup(t, d.huff_bits[slot], d.huff_vals[slot], slot))
    raise_error(d, ERR_DHT_TOO_MANY_CODES);
  int32_t bytes = 0;
  copy_table_source(d, slot, kept_memory(d).built_from[slot], bytes);
  kept_memory(d).built_lookup[slot] = lookup;
}

int32_t decode_long_huff_symbol(BitSource& s, const HuffLookup& table) {
  int32_t t = table.primary[peek_source_bits(s, 8)];
  if (t >= 0) {
    skip_source_bits(s, table.lengths[t]);
    return t;
  }
  skip_source_bits(s, 8);
  while (t < 0) {
    const int32_t bit = static_cast<int32_t>(peek_source_bits(s, 1));
    skip_source_bits(s, 1);
    t = table.nodes[-t - bit];
  }
  return t;
}

// ---- the fast reader on the decoder's own state ------------------------------------------------

uint32_t get_bits(JpegDecoderState& d, int32_t n) {
  if (n == 0) return 0;
  BitSource s;
  load_bit_source(d, s);
  if (s.count < n) fill_bit_source(d, s);
  const uint32_t v = peek_source_bits(s, n);
  skip_source_bits(s, n);
  store_bit_source(d, s);
  return v;
}

int32_t decode_huff_symbol(JpegDecoderState& d, const HuffLookup& table) {
  BitSource s;
  load_bit_source(d, s);
  if (s.count < 16) fill_bit_source(d, s);
  const int32_t symbol = decode_huff_symbol_from(s, table);
  store_bit_source(d, s);
  return symbol;
}

int32_t receive_extend(JpegDecoderState& d, int32_t s) {
  if (s == 0) return 0;
  return extend_value(get_bits(d, s), s);
}
