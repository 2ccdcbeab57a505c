#!/bin/sh
# A label added by hand reaches the tileset file: the view is scrolled by arrow keys to a known
# place, a right click at a known client point opens the "Add new label:" dialog, a text is
# typed and confirmed, and Alt+X asks whether to save the labels. Answered Yes, the program
# ends with code 0 and the file holds exactly that label at scroll + click point, with its
# length and text, beside the tileset's own keys and with no temporary file left in the folder:
# not even the one an earlier save left behind when it was cut short.
# A second run answers No: the program ends with code 0 and the file is not touched.
E2E_EXE=$1
E2E_PROBE=$2
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

# 8 x 5 tiles of 256 pixels: larger than the client area both ways, so the view can scroll.
COLUMNS=8 ROWS=5
CLICK_X=300 CLICK_Y=200      # client point of the right click
SCROLL_X=30 SCROLL_Y=20      # three Right and two Down presses of 10 pixels
TEXT="Old Mill 7"

e2e_begin label_save
tiles=$E2E_OUT/tiles
convert -size 256x256 "xc:#5a7a9a" -quality 92 "$E2E_OUT/tile.jpg" || e2e_die "convert cannot make a tile"
for r in $(seq 0 $((ROWS - 1))); do
  mkdir -p "$tiles/$(printf %03d "$r")"
  for c in $(seq 0 $((COLUMNS - 1))); do
    cp "$E2E_OUT/tile.jpg" "$tiles/$(printf %03d "$r")/$(printf %03d "$c").jpg"
  done
done
folder=$E2E_OUT/tileset
tvt=$folder/save.tvt
e2e_write_tileset "$tvt" $COLUMNS $ROWS "$tiles" MaxCache=50
echo "half a save" >"$tvt.saving.tmp"

# key_value NAME - the value of the key NAME in the tileset file, its line end removed.
key_value() {
  tr -d '\r' <"$tvt" | sed -n "s/^$1=//p"
}

# key_is NAME VALUE - the file holds NAME exactly once, with VALUE.
key_is() {
  n=$(tr -d '\r' <"$tvt" | grep -c "^$1=")
  v=$(key_value "$1")
  [ "$n" = 1 ] && [ "$v" = "$2" ] && return 0
  e2e_log "$1: expected once with '$2', found $n times with '$v'"
  return 1
}

only_the_tileset_in_folder() {
  left=$(ls -A "$folder")
  [ "$left" = save.tvt ] || { e2e_log "the folder holds '$left', expected only save.tvt"; return 1; }
}

# pane_is LEFT VALUE - the status pane at screen x LEFT shows the number VALUE.
pane_is() {
  v=$(pane_text "$1" 50) || return 1
  [ "${v% }" = "$2" ]
}

cursor_at_world() {
  pane_is $((E2E_SCREEN_W - 250)) "$1" && pane_is $((E2E_SCREEN_W - 200)) "$2"
}

# find_visible NAME - the X id of a visible window titled NAME other than the main window, in FOUND.
find_visible() {
  FOUND=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "$E2E_WIN" | head -n 1)
  [ -n "$FOUND" ]
}

label_dialog_gone() {
  ! find_visible "Add new label:"
}

label_saved() {
  key_is LabelCount 1 && key_is Label1X $((SCROLL_X + CLICK_X)) && key_is Label1Y $((SCROLL_Y + CLICK_Y)) &&
    key_is Label1Len ${#TEXT} && key_is Label1Text "$TEXT"
}

tileset_keys_kept() {
  key_is TileCountX $COLUMNS && key_is TileCountY $ROWS && key_is MaxCache 50 &&
    key_is TileDir "$(e2e_winpath "$tiles")"
}

focus_is() {
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}

# Both runs: the map opened, the view scrolled, a label typed in at the click point, Alt+X, and
# the question box up and focused; its X id in BOX.
add_label_and_exit() {
  e2e_start_app "-O$(e2e_winpath "$tvt")"
  e2e_wait_window 300 || e2e_die "no window titled Terrava"
  e2e_client_area || e2e_die "the client area's place is unknown"
  e2e_key Right Right Right Down Down
  xdotool mousemove $((CX + CLICK_X)) $((CY + CLICK_Y))
  world="($((SCROLL_X + CLICK_X)), $((SCROLL_Y + CLICK_Y)))"
  e2e_check "the view scrolls to ($SCROLL_X, $SCROLL_Y): the panes show the cursor at world $world" \
    e2e_wait 30 cursor_at_world $((SCROLL_X + CLICK_X)) $((SCROLL_Y + CLICK_Y))
  xdotool click 3
  e2e_wait 30 find_visible "Add new label:" || e2e_die "a right click opened no 'Add new label:' dialog"
  dialog=$FOUND
  e2e_wait 60 focus_is "$dialog" || e2e_die "the label dialog has not the keyboard focus"
  xdotool type --delay 50 "$TEXT"
  xdotool key Return
  e2e_check "Enter closes the label dialog" e2e_wait 30 label_dialog_gone
  e2e_key alt+x
  e2e_wait 30 find_visible Terrava || e2e_die "Alt+X with a new label asked no question"
  BOX=$FOUND
  e2e_check "the question box takes the keyboard focus" e2e_wait 60 focus_is "$BOX"
  e2e_check "the program waits for the answer" e2e_app_running
}

add_label_and_exit
xdotool key Return   # Yes, the default button
e2e_check "Yes saves and ends the program" e2e_wait_exit 60
e2e_check "exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_check "the file holds one label, at scroll + click point, with the typed text and its length" label_saved
e2e_check "the tileset's own keys are kept" tileset_keys_kept
e2e_check "no temporary file is left beside the tileset" only_the_tileset_in_folder

cp "$tvt" "$E2E_OUT/saved.tvt"
add_label_and_exit
xdotool key n   # No
e2e_check "No ends the program" e2e_wait_exit 60
e2e_check "exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_check "No leaves the file as it was" cmp "$E2E_OUT/saved.tvt" "$tvt"
e2e_finish
