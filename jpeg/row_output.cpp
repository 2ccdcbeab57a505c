// Row delivery: read_scanline runs the MCU-row pipeline (coefficients, end of the scan's data,
// inverse DCT) when a new MCU row is due, then has the colour converters (colour_rows.cpp) make
// the row it hands out.
#include "jpeg/decoder_internal.h"

void close_entropy_segment(JpegDecoderState& d) {
  if (d.coefficients_buffered) return;
  finish_entropy_segment(d);
  prime_header_window(d);
  read_markers(d);
}

namespace {

void decode_next_mcu_row(JpegDecoderState& d) {
  if (d.coefficients_buffered)
    load_mcu_row_coefficients(d);
  else
    decode_mcu_row(d);
  // At every scale the MCU row that holds the last output rows is the last one of the frame.
  if (d.rows_left <= d.output_mcu_height) close_entropy_segment(d);
  transform_mcu_row(d);
  d.rows_left_in_mcu_row = d.output_mcu_height;
}

}  // namespace

int32_t JpegDecoder::read_scanline(const uint8_t*& row, int32_t& length) {
  if (error_code != 0 || !decoding_started) return -1;
  if (rows_left == 0) return 1;
  if (rows_left_in_mcu_row == 0) {
    try {
      decode_next_mcu_row(*this);
    } catch (const JpegFailure&) {
      return ERR_BAD_HUFFMAN_DATA;
    }
  }
  const uint8_t* delivered = row_buffer_a;
  switch (scale_shift != 0 ? -1 : colour_layout) {
    case -1: convert_scaled_row(*this); break;
    case LAYOUT_GREY: convert_grey(*this); break;
    case LAYOUT_H1V1: convert_h1v1(*this); break;
    case LAYOUT_H2V1: convert_h2v1(*this); break;
    case LAYOUT_H1V2:
    case LAYOUT_H2V2:
      if (rows_left_in_mcu_row & 1) {
        delivered = row_buffer_b;
      } else if (colour_layout == LAYOUT_H1V2) {
        convert_h1v2(*this);
      } else {
        convert_h2v2(*this);
      }
      break;
    default: break;
  }
  row = delivered;
  length = output_row_bytes;
  rows_left_in_mcu_row--;
  rows_left--;
  return 0;
}
