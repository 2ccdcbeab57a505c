#!/bin/sh
# The three status panes are seen, not only there: after a mouse move over the map, each pane's
# rectangle on the screenshot holds dark text on a background unlike the caption bar it sits
# on. Wine stacks a shown or re-activated main window over its owned pop-ups unless the panes
# are raised again, so this is checked at start-up and again after the About dialog has taken
# and given back the activation.
# The tileset is 20 x 20 tiles of 256 pixels whose tile files do not exist: the panes need a
# loaded tileset, not pictures.
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

# Pane rectangles, "LEFT WIDTH" each, from the top edge of the screen; they are the caption
# height less one (18 pixels in Wine's metrics). The boxes checked keep 2 pixels inside the
# left and right edges and take rows 1 to 15, clear of the pane's frame.
PANES="$((E2E_SCREEN_W - 400)) 150
$((E2E_SCREEN_W - 250)) 50
$((E2E_SCREEN_W - 200)) 50"
# The caption bar left of the panes, clear of the title.
CAPTION_X=$((E2E_SCREEN_W - 410))
CAPTION_Y=9

e2e_begin panes
tvt=$E2E_OUT/panes.tvt
e2e_write_tileset "$tvt" 20 20 "$E2E_OUT/no tiles here" MaxCache=10 LabelCount=1 \
  Label1X=900 Label1Y=500 Label1Len=8 "Label1Text=WMWMWMWM"

# pane_seen SHOT LEFT WIDTH - at least 10 pixels of text darker than mid grey, and at least
# half of the box off the caption's colour by more than 48 levels (a hidden pane shows the
# caption, whose colour may be dark too).
pane_seen() {
  box="$(($2 + 2)) 1 $(($3 - 4)) 15"
  dark=$(e2e_pixels dark "$1" $box 128) || return 1
  off=$(e2e_pixels differ "$1" $box "$CAPTION_COLOUR" 48) || return 1
  PANE_REPORT="$PANE_REPORT [$2: $dark dark, $off of $((($3 - 4) * 15)) unlike the caption]"
  [ "$dark" -ge 10 ] && [ $((2 * off)) -ge $((($3 - 4) * 15)) ]
}

panes_seen() {
  shot=$(e2e_screenshot "$1") || return 1
  CAPTION_COLOUR=$(python3 "$E2E_LIB_DIR/pixels.py" colour "$shot" "$CAPTION_X" "$CAPTION_Y") || return 1
  PANE_REPORT="caption $CAPTION_COLOUR:"
  result=0
  while read -r left width; do
    pane_seen "$shot" "$left" "$width" || result=1
  done <<EOF
$PANES
EOF
  return $result
}

# move_and_look NAME X - moves the mouse to screen (X, 400), waits for the x pane to follow,
# then for the panes to be seen; logs what the last screenshot showed.
move_and_look() {
  xdotool mousemove $(($2 + 10)) 410 mousemove "$2" 400
  e2e_check "$1: the x pane follows the mouse" e2e_wait 30 x_pane_between $(($2 - 20)) "$2"
  e2e_check "$1: the tile pane names a tile" e2e_wait 30 tile_pane_names_tile
  e2e_check "$1: each pane shows dark text on its own background" e2e_wait 30 panes_seen "$1"
  e2e_log "$1: $PANE_REPORT"
}

tile_pane_names_tile() {
  case $(tile_pane_text) in *.jpg*) return 0 ;; esac
  return 1
}

about_shown() {
  xdotool search --onlyvisible --name '^About$' >/dev/null 2>&1
}

# The dialog is gone, as told by an xdotool that still finds the main window: a search that
# fails for any other reason (no display, no xdotool) proves nothing.
about_gone() {
  xdotool search --onlyvisible --name '^Terrava$' >/dev/null 2>&1 || return 1
  ! about_shown
}

# The label list's first line, at the client area's top-left corner (estimated from the window
# geometry as in checks.sh): the one label's text in dark pixels while the list is open.
list_line_dark() {
  window_geometry || return 1
  shot=$(e2e_screenshot list) || return 1
  e2e_pixels dark "$shot" $((WX + 8)) $((WY + 46)) 100 14 128
}
list_shown() {
  n=$(list_line_dark) && [ "$n" -ge 10 ]
}
list_gone() {
  n=$(list_line_dark) && [ "$n" -eq 0 ]
}

e2e_start_app "-O$(e2e_winpath "$tvt")"
e2e_wait_window 300 || e2e_die "no window titled Terrava"
e2e_check "the tileset is shown" e2e_wait 90 shows_loaded_tileset
move_and_look start 600

e2e_key alt+slash
e2e_check "Alt+/ opens the About dialog" e2e_wait 30 about_shown
xdotool key Return
e2e_check "Return closes the About dialog" e2e_wait 30 about_gone
move_and_look "after the About dialog" 500

e2e_key g
e2e_check "G opens the label list" e2e_wait 30 list_shown
xdotool key Escape
e2e_check "Esc closes the label list" e2e_wait 30 list_gone
move_and_look "after the label list" 700

e2e_key alt+x
e2e_check "Alt+X ends the program with code 0" e2e_wait_exit 60
e2e_check "exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_finish
