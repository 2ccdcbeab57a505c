// The records of the tile cache and of the load queues, and the list operations on them that
// need no platform: lookup, unlinking, the choice of the tile to evict, and when the loader
// tells the window about finished tiles. Tested natively.
#pragma once
#include <cstdint>

// What names a tile: the key of cache records and of requests, compared wherever a tile is
// looked up (same_tile). Both records below are keys, so a field added here (a zoom level) is
// carried and compared everywhere at once.
struct TileKey {
    int32_t column;
    int32_t row;
};
inline bool same_tile(const TileKey& a, const TileKey& b) {
    return a.column == b.column && a.row == b.row;
}

// One decoded tile: top-down rows of blue, green, red, unused bytes.
struct CachedTile : TileKey {
    CachedTile* prev;
    CachedTile* next;
    uint32_t last_used;     // tick of the last draw (or of the last request, before any draw)
    int32_t pixel_bytes;    // size of `pixels`, fixed at creation
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

// A block of cells, both ends included; empty when a last index is below its first.
struct CellRange {
    int32_t first_column;
    int32_t first_row;
    int32_t last_column;
    int32_t last_row;
    bool holds(int32_t column, int32_t row) const {
        return column >= first_column && column <= last_column && row >= first_row &&
               row <= last_row;
    }
};
constexpr CellRange NO_CELLS = {0, 0, -1, -1};

// The tile to evict: the record after the head with the smallest last_used (unsigned); on a
// tie the one nearest the head. Records inside `in_view` (the cells the window shows) are
// passed over as long as another candidate exists. Null when the list holds fewer than two
// records.
CachedTile* choose_tile_to_evict(CachedTile* head, const CellRange& in_view);

// Unlinks `tile` from the list whose head is `head`, updating the head when needed.
void unlink_tile(CachedTile*& head, CachedTile* tile);

// Pushes `request` at the head of a queue, and takes the head off a queue (null when empty).
void push_request(TileRequest*& head, TileRequest* request);
TileRequest* pop_request(TileRequest*& head);
// Unlinks every request of the queue outside `keep` and returns them linked by `next`.
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
