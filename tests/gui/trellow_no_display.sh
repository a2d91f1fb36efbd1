#!/usr/bin/env bash
# The product where no window can be shown: without a desktop, and with a
# display (or the X11 driver asked for) that no X server serves, it must end
# at once with a non-zero status and one line on the
# standard error stream that says so, instead of running on unseen. So must
# it when its window never comes up: a window system that never answers the
# window's first paint (the in-memory window holding it, with the GUI's wait
# for it made short, ZEL_TEST_FIRST_PAINT_HELD).
#
#   trellow_no_display.sh PROGRAM
set -uo pipefail
prog=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0

# A display number no X server serves.
free=90
while [ -e "/tmp/.X11-unix/X$free" ] || [ -e "/tmp/.X$free-lock" ]; do free=$((free + 1)); done

no_window="no window can be shown: .*ZEL_DISPLAY=memory"
check() {
  local name=$1 line=$2
  shift 2
  (cd "$tmp" && exec env -u ZEL_DISPLAY -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY "$@" \
     ASAN_OPTIONS=detect_leaks=0 timeout 60 "$prog" >"$tmp/out" 2>"$tmp/err")
  local rc=$?
  echo "$name: status $rc: $(cat "$tmp/err")"
  if [ "$rc" -eq 124 ]; then
    echo "FAIL $name: still running after 60 seconds"
    status=1
    return
  fi
  [ "$rc" -ne 0 ] || { echo "FAIL $name: it ended with status 0"; status=1; }
  if [ "$(wc -l <"$tmp/err")" -ne 1 ] || ! grep -q "$line" "$tmp/err"; then
    echo "FAIL $name: expected one line saying: $line"
    status=1
  fi
}

check "no desktop" "$no_window"
check "x11 without a server" "$no_window" SDL_VIDEODRIVER=x11 DISPLAY=":$free"
check "a display without a server" "$no_window" DISPLAY=":$free"
check "a window system that never answers" \
  "^trellow: cannot start: the window did not come up: the window system did not answer within 200 ms\$" \
  ZEL_DISPLAY=memory ZEL_TEST_FIRST_PAINT_HELD=200
exit $status
