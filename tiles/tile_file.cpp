// Whole-file reads of tile files into a per-thread buffer that grows as needed: a loader reads
// tile after tile of about the same size, so after the first few no read allocates. A loader
// trims it after each tile (trim_tile_file_buffer), so one huge file is not kept.
#include "tiles/tile_file.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {
// Per thread: the loader and, in tests and benchmarks, the main thread decode side by side.
thread_local uint8_t* tile_buffer = nullptr;
thread_local size_t tile_buffer_capacity = 0;

bool reserve_tile_buffer(size_t bytes) {
    if (bytes <= tile_buffer_capacity) return true;
    const size_t capacity = bytes < 65536 ? 65536 : bytes;
    uint8_t* grown = static_cast<uint8_t*>(std::malloc(capacity));
    if (grown == nullptr) return false;
    std::free(tile_buffer);
    tile_buffer = grown;
    tile_buffer_capacity = capacity;
    return true;
}
// `path` (UTF-8) for the wide-character file functions.
std::wstring wide_path(const char* path) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}
}  // namespace

std::FILE* open_tile_file_stream(const char* path) {
    return _wfopen(wide_path(path).c_str(), L"rb");
}

TileFileRead read_tile_file(const char* path, const uint8_t*& bytes, size_t& size) {
    HANDLE file = CreateFileW(wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TileFileRead::FAILED;
    TileFileRead result = TileFileRead::FAILED;
    LARGE_INTEGER file_size;
    if (!GetFileSizeEx(file, &file_size) || file_size.QuadPart < 0) {
        result = TileFileRead::FAILED;
    } else if (file_size.QuadPart > MAX_WHOLE_TILE_FILE_BYTES) {
        result = TileFileRead::TOO_LARGE;
    } else {
        const DWORD wanted = static_cast<DWORD>(file_size.QuadPart);
        DWORD got = 0;
        if (reserve_tile_buffer(wanted) &&
            ReadFile(file, tile_buffer, wanted, &got, nullptr)) {
            bytes = tile_buffer;
            size = got;   // a file that shrank meanwhile gives what it still holds
            result = TileFileRead::READ;
        }
    }
    CloseHandle(file);
    return result;
}

void trim_tile_file_buffer(size_t keep_bytes) {
    if (tile_buffer_capacity <= keep_bytes && keep_bytes > 0) return;
    std::free(tile_buffer);
    tile_buffer = nullptr;
    tile_buffer_capacity = 0;
}
