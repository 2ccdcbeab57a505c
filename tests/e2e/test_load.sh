#!/bin/sh
# Loading a tileset named on the command line, in the three forms the command line accepts:
#   -O<path>              the path runs to the next space
#   "<path with spaces>"  a double-quoted path alone
#   /o"<path with spaces>" the switch in its other spelling, followed by a quoted path
# and a quoted path whose folder and file are named in Greek, Chinese and an emoji.
# The tileset is 20 x 20 tiles of 256 pixels whose tile files do not exist, so a successful
# load paints empty cells in the window colour: the "No tileset loaded" line disappears and
# the scroll bars, needed for a 5120-pixel world, become enabled.
# A path after "-O " (with a space) is not taken: the window keeps showing the empty state.
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

e2e_begin load

plain=$E2E_OUT/plain/empty.tvt
spaced="$E2E_OUT/with space/empty set.tvt"
unicode="$E2E_OUT/Χάρτες 地图 🗺/κόσμος 世界.tvt"
e2e_write_tileset "$plain" 20 20 "$E2E_OUT/no tiles here" MaxCache=10
e2e_write_tileset "$spaced" 20 20 "$E2E_OUT/no tiles here" MaxCache=10
e2e_write_tileset "$unicode" 20 20 "$E2E_OUT/no tiles here" MaxCache=10

# run_and_check DESCRIPTION - waits for the window, checks the loaded view, quits with Alt+X.
run_and_check() {
  e2e_wait_window 300 || e2e_die "no window titled Terrava ($1)"
  e2e_check "$1: the tileset is shown (no empty-state text, scroll bars enabled)" \
    e2e_wait 90 shows_loaded_tileset
  shot=$(e2e_screenshot "$2")
  e2e_check "$1: every visible cell is an empty cell in the window colour" \
    client_body_is_blank "$shot"
  e2e_key alt+x
  e2e_check "$1: Alt+X ends the program with code 0" e2e_wait_exit 60
  e2e_check "$1: exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
}

e2e_start_app "-O$(e2e_winpath "$plain")"
run_and_check "-O<path>" dash-o

e2e_start_app "$(e2e_winpath "$spaced")"
run_and_check "quoted path with spaces" quoted

e2e_start_app "$(e2e_winpath "$unicode")"
run_and_check "a path in Greek, Chinese and an emoji" unicode

e2e_start_app_cmdline "/o\"$(e2e_winpath "$spaced")\""
run_and_check "/o\"<path with spaces>\"" slash-o-quoted

# "-O " followed by a path loads nothing. The status panes follow the pointer only from the
# message loop, which starts after the command line has been handled; once they show the new
# pointer position, the tile pane tells whether a tileset is loaded.
e2e_start_app -O "$(e2e_winpath "$plain")"
e2e_wait_window 300 || e2e_die "no window titled Terrava (-O <path>)"
xdotool mousemove 310 310 mousemove 300 300
e2e_check "-O <path>: the panes follow the pointer" e2e_wait 30 x_pane_between 280 300
e2e_check "-O <path>: nothing is loaded, the tile pane says so" \
  test "$(tile_pane_text)" = "No Tileset Loaded!"
e2e_check "-O <path>: the empty-state text stays" text_band_has_text
e2e_key alt+x
e2e_check "-O <path>: Alt+X ends the program" e2e_wait_exit 60
e2e_finish
