// Conversions between the viewer's char strings and UTF-16.
#include "app/wide_text.h"

std::wstring widen(const char* text) {
    if (text == nullptr || text[0] == '\0') return std::wstring();
    const int length = MultiByteToWideChar(PATH_CODE_PAGE, 0, text, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(PATH_CODE_PAGE, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

std::string narrow(const wchar_t* text) {
    if (text == nullptr || text[0] == L'\0') return std::string();
    const int length = WideCharToMultiByte(PATH_CODE_PAGE, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(PATH_CODE_PAGE, 0, text, -1, &result[0], length, nullptr, nullptr);
    result.resize(static_cast<size_t>(length) - 1);
    return result;
}

std::string from_system_code_page(const char* text) {
    if (text == nullptr || text[0] == '\0') return std::string();
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    return narrow(wide.c_str());
}

size_t path_characters(const char* text) {
    size_t characters = 0;
    for (const char* c = text; *c != '\0'; ++c)
        if ((static_cast<unsigned char>(*c) & 0xC0) != 0x80) ++characters;   // not a continuation
    return characters;
}
