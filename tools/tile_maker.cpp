// The work of `terrava-tiles make`: libvips opens and checks the image, turns it into 8-bit
// sRGB padded to whole tiles, and reads it in bands of rows, in order (the image is opened for
// sequential access, so no format is decoded more than once or held whole); worker threads
// feed the rows of each band to one libjpeg encoder per tile column (a libvips save per tile
// costs a thread-pool hand-over per tile, more system time than the encoding itself); the
// finished tileset is put in place by renaming.
#include "tools/tile_maker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <jpeglib.h>
#include <vips/vips8>

#include "tools/tileset_check.h"

namespace fs = std::filesystem;
using vips::VError;
using vips::VImage;

namespace {

struct Paths {
    fs::path out_dir;
    fs::path tileset_file;
    fs::path tiles;
    fs::path partial_tiles;   // tiles are written here, renamed to `tiles` at the end
    fs::path partial_file;
    fs::path replaced_tiles;  // with --force: the old tiles, removed once the new ones are in
};

Paths paths_for(const MakeOptions& options) {
    Paths p;
    p.out_dir = fs::path(options.out_dir);
    const std::string pid = std::to_string(getpid());
    p.tileset_file = p.out_dir / (options.name + ".tvt");
    p.tiles = p.out_dir / options.name;
    p.partial_tiles = p.out_dir / ("." + options.name + ".partial-" + pid);
    p.partial_file = p.out_dir / ("." + options.name + ".tvt.partial-" + pid);
    p.replaced_tiles = p.out_dir / ("." + options.name + ".replaced-" + pid);
    return p;
}

// The first line of a libvips message, without its line break.
std::string first_line(const char* message) {
    std::string text(message);
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.erase(end);
    return text;
}

std::vector<double> padding_colour() {
    return {double{PADDING_RED}, double{PADDING_GREEN}, double{PADDING_BLUE}};
}

// Why the image file cannot be read at all, or empty.
std::string image_file_problem(const std::string& image) {
    struct stat info;
    if (stat(image.c_str(), &info) != 0)
        return errno == ENOENT ? image + ": no such file" : "cannot open " + image + ": " + std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return image + " is a folder, not an image";
    if (info.st_size == 0) return image + " is empty (0 bytes)";
    if (access(image.c_str(), R_OK) != 0) return "cannot open " + image + ": " + std::strerror(errno);
    return "";
}

// Why the outputs cannot be written, or empty.
std::string output_problem(const MakeOptions& options, const Paths& paths) {
    std::error_code error;
    if (fs::exists(paths.out_dir, error) && !fs::is_directory(paths.out_dir, error))
        return options.out_dir + " exists and is not a folder";
    if (options.force) return "";
    for (const fs::path& existing : {paths.tileset_file, paths.tiles})
        if (fs::exists(fs::symlink_status(existing, error)))
            return existing.string() + " already exists (--force replaces the tileset)";
    return "";
}

// Three bands of 8-bit sRGB: grey, 16-bit and CMYK images converted (an alpha band is
// scaled with them), then transparency laid on the padding colour, extra bands dropped.
VImage as_rgb(VImage image) {
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.has_alpha())
        image = image.flatten(VImage::option()->set("background", padding_colour()))
                    .cast(VIPS_FORMAT_UCHAR);
    if (image.bands() == 1) image = image.bandjoin({image, image});
    if (image.bands() > 3) image = image.extract_band(0, VImage::option()->set("n", 3));
    return image;
}

void remove_quietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

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

// One column's tile being encoded: fed its rows as they are read, written to its file when the
// last one came. The compressed data stays in memory until then, so a whole row of tiles in
// progress holds no open file. Baseline tiles keep only a few pixel rows in the encoder.
class TileEncoder {
public:
    TileEncoder() {
        encoder_.err = jpeg_std_error(&errors_.manager);
        errors_.manager.error_exit = on_encoder_error;
        errors_.message[0] = '\0';
    }
    ~TileEncoder() {
        if (created_) jpeg_destroy_compress(&encoder_);
        std::free(output_);
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
        std::free(output_);
        output_ = nullptr;
        output_size_ = 0;
        jpeg_mem_dest(&encoder_, &output_, &output_size_);
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

    bool finish(const char* path) {
        if (setjmp(errors_.back) != 0) return false;
        jpeg_finish_compress(&encoder_);
        std::FILE* file = std::fopen(path, "wb");
        const bool written = file != nullptr && std::fwrite(output_, 1, output_size_, file) == output_size_;
        if (file == nullptr || std::fclose(file) != 0 || !written) {
            std::snprintf(errors_.message, sizeof errors_.message, "%s", std::strerror(errno));
            return false;
        }
        return true;
    }

    const char* error() const { return errors_.message; }

private:
    jpeg_compress_struct encoder_;
    EncoderErrors errors_;
    bool created_ = false;
    unsigned char* output_ = nullptr;
    unsigned long output_size_ = 0;
};

// Rows read at a time: the image is held a band of this many full-width rows at a time (two
// bands at most), whatever the tile size.
constexpr int32_t BAND_ROWS = 64;

// Hands each band of rows to every worker; worker w encodes columns w, w + workers, ... and
// keeps one TileEncoder per column for the tile row in progress. The next band is handed over
// once every worker is done with the one before, so the reader reads it meanwhile.
class BandEncoders {
public:
    BandEncoders(const MakeOptions& options, const TileGrid& grid, const fs::path& folder,
                 int32_t workers, std::atomic<int64_t>& tiles_done)
        : options_(options), grid_(grid), folder_(folder), workers_(workers), tiles_done_(tiles_done) {
        for (int32_t w = 0; w < workers; ++w) threads_.emplace_back([this, w] { work(w); });
    }
    ~BandEncoders() { finish(); }

    // Rows y0 .. y0 + rows - 1 of the padded image, full width, the first at `pixels` and each
    // `stride` bytes after the one before; they must stay until the next add_band or finish.
    // False after a failure.
    bool add_band(const uint8_t* pixels, size_t stride, int32_t y0, int32_t rows) {
        std::unique_lock<std::mutex> hold(lock_);
        idle_.wait(hold, [this] { return busy_ == 0; });
        if (!error_.empty()) return false;
        band_pixels_ = pixels;
        band_stride_ = stride;
        band_y0_ = y0;
        band_rows_ = rows;
        ++band_number_;
        busy_ = workers_;
        ready_.notify_all();
        return true;
    }

    // Waits for the workers to finish; the first failure, or empty.
    std::string finish() {
        {
            std::unique_lock<std::mutex> hold(lock_);
            idle_.wait(hold, [this] { return busy_ == 0; });
            closing_ = true;
            ready_.notify_all();
        }
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
        return error_;
    }

    void fail(const std::string& error) {
        std::lock_guard<std::mutex> hold(lock_);
        if (error_.empty()) error_ = error;
    }

private:
    void work(int32_t first_column) {
        std::vector<std::unique_ptr<TileEncoder>> encoders;
        for (int32_t c = first_column; c < grid_.columns; c += workers_)
            encoders.push_back(std::make_unique<TileEncoder>());
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
            bool failed;
            {
                std::lock_guard<std::mutex> hold(lock_);
                failed = !error_.empty();
            }
            if (!failed) encode_band(pixels, stride, y0, rows, first_column, encoders);
            std::lock_guard<std::mutex> hold(lock_);
            if (--busy_ == 0) idle_.notify_all();
        }
    }

    void encode_band(const uint8_t* pixels, size_t stride, int32_t y0, int32_t rows,
                     int32_t first_column, std::vector<std::unique_ptr<TileEncoder>>& encoders) {
        const int32_t size = options_.tile_size;
        for (size_t k = 0; k < encoders.size(); ++k) {
            const int32_t column = first_column + static_cast<int32_t>(k) * workers_;
            TileEncoder& encoder = *encoders[k];
            for (int32_t y = y0; y < y0 + rows;) {
                const int32_t in_tile = y % size;
                const int32_t count = std::min(y0 + rows - y, size - in_tile);
                const fs::path file = folder_ / tile_file_name(y / size, column);
                const bool ok =
                    (in_tile != 0 || encoder.start(options_)) &&
                    encoder.write_rows(pixels + static_cast<size_t>(y - y0) * stride +
                                           size_t{3} * size * column,
                                       stride, count) &&
                    (in_tile + count != size || encoder.finish(file.c_str()));
                if (!ok) {
                    fail("cannot write " + file.string() + ": " + encoder.error());
                    return;
                }
                if (in_tile + count == size) ++tiles_done_;
                y += count;
            }
        }
    }

    const MakeOptions& options_;
    const TileGrid grid_;
    const fs::path folder_;
    const int32_t workers_;
    std::atomic<int64_t>& tiles_done_;
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

// Reads `padded` band by band into `paths.partial_tiles`; the first failure, or empty.
std::string cut_tiles(const VImage& padded, const MakeOptions& options, const TileGrid& grid,
                      const Paths& paths, std::atomic<int64_t>& tiles_done,
                      const std::atomic<bool>& stop) {
    const int32_t size = options.tile_size;
    const int32_t workers = static_cast<int32_t>(
        std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()),
                           static_cast<unsigned>(grid.columns)));
    const int32_t height = grid.rows * size;
    // Two bands in turn: one is read while the other is encoded. (Two libvips regions on the
    // image would save a copy but hold a buffer per stage of the pipeline each: half as much
    // memory again for a wide image.)
    VImage bands[2];
    BandEncoders encoders(options, grid, paths.partial_tiles, workers, tiles_done);
    for (int32_t y0 = 0; y0 < height; y0 += BAND_ROWS) {
        if (stop) {
            encoders.fail("interrupted");
            break;
        }
        const int32_t rows = std::min(BAND_ROWS, height - y0);
        std::error_code error;
        for (int32_t row = (y0 + size - 1) / size; row * size < y0 + rows; ++row) {
            const fs::path folder = paths.partial_tiles / row_folder_name(row);
            if (!fs::create_directory(folder, error)) {
                encoders.fail("cannot create " + folder.string() + ": " + error.message());
                return encoders.finish();
            }
        }
        // The band read two turns ago is done with: add_band waited for it.
        VImage& band = bands[(y0 / BAND_ROWS) % 2];
        try {
            band = padded.extract_area(0, y0, grid.columns * size, rows).copy_memory();
        } catch (const VError& e) {
            encoders.fail("cannot read " + options.image + ": " + first_line(e.what()));
            break;
        }
        if (!encoders.add_band(static_cast<const uint8_t*>(band.data()),
                               VIPS_IMAGE_SIZEOF_LINE(band.get_image()), y0, rows))
            break;
    }
    return encoders.finish();
}

// Puts the partial tiles and a new tileset file in place of any old ones.
std::string install(const MakeOptions& options, const TileGrid& grid, const Paths& paths) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(paths.tiles, error))) {
        fs::rename(paths.tiles, paths.replaced_tiles, error);
        if (error) return "cannot move the old " + paths.tiles.string() + " aside: " + error.message();
    }
    fs::rename(paths.partial_tiles, paths.tiles, error);
    if (error) {
        std::error_code ignored;
        if (fs::exists(paths.replaced_tiles, ignored)) fs::rename(paths.replaced_tiles, paths.tiles, ignored);
        return "cannot rename the tiles to " + paths.tiles.string() + ": " + error.message();
    }

    // TileDir relative to the tileset file: the viewer finds the tiles next to it from any
    // working directory, and the pair can be moved together.
    const std::string text = tileset_file_text(grid, options.tile_size, options.name);
    std::FILE* file = std::fopen(paths.partial_file.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file == nullptr || std::fclose(file) != 0 || !written) {
        remove_quietly(paths.partial_file);
        return "cannot write " + paths.partial_file.string();
    }
    fs::rename(paths.partial_file, paths.tileset_file, error);
    if (error) {
        remove_quietly(paths.partial_file);
        return "cannot rename to " + paths.tileset_file.string() + ": " + error.message();
    }
    remove_quietly(paths.replaced_tiles);
    return "";
}

// Why the viewer could not open the tileset file about to be written, or empty: its limits on
// the length of the tile folder and of the tile paths depend on where the tileset lies.
std::string viewer_refusal(const MakeOptions& options, const Paths& paths, const TileGrid& grid) {
    const std::string absolute_file = fs::absolute(paths.tileset_file).lexically_normal().string();
    const TilesetReading reading = read_tileset_text(
        absolute_file, tileset_file_text(grid, options.tile_size, options.name), "");
    if (reading.ok) return "";
    return "the viewer could not open " + paths.tileset_file.string() + ": " + reading.error;
}

// The image as tiles take it: 8-bit sRGB, padded with the padding colour to whole tiles.
VImage padded_to_grid(const VImage& image, const TileGrid& grid, int32_t tile_size) {
    return as_rgb(image).embed(0, 0, grid.columns * tile_size, grid.rows * tile_size,
                               VImage::option()
                                   ->set("extend", VIPS_EXTEND_BACKGROUND)
                                   ->set("background", padding_colour()));
}

}  // namespace

MakeOutcome make_tileset(const MakeOptions& options, std::atomic<int64_t>& tiles_done,
                         std::atomic<int64_t>& tiles_total, const std::atomic<bool>& stop) {
    MakeOutcome outcome{false, "", TileGrid{0, 0}, 0, 0, ""};
    const Paths paths = paths_for(options);
    outcome.error = image_file_problem(options.image);
    if (outcome.error.empty()) outcome.error = output_problem(options, paths);
    if (!outcome.error.empty()) return outcome;

    VImage image;
    try {
        image = VImage::new_from_file(options.image.c_str(),
                                      VImage::option()
                                          ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                          ->set("fail_on", VIPS_FAIL_ON_ERROR));
    } catch (const VError& e) {
        outcome.error = "cannot read " + options.image + " as an image: " + first_line(e.what());
        return outcome;
    }
    outcome.image_width = image.width();
    outcome.image_height = image.height();
    const GridPlan plan = plan_tile_grid(image.width(), image.height(), options.tile_size);
    outcome.grid = plan.grid;
    outcome.error = plan.ok ? viewer_refusal(options, paths, plan.grid) : options.image + ": " + plan.error;
    if (!outcome.error.empty()) return outcome;

    VImage padded;
    try {
        padded = padded_to_grid(image, plan.grid, options.tile_size);
    } catch (const VError& e) {
        outcome.error = "cannot convert " + options.image + " to RGB: " + first_line(e.what());
        return outcome;
    }

    std::error_code error;
    fs::create_directories(paths.out_dir, error);
    if (error || !fs::create_directory(paths.partial_tiles, error)) {
        outcome.error = "cannot create " + paths.partial_tiles.string() + ": " +
                        (error ? error.message() : std::string("it exists"));
        return outcome;
    }
    tiles_total = int64_t{plan.grid.columns} * plan.grid.rows;
    outcome.error = cut_tiles(padded, options, plan.grid, paths, tiles_done, stop);
    if (outcome.error.empty()) outcome.error = install(options, plan.grid, paths);
    if (!outcome.error.empty()) {
        remove_quietly(paths.partial_tiles);
        return outcome;
    }
    outcome.tileset_file = paths.tileset_file.string();
    outcome.ok = true;
    return outcome;
}
