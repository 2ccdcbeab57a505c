// A spatial index of the label points, so that drawing the labels costs in proportion to the
// labels near the view, not to every label of the file. Points are kept sorted by horizontal
// band and x; a query visits only the bands it covers. Values in, values out: no <windows.h>.
#pragma once
#include <cstdint>
#include <vector>

struct IndexedPoint {
    int32_t x;
    int32_t y;
    uint32_t ordinal;   // the caller's number for the point (its place in the label list)
};

// A rectangle of world points, bounds excluded: left < x < right, top < y < bottom.
struct OpenWorldRect {
    int64_t left;
    int64_t top;
    int64_t right;
    int64_t bottom;
};

class LabelIndex {
public:
    void build(std::vector<IndexedPoint> points);
    void clear() { entries_.clear(); }
    bool empty() const { return entries_.empty(); }
    // The ordinals of the points inside `area`, ascending.
    std::vector<uint32_t> query(const OpenWorldRect& area) const;

private:
    struct Entry {
        int32_t band;   // y / BAND_HEIGHT, rounded down
        int32_t x;
        int32_t y;
        uint32_t ordinal;
    };
    std::vector<Entry> entries_;   // sorted by band, then x
};

// Height of one band of the index, in world pixels.
constexpr int32_t LABEL_BAND_HEIGHT = 64;
