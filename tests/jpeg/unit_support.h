// Helpers for the decoder's unit tests: a decoder on an in-memory stream, a builder for
// hand-made JPEG byte streams, a bit writer for entropy-coded data with byte
// stuffing, and a tiny baseline block encoder over fixed, easily written Huffman tables.
#pragma once

#include "jpeg/decoder_internal.h"
#include "jpeg/jpeg_decoder.h"
#include "jpeg/memory_stream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A decoder on its own stream over its own copy of the bytes, all on the heap.
struct DecoderOnBytes {
  explicit DecoderOnBytes(const Bytes& bytes, int32_t chunk = 4096)
      : data(bytes), stream(new JpegMemoryStream(data, chunk)), decoder(new JpegDecoder) {}
  ~DecoderOnBytes() { decoder->destroy(); }
  JpegDecoderState& state() { return decoder->state(); }
  Bytes data;
  std::unique_ptr<JpegMemoryStream> stream;
  std::unique_ptr<JpegDecoder> decoder;
};

// Writes marker segments.
class JpegBuilder {
public:
  JpegBuilder& raw(const Bytes& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  JpegBuilder& marker(uint8_t code) { return raw({0xFF, code}); }
  JpegBuilder& soi() { return marker(0xD8); }
  JpegBuilder& eoi() { return marker(0xD9); }
  JpegBuilder& segment(uint8_t code, const Bytes& payload) {
    marker(code);
    const size_t length = payload.size() + 2;
    raw({static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    return raw(payload);
  }
  // An 8-bit table (value for every zig-zag position).
  JpegBuilder& dqt(uint8_t index, uint8_t value) {
    Bytes p{index};
    for (int i = 0; i < 64; i++) p.push_back(value);
    return segment(0xDB, p);
  }
  JpegBuilder& dht(uint8_t class_and_index, const Bytes& counts16, const Bytes& symbols) {
    Bytes p{class_and_index};
    p.insert(p.end(), counts16.begin(), counts16.end());
    p.insert(p.end(), symbols.begin(), symbols.end());
    return segment(0xC4, p);
  }
  struct FrameComponent {
    uint8_t id, h, v, tq;
  };
  JpegBuilder& sof(uint8_t code, uint16_t width, uint16_t height,
                   const std::vector<FrameComponent>& components) {
    Bytes p{8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
            static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width),
            static_cast<uint8_t>(components.size())};
    for (const auto& c : components)
      p.insert(p.end(), {c.id, static_cast<uint8_t>(c.h << 4 | c.v), c.tq});
    return segment(code, p);
  }
  struct ScanComponent {
    uint8_t id, td, ta;
  };
  JpegBuilder& sos(const std::vector<ScanComponent>& components, uint8_t ss = 0, uint8_t se = 63,
                   uint8_t ah = 0, uint8_t al = 0) {
    Bytes p{static_cast<uint8_t>(components.size())};
    for (const auto& c : components) p.insert(p.end(), {c.id, static_cast<uint8_t>(c.td << 4 | c.ta)});
    p.insert(p.end(), {ss, se, static_cast<uint8_t>(ah << 4 | al)});
    return segment(0xDA, p);
  }
  JpegBuilder& dri(uint16_t interval) {
    return segment(0xDD, {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)});
  }
  Bytes bytes;
};

// MSB-first bit writer with 0xFF byte stuffing; flush pads with 1 bits.
class EntropyWriter {
public:
  void put(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; i--) {
      current = static_cast<uint8_t>(current << 1 | ((code >> i) & 1));
      if (++filled == 8) emit();
    }
  }
  void flush() {
    while (filled != 0) put(1, 1);
  }
  // Ends the interval and writes RSTn.
  void restart(int n) {
    flush();
    out.push_back(0xFF);
    out.push_back(static_cast<uint8_t>(0xD0 + (n & 7)));
  }
  Bytes out;

private:
  void emit() {
    out.push_back(current);
    if (current == 0xFF) out.push_back(0x00);
    current = 0;
    filled = 0;
  }
  uint8_t current = 0;
  int filled = 0;
};

// Fixed test tables: DC categories 0..15 get 4-bit codes equal to the category; AC symbols
// (EOB, ZRL, EOB runs, run/size pairs up to size 10) get 8-bit codes equal to their index in
// ac_symbols().
inline Bytes dc_counts() {
  Bytes c(16, 0);
  c[3] = 16;
  return c;
}
inline Bytes dc_symbols() {
  Bytes s;
  for (int i = 0; i < 16; i++) s.push_back(static_cast<uint8_t>(i));
  return s;
}
inline Bytes ac_symbols() {
  Bytes s{0x00, 0xF0};
  for (int r = 1; r < 15; r++) s.push_back(static_cast<uint8_t>(r << 4));  // EOB runs
  for (int r = 0; r < 16; r++)
    for (int size = 1; size <= 10; size++) s.push_back(static_cast<uint8_t>(r << 4 | size));
  return s;
}
inline Bytes ac_counts() {
  Bytes c(16, 0);
  c[7] = static_cast<uint8_t>(ac_symbols().size());
  return c;
}
// Writes one AC symbol of the fixed table.
inline int ac_code_of(int symbol);
inline void put_ac(EntropyWriter& w, int symbol) {
  w.put(static_cast<uint32_t>(ac_code_of(symbol)), 8);
}
inline int ac_code_of(int symbol) {
  const Bytes s = ac_symbols();
  for (size_t i = 0; i < s.size(); i++)
    if (s[i] == symbol) return static_cast<int>(i);
  return -1;
}

inline int magnitude_category(int v) {
  int a = v < 0 ? -v : v;
  int n = 0;
  while (a != 0) {
    n++;
    a >>= 1;
  }
  return n;
}

inline void put_value(EntropyWriter& w, int v, int size) {
  if (size == 0) return;
  const uint32_t bits = v >= 0 ? static_cast<uint32_t>(v) : static_cast<uint32_t>(v + (1 << size) - 1);
  w.put(bits, size);
}

// Encodes one block of quantised coefficients given in zig-zag order, with the test tables.
// A DC difference with the table of dc_counts (category in 4 bits), and an AC run/value pair.
inline void put_dc(EntropyWriter& w, int diff) {
  const int size = magnitude_category(diff);
  w.put(static_cast<uint32_t>(size), 4);
  put_value(w, diff, size);
}

inline void put_run_value(EntropyWriter& w, int run, int value) {
  const int size = magnitude_category(value);
  put_ac(w, run << 4 | size);
  put_value(w, value, size);
}

inline void encode_block(EntropyWriter& w, int& predictor, const int* zigzag_coefficients) {
  const int diff = zigzag_coefficients[0] - predictor;
  predictor = zigzag_coefficients[0];
  const int dc_size = magnitude_category(diff);
  w.put(static_cast<uint32_t>(dc_size), 4);
  put_value(w, diff, dc_size);
  int run = 0;
  for (int k = 1; k < 64; k++) {
    const int v = zigzag_coefficients[k];
    if (v == 0) {
      run++;
      continue;
    }
    while (run > 15) {
      w.put(static_cast<uint32_t>(ac_code_of(0xF0)), 8);
      run -= 16;
    }
    const int size = magnitude_category(v);
    w.put(static_cast<uint32_t>(ac_code_of(run << 4 | size)), 8);
    put_value(w, v, size);
    run = 0;
  }
  if (run > 0) w.put(static_cast<uint32_t>(ac_code_of(0x00)), 8);
}

// Headers of a baseline image with the test tables (all quantisers = `quant`) up to and
// including SOF; scans are added by the caller.
inline JpegBuilder baseline_headers(uint16_t width, uint16_t height,
                                    const std::vector<JpegBuilder::FrameComponent>& components,
                                    uint8_t quant = 1, uint8_t sof_marker = 0xC0) {
  JpegBuilder b;
  b.soi().dqt(0, quant).dht(0x00, dc_counts(), dc_symbols()).dht(0x10, ac_counts(), ac_symbols());
  b.sof(sof_marker, width, height, components);
  return b;
}

// Decodes everything; rows are concatenated. Returns the last read_scanline result.
struct DecodeResult {
  int32_t create_status = 0;
  int32_t start_result = 0;
  int32_t last_result = 0;
  int32_t status = 0;
  int32_t rows = 0;
  int32_t row_bytes = 0;
  Bytes pixels;
};

inline DecodeResult decode_all(const Bytes& bytes, int32_t chunk = 4096) {
  DecodeResult r;
  DecoderOnBytes t(bytes, chunk);
  t.decoder->create(*t.stream);
  r.create_status = t.decoder->status();
  r.start_result = t.decoder->start_decoding();
  const uint8_t* row = nullptr;
  int32_t length = 0;
  while ((r.last_result = t.decoder->read_scanline(row, length)) == 0) {
    r.rows++;
    r.row_bytes = length;
    r.pixels.insert(r.pixels.end(), row, row + length);
  }
  r.status = t.decoder->status();
  return r;
}

// A simple deterministic generator for test data.
struct TestRandom {
  uint64_t state;
  explicit TestRandom(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 11);
  }
  int32_t range(int32_t lo, int32_t hi) {  // inclusive
    return lo + static_cast<int32_t>(next() % static_cast<uint32_t>(hi - lo + 1));
  }
};
