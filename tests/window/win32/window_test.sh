#!/usr/bin/env bash
# Drives level-editor.exe in a real window under Wine and Xvfb with xdotool; pairs with
# app/win32. Registered by this folder's CMakeLists.txt in the Windows build:
#   window_test.sh prefix PREFIX                  makes the Wine prefix that the scenarios share
#   window_test.sh SCENARIO PREFIX EXE WORK_DIR   runs one scenario: change or no-table
# A scenario gets a fresh server folder and a display of its own, saves screenshots under
# WORK_DIR/screenshots, and ends its Wine server and display on exit. Message texts are read
# from Wine's msgbox trace, which logs each box's text as the box opens.
set -euo pipefail

scenario=$1
export WINEPREFIX=$2
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
scripts=$(cd "$(dirname "$0")/../../../scripts" && pwd)
wine_run=$scripts/wine-run.sh
source "$scripts/xvfb.sh"

fail() {
  echo "FAIL ($scenario): $*" >&2
  exit 1
}

if [ "$scenario" = prefix ]; then
  mkdir -p "$WINEPREFIX"
  # The first start of a prefix takes tens of seconds; later ones only check it.
  WINEDEBUG=-all "$wine_run" wineboot --init >/dev/null 2>&1 || fail "wineboot failed"
  # Xvfb runs no window manager, so Wine draws the captions itself: they are then part of
  # the window and can be clicked.
  WINEDEBUG=-all "$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
    >/dev/null 2>&1 || fail "cannot set the X11 driver's Decorated value"
  wineserver -w
  exit 0
fi

exe=$3
work=$4
mkdir -p "$work/screenshots"
run=$(mktemp -d "$work/run-$scenario.XXXXXX")
server=$run/server
xvfb_pid=""
passed=0

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  # A failed run keeps its folder (server files, Wine log) for a look.
  [ "$passed" -eq 0 ] || rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

window_id() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_id "$1")" ]; }
no_window() { [ -z "$(window_id "$1")" ]; }
has_exited() { [ -s "$run/exit-code" ]; }
box_count() { grep -c 'MSGBOX_OnInit' "$run/wine.log" || true; }
logged_box() { grep -qF "MSGBOX_OnInit L\"$1\"" "$run/wine.log"; }
# A moment first, so that the window has painted.
shot() { sleep 0.5 && import -window root "$work/screenshots/$scenario-$1.png"; }

# Clicking a caption activates the window in Wine; input focus alone does not make Alt+F4
# reach it. A third of the way along keeps clear of the system-menu icon and the close box.
activate() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + WIDTH / 3)) $((Y + 8)) click 1
  sleep 0.3
}

# keys KEY...: one key at a time, so that focus changes land before the next key.
keys() { for key in "$@"; do xdotool key "$key" && sleep 0.3; done; }

# expect_box CAPTION TEXT SHOT: the box shows with this caption and text; OK closes it.
expect_box() {
  wait_for 20 has_window "^$1\$" || fail "no message box captioned \"$1\""
  wait_for 5 logged_box "$2" || fail "the box captioned \"$1\" does not say \"$2\""
  shot "$3"
  activate "$(window_id "^$1\$")"
  keys Return
  wait_for 10 no_window "^$1\$" || fail "OK did not close the box captioned \"$1\""
}

start_xvfb 640x480x24 "$run/xvfb.log" || fail "no Xvfb display after 10 tries"

# The server folder: 12 levels, so that a list sorted as text would end with 9, not 12; the
# last entry has 16 digits and fills bytes 404 to 407 as well. "Warrior" lies in bucket 38;
# its file holds 512 bytes of 0xEE, so untouched bytes are easy to tell.
mkdir -p "$server/Dataserver/userdata/38"
[ "$scenario" = no-table ] || printf '%s\r\n' 00000000 0000000A 00000064 000003E8 00002710 \
  000186A0 000F4240 00989680 05F5E100 3B9ACA00 7FFFFFFF 0123456789ABCDEF >"$server/XPHex.txt"
character=$server/Dataserver/userdata/38/Warrior.dat
head -c 512 /dev/zero | tr '\0' '\356' >"$character"

(
  cd "$server"
  code=0
  WINEDEBUG=-all,trace+msgbox "$wine_run" "$exe" >"$run/wine.log" 2>&1 || code=$?
  echo "$code" >"$run/exit-code"
) &

# expect_bytes OFFSET HEX: the character file's bytes at OFFSET are HEX (lower case).
expect_bytes() {
  local found
  found=$(od -An -v -tx1 -j "$1" -N $((${#2} / 2)) "$character" | tr -d ' \n')
  [ "$found" = "$2" ] || fail "Warrior.dat at $1: expected $2, found $found"
}

case "$scenario" in
  change)
    wait_for 120 has_window '^Level Editor$' || fail "the dialog did not open"
    dialog=$(window_id '^Level Editor$')
    shot open
    # No level chosen yet. Focus returns to "&Change" when the box closes, so the one Tab
    # below reaches the name field only if the first focus was on "&Change".
    activate "$dialog"
    keys Return
    wait_for 20 has_window '^Error$' || fail "no level error"
    # The box is owned by the dialog, which takes no click while it is open: here on the right
    # end of "&Change", which the box, centred on the screen as the dialog, leaves uncovered.
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool mousemove $((X + WIDTH - 30)) $((Y + 95)) click 1
    sleep 1
    [ "$(box_count)" = 1 ] || fail "the dialog took a click while its box was open"
    expect_box Error "Error In Getting Level Data!" no-level
    expect_bytes 200 eeee

    # Name, then the last level: End picks the last entry, also with none selected yet, which
    # is "12" when the entries keep the order added. Enter presses the default button.
    activate "$dialog"
    keys Tab
    xdotool type --delay 60 Warrior
    keys Tab End
    shot filled
    keys Return
    expect_box Succeeded "Level Changed" succeeded
    # Level 12 is index 11 at 200 (201 keeps its byte); the low 8 digits little-endian at 332.
    expect_bytes 200 0bee
    expect_bytes 332 efcdab89

    # Escape sends IDCANCEL, which the dialog ignores.
    activate "$dialog"
    keys Escape
    sleep 1.5
    has_window '^Level Editor$' && ! has_exited || fail "Escape closed the dialog"
    [ "$(box_count)" = 2 ] || fail "Escape showed a message box"

    # Alt+F4, with the focus still on the level list since Enter.
    keys alt+F4
    ;;
  no-table)
    # The message shows before the dialog would; the dialog never becomes visible.
    expect_box Error "Can not open file 'XPHex.txt'!" error
    no_window '^Level Editor$' || fail "the dialog showed although the table is missing"
    ;;
  *)
    fail "unknown scenario"
    ;;
esac
wait_for 30 has_exited || fail "the process did not end"
[ "$(cat "$run/exit-code")" = 0 ] || fail "exit code $(cat "$run/exit-code"), not 0"
passed=1
echo "PASS ($scenario)"
