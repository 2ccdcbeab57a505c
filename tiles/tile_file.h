// Reading one tile file whole into a buffer that the calling thread keeps from tile to tile:
// one CreateFile, one ReadFile and one CloseHandle per tile instead of a stdio stream. Paths
// are UTF-8 and reach the system through its wide-character functions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Files up to this size are read whole; a larger one is left to a streaming reader, so a
// damaged or exotic tile never sizes a huge buffer.
constexpr uint32_t MAX_WHOLE_TILE_FILE_BYTES = 16u << 20;

enum class TileFileRead { READ, TOO_LARGE, FAILED };

// Reads the file at `path` into this thread's tile buffer; on READ, `bytes` and `size` give
// its content (valid until this thread's next read). TOO_LARGE: the file exists but exceeds
// MAX_WHOLE_TILE_FILE_BYTES. FAILED: it cannot be opened or read.
TileFileRead read_tile_file(const char* path, const uint8_t*& bytes, size_t& size);
// Frees this thread's tile buffer when it is larger than `keep_bytes` (0: always), so that a
// loader keeps at most that much between tiles and nothing once it ends.
void trim_tile_file_buffer(size_t keep_bytes);

// The tile file at `path` (UTF-8) opened for binary reading with the C library, for the
// streaming reader; null when it cannot be opened.
std::FILE* open_tile_file_stream(const char* path);
