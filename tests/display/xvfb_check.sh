#!/usr/bin/env bash
# A person's check of the display window: opens the real SDL window on a
# virtual X server, paints the test pattern through zel_disp_refresh and
# saves a screenshot of the window titled "Trellow v1.4".
#
#   tests/display/xvfb_check.sh [BUILD_DIR] [OUT.png]
#
# Needs xvfb, x11-apps (xwd), x11-utils (xprop, xdpyinfo) and imagemagick. The screenshot is
# not kept in the tree.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build}
out=${2:-$build/display-check.png}
screen=${XVFB_DISPLAY:-:97}

cmake --build "$build" --target disp_pattern >/dev/null
tmp=$(mktemp -d)
Xvfb "$screen" -screen 0 1280x800x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
for _ in $(seq 50); do
  DISPLAY=$screen xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done

env -u ZEL_DISPLAY DISPLAY="$screen" SDL_VIDEODRIVER=x11 \
  ASAN_OPTIONS=detect_leaks=0 "$build/tests/display/disp_pattern" 30 >"$tmp/app.log" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  grep -q "pattern shown" "$tmp/app.log" && break
  kill -0 "$app_pid" 2>/dev/null || { cat "$tmp/app.log"; exit 1; }
  sleep 0.1
done
grep -q "pattern shown" "$tmp/app.log" || { echo "no pattern"; cat "$tmp/app.log"; exit 1; }

# Found by its title; a fixed size shows as equal minimum and maximum sizes.
DISPLAY=$screen xprop -name "Trellow v1.4" WM_NAME WM_NORMAL_HINTS | grep -E "WM_NAME|minimum size|maximum size"
DISPLAY=$screen xwd -silent -name "Trellow v1.4" >"$tmp/window.xwd"
convert "xwd:$tmp/window.xwd" "png:$out"
echo "window size: $(identify -format '%wx%h' "$out")"
echo "screenshot: $out"
