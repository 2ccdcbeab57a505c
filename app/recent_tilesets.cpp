// The recent tilesets in the registry and the File menu. The list's arithmetic is recent_list's;
// this file reads and writes HKCU\Software\Terrava and rebuilds the menu items above Exit.
#include "app/recent_tilesets.h"

#include <cstdio>

#include "app/recent_list.h"
#include "app/wide_text.h"
#include "res/resource_ids.h"

std::vector<std::string> recent_tilesets;

namespace {

std::wstring value_name(size_t index) { return L"Recent" + std::to_wstring(index + 1); }

std::vector<std::string> read_registry_list() {
    std::vector<std::string> list;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, widen(RECENT_TILESETS_KEY).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return list;
    for (size_t i = 0; i < RECENT_TILESETS_LIMIT; ++i) {
        wchar_t path[MAX_PATH * 4] = L"";
        DWORD type = 0;
        DWORD bytes = sizeof path - sizeof(wchar_t);   // room for a terminator of our own
        if (RegQueryValueExW(key, value_name(i).c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(path), &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        path[bytes / sizeof(wchar_t)] = L'\0';
        list.push_back(narrow(path));
    }
    RegCloseKey(key);
    // Stored by hand or by an older run, the values may repeat a file or hold empty names.
    std::vector<std::string> tidy;
    for (auto it = list.rbegin(); it != list.rend(); ++it) tidy = with_recent_first(tidy, *it);
    return tidy;
}

// A failed write keeps the list for this run only; nothing to tell the user.
void write_registry_list() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, widen(RECENT_TILESETS_KEY).c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (size_t i = 0; i < RECENT_TILESETS_LIMIT; ++i) {
        if (i >= recent_tilesets.size()) {
            RegDeleteValueW(key, value_name(i).c_str());
            continue;
        }
        const std::wstring path = widen(recent_tilesets[i].c_str());
        RegSetValueExW(key, value_name(i).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

// The File menu: "&1 PATH" ... and a separator of their own, just above Exit.
void show_in_menu(HWND window) {
    HMENU file_menu = GetSubMenu(GetMenu(window), 0);
    if (file_menu == nullptr) return;
    for (UINT id = CMD_RECENT_FIRST; id <= CMD_RECENT_SEPARATOR; ++id)
        DeleteMenu(file_menu, id, MF_BYCOMMAND);
    if (recent_tilesets.empty()) return;
    for (size_t i = 0; i < recent_tilesets.size(); ++i) {
        const std::wstring text = widen(recent_menu_text(i, recent_tilesets[i]).c_str());
        InsertMenuW(file_menu, CMD_EXIT, MF_BYCOMMAND | MF_STRING,
                    CMD_RECENT_FIRST + static_cast<UINT>(i), text.c_str());
    }
    InsertMenuW(file_menu, CMD_EXIT, MF_BYCOMMAND | MF_SEPARATOR, CMD_RECENT_SEPARATOR, nullptr);
}

}  // namespace

void load_recent_tilesets(HWND window) {
    recent_tilesets = read_registry_list();
    show_in_menu(window);
}

void remember_recent_tileset(HWND window, const char* path) {
    recent_tilesets = with_recent_first(recent_tilesets, path);
    write_registry_list();
    show_in_menu(window);
}

void forget_recent_tileset(HWND window, const char* path) {
    recent_tilesets = without_file(recent_tilesets, path);
    write_registry_list();
    show_in_menu(window);
}

const std::string* recent_tileset_of_command(UINT command) {
    if (command < CMD_RECENT_FIRST || command >= CMD_RECENT_FIRST + recent_tilesets.size())
        return nullptr;
    return &recent_tilesets[command - CMD_RECENT_FIRST];
}
