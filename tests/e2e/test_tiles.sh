#!/bin/sh
# Tiles decoded and drawn: the demo earth map (8 x 4 JPEG tiles of 256 pixels, made by
# scripts/make-demo-tileset) opened with -O. At the start the view is at the world origin, so
# world (0, 0) is the client area's top-left corner and every fully visible tile must show its
# JPEG file's image there; ImageMagick's decoding of the same file is the reference. Then three
# presses of the Right arrow (10 pixels each) move the whole picture 30 pixels to the left.
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

# Mean absolute difference per channel allowed between the screen and the reference decoder;
# a missing tile (window colour) or a wrong one differs by 40 or more on these tiles.
MAX_ERROR=12

e2e_begin tiles
demo=$E2E_WORK/demo
"$E2E_LIB_DIR/../../scripts/make-demo-tileset" "$demo" >/dev/null || e2e_die "could not make the demo tileset"
tvt=$E2E_OUT/earth.tvt
e2e_write_tileset "$tvt" 8 4 "$demo/tiles" MaxCache=50

tile_file() {
  printf '%s/tiles/%03d/%03d.jpg' "$demo" "$2" "$1"
}

# locate_tile COL ROW X0 Y0 DX DY - finds tile (COL, ROW) on the screen with its top-left
# corner in (X0..X0+DX, Y0..Y0+DY); sets TX TY to where it is. Fails if it is not there.
locate_tile() {
  shot=$(e2e_screenshot tiles) || return 1
  set -- $(e2e_pixels find "$shot" "$(tile_file "$1" "$2")" "$3" "$4" "$5" "$6") || return 1
  TX=$1 TY=$2
  awk -v e="$3" -v m="$MAX_ERROR" 'BEGIN { exit !(e < m) }'
}

# tiles_in_place OX OY - the client origin is at (OX, OY): every tile that is wholly inside the
# client area (within the estimate of checks.sh) matches its file at its place.
tiles_in_place() {
  shot=$(e2e_screenshot grid) || return 1
  bad=0
  for r in 0 1; do
    for c in 0 1 2 3 4; do
      x=$(($1 + 256 * c)) y=$(($2 + 256 * r))
      [ $((x + 256)) -le $((WX + WW - 21)) ] || continue
      set -- "$1" "$2" $(e2e_pixels find "$shot" "$(tile_file $c $r)" $x $y 0 0)
      if ! awk -v e="$5" -v m="$MAX_ERROR" 'BEGIN { exit !(e < m) }'; then
        e2e_log "tile ($c, $r) at ($x, $y) differs from its file by $5"
        bad=1
      fi
    done
  done
  [ $bad = 0 ]
}

e2e_start_app "-O$(e2e_winpath "$tvt")"
e2e_wait_window 120 || e2e_die "no window titled Terrava"
window_geometry || e2e_die "no window geometry"

# Tile (1, 1), open ocean, is unlike the window colour; find the client origin through it.
e2e_check "tile (1, 1) is decoded and drawn below and right of the client origin" \
  e2e_wait 90 locate_tile 1 1 $((WX + 256)) $((WY + 256 + 30)) 10 40
OX=$((TX - 256)) OY=$((TY - 256))
e2e_log "client origin at ($OX, $OY)"
e2e_check "every fully visible tile shows its image at its place" e2e_wait 60 tiles_in_place $OX $OY

e2e_key Right Right Right
e2e_check "three Right presses move the picture 30 pixels to the left" \
  e2e_wait 30 locate_tile 1 1 $((OX + 256 - 30)) $((OY + 256)) 0 0

e2e_key alt+x
e2e_check "Alt+X ends the program with code 0" e2e_wait_exit 60
e2e_check "exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_finish
