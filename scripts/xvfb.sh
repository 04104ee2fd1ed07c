# Sourced by the tests that drive a real window (tests/window/*/window_test.sh and
# tests/audio/sound_test.sh): a private Xvfb display, and a polling wait.
# Needs Xvfb and xdotool.

# wait_for SECONDS COMMAND...: true as soon as COMMAND succeeds, polled every 0.2 s; false
# once SECONDS have passed.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# start_xvfb GEOMETRY LOG: starts Xvfb with one screen of GEOMETRY (e.g. 640x480x24) on a
# display number of its own, sets xvfb_pid and exports DISPLAY. The number is drawn from
# 200..899: -displayfd would hand out the low numbers that other test runs use, whose servers
# may still be unlinking their sockets as they end. A number whose lock file exists makes
# Xvfb exit, and the next number is tried, up to 10; false, with xvfb_pid empty and the last
# server's output in LOG, when none gave a display. -noreset: by default the server resets
# when its last client leaves, and a program that connects in that moment, just after the
# readiness check has disconnected, cannot open the display.
start_xvfb() {
  local geometry=$1 log=$2 number deadline
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    number=$((200 + RANDOM % 700))
    Xvfb ":$number" -screen 0 "$geometry" -nolisten tcp -noreset >"$log" 2>&1 &
    xvfb_pid=$!
    deadline=$((SECONDS + 20))
    while kill -0 "$xvfb_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
      # The lock file must name our server: not one that another test started on the same
      # number a moment before (ours then exits on the lock).
      if [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$number-lock")" = "$xvfb_pid" ] &&
         DISPLAY=":$number" xdotool getdisplaygeometry >/dev/null 2>&1; then
        export DISPLAY=":$number"
        return 0
      fi
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  return 1
}
