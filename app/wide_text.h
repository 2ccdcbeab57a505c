// Text between the viewer's char strings and the system's UTF-16 ("wide") functions. Paths and
// messages are kept as char strings in PATH_CODE_PAGE; every call that names a file or shows a
// path goes through the wide function with the text converted here.
#pragma once
#include <windows.h>

#include <string>

constexpr UINT PATH_CODE_PAGE = CP_ACP;

// `text` (NUL-terminated, PATH_CODE_PAGE) as UTF-16; empty for null.
std::wstring widen(const char* text);
// UTF-16 `text` in PATH_CODE_PAGE.
std::string narrow(const wchar_t* text);
