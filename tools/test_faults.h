// Failures the tests ask of terrava-tiles through TERRAVA_TILES_TEST_FAULT, each to be caused
// as the system would cause it; `make` and `overview` read the same setting, and a run without
// it has none.
#pragma once
#include <cstdint>

// "full-disk-at-tile:N" writes tile N (row by row, from 0) to /dev/full,
// "full-disk-at-tileset-file" the tileset file; "signal-at-band:N" raises SIGINT once band
// (or tile row) N is read, "signal-before-install" once everything is written.
struct TestFaults {
    int64_t full_disk_tile = -1;
    bool full_disk_tileset_file = false;
    int64_t signal_band = -1;
    bool signal_before_install = false;
};

TestFaults test_faults();
