#!/bin/sh
# A tileset made by terrava-tiles opens in the viewer and shows the picture: a 900 x 650 piece
# of the earth map (not a whole number of 256-pixel tiles, so the last column and row are
# padded) cut with `terrava-tiles make`, passed by `terrava-tiles check`, then opened with -O
# while the viewer runs in another folder (TileDir is relative to the tileset file). Every
# client pixel must equal the reference decoding of its tile, and the padding must be white.
E2E_EXE=$1
E2E_PROBE=$2
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

ROOT=$(cd "$E2E_LIB_DIR/../.." && pwd)
TOOL=${TERRAVA_TILES:-$ROOT/build/native/terrava-tiles}
[ -x "$TOOL" ] || TOOL=$ROOT/build/bench/terrava-tiles
WIDTH=900 HEIGHT=650 TILE=256 COLUMNS=4 ROWS=3

e2e_begin tileset_tool
[ -x "$TOOL" ] || e2e_die "no terrava-tiles in build/native or build/bench (build the native preset)"
"$E2E_CONVERT" /usr/share/xplanet/images/earth.jpg -crop "${WIDTH}x${HEIGHT}+300+100" +repage \
  "$E2E_OUT/piece.png" || e2e_die "could not cut the source picture"
made=$E2E_OUT/made
e2e_check "terrava-tiles make cuts the picture into $COLUMNS x $ROWS tiles" \
  sh -c '"$1" make "$2" "$3" --name map >"$4/make.log" 2>&1' make "$TOOL" "$E2E_OUT/piece.png" "$made" "$E2E_OUT"
e2e_check "terrava-tiles check finds every tile good" \
  sh -c '"$1" check "$2" >"$3/check.log" 2>&1' check "$TOOL" "$made/map.tvt" "$E2E_OUT"

# Compares the client area with the tiles from the world origin (see test_tiles.sh): every
# pixel of the map in view, and none may differ.
tiles_match() {
  shot=$(e2e_screenshot view) || return 1
  result=$(python3 "$E2E_LIB_DIR/pixels.py" tiles "$shot" "$CX" "$CY" "$CW" "$CH" 0 0 \
    "$made/map" $COLUMNS $ROWS $TILE 0 2>>"$E2E_OUT/pixels.log") ||
    { e2e_log "pixels.py tiles failed (see $E2E_OUT/pixels.log)"; return 1; }
  e2e_ints 6 "$result" || { e2e_log "pixels.py tiles answered '$result'"; return 1; }
  set -- $result
  e2e_log "$2 of $1 pixels differ from the tiles' decoding (largest difference $3)"
  # The whole visible part of the map is compared, not merely some of it.
  visible_w=$((COLUMNS * TILE)) visible_h=$((ROWS * TILE))
  [ $visible_w -gt "$CW" ] && visible_w=$CW
  [ $visible_h -gt "$CH" ] && visible_h=$CH
  [ "$1" -eq $((visible_w * visible_h)) ] ||
    { e2e_log "compared $1 pixels, expected ${visible_w}x${visible_h}"; return 1; }
  [ "$2" -eq 0 ]
}

# The padding right of the picture, in the first tile row, from the first 16-pixel block clear
# of the picture (4:2:0 chroma spreads over 16 pixels): white on the screen.
padding_white() {
  shot=$(e2e_screenshot padding) || return 1
  x=$(((WIDTH + 15) / 16 * 16))
  w=$((COLUMNS * TILE - x))
  [ $((x + w)) -le "$CW" ] || { e2e_log "the padding is off the screen"; return 1; }
  off=$(e2e_pixels differ "$shot" $((CX + x)) "$CY" "$w" 200 255,255,255 6) || return 1
  e2e_log "$off of ${w}x200 pixels of the padding are not white"
  [ "$off" -eq 0 ]
}

cd / || e2e_die "cannot leave the build folder"
e2e_start_app "-O$(e2e_winpath "$made/map.tvt")"
e2e_wait_window 300 || e2e_die "no window titled Terrava"
e2e_client_area || e2e_die "the client area's place is unknown"
e2e_check "every client pixel shows its made tile's pixel at its place" e2e_wait 90 tiles_match
e2e_check "the edge tiles are padded with white" padding_white

e2e_key alt+x
e2e_check "Alt+X ends the program with code 0" e2e_wait_exit 60
e2e_finish
