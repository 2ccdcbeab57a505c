// Replays files through the fuzz entry point without libFuzzer: for reproducing a crash found
// by the fuzzer, or running a corpus under any compiler and sanitizer.
// Usage: fuzz-decoder-replay FILE_OR_DIR...   (directories are read one level deep)
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool run_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    std::fprintf(stderr, "fuzz-decoder-replay: cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + count);
  std::fclose(file);
  std::fprintf(stderr, "running %s (%zu bytes)\n", path.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fuzz-decoder-replay FILE_OR_DIR...\n");
    return 2;
  }
  int files = 0;
  bool all_opened = true;
  for (int i = 1; i < argc; ++i) {
    struct stat info;
    if (stat(argv[i], &info) == 0 && S_ISDIR(info.st_mode)) {
      DIR* dir = opendir(argv[i]);
      if (!dir) {
        all_opened = false;
        continue;
      }
      while (dirent* entry = readdir(dir)) {
        std::string path = std::string(argv[i]) + "/" + entry->d_name;
        if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
          all_opened &= run_file(path);
          ++files;
        }
      }
      closedir(dir);
    } else {
      all_opened &= run_file(argv[i]);
      ++files;
    }
  }
  std::fprintf(stderr, "fuzz-decoder-replay: %d file(s) ran without a crash\n", files);
  return all_opened ? 0 : 1;
}
