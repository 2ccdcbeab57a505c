// Tile encoding for `terrava-tiles make`: libjpeg compresses each tile into a buffer its
// TileEncoder owns, fed a few rows at a time; the tile is written to its file in one piece
// when its last row came, so a row of tiles in progress holds no open file.
#include "tools/tile_encoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

namespace fs = std::filesystem;

std::string write_new_file(const fs::path& path, const void* data, size_t size, bool flush_to_disk) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0) return std::strerror(errno);
    const char* next = static_cast<const char*>(data);
    size_t left = size;
    int error = 0;
    while (left > 0 && error == 0) {
        const ssize_t written = write(file, next, left);
        if (written < 0 && errno != EINTR) error = errno;
        if (written > 0) next += written, left -= static_cast<size_t>(written);
    }
    if (error == 0 && flush_to_disk && fsync(file) != 0) error = errno;
    if (close(file) != 0 && error == 0) error = errno;
    return error == 0 ? "" : std::strerror(error);
}

namespace {

// libjpeg reports a failure by longjmp back into the TileEncoder call that was running.
struct EncoderErrors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void on_encoder_error(j_common_ptr encoder) {
    EncoderErrors* errors = reinterpret_cast<EncoderErrors*>(encoder->err);
    (*encoder->err->format_message)(encoder, errors->message);
    std::longjmp(errors->back, 1);
}

// The compressed tile goes into `bytes`, which only the TileEncoder allocates and frees; it
// keeps its size from tile to tile.
struct VectorDestination {
    jpeg_destination_mgr manager;
    std::vector<JOCTET> bytes;
    size_t used = 0;   // the tile's length, once finished
};

constexpr size_t FIRST_OUTPUT_SIZE = 16384;

void start_destination(j_compress_ptr encoder) {
    VectorDestination* d = reinterpret_cast<VectorDestination*>(encoder->dest);
    if (d->bytes.size() < FIRST_OUTPUT_SIZE) d->bytes.resize(FIRST_OUTPUT_SIZE);
    d->manager.next_output_byte = d->bytes.data();
    d->manager.free_in_buffer = d->bytes.size();
    d->used = 0;
}

// Called when the buffer is full: doubles it.
boolean grow_destination(j_compress_ptr encoder) {
    VectorDestination* d = reinterpret_cast<VectorDestination*>(encoder->dest);
    const size_t full = d->bytes.size();
    try {
        d->bytes.resize(full * 2);
    } catch (const std::bad_alloc&) {
        ERREXIT1(encoder, JERR_OUT_OF_MEMORY, 0);
    }
    d->manager.next_output_byte = d->bytes.data() + full;
    d->manager.free_in_buffer = d->bytes.size() - full;
    return TRUE;
}

void finish_destination(j_compress_ptr encoder) {
    VectorDestination* d = reinterpret_cast<VectorDestination*>(encoder->dest);
    d->used = d->bytes.size() - d->manager.free_in_buffer;
}

// One column's tile being encoded. Baseline tiles keep only a few pixel rows in the encoder;
// progressive ones their whole tile's coefficients.
class TileEncoder {
public:
    TileEncoder() {
        encoder_.err = jpeg_std_error(&errors_.manager);
        errors_.manager.error_exit = on_encoder_error;
        errors_.message[0] = '\0';
        destination_.manager.init_destination = start_destination;
        destination_.manager.empty_output_buffer = grow_destination;
        destination_.manager.term_destination = finish_destination;
    }
    ~TileEncoder() {
        if (created_) jpeg_destroy_compress(&encoder_);
    }
    TileEncoder(const TileEncoder&) = delete;
    TileEncoder& operator=(const TileEncoder&) = delete;

    // Each returns false on failure, with the reason in error().
    bool start(const MakeOptions& options) {
        if (setjmp(errors_.back) != 0) return false;
        if (!created_) {
            jpeg_create_compress(&encoder_);
            created_ = true;
        }
        encoder_.dest = &destination_.manager;
        encoder_.image_width = static_cast<JDIMENSION>(options.tile_size);
        encoder_.image_height = static_cast<JDIMENSION>(options.tile_size);
        encoder_.input_components = 3;
        encoder_.in_color_space = JCS_RGB;
        jpeg_set_defaults(&encoder_);
        jpeg_set_quality(&encoder_, options.quality, TRUE);
        const int luma_sampling = options.subsampling == ChromaSubsampling::FULL_444 ? 1 : 2;
        encoder_.comp_info[0].h_samp_factor = luma_sampling;
        encoder_.comp_info[0].v_samp_factor = luma_sampling;
        if (options.progressive) jpeg_simple_progression(&encoder_);
        jpeg_start_compress(&encoder_, TRUE);
        return true;
    }

    // `count` rows, the first at `first`, each `stride` bytes after the one before.
    bool write_rows(const uint8_t* first, size_t stride, int32_t count) {
        if (setjmp(errors_.back) != 0) return false;
        constexpr int32_t BATCH = 32;
        JSAMPROW rows[BATCH];
        for (int32_t done = 0; done < count;) {
            const int32_t batch = std::min(count - done, BATCH);
            for (int32_t i = 0; i < batch; ++i)
                rows[i] = const_cast<JSAMPROW>(first + static_cast<size_t>(done + i) * stride);
            const JDIMENSION written = jpeg_write_scanlines(&encoder_, rows, static_cast<JDIMENSION>(batch));
            if (written == 0) {
                std::snprintf(errors_.message, sizeof errors_.message, "the encoder took no rows");
                return false;
            }
            done += static_cast<int32_t>(written);
        }
        return true;
    }

    bool finish(const fs::path& path) {
        if (setjmp(errors_.back) != 0) return false;
        jpeg_finish_compress(&encoder_);
        const std::string error =
            write_new_file(path, destination_.bytes.data(), destination_.used, false);
        std::snprintf(errors_.message, sizeof errors_.message, "%s", error.c_str());
        return error.empty();
    }

    const char* error() const { return errors_.message; }

private:
    jpeg_compress_struct encoder_;
    EncoderErrors errors_;
    VectorDestination destination_;
    bool created_ = false;
};

}  // namespace

BandEncoders::BandEncoders(const MakeOptions& options, const TileGrid& grid, const fs::path& folder,
                           int32_t workers, std::atomic<int64_t>& tiles_done, int64_t failing_tile)
    : options_(options),
      grid_(grid),
      folder_(folder),
      workers_(workers),
      tiles_done_(tiles_done),
      failing_tile_(failing_tile) {
    for (int32_t w = 0; w < workers; ++w) threads_.emplace_back([this, w] { work(w); });
}

BandEncoders::~BandEncoders() {
    {
        std::unique_lock<std::mutex> hold(lock_);
        idle_.wait(hold, [this] { return busy_ == 0; });
        closing_ = true;
        ready_.notify_all();
    }
    for (std::thread& thread : threads_) thread.join();
}

bool BandEncoders::encode_band(const uint8_t* pixels, size_t stride, int32_t y0, int32_t rows) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!error_.empty()) return false;
    band_pixels_ = pixels;
    band_stride_ = stride;
    band_y0_ = y0;
    band_rows_ = rows;
    ++band_number_;
    busy_ = workers_;
    ready_.notify_all();
    idle_.wait(hold, [this] { return busy_ == 0; });
    return error_.empty();
}

std::string BandEncoders::error() {
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
}

void BandEncoders::fail(const std::string& error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (error_.empty()) error_ = error;
}

void BandEncoders::work(int32_t first_column) {
    std::vector<std::unique_ptr<TileEncoder>> encoders;
    for (int32_t c = first_column; c < grid_.columns; c += workers_)
        encoders.push_back(std::make_unique<TileEncoder>());
    const int32_t size = options_.tile_size;
    int64_t seen = 0;
    for (;;) {
        const uint8_t* pixels;
        size_t stride;
        int32_t y0, rows;
        {
            std::unique_lock<std::mutex> hold(lock_);
            ready_.wait(hold, [&] { return band_number_ > seen || closing_; });
            if (band_number_ == seen) return;
            seen = band_number_;
            pixels = band_pixels_;
            stride = band_stride_;
            y0 = band_y0_;
            rows = band_rows_;
        }
        for (size_t k = 0; k < encoders.size() && error().empty(); ++k) {
            const int32_t column = first_column + static_cast<int32_t>(k) * workers_;
            TileEncoder& encoder = *encoders[k];
            for (int32_t y = y0; y < y0 + rows;) {
                const int32_t in_tile = y % size;
                const int32_t count = std::min(y0 + rows - y, size - in_tile);
                const int32_t row = y / size;
                const fs::path file = folder_ / tile_file_name(row, column);
                const bool last_rows = in_tile + count == size;
                const bool full_disk = int64_t{row} * grid_.columns + column == failing_tile_;
                const bool ok =
                    (in_tile != 0 || encoder.start(options_)) &&
                    encoder.write_rows(pixels + static_cast<size_t>(y - y0) * stride +
                                           size_t{3} * size * column,
                                       stride, count) &&
                    (!last_rows || encoder.finish(full_disk ? fs::path("/dev/full") : file));
                if (!ok) {
                    fail("cannot write " + file.string() + ": " + encoder.error());
                    break;
                }
                if (last_rows) ++tiles_done_;
                y += count;
            }
        }
        std::lock_guard<std::mutex> hold(lock_);
        if (--busy_ == 0) idle_.notify_all();
    }
}
