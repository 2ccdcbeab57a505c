// Serving a tile file's bytes from memory in the pieces the decoder asks for.
#include "tiles/tile_bytes_stream.h"

#include <cstring>

int32_t TileBytesStream::read(uint8_t* buffer, int32_t max_count, bool& end_of_stream) {
    const size_t left = size - position;
    size_t count = max_count > 0 ? static_cast<size_t>(max_count) : 0;
    if (count > left) count = left;
    if (count > 0) std::memcpy(buffer, bytes + position, count);
    position += count;
    if (position == size) end_of_stream = true;
    return static_cast<int32_t>(count);
}
