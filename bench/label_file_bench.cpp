// Label load and save times of the real tileset-file code under Wine, at 2,000 and 10,000
// labels, with the key-by-key profile-function reading that the loader replaced as a baseline
// and a file with a damaged LabelCount. Prints medians in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/tileset.h"

namespace {

double now_ms() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Action>
double median_ms(int runs, Action action) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = now_ms();
        action();
        times.push_back(now_ms() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void write_text(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::string tileset_text(int labels, const char* count_line) {
    std::string text = "[Terrava 1.0]\r\nTileSizeX=256\r\nTileSizeY=256\r\nTileCountX=100\r\n"
                       "TileCountY=100\r\nTileDir=C:\\tiles\r\nMaxCache=50\r\n";
    text += count_line != nullptr ? count_line : "LabelCount=" + std::to_string(labels) + "\r\n";
    for (int n = 1; n <= labels; ++n) {
        const std::string key = "Label" + std::to_string(n);
        const std::string label_text = "Place number " + std::to_string(n);
        text += key + "X=" + std::to_string(n * 7) + "\r\n" + key + "Y=" + std::to_string(n * 3) +
                "\r\n" + key + "Len=" + std::to_string(label_text.size()) + "\r\n" + key +
                "Text=" + label_text + "\r\n";
    }
    return text;
}

size_t label_count() {
    size_t count = 0;
    for (const Label* label = tileset.labels; label != nullptr; label = label->next) ++count;
    return count;
}

// The loader as it was: one profile call per key.
void load_key_by_key(const char* file) {
    const int count = static_cast<int>(GetPrivateProfileIntA("Terrava 1.0", "LabelCount", 0, file));
    char key[100];
    char text[300];
    for (int i = count; i >= 1; --i) {
        std::snprintf(key, sizeof key, "Label%dX", i);
        GetPrivateProfileIntA("Terrava 1.0", key, 0, file);
        std::snprintf(key, sizeof key, "Label%dY", i);
        GetPrivateProfileIntA("Terrava 1.0", key, 0, file);
        std::snprintf(key, sizeof key, "Label%dLen", i);
        GetPrivateProfileIntA("Terrava 1.0", key, 255, file);
        std::snprintf(key, sizeof key, "Label%dText", i);
        GetPrivateProfileStringA("Terrava 1.0", key, "", text, sizeof text, file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "label-file-bench.tvt";
    std::printf("label load and save, median of %d runs (ms)\n", runs);
    std::printf("%8s %10s %10s %14s\n", "labels", "load", "save", "key-by-key load");
    for (int labels : {2000, 10000}) {
        write_text(path, tileset_text(labels, nullptr));
        const double load = median_ms(runs, [&] { load_labels(path.c_str()); });
        if (label_count() != static_cast<size_t>(labels)) {
            std::fprintf(stderr, "loaded %zu labels, expected %d\n", label_count(), labels);
            return 1;
        }
        const double save = median_ms(runs, [&] {
            if (save_labels(path.c_str()) != 0) {
                std::fprintf(stderr, "save failed\n");
                std::exit(1);
            }
        });
        const double baseline = labels <= 2000 ? median_ms(1, [&] { load_key_by_key(path.c_str()); }) : -1;
        if (baseline >= 0) std::printf("%8d %10.1f %10.1f %14.1f\n", labels, load, save, baseline);
        else std::printf("%8d %10.1f %10.1f %14s\n", labels, load, save, "(skipped)");
    }
    write_text(path, tileset_text(2, "LabelCount=2147483647\r\n"));
    const double damaged = median_ms(runs, [&] { load_labels(path.c_str()); });
    std::printf("LabelCount=2147483647 with 2 labels: load %.2f ms, %zu labels\n", damaged, label_count());
    DeleteFileA(path.c_str());
    return 0;
}
