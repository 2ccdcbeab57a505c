// The tile row conversion with SSE2: red-green-blue-x pixels to blue-green-red-zero four at a
// time (masks and shifts: SSE2 has no byte shuffle), grey bytes widened to four copies sixteen
// at a time. Same bytes as the scalar loops of tile_pixels.cpp.
#include "tiles/tile_pixels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

int32_t convert_colour_pixels_sse2(const uint8_t* source, int32_t pixels, uint8_t* destination) {
  const __m128i green = _mm_set1_epi32(0x0000FF00);
  const __m128i low_byte = _mm_set1_epi32(0x000000FF);
  int32_t i = 0;
  for (; i + 4 <= pixels; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * i));
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(v, 16), low_byte);
    const __m128i red = _mm_slli_epi32(_mm_and_si128(v, low_byte), 16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 4 * i),
                     _mm_or_si128(_mm_or_si128(blue, red), _mm_and_si128(v, green)));
  }
  return i;
}

int32_t convert_grey_pixels_sse2(const uint8_t* source, int32_t pixels, uint8_t* destination) {
  int32_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const __m128i grey = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    const __m128i pairs_lo = _mm_unpacklo_epi8(grey, grey);
    const __m128i pairs_hi = _mm_unpackhi_epi8(grey, grey);
    __m128i* out = reinterpret_cast<__m128i*>(destination + 4 * i);
    _mm_storeu_si128(out, _mm_unpacklo_epi16(pairs_lo, pairs_lo));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(pairs_lo, pairs_lo));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(pairs_hi, pairs_hi));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(pairs_hi, pairs_hi));
  }
  return i;
}

#endif
