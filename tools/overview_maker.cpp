// The chain of overview levels: each level keeps the map rows of the level above it in pairs,
// shrinks them into its own tile row, and hands each finished tile row (padded like level 0's
// edge tiles) to its tile encoders and to the level below.
#include "tools/overview_maker.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "app/tileset_rules.h"
#include "tools/level_shrink.h"

namespace fs = std::filesystem;

std::string overview_folder_name(int32_t level) { return "overview" + std::to_string(level); }

// One level: its map size, its grid, the tile row being filled and the level it feeds.
class OverviewLevel {
public:
    OverviewLevel(const MakeOptions& options, const TileGrid& grid, int64_t parent_width,
                  int64_t parent_height, const fs::path& folder, std::atomic<int64_t>& tiles_done,
                  OverviewLevel* next)
        : tile_size_(options.tile_size),
          grid_(grid),
          parent_width_(static_cast<int32_t>(parent_width)),
          parent_height_(static_cast<int32_t>(parent_height)),
          height_(static_cast<int32_t>(shrunk_extent(parent_height, 1))),
          stride_(size_t{3} * static_cast<size_t>(grid.columns) * static_cast<size_t>(options.tile_size)),
          folder_(folder),
          encoders_(options, grid, folder,
                    static_cast<int32_t>(std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()),
                                                            static_cast<unsigned>(grid.columns))),
                    tiles_done, -1),
          band_(stride_ * static_cast<size_t>(options.tile_size)),
          waiting_(static_cast<size_t>(3) * static_cast<size_t>(parent_width)),
          next_(next) {
        fill_white(0, tile_size_);
    }

    int32_t width() const { return static_cast<int32_t>(shrunk_extent(parent_width_, 1)); }
    int32_t height() const { return height_; }
    int64_t tile_count() const { return int64_t{grid_.columns} * grid_.rows; }
    bool finished() const { return made_ == grid_.rows * tile_size_; }
    std::string error() const { return error_; }

    // Rows of the level above; its padding rows (beyond its map) are passed over.
    bool take_rows(const uint8_t* pixels, size_t stride, int32_t y0, int32_t rows) {
        for (int32_t y = y0; y < y0 + rows && y < parent_height_ && error_.empty(); ++y) {
            const uint8_t* row = pixels + static_cast<size_t>(y - y0) * stride;
            if (y % 2 == 0 && y + 1 < parent_height_) {
                std::memcpy(waiting_.data(), row, waiting_.size());
                continue;
            }
            const uint8_t* top = y % 2 == 0 ? row : waiting_.data();
            const uint8_t* bottom = y % 2 == 0 ? nullptr : row;
            shrink_row_pair(top, bottom, parent_width_, band_row(made_));
            if (!row_made()) break;
        }
        // The map's last row is made: white rows fill out the last tile row.
        while (error_.empty() && made_ >= height_ && !finished()) {
            fill_white(made_ % tile_size_, made_ % tile_size_ + 1);
            if (!row_made()) break;
        }
        return error_.empty();
    }

private:
    uint8_t* band_row(int32_t y) { return band_.data() + static_cast<size_t>(y % tile_size_) * stride_; }

    void fill_white(int32_t first_row, int32_t end_row) {
        for (int32_t r = first_row; r < end_row; ++r) {
            uint8_t* row = band_.data() + static_cast<size_t>(r) * stride_;
            for (size_t i = 0; i < stride_; i += 3)
                row[i] = PADDING_RED, row[i + 1] = PADDING_GREEN, row[i + 2] = PADDING_BLUE;
        }
    }

    // Counts a finished row; a finished tile row goes to the encoders and the next level. The
    // band's columns right of the map are never written: they keep the padding colour.
    bool row_made() {
        ++made_;
        if (made_ % tile_size_ != 0) return true;
        const int32_t y0 = made_ - tile_size_;
        const fs::path row_folder = folder_ / row_folder_name(y0 / tile_size_);
        std::error_code error;
        if (!fs::create_directory(row_folder, error)) {
            error_ = "cannot create " + row_folder.string() + ": " + (error ? error.message() : "it exists");
            return false;
        }
        if (!encoders_.encode_band(band_.data(), stride_, y0, tile_size_)) {
            error_ = encoders_.error();
            return false;
        }
        if (next_ != nullptr && !next_->take_rows(band_.data(), stride_, y0, tile_size_)) {
            error_ = next_->error();
            return false;
        }
        return true;
    }

    const int32_t tile_size_;
    const TileGrid grid_;
    const int32_t parent_width_;
    const int32_t parent_height_;
    const int32_t height_;
    const size_t stride_;   // bytes of one full-width row of this level
    const fs::path folder_;
    BandEncoders encoders_;
    std::vector<uint8_t> band_;      // the tile row being filled
    std::vector<uint8_t> waiting_;   // an even row of the level above, until its partner comes
    int32_t made_ = 0;               // rows of this level made so far
    OverviewLevel* next_;
    std::string error_;
};

OverviewChain::OverviewChain(const MakeOptions& options, const TileGrid& grid, int64_t map_width,
                             int64_t map_height, int32_t levels, const fs::path& tile_folder,
                             std::atomic<int64_t>& tiles_done) {
    const TileGeometry map{options.tile_size, options.tile_size, grid.columns, grid.rows};
    levels_.resize(static_cast<size_t>(levels));
    // Built from the last level up, each pointing at the one it feeds.
    for (int32_t level = levels; level >= 1; --level) {
        const TileGeometry shrunk = overview_geometry(map, level);
        const fs::path folder = tile_folder / overview_folder_name(level);
        std::error_code ignored;   // a folder that could not be made fails at its first row
        fs::create_directory(folder, ignored);
        OverviewLevel* next = level < levels ? levels_[static_cast<size_t>(level)].get() : nullptr;
        levels_[static_cast<size_t>(level - 1)] = std::make_unique<OverviewLevel>(
            options, TileGrid{shrunk.tile_columns, shrunk.tile_rows}, shrunk_extent(map_width, level - 1),
            shrunk_extent(map_height, level - 1), folder, tiles_done, next);
    }
}

OverviewChain::~OverviewChain() = default;

int64_t OverviewChain::tile_count() const {
    int64_t total = 0;
    for (const auto& level : levels_) total += level->tile_count();
    return total;
}

bool OverviewChain::take_rows(const uint8_t* pixels, size_t stride, int32_t y0, int32_t rows) {
    return levels_.empty() || levels_.front()->take_rows(pixels, stride, y0, rows);
}

std::string OverviewChain::error() const {
    for (const auto& level : levels_)
        if (!level->error().empty()) return level->error();
    return "";
}

bool OverviewChain::finished() const {
    for (const auto& level : levels_)
        if (!level->finished()) return false;
    return true;
}
