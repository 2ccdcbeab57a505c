// Labels on the map: the outlined overlay, adding with a right click through the text-input
// dialog, the label list box (G) with goto and delete, and showing or hiding them (L).
#pragma once
#include <windows.h>

#include <cstdint>

// Label display state (main thread).
extern int labels_visible;              // labels are drawn while set; L flips it
extern HWND label_list;                 // the list box while it is open
extern int label_list_open;
extern int32_t label_list_width;        // remembered across openings
extern WNDPROC label_list_base_proc;    // the list box's own procedure
// Text-input dialog exchange: the caption to show, the initial text in and the new heap text
// out (owned by the caller).
extern const char* input_caption;
extern char* input_text;

// Draws the labels whose text can reach the view, from a spatial index of the label points.
void draw_label_overlay(HDC dc, const RECT& rectangle);
// Every change of the label list (a record added or freed) calls this before the next draw.
void note_labels_changed();
void on_add_label(HWND window, LPARAM click_point);
void on_toggle_labels_visible(HWND window);
INT_PTR CALLBACK text_input_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
void toggle_label_list(HWND parent);
// Closes the list box if it is open (before the records its items point at go).
void close_label_list();
LRESULT CALLBACK label_list_proc(HWND list, UINT message, WPARAM wparam, LPARAM lparam);
void goto_selected_label();
// The list keeps its size to the eye on a monitor of another DPI: width and font follow.
void on_label_list_dpi_changed(int32_t old_dpi, int32_t new_dpi);
void delete_selected_label(HWND list);
