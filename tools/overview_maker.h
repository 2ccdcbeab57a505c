// Overview levels made in the same pass as the tiles: each band of rows the tiles are cut from
// also goes down a chain of levels, where level k + 1 is shrunk from the rows level k makes (not
// from the image again), one tile row at a time. Memory: one tile row per level, less than
// one tile row of the image in all. Tiles go to FOLDER/overview<k>/RRR/CCC.jpg.
#pragma once
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/tile_encoder.h"
#include "tools/tile_plan.h"

// Level k's folder name inside the tile folder ("overview3"); row folders are digits only.
std::string overview_folder_name(int32_t level);

class OverviewLevel;

class OverviewChain {
public:
    // Levels 1..`levels` of a `map_width` x `map_height` image cut as `grid`.
    OverviewChain(const MakeOptions& options, const TileGrid& grid, int64_t map_width,
                  int64_t map_height, int32_t levels, const std::filesystem::path& tile_folder,
                  std::atomic<int64_t>& tiles_done);
    ~OverviewChain();
    OverviewChain(const OverviewChain&) = delete;
    OverviewChain& operator=(const OverviewChain&) = delete;

    // Tiles the chain will write.
    int64_t tile_count() const;
    // Rows y0 .. y0 + rows - 1 of the image (level 0, padded), in order, full width. False after
    // a failure (see error()).
    bool take_rows(const uint8_t* pixels, size_t stride, int32_t y0, int32_t rows);
    std::string error() const;
    // True when every level has written its last tile.
    bool finished() const;

private:
    std::vector<std::unique_ptr<OverviewLevel>> levels_;
};
