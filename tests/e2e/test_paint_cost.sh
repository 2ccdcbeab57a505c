#!/bin/sh
# What a repaint costs, in CPU time of the viewer's process (not wall time: the machine is
# shared, and the 32-bit viewer may run under emulation). Each figure is the CPU used from an
# idle viewer through a row of arrow presses until it is idle again.
#   labels     - 10,000 labels on a 100 x 100 grid over a 25600-pixel map: presses with the
#                labels shown cost at most twice those with them hidden (plus a fifth of a
#                second), as only the few labels near the view are drawn
#   tiny tiles - tilesets of 1- and 2-pixel tiles: a press costs at most a second, where
#                painting every cell of the screen one by one took minutes
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

PRESSES=10
TICKS=$(getconf CLK_TCK)

e2e_begin paint_cost

# cpu_ticks - user + system CPU of the viewer's process so far, in clock ticks.
cpu_ticks() {
  t=$(sed 's/^.*) //' "/proc/$E2E_APP_PID/stat" 2>/dev/null | awk '{ print $12 + $13 }')
  e2e_is_count "$t" && echo "$t"
}

# idle - the viewer used at most 2 ticks in the last second.
idle() {
  a=$(cpu_ticks) || return 1
  sleep 1
  b=$(cpu_ticks) || return 1
  [ $((b - a)) -le 2 ]
}

# presses_cost KEY - CPU ticks of PRESSES presses of KEY, from idle to idle; in COST.
presses_cost() {
  COST=""
  e2e_wait 300 idle || { e2e_log "the viewer is not idle before $1"; return 1; }
  before=$(cpu_ticks) || return 1
  i=0
  while [ $i -lt $PRESSES ]; do e2e_key "$1"; i=$((i + 1)); done
  e2e_wait 300 idle || { e2e_log "the viewer is not idle after $1"; return 1; }
  after=$(cpu_ticks) || return 1
  COST=$((after - before))
  e2e_log "$PRESSES x $1: $COST ticks of $TICKS per second"
}

quit_app() {
  e2e_key alt+x
  e2e_check "$1: Alt+X ends the program" e2e_wait_exit 120
}

labels_drawn_now() {
  shot=$(e2e_screenshot labels) || return 1
  ! client_body_is_blank "$shot"
}

labels_hidden_now() {
  shot=$(e2e_screenshot hidden) || return 1
  client_body_is_blank "$shot"
}

# --- labels ------------------------------------------------------------------------------
tvt=$E2E_OUT/labels.tvt
e2e_write_tileset "$tvt" 100 100 "$E2E_OUT/no tiles" MaxCache=10
awk 'BEGIN {
  printf "LabelCount=10000\r\n"
  for (i = 0; i < 10000; i++) {
    n = i + 1
    printf "Label%dX=%d\r\nLabel%dY=%d\r\nLabel%dLen=9\r\nLabel%dText=L%03d-%03d\r\n",
      n, 128 + 256 * (i % 100), n, 128 + 256 * int(i / 100), n, n, i % 100, int(i / 100)
  }
}' >>"$tvt"

e2e_start_app "-O$(e2e_winpath "$tvt")"
e2e_wait_window 120 || e2e_die "no window titled Terrava"
e2e_check "the labels are drawn" e2e_wait 120 labels_drawn_now
presses_cost Right && shown=$COST
e2e_key l
e2e_check "L hides them" e2e_wait 60 labels_hidden_now
presses_cost Left && hidden=$COST
e2e_check "labels shown cost at most twice hidden ($PRESSES presses: ${shown:-?} ticks shown, ${hidden:-?} hidden)" \
  test -n "$shown" -a -n "$hidden" -a "${shown:-0}" -le $((2 * ${hidden:-0} + TICKS / 5))
quit_app labels

# --- tiny tiles --------------------------------------------------------------------------
convert -size 1x1 "xc:#5a7a9a" "$E2E_OUT/one.jpg" || e2e_die "convert cannot make a tile"
BOUND=$((PRESSES * TICKS))   # a second of CPU per press at most
while read -r name size columns rows; do
  dir=$E2E_OUT/$name
  mkdir -p "$dir/tiles/000"
  cp "$E2E_OUT/one.jpg" "$dir/tiles/000/000.jpg"
  {
    printf '[Terrava 1.0]\nTileSizeX=%s\nTileSizeY=%s\nTileCountX=%s\nTileCountY=%s\n' "$size" "$size" "$columns" "$rows"
    printf 'TileDir=tiles\n'
  } | sed 's/$/\r/' >"$dir/tiny.tvt"
  e2e_start_app "-O$(e2e_winpath "$dir/tiny.tvt")"
  e2e_wait_window 120 || e2e_die "$name: no window titled Terrava"
  presses_cost Right
  e2e_check "$name: $PRESSES presses cost ${COST:-?} ticks, at most $BOUND" \
    test -n "$COST" -a "${COST:-0}" -le "$BOUND"
  quit_app "$name"
done <<EOF
one-pixel-tile 1 1 1
pixel-mosaic 1 3000 3000
two-pixel-tiles 2 40 40
EOF
e2e_finish
