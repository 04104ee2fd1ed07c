#!/usr/bin/env bash
# Drives level-editor.exe in a real window under Wine and Xvfb with xdotool; pairs with
# app/win32. Registered by this folder's CMakeLists.txt in the Windows build:
#   window_test.sh prefix PREFIX                  makes the Wine prefix that the scenarios share
#   window_test.sh SCENARIO PREFIX EXE WORK_DIR   runs one scenario: change, alt-f4, no-table
#                                                 or many-levels
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
  # Xvfb runs no window manager, so Wine draws the captions itself: the close box is then
  # part of the window and can be clicked.
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
shot() {
  sleep 0.5
  import -window root "$work/screenshots/$scenario-$1.png"
}

# Clicking a caption activates the window in Wine; input focus alone does not make Alt+F4
# reach it. A third of the way along keeps clear of the system-menu icon and the close box.
activate() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + WIDTH / 3)) $((Y + 8)) click 1
  sleep 0.3
}

# keys KEY...: one key at a time, so that focus changes land before the next key.
keys() {
  local key
  for key in "$@"; do
    xdotool key "$key"
    sleep 0.3
  done
}

# expect_box CAPTION TEXT SHOT: the box shows with this caption and text; OK closes it.
expect_box() {
  wait_for 20 has_window "^$1\$" || fail "no message box captioned \"$1\""
  wait_for 5 logged_box "$2" || fail "the box captioned \"$1\" does not say \"$2\""
  shot "$3"
  activate "$(window_id "^$1\$")"
  keys Return
  wait_for 10 no_window "^$1\$" || fail "OK did not close the box captioned \"$1\""
}

expect_exit_code_0() {
  wait_for 30 has_exited || fail "the process did not end"
  [ "$(cat "$run/exit-code")" = 0 ] || fail "exit code $(cat "$run/exit-code"), not 0"
}

start_xvfb 640x480x24 "$run/xvfb.log" || fail "no Xvfb display after 10 tries"

# The server folder: 12 levels, so that a list sorted as text would end with 9, not 12; the
# last entry has 16 digits and fills bytes 404 to 407 as well.
mkdir -p "$server/Dataserver/userdata/38"
if [ "$scenario" = many-levels ]; then
  # 100 000 levels; level n's entry is n x 16 in 8 digits.
  awk 'BEGIN { for (n = 1; n <= 100000; n++) printf "%08X\r\n", n * 16 }' >"$server/XPHex.txt"
elif [ "$scenario" != no-table ]; then
  for value in 00000000 0000000A 00000064 000003E8 00002710 000186A0 000F4240 00989680 \
               05F5E100 3B9ACA00 7FFFFFFF 0123456789ABCDEF; do
    printf '%s\r\n' "$value"
  done >"$server/XPHex.txt"
fi
# "Warrior" lies in bucket 38. 512 bytes of a pattern, so that any stray write shows.
character=$server/Dataserver/userdata/38/Warrior.dat
for ((i = 0; i < 512; ++i)); do printf "\\x$(printf %02x $(((i * 7 + 3) & 255)))"; done >"$character"
cp "$character" "$run/before.dat"

start_ns=$(date +%s%N)
(
  cd "$server"
  code=0
  WINEDEBUG=-all,trace+msgbox "$wine_run" "$exe" >"$run/wine.log" 2>&1 || code=$?
  echo "$code" >"$run/exit-code"
) &

case "$scenario" in
  change)
    wait_for 120 has_window '^Level Editor$' || fail "the dialog did not open"
    dialog=$(window_id '^Level Editor$')
    shot open
    # No level chosen yet. Focus returns to "&Change" when the box closes, so the one Tab
    # below reaches the name field only if the first focus was on "&Change".
    activate "$dialog"
    keys Return
    expect_box Error "Error In Getting Level Data!" no-level
    cmp -s "$character" "$run/before.dat" || fail "the file changed without a level"

    # Name, then the last level: Down steps through the list and stops at its end, which is
    # "12" when the entries keep the order added. Enter presses the default button.
    activate "$dialog"
    keys Tab
    xdotool type --delay 60 Warrior
    keys Tab
    xdotool key --delay 100 Down Down Down Down Down Down Down Down Down Down Down Down Down Down
    shot filled
    keys Return
    expect_box Succeeded "Level Changed" succeeded
    # Level 12 is index 11 at 200 (201 keeps its byte); the low 8 digits little-endian at 332,
    # the high 8 at 404.
    cp "$run/before.dat" "$run/expected.dat"
    put_bytes() { printf "$2" | dd of="$run/expected.dat" bs=1 seek="$1" conv=notrunc status=none; }
    put_bytes 200 '\x0b'
    put_bytes 332 '\xef\xcd\xab\x89'
    put_bytes 404 '\x67\x45\x23\x01'
    if ! cmp -s "$character" "$run/expected.dat"; then
      cmp -l "$character" "$run/expected.dat" | head -n 20 >&2 || true
      fail "the character file's bytes are not the expected ones (offset, got, expected in octal)"
    fi

    # Escape sends IDCANCEL, which the dialog ignores.
    boxes=$(box_count)
    activate "$dialog"
    keys Escape
    sleep 1.5
    has_window '^Level Editor$' || fail "Escape closed the dialog"
    ! has_exited || fail "Escape ended the process"
    [ "$(box_count)" = "$boxes" ] || fail "Escape showed a message box"

    # The close box sits at the right end of the caption that Wine draws.
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool mousemove $((X + WIDTH - 12)) $((Y + 10)) click 1
    expect_exit_code_0
    ;;
  alt-f4)
    wait_for 120 has_window '^Level Editor$' || fail "the dialog did not open"
    shot open
    activate "$(window_id '^Level Editor$')"
    keys alt+F4
    expect_exit_code_0
    ;;
  many-levels)
    # Start-up with 100 000 CB_ADDSTRING calls: the times to the dialog and to its first
    # answer (the owned level error) are printed.
    wait_for 300 has_window '^Level Editor$' || fail "the dialog did not open within 300 s"
    shown_ns=$(date +%s%N)
    dialog=$(window_id '^Level Editor$')
    activate "$dialog"
    keys Return
    wait_for 60 has_window '^Error$' || fail "no answer to Enter within 60 s"
    answered_ns=$(date +%s%N)
    echo "TIMING (many-levels): dialog shown $(((shown_ns - start_ns) / 1000000)) ms after the" \
      "start, first box $(((answered_ns - start_ns) / 1000000)) ms after the start (polled every 200 ms)"
    expect_box Error "Error In Getting Level Data!" no-level
    # End reaches level 100000, which two bytes cannot hold: refused, the file kept. Wine's list
    # takes the first key with nothing selected to entry 1, so End is pressed twice.
    activate "$dialog"
    keys Tab
    xdotool type --delay 60 Warrior
    keys Tab End End Return
    expect_box Error "Level Too High! A character file holds levels up to 65536." too-high
    cmp -s "$character" "$run/before.dat" || fail "level 100000 changed the file"
    # The focus is back on the list; Home reaches level 1: index 0 at 200, entry 00000010 at
    # 332.
    activate "$dialog"
    keys Home Return
    expect_box Succeeded "Level Changed" succeeded
    cp "$run/before.dat" "$run/expected.dat"
    printf '\x00' | dd of="$run/expected.dat" bs=1 seek=200 conv=notrunc status=none
    printf '\x10\x00\x00\x00' | dd of="$run/expected.dat" bs=1 seek=332 conv=notrunc status=none
    cmp -s "$character" "$run/expected.dat" || fail "level 1 did not write the expected bytes"
    # The close box, as in the change scenario.
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    closing_ns=$(date +%s%N)
    xdotool mousemove $((X + WIDTH - 12)) $((Y + 10)) click 1
    wait_for 120 has_exited || fail "the process did not end within 120 s of the close box"
    echo "TIMING (many-levels): the process ended $((($(date +%s%N) - closing_ns) / 1000000)) ms" \
      "after the close box"
    expect_exit_code_0
    ;;
  no-table)
    # The message shows before the dialog would; the dialog never becomes visible.
    expect_box Error "Can not open file 'XPHex.txt'!" error
    no_window '^Level Editor$' || fail "the dialog showed although the table is missing"
    expect_exit_code_0
    ;;
  *)
    fail "unknown scenario"
    ;;
esac

cmp -s "$character" "$run/before.dat" || [ "$scenario" = change ] || [ "$scenario" = many-levels ] ||
  fail "the file changed"
passed=1
echo "PASS ($scenario)"
