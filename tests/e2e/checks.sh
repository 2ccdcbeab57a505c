# Facts about Terrava's main window, read from xwininfo and screenshots. Sourced after lib.sh.
#
# The window's own X geometry (frame included) locates everything: in Wine's virtual desktop the
# frame is 4 pixels, the caption about 19 and the menu bar about 19, so the client area starts
# near 42 pixels below the window's top edge and 4 inside its left edge. The regions below keep
# a margin from those estimates so that a theme's few pixels either way do not matter:
#   text band   - 320 x 54 pixels centred horizontally, from 26 to 80 below the window's top:
#                 below the caption, level with the menu bar's empty middle and the first line
#                 of the client area, where "No tileset loaded" is drawn
#   client body - from 90 below the top to 40 above the bottom, 20 inside the left edge to 40
#                 inside the right edge: clear of the text line and of both scroll bars
#   right bar   - the 17-pixel vertical scroll bar inside the right frame edge

WINDOW_COLOUR=255,255,255

# Sets WX WY WW WH from the main window's geometry.
window_geometry() {
  geo=$(e2e_window_geometry) || return 1
  set -- $geo
  WX=$1 WY=$2 WW=$3 WH=$4
}

window_is_normal() {
  window_geometry && [ "$WX $WY $WW $WH" = "0 0 $E2E_SCREEN_W $E2E_SCREEN_H" ]
}

# Maximised, the frame lies outside the screen: the window starts left of and above the origin
# and reaches past the right edge, while the client area fills the width.
window_is_maximised() {
  window_geometry && [ "$WX" -lt 0 ] && [ "$WY" -lt 0 ] && [ $((WX + WW)) -gt "$E2E_SCREEN_W" ]
}

# Dark pixels in the text band of a fresh screenshot (or of $1).
text_band_dark() {
  window_geometry || return 1
  shot=${1:-$(e2e_screenshot band)} || return 1
  e2e_pixels dark "$shot" $((WX + WW / 2 - 160)) $((WY + 26)) 320 54 128
}

text_band_has_text() {
  n=$(text_band_dark "$@") && [ "$n" -ge 20 ]
}

text_band_blank() {
  n=$(text_band_dark "$@") && [ "$n" -eq 0 ]
}

client_body_is_blank() {
  window_geometry || return 1
  n=$(e2e_pixels differ "$1" $((WX + 20)) $((WY + 90)) $((WW - 60)) $((WH - 130)) "$WINDOW_COLOUR" 0) &&
    [ "$n" -eq 0 ]
}

# An enabled vertical scroll bar shows black arrow glyphs; a disabled one grey glyphs, and a
# hidden one none. Counts pixels darker than the disabled grey in the bar's strip.
scroll_bar_enabled() {
  window_geometry || return 1
  shot=${1:-$(e2e_screenshot bar)} || return 1
  n=$(e2e_pixels dark "$shot" $((WX + WW - 21)) $((WY + 26)) 17 $((WH - 30)) 80) && [ "$n" -ge 8 ]
}

# Loaded: the "No tileset loaded" line is gone and the scroll bars work (the test tilesets are
# larger than the screen), judged on one screenshot.
shows_loaded_tileset() {
  shot=$(e2e_screenshot loaded) || return 1
  text_band_blank "$shot" && scroll_bar_enabled "$shot"
}

# pane_text LEFT WIDTH - the text of the status pane at screen x LEFT (its X window name).
# The panes are owned pop-ups along the top edge of the screen: the tile name at W - 400
# (150 wide), the world x at W - 250 and the world y at W - 200 (50 wide each).
pane_text() {
  xwininfo -root -tree 2>/dev/null | awk -v geo="${2}x" -v pos="+$1+0" '
    index($0, pos "  " pos) && index($0, geo) {
      s = $0
      sub(/^[^"]*"/, "", s)
      sub(/": \(.*$/, "", s)
      print s
      exit
    }'
}

tile_pane_text() {
  pane_text $((E2E_SCREEN_W - 400)) 150
}

x_pane_text() {
  pane_text $((E2E_SCREEN_W - 250)) 50
}

# x_pane_between LOW HIGH - the world-x pane shows a number from LOW to HIGH.
x_pane_between() {
  v=$(x_pane_text) || return 1
  v=${v% }
  case $v in '' | *[!0-9-]*) return 1 ;; esac
  [ "$v" -ge "$1" ] && [ "$v" -le "$2" ]
}
