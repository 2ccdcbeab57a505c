#!/bin/sh
# Zoom end to end, on a 16 x 8 map of 256-pixel tiles (4096 x 2048, the demo earth's tiles
# twice across and twice down) with MaxCache=200, so that a screen of full-size tiles fits the
# cache down to 1:4, where the whole map fits the window. The pointer rests at client
# (300, 200): two wheel steps in (2:1, 4:1) and two out keep the panes' x and y at 300 and 200,
# and each step shows the map from the zoomed point the step's arithmetic gives, every
# compared client pixel its map pixel magnified (the reference decoder's, to the bit). Home
# then shows the whole map at 1:4, each client pixel within the range of the 4 x 4 map pixels
# it stands for. Zoomed out, every compared client pixel is the pixel of its tile decoded
# reduced (1/2 after a wheel step out from 1:1, 1/4 after Home), to the bit. A label added
# with a right click at 1:4 is saved at the map point the panes showed under the pointer.
E2E_EXE=$1
E2E_PROBE=$2
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

COLUMNS=16 ROWS=8 TILE=256
# Client pixels compared per picture (a box from the client's top-left corner).
BOX_W=320 BOX_H=240
POINTER_X=300 POINTER_Y=200
TEXT="Seen from afar"

e2e_begin zoom
demo=$E2E_WORK/demo
"$E2E_LIB_DIR/../../scripts/make-demo-tileset" "$demo" >/dev/null || e2e_die "could not make the demo tileset"
tiles=$E2E_OUT/tiles
for r in $(seq 0 $((ROWS - 1))); do
  mkdir -p "$tiles/$(printf %03d "$r")"
  for c in $(seq 0 $((COLUMNS - 1))); do
    ln -s "$demo/tiles/$(printf %03d $((r % 4)))/$(printf %03d $((c % 8))).jpg" \
      "$tiles/$(printf %03d "$r")/$(printf %03d "$c").jpg"
  done
done
tvt=$E2E_OUT/zoom.tvt
e2e_write_tileset "$tvt" $COLUMNS $ROWS "$tiles" MaxCache=200

# shows_reduced SX SY REDUCTION - the client area shows the map at 1:2^REDUCTION from zoomed
# point (SX, SY), every compared pixel that of its tile decoded at 1/2^REDUCTION.
shows_reduced() {
  e2e_client_area || return 1
  shot=$(e2e_screenshot "reduced-$3-$1-$2") || return 1
  result=$(python3 "$E2E_LIB_DIR/pixels.py" scaled "$shot" "$CX" "$CY" $BOX_W $BOX_H "$1" "$2" "$3" \
    "$tiles" $COLUMNS $ROWS $TILE 2>>"$E2E_OUT/pixels.log") ||
    { e2e_log "pixels.py scaled failed (see $E2E_OUT/pixels.log)"; return 1; }
  e2e_ints 3 "$result" || { e2e_log "pixels.py scaled answered '$result'"; return 1; }
  set -- "$1" "$2" "$3" $result
  e2e_log "1:$((1 << $3)) from ($1, $2): $5 of $4 pixels off (worst by $6)"
  [ "$4" -gt 0 ] && [ "$5" -eq 0 ]
}

# shows SX SY ZOOM - the client area shows the map zoomed by 2^ZOOM from zoomed point (SX, SY).
shows() {
  e2e_client_area || return 1
  shot=$(e2e_screenshot "zoom-$3-$1-$2") || return 1
  result=$(python3 "$E2E_LIB_DIR/pixels.py" zoomed "$shot" "$CX" "$CY" $BOX_W $BOX_H "$1" "$2" "$3" \
    "$tiles" $COLUMNS $ROWS $TILE 0 2>>"$E2E_OUT/pixels.log") ||
    { e2e_log "pixels.py zoomed failed (see $E2E_OUT/pixels.log)"; return 1; }
  e2e_ints 2 "$result" || { e2e_log "pixels.py zoomed answered '$result'"; return 1; }
  set -- "$1" "$2" "$3" $result
  e2e_log "zoom $3 from ($1, $2): $5 of $4 pixels off"
  [ "$4" -gt 0 ] && [ "$5" -eq 0 ]
}

pane_is() {
  v=$(pane_text "$1" 50) || return 1
  [ "${v% }" = "$2" ]
}

# panes_show X Y - the x and y panes show the map point (X, Y).
panes_show() {
  pane_is $((E2E_SCREEN_W - 250)) "$1" && pane_is $((E2E_SCREEN_W - 200)) "$2"
}

find_visible() {
  FOUND=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "$E2E_WIN" | head -n 1)
  [ -n "$FOUND" ]
}

label_dialog_gone() {
  ! find_visible "Add new label:"
}

key_is() {
  v=$(tr -d '\r' <"$tvt" | sed -n "s/^$1=//p")
  [ "$v" = "$2" ] && return 0
  e2e_log "$1: expected '$2', found '$v'"
  return 1
}

label_saved_at() {
  key_is LabelCount 1 && key_is Label1X "$1" && key_is Label1Y "$2" && key_is Label1Text "$TEXT"
}

e2e_start_app "-O$(e2e_winpath "$tvt")"
e2e_wait_window 120 || e2e_die "no window titled Terrava"
e2e_client_area || e2e_die "the client area's place is unknown"
e2e_check "1:1: every compared pixel is its map pixel" e2e_wait 90 shows 0 0 0

e2e_focus
xdotool mousemove $((CX + POINTER_X)) $((CY + POINTER_Y))
e2e_check "1:1: the panes show the map point under the pointer" \
  e2e_wait 30 panes_show $POINTER_X $POINTER_Y
# Each step in doubles the zoomed point under the pointer; each step out halves it.
xdotool click 4
e2e_check "a wheel step in shows 2:1 from (300, 200)" e2e_wait 60 shows 300 200 1
e2e_check "2:1: the panes still show (300, 200)" e2e_wait 10 panes_show $POINTER_X $POINTER_Y
xdotool click 4
e2e_check "another step in shows 4:1 from (900, 600)" e2e_wait 60 shows 900 600 2
e2e_check "4:1: the panes still show (300, 200)" e2e_wait 10 panes_show $POINTER_X $POINTER_Y
xdotool click 5
e2e_check "a wheel step out shows 2:1 from (300, 200) again" e2e_wait 60 shows 300 200 1
xdotool click 5
e2e_check "and another 1:1 from (0, 0)" e2e_wait 60 shows 0 0 0
e2e_check "1:1: the panes show (300, 200)" e2e_wait 10 panes_show $POINTER_X $POINTER_Y
xdotool click 5
e2e_check "a step out from 1:1 shows 1:2 from (0, 0), tiles decoded at 1/2" \
  e2e_wait 90 shows_reduced 0 0 1
e2e_check "1:2: the panes show (600, 400)" \
  e2e_wait 10 panes_show $((2 * POINTER_X)) $((2 * POINTER_Y))

e2e_key Home
e2e_check "Home shows the whole map at 1:4, tiles decoded at 1/4" e2e_wait 90 shows_reduced 0 0 2
xdotool mousemove $((CX + POINTER_X)) $((CY + POINTER_Y + 1)) mousemove $((CX + POINTER_X)) $((CY + POINTER_Y))
e2e_check "1:4: the panes show the map point (1200, 800) under the pointer" \
  e2e_wait 30 panes_show $((4 * POINTER_X)) $((4 * POINTER_Y))
xdotool click 3
e2e_wait 30 find_visible "Add new label:" || e2e_die "a right click opened no 'Add new label:' dialog"
xdotool type --delay 50 "$TEXT"
xdotool key Return
e2e_check "Enter closes the label dialog" e2e_wait 30 label_dialog_gone
e2e_key ctrl+s
e2e_check "the label is saved at the map point (1200, 800)" \
  e2e_wait 30 label_saved_at $((4 * POINTER_X)) $((4 * POINTER_Y))

e2e_key alt+x
e2e_check "Alt+X ends the program with code 0" e2e_wait_exit 60
e2e_check "exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_finish
