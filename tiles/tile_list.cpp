// List operations of the tile cache and the request queues: plain doubly linked lists,
// newest at the head, walked linearly.
#include "tiles/tile_list.h"

CachedTile* find_tile_in_list(CachedTile* head, int32_t column, int32_t row) {
    for (CachedTile* tile = head; tile != nullptr; tile = tile->next)
        if (tile->column == column && tile->row == row) return tile;
    return nullptr;
}

TileRequest* find_request_in_list(TileRequest* head, int32_t column, int32_t row) {
    for (TileRequest* request = head; request != nullptr; request = request->next)
        if (request->column == column && request->row == row) return request;
    return nullptr;
}

CachedTile* choose_tile_to_evict(CachedTile* head) {
    if (head == nullptr || head->next == nullptr) return nullptr;
    CachedTile* candidate = head->next;
    for (CachedTile* tile = candidate->next; tile != nullptr; tile = tile->next)
        if (tile->last_used < candidate->last_used) candidate = tile;
    return candidate;
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
