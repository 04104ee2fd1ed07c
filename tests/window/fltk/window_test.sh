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

# Seconds to wait for a window, a box or an exit before the case fails.
TIMEOUT=15
# Seconds during which something must NOT happen (a window must stay, no box may appear).
QUIET=1

work=$(mktemp -d "${TMPDIR:-/tmp}/le-window-test.XXXXXX")
server=$work/server
xvfb_pid=""
editor_pid=""

# Ends the program and the server even on failure: a leftover would hold ctest's output pipe.
cleanup() {
  set +e
  local pid
  for pid in $editor_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
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

# --- Display and program --------------------------------------------------------------------

start_display() {
  start_xvfb 1024x768x24 "$work/xvfb.log" && return
  cat "$work/xvfb.log" >&2
  fail "no Xvfb display after 10 tries"
}

start_editor() {
  (cd "$server" && exec "$program") >"$work/editor.log" 2>&1 &
  editor_pid=$!
}

# Waits for the program to end and checks its exit code. Not in a subshell: only this shell
# can wait for its child.
expect_exit() {
  local expected=$1 why=$2 deadline=$((SECONDS + TIMEOUT)) code=0
  while kill -0 "$editor_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "the program did not end within ${TIMEOUT}s $why"
    sleep 0.1
  done
  wait "$editor_pid" || code=$?
  editor_pid=""
  [ "$code" -eq "$expected" ] || fail "exit code $code $why"
}

expect_running() {
  kill -0 "$editor_pid" 2>/dev/null || fail "the program ended: $*"
}

# --- Windows ----------------------------------------------------------------------------------

# Ids of the visible windows whose name matches the regex.
windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }

count_windows() { windows_named "$1" | grep -c . || true; }

# Waits until at least count (default 1) visible windows match; prints the newest one's id.
wait_window() {
  local regex=$1 count=${2:-1} deadline=$((SECONDS + TIMEOUT))
  while [ "$(count_windows "$regex")" -lt "$count" ]; do
    [ $SECONDS -lt $deadline ] || fail "no window named /$regex/ within ${TIMEOUT}s"
    expect_running "while waiting for /$regex/"
    sleep 0.1
  done
  windows_named "$regex" | tail -n 1
}

wait_no_window() {
  local deadline=$((SECONDS + TIMEOUT))
  while [ "$(count_windows "$1")" -gt 0 ]; do
    [ $SECONDS -lt $deadline ] || fail "window /$1/ still open after ${TIMEOUT}s"
    sleep 0.1
  done
}

# After QUIET seconds, exactly count windows match.
expect_window_count() {
  sleep "$QUIET"
  local found
  found=$(count_windows "$1")
  [ "$found" -eq "$2" ] || fail "expected $2 window(s) named /$1/, found $found: $3"
}

# --sync waits for the X server to confirm, which a window that went away never does.
focus() { timeout "$TIMEOUT" xdotool windowfocus --sync "$1" || fail "could not focus window $1"; }

move() { timeout "$TIMEOUT" xdotool windowmove --sync "$1" "$2" "$3" || fail "could not move window $1"; }

keys() { xdotool key --delay 40 "$@"; }

# Clicks at x, y inside window.
click_in() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

close_box() { "$wm_close" "$1"; }

shot() { import -window root "$shot_dir/$case_name-$1.png"; }

# --- Server folder ---------------------------------------------------------------------------

# The name's bucket: the sum of its bytes with a-z counted as A-Z, modulo 256.
bucket() {
  local name=$1 sum=0 i code
  for ((i = 0; i < ${#name}; i++)); do
    printf -v code '%d' "'${name:i:1}"
    if [ "$code" -ge 97 ] && [ "$code" -le 122 ]; then code=$((code - 32)); fi
    sum=$(((sum + code) % 256))
  done
  echo "$sum"
}

char_file() { echo "$server/Dataserver/userdata/$(bucket "$1")/$1.dat"; }

# A character file of 512 bytes of 0xEE, so untouched bytes are easy to tell.
make_char_file() {
  local file
  file=$(char_file "$1")
  mkdir -p "$(dirname "$file")"
  head -c 512 /dev/zero | tr '\0' '\356' >"$file"
}

# XPHex.txt with the given entries, one per CR LF line.
make_table() {
  mkdir -p "$server"
  printf '%s\r\n' "$@" >"$server/XPHex.txt"
}

# Twelve levels; the last has 16 digits, so it also fills 404..407.
TABLE=(0000000A 00000064 000003E8 00002710 000186A0 000F4240 00989680 05F5E100
  3B9ACA00 00000001 00000002 0123456789ABCDEF)

# expect_bytes FILE OFFSET HEX: the bytes at OFFSET are HEX (lower case, no spaces).
expect_bytes() {
  local count=$((${#3} / 2)) found
  found=$(od -An -v -tx1 -j "$2" -N "$count" "$1" | tr -d ' \n')
  [ "$found" = "$3" ] || fail "$(basename "$1") at $2: expected $3, found $found"
}

# --- Cases -----------------------------------------------------------------------------------

# Keyboard only: the first focus is on "&Change", Tab order name then list, Escape keeps the
# dialog, Enter changes, the close box ends with 0.
case_keyboard() {
  make_table "${TABLE[@]}"
  make_char_file Hero123
  start_display
  start_editor
  local dialog
  dialog=$(wait_window '^Level Editor$')
  shot dialog
  # Centred in the 1024 x 768 screen (no window manager, so no frame): (1024 - 243) / 2 and
  # (768 - 101) / 2.
  local geometry
  geometry=$(xdotool getwindowgeometry "$dialog")
  [[ $geometry == *"Position: 390,333"* ]] || fail "dialog not centred: $geometry"
  # The icon reaches the window manager as a 32 x 32 image.
  [[ $(xprop -id "$dialog" _NET_WM_ICON) == *"Icon (32 x 32)"* ]] ||
    fail "no 32 x 32 window icon"
  focus "$dialog"

  # Space presses the focused control: the button, so the level error shows, not a typed space.
  keys space
  local box
  box=$(wait_window '^Error$')
  shot no-level
  focus "$box"
  keys Return
  wait_no_window '^Error$'

  focus "$dialog"
  keys Escape
  expect_window_count '^Level Editor$' 1 "Escape closed the dialog"
  expect_running "after Escape"

  # From the button, Tab reaches the name, then the list; End picks the last level, 12.
  keys Tab
  xdotool type --delay 40 Hero123
  keys Tab End
  shot filled
  keys Return
  box=$(wait_window '^Succeeded$')
  shot succeeded
  local file
  file=$(char_file Hero123)
  expect_bytes "$file" 198 eeee0bee  # levelIndex 11 at 200; 201 keeps its byte
  expect_bytes "$file" 330 eeeeefcdab89eeee
  expect_bytes "$file" 402 eeee67452301eeee
  focus "$box"
  keys Return
  wait_no_window '^Succeeded$'

  # A typed character picks the next entry starting with it, round the end: from 12, "1" gives
  # 1 and "1" again 10.
  focus "$dialog"
  keys 1 1 Return
  box=$(wait_window '^Succeeded$')
  expect_bytes "$file" 200 09ee
  expect_bytes "$file" 332 01000000
  expect_bytes "$file" 404 67452301  # kept from level 12
  focus "$box"
  keys Return
  wait_no_window '^Succeeded$'

  close_box "$dialog"
  expect_exit 0 "after the close box"
}

# Mouse and Alt+C: a 120-character name goes on as its first 98; Enter in the open list picks
# an entry and does not press the button; Alt+F4 ends with 0.
case_mouse() {
  local long="" i
  for i in $(seq 12); do long+="abcdefghij"; done
  local used=${long:0:98}
  make_table "${TABLE[@]}"
  make_char_file "$used"
  make_char_file "$long"
  start_display
  start_editor
  local dialog
  dialog=$(wait_window '^Level Editor$')
  focus "$dialog"

  click_in "$dialog" 150 22  # the name field
  xdotool type --delay 5 "$long"
  click_in "$dialog" 150 48  # the level list drops down
  sleep 0.5
  shot list-open
  keys Down Down Return  # 1, then 2: picks 2
  expect_window_count '^Succeeded$' 0 "Enter in the open list pressed the button"
  shot level-picked

  keys alt+c
  local box
  box=$(wait_window '^Succeeded$')
  expect_bytes "$(char_file "$used")" 200 01
  expect_bytes "$(char_file "$used")" 332 64000000
  expect_bytes "$(char_file "$long")" 200 ee
  focus "$box"
  keys Return
  wait_no_window '^Succeeded$'

  focus "$dialog"
  keys alt+F4
  expect_exit 0 "after Alt+F4"
}

# The level error is owned by the dialog, which takes no input while it is open; the file
# error has no owner, so the dialog goes on working and a second one can open.
case_boxes() {
  make_table "${TABLE[@]}"
  start_display
  start_editor
  local dialog
  dialog=$(wait_window '^Level Editor$')
  move "$dialog" 0 0
  focus "$dialog"

  keys Return
  local box
  box=$(wait_window '^Error$')
  move "$box" 400 300
  click_in "$dialog" 195 74  # "&Change"
  expect_window_count '^Error$' 1 "the dialog took a click while its box was open"
  close_box "$dialog"
  expect_window_count '^Level Editor$' 1 "the dialog closed while its box was open"
  expect_running "after closing the dialog under its box"
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
  close_box "$dialog"
  wait_no_window '^Level Editor$'
  expect_window_count "$path_caption" 1 "the box went with the dialog"
  expect_running "while the last box is open"
  box=$(windows_named "$path_caption")
  focus "$box"
  keys Return
  expect_exit 0 "after the close box and the last OK"
}

# No XPHex.txt: its error shows with no dialog, and OK ends the program with 0.
case_no_table() {
  mkdir -p "$server"
  start_display
  start_editor
  local box
  box=$(wait_window '^Error$')
  shot no-table
  [ "$(count_windows '^Level Editor$')" -eq 0 ] || fail "the dialog showed without a table"
  focus "$box"
  keys Escape
  expect_exit 0 "after the table error"
}

# A table with no entries: an empty list that keys cannot break, and the level error.
case_empty_table() {
  make_table  # one empty CR LF line
  start_display
  start_editor
  local dialog box
  dialog=$(wait_window '^Level Editor$')
  focus "$dialog"
  keys Tab Tab Down End 1 Up Return
  box=$(wait_window '^Error$')
  focus "$box"
  keys Return
  wait_no_window '^Error$'
  close_box "$dialog"
  expect_exit 0 "after the close box"
}

# 100 000 levels: the dialog shows and answers its first key in seconds, the list's last entry
# is 100000, which two bytes of the file cannot hold (an unowned "Error" box, the file kept),
# and its first is 1. Prints the times from the start to the dialog and to its first answer.
case_many_levels() {
  mkdir -p "$server"
  awk 'BEGIN { for (n = 1; n <= 100000; n++) printf "%08X\r\n", n * 16 }' >"$server/XPHex.txt"
  make_char_file Hero123
  local file
  file=$(char_file Hero123)
  cp "$file" "$work/before.dat"
  start_display
  local start shown answered dialog box
  start=$(date +%s%N)
  start_editor
  dialog=$(wait_window '^Level Editor$')
  shown=$(date +%s%N)
  focus "$dialog"
  keys Return  # no level chosen yet
  box=$(wait_window '^Error$')
  answered=$(date +%s%N)
  echo "TIMING [many_levels]: dialog shown $(((shown - start) / 1000000)) ms after the start," \
    "first box $(((answered - start) / 1000000)) ms after the start (polled every 100 ms)"
  focus "$box"
  keys Return
  wait_no_window '^Error$'

  focus "$dialog"
  keys Tab
  xdotool type --delay 40 Hero123
  keys Tab End Return
  box=$(wait_window '^Error$')
  shot last-level
  cmp -s "$file" "$work/before.dat" || fail "level 100000 changed the file"
  # Unowned: the dialog still takes a click on "&Change", which opens a second box.
  move "$box" 400 300
  click_in "$dialog" 195 74
  wait_window '^Error$' 2 >/dev/null
  local id
  for id in $(windows_named '^Error$'); do
    focus "$id"
    keys Return
  done
  wait_no_window '^Error$'

  # The list drops down (FLTK's menu: an unnamed window thousands of pixels high) and Escape
  # closes it; then level 1 is written.
  focus "$dialog"
  local deadline=$((SECONDS + TIMEOUT)) opened
  start=$(date +%s%N)
  click_in "$dialog" 150 48
  until xwininfo -root -children | grep -q 'has no name.*x[0-9]\{4,\}+'; do
    [ $SECONDS -lt $deadline ] || fail "the list did not drop down within ${TIMEOUT}s"
    sleep 0.05
  done
  opened=$(date +%s%N)
  echo "TIMING [many_levels]: the list dropped down in $(((opened - start) / 1000000)) ms"
  shot list-open
  keys Escape
  while xwininfo -root -children | grep -q 'has no name.*x[0-9]\{4,\}+'; do
    [ $SECONDS -lt $deadline ] || fail "Escape did not close the list within ${TIMEOUT}s"
    sleep 0.05
  done
  focus "$dialog"
  keys Home Return
  box=$(wait_window '^Succeeded$')
  expect_bytes "$file" 200 00ee
  expect_bytes "$file" 332 10000000
  focus "$box"
  keys Return
  wait_no_window '^Succeeded$'
  close_box "$dialog"
  expect_exit 0 "after the close box"
}

# No display: a clear message and a non-zero exit, not a crash.
case_no_display() {
  mkdir -p "$server"
  local code=0
  (cd "$server" && env -u DISPLAY "$program") >"$work/editor.log" 2>&1 || code=$?
  [ "$code" -ne 0 ] || fail "exit code 0 without a display"
  grep -q 'no display' "$work/editor.log" || fail "no 'no display' message: $(cat "$work/editor.log")"
}

mkdir -p "$shot_dir"
"case_$case_name"
echo "PASS [$case_name]"
