#!/bin/sh
# Labels over the map: a tileset of 6 x 4 flat blue-grey JPEG tiles with one label stored at
# world (400, 300), opened with -O. With the view at the world origin the label's text is drawn
# white with a black outline, centred on the label point with its top 9 pixels above it, over
# the decoded tiles. L hides it (the map shows through unchanged) and L again shows it.
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

TILE_COLOUR=90,122,154   # #5a7a9a: darker than the white text, lighter than its outline
TOLERANCE=14              # a flat JPEG tile decodes within a few levels of its colour

e2e_begin labels
tiles=$E2E_OUT/tiles
convert -size 256x256 "xc:#5a7a9a" -quality 92 "$E2E_OUT/tile.jpg" || e2e_die "convert cannot make a tile"
for r in 0 1 2 3; do
  mkdir -p "$tiles/$(printf %03d $r)"
  for c in 0 1 2 3 4 5; do
    cp "$E2E_OUT/tile.jpg" "$tiles/$(printf %03d $r)/$(printf %03d $c).jpg"
  done
done
tvt=$E2E_OUT/labels.tvt
e2e_write_tileset "$tvt" 6 4 "$tiles" MaxCache=50 LabelCount=1 Label1X=400 Label1Y=300 \
  Label1Len=13 "Label1Text=Harbour Light"

# Boxes in screen pixels, from the window geometry and the client origin estimate of
# checks.sh (4 in from the left edge, about 42 below the top):
#   label box - 220 x 60 around the label point (client 400, 300): holds the whole text,
#               whatever the font, with the theme's few pixels either way
#   map box   - 150 x 100 of open map far from the label, for the tiles' arrival
label_box() {
  echo $((WX + 4 + 400 - 110)) $((WY + 42 + 300 - 40)) 220 60
}
map_box() {
  echo $((WX + 4 + 40)) $((WY + 42 + 60)) 150 100
}

# white_in SHOT X Y W H - pixels within 25 levels of white; dark_in - pixels of luma below 40.
white_in() {
  shot=$1
  shift
  off=$(e2e_pixels differ "$shot" "$@" 255,255,255 25) || return 1
  echo $(($3 * $4 - off))
}
dark_in() {
  shot=$1
  shift
  e2e_pixels dark "$shot" "$@" 40
}

tiles_drawn() {
  shot=$(e2e_screenshot map) || return 1
  n=$(e2e_pixels differ "$shot" $(map_box) "$TILE_COLOUR" "$TOLERANCE") && [ "$n" -eq 0 ]
}

# Shown: white text ringed by black in the label box; LABEL_WHITE and LABEL_DARK keep the counts.
label_shown() {
  shot=$(e2e_screenshot label) || return 1
  LABEL_WHITE=$(white_in "$shot" $(label_box)) || return 1
  LABEL_DARK=$(dark_in "$shot" $(label_box)) || return 1
  [ "$LABEL_WHITE" -ge 20 ] && [ "$LABEL_DARK" -ge 20 ]
}

# Hidden: the label box is the plain map.
label_hidden() {
  shot=$(e2e_screenshot hidden) || return 1
  n=$(e2e_pixels differ "$shot" $(label_box) "$TILE_COLOUR" "$TOLERANCE") && [ "$n" -eq 0 ]
}

# The text sits above the point: the strip from 12 to 40 pixels below the label point and the
# strips beyond the text's ends stay plain map.
label_placed() {
  shot=$(e2e_screenshot placed) || return 1
  below=$(e2e_pixels differ "$shot" $((WX + 4 + 300)) $((WY + 42 + 312)) 200 28 "$TILE_COLOUR" "$TOLERANCE") &&
    left=$(e2e_pixels differ "$shot" $((WX + 4 + 200)) $((WY + 42 + 270)) 80 40 "$TILE_COLOUR" "$TOLERANCE") &&
    right=$(e2e_pixels differ "$shot" $((WX + 4 + 520)) $((WY + 42 + 270)) 80 40 "$TILE_COLOUR" "$TOLERANCE") &&
    e2e_log "off-label pixels: below $below, left $left, right $right" &&
    [ "$below" -eq 0 ] && [ "$left" -eq 0 ] && [ "$right" -eq 0 ]
}

e2e_start_app "-O$(e2e_winpath "$tvt")"
e2e_wait_window 300 || e2e_die "no window titled Terrava"
window_geometry || e2e_die "no window geometry"

e2e_check "the tiles are decoded and drawn" e2e_wait 120 tiles_drawn
e2e_check "the label shows as white text with a black outline over the tiles" e2e_wait 60 label_shown
e2e_log "label box: $LABEL_WHITE white and $LABEL_DARK dark pixels"
e2e_check "the label is centred on its point with the text above it" label_placed

e2e_key l
e2e_check "L hides the label and the map shows through" e2e_wait 60 label_hidden
e2e_key l
e2e_check "L again shows the label" e2e_wait 60 label_shown

e2e_key alt+x
e2e_check "Alt+X ends the program with code 0" e2e_wait_exit 30
e2e_check "exit code 0 (was '$E2E_APP_STATUS')" test "$E2E_APP_STATUS" = 0
e2e_finish
