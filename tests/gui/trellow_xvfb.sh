#!/usr/bin/env bash
# A person's check of the product: on a virtual X server, the program opens
# its window titled "Trellow v1.4" and shows the main screen, once with
# "cfg.bin" holding 1 (Chinese) and once holding 0 (English). The window
# must be 900x560, not blank, and show the main screen's buttons where they
# belong: the language button of the other language enabled (the buttons'
# blue), its own one disabled, the job buttons disabled (no adapter), the
# status line written. Then a click on "中文" in the English window must
# turn it into exactly what the program started in Chinese shows, and store
# the choice in cfg.bin. The screenshots stay in the output folder:
# trellow_main_zh.png, trellow_main_en.png and trellow_switched_zh.png.
#
#   trellow_xvfb.sh PROGRAM OUT_DIR X_CLICK
#
# Exits 77 (skipped) without Xvfb. Needs xwd (x11-apps) and imagemagick;
# X_CLICK is the test tool that clicks through XTest.
set -uo pipefail
prog=$1
out=$2
x_click=${3:-}
title="Trellow v1.4"

app_log_lines=40
. "$(dirname "$0")/../support/xvfb_session.sh"
[ -n "$x_click" ] && [ -x "$x_click" ] || fail "no x_click tool (libX11 development files missing at build time)"

# The toolkit's colours of the main screen (RGB565 widened as the window
# shows them).
enabled=409CF8
disabled=A0CCF8
background=F8FCF8

# Starts the program in a folder of its own whose cfg.bin holds byte $1.
start() {
  work="$tmp/run$1"
  mkdir -p "$work"
  printf "\\x$1" >"$work/cfg.bin"
  (cd "$work" && exec env -u ZEL_DISPLAY SDL_VIDEODRIVER=x11 ASAN_OPTIONS=detect_leaks=0 \
     timeout 150 "$prog" >"$tmp/app.log" 2>&1) &
  app_pid=$!
}

# Keeps the window as $1 once two screenshots a second apart agree (the
# first adapter poll has then rewritten the status line).
settle() {
  local png=$1 prev=
  rm -f "$tmp/now.png" "$tmp/prev.png"
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
  local size colours
  size=$(identify -format '%wx%h' "$png")
  colours=$(identify -format '%k' "$png")
  echo "$(basename "$png"): ${size}, ${colours} colours"
  [ "$size" = "900x560" ] || fail "the window is $size, not 900x560"
  [ "$colours" -gt 16 ] || fail "$png is blank or nearly so ($colours colours)"
}

pixel() { convert "$1" -format "%[hex:u.p{$2,$3}]" info:; }

# expect PNG X Y COLOUR WHAT
expect() {
  local got
  got=$(pixel "$1" "$2" "$3")
  [ "$got" = "$4" ] || fail "$(basename "$1"): $5 at ($2, $3) is $got, not $4"
}

# The status line (centred at the top) holds text: many colours in its box.
expect_status_text() {
  local colours
  colours=$(convert "$1" -crop 300x25+300+33 +repage -format '%k' info:)
  [ "$colours" -gt 4 ] || fail "$(basename "$1"): no status text ($colours colours)"
}

start 01
settle "$out/trellow_main_zh.png"
stop_app
zh="$out/trellow_main_zh.png"
expect "$zh" 450 10 "$background" "the background"
expect "$zh" 375 429 "$disabled" "the disabled 中文 button"
expect "$zh" 525 429 "$enabled" "the enabled English button"
expect "$zh" 280 186 "$disabled" "the disabled job button"
expect_status_text "$zh"

start 00
en="$out/trellow_main_en.png"
settle "$en"
expect "$en" 450 10 "$background" "the background"
expect "$en" 375 448 "$enabled" "the enabled 中文 button"
expect "$en" 525 448 "$disabled" "the disabled English button"
expect "$en" 280 205 "$disabled" "the disabled job button"
expect_status_text "$en"

# A click on 中文 (in the English layout, whose hint takes two lines) gives
# the Chinese main screen.
"$x_click" "$title" 408 459 || fail "the click could not be sent"
switched="$out/trellow_switched_zh.png"
diff=
for _ in $(seq 60); do
  sleep 1
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended"
  xwd -silent -name "$title" >"$tmp/window.xwd" 2>/dev/null || continue
  convert "xwd:$tmp/window.xwd" "png:$switched" 2>/dev/null || continue
  diff=$(compare -metric AE "$switched" "$zh" null: 2>&1)
  [ "$diff" = "0" ] && break
done
echo "$(basename "$switched"): ${diff:-?} pixels differ from the window started in Chinese"
[ "$diff" = "0" ] || fail "after the click the window differs from the Chinese main screen ($diff pixels)"
[ "$(od -An -tx1 "$tmp/run00/cfg.bin" | tr -d ' \n')" = "01" ] || fail "cfg.bin does not hold the choice of Chinese"
stop_app
echo "screenshots: $zh $en $switched"
