// Internals shared by the decoder's source files: the error exit, the memory pool, byte input,
// the header and entropy bit readers, and the entry points each stage offers the others.
// Not part of the public interface; the unit tests include it to drive stages directly.
#pragma once

#include "jpeg/jpeg_decoder.h"

#include <cstring>

// Thrown by raise_error after the decoder has released everything; each public operation
// catches it and reports the failure.
struct JpegFailure {
  int32_t code;
};

// ---- reduced scale ---------------------------------------------------------------------------
constexpr int32_t JPEG_MAX_SCALE_SHIFT = 3;  // 1/8

// The picture's size at the scale in force: ceil(frame size / 2^scale_shift).
inline int32_t scaled_width(const JpegDecoderState& d) {
  return (d.image_width + (1 << d.scale_shift) - 1) >> d.scale_shift;
}
inline int32_t scaled_height(const JpegDecoderState& d) {
  return (d.image_height + (1 << d.scale_shift) - 1) >> d.scale_shift;
}
// The scale shifts of the chroma blocks across and down. At a reduced scale a subsampled
// chroma block is decoded at the luma's size times its subsampling along that axis (4:2:2 at
// 1/2: 8 x 4 samples), so that each chroma sample stands for the full-size pixels of one
// output pixel, as the box filter of the full-size decode has it, rather than being averaged
// with its neighbour first. At full size nothing changes.
inline int32_t chroma_shift_across(const JpegDecoderState& d) {
  const bool halved = d.colour_layout == LAYOUT_H2V1 || d.colour_layout == LAYOUT_H2V2;
  return halved && d.scale_shift > 0 ? d.scale_shift - 1 : d.scale_shift;
}
inline int32_t chroma_shift_down(const JpegDecoderState& d) {
  const bool halved = d.colour_layout == LAYOUT_H1V2 || d.colour_layout == LAYOUT_H2V2;
  return halved && d.scale_shift > 0 ? d.scale_shift - 1 : d.scale_shift;
}

// ---- decoding tables and stores shared by the decoder's source files -------------------------

// Decoding table of one Huffman table slot. The first three fields form the canonical table
// (an 8-bit primary lookup, code lengths per symbol, and a tree for codes longer than 8 bits;
// child of node t for bit b is nodes[-t - b]). fast_* is a wider lookup derived from it.
struct HuffLookup {
  int32_t primary[256];
  uint8_t lengths[256];
  int32_t nodes[512];
  // Indexed by the next JPEG_HUFF_FAST_BITS bits: (bits consumed << 8) | symbol, or 0 when the
  // code is longer than the index and the tree has to be walked.
  uint16_t fast[1 << 10];
  // For AC decoding, same index: when an AC symbol's code and value bits all fit in the index,
  // a joint term (below: value, run, bits consumed; value 0 for the symbols of size 0, the
  // ends of band and the runs of 16 zeros); otherwise 0.
  int32_t ac_fast[1 << 10];
  // For DC decoding (tables of slots 0..3), same index: when the size category's code and its
  // value bits all fit in the index, a joint term of the difference (run 0); otherwise 0.
  int32_t dc_fast[1 << 10];
  // For AC terms that are read only to be passed over (blocks whose transform uses the DC term
  // alone), same index: the whole terms (code and value bits) the index holds, possibly ended
  // by an end of block: bits consumed (bits 0..5), AC_SKIP_ENDS_BLOCK (bit 6) when an
  // end-of-block code follows them, zig-zag positions advanced (7..13, at most 64); so the
  // entry shifted right by 6 is twice the positions advanced, plus one with an end of block,
  // and the terms stay within a block with p positions left when that is at most 2 p.
  // AC_SKIP_NONE when not even the first term fits: it is more than any block has left. Only
  // codes of the table's own (canonical, no symbol listed twice) are chained; anything else
  // leaves the entry AC_SKIP_NONE for the term-by-term path. Made only for the decodes that
  // read them (prepare_ac_skip): ac_skip_ready says whether they are there.
  uint16_t ac_skip[1 << 10];
  int32_t ac_skip_ready;
};
constexpr int32_t AC_SKIP_ENDS_BLOCK = 0x40;
constexpr int32_t AC_SKIP_ADVANCE_SHIFT = 7;
constexpr int32_t AC_SKIP_COST_SHIFT = 6;  // entry >> 6: 2 x positions advanced (+ 1 at an end)
constexpr uint16_t AC_SKIP_NONE = 0xFFFF;

// A joint term: value * 1024 + run * 64 + bits consumed (code and value bits, at most 16). The
// bits sit alone in the low six bits, so that the shift that consumes them takes the entry as
// its count unmasked (a shift of the bit buffer uses only the low bits of its count): the
// lookup-to-shift step is the chain that every term of a block waits on.
constexpr int32_t JOINT_RUN_SHIFT = 6;
constexpr int32_t JOINT_VALUE_SHIFT = 10;
inline int32_t joint_term(int32_t value, int32_t run, int32_t bits) {
  return value * (1 << JOINT_VALUE_SHIFT) + (run << JOINT_RUN_SHIFT) + bits;
}
inline int32_t joint_value(int32_t term) { return term >> JOINT_VALUE_SHIFT; }
// True for a term with a nonzero value (of either sign); false for size 0 or no entry.
inline bool joint_has_value(int32_t term) {
  return static_cast<uint32_t>(term) >= (1u << JOINT_VALUE_SHIFT);
}
inline int32_t joint_run(int32_t term) { return (term >> JOINT_RUN_SHIFT) & 15; }
constexpr int32_t JPEG_HUFF_FAST_BITS = 10;

// A grid of coefficient blocks of one component (progressive frames and frames whose
// components come in separate scans).
struct CoefficientStore {
  int16_t* data;
  int32_t width_blocks;
  int32_t height_blocks;
  int32_t coefs_across;
  int32_t coefs_down;
  int32_t block_bytes;
  // Progressive AC stores: per block, the zig-zag positions holding nonzero values (bit k for
  // position k), so that refinement scans find them without walking the block.
  uint64_t* nonzero_positions;
};

// Memory that one decoder object keeps from one decode to the next, so that a decoder used for
// many images (the tile loader's) neither allocates nor rebuilds what the previous image left:
// pool blocks released by the last decode, and the Huffman decoding tables it built, each with
// the DHT contents it was built from. destroy() frees it all.
struct JpegKeptMemory {
  uint32_t live_block_bytes[JPEG_POOL_SLOTS];  // size of each live pool block (pool_blocks)
  void* spare_blocks[JPEG_POOL_SLOTS];         // released blocks, free for reuse
  uint32_t spare_block_bytes[JPEG_POOL_SLOTS];
  int32_t spare_count;
  uint32_t spare_total_bytes;
  // Per Huffman slot: the table last built (inside a live or spare block), and its source:
  // the 16 code counts followed by the symbols.
  HuffLookup* built_lookup[JPEG_HUFF_SLOTS];
  uint8_t built_from[JPEG_HUFF_SLOTS][16 + 256];
};
constexpr uint32_t JPEG_KEPT_BYTES_MAX = 2u << 20;  // released memory kept at most

static_assert(sizeof(JpegKeptMemory) <= JPEG_KEPT_STORAGE_BYTES,
              "JPEG_KEPT_STORAGE_BYTES must hold JpegKeptMemory");
static_assert(alignof(JpegKeptMemory) <= 8, "kept_storage is 8-byte aligned");

inline JpegKeptMemory& kept_memory(JpegDecoderState& d) {
  return *reinterpret_cast<JpegKeptMemory*>(d.kept_storage);
}
inline const JpegKeptMemory& kept_memory(const JpegDecoderState& d) {
  return *reinterpret_cast<const JpegKeptMemory*>(d.kept_storage);
}

// ---- kernels.cpp: the kernels of one decode ---------------------------------------------------
// One table per kernel level, chosen once per decode (setup_frame stores it in d.kernels): the
// stages call through it instead of asking simd_level() on every row. A null converter or
// dequantiser means the scalar code of the stage runs.
using TransformBlocks = void (*)(const int16_t* const* blocks, const int32_t* limits,
                                 int32_t count, uint8_t* out);
struct ColourRowJob;
using ColourRowConverter = void (*)(const ColourRowJob& job);
using DequantiseBlock = uint64_t (*)(const int16_t* coefficients, const uint16_t* quant,
                                     int16_t* out);
using PlanarConverter = void (*)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                 int32_t count, uint8_t* out);
struct JpegKernels {
  int32_t level;                          // the SimdLevel it was made for
  // Inverse DCT of an MCU row's blocks, by [horizontal][vertical] shift: 8 >> shift samples
  // along each axis, row-major at the start of each block's 64 bytes. [0][0] is the full-size
  // transform; shapes no decode uses are null.
  TransformBlocks transform_blocks[4][4];
  ColourRowConverter convert[5];          // by colour layout; null: scalar converter
  DequantiseBlock dequantise;             // null: scalar loop
  PlanarConverter convert_planar;         // rows at reduced size; null: scalar loop
};
// The table for the level in force now (simd_level()); simd.h declares kernels_for(level).
const JpegKernels& current_kernels();

// ---- decoder_core.cpp: error exit, pool, input ----------------------------------------------
[[noreturn]] void raise_error(JpegDecoderState& d, int32_t code);
void* pool_alloc(JpegDecoderState& d, uint32_t size);
// Puts the released block that starts at `block` back into the pool as it is (not cleared);
// null when no released block starts there.
void* pool_reclaim(JpegDecoderState& d, const void* block);
// Detaches the stream and releases every pool block; blocks within the limits are kept for
// the next decode of the object.
void release_resources(JpegDecoderState& d);
void free_kept_memory(JpegDecoderState& d);
void refill_input(JpegDecoderState& d);
void initialise_decoder(JpegDecoderState& d, JpegInputStream& stream);

inline int read_byte_flagged(JpegDecoderState& d, bool& synthetic) {
  if (d.input_count == 0) {
    refill_input(d);
    if (d.input_count == 0) {
      synthetic = true;
      const int b = d.eoi_phase ? 0xD9 : 0xFF;
      d.eoi_phase ^= 1;
      return b;
    }
  }
  synthetic = false;
  d.input_count--;
  return *d.input_ptr++;
}

inline int read_byte(JpegDecoderState& d) {
  bool synthetic;
  return read_byte_flagged(d, synthetic);
}

void push_back_byte(JpegDecoderState& d, uint8_t b);

// ---- markers.cpp: segments, frame and scan headers -------------------------------------------
extern const int32_t zigzag_order[64];
void read_headers(JpegDecoderState& d);
int32_t read_scan_header(JpegDecoderState& d);
int32_t read_markers(JpegDecoderState& d);
void find_soi(JpegDecoderState& d);
int32_t next_marker(JpegDecoderState& d);
void parse_dht(JpegDecoderState& d);
void parse_dqt(JpegDecoderState& d);
void parse_dri(JpegDecoderState& d);
void parse_sof(JpegDecoderState& d);
void parse_sos(JpegDecoderState& d);
void skip_segment(JpegDecoderState& d);

// ---- huffman.cpp: bit readers, Huffman tables, restart markers -------------------------------
extern const int32_t extend_threshold[18];

inline uint32_t rotate_left(uint32_t x, int32_t n) {
  n &= 31;
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}

// The refill step shared by the header and reference readers: takes two bytes into the high
// half of the window once the bits below the view are used up.
template <typename FetchByte>
inline uint32_t window_take_bits(JpegDecoderState& d, int32_t n, FetchByte fetch) {
  const uint32_t result = (d.bit_window & 0xFFFFu) >> (16 - n);
  const int32_t old_bits_left = d.bits_left;
  d.bits_left -= n;
  if (d.bits_left > 0) {
    d.bit_window = rotate_left(d.bit_window, n);
    return result;
  }
  d.bit_window = rotate_left(d.bit_window, old_bits_left);
  const uint32_t first = fetch();
  const uint32_t second = fetch();
  d.bit_window = (d.bit_window & 0xFFFFu) | (first << 24) | (second << 16);
  d.bit_window = rotate_left(d.bit_window, n - old_bits_left);
  d.bits_left += 16;
  return result;
}

// Loads the 32-bit window with four bytes: the view (low half) b0 b1, then b2 b3 above it.
void load_window_from_four(JpegDecoderState& d, uint32_t b0, uint32_t b1, uint32_t b2,
                           uint32_t b3);
// Hands the header window's unread bytes back to the input.
void push_back_header_lookahead(JpegDecoderState& d);

// Header reading: raw bytes through the 32-bit bit_window.
void prime_header_window(JpegDecoderState& d);
uint32_t read_bits(JpegDecoderState& d, int32_t n);
int32_t peek_byte(const JpegDecoderState& d);

// Entropy-coded data: the next data byte with stuffed zeros removed; markers stay in the input
// and read as 0xFF; past the data the synthetic FF D9 bytes come through.
struct EntropyByte {
  uint8_t value;
  // What taking it did: consumed input (data), nothing (a marker is in the way), or flipped the
  // synthetic phase (past the data).
  enum Kind : uint8_t { DATA, AT_MARKER, PAST_END } kind;
};
EntropyByte read_entropy_byte(JpegDecoderState& d);

// Switches from header bytes to this scan's entropy-coded data (gives back the header
// look-ahead and empties the entropy reader).
void start_entropy_segment(JpegDecoderState& d);
// Restart marker search and check with raw reads, then the per-interval resets (predictors,
// EOB run, counters). process_restart runs it for the fast reader.
void read_restart_marker(JpegDecoderState& d);
// Ends an entropy-coded segment: leaves the input exactly where a reader that fetches two bytes
// at a time, 17 to 32 bits ahead, would leave it (handing back bytes fetched beyond that, or
// taking the ones it would have taken), so the position never depends on this reader's
// look-ahead.
void finish_entropy_segment(JpegDecoderState& d);
void process_restart(JpegDecoderState& d);
void reset_entropy_reader(JpegDecoderState& d);

// Makes huff_lookup[slot] the decoding table of the slot's current DHT contents: reuses the
// table last built from the same contents by this decoder object, or builds one.
void build_huff_lookup(JpegDecoderState& d, int32_t slot);
// Builds a decoding table into zero-filled `t`, its fast lookups by code ranges. False when
// the tree runs out of nodes.
bool fill_huff_lookup(HuffLookup& t, const uint8_t* counts /* [1..16] used */,
                      const uint8_t* symbols, int32_t slot);
// Gives the AC table of `slot` its pass-over entries (HuffLookup::ac_skip) if it has none yet.
void prepare_ac_skip(JpegDecoderState& d, int32_t slot);
// Resolves the fast lookups of prefixes first..end-1 one by one from the canonical table.
void resolve_fast_prefixes(HuffLookup& t, uint32_t first, uint32_t end, int32_t slot);
// True when the 16 code counts fit their lengths (Kraft inequality).
bool huff_counts_fit(const uint8_t* counts_by_length /* [1..16] used */);

// ---- the fast entropy reader ------------------------------------------------------------------
// Hot loops copy the reader into a local BitSource, work on it, and store it back. Its bit buffer
// has the machine's width (32 bits on i686, 64 on x86-64): wider words cost extra instructions
// on every shift of a 32-bit machine. The decoder state keeps the bits left-aligned in 64.
using EntropyWord = uintptr_t;
constexpr int32_t ENTROPY_WORD_BITS = static_cast<int32_t>(sizeof(EntropyWord) * 8);
constexpr int32_t ENTROPY_WORD_BYTES = static_cast<int32_t>(sizeof(EntropyWord));

struct BitSource {
  EntropyWord bits;  // next bits, most significant first; zero below the valid ones
  int32_t count;     // valid bits in `bits`
  int64_t fetched;   // bytes fetched since the segment began
  uint8_t* ptr;      // input position
  int32_t avail;     // input bytes at ptr

  int32_t available() const { return avail; }
  void advance(int32_t n) {
    ptr += n;
    avail -= n;
    fetched += n;
  }
};

inline void load_bit_source(const JpegDecoderState& d, BitSource& s) {
  s.bits = static_cast<EntropyWord>(d.entropy_bits >> (64 - ENTROPY_WORD_BITS));
  s.count = d.entropy_bit_count;
  s.fetched = d.entropy_bytes_fetched;
  s.ptr = d.input_ptr;
  s.avail = d.input_count;
}

inline void store_bit_source(JpegDecoderState& d, const BitSource& s) {
  d.entropy_bits = static_cast<uint64_t>(s.bits) << (64 - ENTROPY_WORD_BITS);
  d.entropy_bit_count = s.count;
  d.entropy_bytes_fetched = s.fetched;
  d.input_ptr = s.ptr;
  d.input_count = s.avail;
}

// Appends one byte through read_entropy_byte (0xFF bytes, refills, markers, end of data).
void fetch_entropy_byte_slowly(JpegDecoderState& d, BitSource& s);
// The same on a copy: hot loops call this form so that their reader never has its address
// taken and can stay in registers.
BitSource fetched_entropy_byte_slowly(JpegDecoderState& d, BitSource s);

// The next ENTROPY_WORD_BYTES input bytes as one big-endian word.
inline EntropyWord load_input_word(const uint8_t* p) {
  EntropyWord w;
  std::memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if constexpr (sizeof(EntropyWord) == 8)
    w = static_cast<EntropyWord>(__builtin_bswap64(static_cast<uint64_t>(w)));
  else
    w = static_cast<EntropyWord>(__builtin_bswap32(static_cast<uint32_t>(w)));
#endif
  return w;
}

// True when some byte of w is 0xFF.
inline bool word_has_ff_byte(EntropyWord w) {
  constexpr EntropyWord ones = ~EntropyWord{0} / 0xFF;  // 0x0101...01
  const EntropyWord inverted = ~w;
  return ((inverted - ones) & w & (ones << 7)) != 0;
}

// Tops the reader up to more than ENTROPY_WORD_BITS - 8 bits. Where the next word of input
// holds no 0xFF it takes all the whole bytes that fit at once; otherwise byte by byte. Source
// has bits, count and ptr, available() (input bytes at ptr) and advance(n) (n bytes taken);
// take_slowly() appends one byte the slow way.
template <typename Source, typename TakeSlowly>
inline void fill_entropy_word(Source& s, TakeSlowly take_slowly) {
  while (s.count <= ENTROPY_WORD_BITS - 8) {
    if (s.available() >= ENTROPY_WORD_BYTES) {
      const EntropyWord next = load_input_word(s.ptr);
      if (!word_has_ff_byte(next)) {
        const int32_t take = (ENTROPY_WORD_BITS - s.count) >> 3;
        const int32_t unused_bits = ENTROPY_WORD_BITS - 8 * take;
        s.bits |= (next >> unused_bits) << (unused_bits - s.count);
        s.advance(take);
        s.count += 8 * take;
        return;
      }
    }
    if (s.available() > 0 && *s.ptr != 0xFF) {
      s.bits |= static_cast<EntropyWord>(*s.ptr) << (ENTROPY_WORD_BITS - 8 - s.count);
      s.advance(1);
      s.count += 8;
    } else {
      take_slowly();
    }
  }
}

inline void fill_bit_source(JpegDecoderState& d, BitSource& s) {
  fill_entropy_word(s, [&d, &s]() { s = fetched_entropy_byte_slowly(d, s); });
}

// The next n (1..16) bits; the caller has made sure that `count` covers them.
inline uint32_t peek_source_bits(const BitSource& s, int32_t n) {
  return static_cast<uint32_t>(s.bits >> (ENTROPY_WORD_BITS - n));
}

inline void skip_source_bits(BitSource& s, int32_t n) {
  s.bits <<= n;
  s.count -= n;
}

// Consumes the bits that a joint term or pass-over entry counts in its low six bits. The mask
// is the shift's own (the word's width less one), so the compiler drops it from the shift.
inline void skip_entry_bits(EntropyWord& bits, int32_t& count, int32_t entry) {
  bits <<= entry & (ENTROPY_WORD_BITS - 1);
  count -= entry & 63;
}

// EXTEND of T.81: a received value v of s bits (s 0..16) to its signed value.
inline int32_t extend_value(uint32_t v, int32_t s) {
  return static_cast<int32_t>(v) < extend_threshold[s]
             ? static_cast<int32_t>(v) - static_cast<int32_t>((1u << s) - 1u)
             : static_cast<int32_t>(v);
}

// Tree walk for codes that the fast lookup does not resolve: 8 bits, then one bit per level.
int32_t decode_long_huff_symbol(BitSource& s, const HuffLookup& table);

// One Huffman symbol. The caller has made sure that at least 16 bits are in the source.
inline int32_t decode_huff_symbol_from(BitSource& s, const HuffLookup& table) {
  const uint32_t entry = table.fast[peek_source_bits(s, JPEG_HUFF_FAST_BITS)];
  if (entry != 0) {
    skip_source_bits(s, static_cast<int32_t>((entry >> 8) & 31));
    return static_cast<int32_t>(entry & 0xFF);
  }
  return decode_long_huff_symbol(s, table);
}

// ---- AC terms -------------------------------------------------------------------------------
// Moves zig-zag position k past a run of r zero coefficients; a run that would carry it beyond
// position 63 is corrupt data. The one bound check of every AC run.
inline int32_t skip_zero_run(JpegDecoderState& d, int32_t k, int32_t r) {
  const int32_t next = k + r;  // k <= 63 and r <= 15: no overflow
  if (next > 63) raise_error(d, ERR_BAD_HUFFMAN_DATA);
  return next;
}

// The run/size loop of AC coefficients, shared by sequential blocks and progressive first
// scans: decodes the terms of zig-zag positions k..last and hands each nonzero value to
// put(position, value); skipped positions are left alone. Returns the position where the
// band's zeros begin. An end-of-band symbol stops the loop and sets eob_r to its run field (0
// for a plain EOB); eob_r stays -1 when the band is filled. Reader offers symbol(table),
// extend(size) and ac_term(table): a run, size and value from one lookup (a joint term), or
// 0 when the code is not in that lookup.
template <typename Reader, typename Put>
inline int32_t decode_ac_terms(JpegDecoderState& d, Reader& reader, const HuffLookup& table,
                               int32_t k, int32_t last, Put put, int32_t& eob_r) {
  eob_r = -1;
  for (; k <= last; k++) {
    const int32_t term = reader.ac_term(table);
    if (joint_has_value(term)) {
      k = skip_zero_run(d, k, joint_run(term));
      put(k, joint_value(term));
      continue;
    }
    int32_t r = joint_run(term);  // a symbol of size 0 found by the lookup, its code read
    int32_t size = 0;
    if (term == 0) {
      const int32_t rs = reader.symbol(table);
      r = rs >> 4;
      size = rs & 15;
    }
    if (size != 0) {
      k = skip_zero_run(d, k, r);
      put(k, reader.extend(size));
    } else if (r == 15) {
      k = skip_zero_run(d, k, 15);
    } else {
      eob_r = r;
      break;
    }
  }
  return k;
}

// ---- the work bound (set_work_budget in setup.cpp computes it and explains the units) -------
constexpr int64_t WORK_UNITS_PER_VISIT = 16;    // one block visited by a scan
constexpr int64_t WORK_UNITS_PER_FILL_BIT = 8;  // one bit consumed past a segment's data
constexpr int64_t WORK_UNITS_PER_PIXEL = 48;    // granted per pixel of the frame's MCUs
constexpr int64_t WORK_UNITS_PER_IMAGE = int64_t{1} << 24;  // granted to every decode
// Spends units of the bound; running out fails the decode with ERR_BAD_PROGRESSIVE_SCAN.
void charge_work(JpegDecoderState& d, int64_t units);
// Charges the fill bits the reader has consumed past the segment's data since the last charge.
void charge_fill_bits(JpegDecoderState& d, const BitSource& s);

// Convenience forms on the decoder's own reader state, for the progressive decoder and tests.
uint32_t get_bits(JpegDecoderState& d, int32_t n);
int32_t decode_huff_symbol(JpegDecoderState& d, const HuffLookup& table);
int32_t receive_extend(JpegDecoderState& d, int32_t s);

// ---- setup.cpp ---------------------------------------------------------------------------------
void begin_decoding(JpegDecoderState& d);
void setup_frame(JpegDecoderState& d);
// Grants the frame its work bound (on top of the fixed part every decode starts with).
void set_work_budget(JpegDecoderState& d);
void start_sequential(JpegDecoderState& d);
int32_t setup_scan(JpegDecoderState& d);
void compute_scan_geometry(JpegDecoderState& d);
void bind_huffman_tables(JpegDecoderState& d);
void check_quant_tables(JpegDecoderState& d);
// Sets the MCU structure to the whole frame (all components in frame order).
void use_frame_mcu_structure(JpegDecoderState& d);

// ---- coef_store.cpp: coefficient stores of buffered decoding ---------------------------------
void allocate_coef_stores(JpegDecoderState& d);
CoefficientStore* create_coef_store(JpegDecoderState& d, int32_t width_blocks,
                                    int32_t height_blocks, int32_t coefs_across,
                                    int32_t coefs_down);
int16_t* coef_block_address(JpegDecoderState& d, const CoefficientStore& store, int32_t column,
                            int32_t row);
// The component's output table (natural order) from its quantisation table now in force.
void set_output_quant(JpegDecoderState& d, int32_t component);
// Fills the MCU row's blocks, dequantised, from the stores.
void load_mcu_row_coefficients(JpegDecoderState& d);

// ---- progressive.cpp (also decodes sequential frames whose components come in separate
// scans) -----------------------------------------------------------------------------------------
void start_progressive(JpegDecoderState& d);
void start_buffered_sequential(JpegDecoderState& d);
// Block decoders of the buffered path; they read through the scan loop's local bit source.
using BlockDecoder = void (*)(JpegDecoderState& d, BitSource& s, int32_t component,
                              int32_t column, int32_t row);
void decode_progressive_scan(JpegDecoderState& d, BlockDecoder decode_block);
void decode_dc_first(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                     int32_t row);
void decode_dc_refine(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                      int32_t row);
void decode_ac_first(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                     int32_t row);
void decode_ac_refine(JpegDecoderState& d, BitSource& s, int32_t component, int32_t column,
                      int32_t row);
// A whole sequential block (DC difference and all AC terms), stored quantised.
void decode_sequential_block_to_store(JpegDecoderState& d, BitSource& s, int32_t component,
                                      int32_t column, int32_t row);

// ---- sequential.cpp ------------------------------------------------------------------------------
void decode_mcu_row(JpegDecoderState& d);

// ---- sample clamping, shared by the inverse DCT and the colour converters -------------------
// values[v + CLAMP_OFFSET] is v clamped to 0..255, for v in -CLAMP_OFFSET .. 1023 - CLAMP_OFFSET.
constexpr int32_t CLAMP_OFFSET = 384;
struct ClampTable {
  uint8_t values[1024];
  constexpr ClampTable() : values() {
    for (int32_t i = 0; i < 1024; i++) {
      const int32_t v = i - CLAMP_OFFSET;
      values[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
};
inline constexpr ClampTable CLAMP_TABLE{};

// ---- idct.cpp --------------------------------------------------------------------------------------
// Transforms the MCU row's blocks with the decode's kernels.
void transform_mcu_row(JpegDecoderState& d);
// The scalar transform of count blocks (block i from blocks[i], with coefficient limit
// limits[i], to out + 64 * i): the vector kernels' twin.
void transform_blocks_scalar(const int16_t* const* blocks, const int32_t* limits, int32_t count,
                             uint8_t* out);

// ---- idct_reduced.cpp: the transforms of decoding at 1/2, 1/4, 1/8 ---------------------------
// Same arguments as transform_blocks_scalar; block i gets NV rows of NH samples at
// out + 64 * i. Defined for the shapes a decode uses: 4x4, 2x2, 1x1 (luma) and 8x4, 4x2, 2x1,
// 4x8, 2x4, 1x2 (subsampled chroma). The 4x4 and 2x2 ones are the twins of the vector kernels;
// the others run scalar at every level (1x1 is one shift per block; the chroma shapes are a
// sixth of a colour frame's blocks at most).
template <int32_t NH, int32_t NV>
void idct_reduced_blocks_scalar(const int16_t* const* blocks, const int32_t* limits,
                                int32_t count, uint8_t* out);
// Transforms 64 dequantised coefficients (natural order) into 8x8 clamped samples, rows first;
// the coefficients are only read.
void idct_8x8(const int16_t* coefficients, uint8_t* out);

// ---- colour_rows.cpp -------------------------------------------------------------------------
void build_colour_tables(JpegDecoderState& d);
void close_entropy_segment(JpegDecoderState& d);
void convert_grey(JpegDecoderState& d);
void convert_h1v1(JpegDecoderState& d);
void convert_h2v1(JpegDecoderState& d);
void convert_h1v2(JpegDecoderState& d);
void convert_h2v2(JpegDecoderState& d);
// The row at a reduced scale, every layout, into row_buffer_a.
void convert_scaled_row(JpegDecoderState& d);
// The scalar twin of the planar converters (simd.h): count pixels from planar luma, Cb, Cr.
void convert_planar_row_scalar(const JpegDecoderState& d, const uint8_t* y, const uint8_t* cb,
                               const uint8_t* cr, int32_t count, uint8_t* out);

