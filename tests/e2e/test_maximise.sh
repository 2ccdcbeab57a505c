#!/bin/sh
# -M maximises the window that start-up placed at the screen origin with the screen's size.
# Maximised, Wine puts the frame outside the screen (the window starts left of and above the
# origin and is wider than the screen); the plain start (test_start.sh) has the window exactly
# on the screen. The empty state is still drawn at the top centre of the larger client area,
# and a path after -O on the same line loads as usual.
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

e2e_begin maximise

e2e_start_app -M
e2e_wait_window 300 || e2e_die "no window titled Terrava (-M)"
e2e_check "-M: the window is maximised" e2e_wait 30 window_is_maximised
e2e_check "-M: 'No tileset loaded' is drawn at the top centre" e2e_wait 30 text_band_has_text
e2e_key alt+x
e2e_check "-M: Alt+X ends the program with code 0" e2e_wait_exit 60
e2e_check "-M: exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0

tvt=$E2E_OUT/empty.tvt
e2e_write_tileset "$tvt" 20 20 "$E2E_OUT/no tiles here"
e2e_start_app /m "-O$(e2e_winpath "$tvt")"
e2e_wait_window 300 || e2e_die "no window titled Terrava (/m -O<path>)"
e2e_check "/m -O<path>: the window is maximised" e2e_wait 30 window_is_maximised
e2e_check "/m -O<path>: the tileset is shown" e2e_wait 90 shows_loaded_tileset
e2e_key alt+x
e2e_check "/m -O<path>: Alt+X ends the program" e2e_wait_exit 60
e2e_finish
