// One block of a sequential scan, decoded into its coefficient slot of the MCU row and
// dequantised, over any bit reader: the decoder's fast reader (sequential.cpp) and the plain
// window reader of the tests' twin (jpeg/reference/) share it, so that they differ only in how
// they read bits.
#pragma once

#include "jpeg/decoder_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sequential {

// Zeroes one 128-byte coefficient block. Compilers turn a memset of this size into a string
// store, whose start-up costs more than the eight 16-byte stores.
inline void clear_block(int16_t* coef) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i* out = reinterpret_cast<__m128i*>(coef);
  _mm_storeu_si128(out + 0, zero);
  _mm_storeu_si128(out + 1, zero);
  _mm_storeu_si128(out + 2, zero);
  _mm_storeu_si128(out + 3, zero);
  _mm_storeu_si128(out + 4, zero);
  _mm_storeu_si128(out + 5, zero);
  _mm_storeu_si128(out + 6, zero);
  _mm_storeu_si128(out + 7, zero);
#else
  std::memset(coef, 0, 128);
#endif
}

inline int16_t dequantise(int32_t value, uint16_t q) {
  // A 16-bit product: the low 16 bits of value x q, whatever overflows.
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) * q));
}

// Adds a DC difference to the predictor with 32-bit wrap-around and returns the new value.
inline int32_t advance_predictor(int32_t* predictor, int32_t difference) {
  *predictor = static_cast<int32_t>(static_cast<uint32_t>(*predictor) +
                                    static_cast<uint32_t>(difference));
  return *predictor;
}

// DC_ONLY: for decoding at 1/8, where a block's average is all that is used: the AC terms are
// decoded (and checked) as ever but not stored, and the block keeps only its DC term.
// Always inlined: the block loop keeps the reader in registers only when both forms sit in it.
template <bool DC_ONLY = false, typename Reader>
inline __attribute__((always_inline)) void decode_block(JpegDecoderState& d, Reader& reader, int32_t j, int32_t b) {
  const int32_t c = d.mcu_block_comp[j];
  int16_t* coef = d.block_ptrs[b];
  // Whatever the slot's previous block left below its limit is cleared in one sweep: a
  // 128-byte clear costs less than clearing position by position inside runs, whose
  // data-dependent loops mispredict. A limit of 1 means only position 0, rewritten below.
  if (!DC_ONLY && d.block_coef_limit[b] > 1) clear_block(coef);
  const uint16_t* q = d.quant_tables[d.comp_quant[c]];
  const HuffLookup& dc_table = *d.mcu_block_dc_lookup[j];
  const int32_t dc_term = reader.dc_term(dc_table);
  int32_t difference = joint_value(dc_term);
  if (dc_term == 0) {
    const int32_t size = reader.symbol(dc_table);
    // Categories above 16 have no meaning for 8-bit samples and cannot be received.
    if (size > 16) raise_error(d, ERR_BAD_HUFFMAN_DATA);
    difference = size == 0 ? 0 : reader.extend(size);
  }
  coef[0] = dequantise(advance_predictor(d.mcu_block_dc_pred[j], difference), q[0]);
  int32_t eob_r;
  if constexpr (DC_ONLY) {
    // Several terms per lookup where the table's pass-over entry holds them and they stay
    // within the block, term by term otherwise (which also reports a run past position 63 at
    // the term that makes it). A chain that reaches position 64 ends the block there, before
    // any end-of-block code. `room` is twice the positions left, the entries' own measure.
    const HuffLookup& table = *d.mcu_block_ac_lookup[j];
    int32_t room = 2 * 63;
    while (room > 0) {
      const int32_t entry = reader.ac_skip(table);
      const int32_t cost = entry >> AC_SKIP_COST_SHIFT;
      if (cost <= room) {
        reader.pass_over(entry);
        if ((entry & AC_SKIP_ENDS_BLOCK) != 0) break;
        room -= cost;
        continue;
      }
      const int32_t k = decode_ac_terms(d, reader, table, 64 - room / 2, 64 - room / 2,
                                        [](int32_t, int32_t) {}, eob_r);
      if (eob_r >= 0) break;
      room = 2 * (64 - k);
    }
    d.block_coef_limit[b] = 1;
    return;
  }
  d.block_coef_limit[b] = decode_ac_terms(
      d, reader, *d.mcu_block_ac_lookup[j], 1, 63,
      [coef, q](int32_t k, int32_t value) { coef[zigzag_order[k]] = dequantise(value, q[k]); },
      eob_r);
}

}  // namespace sequential
