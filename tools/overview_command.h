// `terrava-tiles overview`: adds (or remakes) the overview levels of an existing tileset from
// its own tiles, decoded with the viewer's decoder, and records them in its tileset file. The
// levels are written under a hidden folder and the file through a temporary one; either the
// whole change lands or the tileset stays as it was.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

struct OverviewOutcome {
    bool ok;
    std::string error;   // one line, when not ok
    int32_t levels;      // levels written (0: the map is a single tile)
};

// `tileset_file` as given on the command line; `jobs` decoding threads (0: one per processor).
// `stop` set to a signal's number ends the run before anything is replaced.
OverviewOutcome remake_overviews(const std::string& tileset_file, int32_t jobs,
                                 std::atomic<int64_t>& tiles_done, std::atomic<int64_t>& tiles_total,
                                 const std::atomic<int>& stop);
