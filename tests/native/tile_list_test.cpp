// Tile cache and queue lists: which tile is evicted, lookups from the head, queue order, when
// the loader tells the window about delivered tiles; and the in-memory byte source the loader
// decodes from.
#include <gtest/gtest.h>

#include <vector>

#include "jpeg/memory_stream.h"
#include "tiles/tile_list.h"

namespace {

// Builds a cache list from `ticks`, head first, with column = position in the list.
struct CacheList {
    std::vector<CachedTile> records;
    CachedTile* head = nullptr;
    explicit CacheList(const std::vector<uint32_t>& ticks) : records(ticks.size()) {
        for (size_t i = 0; i < ticks.size(); ++i) {
            records[i] = CachedTile{};
            records[i].column = static_cast<int32_t>(i);
            records[i].last_used = ticks[i];
            records[i].prev = i > 0 ? &records[i - 1] : nullptr;
            records[i].next = i + 1 < ticks.size() ? &records[i + 1] : nullptr;
        }
        head = records.empty() ? nullptr : &records[0];
    }
};

int32_t evicted_column(const std::vector<uint32_t>& ticks, const CellRange& in_view = NO_CELLS) {
    CacheList list(ticks);
    CachedTile* victim = choose_tile_to_evict(list.head, in_view);
    return victim == nullptr ? -1 : victim->column;
}

TEST(Eviction, NeverTheHeadAndNothingBelowTwoRecords) {
    EXPECT_EQ(evicted_column({}), -1);
    EXPECT_EQ(evicted_column({5}), -1) << "one record is never evicted";
    EXPECT_EQ(evicted_column({1, 9}), 1) << "the new arrival at the head is spared even when oldest";
}

TEST(Eviction, SmallestTickWinsAndTiesGoToTheNewer) {
    EXPECT_EQ(evicted_column({100, 50, 20, 70}), 2);
    EXPECT_EQ(evicted_column({100, 20, 50, 20}), 1) << "equal smallest: the one nearer the head";
    EXPECT_EQ(evicted_column({100, 20, 50, 20}, {0, 0, 3, 0}), 1)
        << "every record in view, equal smallest: the one nearer the head";
    EXPECT_EQ(evicted_column({0, 0xFFFFFFF0u, 3}), 2) << "ticks compare unsigned";
}

TEST(Eviction, TilesInViewArePassedOverWhileAnotherIsLeft) {
    // Records sit at columns 0, 1, 2, ... of row 0; the view covers columns 1 to 3.
    const CellRange columns_1_to_3 = {1, 0, 3, 0};
    EXPECT_EQ(evicted_column({100, 10, 20, 30, 90, 80}, columns_1_to_3), 5)
        << "the least recently used outside the view, though three in view are older";
    EXPECT_EQ(evicted_column({100, 10, 20, 30}, columns_1_to_3), 1)
        << "all in view: the least recently used of them";
    EXPECT_EQ(evicted_column({100, 10, 20, 30, 90}, {1, 1, 3, 1}), 1)
        << "a view on another row protects nothing here";
}

TEST(Eviction, UnlinkKeepsTheListWhole) {
    CacheList list({10, 20, 5, 30});
    CachedTile* victim = choose_tile_to_evict(list.head, NO_CELLS);
    unlink_tile(list.head, victim);
    std::vector<int32_t> order;
    for (CachedTile* t = list.head; t != nullptr; t = t->next) {
        if (t->next != nullptr) {
            EXPECT_EQ(t->next->prev, t);
        }
        order.push_back(t->column);
    }
    EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 3}));
    CachedTile* head = list.head;
    unlink_tile(list.head, head);
    EXPECT_EQ(list.head->column, 1);
    EXPECT_EQ(list.head->prev, nullptr);
}

TEST(Lookup, FindsTheRecordNearestTheHead) {
    CacheList list({1, 2, 3});
    list.records[0].column = 7; list.records[0].row = 7;
    list.records[2].column = 7; list.records[2].row = 7;   // the same tile decoded twice
    EXPECT_EQ(find_tile_in_list(list.head, 7, 7), &list.records[0]);
    EXPECT_EQ(find_tile_in_list(list.head, 7, 8), nullptr);
}

TEST(Queue, PushAtHeadPopFromHeadNewestFirst) {
    TileRequest a{}, b{}, c{};
    a.column = 1; b.column = 2; c.column = 3;
    TileRequest* head = nullptr;
    push_request(head, &a);
    push_request(head, &b);
    push_request(head, &c);
    EXPECT_EQ(find_request_in_list(head, 2, 0), &b);
    EXPECT_EQ(pop_request(head), &c);
    EXPECT_EQ(head, &b);
    EXPECT_EQ(head->prev, nullptr);
    EXPECT_EQ(c.next, nullptr);
    EXPECT_EQ(pop_request(head), &b);
    EXPECT_EQ(pop_request(head), &a);
    EXPECT_EQ(pop_request(head), nullptr);
}

TEST(Queue, AZoomStepTakesOutTheRequestsItNoLongerShowsAndKeepsTheOrderOfTheRest) {
    TileRequest r[5]{};
    TileRequest* head = nullptr;
    for (int i = 0; i < 5; ++i) {
        r[i].column = i;
        push_request(head, &r[i]);   // queue: 4 3 2 1 0
    }
    const CellRange keep = {1, 0, 2, 0};
    TileRequest* dropped = take_requests_outside(head, keep);
    std::vector<int> kept, gone;
    for (TileRequest* q = head; q != nullptr; q = q->next) kept.push_back(q->column);
    for (TileRequest* q = dropped; q != nullptr; q = q->next) gone.push_back(q->column);
    EXPECT_EQ(kept, (std::vector<int>{2, 1})) << "the cells still in view, newest first";
    EXPECT_EQ(gone.size(), 3u);
    EXPECT_EQ(head->prev, nullptr);
    EXPECT_EQ(r[1].prev, &r[2]);
    EXPECT_EQ(r[1].next, nullptr);
    EXPECT_EQ(take_requests_outside(head, NO_CELLS), &r[1]) << "nothing kept: all taken";
    EXPECT_EQ(head, nullptr);
}

TEST(Announce, TheFirstTileAndTheLastAreToldAtOnceTheRestAtMostOncePerInterval) {
    const uint32_t I = ANNOUNCE_INTERVAL_MS;
    const struct {
        AnnounceState state;
        bool tell;
        const char* why;
    } cases[] = {
        {{true, false, false, 1000, 1000 - I}, true, "a tile after a pause"},
        {{true, false, false, 1000, 1000 - I + 1}, false, "a tile soon after the last notice"},
        {{true, false, true, 1000, 1000}, true, "the last tile, however soon"},
        {{true, true, true, 1000, 0}, false, "a notice is already on its way"},
        {{false, false, true, 1000, 0}, false, "nothing delivered"},
        {{true, false, false, 3, 0xFFFFFFFFu - I + 4}, true, "the tick wrapped"},
        {{true, false, false, 3, 0xFFFFFFFFu}, false, "the tick wrapped, soon after"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(should_announce(c.state), c.tell) << c.why << ": expected " << c.tell;
}

// The decoder asks for up to 4096 bytes at a time; the end is flagged with the last bytes,
// and an empty file flags it at once.
TEST(TileBytes, ServesThePiecesAskedForAndFlagsTheEnd) {
    std::vector<uint8_t> file(10000);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
    JpegMemoryStream stream(file.data(), file.size());
    std::vector<uint8_t> read_back;
    uint8_t buffer[4096];
    bool end = false;
    std::vector<int32_t> counts;
    while (!end) {
        const int32_t count = stream.read(buffer, 4096, end);
        ASSERT_GE(count, 0);
        counts.push_back(count);
        read_back.insert(read_back.end(), buffer, buffer + count);
        ASSERT_LE(counts.size(), 4u) << "the stream never flagged its end";
    }
    EXPECT_EQ(counts, (std::vector<int32_t>{4096, 4096, 1808}));
    EXPECT_EQ(read_back, file);
    EXPECT_EQ(stream.read(buffer, 4096, end), 0) << "a read after the end";

    JpegMemoryStream empty(nullptr, 0);
    bool empty_end = false;
    EXPECT_EQ(empty.read(buffer, 4096, empty_end), 0);
    EXPECT_TRUE(empty_end) << "an empty file must flag its end on the first read";
}

}  // namespace
