// The sequential MCU-row decode on the plain window reader, one operation at a time: the twin
// the tests compare the decoder's fast reader with. Test-only.
#include "jpeg/reference/reference.h"
#include "jpeg/sequential_block.h"

namespace {

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

void decode_mcu_row_reference(JpegDecoderState& d) {
  WindowReader reader{d};
  int32_t b = 0;
  for (int32_t m = 0; m < d.scan_mcus_per_row; m++) {
    if (d.restart_interval != 0 && d.restarts_left == 0) {
      read_restart_marker(d);
      window_prime_entropy(d);
    }
    for (int32_t j = 0; j < d.mcu_block_count; j++, b++) sequential::decode_block(d, reader, j, b);
    d.restarts_left--;
  }
}
