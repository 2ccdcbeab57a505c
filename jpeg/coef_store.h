// Coefficient stores: per component, the grid of its coefficient blocks (DC and AC apart,
// quantised) that buffered decoding fills scan by scan and the MCU-row pipeline reads back,
// dequantised, one MCU row at a time. The block lookups here are inline for the scan walks.
#pragma once

#include "jpeg/decoder_internal.h"

inline size_t coef_block_index(JpegDecoderState& d, const CoefficientStore& store, int32_t column,
                        int32_t row) {
  // One unsigned comparison per bound also refuses negative values (the dimensions are
  // positive).
  if (static_cast<uint32_t>(column) >= static_cast<uint32_t>(store.width_blocks) ||
      static_cast<uint32_t>(row) >= static_cast<uint32_t>(store.height_blocks))
    raise_error(d, ERR_TOO_MANY_BLOCKS);
  return static_cast<size_t>(row) * static_cast<size_t>(store.width_blocks) +
         static_cast<size_t>(column);
}

inline int16_t* coef_block_at(const CoefficientStore& store, size_t index) {
  return reinterpret_cast<int16_t*>(reinterpret_cast<uint8_t*>(store.data) +
                                    index * static_cast<size_t>(store.block_bytes));
}

// Moves to the next block: along the row in a one-component scan; otherwise through the
// component's h x v blocks of the MCU, then on to its next MCU column.
inline void step_to_next_block(const JpegDecoderState& d, int32_t c, bool single_component,
                               int32_t& h, int32_t& v, int32_t* col_base) {
  if (single_component) {
    col_base[c]++;
    return;
  }
  if (++h == d.comp_h[c]) {
    h = 0;
    if (++v == d.comp_v[c]) {
      v = 0;
      col_base[c] += d.comp_h[c];
    }
  }
}
