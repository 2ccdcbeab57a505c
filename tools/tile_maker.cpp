// The work of `terrava-tiles make`: libvips opens and checks the image, turns it into 8-bit
// sRGB padded to whole tiles and reads it strip by strip in order (opened for sequential
// access, so no format is decoded more than once or held whole); worker threads encode the
// tiles of each strip with libjpeg straight from the strip's memory (a libvips save per tile
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
#include <deque>
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

// A strip held by the tiles still to be encoded from it.
struct TileJob {
    std::shared_ptr<VImage> strip;
    int32_t row;
    int32_t column;
};

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

// Three bands of 8-bit sRGB: transparency laid on the padding colour, grey, 16-bit and CMYK
// images converted, extra bands dropped.
VImage as_rgb(VImage image) {
    if (image.has_alpha())
        image = image.flatten(VImage::option()->set("background", padding_colour()));
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() == 1) image = image.bandjoin({image, image});
    if (image.bands() > 3) image = image.extract_band(0, VImage::option()->set("n", 3));
    return image;
}

// libjpeg reports a failure by longjmp back into encode_tile.
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

// Writes the size x size tile whose top-left pixel is `pixels` (rows `stride` bytes apart,
// three bytes a pixel) as a JPEG file without metadata; the failure, or empty.
std::string encode_tile(const uint8_t* pixels, size_t stride, int32_t size,
                        const MakeOptions& options, const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return std::strerror(errno);
    jpeg_compress_struct encoder;
    EncoderErrors errors;
    encoder.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = on_encoder_error;
    if (setjmp(errors.back) != 0) {
        jpeg_destroy_compress(&encoder);
        std::fclose(file);
        return errors.message;
    }
    jpeg_create_compress(&encoder);
    jpeg_stdio_dest(&encoder, file);
    encoder.image_width = static_cast<JDIMENSION>(size);
    encoder.image_height = static_cast<JDIMENSION>(size);
    encoder.input_components = 3;
    encoder.in_color_space = JCS_RGB;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, options.quality, TRUE);
    const int luma_sampling = options.subsampling == ChromaSubsampling::FULL_444 ? 1 : 2;
    encoder.comp_info[0].h_samp_factor = luma_sampling;
    encoder.comp_info[0].v_samp_factor = luma_sampling;
    if (options.progressive) jpeg_simple_progression(&encoder);
    jpeg_start_compress(&encoder, TRUE);
    while (encoder.next_scanline < encoder.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + encoder.next_scanline * stride);
        jpeg_write_scanlines(&encoder, &row, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) return std::strerror(errno);
    return "";
}

void remove_quietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

// Encodes the tiles of the strips it is handed, on `workers` threads, into `folder`.
class TileEncoders {
public:
    TileEncoders(const MakeOptions& options, const fs::path& folder, int32_t workers,
                 std::atomic<int64_t>& tiles_done)
        : options_(options), folder_(folder), tiles_done_(tiles_done) {
        for (int32_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
    }
    ~TileEncoders() { finish(); }

    // Queues one strip's tiles once the queue has run dry, so at most the strip being
    // finished, this one and the next being read are alive. False after a failure.
    bool add_strip(std::shared_ptr<VImage> strip, int32_t row, int32_t columns) {
        std::unique_lock<std::mutex> hold(lock_);
        drained_.wait(hold, [this] { return queue_.empty() || !error_.empty(); });
        if (!error_.empty()) return false;
        for (int32_t column = 0; column < columns; ++column) queue_.push_back({strip, row, column});
        ready_.notify_all();
        return true;
    }

    // Waits for every queued tile; the first failure, or empty.
    std::string finish() {
        {
            std::lock_guard<std::mutex> hold(lock_);
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
        queue_.clear();
        drained_.notify_all();
    }

private:
    void work() {
        for (;;) {
            TileJob job;
            {
                std::unique_lock<std::mutex> hold(lock_);
                ready_.wait(hold, [this] { return !queue_.empty() || closing_; });
                if (queue_.empty()) return;
                job = std::move(queue_.front());
                queue_.pop_front();
                if (queue_.empty()) drained_.notify_all();
            }
            encode(job);
        }
    }

    void encode(const TileJob& job) {
        const int32_t size = options_.tile_size;
        const fs::path file = folder_ / tile_file_name(job.row, job.column);
        const VImage& strip = *job.strip;
        const size_t stride = VIPS_IMAGE_SIZEOF_LINE(strip.get_image());
        const uint8_t* pixels = static_cast<const uint8_t*>(strip.data()) + size_t{3} * size * job.column;
        const std::string error = encode_tile(pixels, stride, size, options_, file.c_str());
        if (!error.empty()) fail("cannot write " + file.string() + ": " + error);
        else ++tiles_done_;
    }

    const MakeOptions& options_;
    const fs::path folder_;
    std::atomic<int64_t>& tiles_done_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::condition_variable drained_;
    std::deque<TileJob> queue_;
    bool closing_ = false;
    std::string error_;
    std::vector<std::thread> threads_;
};

// Reads `padded` strip by strip into `paths.partial_tiles`; the first failure, or empty.
std::string cut_tiles(const VImage& padded, const MakeOptions& options, const TileGrid& grid,
                      const Paths& paths, std::atomic<int64_t>& tiles_done,
                      const std::atomic<bool>& stop) {
    const int32_t size = options.tile_size;
    const int32_t workers = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    TileEncoders encoders(options, paths.partial_tiles, workers, tiles_done);
    for (int32_t row = 0; row < grid.rows; ++row) {
        if (stop) {
            encoders.fail("interrupted");
            break;
        }
        std::error_code error;
        const fs::path folder = paths.partial_tiles / row_folder_name(row);
        if (!fs::create_directory(folder, error)) {
            encoders.fail("cannot create " + folder.string() + ": " + error.message());
            break;
        }
        std::shared_ptr<VImage> strip;
        try {
            strip = std::make_shared<VImage>(
                padded.extract_area(0, row * size, grid.columns * size, size).copy_memory());
        } catch (const VError& e) {
            encoders.fail("cannot read " + options.image + ": " + first_line(e.what()));
            break;
        }
        if (!encoders.add_strip(std::move(strip), row, grid.columns)) break;
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
    if (!plan.ok) {
        outcome.error = options.image + ": " + plan.error;
        return outcome;
    }
    outcome.grid = plan.grid;
    // The viewer must be able to open what is made: its limits on the length of the tile
    // folder and the tile paths depend on where the tileset lies.
    const std::string absolute_file = fs::absolute(paths.tileset_file).lexically_normal().string();
    const TilesetReading as_viewer_reads =
        read_tileset_text(absolute_file, tileset_file_text(plan.grid, options.tile_size, options.name), "");
    if (!as_viewer_reads.ok) {
        outcome.error = "the viewer could not open " + paths.tileset_file.string() + ": " + as_viewer_reads.error;
        return outcome;
    }

    VImage padded;
    try {
        padded = as_rgb(image).embed(0, 0, plan.grid.columns * options.tile_size,
                                     plan.grid.rows * options.tile_size,
                                     VImage::option()
                                         ->set("extend", VIPS_EXTEND_BACKGROUND)
                                         ->set("background", padding_colour()));
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
