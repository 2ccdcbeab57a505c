// The decoder's foundation: the file byte source, the decoder object's life cycle, the error
// exit that releases everything and unwinds to the public operation, the memory pool of 100
// zero-filled blocks, and the 4096-byte input buffer that ends in synthetic EOI markers.
#include "jpeg/decoder_internal.h"

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

void release_resources(JpegDecoderState& d) {
  if (d.stream != nullptr) {
    JpegInputStream* stream = d.stream;
    d.stream = nullptr;
    stream->detach();
  }
  for (int32_t i = 0; i < JPEG_POOL_SLOTS; i++) {
    std::free(d.pool_blocks[i]);
    d.pool_blocks[i] = nullptr;
  }
}

void raise_error(JpegDecoderState& d, int32_t code) {
  d.error_code = code;
  release_resources(d);
  throw JpegFailure{code};
}

void* pool_alloc(JpegDecoderState& d, uint32_t size) {
  int32_t slot = 0;
  while (slot < JPEG_POOL_SLOTS && d.pool_blocks[slot] != nullptr) slot++;
  if (slot == JPEG_POOL_SLOTS) raise_error(d, ERR_POOL_FULL);
  // calloc hands out zero-filled memory without touching untouched pages of large blocks.
  void* raw = std::calloc(static_cast<size_t>(size) + 8u, 1);
  if (raw == nullptr) raise_error(d, ERR_OUT_OF_MEMORY);
  d.pool_blocks[slot] = raw;
  const uintptr_t address = reinterpret_cast<uintptr_t>(raw);
  return static_cast<uint8_t*>(raw) + ((8u - (address & 7u)) & 7u);
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

void initialise_decoder(JpegDecoderState& d, JpegInputStream& stream) {
  // Every field starts at zero (pointers null, flags clear); the few nonzero ones follow.
  std::memset(static_cast<void*>(&d), 0, sizeof(JpegDecoderState));
  d.stream = &stream;
  d.input_ptr = d.input_buffer();
  d.entropy_real_bytes = -1;
  d.entropy_tail_flips = -1;
  stream.attach();
  refill_input(d);
  prime_header_window(d);
  for (int32_t i = 0; i < JPEG_MAX_MCU_ROW_BLOCKS; i++) d.block_coef_limit[i] = 64;
}

JpegDecoder::JpegDecoder() {
  std::memset(static_cast<void*>(&state()), 0, sizeof(JpegDecoderState));
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
int32_t JpegDecoder::image_width() const { return JpegDecoderState::image_width; }
int32_t JpegDecoder::image_height() const { return JpegDecoderState::image_height; }
int32_t JpegDecoder::component_count() const { return JpegDecoderState::component_count; }
int32_t JpegDecoder::output_bytes_per_pixel() const {
  return JpegDecoderState::output_bytes_per_pixel;
}

void JpegDecoder::destroy() { release_resources(*this); }
