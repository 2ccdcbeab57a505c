// The weights of the reduced inverse DCTs (idct_reduced.cpp and the vector kernels): per
// output i of a 1-D transform to N samples, round(8192 * sqrt(2) * mean of cos((2x + 1) u pi /
// 16) over the cell of 8 / N samples x that output i covers), for the inputs u = 1, 2, 3, 5, 6,
// 7; input 0 has weight 8192 (as in idct.cpp) and input 4 weight 0 for every cell. Only
// outputs 0 .. N/2 - 1 are listed: output N-1-i has the same weights with the odd inputs'
// signs flipped.
#pragma once

#include <cstdint>

struct ReducedWeights {
  int32_t w1, w2, w3, w5, w6, w7;
};

template <int32_t N>
struct ReducedTable;

template <>
struct ReducedTable<4> {
  static constexpr ReducedWeights weights[2] = {{10498, 7568, 3686, -2463, -3135, -2088},
                                                {4348, -7568, -8900, 5946, 3135, -865}};
};

template <>
struct ReducedTable<2> {
  static constexpr ReducedWeights weights[1] = {{7423, 0, -2607, 1742, 0, -1477}};
};
