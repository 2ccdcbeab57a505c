// Entry point of terrava.exe: strings, window class, main window, accelerators, command
// line, message loop, then an orderly stop of the loader thread.
#include <windows.h>

#include "app/main_window.h"
#include "res/resource_ids.h"
#include "tiles/tile_loader.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
    load_window_strings(instance);
    register_main_class(instance);
    if (!create_main_window(instance, show_command)) return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(MAIN_MENU));
    parse_command_line(command_line_tail_utf8().c_str());
    const int exit_code = run_message_loop(accelerators);
    stop_tile_loader();
    return exit_code;
}
