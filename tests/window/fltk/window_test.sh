#!/usr/bin/env bash
# Drives the FLTK level-editor in a real window: each case starts its own Xvfb, a temporary
# server folder (XPHex.txt and Dataserver/userdata/<bucket>/<name>.dat) and the program, then
# types and clicks with xdotool and checks windows, exit codes and the character file's bytes.
#   window_test.sh PROGRAM WM_CLOSE SCREENSHOT_DIR CASE
# WM_CLOSE is le-wm-close, which sends the close box's WM_DELETE_WINDOW (Xvfb has no window
# manager). Each case leaves PNG screenshots in SCREENSHOT_DIR.
set -euo pipefail
export LC_ALL=C

program=$(realpath "$1")
wm_close=$(realpath "$2")
shot_dir=$(realpath -m "$3")
case_name=$4
source "$(dirname "$0")/../../../scripts/xvfb.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/le-window-test.XXXXXX")
server=$work/server
xvfb_pid=""
editor_pid=""

# Ends the program and the server even on failure: a leftover would hold ctest's output pipe.
cleanup() {
  set +e
  kill $editor_pid $xvfb_pid 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 143" TERM INT

fail() {
  echo "FAIL [$case_name]: $*" >&2
  [ -n "$xvfb_pid" ] && shot failure
  [ -s "$work/editor.log" ] && { echo "--- program output:" >&2; cat "$work/editor.log" >&2; }
  exit 1
}

start() {
  start_xvfb 1024x768x24 "$work/xvfb.log" || fail "no Xvfb display after 10 tries"
  (cd "$server" && exec "$program") >"$work/editor.log" 2>&1 &
  editor_pid=$!
}

ended() { ! kill -0 "$editor_pid" 2>/dev/null; }

# Not in a subshell: only this shell can wait for its child.
expect_exit() {
  local code=0
  wait_for 15 ended || fail "the program did not end $1"
  wait "$editor_pid" || code=$?
  editor_pid=""
  [ "$code" -eq 0 ] || fail "exit code $code $1"
}

count_windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -c . || true; }
has_windows() { [ "$(count_windows "$1")" -ge "${2:-1}" ]; }
no_window() { [ "$(count_windows "$1")" -eq 0 ]; }

# Waits until at least count (default 1) visible windows match; prints the newest one's id.
wait_window() {
  wait_for 15 has_windows "$@" || fail "no window named /$1/"
  xdotool search --onlyvisible --name "$1" | tail -n 1
}

wait_no_window() { wait_for 15 no_window "$1" || fail "window /$1/ still open"; }

# After a second, exactly count windows match.
expect_window_count() {
  sleep 1
  [ "$(count_windows "$1")" -eq "$2" ] || fail "not $2 window(s) named /$1/: $3"
}

# --sync waits for the X server to confirm, which a window that went away never does.
focus() { timeout 15 xdotool windowfocus --sync "$1" || fail "could not focus window $1"; }
move() { timeout 15 xdotool windowmove --sync "$1" "$2" "$3" || fail "could not move window $1"; }
keys() { xdotool key --delay 40 "$@"; }
click_in() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
shot() { import -window root "$shot_dir/$case_name-$1.png"; }

# press_ok CAPTION [SHOT]: OK (Enter) on the box named CAPTION, which must then close.
press_ok() {
  focus "$(wait_window "$1")"
  [ -z "${2:-}" ] || shot "$2"
  keys Return
  wait_no_window "$1"
}

# make_char_file BUCKET NAME: 512 bytes of 0xEE, so untouched bytes are easy to tell. The
# bucket is the sum of the name's bytes, a-z counted as A-Z, modulo 256.
make_char_file() {
  mkdir -p "$server/Dataserver/userdata/$1"
  head -c 512 /dev/zero | tr '\0' '\356' >"$server/Dataserver/userdata/$1/$2.dat"
}

# Twelve levels, so that a list sorted as text would end with 9, not 12.
make_table() {
  mkdir -p "$server"
  printf '%s\r\n' 0000000A 00000064 000003E8 00002710 000186A0 000F4240 00989680 05F5E100 \
    3B9ACA00 00000001 00000002 0123456789ABCDEF >"$server/XPHex.txt"
}

# expect_bytes FILE OFFSET HEX: the bytes at OFFSET are HEX (lower case, no spaces).
expect_bytes() {
  local found
  found=$(od -An -v -tx1 -j "$2" -N $((${#3} / 2)) "$1" | tr -d ' \n')
  [ "$found" = "$3" ] || fail "$(basename "$1") at $2: expected $3, found $found"
}

# Keyboard only: the first focus is on "&Change", Tab order name then list, Escape keeps the
# dialog, Enter changes, the close box ends with 0.
case_keyboard() {
  make_table
  make_char_file 196 Hero123
  start
  local dialog file=$server/Dataserver/userdata/196/Hero123.dat
  dialog=$(wait_window '^Level Editor$')
  shot dialog
  # Centred in the 1024 x 768 screen (no window manager, so no frame): (1024 - 243) / 2 and
  # (768 - 101) / 2.
  [[ $(xdotool getwindowgeometry "$dialog") == *"Position: 390,333"* ]] || fail "dialog not centred"
  [[ $(xprop -id "$dialog" _NET_WM_ICON) == *"Icon (32 x 32)"* ]] || fail "no 32 x 32 window icon"
  focus "$dialog"

  # Space presses the focused control: the button, so the level error shows, not a typed space.
  keys space
  press_ok '^Error$' no-level
  focus "$dialog"
  keys Escape
  expect_window_count '^Level Editor$' 1 "Escape closed the dialog"

  # From the button, Tab reaches the name, then the list; End picks the last level, 12.
  keys Tab
  xdotool type --delay 40 Hero123
  keys Tab End
  shot filled
  keys Return
  press_ok '^Succeeded$' succeeded
  expect_bytes "$file" 200 0bee  # levelIndex 11; 201 keeps its byte

  # A typed character picks the next entry starting with it, round the end: from 12, "1" gives
  # 1 and "1" again 10.
  focus "$dialog"
  keys 1 1 Return
  press_ok '^Succeeded$'
  expect_bytes "$file" 200 09ee
  # A page moves 4 entries: from 1, PgDn PgDn PgUp gives 5.
  focus "$dialog"
  keys Home Next Next Prior Return
  press_ok '^Succeeded$'
  expect_bytes "$file" 200 04ee
  # F4 and Alt+Down drop the list, where Down and Enter pick the next entry: 7.
  focus "$dialog"
  keys F4 Down Return alt+Down Down Return Return
  press_ok '^Succeeded$'
  expect_bytes "$file" 200 06ee

  "$wm_close" "$dialog"
  expect_exit "after the close box"
}

# Mouse and Alt+C: a 120-character name goes on as its first 98; Enter in the open list picks
# an entry and does not press the button; Alt+F4 ends with 0.
case_mouse() {
  local long="" i dialog
  for i in $(seq 12); do long+="abcdefghij"; done
  make_table
  make_char_file 147 "${long:0:98}"
  make_char_file 148 "$long"
  start
  dialog=$(wait_window '^Level Editor$')
  focus "$dialog"

  click_in "$dialog" 150 22  # the name field
  xdotool type --delay 5 "$long"
  click_in "$dialog" 150 48  # the level list drops down
  sleep 0.5
  shot list-open
  keys Down Down Return  # 1, then 2: picks 2
  expect_window_count '^Succeeded$' 0 "Enter in the open list pressed the button"

  keys alt+c
  press_ok '^Succeeded$'
  expect_bytes "$server/Dataserver/userdata/147/${long:0:98}.dat" 200 01
  expect_bytes "$server/Dataserver/userdata/148/$long.dat" 200 ee

  focus "$dialog"
  keys alt+F4
  expect_exit "after Alt+F4"
}

# The level error is owned by the dialog, which takes no input while it is open; the file
# error has no owner, so the dialog goes on working and a second one can open.
case_boxes() {
  make_table
  start
  local dialog box
  dialog=$(wait_window '^Level Editor$')
  move "$dialog" 0 0
  focus "$dialog"

  keys Return
  box=$(wait_window '^Error$')
  move "$box" 400 300
  click_in "$dialog" 195 74  # "&Change"
  expect_window_count '^Error$' 1 "the dialog took a click while its box was open"
  "$wm_close" "$dialog"
  expect_window_count '^Level Editor$' 1 "the dialog closed while its box was open"
  shot owned
  # Keys typed at the dialog go to its box, even with the mouse on "&Change": Enter presses
  # the box's OK and not the button under it, Alt+F4 closes the box and not the dialog.
  focus "$dialog"
  keys Return
  expect_window_count '^Error$' 0 "Enter at the dialog did not end its box, or pressed the button"
  focus "$dialog"
  keys Return
  wait_window '^Error$' >/dev/null
  focus "$dialog"
  keys alt+F4
  wait_no_window '^Error$'
  expect_window_count '^Level Editor$' 1 "Alt+F4 under the box closed the dialog"

  # No such character: the box is captioned with the path and owned by nobody.
  focus "$dialog"
  click_in "$dialog" 150 22
  xdotool type --delay 40 Nobody
  # Enter from the name field presses the default button too.
  keys Tab Home shift+Tab Return
  local path_caption='^Dataserver/userdata/[0-9]+/Nobody\.dat$'
  box=$(wait_window "$path_caption")
  move "$box" 400 300
  click_in "$dialog" 195 74
  wait_window "$path_caption" 2 >/dev/null
  shot unowned
  focus "$box"
  keys Return
  expect_window_count "$path_caption" 1 "OK did not close exactly its own box"

  # Closing the dialog under an unowned box ends it; the box stays until OK, then the
  # program ends.
  "$wm_close" "$dialog"
  wait_no_window '^Level Editor$'
  expect_window_count "$path_caption" 1 "the box went with the dialog"
  press_ok "$path_caption"
  expect_exit "after the close box and the last OK"
}

# No XPHex.txt: its error shows with no dialog, and Escape ends the program with 0.
case_no_table() {
  mkdir -p "$server"
  start
  focus "$(wait_window '^Error$')"
  shot no-table
  no_window '^Level Editor$' || fail "the dialog showed without a table"
  keys Escape
  expect_exit "after the table error"
}

# No display: a clear message on stderr and the exit code 0 of every other path, not a crash.
case_no_display() {
  mkdir -p "$server"
  local code=0
  (cd "$server" && env -u DISPLAY "$program") >"$work/stdout.log" 2>"$work/editor.log" || code=$?
  [ "$code" -eq 0 ] || fail "exit code $code without a display"
  grep -q 'no display' "$work/editor.log" || fail "no 'no display' message on stderr"
}

mkdir -p "$shot_dir"
"case_$case_name"
echo "PASS [$case_name]"
