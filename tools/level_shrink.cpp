// The 2 x 2 box filter of the overview levels, rounded to the nearest value.
#include "tools/level_shrink.h"

int64_t shrunk_extent(int64_t size, int32_t level) {
    for (int32_t k = 0; k < level; ++k) size = (size + 1) / 2;
    return size;
}

void shrink_row_pair(const uint8_t* top, const uint8_t* bottom, int32_t width, uint8_t* out) {
    const int32_t rows = bottom == nullptr ? 1 : 2;
    for (int32_t x = 0; 2 * x < width; ++x) {
        const int32_t columns = 2 * x + 1 < width ? 2 : 1;
        const uint32_t count = static_cast<uint32_t>(rows * columns);
        for (int32_t channel = 0; channel < 3; ++channel) {
            const int32_t left = 6 * x + channel;
            uint32_t sum = top[left];
            if (columns == 2) sum += top[left + 3];
            if (rows == 2) sum += bottom[left] + (columns == 2 ? bottom[left + 3] : 0u);
            out[3 * x + channel] = static_cast<uint8_t>((sum + count / 2) / count);
        }
    }
}
