// The File menu's recent tilesets: the last eight opened, per user in the registry
// (HKCU\Software\Terrava, values Recent1 ... Recent8), shown as "&1 PATH" ... above Exit.
// Choosing one opens it; one that is no longer there is explained and taken off the list.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Recent-tileset state (main thread): the list, newest first, as stored in the registry.
extern std::vector<std::string> recent_tilesets;
// The registry key under HKEY_CURRENT_USER.
constexpr const char* RECENT_TILESETS_KEY = "Software\\Terrava";

// Reads the list from the registry and shows it in `window`'s File menu.
void load_recent_tilesets(HWND window);
// Puts `path` first (a tileset has just opened), in the registry and the menu.
void remember_recent_tileset(HWND window, const char* path);
// Takes `path` off the list, the registry and the menu.
void forget_recent_tileset(HWND window, const char* path);
// The path of a recent-tileset command, or null for any other command id.
const std::string* recent_tileset_of_command(UINT command);
