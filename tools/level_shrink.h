// The box filter that makes each overview level from the one above it: every pixel of level
// k + 1 is the mean of the 2 x 2 block of level-k pixels it stands for, and at the map's right
// and bottom edges of the pixels of that block inside the map only. Values in, values out.
#pragma once
#include <cstdint>

// Level k's map size (the image's size shrunk by 2^k, rounded up): `size` halved `level` times.
int64_t shrunk_extent(int64_t size, int32_t level);

// One row of the smaller level from two rows of RGB pixels of the larger, `width` map pixels
// each; `bottom` is null when `top` is the map's last row and has no partner. Writes
// shrunk_extent(width, 1) pixels to `out`.
void shrink_row_pair(const uint8_t* top, const uint8_t* bottom, int32_t width, uint8_t* out);
