#!/bin/sh
# The installer's round trip, for real under Wine:
# - `terrava-setup.exe /S` installs silently: terrava.exe and README.md in Program Files, a
#   Start-menu entry, and .tvt registered (Terrava.Tileset, opened by terrava.exe "%1", an icon)
# - `wine start /unix FILE.tvt` then opens the tileset in the viewer, through the association
# - the uninstaller, silent too, takes the files, the entry and the association away.
E2E_EXE=$1
E2E_LIB_DIR=$(cd "$(dirname "$0")" && pwd)
. "$E2E_LIB_DIR/lib.sh"
. "$E2E_LIB_DIR/checks.sh"

setup=$(dirname "$E2E_EXE")/package/terrava-setup.exe
e2e_begin installer
[ -f "$setup" ] || e2e_die "no installer at $setup (scripts/package makes it)"

installed="$WINEPREFIX/drive_c/Program Files/Terrava"
start_menu_entry() { find "$WINEPREFIX/drive_c" -name Terrava.lnk 2>/dev/null | grep -q .; }
# reg_value KEY - the default value of the registry key KEY, as `reg query` prints it.
reg_value() { timeout 120 wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
reg_key_absent() { ! timeout 120 wine reg query "$1" >/dev/null 2>&1; }

timeout 300 wine "$setup" /S >>"$E2E_OUT/app.log" 2>&1
e2e_check "the silent install ends with code 0 (was $?)" test $? -eq 0
e2e_check "terrava.exe is installed" cmp -s "$E2E_EXE" "$installed/terrava.exe"
e2e_check "README.md and the uninstaller are installed" test -f "$installed/README.md" -a -f "$installed/uninstall.exe"
e2e_check "the Start menu has an entry" start_menu_entry
type=$(reg_value 'HKCR\.tvt')
e2e_check ".tvt names the type Terrava.Tileset (was '$type')" test "$type" = Terrava.Tileset
command=$(reg_value 'HKCR\Terrava.Tileset\shell\open\command')
e2e_check "a tileset opens with the installed terrava.exe (was '$command')" \
  test "$command" = '"C:\Program Files\Terrava\terrava.exe" "%1"'
icon=$(reg_value 'HKCR\Terrava.Tileset\DefaultIcon')
e2e_check "tilesets show Terrava's icon (was '$icon')" test "$icon" = '"C:\Program Files\Terrava\terrava.exe",0'

tileset="$E2E_OUT/my maps/empty.tvt"
e2e_write_tileset "$tileset" 20 20 "$E2E_OUT/no tiles here"
wine start /unix "$tileset" >>"$E2E_OUT/app.log" 2>&1 &
E2E_PIDS="$E2E_PIDS $!"
e2e_wait_window 120 || e2e_die "wine start FILE.tvt opened no window titled Terrava"
e2e_check "wine start FILE.tvt shows the tileset in the viewer" e2e_wait 90 shows_loaded_tileset
e2e_key alt+x
e2e_check "the viewer ends with Alt+X" e2e_wait 60 sh -c '! xdotool search --onlyvisible --name "^Terrava\$" >/dev/null'

# The uninstaller copies itself to the temporary folder and goes on from there.
timeout 120 wine "$installed/uninstall.exe" /S >>"$E2E_OUT/app.log" 2>&1
e2e_check "the uninstaller removes the program folder" e2e_wait 120 test ! -e "$installed"
e2e_check "and the Start-menu entry" sh -c "! find '$WINEPREFIX/drive_c' -name Terrava.lnk | grep -q ."
e2e_check "and the .tvt association" reg_key_absent 'HKCR\.tvt'
e2e_check "and the Terrava.Tileset type" reg_key_absent 'HKCR\Terrava.Tileset'
e2e_check "and its entry among the installed programs" \
  reg_key_absent 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Terrava'
e2e_finish
