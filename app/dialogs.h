// The Options dialog (cache size in megabytes, stored as a tile count) and the About box.
#pragma once
#include <windows.h>

INT_PTR CALLBACK options_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
