#!/bin/sh
# Tiles decoded and drawn: the demo earth map (8 x 4 JPEG tiles of 256 pixels, made by
# scripts/make-demo-tileset) opened with -O. At the start the view is at the world origin, so
# the client area's top-left pixel shows world (0, 0), and every client pixel must show the
# world pixel at exactly its place: each tile file decoded by the reference decoder of the
# native tests is the reference, to the bit (BOUND 0). Then three presses of the
# Right arrow (10 pixels each) move the whole picture 30 pixels to the left, and quick drags
# with the left button, each of ten hand moves 20 or 30 ms apart, move it by exactly the ten
# moves' sum, to the pixel, there and back, three times over.
# The map's coast lines, ice and colours make a picture drawn a pixel off, or with red and
# blue swapped, differ from the reference in a large share of the pixels; the run checks that
# share too, so the comparison keeps its power if the tiles change.
E2E_EXE=$1
E2E_PROBE=$2
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

COLUMNS=8 ROWS=4 TILE=256
# The viewer's pixels equal the reference decoding exactly.
BOUND=0
# Share (in percent) of the compared pixels that a one-pixel shift or swapped red and blue
# must put beyond BOUND.
MIN_TELLING_PERCENT=10

e2e_begin tiles
demo=$E2E_WORK/demo
"$E2E_LIB_DIR/../../scripts/make-demo-tileset" "$demo" >/dev/null || e2e_die "could not make the demo tileset"
tvt=$E2E_OUT/earth.tvt
e2e_write_tileset "$tvt" $COLUMNS $ROWS "$demo/tiles" MaxCache=50

# tiles_match VX VY - the client area shows the world from (VX, VY), every pixel in its place.
# Leaves the measurement in COMPARED OFF WORST SHIFTED_X SHIFTED_Y SWAPPED (see pixels.py).
# The client area is measured again each time: at the start the window may show before the
# tileset's load has given it its scroll bars.
tiles_match() {
  e2e_client_area || return 1
  shot=$(e2e_screenshot "view-$1-$2") || return 1
  result=$(python3 "$E2E_LIB_DIR/pixels.py" tiles "$shot" "$CX" "$CY" "$CW" "$CH" "$1" "$2" \
    "$demo/tiles" $COLUMNS $ROWS $TILE $BOUND 2>>"$E2E_OUT/pixels.log") ||
    { e2e_log "pixels.py tiles failed (see $E2E_OUT/pixels.log)"; return 1; }
  e2e_ints 6 "$result" || { e2e_log "pixels.py tiles answered '$result'"; return 1; }
  set -- "$1" "$2" $result
  COMPARED=$3 OFF=$4 WORST=$5 SHIFTED_X=$6 SHIFTED_Y=$7 SWAPPED=$8
  visible_w=$((COLUMNS * TILE - $1)) visible_h=$((ROWS * TILE - $2))
  [ $visible_w -gt "$CW" ] && visible_w=$CW
  [ $visible_h -gt "$CH" ] && visible_h=$CH
  [ "$COMPARED" -eq $((visible_w * visible_h)) ] ||
    { e2e_log "compared $COMPARED pixels, expected ${visible_w}x${visible_h}"; return 1; }
  e2e_log "view ($1, $2): $OFF of $COMPARED pixels off by more than $BOUND (largest difference $WORST)"
  [ "$OFF" -eq 0 ]
}

# The last comparison could tell a shifted or colour-swapped picture from the right one.
tiles_telling() {
  need=$((COMPARED * MIN_TELLING_PERCENT / 100))
  e2e_log "beyond $BOUND if drawn a pixel right: $SHIFTED_X, a pixel down: $SHIFTED_Y," \
    "red and blue swapped: $SWAPPED (at least $need each)"
  [ "$need" -gt 0 ] && [ "$SHIFTED_X" -ge "$need" ] && [ "$SHIFTED_Y" -ge "$need" ] &&
    [ "$SWAPPED" -ge "$need" ]
}

e2e_start_app "-O$(e2e_winpath "$tvt")"
e2e_wait_window 300 || e2e_die "no window titled Terrava"
e2e_client_area || e2e_die "the client area's place is unknown"

e2e_check "every client pixel shows its tile's pixel at its place in the world" e2e_wait 90 tiles_match 0 0
e2e_check "those tiles show a one-pixel shift or swapped red and blue" tiles_telling

e2e_key Right Right Right
e2e_check "three Right presses move the picture 30 pixels to the left" e2e_wait 90 tiles_match 30 0
e2e_check "those tiles show a one-pixel shift or swapped red and blue" tiles_telling

# drag DX DY PAUSE - presses the left button in the middle of the client area, moves the
# hand ten times by (DX, DY) with PAUSE seconds between the moves, and lets go. The press
# comes a moment before the first move, as a hand's does; the drag takes the cursor's place
# at the press as its anchor.
drag() {
  moves=""
  for i in 1 2 3 4 5 6 7 8 9 10; do moves="$moves mousemove_relative -- $1 $2 sleep $3"; done
  xdotool mousemove $((CX + CW / 2)) $((CY + CH / 2)) sleep 0.2 mousedown 1 sleep 0.1 $moves \
    mouseup 1
}

# The drag confines the cursor, which Wine's 32-bit X11 driver can do only through XInput2
# (libXi for i386, installed by scripts/setup). Without it every warp under the virtual
# desktop is reported a second time and a drag goes about twice as far as the hand.
has_i386_libxi() { ldconfig -p | grep -q 'libXi\.so\.6 (libc6)'; }
e2e_check "the i386 libXi that exact drags need is installed (libxi6:i386, from scripts/setup)" has_i386_libxi
for pause in 0.03 0.02 0.025; do
  drag -10 -7 "$pause"
  e2e_check "ten hand moves of (-10, -7), $pause s apart, move the view by (100, 70)" \
    e2e_wait 90 tiles_match 130 70
  drag 10 7 "$pause"
  e2e_check "ten hand moves of (10, 7), $pause s apart, move it back by (-100, -70)" \
    e2e_wait 90 tiles_match 30 0
done

e2e_key alt+x
e2e_check "Alt+X ends the program with code 0" e2e_wait_exit 60
e2e_check "exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_finish
