// Terrava's JPEG decoder: byte source interface, file stream, and the decoder object.
// One decoder reads one baseline, extended-sequential or progressive Huffman JPEG (8-bit,
// one or three components) front to back and hands out one scanline at a time: grey rows of
// 1 byte per pixel, colour rows of 4 bytes per pixel (red, green, blue, 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---------------------------------------------------------------------------------------------
// Error codes. Every failure is one of these negative values, kept in the decoder and read
// with JpegDecoder::status(). -214, -220 and -224 are unassigned.
// ---------------------------------------------------------------------------------------------
enum JpegErrorCode : int32_t {
  JPEG_OK = 0,
  ERR_DHT_TOO_MANY_CODES = -200,      // DHT counts add up to more than 255
  ERR_DHT_BAD_TABLE = -201,           // DHT table slot 8 or more
  ERR_DHT_BAD_LENGTH = -202,          // DHT segment too short for its tables
  ERR_DQT_BAD_LENGTH = -203,          // DQT segment length below 2
  ERR_DQT_BAD_TABLE = -204,           // DQT table index above 3
  ERR_SOF_BAD_PRECISION = -205,       // sample precision other than 8
  ERR_SOF_BAD_HEIGHT = -206,          // number of lines 0 or above 8192
  ERR_SOF_BAD_WIDTH = -207,           // samples per line 0 or above 8192
  ERR_SOF_TOO_MANY_COMPONENTS = -208, // more than 4 frame components
  ERR_SOF_BAD_LENGTH = -209,          // frame header length not 8 + 3 x components
  ERR_SEGMENT_BAD_LENGTH = -210,      // skipped segment length below 2
  ERR_DRI_BAD_LENGTH = -211,          // DRI segment length not 4
  ERR_SOS_BAD_LENGTH = -212,          // bad scan component count or scan header length
  ERR_SOS_BAD_COMPONENT = -213,       // scan names a component the frame lacks
  ERR_UNSUPPORTED_CODING = -215,      // arithmetic coding (DAC, SOF9)
  ERR_UNEXPECTED_MARKER = -216,       // TEM, JPG, RSTn between segments; no scan where one is due
  ERR_NO_SOI = -217,                  // no usable SOI marker near the start
  ERR_UNSUPPORTED_FRAME = -218,       // frame marker other than SOF0, SOF1, SOF2, SOF9
  ERR_DQT_TRUNCATED = -219,           // DQT segment shorter than its tables
  ERR_POOL_FULL = -221,               // all memory pool slots in use
  ERR_MISSING_QUANT_TABLE = -222,     // scan component's quantisation table missing or out of range
  ERR_MISSING_HUFF_TABLE = -223,      // scan needs a Huffman table that is missing or out of range
  ERR_UNSUPPORTED_COMPONENTS = -225,  // frame with other than 1 or 3 components
  ERR_UNSUPPORTED_SAMPLING = -226,    // sampling factors outside the supported layouts
  ERR_BAD_HUFFMAN_DATA = -227,        // corrupt entropy-coded data
  ERR_BAD_RESTART = -228,             // restart marker missing or out of sequence
  ERR_TOO_MANY_BLOCKS = -229,         // MCU row too wide, or block outside its coefficient store
  ERR_BAD_PROGRESSIVE_SCAN = -230,    // bad spectral selection of a progressive scan; more
                                      // scans, or scan work, than any real image needs
  ERR_BAD_SUCCESSIVE_APPROX = -231,   // refinement scan with Al != Ah - 1
  ERR_STREAM_READ = -232,             // the byte source reported a read error
  ERR_OUT_OF_MEMORY = -233,           // the heap could not supply a pool block
};

// The enumerator's name of a code ("JPEG_OK", "ERR_NO_SOI", ...), or null for any other value.
const char* jpeg_error_name(int32_t code);

// Colour layouts: grey, or three components whose first is sampled HxV and the others 1x1.
enum JpegColourLayout : int32_t {
  LAYOUT_GREY = 0,
  LAYOUT_H1V1 = 1,
  LAYOUT_H2V1 = 2,
  LAYOUT_H1V2 = 3,
  LAYOUT_H2V2 = 4,
};

constexpr int32_t JPEG_MAX_DIMENSION = 8192;        // largest accepted width and height
constexpr int32_t JPEG_POOL_SLOTS = 100;            // live memory blocks at most
constexpr int32_t JPEG_INPUT_BUFFER_SIZE = 4096;    // bytes asked from the stream per refill
constexpr int32_t JPEG_PUSHBACK_SIZE = 128;         // room in front of the input buffer
constexpr int32_t JPEG_INPUT_SLACK = 256;           // bytes behind the input buffer
constexpr int32_t JPEG_EOI_FILL_BYTES = 128;        // FF D9 pairs written after the data
constexpr int32_t JPEG_MAX_MCU_ROW_BLOCKS = 6144;   // coefficient blocks of one MCU row
constexpr int32_t JPEG_MAX_MCU_BLOCKS = 10;         // blocks of one MCU
constexpr int32_t JPEG_HUFF_SLOTS = 8;              // DC tables 0..3, AC tables 4..7
constexpr int32_t JPEG_QUANT_SLOTS = 4;
constexpr int32_t JPEG_MAX_COMPONENTS = 4;

// ---------------------------------------------------------------------------------------------
// Byte source. The decoder reads strictly front to back and never writes or seeks.
// ---------------------------------------------------------------------------------------------
class JpegInputStream {
public:
  virtual ~JpegInputStream() {}
  // Stores up to max_count (1..4096) bytes at buffer and returns how many, or -1 on a read
  // error. Sets end_of_stream once the data is exhausted (possibly together with the last
  // bytes) and never clears it. Every call stores a byte, sets the flag, or returns -1.
  virtual int32_t read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) = 0;
  // Called once when a decoder starts on the stream, before its first read.
  virtual void attach() {}
  // Called when the decoder lets go of the stream (destroy, or after a failure).
  virtual void detach() {}
};

// A byte source over a file opened with the standard library in mode "rb".
class JpegFileStream : public JpegInputStream {
public:
  JpegFileStream() : file(nullptr), at_end(false), failed(false) {}
  ~JpegFileStream() override;
  JpegFileStream(const JpegFileStream&) = delete;
  JpegFileStream& operator=(const JpegFileStream&) = delete;

  // Opens path for binary reading (closing any file opened before); reports success.
  bool open(const char* path);
  int32_t read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) override;

  std::FILE* file;
  bool at_end;
  bool failed;
};

// ---------------------------------------------------------------------------------------------
// Internal types the decoder state points at; decoder_internal.h defines them.
// ---------------------------------------------------------------------------------------------
struct HuffLookup;        // decoding table of one Huffman table slot
struct CoefficientStore;  // coefficient blocks of one component, for buffered decoding
struct JpegKeptMemory;    // what one decoder object keeps from one decode to the next
struct JpegKernels;       // the kernels one decode runs (scalar or vector)
// Room for JpegKeptMemory inside the decoder object (decoder_internal.h checks that it fits).
constexpr size_t JPEG_KEPT_STORAGE_BYTES = 3072 + 112 * sizeof(void*);

// All state of one decode. The decoder's source files share these fields; JpegDecoder adds
// the public operations on top.
struct JpegDecoderState {
  int32_t image_width;
  int32_t image_height;
  JpegInputStream* stream;  // not owned; null once released
  int32_t progressive;

  uint8_t* huff_bits[JPEG_HUFF_SLOTS];    // 17 bytes: [0] = 0, [1..16] code counts per length
  uint8_t* huff_vals[JPEG_HUFF_SLOTS];    // 256 bytes of symbols
  // 64 values in zig-zag order, unsigned: 16-bit entries use the whole range. An entry of 0
  // is accepted (as other decoders do) and zeroes its coefficient.
  uint16_t* quant_tables[JPEG_QUANT_SLOTS];

  int32_t colour_layout;
  int32_t component_count;
  int32_t comp_h[JPEG_MAX_COMPONENTS];
  int32_t comp_v[JPEG_MAX_COMPONENTS];
  int32_t comp_quant[JPEG_MAX_COMPONENTS];
  int32_t comp_id[JPEG_MAX_COMPONENTS];
  int32_t comp_width_blocks[JPEG_MAX_COMPONENTS];
  int32_t comp_height_blocks[JPEG_MAX_COMPONENTS];
  int32_t scan_component_count;
  int32_t scan_components[JPEG_MAX_COMPONENTS];
  int32_t comp_dc_table[JPEG_MAX_COMPONENTS];
  int32_t comp_ac_table[JPEG_MAX_COMPONENTS];
  int32_t scan_ss, scan_se, scan_al, scan_ah;

  int32_t mcu_width, mcu_height;
  // Decoding at reduced size: output 1/2^scale_shift of the frame's size (set_scale), and the
  // rows one MCU row delivers then (mcu_height >> scale_shift).
  int32_t scale_shift;
  int32_t output_mcu_height;
  int32_t mcu_block_count, mcu_row_blocks, scan_mcus_per_row, scan_mcu_rows;
  int32_t mcu_block_comp[JPEG_MAX_MCU_BLOCKS];
  int32_t rows_left, rows_left_in_mcu_row;
  int32_t output_row_bytes, row_stride, output_bytes_per_pixel;

  void* pool_blocks[JPEG_POOL_SLOTS];

  HuffLookup* huff_lookup[JPEG_HUFF_SLOTS];
  // Set when a DHT (re)defines the slot; its decoding table is rebuilt at the next scan setup.
  bool huff_lookup_stale[JPEG_HUFF_SLOTS];
  CoefficientStore* dc_coef_store[JPEG_MAX_COMPONENTS];
  CoefficientStore* ac_coef_store[JPEG_MAX_COMPONENTS];
  int32_t eob_run;
  int32_t output_block_row[JPEG_MAX_COMPONENTS];
  // The table (natural order) each component's stored coefficients are dequantised with. A
  // sequential scan fixes it for its components when it is decoded, so that a DQT between
  // scans applies to the later scans only; any other component takes the table in force at
  // the end of the headers.
  uint16_t output_quant[JPEG_MAX_COMPONENTS][64];
  bool output_quant_fixed[JPEG_MAX_COMPONENTS];
  // What the decode may still spend of its work bound (set_work_budget in setup.cpp explains
  // the units); running out fails the decode with ERR_BAD_PROGRESSIVE_SCAN.
  int64_t work_units_left;
  // Set when all coefficients come from the stores (progressive frames, and sequential
  // frames whose components are coded in separate scans).
  int32_t coefficients_buffered;

  // Input: input_area holds the 128-byte pushback area, the 4096-byte input buffer and its
  // 256 bytes of slack, back to back (see pushback_area() and input_buffer()).
  uint8_t* input_ptr;
  int32_t input_count;
  int32_t eoi_phase;
  bool end_of_stream;
  uint8_t input_area[JPEG_PUSHBACK_SIZE + JPEG_INPUT_BUFFER_SIZE + JPEG_INPUT_SLACK];
  uint8_t* pushback_area() { return input_area; }
  uint8_t* input_buffer() { return input_area + JPEG_PUSHBACK_SIZE; }

  // Header bit window: the low 16 bits are the next 16 bits of input, the high half holds
  // bits_left further bits from bit 31 down.
  int32_t bits_left;
  uint32_t bit_window;

  // Entropy-coded data reader: up to 64 bits, most significant first, plus the bookkeeping
  // that lets the reader hand unconsumed bytes back when a segment ends.
  uint64_t entropy_bits;
  int32_t entropy_bit_count;
  // Counts that grow with the segment are 64-bit: one segment may pass 2^28 bytes (2^31 bits).
  int64_t entropy_bytes_fetched;  // bytes taken since the segment began, padding included
  int64_t entropy_real_bytes;     // of which data bytes from the input
  int64_t entropy_fill_charged;   // fill bits past the data already charged to the work bound
  int32_t entropy_tail_flips;     // tail fetches past the data flip eoi_phase (1) or not (0)

  int32_t restart_interval;
  int32_t restarts_left, next_restart_num;

  int32_t mcus_per_row, blocks_per_mcu, mcu_rows;

  int32_t* mcu_block_dc_pred[JPEG_MAX_MCU_BLOCKS];
  int32_t dc_pred[JPEG_MAX_COMPONENTS];
  HuffLookup* mcu_block_dc_lookup[JPEG_MAX_MCU_BLOCKS];
  HuffLookup* mcu_block_ac_lookup[JPEG_MAX_MCU_BLOCKS];

  int16_t* block_ptrs[JPEG_MAX_MCU_ROW_BLOCKS];
  int32_t block_coef_limit[JPEG_MAX_MCU_ROW_BLOCKS];

  uint8_t* mcu_row_samples;
  int32_t cr_to_r[256];
  int32_t cb_to_b[256];
  int32_t cr_to_g[256];
  int32_t cb_to_g[256];
  uint8_t* row_buffer_a;
  uint8_t* row_buffer_b;

  // The kernels of this decode, chosen once when it starts (setup_frame).
  const JpegKernels* kernels;

  int32_t error_code;
  bool decoding_started;

  // Survives create(): the JpegKeptMemory of this object (kept_memory() in decoder_internal.h).
  alignas(8) uint8_t kept_storage[JPEG_KEPT_STORAGE_BYTES];
};

// ---------------------------------------------------------------------------------------------
// The decoder. Typical use:
//   JpegFileStream stream; stream.open(path);
//   JpegDecoder* decoder = new JpegDecoder;  // large object: keep it on the heap
//   decoder->create(stream);
//   if (decoder->status() == 0 && decoder->start_decoding() == 0) {
//     const uint8_t* row; int32_t length;
//     while (decoder->read_scanline(row, length) == 0) { ...use row... }
//   }
//   decoder->destroy(); delete decoder;   // then the stream may go
// To decode many images, call finish() after each and create() again on the same object:
// its buffers and Huffman tables are then reused.
// ---------------------------------------------------------------------------------------------
class JpegDecoder : public JpegDecoderState {
public:
  // Leaves an empty decoder: no stream, no memory; destroy() and status() are safe on it.
  JpegDecoder();
  // Releases whatever destroy() has not released yet.
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Initialises every field, attaches to the stream and reads the headers up to and
  // including the frame header. Failure is reported through status().
  void create(JpegInputStream& stream);
  // 0 while healthy, otherwise the negative error code of the failure.
  int32_t status() const;
  // Valid after a successful create(). At a reduced scale (set_scale) the width and height
  // of the decoded picture: ceil(frame size / denominator).
  int32_t image_width() const;
  int32_t image_height() const;
  int32_t component_count() const;
  // Decoding at reduced size, for zooming out and overviews: denominator 1 (full size, the
  // default that create() restores), 2, 4 or 8. Call after a successful create() and before
  // start_decoding(). image_width() and image_height() then report ceil(width / denominator)
  // x ceil(height / denominator), the sizes libjpeg-turbo gives, and read_scanline() delivers
  // rows of that width, fewer of them. Each output pixel stands for the denominator x
  // denominator pixels of the full-size picture: it is the average of the full-size inverse
  // DCT over them (at 1/8 the block's DC term), and its chroma is that of the same full-size
  // pixels (replicated where one chroma sample covers several output pixels, as at full size).
  // The decode reads and checks the same data as at full size and fails with the same code at
  // the same point of the input. Returns 0, or -1 (nothing changed) for any other
  // denominator, a failed decoder, or a decode already started.
  int32_t set_scale(int32_t denominator);
  // The denominator in force (1, 2, 4 or 8).
  int32_t scale_denominator() const;
  // The frame's own width and height, whatever the scale.
  int32_t frame_width() const;
  int32_t frame_height() const;
  // 1 (grey) or 4 (colour); valid after a successful start_decoding().
  int32_t output_bytes_per_pixel() const;
  // Validates the frame, allocates the decode buffers and prepares the first scan (or decodes
  // every scan of a progressive image). 0 = ready (also when already ready), -1 = failed.
  int32_t start_decoding();
  // Delivers the next row, top to bottom: 0 = row delivered (row points at
  // image_width() * output_bytes_per_pixel() bytes owned by the decoder, valid until the next
  // call; length is that byte count), 1 = all rows delivered, -1 = decoder failed or not
  // started, -227 = the decode of this row failed (status() then holds the cause).
  // On any nonzero result row and length are left untouched.
  int32_t read_scanline(const uint8_t*& row, int32_t& length);
  // Detaches the stream and ends the decode, keeping the decoder's memory for the next
  // create() on this object (which then decodes exactly as a new decoder would). Safe in
  // every state.
  void finish();
  // Detaches the stream and frees all memory. Safe in every state, also twice.
  void destroy();

  JpegDecoderState& state() { return *this; }
  const JpegDecoderState& state() const { return *this; }
};
