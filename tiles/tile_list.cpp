// List operations of the tile cache and the request queues: plain doubly linked lists,
// newest at the head, walked linearly.
#include "tiles/tile_list.h"

CachedTile* find_tile_in_list(CachedTile* head, const TileKey& key) {
    for (CachedTile* tile = head; tile != nullptr; tile = tile->next)
        if (same_tile(*tile, key)) return tile;
    return nullptr;
}

TileRequest* find_request_in_list(TileRequest* head, const TileKey& key) {
    for (TileRequest* request = head; request != nullptr; request = request->next)
        if (same_tile(*request, key)) return request;
    return nullptr;
}

CachedTile* choose_tile_to_evict(CachedTile* head, const CellRange& in_view) {
    if (head == nullptr || head->next == nullptr) return nullptr;
    CachedTile* outside = nullptr;   // least recently used out of view
    CachedTile* any = nullptr;       // least recently used of all
    for (CachedTile* tile = head->next; tile != nullptr; tile = tile->next) {
        if (any == nullptr || tile->last_used < any->last_used) any = tile;
        if (!in_view.holds_tile(*tile) &&
            (outside == nullptr || tile->last_used < outside->last_used))
            outside = tile;
    }
    return outside != nullptr ? outside : any;
}

void unlink_tile(CachedTile*& head, CachedTile* tile) {
    if (tile->prev != nullptr) tile->prev->next = tile->next;
    else head = tile->next;
    if (tile->next != nullptr) tile->next->prev = tile->prev;
    tile->prev = nullptr;
    tile->next = nullptr;
}

void push_request(TileRequest*& head, TileRequest* request) {
    request->prev = nullptr;
    request->next = head;
    if (head != nullptr) head->prev = request;
    head = request;
}

TileRequest* pop_request(TileRequest*& head) {
    TileRequest* taken = head;
    if (taken == nullptr) return nullptr;
    head = taken->next;
    if (head != nullptr) head->prev = nullptr;
    taken->next = nullptr;
    return taken;
}

TileRequest* take_requests_outside(TileRequest*& head, const CellRange& keep) {
    TileRequest* taken = nullptr;
    TileRequest* request = head;
    while (request != nullptr) {
        TileRequest* next = request->next;
        if (!keep.holds_tile(*request)) {
            if (request->prev != nullptr) request->prev->next = next;
            else head = next;
            if (next != nullptr) next->prev = request->prev;
            request->prev = nullptr;
            request->next = taken;
            taken = request;
        }
        request = next;
    }
    return taken;
}

bool should_announce(const AnnounceState& state) {
    if (!state.tiles_waiting || state.notice_outstanding) return false;
    return state.queues_empty || state.now - state.last_notice >= ANNOUNCE_INTERVAL_MS;
}
