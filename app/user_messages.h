// The one way the viewer tells the user something went wrong: a message box owned by the
// main window. Everything that reports goes through here, so the tests find the box the
// same way whoever raised it.
#pragma once
#include <windows.h>

// Shows `text` (UTF-8) in a modal message box with `caption` and the MessageBoxA `flags`; returns
// the button pressed (IDOK, IDYES, ...), or 0 when the box could not be shown.
int report_to_user(HWND owner, const char* text, const char* caption, UINT flags);
