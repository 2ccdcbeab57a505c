// Oracle tests: files made by cjpeg from a generated photo-like picture. Our decoder must give
// exactly the reference decoding (reference_decode.h); the reference in turn must stay within 3
// per sample of djpeg -dct int -nosmooth (same integer transform family, replicated chroma,
// passes in the other order), so that a wrong reference cannot go unnoticed. The matrix crosses
// colour layouts, entropy codings and scan scripts, restart intervals and awkward picture sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/jpeg/oracle_support.h"

namespace {

enum class Layout { Grey, H1V1, H2V1, H1V2, H2V2 };
enum class Coding {
    Baseline,
    OptimisedHuffman,
    SixteenBitQuantTables,    // low quality: SOF1 with 16-bit DQT entries
    Progressive,              // cjpeg's default progression
    ProgressiveInterleavedDc, // custom script: interleaved DC, spectral bands, refinements
    ProgressiveDeepRefinement,// custom script: per-component DC, three refinement levels
    SequentialSeparateScans,  // sequential, one component per scan
    SeparateScansNewTable,    // the same, with the chroma table redefined before the Cr scan
    SequentialLumaThenChroma, // sequential, Y alone then Cb and Cr interleaved
};
enum class Restart { None, EveryMcu, EverySevenMcus, EveryMcuRow };

struct PictureSize {
    int width;
    int height;
    int quality;
};

struct Case {
    Layout layout;
    Coding coding;
    Restart restart;
    PictureSize size;
};

const char* layout_name(Layout layout) {
    switch (layout) {
    case Layout::Grey: return "grey";
    case Layout::H1V1: return "444";
    case Layout::H2V1: return "422";
    case Layout::H1V2: return "440";
    case Layout::H2V2: return "420";
    }
    return "?";
}

const char* coding_name(Coding coding) {
    switch (coding) {
    case Coding::Baseline: return "baseline";
    case Coding::OptimisedHuffman: return "optimised";
    case Coding::SixteenBitQuantTables: return "quant16";
    case Coding::Progressive: return "progressive";
    case Coding::ProgressiveInterleavedDc: return "progInterleavedDc";
    case Coding::ProgressiveDeepRefinement: return "progDeepRefinement";
    case Coding::SequentialSeparateScans: return "seqSeparateScans";
    case Coding::SeparateScansNewTable: return "seqSeparateScansNewTable";
    case Coding::SequentialLumaThenChroma: return "seqLumaThenChroma";
    }
    return "?";
}

const char* restart_name(Restart restart) {
    switch (restart) {
    case Restart::None: return "noRestart";
    case Restart::EveryMcu: return "restart1Mcu";
    case Restart::EverySevenMcus: return "restart7Mcus";
    case Restart::EveryMcuRow: return "restart1Row";
    }
    return "?";
}

std::string case_name(const Case& c) {
    return std::string(layout_name(c.layout)) + "_" + coding_name(c.coding) + "_" +
           restart_name(c.restart) + "_" + std::to_string(c.size.width) + "x" +
           std::to_string(c.size.height);
}

// Progressive scripts for three components; the grey versions keep only component 0.
const char* const interleaved_dc_script =
    "0,1,2: 0-0, 0, 2;\n"
    "0: 1-5, 0, 2;\n"
    "2: 1-63, 0, 1;\n"
    "1: 1-63, 0, 1;\n"
    "0: 6-63, 0, 2;\n"
    "0: 1-63, 2, 1;\n"
    "0,1,2: 0-0, 2, 1;\n"
    "0,1,2: 0-0, 1, 0;\n"
    "2: 1-63, 1, 0;\n"
    "1: 1-63, 1, 0;\n"
    "0: 1-63, 1, 0;\n";

const char* const deep_refinement_script =
    "0: 0-0, 0, 3;\n"
    "1: 0-0, 0, 1;\n"
    "2: 0-0, 0, 0;\n"
    "0: 1-2, 0, 3;\n"
    "0: 3-9, 0, 3;\n"
    "0: 10-63, 0, 3;\n"
    "1: 1-63, 0, 0;\n"
    "0: 0-0, 3, 2;\n"
    "0: 1-63, 3, 2;\n"
    "0: 0-0, 2, 1;\n"
    "0: 1-9, 2, 1;\n"
    "0: 10-63, 2, 1;\n"
    "1: 0-0, 1, 0;\n"
    "0: 0-0, 1, 0;\n"
    "0: 1-63, 1, 0;\n"
    "2: 1-63, 0, 0;\n";

const char* const separate_scans_script = "0: 0-63, 0, 0;\n1: 0-63, 0, 0;\n2: 0-63, 0, 0;\n";
const char* const luma_then_chroma_script = "0: 0-63, 0, 0;\n1,2: 0-63, 0, 0;\n";

// Drops components 1 and 2 from a script: lines naming only them vanish, "0,1,2" becomes "0".
std::string grey_version(const std::string& script) {
    std::string result;
    size_t start = 0;
    while (start < script.size()) {
        size_t end = script.find('\n', start);
        std::string line = script.substr(start, end - start);
        start = end + 1;
        size_t colon = line.find(':');
        std::string components = line.substr(0, colon);
        if (components.find('0') == std::string::npos) continue;
        result += "0" + line.substr(colon) + "\n";
    }
    return result;
}

// Rewrites a file of separate sequential scans so that a DQT segment just before its last scan
// (Cr) redefines table 1, which Cb's scan has already used. Each component must be dequantised
// with the table in force at its own scan; libjpeg, under the reference, keeps the table of a
// component's first scan, which here is the same. Walks the segments and skips the entropy-coded
// data of each scan, where 0xFF is only followed by 0x00 or a restart marker.
bool redefine_table_before_last_scan(const std::string& path, std::string& error_text) {
    const std::vector<uint8_t> jpeg = oracle::read_file(path);
    size_t last_scan = 0;
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xD9) {
        const bool scan = jpeg[pos + 1] == 0xDA;
        if (scan) last_scan = pos;
        pos += 2 + (size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
        while (scan && pos + 1 < jpeg.size() &&
               !(jpeg[pos] == 0xFF && jpeg[pos + 1] != 0 && (jpeg[pos + 1] & 0xF8) != 0xD0))
            ++pos;
    }
    if (last_scan == 0) {
        error_text = path + ": no scan found to put a DQT before";
        return false;
    }
    // Table 1, 8-bit entries 1 and 2: small enough that no dequantised value leaves 16 bits.
    std::vector<uint8_t> dqt = {0xFF, 0xDB, 0, 67, 1};
    for (int k = 0; k < 64; ++k) dqt.push_back(static_cast<uint8_t>(1 + k % 2));
    std::vector<uint8_t> rewritten(jpeg.begin(), jpeg.begin() + last_scan);
    rewritten.insert(rewritten.end(), dqt.begin(), dqt.end());
    rewritten.insert(rewritten.end(), jpeg.begin() + last_scan, jpeg.end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(rewritten.data()), std::streamsize(rewritten.size()));
    return true;
}

// The source picture for one size: a plasma cloud with noise (smooth areas and fine detail, like
// a photograph) and two saturated rectangles that drive the colour conversion into clamping.
std::string source_picture_command(const PictureSize& size, const std::string& path) {
    const int w = size.width, h = size.height;
    auto corner = [](int x, int y) { return std::to_string(x) + "," + std::to_string(y); };
    return "convert -seed " + std::to_string(w * 31 + h) + " -size 128x128 plasma:fractal" +
           " -resize '" + std::to_string(w) + "x" + std::to_string(h) + "!'" +
           " -attenuate 0.6 +noise Gaussian" +
           " -fill '#ff0010' -draw 'rectangle " + corner(w / 4, h / 4) + " " +
           corner(w / 2, h / 2) + "'" +
           " -fill '#1000ff' -draw 'rectangle " + corner(w * 5 / 8, h * 5 / 8) + " " +
           corner(w * 7 / 8, h * 7 / 8) + "'" + " -depth 8 -type TrueColor " + path;
}

std::string source_picture_path(const std::string& dir, const PictureSize& size) {
    return dir + "/source-" + std::to_string(size.width) + "x" + std::to_string(size.height) +
           ".ppm";
}

// Runs job(0) .. job(count - 1) on several threads. The jobs mostly wait for child processes,
// so more threads than cores still help.
void run_in_parallel(size_t count, const std::function<void(size_t)>& job) {
    std::atomic<size_t> next{0};
    const unsigned thread_count = std::min(8u, std::max(4u, 2 * std::thread::hardware_concurrency()));
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < thread_count; ++t)
        threads.emplace_back([&] {
            for (size_t i = next++; i < count; i = next++) job(i);
        });
    for (std::thread& thread : threads) thread.join();
}

class OracleMatrix : public ::testing::TestWithParam<Case> {
protected:
    // The external programs (ImageMagick, cjpeg, djpeg) cost far more time than our decoder,
    // mostly in process start-up, so all selected cases are encoded and decoded by them here,
    // in parallel; each test then decodes with ours and compares.
    static void SetUpTestSuite();

    struct Prepared {
        std::string jpeg_path;
        std::string expected_path;
        std::string error_text; // why the external programs could not prepare the case
    };

    static std::string dir_;
    static std::string missing_tools_;
    static std::map<std::string, Prepared> prepared_;

    static std::string write_script(const std::string& name, const std::string& text) {
        std::string path = dir_ + "/" + name + ".txt";
        std::ofstream(path) << text;
        return path;
    }

    static std::string cjpeg_options(const Case& c) {
        std::string options;
        switch (c.layout) {
        case Layout::Grey: options += " -grayscale"; break;
        case Layout::H1V1: options += " -sample 1x1"; break;
        case Layout::H2V1: options += " -sample 2x1"; break;
        case Layout::H1V2: options += " -sample 1x2"; break;
        case Layout::H2V2: options += " -sample 2x2"; break;
        }
        const bool grey = c.layout == Layout::Grey;
        auto script = [&](const char* name) {
            return " -scans " + dir_ + "/" + name + (grey ? "-grey" : "-colour") + ".txt";
        };
        int quality = c.size.quality;
        switch (c.coding) {
        case Coding::Baseline: options += " -baseline"; break;
        case Coding::OptimisedHuffman: options += " -optimize"; break;
        case Coding::SixteenBitQuantTables: quality = 8; break;
        case Coding::Progressive: options += " -progressive"; break;
        case Coding::ProgressiveInterleavedDc: options += script("interleaved-dc"); break;
        case Coding::ProgressiveDeepRefinement: options += script("deep-refinement"); break;
        case Coding::SequentialSeparateScans:
        case Coding::SeparateScansNewTable: options += script("separate-scans"); break;
        case Coding::SequentialLumaThenChroma: options += script("luma-then-chroma"); break;
        }
        options += " -quality " + std::to_string(quality);
        switch (c.restart) {
        case Restart::None: break;
        case Restart::EveryMcu: options += " -restart 1B"; break;
        case Restart::EverySevenMcus: options += " -restart 7B"; break;
        case Restart::EveryMcuRow: options += " -restart 1"; break;
        }
        return options;
    }
};

std::string OracleMatrix::dir_;
std::string OracleMatrix::missing_tools_;
std::map<std::string, OracleMatrix::Prepared> OracleMatrix::prepared_;

std::vector<Case> all_cases();

void OracleMatrix::SetUpTestSuite() {
    dir_ = oracle::work_dir("oracle_matrix");
    missing_tools_ = oracle::missing_tools();
    if (!missing_tools_.empty()) return;

    for (const char* colour : {"-colour", "-grey"}) {
        const bool grey = colour[1] == 'g';
        auto body = [&](const char* text) { return grey ? grey_version(text) : std::string(text); };
        write_script(std::string("interleaved-dc") + colour, body(interleaved_dc_script));
        write_script(std::string("deep-refinement") + colour, body(deep_refinement_script));
        write_script(std::string("separate-scans") + colour, body(separate_scans_script));
        write_script(std::string("luma-then-chroma") + colour, body(luma_then_chroma_script));
    }

    // Only the cases that --gtest_filter selects.
    std::set<std::string> selected;
    const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    for (int i = 0; i < suite->total_test_count(); ++i) {
        const ::testing::TestInfo* info = suite->GetTestInfo(i);
        const std::string name = info->name();
        if (info->should_run()) selected.insert(name.substr(name.find('/') + 1));
    }
    std::vector<Case> cases;
    std::map<std::pair<int, int>, PictureSize> sizes;
    for (const Case& c : all_cases())
        if (selected.count(case_name(c))) {
            cases.push_back(c);
            sizes[{c.size.width, c.size.height}] = c.size;
        }

    std::vector<PictureSize> size_list;
    for (const auto& entry : sizes) size_list.push_back(entry.second);
    std::vector<std::string> source_errors(size_list.size());
    run_in_parallel(size_list.size(), [&](size_t i) {
        const std::string path = source_picture_path(dir_, size_list[i]);
        oracle::run_command(source_picture_command(size_list[i], path), source_errors[i]);
    });
    std::map<std::pair<int, int>, std::string> source_error_by_size;
    for (size_t i = 0; i < size_list.size(); ++i)
        source_error_by_size[{size_list[i].width, size_list[i].height}] = source_errors[i];

    std::vector<Prepared> prepared(cases.size());
    run_in_parallel(cases.size(), [&](size_t i) {
        const Case& c = cases[i];
        const std::string name = case_name(c);
        Prepared& p = prepared[i];
        p.error_text = source_error_by_size[{c.size.width, c.size.height}];
        if (!p.error_text.empty()) return;
        p.jpeg_path = dir_ + "/" + name + ".jpg";
        p.expected_path = dir_ + "/" + name + "-djpeg.pnm";
        oracle::run_command("cjpeg" + cjpeg_options(c) + " -outfile " + p.jpeg_path + " " +
                                source_picture_path(dir_, c.size), p.error_text) &&
            (c.coding != Coding::SeparateScansNewTable ||
             redefine_table_before_last_scan(p.jpeg_path, p.error_text)) &&
            oracle::run_command("djpeg -dct int -nosmooth -outfile " + p.expected_path + " " +
                                    p.jpeg_path, p.error_text);
    });
    for (size_t i = 0; i < cases.size(); ++i) prepared_[case_name(cases[i])] = prepared[i];
}

// Largest difference per sample allowed between the reference and djpeg.
constexpr int djpeg_tolerance = 3;

TEST_P(OracleMatrix, DecodesLikeTheReference) {
    ASSERT_TRUE(missing_tools_.empty()) << missing_tools_;
    const std::string name = case_name(GetParam());
    ASSERT_EQ(prepared_.count(name), 1u) << name << " was not prepared";
    const Prepared& p = prepared_[name];
    ASSERT_TRUE(p.error_text.empty()) << p.error_text;

    const std::vector<uint8_t> jpeg = oracle::read_file(p.jpeg_path);
    oracle::Image reference;
    const std::string problem = oracle::reference_decode(jpeg.data(), jpeg.size(), reference);
    ASSERT_TRUE(problem.empty()) << p.jpeg_path << ": " << problem;
    std::string error_text;
    oracle::Image djpeg;
    ASSERT_TRUE(oracle::read_pnm(p.expected_path, djpeg, error_text)) << error_text;
    const std::string reference_vs_djpeg =
        oracle::compare_images(p.jpeg_path + " (reference against djpeg)", djpeg, reference,
                               djpeg_tolerance);
    EXPECT_TRUE(reference_vs_djpeg.empty()) << reference_vs_djpeg;

    const oracle::DecodeOutcome ours = oracle::decode_with_terrava(jpeg);
    ASSERT_EQ(ours.create_status, 0) << p.jpeg_path << ": create failed";
    ASSERT_EQ(ours.start_result, 0) << p.jpeg_path << ": start_decoding failed, status "
                                    << ours.final_status;
    EXPECT_EQ(ours.last_read_result, 1)
        << p.jpeg_path << ": read_scanline stopped after " << ours.rows_delivered << " of "
        << reference.height << " rows, status " << ours.final_status;
    EXPECT_EQ(ours.final_status, 0) << p.jpeg_path;
    const std::string difference = oracle::compare_images(p.jpeg_path, reference, ours.image);
    EXPECT_TRUE(difference.empty()) << difference;

    // Files of failed cases stay for inspection.
    if (!HasFailure()) {
        std::remove(p.jpeg_path.c_str());
        std::remove(p.expected_path.c_str());
    }
}

std::vector<Case> all_cases() {
    const std::vector<PictureSize> sizes = {
        {1, 1, 90}, {7, 9, 75}, {17, 17, 100}, {33, 15, 50},
        {256, 256, 85}, {8192, 8, 95}, {8, 8192, 30},
    };
    const Layout layouts[] = {Layout::Grey, Layout::H1V1, Layout::H2V1, Layout::H1V2, Layout::H2V2};
    const Coding codings[] = {
        Coding::Baseline, Coding::OptimisedHuffman, Coding::SixteenBitQuantTables,
        Coding::Progressive, Coding::ProgressiveInterleavedDc, Coding::ProgressiveDeepRefinement,
        Coding::SequentialSeparateScans, Coding::SeparateScansNewTable,
        Coding::SequentialLumaThenChroma,
    };
    const Restart restarts[] = {Restart::None, Restart::EveryMcu, Restart::EverySevenMcus,
                                Restart::EveryMcuRow};
    std::vector<Case> cases;
    for (Layout layout : layouts)
        for (Coding coding : codings) {
            // A grey sequential file has one scan whatever the script says.
            const bool multi_scan_sequential = coding == Coding::SequentialSeparateScans ||
                                               coding == Coding::SeparateScansNewTable ||
                                               coding == Coding::SequentialLumaThenChroma;
            if (layout == Layout::Grey && multi_scan_sequential) continue;
            for (Restart restart : restarts) {
                // Quantisation tables do not meet the restart logic.
                const bool table_case = coding == Coding::SixteenBitQuantTables ||
                                        coding == Coding::SeparateScansNewTable;
                if (table_case && restart != Restart::None) continue;
                for (const PictureSize& size : sizes) cases.push_back({layout, coding, restart, size});
            }
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cjpeg, OracleMatrix, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return case_name(info.param);
                         });

} // namespace
