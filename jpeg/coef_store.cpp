// Coefficient stores and their dequantisation: allocation per component, the table each
// component is dequantised with, and the MCU-row load that turns stored blocks into the
// dequantised blocks of the transform (with the decode's vector dequantiser when it has one).
#include "jpeg/coef_store.h"

namespace {

inline int16_t low16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

}  // namespace

CoefficientStore* create_coef_store(JpegDecoderState& d, int32_t width_blocks,
                                    int32_t height_blocks, int32_t coefs_across,
                                    int32_t coefs_down) {
  auto* store = static_cast<CoefficientStore*>(pool_alloc(d, sizeof(CoefficientStore)));
  store->width_blocks = width_blocks;
  store->height_blocks = height_blocks;
  store->coefs_across = coefs_across;
  store->coefs_down = coefs_down;
  store->block_bytes = coefs_across * coefs_down * 2;
  store->nonzero_positions = nullptr;
  // At most 2048 x 2048 blocks of 128 bytes (8192 pixels, 2x2 sampling); refuse anything that
  // would not fit a 32-bit size rather than wrap.
  const uint64_t bytes = static_cast<uint64_t>(width_blocks) * static_cast<uint64_t>(height_blocks) *
                         static_cast<uint64_t>(store->block_bytes);
  if (width_blocks <= 0 || height_blocks <= 0 || bytes > 0x7FFFFFFFu)
    raise_error(d, ERR_OUT_OF_MEMORY);
  store->data = static_cast<int16_t*>(pool_alloc(d, static_cast<uint32_t>(bytes)));
  return store;
}

int16_t* coef_block_address(JpegDecoderState& d, const CoefficientStore& store, int32_t column,
                            int32_t row) {
  return coef_block_at(store, coef_block_index(d, store, column, row));
}

void allocate_coef_stores(JpegDecoderState& d) {
  // A grey frame's MCU is one block whatever sampling factors it states (up to 15 x 15), and
  // its scans cover only its own blocks: one block per MCU is all the store needs.
  const bool grey = d.colour_layout == LAYOUT_GREY;
  for (int32_t c = 0; c < d.component_count; c++) {
    const int32_t width = d.mcus_per_row * (grey ? 1 : d.comp_h[c]);
    const int32_t height = d.mcu_rows * (grey ? 1 : d.comp_v[c]);
    d.dc_coef_store[c] = create_coef_store(d, width, height, 1, 1);
    d.ac_coef_store[c] = create_coef_store(d, width, height, 8, 8);
  }
}

void set_output_quant(JpegDecoderState& d, int32_t component) {
  const uint16_t* q = d.quant_tables[d.comp_quant[component]];
  for (int32_t k = 0; k < 64; k++) d.output_quant[component][zigzag_order[k]] = q[k];
}

namespace {

// Zig-zag position of each natural-order position.
constexpr uint8_t ZIGZAG_POSITION[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

// Natural-order positions whose zig-zag position is below `limit`, as a bit mask.
constexpr uint64_t positions_below(int32_t limit) {
  uint64_t mask = 0;
  for (int32_t n = 0; n < 64; n++)
    if (ZIGZAG_POSITION[n] < limit) mask |= uint64_t{1} << n;
  return mask;
}

constexpr uint64_t CORNER_2X2 = positions_below(3);   // zig-zag 0..2 lie in the 2x2 corner
constexpr uint64_t CORNER_4X4 = positions_below(10);  // zig-zag 0..9 lie in the 4x4 corner

// Dequantises a stored block into dst (16-bit products, low halves) and returns its
// coefficient limit for the transform's shortcuts: at least one past the last nonzero zig-zag
// position. The scalar loop finds that position exactly; the vector path rounds it up to the
// next of 1, 3, 10 and 64, the only bounds the transforms tell apart (DC only, the 2x2 and
// 4x4 corners, everything).
int32_t dequantise_stored_block(DequantiseBlock vector_dequantise, int16_t dc, const int16_t* ac,
                                const uint16_t* q, int16_t* dst) {
  if (vector_dequantise != nullptr) {
    // Position 0 comes from the DC store, below; the AC store's entry there is not used.
    const uint64_t nonzero = vector_dequantise(ac, q, dst) & ~uint64_t{1};
    dst[0] = low16(uint32_t{static_cast<uint16_t>(dc)} * q[0]);
    if (nonzero == 0) return 1;
    if ((nonzero & ~CORNER_2X2) == 0) return 3;
    if ((nonzero & ~CORNER_4X4) == 0) return 10;
    return 64;
  }
  for (int32_t n = 1; n < 64; n++) dst[n] = low16(uint32_t{static_cast<uint16_t>(ac[n])} * q[n]);
  dst[0] = low16(uint32_t{static_cast<uint16_t>(dc)} * q[0]);
  int32_t limit = 64;
  while (limit > 1 && dst[zigzag_order[limit - 1]] == 0) limit--;
  return limit;
}

}  // namespace

void load_mcu_row_coefficients(JpegDecoderState& d) {
  int32_t col_base[JPEG_MAX_COMPONENTS] = {0, 0, 0, 0};
  int32_t b = 0;
  const bool single_component = d.scan_component_count == 1;
  const bool dc_only = d.scale_shift == JPEG_MAX_SCALE_SHIFT &&
                       chroma_shift_across(d) == JPEG_MAX_SCALE_SHIFT &&
                       chroma_shift_down(d) == JPEG_MAX_SCALE_SHIFT;
  for (int32_t m = 0; m < d.scan_mcus_per_row; m++) {
    int32_t h = 0;
    int32_t v = 0;
    for (int32_t j = 0; j < d.mcu_block_count; j++) {
      const int32_t c = d.mcu_block_comp[j];
      const int32_t column = col_base[c] + h;
      const int32_t row = d.output_block_row[c] + v;
      if (b >= d.mcu_row_blocks) raise_error(d, ERR_TOO_MANY_BLOCKS);
      int16_t* dst = d.block_ptrs[b];
      const int16_t* dc = coef_block_address(d, *d.dc_coef_store[c], column, row);
      if (dc_only) {
        // At 1/8 the transform uses the DC term alone (unless chroma is subsampled).
        dst[0] = low16(uint32_t{static_cast<uint16_t>(*dc)} * d.output_quant[c][0]);
        d.block_coef_limit[b] = 1;
      } else {
        const int16_t* ac = coef_block_address(d, *d.ac_coef_store[c], column, row);
        d.block_coef_limit[b] =
            dequantise_stored_block(d.kernels->dequantise, *dc, ac, d.output_quant[c], dst);
      }
      b++;
      step_to_next_block(d, c, single_component, h, v, col_base);
    }
  }
  if (single_component) {
    d.output_block_row[d.scan_components[0]]++;
  } else {
    for (int32_t i = 0; i < d.scan_component_count; i++)
      d.output_block_row[d.scan_components[i]] += d.comp_v[d.scan_components[i]];
  }
}
