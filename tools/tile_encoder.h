// Encoding rows of pixels into tile files with libjpeg: one encoder per tile column, fed the
// rows of each band as they are read, on worker threads. Each encoder owns its compressed
// tile in a buffer of its own (libjpeg neither allocates nor frees it), so a run that fails
// in the middle of a tile frees everything exactly once.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/tile_plan.h"

// Writes `size` bytes to a new file at `path` and closes it, flushed to the disk when
// `flush_to_disk`; empty, or the system's reason for the failure.
std::string write_new_file(const std::filesystem::path& path, const void* data, size_t size,
                           bool flush_to_disk);

// Hands each band of rows to every worker; worker w encodes columns w, w + workers, ... and
// keeps one encoder per column for the tile row in progress. Tiles go to `folder`/RRR/CCC.jpg
// (the row folders must exist when their first rows come).
class BandEncoders {
public:
    // `failing_tile` (0-based, -1 for none) writes that tile to /dev/full: a full disk, for
    // the tests.
    BandEncoders(const MakeOptions& options, const TileGrid& grid, const std::filesystem::path& folder,
                 int32_t workers, std::atomic<int64_t>& tiles_done, int64_t failing_tile);
    ~BandEncoders();
    BandEncoders(const BandEncoders&) = delete;
    BandEncoders& operator=(const BandEncoders&) = delete;

    // Encodes rows y0 .. y0 + rows - 1 of the padded image, full width, the first at `pixels`
    // and each `stride` bytes after the one before, and returns when every worker is done
    // with them. False after a failure (see error()).
    bool encode_band(const uint8_t* pixels, size_t stride, int32_t y0, int32_t rows);
    // The first failure, or empty.
    std::string error();

private:
    void work(int32_t first_column);
    void fail(const std::string& error);

    const MakeOptions& options_;
    const TileGrid grid_;
    const std::filesystem::path folder_;
    const int32_t workers_;
    std::atomic<int64_t>& tiles_done_;
    const int64_t failing_tile_;
    // lock_ guards everything below it; workers wait on ready_ for a band, encode_band on
    // idle_ for busy_ to come back to 0.
    std::mutex lock_;
    std::condition_variable ready_;
    std::condition_variable idle_;
    const uint8_t* band_pixels_ = nullptr;
    size_t band_stride_ = 0;
    int32_t band_y0_ = 0;
    int32_t band_rows_ = 0;
    int64_t band_number_ = 0;
    int32_t busy_ = 0;
    bool closing_ = false;
    std::string error_;
    std::vector<std::thread> threads_;
};
