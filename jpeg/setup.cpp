// Decode start: validating the frame, choosing the colour layout and MCU geometry, allocating
// every per-decode buffer once, and setting up each scan (geometry, table bindings, predictors,
// restart counters, switch to entropy-coded data).
#include "jpeg/decoder_internal.h"

namespace {

struct LayoutChoice {
  int32_t h, v;
  JpegColourLayout layout;
  int32_t blocks_per_mcu, mcu_width, mcu_height;
};

constexpr LayoutChoice COLOUR_LAYOUTS[] = {
    {1, 1, LAYOUT_H1V1, 3, 8, 8},
    {2, 1, LAYOUT_H2V1, 4, 16, 8},
    {1, 2, LAYOUT_H1V2, 4, 8, 16},
    {2, 2, LAYOUT_H2V2, 6, 16, 16},
};

void choose_layout(JpegDecoderState& d) {
  if (d.component_count == 1) {
    // The geometry divides by the sampling factors, so a grey frame needs nonzero ones even
    // though its MCU is always one block.
    if (d.comp_h[0] == 0 || d.comp_v[0] == 0) raise_error(d, ERR_UNSUPPORTED_SAMPLING);
    d.colour_layout = LAYOUT_GREY;
    d.blocks_per_mcu = 1;
    d.mcu_width = 8;
    d.mcu_height = 8;
    return;
  }
  if (d.component_count != 3) raise_error(d, ERR_UNSUPPORTED_COMPONENTS);
  for (int32_t c = 1; c < 3; c++)
    if (d.comp_h[c] != 1 || d.comp_v[c] != 1) raise_error(d, ERR_UNSUPPORTED_SAMPLING);
  for (const LayoutChoice& choice : COLOUR_LAYOUTS) {
    if (d.comp_h[0] == choice.h && d.comp_v[0] == choice.v) {
      d.colour_layout = choice.layout;
      d.blocks_per_mcu = choice.blocks_per_mcu;
      d.mcu_width = choice.mcu_width;
      d.mcu_height = choice.mcu_height;
      return;
    }
  }
  raise_error(d, ERR_UNSUPPORTED_SAMPLING);
}

uint8_t* align8(void* p) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(p);
  return static_cast<uint8_t*>(p) + ((8u - (address & 7u)) & 7u);
}

// True when the scan codes every component of a colour frame, interleaved, in frame order:
// the layout the MCU-row pipeline decodes directly.
bool scan_covers_frame_in_order(const JpegDecoderState& d) {
  if (d.scan_component_count != d.component_count) return false;
  for (int32_t k = 0; k < d.scan_component_count; k++)
    if (d.scan_components[k] != k) return false;
  return true;
}

}  // namespace

int32_t JpegDecoder::start_decoding() {
  if (decoding_started) return 0;
  if (error_code != 0) return -1;
  try {
    begin_decoding(*this);
  } catch (const JpegFailure&) {
    return -1;
  }
  decoding_started = true;
  return 0;
}

void begin_decoding(JpegDecoderState& d) {
  setup_frame(d);
  if (d.progressive)
    start_progressive(d);
  else
    start_sequential(d);
}

void start_sequential(JpegDecoderState& d) {
  if (setup_scan(d) == 0) raise_error(d, ERR_UNEXPECTED_MARKER);
  // A colour frame whose components come in separate (or reordered) scans is decoded whole
  // into coefficient stores, like a progressive frame.
  if (d.component_count > 1 && !scan_covers_frame_in_order(d)) {
    start_buffered_sequential(d);
    return;
  }
  // The one scan, decoded MCU row by MCU row as the rows are read.
  charge_work(d, int64_t{d.scan_mcus_per_row} * d.scan_mcu_rows * d.mcu_block_count *
                     WORK_UNITS_PER_VISIT);
}

void setup_frame(JpegDecoderState& d) {
  choose_layout(d);
  d.kernels = &current_kernels();
  d.mcus_per_row = (d.image_width + d.mcu_width - 1) / d.mcu_width;
  d.mcu_rows = (d.image_height + d.mcu_height - 1) / d.mcu_height;
  d.output_bytes_per_pixel = d.colour_layout == LAYOUT_GREY ? 1 : 4;
  d.row_stride = ((d.image_width + 15) & ~15) * d.output_bytes_per_pixel;
  // At a reduced scale the rows are shorter and fewer; the buffers keep their full-size
  // capacity, so that a decode allocates the same blocks at every scale.
  d.output_row_bytes = scaled_width(d) * d.output_bytes_per_pixel;
  d.output_mcu_height = d.mcu_height >> d.scale_shift;
  d.row_buffer_a = static_cast<uint8_t*>(pool_alloc(d, static_cast<uint32_t>(d.row_stride + 8)));
  d.row_buffer_b = static_cast<uint8_t*>(pool_alloc(d, static_cast<uint32_t>(d.row_stride + 8)));
  d.mcu_row_blocks = d.blocks_per_mcu * d.mcus_per_row;
  if (d.mcu_row_blocks > JPEG_MAX_MCU_ROW_BLOCKS) raise_error(d, ERR_TOO_MANY_BLOCKS);
  uint8_t* blocks = align8(pool_alloc(d, static_cast<uint32_t>(d.mcu_row_blocks * 128 + 8)));
  for (int32_t i = 0; i < d.mcu_row_blocks; i++) {
    d.block_ptrs[i] = reinterpret_cast<int16_t*>(blocks + 128 * i);
    d.block_coef_limit[i] = 64;
  }
  d.mcu_row_samples = align8(pool_alloc(d, static_cast<uint32_t>(d.mcu_row_blocks * 64 + 8)));
  d.rows_left = scaled_height(d);
  d.rows_left_in_mcu_row = 0;
  build_colour_tables(d);
  set_work_budget(d);
}

// The work bound. What the size of the input does not limit is what it costs: block visits
// (every scan walks its components' whole block grid, however few bytes it has; about 5 ns
// each) and fill bits (past a segment's data the reader delivers 1-bits without end, which
// decode like data; up to about 2 ns each). Data bits are limited by the input, and a block
// visit decodes at most one symbol that takes no bits. So a decode spends units: 16 per block
// visit (WORK_UNITS_PER_VISIT; a sequential block is one visit) and 8 per bit consumed past a
// segment's data (WORK_UNITS_PER_FILL_BIT). Scans are charged whole before they run, fill bits
// after each MCU row and at the end of every segment and restart interval. A decode has
// 2^24 units (WORK_UNITS_PER_IMAGE), and its frame 48 per pixel of its MCUs
// (WORK_UNITS_PER_PIXEL): 192 visits per 64 pixels. The costliest script cjpeg takes (100
// scans) visits at most 100 blocks per 64 pixels of a grey frame and 122 of a 4:4:4 one (11
// interleaved DC scans); a sequential 4:4:4 frame visits 3. Running out fails the decode with
// ERR_BAD_PROGRESSIVE_SCAN.
void set_work_budget(JpegDecoderState& d) {
  const int64_t pixels = int64_t{d.mcus_per_row} * d.mcu_width * d.mcu_rows * d.mcu_height;
  d.work_units_left = WORK_UNITS_PER_IMAGE + WORK_UNITS_PER_PIXEL * pixels;
}

void charge_work(JpegDecoderState& d, int64_t units) {
  d.work_units_left -= units;
  if (d.work_units_left < 0) raise_error(d, ERR_BAD_PROGRESSIVE_SCAN);
}

int32_t setup_scan(JpegDecoderState& d) {
  if (read_scan_header(d) == 0) return 0;
  compute_scan_geometry(d);
  bind_huffman_tables(d);
  check_quant_tables(d);
  for (int32_t c = 0; c < d.component_count; c++) d.dc_pred[c] = 0;
  d.eob_run = 0;
  // Without restart markers the counter is never consulted; setting it anyway keeps its count
  // down within one scan's MCUs.
  d.restarts_left = d.restart_interval;
  if (d.restart_interval != 0) d.next_restart_num = 0;
  start_entropy_segment(d);
  return 1;
}

void compute_scan_geometry(JpegDecoderState& d) {
  int32_t h_max = 1;
  int32_t v_max = 1;
  for (int32_t c = 0; c < d.component_count; c++) {
    if (d.comp_h[c] > h_max) h_max = d.comp_h[c];
    if (d.comp_v[c] > v_max) v_max = d.comp_v[c];
  }
  for (int32_t c = 0; c < d.component_count; c++) {
    d.comp_width_blocks[c] = ((d.comp_h[c] * d.image_width + h_max - 1) / h_max + 7) / 8;
    d.comp_height_blocks[c] = ((d.comp_v[c] * d.image_height + v_max - 1) / v_max + 7) / 8;
  }
  if (d.scan_component_count == 1) {
    const int32_t c = d.scan_components[0];
    d.scan_mcus_per_row = d.comp_width_blocks[c];
    d.scan_mcu_rows = d.comp_height_blocks[c];
    d.mcu_block_count = 1;
    d.mcu_block_comp[0] = c;
    return;
  }
  d.scan_mcus_per_row = ((d.image_width + 7) / 8 + h_max - 1) / h_max;
  d.scan_mcu_rows = ((d.image_height + 7) / 8 + v_max - 1) / v_max;
  int32_t count = 0;
  for (int32_t k = 0; k < d.scan_component_count; k++) {
    const int32_t c = d.scan_components[k];
    const int32_t blocks = d.comp_h[c] * d.comp_v[c];
    // Interleaved MCUs hold at most ten blocks.
    if (count + blocks > JPEG_MAX_MCU_BLOCKS) raise_error(d, ERR_UNSUPPORTED_SAMPLING);
    for (int32_t i = 0; i < blocks; i++) d.mcu_block_comp[count++] = c;
  }
  d.mcu_block_count = count;
}

void use_frame_mcu_structure(JpegDecoderState& d) {
  d.scan_component_count = d.component_count;
  for (int32_t i = 0; i < d.component_count; i++) d.scan_components[i] = i;
  compute_scan_geometry(d);
  // Output dequantises every component, also one that no scan has named.
  check_quant_tables(d);
}

void bind_huffman_tables(JpegDecoderState& d) {
  for (int32_t k = 0; k < d.scan_component_count; k++) {
    const int32_t c = d.scan_components[k];
    // Selectors index the eight slots directly; one past them names no table.
    if (d.scan_ss == 0) {
      const int32_t slot = d.comp_dc_table[c];
      if (slot < 0 || slot >= JPEG_HUFF_SLOTS || d.huff_bits[slot] == nullptr)
        raise_error(d, ERR_MISSING_HUFF_TABLE);
    }
    if (d.scan_se > 0) {
      const int32_t slot = d.comp_ac_table[c];
      if (slot < 0 || slot >= JPEG_HUFF_SLOTS || d.huff_bits[slot] == nullptr)
        raise_error(d, ERR_MISSING_HUFF_TABLE);
    }
  }
  // Every defined slot gets a decoding table that reflects its latest definition; a table
  // whose slot has not been redefined since it was built is current already.
  for (int32_t slot = 0; slot < JPEG_HUFF_SLOTS; slot++) {
    if (d.huff_bits[slot] == nullptr) continue;
    if (d.huff_lookup[slot] != nullptr && !d.huff_lookup_stale[slot]) continue;
    build_huff_lookup(d, slot);
    d.huff_lookup_stale[slot] = false;
  }
  for (int32_t b = 0; b < d.mcu_block_count; b++) {
    const int32_t c = d.mcu_block_comp[b];
    const int32_t dc_slot = d.comp_dc_table[c];
    const int32_t ac_slot = d.comp_ac_table[c];
    d.mcu_block_dc_lookup[b] =
        dc_slot >= 0 && dc_slot < JPEG_HUFF_SLOTS ? d.huff_lookup[dc_slot] : nullptr;
    d.mcu_block_ac_lookup[b] =
        ac_slot >= 0 && ac_slot < JPEG_HUFF_SLOTS ? d.huff_lookup[ac_slot] : nullptr;
    d.mcu_block_dc_pred[b] = &d.dc_pred[c];
  }
  // At 1/8 the sequential row decoder passes over the AC terms of DC-only blocks with the
  // tables' pass-over entries; they are made for the tables such a scan reads, and only then.
  if (d.scale_shift == JPEG_MAX_SCALE_SHIFT && !d.progressive && !d.coefficients_buffered)
    for (int32_t b = 0; b < d.mcu_block_count; b++)
      if (d.mcu_block_ac_lookup[b] != nullptr) prepare_ac_skip(d, d.comp_ac_table[d.mcu_block_comp[b]]);
}

void check_quant_tables(JpegDecoderState& d) {
  for (int32_t k = 0; k < d.scan_component_count; k++) {
    const int32_t t = d.comp_quant[d.scan_components[k]];
    if (t < 0 || t >= JPEG_QUANT_SLOTS || d.quant_tables[t] == nullptr)
      raise_error(d, ERR_MISSING_QUANT_TABLE);
  }
}
