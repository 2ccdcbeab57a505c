// The test faults of terrava-tiles, read once from the environment by each command.
#include "tools/test_faults.h"

#include <cstdlib>
#include <string>

TestFaults test_faults() {
    TestFaults faults;
    const char* text = std::getenv("TERRAVA_TILES_TEST_FAULT");
    if (text == nullptr) return faults;
    const std::string fault(text);
    const size_t colon = fault.find(':');
    const std::string point = fault.substr(0, colon);
    const int64_t number = colon == std::string::npos ? -1 : std::atoll(fault.c_str() + colon + 1);
    if (point == "full-disk-at-tile") faults.full_disk_tile = number;
    if (point == "full-disk-at-tileset-file") faults.full_disk_tileset_file = true;
    if (point == "signal-at-band") faults.signal_band = number;
    if (point == "signal-before-install") faults.signal_before_install = true;
    return faults;
}
