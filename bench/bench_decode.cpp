// Decoding speed of Terrava's JPEG decoder beside libjpeg-turbo (SIMD and plain C) and
// stb_image, on the same files held in memory: a 4096x4096 photograph and its 256 tiles of
// 256x256, each in 4:2:0, 4:4:4, progressive 4:2:0 and grey. Single thread, figures in decoded
// Mpixel/s of thread CPU time; ours and libjpeg-turbo's SIMD path are timed in interleaved
// rounds, and the ratio column is the median of the per-round ratios. Prints a table; it is not
// a test. --only terrava|libjpeg KEY decodes one workload once (for callgrind's
// --toggle-collect=decode_workload_once). The 32-bit build (bench32 preset) has no stb_image.
//
// libjpeg-turbo runs as our decoder does: integer IDCT (JDCT_ISLOW), replicated chroma
// (do_fancy_upsampling off), 4-byte colour pixels (JCS_EXT_RGBX), one scanline per call.
// Its plain C figures come from a second run of this program with JSIMD_FORCENONE=1, because
// libjpeg-turbo reads that variable once per process.
//
// A second table decodes the same workloads at 1/2, 1/4 and 1/8 size, ours beside libjpeg-turbo
// at the same scale (scale_num / scale_denom, same settings), with the speed-up over our own
// full-size decode; its rates count the full-size pixels, so that they compare with the first
// table's. --scale N with --only decodes one workload at 1/N.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Our header first: jpeglib.h defines JPEG_MAX_DIMENSION as a macro, which would break our
// constant of the same name.
#include "jpeg/jpeg_decoder.h"
#include "tests/jpeg/reference_decode.h"
#include "jpeg/memory_stream.h"

#include "jpeg/simd.h"

#include <jpeglib.h>
#if defined(TERRAVA_BENCH_STB)
#include <stb/stb_image.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

struct Workload {
    std::string label;   // as printed
    std::string key;     // as passed between the two processes
    bool grey = false;
    std::vector<Bytes> files;
    double pixels = 0;   // per run, all files
};

Bytes read_file(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + count);
    std::fclose(file);
    return bytes;
}

std::vector<std::string> jpeg_files_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* handle = opendir(dir.c_str())) {
        while (dirent* entry = readdir(handle)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0)
                names.push_back(dir + "/" + name);
        }
        closedir(handle);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// ---- Terrava ---------------------------------------------------------------------------------

// Each decoder writes the whole picture into `frame`, as the viewer's loader does.
bool decode_terrava(const Bytes& jpeg, JpegDecoder& decoder, std::vector<uint8_t>& frame,
                    int scale = 1) {
    JpegMemoryStream stream(jpeg);
    decoder.create(stream);
    bool ok = decoder.status() == 0 && decoder.set_scale(scale) == 0 &&
              decoder.start_decoding() == 0;
    if (ok) {
        const size_t row_bytes = size_t(decoder.image_width()) * decoder.output_bytes_per_pixel();
        frame.resize(row_bytes * decoder.image_height());
        const uint8_t* row;
        int32_t length;
        uint8_t* out = frame.data();
        int32_t result;
        while ((result = decoder.read_scanline(row, length)) == 0) {
            std::memcpy(out, row, length);
            out += length;
        }
        ok = result == 1;
    }
    decoder.finish();  // as the loader does: the next file reuses the decoder's memory
    return ok;
}

// ---- libjpeg-turbo ---------------------------------------------------------------------------

bool decode_libjpeg(const Bytes& jpeg, std::vector<uint8_t>& frame, int scale = 1) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), jpeg.size());
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(scale);
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_EXT_RGBX;
    jpeg_start_decompress(&info);
    const size_t row_bytes = size_t(info.output_width) * info.output_components;
    frame.resize(row_bytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = frame.data() + row_bytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// ---- stb_image -------------------------------------------------------------------------------

bool decode_stb(const Bytes& jpeg, bool grey, std::vector<uint8_t>& frame) {
#if !defined(TERRAVA_BENCH_STB)
    (void)jpeg, (void)grey, (void)frame;
    return false;
#else
    int width, height, channels;
    stbi_uc* pixels = stbi_load_from_memory(jpeg.data(), static_cast<int>(jpeg.size()), &width,
                                            &height, &channels, grey ? 1 : 4);
    if (!pixels) return false;
    frame.assign(pixels, pixels + size_t(width) * height * (grey ? 1 : 4));
    stbi_image_free(pixels);
    return true;
#endif
}

// ---- Timing ----------------------------------------------------------------------------------

enum class Decoder { Terrava, LibjpegTurbo, Stb };

// CPU time of this thread: unlike wall time it does not count the time other processes take
// the CPU away, so the figures stay usable on a busy machine.
double thread_cpu_seconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec * 1e-9;
}

// One pass over all files of the workload; false if a file failed. Not inlined, so that
// callgrind can count this alone.
__attribute__((noinline)) bool decode_workload_once(Decoder which, const Workload& workload,
                                                    JpegDecoder& terrava,
                                                    std::vector<uint8_t>& frame, int scale = 1) {
    for (const Bytes& file : workload.files) {
        bool ok = false;
        switch (which) {
        case Decoder::Terrava: ok = decode_terrava(file, terrava, frame, scale); break;
        case Decoder::LibjpegTurbo: ok = decode_libjpeg(file, frame, scale); break;
        case Decoder::Stb: ok = decode_stb(file, workload.grey, frame); break;
        }
        if (!ok) return false;
    }
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median Mpixel/s over `runs` passes over all files of the workload; 0 if a file failed.
double measure(Decoder which, const Workload& workload, int runs) {
    std::unique_ptr<JpegDecoder> terrava(new JpegDecoder);
    std::vector<uint8_t> frame;
    std::vector<double> rates;
    for (int run = 0; run < runs + 1; ++run) { // the first pass warms caches and is dropped
        const double start = thread_cpu_seconds();
        if (!decode_workload_once(which, workload, *terrava, frame)) return 0;
        const double seconds = thread_cpu_seconds() - start;
        if (run > 0) rates.push_back(workload.pixels / seconds / 1e6);
    }
    return median(rates);
}

// Ours against libjpeg-turbo's SIMD path in alternating passes, so that both see the same
// machine load: median Mpixel/s of each and the median of the per-round speed ratios.
struct Interleaved {
    double ours = 0, turbo = 0, ratio = 0;
};

Interleaved measure_interleaved(const Workload& workload, int rounds, int scale = 1) {
    std::unique_ptr<JpegDecoder> terrava(new JpegDecoder);
    std::vector<uint8_t> frame;
    std::vector<double> ours, turbo, ratios;
    for (int round = 0; round < rounds + 1; ++round) { // round 0 warms caches and is dropped
        double seconds[2];
        for (int turn = 0; turn < 2; ++turn) {
            // Odd rounds start with libjpeg-turbo.
            const bool libjpeg_turn = (turn == 1) != (round % 2 == 1);
            const double start = thread_cpu_seconds();
            if (!decode_workload_once(libjpeg_turn ? Decoder::LibjpegTurbo : Decoder::Terrava,
                                      workload, *terrava, frame, scale))
                return {};
            seconds[libjpeg_turn ? 1 : 0] = thread_cpu_seconds() - start;
        }
        if (round == 0) continue;
        ours.push_back(workload.pixels / seconds[0] / 1e6);
        turbo.push_back(workload.pixels / seconds[1] / 1e6);
        ratios.push_back(seconds[1] / seconds[0]);
    }
    return {median(ours), median(turbo), median(ratios)};
}

double image_pixels(const Bytes& jpeg) {
    JpegMemoryStream stream(jpeg);
    std::unique_ptr<JpegDecoder> decoder(new JpegDecoder);
    decoder->create(stream);
    const double pixels =
        decoder->status() == 0 ? double(decoder->image_width()) * decoder->image_height() : 0;
    decoder->destroy();
    return pixels;
}

std::vector<Workload> load_workloads(const std::string& dir) {
    struct Layout {
        const char* name;
        const char* label;
        bool grey;
    };
    const Layout layouts[] = {{"420", "4:2:0", false},
                              {"444", "4:4:4", false},
                              {"progressive", "progressive 4:2:0", false},
                              {"grey", "grey", true}};
    std::vector<Workload> workloads;
    for (const bool tiles : {false, true}) {
        for (const Layout& layout : layouts) {
            Workload workload;
            workload.grey = layout.grey;
            workload.key = std::string(tiles ? "tiles-" : "photo-") + layout.name;
            std::vector<std::string> paths =
                tiles ? jpeg_files_in(dir + "/tiles-" + layout.name)
                      : std::vector<std::string>{dir + "/photo-" + layout.name + ".jpg"};
            for (const std::string& path : paths) {
                Bytes bytes = read_file(path);
                if (bytes.empty()) continue;
                workload.pixels += image_pixels(bytes);
                workload.files.push_back(std::move(bytes));
            }
            if (workload.files.empty()) continue;
            workload.label = tiles ? std::to_string(workload.files.size()) + " tiles 256x256 " +
                                         layout.label
                                   : std::string("4096x4096 ") + layout.label;
            workloads.push_back(std::move(workload));
        }
    }
    return workloads;
}

// Runs this program again with JSIMD_FORCENONE=1 and reads its "key rate" lines.
std::map<std::string, double> libjpeg_plain_c_rates(const std::string& dir, int runs) {
    std::map<std::string, double> rates;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return rates;
    self[length] = 0;
    const std::string command = std::string("JSIMD_FORCENONE=1 '") + self +
                                "' --libjpeg-only --runs " + std::to_string(runs) + " '" + dir + "'";
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char key[256];
        double rate;
        while (std::fscanf(pipe, "%255s %lf", key, &rate) == 2) rates[key] = rate;
        pclose(pipe);
    }
    return rates;
}

// Our decoder must give exactly the reference decoding of the tests (tests/jpeg/
// reference_decode.h); a speed figure for wrong output would mean little.
std::string agreement(const Workload& workload) {
    std::unique_ptr<JpegDecoder> terrava(new JpegDecoder);
    std::vector<uint8_t> ours;
    oracle::Image reference;
    for (const Bytes& file : workload.files) {
        if (!decode_terrava(file, *terrava, ours)) return "terrava failed";
        if (!oracle::reference_decode(file.data(), file.size(), reference).empty())
            return "no reference";
        const size_t pixels = size_t(reference.width) * reference.height;
        const size_t bytes_per_pixel = reference.channels == 1 ? 1 : 4; // ours: R, G, B, padding
        if (ours.size() != pixels * bytes_per_pixel) return "OUTPUT DIFFERS";
        for (size_t p = 0; p < pixels; ++p)
            for (int c = 0; c < reference.channels; ++c)
                if (ours[p * bytes_per_pixel + c] != reference.pixels[p * reference.channels + c])
                    return "OUTPUT DIFFERS";
    }
    return "identical";
}

} // namespace

int main(int argc, char** argv) {
    std::string dir = TERRAVA_BENCH_INPUTS;
    int runs = 5;
    bool libjpeg_only = false;
    std::string only_decoder, only_key, ratio_key;
    int only_scale = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--libjpeg-only") libjpeg_only = true;
        else if (arg == "--only" && i + 2 < argc) only_decoder = argv[++i], only_key = argv[++i];
        else if (arg == "--scale" && i + 1 < argc) only_scale = std::atoi(argv[++i]);
        else if (arg == "--ratio" && i + 1 < argc) ratio_key = argv[++i];
        else if (arg[0] != '-') dir = arg;
        else {
            std::fprintf(stderr, "usage: bench_decode [--runs N] [--only terrava|libjpeg KEY "
                                 "[--scale 2|4|8]] [--ratio KEY [--scale 2|4|8]] [INPUT_DIR]\n");
            return 2;
        }
    }

    if (!only_key.empty()) {
        std::unique_ptr<JpegDecoder> terrava(new JpegDecoder);
        std::vector<uint8_t> frame;
        for (const Workload& workload : load_workloads(dir)) {
            if (workload.key != only_key) continue;
            const Decoder which = only_decoder == "libjpeg" ? Decoder::LibjpegTurbo : Decoder::Terrava;
            const bool ok = decode_workload_once(which, workload, *terrava, frame, only_scale);
            std::printf("%s %s: %.0f pixels%s\n", only_decoder.c_str(), only_key.c_str(),
                        workload.pixels, ok ? "" : " FAILED");
            return ok ? 0 : 1;
        }
        std::fprintf(stderr, "bench_decode: no workload %s\n", only_key.c_str());
        return 2;
    }

    if (!ratio_key.empty()) {
        for (const Workload& workload : load_workloads(dir)) {
            if (workload.key != ratio_key) continue;
            const Interleaved pair = measure_interleaved(workload, runs, only_scale);
            std::printf("%s 1/%d: terrava %.1f libjpeg-turbo %.1f ratio %.3f\n", ratio_key.c_str(),
                        only_scale, pair.ours, pair.turbo, pair.ratio);
            return pair.ours > 0 ? 0 : 1;
        }
        std::fprintf(stderr, "bench_decode: no workload %s\n", ratio_key.c_str());
        return 2;
    }

    if (libjpeg_only) {
        for (const Workload& workload : load_workloads(dir))
            std::printf("%s %.3f\n", workload.key.c_str(),
                        measure(Decoder::LibjpegTurbo, workload, runs));
        return 0;
    }

    const std::string make_inputs = std::string("'") + TERRAVA_MAKE_INPUTS + "' '" + dir + "'";
    if (std::system(make_inputs.c_str()) != 0) {
        std::fprintf(stderr, "bench_decode: could not make the inputs in %s\n", dir.c_str());
        return 1;
    }
    const std::vector<Workload> workloads = load_workloads(dir);
    if (workloads.empty()) {
        std::fprintf(stderr, "bench_decode: no inputs in %s\n", dir.c_str());
        return 1;
    }
    std::fprintf(stderr, "bench_decode: measuring libjpeg-turbo without SIMD...\n");
    std::map<std::string, double> plain_c = libjpeg_plain_c_rates(dir, runs);

    std::printf("Decoding speed in Mpixel/s of thread CPU time, single thread, median of %d runs\n"
                "(ours and libjpeg-turbo SIMD interleaved); %d-bit build, our kernels: %s;\n"
                "inputs in %s\n\n",
                runs, int(sizeof(void*) * 8), simd_level_name(simd_level()), dir.c_str());
    std::printf("%-36s %9s %14s %7s %14s %10s  %s\n", "input", "terrava", "libjpeg-turbo",
                "ratio", "libjpeg-turbo", "stb_image", "terrava output");
    std::printf("%-36s %9s %14s %7s %14s %10s  %s\n", "", "", "SIMD", "", "plain C", "",
                "vs reference");
    std::map<std::string, double> full_size_rates;
    for (const Workload& workload : workloads) {
        std::fprintf(stderr, "bench_decode: %s...\n", workload.label.c_str());
        const Interleaved pair = measure_interleaved(workload, runs);
        full_size_rates[workload.key] = pair.ours;
        const double stb = measure(Decoder::Stb, workload, runs);
        const auto c = plain_c.find(workload.key);
        std::printf("%-36s %9.1f %14.1f %7.2f %14.1f %10.1f  %s\n", workload.label.c_str(),
                    pair.ours, pair.turbo, pair.ratio, c == plain_c.end() ? 0.0 : c->second, stb,
                    agreement(workload).c_str());
        std::fflush(stdout);
    }
    std::printf("\nratio: ours / libjpeg-turbo SIMD, median of the per-round ratios. stb_image (0 when\n"
                "not built in) is not compared: it interpolates chroma and rounds its IDCT its own way.\n");

    std::printf("\nDecoding at reduced size: Mpixel/s of full-size pixels (thread CPU time), median of\n"
                "%d interleaved runs; x full: our speed-up over our own full-size decode above\n\n", runs);
    std::printf("%-36s %5s %9s %14s %7s %7s\n", "input", "scale", "terrava", "libjpeg-turbo", "ratio",
                "x full");
    for (const Workload& workload : workloads) {
        for (const int scale : {2, 4, 8}) {
            std::fprintf(stderr, "bench_decode: %s at 1/%d...\n", workload.label.c_str(), scale);
            const Interleaved pair = measure_interleaved(workload, runs, scale);
            const double full = full_size_rates[workload.key];
            std::printf("%-36s   1/%d %9.1f %14.1f %7.2f %7.2f\n", workload.label.c_str(), scale,
                        pair.ours, pair.turbo, pair.ratio, full > 0 ? pair.ours / full : 0.0);
            std::fflush(stdout);
        }
    }
    return 0;
}
