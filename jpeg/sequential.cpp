// Sequential (baseline and extended) entropy decoding of one MCU row into dequantised
// coefficient blocks. The hot loop keeps the bit reader in locals; block_coef_limit records
// where each block's zeros begin, for the clearing of the slot's next block and for the
// inverse DCT's shortcuts.
#include "jpeg/sequential_block.h"

namespace {

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
  // A short AC code with its value bits in one lookup: a joint term, or 0.
  int32_t ac_term(const HuffLookup& table) {
    if (count < SYMBOL_FILL_BITS) fill();
    const int32_t entry = table.ac_fast[fast_index()];
    if (entry != 0) skip_entry_bits(bits, count, entry);
    return entry;
  }
  // The AC terms (and end of block) that the next bits hold, for passing over them: an entry
  // of HuffLookup::ac_skip, or 0. pass_over() then consumes its bits.
  int32_t ac_skip(const HuffLookup& table) {
    if (count < SYMBOL_FILL_BITS) fill();
    return table.ac_skip[fast_index()];
  }
  void pass_over(int32_t entry) { skip_entry_bits(bits, count, entry); }
  // A short DC size code with its value bits in one lookup: a joint term, or 0.
  int32_t dc_term(const HuffLookup& table) {
    if (count < SYMBOL_FILL_BITS) fill();
    const int32_t entry = table.dc_fast[fast_index()];
    if (entry != 0) skip_entry_bits(bits, count, entry);
    return entry;
  }
};

}  // namespace

namespace {

// Which blocks of an MCU keep their AC terms: all (full size, 1/2, 1/4), none (1/8 without
// subsampled chroma), or the chroma blocks alone (1/8 with subsampled chroma, whose blocks
// become 2 x 2, 2 x 1 or 1 x 2 samples while the luma blocks become one).
enum class AcKept { ALL, NONE, CHROMA };

template <AcKept KEPT>
void decode_row(JpegDecoderState& d) {
  FastReader reader{d, 0, 0, nullptr, nullptr, nullptr, 0};
  reader.load();
  int32_t b = 0;
  for (int32_t m = 0; m < d.scan_mcus_per_row; m++) {
    if (d.restart_interval != 0 && d.restarts_left == 0) {
      reader.store();
      process_restart(d);
      reader.load();
    }
    for (int32_t j = 0; j < d.mcu_block_count; j++, b++) {
      if constexpr (KEPT == AcKept::ALL)
        sequential::decode_block<false>(d, reader, j, b);
      else if constexpr (KEPT == AcKept::NONE)
        sequential::decode_block<true>(d, reader, j, b);
      else if (d.mcu_block_comp[j] == 0)
        sequential::decode_block<true>(d, reader, j, b);
      else
        sequential::decode_block<false>(d, reader, j, b);
    }
    d.restarts_left--;
  }
  reader.store();
  // Blocks decoded from fill bits past the data count against the work bound.
  charge_fill_bits(d, reader.pack());
}

}  // namespace

void decode_mcu_row(JpegDecoderState& d) {
  // At 1/8 the transform uses the DC terms alone, of every block but subsampled chroma's.
  if (d.scale_shift != JPEG_MAX_SCALE_SHIFT)
    decode_row<AcKept::ALL>(d);
  else if (chroma_shift_across(d) == JPEG_MAX_SCALE_SHIFT && chroma_shift_down(d) == JPEG_MAX_SCALE_SHIFT)
    decode_row<AcKept::NONE>(d);
  else
    decode_row<AcKept::CHROMA>(d);
}
