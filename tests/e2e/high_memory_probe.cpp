// Decodes one tile with the viewer's loader code twice: once as the program starts, and once
// after every free range of address space below 2 GB has been reserved, so that the second
// decode's buffers can only come from above 2 GB. Prints "same ADDRESS" when both decodes
// gave the same pixels (ADDRESS: where the second one's pixels lay), "no-high-memory" when
// the system gives this process nothing above 2 GB; exits non-zero on any difference.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tiles/tile_list.h"
#include "tiles/tile_loader.h"

namespace {

constexpr uintptr_t TWO_GB = 0x80000000u;

// The tile's pixels, or empty when it did not decode.
std::vector<unsigned char> decode(const char* path, int size, uintptr_t& pixels_at) {
    TileRequest request;
    request = TileRequest{};
    request.path = const_cast<char*>(path);
    request.tile_width = size;
    request.tile_height = size;
    if (decode_tile(&request) != 1 || request.tile == nullptr) return {};
    CachedTile* tile = request.tile;
    pixels_at = reinterpret_cast<uintptr_t>(tile->pixels);
    std::vector<unsigned char> pixels(tile->pixels, tile->pixels + tile->pixel_bytes);
    std::free(tile->pixels);
    std::free(tile);
    return pixels;
}

// Reserves free ranges below 2 GB, largest pieces first, until none is left. True when the
// system then hands out address space above 2 GB.
bool reserve_low_address_space() {
    for (SIZE_T piece = SIZE_T{1} << 28; piece >= 0x10000; piece >>= 1) {
        for (;;) {
            void* at = VirtualAlloc(nullptr, piece, MEM_RESERVE, PAGE_NOACCESS);
            if (at == nullptr) break;
            if (reinterpret_cast<uintptr_t>(at) >= TWO_GB) {
                VirtualFree(at, 0, MEM_RELEASE);
                break;
            }
        }
    }
    void* probe = VirtualAlloc(nullptr, 0x10000, MEM_RESERVE, PAGE_NOACCESS);
    const bool high = probe != nullptr && reinterpret_cast<uintptr_t>(probe) >= TWO_GB;
    if (probe != nullptr) VirtualFree(probe, 0, MEM_RELEASE);
    return high;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: high_memory_probe TILE.jpg TILE_SIZE\n");
        return 2;
    }
    const int size = std::atoi(argv[2]);
    start_tile_loader();   // the queue lock, which the tile buffers are taken under
    uintptr_t low_at = 0, high_at = 0;
    const std::vector<unsigned char> before = decode(argv[1], size, low_at);
    if (before.empty()) {
        std::printf("the tile %s did not decode\n", argv[1]);
        return 1;
    }
    if (!reserve_low_address_space()) {
        std::printf("no-high-memory\n");
        return 0;
    }
    const std::vector<unsigned char> after = decode(argv[1], size, high_at);
    if (after != before) {
        std::printf("the decode with buffers at 0x%08lx differs from the one at 0x%08lx\n",
                    static_cast<unsigned long>(high_at), static_cast<unsigned long>(low_at));
        return 1;
    }
    if (high_at < TWO_GB) {
        std::printf("the second decode's pixels lay at 0x%08lx, below 2 GB\n",
                    static_cast<unsigned long>(high_at));
        return 1;
    }
    std::printf("same 0x%08lx\n", static_cast<unsigned long>(high_at));
    stop_tile_loader();
    return 0;
}
