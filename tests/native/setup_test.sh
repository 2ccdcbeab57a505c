#!/bin/sh
# scripts/setup: the backports source line taken from apt source files of either format, and a
# second run on a machine it has set up, which must install nothing: apt-get and
# dpkg --add-architecture are replaced by stand-ins that record the call and fail.
# Usage: setup_test.sh SOURCE_DIR
SETUP=$1/scripts/setup
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
CODENAME=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# case NAME FILE_SUFFIX EXPECTED CONTENT - EXPECTED is the printed line, or "fails".
case_line() {
  file=$WORK/$1.$2
  printf '%s\n' "$4" >"$file"
  if got=$("$SETUP" --backports-line "$file" 2>&1); then :; else got="fails"; fi
  [ "$got" = "$3" ] || fail "$1: expected '$3', got '$got'"
}

case_line deb822 sources "deb [signed-by=/usr/share/keyrings/k.gpg] http://m.example/debian $CODENAME-backports main" \
"Types: deb
URIs: http://security.example/debian-security
Suites: $CODENAME-security
Components: main
Signed-By: /usr/share/keyrings/k.gpg

Types: deb deb-src
URIs: http://m.example/debian http://other.example/debian
Suites: $CODENAME $CODENAME-updates
Components: main
Signed-By: /usr/share/keyrings/k.gpg"

case_line one-line list "deb [arch=amd64] http://m.example/debian $CODENAME-backports main" \
"# deb http://old.example/debian $CODENAME main
deb http://security.example/debian-security $CODENAME-security main
deb [arch=amd64] http://m.example/debian $CODENAME main contrib"

case_line security-only list fails "deb http://security.example/debian-security $CODENAME-security main"

# Second run: nothing to install.
mkdir -p "$WORK/bin"
for tool in apt-get sudo; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\nexit 1\n' "$tool" "$WORK" >"$WORK/bin/$tool"
done
printf '#!/bin/sh\ncase "$1" in --add-architecture) echo "dpkg $*" >>"%s/calls"; exit 1 ;; esac\nexec /usr/bin/dpkg "$@"\n' \
  "$WORK" >"$WORK/bin/dpkg"
chmod +x "$WORK/bin/"*
PATH="$WORK/bin:$PATH" "$SETUP" >"$WORK/out" 2>&1 || fail "a second run exits non-zero: $(cat "$WORK/out")"
[ ! -s "$WORK/calls" ] || fail "a second run wanted to install: $(cat "$WORK/calls")"

[ $failures -eq 0 ] && echo "setup: all checks passed"
[ $failures -eq 0 ]
