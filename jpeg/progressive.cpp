// Buffered decoding: every scan of the image is decoded at decode start into per-component
// coefficient stores (DC and AC separately, quantised; coef_store.cpp), which then feed the
// MCU-row pipeline one row at a time. Progressive frames always take this path; so do sequential colour frames
// whose components are coded in separate or reordered scans.
#include "jpeg/coef_store.h"

namespace {

inline int16_t low16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

inline uint32_t take_bits(JpegDecoderState& d, BitSource& s, int32_t n) {
  if (n == 0) return 0;
  if (s.count < n) fill_bit_source(d, s);
  const uint32_t v = peek_source_bits(s, n);
  skip_source_bits(s, n);
  return v;
}

inline int32_t take_symbol(JpegDecoderState& d, BitSource& s, const HuffLookup& table) {
  if (s.count < 16) fill_bit_source(d, s);
  return decode_huff_symbol_from(s, table);
}

inline int32_t take_extended(JpegDecoderState& d, BitSource& s, int32_t size) {
  if (size == 0) return 0;
  return extend_value(take_bits(d, s, size), size);
}

// A short code with its value bits from one of the table's combined lookups (a joint term:
// ac_fast's value and run, dc_fast's difference), or 0 when the code is not in it.
inline int32_t take_joint_term(JpegDecoderState& d, BitSource& s, const int32_t* lookup) {
  if (s.count < 16) fill_bit_source(d, s);
  const int32_t entry = lookup[peek_source_bits(s, JPEG_HUFF_FAST_BITS)];
  if (entry != 0) skip_entry_bits(s.bits, s.count, entry);
  return entry;
}

// The buffered scans' reader in the form the shared AC loop takes.
struct SourceReader {
  JpegDecoderState& d;
  BitSource& s;
  int32_t symbol(const HuffLookup& table) { return take_symbol(d, s, table); }
  int32_t extend(int32_t size) { return take_extended(d, s, size); }
  int32_t ac_term(const HuffLookup& table) { return take_joint_term(d, s, table.ac_fast); }
};

inline int32_t take_dc_difference(JpegDecoderState& d, BitSource& s, int32_t component) {
  const HuffLookup& table = *d.huff_lookup[d.comp_dc_table[component]];
  const int32_t term = take_joint_term(d, s, table.dc_fast);
  if (term != 0) return joint_value(term);
  const int32_t size = take_symbol(d, s, table);
  if (size > 16) raise_error(d, ERR_BAD_HUFFMAN_DATA);
  return take_extended(d, s, size);
}

inline int32_t advance_dc_predictor(JpegDecoderState& d, int32_t component, int32_t diff) {
  d.dc_pred[component] =
      static_cast<int32_t>(static_cast<uint32_t>(d.dc_pred[component]) + static_cast<uint32_t>(diff));
  return d.dc_pred[component];
}

// Reads an end-of-band run length 2^r + r extra bits.
inline int32_t take_eob_run(JpegDecoderState& d, BitSource& s, int32_t r) {
  int32_t run = 1 << r;
  if (r > 0) run += static_cast<int32_t>(take_bits(d, s, r));
  return run;
}

void check_progressive_scan(JpegDecoderState& d) {
  if (d.scan_ss > d.scan_se || d.scan_se > 63) raise_error(d, ERR_BAD_PROGRESSIVE_SCAN);
  if (d.scan_ss == 0 && d.scan_se != 0) raise_error(d, ERR_BAD_PROGRESSIVE_SCAN);
  if (d.scan_ss > 0 && d.scan_component_count != 1) raise_error(d, ERR_BAD_PROGRESSIVE_SCAN);
  if (d.scan_ah != 0 && d.scan_al != d.scan_ah - 1) raise_error(d, ERR_BAD_SUCCESSIVE_APPROX);
}

BlockDecoder choose_block_decoder(const JpegDecoderState& d) {
  if (d.scan_ss == 0) return d.scan_ah == 0 ? decode_dc_first : decode_dc_refine;
  return d.scan_ah == 0 ? decode_ac_first : decode_ac_refine;
}

// Charges every block visit of the scan about to be decoded, before it runs (the work bound:
// set_work_budget in setup.cpp).
void charge_scan(JpegDecoderState& d) {
  charge_work(d, int64_t{d.scan_mcus_per_row} * d.scan_mcu_rows * d.mcu_block_count *
                     WORK_UNITS_PER_VISIT);
}

// After a scan: hand back the look-ahead and read headers again from the marker that ends it.
void return_to_headers(JpegDecoderState& d) {
  finish_entropy_segment(d);
  prime_header_window(d);
}

// After the last scan: the frame's MCU structure for output, and the tables of the components
// that no scan has fixed.
void finish_buffered_scans(JpegDecoderState& d) {
  use_frame_mcu_structure(d);
  for (int32_t c = 0; c < d.component_count; c++)
    if (!d.output_quant_fixed[c]) set_output_quant(d, c);
  d.coefficients_buffered = 1;
}

}  // namespace

void start_progressive(JpegDecoderState& d) {
  allocate_coef_stores(d);
  for (int32_t c = 0; c < d.component_count; c++) {
    CoefficientStore& store = *d.ac_coef_store[c];
    // The store's own size check has bounded the block count far below 2^28.
    const uint32_t blocks = static_cast<uint32_t>(store.width_blocks) *
                            static_cast<uint32_t>(store.height_blocks);
    store.nonzero_positions = static_cast<uint64_t*>(pool_alloc(d, blocks * 8u));
  }
  while (setup_scan(d) == 1) {
    check_progressive_scan(d);
    charge_scan(d);
    decode_progressive_scan(d, choose_block_decoder(d));
    return_to_headers(d);
  }
  finish_buffered_scans(d);
}

void start_buffered_sequential(JpegDecoderState& d) {
  // The first scan has been set up already.
  allocate_coef_stores(d);
  do {
    charge_scan(d);
    // A sequential scan delivers its components' coefficients whole: they are dequantised
    // with the tables in force now, whatever a later DQT redefines.
    for (int32_t i = 0; i < d.scan_component_count; i++) {
      set_output_quant(d, d.scan_components[i]);
      d.output_quant_fixed[d.scan_components[i]] = true;
    }
    decode_progressive_scan(d, decode_sequential_block_to_store);
    return_to_headers(d);
  } while (setup_scan(d) == 1);
  finish_buffered_scans(d);
}

namespace {

// The block decoders proper, inlined into their scan walks so that the bit source stays in
// registers; the exported forms below wrap them.
#if defined(__GNUC__)
#define PROGRESSIVE_INLINE inline __attribute__((always_inline))
#else
#define PROGRESSIVE_INLINE inline
#endif

// The lowest position of a nonempty set. A 32-bit machine takes it in halves: its compiler
// would call a library routine for the 64-bit form.
inline int32_t lowest_position(uint64_t positions) {
  if constexpr (sizeof(void*) >= 8) {
    return static_cast<int32_t>(__builtin_ctzll(positions));
  } else {
    const uint32_t low = static_cast<uint32_t>(positions);
    if (low != 0) return __builtin_ctz(low);
    return 32 + __builtin_ctz(static_cast<uint32_t>(positions >> 32));
  }
}

// Position sets from tables: variable 64-bit shifts cost a 32-bit machine several
// instructions each.
struct PositionTables {
  uint64_t single[64];    // position k alone
  uint64_t from[65];      // positions k..63; none for k = 64
  constexpr PositionTables() : single(), from() {
    for (int32_t k = 0; k < 64; k++) {
      single[k] = uint64_t{1} << k;
      from[k] = ~uint64_t{0} << k;
    }
    from[64] = 0;
  }
};
constexpr PositionTables POSITION_SETS{};

inline uint64_t position_bit(int32_t k) { return POSITION_SETS.single[k]; }

// Zig-zag positions from `first` (0..64) on.
inline uint64_t positions_from(int32_t first) { return POSITION_SETS.from[first]; }

// Zig-zag positions first..last (first 0..64, last 0..63); empty when first > last.
inline uint64_t positions_between(int32_t first, int32_t last) {
  if (first > last) return 0;
  return positions_from(first) & ~positions_from(last + 1);
}

// Reads the correction bit of the nonzero coefficient at zig-zag position k: a set bit adds p1
// away from zero where that bit is still clear. Corrections never make a coefficient zero, so
// the block's nonzero positions stay as they are.
PROGRESSIVE_INLINE void correct_coefficient(JpegDecoderState& d, BitSource& s, int16_t* block,
                                            int32_t k, int32_t p1) {
  if (s.count < 1) fill_bit_source(d, s);
  const int32_t bit = static_cast<int32_t>(peek_source_bits(s, 1));
  skip_source_bits(s, 1);
  int16_t* coefficient = &block[zigzag_order[k]];
  const int32_t value = *coefficient;
  const int32_t sign = value >> 31;
  const int32_t step = (p1 ^ sign) - sign;  // p1 or -p1
  const int32_t apply = -(bit & static_cast<int32_t>((value & p1) == 0));
  *coefficient = low16(static_cast<uint32_t>(value) + static_cast<uint32_t>(step & apply));
}

// The correction bits of the nonzero coefficients at the positions in `todo`, lowest first.
PROGRESSIVE_INLINE void correct_coefficients(JpegDecoderState& d, BitSource& s, int16_t* block,
                                             uint64_t todo, int32_t p1) {
  while (todo != 0) {
    correct_coefficient(d, s, block, lowest_position(todo), p1);
    todo &= todo - 1;
  }
}

PROGRESSIVE_INLINE void dc_first_block(JpegDecoderState& d, BitSource& s, int32_t component,
                                       int32_t column, int32_t row) {
  const int32_t difference = take_dc_difference(d, s, component);
  const int32_t predictor = advance_dc_predictor(d, component, difference);
  int16_t* dc = coef_block_address(d, *d.dc_coef_store[component], column, row);
  *dc = low16(static_cast<uint32_t>(predictor) << d.scan_al);
}

PROGRESSIVE_INLINE void dc_refine_block(JpegDecoderState& d, BitSource& s, int32_t component,
                                        int32_t column, int32_t row) {
  int16_t* dc = coef_block_address(d, *d.dc_coef_store[component], column, row);
  if (take_bits(d, s, 1) != 0) *dc = low16(static_cast<uint16_t>(*dc) | (1u << d.scan_al));
}

PROGRESSIVE_INLINE void ac_first_block(JpegDecoderState& d, BitSource& s, int32_t component,
                                       int32_t column, int32_t row) {
  if (d.eob_run > 0) {
    d.eob_run--;
    return;
  }
  const CoefficientStore& store = *d.ac_coef_store[component];
  const size_t index = coef_block_index(d, store, column, row);
  int16_t* block = coef_block_at(store, index);
  uint64_t nonzero = store.nonzero_positions[index];
  const HuffLookup& table = *d.huff_lookup[d.comp_ac_table[component]];
  SourceReader reader{d, s};
  const int32_t al = d.scan_al;
  int32_t eob_r;
  decode_ac_terms(
      d, reader, table, d.scan_ss, d.scan_se,
      [block, al, &nonzero](int32_t k, int32_t value) {
        const int16_t stored = low16(static_cast<uint32_t>(value) << al);
        block[zigzag_order[k]] = stored;
        // A value shifted out of 16 bits stores as zero (only corrupt data does that).
        nonzero |= position_bit(k);
        if (stored == 0) nonzero &= ~position_bit(k);
      },
      eob_r);
  store.nonzero_positions[index] = nonzero;
  // This block is the first of the run.
  if (eob_r >= 0) d.eob_run = take_eob_run(d, s, eob_r) - 1;
}

PROGRESSIVE_INLINE void ac_refine_block(JpegDecoderState& d, BitSource& s, int32_t component,
                                        int32_t column, int32_t row) {
  const CoefficientStore& store = *d.ac_coef_store[component];
  const size_t index = coef_block_index(d, store, column, row);
  int16_t* block = coef_block_at(store, index);
  uint64_t nonzero = store.nonzero_positions[index];
  const int32_t p1 = 1 << d.scan_al;
  const int32_t m1 = -p1;
  const int32_t last = d.scan_se;
  int32_t k = d.scan_ss;
  const uint64_t band = positions_between(k, last);
  if (d.eob_run == 0) {
    const HuffLookup& table = *d.huff_lookup[d.comp_ac_table[component]];
    while (k <= last) {
      // A new value is +-1 (size 1); the combined lookup has already read its sign bit.
      const int32_t term = take_joint_term(d, s, table.ac_fast);
      int32_t r;
      int32_t new_value = 0;
      if (joint_has_value(term)) {
        const int32_t value = joint_value(term);
        if (value != 1 && value != -1) raise_error(d, ERR_BAD_HUFFMAN_DATA);
        r = joint_run(term);
        new_value = value > 0 ? p1 : m1;
      } else {
        r = joint_run(term);  // a symbol of size 0 found by the lookup, its code read
        int32_t size = 0;
        if (term == 0) {
          const int32_t rs = take_symbol(d, s, table);
          r = rs >> 4;
          size = rs & 15;
        }
        if (size != 0) {
          if (size != 1) raise_error(d, ERR_BAD_HUFFMAN_DATA);
          new_value = take_bits(d, s, 1) != 0 ? p1 : m1;
        } else if (r != 15) {
          d.eob_run = take_eob_run(d, s, r);
          break;
        }
      }
      // Skip r zero coefficients (correcting the nonzero ones met on the way) and stop on the
      // zero after them, where a new value goes; a run longer than the band's zeros stops
      // just past the band. Each nonzero coefficient met moves the stop one further.
      int32_t stop = k + r;
      uint64_t ahead = nonzero & band & positions_from(k);
      while (ahead != 0) {
        const int32_t position = lowest_position(ahead);
        if (position > stop) break;
        correct_coefficient(d, s, block, position, p1);
        ahead &= ahead - 1;
        stop++;
      }
      if (stop > last) stop = last + 1;
      if (new_value != 0 && stop < 64) {
        block[zigzag_order[stop]] = static_cast<int16_t>(new_value);
        nonzero |= position_bit(stop);
      }
      k = stop + 1;
    }
  }
  if (d.eob_run > 0) {
    // Only nonzero coefficients take a correction bit.
    if (k <= last) correct_coefficients(d, s, block, nonzero & band & positions_from(k), p1);
    d.eob_run--;
  }
  store.nonzero_positions[index] = nonzero;
}

PROGRESSIVE_INLINE void sequential_block_to_store(JpegDecoderState& d, BitSource& s,
                                                  int32_t component, int32_t column,
                                                  int32_t row) {
  int16_t* dc = coef_block_address(d, *d.dc_coef_store[component], column, row);
  int16_t* block = coef_block_address(d, *d.ac_coef_store[component], column, row);
  *dc = low16(static_cast<uint32_t>(
      advance_dc_predictor(d, component, take_dc_difference(d, s, component))));
  SourceReader reader{d, s};
  int32_t eob_r;
  decode_ac_terms(
      d, reader, *d.huff_lookup[d.comp_ac_table[component]], 1, 63,
      [block](int32_t k, int32_t value) { block[zigzag_order[k]] = static_cast<int16_t>(value); },
      eob_r);
}

// The scan walk with the block decoder known at compile time, so that it is inlined and the
// bit source stays in registers.
template <BlockDecoder DECODE_BLOCK>
void walk_scan(JpegDecoderState& d) {
  int32_t row_base[JPEG_MAX_COMPONENTS] = {0, 0, 0, 0};
  const bool single_component = d.scan_component_count == 1;
  BitSource s;
  load_bit_source(d, s);
  for (int32_t mcu_row = 0; mcu_row < d.scan_mcu_rows; mcu_row++) {
    // Past the end of the scan's data the blocks decode from fill bits, which the work bound
    // counts row by row.
    charge_fill_bits(d, s);
    int32_t col_base[JPEG_MAX_COMPONENTS] = {0, 0, 0, 0};
    for (int32_t m = 0; m < d.scan_mcus_per_row; m++) {
      int32_t h = 0;
      int32_t v = 0;
      if (d.restart_interval != 0 && d.restarts_left == 0) {
        store_bit_source(d, s);
        process_restart(d);
        load_bit_source(d, s);
      }
      for (int32_t j = 0; j < d.mcu_block_count; j++) {
        const int32_t c = d.mcu_block_comp[j];
        DECODE_BLOCK(d, s, c, col_base[c] + h, row_base[c] + v);
        step_to_next_block(d, c, single_component, h, v, col_base);
      }
      d.restarts_left--;
    }
    if (single_component) {
      row_base[d.scan_components[0]]++;
    } else {
      for (int32_t k = 0; k < d.scan_component_count; k++)
        row_base[d.scan_components[k]] += d.comp_v[d.scan_components[k]];
    }
  }
  store_bit_source(d, s);
}

}  // namespace

void decode_progressive_scan(JpegDecoderState& d, BlockDecoder decode_block) {
  if (decode_block == decode_dc_first)
    walk_scan<dc_first_block>(d);
  else if (decode_block == decode_dc_refine)
    walk_scan<dc_refine_block>(d);
  else if (decode_block == decode_ac_first)
    walk_scan<ac_first_block>(d);
  else if (decode_block == decode_ac_refine)
    walk_scan<ac_refine_block>(d);
  else
    walk_scan<sequential_block_to_store>(d);
}

void decode_dc_first(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                     int32_t row) {
  dc_first_block(d, s, component, column, row);
}

void decode_dc_refine(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                      int32_t row) {
  dc_refine_block(d, s, component, column, row);
}

void decode_ac_first(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                     int32_t row) {
  ac_first_block(d, s, component, column, row);
}

void decode_ac_refine(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                      int32_t row) {
  ac_refine_block(d, s, component, column, row);
}

void decode_sequential_block_to_store(JpegDecoderState& d, BitSource& s, int32_t component,
                                      int32_t column, int32_t row) {
  sequential_block_to_store(d, s, component, column, row);
}
