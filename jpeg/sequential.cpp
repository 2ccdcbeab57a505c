// Sequential (baseline and extended) entropy decoding of one MCU row into dequantised
// coefficient blocks. The hot loop keeps the bit reader in locals; block_coef_limit records
// where each block's zeros begin, for the clearing of the slot's next block and for the
// inverse DCT's shortcuts.
#include "jpeg/decoder_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

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

template <typename Reader>
inline void decode_block(JpegDecoderState& d, Reader& reader, int32_t j, int32_t b) {
  const int32_t c = d.mcu_block_comp[j];
  int16_t* coef = d.block_ptrs[b];
  // Whatever the slot's previous block left below its limit is cleared in one sweep: a
  // 128-byte clear costs less than clearing position by position inside runs, whose
  // data-dependent loops mispredict. A limit of 1 means only position 0, rewritten below.
  if (d.block_coef_limit[b] > 1) clear_block(coef);
  const uint16_t* q = d.quant_tables[d.comp_quant[c]];
  const HuffLookup& dc_table = *d.mcu_block_dc_lookup[j];
  const int32_t dc_term = reader.dc_term(dc_table);
  int32_t difference = dc_term >> 8;
  if (dc_term == 0) {
    const int32_t size = reader.symbol(dc_table);
    // Categories above 16 have no meaning for 8-bit samples and cannot be received.
    if (size > 16) raise_error(d, ERR_BAD_HUFFMAN_DATA);
    difference = size == 0 ? 0 : reader.extend(size);
  }
  coef[0] = dequantise(advance_predictor(d.mcu_block_dc_pred[j], difference), q[0]);
  int32_t eob_r;
  d.block_coef_limit[b] = decode_ac_terms(
      d, reader, *d.mcu_block_ac_lookup[j], 1, 63,
      [coef, q](int32_t k, int32_t value) { coef[zigzag_order[k]] = dequantise(value, q[k]); },
      eob_r);
}

// The fast reader. Its bit buffer has the machine's width. A 64-bit buffer is topped up to
// at least 32 bits before each symbol, which covers a code of up to 16 bits and the up to 16
// value bits that follow it; a 32-bit one to at least 16 bits before each symbol and again
// before value bits when needed. Its state is plain scalars whose address is never taken, so
// that the compiler keeps them in registers through the block loop.
struct FastReader {
  static constexpr int32_t SYMBOL_FILL_BITS = ENTROPY_WORD_BITS >= 64 ? 32 : 16;
  JpegDecoderState& d;
  EntropyWord bits;
  int32_t count;
  uint8_t* ptr;
  // Where the input ends, and the fetch count at `origin`: the count at ptr follows from them,
  // which keeps one fewer value live in the loop (i686 has few registers).
  uint8_t* end;
  uint8_t* origin;
  int64_t fetched_at_origin;

  void load() {
    BitSource s;
    load_bit_source(d, s);
    unpack(s);
  }
  void store() { store_bit_source(d, pack()); }
  BitSource pack() const {
    return BitSource{bits, count, fetched_at_origin + (ptr - origin), ptr,
                     static_cast<int32_t>(end - ptr)};
  }
  void unpack(const BitSource& s) {
    bits = s.bits;
    count = s.count;
    ptr = s.ptr;
    end = s.ptr + s.avail;
    origin = s.ptr;
    fetched_at_origin = s.fetched;
  }
  int32_t available() const { return static_cast<int32_t>(end - ptr); }
  void advance(int32_t n) { ptr += n; }
  void fill() {
    fill_entropy_word(*this, [this]() { unpack(fetched_entropy_byte_slowly(d, pack())); });
  }
  uint32_t fast_index() const {
    return static_cast<uint32_t>(bits >> (ENTROPY_WORD_BITS - JPEG_HUFF_FAST_BITS));
  }
  void skip(int32_t n) {
    bits <<= n;
    count -= n;
  }
  int32_t symbol(const HuffLookup& table) {
    if (count < SYMBOL_FILL_BITS) fill();
    const uint32_t entry = table.fast[fast_index()];
    if (entry != 0) {
      skip(static_cast<int32_t>((entry >> 8) & 31));
      return static_cast<int32_t>(entry & 0xFF);
    }
    BitSource s = pack();
    const int32_t symbol = decode_long_huff_symbol(s, table);
    unpack(s);
    return symbol;
  }
  int32_t extend(int32_t size) {
    if (ENTROPY_WORD_BITS < 64 && count < size) fill();
    const uint32_t v = static_cast<uint32_t>(bits >> (ENTROPY_WORD_BITS - size));
    skip(size);
    return extend_value(v, size);
  }
  // A short AC code with its value bits in one lookup: value * 256 + run * 16 + bits, or 0.
  int32_t ac_term(const HuffLookup& table) {
    if (count < SYMBOL_FILL_BITS) fill();
    const int32_t entry = table.ac_fast[fast_index()];
    if (entry != 0) skip(entry & 15);
    return entry;
  }
  // A short DC size code with its value bits in one lookup: difference * 256 + bits, or 0.
  int32_t dc_term(const HuffLookup& table) {
    if (count < SYMBOL_FILL_BITS) fill();
    const int32_t entry = table.dc_fast[fast_index()];
    if (entry != 0) skip(entry & 15);
    return entry;
  }
};

// The window reader has no combined lookups: every term goes through symbol() and extend().
inline int32_t no_joint_term(const HuffLookup&) { return 0; }

struct WindowReader {
  JpegDecoderState& d;
  int32_t symbol(const HuffLookup& table) { return window_decode_huff_symbol(d, table); }
  int32_t extend(int32_t size) { return window_receive_extend(d, size); }
  int32_t ac_term(const HuffLookup& table) { return no_joint_term(table); }
  int32_t dc_term(const HuffLookup& table) { return no_joint_term(table); }
};

}  // namespace

void decode_mcu_row(JpegDecoderState& d) {
  FastReader reader{d, 0, 0, nullptr, nullptr, nullptr, 0};
  reader.load();
  int32_t b = 0;
  for (int32_t m = 0; m < d.scan_mcus_per_row; m++) {
    if (d.restart_interval != 0 && d.restarts_left == 0) {
      reader.store();
      process_restart(d);
      reader.load();
    }
    for (int32_t j = 0; j < d.mcu_block_count; j++, b++) decode_block(d, reader, j, b);
    d.restarts_left--;
  }
  reader.store();
  // Blocks decoded from fill bits past the data count against the work bound.
  charge_fill_bits(d, reader.pack());
}

void decode_mcu_row_reference(JpegDecoderState& d) {
  WindowReader reader{d};
  int32_t b = 0;
  for (int32_t m = 0; m < d.scan_mcus_per_row; m++) {
    if (d.restart_interval != 0 && d.restarts_left == 0) {
      read_restart_marker(d);
      window_prime_entropy(d);
    }
    for (int32_t j = 0; j < d.mcu_block_count; j++, b++) decode_block(d, reader, j, b);
    d.restarts_left--;
  }
}
