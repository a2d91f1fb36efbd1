#!/usr/bin/env bash
# A person's check of the GUI: on a virtual X server, the real window shows the
# toolkit's demo screen of every widget. Each frame the demo draws is captured
# from the window titled "Trellow v1.4" and must not be blank and must equal
# the frame the toolkit drew. The screenshots stay in the output folder:
# gui_check.png (the widgets) and gui_check_msgbox.png (a message box over them).
#
#   gui_check.sh PROGRAM OUT_DIR
#
# Exits 77 (skipped) without Xvfb. Needs xwd (x11-apps) and imagemagick.
set -uo pipefail
prog=$1
out=$2
title="Trellow v1.4"

rm -f "$out"/*.taken
. "$(dirname "$0")/../support/xvfb_session.sh"

env -u ZEL_DISPLAY SDL_VIDEODRIVER=x11 ASAN_OPTIONS=detect_leaks=0 \
  timeout 100 "$prog" --await-shots 20 >"$tmp/app.log" 2>&1 &
app_pid=$!

# Takes a screenshot of the window into $1 (PNG) and compares it with the
# frame $2 (PPM); retried while the window may not have caught up yet.
shoot() {
  local png=$1 ref=$2 diff=
  for _ in $(seq 20); do
    if xwd -silent -name "$title" >"$tmp/window.xwd" 2>/dev/null \
        && convert "xwd:$tmp/window.xwd" "png:$png" 2>/dev/null; then
      diff=$(compare -metric AE "$png" "$ref" null: 2>&1)
      [ "$diff" = "0" ] && break
    fi
    sleep 0.2
  done
  [ -f "$png" ] || fail "no screenshot of the window"
  local size colours
  size=$(identify -format '%wx%h' "$png")
  colours=$(identify -format '%k' "$png")
  echo "$(basename "$png"): ${size}, ${colours} colours, ${diff:-?} pixels differ from the drawn frame"
  [ "$size" = "900x560" ] || fail "the window is $size, not 900x560"
  # Not blank: many pixels differ from the background (text, borders, bars).
  [ "$colours" -gt 16 ] || fail "$png is blank or nearly so ($colours colours)"
  [ "$diff" = "0" ] || fail "$png differs from the frame the toolkit drew ($diff pixels)"
}

shots=0
seen=
for _ in $(seq 900); do
  kill -0 "$app_pid" 2>/dev/null || break
  while read -r word path; do
    [ "$word" = shown ] || continue
    case " $seen " in *" $path "*) continue ;; esac
    seen="$seen $path"
    case "$path" in
      *msgbox*) shoot "$out/gui_check_msgbox.png" "$path" ;;
      *) shoot "$out/gui_check.png" "$path" ;;
    esac
    shots=$((shots + 1))
    touch "$path.taken"
  done <"$tmp/app.log"
  grep -q "^demo " "$tmp/app.log" && break
  sleep 0.1
done
grep -q "^demo passed" "$tmp/app.log" || fail "the demo did not pass"
[ "$shots" -eq 2 ] || fail "expected two frames, saw $shots"
rm -f "$out"/*.taken
echo "screenshots: $out/gui_check.png $out/gui_check_msgbox.png"
