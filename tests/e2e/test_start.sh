#!/bin/sh
# Start-up without a tileset, and Alt+X.
# - The main window is placed at the screen origin with the size of the screen, not maximised.
# - "No tileset loaded" is drawn at the top centre of the client area in dark text, and the
#   rest of the client area stays the window colour.
# - Alt+X (the accelerator for File > Exit) ends the process with exit code 0.
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

e2e_begin start
e2e_start_app
e2e_wait_window 300 || e2e_die "no window titled Terrava"

e2e_check "the window covers the screen from the origin, not maximised" \
  e2e_wait 30 window_is_normal
e2e_check "'No tileset loaded' is drawn at the top centre" \
  e2e_wait 30 text_band_has_text
shot=$(e2e_screenshot empty)
e2e_check "the rest of the client area is the window colour" client_body_is_blank "$shot"

e2e_key alt+x
e2e_check "Alt+X ends the program" e2e_wait_exit 60
e2e_check "the exit code is 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_finish
