// The Options dialog and the About box. Options shows the cache in megabytes and stores the
// new size as a tile count, in the tileset file at once; a failed write is reported.
#include "app/dialogs.h"


#include "app/options_math.h"
#include "app/tileset.h"
#include "res/resource_ids.h"

namespace {

void options_accept(HWND dialog) {
    BOOL readable = FALSE;
    const int32_t megabytes =
        static_cast<int32_t>(GetDlgItemInt(dialog, CACHE_EDIT_ID, &readable, TRUE));
    const int32_t tiles = readable ? cache_tiles_for_megabytes(megabytes, tileset.tile_width,
                                                               tileset.tile_height)
                                   : 0;
    if (tiles == 0) {
        EndDialog(dialog, 0);
        return;
    }
    tileset.cache_limit = tiles;
    const DWORD error = store_cache_limit(tileset.file_path, tiles);
    if (error != 0) report_file_error(dialog, IDS_CACHE_NOT_STORED, tileset.file_path, error);
    EndDialog(dialog, 1);
}

}  // namespace

INT_PTR CALLBACK options_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, CACHE_EDIT_ID, EM_LIMITTEXT, 4, 0);
        SetDlgItemInt(dialog, CACHE_EDIT_ID,
                      static_cast<UINT>(cache_megabytes(tileset.tile_width, tileset.tile_height,
                                                        tileset.cache_limit)),
                      TRUE);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            options_accept(dialog);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, 2);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
