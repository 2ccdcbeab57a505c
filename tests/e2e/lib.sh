# Helpers for running terrava.exe end to end under Wine on a private Xvfb display.
# POSIX sh, sourced by tests/e2e/test_*.sh and scripts/run:
#
#   E2E_EXE=/path/to/build/win32/terrava.exe
#   . tests/e2e/lib.sh
#   e2e_begin NAME        # trap, private display, private WINEPREFIX, persistent wineserver
#   e2e_start_app ARGS... # wine terrava.exe ARGS..., pid in E2E_APP_PID
#   e2e_wait_window       # the visible X window titled "Terrava", id in E2E_WIN
#   e2e_client_area       # its client area's exact place (needs E2E_PROBE, the window probe)
#   ...
#   e2e_finish            # prints "N passed, N failed", exits 0 only if nothing failed
#
# Layout under the build tree (the directory that holds terrava.exe):
#   e2e/template      one initialised Wine prefix, built once per Wine version
#   e2e/prefix-NAME   the prefix of one run, rebuilt from the template every time
#   e2e/out/NAME      logs and screenshots of the last run of NAME
#
# Wine runs the app as a process of its own: `wine terrava.exe` exits with terrava's exit code,
# so the app's pid and exit status are ours. Windows get frames from a Wine virtual desktop of
# the size of the X screen, configured in the prefix's registry (Explorer\Desktop=Default),
# which keeps `wine terrava.exe` in the foreground instead of wrapping it in explorer.exe.
#
# Every process started here is recorded and ended by pid in e2e_cleanup (the app, Xvfb); the
# prefix's wineserver is ended with `wineserver -k`, and any leftover process whose environment
# names our private prefix (explorer, services, ...) is ended by pid too.
#
# On kernels without 32-bit support Wine's i386 loader runs through qemu-i386 (binfmt_misc),
# which e2e_ensure_i386 registers when needed; qemu 8.1 or later keeps Wine's start quick.

E2E_SCREEN_W=1280
E2E_SCREEN_H=800
E2E_LIB_DIR=${E2E_LIB_DIR:-$(cd "$(dirname "$0")" && pwd)}
E2E_PASSED=0
E2E_FAILED=0
E2E_PIDS=""
E2E_APP_PID=""
E2E_APP_STATUS=""
E2E_XVFB_PID=""
E2E_WIN=""
# ImageMagick's own tools, ahead of any wrapper of the same name earlier on PATH.
E2E_CONVERT=convert
[ -x /usr/bin/convert ] && E2E_CONVERT=/usr/bin/convert
E2E_IMPORT=import
[ -x /usr/bin/import ] && E2E_IMPORT=/usr/bin/import

# Only prefixes made here are ever used, and only those are cleaned up.
unset WINEPREFIX
E2E_PREFIX=""

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win32

e2e_log() {
  line=$(printf '%s [%s] %s' "$(date +%H:%M:%S)" "${E2E_NAME:-e2e}" "$*")
  printf '%s\n' "$line" >&2
  [ -d "${E2E_OUT:-}" ] && printf '%s\n' "$line" >>"$E2E_OUT/test.log"
  return 0
}

e2e_die() {
  e2e_log "ERROR: $*"
  E2E_FAILED=$((E2E_FAILED + 1))
  exit 1
}

# e2e_check DESCRIPTION COMMAND... - one checked fact; counts a pass or a failure and goes on.
e2e_check() {
  desc=$1
  shift
  if "$@"; then
    E2E_PASSED=$((E2E_PASSED + 1))
    e2e_log "ok: $desc"
  else
    E2E_FAILED=$((E2E_FAILED + 1))
    e2e_log "FAILED: $desc"
  fi
}

# A run that checked nothing has not passed.
e2e_finish() {
  [ "$E2E_PASSED" -gt 0 ] || { e2e_log "FAILED: no check was made"; E2E_FAILED=$((E2E_FAILED + 1)); }
  e2e_log "$E2E_PASSED passed, $E2E_FAILED failed"
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" -eq 0 ]
}

# e2e_ints COUNT VALUE - VALUE is exactly COUNT whole numbers (a leading minus allowed),
# separated by single spaces. Every number a check reads from a tool goes through this or
# e2e_is_count first: an empty or garbled answer must fail the check, never compare as text.
e2e_ints() {
  e2e_n=0
  for e2e_v in $2; do
    case ${e2e_v#-} in '' | *[!0-9]*) return 1 ;; esac
    e2e_n=$((e2e_n + 1))
  done
  [ "$e2e_n" -eq "$1" ] && [ "$(printf '%s' "$2" | wc -l)" -eq 0 ]
}

# e2e_is_count VALUE - VALUE is one whole number, zero or more.
e2e_is_count() {
  case $1 in '' | *[!0-9]*) return 1 ;; esac
}

# e2e_wait SECONDS COMMAND... - polls COMMAND every 0.2 s until it succeeds; 1 on time-out.
e2e_wait() {
  limit=$1
  shift
  deadline=$(($(date +%s) + limit))
  while :; do
    if "$@"; then return 0; fi
    [ "$(date +%s)" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# e2e_winpath PATH - the path as Wine's programs see it: Z: is the Unix root.
e2e_winpath() {
  abs=$(realpath -m "$1")
  printf 'Z:%s\n' "$abs" | sed 's,/,\\,g'
}

# e2e_write_tileset FILE COLUMNS ROWS TILE_DIR [LINE...] - a tileset file of 256-px tiles in
# TILE_DIR (a Linux path), with any further key lines, in CRLF lines as Windows writes them.
e2e_write_tileset() {
  file=$1 columns=$2 rows=$3 tile_dir=$4
  shift 4
  mkdir -p "$(dirname "$file")"
  {
    echo "[Terrava 1.0]"
    echo "TileSizeX=256"
    echo "TileSizeY=256"
    echo "TileCountX=$columns"
    echo "TileCountY=$rows"
    printf 'TileDir=%s\n' "$(e2e_winpath "$tile_dir")"
    for line in "$@"; do printf '%s\n' "$line"; done
  } | sed 's/$/\r/' >"$file"
}

# Wine's 32-bit loader is an i386 Linux program. Where the kernel runs no 32-bit code it goes
# through qemu's user-mode emulation (binfmt_misc); register that when it is missing and we may.
# qemu before 8.1 tracks guest pages one by one, and Wine's start-up, which probes the whole
# 32-bit address space, then takes minutes instead of seconds.
e2e_check_qemu() {
  v=$("$1" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\.\([0-9]*\).*/\1 \2/p')
  set -- "$1" $v
  [ "${2:-0}" -gt 8 ] || { [ "${2:-0}" -eq 8 ] && [ "${3:-0}" -ge 1 ]; } ||
    e2e_log "warning: $1 is older than 8.1; Wine will start very slowly"
}

e2e_ensure_i386() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    q=$(sed -n 's/^interpreter //p' /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null)
    [ -n "$q" ] && e2e_check_qemu "$q"
    return 0
  fi
  qemu=""
  for q in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
    [ -x "$q" ] && qemu=$q && break
  done
  [ -n "$qemu" ] && e2e_check_qemu "$qemu"
  [ -n "$qemu" ] && [ "$(id -u)" = 0 ] || e2e_die "32-bit programs do not run here and qemu-i386 is not installed"
  [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    e2e_die "cannot mount binfmt_misc"
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386
  printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
    >/proc/sys/fs/binfmt_misc/register || e2e_die "cannot register $qemu for i386 programs"
  /usr/lib/wine/wine --version >/dev/null 2>&1 || e2e_die "wine does not start even through $qemu"
  e2e_log "i386 programs now run through $qemu"
}

# --- processes ---------------------------------------------------------------------------

# e2e_stop_pid PID - TERM, then KILL after 5 s.
e2e_stop_pid() {
  kill -0 "$1" 2>/dev/null || return 0
  kill -TERM "$1" 2>/dev/null
  n=0
  while kill -0 "$1" 2>/dev/null && [ $n -lt 25 ]; do
    sleep 0.2
    n=$((n + 1))
  done
  kill -KILL "$1" 2>/dev/null
  return 0
}

# Pids of the processes whose environment names our prefix (Wine's own children: services,
# explorer, winedevice, ...). They exist only because this run started Wine in that prefix.
e2e_prefix_pids() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  for env in /proc/[0-9]*/environ; do
    pid=${env#/proc/}
    pid=${pid%/environ}
    [ "$pid" = "$$" ] && continue
    if tr '\0' '\n' 2>/dev/null <"$env" | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
    fi
  done
}

e2e_cleanup() {
  status=$?
  trap - EXIT INT TERM HUP
  [ -n "$E2E_APP_PID" ] && e2e_stop_pid "$E2E_APP_PID"
  # Interrupted while making the template: its Wine processes are ours too.
  [ -f "$E2E_OUT/making-template" ] && [ -z "$E2E_PREFIX" ] && E2E_PREFIX=$E2E_WORK/template.new
  if [ -n "$E2E_PREFIX" ] && [ -d "$E2E_PREFIX" ]; then
    export WINEPREFIX="$E2E_PREFIX"
    timeout 20 wineserver -k >/dev/null 2>&1
    for pid in $(e2e_prefix_pids); do e2e_stop_pid "$pid"; done
  fi
  for pid in $E2E_PIDS; do e2e_stop_pid "$pid"; done
  for pid in $E2E_PIDS $E2E_APP_PID; do wait "$pid" 2>/dev/null; done
  [ -n "$E2E_XVFB_PID" ] && { e2e_stop_pid "$E2E_XVFB_PID"; wait "$E2E_XVFB_PID" 2>/dev/null; }
  [ "$E2E_FAILED" -gt 0 ] && [ "$status" -eq 0 ] && status=1
  exit "$status"
}

# --- X display ---------------------------------------------------------------------------

e2e_display_free() {
  [ ! -e "/tmp/.X11-unix/X$1" ] && [ ! -e "/tmp/.X$1-lock" ]
}

# Ready when our server holds the display's lock file and answers.
e2e_display_ready() {
  kill -0 "$E2E_XVFB_PID" 2>/dev/null &&
    [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$1-lock")" = "$E2E_XVFB_PID" ] &&
    xdpyinfo -display ":$1" >/dev/null 2>&1
}

# Starts Xvfb on the first free display from :90 (or from $TERRAVA_DISPLAY_FIRST) up and waits
# until it answers. Runs that start at the same moment take turns through a lock file, and a
# display is ours only while its lock file names our server.
e2e_start_xvfb() {
  exec 8>/tmp/.terrava-e2e-display.lock
  flock 8
  n=${TERRAVA_DISPLAY_FIRST:-90}
  while [ $n -lt $((${TERRAVA_DISPLAY_FIRST:-90} + 100)) ]; do
    if e2e_display_free $n; then
      Xvfb ":$n" -screen 0 "${E2E_SCREEN_W}x${E2E_SCREEN_H}x24" -nolisten tcp -noreset \
        >"$E2E_OUT/xvfb.log" 2>&1 8>&- &
      E2E_XVFB_PID=$!
      if e2e_wait 30 e2e_display_ready $n; then
        flock -u 8
        exec 8>&-
        export DISPLAY=":$n"
        e2e_log "Xvfb on $DISPLAY (pid $E2E_XVFB_PID)"
        return 0
      fi
      e2e_stop_pid "$E2E_XVFB_PID"
      wait "$E2E_XVFB_PID" 2>/dev/null
      E2E_XVFB_PID=""
    fi
    n=$((n + 1))
  done
  flock -u 8
  exec 8>&-
  e2e_die "no X display could be started"
}

# --- Wine prefix -------------------------------------------------------------------------

e2e_wine_stamp() {
  printf '%s win32 desktop=%sx%s fonts=%s v2\n' "$(wine --version 2>/dev/null)" "$E2E_SCREEN_W" "$E2E_SCREEN_H" \
    "$(ls "$E2E_WINE_FONTS" 2>/dev/null | wc -l)"
}

# Wine's own fonts (package fonts-wine): Marlett draws the caption buttons, and without it they
# show as the letters "0 1 r". Debian's Wine does not find its font directory by itself, so the
# template's Fonts folder links to each file.
E2E_WINE_FONTS=${E2E_WINE_FONTS:-/usr/share/wine/fonts}
e2e_link_wine_fonts() {
  [ -f "$E2E_WINE_FONTS/marlett.ttf" ] ||
    { e2e_log "warning: no $E2E_WINE_FONTS/marlett.ttf (fonts-wine): caption buttons show letters"; return 0; }
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts" &&
    for f in "$E2E_WINE_FONTS"/*; do ln -sf "$f" "$WINEPREFIX/drive_c/windows/Fonts/"; done
}

# Builds e2e/template once: wineboot, then the virtual desktop in the registry. Serialised
# between concurrent runs by a lock file; needs DISPLAY.
e2e_make_template() {
  tpl=$E2E_WORK/template
  stamp=$(e2e_wine_stamp)
  (
    flock 9
    if [ -f "$tpl/.e2e-stamp" ] && [ "$(cat "$tpl/.e2e-stamp")" = "$stamp" ]; then
      exit 0
    fi
    e2e_log "initialising the Wine template prefix (once per Wine version)"
    rm -rf "$tpl" "$tpl.new"
    export WINEPREFIX="$tpl.new"
    touch "$E2E_OUT/making-template"
    # Wine's processes do not inherit the lock (9>&-): the wineserver outlives each command,
    # and the lock must end with this subshell.
    timeout 600 wine wineboot -i >"$E2E_OUT/wineboot.log" 2>&1 9>&-
    timeout 120 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
      >>"$E2E_OUT/wineboot.log" 2>&1 9>&- || exit 1
    timeout 120 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
      /d "${E2E_SCREEN_W}x${E2E_SCREEN_H}" /f >>"$E2E_OUT/wineboot.log" 2>&1 9>&- || exit 1
    e2e_link_wine_fonts || exit 1
    timeout 60 wineserver -k >/dev/null 2>&1 9>&-
    timeout 60 wineserver -w >/dev/null 2>&1 9>&-
    for pid in $(e2e_prefix_pids); do e2e_stop_pid "$pid"; done
    grep -q '"Desktop"="Default"' "$WINEPREFIX/user.reg" || exit 1
    echo "$stamp" >"$WINEPREFIX/.e2e-stamp"
    mv "$WINEPREFIX" "$tpl"
    rm -f "$E2E_OUT/making-template"
  ) 9>"$E2E_WORK/template.lock" || e2e_die "could not initialise the Wine template prefix (see $E2E_OUT/wineboot.log)"
}

# A fresh prefix for this run: a copy of the template whose large DLL directories are hard
# links (Wine only reads them), everything else copied.
e2e_make_prefix() {
  tpl=$E2E_WORK/template
  p=$E2E_WORK/prefix-$E2E_NAME
  rm -rf "$p"
  mkdir -p "$p/drive_c/windows"
  for f in "$tpl"/* "$tpl"/.update-timestamp "$tpl"/.e2e-stamp; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    [ "$(basename "$f")" = drive_c ] && continue
    cp -a "$f" "$p/"
  done
  for f in "$tpl"/drive_c/*; do
    [ "$(basename "$f")" = windows ] && continue
    cp -a "$f" "$p/drive_c/"
  done
  for f in "$tpl"/drive_c/windows/*; do
    case $(basename "$f") in
    system32 | syswow64) cp -al "$f" "$p/drive_c/windows/" ;;
    *) cp -a "$f" "$p/drive_c/windows/" ;;
    esac
  done
  export WINEPREFIX="$p"
  E2E_PREFIX=$p
}

# Switches the run's prefix from the virtual desktop to plain windows on the X display.
e2e_no_virtual_desktop() {
  sed -i '/^"Desktop"="Default"$/d' "$WINEPREFIX/user.reg"
}

e2e_start_wineserver() {
  wineserver -p >"$E2E_OUT/wineserver.log" 2>&1 || e2e_die "wineserver did not start"
}

# e2e_begin NAME - everything a run needs; installs the cleanup trap first.
e2e_begin() {
  E2E_NAME=$1
  [ -n "${E2E_EXE:-}" ] && [ -f "$E2E_EXE" ] || e2e_die "no program to run: '${E2E_EXE:-}'"
  E2E_EXE=$(realpath "$E2E_EXE")
  E2E_WORK=${E2E_WORK:-$(dirname "$E2E_EXE")/e2e}
  E2E_OUT=$E2E_WORK/out/$E2E_NAME
  rm -rf "$E2E_OUT"
  mkdir -p "$E2E_OUT"
  trap e2e_cleanup EXIT
  trap 'exit 130' INT TERM HUP
  e2e_ensure_i386
  if [ "${E2E_USE_DISPLAY:-0}" = 1 ]; then
    e2e_log "using the display $DISPLAY"
  else
    e2e_start_xvfb
  fi
  e2e_make_template
  e2e_make_prefix
  [ "${E2E_USE_DISPLAY:-0}" = 1 ] && e2e_no_virtual_desktop
  e2e_start_wineserver
}

# --- the app -----------------------------------------------------------------------------

# e2e_start_app ARGS... - `wine terrava.exe ARGS...` in the background. Wine joins the
# arguments into the Windows command line and puts double quotes around any that contains a
# space, so an argument "Z:\a b\c.tvt" arrives as the quoted path "Z:\a b\c.tvt".
e2e_start_app() {
  E2E_APP_STATUS=""
  E2E_WIN=""
  wine "$E2E_EXE" "$@" >>"$E2E_OUT/app.log" 2>&1 &
  E2E_APP_PID=$!
  e2e_log "started terrava.exe $* (pid $E2E_APP_PID)"
}

# e2e_start_app_cmdline TAIL - runs terrava.exe with exactly TAIL as its command-line tail
# (quotes and all) from a batch file; `cmd /c` waits for the program and exits with its code.
e2e_start_app_cmdline() {
  E2E_APP_STATUS=""
  E2E_WIN=""
  bat=$E2E_OUT/start.bat
  printf '@"%s" %s\r\n@exit /b %%errorlevel%%\r\n' "$(e2e_winpath "$E2E_EXE")" "$1" >"$bat"
  wine cmd /c "$(e2e_winpath "$bat")" >>"$E2E_OUT/app.log" 2>&1 &
  E2E_APP_PID=$!
  e2e_log "started terrava.exe $1 through cmd (pid $E2E_APP_PID)"
}

e2e_find_window() {
  E2E_WIN=$(xdotool search --onlyvisible --name '^Terrava$' 2>/dev/null | head -n 1)
  [ -n "$E2E_WIN" ]
}

# e2e_wait_window [SECONDS] - waits for the visible main window; its X id in E2E_WIN.
e2e_wait_window() {
  e2e_wait "${1:-60}" e2e_find_window
}

# e2e_window_geometry - "X Y WIDTH HEIGHT" of the main window (frame included) on the screen.
e2e_window_geometry() {
  e2e_geo=$(xwininfo -id "$E2E_WIN" 2>/dev/null | awk '
    /Absolute upper-left X:/ { x = $NF }
    /Absolute upper-left Y:/ { y = $NF }
    /Width:/ { w = $NF }
    /Height:/ { h = $NF }
    END { print x, y, w, h }')
  e2e_ints 4 "$e2e_geo" || { e2e_log "xwininfo gave no geometry for window '$E2E_WIN' ('$e2e_geo')"; return 1; }
  echo "$e2e_geo"
}

# e2e_client_area - sets CX CY CW CH to the main window's client area on the screen (origin,
# width, height; scroll bars excluded), as the window probe reads it through Win32. The probe's
# window rectangle must match the X window's geometry, which proves Windows' screen
# coordinates are the X screen's.
e2e_client_area() {
  [ -n "${E2E_PROBE:-}" ] && [ -f "$E2E_PROBE" ] || { e2e_log "no window probe: '${E2E_PROBE:-}'"; return 1; }
  e2e_probe=$(timeout 120 wine "$E2E_PROBE" 2>>"$E2E_OUT/app.log") ||
    { e2e_log "the window probe failed ('$e2e_probe')"; return 1; }
  e2e_probe=$(printf '%s' "$e2e_probe" | tr -d '\r')
  e2e_xgeo=$(e2e_window_geometry) || return 1
  set -- $e2e_probe
  [ $# -eq 10 ] && [ "$1" = window ] && [ "$6" = client ] && e2e_ints 8 "$2 $3 $4 $5 $7 $8 $9 ${10}" ||
    { e2e_log "the window probe printed '$e2e_probe'"; return 1; }
  [ "$2 $3 $(($4 - $2)) $(($5 - $3))" = "$e2e_xgeo" ] ||
    { e2e_log "the window is at '$e2e_xgeo' for X but at '$2 $3 $4 $5' for Windows"; return 1; }
  CX=$7 CY=$8 CW=$9 CH=${10}
  [ "$CW" -gt 0 ] && [ "$CH" -gt 0 ] || { e2e_log "empty client area: '$e2e_probe'"; return 1; }
  e2e_log "client area ${CW}x${CH} at ($CX, $CY)"
}

e2e_has_focus() {
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$E2E_WIN" ]
}

# e2e_focus - makes sure the X keyboard focus is on the main window, clicking its caption (at
# the middle, clear of the title and the status panes) if Wine has not given it the focus.
e2e_focus() {
  e2e_has_focus && return 0
  e2e_wait 5 e2e_has_focus && return 0
  e2e_geo=$(e2e_window_geometry) || return 1
  set -- $e2e_geo
  xdotool mousemove $(($1 + $3 / 2)) $(($2 + 12)) click 1
  e2e_wait 60 e2e_has_focus
}

# e2e_key KEYS... - xdotool key names (alt+x, Right, ...) typed into the main window. The keys
# go through the XTEST extension, so the X server's own keyboard state follows them and Wine,
# which re-reads that state whenever the focus changes, sees the modifiers held down.
e2e_key() {
  e2e_focus || e2e_log "warning: the main window does not have the keyboard focus"
  xdotool key "$@"
}

e2e_app_running() {
  kill -0 "$E2E_APP_PID" 2>/dev/null
}

e2e_app_gone() {
  ! e2e_app_running
}

# e2e_wait_exit [SECONDS] - waits for the app to end; its exit code in E2E_APP_STATUS.
e2e_wait_exit() {
  if e2e_wait "${1:-30}" e2e_app_gone; then
    wait "$E2E_APP_PID"
    E2E_APP_STATUS=$?
    E2E_APP_PID=""
    return 0
  fi
  return 1
}

# --- screenshots and pixels --------------------------------------------------------------

# e2e_screenshot NAME - the whole screen to $E2E_OUT/NAME.png; prints the path.
e2e_screenshot() {
  f=$E2E_OUT/$1.png
  "$E2E_IMPORT" -display "$DISPLAY" -window root "$f" 2>>"$E2E_OUT/import.log" || return 1
  echo "$f"
}

# e2e_pixels SUBCOMMAND ARGS... - pixels.py's dark or differ count (see pixels.py); fails when
# pixels.py fails or answers anything but one count.
e2e_pixels() {
  e2e_px=$(python3 "$E2E_LIB_DIR/pixels.py" "$@" 2>>"$E2E_OUT/pixels.log") ||
    { e2e_log "pixels.py $1 failed (see $E2E_OUT/pixels.log)"; return 1; }
  e2e_is_count "$e2e_px" || { e2e_log "pixels.py $1 answered '$e2e_px', not a count"; return 1; }
  echo "$e2e_px"
}
