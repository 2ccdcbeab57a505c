// The decoder's foundation: the file byte source, the decoder object's life cycle, the error
// exit that releases everything and unwinds to the public operation, the memory pool of 100
// zero-filled blocks (whose released blocks the object keeps for its next decode), and the
// 4096-byte input buffer that ends in synthetic EOI markers.
#include "jpeg/decoder_internal.h"

#include <cstddef>
#include <cstdlib>
#include <new>

// ---- JpegFileStream ------------------------------------------------------------------------------

JpegFileStream::~JpegFileStream() {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
  at_end = false;
  failed = false;
}

bool JpegFileStream::open(const char* path) {
  if (file != nullptr) std::fclose(file);
  at_end = false;
  failed = false;
  file = std::fopen(path, "rb");
  return file != nullptr;
}

int32_t JpegFileStream::read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) {
  if (file == nullptr) return -1;
  if (at_end) {
    end_of_stream = true;
    return 0;
  }
  if (failed) return -1;
  if (max_count <= 0) return 0;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(max_count), file);
  if (got >= static_cast<size_t>(max_count)) return max_count;
  if (std::ferror(file)) {
    failed = true;
    return -1;
  }
  at_end = true;
  end_of_stream = true;
  return static_cast<int32_t>(got);
}

// ---- error names and exit, pool ----------------------------------------------------------------

const char* jpeg_error_name(int32_t code) {
  switch (code) {
    case JPEG_OK: return "JPEG_OK";
    case ERR_DHT_TOO_MANY_CODES: return "ERR_DHT_TOO_MANY_CODES";
    case ERR_DHT_BAD_TABLE: return "ERR_DHT_BAD_TABLE";
    case ERR_DHT_BAD_LENGTH: return "ERR_DHT_BAD_LENGTH";
    case ERR_DQT_BAD_LENGTH: return "ERR_DQT_BAD_LENGTH";
    case ERR_DQT_BAD_TABLE: return "ERR_DQT_BAD_TABLE";
    case ERR_SOF_BAD_PRECISION: return "ERR_SOF_BAD_PRECISION";
    case ERR_SOF_BAD_HEIGHT: return "ERR_SOF_BAD_HEIGHT";
    case ERR_SOF_BAD_WIDTH: return "ERR_SOF_BAD_WIDTH";
    case ERR_SOF_TOO_MANY_COMPONENTS: return "ERR_SOF_TOO_MANY_COMPONENTS";
    case ERR_SOF_BAD_LENGTH: return "ERR_SOF_BAD_LENGTH";
    case ERR_SEGMENT_BAD_LENGTH: return "ERR_SEGMENT_BAD_LENGTH";
    case ERR_DRI_BAD_LENGTH: return "ERR_DRI_BAD_LENGTH";
    case ERR_SOS_BAD_LENGTH: return "ERR_SOS_BAD_LENGTH";
    case ERR_SOS_BAD_COMPONENT: return "ERR_SOS_BAD_COMPONENT";
    case ERR_UNSUPPORTED_CODING: return "ERR_UNSUPPORTED_CODING";
    case ERR_UNEXPECTED_MARKER: return "ERR_UNEXPECTED_MARKER";
    case ERR_NO_SOI: return "ERR_NO_SOI";
    case ERR_UNSUPPORTED_FRAME: return "ERR_UNSUPPORTED_FRAME";
    case ERR_DQT_TRUNCATED: return "ERR_DQT_TRUNCATED";
    case ERR_POOL_FULL: return "ERR_POOL_FULL";
    case ERR_MISSING_QUANT_TABLE: return "ERR_MISSING_QUANT_TABLE";
    case ERR_MISSING_HUFF_TABLE: return "ERR_MISSING_HUFF_TABLE";
    case ERR_UNSUPPORTED_COMPONENTS: return "ERR_UNSUPPORTED_COMPONENTS";
    case ERR_UNSUPPORTED_SAMPLING: return "ERR_UNSUPPORTED_SAMPLING";
    case ERR_BAD_HUFFMAN_DATA: return "ERR_BAD_HUFFMAN_DATA";
    case ERR_BAD_RESTART: return "ERR_BAD_RESTART";
    case ERR_TOO_MANY_BLOCKS: return "ERR_TOO_MANY_BLOCKS";
    case ERR_BAD_PROGRESSIVE_SCAN: return "ERR_BAD_PROGRESSIVE_SCAN";
    case ERR_BAD_SUCCESSIVE_APPROX: return "ERR_BAD_SUCCESSIVE_APPROX";
    case ERR_STREAM_READ: return "ERR_STREAM_READ";
    case ERR_OUT_OF_MEMORY: return "ERR_OUT_OF_MEMORY";
  }
  return nullptr;
}

namespace {

uint8_t* aligned_start(void* raw) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(raw);
  return static_cast<uint8_t*>(raw) + ((8u - (address & 7u)) & 7u);
}

// A Huffman table built inside a block that is about to be reused or freed is forgotten.
void forget_tables_in(JpegDecoderState& d, const void* raw, uint32_t bytes) {
  const uint8_t* begin = static_cast<const uint8_t*>(raw);
  for (HuffLookup*& table : kept_memory(d).built_lookup) {
    const uint8_t* at = reinterpret_cast<const uint8_t*>(table);
    if (at >= begin && at < begin + bytes) table = nullptr;
  }
}

void remove_spare(JpegKeptMemory& kept, int32_t index) {
  kept.spare_total_bytes -= kept.spare_block_bytes[index];
  const int32_t last = --kept.spare_count;
  kept.spare_blocks[index] = kept.spare_blocks[last];
  kept.spare_block_bytes[index] = kept.spare_block_bytes[last];
  kept.spare_blocks[last] = nullptr;
}

// The released block that best fits `bytes` (not more than about twice as large), zero-filled
// like a new one and out of the spares; null when none fits.
void* take_spare_block(JpegDecoderState& d, uint32_t bytes, uint32_t& capacity) {
  JpegKeptMemory& kept = kept_memory(d);
  int32_t best = -1;
  for (int32_t i = 0; i < kept.spare_count; i++) {
    const uint32_t size = kept.spare_block_bytes[i];
    if (size < bytes || size - bytes > bytes + 64) continue;
    if (best < 0 || size < kept.spare_block_bytes[best]) best = i;
  }
  if (best < 0) return nullptr;
  void* raw = kept.spare_blocks[best];
  capacity = kept.spare_block_bytes[best];
  remove_spare(kept, best);
  forget_tables_in(d, raw, capacity);
  std::memset(raw, 0, bytes);
  return raw;
}

// Keeps a released block for later decodes, within the limits; frees it otherwise.
void keep_or_free(JpegDecoderState& d, void* raw, uint32_t capacity) {
  JpegKeptMemory& kept = kept_memory(d);
  if (capacity == 0 || kept.spare_count == JPEG_POOL_SLOTS ||
      capacity > JPEG_KEPT_BYTES_MAX - kept.spare_total_bytes) {
    forget_tables_in(d, raw, capacity);
    std::free(raw);
    return;
  }
  kept.spare_blocks[kept.spare_count] = raw;
  kept.spare_block_bytes[kept.spare_count] = capacity;
  kept.spare_count++;
  kept.spare_total_bytes += capacity;
}

int32_t free_pool_slot(JpegDecoderState& d) {
  int32_t slot = 0;
  while (slot < JPEG_POOL_SLOTS && d.pool_blocks[slot] != nullptr) slot++;
  if (slot == JPEG_POOL_SLOTS) raise_error(d, ERR_POOL_FULL);
  return slot;
}

}  // namespace

void release_resources(JpegDecoderState& d) {
  if (d.stream != nullptr) {
    JpegInputStream* stream = d.stream;
    d.stream = nullptr;
    stream->detach();
  }
  for (int32_t i = 0; i < JPEG_POOL_SLOTS; i++) {
    if (d.pool_blocks[i] != nullptr) keep_or_free(d, d.pool_blocks[i], kept_memory(d).live_block_bytes[i]);
    d.pool_blocks[i] = nullptr;
  }
}

void free_kept_memory(JpegDecoderState& d) {
  JpegKeptMemory& kept = kept_memory(d);
  for (int32_t i = 0; i < kept.spare_count; i++) std::free(kept.spare_blocks[i]);
  std::memset(static_cast<void*>(&kept), 0, sizeof kept);
}

void raise_error(JpegDecoderState& d, int32_t code) {
  d.error_code = code;
  release_resources(d);
  throw JpegFailure{code};
}

void* pool_alloc(JpegDecoderState& d, uint32_t size) {
  const int32_t slot = free_pool_slot(d);
  const size_t bytes = static_cast<size_t>(size) + 8u;
  // Only blocks small enough to be kept come from (and go back to) the spares.
  uint32_t capacity = bytes <= JPEG_KEPT_BYTES_MAX ? static_cast<uint32_t>(bytes) : 0;
  void* raw = capacity != 0 ? take_spare_block(d, capacity, capacity) : nullptr;
  // calloc hands out zero-filled memory without touching untouched pages of large blocks.
  if (raw == nullptr) raw = std::calloc(bytes, 1);
  if (raw == nullptr) raise_error(d, ERR_OUT_OF_MEMORY);
  d.pool_blocks[slot] = raw;
  kept_memory(d).live_block_bytes[slot] = capacity;
  return aligned_start(raw);
}

void* pool_reclaim(JpegDecoderState& d, const void* block) {
  JpegKeptMemory& kept = kept_memory(d);
  for (int32_t i = 0; i < kept.spare_count; i++) {
    void* raw = kept.spare_blocks[i];
    if (aligned_start(raw) != block) continue;
    const int32_t slot = free_pool_slot(d);
    d.pool_blocks[slot] = raw;
    kept_memory(d).live_block_bytes[slot] = kept.spare_block_bytes[i];
    remove_spare(kept, i);
    return aligned_start(raw);
  }
  return nullptr;
}

// ---- input -------------------------------------------------------------------------------------

void refill_input(JpegDecoderState& d) {
  uint8_t* buffer = d.input_buffer();
  d.input_ptr = buffer;
  d.input_count = 0;
  if (d.end_of_stream) return;
  do {
    const int32_t got =
        d.stream == nullptr
            ? -1
            : d.stream->read(buffer + d.input_count, JPEG_INPUT_BUFFER_SIZE - d.input_count,
                             d.end_of_stream);
    // A count outside what was asked for is treated like a read error, and so is a call that
    // delivers nothing without reporting the end: retrying it could go on for ever.
    if (got < 0 || got > JPEG_INPUT_BUFFER_SIZE - d.input_count) raise_error(d, ERR_STREAM_READ);
    if (got == 0 && !d.end_of_stream) raise_error(d, ERR_STREAM_READ);
    d.input_count += got;
  } while (d.input_count < JPEG_INPUT_BUFFER_SIZE && !d.end_of_stream);
  for (int32_t i = 0; i < JPEG_EOI_FILL_BYTES; i += 2) {
    buffer[d.input_count + i] = 0xFF;
    buffer[d.input_count + i + 1] = 0xD9;
  }
}

void push_back_byte(JpegDecoderState& d, uint8_t b) {
  // The readers push back a handful of bytes at most; refuse rather than write in front of the
  // pushback area.
  if (d.input_ptr <= d.input_area) raise_error(d, ERR_BAD_HUFFMAN_DATA);
  d.input_ptr--;
  *d.input_ptr = b;
  d.input_count++;
}

// ---- the decoder object ------------------------------------------------------------------------

namespace {

// Fields that every decode writes before it reads them, and the memory kept between decodes:
// starting a decode leaves them as they are rather than clearing some 80 KB per image. The
// block pointers and limits and the colour tables are set up with the frame (setup_frame);
// the input area is filled by the reads.
struct FieldSpan {
  size_t begin, end;
};
#define TERRAVA_FIELD_SPAN(first, last)       \
  FieldSpan {                                 \
    offsetof(JpegDecoderState, first),        \
        offsetof(JpegDecoderState, last) + sizeof(JpegDecoderState::last) \
  }
constexpr FieldSpan FIELDS_NOT_CLEARED[] = {
    TERRAVA_FIELD_SPAN(input_area, input_area),
    TERRAVA_FIELD_SPAN(block_ptrs, block_coef_limit),
    TERRAVA_FIELD_SPAN(cr_to_r, cb_to_g),
    TERRAVA_FIELD_SPAN(kept_storage, kept_storage),
};
#undef TERRAVA_FIELD_SPAN

constexpr bool spans_in_order() {
  size_t end = 0;
  for (const FieldSpan& span : FIELDS_NOT_CLEARED) {
    if (span.begin < end || span.end < span.begin) return false;
    end = span.end;
  }
  return end <= sizeof(JpegDecoderState);
}
static_assert(spans_in_order(), "FIELDS_NOT_CLEARED must be ordered and disjoint");

// Zeroes every field outside FIELDS_NOT_CLEARED.
void clear_decode_state(JpegDecoderState& d) {
  uint8_t* base = reinterpret_cast<uint8_t*>(&d);
  size_t from = 0;
  for (const FieldSpan& span : FIELDS_NOT_CLEARED) {
    std::memset(base + from, 0, span.begin - from);
    from = span.end;
  }
  std::memset(base + from, 0, sizeof(JpegDecoderState) - from);
}

}  // namespace

void initialise_decoder(JpegDecoderState& d, JpegInputStream& stream) {
  // Every field starts at zero (pointers null, flags clear); the few nonzero ones follow.
  clear_decode_state(d);
  d.stream = &stream;
  d.input_ptr = d.input_buffer();
  d.entropy_real_bytes = -1;
  d.entropy_tail_flips = -1;
  d.work_units_left = WORK_UNITS_PER_IMAGE;  // the frame's share follows at decode start
  stream.attach();
  refill_input(d);
  prime_header_window(d);
}

JpegDecoder::JpegDecoder() {
  clear_decode_state(state());
  std::memset(kept_storage, 0, sizeof kept_storage);
}

JpegDecoder::~JpegDecoder() { destroy(); }

void JpegDecoder::create(JpegInputStream& input) {
  release_resources(*this);
  try {
    initialise_decoder(*this, input);
    read_headers(*this);
  } catch (const JpegFailure&) {
    // error_code is set and everything is released.
  }
}

int32_t JpegDecoder::status() const { return error_code; }
int32_t JpegDecoder::image_width() const { return scaled_width(*this); }
int32_t JpegDecoder::image_height() const { return scaled_height(*this); }
int32_t JpegDecoder::frame_width() const { return JpegDecoderState::image_width; }
int32_t JpegDecoder::frame_height() const { return JpegDecoderState::image_height; }

int32_t JpegDecoder::set_scale(int32_t denominator) {
  if (error_code != 0 || decoding_started || JpegDecoderState::image_width <= 0) return -1;
  for (int32_t shift = 0; shift <= JPEG_MAX_SCALE_SHIFT; shift++) {
    if (denominator == 1 << shift) {
      scale_shift = shift;
      return 0;
    }
  }
  return -1;
}

int32_t JpegDecoder::scale_denominator() const { return 1 << scale_shift; }
int32_t JpegDecoder::component_count() const { return JpegDecoderState::component_count; }
int32_t JpegDecoder::output_bytes_per_pixel() const {
  return JpegDecoderState::output_bytes_per_pixel;
}

void JpegDecoder::finish() { release_resources(*this); }

void JpegDecoder::destroy() {
  release_resources(*this);
  free_kept_memory(*this);
}
