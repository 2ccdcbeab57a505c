// The band index: a query binary-searches each band it covers for its x range, so it costs
// about log n per band plus the points it finds.
#include "app/label_index.h"

#include <algorithm>
#include <limits>

namespace {

int32_t band_of(int64_t y) {
    // Rounded down, also for negative y.
    const int64_t band = y >= 0 ? y / LABEL_BAND_HEIGHT : -((-y + LABEL_BAND_HEIGHT - 1) / LABEL_BAND_HEIGHT);
    return static_cast<int32_t>(std::max<int64_t>(std::min<int64_t>(band, std::numeric_limits<int32_t>::max()),
                                                  std::numeric_limits<int32_t>::min()));
}

}  // namespace

void LabelIndex::build(std::vector<IndexedPoint> points) {
    entries_.clear();
    entries_.reserve(points.size());
    for (const IndexedPoint& p : points) entries_.push_back({band_of(p.y), p.x, p.y, p.ordinal});
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.band != b.band ? a.band < b.band : a.x < b.x;
    });
}

std::vector<uint32_t> LabelIndex::query(const OpenWorldRect& area) const {
    std::vector<uint32_t> found;
    if (area.right - area.left < 2 || area.bottom - area.top < 2) return found;
    const int32_t first_band = band_of(area.top + 1);
    const int32_t last_band = band_of(area.bottom - 1);
    const auto before = [](const Entry& e, std::pair<int32_t, int64_t> key) {
        return e.band != key.first ? e.band < key.first : e.x < key.second;
    };
    // Each band that holds points: from its first x inside the area to the area's right.
    auto it = std::lower_bound(entries_.begin(), entries_.end(),
                               std::make_pair(first_band, std::numeric_limits<int64_t>::min()), before);
    while (it != entries_.end() && it->band <= last_band) {
        const int32_t band = it->band;
        it = std::lower_bound(it, entries_.end(), std::make_pair(band, area.left + 1), before);
        for (; it != entries_.end() && it->band == band && it->x < area.right; ++it)
            if (it->y > area.top && it->y < area.bottom) found.push_back(it->ordinal);
        it = std::lower_bound(it, entries_.end(),
                              std::make_pair(band, std::numeric_limits<int64_t>::max()), before);
    }
    std::sort(found.begin(), found.end());
    return found;
}
