#!/usr/bin/env bash
# A person's check of the product: on a virtual X server, the program opens
# its window titled "Trellow v1.4" and shows the main screen, once with
# "cfg.bin" holding 1 (Chinese) and once holding 0 (English). The window
# must be 900x560 and not blank. The screenshots stay in the output folder:
# trellow_main_zh.png and trellow_main_en.png.
#
#   trellow_xvfb.sh PROGRAM OUT_DIR
#
# Exits 77 (skipped) without Xvfb. Needs xwd (x11-apps) and imagemagick.
set -uo pipefail
prog=$1
out=$2
title="Trellow v1.4"

app_log_lines=40
. "$(dirname "$0")/../support/xvfb_session.sh"

# Runs the program in a folder of its own whose cfg.bin holds byte $1 and
# keeps the window as $2 once two screenshots a second apart agree (the
# first adapter poll has then rewritten the status line).
shot() {
  local byte=$1 png=$2 work="$tmp/run$1" prev=
  mkdir -p "$work"
  printf "\\x$byte" >"$work/cfg.bin"
  (cd "$work" && exec env -u ZEL_DISPLAY SDL_VIDEODRIVER=x11 ASAN_OPTIONS=detect_leaks=0 \
     timeout 150 "$prog" >"$tmp/app.log" 2>&1) &
  app_pid=$!
  for _ in $(seq 120); do
    sleep 1
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended"
    xwd -silent -name "$title" >"$tmp/window.xwd" 2>/dev/null || continue
    convert "xwd:$tmp/window.xwd" "png:$tmp/now.png" 2>/dev/null || continue
    if [ -n "$prev" ] && [ "$(compare -metric AE "$tmp/now.png" "$prev" null: 2>&1)" = "0" ]; then break; fi
    cp "$tmp/now.png" "$tmp/prev.png"
    prev="$tmp/prev.png"
  done
  [ -f "$tmp/now.png" ] || fail "no window titled $title"
  cp "$tmp/now.png" "$png"
  stop_app
  local size colours
  size=$(identify -format '%wx%h' "$png")
  colours=$(identify -format '%k' "$png")
  echo "$(basename "$png"): ${size}, ${colours} colours"
  [ "$size" = "900x560" ] || fail "the window is $size, not 900x560"
  [ "$colours" -gt 16 ] || fail "$png is blank or nearly so ($colours colours)"
  rm -f "$tmp/now.png" "$tmp/prev.png"
}

shot 01 "$out/trellow_main_zh.png"
shot 00 "$out/trellow_main_en.png"
echo "screenshots: $out/trellow_main_zh.png $out/trellow_main_en.png"
