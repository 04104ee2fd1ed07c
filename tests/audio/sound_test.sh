#!/usr/bin/env bash
# The sound that really comes out: runs the editor in a real window under Xvfb, lets it play
# the built-in theme into ALSA for a few seconds, closes the window and checks that the process
# ends with 0 and that the bytes ALSA received are the bytes xm-render writes for the theme.
#   sound_test.sh native PROGRAM XM_RENDER WORK_DIR WM_CLOSE      the Linux program, PortAudio
#   sound_test.sh wine   PROGRAM XM_RENDER WORK_DIR               the .exe in a fresh Wine prefix
# ALSA's default device is alsa_capture/pcm_capture.c, built here with the host's compiler: it
# plays at the real rate (so the playback thread is paced as on a sound card) and writes what
# it is given to a file.
set -euo pipefail

mode=$1
program=$(realpath "$2")
xm_render=$(realpath "$3")
work=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/xvfb.sh"
play_seconds=5
bytes_per_second=176400

fail() {
  echo "FAIL (sound, $mode): $*" >&2
  exit 1
}

mkdir -p "$work"
run=$(mktemp -d "$work/sound-$mode.XXXXXX")
xvfb_pid=""
program_pid=""
passed=0
cleanup() {
  [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
  [ "$mode" != wine ] || WINEPREFIX="$run/prefix" wineserver -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  [ "$passed" -eq 0 ] || rm -rf "$run"
}
trap cleanup EXIT

# The capture device and a configuration that holds nothing else.
${CC:-cc} -shared -fPIC -DPIC -O2 -Wall -Wextra -Werror -o "$run/libasound_module_pcm_capture.so" \
  "$here/alsa_capture/pcm_capture.c" -lasound || fail "cannot build the ALSA capture plugin"
cat >"$run/asound.conf" <<EOF
pcm_type.capture { lib "$run/libasound_module_pcm_capture.so" }
pcm.!default { type capture file "$run/captured.raw" }
EOF
export ALSA_CONFIG_PATH=$run/asound.conf
: >"$run/captured.raw"

start_xvfb 640x480x24 "$run/xvfb.log" || fail "no Xvfb display after 10 tries"

mkdir -p "$run/server"
cp "$root/examples/server/XPHex.txt" "$run/server/"

if [ "$mode" = wine ]; then
  # A fresh prefix whose wave-out goes to ALSA, and which draws its own captions.
  export WINEPREFIX=$run/prefix WINEDEBUG=-all
  "$root/scripts/wine-run.sh" wineboot --init >/dev/null 2>&1 || fail "wineboot failed"
  "$root/scripts/wine-run.sh" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null 2>&1 ||
    fail "cannot choose Wine's ALSA driver"
  "$root/scripts/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 ||
    fail "cannot set the X11 driver's Decorated value"
  wineserver -w
  launch=("$root/scripts/wine-run.sh" "$program")
  render=("$root/scripts/wine-run.sh" "$xm_render")
else
  launch=("$program")
  render=("$xm_render")
fi

(cd "$run/server" && exec "${launch[@]}" >"$run/program.log" 2>&1) &
program_pid=$!
window_id() { xdotool search --onlyvisible --name '^Level Editor$' 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_id)" ]; }
wait_for 60 has_window || fail "no Level Editor window"
# The music starts before the window shows; a few seconds are heard.
sleep "$play_seconds"

if [ "$mode" = wine ]; then
  # The caption must be clicked for Wine to take Alt+F4 as the window's close.
  eval "$(xdotool getwindowgeometry --shell "$(window_id)")"
  xdotool mousemove $((X + WIDTH / 3)) $((Y + 8)) click 1
  sleep 0.3
  xdotool key alt+F4
else
  "$5" "$(window_id)" || fail "cannot send the close box's message"
fi
exit_code=0
wait "$program_pid" || exit_code=$?
program_pid=""
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code, not 0"

captured=$run/captured.raw
captured_bytes=$(stat -c %s "$captured")

# The render, without its 44-byte header, a second longer than the capture.
"${render[@]}" --seconds $((captured_bytes / bytes_per_second + 2)) "$run/theme.wav" >"$run/render.log" 2>&1 ||
  fail "xm-render failed: $(cat "$run/render.log")"
tail -c +45 "$run/theme.wav" >"$run/rendered.raw"

# first_non_zero FILE: 0-based offset of the file's first byte that is not 0.
first_non_zero() {
  local report
  report=$(cmp "$1" /dev/zero 2>&1 || true)
  [[ "$report" =~ differ:\ byte\ ([0-9]+) ]] || fail "$1 holds nothing but silence"
  echo $((BASH_REMATCH[1] - 1))
}
# Leading silence (the device's first buffer, if any) is skipped: the first sound of the capture
# must be the first sound of the render.
lead=$(($(first_non_zero "$captured") - $(first_non_zero "$run/rendered.raw")))
[ "$lead" -ge 0 ] && [ $((lead % 4)) -eq 0 ] || fail "the capture's first sound is misplaced ($lead bytes)"
[ "$lead" -le "$bytes_per_second" ] || fail "$lead bytes of silence before the music"

# After the lead the capture must equal the render, up to a tail of silence that the device
# may add when it is reset.
tail -c +$((lead + 1)) "$captured" >"$run/heard.raw"
report=$(cmp "$run/heard.raw" "$run/rendered.raw" 2>&1 || true)
heard_bytes=$(stat -c %s "$run/heard.raw")
matched=$heard_bytes
if [[ "$report" =~ differ:\ byte\ ([0-9]+) ]]; then
  matched=$((BASH_REMATCH[1] - 1))
  rest=$(tail -c +$((matched + 1)) "$run/heard.raw" | cmp - /dev/zero 2>&1 || true)
  [[ "$rest" =~ EOF\ on ]] || fail "the capture differs from the render at byte $((lead + matched))"
  [ $((heard_bytes - matched)) -le $((bytes_per_second / 2)) ] ||
    fail "$((heard_bytes - matched)) bytes of silence after the music"
elif [[ ! "$report" =~ EOF\ on\ .*heard.raw ]] && [ -n "$report" ]; then
  fail "the capture outlasts the render: $report"
fi
[ "$matched" -ge $((3 * bytes_per_second)) ] || fail "only $matched bytes match the render"

echo "sound ($mode): $matched bytes ($((matched * 1000 / bytes_per_second)) ms) equal to xm-render after" \
     "$lead bytes of leading silence, $((heard_bytes - matched)) bytes of trailing silence"
passed=1
