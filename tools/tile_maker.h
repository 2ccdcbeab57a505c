// Cutting an image into a tileset with libvips and libjpeg. The image is read once, top to
// bottom, a band of rows at a time, while worker threads feed the band before it to one tile
// encoder per column; memory grows with the image's width only (a progressive source aside).
// Tiles and then the tileset file are written under hidden names next to the tileset; they
// take its names only when all of them are written, and an old tileset goes only then.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "tools/tile_plan.h"

struct MakeOutcome {
    bool ok;
    std::string error;     // one line, when not ok
    std::string warning;   // one line about damage accepted with --accept-damaged, or empty
    TileGrid grid;
    int32_t overview_levels;   // levels written besides the tiles
    int64_t image_width;
    int64_t image_height;
    std::string tileset_file;
};

// Makes options.out_dir/NAME.tvt and NAME/RRR/CCC.jpg. `tiles_total` is set once the grid is
// known and `tiles_done` counts written tiles, for a progress display; `stop` set to a signal's
// number from elsewhere (an interrupt) ends the run, leaving nothing behind, unless it comes
// after the new tileset is in place. libvips must be started.
MakeOutcome make_tileset(const MakeOptions& options, std::atomic<int64_t>& tiles_done,
                         std::atomic<int64_t>& tiles_total, const std::atomic<int>& stop);
