// The viewer's frame: window class, main window and its three status panes, the command
// line, the main window procedure and the message loop.
#pragma once
#include <windows.h>

#include <string>

// Frame state (main thread): the module instance, the title and class name from the string
// table, the main window and the three status panes over its caption bar.
extern HINSTANCE app_instance;
extern char window_title[100];
extern char class_name[100];
extern HWND main_window;
extern HWND x_pane;
extern HWND y_pane;
extern HWND tile_pane;

void load_window_strings(HINSTANCE instance);
ATOM register_main_class(HINSTANCE instance);
BOOL create_main_window(HINSTANCE instance, int show_command);
// `command_line_tail` is UTF-8, as command_line_tail_utf8 gives it.
void parse_command_line(const char* command_line_tail);
// The process's command line after the program's name, in UTF-8 (the tail WinMain is given is
// in the system's code page, which cannot name every file).
std::string command_line_tail_utf8();
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void update_status_panes();

// While the mouse is captured, TranslateAccelerator swallows every accelerator that names a
// menu item (Alt+X, Ctrl+O, Ctrl+S) without sending the command: a key pressed with Alt or
// Ctrl during a drag ends the drag first, so the command runs. Called for every message.
void end_drag_before_accelerator(const MSG& message);

// Runs the message loop with the accelerator table; returns the quit message's code.
int run_message_loop(HACCEL accelerators);
