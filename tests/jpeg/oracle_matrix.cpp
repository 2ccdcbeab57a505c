// Oracle tests: files made by cjpeg from a generated photo-like picture, decoded by djpeg
// (-dct int -nosmooth: the same integer IDCT and replicated chroma as ours) and by our decoder;
// the two outputs must agree in every sample. The matrix crosses colour layouts, entropy
// codings and scan scripts, restart intervals and awkward picture sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
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

class OracleMatrix : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { dir_ = oracle::work_dir("oracle_matrix"); }

    static std::string dir_;

    // The source picture for one size: a plasma cloud with noise (smooth areas and fine
    // detail, like a photograph) and two saturated rectangles that drive the colour
    // conversion into clamping. Made once per size and process.
    static std::string source_picture(const PictureSize& size, std::string& error_text) {
        static std::set<std::string> made;
        std::string path = dir_ + "/source-" + std::to_string(size.width) + "x" +
                           std::to_string(size.height) + ".ppm";
        if (made.count(path)) return path;
        int w = size.width, h = size.height;
        std::string command =
            "convert -seed " + std::to_string(w * 31 + h) + " -size 128x128 plasma:fractal" +
            " -resize '" + std::to_string(w) + "x" + std::to_string(h) + "!'" +
            " -attenuate 0.6 +noise Gaussian" +
            " -fill '#ff0010' -draw 'rectangle " + std::to_string(w / 4) + "," +
            std::to_string(h / 4) + " " + std::to_string(w / 2) + "," + std::to_string(h / 2) +
            "'" + " -fill '#1000ff' -draw 'rectangle " + std::to_string(w * 5 / 8) + "," +
            std::to_string(h * 5 / 8) + " " + std::to_string(w * 7 / 8) + "," +
            std::to_string(h * 7 / 8) + "'" + " -depth 8 -type TrueColor " + path;
        if (!oracle::run_command(command, error_text)) return "";
        made.insert(path);
        return path;
    }

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
        auto script = [&](const char* name, const char* text) {
            std::string body = grey ? grey_version(text) : std::string(text);
            return " -scans " + write_script(std::string(name) + (grey ? "-grey" : "-colour"), body);
        };
        int quality = c.size.quality;
        switch (c.coding) {
        case Coding::Baseline: options += " -baseline"; break;
        case Coding::OptimisedHuffman: options += " -optimize"; break;
        case Coding::SixteenBitQuantTables: quality = 8; break;
        case Coding::Progressive: options += " -progressive"; break;
        case Coding::ProgressiveInterleavedDc:
            options += script("interleaved-dc", interleaved_dc_script);
            break;
        case Coding::ProgressiveDeepRefinement:
            options += script("deep-refinement", deep_refinement_script);
            break;
        case Coding::SequentialSeparateScans:
            options += script("separate-scans", separate_scans_script);
            break;
        case Coding::SequentialLumaThenChroma:
            options += script("luma-then-chroma", luma_then_chroma_script);
            break;
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

TEST_P(OracleMatrix, DecodesLikeDjpeg) {
    const std::string missing = oracle::missing_tools();
    ASSERT_TRUE(missing.empty()) << missing;
    const Case& c = GetParam();
    const std::string name = case_name(c);

    std::string error_text;
    const std::string source = source_picture(c.size, error_text);
    ASSERT_FALSE(source.empty()) << error_text;
    const std::string jpeg_path = dir_ + "/" + name + ".jpg";
    const std::string expected_path = dir_ + "/" + name + "-djpeg.pnm";
    ASSERT_TRUE(oracle::run_command("cjpeg" + cjpeg_options(c) + " -outfile " + jpeg_path + " " +
                                        source, error_text)) << error_text;
    ASSERT_TRUE(oracle::run_command("djpeg -dct int -nosmooth -outfile " + expected_path + " " +
                                        jpeg_path, error_text)) << error_text;
    oracle::Image expected;
    ASSERT_TRUE(oracle::read_pnm(expected_path, expected, error_text)) << error_text;

    const oracle::DecodeOutcome ours = oracle::decode_with_terrava(oracle::read_file(jpeg_path));
    ASSERT_EQ(ours.create_status, 0) << jpeg_path << ": create failed";
    ASSERT_EQ(ours.start_result, 0) << jpeg_path << ": start_decoding failed, status "
                                    << ours.final_status;
    EXPECT_EQ(ours.last_read_result, 1)
        << jpeg_path << ": read_scanline stopped after " << ours.rows_delivered << " of "
        << expected.height << " rows, status " << ours.final_status;
    EXPECT_EQ(ours.final_status, 0) << jpeg_path;
    const std::string difference = oracle::compare_images(jpeg_path, expected, ours.image);
    EXPECT_TRUE(difference.empty()) << difference;

    if (!HasFailure()) {
        std::remove(jpeg_path.c_str());
        std::remove(expected_path.c_str());
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
        Coding::SequentialSeparateScans, Coding::SequentialLumaThenChroma,
    };
    const Restart restarts[] = {Restart::None, Restart::EveryMcu, Restart::EverySevenMcus,
                                Restart::EveryMcuRow};
    std::vector<Case> cases;
    for (Layout layout : layouts)
        for (Coding coding : codings) {
            // A grey sequential file has one scan whatever the script says.
            const bool multi_scan_sequential = coding == Coding::SequentialSeparateScans ||
                                               coding == Coding::SequentialLumaThenChroma;
            if (layout == Layout::Grey && multi_scan_sequential) continue;
            for (Restart restart : restarts) {
                // Quantisation table precision does not meet the restart logic.
                if (coding == Coding::SixteenBitQuantTables && restart != Restart::None) continue;
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
