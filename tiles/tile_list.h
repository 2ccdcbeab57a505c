// The records of the tile cache and of the load queues, and the list operations on them that
// need no platform: lookup, unlinking, the choice of the tile to evict, and when the loader
// tells the window about finished tiles. Tested natively.
#pragma once
#include <cstdint>

// What names a tile: the key of cache records and of requests, compared wherever a tile is
// looked up (same_tile). Besides its cell, a tile names the picture it holds: the tileset's
// own tiles are level 0, overview level k shows the map shrunk by 2^k in the same grid of
// tile-sized cells; either may be decoded reduced by 2^reduction_log2 (at most 8). A key made
// from a cell alone is the level-0 tile at full size, the only tile 1:1 draws.
struct TileKey {
    int32_t column;
    int32_t row;
    int32_t level = 0;
    int32_t reduction_log2 = 0;
};
inline bool same_picture(const TileKey& a, const TileKey& b) {
    return a.level == b.level && a.reduction_log2 == b.reduction_log2;
}
inline bool same_tile(const TileKey& a, const TileKey& b) {
    return a.column == b.column && a.row == b.row && same_picture(a, b);
}

// One decoded tile: top-down rows of blue, green, red, unused bytes.
struct CachedTile : TileKey {
    CachedTile* prev;
    CachedTile* next;
    uint32_t last_used;     // tick of the last draw (or of the last request, before any draw)
    int32_t width;          // pixels across and down: the tile size, divided by
    int32_t height;         //   2^reduction_log2 rounded up
    int32_t pixel_bytes;    // size of `pixels` (width x height x 4), fixed at creation
    unsigned char* pixels;  // owned
};

// One pending tile load.
struct TileRequest : TileKey {
    TileRequest* prev;
    TileRequest* next;
    CachedTile* tile;        // the decoded tile, once the loader has made it
    char* path;              // owned
    uint32_t last_requested; // tick of the latest request for this tile
    // Filled in by the loader when it takes the request (under the queue lock): the tileset
    // generation and tile size that the decode is made for.
    uint32_t generation;
    int32_t tile_width;
    int32_t tile_height;
};

// First record from `head` with that key (or column and row), or null.
CachedTile* find_tile_in_list(CachedTile* head, const TileKey& key);
TileRequest* find_request_in_list(TileRequest* head, const TileKey& key);
inline CachedTile* find_tile_in_list(CachedTile* head, int32_t column, int32_t row) {
    return find_tile_in_list(head, TileKey{column, row});
}
inline TileRequest* find_request_in_list(TileRequest* head, int32_t column, int32_t row) {
    return find_request_in_list(head, TileKey{column, row});
}

// A block of cells, both ends included; empty when a last index is below its first. The
// cells are those of one picture (level and reduction, as in TileKey): at 1:1 the level-0
// tiles at full size.
struct CellRange {
    int32_t first_column;
    int32_t first_row;
    int32_t last_column;
    int32_t last_row;
    int32_t level = 0;
    int32_t reduction_log2 = 0;
    bool holds(int32_t column, int32_t row) const {
        return column >= first_column && column <= last_column && row >= first_row &&
               row <= last_row;
    }
    // The tile of `key` is one of these cells' own tiles.
    bool holds_tile(const TileKey& key) const {
        return key.level == level && key.reduction_log2 == reduction_log2 &&
               holds(key.column, key.row);
    }
};
constexpr CellRange NO_CELLS = {0, 0, -1, -1};

// The tile to evict: the record after the head with the smallest last_used (unsigned); on a
// tie the one nearest the head. Records of the cells the window shows (`in_view`, tiles of
// its picture) are passed over as long as another candidate exists. Null when the list holds fewer than two
// records.
CachedTile* choose_tile_to_evict(CachedTile* head, const CellRange& in_view);

// Unlinks `tile` from the list whose head is `head`, updating the head when needed.
void unlink_tile(CachedTile*& head, CachedTile* tile);

// Pushes `request` at the head of a queue, and takes the head off a queue (null when empty).
void push_request(TileRequest*& head, TileRequest* request);
TileRequest* pop_request(TileRequest*& head);
// Unlinks every request of the queue outside `keep` (another cell, or another picture) and
// returns them linked by `next`.
TileRequest* take_requests_outside(TileRequest*& head, const CellRange& keep);

// The loader's notice to the window that tiles wait in the delivered list. Telling costs the
// loader a call into the window system (tens of microseconds under Wine, against a decode of
// well under a millisecond), so tiles that follow each other closely are told together: a
// notice goes out when tiles wait untold and none is outstanding, and either the loader has
// nothing left to decode or the last notice is at least ANNOUNCE_INTERVAL_MS old (so the first
// tile after a pause is told at once). Ticks in milliseconds, wrapping.
constexpr uint32_t ANNOUNCE_INTERVAL_MS = 8;
struct AnnounceState {
    bool tiles_waiting;        // the delivered list is not empty
    bool notice_outstanding;   // told, and the window has not taken the list since
    bool queues_empty;         // nothing left to decode after the current tile
    uint32_t now;
    uint32_t last_notice;
};
bool should_announce(const AnnounceState& state);
