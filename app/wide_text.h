// Text between the viewer's char strings and the system's UTF-16 ("wide") functions. Paths and
// messages are kept as UTF-8 char strings, so a file name may hold any character; every call
// that names a file or shows a path goes through the wide function with the text converted here.
#pragma once
#include <windows.h>

#include <string>

constexpr UINT PATH_CODE_PAGE = CP_UTF8;

// `text` (NUL-terminated, PATH_CODE_PAGE) as UTF-16; empty for null.
std::wstring widen(const char* text);
// UTF-16 `text` in PATH_CODE_PAGE.
std::string narrow(const wchar_t* text);
// `text` in the system's code page (as the profile functions and earlier versions read a
// tileset file's values) in PATH_CODE_PAGE.
std::string from_system_code_page(const char* text);
// Characters (not bytes) of PATH_CODE_PAGE `text`.
size_t path_characters(const char* text);
